"""Views over many wells: counting and handing out wells, narrowing by a
predicate and by a top, attribute broadcasting to tops and per-well log
statistics, and identifiers whose well is gone."""

import inspect

import pytest

from voridez import GeoData, Stats, Well, WellsView
from view_fixtures import add_well, load_tops

DEPTHS = [float(d) for d in range(100, 900, 10)]


@pytest.fixture
def field(tmp_path):
    """A, B, C: A and C carry the top Base, B carries Top; A has PHIE and GR,
    C only GR."""
    geo = GeoData()
    add_well(geo, tmp_path, "A", bores={"": 1000}, logs={"": (DEPTHS, {"PHIE": [d / 1000 for d in DEPTHS], "GR": [50.0] * 80})})
    add_well(geo, tmp_path, "B", bores={"": 1000}, logs={"": (DEPTHS, {"PHIE": [0.2] * 80})})
    add_well(geo, tmp_path, "C", bores={"": 1000}, logs={"": (DEPTHS, {"GR": [70.0] * 80})})
    load_tops(geo, tmp_path, [("A", "Base", 300), ("B", "Top", 200), ("C", "Base", 500)])
    return geo


def ids(view):
    return [w.id for w in view.iter()]


def test_counts_and_representation(field):
    view = field.wells
    assert (view.len(), len(view), view.is_empty(), repr(view)) == (3, 3, False, "WellsView(len=3)")
    wells = view.iter()
    assert [type(w) for w in wells] == [Well] * 3
    assert ids(view) == ["A", "B", "C"]
    assert GeoData().wells.is_empty() and repr(GeoData().wells) == "WellsView(len=0)"


def test_a_view_is_not_iterable_itself(field):
    with pytest.raises(TypeError):
        for _ in field.wells:
            pass
    assert [w.id for w in field.wells.iter()] == ["A", "B", "C"]


def test_deleted_wells_still_count_but_are_skipped_where_read(field):
    view = field.wells
    field.delete_well("B")
    assert view.len() == 3 and ids(view) == ["A", "B", "C"]
    with pytest.raises(ValueError, match="no well 'B'"):
        view.iter()[1].kb
    assert ids(view.tops("Base")) == ["A", "C"]
    assert ids(field.wells) == ["A", "C"]
    assert list(view.zone_table("GR")["bore"]) == ["A", "C"]


def test_filter(field):
    seen = []

    def pred(well):
        seen.append(well.id)
        return well.id != "B"

    narrowed = field.wells.filter(pred)
    assert ids(narrowed) == ["A", "C"] and seen == ["A", "B", "C"]
    assert ids(field.wells.filter(lambda w: [])) == []  # Python truth testing
    # the project is not held while pred runs: pred may change it
    assert ids(field.wells.filter(lambda w: field.set_tags([w.id]) is None)) == ["A", "B", "C"]
    assert field.tags == ["C"]
    # an empty view never calls pred, so anything passes as pred there
    assert GeoData().wells.filter(None).is_empty()


def test_filter_stops_at_the_first_exception(field):
    seen = []

    def pred(well):
        seen.append(well.id)
        if well.id == "B":
            raise KeyError("stop")
        return True

    with pytest.raises(KeyError):
        field.wells.filter(pred)
    assert seen == ["A", "B"]

    class Untruthful:
        def __bool__(self):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        field.wells.filter(lambda w: Untruthful())


def test_tops_narrow_and_remember(field):
    base = field.wells.tops("Base")
    assert ids(base) == ["A", "C"]
    assert ids(field.wells.tops("base")) == ["A", "C"]  # tops match case-insensitively
    assert field.wells.tops("Nowhere").is_empty()
    # a later tops replaces the remembered top; filter keeps it
    assert ids(base.tops("Top")) == []
    filtered = base.filter(lambda w: True)
    assert [s.count for s in filtered.PHIE] == [60]
    with pytest.raises(TypeError) as info:
        field.wells.tops(1)
    assert "while processing 'name'" in info.value.__notes__


def test_attribute_access_narrows_then_resolves_logs(field):
    base = field.wells.Base
    assert isinstance(base, WellsView) and ids(base) == ["A", "C"]
    # with a top remembered, a name is a log: one Stats per well having it in the zone
    phie = base.PHIE
    assert [type(s) for s in phie] == [Stats]
    assert phie[0].count == 60 and phie[0].mean == pytest.approx(sum(d / 1000 for d in DEPTHS if d >= 300) / 60)
    gr = field.wells.tops("Base").gr
    assert [s.mean for s in gr] == [50.0, 70.0]
    assert field.wells.tops("Base").NOPE == []
    # members win over tops and logs of the same name
    assert callable(field.wells.tops("Base").filter)


@pytest.mark.parametrize("name", ["_private", "__len__x"])
def test_underscore_names_never_broadcast(field, tmp_path, name):
    load_tops(field, tmp_path, [("A", name, 250)])
    with pytest.raises(AttributeError) as info:
        getattr(field.wells, name)
    assert str(info.value) == name


def test_a_top_no_well_carries(field):
    with pytest.raises(AttributeError) as info:
        field.wells.Nowhere
    assert str(info.value) == "no well in this view carries top 'Nowhere'"
    assert not hasattr(field.wells, "Nowhere")


def test_multibore_wells_are_judged_on_their_accessor_bore(tmp_path):
    geo = GeoData()
    add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900})
    load_tops(geo, tmp_path, [("M L1", "Deep", 500)])
    # two positioned bores, no default: the main bore decides, which has no tops
    assert geo.wells.tops("Deep").is_empty()
    geo.well("M").set_default_bore("L1")
    assert ids(geo.wells.tops("Deep")) == ["M"]


def test_no_constructor_and_help(field):
    with pytest.raises(TypeError):
        WellsView()
    assert WellsView.__doc__.splitlines()[0] == "A lightweight, broadcastable, filterable view over a project's wells."
    assert str(inspect.signature(field.wells.tops)) == "(name)"
    assert str(inspect.signature(field.wells.intersections)) == "(surface, tolerance=0.001)"
    assert inspect.signature(field.wells.view).parameters["template"].kind is inspect.Parameter.KEYWORD_ONLY
