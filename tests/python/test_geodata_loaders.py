"""File loaders of the project: which files each loader takes, the view it
hands back, the shared surface namespace (checked before any file is opened),
names that are already taken, and failures that leave the project as it
was."""

import inspect
import warnings

import pytest

import voridez
from voridez import GeoData
from project_files import fixture, irap_grid, read_container, shared, write

# (loader, shared file, class of the view)
REAL_FILES = [
    ("load_surface", "irap_grid/resdata_small_30x20_rotm65.irap", "Surface"),
    ("load_surface", "irap_grid/resdata_valid_rotm65.irap", "Surface"),
    ("load_surface", "irap_grid/resdata_header_xinc_inconsistent.irap", "Surface"),
    ("load_structured_surface", "earthvision/resinsight_small_flipped_clipped.ptl", "StructuredMeshSurface"),
    ("load_structured_surface", "earthvision/resinsight_norne_test.ptl", "StructuredMeshSurface"),
    ("load_points", "points_xyz/xtgeo_pointset2.poi", "PointSet"),
    ("load_points", "points_xyz/resinsight_tiny_tabs.dat", "PointSet"),
    ("load_points", "points_xyz/xtgeo_twocell_999_terminated.poi", "PointSet"),
    ("load_points", "earthvision/resinsight_small_flipped_clipped.ptl", "PointSet"),
    ("load_points", "geojson/geojsonhint_good-featurecollection-bbox3d.geojson", "PointSet"),
    ("load_polygons", "polygons_irap/xtgeo_polset2.pol", "PolygonSet"),
    ("load_polygons", "polygons_irap/resdata_pol8_closed.xyz", "PolygonSet"),
    ("load_polygons", "polygons_irap/xtgeo_messypol.pol", "PolygonSet"),
    ("load_polygons", "shapefile/gre.shp", "PolygonSet"),
    ("load_polygons", "shapefile/pyshp_polygon.shp", "PolygonSet"),
    ("load_polygons", "geojson/fiona_issue627_polygons.geojson", "PolygonSet"),
    ("load_polygons", "geojson/geojsonhint_multipolygon.geojson", "PolygonSet"),
]

SECTION_KIND = {
    "load_surface": "surface",
    "load_structured_surface": "structured_mesh",
    "load_points": "points",
    "load_polygons": "polygons",
}


@pytest.mark.parametrize("loader, rel, cls", REAL_FILES)
def test_real_files_load_into_their_namespace_and_save(tmp_path, loader, rel, cls):
    geo = GeoData()
    view = getattr(geo, loader)("set/" + rel.split("/")[-1], shared(rel))
    assert type(view).__name__ == cls
    assert view.name == rel.split("/")[-1]
    geo.save(str(tmp_path / "p.zedod"))
    assert GeoData.inspect(str(tmp_path / "p.zedod"))["elements"] == [(SECTION_KIND[loader], "set/" + rel.split("/")[-1])]


# (project loader, shared file, the class's own reader that the content
# calls for)
DISPATCH = [
    ("load_points", "points_xyz/xtgeo_pointset2.poi", "PointSet", "load_irap_points"),
    ("load_points", "points_xyz/resinsight_tiny_space.dat", "PointSet", "load_irap_points"),
    ("load_points", "earthvision/resinsight_norne_test.ptl", "PointSet", "load_earthvision_grid"),
    ("load_points", "geojson/fiona_single_point_tz.geojson", "PointSet", "load_geojson"),
    ("load_polygons", "polygons_irap/xtgeo_reek_faultpolys.pol", "PolygonSet", "load_irap_polygons"),
    ("load_polygons", "polygons_irap/resdata_pol8_noend_intz.xyz", "PolygonSet", "load_irap_polygons"),
    ("load_polygons", "shapefile/coutwildrnp.shp", "PolygonSet", "load_shapefile"),
    ("load_polygons", "geojson/fiona_rmnp_multipolygon_noprops.geojson", "PolygonSet", "load_geojson"),
]


