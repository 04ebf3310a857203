"""Helpers of the point-set, polygon-set and shell tests: the real sample
files (skipped when the shared folder is absent) and small synthetic clouds —
a regular (optionally rotated) lattice, the same lattice cut by a fault that
shifts half of it, and a curvilinear mesh whose nodes carry their column and
row."""

import math
import os

import pytest

import voridez as vz

SHARED = os.environ.get("VZ_SHARED_DATA_DIR")


def shared_file(rel):
    """The path of a sample file of the shared folder; skips the test when the
    folder is absent."""
    if not SHARED or not os.path.isdir(SHARED):
        pytest.skip("VZ_SHARED_DATA_DIR is not set or absent")
    path = os.path.join(SHARED, rel)
    assert os.path.isfile(path), path
    return path


def lattice_xyz(ncol=10, nrow=10, cell=25.0, rotation=0.0, origin=(1000.0, 2000.0)):
    """Node coordinates of an ncol x nrow lattice, row by row; z = 100 + i + 2j."""
    c, s = math.cos(math.radians(rotation)), math.sin(math.radians(rotation))
    xs, ys, zs = [], [], []
    for j in range(nrow):
        for i in range(ncol):
            u, w = i * cell, j * cell
            xs.append(origin[0] + c * u - s * w)
            ys.append(origin[1] + s * u + c * w)
            zs.append(100.0 + i + 2.0 * j)
    return xs, ys, zs


def lattice(**kwargs):
    return vz.PointSet.from_xyz(*lattice_xyz(**kwargs))


def faulted(ncol=12, nrow=12, cell=25.0, throw=0.45):
    """A lattice whose right half is moved along y by `throw` cells: no single
    lattice fits, but each block is regular, so it triangulates."""
    xs, ys, zs = [], [], []
    for j in range(nrow):
        for i in range(ncol):
            shift = throw * cell if i >= ncol // 2 else 0.0
            xs.append(i * cell)
            ys.append(j * cell + shift)
            zs.append(float(i + j))
    return vz.PointSet.from_xyz(xs, ys, zs)


def curvilinear(ncol=7, nrow=6, cell=25.0):
    """A bent mesh with 1-based "column" and "row" attributes."""
    xs, ys, zs, cols, rows = [], [], [], [], []
    for j in range(nrow):
        for i in range(ncol):
            xs.append(i * cell + 3.0 * math.sin(j))
            ys.append(j * cell + 0.05 * i * i * cell / 6.0)
            zs.append(float(i * j))
            cols.append(i + 1)
            rows.append(j + 1)
    points = vz.PointSet.from_xyz(xs, ys, zs)
    points.column = cols
    points.row = rows
    return points
