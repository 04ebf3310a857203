"""Wells, well tops and stratigraphic hints: which curve aliases a load uses
(the per-call `IngestSpec` against the sticky, deprecated `aliases=`), the
wellhead a survey decides, Petrel tops with their hints, the hint shorthand,
and the persisted tops as rows of elevations."""

import inspect
import warnings

import pytest

import voridez
from voridez import GeoData, IngestSpec
from project_files import las, petrel_tops, read_container, shared, wellpath, write


def saved(geo, tmp_path, name="p.zedod"):
    path = str(tmp_path / name)
    geo.save(path)
    return read_container(path)


def quiet(call, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return call(*args, **kwargs)


# ---- load_well ------------------------------------------------------------------


def test_files_is_required_and_ingest_excludes_aliases(tmp_path):
    geo = GeoData()
    with pytest.raises(ValueError) as info:
        geo.load_well("W")
    assert str(info.value) == "load_well: `files` (a well directory or file) is required"
    with pytest.raises(ValueError) as info:
        geo.load_well("W", files=str(tmp_path), ingest=IngestSpec(), aliases={})
    assert str(info.value) == (
        "load_well: pass EITHER ingest=IngestSpec(...) OR the deprecated aliases= kwarg, not both"
    )
    assert geo.well("W") is None


def test_a_survey_header_decides_the_wellhead_and_datum(tmp_path):
    wellpath(tmp_path / "w" / "W1.wellpath", 812.5, 900.0, 25.0, [(0, 0), (500, 500)], crs_line="CRS: ED50")
    las(tmp_path / "w" / "W1.las", ["GR"], [100, 110, 120])
    geo = GeoData()
    well = geo.load_well("W1", head=(1.0, 2.0), kb=3.0, files=str(tmp_path / "w"))
    assert (well.head, well.kb, well.crs) == ((812.5, 900.0), 25.0, "CRS: ED50")


@pytest.mark.parametrize(
    "kwargs, head, kb",
    [({}, (0.0, 0.0), 0.0), ({"head": (1, 2.5), "kb": 30}, (1.0, 2.5), 30.0), ({"head": None, "kb": None}, (0.0, 0.0), 0.0)],
)
def test_without_a_survey_the_given_wellhead_stands(tmp_path, kwargs, head, kb):
    path = las(tmp_path / "W.las", ["GR"], [100, 110, 120])
    well = GeoData().load_well("W", files=path, **kwargs)
    assert (well.head, well.kb) == (head, kb)


@pytest.mark.parametrize(
    "kwargs, bad",
    [
        ({"id": 1}, "id"),
        ({"id": "W", "head": [1, 2]}, "head"),
        ({"id": "W", "head": (1, 2, 3)}, "head"),
        ({"id": "W", "head": ("a", 2)}, "head"),
        ({"id": "W", "kb": "x"}, "kb"),
        ({"id": "W", "files": 3}, "files"),
        ({"id": "W", "files": "d", "ingest": {"aliases": {}}}, "ingest"),
        ({"id": "W", "files": "d", "aliases": {"gr": 1}}, "aliases"),
        ({"id": "W", "files": "d", "aliases": [("gr", "GR")]}, "aliases"),
    ],
)
def test_arguments_are_converted_first_in_signature_order(kwargs, bad):
    geo = GeoData()
    with pytest.raises(TypeError) as info:
        geo.load_well(**kwargs)
    assert f"while processing '{bad}'" in info.value.__notes__


def test_a_files_path_that_does_not_exist_stores_nothing(tmp_path):
    """A mistyped path is an error, not an empty well: an empty well would
    also keep the identifier, so the corrected call would get it back."""
    survey = wellpath(tmp_path / "wells" / "W.wellpath", 5.0, 6.0, 7.0, [(0, 0), (100, 100)])
    geo = GeoData()
    for missing in [tmp_path / "wels", tmp_path / "wells" / "W.wellpth"]:
        with pytest.raises(ValueError) as info:
            geo.load_well("W", head=(1.0, 2.0), files=str(missing))
        assert str(info.value) == f"I/O error: '{missing}': No such file or directory (os error 2)"
    assert geo.well("W") is None
    assert geo.load_well("W", files=survey).head == (5.0, 6.0)
    # An empty directory is still a well without files, and says so.
    (tmp_path / "empty").mkdir()
    with pytest.warns(UserWarning, match="holds no LAS, .wellpath or tops CSV file of well 'E'"):
        assert geo.load_well("E", files=str(tmp_path / "empty")).bores() == [""]


def test_an_identifier_already_stored_keeps_its_well(tmp_path):
    first = wellpath(tmp_path / "a" / "W.wellpath", 1.0, 1.0, 10.0, [(0, 0), (100, 100)])
    second = wellpath(tmp_path / "b" / "W.wellpath", 2.0, 2.0, 20.0, [(0, 0), (100, 100)])
    broken = write(tmp_path / "c" / "W.wellpath", "# WELL HEAD X: 1\n")
    geo = GeoData()
    geo.load_well("W", files=first)
    again = geo.load_well("W", files=second)
    assert (again.head, again.kb) == ((1.0, 1.0), 10.0)
    with pytest.raises(ValueError, match=r"^parse error: wellpath '.*': missing wellhead X/Y / KB header"):
        geo.load_well("W", files=broken)
    assert [e["name"] for e in saved(geo, tmp_path)[1]["sections"]] == ["W"]


CURVES = ["phie", "gr_2001", "Foo"]
AS_READ = ["phie", "gr_2001", "Foo"]
CANONICAL = ["PHIE", "GR", "Foo"]


@pytest.fixture
def logs(tmp_path):
    return las(tmp_path / "logs" / "W.las", CURVES, [100, 110, 120])


def mnemonics(geo, well_id="W"):
    return geo.well(well_id).sidetrack("").mnemonics()


def reload(geo, path, **kwargs):
    """Loads `path` as well "W", replacing an earlier "W"."""
    geo.delete_well("W")
    geo.load_well("W", files=path, **kwargs)
    return mnemonics(geo)


def test_mnemonics_stay_as_read_without_an_alias_map(logs):
    assert reload(GeoData(), logs) == AS_READ


def test_an_empty_alias_dict_warns_and_canonicalises_this_and_later_loads(logs):
    geo = GeoData()
    with pytest.warns(DeprecationWarning) as caught:
        geo.load_well("W", files=logs, aliases={})
    assert [str(w.message) for w in caught] == [
        "load_well(aliases=...) is deprecated and mutates sticky project state; pass "
        "ingest=IngestSpec(aliases=...) instead (removal in a future minor)."
    ]
    assert caught[0].filename == __file__
    assert mnemonics(geo) == CANONICAL
    # The map stays on the project: a later plain load canonicalises too.
    assert reload(geo, logs) == CANONICAL


def test_alias_keys_are_trimmed_and_lower_cased(logs):
    geo = GeoData()
    quiet(geo.load_well, "W", files=logs, aliases={"  PhIe ": "POROSITY", "FOO": "Bar"})
    assert mnemonics(geo) == ["POROSITY", "GR", "Bar"]


def test_a_new_alias_dict_replaces_the_old_one_whole(logs):
    geo = GeoData()
    quiet(geo.load_well, "W", files=logs, aliases={"phie": "POROSITY"})
    geo.delete_well("W")
    quiet(geo.load_well, "W", files=logs, aliases={"foo": "BAR"})
    assert mnemonics(geo) == ["PHIE", "GR", "BAR"]


def test_ingest_sets_the_sticky_aliases_aside_for_one_load(logs):
    geo = GeoData()
    quiet(geo.load_well, "S", files=logs, aliases={"phie": "RENAMED"})
    assert mnemonics(geo, "S") == ["RENAMED", "GR", "Foo"]
    # An IngestSpec without aliases loads with no alias map at all ...
    assert reload(geo, logs, ingest=IngestSpec()) == AS_READ
    assert reload(geo, logs, ingest=IngestSpec(unit="m", strat_hints=["a < b"])) == AS_READ
    # ... one with aliases uses them, then the built-in table ...
    assert reload(geo, logs, ingest=IngestSpec(aliases={"Foo ": "BAR"})) == ["PHIE", "GR", "BAR"]
    # ... and the sticky map comes back unchanged.
    assert reload(geo, logs) == ["RENAMED", "GR", "Foo"]


def test_a_failed_load_keeps_the_aliases_it_was_given(tmp_path, logs):
    broken = write(tmp_path / "bad" / "B.wellpath", "not a survey\n")
    geo = GeoData()
    with pytest.raises(ValueError):
        quiet(geo.load_well, "B", files=broken, aliases={"phie": "RENAMED"})
    assert geo.well("B") is None
    assert reload(geo, logs) == ["RENAMED", "GR", "Foo"]
    # A failed load with ingest leaves the sticky map as it was, too.
    with pytest.raises(ValueError):
        geo.load_well("B", files=broken, ingest=IngestSpec(aliases={"phie": "OTHER"}))
    assert reload(geo, logs) == ["RENAMED", "GR", "Foo"]


@pytest.mark.parametrize(
    "project_unit, spec_unit, message",
    [
        ("m", "ft", "load_well: IngestSpec unit 'ft' disagrees with the project unit 'm' (well 'W 1')"),
        ("m", "feet", "load_well: IngestSpec unit 'ft' disagrees with the project unit 'm' (well 'W 1')"),
        ("ft", "m", "load_well: IngestSpec unit 'm' disagrees with the project unit 'ft' (well 'W 1')"),
        ("m", "metres", None),
        ("ft", "FOOT", None),
    ],
)
def test_ingest_unit_must_agree_with_the_project(tmp_path, project_unit, spec_unit, message):
    path = las(tmp_path / "W.las", ["GR"], [1, 2])
    geo = GeoData(project_unit)
    if message is None:
        assert geo.load_well("W 1", files=path, ingest=IngestSpec(unit=spec_unit)).id == "W 1"
        return
    with pytest.raises(ValueError) as info:
        geo.load_well("W 1", files=path, ingest=IngestSpec(unit=spec_unit))
    assert str(info.value) == message
    assert geo.well("W 1") is None


def test_real_las_files_load_as_logs_of_one_well_in_path_order(tmp_path):
    folder = tmp_path / "real"
    folder.mkdir()
    names = ["lasio_3.0_single_section.las", "kgs_2.0_wrapped_1001178549.las", "lasio_2.0_sample.las"]
    for name in names:
        (folder / name).write_bytes(open(shared("las/" + name), "rb").read())
    # An unreadable LAS file among them contributes nothing and fails nothing.
    (folder / "a_broken.las").write_bytes(open(shared("las/lasio_not_a_las_file.las"), "rb").read())
    geo = GeoData()
    well = geo.load_well("R", files=str(folder))
    assert well.bores() == [""]
    expected = []
    for name in sorted(names):
        expected += GeoData().load_well("x", files=str(folder / name)).sidetrack("").mnemonics()
    assert well.sidetrack("").mnemonics() == expected and "DT" in expected


# ---- load_well_tops ---------------------------------------------------------------


@pytest.fixture
def tops_project(tmp_path):
    geo = GeoData()
    for well in ["31/2-A 1", "31/2-B 2"]:
        key = well.replace("/", "_").replace(" ", "_").replace("-", "_")
        wellpath(tmp_path / key / f"{key}.wellpath", 100.0, 200.0, 25.0, [(0, 0), (3000, 3000)])
        geo.load_well(well, files=str(tmp_path / key))
    return geo


def test_petrel_tops_are_routed_to_the_loaded_wells(tmp_path, tops_project):
    path = petrel_tops(
        tmp_path / "t.tops",
        [
            ("Horizon", "Top Brent", "31/2-A 1", 1550.75),
            ("Horizon", "Base Brent", "31/2-A 1", 1637.2),
            ("Horizon", "Top Brent", "31/2-B 2", 1500.0),
            ("Horizon", "Top Brent", "99/9-Z 9", 1400.0),
            ("Other", "Gas/oil contact", "31/2-B 2", 1520.0),
        ],
    )
    assert tops_project.load_well_tops(path) == 3
    assert tops_project.strat_order == ["Top Brent", "Base Brent"]
    assert tops_project.well_top_names() == ["Top Brent", "Base Brent"]


def test_the_committed_tops_export_loads(tops_project):
    from project_files import fixture

    assert tops_project.load_well_tops(fixture("petrel_tops/export.tops")) == 2


def test_failed_hints_stay_with_the_project(tmp_path, tops_project):
    path = petrel_tops(tmp_path / "t.tops", [("Horizon", "Top A", "31/2-A 1", 100.0), ("Horizon", "Top B", "31/2-A 1", 200.0)])
    message = (
        "parse error: strat hint entry 'Nowhere': no loaded well top matches it "
        "(from the IngestSpec strat_hints / strat_hint hints)"
    )
    with pytest.raises(ValueError) as info:
        tops_project.load_well_tops(path, ingest=IngestSpec(strat_hints=["Nowhere < Top B"]))
    assert str(info.value) == message
    assert tops_project.strat_order == []
    # Kept: the next load without ingest meets the same hint ...
    with pytest.raises(ValueError) as info:
        tops_project.load_well_tops(path)
    assert str(info.value) == message
    # ... and so does the project after a save and an open.
    _, manifest, _ = saved(tops_project, tmp_path)
    assert manifest["app"]["strat_hints"] == [["Nowhere", "Top B"]]
    with pytest.raises(ValueError) as info:
        GeoData.open(str(tmp_path / "p.zedod")).load_well_tops(path)
    assert str(info.value) == message


def test_hints_order_only_what_the_depths_leave_open(tmp_path, tops_project):
    path = petrel_tops(
        tmp_path / "t.tops",
        [("Horizon", "Upper", "31/2-A 1", 100.0), ("Horizon", "Lower", "31/2-B 2", 100.0)],
    )
    assert tops_project.load_well_tops(path) == 2
    assert tops_project.strat_order == ["Upper", "Lower"]
    assert tops_project.load_well_tops(path, ingest=IngestSpec(strat_hints=[("Lower", "Upper")])) == 2
    assert tops_project.strat_order == ["Lower", "Upper"]


# ---- strat_hint -------------------------------------------------------------------

STRAT_HINT_WARNING = (
    "GeoData.strat_hint(...) is deprecated and mutates sticky project state; pass "
    "load_well_tops(ingest=IngestSpec(strat_hints=[...])) instead (removal in a future minor)."
)


@pytest.mark.parametrize(
    "args, kwargs, stored, message",
    [
        (("Base Shale < Upper Sand",), {}, [["Base Shale", "Upper Sand"]], None),
        (("B > A",), {}, [["A", "B"]], None),
        (("a < b < c",), {}, [["a", "b < c"]], None),
        ((), {"spec": " x>y "}, [["y", "x"]], None),
        ((), {"above": " X ", "below": ""}, [[" X ", ""]], None),
        (("A <",), {}, [], "parse error: strat hint 'A <' has an empty side"),
        (("A, B",), {}, [], "parse error: strat hint 'A, B' must contain '<' (above) or '>' (below)"),
        ((), {"above": "A"}, [], "strat_hint: use EITHER a shorthand string OR above=/below=, not both"),
        ((), {"below": "A"}, [], "strat_hint: use EITHER a shorthand string OR above=/below=, not both"),
        (("A < B",), {"above": "A", "below": "B"}, [], "strat_hint: use EITHER a shorthand string OR above=/below=, not both"),
        ((), {}, [], 'strat_hint: pass a shorthand string (e.g. "A < B") or above=/below='),
        ((None,), {"above": None}, [], 'strat_hint: pass a shorthand string (e.g. "A < B") or above=/below='),
    ],
)
def test_strat_hint_forms(tmp_path, args, kwargs, stored, message):
    geo = GeoData()
    with pytest.warns(DeprecationWarning) as caught:
        if message is None:
            geo.strat_hint(*args, **kwargs)
        else:
            with pytest.raises(ValueError) as info:
                geo.strat_hint(*args, **kwargs)
            assert str(info.value) == message
    assert [str(w.message) for w in caught] == [STRAT_HINT_WARNING]
    assert saved(geo, tmp_path)[1]["app"]["strat_hints"] == stored


def test_strat_hint_warning_as_error_changes_nothing(tmp_path):
    geo = GeoData()
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            geo.strat_hint("A < B")
        with pytest.raises(DeprecationWarning):
            geo.load_well("W", files=str(tmp_path), aliases={"gr": "GR"})
    assert saved(geo, tmp_path)[1]["app"]["strat_hints"] == []
    assert geo.well("W") is None


def test_strat_hint_above_and_below_are_keyword_only():
    with pytest.raises(TypeError):
        quiet(GeoData().strat_hint, "A < B", "x")
    with pytest.raises(TypeError) as info:
        quiet(GeoData().strat_hint, 5)
    assert "while processing 'spec'" in info.value.__notes__


# ---- persisted tops ---------------------------------------------------------------


def test_top_rows_carry_elevations_positive_up(tmp_path):
    wellpath(tmp_path / "a" / "A.wellpath", 100.0, 200.0, 25.0, [(0, 0), (1000, 1000)])
    write(tmp_path / "a" / "A_tops.csv", "name,md\nTop A,500\nBase,2000\n")
    write(tmp_path / "b" / "B_tops.csv", "name,md\nTOP A,40\n")
    geo = GeoData()
    geo.load_well("A", files=str(tmp_path / "a"))
    geo.load_well("B", files=str(tmp_path / "b"))
    # md 500 on a vertical hole from a datum 25 above sea level: 475 below
    # sea level, an elevation of -475. "Base" lies below the survey; B has
    # no trajectory at all.
    assert geo.well_top_set("top a") == [("A", "", 500.0, (100.0, 200.0, -475.0)), ("B", "", 40.0, None)]
    assert geo.well_top_set("top a")[0][3] == geo.well("A").xyz(500.0)  # the same sign as Well.xyz
    assert geo.well_top_set("Base") == [("A", "", 2000.0, None)]
    assert geo.well_top_set("nothing") == []
    assert geo.well_top_names() == ["Top A", "Base"]
    assert geo.delete_well_top("unknown") == 0
    assert geo.delete_well_top("TOP A") == 2
    assert geo.well_top_names() == ["Base"]


@pytest.mark.parametrize("method", ["well_top_set", "delete_well_top"])
def test_top_names_must_be_text(method):
    with pytest.raises(TypeError) as info:
        getattr(GeoData(), method)(1)
    assert "while processing 'name'" in info.value.__notes__


# ---- access while a warning runs -------------------------------------------------


@pytest.mark.parametrize(
    "reach, message",
    [
        (lambda g: g.unit, "Already mutably borrowed"),
        (lambda g: g.surface("x"), "Already mutably borrowed"),
        (lambda g: g.well_top_names(), "Already mutably borrowed"),
        (lambda g: g.rename_well("a", "b"), "Already borrowed"),
        (lambda g: g.delete_well_top("a"), "Already borrowed"),
    ],
)
def test_a_warnings_hook_cannot_reach_the_project_being_changed(tmp_path, reach, message):
    geo = GeoData()
    seen = []

    def hook(*args, **kwargs):
        try:
            reach(geo)
        except RuntimeError as e:
            seen.append(str(e))
            raise

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = hook
        with pytest.raises(RuntimeError, match=message):
            geo.strat_hint("A < B")
        with pytest.raises(RuntimeError, match=message):
            geo.load_well("W", files=str(tmp_path), aliases={})
    assert seen == [message, message]
    assert geo.well("W") is None
    assert saved(geo, tmp_path)[1]["app"]["strat_hints"] == []


# (call made while the project is held exclusively, with a wrong argument:
# methods that take their access on entry report the access conflict, those
# that take it in the body report the argument first)
ACCESS_ORDER = [
    (lambda g: g.well(5), TypeError, None),
    (lambda g: g.surface(5), TypeError, None),
    (lambda g: g.surfaces(), RuntimeError, "Already mutably borrowed"),
    (lambda g: g.load_surface(5, "x"), TypeError, None),
    (lambda g: g.load_well(5), TypeError, None),
    (lambda g: g.load_well_tops(5), RuntimeError, "Already borrowed"),
    (lambda g: g.delete_well_top(5), RuntimeError, "Already borrowed"),
    (lambda g: g.well_top_set(5), RuntimeError, "Already mutably borrowed"),
    (lambda g: g.save(5), RuntimeError, "Already mutably borrowed"),
    (lambda g: g.rename_surface(1, 2), RuntimeError, "Already borrowed"),
    (lambda g: g.delete_points(1), RuntimeError, "Already borrowed"),
    (lambda g: g.set_element_tags(1, "x"), RuntimeError, "Already borrowed"),
    (lambda g: g.replace_surface(5, None), TypeError, None),
    (lambda g: g.replace_surface("s", 1.0), TypeError, None),
    (lambda g: g.put_model_section(1, 1, 1, 1), RuntimeError, "Already borrowed"),
    (lambda g: g.add_asset(1, 1, 1, 1, 1, 1), RuntimeError, "Already borrowed"),
    (lambda g: g.model_section(1), RuntimeError, "Already mutably borrowed"),
    (lambda g: g.asset_names(), RuntimeError, "Already mutably borrowed"),
    (lambda g: GeoData.inspect(5), TypeError, None),
]


@pytest.mark.parametrize("index", range(len(ACCESS_ORDER)))
def test_access_is_taken_on_entry_or_after_the_arguments(index):
    call, error, message = ACCESS_ORDER[index]
    geo = GeoData()
    caught = []

    def hook(*args, **kwargs):
        try:
            call(geo)
        except Exception as e:
            caught.append(e)

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = hook
        geo.strat_hint("A < B")
    assert len(caught) == 1 and type(caught[0]) is error
    if message:
        assert str(caught[0]) == message


@pytest.mark.parametrize(
    "method, signature",
    [
        ("load_well", "($self, id, head=None, kb=None, files=None, ingest=None, aliases=None)"),
        ("load_well_tops", "($self, path, ingest=None)"),
        ("strat_hint", "($self, spec=None, *, above=None, below=None)"),
        ("well_top_set", "($self, name)"),
        ("well_top_names", "($self)"),
        ("delete_well_top", "($self, name)"),
    ],
)
def test_signatures(method, signature):
    assert getattr(GeoData, method).__text_signature__ == signature


def test_help_texts():
    assert inspect.getdoc(GeoData.well_top_set) == (
        "Persisted picks for one horizon as `(well, bore, md, xyz-or-None)` rows."
    )
    assert inspect.getdoc(GeoData.well_top_names) == "Distinct persisted formation-top names across every well/bore."
    assert inspect.getdoc(GeoData.delete_well_top) == (
        "Delete a persisted formation horizon globally; returns picks removed."
    )
    doc = inspect.getdoc(GeoData.load_well).split("\n")
    assert doc[0] == "Load a well from `files` (a per-well directory or single file) under"
    assert doc[-1] == "error." and doc[6] == "" and len(doc) == 17
    doc = inspect.getdoc(GeoData.strat_hint).split("\n")
    assert doc[5] == "  above B\", `A > B` is \"A below B\"; sides may be partial names."
    assert doc[-1] == "instead (removal in a future minor)."
    doc = inspect.getdoc(GeoData.load_well_tops).split("\n")
    assert doc[0].startswith("Load a multi-well Petrel well-tops file") and len(doc) == 11
