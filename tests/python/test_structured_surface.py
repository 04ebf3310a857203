"""StructuredMeshSurface: node access, lanes, conversions and the EarthVision
loader."""

import math
import os

import numpy as np
import pytest

import voridez as vz
from surface_grids import make_grid, same_values  # noqa: F401

NAN = float("nan")
SHARED = os.environ.get("VZ_SHARED_DATA_DIR")
needs_shared = pytest.mark.skipif(
    not SHARED or not os.path.isdir(SHARED), reason="shared sample files not present"
)
has_point_methods = pytest.mark.skipif(not hasattr(vz.PointSet, "xyz"), reason="PointSet methods not built yet")

# A 3 x 2 lattice: node (1, 1) is null (z 1e30), node (2, 1) is absent.
EARTHVISION = """#Type: scattered data
#Field: 1 x
#Field: 2 y
#Field: 3 z meters
#Field: 4 column
#Field: 5 row
#End:
100.0 200.0 -10.0 1 1
110.0 200.5 -11.0 2 1
120.0 201.0 -12.0 3 1
100.5 210.0 -20.0 1 2
110.5 210.5 1e30 2 2
"""


@pytest.fixture
def loaded(tmp_path):
    path = tmp_path / "small.ev"
    path.write_text(EARTHVISION)
    return vz.StructuredMeshSurface.load_earthvision_grid(str(path)), str(path)


@pytest.fixture
def mesh(make_grid):
    """A regular 3 x 2 lattice lifted to a structured surface."""
    return make_grid([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], xori=10.0, yori=20.0).to_structured_mesh()


def test_loader(loaded):
    s, path = loaded
    assert (s.ncol, s.nrow, s.name, s.kind) == (3, 2, None, "structured_mesh")
    assert s.history() == [f"structured_surface.load_earthvision_grid(path={path})"]
    assert repr(s) == "StructuredMeshSurface(ncol=3, nrow=2)"
    rows = s.values()
    assert rows[0] == [-10.0, -11.0, -12.0]
    assert rows[1][0] == -20.0 and math.isnan(rows[1][1]) and math.isnan(rows[1][2])
    assert s.node_xy(1, 1) == (110.5, 210.5)  # a null node keeps its position
    x, y = s.node_xy(2, 1)
    assert math.isnan(x) and math.isnan(y)  # an absent node has none
    assert math.isnan(s.z(1, 1))
    assert s.x()[0] == [100.0, 110.0, 120.0] and s.y()[1][:2] == [210.0, 210.5]
    b = s.bbox()
    assert (b.xmin, b.ymin, b.xmax, b.ymax) == (100.0, 200.0, 120.0, 210.5)
    st = s.stats()
    assert st.count == 4 and st.min == -20.0


def test_loader_errors(tmp_path):
    with pytest.raises(TypeError) as info:
        vz.StructuredMeshSurface.load_earthvision_grid(tmp_path / "x.ev")
    assert info.value.__notes__ == ["while processing 'path'"]
    with pytest.raises(ValueError, match="^I/O error"):
        vz.StructuredMeshSurface.load_earthvision_grid(str(tmp_path / "missing.ev"))
    empty = tmp_path / "empty.ev"
    empty.write_text("")
    with pytest.raises(ValueError, match="EarthVision grid"):
        vz.StructuredMeshSurface.load_earthvision_grid(str(empty))


def test_rows_and_node_access(mesh):
    rows = mesh.values()
    assert len(rows) == 2 and all(len(r) == 3 for r in rows)
    assert rows[1][2] == mesh.z(2, 1) == 6.0
    assert mesh.x()[1][2] == mesh.node_xy(2, 1)[0] == 12.0
    assert mesh.y()[1][2] == mesh.node_xy(2, 1)[1] == 21.0
    assert mesh.z(i=0, j=0) == 1.0


@pytest.mark.parametrize("method", ["z", "node_xy"])
def test_node_outside_the_lattice(mesh, method):
    with pytest.raises(ValueError) as info:
        getattr(mesh, method)(3, 0)
    assert str(info.value) == "out of range: structured surface node (3, 0) outside shape (ncol=3, nrow=2)"
    with pytest.raises(OverflowError) as info:
        getattr(mesh, method)(-1, 0)
    assert info.value.__notes__ == ["while processing 'i'"]
    with pytest.raises(TypeError) as info:
        getattr(mesh, method)(0, 0.5)
    assert info.value.__notes__ == ["while processing 'j'"]


