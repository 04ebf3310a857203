"""What `GeoData.load_well` and `load_well_tops` make of the files they are
given: every curve of a file reachable by its name, also when a file repeats
a mnemonic; a single file that gives a well nothing fails, naming it; what a
directory or a tops file could not give is told as a UserWarning naming the
file, attributed to the caller's line."""

import inspect
import re
import warnings

import pytest

from voridez import GeoData, IngestSpec
from project_files import las, petrel_tops, wellpath, write


# ---- repeated mnemonics ------------------------------------------------------------


@pytest.mark.parametrize(
    "ingest, expected",
    [
        # As read: a repeat differing only in case, and one whose numbered
        # name the file already spells itself.
        (None, ["RES", "res:3", "RES:2", "ILD", "GR", "GR:2"]),
        # Resolution makes RES and ILD one name: the numbering follows it.
        (IngestSpec(aliases={"foo": "BAR"}), ["RT", "RT:2", "RES:2", "RT:3", "GR", "GR:2"]),
    ],
)
def test_every_curve_of_a_file_is_reachable_by_name(tmp_path, ingest, expected):
    folder = tmp_path / "W"
    las(folder / "W_a.las", ["RES", "res", "RES:2", "ILD", "GR"], [100, 110])
    # The same name in another file of the bore is numbered as well, and
    # said so (test_logging_runs.py).
    las(folder / "W_b.las", ["GR"], [100, 110], offset=50)
    with pytest.warns(UserWarning, match="several files carry the same mnemonic"):
        well = GeoData().load_well("W", files=str(folder), ingest=ingest)
    names = well.sidetrack("").mnemonics()
    assert names == expected
    # Curve k of a file holds depth / 10 + k: each name of the first file
    # reaches its own column.
    for k, name in enumerate(names[:5]):
        assert well.log(name).values() == [10.0 + k, 11.0 + k], name


def test_nameless_curves_are_numbered_like_any_repeat(tmp_path):
    path = write(
        tmp_path / "W.las",
        "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n"
        "~Curve\nDEPT.M : depth\n .OHMM : a\nGR.API : g\n .OHMM : b\n~A\n1 10 20 30\n2 11 21 31\n",
    )
    well = GeoData().load_well("W", files=path)
    assert {m: well.log(m).values() for m in well.sidetrack("").mnemonics()} == {
        "UNKNOWN": [10.0, 11.0],
        "GR": [20.0, 21.0],
        "UNKNOWN:2": [30.0, 31.0],
    }


# ---- a single file that gives the well nothing ----------------------------------

GRID = "-996 2 1 1\n0 1 0 1\n2 0 0 0\n0 0 0 0 0 0 0\n1 2 3 4\n"


@pytest.mark.parametrize(
    "name, content, message",
    [
        ("notes.txt", "hello\n", "unsupported format: load_well: '{}' is Unknown, not a LAS, .wellpath or tops CSV file"),
        ("grid.gri", GRID, "unsupported format: load_well: '{}' is IrapClassicGrid, not a LAS, .wellpath or tops CSV file"),
        # The LAS reader's own reason follows the file's name.
        ("empty.las", "", "parse error: load_well: '{}': LAS: "),
        ("data_only.las", "~A\n1 2\n3 4\n", "parse error: load_well: '{}': LAS: "),
        ("lidar.las", b"LASF\x00\x01\x02\x03", "parse error: load_well: '{}': LAS: "),
        ("depth_only.las", "~Version\n VERS. 3.0 : v\n~Curve\nDEPT.M : d\n~A\n1\n2\n",
         "parse error: load_well: '{}' yields no logs, survey or tops"),
        ("tops.csv", "name,md\n", "parse error: load_well: '{}' yields no logs, survey or tops"),
    ],
)
def test_a_single_file_that_gives_no_well_fails_naming_it(tmp_path, name, content, message):
    path = tmp_path / name
    if isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_text(content)
    geo = GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(ValueError) as info:
            geo.load_well("W", files=str(path))
    assert str(info.value).startswith(message.format(path))
    assert geo.well("W") is None and len(geo.wells) == 0
    # The identifier is still free for the file that was meant.
    assert geo.load_well("W", files=las(tmp_path / "W.las", ["GR"], [1, 2])).sidetrack("").mnemonics() == ["GR"]


# ---- what a directory or a tops file could not give ---------------------------------


def caught_at_the_calling_line(call):
    """Runs `call` (a one-line lambda written on the caller's line) and
    returns the texts of the warnings it issued, checking that each names
    that line."""
    caller = inspect.currentframe().f_back
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        call()
    for w in caught:
        assert w.category is UserWarning
        assert (w.filename, w.lineno) == (caller.f_code.co_filename, caller.f_lineno)
    return [str(w.message) for w in caught]


