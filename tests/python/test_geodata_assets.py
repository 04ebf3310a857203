"""Model sections and assets: payloads kept byte for byte, the order of the
asset checks (name, then envelope, then a taken name; for a replacement the
missing name before the envelope), and their travel through save and open."""

import inspect

import pytest

from voridez import GeoData
from project_files import read_container

ENVELOPE = b'{"asset_type":"seismic","codec":"raw","provider":"acme","schema_version":1}'
NAME = "@asset/cubes/near"


def project_with_asset():
    geo = GeoData()
    geo.add_asset(NAME, "seismic", ENVELOPE, ["t1", "t2"], 1, b"\x00payload\xff")
    return geo


def test_model_sections_keep_their_first_place_and_last_content():
    geo = GeoData()
    geo.put_model_section("a", ["x"], 1, b"one")
    geo.put_model_section("b", [], 0, b"")
    geo.put_model_section(name="a", tags=(), version=4294967295, data=b"two")
    assert geo.model_section_names() == ["a", "b"]
    assert geo.model_section("a") == (4294967295, b"two")
    assert geo.model_section("b") == (0, b"")
    assert geo.model_section("c") is None


def test_asset_snapshot_is_a_fresh_copy():
    geo = project_with_asset()
    snap = geo.asset(NAME)
    assert list(snap) == ["kind", "envelope", "version", "tags", "bytes"]
    assert snap == {"kind": "seismic", "envelope": ENVELOPE, "version": 1, "tags": ["t1", "t2"], "bytes": b"\x00payload\xff"}
    snap["tags"].append("t3")
    snap["kind"] = "x"
    assert geo.asset(NAME)["tags"] == ["t1", "t2"] and geo.asset(NAME) is not geo.asset(NAME)
    assert geo.asset("@asset/cubes/far") is None
    assert geo.asset("not an asset name") is None


@pytest.mark.parametrize(
    "name, kind, envelope, version, message",
    [
        # The name is checked first ...
        ("@Asset/c/n", "x", b"{", 2, "invalid asset name '@Asset/c/n': expected '@asset/<collection>/<name>'"),
        ("@asset/c", "x", b"{", 2, "invalid asset name '@asset/c': empty and traversal path segments are forbidden"),
        ("@asset/c/../n", "x", b"{", 1, "invalid asset name '@asset/c/../n': empty and traversal path segments are forbidden"),
        # ... then the frame version, before the envelope is looked at ...
        ("@asset/c/n", "x", b"{", 2, "cannot create asset frame v2; supported version is 1"),
        # ... then the envelope ...
        ("@asset/c/n", "x", b"[]", 1, "asset envelope must be a JSON object"),
        ("@asset/c/n", "x", b'{"asset_type":"x","codec":"raw","provider":"","schema_version":1}', 1,
         "asset envelope missing non-empty 'provider'"),
        ("@asset/c/n", "x", b'{"asset_type":"x","codec":"raw","provider":"p","schema_version":0}', 1,
         "asset envelope schema_version is out of range"),
        ("@asset/c/n", "other", ENVELOPE, 1, "asset kind 'other' disagrees with envelope asset_type 'seismic'"),
        ("@asset/c/n", "seismic", ENVELOPE.replace(b":", b": ", 1), 1, "asset envelope must be canonical compact UTF-8 JSON"),
        # ... and only then a taken name.
        (NAME, "seismic", ENVELOPE, 1, f"asset '{NAME}' already exists"),
    ],
)
def test_add_asset_checks_in_order(name, kind, envelope, version, message):
    geo = project_with_asset()
    with pytest.raises(ValueError) as info:
        geo.add_asset(name, kind, envelope, [], version, b"")
    assert str(info.value) == "parse error: " + message
    assert geo.asset_names() == [NAME]
    assert geo.asset(NAME)["bytes"] == b"\x00payload\xff"


