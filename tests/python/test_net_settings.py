"""The NetSettings value class: construction, derivation, the dictionary form,
equality and representation, and its use as a `cut` argument."""

import math
import weakref

import pytest

import voridez
from voridez import _voridez

NetSettings = voridez.NetSettings
NAN = float("nan")
INF = float("inf")
FIELDS = ("phi_min", "sw_max", "vsh_max")


def values(n):
    return tuple(getattr(n, f) for f in FIELDS)


def interpreter_float_error(value):
    with pytest.raises(TypeError) as info:
        math.isnan(value)
    return str(info.value)


def test_defaults_and_representation():
    n = NetSettings()
    assert values(n) == (0.08, 0.5, 0.5)
    assert all(type(v) is float for v in values(n))
    text = "NetSettings\n  phi_min  >=  0.080\n  sw_max   <=  0.500\n  vsh_max  <=  0.500"
    assert repr(n) == text
    assert str(n) == text


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((0.1,), {}, (0.1, 0.5, 0.5)),
        ((0.1, 0.4, 0.3), {}, (0.1, 0.4, 0.3)),
        ((), {"vsh_max": 0.2}, (0.08, 0.5, 0.2)),
        ((0.12,), {"sw_max": 0.6}, (0.12, 0.6, 0.5)),
        ((1, 0, -2), {}, (1.0, 0.0, -2.0)),
        ((-0.5, 7.0, INF), {}, (-0.5, 7.0, INF)),
    ],
)
def test_constructor_takes_values_as_given(args, kwargs, expected):
    n = NetSettings(*args, **kwargs)
    assert values(n) == expected
    assert all(type(v) is float for v in values(n))


@pytest.mark.parametrize("name", FIELDS)
@pytest.mark.parametrize("bad", [None, "0.1", [0.1]], ids=["None", "str", "list"])
def test_constructor_refuses_non_numbers_naming_the_parameter(name, bad):
    with pytest.raises(TypeError) as info:
        NetSettings(**{name: bad})
    assert str(info.value) == interpreter_float_error(bad)
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: NetSettings(1, 2, 3, 4), "NetSettings.__new__() takes from 0 to 3 positional arguments but 4 were given"),
        (lambda: NetSettings(phi=0.1), "NetSettings.__new__() got an unexpected keyword argument 'phi'"),
        (lambda: NetSettings(0.1, phi_min=0.2), "NetSettings.__new__() got multiple values for argument 'phi_min'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_objects_are_frozen():
    n = NetSettings()
    for name in FIELDS:
        with pytest.raises(AttributeError):
            setattr(n, name, 0.3)
    with pytest.raises(AttributeError):
        n.other = 1
    with pytest.raises(TypeError):
        weakref.ref(n)
    assert values(n) == (0.08, 0.5, 0.5)


def test_replace_changes_only_what_is_given():
    base = NetSettings(0.1, 0.4, 0.3)
    high = base.replace(phi_min=0.15)
    assert values(high) == (0.15, 0.4, 0.3)
    assert values(base) == (0.1, 0.4, 0.3)
    assert values(base.replace(None, 0.7, None)) == (0.1, 0.7, 0.3)
    assert values(base.replace(vsh_max=1)) == (0.1, 0.4, 1.0)
    same = base.replace()
    assert same == base and same is not base


def test_replace_refuses_non_numbers_and_leaves_the_object():
    base = NetSettings()
    with pytest.raises(TypeError) as info:
        base.replace(sw_max="high")
    assert info.value.__notes__ == ["while processing 'sw_max'"]
    with pytest.raises(TypeError, match=r"replace\(\) got an unexpected keyword argument 'phi'"):
        base.replace(phi=0.1)
    assert values(base) == (0.08, 0.5, 0.5)


def test_to_dict():
    d = NetSettings(0.1, 0.4, 0.3).to_dict()
    assert d == {"spec": "NetSettings", "phi_min": 0.1, "sw_max": 0.4, "vsh_max": 0.3}
    assert list(d) == ["spec", "phi_min", "sw_max", "vsh_max"]


@pytest.mark.parametrize("n", [NetSettings(), NetSettings(0.1, 0.4, 0.3), NetSettings(-1.0, INF, -INF)])
def test_dictionary_round_trip(n):
    assert NetSettings.from_dict(n.to_dict()) == n
    assert n.from_dict(d=n.to_dict()) == n


@pytest.mark.parametrize(
    "d, expected",
    [
        ({}, (0.08, 0.5, 0.5)),
        ({"sw_max": 0.2}, (0.08, 0.2, 0.5)),
        ({"phi_min": 1, "extra": object(), "spec": "SomethingElse"}, (1.0, 0.5, 0.5)),
        ({"spec": None, "vsh_max": 0.9}, (0.08, 0.5, 0.9)),
    ],
)
def test_from_dict_defaults_and_ignored_keys(d, expected):
    assert values(NetSettings.from_dict(d)) == expected


def test_from_dict_reads_the_dicts_own_table():
    class Defaulting(dict):
        def __missing__(self, key):
            return 0.99

    n = NetSettings.from_dict(Defaulting(sw_max=0.3))
    assert values(n) == (0.08, 0.3, 0.5)


@pytest.mark.parametrize("bad", [None, "0.1"])
def test_from_dict_refuses_a_non_number_value(bad):
    with pytest.raises(TypeError) as info:
        NetSettings.from_dict({"phi_min": bad})
    assert str(info.value) == interpreter_float_error(bad)
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "bad, message",
    [
        ([("phi_min", 0.1)], "'list' object is not an instance of 'dict'"),
        (None, "'None' is not an instance of 'dict'"),
    ],
)
def test_from_dict_requires_a_dict(bad, message):
    with pytest.raises(TypeError) as info:
        NetSettings.from_dict(bad)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'd'"]


