"""Point sets and polygon sets handed out by a project: views that follow the
stored element, go stale when it leaves, detach before a column is written,
and name what they derive."""

import warnings

import pytest

import voridez as vz
from points_helpers import faulted, lattice_xyz, shared_file

RING = "0 0 0\n40 0 0\n40 30 0\n0 30 0\n999.0 999.0 999.0\n"


def write_points(path, xyz):
    path.write_text("".join(f"{x!r} {y!r} {z!r}\n" for x, y, z in zip(*xyz)))
    return str(path)


@pytest.fixture
def project(tmp_path):
    geo = vz.GeoData()
    geo.load_points("maps/ Top ", write_points(tmp_path / "top.xyz", lattice_xyz(ncol=6, nrow=5)))
    geo.load_points("fault", write_points(tmp_path / "fault.xyz", zip(*faulted().xyz())))
    (tmp_path / "outline.pol").write_text(RING)
    geo.load_polygons("areas/ Lease ", str(tmp_path / "outline.pol"))
    return geo


def test_views_carry_the_leaf_of_the_stored_name(project):
    top = project.points("maps/ Top ")
    assert top.name == "Top" and len(top) == 30 and repr(top) == "PointSet(len=30)"
    lease = project.polygons("areas/ Lease ")
    assert lease.name == "Lease" and lease.total_area() == 1200.0


RESOLVING_POINTS = [
    len,
    repr,
    lambda p: p.xy(),
    lambda p: p.xyz(),
    lambda p: p.history(),
    lambda p: p.attr_names(),
    lambda p: p.attr("a"),
    lambda p: p.stats("a"),
    lambda p: p.z_stats(),
    lambda p: p.bbox(),
    lambda p: p.nearest(0, 0),
    lambda p: p.porosity,
    lambda p: hasattr(p, "porosity"),
    lambda p: p.x,
    lambda p: p.set_attr("a", 1.0),
    lambda p: setattr(p, "a", 1.0),
    lambda p: p.infer_geometry(),
    lambda p: p.to_structured_surface(),
    lambda p: p.to_surface(),
    lambda p: p.to_tri_surface(),
    lambda p: p.detect_topology(),
]


@pytest.mark.parametrize("call", RESOLVING_POINTS)
def test_a_stale_point_set_view_fails_every_resolving_member(project, call):
    top = project.points("maps/ Top ")
    assert project.delete_points("maps/ Top ")
    with pytest.raises(ValueError) as info:
        call(top)
    assert str(info.value) == "no point set 'maps/ Top '"
    assert top.name == "Top" and top.kind == "point_set"


RESOLVING_POLYGONS = [
    len,
    lambda p: p.history(),
    lambda p: p.attr_names(),
    lambda p: p.attr("a"),
    lambda p: p.total_area(),
    lambda p: p.bbox(),
    lambda p: p.rings(),
    lambda p: p.contains(1, 1),
    lambda p: p.area,
    lambda p: hasattr(p, "zone"),
    lambda p: p.set_attr("a", 1.0),
    lambda p: p.clip(vz.PointSet.from_xyz(*lattice_xyz(ncol=4, nrow=4)).to_surface()),
]


@pytest.mark.parametrize("call", RESOLVING_POLYGONS)
def test_a_stale_polygon_set_view_fails_every_resolving_member(project, call):
    lease = project.polygons("areas/ Lease ")
    project.rename_polygons("areas/ Lease ", "elsewhere")
    with pytest.raises(ValueError) as info:
        call(lease)
    assert str(info.value) == "no polygon set 'areas/ Lease '"
    assert lease.name == "Lease" and lease.kind == "polygon_set"
    project.rename_polygons("elsewhere", "areas/ Lease ")
    call(lease)  # back under its stored name, the view works again


def test_reserved_names_are_refused_before_the_view_is_resolved(project):
    top = project.points("maps/ Top ")
    lease = project.polygons("areas/ Lease ")
    project.delete_points("maps/ Top ")
    project.delete_polygons("areas/ Lease ")
    with pytest.raises(AttributeError, match="cannot assign coordinate column 'x'"):
        top.x = 1.0
    with pytest.raises(AttributeError, match="cannot assign derived polygon column 'area'"):
        lease.area = 1.0


def test_option_errors_come_before_the_view_is_resolved(project):
    top = project.points("maps/ Top ")
    project.delete_points("maps/ Top ")
    with pytest.raises(ValueError, match="^unknown geometry edge"):
        top.infer_geometry(edge="bogus")
    with pytest.raises(ValueError, match="^geometry inference failed: tolerance"):
        top.infer_geometry(tolerance=0)
    with pytest.raises(TypeError, match="^unknown grid method"):
        top.to_surface(method="bilinear")
    with pytest.raises(TypeError, match="^to_surface: geom must be a GridGeometry"):
        top.to_surface(1.0)