@pytest.mark.parametrize("loader, rel, cls, reader", DISPATCH)
def test_the_loader_reads_what_the_file_holds(loader, rel, cls, reader):
    path = shared(rel)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # the reader's own deprecation
        direct = getattr(getattr(voridez, cls), reader)(path)
    view = getattr(GeoData(), loader)("x", path)
    assert view.history() == direct.history() and len(direct.history()) == 1
    assert view.attr_names() == direct.attr_names()
    if cls == "PointSet":
        assert view.xyz() == direct.xyz() and len(view.xyz()) > 0
    else:
        assert view.rings() == direct.rings() and len(view.rings()) > 0


def test_points_csv_takes_the_x_y_z_columns(tmp_path):
    path = write(tmp_path / "p.csv", "x,y,z,porosity\n1,2,3,0.1\n4,5,6,0.2\n")
    view = GeoData().load_points("p", path)
    assert view.xyz() == [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)]


@pytest.mark.parametrize(
    "loader, rel, reader",
    [
        ("load_surface", "irap_grid/resdata_valid_rotm65.irap", "load_irap_classic"),
        ("load_surface", "irap_grid/resinsight_volantis_rot30.irap", "load_irap_classic"),
        ("load_structured_surface", "earthvision/resinsight_norne_test.ptl", "load_earthvision_grid"),
    ],
)
def test_surface_loaders_read_what_the_file_holds(loader, rel, reader):
    path = shared(rel)
    cls = voridez.Surface if loader == "load_surface" else voridez.StructuredMeshSurface
    direct = getattr(cls, reader)(path)
    view = getattr(GeoData(), loader)("x", path)
    assert view.history() == direct.history() and len(direct.history()) == 1
    assert (view.ncol, view.nrow) == (direct.ncol, direct.nrow)
    assert view.to_tri_surface().values() == direct.to_tri_surface().values()


def test_cps3_grid_loads_as_a_regular_surface():
    geo = GeoData()
    view = geo.load_surface("brent", fixture("cps3/top_brent.cps3grid"))
    assert isinstance(view, voridez.Surface) and view.name == "brent"
    assert (view.ncol, view.nrow) == (4, 3)
    assert view.history() == voridez.Surface.load_cps3_grid(fixture("cps3/top_brent.cps3grid")).history()
    assert geo.surface("brent") is not None


def test_points_with_topology_take_their_column_and_row_from_the_export(tmp_path):
    ev = shared("earthvision/resinsight_small_flipped_clipped.ptl")
    rows = [line.split() for line in open(ev) if line[0] != "#"]
    points = write(tmp_path / "pts.poi", "".join(f"{r[0]} {r[1]} {r[2]}\n" for r in rows))
    geo = GeoData()
    view = geo.load_points_with_topology("pts", points, ev)
    assert isinstance(view, voridez.PointSet) and view.name == "pts"
    assert view.attr_names() == ["column", "row"]
    assert [(c, r) for c, r in zip(view.attr("column"), view.attr("row"))] == [(float(r[3]), float(r[4])) for r in rows]
    assert geo.points("pts") is not None and geo.surface("pts") is None


@pytest.mark.parametrize(
    "loader, rel, message",
    [
        (
            "load_surface",
            "las/lasio_2.0_sample.las",
            "unsupported format: load_surface: '{}' is Las, not a supported surface format",
        ),
        (
            "load_structured_surface",
            "irap_grid/resdata_small_30x20_rotm65.irap",
            "unsupported format: load_structured_surface: '{}' is IrapClassicGrid, not an EarthVision grid",
        ),
        (
            "load_points",
            "las/lasio_2.0_sample.las",
            "unsupported format: load_points: '{}' is Las, not a supported point format",
        ),
        (
            "load_polygons",
            "las/lasio_2.0_sample.las",
            "unsupported format: load_polygons: '{}' is Las, not a supported polygon format",
        ),
    ],
)
def test_a_file_of_another_kind_is_refused(loader, rel, message):
    path = shared(rel)
    geo = GeoData()
    with pytest.raises(ValueError) as info:
        getattr(geo, loader)("x", path)
    assert str(info.value) == message.format(path)


