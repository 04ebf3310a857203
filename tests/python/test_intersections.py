"""Crossings of well paths with surfaces: the surface dispatch, the calls of
wells and free trajectories with the way their failures reach the caller,
and the batch over a view with its diagnostics, completeness and the top
assignment it feeds."""

import math
import sys
import types

import pytest

from voridez import GeoData, PointSet, SurfaceIntersection, Trajectory, WellIntersectionSet, _voridez
from project_files import irap_grid, write
from view_fixtures import (
    add_path_well,
    add_well,
    flat_surface,
    slanted_stations,
    structured_surface,
)

MULTIPLE = "trajectory crosses the surface 2 times; call intersections(...) and select a crossing explicitly"
TOLERANCE = "intersection tolerance must be finite and positive"


def valley(geo, root, name="valley"):
    """A surface that the slanted hole of `slanted_stations` crosses twice
    (elevations along x 1000..1800: -50, -400, -100, -550, -1000)."""
    path = root / f"{name}.irap"
    irap_grid(path, 5, 2, [-50, -400, -100, -550, -1000] * 2, xori=1000, yori=1900, xinc=200, yinc=200)
    return geo.load_surface(name, str(path))


def slanted_trajectory():
    return Trajectory.from_stations([(0, 45, 90), (2000, 45, 90)], (1000, 2000), 0)


def project_of(hit):
    return _voridez._surface_intersection_value(hit)[0]


# ---- single wells and trajectories -----------------------------------------------


def triangulated(geo, root, name, elevation):
    """A horizontal triangulated surface over the default wellhead; made in
    memory, so it has no display name."""
    xs = [900.0 + 200 * i for j in range(4) for i in range(4)]
    ys = [1900.0 + 200 * j for j in range(4) for i in range(4)]
    return PointSet.from_xyz(xs, ys, [elevation] * 16).to_tri_surface()


@pytest.mark.parametrize(
    "make, name",
    [(flat_surface, "top"), (structured_surface, "top"), (triangulated, None)],
    ids=["regular", "structured", "triangulated"],
)
def test_a_vertical_well_crosses_a_flat_surface_once(tmp_path, make, name):
    geo = GeoData()
    well = add_well(geo, tmp_path, "W", bores={"": 1000}, kb=25)
    surface = make(geo, tmp_path, "maps/top", -500)
    hits = well.intersections(surface)
    assert len(hits) == 1
    hit = hits[0]
    assert hit.md == pytest.approx(525, abs=1e-3)
    assert hit.xyz == pytest.approx((1000, 2000, -500), abs=1e-3)  # an elevation, positive up
    assert (hit.well, hit.bore, hit.surface) == ("W", "", name)
    assert [(h.well, h.surface) for h in geo.wells.intersections(surface)] == [("W", name)]
    assert Trajectory.from_stations([(0, 0, 0), (1000, 0, 0)], (1000, 2000), 25).intersection(surface).surface == name
    single = well.intersection(surface, tolerance=1)
    assert single.md == pytest.approx(hit.md, abs=0.2)  # a coarser tolerance
    assert project_of(hit) is not None and project_of(hit) == project_of(single)


def test_trajectory_crossings_carry_no_identity(tmp_path):
    geo = GeoData()
    surface = flat_surface(geo, tmp_path, "top", -500)
    t = Trajectory.from_stations([(0, 0, 0), (1000, 0, 0)], (1000, 2000), 25)
    hit = t.intersection(surface)
    assert (hit.well, hit.bore, hit.surface) == (None, None, "top")
    assert project_of(hit) is None
    assert hit.md == pytest.approx(525, abs=1e-3) and hit.xyz[2] == pytest.approx(-500, abs=1e-3)
    assert [h.md for h in t.intersections(surface)] == [hit.md]
    # no crossing at all
    assert t.intersection(flat_surface(geo, tmp_path, "deep", -5000)) is None
    assert t.intersections(flat_surface(geo, tmp_path, "deeper", -5000)) == []


