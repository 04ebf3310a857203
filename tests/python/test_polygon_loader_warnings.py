"""A polygon file that gives no polygon (a GeoJSON of points only, features
with null geometries, a shapefile of points, null shapes or multipatch
records) still loads, as an empty PolygonSet, and the loader says so with a
UserWarning naming the file, attributed to the caller's line."""

import json
import struct
import warnings

import pytest

import voridez as vz
from project_files import shared, write, write_shapefile

SQUARE = [[0, 0], [0, 10], [10, 10], [10, 0], [0, 0]]


def geojson(tmp, geometries):
    features = [{"type": "Feature", "properties": {"id": k}, "geometry": g} for k, g in enumerate(geometries)]
    return write(tmp / "f.geojson", json.dumps({"type": "FeatureCollection", "features": features}))


EMPTY_FILES = {
    "geojson of points": lambda tmp: geojson(tmp, [{"type": "Point", "coordinates": [1, 2]},
                                                   {"type": "MultiPoint", "coordinates": [[3, 4], [5, 6]]}]),
    "geojson of null geometries": lambda tmp: geojson(tmp, [None, None]),
    "shapefile of points": lambda tmp: write_shapefile(tmp / "f.shp", 1, [struct.pack("<i2d", 1, 1.0, 2.0)]),
    "shapefile of null shapes": lambda tmp: write_shapefile(tmp / "f.shp", 5, [struct.pack("<i", 0)] * 2),
    "real multipatch shapefile": lambda tmp: shared("shapefile/pyshp_multipatch.shp"),
}


def caught(call):
    """The result of `call` and the texts of the warnings it issued, each
    attributed to this file."""
    with warnings.catch_warnings(record=True) as got:
        warnings.simplefilter("always")
        result = call()
    assert all(w.category is UserWarning and w.filename == __file__ for w in got)
    return result, [str(w.message) for w in got]


def file_loader(path):
    return vz.PolygonSet.load_shapefile if path.endswith(".shp") else vz.PolygonSet.load_geojson


@pytest.mark.parametrize("make", EMPTY_FILES.values(), ids=EMPTY_FILES.keys())
def test_a_file_without_polygons_loads_empty_and_says_so(tmp_path, make):
    path = make(tmp_path)
    geo = vz.GeoData()
    view, told = caught(lambda: geo.load_polygons("outline", path))
    assert told == [f"load_polygons: '{path}' holds no polygon"]
    assert len(view) == 0 and geo.polygons("outline") is not None  # stored all the same
    load = file_loader(path)
    pg, told = caught(lambda: load(path))
    assert told == [f"{load.__name__}: '{path}' holds no polygon"]
    assert len(pg) == 0


@pytest.mark.parametrize(
    "make",
    [
        lambda tmp: geojson(tmp, [{"type": "Point", "coordinates": [1, 2]},
                                  {"type": "Polygon", "coordinates": [SQUARE]}]),
        lambda tmp: write_shapefile(tmp / "f.shp", 5, [[[tuple(v) for v in SQUARE]]]),
    ],
    ids=["geojson with one polygon among points", "shapefile polygon"],
)
def test_a_file_with_a_polygon_says_nothing(tmp_path, make):
    path = make(tmp_path)
    view, told = caught(lambda: vz.GeoData().load_polygons("outline", path))
    assert told == [] and len(view) == 1
    pg, told = caught(lambda: file_loader(path)(path))
    assert told == [] and len(pg) == 1


def test_a_warning_made_an_error_raises_after_the_load(tmp_path):
    path = geojson(tmp_path, [None])
    geo = vz.GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        with pytest.raises(UserWarning, match="holds no polygon"):
            geo.load_polygons("outline", path)
    assert geo.polygons("outline") is not None
