"""LAS files as they arrive from other tools, loaded through `GeoData.load_well`:
the first curve is the depth, every column is kept and no sample is made up,
logs recorded upwards come ascending, LAS 3.0 section arrays, a NULL line
without a value, and a depth unit other than the project's. Small files
written by the tests show each case; the real files of the shared folder are
read in place."""

import math
import warnings

import pytest

import voridez
from project_files import shared, write

V2_HEAD = "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\n"
V3_HEAD = "~Version\n VERS. 3.0 : v\n~Well\n NULL. -999.25 : n\n~Log_Definition\n"


def las(version, curves, rows):
    """A LAS file of `version` ("2.0" or "3.0"): its definition lines and its
    data rows (data from line len(head) + len(curves) + 1 on)."""
    head, data = (V2_HEAD, "~A\n") if version == "2.0" else (V3_HEAD, "~Log_Data | Log_Definition\n")
    return head + curves + data + rows


def first_data_line(version, curves):
    return (V2_HEAD if version == "2.0" else V3_HEAD).count("\n") + curves.count("\n") + 2


def load(path, unit="m"):
    """The main bore of a well loaded from one file, and the warnings the load
    gave."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        bore = voridez.GeoData(unit).load_well("W", files=str(path)).sidetrack("")
    return bore, [str(w.message) for w in caught if w.category is UserWarning]


def values(bore, mnemonic):
    return [None if math.isnan(v) else v for v in bore.log(mnemonic).values()]


VERSIONS = pytest.mark.parametrize("version", ["2.0", "3.0"])


# ---- the first curve is the depth --------------------------------------------


@VERSIONS
@pytest.mark.parametrize(
    "curves, depth_rows, logs",
    [
        # TVD after the depth is a log, not the depth.
        ("TDEP.M : d\nGR.API : g\nTVD.M : t\n", "1000 10 990\n1001 11 991\n", ["GR", "TVD"]),
        # A file converted from LIS: the depth named X, a TIME curve later.
        ("X.M : d\nTIME.S : t\nGR.API : g\n", "1000 5 10\n1001 6 11\n", ["TIME", "GR"]),
        # A depth listed second stays a curve of its own.
        ("RES.OHMM : r\nDEPT.M : d\nGR.API : g\n", "1000 2000 10\n1001 2001 11\n", ["DEPT", "GR"]),
    ],
    ids=["TVD after the depth", "X then TIME", "DEPT second"],
)
def test_the_first_curve_is_the_depth(tmp_path, version, curves, depth_rows, logs):
    bore, _ = load(write(tmp_path / "W.las", las(version, curves, depth_rows)))
    assert bore.mnemonics() == logs
    for mnemonic in logs:
        assert bore.log(mnemonic).md() == [1000.0, 1001.0]
    assert values(bore, logs[0]) == [float(r.split()[1]) for r in depth_rows.splitlines()]
    assert bore.md_range() == (1000.0, 1001.0)


@VERSIONS
def test_a_depth_column_of_null_values_is_refused(tmp_path, version):
    path = write(tmp_path / "W.las", las(version, "DEPT.M : d\nGR.API : g\n", "-999.25 1\n-999.25 2\n"))
    with pytest.raises(ValueError, match=r"no md/depth curve: the index curve 'DEPT' holds no number"):
        load(path)


# ---- every column kept, no sample made up --------------------------------------


@VERSIONS
def test_surplus_columns_in_every_row_are_curves(tmp_path, version):
    curves = "DEPT.M : d\nGR.API : g\nRHOB.G/C3 : r\n"
    rows = "1000 10 2.1 7 8\n1001 11 2.2 9 10\n"
    bore, _ = load(write(tmp_path / "W.las", las(version, curves, rows)))
    assert bore.mnemonics() == ["GR", "RHOB", "UNKNOWN", "UNKNOWN:2"]
    assert values(bore, "UNKNOWN") == [7, 9]
    assert values(bore, "UNKNOWN:2") == [8, 10]


@VERSIONS
@pytest.mark.parametrize("long_row", [1, 2], ids=["first row", "second row"])
def test_a_row_longer_than_the_others_is_refused_naming_its_line(tmp_path, version, long_row):
    curves = "DEPT.M : d\nGR.API : g\n"
    rows = ["1000 10", "1001 11", "1002 12"]
    rows[long_row - 1] += " 99"
    path = write(tmp_path / "W.las", las(version, curves, "\n".join(rows) + "\n"))
    line = first_data_line(version, curves) + long_row - 1
    message = (
        f"parse error: LAS: '{path}': line {line} holds 3 values but 2 curves are defined and not every row holds as many"
    )
    with pytest.raises(ValueError) as refused:
        load(path)
    assert str(refused.value) == message

    # In a well folder the file is skipped, and the reason told.
    folder = tmp_path / "well"
    write(folder / "W.las", open(path).read())
    write(folder / "W_ok.las", las(version, curves, "1000 10\n"))
    with pytest.warns(UserWarning, match=rf"load_well: skipped '.*W\.las': parse error: LAS: .* line {line} holds 3"):
        bore = voridez.GeoData("m").load_well("W", files=str(folder)).sidetrack("")
    assert bore.mnemonics() == ["GR"]


@VERSIONS
def test_rows_without_data_are_skipped_and_told_once(tmp_path, version):
    curves = "DEPT.M : d\nGR.API : g\nRHOB.G/C3 : r\n"
    # A title line inside the data, a short row, and the fragment of a cut-off
    # export at the end: a depth alone.
    rows = "DEPTH GR RHOB\n9616 10 2.1\n9617 11\n9618 12 2.3\n59\n"
    path = write(tmp_path / "W.las", las(version, curves, rows))
    bore, told = load(path)
    assert bore.log("GR").md() == [9616.0, 9617.0, 9618.0]
    assert values(bore, "RHOB") == [2.1, None, 2.3]
    line = first_data_line(version, curves)
    assert told == [
        f"load_well: '{path}': skipped 2 data rows holding only a depth or a depth that is not a number, "
        f"the first on line {line}"
    ]


def test_a_comma_row_of_one_value_is_a_depth_alone(tmp_path):
    text = "~Version\n VERS. 3.0\n DLM. COMMA\n~Well\n NULL. -999.25\n~Log_Definition\nDEPT.M\nGR.API\n"
    path = write(tmp_path / "W.las", text + "~Log_Data\n1000,10,\n1001,,\n1002\n")
    bore, told = load(path)
    assert bore.log("GR").md() == [1000.0, 1001.0]
    assert values(bore, "GR") == [10, None]
    assert len(told) == 1 and "skipped 1 data row " in told[0] and "line 12" in told[0]


def test_a_table_out_of_proportion_to_the_file_is_refused_before_it_is_built(tmp_path):
    # 20,000 curve definitions over 20,000 rows of one value: 330 KB of file,
    # 400 million values once the curves the rows leave out were filled.
    curves = "".join(f"C{k}.U\n" for k in range(20000))
    rows = "".join(f"{k}\n" for k in range(20000))
    path = write(tmp_path / "W.las", "~Version\n VERS. 3.0\n~Curve\n" + curves + "~Log_Data\n" + rows)
    with pytest.raises(ValueError) as refused:
        load(path)
    assert str(refused.value) == (
        f"out of range: LAS 3.0: '{path}': a table of 20000 rows × 20000 curves does not fit in memory"
    )


# ---- logs recorded upwards ------------------------------------------------------

UPWARDS = "104 14\n103 13\n102 12\n101 11\n100 10\n"


@VERSIONS
def test_a_log_recorded_upwards_comes_ascending(tmp_path, version):
    bore, told = load(write(tmp_path / "W.las", las(version, "DEPT.M : d\nGR.API : g\n", UPWARDS)))
    assert told == []
    log = bore.log("GR")
    assert log.md() == [100.0, 101.0, 102.0, 103.0, 104.0]
    assert values(bore, "GR") == [10, 11, 12, 13, 14]
    assert bore.md_range() == (100.0, 104.0)
    assert log.at_md(102.5) == pytest.approx(12.5)
    bore.add_top("A", 101.0)
    bore.add_top("B", 104.0)
    stats = bore.zone_stats("GR", zone="A")
    assert (stats.count, stats.min, stats.max) == (3, 11, 13)


@VERSIONS
def test_depths_that_rise_and_fall_are_kept_as_read_and_told(tmp_path, version):
    curves = "DEPT.M : d\nGR.API : g\n"
    path = write(tmp_path / "W.las", las(version, curves, "100 1\n101 2\n100.5 3\n102 4\n"))
    bore, told = load(path)
    assert bore.log("GR").md() == [100.0, 101.0, 100.5, 102.0]
    line = first_data_line(version, curves) + 2
    assert told == [
        f"load_well: '{path}': the depths neither only rise nor only fall (the order breaks on line {line}); "
        "the rows are kept as read"
    ]


def test_a_real_log_recorded_upwards():
    bore, _ = load(shared("las/lasio_1.2_sample.las"))
    assert bore.log("DT").md() == [1669.75, 1669.875, 1670.0]
    assert bore.md_range() == (1669.75, 1670.0)
    assert bore.log("ILD").at_md(1669.8) == pytest.approx(105.6)


# ---- LAS 3.0 section arrays -----------------------------------------------------


def test_runs_of_the_log_group_read_the_first_run(tmp_path):
    text = (
        "~Version\n VERS. 3.0\n~Well\n NULL. -999.25\n"
        "~Log_Definition[1]\n DEPT.M : d\n GR.API : g\n"
        "~Log_Data[1] | Log_Definition[1]\n1000 10\n1001 11\n"
        "~Log_Definition[2]\n DEPT.M : d\n RT.OHMM : r\n"
        "~Log_Data[2] | Log_Definition[2]\n2000 5\n"
    )
    bore, _ = load(write(tmp_path / "W.las", text))
    assert bore.mnemonics() == ["GR"]
    assert values(bore, "GR") == [10, 11]


# ---- a NULL line without a value -------------------------------------------------


@VERSIONS
def test_a_null_line_without_a_value_reads(tmp_path, version):
    text = las(version, "DEPT.M : d\nGR.API : g\n", "1000 -999.25\n1001 7\n").replace("NULL. -999.25 : n", "NULL.   :")
    bore, _ = load(write(tmp_path / "W.las", text))
    assert values(bore, "GR") == [None, 7]


# ---- feet and metres -------------------------------------------------------------


@VERSIONS
@pytest.mark.parametrize(
    "project, depth, strt, told",
    [
        ("m", "DEPT.F", "", "F"),
        ("m", "DEPT.FT", "", "FT"),
        ("m", "DEPT.feet", "", "feet"),
        ("m", "DEPT.", " STRT.FT 1000 : s\n", "FT"),
        ("ft", "DEPT.M", "", "M"),
        ("ft", "DEPT.METRES", "", "METRES"),
        ("m", "DEPT ..1IN", "", ".1IN"),
        ("ft", "DEPT ..1IN", "", ".1IN"),
        ("m", "DEPT.M", " STRT.FT 1000 : s\n", None),
        ("ft", "DEPT.FT", "", None),
        ("m", "ETIM.S", " STRT.FT 0 : s\n", None),
        ("m", "ETIM.MS", "", None),
        ("m", "DEPT.", "", None),
    ],
    ids=lambda v: v.strip().replace(" ", "") if isinstance(v, str) else str(v),
)
def test_a_depth_unit_other_than_the_projects_is_told(tmp_path, version, project, depth, strt, told):
    text = las(version, depth + " : d\nGR.API : g\n", "1000 1\n1001 2\n").replace("~Well\n", "~Well\n" + strt)
    path = write(tmp_path / "W.las", text)
    bore, got = load(path, unit=project)
    assert bore.log("GR").md() == [1000.0, 1001.0]  # nothing converted
    want = [] if told is None else [
        f"load_well: '{path}': depth unit '{told}' is not the project unit '{project}'; "
        "depths are stored as written, not converted"
    ]
    assert got == want


def test_real_files_in_tenths_of_an_inch_and_in_seconds():
    path = shared("las/lasio_2.0_tenth_inch_index.las")
    _, told = load(path)
    assert told == [
        f"load_well: '{path}': depth unit '.1IN' is not the project unit 'm'; depths are stored as written, "
        "not converted"
    ]
    bore, told = load(shared("las/lasio_2.0_time_index.las"))
    assert told == []
    assert bore.log("BFR1").md()[:2] == [0.0, 0.3]
