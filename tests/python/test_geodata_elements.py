"""Handing out project elements: lookups by exact name, the display name a
view gets from its stored name, the grouping of `surfaces`, and views that go
stale when their element leaves the project."""

import inspect

import pytest

import voridez
from voridez import GeoData
from project_files import irap_grid, shared, wellpath


@pytest.fixture
def grid(tmp_path):
    return irap_grid(tmp_path / "g.irap", 3, 2, [1, 2, 3, 4, 5, 6])


@pytest.mark.parametrize(
    "stored, leaf",
    [
        ("maps/Top Brent ", "Top Brent"),
        ("base", "base"),
        ("maps/", ""),
        ("a/b/ c\u00a0", "c"),
        ("  spaced  ", "spaced"),
    ],
)
def test_views_are_named_by_the_leaf_and_found_by_the_full_name(grid, stored, leaf):
    geo = GeoData()
    loaded = geo.load_surface(stored, grid)
    assert loaded.name == leaf
    found = geo.surface(stored)
    assert isinstance(found, voridez.Surface) and found.name == leaf
    if leaf != stored:
        assert geo.surface(leaf) is None


@pytest.mark.parametrize("method", ["well", "surface", "points", "polygons"])
def test_lookups_match_exactly_and_return_none_for_a_miss(tmp_path, grid, method):
    geo = GeoData()
    geo.load_well("W-1", files=wellpath(tmp_path / "W-1.wellpath", 10, 20, 5, [(0, 0), (100, 100)]))
    geo.load_surface("Top", grid)
    stored = {"well": "W-1", "surface": "Top"}.get(method)
    if stored is None:
        stored = "pts"
        src = shared("points_xyz/xtgeo_pointset2.poi") if method == "points" else shared(
            "polygons_irap/xtgeo_polset2.pol"
        )
        getattr(geo, "load_" + method)(stored, src)
    lookup = getattr(geo, method)
    assert lookup(stored) is not None
    for miss in [stored.lower(), stored.upper(), " " + stored, stored + " ", "absent"]:
        if miss != stored:
            assert lookup(miss) is None


def test_well_handle_keeps_the_identifier_as_given(tmp_path):
    geo = GeoData()
    geo.load_well("15/9-A 1", files=wellpath(tmp_path / "s.wellpath", 1, 2, 3, [(0, 0), (10, 10)]))
    well = geo.well("15/9-A 1")
    assert isinstance(well, voridez.Well) and well.id == "15/9-A 1"


def test_surfaces_are_grouped_by_kind_in_insertion_order(grid):
    ev = shared("earthvision/resinsight_small_flipped_clipped.ptl")
    geo = GeoData()
    geo.load_surface("c", grid)
    geo.load_structured_surface("b", ev)
    geo.load_surface("a", grid)
    geo.load_structured_surface("d", ev)
    listed = geo.surfaces()
    assert [(s.kind, s.name) for s in listed] == [
        ("surface", "c"),
        ("surface", "a"),
        ("structured_mesh", "b"),
        ("structured_mesh", "d"),
    ]
    assert [type(s).__name__ for s in listed] == ["Surface"] * 2 + ["StructuredMeshSurface"] * 2


def triangulated(geo, name, path):
    """Stores a triangulated surface under `name`: a regular grid written
    back as its own triangulation (a replacement may change the kind)."""
    geo.load_surface(name, path)
    geo.replace_surface(name, geo.surface(name).to_tri_surface())


def test_surfaces_list_regular_then_structured_then_triangulated(tmp_path, grid):
    ev = shared("earthvision/resinsight_small_flipped_clipped.ptl")
    geo = GeoData()
    triangulated(geo, "t", grid)
    geo.load_surface("c", grid)
    geo.load_structured_surface("b", ev)
    geo.load_surface("a", grid)
    listed = geo.surfaces()
    assert [(type(s).__name__, s.name) for s in listed] == [
        ("Surface", "c"),
        ("Surface", "a"),
        ("StructuredMeshSurface", "b"),
        ("TriSurface", "t"),
    ]
    # The project's own order (kept for saving) is the load order.
    geo.save(str(tmp_path / "p.zedod"))
    assert [n for _, n in GeoData.inspect(str(tmp_path / "p.zedod"))["elements"]] == ["t", "c", "b", "a"]


