"""PointSet.to_surface, PointSet.to_tri_surface, PointSet.detect_topology and
the TopologyReport they produce."""

import inspect
import math
import warnings

import numpy as np
import pytest

import voridez as vz
from points_helpers import curvilinear, faulted, lattice, lattice_xyz, shared_file

NAN = float("nan")
SQRT2 = math.sqrt(2.0)


def test_signatures():
    assert str(inspect.signature(vz.PointSet.to_surface)) == "(self, /, geom=None, method='idw', tolerance=0.001)"
    assert str(inspect.signature(vz.PointSet.to_tri_surface)) == "(self, /, max_link=None, max_bridge=None)"
    assert str(inspect.signature(vz.PointSet.detect_topology)) == "(self, /, nominal_cell=None)"


# ---- to_surface -----------------------------------------------------------------


@pytest.mark.parametrize(
    "method",
    ["nearest", "idw", "IDW", "inverse_distance", "Inverse-Distance", "inversedistance", "min_curvature",
     "Min Curvature", "minimum-curvature", "MinimumCurvature", "mincurvature", " nearest\t"],
)
def test_to_surface_methods(method):
    cloud = lattice(ncol=6, nrow=5)
    surface = cloud.to_surface(method=method)
    assert surface.kind == "surface" and surface.name is None
    given = cloud.to_surface(vz.GridGeometry(1000.0, 2000.0, 50.0, 50.0, 3, 3), method)
    assert given.kind == "surface"


@pytest.mark.parametrize("method, quoted", [("bilinear", "bilinear"), (" Kriging Method ", "kriging_method"), ("", "")])
def test_unknown_method_is_a_type_error_before_geom_is_looked_at(method, quoted):
    for geom in (None, 1.5, vz.GridGeometry(0, 0, 1, 1, 2, 2)):
        with pytest.raises(TypeError) as info:
            lattice().to_surface(geom, method=method)
        assert str(info.value) == f"unknown grid method '{quoted}' (expected 'nearest', 'idw', or 'min_curvature')"


def _shells():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        return curvilinear().infer_geometry(), faulted().infer_geometry(), lattice().to_tri_surface()


@pytest.mark.parametrize(
    "pick, message",
    [
        (0, "to_surface: received a StructuredShell geometry from infer_geometry, not a GridGeometry \u2014 use "
            "to_structured_surface() for the value-bearing representation, or pass an explicit GridGeometry"),
        (1, "to_surface: received a MeshShell geometry from infer_geometry, not a GridGeometry \u2014 use "
            "to_tri_surface() for the value-bearing representation, or pass an explicit GridGeometry"),
        (2, "to_surface: received a value-bearing TriSurface, not a GridGeometry \u2014 resample that TriSurface or "
            "pass an explicit GridGeometry"),
    ],
)
def test_geometry_shells_are_refused_with_a_pointer(pick, message):
    geom = _shells()[pick]
    with pytest.raises(TypeError) as info:
        lattice().to_surface(geom)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "geom, type_name",
    [(1.5, "float"), (np.float64(2.0), "float64"), ("grid", "str"), ([0, 0, 1, 1, 2, 2], "list")],
)
def test_other_geoms_are_refused_by_type_name(geom, type_name):
    with pytest.raises(TypeError) as info:
        lattice().to_surface(geom)
    assert str(info.value) == f"to_surface: geom must be a GridGeometry (or None to infer one), got {type_name}"


def test_a_point_set_as_geom_is_refused_by_its_class_name():
    with pytest.raises(TypeError, match=r"got PointSet$"):
        lattice().to_surface(lattice())


@pytest.mark.parametrize("tolerance", [0.0, -1.0, NAN, float("inf")])
def test_tolerance_is_checked_only_when_the_lattice_is_inferred(tolerance):
    cloud = lattice(ncol=4, nrow=4)
    with pytest.raises(ValueError) as info:
        cloud.to_surface(tolerance=tolerance)
    assert str(info.value) == "to_surface: tolerance must be a finite positive number"
    assert cloud.to_surface(vz.GridGeometry(1000, 2000, 25, 25, 4, 4), tolerance=tolerance).kind == "surface"


