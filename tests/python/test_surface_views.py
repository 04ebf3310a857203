"""Surfaces handed out by a project: views that look their element up on
every call, stale views, detaching on set_attr, and display names."""

import gc

import pytest

import voridez as vz
from surface_grids import DATA_DIR, irap_text, same_values, values_of

NEEDED = ["load_surface", "surface", "rename_surface", "delete_surface", "replace_surface",
          "load_structured_surface"]
pytestmark = pytest.mark.skipif(
    not all(hasattr(vz.GeoData, m) for m in NEEDED), reason="GeoData surface methods not built yet"
)

NAN = float("nan")
EARTHVISION = """#Type: scattered data
#Field: 1 x
#Field: 2 y
#Field: 3 z
#Field: 4 column
#Field: 5 row
#End:
0 0 1 1 1
1 0 2 2 1
0 1 3 1 2
1 1 4 2 2
"""


@pytest.fixture
def files(tmp_path):
    a = tmp_path / "a.irap"
    a.write_text(irap_text([[1.0, 2.0], [3.0, 4.0]]))
    b = tmp_path / "b.irap"
    b.write_text(irap_text([[10.0, 20.0], [30.0, 40.0]]))
    ev = tmp_path / "s.ev"
    ev.write_text(EARTHVISION)
    return str(a), str(b), str(ev)


@pytest.fixture
def geo():
    return vz.GeoData()


RESOLVING = [
    lambda s: s.ncol,
    lambda s: s.nrow,
    lambda s: s.rotation_deg,
    lambda s: s.geometry,
    lambda s: s.edge,
    lambda s: repr(s),
    lambda s: s.history(),
    lambda s: s.stats(),
    lambda s: s.bbox(),
    lambda s: s.sample(0.0, 0.0),
    lambda s: s + 1,
    lambda s: 1 + s,
    lambda s: s.ln(),
    lambda s: s.smooth(),
    lambda s: s.iso_lines(interval=1.0),
    lambda s: s.attr_names(),
    lambda s: s.attr.names(),
    lambda s: s.primary_metadata,
    lambda s: s.value_layer(),
    lambda s: s._view_regular_grid(),
    lambda s: s.to_tri_surface(),
    lambda s: s.save_irap_classic("/nonexistent/never-written.irap"),
]


def test_stale_view_and_its_return(geo, files):
    a, _, _ = files
    view = geo.load_surface("top", a)
    assert view.name == "top"
    geo.rename_surface("top", "moved")
    for call in RESOLVING:
        with pytest.raises(ValueError) as info:
            call(view)
        assert str(info.value) == "no surface 'top'"
    assert view.name == "top" and view.kind == "surface"
    accessor = view.attr  # does not resolve
    with pytest.raises(ValueError, match="^no surface 'top'$"):
        accessor.names()
    geo.rename_surface("moved", "top")
    assert view.ncol == 2 and accessor.names() == []


def test_stored_name_with_a_group(geo, files):
    a, _, _ = files
    view = geo.load_surface("maps/ Top Dome ", a)
    assert view.name == "Top Dome"
    assert view.geometry.name == "Top Dome geometry"
    assert view.to_tri_surface().name == "Top Dome"
    assert view.to_structured_mesh().name == "Top Dome"
    assert view.to_tri_surface().shell.name == "Top Dome geometry"
    assert view.to_structured_mesh().shell.name == "Top Dome geometry"
    assert view.resample(view.geometry).name is None
    assert (view * 2).name is None
    geo.delete_surface("maps/ Top Dome ")
    with pytest.raises(ValueError) as info:
        view.ncol
    assert str(info.value) == "no surface 'maps/ Top Dome '"


def test_other_namespace_does_not_match(geo, files):
    a, _, ev = files
    view = geo.load_surface("s", a)
    geo.delete_surface("s")
    mesh = geo.load_structured_surface("s", ev)
    with pytest.raises(ValueError, match="^no surface 's'$"):
        view.ncol
    assert mesh.ncol == 2 and isinstance(mesh, vz.StructuredMeshSurface)


def test_replacement_is_seen_by_the_next_call(geo, files):
    a, b, _ = files
    view = geo.load_surface("top", a)
    geo.replace_surface("top", vz.Surface.load_irap_classic(b))
    same_values(values_of(view), [[10.0, 20.0], [30.0, 40.0]])