def test_equality():
    a, b = NetSettings(0.1, 0.4, 0.3), NetSettings(0.1, 0.4, 0.3)
    assert a == b and not (a != b)
    assert a != NetSettings(0.1, 0.4, 0.31) and not (a == NetSettings(0.1, 0.4, 0.31))
    assert NetSettings(0.0) == NetSettings(-0.0)


@pytest.mark.parametrize("field", FIELDS)
def test_a_nan_field_is_unequal_even_to_itself(field):
    n = NetSettings(**{field: NAN})
    assert n != n
    assert not (n == n)


def test_other_types_and_ordering_are_left_to_python():
    n = NetSettings()
    assert n.__eq__((0.08, 0.5, 0.5)) is NotImplemented
    assert n.__ne__(1) is NotImplemented
    assert n.__lt__(n) is NotImplemented
    assert n != n.to_dict()
    for op in ["<", "<=", ">", ">="]:
        with pytest.raises(TypeError):
            eval(f"n {op} n", {"n": n})


def test_unhashable():
    n = NetSettings()
    with pytest.raises(TypeError, match="unhashable type"):
        hash(n)
    with pytest.raises(TypeError):
        {n}


@pytest.mark.parametrize(
    "value, text",
    [
        (0.1, "0.100"),
        (-0.25, "-0.250"),
        (1.0005, "1.000"),  # the stored value lies just below the half
        (0.0625, "0.062"),  # exact ties go to the even digit
        (0.1875, "0.188"),
        (12345.6789, "12345.679"),
        (NAN, "NaN"),
        (INF, "inf"),
        (-INF, "-inf"),
    ],
)
def test_representation_has_three_decimals(value, text):
    n = NetSettings(vsh_max=value)
    assert repr(n).splitlines()[3] == f"  vsh_max  <=  {text}"


def test_docstrings_and_signatures():
    assert NetSettings.__text_signature__ == "(phi_min=0.08, sw_max=0.5, vsh_max=0.5)"
    assert NetSettings.__doc__.startswith("Reservoir net cutoffs as a frozen spec: a sample is **net** iff\n")
    assert "(\u03c6\u22650.08 / Sw\u22640.5 / Vsh\u22640.5)" in NetSettings.__doc__
    assert NetSettings.replace.__text_signature__ == "($self, phi_min=None, sw_max=None, vsh_max=None)"
    assert NetSettings.to_dict.__text_signature__ == "($self)"
    assert NetSettings.from_dict.__text_signature__ == "(d)"
    assert NetSettings.from_dict.__doc__ == (
        "Rebuild from a `{phi_min, sw_max, vsh_max}` dict (missing keys \u2192 defaults)."
    )


def test_cut_argument_reads_the_three_cutoffs():
    assert _voridez._cutoffs(NetSettings(0.1, 0.4, 0.3)) == (0.1, 0.4, 0.3)
    assert _voridez._cutoffs(cut=NetSettings()) == (0.08, 0.5, 0.5)


@pytest.mark.parametrize(
    "bad, message",
    [
        ((0.1, 0.4, 0.3), "'tuple' object is not an instance of 'NetSettings'"),
        ({"phi_min": 0.1}, "'dict' object is not an instance of 'NetSettings'"),
        (None, "'None' is not an instance of 'NetSettings'"),
        (voridez.IngestSpec(), "'IngestSpec' object is not an instance of 'NetSettings'"),
    ],
)
def test_cut_argument_refuses_other_objects(bad, message):
    with pytest.raises(TypeError) as info:
        _voridez._cutoffs(bad)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'cut'"]
