"""Regular surfaces through the Python API: writing and reading a
4,000 x 4,000 IRAP classic grid, and iso-lines of a 2,000 x 2,000 surface at
50 levels (tracing plus building the result lists).

The grids are made in a temporary folder: a small hilly grid is written as
IRAP text, loaded, and resampled onto the large lattices, so every step runs
through the Python classes a script would use."""

import math
import os
import tempfile

import voridez as vz
from _timing import best

BIG = 4000
ISO = 2000
LEVELS = 50
REPEAT = 3


def hills(folder, n=41):
    """A smooth n x n grid over [0, 1000]^2 with a few undefined nodes."""
    rows = []
    for j in range(n):
        row = []
        for i in range(n):
            x, y = i / (n - 1), j / (n - 1)
            v = 1000 + 200 * math.sin(6 * x) * math.cos(5 * y) + 150 * x * y
            row.append("9999900" if (i - 20) ** 2 + (j - 30) ** 2 < 9 else repr(v))
        rows.append(" ".join(row))
    step = 1000.0 / (n - 1)
    text = [f"-996 {n} {step!r} {step!r}", f"0.0 1000.0 0.0 1000.0", f"{n} 0.0 0.0 0.0", "0 0 0 0 0 0 0"]
    path = os.path.join(folder, "hills.irap")
    with open(path, "w") as f:
        f.write("\n".join(text + rows) + "\n")
    return vz.Surface.load_irap_classic(path)


def lattice(n):
    step = 1000.0 / (n - 1)
    return vz.GridGeometry(0.0, 0.0, step, step, n, n)


def main():
    with tempfile.TemporaryDirectory() as folder:
        base = hills(folder)
        big = base.resample(lattice(BIG))
        path = os.path.join(folder, "big.irap")
        t_write, _ = best(lambda: big.save_irap_classic(path), REPEAT)
        size = os.path.getsize(path)
        t_read, back = best(lambda: vz.Surface.load_irap_classic(path), REPEAT)
        assert (back.ncol, back.nrow) == (BIG, BIG)

        iso = base.resample(lattice(ISO))
        st = iso.stats()
        levels = [st.min + (st.max - st.min) * (k + 0.5) / LEVELS for k in range(LEVELS)]
        t_iso, lines = best(lambda: iso.iso_lines(levels=levels), REPEAT)
        n_lines = sum(len(p) for _, p in lines)
        n_points = sum(len(line) for _, p in lines for line in p)
        t_simple, simple = best(lambda: iso.iso_lines(levels=levels, simplify=1.0), REPEAT)
        n_simple = sum(len(line) for _, p in simple for line in p)

    nodes = BIG * BIG
    print(f"surface io: IRAP classic {BIG} x {BIG} ({nodes:,} nodes, {size / 1e6:.0f} MB of text)")
    print(f"  save_irap_classic      {t_write * 1e3:8.0f} ms  ({size / 1e6 / t_write:6.1f} MB/s)")
    print(f"  load_irap_classic      {t_read * 1e3:8.0f} ms  ({size / 1e6 / t_read:6.1f} MB/s)")
    print(f"surface iso-lines: {ISO} x {ISO} nodes, {LEVELS} levels")
    print(f"  iso_lines              {t_iso * 1e3:8.0f} ms  ({n_lines:,} polylines, {n_points:,} points)")
    print(f"  iso_lines simplify=1   {t_simple * 1e3:8.0f} ms  ({n_simple:,} points kept)")


if __name__ == "__main__":
    main()
