"""Changing formation tops through a `Well` (its resolved bore) and through a
`Sidetrack` (its own bore, made when missing)."""

import math

import pytest

from voridez import _voridez
from well_fixtures import load_well, make_well, multibore_well, standard_well, write_well

DEPTH_TYPE_ERROR = "top depth must be a finite MD number or SurfaceIntersection"


@pytest.fixture
def geo():
    return _voridez.GeoData()


@pytest.fixture(params=["well", "sidetrack"])
def target(request, geo, tmp_path):
    """The top mutators of a one-bore well, reached either way."""
    w = standard_well(geo, tmp_path)
    return w if request.param == "well" else w.sidetrack("")


def test_depths_convert_like_floats(target):
    class Depth:
        def __float__(self):
            return 150.5

    target.add_top("C", 150)
    target.add_top("D", Depth())
    target.add_top("E", True)
    assert target.tops() == [("E", 1.0), ("A", 100.0), ("B", 110.0), ("C", 150.0), ("D", 150.5)]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda t: t.add_top("C", math.nan), ValueError, "out of range: top measured depth must be finite"),
        (lambda t: t.add_top("C", -math.inf), ValueError, "out of range: top measured depth must be finite"),
        (lambda t: t.replace_top("A", math.inf), ValueError, "out of range: top measured depth must be finite"),
        (lambda t: t.add_top("C", "150"), TypeError, DEPTH_TYPE_ERROR),
        (lambda t: t.add_top("C", None), TypeError, DEPTH_TYPE_ERROR),
        (lambda t: t.replace_top("A", [150.0]), TypeError, DEPTH_TYPE_ERROR),
        (lambda t: t.add_top(" \t", 150), ValueError, "parse error: top name cannot be empty"),
        (lambda t: t.add_top("C", 200.5), ValueError, "out of range: top MD 200.5 outside active trajectory range 0..200"),
        (lambda t: t.add_top("C", -0.25), ValueError, "out of range: top MD -0.25 outside active trajectory range 0..200"),
        (lambda t: t.add_top(" a ", 150), ValueError, "parse error: top 'a' already exists on bore ''"),
        (lambda t: t.replace_top("C", 150), ValueError, "not found: top 'C' on bore ''"),
        (lambda t: t.remove_top(" A"), ValueError, "not found: top ' A' on bore ''"),
    ],
)
def test_refusals_change_nothing(target, call, error, message):
    with pytest.raises(error) as info:
        call(target)
    assert str(info.value) == message
    if error is TypeError:
        assert not getattr(info.value, "__notes__", None)  # names no argument
    assert target.tops() == [("A", 100.0), ("B", 110.0)]


def test_names_are_trimmed_and_matched_ignoring_case(target):
    assert target.add_top("  Ness \t", 0) is None
    assert target.tops()[0] == ("Ness", 0.0)
    # The ends of the active trajectory belong to it.
    target.add_top("Etive", 200)
    assert target.replace_top(" NESS ", 105.5) is None
    assert target.tops() == [("A", 100.0), ("NESS", 105.5), ("B", 110.0), ("Etive", 200.0)]
    assert target.remove_top("etive") is None
    assert target.tops() == [("A", 100.0), ("NESS", 105.5), ("B", 110.0)]


def test_duplicates_from_a_file_are_never_chosen_between(geo, tmp_path):
    w = make_well(geo, tmp_path, tops=[("Top A", 10.0), ("TOP A", 20.0)])
    for call, message in [
        (lambda: w.remove_top("top a"), "parse error: top 'top a' is duplicated on bore ''; cannot choose one to remove"),
        (
            lambda: w.replace_top(" top a", 15),
            "parse error: top 'top a' is duplicated on bore ''; remove the legacy duplicates explicitly",
        ),
    ]:
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message
    assert w.tops() == [("Top A", 10.0), ("TOP A", 20.0)]


def test_a_well_changes_its_default_bore(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    w.set_default_bore("A")
    w.add_top("Ness", 500)
    w.replace_top("ness", 600)
    assert w.sidetrack("A").tops() == [("ness", 600.0)]
    assert w.sidetrack("").tops() == [("A", 100.0)]
    with pytest.raises(ValueError, match=r"^not found: top 'A' on bore 'A'$"):
        w.remove_top("A")


def test_an_interval_follows_its_top(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    interval = w.a
    w.replace_top("a", 104)
    assert (interval.name, interval.top_md) == ("a", 104.0)
    w.remove_top("A")
    with pytest.raises(ValueError, match=r"^top 'a' no longer present$"):
        interval.top_md


# ---- bores made by a change --------------------------------------------------------


@pytest.fixture
def lost_bore(geo, tmp_path):
    """A handle on bore B of a well that was loaded again without it."""
    w = multibore_well(geo, tmp_path, labels=("A", "B"))
    b = w.sidetrack("B")
    geo.delete_well("W")
    load_well(geo, "W", write_well(tmp_path / "again", bores={"A": [(0.0, 0.0), (10.0, 10.0)], "C": [(0.0, 0.0), (10.0, 10.0)]}))
    return w, b


@pytest.mark.parametrize(
    "call",
    [
        lambda b: b.tops(),
        lambda b: b.tvd(5),
        lambda b: b.log("GR"),
        lambda b: b.zone_stats("GR"),
        lambda b: b.net_zone_stats("GR"),
    ],
)
def test_readers_of_a_missing_bore_fail(lost_bore, call):
    _, b = lost_bore
    with pytest.raises(ValueError, match=r"^no bore 'B'$"):
        call(b)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda b: b.add_top("", 5), "parse error: top name cannot be empty"),
        (lambda b: b.add_top("X", math.nan), "out of range: top measured depth must be finite"),
        (lambda b: b.replace_top("X", 5), "not found: top 'X' on bore 'B'"),
        (lambda b: b.remove_top("X"), "not found: top 'X' on bore 'B'"),
        (lambda b: b.assign_log("GR", [1.0, 2.0], [1.0]), "parse error: log 'GR': md len 2 != values len 1"),
    ],
)
def test_a_refused_change_leaves_no_empty_bore(lost_bore, call, message):
    w, b = lost_bore
    with pytest.raises(ValueError) as info:
        call(b)
    assert str(info.value) == message
    assert w.bores() == ["", "A", "C"]


