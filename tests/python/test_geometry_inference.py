"""PointSet.infer_geometry and PointSet.to_structured_surface: option parsing
and its precedence, the regular lattice, the two shell fallbacks with their
single warning, and the value-bearing structured conversion."""

import inspect
import warnings

import pytest

import voridez as vz
from points_helpers import curvilinear, faulted, lattice, shared_file

NAN = float("nan")

LATTICE_ERROR = "geometry inference failed: point misses inferred lattice by 11.250000, above tolerance 0.001000"
MESH_WARNING = (
    f"infer_geometry: no regular lattice fits these points ({LATTICE_ERROR}); returning the MeshShell fallback "
    '(pass fallback="error" to raise instead)'
)
TRI_DEPRECATION = (
    "infer_geometry(fallback='tri') is deprecated because infer_geometry now returns geometry-only shells; "
    "use fallback='mesh' instead."
)


def l_shape():
    """A 6 x 6 lattice of cell 10 with its upper-right 3 x 3 nodes missing."""
    xs, ys = [], []
    for j in range(6):
        for i in range(6):
            if i < 3 or j < 3:
                xs.append(i * 10.0)
                ys.append(j * 10.0)
    return vz.PointSet.from_xyz(xs, ys, [1.0] * len(xs))


def quiet(call):
    """Runs `call` with every warning turned into an error: it must issue none."""
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return call()


def test_signatures():
    assert str(inspect.signature(vz.PointSet.infer_geometry)) == (
        "(self, /, tolerance=0.001, edge='full_rect', max_bridge=3.4, fallback='mesh')"
    )
    assert str(inspect.signature(vz.PointSet.to_structured_surface)) == "(self, /, tolerance=0.001, edge='occupied')"


# ---- option parsing ------------------------------------------------------------------


@pytest.mark.parametrize(
    "edge, ring",
    [
        ("full_rect", [(0, 0), (50, 0), (50, 50), (0, 50), (0, 0)]),
        (" Full-Rect ", [(0, 0), (50, 0), (50, 50), (0, 50), (0, 0)]),
        ("RECTANGLE", [(0, 0), (50, 0), (50, 50), (0, 50), (0, 0)]),
        ("rect", [(0, 0), (50, 0), (50, 50), (0, 50), (0, 0)]),
        ("CONVEX HULL", [(0, 0), (50, 0), (50, 20), (20, 50), (0, 50), (0, 0)]),
        ("hull", [(0, 0), (50, 0), (50, 20), (20, 50), (0, 50), (0, 0)]),
        ("convexhull", [(0, 0), (50, 0), (50, 20), (20, 50), (0, 50), (0, 0)]),
        ("\toccupied\n", None),
    ],
)
def test_edge_option_chooses_the_outline_of_an_inferred_lattice(edge, ring):
    g = quiet(lambda: l_shape().infer_geometry(edge=edge))
    assert g.kind == "grid_geometry"
    assert (g.ncol, g.nrow, g.xinc, g.yinc, g.xori, g.yori) == (6, 6, 10.0, 10.0, 0.0, 0.0)
    got = [(v[0], v[1]) for v in g.edge.rings()[0]]
    if ring is None:  # the occupied outline walks round the notch
        assert (30.0, 30.0) not in got and (20.0, 30.0) in got and (30.0, 20.0) in got
        assert g.edge.total_area() == 50 * 50 - 30 * 30  # the cells of the missing corner are not occupied
    else:
        assert got == [(float(x), float(y)) for x, y in ring]


REMOVED = (
    "geometry edge '{}' has been removed; use 'occupied' for the data footprint, 'full_rect' for the bounding "
    "lattice rectangle, or 'convex_hull'"
)
UNKNOWN = "unknown geometry edge '{}' (expected 'occupied', 'convex_hull', or 'full_rect')"


@pytest.mark.parametrize(
    "edge, message",
    [
        ("tin", REMOVED.format("tin")),
        ("Alpha", REMOVED.format("alpha")),
        ("outer", REMOVED.format("outer")),
        ("concave", REMOVED.format("concave")),
        ("default", REMOVED.format("default")),
        ("TriMesh", REMOVED.format("trimesh")),
        ("concavehull", REMOVED.format("concavehull")),
        ("alpha shape", REMOVED.format("alpha_shape")),
        ("concave hull", REMOVED.format("concave_hull")),
        ("concave-hull", REMOVED.format("concave_hull")),
        ("triangulated", REMOVED.format("triangulated")),
        (" Triangulated Mesh ", REMOVED.format("triangulated_mesh")),
        ("", UNKNOWN.format("")),
        ("  ", UNKNOWN.format("")),
        ("bogus", UNKNOWN.format("bogus")),
        ("Full Rect!", UNKNOWN.format("full_rect!")),
    ],
)
def test_edges_that_do_not_parse(edge, message):
    for points in (curvilinear(), lattice()):
        for method in ("infer_geometry", "to_structured_surface"):
            with pytest.raises(ValueError) as info:
                getattr(points, method)(edge=edge)
            assert str(info.value) == message


