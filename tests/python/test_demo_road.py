"""The demo's road on the bundled field (examples/), checked the way a user
would look at each result: the wells and picks that went in, the net cutoffs
at work in the zone tables, crossings that sit on both the map and the bore,
tops moved onto the map, a gridded surface close to the map, and a project
file that gives everything back."""

import importlib.util
import math
import sys
from pathlib import Path

import pytest

pytest.importorskip("pandas")

import voridez as vz  # noqa: E402

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
COLUMN = ["Draupne", "Tarbert", "Ness", "Etive", "Dunlin"]
BORES = ["NF-1", "NF-2", "NF-3 main", "NF-3 st1", "NF-4", "NF-5"]


def load_demo():
    spec = importlib.util.spec_from_file_location("voridez_demo", EXAMPLES / "demo.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def demo():
    return load_demo()


@pytest.fixture(scope="module")
def road(demo, tmp_path_factory):
    return demo.road(str(EXAMPLES / "data"), str(tmp_path_factory.mktemp("road")))


def test_wells_and_picks_as_loaded(road):
    assert list(road.wells.index) == BORES
    # LAS 2.0 and 3.0 alike give the four curves, under their own names.
    assert set(road.wells["curves"]) == {"GR PHIE SW VSH"}
    # A sidetrack shares its well's head; each bore has its own depth.
    nf3 = road.wells.loc[["NF-3 main", "NF-3 st1"]]
    assert nf3["x"].nunique() == 1 and nf3["y"].nunique() == 1
    assert nf3.loc["NF-3 st1", "td_md"] > nf3.loc["NF-3 main", "td_md"]
    # 29 horizon picks; the OWC is a contact, not a top.
    assert road.tops_assigned == 29
    assert road.strat_order == COLUMN
    # Picks deepen down the column in every bore; NF-5's missing Tarbert
    # pick leaves a gap that did not disturb the order.
    assert list(road.picks.columns) == COLUMN
    assert math.isnan(road.picks.loc["NF-5", "Tarbert"])
    for bore, row in road.picks.iterrows():
        mds = row.dropna().tolist()
        assert mds == sorted(mds), bore


def test_zone_tables_apply_the_cutoffs(road, demo):
    cut = demo.CUTOFFS
    net = road.net_phie
    assert list(net.index) == COLUMN  # zones in stratigraphic order
    assert set(net.columns) == set(BORES)
    values = net.stack().dropna()
    assert len(values) > 0 and (values >= cut.phi_min).all()
    # NF-5's reservoir lies below the contact: no net pay at all.
    assert net["NF-5"].isna().all()
    field = road.field
    assert list(field.index) == COLUMN
    assert ((field["ntg"] >= 0) & (field["ntg"] <= 1)).all()
    # The clean Tarbert sand above the OWC is almost all net; the Etive is
    # below the contact everywhere and the Dunlin is shale: none.
    assert field.loc["Tarbert", "ntg"] > 0.8
    assert field.loc["Etive", "ntg"] == 0 and field.loc["Dunlin", "ntg"] == 0
    assert field.loc["Tarbert", "sw_net"] <= cut.sw_max


def test_crossings_lie_on_the_map_and_the_bore(road, demo):
    hits = road.hits
    assert hits.summary() == {"hits": 6, "skipped": 0, "failed": 0}
    depth_map = road.geo.surface(demo.MAP)
    for hit in hits:
        x, y, z = hit.xyz
        assert depth_map.sample(x, y) == pytest.approx(z, abs=0.5)
        bore = road.geo.well(hit.well).sidetrack(hit.bore)
        assert bore.xyz(hit.md) == pytest.approx(hit.xyz, abs=1e-6)
        assert hit.surface == demo.MAP


def test_tops_conformed_to_the_map(road, demo):
    ties = road.ties
    assert list(ties.index) == BORES
    assert list(ties["action"]) == ["moved"] * 5 + ["added"]
    # The interpreter picked the same horizon the map shows, give or take
    # picking noise: no tie moves a top by a metre.
    assert (ties["shift_m"].dropna().abs() < 1.0).all()
    hits = {demo.bore_label(h.well, h.bore): h.md for h in road.hits}
    for well in road.geo.wells.iter():
        for bore in well.sidetracks():
            label = demo.bore_label(well.id, bore.label)
            if label in hits:
                assert dict(bore.tops())[demo.HORIZON] == hits[label]
    assert list(road.tarbert_after.index) == BORES


def test_gridded_picks_match_the_map(road, demo):
    grid = road.grid
    assert abs(grid.difference.mean) < 5.0 and grid.difference.std < 5.0
    levels = [level for level, lines in grid.contours if lines]
    assert levels == sorted(levels)
    assert all(level % demo.CONTOUR_INTERVAL == 0 for level in levels)
    st = grid.surface.stats()
    assert st.min <= levels[0] and levels[-1] <= st.max
    # The contact closes around the crest, and the closure matches the map's.
    assert grid.owc_contour and all(line[0] == line[-1] for line in grid.owc_contour)
    outline = road.geo.polygons(demo.OUTLINE)
    map_area = outline.clip(road.geo.surface(demo.MAP)).area_above(road.owc)
    assert grid.area_above_owc == pytest.approx(map_area, rel=0.1)
    # The grid went into the project through its IRAP file, node for node.
    stored = road.geo.surface(demo.GRIDDED)
    assert stored.geometry.ncol == grid.surface.ncol and stored.geometry.nrow == grid.surface.nrow
    same = outline.clip(stored).minus(grid.surface).stats()
    assert same.count == st.count and same.min == 0 and same.max == 0


def test_project_file_gives_everything_back(road, demo):
    manifest = road.manifest
    assert manifest["display_name"] == "North Field demo" and manifest["unit"] == "Metres"
    kinds = {}
    for kind, name in manifest["elements"]:
        kinds.setdefault(kind, []).append(name)
    assert kinds == {"surface": [demo.MAP, demo.GRIDDED], "well": ["NF-1", "NF-2", "NF-3", "NF-4", "NF-5"],
                     "points": [demo.PICKS], "polygons": [demo.OUTLINE]}
    again = road.reopened
    assert again.strat_order == COLUMN and again.crs == road.geo.crs
    for well in road.geo.wells.iter():
        twin = again.well(well.id)
        assert twin.bores() == well.bores()
        for bore in well.sidetracks():
            assert twin.sidetrack(bore.label).tops() == bore.tops()
    # The reopened project crosses the same way.
    hits = again.wells.intersection(again.surface(demo.MAP))
    assert [(h.well, h.bore, h.md) for h in hits] == [(h.well, h.bore, h.md) for h in road.hits]


def test_demo_prints_the_road(demo, tmp_path, monkeypatch, capsys):
    monkeypatch.setattr(sys, "argv", ["demo.py", "--out", str(tmp_path / "out")])
    demo.main()
    text = capsys.readouterr().out
    assert "Draupne, Tarbert, Ness, Etive, Dunlin" in text
    assert "6 crossings, 0 bores skipped, 0 failed" in text
    assert (tmp_path / "out" / "north_field.zedod").is_file()
    assert vz.GeoData.open(str(tmp_path / "out" / "north_field.zedod")).well("NF-5") is not None