def test_scattered_points_have_no_lattice_to_grid_onto():
    cloud = vz.PointSet.load_irap_points(shared_file("points_xyz/xtgeo_emerald_1000.poi"))
    with pytest.raises(ValueError) as info:
        cloud.to_surface()
    text = str(info.value)
    assert text.startswith("to_surface: no regular lattice fits these points (geometry inference failed: ")
    assert text.endswith(
        ") \u2014 the points are not lattice-regular; pass an explicit GridGeometry or use to_tri_surface()"
    )
    b = cloud.bbox()
    target = vz.GridGeometry(b.xmin, b.ymin, (b.xmax - b.xmin) / 49, (b.ymax - b.ymin) / 39, 50, 40)
    for method in ("nearest", "idw", "min_curvature"):
        assert cloud.to_surface(target, method).kind == "surface"


def test_empty_point_set_cannot_be_gridded():
    empty = vz.PointSet.from_xyz([], [], [])
    with pytest.raises(ValueError, match=r"^empty input: grid: no points to grid$"):
        empty.to_surface(vz.GridGeometry(0, 0, 1, 1, 3, 3))
    with pytest.raises(ValueError, match=r"^to_surface: no regular lattice fits these points \(geometry inference"):
        empty.to_surface()


def test_to_surface_argument_types():
    with pytest.raises(TypeError) as info:
        lattice().to_surface(method=1)
    assert "while processing 'method'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        lattice().to_surface(tolerance="small")
    assert "while processing 'tolerance'" in info.value.__notes__


# ---- to_tri_surface ----------------------------------------------------------------


def max_link_message(got):
    return (
        "geometry inference failed: max_link must lie in (1.4142, 2) cells: below the cell diagonal the mesh "
        f"shreds, at two cells a triangle skips a node (got {got})"
    )


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(max_link=2.0), max_link_message("2")),
        (dict(max_link=1.4), max_link_message("1.4")),
        (dict(max_link=NAN), max_link_message("NaN")),
        (dict(max_link=-1), max_link_message("-1")),
        (dict(max_bridge=float("inf")), "geometry inference failed: max_bridge must be a finite length in cells >= "
                                        "max_link (1.8), got inf"),
        (dict(max_link=1.5, max_bridge=1.49), "geometry inference failed: max_bridge must be a finite length in cells "
                                              ">= max_link (1.5), got 1.49"),
        (dict(max_bridge=NAN), "geometry inference failed: max_bridge must be a finite length in cells >= max_link "
                               "(1.8), got NaN"),
    ],
)
def test_to_tri_surface_limits(kwargs, message):
    with pytest.raises(ValueError) as info:
        lattice().to_tri_surface(**kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs", [dict(), dict(max_link=SQRT2), dict(max_link=1.5, max_bridge=1.5), dict(max_link=1.99, max_bridge=40)]
)
def test_to_tri_surface_accepted_limits(kwargs):
    tri = lattice().to_tri_surface(**kwargs)
    assert tri.kind == "tri_surface" and tri.name is None


def test_to_tri_surface_failures_of_the_cloud():
    with pytest.raises(ValueError) as info:
        vz.PointSet.from_xyz([0, 1, 2], [0, 1, 2], [0, 0, 0]).to_tri_surface()
    assert str(info.value) == "geometry inference failed: topology detection requires at least four distinct finite points"
    with pytest.raises(ValueError, match=r"^geometry inference failed: "):
        vz.PointSet.from_xyz([0, 1, 2, 3, 4], [0] * 5, [0] * 5).to_tri_surface()


def test_to_tri_surface_argument_types():
    with pytest.raises(TypeError) as info:
        lattice().to_tri_surface(max_bridge="3")
    assert "while processing 'max_bridge'" in info.value.__notes__


# ---- detect_topology -------------------------------------------------------------------


def test_detect_topology_of_a_full_lattice():
    points, report = lattice(ncol=10, nrow=10, cell=25.0).detect_topology()
    assert report.verified is True
    assert repr(report) == (
        "TopologyReport(verified=true, blocks=1 (largest 100), assigned=100/100, cell=(25.000, 25.000), "
        f"azimuth={report.detected_azimuth_deg:.3f}, conflicts=0, stalled_frontier=0, coincident_dropped=0, "
        "coincident_ambiguous=0)"
    )
    assert abs(report.detected_azimuth_deg) < 1e-9
    assert isinstance(points, vz.PointSet) and len(points) == 100
    assert points.attr_names() == ["column", "row"]
    assert points.history() == ["points.from_coords", "points.detect_topology()"]
    assert points.name is None


