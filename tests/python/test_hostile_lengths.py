"""Sequence arguments whose len() lies. A sequence class may claim far more
items than it yields (or fewer): every entry point takes exactly the items
the iteration yields, so the call gives what the honest list gives (its
result, or the same error) and never a native RuntimeError or a MemoryError
from making room for items that never come."""

import sys

import pytest

from voridez import GeoData, IngestSpec, PointSet, PolygonSet, Stats, Surface, Trajectory
from project_files import irap_grid
from well_fixtures import standard_well


class Indexed:
    """Yields `items` through indexing (the interpreter's sequence
    iteration), while len() says `claimed`."""

    def __init__(self, items, claimed):
        self.items = list(items)
        self.claimed = claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, k):
        if isinstance(k, int) and 0 <= k < len(self.items):
            return self.items[k]
        raise IndexError(k)


class Iterated(Indexed):
    """The same lie with an iterator of its own."""

    def __iter__(self):
        return iter(self.items)


LIES = [
    ("2**60", lambda items: Indexed(items, 2**60)),
    ("maxsize", lambda items: Indexed(items, sys.maxsize)),
    ("maxsize, own iterator", lambda items: Iterated(items, sys.maxsize)),
    ("zero", lambda items: Indexed(items, 0)),
    ("one", lambda items: Iterated(items, 1)),
]


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    """One of each object the entry points below are called on."""
    tmp = tmp_path_factory.mktemp("hostile")
    geo = GeoData()
    well = standard_well(geo, tmp)
    surface = geo.load_surface("s", irap_grid(tmp / "s.irap", 3, 3, [1, 2, 3, 2, 3, 4, 3, 4, 5]))
    geo.set_element_tags("s", ["base"])
    src = str(tmp / "src.zedod")
    geo.save(src)
    points = PointSet.from_xyz([0.0, 1.0, 0.0, 1.0, 0.5], [0.0, 0.0, 1.0, 1.0, 0.5], [1.0, 2.0, 3.0, 4.0, 5.0])
    return {
        "tmp": tmp,
        "geo": geo,
        "well": well,
        "surface": surface,
        "src": src,
        "points": points,
        "tri": points.to_tri_surface(),
        "mesh": Surface.constant(geo.surface("s").geometry, 0.0).to_structured_mesh(),
        "polygons": PolygonSet.from_rings([[[0, 0], [1, 0], [1, 1]], [[5, 5], [6, 5], [6, 6]]]),
        "count": iter(range(10**6)),
    }


def fresh_project():
    geo = GeoData()
    geo.put_model_section("m", [], 1, b"x")
    return geo


def model_section_tags(tags):
    geo = fresh_project()
    geo.put_model_section("n", tags, 1, b"y")
    return geo.model_section("n")


def copied(w, copy, selection):
    dst = str(w["tmp"] / f"out{next(w['count'])}.zedod")
    copy(w["src"], dst, selection)
    return GeoData.inspect(dst)["elements"]


def assigned_log(w, md, values):
    bore = w["well"].sidetrack("")
    bore.assign_log("X", md, values, overwrite=True)
    return bore.log("X").values()


def element_tags_then_export(w, tags):
    geo = GeoData()
    geo.load_surface("t", str(w["tmp"] / "s.irap"))
    geo.set_element_tags("t", tags)
    src = str(w["tmp"] / f"tagged{next(w['count'])}.zedod")
    geo.save(src)
    return copied(dict(w, src=src), GeoData.export, ["y"])


