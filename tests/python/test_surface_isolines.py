"""iso_lines of the three surface classes: arguments, levels, result form and
errors."""

import math

import pytest

import voridez as vz
from surface_grids import make_grid  # noqa: F401

NAN = float("nan")


@pytest.fixture
def cone(make_grid):
    # A 5 x 5 grid with a peak of 4 in the middle, 0 on the rim.
    rows = [[4.0 - 2.0 * max(abs(i - 2), abs(j - 2)) for i in range(5)] for j in range(5)]
    return make_grid(rows)


@pytest.fixture(params=["Surface", "StructuredMeshSurface", "TriSurface"])
def kinds(request, cone):
    """The same values as each of the three surface classes."""
    return {"Surface": lambda s: s, "StructuredMeshSurface": lambda s: s.to_structured_mesh(),
            "TriSurface": lambda s: s.to_tri_surface()}[request.param]


def test_result_form(cone, kinds):
    lines = kinds(cone).iso_lines(interval=1.0)
    assert [level for level, _ in lines] == [0.0, 1.0, 2.0, 3.0, 4.0]
    for level, polylines in lines:
        assert isinstance(level, float) and isinstance(polylines, list)
        for line in polylines:
            assert isinstance(line, list)
            assert all(isinstance(p, tuple) and len(p) == 2 and all(isinstance(c, float) for c in p)
                       for p in line)
    (ring,) = dict(lines)[3.0]
    assert ring[0] == ring[-1]  # a closed line repeats its first point
    assert len(ring) > 4


def test_three_classes_agree(cone):
    a = cone.iso_lines(interval=0.5, simplify=0.1)
    assert cone.to_structured_mesh().iso_lines(interval=0.5, simplify=0.1) == a
    assert cone.to_tri_surface().iso_lines(interval=0.5, simplify=0.1) == a


@pytest.mark.parametrize(
    "kwargs, levels",
    [
        (dict(levels=[]), []),
        (dict(levels=[3.0, 1.0, 3.0]), [3.0, 1.0, 3.0]),
        (dict(levels=(2.5,)), [2.5]),
        (dict(levels=[100.0]), [100.0]),
        (dict(levels=[NAN]), [NAN]),
        # Levels win; the interval is not even checked.
        (dict(interval=-1.0, levels=[1.0]), [1.0]),
        (dict(interval=NAN, levels=[1.0]), [1.0]),
        (dict(interval=3.0), [0.0, 3.0]),
        (dict(interval=4.0), [0.0, 4.0]),
    ],
)
def test_levels(cone, kinds, kwargs, levels):
    lines = kinds(cone).iso_lines(**kwargs)
    got = [level for level, _ in lines]
    assert len(got) == len(levels)
    assert all((math.isnan(a) and math.isnan(b)) or a == b for a, b in zip(got, levels))
    if kwargs.get("levels") == [100.0]:
        assert lines == [(100.0, [])]


@pytest.mark.parametrize("rows, interval, levels", [
    ([[3.0, 27.0]], 10.0, [10.0, 20.0]),
    ([[0.0, 20.0]], 10.0, [0.0, 10.0, 20.0]),
])
def test_interval_multiples_within_the_range(make_grid, rows, interval, levels):
    s = make_grid([rows[0], rows[0]])
    assert [level for level, _ in s.iso_lines(interval)] == levels


def test_lane_without_finite_values(make_grid, kinds):
    s = kinds(make_grid([[NAN, NAN], [NAN, NAN]]))
    assert s.iso_lines(interval=1.0) == []
    with pytest.raises(ValueError) as info:
        s.iso_lines(interval=0.0)
    assert str(info.value) == "out of range: iso-line interval must be a finite positive number, got 0"