def test_a_view_follows_what_the_project_stores_under_its_name(project, tmp_path):
    top = project.points("maps/ Top ")
    project.delete_points("maps/ Top ")
    project.load_points("maps/ Top ", write_points(tmp_path / "other.xyz", ([1.0, 2.0], [3.0, 4.0], [5.0, 6.0])))
    assert top.xyz() == [(1.0, 3.0, 5.0), (2.0, 4.0, 6.0)]


def test_writing_a_column_detaches_the_view_and_leaves_the_project_alone(project):
    top = project.points("maps/ Top ")
    top.porosity = 0.25
    assert top.name == "Top"
    assert top.porosity.values() == [0.25] * 30
    assert top.history()[-1] == "points.set_attr(name=porosity)"
    fresh = project.points("maps/ Top ")
    assert fresh.attr_names() == [] and not hasattr(fresh, "porosity")
    project.delete_points("maps/ Top ")
    assert len(top) == 30 and top.attr_names() == ["porosity"]  # owned from now on
    with pytest.raises(ValueError, match="^no point set 'maps/ Top '$"):
        len(fresh)


def test_writing_on_a_stale_view_fails_and_it_stays_a_view(project, tmp_path):
    top = project.points("maps/ Top ")
    project.rename_points("maps/ Top ", "moved")
    with pytest.raises(ValueError, match="^no point set 'maps/ Top '$"):
        top.set_attr("a", 1.0)
    project.rename_points("moved", "maps/ Top ")
    assert len(top) == 30 and top.attr_names() == []


def test_polygon_view_detaches_on_write(project):
    lease = project.polygons("areas/ Lease ")
    lease.zone = [3.0]
    assert lease.zone.values() == [3.0]
    assert project.polygons("areas/ Lease ").attr_names() == []


def test_derived_objects_take_the_view_name(project):
    top = project.points("maps/ Top ")
    geometry = top.infer_geometry()
    assert geometry.kind == "grid_geometry" and geometry.name == "Top geometry"
    labelled, report = top.detect_topology()
    assert report.verified and labelled.name == "Top"
    assert labelled.to_structured_surface().name == "Top"
    assert labelled.infer_geometry().name == "Top geometry"
    assert top.to_surface().name == "Top"
    assert top.to_tri_surface().name == "Top"
    assert top.x.values()[:2] == [1000.0, 1025.0]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        shell = project.points("fault").infer_geometry()
    assert shell.kind == "mesh_shell" and shell.name == "fault geometry"
    lease = project.polygons("areas/ Lease ")
    assert lease.clip(top.to_surface()).name is None


def test_the_project_stays_held_while_inference_warns(project):
    fault = project.points("fault")
    seen = []

    def show(message, category, filename, lineno, file=None, line=None):
        # The warning is issued while the point set is read in place: the
        # project cannot change under it.
        try:
            project.delete_points("fault")
        except RuntimeError as e:
            seen.append(str(e))

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = show
        shell = fault.infer_geometry()
    assert seen == ["Already borrowed"]
    assert shell.kind == "mesh_shell" and len(fault) == 144


def test_clip_with_surface_views(project):
    path = shared_file("irap_grid/resdata_small_30x20_rotm65.irap")
    surface = project.load_surface("maps/Top", path)
    assert surface.name == "Top"
    lease = project.polygons("areas/ Lease ")
    clipped = lease.clip(surface)  # both views of one project, held at once
    assert clipped.kind == "surface" and clipped.name is None
    project.delete_surface("maps/Top")
    with pytest.raises(ValueError, match=r"^no surface 'maps/Top'$"):
        lease.clip(surface)
    project.delete_polygons("areas/ Lease ")
    with pytest.raises(ValueError, match=r"^no polygon set 'areas/ Lease '$"):
        lease.clip(surface)  # the polygon set is resolved first


def test_element_replaced_while_the_value_is_read(project, tmp_path):
    top = project.points("maps/ Top ")
    small = write_points(tmp_path / "small.xyz", ([1.0, 2.0], [3.0, 4.0], [5.0, 6.0]))

    class Swap:
        def __float__(self):
            project.delete_points("maps/ Top ")
            project.load_points("maps/ Top ", small)
            return 1.0

    with pytest.raises(ValueError) as info:
        top.set_attr("a", Swap())
    assert str(info.value) == "parse error: point attribute 'a' has 30 rows, expected 2"
    project.delete_points("maps/ Top ")
    assert len(top) == 2 and top.attr_names() == []  # detached, without the column