@pytest.mark.parametrize("fallback", ["mesh", "Mesh_Shell", " MESHSHELL ", "error", "RAISE"])
def test_fallback_spellings_that_parse(fallback):
    assert quiet(lambda: lattice().infer_geometry(fallback=fallback)).kind == "grid_geometry"


@pytest.mark.parametrize(
    "fallback, quoted",
    [("mesh shell", "mesh shell"), ("mesh-shell", "mesh-shell"), ("", ""), ("Triangles", "triangles")],
)
def test_unknown_fallbacks(fallback, quoted):
    with pytest.raises(ValueError) as info:
        lattice().infer_geometry(fallback=fallback)
    assert str(info.value) == f"unknown geometry fallback '{quoted}' (expected 'mesh', legacy 'tri', or 'error')"


@pytest.mark.parametrize("legacy", ["tri", "Tri", "trisurface", " TRI_SURFACE "])
def test_legacy_fallback_warns_and_still_returns_a_shell(legacy):
    with pytest.warns(DeprecationWarning) as record:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            shell = faulted().infer_geometry(fallback=legacy)
    assert [str(w.message) for w in record if w.category is DeprecationWarning] == [TRI_DEPRECATION]
    assert shell.kind == "mesh_shell"


@pytest.mark.parametrize(
    "kwargs, message",
    [
        # the edge is parsed first ...
        (dict(edge="nope", fallback="nope", tolerance=0.0), "unknown geometry edge 'nope'"),
        (dict(edge="tin", fallback="nope"), "geometry edge 'tin' has been removed"),
        # ... then the fallback, then the tolerance
        (dict(fallback="nope", tolerance=0.0), "unknown geometry fallback 'nope'"),
        (dict(tolerance=0.0), "geometry inference failed: tolerance must be a finite positive number"),
        (dict(tolerance=-1e-3), "geometry inference failed: tolerance must be a finite positive number"),
        (dict(tolerance=NAN), "geometry inference failed: tolerance must be a finite positive number"),
        (dict(tolerance=float("inf")), "geometry inference failed: tolerance must be a finite positive number"),
    ],
)
def test_error_precedence(kwargs, message):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(ValueError) as info:
            lattice().infer_geometry(**kwargs)
    assert str(info.value).startswith(message)


def test_legacy_fallback_warns_before_the_tolerance_is_refused():
    with pytest.warns(DeprecationWarning, match="fallback='tri'"):
        with pytest.raises(ValueError, match="^geometry inference failed: tolerance must be a finite positive number$"):
            lattice().infer_geometry(fallback="tri", tolerance=0)


def test_legacy_fallback_warning_as_error_ends_the_call():
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            lattice().infer_geometry(fallback="tri", tolerance=0)


@pytest.mark.parametrize(
    "kwargs, named",
    [
        (dict(tolerance="0.1"), "tolerance"),
        (dict(edge=1), "edge"),
        (dict(max_bridge="3"), "max_bridge"),
        (dict(fallback=None), "fallback"),
    ],
)
def test_argument_types(kwargs, named):
    with pytest.raises(TypeError) as info:
        lattice().infer_geometry(**kwargs)
    assert f"while processing '{named}'" in info.value.__notes__


# ---- regular lattices ----------------------------------------------------------------


@pytest.mark.parametrize("options", [{}, dict(max_bridge=1.0), dict(max_bridge=None), dict(fallback="error")])
def test_a_regular_lattice_gives_a_grid_geometry_and_no_warning(options):
    g = quiet(lambda: lattice(rotation=30.0).infer_geometry(**options))
    assert g.kind == "grid_geometry" and g.name is None
    assert (g.ncol, g.nrow) == (10, 10)
    assert g.xinc == pytest.approx(25.0) and g.yinc == pytest.approx(25.0)
    # every input point is a node of the inferred lattice
    for x, y, _ in lattice(rotation=30.0).xyz():
        fi, fj = g.xy_to_ij(x, y)
        assert fi == pytest.approx(round(fi), abs=1e-9) and fj == pytest.approx(round(fj), abs=1e-9)


# ---- fallbacks ---------------------------------------------------------------------------


def test_mesh_fallback_returns_a_mesh_shell_with_one_user_warning():
    with warnings.catch_warnings(record=True) as record:
        warnings.simplefilter("always")
        shell = faulted().infer_geometry()
    assert [(w.category, str(w.message)) for w in record] == [(UserWarning, MESH_WARNING)]
    assert record[0].filename == __file__
    assert shell.kind == "mesh_shell" and shell.name is None
    assert shell.n_nodes == 144 and shell.components == 1
    assert shell.n_triangles > 0 and len(shell.edge) >= 1


def test_error_fallback_raises_with_the_lattice_error():
    with pytest.raises(ValueError) as info:
        quiet(lambda: faulted().infer_geometry(fallback="error"))
    assert str(info.value) == (
        f"geometry inference failed: no regular lattice fits these points ({LATTICE_ERROR}) and fallback=\"error\" "
        "was requested \u2014 pass an explicit GridGeometry or use an explicit value-bearing conversion"
    )


