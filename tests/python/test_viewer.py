"""The bridge to the log viewer: the per-well dictionary, the options handed
to the viewer (only those given, in a fixed order), conflicting option
styles, which bore is shown, the viewer module imported at each call, and
the stand-in viewer that ships with the package."""

import json
import math
import sys
import types

import pytest

import voridez
from voridez import GeoData, _viewer
from view_fixtures import add_well, load_tops

DEPTHS = [100.0, 110.0, 120.0]


class RecordingViewer(types.ModuleType):
    def __init__(self):
        super().__init__("voridez._viewer")
        self.calls = []

    def render(self, *args, **kwargs):
        self.calls.append((args, list(kwargs.items())))
        return "session"


@pytest.fixture
def viewer(monkeypatch):
    fake = RecordingViewer()
    monkeypatch.setitem(sys.modules, "voridez._viewer", fake)
    return fake


@pytest.fixture
def geo(tmp_path):
    geo = GeoData()
    add_well(geo, tmp_path, "W", bores={"": 1000}, kb=25,
             logs={"": (DEPTHS, {"GR": [10.0, 20.0, None], "PHI_E": [0.1, 0.2, 0.3]})})
    load_tops(geo, tmp_path, [("W", "A", 105), ("W", "B", 500)])
    return geo


# ---- the per-well dictionary ----------------------------------------------------


def test_the_well_dictionary(geo, viewer):
    assert geo.well("W").view() == "session"
    (payload,), kwargs = viewer.calls[0]
    assert kwargs == []
    assert list(payload) == ["id", "display_name", "x", "y", "datum_m", "md", "tvd", "curves", "zones"]
    assert (payload["id"], payload["display_name"], payload["x"], payload["y"], payload["datum_m"]) == (
        "W", "W", 1000.0, 2000.0, 25.0)
    assert payload["md"] == DEPTHS
    assert payload["tvd"] == [75.0, 85.0, 95.0]  # the trajectory's depth below sea level
    gr, phi = payload["curves"]
    assert list(gr) == ["mnemonic", "canonical", "unit", "core", "values"]
    assert (gr["mnemonic"], gr["canonical"], gr["unit"], gr["core"]) == ("GR", "GR", "V/V", False)
    assert gr["values"][:2] == [10.0, 20.0] and math.isnan(gr["values"][2])
    assert (phi["mnemonic"], phi["canonical"]) == ("PHI_E", "PHIE")
    assert payload["zones"] == [
        {"name": "A", "top_md": 105.0, "base_md": 500.0, "top_tvd": 80.0, "base_tvd": 475.0},
        {"name": "B", "top_md": 500.0, "base_md": 1000.0, "top_tvd": 475.0, "base_tvd": 975.0},
    ]


@pytest.mark.parametrize(
    "curves, shown",
    [(None, ["GR", "PHI_E"]), (["phie"], ["PHI_E"]), (("gr", "nothing"), ["GR"]), ([], [])],
)
def test_curve_selection(geo, viewer, curves, shown):
    geo.well("W").view(curves=curves)
    payload = viewer.calls[0][0][0]
    assert [c["mnemonic"] for c in payload["curves"]] == shown
    if not shown:
        assert payload["md"] == [] and payload["tvd"] == []
    assert [z["name"] for z in payload["zones"]] == ["A", "B"]


def test_a_one_sample_log_without_trajectory(tmp_path, viewer):
    # a single depth gives no trajectory: depths below sea level are md - kb,
    # and the lone sample shows its own value without reading a second one
    geo = GeoData(unit="ft")
    add_well(geo, tmp_path, "W", kb=30, logs={"": ([250.0], {"GR": [42.0]})}, tops=[("A", 200)])
    geo.well("W").view()
    payload = viewer.calls[0][0][0]
    assert payload["datum_m"] == 30.0  # in the project's unit, feet here
    assert (payload["md"], payload["tvd"]) == ([250.0], [220.0])
    assert payload["curves"][0]["values"] == [42.0]
    zone = payload["zones"][0]
    assert (zone["top_tvd"], math.isnan(zone["base_md"]), math.isnan(zone["base_tvd"])) == (170.0, True, True)


def test_a_well_without_logs_shows_its_main_bore_empty(tmp_path, viewer):
    geo = GeoData()
    add_well(geo, tmp_path, "W", bores={"": 1000})
    geo.well("W").view()
    payload = viewer.calls[0][0][0]
    assert (payload["md"], payload["tvd"], payload["curves"], payload["zones"]) == ([], [], [], [])


# ---- options ------------------------------------------------------------------------


def test_the_help_names_what_tops_takes(geo):
    for method in (type(geo.well("W")).view, type(geo.wells).view):
        assert "`tops` (`True` or a list of top names)" in " ".join(method.__doc__.split())


