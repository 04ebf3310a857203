"""`Sidetrack`: one named bore, its accessors, per-bore statistics with net
cutoffs, and calculated logs."""

import math

import numpy as np
import pytest

from voridez import _voridez
from well_fixtures import load_contacts, make_well, multibore_well, standard_well


@pytest.fixture
def geo():
    return _voridez.GeoData()


def test_method_table_order():
    names = [n for n in vars(_voridez.Sidetrack) if not n.startswith("__")]
    own = [
        "mnemonics",
        "tvd",
        "xyz",
        "tops",
        "add_top",
        "replace_top",
        "remove_top",
        "md_range",
        "log_stats",
        "log",
        "assign_log",
        "contacts",
        "contact",
        "net_zone_stats",
        "zones",
        "zone_stats",
    ]
    assert [n for n in names if n in own] == own


def test_help_texts_carry_the_signatures():
    st = _voridez.Sidetrack
    assert st.net_zone_stats.__text_signature__ == (
        '($self, value, phi="PHIE", sw="SW", vsh=None, cut=None, phi_min=None, sw_max=None, vsh_max=None, '
        "geomean=False)"
    )
    assert st.assign_log.__text_signature__ == '($self, mnemonic, md, values, unit="", overwrite=False)'
    assert st.add_top.__text_signature__ == "($self, name, md_or_hit)"
    assert not st.add_top.__doc__  # nothing after the signature
    assert st.__doc__.splitlines()[1] == "per-bore logs, zones, and aggregates (the real data lives on the named bores"


# ---- the handle and its accessors ---------------------------------------------------


