"""The IngestSpec value class: alias normalisation, hint parsing, the unit
guard, derivation, the dictionary form, equality and representation, and the
copy the loaders take of it."""

import pytest

import voridez
from voridez import _voridez

IngestSpec = voridez.IngestSpec

NO_SEPARATOR = "parse error: strat hint '{}' must contain '<' (above) or '>' (below)"
EMPTY_SIDE = "parse error: strat hint '{}' has an empty side"
NOT_A_HINT = "IngestSpec.strat_hints: each hint must be a (above, below) tuple/list or an 'A < B' / 'A > B' string"
NOT_A_PAIR = "IngestSpec.strat_hints: a list hint must have exactly 2 elements (above, below)"
UNTRIMMED = "unit must be a non-empty, trimmed string"


def loaded(spec):
    """What the loaders take from a spec: (aliases, hints, unit text, unit)."""
    return _voridez._ingest_spec_value(spec)


def test_defaults():
    s = IngestSpec()
    assert (s.aliases, s.strat_hints, s.unit) == ({}, [], None)
    assert loaded(s) == ([], [], None, None)
    assert repr(s) == "IngestSpec\n  aliases:  (no aliases)\n  hints:    (no hints)\n  unit:     (project)"
    assert str(s) == repr(s)
    assert IngestSpec(None, None, None) == s


def test_arguments_by_position_and_keyword():
    a = IngestSpec({"GR": "GR"}, ["A < B"], "m")
    b = IngestSpec(unit="m", strat_hints=["A < B"], aliases={"GR": "GR"})
    assert a == b
    assert loaded(a) == ([("gr", "GR")], [("A", "B")], "m", "m")


@pytest.mark.parametrize(
    "given, stored",
    [
        ({"  GR  ": "Gamma"}, {"gr": "Gamma"}),
        ({"\u00a0\tRhoB\u2003\n": "rhob"}, {"rhob": "rhob"}),  # Unicode white space trimmed
        ({"\u00c4B": "x"}, {"\u00c4b": "x"}),  # only ASCII letters are lowered
        ({"": " v "}, {"": " v "}),  # empty key allowed, value unchanged
        ({"a b": "c"}, {"a b": "c"}),  # inner space kept
    ],
)
def test_alias_keys_are_trimmed_and_lowered(given, stored):
    assert IngestSpec(aliases=given).aliases == stored


@pytest.mark.parametrize(
    "given, stored",
    [
        ({"GR": "first", " gr ": "second"}, {"gr": "second"}),
        ({" gr ": "second", "GR": "first"}, {"gr": "first"}),
        ({"Gr": "a", "rhob": "b", "GR\t": "c", "gR": "d"}, {"gr": "d", "rhob": "b"}),
    ],
)
def test_colliding_alias_keys_keep_the_last_in_dictionary_order(given, stored):
    s = IngestSpec(aliases=given)
    assert s.aliases == stored
    assert IngestSpec.from_dict({"aliases": given}).aliases == stored
    assert IngestSpec().replace(aliases=given).aliases == stored


def test_aliases_come_out_in_byte_order_of_the_keys():
    keys = ["b", "\U0001f600", "ab", "Z", "\uff5e", "\u00e9", "a", "_"]
    s = IngestSpec(aliases={k: k.upper() for k in keys})
    expected = sorted(k.lower() for k in keys)  # code-point order is UTF-8 byte order
    assert list(s.aliases) == expected
    assert list(s.to_dict()["aliases"]) == expected


def test_alias_dict_subclass_is_accepted():
    class Mine(dict):
        pass

    assert IngestSpec(aliases=Mine(GR="x")).aliases == {"gr": "x"}


@pytest.mark.parametrize(
    "aliases, message",
    [
        ([("GR", "x")], "'list' object is not an instance of 'dict'"),
        ("GR", "'str' object is not an instance of 'dict'"),
        ({1: "x"}, "'int' object is not an instance of 'str'"),
        ({"GR": None}, "'None' is not an instance of 'str'"),
        ({"GR": b"x"}, "'bytes' object is not an instance of 'str'"),
    ],
)
def test_aliases_must_be_a_dict_of_texts(aliases, message):
    for make in [lambda: IngestSpec(aliases=aliases), lambda: IngestSpec().replace(aliases=aliases)]:
        with pytest.raises(TypeError) as info:
            make()
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'aliases'"]


