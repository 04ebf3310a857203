"""`Interval`: the zone from one top down to the next, found again on the
well's accessor bore at every use."""

import math

import pytest

from voridez import _voridez
from well_fixtures import make_well, multibore_well, standard_well


@pytest.fixture
def geo():
    return _voridez.GeoData()


def test_zone_bounds(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    a, b = w.top("a"), w.top("B")
    assert (a.name, a.top_md, a.base_md, a.thickness_md()) == ("A", 100.0, 110.0, 10.0)
    # The deepest zone reaches the last station of the active trajectory.
    assert (b.top_md, b.base_md, b.thickness_md()) == (110.0, 200.0, 90.0)


def test_zones_of_tops_at_one_depth_and_without_trajectory(geo, tmp_path):
    w = make_well(geo, tmp_path, tops=[("A", 100.0), ("A2", 100.0), ("B", 150.0)])
    w.sidetrack("").assign_log("GR", [90.0, 100.0, 150.0, 160.0], [1.0, 2.0, 3.0, 4.0])
    assert w.A.thickness_md() == 0.0
    assert len(w.A.log("GR")) == 0
    assert w.A2.GR.count == 1
    deepest = w.B
    assert math.isnan(deepest.base_md) and math.isnan(deepest.thickness_md())
    view = deepest.log("gr")
    assert len(view) == 0
    assert view.at_md(150) is None
    stats = deepest.gr
    assert (stats.count, stats.sum) == (0, 0.0)
    assert math.isnan(stats.mean)
    assert repr(deepest) == 'Interval(name="B", top_md=150, base_md=NaN)'


def test_clipping_is_half_open_and_recorded(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    view = w.A.log("GR")
    md = view.md()
    assert md == [100 + 0.5 * k for k in range(20)]  # 100 belongs here, 110 to B
    assert w.B.log("GR").md()[0] == 110.0
    assert view.history() == ["log.new", "log.clip(top_md=100, base_md=110)"]
    w.replace_top("B", 151.25)
    w.replace_top("A", 150)
    assert w.A.log("GR").history()[-1] == "log.clip(top_md=150, base_md=151.25)"


def test_attributes_give_log_statistics_within_the_zone(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    for name in ("GR", "gr", "Gr"):
        stats = getattr(w.A, name)
        assert type(stats) is _voridez.Stats
        assert stats.count == 20
        assert stats.min == 10.0 and stats.max == 10.95
    with pytest.raises(AttributeError) as info:
        w.A.RHOB
    assert str(info.value) == "'Interval' object has no attribute or log 'RHOB'"
    assert not hasattr(w.A, "RHOB")
    with pytest.raises(AttributeError) as info:
        w.A._gr
    assert str(info.value) == "_gr"
    # Members come first.
    assert w.A.name == "A"


def test_keys_differing_in_case_resolve_to_one_zone(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    assert w.top("a").GR.sum == w.top("A").GR.sum == w.a.gr.sum


def test_representation(geo, tmp_path):
    w = make_well(geo, tmp_path, bores={"": [(0.0, 0.0), (151.25, 151.25)]}, tops=[('Top "C"\\', 150.0)])
    assert repr(w.top('top "c"\\')) == 'Interval(name="Top \\"C\\"\\\\", top_md=150, base_md=151.25)'


@pytest.mark.parametrize(
    "call",
    [
        lambda i: i.name,
        lambda i: i.top_md,
        lambda i: i.base_md,
        lambda i: i.thickness_md(),
        lambda i: i.log("GR"),
        lambda i: i.GR,
        lambda i: hasattr(i, "GR"),
        lambda i: repr(i),
    ],
)
def test_a_removed_top_or_well_fails_every_member(geo, tmp_path, call):
    w = standard_well(geo, tmp_path)
    interval = w.a
    w.remove_top("A")
    with pytest.raises(ValueError, match=r"^top 'a' no longer present$"):
        call(interval)
    geo.delete_well("W")
    with pytest.raises(ValueError, match=r"^no well 'W'$"):
        call(interval)


def test_resolves_on_the_accessor_bore_without_a_guard(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    w.sidetrack("A").add_top("A", 95)
    interval = w.A
    assert interval.top_md == 100.0  # the main bore's top: no default bore
    assert interval.GR.min == 10.0
    w.set_default_bore("A")
    assert interval.top_md == 95.0
    assert interval.GR.min == 10.5
