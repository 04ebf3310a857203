"""Renames, deletions, surface replacement and element tags: the order
elements keep, the messages of refused changes, tags that follow their
element, and a replacement that resolves its value before it takes the
project."""

import inspect

import pytest

from voridez import GeoData
from project_files import irap_grid, read_container, shared, wellpath


@pytest.fixture
def files(tmp_path):
    return {
        "grid": irap_grid(tmp_path / "g.irap", 3, 2, [1, 2, 3, 4, 5, 6]),
        "grid2": irap_grid(tmp_path / "g2.irap", 3, 2, [6, 5, 4, 3, 2, 1]),
        "wider": irap_grid(tmp_path / "w.irap", 3, 2, [1, 2, 3, 4, 5, 6], xinc=30.0),
        "ev": shared("earthvision/resinsight_small_flipped_clipped.ptl"),
        "pts": shared("points_xyz/xtgeo_pointset2.poi"),
        "pol": shared("polygons_irap/xtgeo_polset2.pol"),
        "survey": wellpath(tmp_path / "s.wellpath", 10, 20, 5, [(0, 0), (100, 100)]),
    }


def project(files, tmp_path):
    geo = GeoData()
    for w in ["A", "B", "C"]:
        geo.load_well(w, files=files["survey"])
    for n in ["1", "2"]:
        geo.load_points("p" + n, files["pts"])
        geo.load_polygons("q" + n, files["pol"])
    geo.load_surface("a", files["grid"])
    geo.load_structured_surface("m", files["ev"])
    geo.load_surface("c", files["grid"])
    return geo


def saved_elements(geo, tmp_path, name="x.zedod"):
    path = str(tmp_path / name)
    geo.save(path)
    return GeoData.inspect(path)["elements"]


def test_a_renamed_well_moves_to_the_end_and_answers_to_its_new_name(files, tmp_path):
    geo = project(files, tmp_path)
    old = geo.well("A")
    geo.rename_well("A", "Z")
    assert geo.well("A") is None and geo.well("Z").id == "Z"
    with pytest.raises(ValueError, match=r"^no well 'A'$"):
        old.kb
    wells = [name for kind, name in saved_elements(geo, tmp_path) if kind == "well"]
    assert wells == ["B", "C", "Z"]


@pytest.mark.parametrize(
    "method, kind_word, old, taken",
    [
        ("rename_well", "well", "A", "B"),
        ("rename_points", "point set", "p1", "p2"),
        ("rename_polygons", "polygon set", "q1", "q2"),
        ("rename_surface", None, "a", "c"),
    ],
)
def test_renames_refuse_taken_and_missing_names(files, tmp_path, method, kind_word, old, taken):
    geo = project(files, tmp_path)
    before = saved_elements(geo, tmp_path, "before.zedod")
    rename = getattr(geo, method)
    with pytest.raises(ValueError) as info:
        rename(old, taken)
    prefix = f"rename_{kind_word}" if kind_word else "rename_surface"
    assert str(info.value) == f"parse error: {prefix}: destination '{taken}' already exists"
    with pytest.raises(ValueError) as info:
        rename("ghost", "new")
    assert str(info.value) == f"not found: {kind_word or 'surface'} 'ghost'"
    # The same name twice is no change at all, even for a name not stored.
    rename(old, old)
    rename("ghost", "ghost")
    assert saved_elements(geo, tmp_path, "after.zedod") == before


def test_point_set_destination_message_keeps_the_space_of_its_kind_word(files, tmp_path):
    geo = project(files, tmp_path)
    with pytest.raises(ValueError) as info:
        geo.rename_points("p1", "p2")
    assert str(info.value).startswith("parse error: rename_point set: destination '")


def test_surface_names_are_compared_across_the_three_kinds(files, tmp_path):
    geo = project(files, tmp_path)
    geo.load_surface("t", files["grid"])
    geo.replace_surface("t", geo.surface("t").to_tri_surface())
    for old, new in [("a", "m"), ("a", "t"), ("t", "c"), ("m", "t")]:
        with pytest.raises(ValueError) as info:
            geo.rename_surface(old, new)
        assert str(info.value) == f"parse error: rename_surface: destination '{new}' already exists"
    geo.rename_surface("t", "u")
    assert [(s.kind, s.name) for s in geo.surfaces()][-1] == ("tri_surface", "u")


def test_a_renamed_surface_keeps_its_save_position_but_moves_in_its_listing(files, tmp_path):
    geo = project(files, tmp_path)
    geo.rename_surface("a", "b")
    assert [s.name for s in geo.surfaces()] == ["c", "b", "m"]
    surfaces = [name for kind, name in saved_elements(geo, tmp_path) if kind in ("surface", "structured_mesh")]
    assert surfaces == ["b", "m", "c"]


