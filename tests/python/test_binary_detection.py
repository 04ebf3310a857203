"""Binary files are never text: detection calls bytes that hold a NUL and are
not UTF-16 text `Unknown`, whatever they would look like read as Latin-1 and
whatever their name says, so a shapefile is never a LAS file of a well and an
IRAP binary grid never a classic one. UTF-16 LAS files still read. Messages
quote the bytes they name with their control characters escaped."""

import struct
import warnings

import pytest

from voridez import FormatKind, GeoData, detect
from project_files import las, shared, write_shapefile

# A coordinate whose little-endian bytes hold a line feed followed by '~':
# read as Latin-1 text, the shapefile has a line starting with '~'.
TILDE_X = struct.unpack("<d", b"\x00\x00\x0a\x7e\x00\x00\x24\x40")[0]
SQUARE = [(TILDE_X, 0.0), (TILDE_X, 1.0), (TILDE_X + 1.0, 1.0), (TILDE_X + 1.0, 0.0), (TILDE_X, 0.0)]


def tilde_shapefile(path):
    shp = write_shapefile(path, 5, [[SQUARE]])
    assert b"\n~" in path.read_bytes()
    return shp


def irap_binary(path):
    """The head of an IRAP binary grid: Fortran records, big-endian."""
    record = struct.pack(">iiffffff", -996, 3, 0.0, 100.0, 0.0, 100.0, 50.0, 50.0)
    path.write_bytes(struct.pack(">i", len(record)) + record + struct.pack(">i", len(record)) + bytes(64))
    return str(path)


@pytest.mark.parametrize(
    "make",
    [
        lambda tmp: tilde_shapefile(tmp / "outline.shp"),
        lambda tmp: irap_binary(tmp / "top.gri"),
        lambda tmp: irap_binary(tmp / "top.las"),
    ],
    ids=["shapefile holding a tilde line", "irap binary grid", "binary named as a LAS file"],
)
def test_binary_content_is_unknown(tmp_path, make):
    assert detect(make(tmp_path)) == FormatKind.Unknown


def test_a_shapefile_beside_a_well_is_not_a_skipped_las_file(tmp_path):
    folder = tmp_path / "W1"
    las(folder / "W1.las", ["GR"], [1000, 1010])
    tilde_shapefile(folder / "W1.shp")
    geo = GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        well = geo.load_well("W1", files=str(folder))
    assert well.sidetrack("").mnemonics() == ["GR"]
    # The shapefile itself still loads as polygons.
    assert geo.load_polygons("outline", str(folder / "W1.shp")).rings() == [[[x, y, 0.0] for x, y in SQUARE]]


def test_a_binary_grid_fails_with_its_bytes_escaped(tmp_path):
    # Unknown by content, the .gri name still sends it to the classic reader,
    # which refuses it; the NUL bytes it quotes read \0.
    with pytest.raises(ValueError) as info:
        GeoData().load_surface("top", irap_binary(tmp_path / "top.gri"))
    text = str(info.value)
    assert text == "parse error: IRAP classic: bad id flag '\\0\\0\\0': invalid digit found in string"
    assert not any(ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F for c in text)


@pytest.mark.parametrize("encoding", ["utf-16", "utf-16-be"])
def test_utf16_las_files_of_a_well_still_read(tmp_path, encoding):
    folder = tmp_path / "W1"
    text = open(las(tmp_path / "plain.las", ["GR"], [1000, 1010])).read()
    folder.mkdir()
    # "utf-16" writes a byte-order mark, "utf-16-be" none.
    (folder / "W1.las").write_bytes(text.encode(encoding))
    assert detect(str(folder / "W1.las")) == FormatKind.Las
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        well = GeoData().load_well("W1", files=str(folder))
    assert well.log("GR").values() == [100.0, 101.0]


@pytest.mark.parametrize("name", ["lasio_enc_utf16le_bom.las", "lasio_enc_utf16be_nobom.las"])
def test_real_utf16_las_files_read(name):
    path = shared(f"las/{name}")
    assert detect(path) == FormatKind.Las
    assert len(GeoData().load_well("W", files=path).sidetrack("").mnemonics()) == 7