@pytest.mark.parametrize(
    "loader, what",
    [("load_surface", "surface"), ("load_points", "point"), ("load_polygons", "polygon")],
)
def test_an_unknown_extension_is_refused(tmp_path, loader, what):
    path = write(tmp_path / "notes.txt", "nothing to see\n")
    with pytest.raises(ValueError) as info:
        getattr(GeoData(), loader)("x", path)
    assert str(info.value) == f"parse error: {loader}: unsupported {what} extension '.txt' for '{path}'"


@pytest.mark.parametrize("loader", ["load_surface", "load_structured_surface", "load_points", "load_polygons"])
def test_a_missing_file_is_an_io_error(tmp_path, loader):
    with pytest.raises(ValueError, match=r"^I/O error: "):
        getattr(GeoData(), loader)("x", str(tmp_path / "absent.irap"))


@pytest.mark.parametrize(
    "first, second, message",
    [
        (
            "load_structured_surface",
            "load_surface",
            "parse error: load_surface: surface name 'm' already belongs to a structured mesh surface",
        ),
        (
            "triangulated",
            "load_surface",
            "parse error: load_surface: surface name 'm' already belongs to a structured mesh surface",
        ),
        (
            "load_surface",
            "load_structured_surface",
            "parse error: load_structured_surface: surface name 'm' already belongs to a regular surface",
        ),
        (
            "triangulated",
            "load_structured_surface",
            "parse error: load_structured_surface: surface name 'm' already belongs to a regular surface",
        ),
    ],
)
def test_surface_kinds_share_one_namespace_checked_before_the_file(tmp_path, first, second, message):
    grid = irap_grid(tmp_path / "g.irap", 2, 2, [1, 2, 3, 4])
    geo = GeoData()
    if first == "triangulated":
        geo.load_surface("m", grid)
        geo.replace_surface("m", geo.surface("m").to_tri_surface())
    elif first == "load_surface":
        geo.load_surface("m", grid)
    else:
        geo.load_structured_surface("m", shared("earthvision/resinsight_small_flipped_clipped.ptl"))
    kind = geo.surfaces()[0].kind
    # The path does not exist: the name is refused before it is opened.
    with pytest.raises(ValueError) as info:
        getattr(geo, second)("m", str(tmp_path / "does-not-exist"))
    assert str(info.value) == message
    assert [(s.kind, s.name) for s in geo.surfaces()] == [(kind, "m")]


def test_points_and_polygons_keep_separate_namespaces():
    geo = GeoData()
    p = geo.load_points("same", shared("points_xyz/xtgeo_pointset2.poi"))
    q = geo.load_polygons("same", shared("polygons_irap/xtgeo_polset2.pol"))
    assert isinstance(p, voridez.PointSet) and isinstance(q, voridez.PolygonSet)
    assert isinstance(geo.points("same"), voridez.PointSet)
    assert isinstance(geo.polygons("same"), voridez.PolygonSet)
    assert geo.surface("same") is None


def test_a_taken_name_keeps_the_stored_element_but_still_reads_the_file(tmp_path):
    first = irap_grid(tmp_path / "a.irap", 2, 2, [1, 2, 3, 4])
    second = irap_grid(tmp_path / "b.irap", 2, 2, [9, 9, 9, 9])
    broken = write(tmp_path / "c.irap", "-996 2 25 25\n1000 1025 2000 2025\n2 0 1000 2000\n0 0 0 0 0 0 0\n1 2\n")

    only_first = GeoData()
    only_first.load_surface("s", first)
    both = GeoData()
    both.load_surface("s", first)
    assert both.load_surface("s", second).name == "s"
    with pytest.raises(ValueError):
        both.load_surface("s", broken)

    only_first.save(str(tmp_path / "one.zedod"))
    both.save(str(tmp_path / "both.zedod"))
    _, _, one = read_container(tmp_path / "one.zedod")
    _, _, two = read_container(tmp_path / "both.zedod")
    assert one == two