# Each case: an entry point called with its sequence arguments passed through
# `s` (the honest list itself, or a liar yielding the same items), and what
# the honest call ends in: "result" (the value returned is what calls are
# compared by) or the class of its error.
CASES = {
    "Stats.geomean": ("result", lambda w, s: Stats.geomean(s([1.0, 2.0, 4.0]))),
    "Stats.geomean, a bad item": ("TypeError", lambda w, s: Stats.geomean(s([1.0, "2"]))),
    "PointSet.from_xyz": (
        "result",
        lambda w, s: PointSet.from_xyz(s([0.0, 1.0]), s([2.0, 3.0]), s([4.0, 5.0])).xyz(),
    ),
    "PointSet.from_xyz, lengths differ": (
        "ValueError",
        lambda w, s: PointSet.from_xyz(s([0.0, 1.0]), s([2.0]), s([4.0, 5.0])),
    ),
    "PointSet.set_attr": (
        "result",
        lambda w, s: (w["points"].set_attr("a", s([1.0, 2.0, 3.0, 4.0, 5.0])), w["points"].attr("a")),
    ),
    "PointSet.set_attr, too short": ("ValueError", lambda w, s: w["points"].set_attr("b", s([1.0, 2.0]))),
    "PolygonSet.from_rings": (
        "result",
        lambda w, s: PolygonSet.from_rings(
            s([s([s([0.0, 0.0]), s([4.0, 0.0, 1.0]), s([4.0, 3.0])]), s([[9.0, 9.0], [9.0, 8.0], [8.0, 8.0]])])
        ).rings(),
    ),
    "PolygonSet.from_rings, a vertex without y": (
        "ValueError",
        lambda w, s: PolygonSet.from_rings(s([s([s([0.0]), [1.0, 1.0]])])),
    ),
    "PolygonSet.set_attr": (
        "result",
        lambda w, s: (w["polygons"].set_attr("a", s([7.0, 8.0])), list(w["polygons"].attr("a"))),
    ),
    "Trajectory.from_stations": (
        "result",
        lambda w, s: Trajectory.from_stations(
            s([(0.0, 0.0, 0.0), (50.0, 10.0, 45.0), (120.0, 20.0, 90.0)]), (1.0, 2.0), 5.0
        ).xyz(100.0),
    ),
    "Trajectory.from_stations, a list for a station": (
        "TypeError",
        lambda w, s: Trajectory.from_stations(s([(0.0, 0.0, 0.0), [50.0, 0.0, 0.0]]), (1.0, 2.0), 5.0),
    ),
    "TriSurface.set_attr": (
        "result",
        lambda w, s: w["tri"].set_attr("a", s([1.0, 2.0, 3.0, 4.0, 5.0])).attr("a").values(),
    ),
    "StructuredMeshSurface.set_attr": (
        "result",
        lambda w, s: w["mesh"]
        .set_attr("a", s([s([1.0, 2.0, 3.0]), s([4.0, 5.0, 6.0]), s([7.0, 8.0, 9.0])]))
        .attr("a")
        .values(),
    ),
    "StructuredMeshSurface.set_attr, a short row": (
        "ValueError",
        lambda w, s: w["mesh"].set_attr("a", s([s([1.0, 2.0, 3.0]), s([4.0, 5.0]), s([7.0, 8.0, 9.0])])),
    ),
    "Surface.iso_lines": ("result", lambda w, s: w["surface"].iso_lines(levels=s([2.5, 3.5]))),
    "LogView.at_md_many": ("result", lambda w, s: w["well"].log("GR").at_md_many(s([95.0, 100.25, 200.0]))),
    "Sidetrack.assign_log": (
        "result",
        lambda w, s: assigned_log(w, s([100.0, 101.0, 102.0]), s([1.0, 2.0, 3.0])),
    ),
    "Sidetrack.assign_log, lengths differ": (
        "ValueError",
        lambda w, s: assigned_log(w, s([100.0, 101.0]), s([1.0, 2.0, 3.0])),
    ),
    "Well.zone_table": (
        "result",
        lambda w, s: w["well"].zone_table("GR", stats=s(["mean", "max"]), zones=s(["A"])).to_dict(),
    ),
    "Well.view": ("result", lambda w, s: w["well"].view(curves=s(["PHIE"]), flags=s(["x"])).bundle()),
    "GeoData.set_tags": ("result", lambda w, s: (lambda g: (g.set_tags(s(["b", "a", "b"])), g.tags))(GeoData())),
    "GeoData.set_tags, a number": ("TypeError", lambda w, s: GeoData().set_tags(s(["a", 5]))),
    "GeoData.set_element_tags": ("result", lambda w, s: element_tags_then_export(w, s(["x", "y"]))),
    "GeoData.put_model_section": ("result", lambda w, s: model_section_tags(s(["t1", "t2"]))),
    "GeoData.split": ("result", lambda w, s: copied(w, GeoData.split, s(["s", "W"]))),
    "GeoData.export": ("result", lambda w, s: copied(w, GeoData.export, s(["base"]))),
    "IngestSpec strat_hints": (
        "result",
        lambda w, s: IngestSpec(strat_hints=s([s(["A", "B"]), ("B", "C")])).strat_hints,
    ),
}


def outcome(call):
    """The call's result in a comparable form, or its error's class and
    text."""
    try:
        return ("result", repr(call()))
    except (RuntimeError, MemoryError):
        raise
    except Exception as e:  # noqa: BLE001 - every error is compared
        return ("error", type(e).__name__, str(e))


@pytest.mark.parametrize("lie", [f for _, f in LIES], ids=[n for n, _ in LIES])
@pytest.mark.parametrize("case", list(CASES))
def test_a_lying_length_gives_what_the_honest_sequence_gives(world, case, lie):
    expect, call = CASES[case]
    honest = outcome(lambda: call(world, list))
    assert honest[0] == "result" if expect == "result" else honest[1] == expect, honest
    assert outcome(lambda: call(world, lie)) == honest