def test_replace_asset_reports_a_missing_name_before_the_envelope():
    geo = project_with_asset()
    with pytest.raises(ValueError) as info:
        geo.replace_asset("@asset/cubes/far", "x", b"not json", [], 1, b"")
    assert str(info.value) == "not found: asset '@asset/cubes/far'"
    with pytest.raises(ValueError) as info:
        geo.replace_asset("bad", "x", b"not json", [], 1, b"")
    assert str(info.value).startswith("parse error: invalid asset name 'bad'")
    with pytest.raises(ValueError) as info:
        geo.replace_asset(NAME, "x", b"not json", [], 1, b"")
    assert str(info.value).startswith("parse error: invalid asset envelope JSON: ")


def test_replace_keeps_the_position_and_rename_moves_to_the_end():
    geo = project_with_asset()
    geo.add_asset("@asset/cubes/far", "seismic", ENVELOPE, [], 1, b"far")
    geo.replace_asset(NAME, "seismic", ENVELOPE, ["new"], 1, b"replaced")
    assert geo.asset_names() == [NAME, "@asset/cubes/far"]
    assert geo.asset(NAME)["bytes"] == b"replaced" and geo.asset(NAME)["tags"] == ["new"]
    geo.rename_asset(NAME, "@asset/cubes/mid")
    assert geo.asset_names() == ["@asset/cubes/far", "@asset/cubes/mid"]
    geo.rename_asset("@asset/cubes/mid", "@asset/cubes/mid")
    assert geo.asset_names() == ["@asset/cubes/far", "@asset/cubes/mid"]


@pytest.mark.parametrize(
    "old, new, message",
    [
        ("bad", "bad", "parse error: invalid asset name 'bad': expected '@asset/<collection>/<name>'"),
        (NAME, "@asset/x", "parse error: invalid asset name '@asset/x': empty and traversal path segments are forbidden"),
        (NAME, "@asset/cubes/far", "parse error: asset '@asset/cubes/far' already exists"),
        ("@asset/cubes/gone", "@asset/cubes/new", "not found: asset '@asset/cubes/gone'"),
    ],
)
def test_rename_asset_refusals(old, new, message):
    geo = project_with_asset()
    geo.add_asset("@asset/cubes/far", "seismic", ENVELOPE, [], 1, b"far")
    with pytest.raises(ValueError) as info:
        geo.rename_asset(old, new)
    assert str(info.value) == message
    assert geo.asset_names() == [NAME, "@asset/cubes/far"]


def test_delete_asset_once():
    geo = project_with_asset()
    assert geo.delete_asset(NAME) is True
    assert geo.delete_asset(NAME) is False
    assert geo.delete_asset("ill formed") is False
    assert geo.asset_names() == []


@pytest.mark.parametrize(
    "method, args, error, bad",
    [
        ("put_model_section", ("n", [], -1, b""), OverflowError, "version"),
        ("put_model_section", ("n", [], 2**32, b""), OverflowError, "version"),
        ("put_model_section", ("n", [], 1.0, b""), TypeError, "version"),
        ("put_model_section", ("n", [], 1, bytearray(b"x")), TypeError, "data"),
        ("put_model_section", ("n", [], 1, memoryview(b"x")), TypeError, "data"),
        ("put_model_section", ("n", "tags", 1, b""), TypeError, "tags"),
        ("add_asset", (NAME, "seismic", ENVELOPE.decode(), [], 1, b""), TypeError, "envelope"),
        ("add_asset", (NAME, 5, ENVELOPE, [], 1, b""), TypeError, "kind"),
        ("replace_asset", (NAME, "seismic", ENVELOPE, [], 1, "data"), TypeError, "data"),
        ("rename_asset", (NAME, None), TypeError, "new"),
        ("delete_asset", (1,), TypeError, "name"),
        ("model_section", (b"n",), TypeError, "name"),
        ("asset", (None,), TypeError, "name"),
    ],
)
def test_argument_conversions(method, args, error, bad):
    geo = GeoData()
    with pytest.raises(error) as info:
        getattr(geo, method)(*args)
    assert f"while processing '{bad}'" in info.value.__notes__
    assert geo.model_section_names() == [] and geo.asset_names() == []