@pytest.mark.parametrize("rotation", [0.0, 17.0, -40.0])
def test_labels_are_a_lattice_numbering_in_row_order(rotation):
    cloud = lattice(ncol=7, nrow=5, cell=10.0, rotation=rotation)
    points, report = cloud.detect_topology()
    assert report.verified
    cols, rows, xyz = points.attr("column"), points.attr("row"), points.xyz()
    assert min(cols) == 1 and min(rows) == 1 and {max(cols), max(rows)} == {7, 5}
    order = list(zip(rows, cols))
    assert order == sorted(order)
    at = {(c, r): (x, y) for c, r, (x, y, _) in zip(cols, rows, xyz)}
    o = at[(1, 1)]
    u = (at[(2, 1)][0] - o[0], at[(2, 1)][1] - o[1])
    v = (at[(1, 2)][0] - o[0], at[(1, 2)][1] - o[1])
    assert math.hypot(*u) == pytest.approx(10.0) and math.hypot(*v) == pytest.approx(10.0)
    for (c, r), (x, y) in at.items():
        assert x == pytest.approx(o[0] + (c - 1) * u[0] + (r - 1) * v[0])
        assert y == pytest.approx(o[1] + (c - 1) * u[1] + (r - 1) * v[1])
    assert sorted(p[:2] for p in xyz) == sorted(p[:2] for p in cloud.xyz())  # no point moved


def _with_repeat(z_shift):
    x, y, z = lattice_xyz(ncol=5, nrow=5)
    return vz.PointSet.from_xyz(x + [x[7]], y + [y[7]], z + [z[7] + z_shift])


@pytest.mark.parametrize(
    "name, cloud, verified",
    [
        ("lattice", lambda: lattice(ncol=6, nrow=6), True),
        ("repeat with the same z", lambda: _with_repeat(0.0), True),
        ("repeat with another z", lambda: _with_repeat(1.0), False),
        ("fault", lambda: faulted(), False),
        ("curvilinear", lambda: curvilinear(), None),
        ("scattered", lambda: vz.PointSet.load_irap_points(shared_file("points_xyz/xtgeo_emerald_1000.poi")), False),
    ],
)
def test_labelled_points_only_when_verified(name, cloud, verified):
    points, report = cloud().detect_topology()
    gate = (
        report.blocks == 1
        and report.assigned == report.distinct_nodes
        and report.conflicts == 0
        and report.coincident_ambiguous == 0
    )
    assert report.verified is gate
    if verified is not None:
        assert report.verified is verified
    assert (points is None) == (not report.verified)
    if points is not None:
        assert len(points) == report.distinct_nodes
        assert points.attr_names() == ["column", "row"]
    assert repr(report).startswith(f"TopologyReport(verified={'true' if report.verified else 'false'}, ")


def test_report_of_a_fault_and_of_repeats():
    _, fault = faulted().detect_topology()
    assert (fault.blocks, fault.assigned, fault.distinct_nodes) == (2, 144, 144)
    assert fault.stalled_frontier > 0 and fault.largest_block == 72
    _, same = _with_repeat(0.0).detect_topology()
    assert (same.coincident_dropped, same.coincident_ambiguous, same.distinct_nodes) == (1, 0, 25)
    _, other = _with_repeat(1.0).detect_topology()
    assert (other.coincident_dropped, other.coincident_ambiguous) == (0, 1)


def test_report_getters():
    _, r = lattice(ncol=4, nrow=3, cell=5.0).detect_topology()
    assert r.detected_cell_i == pytest.approx(5.0) and r.detected_cell_j == pytest.approx(5.0)
    assert isinstance(r.detected_azimuth_deg, float)
    for field in ("distinct_nodes", "assigned", "conflicts", "coincident_dropped", "coincident_ambiguous",
                  "stalled_frontier", "blocks", "largest_block"):
        assert type(getattr(r, field)) is int
    assert (r.distinct_nodes, r.assigned, r.blocks, r.largest_block) == (12, 12, 1, 12)
    with pytest.raises(AttributeError):
        r.blocks = 3
    assert vz.TopologyReport.__doc__ == (
        "What `PointSet.detect_topology(...)` learned. `verified` is the gate: labels are\n"
        "returned only when it is true."
    )


