"""Surface: creating, reading and writing files, describing, sampling,
resampling and converting a regular grid surface."""

import math
import os
import pathlib

import pytest

import voridez as vz
from surface_grids import DATA_DIR, make_grid, same_values, values_of  # noqa: F401

NAN = float("nan")
SHARED = os.environ.get("VZ_SHARED_DATA_DIR")
needs_shared = pytest.mark.skipif(
    not SHARED or not os.path.isdir(SHARED), reason="shared sample files not present"
)
CPS3 = DATA_DIR / "cps3" / "top_brent.cps3grid"


def geom(ncol=3, nrow=2, **kw):
    args = dict(xori=0.0, yori=0.0, xinc=1.0, yinc=1.0)
    args.update(kw)
    return vz.GridGeometry(args["xori"], args["yori"], args["xinc"], args["yinc"], ncol, nrow,
                           rotation_deg=kw.get("rotation_deg", 0.0), yflip=kw.get("yflip", False))


def test_constant_surface():
    s = vz.Surface.constant(geom(3, 2), 5.0)
    assert (s.ncol, s.nrow, s.name, s.kind) == (3, 2, None, "surface")
    assert s.history() == ["surface.constant(value=5)"]
    assert repr(s) == "Surface(ncol=3, nrow=2)"
    assert s.rotation_deg == 0.0
    assert values_of(s) == [[5.0] * 3, [5.0] * 3]


@pytest.mark.parametrize("value, text", [(0.1, "0.1"), (-1.0, "-1"), (1e21, "1" + "0" * 21), (NAN, "NaN")])
def test_constant_history_numbers(value, text):
    assert vz.Surface.constant(geom(), value).history() == [f"surface.constant(value={text})"]


@pytest.mark.parametrize(
    "args, exc",
    [
        ((None, 1.0), TypeError),
        (((0, 0, 1, 1, 2, 2), 1.0), TypeError),
        ((geom(), "1"), TypeError),
        # More nodes than any lattice array may hold: refused, never a crash.
        ((vz.GridGeometry(0, 0, 1, 1, 2**40, 2**40), 0.0), ValueError),
        ((vz.GridGeometry(0, 0, 1, 1, 2**63, 4), 0.0), ValueError),
    ],
)
def test_constant_refusals(args, exc):
    with pytest.raises(exc):
        vz.Surface.constant(*args)


def test_no_python_constructor():
    with pytest.raises(TypeError):
        vz.Surface()


def test_history_is_a_new_list_each_call():
    s = vz.Surface.constant(geom(), 1.0)
    h = s.history()
    h.append("changed")
    assert s.history() == ["surface.constant(value=1)"]
    assert s.history() is not s.history()


def test_sample(make_grid):
    s = make_grid([[1.0, 2.0, 3.0], [4.0, 5.0, NAN], [7.0, 8.0, 9.0]], xori=10.0, yori=20.0)
    assert s.sample(10.0, 20.0) == 1.0
    assert s.sample(11.0, 21.0) == 5.0
    assert s.sample(10.5, 20.0) == pytest.approx(1.5)
    assert s.sample(9.0, 20.0) is None  # outside
    assert s.sample(12.0, 21.0) is None  # the node itself is undefined
    assert s.sample(11.9, 21.1) is None  # nearest to the undefined node
    with pytest.raises(TypeError):
        s.sample("1", 2.0)


def test_resample_onto_finer_lattice(make_grid):
    s = make_grid([[0.0, 2.0], [4.0, 6.0]])
    s.lane = s * 10.0
    r = s.resample(vz.GridGeometry(0, 0, 0.5, 0.5, 3, 3))
    assert (r.ncol, r.nrow, r.name) == (3, 3, None)
    assert r.attr_names() == []
    assert values_of(r) == [[0.0, 1.0, 2.0], [2.0, 3.0, 4.0], [4.0, 5.0, 6.0]]
    assert r.history()[-1] == "surface.resample(ncol=3, nrow=3)"
    with pytest.raises(TypeError):
        s.resample(None)
    with pytest.raises(TypeError):
        s.resample(r)


