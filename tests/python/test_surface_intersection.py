"""The SurfaceIntersection value: attributes, the mapping form, the fixed
precision representation with escaped names, identity semantics, and the
read-back the top mutations use. Crossings are made through a private hook
until the intersection calls hand them out."""

import random
import struct
import weakref

import pytest

import voridez
from voridez import _voridez

SurfaceIntersection = voridez.SurfaceIntersection
NAN = float("nan")
INF = float("inf")
KEYS = ["md", "xyz", "well", "bore", "surface"]


def make(md=1500.0, x=1.0, y=2.0, z=-3.0, **names):
    return _voridez._surface_intersection(md, x, y, z, **names)


def test_attributes():
    h = make(1234.5, 451000.25, 6780000.5, -1200.75, well="W-1", bore="", surface="Top Sand")
    assert h.md == 1234.5
    assert h.xyz == (451000.25, 6780000.5, -1200.75)
    assert type(h.xyz) is tuple
    assert (h.well, h.bore, h.surface) == ("W-1", "", "Top Sand")
    bare = make()
    assert (bare.well, bare.bore, bare.surface) == (None, None, None)


def test_attributes_are_read_only_and_objects_closed():
    h = make(well="W")
    for name in KEYS:
        with pytest.raises(AttributeError):
            setattr(h, name, None)
    with pytest.raises(AttributeError):
        h.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(h)
    with pytest.raises(TypeError):
        h["md"] = 1.0


def test_keys_are_a_new_list_each_time():
    h = make()
    first = h.keys()
    assert first == KEYS
    first.append("extra")
    first[0] = "changed"
    assert h.keys() == KEYS
    assert h.keys() is not h.keys()


def test_to_dict_and_dict_of_a_hit_agree():
    h = make(10.0, 1.0, 2.0, 3.0, well="W", bore="B", surface=None)
    d = h.to_dict()
    assert d == {"md": 10.0, "xyz": (1.0, 2.0, 3.0), "well": "W", "bore": "B", "surface": None}
    assert list(d) == h.keys()
    assert dict(h) == d
    assert h.to_dict() is not d
    assert h.to_dict()["xyz"] is not d["xyz"]


@pytest.mark.parametrize("key", KEYS)
def test_subscription_matches_the_attributes(key):
    h = make(5.5, -1.0, 0.0, 2.0, well="W", bore="", surface="S")
    assert h[key] == getattr(h, key)


@pytest.mark.parametrize("key", ["MD", "Md", "md ", "", "x", "keys"])
def test_unknown_text_keys_raise_key_error_with_the_key(key):
    with pytest.raises(KeyError) as info:
        make()[key]
    assert info.value.args == (key,)


def test_key_error_carries_a_str_subclass_key_unchanged():
    class Key(str):
        pass

    key = Key("nope")
    with pytest.raises(KeyError) as info:
        make()[key]
    assert info.value.args[0] is key
    assert make()[Key("md")] == 1500.0


@pytest.mark.parametrize(
    "key, type_name",
    [(0, "int"), (-1, "int"), (1.5, "float"), (None, None), (b"md", "bytes"), (("md",), "tuple")],
)
def test_non_text_keys_raise_the_argument_type_error(key, type_name):
    with pytest.raises(TypeError) as info:
        make()[key]
    expected = "'None' is not an instance of 'str'" if key is None else f"'{type_name}' object is not an instance of 'str'"
    assert str(info.value) == expected
    assert info.value.__notes__ == ["while processing 'key'"]


def test_iteration_fails_like_an_integer_subscript():
    h = make()
    for attempt in [lambda: list(h), lambda: next(iter(h)), lambda: "md" in h]:
        with pytest.raises(TypeError) as info:
            attempt()
        assert str(info.value) == "'int' object is not an instance of 'str'"
        assert info.value.__notes__ == ["while processing 'key'"]


def test_identity_semantics():
    a, b = make(well="W"), make(well="W")
    assert a == a and not (a != a)
    assert a != b
    assert hash(a) == hash(a)
    assert len({a, b}) == 2


def test_cannot_be_created_from_python():
    with pytest.raises(TypeError, match="cannot create 'builtins.SurfaceIntersection' instances"):
        SurfaceIntersection()


def fixed6(value):
    """Six decimals of the exact binary value, ties to even (Python's own
    formatting), with NaN and the infinities spelled as the repr spells them."""
    if value != value:
        return "NaN"
    if value in (INF, -INF):
        return "inf" if value > 0 else "-inf"
    return f"{value:.6f}"


