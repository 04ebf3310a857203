"""Project files from Python: save, open, inspect, split, export and merge;
their argument rules (paths are str only), the inspect dictionary, merge
where the second file wins, and saves that write only their own temporary
file."""

import inspect
import os
from pathlib import Path

import pytest

from voridez import GeoData
from project_files import irap_grid, read_container, shared, wellpath, write_empty_container


@pytest.fixture
def grids(tmp_path):
    return [irap_grid(tmp_path / f"g{k}.irap", 3, 2, [k, 2, 3, 4, 5, 6]) for k in range(3)]


def test_inspect_reads_the_manifest_only(tmp_path, grids):
    geo = GeoData("ft")
    geo.set_owner("Ann")
    geo.display_name = "North"
    geo.crs = "EPSG:23031"
    geo.set_tags(["b", "a", "b"])
    geo.load_surface("top", grids[0])
    geo.load_points("pts", shared("points_xyz/xtgeo_pointset2.poi"))
    geo.put_model_section("sidecar", [], 7, b"\x00\x01")
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    info = GeoData.inspect(path)
    assert list(info) == ["owner", "display_name", "crs", "tags", "created", "modified", "unit", "elements"]
    assert {k: info[k] for k in ["owner", "display_name", "crs", "tags", "unit"]} == {
        "owner": "Ann",
        "display_name": "North",
        "crs": "EPSG:23031",
        "tags": ["b", "a", "b"],
        "unit": "Feet",
    }
    assert type(info["created"]) is int and info["modified"] >= info["created"] > 0
    assert info["elements"] == [("surface", "top"), ("points", "pts"), ("model", "sidecar")]
    # Static: callable on the class and through an object alike.
    assert geo.inspect(path) == info


@pytest.mark.parametrize("unit, stored", [("m", "Metres"), ("metres", "Metres"), ("ft", "Feet"), ("FOOT", "Feet")])
def test_inspect_shows_the_unit_as_the_file_spells_it(tmp_path, unit, stored):
    geo = GeoData(unit)
    path = str(tmp_path / "u.zedod")
    geo.save(path)
    assert GeoData.inspect(path)["unit"] == stored
    assert GeoData.open(path).unit == geo.unit == {"Metres": "m", "Feet": "ft"}[stored]


@pytest.mark.parametrize(
    "app, expected",
    [
        ({"unit": "Metres"}, {"owner": None, "unit": "Metres", "tags": [], "created": None}),
        ({"unit": "  Metres ", "owner": 5, "tags": "x"}, {"owner": None, "unit": "Metres", "tags": []}),
        ({"owner": "  me ", "tags": ["t", 1]}, {"owner": "  me ", "unit": None, "tags": []}),
        ({"created": -1, "modified": 1.5, "display_name": " x "}, {"created": None, "modified": None, "display_name": "x"}),
        (None, {"owner": None, "unit": None, "display_name": None, "tags": []}),
        ([1, 2], {"owner": None, "unit": None, "crs": None, "tags": []}),
    ],
)
def test_inspect_takes_what_the_metadata_holds(tmp_path, app, expected):
    path = write_empty_container(tmp_path / "c.zedod", app)
    info = GeoData.inspect(path)
    assert {k: info[k] for k in expected} == expected
    assert info["elements"] == []


@pytest.mark.parametrize(
    "app, message",
    [
        ({"unit": "Feet", "display_name": "  "}, "parse error: project display name must be null or a non-empty, trimmed string"),
        ({"unit": "Feet", "crs": 5}, "parse error: .zedod manifest CRS must be a string or null"),
        ({"unit": True}, "parse error: .zedod manifest unit must be a string"),
        ({"unit": " "}, "parse error: .zedod manifest unit must be a non-empty, trimmed string"),
    ],
)
def test_inspect_refuses_ill_typed_names_and_units(tmp_path, app, message):
    path = write_empty_container(tmp_path / "c.zedod", app)
    for call in (GeoData.inspect, GeoData.open):
        with pytest.raises(ValueError) as info:
            call(path)
        assert str(info.value) == message