@pytest.mark.parametrize(
    "kwargs, text",
    [
        (dict(), "out of range: iso_lines: provide an interval or explicit levels"),
        (dict(interval=None, levels=None), "out of range: iso_lines: provide an interval or explicit levels"),
        (dict(interval=-2.5), "out of range: iso-line interval must be a finite positive number, got -2.5"),
        (dict(interval=NAN), "out of range: iso-line interval must be a finite positive number, got NaN"),
        (dict(interval=float("inf")), "out of range: iso-line interval must be a finite positive number, got inf"),
        (dict(interval=1.0, attr="seismic"), "not found: no attribute layer 'seismic'"),
        # An interval that would ask for more levels than the tracer takes.
        (dict(interval=1e-5), "out of range: iso-line interval 0.00001 gives more than 100000 levels between 0 and 4"),
    ],
)
def test_core_errors(cone, kinds, kwargs, text):
    with pytest.raises(ValueError) as info:
        kinds(cone).iso_lines(**kwargs)
    assert str(info.value) == text


def test_interval_cap_is_exact(make_grid):
    s = make_grid([[0.0, 99999.0], [0.0, 99999.0]])
    assert len(s.iso_lines(interval=1.0, levels=None)) == 100000
    with pytest.raises(ValueError, match="gives more than 100000 levels"):
        make_grid([[0.0, 100000.0], [0.0, 100000.0]]).iso_lines(interval=1.0)


@pytest.mark.parametrize(
    "kwargs, argument",
    [
        (dict(interval="1"), "interval"),
        (dict(levels="123"), "levels"),
        (dict(levels=5.0), "levels"),
        (dict(levels=[1.0, "x"]), "levels"),
        (dict(attr=5), "attr"),
        (dict(interval=1.0, simplify="x"), "simplify"),
    ],
)
def test_argument_conversion(cone, kinds, kwargs, argument):
    with pytest.raises(TypeError) as info:
        kinds(cone).iso_lines(**kwargs)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


def test_positional_arguments_and_surplus(cone):
    assert cone.iso_lines(None, [2.0], None, None) == cone.iso_lines(levels=[2.0])
    with pytest.raises(TypeError):
        cone.iso_lines(None, None, None, None, None)
    with pytest.raises(TypeError):
        cone.iso_lines(step=1.0)


@pytest.mark.parametrize("tol", [0.0, -1.0, NAN])
def test_bad_tolerance_leaves_lines_unsimplified(cone, tol):
    assert cone.iso_lines(interval=1.0, simplify=tol) == cone.iso_lines(interval=1.0)


def test_simplification_keeps_ends_and_closure(cone):
    full = dict(cone.iso_lines(levels=[1.0]))[1.0]
    simple = dict(cone.iso_lines(levels=[1.0], simplify=10.0))[1.0]
    assert len(simple) == len(full)
    for a, b in zip(full, simple):
        assert b[0] == a[0] and b[-1] == a[-1]
        assert len(b) <= len(a)


def test_lane_by_name(cone):
    cone.depth = cone * 10.0
    assert [lv for lv, _ in cone.iso_lines(interval=10.0, attr="depth")] == [0.0, 10.0, 20.0, 30.0, 40.0]
    tri = cone.to_tri_surface()
    assert tri.iso_lines(interval=10.0, attr="depth") == cone.iso_lines(interval=10.0, attr="depth")


def test_holes_break_lines(make_grid):
    rows = [[float(i) for i in range(5)] for _ in range(5)]
    whole = make_grid(rows).iso_lines(levels=[1.5])
    rows[2][1] = NAN
    holed = make_grid(rows).iso_lines(levels=[1.5])
    assert len(dict(whole)[1.5]) == 1
    assert len(dict(holed)[1.5]) == 2


NO_CELL = "geometry inference failed: structured shell has no complete cell to triangulate"


@pytest.mark.parametrize("ncol, nrow, text", [
    (1, 5, NO_CELL),
    (5, 1, NO_CELL),
    (0, 0, "geometry mismatch: StructuredShell::new: shape must be non-empty"),
])
def test_lattice_without_a_cell(ncol, nrow, text):
    s = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, ncol, nrow), 1.0)
    with pytest.raises(ValueError) as info:
        s.iso_lines(interval=1.0, attr="missing")  # the mesh is built before the lane is looked up
    assert str(info.value) == text
