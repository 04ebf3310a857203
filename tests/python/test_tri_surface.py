"""TriSurface: mesh queries, lanes, lattice inference, resampling and viewer
data."""

import math

import pytest

import voridez as vz
from surface_grids import make_grid, same_values  # noqa: F401

NAN = float("nan")
has_point_methods = pytest.mark.skipif(not hasattr(vz.PointSet, "xyz"), reason="PointSet methods not built yet")


@pytest.fixture
def square(make_grid):
    """Two triangles over the unit square; values 1, 2 / 3, NaN."""
    return make_grid([[1.0, 2.0], [3.0, NAN]], xori=5.0, yori=6.0).to_tri_surface()


@pytest.fixture
def lattice(make_grid):
    return make_grid([[float(i + 10 * j) for i in range(4)] for j in range(3)], xinc=2.0, yinc=3.0).to_tri_surface()


def test_queries(square):
    assert repr(square) == "TriSurface(points=4, triangles=2, components=1, rings=1)"
    assert (square.kind, square.name, square.n_points, square.n_triangles, square.components) == (
        "tri_surface", None, 4, 2, 1)
    pts = square.points()
    assert pts[:3] == [(5.0, 6.0, 1.0), (6.0, 6.0, 2.0), (5.0, 7.0, 3.0)]
    assert pts[3][:2] == (6.0, 7.0) and math.isnan(pts[3][2])
    assert str(square.xyz()) == str(pts)
    assert square.triangles() == [(0, 1, 3), (0, 3, 2)]
    assert len(square.triangles()) == square.n_triangles
    vals = square.values()
    assert vals[:3] == [1.0, 2.0, 3.0] and math.isnan(vals[3])
    b = square.bbox()
    assert (b.xmin, b.ymin, b.xmax, b.ymax) == (5.0, 6.0, 6.0, 7.0)
    st = square.stats()
    assert (st.count, st.mean) == (3, 2.0)
    assert square.history()[-1] == "surface.to_tri_surface()"
    assert square.primary_metadata is None


def test_wireframe(lattice):
    full = lattice.wireframe_edges()
    assert lattice.wireframe_edges(stride=0) == full == lattice.wireframe_edges(1) == lattice.wireframe_edges(None)
    assert all(isinstance(e, tuple) and len(e) == 2 for e in full)
    # A 4 x 3 lattice draws as squares: 3 * 3 row edges + 4 * 2 column edges, no diagonals.
    assert len(full) == 17
    coarse = lattice.wireframe_edges(stride=2)
    assert 0 < len(coarse) < len(full)
    with pytest.raises(OverflowError):
        lattice.wireframe_edges(-1)


def test_lanes(square):
    r = square.set_attr("depth", [10.0, 20.0, 30.0, 40.0])
    assert square.attr_names() == [] and r.attr_names() == ["depth"]
    assert r.history()[-1] == "tri_surface.set_attr(name=depth)"
    assert r.n_points == square.n_points
    p = r.attr("depth")
    assert p.values() == [10.0, 20.0, 30.0, 40.0]
    assert p.attr_names() == []
    assert p.primary_metadata == r.attr_metadata("depth") == {
        "id": "depth", "label": "depth", "kind": "continuous", "units": None, "codes": None}
    assert p.history()[-1] == "tri_surface.as_attr_surface(name=depth)"
    same = square.set_attr("depth", [1, 2, 3, 4], None)
    assert same.history()[-1] == "tri_surface.set_attr(name=depth)"
    m = square.set_attr("depth", (1, 2, 3, 4), {"units": "m"})
    assert m.history()[-1] == "tri_surface.set_attr_with_metadata(name=depth)"


def test_lane_errors(square):
    with pytest.raises(ValueError) as info:
        square.set_attr("depth", [1.0, 2.0, 3.0])
    assert str(info.value) == "geometry mismatch: TriSurface::set_attr: 3 lane values for 4 shell nodes"
    with pytest.raises(ValueError) as info:
        square.set_attr("depth", [1.0, 2.0, 3.0], {})
    assert str(info.value) == "geometry mismatch: TriSurface::set_attr_with_metadata: 3 lane values for 4 shell nodes"
    assert square.attr_names() == []
    with pytest.raises(TypeError) as info:
        square.set_attr("depth", [1.0, 2.0, 3.0, 4.0], [])
    assert info.value.__notes__ == ["while processing 'metadata'"]
    with pytest.raises(TypeError) as info:
        square.set_attr("depth", "1234")
    assert info.value.__notes__ == ["while processing 'values'"]
    with pytest.raises(ValueError) as info:
        square.set_attr("depth", [1, 2, 3, 4], {"id": "z"})
    assert str(info.value) == "parse error: attribute metadata id 'z' must match lane name 'depth'"
    with pytest.raises(KeyError) as info:
        square.attr("nope")
    assert info.value.args == ("no attribute layer 'nope'",)
    with pytest.raises(KeyError):
        square.attr_metadata("nope")
    with pytest.raises(ValueError) as info:
        square.value_layer(attr="nope")
    assert str(info.value) == "not found: no attribute layer 'nope'"


