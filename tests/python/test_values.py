"""The Stats and BBox value classes."""

import math

import numpy as np
import pytest

from voridez import _voridez

Stats = _voridez.Stats
NAN = float("nan")
INF = float("inf")


def same(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


def test_stats_of_one_to_four():
    s = _voridez._stats([4.0, 2.0, 1.0, 3.0])
    assert s.count == 4 and isinstance(s.count, int)
    assert (s.mean, s.min, s.max, s.sum, s.p50) == (2.5, 1.0, 4.0, 10.0, 2.5)
    assert s.std == pytest.approx(math.sqrt(1.25), rel=1e-15)
    assert s.percentile(0.25) == 1.75
    assert s.percentile(p=0.25) == 1.75


def test_stats_agree_with_numpy_on_random_values():
    rng = np.random.default_rng(7)
    values = rng.normal(10.0, 3.0, size=101)
    s = _voridez._stats(values)
    assert s.mean == pytest.approx(values.mean(), rel=1e-12)
    assert s.std == pytest.approx(values.std(), rel=1e-12)
    for p, got in [(10, s.p10), (50, s.p50), (90, s.p90)]:
        assert got == pytest.approx(np.percentile(values, p), rel=1e-12)
    for p in [0.0, 0.013, 0.37, 0.5, 0.999, 1.0]:
        assert s.percentile(p) == pytest.approx(np.percentile(values, 100 * p), rel=1e-12)


def test_single_value():
    s = _voridez._stats([7.0])
    assert s.std == 0.0
    for p in [0.0, 0.1, 0.5, 0.9, 1.0]:
        assert s.percentile(p) == 7.0
    assert (s.p10, s.p50, s.p90) == (7.0, 7.0, 7.0)


@pytest.mark.parametrize("p, field", [(-3, "min"), (0, "min"), (1, "max"), (2, "max"), (50, "max"), (0.5, "p50")])
def test_percentile_clamps_into_zero_one(p, field):
    s = _voridez._stats([3.0, -1.0, 8.0, 5.5, 2.0])
    assert s.percentile(p) == getattr(s, field)


def test_percentile_of_nan_and_of_empty_stats_is_nan():
    assert math.isnan(_voridez._stats([1.0, 2.0]).percentile(NAN))
    empty = _voridez._stats([])
    for p in [0.0, 0.5, 1.0]:
        assert math.isnan(empty.percentile(p))


def test_empty_stats():
    s = _voridez._stats([NAN, NAN])
    assert s.count == 0
    assert s.sum == 0.0
    for name in ["mean", "min", "max", "std", "p10", "p50", "p90"]:
        assert math.isnan(getattr(s, name)), name
    assert repr(s) == "Stats(count=0, mean=NaN, min=NaN, max=NaN, p50=NaN)"


def test_nan_is_skipped_and_infinities_kept():
    s = _voridez._stats([NAN, 1.0, INF, 3.0, NAN])
    assert s.count == 3
    assert (s.min, s.max) == (1.0, INF)
    # Interpolating next to an infinite value gives NaN (infinity times zero).
    assert math.isnan(_voridez._stats([1.0, INF]).percentile(0.0))


@pytest.mark.parametrize("p", ["0.5", None, [0.5]], ids=["str", "None", "list"])
def test_percentile_refuses_non_numbers(p):
    with pytest.raises(TypeError) as info:
        _voridez._stats([1.0]).percentile(p)
    assert info.value.__notes__ == ["while processing 'p'"]


@pytest.mark.parametrize(
    "values, expected",
    [([1, 4, -5], 2.0), ([2.0, 8.0, 0.0, NAN, INF], 4.0), ([], NAN), ([0, 0], NAN), ([-1.0], NAN)],
)
def test_geomean(values, expected):
    assert same(Stats.geomean(values), expected)
    assert same(_voridez._stats([1.0]).geomean(values), expected)


@pytest.mark.parametrize(
    "values, text",
    [
        ([1.0, 2.0, 3.0, 4.0], "Stats(count=4, mean=2.5, min=1, max=4, p50=2.5)"),
        ([0.25], "Stats(count=1, mean=0.25, min=0.25, max=0.25, p50=0.25)"),
        ([1e21], "Stats(count=1, mean=1000000000000000000000, min=1000000000000000000000, "
                 "max=1000000000000000000000, p50=1000000000000000000000)"),
        ([-INF, 0.1], "Stats(count=2, mean=-inf, min=-inf, max=0.1, p50=NaN)"),
    ],
)
def test_stats_repr_and_str(values, text):
    s = _voridez._stats(values)
    assert repr(s) == text
    assert str(s) == text


def test_stats_docstrings():
    assert Stats.__doc__ == (
        "Summary statistics over defined (non-NaN) values. Read-only: every field is\n"
        "a getter; arbitrary quantiles come from [`Stats::percentile`]."
    )
    assert Stats.percentile.__doc__ == "Arbitrary percentile, `p` in `[0, 1]`."
    assert Stats.geomean.__doc__ == (
        "Geometric mean of positive, non-NaN `values` \u2014 the natural average for\n"
        "log-normal quantities such as permeability. Static: `Stats.geomean([...])`."
    )
    for name in ["count", "mean", "min", "max", "std", "sum", "p10", "p50", "p90"]:
        assert getattr(Stats, name).__doc__ is None


@pytest.mark.parametrize(
    "box, text",
    [
        ((0.0, 0.0, 2.5, 10.0), "BBox(xmin=0, ymin=0, xmax=2.5, ymax=10)"),
        ((5.0, -1.5, 1.0, NAN), "BBox(xmin=5, ymin=-1.5, xmax=1, ymax=NaN)"),
        ((-INF, 0.1, INF, 1e-7), "BBox(xmin=-inf, ymin=0.1, xmax=inf, ymax=0.0000001)"),
    ],
)
def test_bbox_fields_repr_and_str(box, text):
    b = _voridez._bbox(*box)
    assert all(same(got, want) for got, want in zip((b.xmin, b.ymin, b.xmax, b.ymax), box))
    assert repr(b) == text
    assert str(b) == text
    assert _voridez.BBox.__doc__ == "An axis-aligned 2-D bounding box (read-only)."
