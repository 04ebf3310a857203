"""Logging runs: when several files of one bore carry the same mnemonic (two
runs of GR, a composite beside its runs, a backup copy), every curve stays
reachable by name. The first keeps the name, the later ones are numbered in
load order ("GR:2", ...) as the repeats within one file are, and the load
says so once per bore, naming the mnemonics and the files."""

import re
import warnings

import pytest

from voridez import GeoData, IngestSpec
from project_files import las, write

LEAD = "several files carry the same mnemonic; the curves are numbered in load order: "


def two_runs(folder, first="GR", second="GR"):
    """Two runs of a curve, the second deeper; values depth / 10 (+ 50 in
    the second run), and formation tops A at the first run, B at the second."""
    run1 = las(folder / "W1_run1.las", [first], [1000, 1050, 1100])
    run2 = las(folder / "W1_run2.las", [second], [1200, 1250, 1300], offset=50)
    write(folder / "W1_tops.csv", "name,md\nA,1000\nB,1200\n")
    return run1, run2


def test_each_run_is_reachable_and_the_load_says_so(tmp_path):
    run1, run2 = two_runs(tmp_path / "W1")
    geo = GeoData()
    with pytest.warns(UserWarning) as caught:
        well = geo.load_well("W1", files=str(tmp_path / "W1"))
    assert [str(w.message) for w in caught] == [
        f"load_well: well 'W1': {LEAD}'GR' from '{run1}', 'GR:2' from '{run2}'"
    ]
    assert well.sidetrack("").mnemonics() == ["GR", "GR:2"]
    assert well.log("GR").md() == [1000.0, 1050.0, 1100.0]
    assert well.log("gr:2").values() == [170.0, 175.0, 180.0]


def test_zone_tables_reach_the_later_run(tmp_path):
    pytest.importorskip("pandas")
    two_runs(tmp_path / "W1")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        well = GeoData().load_well("W1", files=str(tmp_path / "W1"))
    first = well.zone_table("GR", stats=["count", "mean"])
    later = well.zone_table("GR:2", stats=["count", "mean"])
    assert [(r.zone, r["count"], r["mean"]) for _, r in first.iterrows()] == [("A", 3, 105.0)]
    # Zone B ends at the last depth, which it leaves out.
    assert [(r.zone, r["count"], r["mean"]) for _, r in later.iterrows()] == [("B", 2, 172.5)]


@pytest.mark.parametrize(
    "first, second, ingest, names",
    [
        # Names that differ only in letter case are one name; each curve
        # keeps its own spelling.
        ("GR", "gr", None, ["GR", "gr:2"]),
        # Numbering comes after alias resolution: two spellings that resolve
        # to one mnemonic are runs of it.
        ("GR", "GAMMA", IngestSpec(aliases={"gamma": "GR"}), ["GR", "GR:2"]),
        ("GR", "GAMMA", None, ["GR", "GAMMA"]),
    ],
)
def test_what_counts_as_one_mnemonic(tmp_path, first, second, ingest, names):
    two_runs(tmp_path / "W1", first, second)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        well = GeoData().load_well("W1", files=str(tmp_path / "W1"), ingest=ingest)
    assert well.sidetrack("").mnemonics() == names
    assert len(caught) == (1 if names[1].endswith(":2") else 0)


def test_a_second_load_under_the_same_identifier_changes_nothing(tmp_path):
    # Loaders never replace: the files of a second load are read (and their
    # runs told) but the stored well keeps its curves and names.
    las(tmp_path / "first" / "W1.las", ["GR"], [1000, 1010])
    two_runs(tmp_path / "second")
    geo = GeoData()
    geo.load_well("W1", files=str(tmp_path / "first"))
    with pytest.warns(UserWarning, match=re.escape(LEAD)):
        again = geo.load_well("W1", files=str(tmp_path / "second"))
    assert again.sidetrack("").mnemonics() == ["GR"]
    assert again.log("GR").md() == [1000.0, 1010.0]