@pytest.mark.parametrize(
    "hints, pairs",
    [
        (["Base Shale < Upper Sand"], [("Base Shale", "Upper Sand")]),
        (["Upper Sand > Base Shale"], [("Base Shale", "Upper Sand")]),
        (["  A\u3000<\tB  "], [("A", "B")]),
        (["A < B > C"], [("A", "B > C")]),  # split at the first '<'
        (["C > B < A"], [("C > B", "A")]),
        ([("  A ", "")], [("  A ", "")]),  # a 2-tuple is kept exactly
        ([["A", "B"]], [("A", "B")]),
        ((("A", "B"), ["C", "D"], "E < F"), [("A", "B"), ("C", "D"), ("E", "F")]),
        ((h for h in ["X < Y"]), [("X", "Y")]),  # any iterable
        ("", []),
        ([], []),
    ],
)
def test_hint_forms(hints, pairs):
    s = IngestSpec(strat_hints=hints)
    assert s.strat_hints == pairs
    assert all(type(p) is tuple for p in s.strat_hints)


@pytest.mark.parametrize(
    "hints, message",
    [
        (["Upper Sand"], NO_SEPARATOR.format("Upper Sand")),
        ("Base < Top", NO_SEPARATOR.format("B")),  # a lone text is iterated by character
        ([" < B"], EMPTY_SIDE.format(" < B")),
        (["A >  "], EMPTY_SIDE.format("A >  ")),
        ([("A", "B", "C")], NOT_A_PAIR),
        ([["A", "B", "C"]], NOT_A_PAIR),
        ([["A"]], NOT_A_PAIR),
        ([[]], NOT_A_PAIR),
        ([5], NOT_A_HINT),
        ([None], NOT_A_HINT),
        ([{"A": "B"}], NOT_A_HINT),
        ([("A", 1)], NOT_A_HINT),
        ([["A", "B", 3]], NOT_A_HINT),
        ([{"A", "B"}], NOT_A_HINT),
        (["A < B", 5, "no separator"], NOT_A_HINT),  # the first failing item ends it
    ],
)
def test_hint_refusals(hints, message):
    with pytest.raises(ValueError) as info:
        IngestSpec(strat_hints=hints)
    assert str(info.value) == message


def test_hints_must_be_iterable():
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        IngestSpec(strat_hints=5)


@pytest.mark.parametrize(
    "unit, symbol",
    [("m", "m"), ("Metres", "m"), ("METER", "m"), ("ft", "ft"), ("Feet", "ft"), ("fOoT", "ft")],
)
def test_unit_is_kept_as_given_and_parsed(unit, symbol):
    s = IngestSpec(unit=unit)
    assert s.unit == unit
    assert loaded(s)[2:] == (unit, symbol)
    assert repr(s).endswith(f"\n  unit:     {unit}")


@pytest.mark.parametrize(
    "unit, message",
    [
        (" m", UNTRIMMED),
        ("ft\n", UNTRIMMED),
        ("m\u00a0", UNTRIMMED),
        ("", UNTRIMMED),
        ("Yards", "unknown unit 'yards' (expected 'ft' or 'm')"),
        ("km", "unknown unit 'km' (expected 'ft' or 'm')"),
    ],
)
def test_unit_refusals(unit, message):
    with pytest.raises(ValueError) as info:
        IngestSpec(unit=unit)
    assert str(info.value) == message


def test_unit_must_be_a_text():
    with pytest.raises(TypeError) as info:
        IngestSpec(unit=1)
    assert str(info.value) == "'int' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'unit'"]


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"aliases": 5, "strat_hints": [5], "unit": " m"}, TypeError),  # aliases converted first
        ({"strat_hints": [5], "unit": 5}, TypeError),  # unit converted before hints are parsed
        ({"strat_hints": [5], "unit": " m"}, ValueError),
    ],
)
def test_order_of_checks(kwargs, error):
    with pytest.raises(error) as info:
        IngestSpec(**kwargs)
    if error is ValueError:
        assert str(info.value) == NOT_A_HINT