def test_categorical_lane_keeps_its_metadata(square):
    c = square.set_attr("code", [1, 2, 3, 4], {"kind": "categorical", "codes": {"1": {"color": "#abcdef"}}})
    assert c.attr_metadata("code")["codes"] == {"1": {"label": None, "color": "#ABCDEF"}}
    with pytest.raises(ValueError) as info:
        c.set_attr("code", [1.5, 2, 3, 4])
    assert str(info.value) == "parse error: categorical attribute 'code' values must be integers or NaN"
    again = c.set_attr("code", [NAN, math.inf, -math.inf, 4])
    assert again.attr_metadata("code")["kind"] == "categorical"


def test_shell_and_edge_names(square):
    assert isinstance(square.shell, vz.MeshShell) and square.shell.name is None
    assert isinstance(square.edge, vz.PolygonSet) and square.edge.name is None


def test_infer_grid(lattice):
    g = lattice.infer_grid()
    assert (g.ncol, g.nrow) == (4, 3)
    assert (g.xinc, g.yinc) == pytest.approx((2.0, 3.0))
    assert g.name is None
    with pytest.raises(ValueError, match="^geometry inference failed: tolerance must be a finite positive number$"):
        lattice.infer_grid(tolerance=-1.0)
    with pytest.raises(TypeError) as info:
        lattice.infer_grid(tolerance=None)
    assert info.value.__notes__ == ["while processing 'tolerance'"]


def test_resample(lattice):
    g = lattice.infer_grid()
    r = lattice.set_attr("twice", [2 * v for v in lattice.values()]).resample(g, method="Nearest")
    assert isinstance(r, vz.Surface) and r.name is None
    assert r.attr_names() == ["twice"]
    assert r.history()[-1] == "tri_surface.resample(ncol=4, nrow=3, method=Nearest)"
    rows = r.to_structured_mesh().values()
    assert rows[2][3] == pytest.approx(23.0)
    assert r.attr["twice"].to_structured_mesh().values()[2][3] == pytest.approx(46.0)
    d = lattice.resample(g)
    assert d.history()[-1] == "tri_surface.resample(ncol=4, nrow=3, method=MinimumCurvature)"


@pytest.mark.parametrize("target", [None, (0, 0, 1, 1, 2, 2), "surface"])
def test_resample_target_must_be_a_geometry(lattice, target):
    if target == "surface":
        target = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 2, 2), 1.0)
    with pytest.raises(TypeError) as info:
        lattice.resample(target)
    assert info.value.__notes__ == ["while processing 'target'"]
    with pytest.raises(TypeError, match="^unknown grid method 'kriging'"):
        lattice.resample(vz.GridGeometry(0, 0, 1, 1, 2, 2), "kriging")


def test_resample_without_samples(make_grid):
    t = make_grid([[NAN, NAN], [NAN, NAN]]).to_tri_surface()
    with pytest.raises(ValueError, match="^empty input: "):
        t.resample(vz.GridGeometry(0, 0, 1, 1, 2, 2))


def test_value_layer(lattice):
    d = lattice.value_layer()
    assert list(d) == ["kind", "name", "nodes", "triangles", "values", "range"]
    assert d["name"] == "values" and d["range"] == [0.0, 23.0]
    assert d["nodes"][1] == [2.0, 0.0] and d["triangles"][0] == [0, 1, 5]
    assert lattice.value_layer(stride=1) == d == lattice.value_layer(stride=0)
    coarse = lattice.value_layer(stride=2)
    assert len(coarse["nodes"]) < len(d["nodes"]) and coarse["range"] == d["range"]


@has_point_methods
def test_to_points(square):
    pts = square.to_points()
    assert pts.attr_names() == []
    assert pts.history()[-1] == "tri_surface.to_points()"
    assert pts.xyz()[:3] == square.points()[:3]


def test_no_constructor():
    with pytest.raises(TypeError):
        vz.TriSurface()