@pytest.mark.parametrize(
    "method, name, lookup",
    [
        ("delete_well", "B", "well"),
        ("delete_points", "p1", "points"),
        ("delete_polygons", "q1", "polygons"),
        ("delete_surface", "m", "surface"),
        ("delete_surface", "a", "surface"),
    ],
)
def test_deletions_report_whether_anything_went(files, tmp_path, method, name, lookup):
    geo = project(files, tmp_path)
    before = saved_elements(geo, tmp_path, "before.zedod")
    delete = getattr(geo, method)
    assert delete(name) is True
    assert getattr(geo, lookup)(name) is None
    assert delete(name) is False
    assert delete("never") is False
    after = saved_elements(geo, tmp_path, "after.zedod")
    kind = {"well": "well", "points": "points", "polygons": "polygons"}.get(lookup)
    removed = [e for e in before if e[1] == name and (kind is None or e[0] == kind)][0]
    assert after == [e for e in before if e != removed]


def test_deleting_a_point_set_leaves_its_polygon_namesake(files):
    geo = GeoData()
    geo.load_points("p", files["pts"])
    geo.load_polygons("p", files["pol"])
    assert geo.delete_points("p")
    assert geo.polygons("p") is not None


def test_tags_follow_renames_and_leave_with_deletions(files, tmp_path):
    geo = project(files, tmp_path)
    geo.set_element_tags("A", ["north", "north"])
    geo.set_element_tags("x", ["orphan"])
    geo.set_element_tags("c", [])
    geo.rename_well("A", "W")
    geo.rename_well("B", "x")  # an untagged well keeps the tags already stored under "x"
    path = str(tmp_path / "t.zedod")
    geo.save(path)
    _, manifest, _ = read_container(path)
    tags = {(e["kind"], e["name"]): e.get("tags", []) for e in manifest["sections"]}
    assert tags[("well", "W")] == ["north", "north"]
    assert tags[("well", "x")] == ["orphan"]
    assert tags[("surface", "c")] == []

    geo.set_element_tags("C", ["south"])
    with pytest.raises(ValueError):
        geo.rename_well("C", "x")  # "x" is a well now
    geo.delete_well("x")
    geo.rename_well("C", "x")  # a tagged well brings its own tags
    geo.save(path)
    _, manifest, _ = read_container(path)
    tags = {(e["kind"], e["name"]): e.get("tags", []) for e in manifest["sections"]}
    assert tags[("well", "x")] == ["south"]
    assert GeoData.open(path).well("x") is not None


def test_tags_given_for_a_name_are_selected_by_export(files, tmp_path):
    geo = project(files, tmp_path)
    geo.set_element_tags("a", ("keep",))
    geo.set_element_tags("p2", ["keep", "other"])
    geo.set_element_tags("q2", ["other"])
    src = str(tmp_path / "src.zedod")
    dst = str(tmp_path / "dst.zedod")
    geo.save(src)
    GeoData.export(src, dst, ["keep"])
    assert GeoData.inspect(dst)["elements"] == [("surface", "a"), ("points", "p2")]
    GeoData.export(src, dst, ("other", "nothing"))
    assert GeoData.inspect(dst)["elements"] == [("points", "p2"), ("polygons", "q2")]


def test_replacing_a_surface_with_a_view_of_its_own_project(files, tmp_path):
    geo = GeoData()
    geo.load_surface("top", files["grid"])
    geo.load_surface("base", files["grid2"])
    geo.load_surface("last", files["grid"])
    geo.replace_surface("top", geo.surface("base"))
    # "top" now holds what "base" holds, moved behind the other regular
    # surfaces in the listing and kept at its save position.
    assert [s.name for s in geo.surfaces()] == ["base", "last", "top"]
    path = str(tmp_path / "r.zedod")
    geo.save(path)
    _, manifest, payloads = read_container(path)
    assert [e["name"] for e in manifest["sections"]] == ["top", "base", "last"]
    assert payloads[("surface", "top")] == payloads[("surface", "base")]
    assert geo.surface("top").to_tri_surface().values() == [6.0, 5.0, 4.0, 3.0, 2.0, 1.0]
    # A view of the very name it replaces leaves the values as they were and
    # moves the name behind the other surfaces of its kind.
    geo.replace_surface("base", geo.surface("base"))
    assert [s.name for s in geo.surfaces()] == ["last", "top", "base"]
    geo.save(path)
    assert read_container(path)[2][("surface", "base")] == payloads[("surface", "base")]


def test_a_view_from_another_project_is_resolved_in_its_own_project(files, tmp_path):
    mine, other = GeoData(), GeoData()
    mine.load_surface("s", files["grid"])
    other.load_surface("t", files["grid2"])
    mine.replace_surface("s", other.surface("t"))
    a, b = str(tmp_path / "a.zedod"), str(tmp_path / "b.zedod")
    mine.save(a)
    other.save(b)
    assert read_container(a)[2][("surface", "s")] == read_container(b)[2][("surface", "t")]


def test_a_structured_surface_replaces_a_structured_one_of_equal_shell(files, tmp_path):
    geo = GeoData()
    geo.load_structured_surface("m", files["ev"])
    geo.load_structured_surface("n", files["ev"])
    geo.replace_surface("m", geo.surface("n"))
    assert [s.name for s in geo.surfaces()] == ["n", "m"]