def test_set_attr_returns_a_new_surface(mesh):
    r = mesh.set_attr("depth", [[1, 2, 3], [4, 5, 6]])
    assert mesh.attr_names() == [] and r.attr_names() == ["depth"]
    assert r.history()[-1] == "structured_surface.set_attr(name=depth)"
    r2 = r.set_attr("other", np.zeros((2, 3))).set_attr("depth", ((0, 0, 0), (0, 0, 1)))
    assert r2.attr_names() == ["depth", "other"]
    assert r2.attr("depth").values() == [[0, 0, 0], [0, 0, 1.0]]
    m = r.set_attr("code", [[1, 2, 3], [4, 5, 6]], {"kind": "categorical", "units": "u"})
    assert m.attr_metadata("code")["units"] == "u"
    assert m.history()[-1] == "structured_surface.set_attr_with_metadata(name=code)"
    with pytest.raises(ValueError, match="^parse error: categorical attribute 'code' values must be integers or NaN$"):
        m.set_attr("code", [[0.5, 2, 3], [4, 5, 6]])


@pytest.mark.parametrize(
    "values, exc, text",
    [
        ([[1, 2, 3], [4, 5]], ValueError, "set_attr expects 2 rows of 3 values (the shape values() returns)"),
        ([[1, 2, 3]], ValueError, "set_attr expects 2 rows of 3 values (the shape values() returns)"),
        (np.zeros((3, 2)), ValueError, "set_attr expects 2 rows of 3 values (the shape values() returns)"),
        ("abc", TypeError, None),
        ([[1, 2, "x"], [1, 2, 3]], TypeError, None),
        (5, TypeError, None),
    ],
)
def test_set_attr_shapes(mesh, values, exc, text):
    with pytest.raises(exc) as info:
        mesh.set_attr("lane", values)
    if text:
        assert str(info.value) == text
    else:
        assert info.value.__notes__ == ["while processing 'values'"]


@pytest.mark.parametrize("metadata", [[], "x", 1])
def test_set_attr_metadata_must_be_a_dict(mesh, metadata):
    with pytest.raises(TypeError) as info:
        mesh.set_attr("lane", [[1, 2, 3], [4, 5, 6]], metadata)
    assert info.value.__notes__ == ["while processing 'metadata'"]


def test_set_attr_metadata_errors_pass_through(mesh):
    with pytest.raises(TypeError, match="^unknown attribute metadata key 'colour'$"):
        mesh.set_attr("lane", [[1, 2, 3], [4, 5, 6]], {"colour": "red"})
    with pytest.raises(ValueError, match="must match lane name 'lane'"):
        mesh.set_attr("lane", [[1, 2, 3], [4, 5, 6]], {"id": "other"})


def test_attr_promotion(mesh):
    r = mesh.set_attr("depth", [[1, 2, 3], [4, 5, 6]], {"units": "m"})
    p = r.attr("depth")
    assert p.attr_names() == []
    assert p.primary_metadata == r.attr_metadata("depth")
    assert p.history()[-1] == "structured_surface.as_attr_surface(name=depth)"
    assert (p.ncol, p.nrow, p.x(), p.y()) == (r.ncol, r.nrow, r.x(), r.y())
    assert r.primary_metadata is None
    with pytest.raises(KeyError) as info:
        r.attr("nope")
    assert info.value.args == ("no attribute layer 'nope'",)
    with pytest.raises(KeyError):
        r.attr_metadata("nope")
    with pytest.raises(ValueError) as info:
        r.value_layer(attr="nope")
    assert str(info.value) == "not found: no attribute layer 'nope'"


def test_conversions(mesh, make_grid):
    t = mesh.to_tri_surface()
    assert (t.n_points, t.n_triangles) == (6, 4)
    assert t.history()[-1] == "structured_surface.to_tri_surface()"
    g = vz.GridGeometry(10.0, 20.0, 1.0, 1.0, 3, 2)
    r = mesh.set_attr("depth", [[1, 2, 3], [4, 5, 6]]).resample(g, "nearest")
    assert isinstance(r, vz.Surface)
    assert r.attr_names() == ["depth"]
    assert r.history()[-1] == "structured_surface.resample(ncol=3, nrow=2, method=Nearest)"
    same_values(r.to_structured_mesh().values(), mesh.values())
    assert mesh.resample(g).history()[-1] == "structured_surface.resample(ncol=3, nrow=2, method=MinimumCurvature)"


@pytest.mark.parametrize("target, method, exc, argument", [
    (None, "nearest", TypeError, "target"),
    ((0, 0, 1, 1, 2, 2), "nearest", TypeError, "target"),
    ("grid", "nearest", TypeError, "target"),
    ("geometry", None, TypeError, "method"),
])
def test_resample_argument_types(mesh, target, method, exc, argument):
    if target == "geometry":
        target = vz.GridGeometry(0, 0, 1, 1, 2, 2)
    with pytest.raises(exc) as info:
        mesh.resample(target, method)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