@pytest.mark.parametrize("version", [-1, 2**32, 2**63, 2**64, -(2**70)])
@pytest.mark.parametrize("method", ["put_model_section", "add_asset"])
def test_a_version_out_of_range_reads_the_same_however_far_out(method, version):
    geo = GeoData()
    args = ("n", [], version, b"") if method == "put_model_section" else (NAME, "seismic", ENVELOPE, [], version, b"")
    with pytest.raises(OverflowError) as info:
        getattr(geo, method)(*args)
    assert str(info.value) == "out of range integral type conversion attempted"
    assert info.value.__notes__ == ["while processing 'version'"]


def test_bytes_subclasses_and_str_subclasses_are_accepted():
    class B(bytes):
        pass

    class S(str):
        pass

    geo = GeoData()
    geo.put_model_section(S("m"), [S("t")], 3, B(b"x"))
    assert geo.model_section("m") == (3, b"x")


def test_listings_take_no_arguments():
    geo = GeoData()
    for method in ("model_section_names", "asset_names"):
        with pytest.raises(TypeError):
            getattr(geo, method)(1)
        with pytest.raises(TypeError):
            getattr(geo, method)(name="x")


def test_assets_and_sections_travel_through_save_and_open(tmp_path):
    geo = project_with_asset()
    geo.put_model_section("sidecar", ["keep"], 9, b"\x01\x02")
    path = str(tmp_path / "p.zedod")
    geo.save(path)
    _, manifest, payloads = read_container(path)
    entries = {e["name"]: e for e in manifest["sections"]}
    assert entries[NAME]["kind"] == "asset" and entries[NAME]["version"] == 1 and entries[NAME]["tags"] == ["t1", "t2"]
    assert entries["sidecar"]["kind"] == "model" and entries["sidecar"]["version"] == 9
    assert entries["sidecar"]["tags"] == ["keep"]

    opened = GeoData.open(path)
    assert opened.asset(NAME) == geo.asset(NAME)
    assert opened.model_section("sidecar") == (9, b"\x01\x02")
    # An opened asset is written back with the frame it was read with; a
    # rename keeps that frame.
    opened.rename_asset(NAME, "@asset/cubes/renamed")
    again = str(tmp_path / "q.zedod")
    opened.save(again)
    assert read_container(again)[2][("asset", "@asset/cubes/renamed")] == payloads[("asset", NAME)]

    # Split selects an asset by the part of its name after "@asset/".
    part = str(tmp_path / "part.zedod")
    GeoData.split(path, part, ["cubes/near"])
    assert GeoData.inspect(part)["elements"] == [("asset", NAME)]
    GeoData.export(path, part, ["keep"])
    assert GeoData.inspect(part)["elements"] == [("model", "sidecar")]


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        ("put_model_section", "($self, name, tags, version, data)",
         "Store an opaque model section (korviSim's sidecar) \u2014 bytes voridEZ frames\n"
         "and returns untouched, each with its own `version`."),
        ("model_section_names", "($self)", "The names of the model sections held."),
        ("model_section", "($self, name)", "A model section's `(version, bytes)`, or `None`."),
        ("add_asset", "($self, name, kind, envelope, tags, version, data)",
         "Add a generic provider-owned project asset. `envelope` and `data` are\n"
         "retained exactly; existing physical names are never overwritten."),
        ("replace_asset", "($self, name, kind, envelope, tags, version, data)",
         "Replace an existing generic project asset; missing names are an error."),
        ("rename_asset", "($self, old, new)", None),
        ("delete_asset", "($self, name)", None),
        ("asset_names", "($self)", None),
        ("asset", "($self, name)", "Snapshot one generic asset as plain fields, or `None`."),
    ],
)
def test_signatures_and_help(method, signature, doc):
    fn = getattr(GeoData, method)
    assert fn.__text_signature__ == signature
    assert (inspect.getdoc(fn) or None) == doc
