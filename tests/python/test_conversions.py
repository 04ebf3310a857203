"""Argument conversions: floats, strict bools, sequences and texts, with the
conversion's own exception and the note naming the parameter."""

import math
import warnings
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest

from voridez import _voridez


class FloatLike:
    def __float__(self):
        return 2.5


class IndexLike:
    def __index__(self):
        return 7


def interpreter_float_error(value):
    """The interpreter's own TypeError for a value that is not a real number."""
    with pytest.raises(TypeError) as info:
        math.isnan(value)
    return str(info.value)


@pytest.mark.parametrize(
    "value",
    [3, -2, 2.5, True, np.float64(1.25), np.float32(0.5), np.int64(9), Decimal("1.5"), Fraction(3, 4),
     FloatLike(), IndexLike(), float("nan"), float("-inf")],
    ids=lambda v: type(v).__name__,
)
def test_float_parameters_take_what_float_conversion_takes(value):
    b = _voridez._bbox(value, 0, 0, 0)
    expected = float(value.__index__()) if isinstance(value, IndexLike) else float(value)
    assert b.xmin == expected or (math.isnan(b.xmin) and math.isnan(expected))


@pytest.mark.parametrize("value", ["1.5", None, [1.0], b"1", object()], ids=lambda v: type(v).__name__)
def test_float_parameters_refuse_other_values(value):
    with pytest.raises(TypeError) as info:
        _voridez._bbox(0.0, 0.0, value, 0.0)
    assert str(info.value) == interpreter_float_error(value)
    assert info.value.__notes__ == ["while processing 'xmax'"]


@pytest.mark.parametrize("flag, category", [(True, UserWarning), (False, DeprecationWarning),
                                             (np.True_, UserWarning), (np.False_, DeprecationWarning)])
def test_bool_parameters_take_bool_and_numpy_bool(flag, category):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        _voridez._warn("w", user=flag)
    assert [w.category for w in caught] == [category]


@pytest.mark.parametrize(
    "value, message",
    [
        (1, "'int' object is not an instance of 'bool'"),
        (0, "'int' object is not an instance of 'bool'"),
        (1.0, "'float' object is not an instance of 'bool'"),
        ("yes", "'str' object is not an instance of 'bool'"),
        (None, "'None' is not an instance of 'bool'"),
        (np.int64(1), "'int64' object is not an instance of 'bool'"),
        (np.array([True]), "'ndarray' object is not an instance of 'bool'"),
    ],
)
def test_bool_parameters_are_strict(value, message):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with pytest.raises(TypeError) as info:
            _voridez._warn("w", user=value)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'user'"]
    assert caught == []  # refused before any warning


@pytest.mark.parametrize(
    "values",
    [[1.0, 4.0], (1, 4), np.array([1.0, 4.0]), np.array([1, 4], dtype=np.int32), range(1, 5, 3),
     [np.float32(1.0), Decimal(4)]],
    ids=["list", "tuple", "ndarray", "int-ndarray", "range", "scalars"],
)
def test_sequence_parameters_take_any_sequence_of_numbers(values):
    assert _voridez.Stats.geomean(values) == pytest.approx(2.0)
    assert _voridez._stats(values).count == 2


@pytest.mark.parametrize(
    "value, message",
    [
        ("14", "Can't extract `str` to `Vec`"),
        (5, "'int' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
        ({1.0: 2.0}, "'dict' object is not an instance of 'Sequence'"),
        ({1.0, 2.0}, "'set' object is not an instance of 'Sequence'"),
        ((x for x in [1.0]), "'generator' object is not an instance of 'Sequence'"),
    ],
    ids=["str", "int", "None", "dict", "set", "generator"],
)
def test_sequence_parameters_refuse_non_sequences(value, message):
    for call in (lambda: _voridez.Stats.geomean(value), lambda: _voridez.Stats.geomean(values=value)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'values'"]


def test_sequence_item_failure_keeps_the_item_error_and_the_note():
    with pytest.raises(TypeError) as info:
        _voridez._stats([1.0, "2.0"])
    assert str(info.value) == interpreter_float_error("2.0")
    assert info.value.__notes__ == ["while processing 'values'"]


def test_sequence_item_exception_passes_through_unchanged():
    class Exploding:
        def __float__(self):
            raise KeyError("boom")

    with pytest.raises(KeyError) as info:
        _voridez._stats([Exploding()])
    assert info.value.args == ("boom",)
    assert info.value.__notes__ == ["while processing 'values'"]
