"""Zone tables as pandas data frames: the three shapes, rounding, empty
cells, net conditioning, the stratigraphic order of the zone categories
across bores, the arguments, and pandas as an optional dependency."""

import math
import sys
import types

import pandas as pd
import pytest

from voridez import GeoData, NetSettings
from view_fixtures import add_well, load_tops

DEPTHS = [float(d) for d in range(100, 900, 10)]


def logs(depths=DEPTHS, phie=lambda d: d / 3000, sw=lambda d: 0.3):
    return (depths, {"PHIE": [phie(d) for d in depths], "SW": [sw(d) for d in depths]})


@pytest.fixture
def field(tmp_path):
    """W1 carries the zones B and C, W2 the zones A, B and C; the tops file
    makes the project's column A, B, C. PHIE = md / 3000, SW = 0.3."""
    geo = GeoData()
    add_well(geo, tmp_path, "W1", bores={"": 1000}, logs={"": logs()})
    add_well(geo, tmp_path, "W2", bores={"": 1000}, logs={"": logs()})
    load_tops(geo, tmp_path, [("W1", "B", 300), ("W1", "C", 500), ("W2", "A", 200), ("W2", "B", 400), ("W2", "C", 600)])
    return geo


def mean_phie(top, base, depths=DEPTHS):
    inside = [d / 3000 for d in depths if top <= d < base]
    return sum(inside) / len(inside)


# ---- shapes ---------------------------------------------------------------------


def test_tidy_frame(field):
    df = field.wells.zone_table("PHIE", stats=["mean", "count"])
    assert list(df.columns) == ["zone", "bore", "mean", "count"]
    assert isinstance(df.index, pd.RangeIndex)
    assert list(df["bore"]) == ["W1", "W1", "W2", "W2", "W2"]
    assert list(df["zone"]) == ["B", "C", "A", "B", "C"]
    assert df["mean"].dtype == "float64" and df["count"].dtype == "float64"
    assert df["mean"][0] == pytest.approx(mean_phie(300, 500))
    assert df["count"].tolist() == [20.0, 40.0, 20.0, 20.0, 30.0]


def test_zone_categories_follow_the_column_not_the_first_bore(field):
    # W1 meets B and C before W2 brings A: first-met order would be B, C, A.
    df = field.wells.zone_table("PHIE")
    zone = df["zone"]
    assert zone.dtype == "category" and zone.cat.ordered
    assert list(zone.cat.categories) == ["A", "B", "C"]
    assert list(df.sort_values("zone", kind="stable")["zone"]) == ["A", "B", "B", "C", "C"]
    # the order survives a pivot
    assert list(field.wells.zone_table("PHIE", pivot=True).index) == ["A", "B", "C"]


def test_zones_outside_the_column_follow_in_the_order_met(tmp_path, field):
    add_well(field, tmp_path, "W3", bores={"": 1000}, logs={"": logs()}, tops=[("Q", 150), ("P", 250)])
    df = field.wells.zone_table("PHIE")
    assert list(df["zone"].cat.categories) == ["A", "B", "C", "Q", "P"]
    # a project without a column keeps the order met
    geo = GeoData()
    add_well(geo, tmp_path, "V", bores={"": 1000}, logs={"": logs()}, tops=[("Q", 150), ("P", 250)])
    assert list(geo.wells.zone_table("PHIE")["zone"].cat.categories) == ["Q", "P"]


def test_categories_list_only_zones_with_rows(field):
    df = field.wells.zone_table("PHIE", zones=["b", "C"])
    assert list(df["zone"].cat.categories) == ["B", "C"]
    assert sorted(set(df["zone"])) == ["B", "C"]


@pytest.mark.parametrize(
    "stats, columns",
    [
        (["mean"], ["W1", "W2"]),
        (["mean", "count"], [("mean", "W1"), ("mean", "W2"), ("count", "W1"), ("count", "W2")]),
        # one statistic asked for twice is still one statistic: flat columns
        (["mean", "mean"], ["W1", "W2"]),
    ],
)
def test_pivoted_frame(field, stats, columns):
    df = field.wells.zone_table("PHIE", stats=stats, pivot=True)
    assert df.index.name == "zone"
    assert list(df.columns) == columns
    assert df.columns.names[-1] == "bore"
    assert math.isnan(df.loc["A", columns[0]])  # W1 has no zone A


