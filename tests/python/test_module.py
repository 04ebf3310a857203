"""The module itself: version, registered names and their order, module
functions, re-import."""

import importlib
import shutil
import subprocess
import sys

import pytest

import voridez
from voridez import _voridez
from conftest import REGISTRATION_ORDER


def test_version():
    assert voridez.__version__ == "0.3.15"
    assert _voridez.__version__ == "0.3.15"


def test_all_lists_registered_names_in_registration_order():
    present = [n for n in REGISTRATION_ORDER if hasattr(_voridez, n)]
    assert _voridez.__all__ == present
    assert _voridez.__all__[:2] == ["__version__", "canonical_mnemonic"]
    assert {"Stats", "BBox"} <= set(_voridez.__all__)


def test_private_helpers_stay_out_of_all():
    assert all(not n.startswith("_") or n == "__version__" for n in _voridez.__all__)
    for name in ["_warn", "_stats", "_bbox"]:
        assert callable(getattr(_voridez, name))
        assert not hasattr(voridez, name)


def test_package_reexports_the_extension():
    assert voridez.__all__ == _voridez.__all__
    namespace = {}
    exec("from voridez import *", namespace)
    assert {n for n in namespace if n != "__builtins__"} == set(_voridez.__all__)
    for name in _voridez.__all__:
        assert getattr(voridez, name) is getattr(_voridez, name)


def test_module_docstring():
    assert _voridez.__doc__ == (
        "The compiled extension module (`voridez._voridez`); re-exported by the\n"
        "`voridez` Python package's `__init__`."
    )


def test_canonical_mnemonic_function_object():
    fn = voridez.canonical_mnemonic
    assert fn.__module__ == "_voridez"
    assert fn.__name__ == "canonical_mnemonic"
    assert fn.__text_signature__ == "(raw)"
    assert fn.__doc__ == (
        "Canonical curve mnemonic for a raw LAS mnemonic (case-insensitive, trimmed,\n"
        "vintage-tag stripped). voridez is the family's curve-name authority \u2014 the\n"
        "`WellLogBundle` producer and any consumer normalize through this. An\n"
        "unrecognised mnemonic passes through (vintage-stripped, original case)."
    )


@pytest.mark.parametrize(
    "raw, canonical",
    [
        ("  gr_2019  ", "GR"),
        ("k", "PERM"),
        ("Net_Gross", "NTG"),
        ("Foo_2019", "Foo"),
        ("phie_19", "phie_19"),
        ("\u2003Sw_1999\u3000", "SW"),
        ("\ud800_2019", "\ud800"),
        ("x\udcff ", "x\udcff"),
    ],
)
def test_canonical_mnemonic_positional_and_keyword(raw, canonical):
    assert voridez.canonical_mnemonic(raw) == canonical
    assert voridez.canonical_mnemonic(raw=raw) == canonical


def test_canonical_mnemonic_accepts_str_subclasses():
    class Name(str):
        pass

    assert voridez.canonical_mnemonic(Name("sw_2001")) == "SW"


@pytest.mark.parametrize(
    "value, message",
    [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"GR", "'bytes' object is not an instance of 'str'"),
        (["GR"], "'list' object is not an instance of 'str'"),
    ],
)
def test_canonical_mnemonic_wrong_type(value, message):
    with pytest.raises(TypeError) as info:
        voridez.canonical_mnemonic(value)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'raw'"]
    with pytest.raises(TypeError) as info:
        voridez.canonical_mnemonic(raw=value)
    assert info.value.__notes__ == ["while processing 'raw'"]


def test_reimport_runs_the_step_again_with_the_same_classes():
    first = sys.modules["voridez._voridez"]
    try:
        del sys.modules["voridez._voridez"]
        second = importlib.import_module("voridez._voridez")
        assert second is not first
        assert second.__all__ == first.__all__
        for name in first.__all__:
            if name[0].isupper():
                assert getattr(second, name) is getattr(first, name)
        assert second.canonical_mnemonic("gr") == "GR"
    finally:
        sys.modules["voridez._voridez"] = first


@pytest.mark.skipif(
    not sys.platform.startswith("linux") or shutil.which("nm") is None, reason="reads the ELF symbol table with nm"
)
def test_the_extension_exports_only_its_initialisation_entry():
    listed = subprocess.run(
        ["nm", "-D", "--defined-only", _voridez.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listed.splitlines() if line.strip()] == ["PyInit__voridez"]