def test_degenerate_source():
    empty = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 0, 3), 1.0)
    with pytest.raises(ValueError, match="degenerate source geometry"):
        empty.resample(geom())
    assert empty.sample(0.0, 0.0) is None


def test_resample_onto_an_oversized_target_is_refused():
    s = vz.Surface.constant(geom(), 1.0)
    with pytest.raises(ValueError, match="too large"):
        s.resample(vz.GridGeometry(0, 0, 1, 1, 2**33, 2**33))


def test_stats_and_bbox(make_grid):
    s = make_grid([[1.0, NAN], [3.0, 5.0]], rotation=90.0, xinc=2.0)
    st = s.stats()
    assert (st.count, st.min, st.max, st.mean) == (3, 1.0, 5.0, 3.0)
    b = s.bbox()  # the four rotated corner nodes, defined or not
    assert b.xmin == pytest.approx(-1.0)
    assert b.xmax == pytest.approx(0.0)
    assert b.ymin == pytest.approx(0.0)
    assert b.ymax == pytest.approx(2.0)
    assert vz.Surface.constant(geom(), NAN).stats().count == 0


def test_conversions_carry_lanes(make_grid):
    s = make_grid([[1.0, 2.0], [3.0, NAN]])
    s.depth = s + 1.0
    t = s.to_tri_surface()
    assert isinstance(t, vz.TriSurface)
    assert (t.n_points, t.n_triangles, t.attr_names()) == (4, 2, ["depth"])
    assert t.history()[-1] == "surface.to_tri_surface()"
    m = s.to_structured_mesh()
    assert isinstance(m, vz.StructuredMeshSurface)
    assert m.attr_names() == ["depth"]
    same_values(m.values(), [[1.0, 2.0], [3.0, NAN]])
    assert m.history()[-1] == "surface.to_structured_mesh()"
    assert t.name is None and m.name is None


def test_to_tri_surface_of_a_single_row():
    s = vz.Surface.constant(geom(4, 1), 1.0)
    with pytest.raises(ValueError, match="no complete cell"):
        s.to_tri_surface()


def test_geometry_copies_lattice(make_grid):
    s = make_grid([[1.0, 2.0], [3.0, 4.0]], xori=5.0, yori=6.0, xinc=2.0, yinc=3.0, rotation=30.0, yflip=True)
    g = s.geometry
    assert isinstance(g, vz.GridGeometry)
    assert (g.xori, g.yori, g.xinc, g.yinc, g.ncol, g.nrow, g.rotation_deg, g.yflip) == (
        5.0, 6.0, 2.0, 3.0, 2, 2, 30.0, True)
    assert g.name is None
    assert s.geometry is not g


@pytest.mark.skipif(not hasattr(vz.PolygonSet, "rings"), reason="PolygonSet methods not built yet")
def test_edge_is_the_hull_of_defined_nodes(make_grid):
    s = make_grid([[1.0, 2.0, NAN], [3.0, 4.0, NAN]])
    (ring,) = s.edge.rings()
    assert sorted({(x, y) for x, y, _ in ring}) == [(0.0, 0.0), (0.0, 1.0), (1.0, 0.0), (1.0, 1.0)]
    assert s.edge.history() == ["polygons.convex_hull_xy"]
    undefined = vz.Surface.constant(geom(), NAN)
    assert undefined.edge.rings() == []
    assert undefined.edge.history() == ["polygons.from_rings"]
    # The geometry carries that empty edge, not the lattice footprint.
    assert undefined.geometry.edge.rings() == []
    assert s.edge.name is None


def test_irap_classic_round_trip(tmp_path, make_grid):
    s = make_grid([[1.5, NAN, -2.25], [0.0, 1e6, 3.0]], xori=100.0, yori=200.0, xinc=25.0, yinc=12.5,
                  rotation=-30.0, yflip=True)
    out = tmp_path / "out.irap"
    assert s.save_irap_classic(str(out)) is None
    back = vz.Surface.load_irap_classic(str(out))
    same_values(values_of(back), values_of(s))
    assert back.history() == [f"surface.load_irap_classic(path={out})"]
    g, h = s.geometry, back.geometry
    assert (g.xori, g.yori, g.xinc, g.yinc, g.rotation_deg, g.yflip) == (
        h.xori, h.yori, h.xinc, h.yinc, h.rotation_deg, h.yflip)