@pytest.mark.parametrize(
    "call, check",
    [
        (lambda b: b.add_top("X", 12345.0), lambda b: b.tops() == [("X", 12345.0)]),
        (lambda b: b.assign_log("GR", [1.0], [2.0]), lambda b: b.mnemonics() == ["GR"]),
    ],
)
def test_a_successful_change_adds_the_bore_last(lost_bore, call, check):
    w, b = lost_bore
    call(b)
    assert w.bores() == ["", "A", "C", "B"]
    assert check(b)
    assert b.md_range() is None  # a made bore has no trajectory: any finite md goes


def test_sidetrack_mutators_ignore_the_wells_default_and_guard(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    a = w.sidetrack("A")
    a.add_top("Ness", 500)
    a.replace_top("NESS", 400)
    a.add_top("Etive", 450)
    a.remove_top("etive")
    assert a.tops() == [("NESS", 400.0)]
    assert w.sidetrack("").tops() == [("A", 100.0)]
    with pytest.raises(ValueError, match=r"^parse error: top 'Ness' already exists on bore 'A'$"):
        a.add_top("Ness", 10)


# ---- tops from crossings -------------------------------------------------------------


def crossing(md, xyz, project=None, well=None, bore=None):
    return _voridez._surface_intersection(md, *xyz, well=well, bore=bore, surface="S", project=project)


def serial(geo):
    return _voridez._project_serial(geo)


def test_a_crossing_of_this_project_or_of_no_project_gives_its_depth(geo, tmp_path, target):
    # The main bore sits under (1000, 2000) with datum 25: at md 150 the
    # elevation is -125.
    own = crossing(150.0, (1000.0, 2000.0, -125.0), project=serial(geo), well="W", bore="")
    target.add_top("C", own)
    free = crossing(160.0, (1000.0, 2000.0, -135.0))
    target.replace_top("c", free)
    assert target.tops()[-1] == ("c", 160.0)


def test_a_crossing_of_another_project_is_refused_even_when_it_matches(geo, tmp_path, target):
    other = _voridez.GeoData()
    hits = [crossing(150.0, (1000.0, 2000.0, -125.0), project=serial(other), well="W", bore="")]
    # A project that is gone: its serial is never given to a later project.
    gone = _voridez.GeoData()
    hits.append(crossing(150.0, (1000.0, 2000.0, -125.0), project=serial(gone), well="W", bore=""))
    del gone
    hits.append(crossing(150.0, (1000.0, 2000.0, -125.0), project=serial(_voridez.GeoData())))
    for hit in hits:
        for call in (lambda: target.add_top("C", hit), lambda: target.replace_top("A", hit)):
            with pytest.raises(ValueError, match=r"^intersection belongs to a different project$"):
                call()
    assert target.tops() == [("A", 100.0), ("B", 110.0)]


@pytest.mark.parametrize(
    "hit, message",
    [
        (
            dict(md=150.0, xyz=(1000.0, 2000.0, -125.0), bore="A"),
            "geometry mismatch: intersection belongs to bore 'A', not ''",
        ),
        (dict(md=250.0, xyz=(1000.0, 2000.0, -225.0)), "out of range: intersection MD 250 is outside bore ''"),
        (
            dict(md=150.0, xyz=(1000.0, 2000.5, -125.0)),
            "geometry mismatch: intersection XYZ does not match bore '' at MD 150 (difference 0.5)",
        ),
    ],
)
def test_a_crossing_must_lie_on_the_bore(geo, target, hit, message):
    with pytest.raises(ValueError) as info:
        target.add_top("C", crossing(project=serial(geo), **hit))
    assert str(info.value) == message
    assert target.tops() == [("A", 100.0), ("B", 110.0)]


def test_a_crossing_of_another_well_is_refused_by_the_well_only(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    hit = crossing(150.0, (1000.0, 2000.0, -125.0), project=serial(geo), well="W2", bore="")
    with pytest.raises(ValueError) as info:
        w.add_top("C", hit)
    assert str(info.value) == "geometry mismatch: intersection belongs to well 'W2', not 'W'"
    # A bore handle checks the bore and the position, not the well.
    w.sidetrack("").add_top("C", hit)
    assert w.tops()[-1] == ("C", 150.0)


def test_the_guard_comes_before_the_depth_argument(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    with pytest.raises(ValueError, match="has 1 bores"):
        w.add_top("C", "not a depth")
    with pytest.raises(TypeError):
        w.add_top(5, "not a depth")
