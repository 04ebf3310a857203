"""PointSet.to_surface(..., "min_curvature") gives one surface whatever the
memory: a child interpreter under an address-space limit, where the banded
solve of the lattice does not fit, returns the surface of an unlimited run."""

import json
import math
import os
import subprocess
import sys

import pytest

import voridez as vz

# The banded solve of a 200 x 200 lattice holds about 250 MB; the solver
# allows itself a quarter of the address space, so 800 MB turns it to the
# iterative solve, which needs some 20 MB.
LIMIT = 800 * 1024 * 1024
GEOMETRY = (1000.0, 2000.0, 10.0, 10.0, 200, 200)


def _spread(count):
    xs, ys, zs = [], [], []
    for k in range(count):
        u = math.fmod(0.7548776662 * k + 0.31, 1.0)
        v = math.fmod(0.5698402910 * k + 0.17, 1.0)
        xs.append(1000.0 + 1990.0 * u)
        ys.append(2000.0 + 1990.0 * v)
        zs.append(1500.0 + 40.0 * math.sin(u * 9.0) * math.cos(v * 7.0) + 12.0 * u)
    return xs, ys, zs


CASES = {
    "scattered picks": _spread(400),
    # Four picks pin the surface: the bilinear function through them.
    "four picks": ([1091.0, 2807.0, 1211.0, 2994.0], [2360.0, 2851.0, 2035.0, 2636.0], [16.9, 47.3, 80.4, 33.2]),
    # Four picks on one line leave it singular: the shifted system.
    "four picks on a line": ([1050.0, 1170.0, 1290.0, 1410.0], [2070.0, 2160.0, 2250.0, 2340.0],
                             [20.0, 58.5, 40.9, -3.5]),
}

CHILD = """
import json, resource, sys
resource.setrlimit(resource.RLIMIT_AS, ({limit}, {limit}))
import voridez as vz
xs, ys, zs = json.loads(sys.stdin.read())
surface = vz.PointSet.from_xyz(xs, ys, zs).to_surface(vz.GridGeometry(*{geometry}), "min_curvature")
print(json.dumps(surface.to_structured_mesh().values()))
"""


def _surface(points):
    return vz.PointSet.from_xyz(*points).to_surface(vz.GridGeometry(*GEOMETRY), "min_curvature")


@pytest.mark.skipif(sys.platform == "win32", reason="address-space limits are a POSIX facility")
@pytest.mark.parametrize("case", sorted(CASES))
def test_an_address_space_limit_gives_the_same_surface(case):
    points = CASES[case]
    unlimited = _surface(points).to_structured_mesh().values()
    child = subprocess.run(
        [sys.executable, "-c", CHILD.format(limit=LIMIT, geometry=GEOMETRY)],
        input=json.dumps(points), capture_output=True, text=True, env=dict(os.environ), check=False,
    )
    assert child.returncode == 0, child.stderr
    limited = json.loads(child.stdout)
    flat_u = [v for row in unlimited for v in row]
    flat_l = [v for row in limited for v in row]
    assert len(flat_l) == len(flat_u) == 200 * 200
    assert all(math.isfinite(v) for v in flat_l)
    width = max(flat_u) - min(flat_u)
    assert max(abs(a - b) for a, b in zip(flat_l, flat_u)) <= 1e-6 * width
    if case == "scattered picks":
        # The limit did change the solve: the two surfaces are not the same
        # bits, only the same surface. (Four picks give the bilinear function
        # through them on both paths, to the bit.)
        assert flat_l != flat_u