def test_several_crossings_in_md_order(tmp_path):
    geo = GeoData()
    well = add_path_well(geo, tmp_path, "S", slanted_stations())
    surface = valley(geo, tmp_path)
    for hits in (well.intersections(surface), slanted_trajectory().intersections(surface)):
        assert len(hits) == 2
        assert hits[0].md < hits[1].md
        assert hits[0].xyz[0] == pytest.approx(1280, abs=1e-3)


def test_the_multiple_crossings_failure_is_worded_per_class(tmp_path):
    # The same geometry through each class: the well wraps the core error
    # raised inside its search, the bore raises the text as it stands, the
    # trajectory shows the core error's display text.
    geo = GeoData()
    well = add_path_well(geo, tmp_path, "S", slanted_stations())
    surface = valley(geo, tmp_path)
    cases = [
        (well, "parse error: ValueError: unsupported: " + MULTIPLE),
        (well.sidetrack(""), MULTIPLE),
        (slanted_trajectory(), "unsupported: " + MULTIPLE),
    ]
    for obj, message in cases:
        with pytest.raises(ValueError) as info:
            obj.intersection(surface)
        assert str(info.value) == message, type(obj).__name__


@pytest.mark.parametrize("tolerance", [0.0, -1.0, math.nan, math.inf])
def test_a_bad_tolerance_fails_only_when_a_search_runs(tmp_path, tolerance):
    geo = GeoData()
    surface = flat_surface(geo, tmp_path, "top", -500)
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    with pytest.raises(ValueError) as info:
        well.intersections(surface, tolerance)
    assert str(info.value) == "parse error: ValueError: out of range: " + TOLERANCE
    with pytest.raises(ValueError) as info:
        well.sidetrack("").intersection(surface, tolerance)
    assert str(info.value) == "parse error: ValueError: out of range: " + TOLERANCE
    with pytest.raises(ValueError) as info:
        slanted_trajectory().intersection(surface, tolerance=tolerance)
    assert str(info.value) == "out of range: " + TOLERANCE
    # a bore without a trajectory runs no search
    bare = add_well(geo, tmp_path, "bare")
    for obj in (bare, bare.sidetrack("")):
        assert obj.intersections(surface, tolerance) == []
        assert obj.intersection(surface, tolerance) is None


def test_tolerance_argument(tmp_path):
    geo = GeoData()
    surface = flat_surface(geo, tmp_path, "top", -500)
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    assert len(well.intersections(surface, 1)) == 1
    for call in (well.intersections, slanted_trajectory().intersection, geo.wells.intersections):
        with pytest.raises(TypeError) as info:
            call(surface, None)
        assert "while processing 'tolerance'" in info.value.__notes__


def test_only_surfaces_are_accepted(tmp_path):
    geo = GeoData()
    points = geo.load_points("pts", write(tmp_path / "p.xyz", "1000 2000 -500\n1100 2000 -500\n"))
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    message = "surface must be Surface, StructuredMeshSurface, or TriSurface"
    gone = add_well(geo, tmp_path, "G", bores={"": 1000}).sidetrack("")
    geo.delete_well("G")
    # a bore handle meets the dispatch before any lookup, even of a gone well
    for call in (well.intersections, well.intersection, well.sidetrack("").intersections, gone.intersection,
                 slanted_trajectory().intersections, geo.wells.intersection, GeoData().wells.intersections):
        for bad in (points, "top", None):
            with pytest.raises(TypeError) as info:
                call(bad)
            assert str(info.value) == message


def test_the_guard_and_a_missing_well_come_first_and_unwrapped(tmp_path):
    geo = GeoData()
    multi = add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900})
    gone = add_well(geo, tmp_path, "G", bores={"": 1000})
    geo.delete_well("G")
    surface = flat_surface(geo, tmp_path, "top", -500)
    with pytest.raises(ValueError) as info:
        multi.intersections("not a surface")  # the guard runs before the dispatch
    assert str(info.value).startswith("well 'M' has 2 bores (L1, L2) \u2014 a top-level accessor can't pick one")
    with pytest.raises(ValueError) as info:
        gone.intersection(surface)
    assert str(info.value) == "no well 'G'"
    # with a default bore the crossings carry its label
    multi.set_default_bore("L2")
    assert [h.bore for h in multi.intersections(surface)] == ["L2"]


