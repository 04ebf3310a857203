"""Surface analysis: thickness, areas, volume, hypsometry, dip, smoothing and
extrapolation."""

import math

import numpy as np
import pytest

import voridez as vz
from surface_grids import make_grid, same_values, values_of  # noqa: F401

NAN = float("nan")
INF = float("inf")
MISMATCH = "geometry mismatch: Surface::{}: operands have differing geometry \u2014 resample first"


def test_thickness_is_base_minus_top(make_grid):
    top = make_grid([[1.0, 5.0], [NAN, 2.0]])
    base = make_grid([[3.0, 4.0], [1.0, 2.0]]) + 0
    for r in (top.thickness(base), vz.Surface.thickness(top, base), top.thickness(base=base, clamp_zero=False)):
        same_values(values_of(r), [[2.0, -1.0], [NAN, 0.0]])
        assert r.history() == base.history() + ["rhs." + e for e in top.history()] + [
            "surface.minus(surface)", "surface.thickness(clamp_zero=false)"]
        assert r.name is None and r.attr_names() == []


@pytest.mark.parametrize("flag", [True, np.bool_(True)])
def test_thickness_clamped_at_zero(make_grid, flag):
    top = make_grid([[1.0, 5.0], [NAN, 2.0]])
    base = make_grid([[3.0, 4.0], [1.0, 2.0]])
    r = top.thickness(base, clamp_zero=flag)
    same_values(values_of(r), [[2.0, 0.0], [NAN, 0.0]])
    assert r.history()[-3:] == ["surface.minus(surface)", "surface.clamp_min_scalar(0)",
                                "surface.thickness(clamp_zero=true)"]


@pytest.mark.parametrize("flag", [1, 0, "yes", None])
def test_thickness_flag_must_be_a_bool(make_grid, flag):
    s = make_grid([[1.0]])
    with pytest.raises(TypeError) as info:
        s.thickness(s * 1, clamp_zero=flag)
    assert info.value.__notes__ == ["while processing 'clamp_zero'"]


def test_thickness_on_differing_lattices_names_minus(make_grid):
    top = make_grid([[1.0, 2.0]])
    base = make_grid([[1.0, 2.0]], xori=1.0)
    with pytest.raises(ValueError) as info:
        top.thickness(base)
    assert str(info.value) == MISMATCH.format("minus")
    with pytest.raises(ValueError) as info:
        top.volume_between(base)
    assert str(info.value) == MISMATCH.format("volume_between")


@pytest.mark.parametrize("name", ["thickness", "volume_between"])
@pytest.mark.parametrize("base", [1.0, None, "top"])
def test_base_must_be_a_surface(make_grid, name, base):
    s = make_grid([[1.0]])
    with pytest.raises(TypeError) as info:
        getattr(s, name)(base)
    assert info.value.__notes__ == ["while processing 'base'"]


def test_areas(make_grid):
    s = make_grid([[1.0, 2.0, NAN], [2.0, 3.0, -INF]], xinc=2.0, yinc=3.0)
    cell = 6.0
    assert s.area_above(2.0) == 3 * cell  # 2, 2, 3
    assert s.area_below(2.0) == 4 * cell  # 1, 2, 2, -inf
    # Nodes equal to the depth count on both sides.
    assert s.area_below(2.0) + s.area_above(2.0) == 5 * cell + 2 * cell
    assert s.area_above(NAN) == 0.0
    assert s.area_below(NAN) == 0.0
    assert s.area_above(-INF) == 5 * cell
    assert s.area_above(depth=10) == 0.0
    with pytest.raises(TypeError):
        s.area_above("1")


def test_volume_between(make_grid):
    top = make_grid([[1.0, 5.0], [NAN, 2.0]], xinc=2.0)
    base = make_grid([[3.0, 4.0], [1.0, NAN]], xinc=2.0)
    assert top.volume_between(base) == 2.0 * (2.0 + 1.0)
    assert top.volume_between(top) == 0.0
    assert top.volume_between(vz.Surface.constant(top.geometry, NAN)) == 0.0


def test_hypsometry(make_grid):
    s = make_grid([[3.0, 1.0], [NAN, 1.0]], xinc=2.0)
    assert s.hypsometry() == [(1.0, 2.0), (1.0, 4.0), (3.0, 6.0)]
    assert vz.Surface.constant(s.geometry, NAN).hypsometry() == []


