"""Benchmark: a project of generated wells loaded from files, saved and opened.

Writes 200 well directories into a temporary folder (one deviation survey and
three LAS files of logs each), loads every well into a project, saves the
project to one container file and opens it again. Prints wells per second and
megabytes per second for each step (input bytes for the load, the container
file's size for save and open).
"""

import math
import os
import sys
import tempfile
import time

from voridez import GeoData

WELLS = 200
STATIONS = 120
SAMPLES = 1500
CURVES = [("GR", "PHIE", "SW"), ("RHOB", "NPHI", "DT"), ("RT", "VSH", "PERM")]


def survey_text(k):
    hx, hy, datum = 450000.0 + 250.0 * (k % 20), 6780000.0 + 250.0 * (k // 20), 25.0 + k % 7
    lines = [
        "# WELL TRACE FROM PETREL",
        f"# WELL HEAD X-COORDINATE: {hx} (m)",
        f"# WELL HEAD Y-COORDINATE: {hy} (m)",
        f"# WELL DATUM (KB, Kelly bushing, from MSL): {datum} (m)",
        "# MD X Y Z TVD DX DY TWT INCL DLS AZIM",
        "# ======================================",
    ]
    md = tvd = 0.0
    x, y = hx, hy
    step = 3000.0 / (STATIONS - 1)
    for s in range(STATIONS):
        incl = min(40.0, s * 0.5)
        azim = (30.0 + 3.0 * k) % 360.0
        if s:
            md += step
            tvd += step * math.cos(math.radians(incl))
            x += step * math.sin(math.radians(incl)) * math.sin(math.radians(azim))
            y += step * math.sin(math.radians(incl)) * math.cos(math.radians(azim))
        lines.append(f"{md:.2f} {x:.2f} {y:.2f} {datum - tvd:.2f} {tvd:.2f} 0 0 0 {incl:.3f} 0 {azim:.3f}")
    return "\n".join(lines) + "\n"


def las_text(k, curves):
    head = ["~Version", " VERS. 2.0 : v", " WRAP. NO : w", "~Well", f" WELL. W{k:03d} : well", " NULL. -999.25 : n"]
    head += ["~Curve", "DEPT.M : depth"] + [f"{c}.U : {c}" for c in curves] + ["~A"]
    rows = []
    for s in range(SAMPLES):
        d = 500.0 + 0.5 * s
        rows.append(f"{d:.1f} " + " ".join(f"{math.sin(d / 37.0 + j + k) * 50 + 60:.4f}" for j in range(len(curves))))
    return "\n".join(head + rows) + "\n"


def generate(root):
    total = 0
    for k in range(WELLS):
        folder = os.path.join(root, f"W{k:03d}")
        os.makedirs(folder)
        files = {f"W{k:03d}.wellpath": survey_text(k)}
        for j, curves in enumerate(CURVES):
            files[f"W{k:03d}_run{j + 1}.las"] = las_text(k, curves)
        for name, text in files.items():
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
            total += len(text)
    return total


def rate(label, count, seconds, nbytes):
    print(f"{label:<6} {count} wells in {seconds:.3f} s: {count / seconds:9.1f} wells/s, "
          f"{nbytes / seconds / 1e6:8.1f} MB/s ({nbytes / 1e6:.1f} MB)")


def main():
    with tempfile.TemporaryDirectory() as root:
        input_bytes = generate(root)
        geo = GeoData()
        start = time.perf_counter()
        for k in range(WELLS):
            geo.load_well(f"W{k:03d}", files=os.path.join(root, f"W{k:03d}"))
        loaded = time.perf_counter() - start

        path = os.path.join(root, "project.zedod")
        start = time.perf_counter()
        geo.save(path)
        saved = time.perf_counter() - start
        size = os.path.getsize(path)

        start = time.perf_counter()
        opened = GeoData.open(path)
        reopened = time.perf_counter() - start
        assert opened.well(f"W{WELLS - 1:03d}") is not None

        print(f"geodata_load: {WELLS} wells, survey of {STATIONS} stations and 3 LAS files of "
              f"{SAMPLES} samples x 3 curves each (python {sys.version.split()[0]})")
        rate("load", WELLS, loaded, input_bytes)
        rate("save", WELLS, saved, size)
        rate("open", WELLS, reopened, size)


if __name__ == "__main__":
    main()
