"""Viewer data of a Surface: the value-layer dictionary and the two private
regular-grid transports (f32 buffers, masks, sampling, stride clamping)."""

import decimal
import math
import re
import struct

import pytest

import voridez as vz
from surface_grids import make_grid, values_of  # noqa: F401

NAN = float("nan")
NAN_BITS = b"\x00\x00\xc0\x7f"


def f32(buf):
    """A little-endian f32 buffer as Python floats."""
    return list(struct.unpack(f"<{len(buf) // 4}f", buf))


def grid_rows(ncol, nrow, f=lambda i, j: float(10 * j + i)):
    return [[f(i, j) for i in range(ncol)] for j in range(nrow)]


# ---- value_layer -----------------------------------------------------------------


def test_value_layer(make_grid):
    s = make_grid([[1.0, 2.0], [3.0, NAN]], xori=10.0)
    d = s.value_layer()
    assert list(d) == ["kind", "name", "nodes", "triangles", "values", "range"]
    assert d["kind"] == "trimesh" and d["name"] == "values"
    assert d["nodes"] == [[10.0, 0.0], [11.0, 0.0], [10.0, 1.0], [11.0, 1.0]]
    assert d["triangles"] == [[0, 1, 3], [0, 3, 2]]
    assert d["values"][:3] == [1.0, 2.0, 3.0] and math.isnan(d["values"][3])
    assert d["range"] == [1.0, 3.0]
    for stride in (0, 1):
        same = s.value_layer(stride=stride)
        assert same["nodes"] == d["nodes"] and same["triangles"] == d["triangles"]


def test_value_layer_lanes_and_strides(make_grid):
    s = make_grid(grid_rows(5, 5))
    s.depth = s * 2.0
    d = s.value_layer(attr="depth", stride=2)
    assert d["name"] == "depth"
    assert len(d["nodes"]) == 9 and len(d["triangles"]) == 8
    assert d["range"] == [0.0, 88.0]  # from the full-resolution lane
    undefined = vz.Surface.constant(s.geometry, NAN)
    assert all(math.isnan(v) for v in undefined.value_layer()["range"])


@pytest.mark.parametrize(
    "ncol, nrow, kwargs, text",
    [
        (3, 3, dict(attr="missing"), "not found: no attribute layer 'missing'"),
        (1, 3, dict(attr="missing"), "geometry inference failed: structured shell has no complete cell to triangulate"),
    ],
)
def test_value_layer_errors(ncol, nrow, kwargs, text):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, ncol, nrow), 1.0)
    with pytest.raises(ValueError) as info:
        s.value_layer(**kwargs)
    assert str(info.value) == text


@pytest.mark.parametrize("kwargs, argument, exc", [
    (dict(attr=1), "attr", TypeError), (dict(stride=-1), "stride", OverflowError), (dict(stride=1.5), "stride", TypeError),
])
def test_value_layer_argument_types(kwargs, argument, exc):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), 1.0)
    with pytest.raises(exc) as info:
        s.value_layer(**kwargs)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


# ---- _view_regular_grid -------------------------------------------------------------


REGULAR_KEYS = ["name", "dimensions", "origin", "step_i", "step_j", "elevations", "values", "elevation_mask",
                "value_mask", "elevation_range", "range", "triangle_count", "stride"]


def test_regular_grid_sampling(make_grid):
    s = make_grid(grid_rows(10, 10), xori=100.0, yori=50.0, xinc=2.0, yinc=3.0)
    d = s._view_regular_grid(stride=4)
    assert list(d) == REGULAR_KEYS
    assert d["dimensions"] == [4, 4] and d["stride"] == 4
    assert d["origin"] == [100.0, 50.0]
    assert d["step_i"] == [6.0, 0.0] and d["step_j"] == [0.0, 9.0]
    # Nodes 0, 3, 6 and 9 along each axis, rows outer.
    assert f32(d["elevations"]) == [10.0 * j + i for j in (0, 3, 6, 9) for i in (0, 3, 6, 9)]
    assert d["values"] == d["elevations"] and d["value_mask"] == d["elevation_mask"] == b"\x01" * 16
    assert d["name"] == "values"
    assert d["elevation_range"] == d["range"] == [0.0, 99.0]
    assert d["triangle_count"] == 18


