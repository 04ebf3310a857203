"""Attribute lanes of a Surface: the accessor, set_attr and attribute
assignment, and the metadata dictionaries in both directions."""

import collections

import pytest

import voridez as vz
from surface_grids import make_grid, same_values, values_of  # noqa: F401

NAN = float("nan")


@pytest.fixture
def s(make_grid):
    return make_grid([[1.0, 2.0], [3.0, 4.0]])


def default_metadata(name):
    return {"id": name, "label": name, "kind": "continuous", "units": None, "codes": None}


def test_accessor_without_the_lane(s):
    acc = s.attr
    assert isinstance(acc, vz.AttrAccessor)
    assert "x" not in acc
    for get in (lambda: acc["x"], lambda: acc("x"), lambda: acc(name="x")):
        with pytest.raises(KeyError) as info:
            get()
        assert info.value.args == ("no attribute layer 'x'",)
    for bad in (5, None, b"x"):
        with pytest.raises(TypeError) as info:
            bad in acc  # noqa: B015
        assert info.value.__notes__ == ["while processing 'name'"]
        with pytest.raises(TypeError):
            acc[bad]


def test_accessor_sees_lanes_set_later(s):
    acc = s.attr
    assert acc.names() == []
    s.set_attr("seismic", s * 2.0)
    assert acc.names() == ["seismic"] == s.attr_names()
    assert "seismic" in acc
    promoted = acc["seismic"]
    same_values(values_of(promoted), [[2.0, 4.0], [6.0, 8.0]])
    assert promoted.attr_names() == []
    assert promoted.primary_metadata == default_metadata("seismic") == s.attr_metadata("seismic")
    assert promoted.history()[-2:] == ["surface.set_attr(name=seismic)", "surface.as_attr_surface(name=seismic)"]
    assert promoted.name is None
    same_values(values_of(acc("seismic")), values_of(promoted))


def test_accessor_keeps_its_surface_alive(make_grid):
    s = make_grid([[1.0]])
    s.lane = s + 1
    acc = s.attr
    del s
    assert acc.names() == ["lane"]


def test_set_attr_order_and_history(s):
    assert s.set_attr("a", s + 1) is None
    s.set_attr("b", s + 2)
    s.set_attr("a", s + 3)  # replaced in place
    assert s.attr_names() == ["a", "b"]
    same_values(values_of(s.attr["a"]), [[4.0, 5.0], [6.0, 7.0]])
    assert s.history()[1:] == ["surface.set_attr(name=a)", "surface.set_attr(name=b)", "surface.set_attr(name=a)"]
    same_values(values_of(s), [[1.0, 2.0], [3.0, 4.0]])  # the primary values stay


def test_value_lanes_and_history_play_no_part(make_grid, s):
    v = make_grid([[9.0, 9.0], [9.0, 9.0]])
    v.inner = v * 0
    s.set_attr("x", v)
    assert s.attr_names() == ["x"]
    assert len(s.history()) == 2


def test_set_attr_with_itself(s):
    with pytest.raises(RuntimeError) as info:
        s.set_attr("me", s)
    assert str(info.value) == "Already mutably borrowed"
    assert s.attr_names() == [] and len(s.history()) == 1


@pytest.mark.parametrize("value", ["self", 1.5, None, "text"])
def test_assignment_needs_another_surface(s, value):
    with pytest.raises(TypeError) as info:
        s.lane = s if value == "self" else value
    assert str(info.value) == "Surface attribute 'lane' must be assigned another Surface"
    assert s.attr_names() == []


def test_assignment_sets_a_lane_of_that_name(s):
    s.foo = s * 2
    s.name = s * 3  # even the names of getters become lanes
    assert s.name is None
    assert s.attr_names() == ["foo", "name"]
    with pytest.raises(AttributeError):
        s.foo  # noqa: B018
    same_values(values_of(s.attr["foo"]), [[2.0, 4.0], [6.0, 8.0]])
    for attr in ("foo", "name", "nothing"):
        with pytest.raises(AttributeError) as info:
            delattr(s, attr)
        assert str(info.value) == "can't delete attribute"


