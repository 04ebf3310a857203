"""The GeoData object: construction, the project-level properties and the
two plain mutators."""

import pytest

import voridez
from voridez import GeoData


@pytest.mark.parametrize(
    "given, unit",
    [((), "m"), (("m",), "m"), (("FEET",), "ft"), (("Metres",), "m"), (("meter",), "m"), (("foot",), "ft")],
)
def test_unit_spellings(given, unit):
    assert GeoData(*given).unit == unit
    if given:
        assert GeoData(unit=given[0]).unit == unit


@pytest.mark.parametrize(
    "text, message",
    [
        (" m", "unit must be a non-empty, trimmed string"),
        ("", "unit must be a non-empty, trimmed string"),
        ("m\t", "unit must be a non-empty, trimmed string"),
        ("Yards", "unknown unit 'yards' (expected 'ft' or 'm')"),
    ],
)
def test_unit_refusals(text, message):
    with pytest.raises(ValueError) as info:
        GeoData(text)
    assert str(info.value) == message


@pytest.mark.parametrize("bad", [3, None, b"m"])
def test_unit_of_another_type_names_the_argument(bad):
    with pytest.raises(TypeError) as info:
        GeoData(bad)
    assert "while processing 'unit'" in getattr(info.value, "__notes__", [])


def test_argument_errors_read_like_the_interpreter():
    with pytest.raises(TypeError, match=r"GeoData.__new__\(\) got an unexpected keyword argument 'units'"):
        GeoData(units="m")
    with pytest.raises(TypeError, match=r"takes from 0 to 1 positional arguments but 2 were given"):
        GeoData("m", "ft")


def test_new_project_is_empty():
    g = GeoData()
    assert (g.owner, g.display_name, g.crs, g.tags, g.strat_order) == (None, None, None, [], [])


def test_display_name_and_crs_setters():
    g = GeoData()
    g.display_name = "North Field"
    g.crs = "EPSG:23031"
    assert (g.display_name, g.crs) == ("North Field", "EPSG:23031")
    for field, label in [("display_name", "display name"), ("crs", "CRS")]:
        for bad in ["", "trailing ", "\tleading", "\u00a0nbsp"]:
            with pytest.raises(ValueError) as info:
                setattr(g, field, bad)
            assert str(info.value) == f"parse error: project {label} must be null or a non-empty, trimmed string"
        with pytest.raises(TypeError) as info:
            setattr(g, field, 5)
        assert "while processing 'value'" in info.value.__notes__
    # Failed sets kept the old values; None clears.
    assert (g.display_name, g.crs) == ("North Field", "EPSG:23031")
    g.display_name = None
    g.crs = None
    assert (g.display_name, g.crs) == (None, None)


def test_owner_is_stored_unchecked_and_never_cleared_by_set_owner():
    g = GeoData()
    g.set_owner("")
    assert g.owner == ""
    g.set_owner(owner="  Ann  ")
    assert g.owner == "  Ann  "
    with pytest.raises(TypeError):
        g.set_owner(None)
    assert g.owner == "  Ann  "


def test_tags_keep_order_and_duplicates_and_are_copied_out():
    g = GeoData()
    g.set_tags(["b", "a", "b", ""])
    tags = g.tags
    assert tags == ["b", "a", "b", ""]
    tags.append("x")
    assert g.tags == ["b", "a", "b", ""]
    g.set_tags(("t",))
    assert g.tags == ["t"]


@pytest.mark.parametrize("bad, text", [("ab", "Can't extract `str` to `Vec`"), (["a", 1], None), (5, None)])
def test_set_tags_refusals_keep_the_old_tags(bad, text):
    g = GeoData()
    g.set_tags(["keep"])
    with pytest.raises(TypeError) as info:
        g.set_tags(bad)
    if text:
        assert str(info.value) == text
    assert "while processing 'tags'" in info.value.__notes__
    assert g.tags == ["keep"]


def test_class_properties():
    assert GeoData.__module__ == "builtins"
    assert GeoData.__text_signature__ == '(unit="m")'
    assert GeoData.__doc__ == "A load-once subsurface project under one declared length unit."
    with pytest.raises(TypeError):
        type("Sub", (GeoData,), {})
    with pytest.raises(AttributeError):
        GeoData().anything = 1
    g = GeoData()
    with pytest.raises(AttributeError):
        del g.display_name


def test_every_project_is_its_own():
    a, b = GeoData(), GeoData()
    a.set_tags(["a"])
    assert b.tags == []
    assert voridez.GeoData is GeoData
