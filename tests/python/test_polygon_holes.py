"""Holes of GeoJSON polygons and shapefile polygon records: each stays a hole
of its polygon through the file loaders, the project loader and a saved
project, so areas subtract it and containment and masking leave it out.
Lines (LineStrings, polylines, IRAP and CPS-3 rings) stay one polygon each."""

import json

import pytest

import voridez as vz
from points_helpers import lattice
from project_files import write_shapefile

# A field outline with a lake, an island in the lake, all axis-aligned; the
# outline and the island run clockwise, the lake counter-clockwise (y up).
OUTER = [(0, 0), (0, 40), (40, 40), (40, 0), (0, 0)]
LAKE = [(10, 10), (20, 10), (20, 20), (10, 20), (10, 10)]
ISLAND = [(12, 12), (12, 18), (18, 18), (18, 12), (12, 12)]


def covered(x, y):
    """Strictly inside the outline and outside the closed lake, or strictly on the island."""
    in_outer = 0 < x < 40 and 0 < y < 40
    in_lake = 10 <= x <= 20 and 10 <= y <= 20
    on_island = 12 < x < 18 and 12 < y < 18
    return (in_outer and not in_lake) or on_island


PROBES = [(5, 5), (15, 11), (11, 15), (15, 15), (10, 15), (20, 20), (12, 15), (25, 25), (0, 20), (41, 20)]


def geojson(path, document):
    path.write_text(json.dumps(document))
    return str(path)


def polygon_features(tmp_path):
    return geojson(tmp_path / "field.geojson", {"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"id": 1}, "geometry": {"type": "Polygon", "coordinates": [OUTER, LAKE]}},
        {"type": "Feature", "properties": None, "geometry": {"type": "Polygon", "coordinates": [ISLAND]}}]})


def multipolygon(tmp_path):
    return geojson(tmp_path / "field.json", {"type": "MultiPolygon", "coordinates": [[OUTER, LAKE], [ISLAND]]})


def shapefile(tmp_path):
    # The island and the lake come before the outline in the record.
    return write_shapefile(tmp_path / "field.shp", 5, [[ISLAND, LAKE, OUTER]])


SOURCES = {
    "geojson polygons": (polygon_features, "load_geojson", [1500.0, 36.0]),
    "geojson multipolygon": (multipolygon, "load_geojson", [1500.0, 36.0]),
    "shapefile": (shapefile, "load_shapefile", [36.0, 1500.0]),  # in the order of their outer rings
}


@pytest.mark.parametrize("source", SOURCES)
def test_a_hole_is_cut_out_of_its_polygon(source, tmp_path):
    write, loader, areas = SOURCES[source]
    path = write(tmp_path)
    geo = vz.GeoData("m")
    geo.load_polygons("field", path)
    saved = str(tmp_path / "project.zedod")
    geo.save(saved)
    surface = lattice(ncol=9, nrow=9, cell=5.0, origin=(0.0, 0.0)).to_surface(method="nearest")
    for how, pg in [("file", getattr(vz.PolygonSet, loader)(path)), ("project", geo.polygons("field")),
                    ("saved", vz.GeoData.open(saved).polygons("field"))]:
        assert len(pg) == 2, how
        assert pg.area.values() == areas, how
        assert pg.total_area() == 1536.0, how
        assert [pg.contains(x, y) for x, y in PROBES] == [covered(x, y) for x, y in PROBES], how
        clipped = pg.clip(surface)
        for i in range(9):
            for j in range(9):
                x, y = 5.0 * i, 5.0 * j
                assert (clipped.sample(x, y) is not None) == covered(x, y), (how, x, y)


def irap(tmp_path):
    rows = [f"{x} {y} 0" for x, y in OUTER] + ["999.0 999.0 999.0"] + [f"{x} {y} 0" for x, y in LAKE]
    path = tmp_path / "rings.pol"
    path.write_text("\n".join(rows) + "\n")
    return str(path), "load_irap_polygons"


def cps3(tmp_path):
    lines = ["->outline"] + [f"{x} {y} 0" for x, y in OUTER] + ["->lake"] + [f"{x} {y} 0" for x, y in LAKE]
    path = tmp_path / "rings.cps3lines"
    path.write_text("\n".join(lines) + "\n")
    return str(path), "load_cps3_lines"


def multilinestring(tmp_path):
    return geojson(tmp_path / "rings.geojson", {"type": "MultiLineString", "coordinates": [OUTER, LAKE]}), "load_geojson"


def polyline(tmp_path):
    return write_shapefile(tmp_path / "rings.shp", 3, [[OUTER, LAKE]]), "load_shapefile"


@pytest.mark.parametrize("write", [irap, cps3, multilinestring, polyline])
def test_lines_stay_one_polygon_each(write, tmp_path):
    path, loader = write(tmp_path)
    for pg in (getattr(vz.PolygonSet, loader)(path), vz.GeoData("m").load_polygons("rings", path)):
        assert pg.area.values() == [1600.0, 100.0]
        assert pg.contains(15, 15)


# Rings that the orientation rule cannot make holes of stay filled polygons:
# a record written counter-clockwise throughout, and a counter-clockwise ring
# that no outer ring of its record holds.
@pytest.mark.parametrize(
    "records, areas",
    [
        ([[OUTER[::-1]]], [1600.0]),
        ([[OUTER[::-1], LAKE]], [1600.0, 100.0]),
        ([[OUTER], [LAKE]], [1600.0, 100.0]),  # a lake in another record
        ([[OUTER, [(50 + x, y) for x, y in LAKE]]], [1600.0, 100.0]),
    ],
)
def test_a_shapefile_ring_that_is_no_hole_stays_a_polygon(records, areas, tmp_path):
    pg = vz.PolygonSet.load_shapefile(write_shapefile(tmp_path / "p.shp", 5, records))
    assert pg.area.values() == areas