@pytest.mark.parametrize(
    "change, accepted",
    [
        (dict(rotation=-0.0), True),
        (dict(xori=1e-300), False),
        (dict(yflip=True), False),
        (dict(yinc=2.0), False),
    ],
)
def test_geometry_matching(make_grid, s, change, accepted):
    other = make_grid([[1.0, 2.0], [3.0, 4.0]], **change)
    if accepted:
        s.set_attr("x", other)
        assert s.attr_names() == ["x"]
        return
    with pytest.raises(ValueError) as info:
        s.set_attr("x", other)
    assert str(info.value) == (
        "geometry mismatch: Surface::set_attr('x'): attribute surface must match origin, increments, node counts, "
        "rotation, and yflip")
    assert s.attr_names() == []


def test_nan_origin_never_matches():
    g = vz.GridGeometry(NAN, 0.0, 1.0, 1.0, 2, 2)
    s = vz.Surface.constant(g, 1.0)
    with pytest.raises(ValueError, match="attribute surface must match"):
        s.set_attr("x", vz.Surface.constant(g, 2.0))
    with pytest.raises(ValueError, match="attribute surface must match"):
        s.set_attr("x", s * 1)


@pytest.mark.parametrize(
    "kwargs, argument",
    [
        (dict(name=5, values="v"), "name"),
        (dict(name="x", values=1.0), "values"),
        (dict(name="x", values="v", metadata=[]), "metadata"),
        (dict(name="x", values="v", metadata="id=x"), "metadata"),
    ],
)
def test_set_attr_argument_types(s, kwargs, argument):
    if kwargs["values"] == "v":
        kwargs["values"] = s * 1
    with pytest.raises(TypeError) as info:
        s.set_attr(**kwargs)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


@pytest.mark.parametrize("name", ["", " x", "x "])
def test_untrimmed_lane_names(s, name):
    with pytest.raises(ValueError) as info:
        s.set_attr(name, s * 1)
    assert str(info.value) == "parse error: attribute metadata id and label must be non-empty, trimmed strings"


def test_metadata_defaults_and_round_trip(s):
    s.set_attr("a", s * 1, {})
    assert s.attr_metadata("a") == default_metadata("a")
    assert s.history()[-1] == "surface.set_attr_with_metadata(name=a)"
    md = {"id": "facies", "label": "Facies code", "kind": "categorical", "units": "code",
          "codes": {"1": {"label": "sand", "color": "#ffcc00"}, "-5": {"label": None, "color": None}, "0": {}}}
    s.set_attr("facies", s * 1, md)
    got = s.attr_metadata(name="facies")
    assert list(got) == ["id", "label", "kind", "units", "codes"]
    assert got == {"id": "facies", "label": "Facies code", "kind": "categorical", "units": "code",
                   "codes": {"1": {"label": "sand", "color": "#FFCC00"}, "-5": {"label": None, "color": None},
                             "0": {"label": None, "color": None}}}
    assert list(got["codes"]) == ["1", "-5", "0"]
    s.set_attr("empty", s * 1, {"kind": "categorical", "codes": {}})
    assert s.attr_metadata("empty")["codes"] == {}
    s.set_attr("ordered", s * 1, collections.OrderedDict(label="L"))
    assert s.attr_metadata("ordered")["label"] == "L"
    s.set_attr("none", s * 1, None)
    assert s.history()[-1] == "surface.set_attr(name=none)"


def test_attr_metadata_missing_lane(s):
    with pytest.raises(KeyError) as info:
        s.attr_metadata("nope")
    assert info.value.args == ("no attribute layer 'nope'",)
    with pytest.raises(TypeError):
        s.attr_metadata(3)
    assert s.primary_metadata is None


def test_metadata_dict_is_a_copy(s):
    s.set_attr("a", s * 1, {"kind": "categorical", "codes": {"1": {"label": "x"}}})
    got = s.attr_metadata("a")
    got["codes"]["1"]["label"] = "changed"
    assert s.attr_metadata("a")["codes"]["1"]["label"] == "x"


