"""Surface arithmetic: the number operators (forward and reflected), the
named two-surface operations and the element-wise functions."""

import math
import operator

import numpy as np
import pytest

import voridez as vz
from surface_grids import make_grid, same_values, values_of  # noqa: F401

NAN = float("nan")
INF = float("inf")
MISMATCH = "geometry mismatch: Surface::{}: operands have differing geometry \u2014 resample first"


@pytest.fixture
def s(make_grid):
    # values 1, -2 / NaN, 4 ; history: one load entry
    return make_grid([[1.0, -2.0], [NAN, 4.0]])


def load_entry(surface):
    return surface.history()[0]


# expression, expected values, appended history entries
SCALAR_CASES = [
    ("s + 2", lambda s: s + 2, [[3, 0], [NAN, 6]], ["surface.add_scalar(2)"]),
    ("2 + s", lambda s: 2 + s, [[3, 0], [NAN, 6]], ["surface.add_scalar(2)"]),
    ("s - 0.5", lambda s: s - 0.5, [[0.5, -2.5], [NAN, 3.5]], ["surface.sub_scalar(0.5)"]),
    ("10 - s", lambda s: 10 - s, [[9, 12], [NAN, 6]], ["surface.mul_scalar(-1)", "surface.add_scalar(10)"]),
    ("s * 2", lambda s: s * 2, [[2, -4], [NAN, 8]], ["surface.mul_scalar(2)"]),
    ("2 * s", lambda s: 2 * s, [[2, -4], [NAN, 8]], ["surface.mul_scalar(2)"]),
    ("s * 2.0", lambda s: s * 2.0, [[2, -4], [NAN, 8]], ["surface.mul_scalar(2)"]),
    ("s * True", lambda s: s * True, [[1, -2], [NAN, 4]], ["surface.mul_scalar(1)"]),
    ("np.float64(3) * s", lambda s: np.float64(3.0) * s, [[3, -6], [NAN, 12]], ["surface.mul_scalar(3)"]),
    ("s * np.int32(3)", lambda s: s * np.int32(3), [[3, -6], [NAN, 12]], ["surface.mul_scalar(3)"]),
    ("s / 0", lambda s: s / 0, [[INF, -INF], [NAN, INF]], ["surface.div_scalar(0)"]),
    ("s / 4", lambda s: s / 4, [[0.25, -0.5], [NAN, 1]], ["surface.div_scalar(4)"]),
    ("s + 1e21", lambda s: s + 1e21, [[1e21 + 1, 1e21 - 2], [NAN, 1e21 + 4]],
     ["surface.add_scalar(1" + "0" * 21 + ")"]),
    # 1e23 is not exact in binary: its shortest digits, not its exact expansion
    ("s * 1e23", lambda s: s * 1e23, [[1e23, -2e23], [NAN, 4e23]], ["surface.mul_scalar(1" + "0" * 23 + ")"]),
    ("s * -0.0", lambda s: s * -0.0, [[-0.0, 0.0], [NAN, -0.0]], ["surface.mul_scalar(-0)"]),
]


@pytest.mark.parametrize("label, op, expected, entries", SCALAR_CASES, ids=[c[0] for c in SCALAR_CASES])
def test_number_operands(s, label, op, expected, entries):
    r = op(s)
    assert isinstance(r, vz.Surface) and r is not s
    same_values(values_of(r), expected)
    assert r.history() == [load_entry(s)] + entries
    assert r.name is None
    # The receiver is untouched.
    same_values(values_of(s), [[1, -2], [NAN, 4]])
    assert len(s.history()) == 1


TWO_SURFACE_CASES = [
    ("plus", operator.add, [[2, 2], [NAN, 6]]),
    ("minus", operator.sub, [[0, -6], [NAN, 2]]),
    ("times", operator.mul, [[1, -8], [NAN, 8]]),
    ("divided_by", operator.truediv, [[1, -0.5], [NAN, 2]]),
]


@pytest.mark.parametrize("word, op, expected", TWO_SURFACE_CASES, ids=[c[0] for c in TWO_SURFACE_CASES])
def test_two_surfaces(make_grid, s, word, op, expected):
    t = make_grid([[1.0, 4.0], [5.0, 2.0]]) + 0  # history: load, add_scalar(0)
    expected_history = [load_entry(s)] + ["rhs." + e for e in t.history()] + [f"surface.{word}(surface)"]
    by_operator = op(s, t)
    by_method = getattr(s, word)(t)
    for r in (by_operator, by_method):
        same_values(values_of(r), expected)
        assert r.history() == expected_history
        assert r.name is None


