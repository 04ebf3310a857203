"""A whole project saved from Python and opened again: every element comes
back under its name, kind and tags, with the same content (compared through
the public accessors and, element by element, through the encoded sections a
second save writes)."""

import pytest

import voridez
from voridez import GeoData, IngestSpec
from project_files import irap_grid, las, petrel_tops, read_container, shared, wellpath, write

ENVELOPE = b'{"asset_type":"table","codec":"csv","provider":"acme","schema_version":2}'


def build_project(tmp_path):
    geo = GeoData("ft")
    geo.set_owner("Ann")
    geo.display_name = "Round trip"
    geo.crs = "EPSG:23031"
    geo.set_tags(["demo", "demo", ""])

    # A well with two bores: surveys, logs on each bore and tops.
    w1 = tmp_path / "W1"
    wellpath(w1 / "W1_main.wellpath", 1000.0, 2000.0, 25.0, [(0, 0), (500, 500), (1500, 1480)], crs_line="CRS: ED50")
    wellpath(w1 / "W1_st1.wellpath", 1000.0, 2000.0, 25.0, [(0, 0), (800, 790), (1700, 1600)])
    las(w1 / "W1.las", ["GR", "PHIE"], [100, 150, 200, 250])
    las(w1 / "W1_st1_gr.las", ["gr_2001"], [900, 950, 1000], offset=3.0)
    write(w1 / "W1_tops.csv", "name,md\nTop A,300\nBase A,700\n")
    geo.load_well("W1", files=str(w1), ingest=IngestSpec(aliases={"gr_2001": "GR"}))
    geo.well("W1").set_default_bore("st1")
    # A well of logs only (a synthetic vertical hole) and one from real LAS.
    las(tmp_path / "W2" / "W2.las", ["DT"], [10, 20, 30])
    geo.load_well("W2", head=(5.0, 6.0), kb=7.0, files=str(tmp_path / "W2"))
    geo.load_well("R", files=shared("las/lasio_2.0_sample.las"))

    tops = petrel_tops(
        tmp_path / "t.tops",
        [
            ("Horizon", "Top B", "W1 main", 900.0),
            ("Horizon", "Top B", "W1 st1", 950.0),
            ("Horizon", "Top C", "W2", 15.0),
            ("Other", "OWC", "W2", 20.0),
        ],
    )
    geo.load_well_tops(tops, ingest=IngestSpec(strat_hints=["Top C < Top B"]))

    # Every surface kind, points and polygons, with tags.
    geo.load_surface("maps/top", irap_grid(tmp_path / "top.irap", 3, 2, [1, None, 3, 4, 5, 6]))
    geo.load_surface("real", shared("irap_grid/resdata_small_30x20_rotm65.irap"))
    geo.load_structured_surface("mesh", shared("earthvision/resinsight_small_flipped_clipped.ptl"))
    add_triangulated_surface(geo, tmp_path)
    geo.load_points("pts", shared("points_xyz/xtgeo_pointset2.poi"))
    geo.load_points("json pts", shared("geojson/geojsonhint_good-featurecollection-bbox3d.geojson"))
    geo.load_polygons("faults", shared("polygons_irap/xtgeo_reek_faultpolys.pol"))
    geo.load_polygons("outline", shared("shapefile/gre.shp"))
    geo.set_element_tags("W1", ["wells", "main"])
    geo.set_element_tags("maps/top", ["maps"])
    geo.set_element_tags("faults", ["maps"])

    geo.put_model_section("sim", ["sim"], 3, b"\x00\x01\x02")
    geo.add_asset("@asset/tables/a", "table", ENVELOPE, ["t"], 1, b"x,y\n1,2\n")
    return geo


def add_triangulated_surface(geo, tmp_path):
    """A triangulated surface written back over a regular one of the same
    lattice (a regular surface may change kind on replacement)."""
    geo.load_surface("tri", irap_grid(tmp_path / "tri.irap", 3, 3, range(9)))
    geo.replace_surface("tri", geo.surface("tri").to_tri_surface().set_attr("lane", [float(k) for k in range(9)]))


def exact(values):
    """Nested lists of floats with NaN made comparable (NaN != NaN)."""
    if isinstance(values, (list, tuple)):
        return [exact(v) for v in values]
    return "NaN" if values != values else values


def surface_state(s):
    tri = s if isinstance(s, voridez.TriSurface) else s.to_tri_surface()
    return (
        type(s).__name__,
        s.kind,
        s.name,
        s.history(),
        s.attr_names(),
        exact(tri.values()),
        exact(tri.xyz()),
        tri.triangles(),
        [exact(tri.attr(n).values()) for n in s.attr_names()],
    )