def test_resample_unknown_method(mesh):
    with pytest.raises(TypeError) as info:
        mesh.resample(vz.GridGeometry(0, 0, 1, 1, 2, 2), method=" Spline ")
    assert str(info.value) == "unknown grid method 'spline' (expected 'nearest', 'idw', or 'min_curvature')"


def test_infer_grid(mesh):
    g = mesh.infer_grid()
    assert (g.xori, g.yori, g.xinc, g.yinc, g.ncol, g.nrow) == pytest.approx((10.0, 20.0, 1.0, 1.0, 3, 2))
    assert g.name is None
    with pytest.raises(ValueError) as info:
        mesh.infer_grid(tolerance=0)
    assert str(info.value) == "geometry inference failed: tolerance must be a finite positive number"
    with pytest.raises(TypeError):
        mesh.infer_grid("1")


def test_infer_grid_needs_four_nodes(tmp_path):
    path = tmp_path / "three.ev"
    path.write_text("#Type: scattered data\n#Field: 1 x\n#Field: 2 y\n#Field: 3 z\n#Field: 4 column\n"
                    "#Field: 5 row\n#End:\n0 0 1 1 1\n1 0 1 2 1\n0 1 1 1 2\n")
    s = vz.StructuredMeshSurface.load_earthvision_grid(str(path))
    with pytest.raises(ValueError) as info:
        s.infer_grid()
    assert str(info.value) == (
        "geometry inference failed: column/row geometry inference requires at least four indexed points")


def test_getters(mesh):
    g = mesh.nominal_geometry
    assert isinstance(g, vz.GridGeometry) and g.name is None and (g.ncol, g.nrow) == (3, 2)
    assert isinstance(mesh.edge, vz.PolygonSet) and mesh.edge.name is None
    shell = mesh.shell
    assert isinstance(shell, vz.StructuredShell) and shell.name is None
    assert mesh.primary_metadata is None


def test_value_layer(mesh):
    d = mesh.value_layer()
    assert d["kind"] == "trimesh" and d["name"] == "values"
    assert len(d["nodes"]) == 6 and len(d["triangles"]) == 4
    assert d["range"] == [1.0, 6.0]
    for stride in (0, 1):
        assert mesh.value_layer(stride=stride) == d
    with pytest.raises(OverflowError):
        mesh.value_layer(stride=-1)


def test_value_layer_without_a_complete_cell(make_grid):
    line = make_grid([[1.0, 2.0, 3.0]]).to_structured_mesh()
    with pytest.raises(ValueError) as info:
        line.value_layer(attr="missing")
    assert str(info.value) == "geometry inference failed: structured shell has no complete cell to triangulate"
    with pytest.raises(ValueError, match="no complete cell"):
        line.to_tri_surface()


@has_point_methods
def test_to_points(loaded):
    s, _ = loaded
    pts = s.to_points()
    assert pts.name is None
    xyz = pts.xyz()
    assert len(xyz) == 5  # the absent node is left out, the null one kept
    assert xyz[0] == (100.0, 200.0, -10.0)
    assert math.isnan(xyz[4][2])
    assert pts.attr_names() == ["column", "row"]
    assert pts.attr("column") == [1.0, 2.0, 3.0, 1.0, 2.0]
    assert pts.attr("row") == [1.0, 1.0, 1.0, 2.0, 2.0]
    assert pts.history()[-1] == "structured_surface.to_points()"


@needs_shared
def test_real_earthvision_export(tmp_path):
    src = os.path.join(SHARED, "earthvision", "resinsight_norne_test.ptl")
    s = vz.StructuredMeshSurface.load_earthvision_grid(src)
    assert s.history() == [f"structured_surface.load_earthvision_grid(path={src})"]
    st = s.stats()
    assert st.count > 100 and st.max < 0
    with pytest.raises(ValueError, match="the mesh is curvilinear rather than a regular grid"):
        s.infer_grid(tolerance=1e-3)
    lines = s.iso_lines(interval=10.0)
    assert lines
    t = s.to_tri_surface()
    assert t.n_points == sum(1 for row in s.x() for v in row if math.isfinite(v))
    b = s.bbox()
    g = vz.GridGeometry(b.xmin, b.ymin, (b.xmax - b.xmin) / 20, (b.ymax - b.ymin) / 20, 21, 21)
    r = s.resample(g, "idw")
    out = tmp_path / "norne.irap"
    r.save_irap_classic(str(out))
    same_values(vz.Surface.load_irap_classic(str(out)).to_structured_mesh().values(),
                r.to_structured_mesh().values())
