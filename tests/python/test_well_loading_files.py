"""What `GeoData.load_well` makes of the files it is given: every curve of a
file reachable by its name, also when a file repeats a mnemonic."""

import pytest

from voridez import GeoData, IngestSpec
from project_files import las


# ---- repeated mnemonics ------------------------------------------------------------


@pytest.mark.parametrize(
    "ingest, expected",
    [
        # As read: a repeat differing only in case, and one whose numbered
        # name the file already spells itself.
        (None, ["RES", "res:3", "RES:2", "ILD", "GR", "GR"]),
        # Resolution makes RES and ILD one name: the numbering follows it.
        (IngestSpec(aliases={"foo": "BAR"}), ["RT", "RT:2", "RES:2", "RT:3", "GR", "GR"]),
    ],
)
def test_every_curve_of_a_file_is_reachable_by_name(tmp_path, ingest, expected):
    folder = tmp_path / "W"
    las(folder / "W_a.las", ["RES", "res", "RES:2", "ILD", "GR"], [100, 110])
    # The same name in another file of the bore stays as read.
    las(folder / "W_b.las", ["GR"], [100, 110], offset=50)
    well = GeoData().load_well("W", files=str(folder), ingest=ingest)
    names = well.sidetrack("").mnemonics()
    assert names == expected
    # Curve k of a file holds depth / 10 + k: each name of the first file
    # reaches its own column.
    for k, name in enumerate(names[:5]):
        assert well.log(name).values() == [10.0 + k, 11.0 + k], name
