"""Named pipes and devices given as files are refused at once: no reader waits
for a writer that never comes or reads a device that never ends."""

import os

import pytest

import voridez as vz


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "pipe.dat"
    os.mkfifo(path)
    return str(path)


READERS = [
    ("detect", lambda p: vz.detect(p)),
    ("open", lambda p: vz.GeoData.open(p)),
    ("inspect", lambda p: vz.GeoData.inspect(p)),
    ("irap", lambda p: vz.Surface.load_irap_classic(p)),
    ("cps3", lambda p: vz.Surface.load_cps3_grid(p)),
    ("tops", lambda p: vz.GeoData().load_well_tops(p)),
    ("surface", lambda p: vz.GeoData().load_surface("s", p)),
]


@pytest.mark.parametrize("name, read", READERS, ids=[n for n, _ in READERS])
@pytest.mark.parametrize("special", ["fifo", "/dev/zero"])
def test_special_files_are_refused(name, read, special, request):
    path = request.getfixturevalue("fifo") if special == "fifo" else special
    if not os.path.exists(path):
        pytest.skip(f"{path} not available")
    with pytest.raises(ValueError) as info:
        read(path)
    assert str(info.value).endswith(f"'{path}' is not a regular file")
