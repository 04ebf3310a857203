"""A file that cannot be opened, read or written is an I/O error that names
the path as the caller gave it, whichever entry point met it: the loaders,
detection, the project files and the writers."""

import errno
import os

import pytest

from voridez import GeoData, PointSet, PolygonSet, StructuredMeshSurface, detect
from project_files import irap_grid


def io_text(path, code=errno.ENOENT):
    return f"I/O error: '{path}': {os.strerror(code)} (os error {code})"


def saved_project(tmp_path):
    path = tmp_path / "here.zedod"
    GeoData().save(str(path))
    return str(path)


def grid_surface(tmp_path):
    geo = GeoData()
    return geo.load_surface("s", irap_grid(tmp_path / "g.irap", 2, 2, [1, 2, 3, 4]))


# Each case: a call given the missing path, and the name of that path inside
# the test's folder. "gone/" is a folder that does not exist, so the cases
# that write name it too.
CASES = [
    ("detect", lambda p, t: detect(p), "gone.las"),
    ("load_well directory", lambda p, t: GeoData().load_well("W", files=p), "gone"),
    ("load_well file", lambda p, t: GeoData().load_well("W", files=p), "W.wellpth"),
    ("load_well_tops", lambda p, t: GeoData().load_well_tops(p), "tops.csv"),
    ("load_surface", lambda p, t: GeoData().load_surface("s", p), "gone.irap"),
    ("load_structured_surface", lambda p, t: GeoData().load_structured_surface("s", p), "gone.grd"),
    ("load_points", lambda p, t: GeoData().load_points("p", p), "gone.csv"),
    ("load_points_with_topology", lambda p, t: GeoData().load_points_with_topology("p", p, p + ".json"), "gone.poi"),
    ("load_polygons", lambda p, t: GeoData().load_polygons("p", p), "gone.geojson"),
    ("PointSet.load_csv", lambda p, t: PointSet.load_csv(p), "gone.csv"),
    ("PolygonSet.load_irap_polygons", lambda p, t: PolygonSet.load_irap_polygons(p), "gone.pol"),
    ("StructuredMeshSurface.load_earthvision_grid", lambda p, t: StructuredMeshSurface.load_earthvision_grid(p), "e.grd"),
    ("open", lambda p, t: GeoData.open(p), "gone.zedod"),
    ("inspect", lambda p, t: GeoData.inspect(p), "gone.zedod"),
    ("split", lambda p, t: GeoData.split(p, str(t / "out.zedod"), []), "gone.zedod"),
    ("merge", lambda p, t: GeoData.merge(saved_project(t), p, str(t / "out.zedod")), "gone.zedod"),
    ("save into a missing folder", lambda p, t: GeoData().save(p), "gone/p.zedod"),
    ("save_irap_classic into a missing folder", lambda p, t: grid_surface(t).save_irap_classic(p), "gone/x.irap"),
]


@pytest.mark.parametrize("call, name", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_a_missing_path_is_named_in_the_error(tmp_path, call, name):
    path = str(tmp_path / name)
    with pytest.raises(ValueError) as info:
        call(path, tmp_path)
    assert type(info.value) is ValueError
    assert str(info.value) == io_text(path)


def test_the_path_is_shown_as_given(tmp_path, monkeypatch):
    """A relative path stays relative, spaces and quotes as typed."""
    monkeypatch.chdir(tmp_path)
    for given in ["gone.las", "no such dir/it's.las", "./a/../gone.las"]:
        with pytest.raises(ValueError) as info:
            detect(given)
        assert str(info.value) == io_text(given)


def test_a_directory_read_as_a_file_is_named(tmp_path):
    folder = tmp_path / "grid.irap"
    folder.mkdir()
    with pytest.raises(ValueError) as info:
        GeoData().load_surface("s", str(folder))
    assert str(info.value) == io_text(folder, errno.EISDIR)


def test_a_well_directory_that_cannot_be_walked_names_the_folder(tmp_path):
    """The walk of a well directory meets a folder whose path is longer than
    the system takes: the error names that folder, not the well directory."""
    root = tmp_path / "W"
    root.mkdir()
    (root / "W.wellpath").write_text("# WELL HEAD X: 0\n")
    # Nested folders made relative to an open descriptor, so that no single
    # call needs the whole long path.
    fd = os.open(root, os.O_RDONLY)
    path = str(root)
    try:
        while len(os.fsencode(path)) < 4200:
            name = "d" * 200
            os.mkdir(name, dir_fd=fd)
            nxt = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = nxt
            path = os.path.join(path, name)
    finally:
        os.close(fd)
    geo = GeoData()
    with pytest.raises(ValueError) as info:
        geo.load_well("W", files=str(root))
    text = str(info.value)
    prefix, _, rest = text.partition("': ")
    assert prefix.startswith(f"I/O error: '{root}{os.sep}d")
    walked = prefix[len("I/O error: '"):]
    assert path.startswith(walked) and len(os.fsencode(walked)) >= 4096
    assert rest == f"{os.strerror(errno.ENAMETOOLONG)} (os error {errno.ENAMETOOLONG})"
    assert geo.well("W") is None