def test_failed_mesh_fallback_carries_both_errors():
    with pytest.raises(ValueError) as info:
        quiet(lambda: faulted().infer_geometry(max_bridge=1.0))
    assert str(info.value) == (
        f"geometry inference failed: no regular lattice fits these points ({LATTICE_ERROR}); the MeshShell fallback "
        "also failed (geometry inference failed: max_bridge must be a finite length in cells >= max_link (1.8), "
        "got 1) \u2014 pass an explicit GridGeometry or fix the input cloud"
    )


def test_without_bridges_the_mesh_keeps_to_the_lattice():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        bridged = faulted().infer_geometry()
        strict = faulted().infer_geometry(max_bridge=None)
    assert strict.n_triangles < bridged.n_triangles
    assert strict.components == 2  # the fault is not closed


def test_mesh_fallback_warning_as_error_returns_nothing():
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        with pytest.raises(UserWarning, match="^infer_geometry: no regular lattice fits these points"):
            faulted().infer_geometry()


def test_duplicate_positions_without_topology_are_diagnosed():
    xyz = faulted().xyz()
    xyz.append(xyz[0])
    dup = vz.PointSet.from_xyz(*zip(*xyz))
    with pytest.raises(ValueError) as info:
        dup.infer_geometry(fallback="error")
    assert "; duplicate XY nodes were found and no column/row topology attributes are available." in str(info.value)


@pytest.mark.parametrize(
    "edge, hull",
    [("full_rect", False), ("occupied", False), ("convex_hull", True), ("RECT", False)],
)
def test_structured_shell_fallback_for_curvilinear_points_with_topology(edge, hull):
    with warnings.catch_warnings(record=True) as record:
        warnings.simplefilter("always")
        shell = curvilinear().infer_geometry(edge=edge)
    assert len(record) == 1 and record[0].category is UserWarning
    message = str(record[0].message)
    assert message.startswith("infer_geometry: no regular lattice fits these points (geometry inference failed: ")
    assert message.endswith('); returning StructuredShell geometry (pass fallback="error" to raise instead)')
    assert shell.kind == "structured_shell" and (shell.ncol, shell.nrow) == (7, 6)
    assert shell.nominal_geometry is None
    ring = shell.edge.rings()[0]
    # the occupied outline runs through every border node (closed), the hull
    # only through its corners
    assert len(ring) == (12 if hull else 2 * (7 + 6) - 4 + 1)


def test_structured_fallback_error_and_warning_as_error():
    with pytest.raises(ValueError, match='^geometry inference failed: no regular lattice fits these points .* and fallback="error"'):
        curvilinear().infer_geometry(fallback="error")
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        with pytest.raises(UserWarning, match="returning StructuredShell geometry"):
            curvilinear().infer_geometry()


def test_real_curvilinear_export():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        ps = vz.PointSet.load_earthvision_grid(shared_file("earthvision/resinsight_norne_test.ptl"))
    with pytest.warns(UserWarning, match="returning StructuredShell geometry"):
        shell = ps.infer_geometry()
    assert (shell.kind, shell.ncol, shell.nrow) == ("structured_shell", 93, 37)
    bare = vz.PointSet.from_xyz(*zip(*ps.xyz()))  # the same points without their topology
    with pytest.warns(UserWarning, match="returning the MeshShell fallback"):
        mesh = bare.infer_geometry()
    assert mesh.kind == "mesh_shell" and mesh.components >= 1


# ---- to_structured_surface -------------------------------------------------------------


def test_to_structured_surface_needs_column_and_row():
    with pytest.raises(ValueError) as info:
        lattice().to_structured_surface()
    assert str(info.value) == (
        "geometry inference failed: structured surface conversion requires column/row topology attributes"
    )


def test_to_structured_surface_tolerance_only_decides_the_nominal_lattice():
    ps = curvilinear()
    surface = ps.to_structured_surface(tolerance=0)
    assert surface.kind == "structured_mesh" and surface.name is None
    assert ps.to_structured_surface(tolerance=NAN).kind == "structured_mesh"
    with pytest.raises(ValueError) as info:
        ps.to_structured_surface(tolerance=0, edge="full_rect")
    assert str(info.value) == (
        "geometry inference failed: full_rect edge requires a nominal regular geometry; this mesh is curvilinear "
        "\u2014 use the occupied edge"
    )


def test_to_structured_surface_of_a_regular_lattice_takes_the_full_rectangle():
    labelled, report = lattice(ncol=6, nrow=5).detect_topology()
    assert report.verified
    assert quiet(lambda: labelled.to_structured_surface(edge="full_rect")).kind == "structured_mesh"
    with pytest.raises(ValueError, match="full_rect edge requires a nominal regular geometry"):
        labelled.to_structured_surface(tolerance=-1.0, edge="full_rect")
