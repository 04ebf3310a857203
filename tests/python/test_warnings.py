"""Warnings reach Python's warnings machinery, attributed to the caller's
line; a filter that turns them into errors makes the call raise."""

import inspect
import os
import subprocess
import sys
import warnings

import pytest

from voridez import _voridez


def _record(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        line = inspect.currentframe().f_lineno + 1
        call()
    return caught, line


@pytest.mark.parametrize("user, category", [(False, DeprecationWarning), (True, UserWarning)])
def test_warning_is_attributed_to_the_calling_line(user, category):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        line = inspect.currentframe().f_lineno + 1
        _voridez._warn("use the other thing", user=user)
    assert len(caught) == 1
    w = caught[0]
    assert w.category is category
    assert str(w.message) == "use the other thing"
    assert w.filename == __file__
    assert w.lineno == line


def test_warning_inside_a_helper_names_the_helpers_line():
    caught, _ = _record(lambda: _voridez._warn("inner"))
    assert len(caught) == 1
    # The lambda's line (inside _record's caller) is where the binding was called.
    assert caught[0].filename == __file__
    assert caught[0].lineno == inspect.getsourcelines(test_warning_inside_a_helper_names_the_helpers_line)[1] + 1


def test_deprecation_from_a_script_top_level_is_shown_with_default_filters(tmp_path):
    script = tmp_path / "user_script.py"
    script.write_text("import voridez\nvoridez._voridez._warn('old call')\n")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONWARNINGS"}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    out = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, env=env, check=True)
    assert f"{script}:2: DeprecationWarning: old call" in out.stderr


@pytest.mark.parametrize("user, category", [(False, DeprecationWarning), (True, UserWarning)])
def test_error_filter_makes_the_call_raise(user, category):
    with warnings.catch_warnings():
        warnings.simplefilter("error", category)
        with pytest.raises(category, match="^made an error$"):
            _voridez._warn("made an error", user=user)


def test_other_categories_filtered_to_errors_do_not_affect_a_warning():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        warnings.simplefilter("error", UserWarning)
        _voridez._warn("still a warning")
    assert [w.category for w in caught] == [DeprecationWarning]


def test_failing_warn_function_is_raised(monkeypatch):
    def broken(*args, **kwargs):
        raise LookupError("warn replaced")

    monkeypatch.setattr(warnings, "warn", broken)
    with pytest.raises(LookupError, match="warn replaced"):
        _voridez._warn("x")