def test_surface_with_itself(s):
    r = s - s
    same_values(values_of(r), [[0, 0], [NAN, 0]])
    assert r.history() == [load_entry(s), "rhs." + load_entry(s), "surface.minus(surface)"]
    same_values(values_of(s.times(s)), [[1, 4], [NAN, 16]])


@pytest.mark.parametrize(
    "change",
    [
        dict(xori=0.5),
        dict(yori=-1e-12),
        dict(xinc=2.0),
        dict(rotation=1.0),
        dict(yflip=True),
        dict(extra_column=True),
    ],
    ids=lambda c: next(iter(c)),
)
@pytest.mark.parametrize("word, op", [(w, o) for w, o, _ in TWO_SURFACE_CASES])
def test_differing_geometry(make_grid, change, word, op):
    rows = [[1.0, 2.0], [3.0, 4.0]]
    s = make_grid(rows)
    change = dict(change)
    if change.pop("extra_column", False):
        rows = [r + [5.0] for r in rows]
    t = make_grid(rows, **change)
    for call in (lambda: op(s, t), lambda: getattr(s, word)(t)):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == MISMATCH.format(word)


def test_identical_geometry_with_lanes_and_metadata(make_grid):
    s = make_grid([[1.0, 2.0]])
    t = make_grid([[3.0, 4.0]])
    t.lane = t * 1.0
    promoted = t.attr["lane"]  # carries primary metadata
    assert promoted.primary_metadata is not None
    r = s + promoted
    same_values(values_of(r), [[4.0, 6.0]])
    assert r.attr_names() == [] and r.primary_metadata is None


@pytest.mark.parametrize("other", ["1", None, [1.0], (1.0, 2.0), object(), 10**400, np.array([1.0, 2.0])])
@pytest.mark.parametrize("op", [operator.add, operator.sub, operator.mul, operator.truediv])
def test_surface_on_the_left_refuses_non_operands(s, other, op):
    with pytest.raises(TypeError) as info:
        op(s, other)
    assert str(info.value) == "Surface operands must be a float or another Surface"


def test_other_surface_kinds_are_not_operands(s):
    tri = s.to_tri_surface()
    mesh = s.to_structured_mesh()
    for other in (tri, mesh):
        with pytest.raises(TypeError, match="^Surface operands must be a float or another Surface$"):
            s + other
        with pytest.raises(TypeError, match="unsupported operand"):
            other + s


@pytest.mark.parametrize(
    "call",
    [
        lambda s: "1" + s,
        lambda s: None + s,
        lambda s: None - s,
        lambda s: [1.0] * s,
        lambda s: 10 / s,
        lambda s: 2.0 / s,
        lambda s: -s,
        lambda s: +s,
        lambda s: abs(s),
        lambda s: s ** 2,
        lambda s: 2 ** s,
        lambda s: s // 2,
        lambda s: s % 2,
    ],
    ids=["str+s", "None+s", "None-s", "list*s", "10/s", "2.0/s", "-s", "+s", "abs(s)", "s**2", "2**s",
         "s//2", "s%2"],
)
def test_interpreter_type_errors(s, call):
    with pytest.raises(TypeError) as info:
        call(s)
    assert "Surface operands" not in str(info.value)


def test_augmented_assignment_binds_a_new_object(s):
    before = s
    s += 1
    assert s is not before
    assert s.history()[-1] == "surface.add_scalar(1)"
    assert len(before.history()) == 1


@pytest.mark.parametrize("word", ["plus", "minus", "times", "divided_by"])
@pytest.mark.parametrize("other", [2.0, None, "s"])
def test_named_operations_need_a_surface(s, word, other):
    with pytest.raises(TypeError) as info:
        getattr(s, word)(other)
    assert info.value.__notes__ == ["while processing 'other'"]


def test_named_operations_by_keyword(make_grid, s):
    t = make_grid([[1.0, 1.0], [1.0, 1.0]])
    same_values(values_of(s.plus(other=t)), [[2, -1], [NAN, 5]])