def test_objects_are_frozen():
    s = IngestSpec(aliases={"GR": "x"})
    for name in ["aliases", "strat_hints", "unit"]:
        with pytest.raises(AttributeError):
            setattr(s, name, None)
    s.aliases["new"] = "y"
    s.strat_hints.append(("A", "B"))
    assert s.aliases == {"gr": "x"} and s.strat_hints == []


def test_replace():
    base = IngestSpec(aliases={"GR": "x"}, strat_hints=["A < B"], unit="ft")
    only_unit = base.replace(unit="Metres")
    assert (only_unit.aliases, only_unit.strat_hints, only_unit.unit) == ({"gr": "x"}, [("A", "B")], "Metres")
    assert loaded(only_unit)[3] == "m"
    assert base.replace(aliases={}).aliases == {}
    assert base.replace(strat_hints=[]).strat_hints == []
    assert base.replace(strat_hints=["C > D"]).strat_hints == [("D", "C")]
    assert base.replace(None, None, None) == base
    assert base.replace() is not base
    assert (base.aliases, base.strat_hints, base.unit) == ({"gr": "x"}, [("A", "B")], "ft")


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"unit": " m"}, ValueError, UNTRIMMED),
        ({"strat_hints": ["AB"]}, ValueError, NO_SEPARATOR.format("AB")),
        ({"aliases": {"a": 1}}, TypeError, "'int' object is not an instance of 'str'"),
    ],
)
def test_replace_checks_like_the_constructor(kwargs, error, message):
    base = IngestSpec(unit="m")
    with pytest.raises(error) as info:
        base.replace(**kwargs)
    assert str(info.value) == message
    assert base.unit == "m"


def test_to_dict():
    s = IngestSpec(aliases={"RHOB": "DEN", "GR": "GR"}, strat_hints=["A < B", ("C", "D")], unit="ft")
    d = s.to_dict()
    assert d == {
        "spec": "IngestSpec",
        "aliases": {"gr": "GR", "rhob": "DEN"},
        "strat_hints": [("A", "B"), ("C", "D")],
        "unit": "ft",
    }
    assert list(d) == ["spec", "aliases", "strat_hints", "unit"]
    assert list(d["aliases"]) == ["gr", "rhob"]
    assert IngestSpec().to_dict() == {"spec": "IngestSpec", "aliases": {}, "strat_hints": [], "unit": None}


@pytest.mark.parametrize(
    "s",
    [
        IngestSpec(),
        IngestSpec(aliases={" Gr ": "GR", "": ""}, strat_hints=[("  A", "b "), "X > Y"], unit="FT"),
        IngestSpec(unit="metres"),
    ],
)
def test_dictionary_round_trip(s):
    back = IngestSpec.from_dict(s.to_dict())
    assert back == s
    assert loaded(back) == loaded(s)


@pytest.mark.parametrize(
    "d",
    [
        {},
        {"aliases": None, "strat_hints": None, "unit": None},
        {"spec": "NetSettings", "other": 5},
    ],
)
def test_from_dict_absent_fields(d):
    assert IngestSpec.from_dict(d) == IngestSpec()


def test_from_dict_reads_the_dicts_own_table():
    class Defaulting(dict):
        def __missing__(self, key):
            return "m"

    assert IngestSpec.from_dict(Defaulting()).unit is None


@pytest.mark.parametrize(
    "d, error, message",
    [
        ({"aliases": ["GR"]}, TypeError, "'list' object is not an instance of 'dict'"),
        ({"aliases": {"GR": 1}}, TypeError, "'int' object is not an instance of 'str'"),
        ({"unit": 1.0}, TypeError, "'float' object is not an instance of 'str'"),
        ({"unit": 1.0, "strat_hints": [5]}, TypeError, "'float' object is not an instance of 'str'"),
        ({"strat_hints": "A<B"}, ValueError, NO_SEPARATOR.format("A")),
        ({"strat_hints": [["A"]]}, ValueError, NOT_A_PAIR),
        ({"unit": "yd"}, ValueError, "unknown unit 'yd' (expected 'ft' or 'm')"),
    ],
)
def test_from_dict_refusals_carry_no_parameter_note(d, error, message):
    with pytest.raises(error) as info:
        IngestSpec.from_dict(d)
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


