"""The GridGeometry value class."""

import math

import pytest

from voridez import BBox, GridGeometry, PolygonSet


def test_constructor_and_getters():
    g = GridGeometry(10, 20.5, 25.0, 50, 4, 3, rotation_deg=30, yflip=True)
    assert (g.xori, g.yori, g.xinc, g.yinc) == (10.0, 20.5, 25.0, 50.0)
    assert (g.ncol, g.nrow, g.rotation_deg, g.yflip) == (4, 3, 30.0, True)
    assert all(isinstance(v, float) for v in (g.xori, g.rotation_deg))
    assert isinstance(g.ncol, int)
    assert (g.name, g.kind) == (None, "grid_geometry")


@pytest.mark.parametrize(
    "kwargs, exc, param",
    [
        ({"rotation_deg": None}, TypeError, "rotation_deg"),
        ({"yflip": None}, TypeError, "yflip"),
        ({"yflip": 1}, TypeError, "yflip"),
        ({"ncol": -1}, OverflowError, "ncol"),
        ({"nrow": 2**64}, OverflowError, "nrow"),
        ({"ncol": 2.0}, TypeError, "ncol"),
        ({"xinc": "1"}, TypeError, "xinc"),
    ],
)
def test_constructor_refusals_name_the_argument(kwargs, exc, param):
    args = dict(xori=0, yori=0, xinc=1, yinc=1, ncol=2, nrow=2)
    args.update(kwargs)
    with pytest.raises(exc) as info:
        GridGeometry(**args)
    assert f"while processing '{param}'" in info.value.__notes__


def test_degenerate_values_are_stored_as_given():
    g = GridGeometry(math.nan, 0, 0, -5, 0, 0, rotation_deg=math.inf)
    assert math.isnan(g.xori) and g.xinc == 0 and g.yinc == -5 and g.rotation_deg == math.inf
    assert g.xy_to_ij(1, 1) is None


def test_node_positions():
    g = GridGeometry(100, 200, 10, 20, 5, 4)
    assert g.node_xy(0, 0) == (100.0, 200.0)
    assert g.node_xy(3, 2) == (130.0, 240.0)
    assert g.node_xy(i=7, j=9) == (170.0, 380.0)  # beyond the lattice: extrapolated
    flipped = GridGeometry(100, 200, 10, 20, 5, 4, yflip=True)
    assert flipped.node_xy(0, 1) == (100.0, 180.0)
    rotated = GridGeometry(0, 0, 10, 20, 5, 4, rotation_deg=90)
    x, y = rotated.node_xy(1, 0)
    assert x == pytest.approx(0.0, abs=1e-12) and y == pytest.approx(10.0)
    with pytest.raises(OverflowError):
        g.node_xy(-1, 0)


@pytest.mark.parametrize("rotation, flip", [(0, False), (33.5, False), (-120, True), (90, True)])
def test_xy_to_ij_inverts_node_xy(rotation, flip):
    g = GridGeometry(1000.5, -250.0, 12.5, 7.25, 9, 6, rotation_deg=rotation, yflip=flip)
    for i, j in [(0, 0), (3, 4), (8, 5), (12, -0)]:
        fi, fj = g.xy_to_ij(*g.node_xy(i, j))
        assert fi == pytest.approx(i, abs=1e-9) and fj == pytest.approx(j, abs=1e-9)
    assert g.xy_to_ij(math.nan, 0) is None
    assert GridGeometry(0, 0, 0, 1, 3, 3).xy_to_ij(1, 1) is None


def test_bbox_and_repr():
    g = GridGeometry(0, 0, 25.0, 10, 3, 2)
    b = g.bbox()
    assert isinstance(b, BBox) and (b.xmin, b.ymin, b.xmax, b.ymax) == (0, 0, 50, 10)
    assert repr(g) == "GridGeometry(ncol=3, nrow=2, xinc=25, yinc=10, rotation_deg=0)"
    assert repr(GridGeometry(0, 0, 0.1, 1e-7, 1, 1, rotation_deg=-0.5)) == (
        "GridGeometry(ncol=1, nrow=1, xinc=0.1, yinc=0.0000001, rotation_deg=-0.5)"
    )
    empty = GridGeometry(5, 6, 1, 1, 0, 0).bbox()
    assert (empty.xmin, empty.ymin, empty.xmax, empty.ymax) == (5, 6, 5, 6)


def test_edge_of_a_constructed_geometry_is_a_new_owned_polygon_set_each_time():
    g = GridGeometry(0, 0, 1, 1, 3, 2)
    e1, e2 = g.edge, g.edge
    assert isinstance(e1, PolygonSet) and e1 is not e2
    assert e1.kind == "polygon_set" and e1.name is None


def test_identity_equality_and_no_setters():
    a = GridGeometry(0, 0, 1, 1, 2, 2)
    b = GridGeometry(0, 0, 1, 1, 2, 2)
    assert a != b and a == a
    with pytest.raises(AttributeError):
        a.xinc = 2.0
    assert GridGeometry.__text_signature__ == (
        "(xori, yori, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)"
    )