@pytest.mark.parametrize(
    "schema, message",
    [
        (0, "parse error: .zedod element schema v0 is unsupported (reads v1 and v2)"),
        (3, "parse error: .zedod element schema v3 is newer than this voridEZ (reads \u2264 v2) \u2014 upgrade voridEZ"),
    ],
)
def test_inspect_has_no_schema_gate_but_open_does(tmp_path, schema, message):
    path = write_empty_container(tmp_path / "c.zedod", {"unit": "Metres"}, schema=schema)
    assert GeoData.inspect(path)["unit"] == "Metres"
    with pytest.raises(ValueError) as info:
        GeoData.open(path)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "content, message",
    [
        (b"", "parse error: not a .zedod file (truncated header)"),
        (b"KIO", "parse error: not a .zedod file (truncated header)"),
        (b"ZIP\x01\x00\x00\x00\x00", "parse error: not a .zedod file (bad magic)"),
        (
            b"KIO\x02\x00\x00\x00\x00",
            "parse error: unsupported .zedod format version 2 (this build reads \u2264 1) \u2014 re-save with a newer writer",
        ),
    ],
)
def test_files_that_are_no_container(tmp_path, content, message):
    path = tmp_path / "bad.zedod"
    path.write_bytes(content)
    for call in (GeoData.open, GeoData.inspect):
        with pytest.raises(ValueError) as info:
            call(str(path))
        assert str(info.value) == message


def test_open_of_a_missing_file_is_an_io_error(tmp_path):
    with pytest.raises(ValueError, match=r"^I/O error: "):
        GeoData.open(str(tmp_path / "none.zedod"))


def test_a_missing_unit_fails_open_but_not_inspect(tmp_path):
    path = write_empty_container(tmp_path / "c.zedod", {"owner": "x"})
    assert GeoData.inspect(path)["unit"] is None
    with pytest.raises(ValueError) as info:
        GeoData.open(path)
    assert str(info.value) == "parse error: .zedod manifest missing/invalid unit"


def test_open_gives_a_new_project_with_the_saved_metadata(tmp_path, grids):
    geo = GeoData("ft")
    geo.set_owner("")
    geo.crs = "local"
    geo.set_tags(["x"])
    geo.load_surface("s", grids[0])
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    opened = GeoData.open(path)
    assert type(opened) is GeoData and opened is not geo
    assert (opened.unit, opened.owner, opened.display_name, opened.crs, opened.tags) == ("ft", "", None, "local", ["x"])
    assert [s.name for s in opened.surfaces()] == ["s"]


def test_split_copies_sections_by_name_byte_for_byte(tmp_path, grids):
    geo = GeoData()
    for k, g in enumerate(grids):
        geo.load_surface(f"s{k}", g)
    geo.add_asset(
        "@asset/col/s2",
        "kind",
        b'{"asset_type":"kind","codec":"raw","provider":"p","schema_version":1}',
        [],
        1,
        b"data",
    )
    src, dst = str(tmp_path / "src.zedod"), str(tmp_path / "dst.zedod")
    geo.save(src)
    # An asset is selected by its full name or by the part after "@asset/".
    GeoData.split(src, dst, ("s2", "s0", "ghost", "s0", "col/s2"))
    _, manifest, payloads = read_container(dst)
    _, source_manifest, source_payloads = read_container(src)
    assert [e["name"] for e in manifest["sections"]] == ["s0", "s2", "@asset/col/s2"]
    assert manifest["app"] == source_manifest["app"]
    assert all(payloads[key] == source_payloads[key] for key in payloads)
    GeoData.split(src, dst, [])
    assert GeoData.inspect(dst)["elements"] == []


@pytest.mark.parametrize(
    "method, args, bad, text",
    [
        ("split", ("a", "b", "s0"), "names", "Can't extract `str` to `Vec`"),
        ("split", ("a", "b", ["s0", 1]), "names", None),
        ("export", ("a", "b", "tag"), "tags", "Can't extract `str` to `Vec`"),
        ("split", (Path("a"), "b", []), "src", None),
        ("export", ("a", b"b", []), "dst", None),
        ("merge", ("a", "b", 3), "dst", None),
        ("open", (b"a",), "path", None),
        ("inspect", (Path("a"),), "path", None),
    ],
)
def test_arguments_are_refused_before_any_file_is_touched(tmp_path, method, args, bad, text):
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        with pytest.raises(TypeError) as info:
            getattr(GeoData, method)(*args)
    finally:
        os.chdir(cwd)
    assert f"while processing '{bad}'" in info.value.__notes__
    if text:
        assert str(info.value) == text
    assert os.listdir(tmp_path) == []


def test_save_takes_str_paths_only(tmp_path, grids):
    geo = GeoData()
    geo.load_surface("s", grids[0])
    for bad in (tmp_path / "p.zedod", bytes(tmp_path / "p.zedod")):
        with pytest.raises(TypeError) as info:
            geo.save(bad)
        assert "while processing 'path'" in info.value.__notes__
    assert not (tmp_path / "p.zedod").exists()
    geo.save(str(tmp_path / "p.zedod"))
    assert (tmp_path / "p.zedod").exists()