def test_bore_crossings(tmp_path):
    geo = GeoData()
    multi = add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900})
    surface = flat_surface(geo, tmp_path, "top", -500)
    # no guard on a bore: each bore of a multi-bore well answers for itself
    for label in ("L1", "L2"):
        bore = multi.sidetrack(label)
        hits = bore.intersections(surface)
        assert [(h.well, h.bore, h.surface) for h in hits] == [("M", label, "top")]
        single = bore.intersection(surface)
        assert single.md == pytest.approx(hits[0].md)
        # the crossing belongs to the project: it passes as a top depth
        bore.add_top("Top", single)
    assert [row[:2] for row in geo.well_top_set("Top")] == [("M", "L1"), ("M", "L2")]
    assert project_of(hits[0]) == project_of(multi.sidetrack("L1").intersection(surface))


def test_stale_bores_are_wrapped(tmp_path):
    geo = GeoData()
    surface = flat_surface(geo, tmp_path, "top", -500)
    bore = add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900}).sidetrack("L2")
    geo.delete_well("M")
    with pytest.raises(ValueError) as info:
        bore.intersections(surface)
    assert str(info.value) == "parse error: ValueError: no well 'M'"
    add_well(geo, tmp_path, "M", bores={"": 1000})
    with pytest.raises(ValueError) as info:
        bore.intersection(surface)
    assert str(info.value) == "parse error: ValueError: no bore 'L2'"


def test_crossings_pass_as_top_depths_of_their_own_project_only(tmp_path):
    geo = GeoData()
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    surface = flat_surface(geo, tmp_path, "top", -500)
    well.add_top("Top", well.intersection(surface))
    other = GeoData()
    twin = add_well(other, tmp_path, "W", bores={"": 1000})
    with pytest.raises(ValueError) as info:
        twin.add_top("Top", well.intersection(surface))
    assert str(info.value) == "intersection belongs to a different project"
    # a free trajectory's crossing has no project and is checked by position only
    free = Trajectory.from_stations([(0, 0, 0), (1000, 0, 0)], (1000, 2000), 25).intersection(surface)
    twin.add_top("Top", free)
    assert [row[2] for row in other.well_top_set("Top")] == pytest.approx([free.md])


def test_stale_and_foreign_surfaces(tmp_path):
    geo = GeoData()
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    other = GeoData()
    foreign = flat_surface(other, tmp_path, "maps/foreign", -500)
    hit = well.intersection(foreign)
    assert hit.surface == "foreign"
    # the crossing belongs to the well's project, not to the surface's
    mine = well.intersection(flat_surface(geo, tmp_path, "mine", -500))
    assert project_of(hit) == project_of(mine)
    other.delete_surface("maps/foreign")
    for call in (well.intersections, well.sidetrack("").intersection, slanted_trajectory().intersections,
                 geo.wells.intersections):
        with pytest.raises(ValueError) as info:
            call(foreign)
        assert str(info.value) == "no surface 'maps/foreign'"


def test_a_surface_that_cannot_become_triangles(tmp_path):
    geo = GeoData()
    well = add_well(geo, tmp_path, "W", bores={"": 1000})
    path = irap_grid(tmp_path / "row.irap", 3, 1, [-500, -500, -500], xori=900, yori=2000, xinc=100, yinc=100)
    line = geo.load_surface("line", path)
    text = "geometry inference failed: structured shell has no complete cell to triangulate"
    with pytest.raises(ValueError) as info:
        well.intersections(line)
    assert str(info.value) == "parse error: ValueError: " + text
    with pytest.raises(ValueError) as info:
        slanted_trajectory().intersections(line)
    assert str(info.value) == text
    # the batch reports it unwrapped and returns nothing
    with pytest.raises(ValueError) as info:
        geo.wells.intersections(line)
    assert str(info.value) == text


# ---- the batch over a view ---------------------------------------------------------