@pytest.mark.parametrize("stride, dims, effective", [(1, [3, 100], 1), (50, [2, 3], 50), (10**6, [2, 2], 99)])
def test_regular_grid_stride_clamping(stride, dims, effective):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 3, 100), 1.0)
    d = s._view_regular_grid(stride=stride)
    assert d["dimensions"] == dims and d["stride"] == effective


def test_regular_grid_of_one_node_and_one_column():
    g = vz.GridGeometry(5.0, 6.0, 2.0, 3.0, 1, 1, rotation_deg=90.0)
    d = vz.Surface.constant(g, 1.0)._view_regular_grid()
    assert d["dimensions"] == [1, 1] and d["stride"] == 1 and d["triangle_count"] == 0
    x0, y0 = g.node_xy(0, 0)
    x1, y1 = g.node_xy(1, 0)
    assert d["step_i"] == [x1 - x0, y1 - y0]
    column = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 1, 7), 1.0)._view_regular_grid()
    assert column["dimensions"] == [1, 7] and column["triangle_count"] == 0
    assert column["step_i"] == [1.0, 0.0]


def test_regular_grid_lane_and_masks(make_grid):
    s = make_grid([[NAN, NAN], [NAN, NAN]])
    s.lane = make_grid([[1.0, NAN], [3.0, 4.0]])
    d = s._view_regular_grid(attr="lane")
    assert d["name"] == "lane"
    assert d["elevations"] == NAN_BITS * 4 and d["elevation_mask"] == b"\x00" * 4
    assert d["elevation_range"] == [0.0, 1.0]
    assert d["triangle_count"] == 0
    assert d["values"][4:8] == NAN_BITS and d["value_mask"] == b"\x01\x00\x01\x01"
    assert d["range"] == [1.0, 4.0]


# Values at or above 9999900 are undefined in IRAP files: bigger ones are
# computed from loaded grids. e^90 is finite as a double, beyond the f32 range;
# 16777217 is the first integer an f32 cannot hold.
def big_and_odd(make_grid):
    """Nodes e^90, -e^90 / 3.5, 16777217."""
    scale = make_grid([[90.0, 90.0], [0.0, 0.0]]).exp() * make_grid([[1.0, 1.0], [1.0, 2.0]])
    return make_grid([[1.0, -1.0], [3.5, 8388608.5]]) * scale


def test_regular_grid_f32_overflow(make_grid):
    s = big_and_odd(make_grid)
    big = values_of(s)[0][0]
    assert big > 3.5e38 and values_of(s)[1][1] == 16777217.0
    d = s._view_regular_grid()
    assert f32(d["elevations"]) == [math.inf, -math.inf, 3.5, 16777216.0]
    assert d["elevation_mask"] == b"\x01\x01\x01\x01"
    assert d["elevation_range"] == [-big, big]


@pytest.mark.parametrize("ncol, nrow", [(0, 0), (0, 3), (3, 0)])
def test_regular_grid_without_nodes(ncol, nrow):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, ncol, nrow), 1.0)
    with pytest.raises(ValueError, match="Surface._view_regular_grid: the surface has no nodes"):
        s._view_regular_grid()


@pytest.mark.parametrize(
    "kwargs, exc, text",
    [
        (dict(stride=0), ValueError, "Surface._view_regular_grid: stride must be at least 1"),
        (dict(attr="missing"), ValueError, "no attribute layer 'missing'"),
    ],
)
def test_regular_grid_errors(kwargs, exc, text):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), 1.0)
    with pytest.raises(exc) as info:
        s._view_regular_grid(**kwargs)
    assert str(info.value) == text


@pytest.mark.parametrize("kwargs, argument, exc", [
    (dict(stride=None), "stride", TypeError), (dict(stride=-1), "stride", OverflowError), (dict(attr=2), "attr", TypeError),
])
def test_regular_grid_argument_types(kwargs, argument, exc):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), 1.0)
    with pytest.raises(exc) as info:
        s._view_regular_grid(**kwargs)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


# ---- _view_shared_regular_grid -----------------------------------------------------------


SHARED_KEYS = ["dimensions", "origin", "step_i", "step_j", "lanes", "mask", "triangle_count", "stride"]


