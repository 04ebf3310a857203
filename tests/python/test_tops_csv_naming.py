"""Every csv file among a well's files is read as formation tops; one that is
not a tops file still ends the load, and the message names the file."""

import pytest

from voridez import GeoData
from project_files import las, write


@pytest.mark.parametrize(
    "content, message",
    [
        ("x,y,z\n1,2,3\n", "not found: load_well: '{}': tops CSV: column 'name'"),
        ("name,depth\nA,10\n", "not found: load_well: '{}': tops CSV: column 'md'"),
        ("name,md\nA,deep\n", "parse error: load_well: '{}': tops CSV: row 0: bad md 'deep': invalid float literal"),
    ],
)
@pytest.mark.parametrize("given", ["directory", "file"])
def test_a_csv_that_is_no_tops_file_fails_naming_it(tmp_path, content, message, given):
    folder = tmp_path / "W1"
    las(folder / "W1.las", ["GR"], [1000, 1010])
    csv = write(folder / "W1_points.csv", content)
    geo = GeoData()
    with pytest.raises(ValueError) as info:
        geo.load_well("W1", files=str(folder) if given == "directory" else csv)
    assert str(info.value) == message.format(csv)
    assert len(geo.wells) == 0
