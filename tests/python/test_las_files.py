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
