"""StructuredShell and MeshShell: read-only geometry shells, obtained here
from geometry inference and from each other."""

import math
import warnings

import pytest

import voridez as vz
from points_helpers import curvilinear, faulted, lattice_xyz

NAN = float("nan")


def structured(points):
    """The StructuredShell fallback of points that carry column/row."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        shell = points.infer_geometry()
    assert shell.kind == "structured_shell"
    return shell


def mesh_of_fault(**kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        shell = faulted().infer_geometry(**kwargs)
    assert shell.kind == "mesh_shell"
    return shell


def indexed(nodes):
    """Points at (i * 10 + j, j * 10) carrying 1-based column/row, for the
    given (i, j) nodes; bent rows keep the mesh off any regular lattice."""
    xs = [i * 10.0 + j * j * 0.7 for i, j in nodes]
    ys = [j * 10.0 for i, j in nodes]
    ps = vz.PointSet.from_xyz(xs, ys, [0.0] * len(nodes))
    ps.column = [i + 1 for i, _ in nodes]
    ps.row = [j + 1 for _, j in nodes]
    return ps


def near_regular():
    """A rotated 5 x 4 lattice of cell 10 with micro-metre jitter: only a very
    small tolerance refuses it, so inference falls back to a shell that a
    sensible tolerance fits again."""
    x, y, z = lattice_xyz(ncol=5, nrow=4, cell=10.0, rotation=30.0)
    x = [v + 1e-6 * math.sin(7 * k) for k, v in enumerate(x)]
    labelled, report = vz.PointSet.from_xyz(x, y, z).detect_topology()
    assert report.verified
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        return labelled.infer_geometry(tolerance=1e-9)


# ---- StructuredShell ---------------------------------------------------------------


def test_structured_shell_members():
    shell = structured(curvilinear(ncol=3, nrow=2))
    assert (shell.kind, shell.name, shell.ncol, shell.nrow) == ("structured_shell", None, 3, 2)
    assert repr(shell) == "StructuredShell(ncol=3, nrow=2)"
    assert shell.nominal_geometry is None
    xs, ys = shell.x(), shell.y()
    assert [len(row) for row in xs] == [3, 3] and [len(row) for row in ys] == [3, 3]
    for j in range(2):
        for i in range(3):
            assert shell.node_xy(i, j) == (xs[j][i], ys[j][i])
    assert xs[0] == [0.0, 25.0, 50.0] and ys[1][0] == 25.0


def test_absent_nodes():
    nodes = [(i, j) for j in range(3) for i in range(3) if (i, j) != (2, 2)]
    shell = structured(indexed(nodes))
    x, y = shell.node_xy(2, 2)
    assert math.isnan(x) and math.isnan(y)
    assert math.isnan(shell.x()[2][2]) and math.isnan(shell.y()[2][2])
    b = shell.bbox()
    assert (b.xmin, b.ymin, b.xmax, b.ymax) == (0.0, 0.0, 20.7, 20.0)  # node (2, 1) at 20 + 0.7


@pytest.mark.parametrize("ij", [(3, 0), (0, 2), (10**6, 10**6)])
def test_node_xy_outside_the_shape(ij):
    shell = structured(curvilinear(ncol=3, nrow=2))
    with pytest.raises(ValueError) as info:
        shell.node_xy(*ij)
    assert str(info.value) == f"out of range: structured surface node ({ij[0]}, {ij[1]}) outside shape (ncol=3, nrow=2)"


@pytest.mark.parametrize("call, error", [(lambda s: s.node_xy(-1, 0), OverflowError),
                                         (lambda s: s.node_xy(0.5, 0), TypeError),
                                         (lambda s: s.infer_grid("tight"), TypeError)])
def test_structured_shell_argument_conversion(call, error):
    with pytest.raises(error):
        call(structured(curvilinear()))


def test_to_mesh_shell_keeps_cells_apart_across_absent_nodes():
    nodes = [(i, j) for j in range(2) for i in range(5) if i != 2]
    shell = structured(indexed(nodes))
    mesh = shell.to_mesh_shell()
    assert mesh.kind == "mesh_shell" and mesh.name == shell.name
    assert (mesh.n_nodes, mesh.n_triangles, mesh.components) == (8, 4, 2)
    assert sorted(mesh.labels()) == sorted((0, i, j) for i, j in nodes)
    assert mesh.edge.rings() == shell.edge.rings()


def test_to_mesh_shell_without_a_complete_cell():
    # No cell has its four corners, so the outline is the hull of the nodes
    # and there is nothing to triangulate.
    shell = structured(indexed([(0, 0), (1, 0), (2, 1), (3, 1), (0, 2), (3, 2)]))
    assert len(shell.edge) == 1
    with pytest.raises(ValueError) as info:
        shell.to_mesh_shell()
    assert str(info.value) == "geometry inference failed: structured shell has no complete cell to triangulate"


def test_infer_grid_refits_a_near_regular_shell():
    shell = near_regular()
    assert shell.kind == "structured_shell"
    with pytest.raises(ValueError, match=r"^geometry inference failed: column/row nodes miss the inferred regular"):
        shell.infer_grid(1e-9)
    grid = shell.infer_grid()
    assert grid.kind == "grid_geometry" and grid.name is None
    assert (grid.ncol, grid.nrow) == (5, 4)
    assert grid.xinc == pytest.approx(10.0, abs=1e-5) and grid.rotation_deg == pytest.approx(30.0, abs=1e-4)
    assert grid.edge.rings() == shell.edge.rings()
    for j in range(4):
        for i in range(5):
            assert grid.node_xy(i, j) == pytest.approx(shell.node_xy(i, j), abs=1e-4)
    mesh_grid = shell.to_mesh_shell().infer_grid()
    assert (mesh_grid.ncol, mesh_grid.nrow, mesh_grid.xinc) == (grid.ncol, grid.nrow, grid.xinc)


@pytest.mark.parametrize("tolerance", [0.0, -1.0, NAN])
def test_infer_grid_tolerance_must_be_positive(tolerance):
    with pytest.raises(ValueError, match="^geometry inference failed: tolerance must be a finite positive number$"):
        near_regular().infer_grid(tolerance)


def test_curvilinear_shell_does_not_fit_a_lattice():
    with pytest.raises(ValueError, match="the mesh is curvilinear rather than a regular grid"):
        structured(curvilinear()).infer_grid()


def test_edge_is_a_new_copy_every_time():
    shell = structured(curvilinear())
    edge = shell.edge
    assert edge.name is None and edge is not shell.edge
    edge.note = 1.0
    assert shell.edge.attr_names() == []


# ---- MeshShell -----------------------------------------------------------------------


def test_mesh_shell_members():
    mesh = mesh_of_fault()
    assert (mesh.kind, mesh.name, mesh.n_nodes) == ("mesh_shell", None, 144)
    assert repr(mesh) == f"MeshShell(nodes=144, triangles={mesh.n_triangles}, components=1)"
    nodes, triangles = mesh.nodes(), mesh.triangles()
    assert len(nodes) == mesh.n_nodes and len(triangles) == mesh.n_triangles
    assert all(type(c) is float for n in nodes for c in n)
    for a, b, c in triangles:  # counter-clockwise
        (ax, ay), (bx, by), (cx, cy) = nodes[a], nodes[b], nodes[c]
        assert (bx - ax) * (cy - ay) - (by - ay) * (cx - ax) > 0
    labels = mesh.labels()
    assert len(labels) == mesh.n_nodes
    assert {lab[0] for lab in labels if lab is not None} == {0, 1}  # the two fault blocks
    b = mesh.bbox()
    assert (b.xmin, b.xmax) == (min(n[0] for n in nodes), max(n[0] for n in nodes))
    assert (b.ymin, b.ymax) == (min(n[1] for n in nodes), max(n[1] for n in nodes))


def test_wireframe_strides():
    mesh = mesh_of_fault()
    full = mesh.wireframe_edges()
    assert full == mesh.wireframe_edges(None) == mesh.wireframe_edges(0) == mesh.wireframe_edges(stride=1)
    assert all(a < b for a, b in full) and len(set(full)) == len(full)
    coarse = mesh.wireframe_edges(2)
    assert 0 < len(coarse) < len(full)
    with pytest.raises(OverflowError):
        mesh.wireframe_edges(-1)
    with pytest.raises(TypeError) as info:
        mesh.wireframe_edges("2")
    assert "while processing 'stride'" in info.value.__notes__


def test_a_strictly_lattice_closed_mesh_honours_the_fault():
    mesh = mesh_of_fault(max_bridge=None)
    assert mesh.components == 2
    assert repr(mesh).endswith(", components=2)")


def test_mesh_of_a_fault_is_not_regular():
    with pytest.raises(ValueError, match="^geometry inference failed: "):
        mesh_of_fault().infer_grid()