def test_dip_of_a_plane(make_grid):
    # Rising by 1 per world unit towards +x: dips 45 degrees, falling towards -x (west).
    plane = make_grid([[0.0, 1.0, 2.0], [0.0, 1.0, 2.0]])
    for v in sum(values_of(plane.dip_angle()), []):
        assert v == pytest.approx(45.0)
    for v in sum(values_of(plane.dip_azimuth()), []):
        assert v == pytest.approx(270.0)
    assert plane.dip_angle().history()[-1] == "surface.dip_angle()"
    assert plane.dip_azimuth().history()[-1] == "surface.dip_azimuth()"
    flat = vz.Surface.constant(plane.geometry, 7.0)
    assert all(v == 0.0 for v in sum(values_of(flat.dip_angle()), []))
    assert all(math.isnan(v) for v in sum(values_of(flat.dip_azimuth()), []))


def test_dip_honours_rotation(make_grid):
    # The same plane on a lattice turned by 90 degrees rises towards +y: falls to the south.
    plane = make_grid([[0.0, 1.0, 2.0], [0.0, 1.0, 2.0]], rotation=90.0)
    for v in sum(values_of(plane.dip_azimuth()), []):
        assert v == pytest.approx(180.0)


def test_smooth(make_grid):
    s = make_grid([[1.0, 2.0, 3.0], [4.0, NAN, 6.0], [7.0, 8.0, 9.0]])
    r = s.smooth()
    rows = values_of(r)
    assert rows[0][0] == pytest.approx((1 + 2 + 4) / 3)
    assert math.isnan(rows[1][1])
    assert rows[2][2] == pytest.approx((6 + 8 + 9) / 3)
    assert r.history()[-1] == "surface.smooth(radius=1)"
    same = s.smooth(radius=0)
    same_values(values_of(same), values_of(s))
    assert same.history()[-1] == "surface.smooth(radius=0)"
    assert s.smooth(True).history()[-1] == "surface.smooth(radius=1)"
    huge = s.smooth(2**64 - 1)
    assert values_of(huge)[0][0] == pytest.approx(sum([1, 2, 3, 4, 6, 7, 8, 9]) / 8)


@pytest.mark.parametrize("radius, exc", [(1.5, TypeError), ("1", TypeError), (None, TypeError),
                                         (-1, OverflowError), (2**64, OverflowError)])
def test_smooth_radius_conversion(make_grid, radius, exc):
    s = make_grid([[1.0]])
    with pytest.raises(exc) as info:
        s.smooth(radius)
    assert info.value.__notes__ == ["while processing 'radius'"]


def test_extrapolate_fills_only_undefined_nodes(make_grid):
    # An infinity (1 / 0) at node (0, 1); IRAP files cannot carry one.
    s = make_grid([[1.0, NAN, 3.0], [1.0, 5.0, NAN]]) / make_grid([[1.0, 1.0, 1.0], [0.0, 1.0, 1.0]])
    r = s.extrapolate()
    rows = values_of(r)
    assert rows[0][0] == 1.0 and rows[0][2] == 3.0 and rows[1][1] == 5.0
    assert rows[1][0] == INF  # an infinity is neither a sample nor filled
    assert all(math.isfinite(v) for v in (rows[0][1], rows[1][2]))
    assert r.history()[-1] == "surface.extrapolate(method=Nearest)"


@pytest.mark.parametrize("text, word", [
    ("nearest", "Nearest"), ("IDW", "InverseDistance"), (" Inverse-Distance ", "InverseDistance"),
    (" min curvature ", "MinimumCurvature"), ("MinimumCurvature", "MinimumCurvature"),
])
def test_extrapolate_method_words(make_grid, text, word):
    s = make_grid([[1.0, 2.0, NAN], [2.0, 3.0, 4.0], [5.0, NAN, 6.0]])
    r = s.extrapolate(method=text)
    assert r.history()[-1] == f"surface.extrapolate(method={word})"
    assert not any(math.isnan(v) for v in sum(values_of(r), []))


def test_extrapolate_without_undefined_nodes_copies(make_grid):
    s = make_grid([[1.0, 2.0], [3.0, 4.0]])
    r = s.extrapolate()
    same_values(values_of(r), values_of(s))
    assert r.history()[-1] == "surface.extrapolate(method=Nearest)"


def test_extrapolate_refusals(make_grid):
    undefined = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), NAN)
    with pytest.raises(ValueError) as info:
        undefined.extrapolate()
    assert str(info.value) == "out of range: surface.extrapolate requires at least one finite source node"
    with pytest.raises(TypeError) as info:
        undefined.extrapolate("spline")
    assert str(info.value) == "unknown grid method 'spline' (expected 'nearest', 'idw', or 'min_curvature')"
    with pytest.raises(TypeError) as info:
        undefined.extrapolate(method=None)
    assert info.value.__notes__ == ["while processing 'method'"]


@pytest.mark.parametrize("name", ["hypsometry", "dip_angle", "dip_azimuth"])
def test_no_argument_methods(make_grid, name):
    with pytest.raises(TypeError):
        getattr(make_grid([[1.0]]), name)(1)