@pytest.fixture
def field(tmp_path):
    """W2 (crosses), W1 (crosses), M (bores L1 and L2, both cross), FAR (misses),
    BARE (no trajectory), in this order; a flat surface at -500."""
    geo = GeoData()
    add_well(geo, tmp_path, "W2", bores={"": 1000})
    add_well(geo, tmp_path, "W1", bores={"": 1000}, head=(1100.0, 2100.0))
    add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900})
    add_well(geo, tmp_path, "FAR", bores={"": 1000}, head=(9000.0, 9000.0))
    add_well(geo, tmp_path, "BARE")
    surface = flat_surface(geo, tmp_path, "maps/top", -500)
    return geo, surface


def rows(result, key):
    return [(r["well"], r["bore"], r["reason"]) for r in getattr(result, key)]


@pytest.mark.parametrize("method", ["intersections", "intersection"])
def test_batch_rows_and_order(field, method):
    geo, surface = field
    result = getattr(geo.wells, method)(surface)
    assert isinstance(result, WellIntersectionSet)
    # hits sorted by well, then bore: W1 before W2 though the view lists W2 first
    assert [(h.well, h.bore) for h in result.hits] == [("M", "L1"), ("M", "L2"), ("W1", ""), ("W2", "")]
    assert all(h.surface == "top" for h in result.hits)
    assert rows(result, "skipped") == [
        ("FAR", "", "outside_or_no_intersection"),
        ("BARE", "", "missing_trajectory"),
    ]
    assert [r["message"] for r in result.skipped] == [
        "trajectory does not intersect the finite surface geometry",
        "well has no positioned bore",
    ]
    assert list(result.skipped[0]) == ["well", "bore", "reason", "message"]
    assert result.failed == []
    assert result.summary() == {"hits": 4, "skipped": 2, "failed": 0}
    assert repr(result) == "WellIntersectionSet(hits=4, skipped=2, failed=0)"


def test_batch_failures_become_rows(field, tmp_path):
    geo, surface = field
    result = geo.wells.intersections(surface, tolerance=0)
    assert result.hits == []
    assert rows(result, "failed") == [
        ("W2", "", "intersection_error"),
        ("W1", "", "intersection_error"),
        ("M", "L1", "intersection_error"),
        ("M", "L2", "intersection_error"),
        ("FAR", "", "intersection_error"),
    ]
    assert {r["message"] for r in result.failed} == {"out of range: " + TOLERANCE}
    assert rows(result, "skipped") == [("BARE", "", "missing_trajectory")]

    add_path_well(geo, tmp_path, "S", slanted_stations())
    crossing_twice = valley(geo, tmp_path)
    single = geo.wells.filter(lambda w: w.id == "S").intersection(crossing_twice)
    assert rows(single, "failed") == [("S", "", "multiple_intersections")]
    assert single.failed[0]["message"] == "unsupported: " + MULTIPLE
    every = geo.wells.filter(lambda w: w.id == "S").intersections(crossing_twice)
    assert [h.bore for h in every.hits] == ["", ""] and every.failed == []


COMPLETE_ONLY = "well-top assignment requires a result from the complete project.wells view"


def complete(result, geo):
    """The result's completeness, as the top assignment it gates sees it."""
    try:
        result._apply_top(geo, "Gate")
    except ValueError as e:
        if str(e) == COMPLETE_ONLY:
            return False
        raise
    return True


def test_completeness(field):
    geo, surface = field
    full = geo.wells
    cases = [
        (lambda: full, True),
        (lambda: full.filter(lambda w: True), True),
        (lambda: full.filter(lambda w: w.id != "FAR"), False),
        (lambda: full.filter(lambda w: False), False),
    ]
    for make, expected in cases:
        assert complete(make().intersection(surface), geo) == expected
    empty = GeoData()
    assert complete(empty.wells.intersections(surface), empty)
    # the flag describes the project when the call began: after a deletion the
    # old full view is no longer complete, and the deleted well leaves no trace
    geo.delete_well("W1")
    stale = full.intersections(surface)
    assert not complete(stale, geo)
    assert "W1" not in {h.well for h in stale.hits} | {r["well"] for r in stale.skipped + stale.failed}
    assert complete(geo.wells.intersections(surface), geo)


