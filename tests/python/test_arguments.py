"""Argument binding: every callable fails like a Python function of the same
signature would, and its signature is what inspection shows."""

import inspect

import pytest

from voridez import _voridez
from conftest import twin, type_error_text

Stats = _voridez.Stats
SAMPLE = _voridez._stats([1.0, 2.0, 3.0])

# (binding callable, qualified name and parameters of its Python twin)
CALLABLES = {
    "canonical_mnemonic": (_voridez.canonical_mnemonic, "canonical_mnemonic", "raw"),
    "percentile": (SAMPLE.percentile, "Stats.percentile", "p"),
    "geomean": (Stats.geomean, "Stats.geomean", "values"),
    "_warn": (_voridez._warn, "_warn", "message, user=False"),
    "_bbox": (_voridez._bbox, "_bbox", "xmin, ymin, xmax, ymax"),
}

BAD_CALLS = [
    ("canonical_mnemonic", (), {}),
    ("canonical_mnemonic", ("a", "b"), {}),
    ("canonical_mnemonic", ("a", "b", "c"), {}),
    ("canonical_mnemonic", ("a",), {"raw": "b"}),
    ("canonical_mnemonic", (), {"mnemonic": "GR"}),
    ("canonical_mnemonic", (), {"raw": "GR", "extra": 1}),
    ("percentile", (), {}),
    ("percentile", (0.1, 0.2), {}),
    ("percentile", (0.1,), {"p": 0.2}),
    ("percentile", (), {"q": 0.5}),
    ("geomean", (), {}),
    ("geomean", ([1.0], [2.0]), {}),
    ("_warn", (), {}),
    ("_warn", (), {"user": True}),
    ("_warn", ("m", True, 3), {}),
    ("_warn", ("m", True), {"user": False}),
    ("_warn", ("m",), {"message": "x"}),
    ("_warn", ("m",), {"category": "x"}),
    ("_bbox", (), {}),
    ("_bbox", (1.0,), {}),
    ("_bbox", (1.0, 2.0), {}),
    ("_bbox", (1.0,), {"ymax": 2.0}),
    ("_bbox", (1.0, 2.0, 3.0, 4.0, 5.0), {}),
    ("_bbox", (1.0, 2.0, 3.0), {"xmin": 4.0}),
]


@pytest.mark.parametrize("which, args, kwargs", BAD_CALLS)
def test_argument_errors_read_like_the_interpreter(which, args, kwargs):
    fn, qualname, params = CALLABLES[which]
    expected = type_error_text(twin(qualname, params), args, kwargs)
    assert type_error_text(fn, args, kwargs) == expected


@pytest.mark.parametrize("which", sorted(CALLABLES))
def test_signature_inspection_matches_the_twin(which):
    fn, qualname, params = CALLABLES[which]
    assert str(inspect.signature(fn)) == str(inspect.signature(twin(qualname, params)))


def test_unbound_method_signature_shows_self():
    assert Stats.percentile.__text_signature__ == "($self, p)"
    assert Stats.geomean.__text_signature__ == "(values)"


@pytest.mark.parametrize("which", ["percentile", "_bbox", "_warn"])
def test_keyword_and_positional_forms_agree(which):
    if which == "percentile":
        assert SAMPLE.percentile(0.25) == SAMPLE.percentile(p=0.25)
    elif which == "_bbox":
        a = _voridez._bbox(1, 2, 3, 4)
        b = _voridez._bbox(ymax=4, xmax=3, ymin=2, xmin=1)
        assert (a.xmin, a.ymin, a.xmax, a.ymax) == (b.xmin, b.ymin, b.xmax, b.ymax)
    else:
        import warnings

        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            _voridez._warn("a", True)
            _voridez._warn(user=True, message="b")
        assert [(w.category, str(w.message)) for w in caught] == [(UserWarning, "a"), (UserWarning, "b")]


def test_failed_conversion_names_the_first_bad_parameter():
    with pytest.raises(TypeError) as info:
        _voridez._bbox(0.0, "y", "x", 1.0)
    assert info.value.__notes__ == ["while processing 'ymin'"]