def test_results_of_a_view_are_owned(geo, files):
    a, _, _ = files
    view = geo.load_surface("top", a)
    doubled = view * 2
    thick = view.thickness(view)
    geo.delete_surface("top")
    same_values(values_of(doubled), [[2.0, 4.0], [6.0, 8.0]])
    assert thick.ncol == 2 and doubled.name is None
    with pytest.raises(ValueError, match="^no surface 'top'$"):
        view.ncol


def test_set_attr_detaches_and_leaves_the_project_unchanged(geo, files):
    a, b, _ = files
    view = geo.load_surface("top", a)
    view.set_attr("lane", view * 10)
    assert view.name == "top"
    assert view.attr_names() == ["lane"]
    assert geo.surface("top").attr_names() == []
    assert len(geo.surface("top").history()) == 1
    # The object keeps its own data from then on.
    geo.replace_surface("top", vz.Surface.load_irap_classic(b))
    same_values(values_of(view), [[1.0, 2.0], [3.0, 4.0]])
    geo.delete_surface("top")
    assert view.attr_names() == ["lane"]


def test_attribute_assignment_detaches_too(geo, files):
    a, _, _ = files
    view = geo.load_surface("top", a)
    view.depth = view + 1
    assert geo.surface("top").attr_names() == []


def test_set_attr_on_a_stale_view_stays_a_view(geo, files):
    a, b, _ = files
    view = geo.load_surface("top", a)
    other = vz.Surface.load_irap_classic(b)
    geo.rename_surface("top", "away")
    with pytest.raises(ValueError, match="^no surface 'top'$"):
        view.set_attr("lane", other)
    geo.rename_surface("away", "top")
    geo.replace_surface("top", other)
    same_values(values_of(view), [[10.0, 20.0], [30.0, 40.0]])  # still follows the project


def test_failed_metadata_leaves_the_view_detached(geo, files):
    a, b, _ = files
    view = geo.load_surface("top", a)
    with pytest.raises(ValueError, match="must match lane name"):
        view.set_attr("lane", view * 1, {"id": "other"})
    assert view.attr_names() == []
    geo.replace_surface("top", vz.Surface.load_irap_classic(b))
    same_values(values_of(view), [[1.0, 2.0], [3.0, 4.0]])  # no longer follows


def test_two_views_of_one_surface_combine(geo, files):
    a, _, _ = files
    first = geo.load_surface("top", a)
    second = geo.surface("top")
    first.set_attr("copy", second)
    assert first.attr_names() == ["copy"]
    assert geo.surface("top").attr_names() == []
    same_values(values_of(first.attr["copy"]), values_of(second))


def test_view_keeps_its_project_alive(files):
    a, _, _ = files
    geo = vz.GeoData()
    view = geo.load_surface("top", a)
    del geo
    gc.collect()
    assert view.ncol == 2 and view.attr.names() == []


def test_cps3_loaded_both_ways(geo):
    path = str(DATA_DIR / "cps3" / "top_brent.cps3grid")
    direct = vz.Surface.load_cps3_grid(path)
    stored = geo.load_surface("brent", path)
    same_values(values_of(direct), values_of(stored))
    assert direct.history() == stored.history() == [f"surface.load_cps3_grid(path={path})"]


def test_structured_views(geo, files):
    _, _, ev = files
    view = geo.load_structured_surface("grp/Base", ev)
    assert view.name == "Base" and view.shell.name == "Base geometry"
    assert view.infer_grid().name == "Base geometry"
    assert view.set_attr("x", view.values()).name == "Base"
    assert view.attr_names() == []  # set_attr on a structured surface returns a new object
    lines = view.iso_lines(levels=[2.5])
    geo.delete_surface("grp/Base")
    for call in (lambda s: s.ncol, lambda s: repr(s), lambda s: s.values(), lambda s: s.iso_lines(levels=[2.5]),
                 lambda s: s.value_layer(), lambda s: s.to_tri_surface()):
        with pytest.raises(ValueError) as info:
            call(view)
        assert str(info.value) == "no structured surface 'grp/Base'"
    assert view.kind == "structured_mesh" and view.name == "Base"
    assert lines and lines[0][0] == 2.5
    # Argument checks come before the lookup.
    with pytest.raises(TypeError):
        view.set_attr("x", [[1, 2], [3, 4]], metadata=[])
    with pytest.raises(TypeError):
        view.resample(vz.GridGeometry(0, 0, 1, 1, 2, 2), "spline")
    with pytest.raises(ValueError, match="^no structured surface 'grp/Base'$"):
        view.set_attr("x", [[1, 2, 3]], metadata={})