def test_keywords_reach_render_in_their_fixed_order(geo, viewer):
    spec, settings, template, tops = types.SimpleNamespace(curves=None), object(), object(), [1]
    geo.well("W").view(settings=settings, template=template, spec=spec)
    geo.well("W").view(save="out.json", serve=False, flags=("F1",), phie_cutoff=1, flatten_default="A", tops=tops)
    first, second = viewer.calls
    assert first[1] == [("spec", spec), ("settings", settings), ("template", template)]
    assert second[1] == [("tops", tops), ("flatten_default", "A"), ("phie_cutoff", 1.0), ("flags", ["F1"]),
                         ("serve", False), ("save", "out.json")]
    assert type(second[1][2][1]) is float and type(second[1][3][1]) is list


def test_none_counts_as_not_given(geo, viewer):
    geo.well("W").view(spec=None, curves=None, serve=None, template=None)
    assert viewer.calls[0][1] == []


SPEC_CONFLICT = (
    "view(): pass EITHER spec=ViewSpec(...) OR the legacy curves/tops/flatten_default/phie_cutoff/flags kwargs, "
    "not both"
)
SETTINGS_CONFLICT = "view(): pass EITHER settings=ViewSettings(...) OR the legacy serve/save kwargs, not both"


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"spec": _viewer.ViewSpec(), "curves": ["GR"]}, SPEC_CONFLICT),
        ({"spec": _viewer.ViewSpec(), "tops": True}, SPEC_CONFLICT),
        ({"spec": _viewer.ViewSpec(), "phie_cutoff": 0.1}, SPEC_CONFLICT),
        ({"settings": _viewer.ViewSettings(), "serve": False}, SETTINGS_CONFLICT),
        ({"settings": _viewer.ViewSettings(), "save": "x"}, SETTINGS_CONFLICT),
        # both conflicts: the spec one is reported
        ({"spec": _viewer.ViewSpec(), "settings": _viewer.ViewSettings(), "flags": ["F"], "serve": True},
         SPEC_CONFLICT),
    ],
)
def test_option_conflicts(geo, viewer, monkeypatch, kwargs, message):
    for target in (geo.well("W"), geo.wells):
        with pytest.raises(ValueError) as info:
            target.view(**kwargs)
        assert str(info.value) == message
    # reported even when the viewer is missing
    monkeypatch.setitem(sys.modules, "voridez._viewer", None)
    with pytest.raises(ValueError):
        geo.well("W").view(**kwargs)
    assert viewer.calls == []


def test_template_and_option_objects_never_conflict(geo, viewer):
    geo.well("W").view(spec=_viewer.ViewSpec(), template="t", serve=True)
    geo.well("W").view(settings=_viewer.ViewSettings(), template="t", curves=["GR"])
    assert len(viewer.calls) == 2


@pytest.mark.parametrize(
    "kwargs, name, text",
    [
        ({"curves": "GR"}, "curves", "Can't extract `str` to `Vec`"),
        ({"flags": "F"}, "flags", "Can't extract `str` to `Vec`"),
        ({"curves": [1]}, "curves", None),
        ({"flatten_default": 1}, "flatten_default", None),
        ({"phie_cutoff": "0.1"}, "phie_cutoff", None),
        ({"serve": 1}, "serve", None),
        ({"save": b"x"}, "save", None),
    ],
)
def test_argument_types(geo, viewer, kwargs, name, text):
    with pytest.raises(TypeError) as info:
        geo.well("W").view(**kwargs)
    assert f"while processing '{name}'" in info.value.__notes__
    if text:
        assert str(info.value) == text


def test_the_spec_decides_the_curves(geo, viewer):
    geo.well("W").view(spec=types.SimpleNamespace(curves=["gr"]))
    assert [c["mnemonic"] for c in viewer.calls[0][0][0]["curves"]] == ["GR"]
    geo.well("W").view(spec=types.SimpleNamespace(curves=None))
    assert len(viewer.calls[1][0][0]["curves"]) == 2
    with pytest.raises(TypeError) as info:
        geo.well("W").view(spec=types.SimpleNamespace(curves="GR"))
    assert str(info.value) == "Can't extract `str` to `Vec`"
    with pytest.raises(AttributeError):
        geo.well("W").view(spec=object())
    with pytest.raises(TypeError):
        geo.well("W").view(spec=types.SimpleNamespace(curves=3))


# ---- which bore ---------------------------------------------------------------------


@pytest.fixture
def multibore(tmp_path):
    geo = GeoData()
    add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900},
             logs={"L1": ([1.0, 2.0], {"GR": [1.0, 2.0]}), "L2": ([3.0, 4.0, 5.0], {"GR": [3.0, 4.0, 5.0]})})
    return geo


def test_several_bores_with_logs_need_a_default(multibore, viewer):
    message = "well 'M' has 2 bores carrying logs (L1, L2) \u2014 view() can't pick one; call set_default_bore(name) first"
    for target in (multibore.well("M"), multibore.wells):
        with pytest.raises(ValueError) as info:
            target.view(curves=[])  # the selection plays no part in the choice
        assert str(info.value) == message
    assert viewer.calls == []
    multibore.well("M").set_default_bore("L2")
    multibore.well("M").view()
    assert viewer.calls[0][0][0]["md"] == [3.0, 4.0, 5.0]


