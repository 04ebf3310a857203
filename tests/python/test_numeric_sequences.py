"""Numeric sequences from Python: objects with the buffer protocol (numpy
arrays, array.array, memoryview) are read from their memory and give exactly
what the sequence protocol gives for the same values."""

import array
import math

import numpy as np
import pytest

from voridez import Stats, _voridez

VALUES = [3.0, -1.5, 0.0, 2.0**60 + 1, -(2.0**-1074), 7.0, 1e308]


def stats_fields(s):
    return (s.count, s.mean, s.min, s.max, s.sum, s.p10, s.p50, s.p90)


def same_fields(a, b):
    return all(x == y or (math.isnan(x) and math.isnan(y)) for x, y in zip(a, b))


@pytest.mark.parametrize(
    "dtype",
    ["<f8", "=f8", "f4", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "?", "float16", ">f8", ">i4", "O"],
)
def test_numpy_arrays_agree_with_their_lists(dtype):
    if dtype == "?":
        arr = np.array([True, False, True, True])
    elif dtype[-2:] in ("f8", "f4") or dtype == "float16" or dtype == "O":
        arr = np.array([v for v in VALUES if abs(v) < 6e4] + [math.nan, -0.0], dtype=dtype)
    else:
        arr = np.array([1, 2, 3, 100, 0], dtype=dtype)
    as_list = arr.tolist()
    assert same_fields(stats_fields(_voridez._stats(arr)), stats_fields(_voridez._stats(as_list)))
    assert Stats.geomean(arr) == Stats.geomean(as_list) or (
        math.isnan(Stats.geomean(arr)) and math.isnan(Stats.geomean(as_list))
    )


def test_large_integers_round_like_python_floats():
    arr = np.array([2**63 - 1, 2**53 + 1, -(2**62) - 3], dtype=np.int64)
    u = np.array([2**64 - 1, 2**53 + 3], dtype=np.uint64)
    assert _voridez._stats(arr).max == float(2**63 - 1)
    assert _voridez._stats(arr).sum == _voridez._stats([float(v) for v in arr.tolist()]).sum
    assert _voridez._stats(u).max == float(2**64 - 1)


@pytest.mark.parametrize(
    "make",
    [
        lambda: array.array("d", VALUES),
        lambda: array.array("q", [1, -2, 3]),
        lambda: memoryview(array.array("f", [1.5, 2.5])),
        lambda: np.arange(20.0)[::3],  # strided
        lambda: np.arange(12.0).reshape(3, 4)[:, 1],  # column of a matrix
        lambda: np.asfortranarray(np.arange(6.0).reshape(2, 3))[1],
        lambda: np.array([], dtype=float),
    ],
)
def test_other_buffers_agree_with_their_lists(make):
    obj = make()
    as_list = list(obj) if not isinstance(obj, np.ndarray) else obj.tolist()
    assert same_fields(stats_fields(_voridez._stats(obj)), stats_fields(_voridez._stats(as_list)))


class NoIteration(np.ndarray):
    """An array that fails whenever the sequence protocol is used on it."""

    def __iter__(self):
        raise AssertionError("iterated")

    def __getitem__(self, key):
        raise AssertionError("indexed")

    def __len__(self):
        raise AssertionError("measured")


def test_arrays_are_read_without_the_sequence_protocol():
    arr = np.arange(1.0, 1001.0).view(NoIteration)
    s = _voridez._stats(arr)
    assert (s.count, s.sum) == (1000, 500500.0)


@pytest.mark.parametrize(
    "bad",
    [
        np.array(["1.0", "x"], dtype=object),
        np.zeros((2, 2)),
        np.array(3.0),
        "12",
    ],
)
def test_what_the_fast_path_does_not_take_fails_as_the_sequence_path_does(bad):
    with pytest.raises(TypeError) as info:
        Stats.geomean(bad)
    assert "while processing 'values'" in info.value.__notes__


def test_str_is_refused_with_the_vec_message():
    with pytest.raises(TypeError) as info:
        Stats.geomean("1.0")
    assert str(info.value) == "Can't extract `str` to `Vec`"