def test_aggregated_frame(field):
    df = field.wells.zone_table("PHIE", stats=["mean", "count"], aggregate=True)
    assert list(df.index.names) == ["zone", "bore"]
    assert list(df.columns) == ["mean", "count"]
    # zone blocks in the column's order, each opened by its pooled row
    assert list(df.index) == [("A", "all"), ("A", "W2"), ("B", "all"), ("B", "W1"), ("B", "W2"),
                              ("C", "all"), ("C", "W1"), ("C", "W2")]
    assert all(type(z) is str for z in df.index.get_level_values("zone"))
    assert df.loc[("B", "all"), "count"] == 40.0
    pooled = [d / 3000 for d in DEPTHS if 300 <= d < 500] + [d / 3000 for d in DEPTHS if 400 <= d < 600]
    assert df.loc[("B", "all"), "mean"] == pytest.approx(sum(pooled) / len(pooled))


def test_decimals_round_the_final_frame(field):
    df = field.wells.zone_table("PHIE", pivot=True, decimals=2)
    raw = field.wells.zone_table("PHIE", pivot=True)
    assert df.loc["B", "W1"] == round(raw.loc["B", "W1"], 2) != raw.loc["B", "W1"]
    assert df.equals(raw.round(2))
    tidy = field.wells.zone_table("PHIE", stats=["mean", "std"], decimals=3)
    assert tidy["std"].tolist() == [round(v, 3) for v in field.wells.zone_table("PHIE", stats=["std"])["std"]]


def test_duplicate_statistics_give_one_column(field):
    df = field.wells.zone_table("PHIE", stats=["mean", "count", "mean"])
    assert list(df.columns) == ["zone", "bore", "mean", "count"]
    agg = field.wells.zone_table("PHIE", stats=["count", "count"], aggregate=True)
    assert list(agg.columns) == ["count"]


def test_empty_statistics_give_zone_and_bore_only(field):
    df = field.wells.zone_table("PHIE", stats=[])
    assert list(df.columns) == ["zone", "bore"]
    assert len(df) == 5


# ---- cells ------------------------------------------------------------------------


def test_empty_cells_are_dropped_unless_asked_for(tmp_path):
    geo = GeoData()
    # logs from 400 on: the zone A [200, 400) has no sample
    add_well(geo, tmp_path, "W", bores={"": 1000}, logs={"": logs([float(d) for d in range(400, 900, 10)])},
             tops=[("A", 200), ("B", 400)])
    df = geo.well("W").zone_table("PHIE", stats=["mean", "count", "gross"])
    assert list(df["zone"]) == ["B"]
    df = geo.well("W").zone_table("PHIE", stats=["mean", "count", "gross"], include_empty=True)
    assert list(df["zone"]) == ["A", "B"]
    assert math.isnan(df["mean"][0]) and df["count"][0] == 0.0 and df["gross"][0] == 200.0
    # a curve the bore lacks still gives its zones with include_empty
    df = geo.well("W").zone_table("NOPE", stats=["gross"], include_empty=True)
    assert df["gross"].tolist() == [200.0, 600.0]
    assert len(geo.well("W").zone_table("NOPE")) == 0


def test_net_conditioning(field):
    # PHIE >= 0.15 means md >= 450: in W1's zone B [300, 500) md 450..490
    cut = NetSettings(phi_min=0.15, sw_max=0.5, vsh_max=0.5)
    df = field.well("W1").zone_table("PHIE", stats=["mean", "count"], cut=cut)
    assert df["count"].tolist() == [5.0, 40.0]
    assert df["mean"][0] == pytest.approx(mean_phie(450, 500))
    # the water-saturation cutoff and the curve names take part
    assert len(field.well("W1").zone_table("PHIE", cut=NetSettings(phi_min=0.0, sw_max=0.2))) == 0
    assert len(field.well("W1").zone_table("PHIE", cut=NetSettings(phi_min=0.0), sw="NOSW")) == 0
    assert field.well("W1").zone_table("PHIE", stats=["count"], cut=NetSettings(phi_min=0.0),
                                       phi="SW")["count"].tolist() == [20.0, 40.0]
    # without cut the conditioning names are inert
    assert field.well("W1").zone_table("PHIE", sw="NOSW")["mean"][0] == pytest.approx(mean_phie(300, 500))