@pytest.mark.parametrize(
    "value, text",
    [
        (1500.0, "1500.000000"),
        (0.1, "0.100000"),
        (-2.5, "-2.500000"),
        (0.0, "0.000000"),
        (-0.0, "-0.000000"),
        (-1e-9, "-0.000000"),
        (5e-7, "0.000000"),  # the stored value lies just below the half
        (1.0000005, "1.000001"),  # ... and this one just above
        (1 / 128, "0.007812"),  # exact ties go to the even digit
        (3 / 128, "0.023438"),
        (-5 / 128, "-0.039062"),
        (2**-30, "0.000000"),
        (123456789.123456789, "123456789.123457"),
        (1e20, "100000000000000000000.000000"),
        (NAN, "NaN"),
        (-NAN, "NaN"),
        (INF, "inf"),
        (-INF, "-inf"),
    ],
)
def test_numbers_have_six_decimals(value, text):
    r = repr(make(value, value, value, value))
    assert r.startswith(f"SurfaceIntersection(md={text}, xyz=({text}, {text}, {text}), ")


def test_numbers_match_exact_rounding_on_random_values():
    rng = random.Random(20240611)
    values = [rng.uniform(-1e4, 1e4) for _ in range(300)]
    values += [struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0] for _ in range(300)]
    values += [k / 2**7 + rng.randrange(-10**6, 10**6) for k in range(1, 128, 2)]  # ties
    for v in values:
        r = repr(make(v, 0.0, 0.0, 0.0))
        assert r.startswith(f"SurfaceIntersection(md={fixed6(v)}, xyz="), v


@pytest.mark.parametrize(
    "text, literal",
    [
        ("W-1", 'Some("W-1")'),
        ("", 'Some("")'),
        ('say "hi"', 'Some("say \\"hi\\"")'),
        ("a\\b", 'Some("a\\\\b")'),
        ("\t\r\n\0", 'Some("\\t\\r\\n\\0")'),
        ("\x01\x1b\x7f", 'Some("\\u{1}\\u{1b}\\u{7f}")'),
        ("\x85\x9f", 'Some("\\u{85}\\u{9f}")'),  # C1 controls
        ("\u00e9\u00d8\u4e95 \u0416", 'Some("\u00e9\u00d8\u4e95 \u0416")'),  # letters as they are
        ("\U0001f600\u00a9\u20ac", 'Some("\U0001f600\u00a9\u20ac")'),  # symbols as they are
        ("e\u0301", 'Some("e\\u{301}")'),  # combining acute (Mn)
        ("\u20dd", 'Some("\\u{20dd}")'),  # enclosing circle (Me)
        ("\u0903", 'Some("\u0903")'),  # a spacing mark (Mc) prints
        ("\u00a0\u3000\u2003", 'Some("\\u{a0}\\u{3000}\\u{2003}")'),  # space separators
        ("\u200b\u00ad\ufeff", 'Some("\\u{200b}\\u{ad}\\u{feff}")'),  # format characters
        ("\u2028\u2029", 'Some("\\u{2028}\\u{2029}")'),  # line and paragraph separators
        ("\ue000\U000f0000", 'Some("\\u{e000}\\u{f0000}")'),  # private use
        ("\u0378", 'Some("\\u{378}")'),  # unassigned
    ],
)
def test_names_are_quoted_and_escaped(text, literal):
    h = make(0.0, 0.0, 0.0, 0.0, well=text, bore=text, surface=text)
    assert repr(h) == (
        "SurfaceIntersection(md=0.000000, xyz=(0.000000, 0.000000, 0.000000), "
        f"well={literal}, bore={literal}, surface={literal})"
    )
    assert (h.well, h.bore, h.surface) == (text, text, text)


def test_representation_of_a_trajectory_crossing():
    h = make(2001.25, 10.0, 20.0, -1950.125, surface="Top Reservoir")
    assert repr(h) == (
        "SurfaceIntersection(md=2001.250000, xyz=(10.000000, 20.000000, -1950.125000), "
        'well=None, bore=None, surface=Some("Top Reservoir"))'
    )
    assert str(h) == repr(h)


@pytest.mark.parametrize("project", [None, 0, 1, 2**64 - 1])
def test_read_back_keeps_project_and_crossing(project):
    h = make(12.5, 1.0, 2.0, -3.0, well="W", bore="", surface=None, project=project)
    assert _voridez._surface_intersection_value(h) == (project, 12.5, (1.0, 2.0, -3.0), "W", "", None)


@pytest.mark.parametrize(
    "bad, message",
    [
        ({"md": 1.0}, "'dict' object is not an instance of 'SurfaceIntersection'"),
        (1500.0, "'float' object is not an instance of 'SurfaceIntersection'"),
        (None, "'None' is not an instance of 'SurfaceIntersection'"),
    ],
)
def test_read_back_refuses_other_objects(bad, message):
    with pytest.raises(TypeError) as info:
        _voridez._surface_intersection_value(bad)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'hit'"]


def test_member_documentation():
    assert SurfaceIntersection.__doc__ == "One immutable crossing with measured depth, XYZ, and source identity."
    assert SurfaceIntersection.keys.__text_signature__ == "($self)"
    assert SurfaceIntersection.keys.__doc__ is None
    assert SurfaceIntersection.to_dict.__text_signature__ == "($self)"
    assert SurfaceIntersection.to_dict.__doc__ is None