@pytest.mark.parametrize(
    "cloud, nominal, message",
    [
        (lambda: vz.PointSet.from_xyz([0, 1, 2], [0, 1, 2], [0, 0, 0]), None,
         "topology detection requires at least four distinct finite points"),
        (lambda: vz.PointSet.from_xyz([0, 0, 0, 0], [1, 1, 1, 1], [0, 0, 0, 0]), None,
         "topology detection requires at least four distinct finite points"),
        (lambda: vz.PointSet.from_xyz([NAN] * 5, [0.0] * 5, [0.0] * 5), None,
         "topology detection requires at least four distinct finite points"),
        (lambda: lattice(), 0.0, "nominal cell must be a finite positive number"),
        (lambda: lattice(), NAN, "nominal cell must be a finite positive number"),
        (lambda: lattice(), -25.0, "nominal cell must be a finite positive number"),
    ],
)
def test_detect_topology_failures(cloud, nominal, message):
    with pytest.raises(ValueError) as info:
        cloud().detect_topology(nominal)
    assert str(info.value) == f"geometry inference failed: {message}"


def test_nominal_cell_guides_the_detection():
    points, report = lattice(cell=25.0).detect_topology(nominal_cell=25.0)
    assert report.verified and len(points) == 100
    with pytest.raises(TypeError) as info:
        lattice().detect_topology(nominal_cell="25")
    assert "while processing 'nominal_cell'" in info.value.__notes__


# ---- results, read back through the surface classes --------------------------------


@pytest.mark.parametrize(
    "method, entry",
    [("nearest", "Nearest"), ("idw", "InverseDistance"), ("min_curvature", "MinimumCurvature")],
)
def test_gridding_onto_the_inferred_lattice_reproduces_the_nodes(method, entry):
    cloud = lattice(ncol=6, nrow=5, rotation=25.0)
    surface = cloud.to_surface(method=method)
    inferred = cloud.infer_geometry()
    g = surface.geometry
    assert (g.ncol, g.nrow, g.xori, g.yori, g.xinc, g.rotation_deg) == (
        inferred.ncol, inferred.nrow, inferred.xori, inferred.yori, inferred.xinc, inferred.rotation_deg)
    assert surface.history() == ["points.from_coords", f"points.to_surface(method={entry})"]
    for x, y, z in cloud.xyz():
        assert surface.sample(x, y) == pytest.approx(z, abs=1e-9)


def test_gridding_onto_a_given_lattice_uses_it_as_it_is():
    cloud = lattice(ncol=6, nrow=5, cell=25.0, origin=(0.0, 0.0))
    target = vz.GridGeometry(0.0, 0.0, 12.5, 12.5, 11, 9)
    surface = cloud.to_surface(target, "nearest")
    g = surface.geometry
    assert (g.ncol, g.nrow, g.xinc, g.yinc) == (11, 9, 12.5, 12.5)
    assert surface.sample(50.0, 25.0) == 100.0 + 2 + 2 * 1  # the node of point (2, 1)
    assert surface.sample(12.5, 0.0) in (100.0, 101.0)  # halfway: one of the two neighbours


def test_triangulated_surface_carries_the_point_values():
    cloud = lattice(ncol=6, nrow=5)
    tri = cloud.to_tri_surface()
    assert tri.history() == ["points.from_coords", "points.to_tri_surface(max_link=1.8)"]
    assert sorted(tri.xyz()) == sorted(cloud.xyz())
    assert tri.shell.kind == "mesh_shell" and tri.shell.n_triangles == 2 * 5 * 4
    bridged = cloud.to_tri_surface(max_link=1.5, max_bridge=3)
    assert bridged.history()[-1] == "points.to_tri_surface(max_link=1.5, max_bridge=3)"


def test_structured_surface_of_labelled_points():
    labelled, _ = lattice(ncol=6, nrow=5).detect_topology()
    surface = labelled.to_structured_surface()
    assert surface.history() == [
        "points.from_coords", "points.detect_topology()", "points.to_structured_surface(edge=Occupied)"]
    cols, rows, xyz = labelled.attr("column"), labelled.attr("row"), labelled.xyz()
    for c, r, (x, y, z) in zip(cols, rows, xyz):
        assert surface.z(int(c) - 1, int(r) - 1) == z
        assert surface.node_xy(int(c) - 1, int(r) - 1) == (x, y)
    shell = surface.shell
    nominal = shell.nominal_geometry
    assert nominal.kind == "grid_geometry" and (nominal.ncol, nominal.nrow) == (shell.ncol, shell.nrow)
    assert nominal is not shell.nominal_geometry  # a new object on every access
    assert nominal.name == shell.name
    assert nominal.edge.rings() == shell.edge.rings()
    assert labelled.to_structured_surface(edge="full_rect").history()[-1] == (
        "points.to_structured_surface(edge=FullRect)")
