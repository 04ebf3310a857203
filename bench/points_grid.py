"""End-to-end point-set work through the Python API: 100,000 scattered points
gridded onto a 500 x 500 lattice by each gridding method, and 1,000,000
points of a rotated, fault-cut lattice triangulated, with the steps around
them (building the set from arrays, topology detection, geometry inference).

Prints one line per step with the best of a few runs; figures only, no gate.
numpy is used to make the inputs, as a user's script would."""

import math
import warnings

import numpy as np

import voridez as vz
from _timing import best


def report(label, seconds, extra=""):
    print(f"points_grid  {label:<44} {seconds * 1e3:10.1f} ms  {extra}")


def scattered(n, seed=7):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0.0, 10_000.0, n)
    y = rng.uniform(0.0, 10_000.0, n)
    z = 2000.0 + 50.0 * np.sin(x / 900.0) * np.cos(y / 1300.0) + rng.normal(0.0, 1.0, n)
    return x, y, z


def faulted_lattice(side, cell=25.0, rotation=20.0, throw=0.45):
    """side x side nodes, rotated; the right half thrown `throw` cells along
    the rows so that no single lattice fits."""
    i, j = np.meshgrid(np.arange(side, dtype=float), np.arange(side, dtype=float))
    i, j = i.ravel(), j.ravel()
    j = j + np.where(i >= side // 2, throw, 0.0)
    t = math.radians(rotation)
    u, v = i * cell, j * cell
    x = 450_000.0 + u * math.cos(t) - v * math.sin(t)
    y = 6_700_000.0 + u * math.sin(t) + v * math.cos(t)
    z = 1500.0 + 0.01 * u + 0.02 * v
    return x, y, z


def main():
    x, y, z = scattered(100_000)
    t, cloud = best(lambda: vz.PointSet.from_xyz(x, y, z), 3)
    report("from_xyz 100k (numpy arrays)", t)
    target = vz.GridGeometry(0.0, 0.0, 10_000.0 / 499, 10_000.0 / 499, 500, 500)
    for method, runs in (("nearest", 3), ("idw", 1), ("min_curvature", 1)):
        t, _ = best(lambda: cloud.to_surface(target, method), runs)
        report(f"to_surface 100k -> 500x500 {method}", t)

    x, y, z = faulted_lattice(1000)
    t, big = best(lambda: vz.PointSet.from_xyz(x, y, z), 1)
    report("from_xyz 1M (numpy arrays)", t)
    t, (labels, topo) = best(lambda: big.detect_topology(), 1)
    report("detect_topology 1M", t, f"blocks={topo.blocks} stalled={topo.stalled_frontier}")
    t, tri = best(lambda: big.to_tri_surface(), 1)
    report("to_tri_surface 1M (lattice rule)", t)
    t, tri = best(lambda: big.to_tri_surface(max_bridge=3.4), 1)
    report("to_tri_surface 1M (max_bridge 3.4)", t)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        t, shell = best(lambda: big.infer_geometry(), 1)
    report("infer_geometry 1M (mesh fallback)", t, f"{shell!r}")
    t, _ = best(lambda: big.xyz(), 1)
    report("xyz() 1M to Python tuples", t)


if __name__ == "__main__":
    main()