def test_a_triangulated_surface_leaves_as_a_detached_copy(tmp_path, grid):
    geo = GeoData()
    triangulated(geo, "maps/t ", grid)
    copy = geo.surface("maps/t ")
    assert isinstance(copy, voridez.TriSurface) and copy.name == "t"
    values = copy.values()
    # Changing the stored surface, then removing it, leaves the copy as it was.
    other = GeoData()
    triangulated(other, "x", irap_grid(tmp_path / "o.irap", 3, 2, [9, 8, 7, 6, 5, 4]))
    geo.replace_surface("maps/t ", other.surface("x"))
    assert geo.surface("maps/t ").values() == [9.0, 8.0, 7.0, 6.0, 5.0, 4.0]
    assert geo.delete_surface("maps/t ")
    assert copy.values() == values == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]
    # A copy, or one derived from it, goes back into a project only by
    # replacement.
    geo.load_surface("r", grid)
    geo.replace_surface("r", copy.set_attr("extra", [0.0] * 6))
    assert geo.surface("r").attr_names() == ["extra"] and copy.attr_names() == []
    assert [(s.kind, s.name) for s in geo.surfaces()] == [("tri_surface", "r")]


def test_an_empty_project_lists_nothing():
    geo = GeoData()
    assert geo.surfaces() == []
    assert isinstance(geo.wells, voridez.WellsView)
    assert len(geo.wells) == 0 and geo.wells.is_empty()


def test_wells_lists_the_identifiers_in_project_order(tmp_path):
    survey = wellpath(tmp_path / "s.wellpath", 1, 2, 3, [(0, 0), (10, 10)])
    geo = GeoData()
    for well_id in ["A", "C", "B "]:
        geo.load_well(well_id, files=survey)
    view = geo.wells
    assert [w.id for w in view.iter()] == ["A", "C", "B "]
    geo.rename_well("A", "Z")
    assert [w.id for w in geo.wells.iter()] == ["C", "B ", "Z"]
    # A view made earlier keeps the identifiers it copied.
    assert len(view) == 3 and [w.id for w in view.iter()] == ["A", "C", "B "]


def test_a_view_of_a_deleted_surface_is_stale_on_next_use(grid):
    geo = GeoData()
    view = geo.load_surface("a", grid)
    assert geo.delete_surface("a")
    geo.load_surface("b", grid)
    # The only use a bare view has yet: as a value to write back.
    with pytest.raises(ValueError, match=r"^no surface 'a'$"):
        geo.replace_surface("b", view)


@pytest.mark.parametrize(
    "loader, rel, delete, rename, message",
    [
        ("load_points", "points_xyz/xtgeo_pointset2.poi", "delete_points", "rename_points", "no point set 'set/a'"),
        ("load_polygons", "polygons_irap/xtgeo_polset2.pol", "delete_polygons", "rename_polygons", "no polygon set 'set/a'"),
    ],
)
def test_point_and_polygon_views_go_stale_and_see_their_replacement(loader, rel, delete, rename, message):
    geo = GeoData()
    view = getattr(geo, loader)("set/a", shared(rel))
    assert view.bbox() is not None
    getattr(geo, rename)("set/a", "set/b")
    with pytest.raises(ValueError) as info:
        view.history()
    assert str(info.value) == message
    # A new element under the old name is what the old view sees next.
    getattr(geo, loader)("set/a", shared(rel))
    assert view.history() == getattr(geo, loader.replace("load_", ""))("set/b").history()
    getattr(geo, delete)("set/a")
    with pytest.raises(ValueError, match=f"^{message}$"):
        view.bbox()


@pytest.mark.parametrize(
    "method, param",
    [("well", "id"), ("surface", "name"), ("points", "name"), ("polygons", "name")],
)
@pytest.mark.parametrize("bad", [3, None, b"x"])
def test_a_name_of_another_type_is_refused_naming_the_parameter(method, param, bad):
    with pytest.raises(TypeError) as info:
        getattr(GeoData(), method)(bad)
    assert f"while processing '{param}'" in info.value.__notes__


@pytest.mark.parametrize(
    "method, signature, text",
    [
        ("well", "($self, id)", "The well stored under `id` (view), or `None`."),
        ("surface", "($self, name)", "The surface stored under `name` (view), or `None`."),
        ("points", "($self, name)", "The point set stored under `name` (view), or `None`."),
        ("polygons", "($self, name)", "The polygon set stored under `name` (view), or `None`."),
        ("surfaces", "($self)", "All surfaces in insertion order, as cheap views (no grid copy)."),
    ],
)
def test_signatures_and_help(method, signature, text):
    fn = getattr(GeoData, method)
    assert fn.__text_signature__ == signature
    assert inspect.getdoc(fn) == text


def test_lookups_take_the_name_by_keyword_too(grid):
    geo = GeoData()
    geo.load_surface("s", grid)
    assert geo.surface(name="s").name == "s"
    assert geo.well(id="nope") is None
    with pytest.raises(TypeError):
        geo.surfaces(1)
    assert GeoData.wells.__doc__ == "A broadcastable, filterable view over all wells (insertion order)."
