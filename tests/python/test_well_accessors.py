"""Well handles read as one borehole: the accessors, the multi-bore guard, the
attribute fallback to formation tops, and handles whose well went away."""

import math
import warnings

import pytest

from voridez import _voridez
from well_fixtures import load_contacts, load_well, make_well, multibore_well, standard_well, write_well

GUARD_ADVICE = (
    " \u2014 a top-level accessor can't pick one; use .sidetrack(name) for a specific bore or "
    ".set_default_bore(name)"
)


@pytest.fixture
def geo():
    return _voridez.GeoData()


# ---- accessors ------------------------------------------------------------------


def test_positions_along_the_accessor_bore(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    assert (w.head, w.kb) == ((1000.0, 2000.0), 25.0)
    assert w.tvd(150) == 125.0
    assert w.xyz(150.0) == (1000.0, 2000.0, -125.0)
    assert w.md_at_tvd(125) == 150.0
    for md in (0, 37.5, 100, 163.25, 200):
        assert w.xyz(md)[2] == -w.tvd(md)
    for md in (-1e-9, 200.000001, math.nan):
        assert w.tvd(md) is None
        assert w.xyz(md) is None
    assert w.md_at_tvd(175.5) is None


def test_a_bore_without_trajectory_answers_none_for_positions(geo, tmp_path):
    w = make_well(geo, tmp_path, tops=[("A", 10.0)])
    w.sidetrack("").assign_log("GR", [1.0, 2.0], [3.0, 4.0])
    assert (w.tvd(10), w.xyz(10), w.md_at_tvd(10)) == (None, None, None)
    assert w.tops() == [("A", 10.0)]
    assert w.log("gr").values() == [3.0, 4.0]


def test_log_and_top_keep_the_callers_spelling(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    view = w.log("gr")
    assert type(view) is _voridez.LogView
    assert repr(view).startswith('LogView(mnemonic="gr", ')
    assert view.values()[:2] == [9.5, 9.55]
    # No canonicalisation of the argument: GAMMA is an alias of GR.
    assert _voridez.canonical_mnemonic("GAMMA") == "GR"
    assert w.log("GAMMA") is None
    top = w.top("a")
    assert type(top) is _voridez.Interval
    assert (top.name, top.top_md, top.base_md) == ("A", 100.0, 110.0)
    assert w.top("C") is None


def test_contacts_in_stored_order(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    assert w.contacts() == []
    assert w.contact("OWC") is None
    load_contacts(geo, tmp_path / "contacts.tops", [("W", "OWC", 150.0), ("W", "GOC", 120.0), ("W", "owc", 160.0)])
    assert w.contacts() == [("OWC", 150.0), ("GOC", 120.0), ("owc", 160.0)]
    assert w.contact("Owc") == ("OWC", 150.0)
    assert w.contact("goc") == ("GOC", 120.0)


def test_results_are_copies(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    tops = w.tops()
    w.add_top("C", 150)
    assert tops == [("A", 100.0), ("B", 110.0)]
    assert w.tops() == [("A", 100.0), ("B", 110.0), ("C", 150.0)]


# ---- the multi-bore guard ------------------------------------------------------------

ACCESSORS = [
    ("log", ("GR",)),
    ("top", ("A",)),
    ("tvd", (100.0,)),
    ("xyz", (100.0,)),
    ("md_at_tvd", (100.0,)),
    ("tops", ()),
    ("contacts", ()),
    ("contact", ("OWC",)),
]
MUTATORS = [("add_top", ("C", 150.0)), ("replace_top", ("A", 150.0)), ("remove_top", ("A",))]


@pytest.mark.parametrize(
    "labels, count, listed",
    [
        (("", "A"), 1, "A"),
        (("A", "B", "C"), 3, "A, B, C"),
    ],
)
@pytest.mark.parametrize("method, args", ACCESSORS + MUTATORS)
def test_guard_refuses_an_ambiguous_well(geo, tmp_path, labels, count, listed, method, args):
    w = multibore_well(geo, tmp_path, labels=labels)
    before = [(st.label, st.tops()) for st in w.sidetracks()]
    with pytest.raises(ValueError) as info:
        getattr(w, method)(*args)
    assert str(info.value) == f"well 'W' has {count} bores ({listed})" + GUARD_ADVICE
    assert [(st.label, st.tops()) for st in w.sidetracks()] == before


def test_guard_counts_named_bores_without_a_trajectory(geo, tmp_path):
    # A bore made by a bore-level change carries no trajectory, yet the
    # guard lists it with the others.
    w = multibore_well(geo, tmp_path, labels=("A", "B", "C"))
    c = w.sidetrack("C")
    geo.delete_well("W")
    folder = write_well(
        tmp_path / "again", bores={"A": [(0.0, 0.0), (10.0, 10.0)], "B": [(0.0, 0.0), (10.0, 10.0)]}
    )
    load_well(geo, "W", folder)
    c.add_top("X", 5.0)
    assert w.bores() == ["", "A", "B", "C"]
    assert c.md_range() is None
    with pytest.raises(ValueError, match=r"^well 'W' has 3 bores \(A, B, C\) \u2014"):
        w.tops()


@pytest.mark.parametrize(
    "method, args, parameter",
    [
        ("log", (1,), "mnemonic"),
        ("top", (None,), "name"),
        ("tvd", ("deep",), "md"),
        ("md_at_tvd", ([],), "tvd"),
        ("contact", (b"OWC",), "name"),
        ("add_top", (5, 1.0), "name"),
        ("remove_top", (5,), "name"),
    ],
)
def test_argument_errors_come_before_the_guard(geo, tmp_path, method, args, parameter):
    w = multibore_well(geo, tmp_path)
    with pytest.raises(TypeError) as info:
        getattr(w, method)(*args)
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_a_default_bore_lifts_the_guard(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    w.set_default_bore("A")
    assert w.log("GR").values()[0] == 10.0  # bore A's curve
    assert w.tops() == []
    w.add_top("C", 500)
    assert w.sidetrack("A").tops() == [("C", 500.0)]
    assert w.sidetrack("").tops() == [("A", 100.0)]
    w.set_default_bore("")
    assert w.log("GR").values()[0] == 9.0
    assert w.tops() == [("A", 100.0)]


# ---- attribute fallback ------------------------------------------------------------------


def test_tops_as_attributes(geo, tmp_path):
    w = make_well(geo, tmp_path, bores={"": [(0.0, 0.0), (500.0, 500.0)]}, tops=[("Brent", 100.0), ("kb", 200.0), ("log", 300.0)])
    interval = w.BRENT
    assert type(interval) is _voridez.Interval
    assert interval.name == "Brent"
    assert w.brent.top_md == 100.0
    # Members win over tops of the same name; `top` still reaches them.
    assert w.kb == 0.0
    assert callable(w.log)
    assert w.top("kb").top_md == 200.0
    assert w.top("LOG").name == "log"
    with pytest.raises(AttributeError) as info:
        w.Ness
    assert str(info.value) == "'Well' object has no attribute or top 'Ness'"
    assert not hasattr(w, "Ness")
    with pytest.raises(AttributeError) as info:
        w._brent
    assert str(info.value) == "_brent"


def test_attribute_fallback_runs_without_the_guard(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    with pytest.raises(ValueError):
        w.top("A")
    assert w.A.top_md == 100.0  # the main bore's top


# ---- stale handles -----------------------------------------------------------------------


def test_a_deleted_well_fails_every_member_but_id(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    geo.delete_well("W")
    assert w.id == "W"
    calls = [
        lambda: w.head,
        lambda: w.kb,
        lambda: w.bores(),
        lambda: w.tops(),
        lambda: w.log("GR"),
        lambda: w.add_top("C", 150),
        lambda: w.remove_top("A"),
        lambda: w.A,
        lambda: hasattr(w, "anything"),  # not False: the well is gone
    ]
    for call in calls:
        with pytest.raises(ValueError, match=r"^no well 'W'$"):
            call()
    standard_well(geo, tmp_path)
    assert w.tops() == [("A", 100.0), ("B", 110.0)]


def test_a_renamed_well_is_gone_under_the_old_identifier(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    top = w.A
    geo.rename_well("W", "W-2")
    for call in (w.tops, lambda: top.top_md):
        with pytest.raises(ValueError, match=r"^no well 'W'$"):
            call()
    geo.rename_well("W-2", "W")
    assert top.top_md == 100.0


def test_accessors_see_changes_made_through_other_handles(geo, tmp_path):
    w = standard_well(geo, tmp_path)
    other = w.sidetrack("")
    other.replace_top("a", 105)
    assert w.tops() == [("a", 105.0), ("B", 110.0)]
    other.assign_log("GR", [1.0], [2.0], overwrite=True)
    assert w.log("GR").values() == [2.0]


def test_every_handle_fails_at_once_while_the_project_is_being_changed(geo, tmp_path):
    """`strat_hint` warns under exclusive access to the project: handles used
    from the warnings hook fail at once and change nothing."""
    w = standard_well(geo, tmp_path)
    st, interval, view = w.sidetrack(""), w.A, w.log("GR")
    calls = {
        "well read": lambda: w.tops(),
        "well change": lambda: w.add_top("C", 150),  # the guard's read comes first
        "bore read": lambda: st.tops(),
        "bore statistics": lambda: st.net_zone_stats("GR"),
        "bore change": lambda: st.add_top("C", 150),
        "log assignment": lambda: st.assign_log("X", [1.0], [2.0]),
        "interval": lambda: interval.top_md,
        "log view": lambda: len(view),
    }
    seen = {}

    def hook(*args, **kwargs):
        for name, call in calls.items():
            try:
                call()
            except RuntimeError as e:
                seen[name] = str(e)

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = hook
        geo.strat_hint("A < B")
    read, change = "Already mutably borrowed", "Already borrowed"
    assert seen == {
        "well read": read,
        "well change": read,
        "bore read": read,
        "bore statistics": read,
        "bore change": change,
        "log assignment": change,
        "interval": read,
        "log view": read,
    }
    assert w.tops() == [("A", 100.0), ("B", 110.0)]
    assert st.mnemonics() == ["GR", "PHIE"]