@pytest.mark.parametrize("survey", [False, True])
def test_each_skipped_las_file_of_a_directory_is_a_warning(tmp_path, survey):
    folder = tmp_path / "W1"
    las(folder / "W1.las", ["GR"], [1000, 1010])
    bad = write(folder / "W1_bad.las", "this is no log file\n")
    lidar = folder / "sub" / "W1_lidar.las"
    lidar.parent.mkdir()
    lidar.write_bytes(b"LASF\x00\x01")
    if survey:
        wellpath(folder / "W1.wellpath", 0.0, 0.0, 0.0, [(0, 0), (2000, 2000)])
    geo = GeoData()
    texts = caught_at_the_calling_line(lambda: geo.load_well("W1", files=str(folder)))
    assert len(texts) == 2
    for text, path in zip(texts, [bad, lidar]):
        assert text.startswith(f"load_well: skipped '{path}': parse error: LAS: "), text
    assert geo.well("W1").sidetrack("").mnemonics() == ["GR"]


@pytest.mark.parametrize(
    "files, warned",
    [
        ({}, True),
        ({"grid.gri": GRID, "crs.xml": "<crsmeta><label>X</label></crsmeta>"}, True),
        # W1's own file is notes only, so the other well's log is not used.
        ({"W1_notes.txt": "x\n", "W2.las": None}, True),
        ({"W1.las": None}, False),
    ],
)
def test_a_directory_without_a_file_of_the_well_warns(tmp_path, files, warned):
    folder = tmp_path / "d"
    folder.mkdir()
    for name, content in files.items():
        if content is None:
            las(folder / name, ["GR"], [1, 2])
        else:
            write(folder / name, content)
    geo = GeoData()
    texts = caught_at_the_calling_line(lambda: geo.load_well("W1", files=str(folder)))
    expected = [f"load_well: '{folder}' holds no LAS, .wellpath or tops CSV file of well 'W1'"]
    assert texts == (expected if warned else [])
    assert geo.well("W1") is not None  # still a well, as before


def test_a_warning_made_an_error_raises_after_the_load(tmp_path):
    folder = tmp_path / "W1"
    las(folder / "W1.las", ["GR"], [1000, 1010])
    write(folder / "W1_bad.las", "this is no log file\n")
    geo = GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        with pytest.raises(UserWarning, match=r"^load_well: skipped '.*W1_bad\.las': "):
            geo.load_well("W1", files=str(folder))
    # The readable files were loaded before the warning was issued.
    assert geo.well("W1").sidetrack("").mnemonics() == ["GR"]


@pytest.mark.parametrize(
    "content, warned",
    [
        (None, True),  # a LAS file
        ("well,name,md\nW1,A,10\n", True),
        ([("Fault", "F1", "W1", 10.0)], True),
        ([("Other", "OWC", "W1", 10.0)], False),
        ([("Horizon", "A", "W1", 10.0)], False),
    ],
)
def test_a_tops_file_without_picks_warns(tmp_path, content, warned):
    geo = GeoData()
    geo.load_well("W1", files=wellpath(tmp_path / "W1.wellpath", 0.0, 0.0, 0.0, [(0, 0), (100, 100)]))
    if content is None:
        path = las(tmp_path / "t.las", ["GR"], [1, 2])
    elif isinstance(content, str):
        path = write(tmp_path / "t.csv", content)
    else:
        path = petrel_tops(tmp_path / "t.tops", content)
    counts = []
    texts = caught_at_the_calling_line(lambda: counts.append(geo.load_well_tops(path)))
    assert texts == ([f"load_well_tops: '{path}' holds no Horizon or Other picks"] if warned else [])
    assert counts == [0 if warned or content[0][0] == "Other" else 1]


# ---- a NUL in the path -----------------------------------------------------------


@pytest.mark.parametrize("kind", ["directory", "file"])
def test_a_nul_in_files_is_refused_like_any_path(tmp_path, kind):
    # An empty directory keeps the test safe should the check ever go: the
    # walk of one with entries under such a path never ended.
    if kind == "directory":
        base = tmp_path / "empty"
        base.mkdir()
    else:
        base = las(tmp_path / "W.las", ["GR"], [1, 2])
    geo = GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(ValueError) as info:
            geo.load_well("W", files=f"{base}\0x")
    assert str(info.value) == f"I/O error: path contains a NUL character: '{base}\\0x'"
    # The same text as the other path arguments give.
    with pytest.raises(ValueError) as other:
        geo.load_surface("S", f"{base}\0x")
    assert str(other.value) == str(info.value)
    assert len(geo.wells) == 0