def test_weighted_by_sample_span(tmp_path):
    # two samples at 300 and 310, then one at 400: thickness weights 10, 50, 90
    geo = GeoData()
    depths = [300.0, 310.0, 400.0]
    add_well(geo, tmp_path, "W", bores={"": 1000},
             logs={"": (depths, {"PHIE": [0.1, 0.2, 0.4], "SW": [0.3] * 3})}, tops=[("A", 300), ("B", 500)])
    w = geo.well("W")
    assert w.zone_table("PHIE", weighted=False)["mean"][0] == pytest.approx(0.7 / 3)
    assert w.zone_table("PHIE")["mean"][0] == pytest.approx((0.1 * 10 + 0.2 * 50 + 0.4 * 90) / 150)


# ---- bores -------------------------------------------------------------------------


@pytest.fixture
def multibore(tmp_path):
    geo = GeoData()
    add_well(geo, tmp_path, "15/9-A1", bores={"L1": 1000, "L2": 900}, logs={"L1": logs(), "L2": logs()})
    load_tops(geo, tmp_path, [("15/9-A1 L1", "A", 200), ("15/9-A1 L2", "A", 300)])
    return geo


def test_multibore_well_without_default_gives_every_bore(multibore):
    well = multibore.well("15/9-A1")
    assert well.is_multibore and well.default_bore is None
    df = well.zone_table("PHIE")
    assert list(df["bore"]) == ["L1", "L2"]
    assert list(multibore.wells.zone_table("PHIE")["bore"]) == ["15/9-A1 L1", "15/9-A1 L2"]


def test_main_bore_rows_are_labelled_by_the_empty_label(field):
    assert list(field.well("W1").zone_table("PHIE")["bore"]) == ["", ""]
    assert list(field.wells.zone_table("PHIE")["bore"])[:2] == ["W1", "W1"]


# ---- arguments and failures ----------------------------------------------------------


@pytest.mark.parametrize(
    "kwargs, error, text",
    [
        ({"stats": "mean"}, TypeError, "Can't extract `str` to `Vec`"),
        ({"zones": "A"}, TypeError, "Can't extract `str` to `Vec`"),
        ({"stats": ["mean", 1]}, TypeError, None),
        ({"pivot": 1}, TypeError, None),
        ({"include_empty": None}, TypeError, None),
        ({"weighted": None}, TypeError, None),
        ({"decimals": 2.0}, TypeError, None),
        ({"decimals": 2**70}, OverflowError, None),
        ({"cut": object()}, TypeError, None),
        ({"phi": None}, TypeError, None),
        ({"vsh": 1}, TypeError, None),
    ],
)
def test_argument_errors(field, kwargs, error, text):
    with pytest.raises(error) as info:
        field.well("W1").zone_table("PHIE", **kwargs)
    name = next(iter(kwargs))
    assert f"while processing '{name}'" in info.value.__notes__
    if text:
        assert str(info.value) == text


def test_statistic_names_are_checked_first(field):
    expected = (
        "zone_table: unknown stat 'Mean' (expected one of: mean, sum, count, min, max, std, p10, p50, p90, "
        "samples, gross)"
    )
    for kwargs in ({}, {"pivot": True, "aggregate": True}):
        with pytest.raises(ValueError) as info:
            field.wells.zone_table("PHIE", stats=["mean", "Mean"], **kwargs)
        assert str(info.value) == expected
    with pytest.raises(ValueError) as info:
        field.well("W1").zone_table("PHIE", pivot=True, aggregate=True)
    assert str(info.value) == "zone_table: use either pivot=True or aggregate=True, not both"


def test_a_deleted_well_is_reported_before_the_statistics(field):
    well = field.well("W1")
    field.delete_well("W1")
    with pytest.raises(ValueError) as info:
        well.zone_table("PHIE", stats=["bogus"])
    assert str(info.value) == "no well 'W1'"
    # the view still lists W1 and skips it
    assert list(field.wells.zone_table("PHIE")["bore"]) == ["W2", "W2", "W2"]


