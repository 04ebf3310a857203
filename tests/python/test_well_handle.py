"""The Well handle: what it reads of the project, bore listings, the default
bore, its representation, the attribute fallback to formation tops, and how a
handle answers once its well is gone."""

import warnings

import pytest

from project_files import las, load_well, petrel_tops, wellpath
from voridez import GeoData, Interval, Sidetrack, Well


def vertical(folder, stem, hx=100.0, hy=200.0, datum=25.0, td=1200.0):
    wellpath(folder / f"{stem}.wellpath", hx, hy, datum, [(0.0, 0.0), (td / 2, td / 2), (td, td)])


@pytest.fixture
def project(tmp_path):
    """W1: one survey (main bore only); W2: two surveys (bores A and B, both
    with a trajectory, so multi-bore), a named bore C without one; tops on W1."""
    geo = GeoData()
    d1 = tmp_path / "w1"
    vertical(d1, "W1", hx=10.0, hy=20.0, datum=30.5)
    las(d1 / "W1.las", ["GR"], [100.0, 200.0, 300.0])
    geo.load_well("W1", files=str(d1))
    d2 = tmp_path / "w2"
    vertical(d2, "W2_A")
    vertical(d2, "W2_B")
    geo.load_well("W2", files=str(d2))
    petrel_tops(tmp_path / "tops.txt", [("Horizon", "Top Sand", "W1", 300.0), ("Horizon", "kb", "W1", 400.0),
                                         ("Horizon", "Base Sand", "W1", 500.0)])
    geo.load_well_tops(str(tmp_path / "tops.txt"))
    return geo


def test_getters_read_the_stored_well(project):
    w = project.well("W1")
    assert isinstance(w, Well)
    assert w.id == "W1"
    assert w.head == (10.0, 20.0) and isinstance(w.head, tuple)
    assert w.kb == 30.5
    assert (w.crs, w.default_bore, w.is_multibore) == (None, None, False)
    assert w.bores() == [""]
    assert project.well("W2").bores() == ["", "A", "B"]
    assert project.well("W2").is_multibore is True


def test_sidetrack_handles_follow_the_bore_order(project):
    w = project.well("W2")
    sts = w.sidetracks()
    assert [type(s) for s in sts] == [Sidetrack] * 3
    assert w.sidetrack("") is not None and w.sidetrack("A") is not None
    assert w.sidetrack("a") is None and w.sidetrack("C") is None
    with pytest.raises(TypeError):
        w.sidetrack(None)


def test_default_bore(project):
    w = project.well("W2")
    with pytest.raises(ValueError) as info:
        w.set_default_bore("a")  # labels match exactly
    assert str(info.value) == "not found: well 'W2' has no bore 'a' (bores: A, B)"
    assert w.default_bore is None
    w.set_default_bore(label="B")
    assert w.default_bore == "B"
    # Another handle on the same well sees it: it lives in the project.
    assert project.well("W2").default_bore == "B"
    w.set_default_bore("")
    assert w.default_bore == ""
    with pytest.raises(TypeError):
        w.set_default_bore(None)


@pytest.mark.parametrize(
    "well_id, text",
    [("15/9-A1", 'Well(id="15/9-A1")'), ('say "hi"\\', 'Well(id="say \\"hi\\"\\\\")'), ("tab\tnl\n", 'Well(id="tab\\tnl\\n")')],
)
def test_repr_escapes_the_id_and_needs_no_well(tmp_path, well_id, text):
    geo = GeoData()
    w = load_well(geo, well_id, tmp_path)
    assert repr(w) == text
    geo.delete_well(well_id)
    assert repr(w) == text and w.id == well_id


def test_attribute_fallback_finds_tops(project):
    w = project.well("W1")
    # Names match ASCII case-insensitively; attribute syntax needs a name
    # without blanks, getattr reaches any top.
    assert isinstance(getattr(w, "TOP SAND"), Interval)
    assert isinstance(getattr(w, "base sand"), Interval)
    # A member wins over a top of the same name; `kb` is the datum.
    assert w.kb == 30.5
    with pytest.raises(AttributeError) as info:
        w.no_such_top
    assert str(info.value) == "'Well' object has no attribute or top 'no_such_top'"
    with pytest.raises(AttributeError) as info:
        w._private
    assert str(info.value) == "_private"


def test_attribute_fallback_uses_the_main_bore_of_a_multibore_well(project):
    # No guard on the fallback: W2 has no default bore and still answers from
    # its main bore (which has no tops), so the lookup simply fails.
    with pytest.raises(AttributeError):
        project.well("W2").top_sand


def test_stale_handles(project):
    w = project.well("W1")
    project.rename_well("W1", "W1-renamed")
    for read in (lambda: w.head, lambda: w.kb, lambda: w.bores(), lambda: w.sidetracks(),
                 lambda: w.sidetrack(""), lambda: w.set_default_bore(""), lambda: w.is_multibore):
        with pytest.raises(ValueError) as info:
            read()
        assert str(info.value) == "no well 'W1'"
    # hasattr does not swallow the project's answer.
    with pytest.raises(ValueError):
        hasattr(w, "top_sand")
    assert repr(w) == 'Well(id="W1")'
    project.rename_well("W1-renamed", "W1")
    assert w.kb == 30.5


def test_the_handle_keeps_its_project_alive(tmp_path):
    geo = GeoData()
    vertical(tmp_path / "w", "W")
    w = geo.load_well("W", files=str(tmp_path / "w"))
    del geo
    assert w.kb == 25.0


def test_handles_are_not_values(project):
    a, b = project.well("W1"), project.well("W1")
    assert a is not b and a != b
    assert hash(a) != hash(b)  # identity hashing
    with pytest.raises(TypeError):
        Well()
    with pytest.raises(TypeError):
        type("Sub", (Well,), {})


def test_a_warnings_hook_cannot_read_a_well_while_the_project_is_being_changed(project):
    """strat_hint warns under exclusive access to the project: a handle read
    from the warnings hook fails at once instead of seeing a half-changed
    project."""
    w = project.well("W2")
    seen = []

    def show(*args, **kwargs):
        for read in (lambda: w.kb, lambda: w.bores(), lambda: w.set_default_bore("A")):
            try:
                read()
            except RuntimeError as e:
                seen.append(str(e))

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = show
        project.strat_hint("A < B")
    assert seen == ["Already mutably borrowed", "Already mutably borrowed", "Already borrowed"]
    assert w.default_bore is None