ELEMENT_CASES = [
    ("ln", lambda s: s.ln(), [[math.log(100.0), -INF], [NAN, NAN]], "surface.ln()"),
    ("log10", lambda s: s.log10(), [[2.0, -INF], [NAN, NAN]], "surface.log10()"),
    ("exp", lambda s: s.exp(), [[math.exp(100.0), 1.0], [NAN, math.exp(-1.0)]], "surface.exp()"),
    ("sqrt", lambda s: s.sqrt(), [[10.0, 0.0], [NAN, NAN]], "surface.sqrt()"),
    ("abs", lambda s: s.abs(), [[100.0, 0.0], [NAN, 1.0]], "surface.abs()"),
    ("powf(0)", lambda s: s.powf(0), [[1.0, 1.0], [1.0, 1.0]], "surface.powf_scalar(0)"),
    ("powf(2)", lambda s: s.powf(2), [[10000.0, 0.0], [NAN, 1.0]], "surface.powf_scalar(2)"),
    ("powf(0.5)", lambda s: s.powf(n=0.5), [[10.0, 0.0], [NAN, NAN]], "surface.powf_scalar(0.5)"),
    ("clamp(0, 1)", lambda s: s.clamp(0, 1), [[1.0, 0.0], [NAN, 0.0]], "surface.clamp(0, 1)"),
    ("clamp(1, 1)", lambda s: s.clamp(lo=1, hi=1), [[1.0, 1.0], [NAN, 1.0]], "surface.clamp(1, 1)"),
    ("clamp_min(0.5)", lambda s: s.clamp_min(0.5), [[100.0, 0.5], [NAN, 0.5]], "surface.clamp_min_scalar(0.5)"),
]


@pytest.mark.parametrize("label, call, expected, entry", ELEMENT_CASES, ids=[c[0] for c in ELEMENT_CASES])
def test_element_functions(make_grid, label, call, expected, entry):
    s = make_grid([[100.0, 0.0], [NAN, -1.0]])
    r = call(s)
    same_values(values_of(r), expected)
    assert r.history() == [load_entry(s), entry]


def test_sqrt_keeps_negative_zero(make_grid):
    s = make_grid([[1.0]]) * -0.0
    assert math.copysign(1.0, values_of(s.sqrt())[0][0]) == -1.0
    assert math.copysign(1.0, values_of(s.abs())[0][0]) == 1.0


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda s: s.clamp(2, 1), "min > max, or either was NaN. min = 2.0, max = 1.0"),
        (lambda s: s.clamp(NAN, 1), "min > max, or either was NaN. min = NaN, max = 1.0"),
        (lambda s: s.clamp(0, NAN), "min > max, or either was NaN. min = 0.0, max = NaN"),
        (lambda s: s.clamp(1e16, 0), "min > max, or either was NaN. min = 1e16, max = 0.0"),
        (lambda s: s.clamp(1.5e-5, 1e-5), "min > max, or either was NaN. min = 1.5e-5, max = 1e-5"),
        (lambda s: s.clamp_min(NAN), "min > max, or either was NaN. min = NaN, max = inf"),
    ],
)
def test_refused_clamp_bounds(s, call, text):
    with pytest.raises(ValueError) as info:
        call(s)
    assert str(info.value) == text


def test_clamp_bounds_are_not_compared_without_nodes():
    empty = vz.Surface.constant(vz.GridGeometry(0, 0, 1, 1, 0, 0), 1.0)
    assert empty.clamp(2, 1).history()[-1] == "surface.clamp(2, 1)"
    assert empty.clamp_min(NAN).history()[-1] == "surface.clamp_min_scalar(NaN)"


@pytest.mark.parametrize(
    "call, argument, exc",
    [
        (lambda s: s.powf("2"), "n", TypeError),
        (lambda s: s.clamp_min(None), "lo", TypeError),
        (lambda s: s.clamp("0", "x"), "lo", TypeError),
        (lambda s: s.clamp(0, "x"), "hi", TypeError),
        (lambda s: s.powf(10**400), "n", OverflowError),
    ],
)
def test_number_argument_conversion(s, call, argument, exc):
    with pytest.raises(exc) as info:
        call(s)
    assert info.value.__notes__ == [f"while processing '{argument}'"]


@pytest.mark.parametrize("name", ["ln", "log10", "exp", "sqrt", "abs"])
def test_element_functions_take_no_argument(s, name):
    with pytest.raises(TypeError):
        getattr(s, name)(1)