@pytest.mark.parametrize(
    "loader, first, second, content",
    [
        ("load_points", "points_xyz/xtgeo_pointset2.poi", "points_xyz/resinsight_tiny_space.dat", "xyz"),
        ("load_polygons", "polygons_irap/xtgeo_polset2.pol", "shapefile/gre.shp", "rings"),
    ],
)
def test_a_taken_point_or_polygon_name_keeps_the_first_set(loader, first, second, content):
    geo = GeoData()
    kept = getattr(getattr(geo, loader)("n", shared(first)), content)()
    again = getattr(geo, loader)("n", shared(second))
    assert getattr(again, content)() == kept


def test_a_failed_load_leaves_the_project_as_it_was(tmp_path):
    geo = GeoData()
    geo.load_surface("a", irap_grid(tmp_path / "a.irap", 2, 2, [1, 2, 3, 4]))
    geo.save(str(tmp_path / "before.zedod"))
    broken = write(tmp_path / "b.irap", "-996 2 25 25\n1000 1025 2000 2025\n2 0 1000 2000\n0 0 0 0 0 0 0\n1\n")
    with pytest.raises(ValueError):
        geo.load_surface("b", broken)
    with pytest.raises(ValueError):
        geo.load_points("b", str(tmp_path / "absent.poi"))
    assert [s.name for s in geo.surfaces()] == ["a"]
    assert geo.points("b") is None
    geo.save(str(tmp_path / "after.zedod"))
    assert read_container(tmp_path / "before.zedod")[2] == read_container(tmp_path / "after.zedod")[2]


@pytest.mark.parametrize(
    "loader, args, bad",
    [
        ("load_points", ("p", 5), "path"),
        ("load_surface", (5, "x.irap"), "name"),
        ("load_polygons", ("p", b"x.pol"), "path"),
        ("load_structured_surface", ("p", None), "path"),
        ("load_points_with_topology", ("p", "a", 1), "topology_path"),
    ],
)
def test_arguments_of_another_type_are_refused_before_reading(tmp_path, loader, args, bad):
    geo = GeoData()
    with pytest.raises(TypeError) as info:
        getattr(geo, loader)(*args)
    assert f"while processing '{bad}'" in info.value.__notes__
    assert geo.surfaces() == []


def test_path_objects_are_refused(tmp_path):
    path = tmp_path / "g.irap"
    irap_grid(path, 2, 2, [1, 2, 3, 4])
    with pytest.raises(TypeError):
        GeoData().load_surface("s", path)


@pytest.mark.parametrize(
    "method, signature, first_line",
    [
        ("load_surface", "($self, name, path)", "Load a surface from `path` (IRAP classic) and store it under `name`,"),
        (
            "load_structured_surface",
            "($self, name, path)",
            "Load an EarthVision grid into the shared surface namespace as a",
        ),
        ("load_points", "($self, name, path)", "Load a point set from `path` (extension-dispatched) under `name`,"),
        (
            "load_points_with_topology",
            "($self, name, path, topology_path)",
            "Load an IRAP/RMS point set, using a matching EarthVision grid export for",
        ),
        ("load_polygons", "($self, name, path)", "Load a polygon set from `path` (extension-dispatched) under `name`,"),
    ],
)
def test_signatures_and_help(method, signature, first_line):
    fn = getattr(GeoData, method)
    assert fn.__text_signature__ == signature
    doc = inspect.getdoc(fn).split("\n")
    assert doc[0] == first_line and len(doc) == 2


def test_loaders_take_keywords(tmp_path):
    geo = GeoData()
    view = geo.load_surface(path=irap_grid(tmp_path / "g.irap", 2, 2, [1, 2, 3, 4]), name="k")
    assert view.name == "k"
