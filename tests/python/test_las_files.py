"""LAS files as a user loads them: `GeoData.load_well` on one file, then the
curves by name. Small files written by the tests show each fault; the real
files of the shared folder check the same behaviour on exports of other tools."""

import math

import pytest

import voridez
from project_files import shared, write


def load(path, well_id="W"):
    """The main bore of a well loaded from one LAS file."""
    return voridez.GeoData("m").load_well(well_id, files=str(path)).sidetrack("")


def values(bore, mnemonic):
    return [None if math.isnan(v) else v for v in bore.log(mnemonic).values()]


def las2(curve_lines, rows, version_lines=""):
    return (
        "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n" + version_lines + "~Well\n NULL. -999.25 : n\n"
        "~Curve\n" + curve_lines + "~A\n" + rows
    )


def las3(curve_lines, rows):
    return (
        "~Version\n VERS. 3.0 : v\n~Well\n NULL. -999.25 : n\n"
        "~Log_Definition\n" + curve_lines + "~Log_Data | Log_Definition\n" + rows
    )


# ---- a curve without a mnemonic keeps its column ----------------------------


@pytest.mark.parametrize("make", [las2, las3], ids=["2.0", "3.0"])
@pytest.mark.parametrize("nameless", [" .OHMM  : resistivity\n", ".ILM .OHMM\n"])
def test_a_nameless_curve_keeps_its_column(tmp_path, make, nameless):
    curves = "DEPT.M : depth\nGR.API : gamma\n" + nameless + "RT.OHMM : deep\n"
    bore = load(write(tmp_path / "W.las", make(curves, "100 10 1 7\n101 11 2 8\n")))
    assert bore.mnemonics() == ["GR", "UNKNOWN", "RT"]
    assert values(bore, "GR") == [10, 11]
    assert values(bore, "UNKNOWN") == [1, 2]
    assert values(bore, "RT") == [7, 8]
    assert bore.log("RT").md() == [100, 101]


# ---- LAS 3.0: the log data under their own definitions -----------------------

V3_GROUPS = (
    "~Version\n VERS. 3.0 : v\n DLM. COMMA : d\n~Well\n NULL. -999.25 : n\n"
    "~Log_Definition\n DEPT.M : depth\n GR.API : gamma\n RHOB.K/M3 : density\n"
    "~Drilling_Definition\n DDEP.ft : depth\n ROP.ft/hr : rate\n"
    "~Perforations_Definition\n PERFT.M : top\n PERFB.M : base\n SHOTS.1/M : shots\n"
    "~Drilling_Data | Drilling_Definition\n322.0,24.0\n323.0,37.5\n"
    "~Perforations_Data | Perforations_Definition\n545.5,550.6,12\n"
    "~Log_Data | Log_Definition\n1670.0,45.2,2550\n1670.5,48.9,2551\n1671.0,-999.25,2549\n"
)


def test_v3_log_data_under_the_log_definitions(tmp_path):
    bore = load(write(tmp_path / "W.las", V3_GROUPS))
    assert bore.mnemonics() == ["GR", "RHOB"]
    assert bore.log("GR").md() == [1670.0, 1670.5, 1671.0]
    assert values(bore, "GR") == [45.2, 48.9, None]
    assert values(bore, "RHOB") == [2550, 2551, 2549]


def test_v3_sample_with_every_group_reads_its_logs():
    bore = load(shared("las/lasio_3.0_cwls_sample.las"))
    assert bore.mnemonics() == ["DT", "RHOB", "NPHI", "SFLU", "SFLA", "ILM", "ILD", "YME", "CDES"] + [
        f"NMR[{k}]" for k in range(1, 6)
    ]
    # The sample runs upwards; its rows come ascending.
    assert bore.log("ILD").md() == [1669.75, 1669.875, 1670.0]
    assert values(bore, "ILD") == [105.6, 105.6, 105.6]
    assert values(bore, "YME") == [2.85e12, 1.47e12, 1.45e12]


# Files with one data group, or a log group repeated, read as before: each
# data section with the definition just before it.
@pytest.mark.parametrize(
    "name, mnemonics, first_md, rows",
    [
        ("lasio_3.0_phase_sections_latin1.las", ["AORIENT", "ALONG_DL", "ASTATE"], 0.0, 6),
        ("lasio_3.0_repeated_ascii_sections.las", ["AZIMUTH", "INCLINATION", "TVD", "TVDSS"], 268.0, 82),
        ("lasio_3.0_single_section.las", ["Bottom", "Delta", "Difference", "Flip", "Top"], 0.0, 161),
        (
            "lasio_3.0_tab_drilling.las",
            ["Total_Vertical_Depth", "Recording_date", "Clay-S", "Sand-FSS", "Sand-SIS"],
            18400.0,
            401,
        ),
    ],
)
def test_v3_real_files_with_one_group(name, mnemonics, first_md, rows):
    bore = load(shared("las/" + name))
    assert bore.mnemonics() == mnemonics
    md = bore.log(mnemonics[-1]).md()
    assert (md[0], len(md)) == (first_md, rows)


# ---- LAS 2.0: rows separated by commas without a DLM line --------------------

COMMA_ROWS = "1000.5,45.2,-999.25\n1001.0, 48.9 , 0.21\n1001.5,,0.19\n"


@pytest.mark.parametrize("dlm", ["", " DLM. COMMA : d\n"], ids=["no DLM", "DLM COMMA"])
def test_comma_rows_read_as_comma_separated(tmp_path, dlm):
    curves = "DEPT.M : depth\nGR.API : gamma\nPHIE.V/V : porosity\n"
    bore = load(write(tmp_path / "W.las", las2(curves, COMMA_ROWS, version_lines=dlm)))
    assert bore.log("GR").md() == [1000.5, 1001.0, 1001.5]
    assert values(bore, "GR") == [45.2, 48.9, None]
    assert values(bore, "PHIE") == [None, 0.21, 0.19]


def test_a_decimal_comma_among_blanks_stays_one_unreadable_value():
    bore = load(shared("las/lasio_comma_decimal_mark.las"))
    assert bore.log("SFLU").md() == [1669.75, 1669.875, 1670.0]
    assert values(bore, "SFLU") == [123.45, None, 123.45]
    assert values(bore, "SFLA") == [123.45, 123.45, 123.45]


# ---- a depth column without a number ------------------------------------------

TIME_INDEXED = las2(
    "TIME.HHMMSS : time\nDATE.D : date\nDEPT.M : bit depth\nGR.API : gamma\n",
    "00:00:00 01-Jan-20 1500.2435 126.56\n00:00:01 01-Jan-20 1500.3519 127.01\n",
)


def test_a_file_whose_index_holds_no_number_gives_no_logs(tmp_path):
    folder = tmp_path / "W"
    write(folder / "W.las", las2("DEPT.M : depth\nRHOB.G/C3 : density\n", "1500 2.31\n1501 2.35\n"))
    write(folder / "W_time.las", TIME_INDEXED)
    with pytest.warns(UserWarning, match=r"W_time\.las.*no md/depth curve: the index curve 'TIME' holds no number"):
        bore = load(folder)
    assert bore.mnemonics() == ["RHOB"]
    assert bore.log("RHOB").md() == [1500.0, 1501.0]


def test_loading_only_a_time_indexed_file_fails():
    path = shared("las/lasio_2.0_time_date_columns.las")
    with pytest.raises(ValueError, match="no md/depth curve: the index curve 'TIME' holds no number"):
        load(path)
