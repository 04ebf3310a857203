"""`LogView`: one curve, whole or clipped to a zone, resolved again on every
call."""

import array
import math

import numpy as np
import pytest

from voridez import _voridez
from well_fixtures import DEPTHS, make_well, multibore_well, standard_well


@pytest.fixture
def geo():
    return _voridez.GeoData()


def curve_view(geo, tmp_path, md, values, mnemonic="X"):
    """A view of a curve assigned on the main bore of a well without
    trajectory."""
    w = make_well(geo, tmp_path)
    w.sidetrack("").assign_log(mnemonic, md, values)
    return w.log(mnemonic)


def test_method_table_order():
    names = [n for n in vars(_voridez.LogView) if not n.startswith("__")]
    assert names == ["stats", "geomean", "values", "history", "md", "at_md", "at_md_many", "values_md"]


def test_arrays_and_summaries(geo, tmp_path):
    view = curve_view(geo, tmp_path, [1.0, 2.0, 3.0, 4.0, 5.0], [1.0, math.nan, 4.0, 16.0, -2.0])
    assert view.md() == [1.0, 2.0, 3.0, 4.0, 5.0]
    values = view.values()
    assert values[0] == 1.0 and math.isnan(values[1]) and values[2:] == [4.0, 16.0, -2.0]
    vals, mds = view.values_md()
    assert mds == view.md()
    assert vals[2:] == values[2:]
    assert view.stats().count == 4
    assert view.geomean() == pytest.approx(4.0)  # of 1, 4 and 16
    assert len(view) == 5
    assert view.history() == ["log.new", "sidetrack.assign_log(name=X)"]


NAN = math.nan


@pytest.mark.parametrize(
    "md, values, at, want",
    [
        ([100, 101], [1, 3], 100.5, 2.0),
        ([100, 101], [1, 3], 100, 1.0),
        ([100, 101], [1, 3], 101, 3.0),
        ([100, 101], [1, 3], 99.999, None),
        ([100, 101], [1, 3], 101.001, None),
        ([100, 101], [1, 3], NAN, None),
        ([100, 100, 101], [1, 2, 3], 100, 1.0),  # a shared first depth takes the first sample
        ([100, 101, 102], [1, NAN, 5], 100.5, NAN),
        ([100, 101, 103], [0, 10, 30], 102, 20.0),
        # One sample: its own value at its depth, nothing anywhere else.
        ([100], [7], 100, 7.0),
        ([100], [7], 100.5, None),
        ([100], [7], 99.5, None),
        ([], [], 100, None),
    ],
)
def test_at_md(geo, tmp_path, md, values, at, want):
    view = curve_view(geo, tmp_path, md, values)
    got, many = view.at_md(at), view.at_md_many([at, at])
    for answer in (got, *many):
        if want is None:
            assert answer is None
        elif math.isnan(want):
            assert math.isnan(answer)
        else:
            assert answer == want


def test_at_md_many_takes_any_sequence_of_numbers(geo, tmp_path):
    view = curve_view(geo, tmp_path, [100.0, 101.0], [1.0, 3.0])
    want = [None, 1.0, 2.0, 3.0, None]
    depths = [99.0, 100.0, 100.5, 101.0, 102.0]
    for seq in (depths, tuple(depths), np.array(depths), np.array(depths, dtype=np.float32), array.array("d", depths)):
        assert view.at_md_many(seq) == want
    assert view.at_md_many([]) == []
    with pytest.raises(TypeError) as info:
        view.at_md_many("100")
    assert str(info.value) == "Can't extract `str` to `Vec`"
    assert info.value.__notes__ == ["while processing 'depths'"]
    with pytest.raises(TypeError) as info:
        view.at_md("100")
    assert info.value.__notes__ == ["while processing 'md'"]


def test_representation_keeps_the_callers_spelling(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    assert repr(w.log("gr")) == 'LogView(mnemonic="gr", n=51)'
    assert repr(w.A.log("Gr")) == 'LogView(mnemonic="Gr", n=20)'
    assert repr(w.sidetrack("").log("GR")) == 'LogView(mnemonic="GR", n=51)'


def test_a_replaced_curve_is_seen_in_its_new_state(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    view = w.log("GR")
    w.sidetrack("").assign_log("gr", [1.0, 2.0], [5.0, 6.0], overwrite=True)
    assert view.values() == [5.0, 6.0]
    assert view.history() == ["log.new", "sidetrack.assign_log(name=gr)"]


MEMBERS = [
    lambda v: v.stats(),
    lambda v: v.geomean(),
    lambda v: v.values(),
    lambda v: v.history(),
    lambda v: v.md(),
    lambda v: v.at_md(100),
    lambda v: v.at_md_many([100]),
    lambda v: v.values_md(),
    len,
    repr,
    bool,
]


@pytest.mark.parametrize("member", MEMBERS)
def test_a_gone_curve_fails_every_member(geo, tmp_path, member):
    w = standard_well(geo, tmp_path)
    whole, clipped, on_bore = w.log("gr"), w.A.log("gr"), w.sidetrack("").log("gr")
    # The well loaded again without the curve.
    geo.delete_well("W")
    make_well(geo, tmp_path, bores={"": [(0.0, 0.0), (200.0, 200.0)]}, tops=[("A", 100.0)])
    for view in (whole, clipped, on_bore):
        with pytest.raises(ValueError, match=r"^log 'gr' no longer present$"):
            member(view)
    # A view clipped to a removed top says the same.
    w.sidetrack("").assign_log("GR", [100.0], [1.0])
    assert len(clipped) == 1
    w.remove_top("A")
    with pytest.raises(ValueError, match=r"^log 'gr' no longer present$"):
        member(clipped)
    geo.delete_well("W")
    with pytest.raises(ValueError, match=r"^no well 'W'$"):
        member(whole)


def test_a_well_loaded_again_serves_old_views(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    view = w.log("GR")
    geo.delete_well("W")
    with pytest.raises(ValueError, match=r"^no well 'W'$"):
        view.values()
    standard_well(geo, tmp_path)
    assert len(view) == len(DEPTHS)


def test_empty_view_of_the_last_zone_without_trajectory(geo, tmp_path):
    w = make_well(geo, tmp_path, tops=[("A", 100.0)])
    w.sidetrack("").assign_log("GR", [100.0, 101.0], [1.0, 2.0])
    view = w.A.log("GR")
    assert len(view) == 0 and not view
    assert view.at_md(100) is None
    assert view.stats().count == 0
    assert math.isnan(view.geomean())
    assert view.history() == ["log.new", "sidetrack.assign_log(name=GR)", "log.clip(top_md=100, base_md=NaN)"]


def test_a_view_without_bore_follows_the_accessor_bore(geo, tmp_path):
    # On a multi-bore well without a default bore, views made through an
    # interval read the main bore; a default bore redirects them.
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    w.sidetrack("A").add_top("A", 100)
    view = w.A.log("GR")
    assert view.values()[0] == 10.0
    w.set_default_bore("A")
    assert view.values()[0] == 11.0
    on_main = w.sidetrack("").log("GR")
    assert on_main.values()[0] == 9.0  # a bore-bound view keeps its bore