def test_from_dict_requires_a_dict():
    with pytest.raises(TypeError) as info:
        IngestSpec.from_dict([("unit", "m")])
    assert str(info.value) == "'list' object is not an instance of 'dict'"
    assert info.value.__notes__ == ["while processing 'd'"]


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (IngestSpec(aliases={"a": "1", "b": "2"}), IngestSpec(aliases={"B": "2", "A": "1"}), True),
        (IngestSpec(aliases={"a": "1"}), IngestSpec(aliases={"a": "1 "}), False),
        (IngestSpec(strat_hints=["A < B"]), IngestSpec(strat_hints=[("A", "B")]), True),
        (IngestSpec(strat_hints=["A < B"]), IngestSpec(strat_hints=["a < B"]), False),
        (IngestSpec(strat_hints=["A < B", "C < D"]), IngestSpec(strat_hints=["C < D", "A < B"]), False),
        (IngestSpec(unit="m"), IngestSpec(unit="m"), True),
        (IngestSpec(unit="m"), IngestSpec(unit="metre"), False),
        (IngestSpec(unit="m"), IngestSpec(unit="M"), False),
        (IngestSpec(unit="m"), IngestSpec(), False),
        (IngestSpec(unit="ft"), IngestSpec(unit="m"), False),
    ],
)
def test_equality(a, b, equal):
    assert (a == b) is equal
    assert (a != b) is (not equal)
    assert (b == a) is equal


def test_other_types_ordering_and_hashing():
    s = IngestSpec()
    assert s.__eq__(s.to_dict()) is NotImplemented
    assert s.__eq__(voridez.NetSettings()) is NotImplemented
    assert s != s.to_dict()
    with pytest.raises(TypeError):
        s < s  # noqa: B015
    with pytest.raises(TypeError, match="unhashable type"):
        hash(s)


def test_representation_lists_sorted_aliases_and_hints_in_order():
    s = IngestSpec(aliases={"RHOB": "DEN", "GR": "GR_EDTC", "Bs": "BS"}, strat_hints=["Z < Y", ("B", "A")], unit="Feet")
    assert repr(s) == (
        "IngestSpec\n"
        "  aliases:  bs -> BS, gr -> GR_EDTC, rhob -> DEN\n"
        "  hints:    Z < Y, B < A\n"
        "  unit:     Feet"
    )


def test_docstrings_and_signatures():
    assert IngestSpec.__text_signature__ == "(aliases=None, strat_hints=None, unit=None)"
    assert IngestSpec.__doc__.startswith("Declarative load-time canonicalization: `IngestSpec(aliases={raw: canonical},\n")
    assert IngestSpec.replace.__text_signature__ == "($self, aliases=None, strat_hints=None, unit=None)"
    assert IngestSpec.to_dict.__text_signature__ == "($self)"
    assert IngestSpec.from_dict.__text_signature__ == "(d)"
    assert IngestSpec.aliases.__doc__ == "The `{alias: canonical}` map (aliases are stored lowercased)."
    assert IngestSpec.strat_hints.__doc__ == "The strat-order hints as `[(above, below), ...]`."
    assert IngestSpec.unit.__doc__ == 'The declared length unit label (`"m"`/`"ft"`), or `None`.'


@pytest.mark.parametrize(
    "bad, message",
    [
        (voridez.NetSettings(), "'NetSettings' object is not an instance of 'IngestSpec'"),
        ({"unit": "m"}, "'dict' object is not an instance of 'IngestSpec'"),
        (None, "'None' is not an instance of 'IngestSpec'"),
    ],
)
def test_loaders_refuse_other_objects(bad, message):
    with pytest.raises(TypeError) as info:
        loaded(bad)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'spec'"]