TE, VE = TypeError, ValueError
METADATA_ERRORS = [
    # key checks come first, in the dict's own order
    ({1: "x"}, TE, "attribute metadata keys must be strings"),
    ({"extra": 1, 1: 2}, TE, "unknown attribute metadata key 'extra'"),
    ({1: 2, "extra": 1}, TE, "attribute metadata keys must be strings"),
    ({"id": 5, "extra": 1}, TE, "unknown attribute metadata key 'extra'"),
    # then the fields in the order id, label, kind, units, codes
    ({"id": 5, "kind": "bad"}, TE, "attribute metadata id must be a string or None"),
    ({"label": 5}, TE, "attribute metadata label must be a string or None"),
    ({"kind": 5}, TE, "attribute metadata kind must be a string or None"),
    ({"kind": "Categorical", "units": 5}, TE,
     "attribute metadata kind must be 'continuous' or 'categorical', got 'Categorical'"),
    ({"units": 5, "codes": 5}, TE, "attribute metadata units must be a string or None"),
    ({"codes": [1]}, TE, "attribute metadata codes must be a dict or None"),
    ({"codes": {1: {}}}, TE, "attribute metadata code keys must be strings"),
    ({"codes": {"1": []}}, TE, "attribute metadata code records must be dicts"),
    ({"codes": {"1": {5: "x"}}}, TE, "attribute code record keys must be strings"),
    ({"codes": {"1": {"shade": "x"}}}, TE, "unknown attribute code record key 'shade'"),
    ({"codes": {"1": {"label": 5}}}, TE, "attribute metadata label must be a string or None"),
    ({"codes": {"1": {"color": 5}}}, TE, "attribute metadata color must be a string or None"),
    ({"codes": {"1": {"label": " sand", "color": "bad"}}}, VE,
     "parse error: attribute code label must be null or a non-empty, trimmed string"),
    ({"codes": {"1": {"color": "#12345g"}}}, VE, "parse error: attribute code color '#12345G' must be #RRGGBB or null"),
    # then the rules of the whole
    ({"id": "other"}, VE, "parse error: attribute metadata id 'other' must match lane name 'lane'"),
    ({"label": ""}, VE, "parse error: attribute metadata id and label must be non-empty, trimmed strings"),
    ({"units": " m"}, VE, "parse error: attribute metadata units must be null or a non-empty, trimmed string"),
    ({"codes": {}}, VE, "parse error: continuous attribute metadata must use codes=null"),
    ({"kind": "categorical", "codes": {"01": {}}}, VE,
     "parse error: attribute code key '01' must be canonical integer string '1'"),
    ({"kind": "categorical", "codes": {"+1": {}}}, VE,
     "parse error: attribute code key '+1' must be canonical integer string '1'"),
    ({"kind": "categorical", "codes": {"-0": {}}}, VE,
     "parse error: attribute code key '-0' must be canonical integer string '0'"),
    ({"kind": "categorical", "codes": {"one": {}}}, VE,
     "parse error: attribute code key 'one' must be a canonical integer string"),
]


@pytest.mark.parametrize("metadata, exc, text", METADATA_ERRORS)
def test_metadata_errors_in_order(make_grid, metadata, exc, text):
    s = make_grid([[1.0, 2.0]])
    with pytest.raises(exc) as info:
        s.set_attr("lane", s * 1, metadata)
    assert str(info.value) == text
    assert s.attr_names() == []


def test_categorical_lanes(s):
    s.set_attr("code", s * 1, {"kind": "categorical"})
    with pytest.raises(ValueError) as info:
        s.set_attr("code", s * 0.5)
    assert str(info.value) == "parse error: categorical attribute 'code' values must be integers or NaN"
    # NaN and infinities pass; the lane keeps its metadata and place.
    s.set_attr("code", (s - s) / (s - s))  # NaN everywhere
    s.set_attr("code", s / 0)  # +inf everywhere
    assert s.attr_metadata("code")["kind"] == "categorical"
    with pytest.raises(ValueError, match="must be integers or NaN"):
        s.set_attr("frac", s * 0.5, {"kind": "categorical"})



def test_receiver_is_held_while_arguments_convert(s):
    # A number argument may run Python code; the receiver cannot change under
    # the call meanwhile.
    other = s * 1

    class Sneaky:
        def __float__(self):
            s.set_attr("x", other)
            return 2.0

        def __index__(self):
            s.set_attr("x", other)
            return 1

    for call in (lambda: s.powf(Sneaky()), lambda: s.smooth(Sneaky()), lambda: s.iso_lines(Sneaky())):
        with pytest.raises(RuntimeError) as info:
            call()
        assert info.value.args == ("Already borrowed",)
    assert s.attr_names() == []