def test_shared_grid(make_grid):
    s = make_grid(grid_rows(10, 10))
    s.depth = s * 2.0
    d = s._view_shared_regular_grid([None, "depth", None], stride=4)
    assert list(d) == SHARED_KEYS
    assert d["dimensions"] == [4, 4] and d["stride"] == 4
    assert d["mask"] == b"\x01" * 16 and d["triangle_count"] == 18
    primary, depth, again = d["lanes"]
    assert list(primary) == ["values", "range"]
    assert f32(primary["values"]) == [10.0 * j + i for j in (0, 3, 6, 9) for i in (0, 3, 6, 9)]
    assert primary == again
    assert depth["range"] == [0.0, 198.0]


def test_shared_grid_stride_is_bounded_by_the_smaller_span():
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 3, 100), 1.0)
    d = s._view_shared_regular_grid((None,), stride=50)
    assert d["dimensions"] == [2, 51] and d["stride"] == 2


def test_shared_grid_falls_back_to_full_resolution(make_grid):
    rows = [[NAN] * 5 for _ in range(5)]
    rows[1][1] = 7.0  # only finite value, between the sampled nodes 0, 2, 4
    s = make_grid(rows)
    d = s._view_shared_regular_grid([None], stride=2)
    assert d["dimensions"] == [5, 5] and d["stride"] == 1
    assert d["triangle_count"] == 2 * 4 * 4
    assert d["lanes"][0]["range"] == [7.0, 7.0]
    assert len(d["lanes"][0]["values"]) == 4 * 25


def test_shared_grid_lane_without_finite_values(make_grid):
    s = make_grid([[NAN, NAN], [NAN, NAN]])
    d = s._view_shared_regular_grid([None])
    assert d["lanes"][0]["range"] is None
    assert d["lanes"][0]["values"] == NAN_BITS * 4


def test_shared_grid_f32_checks(make_grid):
    s = make_grid([[1.0, 2.0, 3.0], [4.0, 90.0, 6.0], [7.0, 8.0, 9.0]]).exp()
    big = values_of(s)[1][1]
    # The overflowing node is not sampled at stride 2, and still refused.
    with pytest.raises(ValueError) as info:
        s._view_shared_regular_grid([None], stride=2)
    # The value in plain digits, without exponent (40 digits for e^90).
    digits = f"{decimal.Decimal(repr(big)):f}"
    assert re.fullmatch(
        rf"shared surface lane 'primary' contains finite value {digits[:17]}\d{{23}} outside the f32 transport range",
        str(info.value))
    c = make_grid([[8388608.5, 0.5], [0.5, 0.5]]) * 2.0
    c.set_attr("code", c * 1, {"kind": "categorical"})
    c.set_attr("level", c * 1)
    assert f32(c._view_shared_regular_grid(["level"])["lanes"][0]["values"])[0] == 16777216.0
    with pytest.raises(ValueError) as info:
        c._view_shared_regular_grid(["level", "code"])
    assert str(info.value) == (
        "shared categorical surface lane 'code' value 16777217 is not exactly representable as f32")
    promoted = c.attr["code"]  # categorical primary metadata
    with pytest.raises(ValueError, match="lane 'primary' value 16777217"):
        promoted._view_shared_regular_grid([None])


@pytest.mark.parametrize(
    "ncol, nrow, attrs, stride, text",
    [
        (2, 2, [None], 0, "Surface._view_shared_regular_grid: stride must be at least 1"),
        (2, 2, [], 1, "Surface._view_shared_regular_grid: at least one lane is required"),
        (1, 5, ["missing"], 1, "no attribute layer 'missing'"),
        (1, 5, [None], 1, "Surface._view_shared_regular_grid: affine shared transport requires at least 2x2 nodes"),
        (0, 0, [None], 1, "Surface._view_shared_regular_grid: affine shared transport requires at least 2x2 nodes"),
    ],
)
def test_shared_grid_errors(ncol, nrow, attrs, stride, text):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, ncol, nrow), 1.0)
    with pytest.raises(ValueError) as info:
        s._view_shared_regular_grid(attrs, stride=stride)
    assert str(info.value) == text


@pytest.mark.parametrize("attrs, stride, argument, exc", [
    ("depth", 1, "attrs", TypeError),
    ([None, 3], 1, "attrs", TypeError),
    (None, 1, "attrs", TypeError),
    ([None], None, "stride", TypeError),
    ([None], -2, "stride", OverflowError),
])
def test_shared_grid_argument_types(attrs, stride, argument, exc):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), 1.0)
    with pytest.raises(exc) as info:
        s._view_shared_regular_grid(attrs, stride=stride)
    assert info.value.__notes__ == [f"while processing '{argument}'"]