def test_without_pandas_the_call_raises_import_error(field, monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    for call in (field.well("W1").zone_table, field.wells.zone_table):
        with pytest.raises(ImportError) as info:
            call("PHIE")
        assert str(info.value) == "zone_table requires pandas \u2014 `pip install pandas`"
        assert info.value.__context__ is None and info.value.__cause__ is None
    # the statistics and the options are still checked before the import
    with pytest.raises(ValueError):
        field.wells.zone_table("PHIE", stats=["bogus"])


class RecordingPandas(types.ModuleType):
    """A stand-in for pandas that records the calls the builder makes and
    tries to change the project from inside them."""

    def __init__(self, geo):
        super().__init__("pandas")
        self.calls = []
        self.geo = geo

    def Categorical(self, values, **kwargs):
        self.calls.append(("Categorical", values, kwargs))
        return ("categorical", tuple(values))

    def DataFrame(self, columns):
        self.calls.append(("DataFrame", list(columns)))
        try:
            self.geo.set_tags(["changed"])
        except RuntimeError as e:
            self.calls.append(("blocked", str(e)))
        return RecordingFrame(self.calls)


class RecordingFrame:
    def __init__(self, calls):
        self.calls = calls

    def pivot(self, *args, **kwargs):
        self.calls.append(("pivot", args, list(kwargs.items())))
        return self

    def set_index(self, *args, **kwargs):
        self.calls.append(("set_index", args, kwargs))
        return self

    def round(self, *args, **kwargs):
        self.calls.append(("round", args, kwargs, [type(a) for a in args]))
        return self


def test_the_exact_pandas_calls_and_the_project_held_meanwhile(field, monkeypatch):
    fake = RecordingPandas(field)
    monkeypatch.setitem(sys.modules, "pandas", fake)
    field.wells.zone_table("PHIE", stats=["mean", "count"], pivot=True, decimals=2)
    assert fake.calls == [
        ("Categorical", ["B", "C", "A", "B", "C"], {"categories": ["A", "B", "C"], "ordered": True}),
        ("DataFrame", ["zone", "bore", "mean", "count"]),
        ("blocked", "Already borrowed"),
        ("pivot", (), [("index", "zone"), ("columns", "bore"), ("values", ["mean", "count"])]),
        ("round", (2,), {}, [int]),
    ]
    fake.calls.clear()
    field.well("W1").zone_table("PHIE", aggregate=True)
    assert fake.calls == [
        ("DataFrame", ["zone", "bore", "mean"]),
        ("blocked", "Already borrowed"),
        ("set_index", (["zone", "bore"],), {}),
    ]
    assert field.tags == []
    fake.calls.clear()
    field.wells.zone_table("PHIE", pivot=True)
    assert fake.calls[-1] == ("pivot", (), [("index", "zone"), ("columns", "bore"), ("values", "mean")])


def test_a_pandas_failure_propagates_unchanged(field, monkeypatch):
    class Broken(types.ModuleType):
        def Categorical(self, *args, **kwargs):
            raise KeyError("boom")

    monkeypatch.setitem(sys.modules, "pandas", Broken("pandas"))
    with pytest.raises(KeyError) as info:
        field.wells.zone_table("PHIE")
    assert info.value.args == ("boom",)
    # nothing stays borrowed
    field.set_tags(["ok"])


def test_help_and_signature(field):
    import inspect

    sig = "(self, /, curve, stats=None, zones=None, include_empty=False, pivot=False, aggregate=False, " \
          "weighted=True, decimals=None, cut=None, phi='PHIE', sw='SW', vsh=None)"
    assert str(inspect.signature(field.well("W1").zone_table)) == sig.replace("self, /, ", "")
    doc = type(field.well("W1")).zone_table.__doc__
    assert doc.splitlines()[0] == "A tidy per-`zone \u00d7 bore` table of `curve` across this well's bores, as a"
    assert doc.splitlines()[-1] == "none \u2014 inert without `cut`). Requires pandas."
    assert len(doc.splitlines()) == 17
