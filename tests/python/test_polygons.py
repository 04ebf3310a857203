"""PolygonSet: building from rings, the file loaders, the queries and the
surface mask."""

import json
import math
import warnings

import numpy as np
import pytest

import voridez as vz
from points_helpers import lattice, shared_file
from surface_grids import values_of

NAN = float("nan")


def box(b):
    return (b.xmin, b.ymin, b.xmax, b.ymax)


def shoelace(ring):
    """Unsigned area of a closed ring, vertices taken relative to the first."""
    x0, y0 = ring[0][0], ring[0][1]
    pts = [(v[0] - x0, v[1] - y0) for v in ring]
    return abs(sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(pts, pts[1:]))) / 2.0


def loaded(load, path):
    """`load(path)` and the texts of the warnings it issued: a file that
    gives no polygon loads as an empty set and says so."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pg = load(path)
    return pg, [str(w.message) for w in caught]


def triangle():
    return vz.PolygonSet.from_rings([[[0, 0], [4, 0], [4, 3]]])


# ---- from_rings ------------------------------------------------------------------


def test_from_rings_closes_and_measures_a_triangle():
    pg = triangle()
    assert len(pg) == 1
    assert pg.rings() == [[[0.0, 0.0, 0.0], [4.0, 0.0, 0.0], [4.0, 3.0, 0.0], [0.0, 0.0, 0.0]]]
    assert pg.total_area() == 6.0
    assert pg.history() == ["polygons.from_rings"]
    assert pg.name is None and pg.kind == "polygon_set"
    assert pg.attr_names() == []
    assert box(pg.bbox()) == (0.0, 0.0, 4.0, 3.0)


def test_from_rings_keeps_a_closed_ring_as_it_is_and_drops_z():
    pg = vz.PolygonSet.from_rings([[[0, 0, 5], [2, 0, 6], [2, 2, 7], [0, 0, 8]], [[1, 2, 9, 7], [3, 2], [3, 4]]])
    assert pg.rings() == [
        [[0.0, 0.0, 0.0], [2.0, 0.0, 0.0], [2.0, 2.0, 0.0], [0.0, 0.0, 0.0]],
        [[1.0, 2.0, 0.0], [3.0, 2.0, 0.0], [3.0, 4.0, 0.0], [1.0, 2.0, 0.0]],
    ]


def test_from_rings_accepts_tuples_and_arrays():
    ring = np.array([[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0]])
    pg = vz.PolygonSet.from_rings((ring, [(0, 0, 1), (2, 0, 1), (2, 2, 1)]))
    assert [p for p in pg.area.values()] == [1.0, 2.0]


@pytest.mark.parametrize(
    "rings, count",
    [
        ([], 0),
        ([[[0, 0], [1, 1]]], 0),  # fewer than three vertices
        ([[[0, 0], [1, 1]], [[0, 0], [1, 0], [0, 1]]], 1),
        ([[]], 0),
    ],
)
def test_short_rings_are_dropped(rings, count):
    pg = vz.PolygonSet.from_rings(rings)
    assert len(pg) == count
    assert pg.history() == ["polygons.from_rings"]
    if count == 0:
        assert all(math.isnan(v) for v in box(pg.bbox()))
        assert pg.total_area() == 0.0
        assert not pg.contains(0.1, 0.1)


@pytest.mark.parametrize(
    "rings",
    [
        [[[5]]],  # in a ring that would have been dropped anyway
        [[[0, 0], [1, 0], [1, 1]], [[1, 1], [2, 2], []]],
        [[[0, 0], [1], [1, 1], [0, 1]]],
    ],
)
def test_a_vertex_without_x_and_y_refuses_the_call(rings):
    with pytest.raises(ValueError) as info:
        vz.PolygonSet.from_rings(rings)
    assert str(info.value) == "from_rings: each vertex needs at least [x, y]"


@pytest.mark.parametrize(
    "rings",
    ["ring", ["ring"], [["v1", "v2", "v3"]], [[[0, 0], [1, "a"], [1, 1]]], 5, [[[0, 0], [1, 0], [1, None]]], [[5.0]]],
)
def test_from_rings_needs_nested_sequences_of_numbers(rings):
    with pytest.raises(TypeError) as info:
        vz.PolygonSet.from_rings(rings)
    assert "while processing 'rings'" in info.value.__notes__


def test_conversion_happens_before_any_vertex_is_checked():
    # The short vertex comes first, the wrong type later: the type wins.
    with pytest.raises(TypeError):
        vz.PolygonSet.from_rings([[[5]], [[0, 0], [1, "x"], [1, 1]]])


# ---- queries ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "point, inside",
    [
        ((0.0, 0.0), False),  # a vertex
        ((2.0, 0.0), False),  # on an edge
        ((4.0, 1.5), False),
        ((2.0, 1.5), False),  # on the hypotenuse y = 0.75 x
        ((8 / 3, 1.0), True),  # the centroid
        ((3.9, 0.1), True),
        ((5.0, 1.0), False),
        ((NAN, 1.0), False),
    ],
)
def test_contains_is_boundary_exclusive(point, inside):
    assert triangle().contains(*point) is inside


def test_contains_respects_holes_and_argument_types():
    from_file = vz.PolygonSet.from_rings([[[0, 0], [10, 0], [10, 10], [0, 10]]])
    assert from_file.contains(5, 5) and from_file.contains(np.float32(1.0), True)
    with pytest.raises(TypeError) as info:
        from_file.contains("5", 5)
    assert "while processing 'x'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        from_file.contains(5, None)
    assert "while processing 'y'" in info.value.__notes__


def test_rings_and_history_are_copies():
    pg = triangle()
    rings = pg.rings()
    rings[0][0][0] = 99.0
    pg.history().append("x")
    assert pg.rings()[0][0][0] == 0.0 and pg.history() == ["polygons.from_rings"]


def test_polygon_set_has_the_default_repr():
    pg = triangle()
    assert repr(pg).startswith("<builtins.PolygonSet object at 0x")


# ---- clip -------------------------------------------------------------------------------


def test_clip_masks_a_surface_and_refuses_other_kinds():
    cloud = lattice(ncol=5, nrow=4, cell=10.0, origin=(0.0, 0.0))
    surface = cloud.to_surface(method="nearest")
    mask = vz.PolygonSet.from_rings([[[-1, -1], [21, -1], [21, 31], [-1, 31]]])
    clipped = mask.clip(surface)
    assert clipped.kind == "surface" and clipped.name is None and clipped is not surface
    assert mask.clip(surface=surface).kind == "surface"
    structured = cloud.detect_topology()[0].to_structured_surface()
    for wrong in (structured, cloud, mask, None, "surface"):
        with pytest.raises(TypeError) as info:
            mask.clip(wrong)
        assert "while processing 'surface'" in info.value.__notes__



# ---- clip against the per-node test -------------------------------------------------------

# Outer corners and hole corners as lattice nodes (i, j): the outer ring runs
# along lattice lines, so whole rows and columns of nodes sit on it.
OUTER = [(2, 1), (22, 1), (22, 19), (2, 19)]
HOLE = [(8, 5), (14, 11), (8, 15)]


def _hole_by_geojson(tmp_path, outer, hole):
    path = tmp_path / "outline.geojson"
    ring = lambda pts: [list(p) for p in pts + pts[:1]]
    path.write_text(json.dumps({"type": "Polygon", "coordinates": [ring(outer), ring(hole)]}))
    return vz.PolygonSet.load_geojson(str(path))


def _hole_by_keyhole(tmp_path, outer, hole):
    # One ring: round the outside, along a bridge to the hole, round the hole
    # the other way and back along the same bridge; the hole winds zero times.
    return vz.PolygonSet.from_rings([outer + [outer[0]] + hole[::-1] + [hole[0], outer[0]]])


@pytest.mark.parametrize("make_mask", [_hole_by_geojson, _hole_by_keyhole])
@pytest.mark.parametrize("rotation, yflip", [(0.0, False), (30.0, False), (-112.5, True)])
def test_clip_keeps_exactly_the_nodes_contains_accepts(tmp_path, make_mask, rotation, yflip):
    geometry = vz.GridGeometry(500.0, 700.0, 1.0, 1.5, 26, 22, rotation_deg=rotation, yflip=yflip)
    mask = make_mask(tmp_path, [geometry.node_xy(*n) for n in OUTER], [geometry.node_xy(*n) for n in HOLE])
    assert len(mask) == 1  # one polygon; the hole is not a polygon of its own
    rows = values_of(mask.clip(vz.Surface.constant(geometry, 1.0)))
    kept = {(i, j) for j, row in enumerate(rows) for i, v in enumerate(row) if not math.isnan(v)}
    wanted = {(i, j) for i in range(26) for j in range(22) if mask.contains(*geometry.node_xy(i, j))}
    assert kept == wanted
    assert (18, 10) in kept and (1, 1) not in kept and (23, 10) not in kept
    assert (10, 10) not in kept  # in the hole


# ---- loaders ----------------------------------------------------------------------------


@pytest.mark.parametrize("loader", ["load_geojson", "load_irap_polygons", "load_shapefile", "load_cps3_lines"])
def test_loaders_take_a_str_path_and_report_missing_files(loader, tmp_path):
    with pytest.raises(TypeError) as info:
        getattr(vz.PolygonSet, loader)(tmp_path)
    assert "while processing 'path'" in info.value.__notes__
    with pytest.raises(ValueError, match=r"^(I/O error: |parse error: shapefile: cannot open )"):
        getattr(vz.PolygonSet, loader)(str(tmp_path / "absent.dat"))


def test_load_cps3_lines_small_file(tmp_path):
    path = tmp_path / "outline.CPS3lines"
    path.write_text('FFASCI 0 1 "m"\nFSLIMI 0 10 0 10 0 0\n->Outline\n0 0 5\n4 0 5\n4 3 5\n->Fault\n10 10 1\n11 10 1\n')
    pg = vz.PolygonSet.load_cps3_lines(str(path))
    assert pg.rings() == [[[0.0, 0.0, 0.0], [4.0, 0.0, 0.0], [4.0, 3.0, 0.0], [0.0, 0.0, 0.0]]]
    assert pg.history() == [f"polygons.load_cps3_lines(path={path})"]


@pytest.mark.parametrize(
    "rel, vertices",
    [
        ("polygons_irap/xtgeo_simple1_no_terminator.pol", [5]),  # closed on reading
        ("polygons_irap/resdata_pol8_closed.xyz", [21]),
        ("polygons_irap/resdata_pol8_noend_intz.xyz", [21]),
        ("polygons_irap/resdata_pol11_trailing_junk.xyz", [14]),
        ("polygons_irap/xtgeo_emerald2_closed.pol", [8, 8]),
        ("polygons_irap/xtgeo_polset2.pol", [13, 12]),
        ("polygons_irap/xtgeo_fence_2pts.pol", []),  # a two-point fence is no polygon
        ("polygons_irap/xtgeo_messypol.pol", [29, 9, 8]),
        ("polygons_irap/xtgeo_reek_faultpolys.pol", [78, 55, 181, 263, 84, 82, 11]),
        ("polygons_irap/xtgeo_well16_4dec.pol", [5430]),
    ],
)
def test_load_irap_polygons_real_files(rel, vertices):
    path = shared_file(rel)
    pg, told = loaded(vz.PolygonSet.load_irap_polygons, path)
    assert told == ([] if vertices else [f"load_irap_polygons: '{path}' holds no polygon"])
    rings = pg.rings()
    assert [len(r) for r in rings] == vertices
    assert all(r[0] == r[-1] and all(v[2] == 0.0 for v in r) for r in rings)
    assert not any(v[0] == 999.0 for r in rings for v in r)
    assert pg.area.values() == pytest.approx([shoelace(r) for r in rings], rel=1e-9)
    assert pg.total_area() == pytest.approx(sum(shoelace(r) for r in rings), rel=1e-9)
    assert pg.history() == [f"polygons.load_irap_polygons(path={path})"]


def test_polygons_of_the_same_outline_agree_across_formats():
    closed = vz.PolygonSet.load_irap_polygons(shared_file("polygons_irap/resdata_pol8_closed.xyz"))
    open_ = vz.PolygonSet.load_irap_polygons(shared_file("polygons_irap/resdata_pol8_noend_intz.xyz"))
    assert closed.rings() == open_.rings()
    shp = vz.PolygonSet.load_shapefile(shared_file("shapefile/gre.shp"))
    geo = vz.PolygonSet.load_geojson(shared_file("geojson/fiona_grenada_multipolygon.geojson"))
    assert shp.total_area() == pytest.approx(geo.total_area(), rel=1e-9)
    assert box(shp.bbox()) == pytest.approx(box(geo.bbox()))


@pytest.mark.parametrize(
    "rel, count, holes",
    [
        ("shapefile/gre.shp", 1, 0.0),
        ("shapefile/coutwildrnp.shp", 67, 0.0),
        # 663 records of 679 rings, six of them holes (records 1, 31, 100, 169, 503, 612)
        ("shapefile/blockgroups.shp", 673, 8.502471800002073e-05),
        ("shapefile/pyshp_polygon.shp", 2, 9.0),  # one record of three rings, the second a hole of the first
        ("shapefile/pyshp_MyPolyZ.shp", 1, 0.0),
        ("shapefile/pyshp_linez.shp", 2, 0.0),
        ("shapefile/pyshp_shapetype.shp", 0, 0.0),  # no records
        ("shapefile/pyshp_point.shp", 0, 0.0),  # points give no rings
    ],
)
def test_load_shapefile_real_files(rel, count, holes):
    path = shared_file(rel)
    pg, told = loaded(vz.PolygonSet.load_shapefile, path)
    assert told == ([] if count else [f"load_shapefile: '{path}' holds no polygon"])
    assert len(pg) == count
    assert all(r[0] == r[-1] for r in pg.rings())
    assert pg.history() == [f"polygons.load_shapefile(path={path})"]
    # Each polygon's area is its exterior's less its holes'.
    exteriors = [shoelace(r) for r in pg.rings()]
    assert sum(exteriors) - pg.total_area() == pytest.approx(holes, rel=1e-9, abs=1e-12)
    if holes == 0.0:
        assert pg.area.values() == pytest.approx(exteriors, rel=1e-9, abs=1e-12)


@pytest.mark.parametrize(
    "rel, count, area",
    [
        ("geojson/fiona_issue627_polygons.geojson", 3, 0.09986607746395748),
        # one polygon with a hole of 7.5e-6 and one without
        ("geojson/fiona_rmnp_multipolygon_noprops.geojson", 2, 0.11846046123839227),
        ("geojson/geojsonhint_multipolygon.geojson", 2, 1.64),  # 1 + (1 - a hole of 0.36)
        ("geojson/geojsonhint_polygon_winding_order.geojson", 1, 1.0),
        ("geojson/geojsonhint_different-first-last.geojson", 1, 1.0),
        ("geojson/geojsonhint_good-point-3d.geojson", 0, 0.0),
    ],
)
def test_load_geojson_polygons_real_files(rel, count, area):
    path = shared_file(rel)
    pg, told = loaded(vz.PolygonSet.load_geojson, path)
    assert told == ([] if count else [f"load_geojson: '{path}' holds no polygon"])
    assert len(pg) == count
    assert pg.total_area() == pytest.approx(area, rel=1e-9)
    assert pg.history() == [f"polygons.load_geojson(path={path})"]


@pytest.mark.parametrize(
    "rel", ["geojson/geojsonhint_bad-json.geojson", "geojson/geojsonhint_featurecollection-type-case.geojson"]
)
def test_load_geojson_polygons_broken_files(rel):
    with pytest.raises(ValueError, match=r"^parse error: GeoJSON polygons: "):
        vz.PolygonSet.load_geojson(shared_file(rel))


def test_clip_keeps_the_nodes_strictly_inside():
    cloud = lattice(ncol=5, nrow=4, cell=10.0, origin=(0.0, 0.0))
    surface = cloud.to_surface(method="nearest")
    mask = vz.PolygonSet.from_rings([[[5, -5], [35, -5], [35, 20], [5, 20]]])
    clipped = mask.clip(surface)
    for x, y, z in cloud.xyz():
        value = clipped.sample(x, y)
        if mask.contains(x, y):
            assert value == z
        else:
            assert value is None  # masked to NaN, which sampling does not answer
    assert clipped.history() == [
        "points.from_coords", "points.to_surface(method=Nearest)", "mask.polygons.from_rings", "polygons.clip(surface)"]
    assert surface.sample(0.0, 0.0) == 100.0  # the input surface is unchanged
