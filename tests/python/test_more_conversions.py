"""Conversions of bytes and of sequences of optional texts, and calls into
other Python modules with positional and keyword arguments."""

import array
import collections

import pytest

from voridez import _voridez


class Bytes(bytes):
    pass


@pytest.mark.parametrize("data", [b"", b"\x00\xff\x00", bytes(range(256)), Bytes(b"sub")])
def test_bytes_arrive_unchanged(data):
    out = _voridez._bytes(data)
    assert type(out) is bytes
    assert out == data


@pytest.mark.parametrize(
    "data, message",
    [
        (bytearray(b"ab"), "'bytearray' object is not an instance of 'bytes'"),
        (memoryview(b"ab"), "'memoryview' object is not an instance of 'bytes'"),
        (array.array("B", [1, 2]), "'array' object is not an instance of 'bytes'"),
        ("ab", "'str' object is not an instance of 'bytes'"),
        ([1, 2], "'list' object is not an instance of 'bytes'"),
        (None, "'None' is not an instance of 'bytes'"),
    ],
)
def test_only_bytes_are_bytes(data, message):
    with pytest.raises(TypeError) as info:
        _voridez._bytes(data)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'data'"]


@pytest.mark.parametrize(
    "values, expected",
    [
        ([], []),
        (["a", None, "\u00e9", ""], ["a", None, "\u00e9", ""]),
        ((None, None), [None, None]),
        (collections.deque(["x"]), ["x"]),
    ],
)
def test_sequences_of_optional_texts(values, expected):
    assert _voridez._optional_texts(values) == expected


@pytest.mark.parametrize(
    "values, message",
    [
        ("ab", "Can't extract `str` to `Vec`"),
        ([1], "'int' object is not an instance of 'str'"),
        (["a", b"b"], "'bytes' object is not an instance of 'str'"),
        ({"a"}, "'set' object is not an instance of 'Sequence'"),
        (5, "'int' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
    ],
)
def test_sequences_of_optional_texts_refusals(values, message):
    with pytest.raises(TypeError) as info:
        _voridez._optional_texts(values)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'values'"]


def test_call_with_positional_arguments():
    assert _voridez._call_attr("operator", "add", (2, 3)) == 5
    assert _voridez._call_attr("os.path", "join", ["a", "b"]) == __import__("os").path.join("a", "b")
    assert _voridez._call_attr("builtins", "len", ([1, 2, 3],)) == 3


def test_call_keywords_arrive_in_their_order():
    got = _voridez._call_attr("collections", "OrderedDict", (), {"zeta": 1, "alpha": 2, "mid": 3})
    assert list(got.items()) == [("zeta", 1), ("alpha", 2), ("mid", 3)]
    assert _voridez._call_attr("builtins", "int", ("ff",), {"base": 16}) == 255


def test_call_returns_the_object_itself():
    marker = object()
    assert _voridez._call_attr("builtins", "id", (marker,)) == id(marker)
    assert _voridez._call_attr("builtins", "next", (iter([marker]),)) is marker


@pytest.mark.parametrize(
    "module, attr, args, kwargs, error",
    [
        ("voridez_no_such_module", "f", (), None, ModuleNotFoundError),
        ("voridez.no_such_submodule", "f", (), None, ModuleNotFoundError),
        ("operator", "no_such_function", (), None, AttributeError),
        ("operator", "truediv", (1, 0), None, ZeroDivisionError),
        ("builtins", "int", ("x",), {"base": 10}, ValueError),
        ("builtins", "int", ("1",), {"nope": 1}, TypeError),
    ],
)
def test_call_failures_reach_the_caller_unchanged(module, attr, args, kwargs, error):
    with pytest.raises(error):
        _voridez._call_attr(module, attr, args, kwargs)