def test_set_as_a_sequence(field):
    geo, surface = field
    result = geo.wells.filter(lambda w: w.id in ("W1", "W2", "FAR")).intersections(surface)
    assert len(result) == 2
    assert result[-1].well == "W2" and result[0].well == "W1"
    for index, adjusted in ((2, 2), (-3, -1), (5, 5)):
        with pytest.raises(IndexError) as info:
            result[index]
        assert info.value.args == (adjusted,)
    with pytest.raises(TypeError) as info:
        result["0"]
    assert "while processing 'index'" in info.value.__notes__
    assert [h.well for h in result] == ["W1", "W2"]
    first, again = result.hits[0], result.hits[0]
    assert first is not again and first.md == again.md
    assert first not in result  # every element handed out is a new object
    assert isinstance(result[0], SurfaceIntersection)
    assert project_of(result[0]) == project_of(geo.well("W1").intersection(surface))


def well_tops(geo, name):
    return [(row[0], row[1], round(row[2], 3)) for row in geo.well_top_set(name)]


def test_top_assignment_from_a_batch(field, tmp_path):
    geo, surface = field
    result = geo.wells.intersections(surface)
    result._apply_top(geo, "  Horizon ")
    assert well_tops(geo, "horizon") == [("W2", "", 525.0), ("W1", "", 525.0), ("M", "L1", 525.0), ("M", "L2", 525.0)]
    assert geo.well_top_names() == ["Horizon"]
    # a blank name is refused and every top stays
    with pytest.raises(ValueError) as info:
        result._apply_top(geo, "   ")
    assert str(info.value) == "parse error: well-top name cannot be empty"
    assert len(well_tops(geo, "Horizon")) == 4
    # a result without hits removes the horizon everywhere
    nothing = geo.wells.intersections(flat_surface(geo, tmp_path, "none", -5000))
    assert len(nothing) == 0 and nothing.summary()["skipped"] == 6
    nothing._apply_top(geo, "HORIZON")
    assert well_tops(geo, "Horizon") == []


def test_top_assignment_gates(field, tmp_path):
    geo, surface = field
    result = geo.wells.intersections(surface)
    with pytest.raises(ValueError) as info:
        result._apply_top(GeoData(), "X")
    assert str(info.value) == "well-top assignment result belongs to a different project"
    with pytest.raises(TypeError) as info:
        result._apply_top("geo", "X")
    assert "while processing 'expected'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        result._apply_top(geo, 1)
    assert "while processing 'name'" in info.value.__notes__
    # a narrowed view is refused even without failed rows
    narrowed = geo.wells.filter(lambda w: w.id == "W1").intersections(surface)
    with pytest.raises(ValueError) as info:
        narrowed._apply_top(geo, "X")
    assert str(info.value) == COMPLETE_ONLY
    # failed rows block it, naming their count and the first one only
    failed = geo.wells.intersections(surface, tolerance=0)
    with pytest.raises(ValueError) as info:
        failed._apply_top(geo, "X")
    assert str(info.value) == (
        "well-top assignment blocked by 5 failed bore(s); first W2/: out of range: " + TOLERANCE
    )
    assert geo.well_top_names() == []


class HoldingPandas(types.ModuleType):
    """pandas whose DataFrame tries the top assignment while a zone table
    holds the project."""

    def __init__(self, attempt):
        super().__init__("pandas")
        self.attempt = attempt
        self.seen = None

    def Categorical(self, values, **kwargs):
        return values

    def DataFrame(self, columns):
        try:
            self.attempt()
        except RuntimeError as e:
            self.seen = str(e)
        return columns


def test_top_assignment_never_waits_for_the_project(field, monkeypatch, tmp_path):
    geo, surface = field
    result = geo.wells.intersections(surface)
    fake = HoldingPandas(lambda: result._apply_top(geo, "Held"))
    monkeypatch.setitem(sys.modules, "pandas", fake)
    geo.wells.zone_table("GR")
    assert fake.seen == "Already borrowed"
    assert geo.well_top_names() == []
