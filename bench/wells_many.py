"""Many wells at once through `WellsView`: a zone table of 1,000 wells x 10
zones (tidy, pivoted, aggregated and net-conditioned), and the crossings of
500 wells with a 1,000 x 1,000 regular surface in one batch call.

The wells are written as files (a vertical survey and a LAS file each, one
Petrel tops export for all) and loaded through the project, as a script
would; loading is timed separately from the calls under test."""

import math
import os
import tempfile
import time

from voridez import GeoData, NetSettings
from _timing import best

N_WELLS = 1_000
N_ZONES = 10
N_CROSSED = 500
GRID = 1_000
STEP = 10.0  # grid spacing (m): the surface spans 10 km x 10 km
TD = 2_000.0
SAMPLE = 1.0  # log sampling (m)
REPEAT = 3


def wellhead(k):
    # spread over the surface, away from its edges
    side = int(math.ceil(math.sqrt(N_WELLS)))
    return 500.0 + (k % side) * 9000.0 / side, 500.0 + (k // side) * 9000.0 / side


def write_well(folder, k):
    os.makedirs(folder)
    x, y = wellhead(k)
    with open(os.path.join(folder, "trace.wellpath"), "w") as f:
        f.write(f"# WELL HEAD X-COORDINATE: {x} (m)\n# WELL HEAD Y-COORDINATE: {y} (m)\n")
        f.write("# WELL DATUM (KB, Kelly bushing, from MSL): 25.0 (m)\n# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n")
        for md in (0.0, TD / 2, TD):
            f.write(f"{md} {x} {y} {25.0 - md} {md} 0 0 0 0 0 0\n")
    n = int(TD / SAMPLE)
    lines = ["~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\nDEPT.M : d\n",
             "PHIE.V/V : p\nSW.V/V : s\nGR.API : g\n~A\n"]
    for i in range(n):
        md = i * SAMPLE
        phie = 0.15 + 0.1 * math.sin(md / 37.0 + k)
        sw = 0.5 + 0.3 * math.cos(md / 53.0 + k)
        lines.append(f"{md} {phie:.5f} {sw:.5f} {60 + 40 * math.sin(md / 11.0):.3f}\n")
    with open(os.path.join(folder, "logs.las"), "w") as f:
        f.write("".join(lines))


def write_tops(path):
    with open(path, "w") as f:
        f.write("# Petrel well tops\nVERSION 2\nBEGIN HEADER\nX\nY\nZ\nTWT picked\nTWT auto\nDip angle\nMD\n"
                "Geological age\nType\nSurface\nWell\nEND HEADER\n")
        for k in range(N_WELLS):
            for z in range(N_ZONES):
                md = 100.0 + z * 170.0 + (k % 7)
                f.write(f'0 0 0 -999 -999 0 {md} -999 Horizon "Z{z:02d}" "W{k:04d}"\n')


def write_surface(path):
    # IRAP classic grid: a gentle dome around -1000 m
    with open(path, "w") as f:
        f.write(f"-996 {GRID} {STEP} {STEP}\n0.0 {(GRID - 1) * STEP} 0.0 {(GRID - 1) * STEP}\n{GRID} 0.0 0.0 0.0\n")
        f.write("0 0 0 0 0 0 0\n")
        row = []
        for j in range(GRID):
            for i in range(GRID):
                row.append(f"{-1000.0 + 50.0 * math.sin(i / 90.0) * math.cos(j / 70.0):.3f}")
            f.write(" ".join(row) + "\n")
            row.clear()


def main():
    with tempfile.TemporaryDirectory() as tmp:
        t0 = time.perf_counter()
        for k in range(N_WELLS):
            write_well(os.path.join(tmp, f"W{k:04d}"), k)
        write_tops(os.path.join(tmp, "tops.txt"))
        write_surface(os.path.join(tmp, "dome.irap"))
        t_write = time.perf_counter() - t0

        geo = GeoData()
        t0 = time.perf_counter()
        for k in range(N_WELLS):
            geo.load_well(f"W{k:04d}", files=os.path.join(tmp, f"W{k:04d}"))
        geo.load_well_tops(os.path.join(tmp, "tops.txt"))
        t_wells = time.perf_counter() - t0
        t0 = time.perf_counter()
        surface = geo.load_surface("dome", os.path.join(tmp, "dome.irap"))
        t_surface = time.perf_counter() - t0

    view = geo.wells
    print(f"wells many: {N_WELLS:,} wells x {N_ZONES} zones, {int(TD / SAMPLE):,} samples of 3 curves each")
    print(f"  files written in {t_write:.1f} s; wells loaded in {t_wells:.1f} s; "
          f"{GRID:,} x {GRID:,} surface loaded in {t_surface:.1f} s")

    cases = [
        ("tidy, mean", {}),
        ("tidy, mean/p50/count", {"stats": ["mean", "p50", "count"]}),
        ("pivoted, mean", {"pivot": True}),
        ("aggregated, mean/count", {"stats": ["mean", "count"], "aggregate": True}),
        ("net-conditioned, mean", {"cut": NetSettings(phi_min=0.12, sw_max=0.6)}),
    ]
    print("  zone table of PHIE across the view:")
    for label, kwargs in cases:
        t, frame = best(lambda: view.zone_table("PHIE", **kwargs), REPEAT)
        print(f"    {label:26s} {t * 1e3:8.1f} ms  ({frame.shape[0]:,} x {frame.shape[1]} frame)")

    crossed = view.filter(lambda w: int(w.id[1:]) < N_CROSSED)
    for method in ("intersection", "intersections"):
        t, result = best(lambda: getattr(crossed, method)(surface), REPEAT)
        summary = result.summary()
        print(f"  {method:13s} of {N_CROSSED} wells with the surface {t * 1e3:8.1f} ms  "
              f"({summary['hits']} hits, {summary['skipped']} skipped, {summary['failed']} failed)")


if __name__ == "__main__":
    main()