def test_a_failed_save_leaves_the_previous_file(tmp_path, grids):
    geo = GeoData()
    geo.load_surface("s", grids[0])
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    before = Path(path).read_bytes()
    geo.put_model_section("@asset/x/y", [], 1, b"")
    with pytest.raises(ValueError) as info:
        geo.save(path)
    assert str(info.value) == "parse error: project element name '@asset/x/y' uses reserved prefix '@asset/'"
    assert Path(path).read_bytes() == before


def merge_sources(tmp_path, grids):
    a = GeoData()
    a.set_owner("first")
    a.load_well("W1", files=wellpath(tmp_path / "w.wellpath", 1, 2, 3, [(0, 0), (10, 10)]))
    a.load_surface("S", grids[0])
    b = GeoData("ft")
    b.set_owner("second")
    b.load_surface("S", grids[1])
    b.load_points("P", shared("points_xyz/xtgeo_pointset2.poi"))
    pa, pb = str(tmp_path / "a.zedod"), str(tmp_path / "b.zedod")
    a.save(pa)
    b.save(pb)
    return pa, pb


def test_merge_keeps_the_second_file_on_a_clash(tmp_path, grids):
    pa, pb = merge_sources(tmp_path, grids)
    dst = str(tmp_path / "m.zedod")
    GeoData.merge(pa, pb, dst)
    _, manifest, payloads = read_container(dst)
    _, manifest_a, payloads_a = read_container(pa)
    _, _, payloads_b = read_container(pb)
    assert [(e["kind"], e["name"]) for e in manifest["sections"]] == [("well", "W1"), ("surface", "S"), ("points", "P")]
    assert payloads[("surface", "S")] == payloads_b[("surface", "S")] != payloads_a[("surface", "S")]
    assert manifest["app"] == manifest_a["app"]
    merged = GeoData.open(dst)
    assert (merged.owner, merged.unit) == ("first", "m")

    GeoData.merge(b=pa, a=pb, dst=dst)
    _, manifest, payloads = read_container(dst)
    assert [(e["kind"], e["name"]) for e in manifest["sections"]] == [("points", "P"), ("surface", "S"), ("well", "W1")]
    assert payloads[("surface", "S")] == payloads_a[("surface", "S")]
    assert GeoData.open(dst).owner == "second"


def test_merge_with_a_missing_source_writes_nothing(tmp_path, grids):
    pa, _ = merge_sources(tmp_path, grids)
    dst = tmp_path / "m.zedod"
    with pytest.raises(ValueError, match=r"^I/O error: "):
        GeoData.merge(pa, str(tmp_path / "missing.zedod"), str(dst))
    assert not dst.exists()


@pytest.mark.parametrize("plant", ["fifo", "symlink"])
def test_save_refuses_a_temporary_path_that_is_not_its_own_file(tmp_path, grids, plant):
    """A pipe or a symbolic link planted at the temporary path is refused at
    once: the save neither blocks on the pipe nor writes through the link,
    the destination keeps its bytes and the project is free afterwards."""
    if plant == "fifo" and not hasattr(os, "mkfifo"):
        pytest.skip("needs named pipes")
    geo = GeoData()
    geo.load_surface("s", grids[0])
    dst = tmp_path / "p.zedod"
    geo.save(str(dst))
    before = dst.read_bytes()
    tmp = tmp_path / "p.zedod.tmp"
    victim = tmp_path / "victim"
    victim.write_bytes(b"precious")
    if plant == "fifo":
        os.mkfifo(tmp)
        why = "is not a regular file"
    else:
        os.symlink(victim, tmp)
        why = "is a symbolic link"
    with pytest.raises(ValueError) as info:
        geo.save(str(dst))
    assert str(info.value) == f"I/O error: temporary file '{tmp}' {why}"
    assert dst.read_bytes() == before
    assert victim.read_bytes() == b"precious"
    geo.rename_surface("s", "t")  # free again


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        ("save", "($self, path)", "Save the whole project to a single `.zedod` file (atomic)."),
        ("open", "(path)", "Open a `.zedod` project."),
        (
            "inspect",
            "(path)",
            "Read a project's manifest (owner/tags/unit/timestamps + element index)\n"
            "without decoding any element \u2014 a dict.",
        ),
        (
            "split",
            "(src, dst, names)",
            "Copy `src` \u2192 `dst` keeping only sections named in `names` (byte-for-byte).",
        ),
        ("export", "(src, dst, tags)", "Copy `src` \u2192 `dst` keeping only sections tagged with any of `tags`."),
        ("merge", "(a, b, dst)", "Merge projects `a` and `b` into `dst` (`b` wins on clash)."),
    ],
)
def test_signatures_and_help(method, signature, doc):
    fn = getattr(GeoData, method)
    assert fn.__text_signature__ == signature
    assert inspect.getdoc(fn) == doc