def test_the_only_bore_with_logs_is_shown(tmp_path, viewer):
    geo = GeoData()
    add_well(geo, tmp_path, "M", bores={"L1": 1000, "L2": 900}, logs={"L2": ([3.0], {"GR": [3.0]})})
    geo.well("M").view()
    assert viewer.calls[0][0][0]["md"] == [3.0]


def test_a_view_of_many_wells(geo, tmp_path, viewer):
    add_well(geo, tmp_path, "V", bores={"": 1000}, logs={"": ([7.0], {"GR": [1.0]})})
    geo.wells.view(curves=["GR"], serve=False)
    (payload,), kwargs = viewer.calls[0]
    assert [d["id"] for d in payload] == ["W", "V"] and kwargs == [("serve", False)]
    view = geo.wells
    geo.delete_well("W")
    geo.delete_well("V")
    view.view()
    assert viewer.calls[1][0] == ([],)
    assert geo.well("W") is None and view.len() == 2  # gone from the project, still in the view
    with pytest.raises(ValueError) as info:
        view.iter()[0].view()
    assert str(info.value) == "no well 'W'"


# ---- the viewer module --------------------------------------------------------------


def test_a_missing_viewer_module(geo, monkeypatch):
    monkeypatch.setitem(sys.modules, "voridez._viewer", None)
    for target in (geo.well("W"), geo.wells):
        with pytest.raises(ImportError) as info:
            target.view()
        assert str(info.value).startswith(
            "voridez._viewer (the WellLogBundle producer) failed to import: ModuleNotFoundError: ")
    # the producer hook imports nothing
    assert geo.well("W").sidetrack("")._view_raw()["id"] == "W"


class _Holder:
    class Failure(Exception):
        """An exception class nested in another: its type name and its
        qualified name differ."""


class _FailingFinder:
    def find_spec(self, name, path=None, target=None):
        if name == "voridez._viewer":
            raise _Holder.Failure("viewer broke")
        return None


def test_an_import_failure_is_shown_by_its_type_name(geo, monkeypatch):
    monkeypatch.delitem(sys.modules, "voridez._viewer")
    monkeypatch.setattr(sys, "meta_path", [_FailingFinder()] + sys.meta_path)
    with pytest.raises(ImportError) as info:
        geo.well("W").view()
    assert str(info.value) == "voridez._viewer (the WellLogBundle producer) failed to import: Failure: viewer broke"


def test_the_producer_hook_gathers_exactly_its_bore(multibore, viewer):
    well = multibore.well("M")
    assert well.default_bore is None
    raw = well.sidetrack("L1")._view_raw()
    assert raw["md"] == [1.0, 2.0] and list(raw)[0] == "id"
    assert well.sidetrack("L2")._view_raw(curves=["nothing"])["curves"] == []
    assert well.default_bore is None and viewer.calls == []
    with pytest.raises(TypeError) as info:
        well.sidetrack("L1")._view_raw(curves="GR")
    assert "while processing 'curves'" in info.value.__notes__
    gone = well.sidetrack("L2")
    multibore.delete_well("M")
    with pytest.raises(ValueError) as info:
        gone._view_raw()
    assert str(info.value) == "no well 'M'"


def test_render_errors_propagate(geo, monkeypatch):
    monkeypatch.setitem(sys.modules, "voridez._viewer", types.ModuleType("voridez._viewer"))
    with pytest.raises(AttributeError):
        geo.well("W").view()

    class Failing(types.ModuleType):
        def render(self, payload, **kwargs):
            raise KeyError("viewer")

    monkeypatch.setitem(sys.modules, "voridez._viewer", Failing("voridez._viewer"))
    with pytest.raises(KeyError):
        geo.well("W").view()


def test_render_may_use_the_project(geo, monkeypatch):
    class Reentrant(types.ModuleType):
        def render(self, payload, **kwargs):
            geo.set_tags(["seen"])  # no access to the project is held meanwhile
            return payload["id"]

    monkeypatch.setitem(sys.modules, "voridez._viewer", Reentrant("voridez._viewer"))
    assert geo.well("W").view() == "W" and geo.tags == ["seen"]


def test_the_stand_in_viewer(geo, tmp_path):
    session = geo.well("W").view(curves=["GR"], phie_cutoff=1)
    assert isinstance(session, _viewer.LogSession)
    payload = session.bundle()
    assert payload["id"] == "W" and [c["mnemonic"] for c in payload["curves"]] == ["GR"]
    assert session.spec.phie_cutoff == 1.0 and session.settings.serve is True
    path = session.save(str(tmp_path / "bundle.json"))
    document = json.loads(open(path, encoding="utf-8").read())
    assert document["wells"]["curves"][0]["values"] == [10.0, 20.0, None]  # NaN as null
    assert document["spec"]["phie_cutoff"] == 1.0
    with pytest.raises(RuntimeError, match="no interactive viewer is installed"):
        session.serve()
    saved = geo.wells.view(settings=_viewer.ViewSettings(serve=False, save=str(tmp_path / "all.json")))
    assert json.loads((tmp_path / "all.json").read_text())["wells"][0]["id"] == "W"
    assert saved.settings.serve is False and repr(saved) == "LogSession(wells=1)"
    assert "_viewer" not in voridez.__all__