def test_a_replacement_may_change_the_kind_but_not_the_geometry(files, tmp_path):
    geo = GeoData()
    geo.load_surface("a", files["grid"])
    geo.load_surface("b", files["grid2"])
    tri = geo.surface("b").to_tri_surface()
    geo.replace_surface("a", tri)
    stored = geo.surface("a")
    assert type(stored).__name__ == "TriSurface" and stored.values() == tri.values()
    # Back to a regular surface of the same lattice.
    geo.replace_surface("a", geo.surface("b"))
    assert [(s.kind, s.name) for s in geo.surfaces()] == [("surface", "b"), ("surface", "a")]
    # A triangulation of another lattice does not fit.
    other = GeoData()
    other.load_surface("w", files["wider"])
    with pytest.raises(ValueError, match=r"^geometry mismatch: replace_surface\('a'\)"):
        geo.replace_surface("a", other.surface("w").to_tri_surface())
    assert saved_elements(geo, tmp_path) == [("surface", "a"), ("surface", "b")]


@pytest.mark.parametrize(
    "value, error, message",
    [
        (3.0, TypeError, "replace_surface value must be Surface, StructuredMeshSurface, or TriSurface"),
        ("a", TypeError, "replace_surface value must be Surface, StructuredMeshSurface, or TriSurface"),
        (None, TypeError, "replace_surface value must be Surface, StructuredMeshSurface, or TriSurface"),
    ],
)
def test_replacement_values_of_another_class_are_refused(files, value, error, message):
    geo = GeoData()
    geo.load_surface("a", files["grid"])
    with pytest.raises(error) as info:
        geo.replace_surface("a", value)
    assert str(info.value) == message


def test_replacement_geometry_must_match(files, tmp_path):
    geo = GeoData()
    geo.load_surface("a", files["grid"])
    geo.load_surface("w", files["wider"])
    geo.load_structured_surface("m", files["ev"])
    before = saved_elements(geo, tmp_path, "before.zedod")
    for name, value in [("a", geo.surface("w")), ("a", geo.surface("m")), ("m", geo.surface("a"))]:
        with pytest.raises(ValueError) as info:
            geo.replace_surface(name, value)
        assert str(info.value) == (
            f"geometry mismatch: replace_surface('{name}'): replacement geometry/topology differs from the stored surface"
        )
    with pytest.raises(ValueError) as info:
        geo.replace_surface("nothing", geo.surface("a"))
    assert str(info.value) == "not found: surface 'nothing'"
    assert saved_elements(geo, tmp_path, "after.zedod") == before


def test_a_stale_view_fails_before_the_project_is_touched(files):
    geo = GeoData()
    geo.load_surface("a", files["grid"])
    geo.load_structured_surface("m", files["ev"])
    a, m = geo.surface("a"), geo.surface("m")
    geo.delete_surface("a")
    geo.delete_surface("m")
    geo.load_surface("b", files["grid"])
    with pytest.raises(ValueError, match=r"^no surface 'a'$"):
        geo.replace_surface("b", a)
    with pytest.raises(ValueError, match=r"^no structured surface 'm'$"):
        geo.replace_surface("b", m)


@pytest.mark.parametrize(
    "method, args, bad",
    [
        ("rename_well", (1, "b"), "old"),
        ("rename_surface", ("a", None), "new"),
        ("delete_well", (b"a",), "id"),
        ("delete_polygons", (2,), "name"),
        ("replace_surface", (3, None), "name"),
        ("set_element_tags", ("a", "tag"), "tags"),
        ("set_element_tags", ("a", ["ok", 3]), "tags"),
    ],
)
def test_arguments_of_another_type(method, args, bad):
    with pytest.raises(TypeError) as info:
        getattr(GeoData(), method)(*args)
    assert f"while processing '{bad}'" in info.value.__notes__


def test_a_plain_string_of_tags_is_refused_with_the_sequence_message():
    with pytest.raises(TypeError) as info:
        GeoData().set_element_tags("a", "tag")
    assert str(info.value) == "Can't extract `str` to `Vec`"


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        ("rename_well", "($self, old, new)", "Rename a stored well."),
        ("rename_points", "($self, old, new)", "Rename a stored point set."),
        ("rename_surface", "($self, old, new)", "Rename a stored surface."),
        ("rename_polygons", "($self, old, new)", "Rename a stored polygon set."),
        ("delete_well", "($self, id)", "Delete a stored well. Returns whether anything was removed."),
        ("delete_points", "($self, name)", "Delete a stored point set. Returns whether anything was removed."),
        ("delete_surface", "($self, name)", "Delete a stored surface. Returns whether anything was removed."),
        ("delete_polygons", "($self, name)", "Delete a stored polygon set. Returns whether anything was removed."),
        (
            "replace_surface",
            "($self, name, value)",
            "Deliberately write a detached regular/structured/triangulated surface\n"
            "back under an existing project name. Geometry/topology must be unchanged.",
        ),
        (
            "set_element_tags",
            "($self, name, tags)",
            "Tag a single element (by name) so `export(tags=...)` can select it.",
        ),
    ],
)
def test_signatures_and_help(method, signature, doc):
    fn = getattr(GeoData, method)
    assert fn.__text_signature__ == signature
    assert inspect.getdoc(fn) == doc