def public_state(geo):
    """What the public accessors show of a project."""
    state = {
        "unit": geo.unit,
        "owner": geo.owner,
        "display_name": geo.display_name,
        "crs": geo.crs,
        "tags": geo.tags,
        "strat_order": geo.strat_order,
        "surfaces": [surface_state(s) for s in geo.surfaces()],
        "top_names": geo.well_top_names(),
        "tops": {name: geo.well_top_set(name) for name in geo.well_top_names()},
        "models": [(n, geo.model_section(n)) for n in geo.model_section_names()],
        "assets": [(n, geo.asset(n)) for n in geo.asset_names()],
    }
    for name in ["pts", "json pts"]:
        p = geo.points(name)
        state[name] = (p.name, exact(p.xyz()), p.attr_names(), p.history())
    for name in ["faults", "outline"]:
        p = geo.polygons(name)
        state[name] = (p.name, exact(p.rings()), p.attr_names(), p.history())
    for well_id in ["W1", "W2", "R"]:
        w = geo.well(well_id)
        state[well_id] = (w.id, w.head, w.kb, w.crs, w.bores(), w.default_bore, w.is_multibore)
        for bore in w.sidetracks():
            logs = {}
            for m in bore.mnemonics():
                view = bore.log(m)
                logs[m] = (exact(view.md()), exact(view.values()), view.history())
            state[(well_id, bore.label)] = (bore.tops(), bore.contacts(), bore.md_range(), logs)
    return state


def test_a_saved_project_opens_with_every_element(tmp_path):
    geo = build_project(tmp_path)
    first = str(tmp_path / "first.zedod")
    geo.save(first)
    opened = GeoData.open(first)
    assert public_state(opened) == public_state(geo)

    second = str(tmp_path / "second.zedod")
    opened.save(second)
    schema, manifest, payloads = read_container(first)
    schema2, manifest2, payloads2 = read_container(second)
    assert schema == schema2 == 2
    entries = [(e["kind"], e["name"], e.get("tags", []), e.get("version", 0)) for e in manifest["sections"]]
    assert entries == [(e["kind"], e["name"], e.get("tags", []), e.get("version", 0)) for e in manifest2["sections"]]
    # Element by element, the encoded content is the same.
    for key in payloads:
        assert payloads2[key] == payloads[key], key
    app, app2 = dict(manifest["app"]), dict(manifest2["app"])
    assert app2.pop("modified") >= app.pop("modified")
    assert app == app2


def test_the_saved_file_lists_every_kind(tmp_path):
    geo = build_project(tmp_path)
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    info = GeoData.inspect(path)
    kinds = {kind for kind, _ in info["elements"]}
    assert kinds == {"surface", "structured_mesh", "tri_surface", "well", "points", "polygons", "model", "asset"}
    # Surfaces in their load order, then wells, point sets, polygon sets,
    # model sections and assets.
    names = [name for _, name in info["elements"]]
    assert names[:4] == ["maps/top", "real", "mesh", "tri"]
    assert names[4:] == ["W1", "W2", "R", "pts", "json pts", "faults", "outline", "sim", "@asset/tables/a"]
    assert info["unit"] == "Feet" and info["owner"] == "Ann" and info["tags"] == ["demo", "demo", ""]


def test_tops_and_bores_survive_with_their_positions(tmp_path):
    geo = build_project(tmp_path)
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    opened = GeoData.open(path)
    assert opened.well("W1").bores() == ["", "main", "st1"]
    assert opened.well("W1").default_bore == "st1"
    w1 = opened.well("W1")
    assert [w1.sidetrack(b).mnemonics() for b in ["", "main", "st1"]] == [["GR", "PHIE"], [], ["GR"]]
    assert w1.sidetrack("st1").log("gr").values() == [93.0, 98.0, 103.0]
    assert opened.well("W2").contacts() == [("OWC", 20.0)]
    assert opened.well("W2").tops() == [("Top C", 15.0)]
    assert opened.strat_order == ["Top C", "Top B"]
    rows = opened.well_top_set("Top A")
    assert rows == geo.well_top_set("Top A")
    assert rows[0][:3] == ("W1", "", 300.0)
    # Tops on a bore carry elevations (positive up) of the bore's survey.
    b_rows = opened.well_top_set("top b")
    assert [(w, b) for w, b, _, _ in b_rows] == [("W1", "main"), ("W1", "st1")]
    assert all(xyz is not None and xyz[2] < 0 for _, _, _, xyz in b_rows)