def test_label_and_representation_never_touch_the_project(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", 'S"T\\2'))
    main, other = w.sidetracks()
    geo.delete_well("W")
    assert (main.label, other.label) == ("", 'S"T\\2')
    assert repr(main) == 'Sidetrack(label="")'
    assert repr(other) == 'Sidetrack(label="S\\"T\\\\2")'
    with pytest.raises(ValueError, match=r"^no well 'W'$"):
        main.tops()


def test_positions_on_the_bore(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    assert st.md_range() == (0.0, 200.0)
    assert st.tvd(0) == -25.0 and st.tvd(200) == 175.0
    assert st.xyz(150) == (1000.0, 2000.0, -125.0)
    for md in (200.001, -0.001, math.nan):
        assert st.tvd(md) is None and st.xyz(md) is None
    bare = make_well(geo, tmp_path, "bare", tops=[("A", 1.0)]).sidetrack("")
    assert (bare.md_range(), bare.tvd(1), bare.xyz(1)) == (None, None, None)


def test_each_bore_answers_for_itself(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    main, a = w.sidetrack(""), w.sidetrack("A")
    assert (main.tops(), a.tops()) == ([("A", 100.0)], [])
    assert main.log("gr").values()[0] == 9.0
    assert a.log("gr").values()[0] == 10.0
    assert a.log("PHIE") is None
    assert a.mnemonics() == ["GR"]


def test_contacts(geo, tmp_path):
    w = multibore_well(geo, tmp_path, labels=("", "A"))
    load_contacts(geo, tmp_path / "c.tops", [("W_A", "OWC", 700.0), ("W_A", "GOC", 650.0), ("W", "FWL", 800.0)])
    a = w.sidetrack("A")
    assert a.contacts() == [("OWC", 700.0), ("GOC", 650.0)]
    assert a.contact("owc") == ("OWC", 700.0)
    assert a.contact("FWL") is None
    assert w.sidetrack("").contacts() == [("FWL", 800.0)]


def test_zones(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    assert st.zones() == [("A", 100.0, 110.0), ("B", 110.0, 200.0)]
    bare = make_well(geo, tmp_path, "bare", tops=[("A", 100.0), ("B", 110.0)]).sidetrack("")
    (a, b) = bare.zones()
    assert a == ("A", 100.0, 110.0) and b[:2] == ("B", 110.0) and math.isnan(b[2])
    assert make_well(geo, tmp_path, "none").sidetrack("").zones() == []


# ---- statistics -----------------------------------------------------------------------


@pytest.fixture
def net_bore(geo, tmp_path):
    """A vertical bore (0 to 200) with tops A at 100 and B at 110 and
    curves sampled at 100, 101, …, 119: PERM = md, and conditioning curves
    whose samples sit on and beside the default cutoffs."""
    w = make_well(geo, tmp_path, bores={"": [(0.0, 0.0), (200.0, 200.0)]}, tops=[("A", 100.0), ("B", 110.0)])
    st = w.sidetrack("")
    md = np.arange(100.0, 120.0)
    phi = np.full(20, 0.2)
    sw = np.full(20, 0.3)
    vsh = np.full(20, 0.1)
    # 101: porosity on its cutoff after a sample that the general
    # interpolation form does not land on exactly; 102: water saturation on
    # its cutoff; 103: shale volume on its cutoff; 104: all three on them.
    phi[0], phi[1] = 0.5, 0.08
    sw[2] = 0.5
    vsh[3] = 0.5
    phi[4], sw[4], vsh[4] = 0.08, 0.5, 0.5
    # Just beside the cutoffs: not net.
    phi[5] = np.nextafter(0.08, 0)
    sw[6] = np.nextafter(0.5, 1)
    vsh[7] = np.nextafter(0.5, 1)
    # The last sample has no porosity (a NaN sample also leaves the next one
    # without a porosity reading, as interpolation across it gives NaN).
    phi[19] = np.nan
    st.assign_log("PERM", md, md)
    st.assign_log("PHIE", md, phi)
    st.assign_log("SW", md, sw)
    st.assign_log("VSH", md, vsh)
    return st


def net_values(rows):
    return [(zone, stats.count, stats.sum) for zone, stats in rows]


def test_ties_at_the_cutoffs_are_net(net_bore):
    rows = net_bore.net_zone_stats("PERM", vsh="VSH")
    # Zone A holds 100..109: all but 105 (phi), 106 (sw) and 107 (vsh).
    assert net_values(rows) == [("A", 7, 100 + 101 + 102 + 103 + 104 + 108 + 109), ("B", 9, sum(range(110, 119)))]
    assert all(type(s) is _voridez.Stats for _, s in rows)


@pytest.mark.parametrize(
    "kwargs, count_a",
    [
        ({}, 8),  # no shale curve: shale counts as 0, so 107 is net
        ({"vsh": "VSH"}, 7),
        ({"vsh": "NOPE"}, 8),  # a missing shale curve is no shale curve
        ({"vsh": "VSH", "vsh_max": 0.05}, 0),
        ({"vsh_max": -0.01}, 0),  # shale 0 fails a negative cutoff
        ({"phi_min": math.nan}, 0),
        ({"sw_max": math.nan}, 0),
        ({"vsh": "VSH", "vsh_max": math.nan}, 0),
        ({"phi_min": 0.0, "sw_max": 1, "vsh_max": 1.0, "vsh": "VSH"}, 10),
        ({"phi": "PHIT"}, 0),  # missing porosity: NaN, never net
        ({"sw": "SWT"}, 0),
    ],
)
def test_net_cutoffs(net_bore, kwargs, count_a):
    rows = net_bore.net_zone_stats("perm", **kwargs)
    assert [zone for zone, _ in rows] == ["A", "B"]
    assert rows[0][1].count == count_a


@pytest.mark.parametrize(
    "kwargs, count_a",
    [
        ({"cut": _voridez.NetSettings(phi_min=0.1)}, 6),  # 101 and 104 drop out on porosity
        ({"cut": _voridez.NetSettings(phi_min=0.1), "phi_min": 0.08}, 8),  # the keyword wins
        # Porosity from the keyword, the others from the settings: 102, 104 and
        # 106 fail sw <= 0.4.
        ({"cut": _voridez.NetSettings(phi_min=0.1, sw_max=0.4, vsh_max=0.05), "phi_min": 0.0}, 7),
        ({"cut": _voridez.NetSettings(vsh_max=0.05), "vsh": "VSH"}, 0),
        ({"cut": None, "phi_min": None}, 8),  # None is no choice at all
    ],
)
def test_cutoffs_from_settings_and_keywords(net_bore, kwargs, count_a):
    assert net_bore.net_zone_stats("PERM", **kwargs)[0][1].count == count_a


def test_missing_value_curve_and_bore_without_tops(geo, tmp_path, net_bore):
    rows = net_bore.net_zone_stats("GR")
    assert [(z, s.count, s.sum) for z, s in rows] == [("A", 0, 0.0), ("B", 0, 0.0)]
    geomeans = net_bore.net_zone_stats("GR", geomean=True)
    assert [z for z, _ in geomeans] == ["A", "B"] and all(math.isnan(g) for _, g in geomeans)
    bare = make_well(geo, tmp_path, "bare", bores={"": [(0.0, 0.0), (10.0, 10.0)]}).sidetrack("")
    bare.assign_log("PERM", [1.0], [1.0])
    assert bare.net_zone_stats("PERM") == []


def test_net_geometric_means(net_bore):
    net_bore.assign_log("PERM", np.arange(100.0, 120.0), [-1.0] * 10 + [10.0, 1000.0] + [0.0] * 8, overwrite=True)
    rows = net_bore.net_zone_stats("PERM", geomean=True)
    assert rows[0][0] == "A" and math.isnan(rows[0][1])  # nothing positive in A
    assert rows[1] == ("B", pytest.approx(100.0))
    assert type(rows[1][1]) is float


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"value": None}, "'None' is not an instance of 'str'"),
        ({"value": "PERM", "phi": None}, "'None' is not an instance of 'str'"),
        ({"value": "PERM", "vsh": 1}, "'int' object is not an instance of 'str'"),
        ({"value": "PERM", "phi_min": "0.1"}, None),
        ({"value": "PERM", "geomean": 1}, "'int' object is not an instance of 'bool'"),
        ({"value": "PERM", "cut": {"phi_min": 0.1}}, "'dict' object is not an instance of 'NetSettings'"),
    ],
)
def test_net_argument_errors(net_bore, kwargs, message):
    with pytest.raises(TypeError) as info:
        net_bore.net_zone_stats(**kwargs)
    name = next(k for k, v in kwargs.items() if k != "value" or v is None)
    assert info.value.__notes__ == [f"while processing '{name}'"]
    if message:
        assert str(info.value) == message