def test_save_writes_only_the_primary_layer(tmp_path, make_grid):
    s = make_grid([[1.0, 2.0]])
    s.lane = s * 2.0
    out = tmp_path / "primary.irap"
    s.save_irap_classic(str(out))
    assert vz.Surface.load_irap_classic(str(out)).attr_names() == []
    assert s.attr_names() == ["lane"]


@pytest.mark.parametrize("path", [pathlib.Path("x.irap"), b"x.irap", None, 3])
def test_path_must_be_str(path):
    with pytest.raises(TypeError) as info:
        vz.Surface.load_irap_classic(path)
    assert "while processing 'path'" in getattr(info.value, "__notes__", [])
    with pytest.raises(TypeError):
        vz.Surface.load_cps3_grid(path)
    with pytest.raises(TypeError):
        vz.Surface.constant(geom(), 1.0).save_irap_classic(path)


def test_missing_file_and_folder(tmp_path):
    with pytest.raises(ValueError, match="^I/O error"):
        vz.Surface.load_irap_classic(str(tmp_path / "missing.irap"))
    with pytest.raises(ValueError, match="^I/O error"):
        vz.Surface.load_cps3_grid(str(tmp_path / "missing.cps3"))
    with pytest.raises(ValueError, match="^I/O error"):
        vz.Surface.constant(geom(), 1.0).save_irap_classic(str(tmp_path / "no" / "such" / "dir.irap"))
    with pytest.raises(ValueError):
        vz.Surface.load_irap_classic(str(tmp_path / "nul\0name"))


def test_not_an_irap_file(tmp_path):
    p = tmp_path / "bad.irap"
    p.write_text("-995 2 1 1\n")
    with pytest.raises(ValueError, match=r"^parse error: IRAP classic: expected id -996, got -995$"):
        vz.Surface.load_irap_classic(str(p))


def test_cps3_grid_computed_on_and_written_back(tmp_path):
    s = vz.Surface.load_cps3_grid(str(CPS3))
    assert s.history() == [f"surface.load_cps3_grid(path={CPS3})"]
    assert (s.ncol, s.nrow, s.name) == (4, 3, None)
    st = s.stats()
    assert st.count == 10
    deeper = s - 10.0
    assert deeper.stats().max == pytest.approx(st.max - 10.0)
    out = tmp_path / "brent.irap"
    deeper.save_irap_classic(str(out))
    back = vz.Surface.load_irap_classic(str(out))
    same_values(values_of(back), values_of(deeper))


@needs_shared
@pytest.mark.parametrize("name, ncol, nrow, rotation", [
    ("resdata_small_30x20_rotm65.irap", 30, 20, -65.0),
    ("resdata_valid_rotm65.irap", 49, 79, -65.0),
    ("resinsight_volantis_rot30.irap", 280, 440, 30.0),
])
def test_real_irap_classic_files(tmp_path, name, ncol, nrow, rotation):
    src = os.path.join(SHARED, "irap_grid", name)
    s = vz.Surface.load_irap_classic(src)
    assert (s.ncol, s.nrow, s.rotation_deg) == (ncol, nrow, rotation)
    assert s.history() == [f"surface.load_irap_classic(path={src})"]
    # Compute on it, then write the result and read it back unchanged.
    thick = (s + 100.0).thickness(s * 2.0)
    smooth = thick.smooth(2)
    out = tmp_path / name
    smooth.save_irap_classic(str(out))
    back = vz.Surface.load_irap_classic(str(out))
    same_values(values_of(back), values_of(smooth))
    assert back.bbox().xmin == pytest.approx(s.bbox().xmin)
    lines = s.iso_lines(interval=(s.stats().max - s.stats().min) / 5)
    assert lines and all(isinstance(level, float) for level, _ in lines)


@needs_shared
@pytest.mark.parametrize("name", ["resdata_BROKEN_too_few_values.irap"])
def test_broken_real_file_is_refused(name):
    with pytest.raises(ValueError, match="^parse error: IRAP classic"):
        vz.Surface.load_irap_classic(os.path.join(SHARED, "irap_grid", name))