def test_log_and_zone_statistics(geo, tmp_path, net_bore):
    assert net_bore.log_stats("perm").count == 20
    assert net_bore.log_stats("GR") is None
    net_bore.assign_log("EMPTY", [100.0, 101.0], [math.nan, math.nan])
    assert net_bore.log_stats("EMPTY").count == 0
    rows = net_bore.zone_stats("PERM")
    assert [(z, s.count, s.min, s.max) for z, s in rows] == [("A", 10, 100.0, 109.0), ("B", 10, 110.0, 119.0)]
    assert net_bore.zone_stats("GR") == []
    assert net_bore.zone_stats("PERM", "b").sum == sum(range(110, 120))
    assert net_bore.zone_stats("PERM", zone="C") is None
    assert net_bore.zone_stats("GR", zone="A") is None
    net_bore.add_top("C", 150)
    assert net_bore.zone_stats("PERM", zone="c").count == 0


# ---- assigning logs --------------------------------------------------------------------


def test_assign_log(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    assert st.assign_log("Perm_calc", np.array([100.0, 101.0]), (1.5, 2.5), unit="mD") is None
    assert st.mnemonics() == ["GR", "PHIE", "Perm_calc"]
    assert st.log("PERM_CALC").history() == ["log.new", "sidetrack.assign_log(name=Perm_calc)"]
    with pytest.raises(ValueError) as info:
        st.assign_log("gr", [1.0], [2.0])
    assert str(info.value) == "log 'gr' already exists on this bore"
    st.assign_log("gr", [1.0], [2.0], overwrite=True)
    assert st.mnemonics() == ["PHIE", "Perm_calc", "gr"]
    assert st.log("GR").values() == [2.0]


def test_a_failed_assignment_keeps_the_old_curve(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    for overwrite in (False, True):
        with pytest.raises(ValueError) as info:
            st.assign_log("PHIE", [1.0, 2.0], [1.0, 2.0, 3.0], overwrite=overwrite)
        expected = "log 'PHIE' already exists on this bore"
        if overwrite:
            expected = "parse error: log 'PHIE': md len 2 != values len 3"
        assert str(info.value) == expected
        assert st.mnemonics() == ["GR", "PHIE"]
        assert len(st.log("PHIE")) == 51


@pytest.mark.parametrize(
    "kwargs, parameter, message",
    [
        ({"md": "12"}, "md", "Can't extract `str` to `Vec`"),
        ({"values": "12"}, "values", "Can't extract `str` to `Vec`"),
        ({"values": [1.0, "x"]}, "values", None),
        ({"unit": None}, "unit", "'None' is not an instance of 'str'"),
        ({"overwrite": None}, "overwrite", "'None' is not an instance of 'bool'"),
        ({"mnemonic": b"X"}, "mnemonic", "'bytes' object is not an instance of 'str'"),
    ],
)
def test_assign_log_argument_errors(geo, tmp_path, kwargs, parameter, message):
    st = standard_well(geo, tmp_path).sidetrack("")
    args = {"mnemonic": "X", "md": [1.0, 2.0], "values": [3.0, 4.0], **kwargs}
    with pytest.raises(TypeError) as info:
        st.assign_log(**args)
    assert info.value.__notes__ == [f"while processing '{parameter}'"]
    if message:
        assert str(info.value) == message
    assert st.mnemonics() == ["GR", "PHIE"]


def test_empty_and_unordered_curves_are_stored_as_given(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    st.assign_log("EMPTY", [], [])
    st.assign_log("ODD", [3.0, 1.0, math.nan], [1.0, 2.0, 3.0])
    assert len(st.log("empty")) == 0
    assert st.log("odd").md()[:2] == [3.0, 1.0]


def test_large_numpy_curves_arrive_unchanged(geo, tmp_path):
    st = standard_well(geo, tmp_path).sidetrack("")
    rng = np.random.default_rng(7)
    md = np.cumsum(rng.uniform(0.01, 0.2, 10_000))
    values = rng.normal(size=10_000)
    st.assign_log("RND", md, values.astype(np.float32))
    got_values, got_md = st.log("RND").values_md()
    assert got_md == md.tolist()
    assert got_values == values.astype(np.float32).astype(float).tolist()
