"""FormatKind members and detect(path)."""

import errno
import importlib
import operator
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import voridez
from voridez import _voridez
from conftest import twin, type_error_text

FormatKind = voridez.FormatKind
detect = voridez.detect

# Member names in ordinal order.
MEMBERS = [
    "Cps3Grid",
    "Cps3Lines",
    "IrapClassicGrid",
    "IrapClassicPoints",
    "EarthVisionGrid",
    "Las",
    "WellPath",
    "PetrelTops",
    "CrsMetaXml",
    "GeoJson",
    "CsvPoints",
    "Unknown",
]


# --- members -----------------------------------------------------------------


@pytest.mark.parametrize("ordinal, name", list(enumerate(MEMBERS)), ids=MEMBERS)
def test_member(ordinal, name):
    member = getattr(FormatKind, name)
    assert type(member) is FormatKind
    assert getattr(FormatKind, name) is member
    assert int(member) == ordinal
    assert repr(member) == f"FormatKind.{name}"
    assert str(member) == f"FormatKind.{name}"
    assert member == ordinal and ordinal == member
    assert not (member != member)
    for other_ordinal, other_name in enumerate(MEMBERS):
        other = getattr(FormatKind, other_name)
        assert (member == other) is (other_ordinal == ordinal)
        assert (member != other) is (other_ordinal != ordinal)
        assert (member == other_ordinal) is (other_ordinal == ordinal)


def test_class_holds_exactly_the_members():
    assert FormatKind.__doc__ is None
    public = sorted(n for n in dir(FormatKind) if not n.startswith("_"))
    assert public == sorted(MEMBERS)
    for name in ["name", "value", "__members__"]:
        assert not hasattr(FormatKind.Las, name)
    with pytest.raises(TypeError):
        iter(FormatKind)
    with pytest.raises(TypeError, match="cannot create 'builtins.FormatKind' instances"):
        FormatKind()


def test_members_take_no_attributes():
    with pytest.raises(AttributeError):
        FormatKind.Las.extra = 1
    assert not hasattr(FormatKind.Las, "extra")


class Index:
    """An object that converts to an integer through __index__ only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BrokenIndex:
    def __index__(self):
        raise RuntimeError("no integer here")


# (left, right, whether they are equal); each case is checked in both orders
# and with != as well.
EQUALITY = [
    (FormatKind.Las, 5, True),
    (FormatKind.Las, 6, False),
    (FormatKind.Cps3Grid, 0, True),
    (FormatKind.Cps3Lines, True, True),
    (FormatKind.Cps3Grid, False, True),
    (FormatKind.Cps3Grid, True, False),
    (FormatKind.Unknown, 11, True),
    (FormatKind.Unknown, -1, False),
    (FormatKind.Las, Index(5), True),
    (FormatKind.Las, Index(4), False),
    # Integers beyond 64 bits never equal a member (no wrap-around).
    (FormatKind.Las, 5 + 2**64, False),
    (FormatKind.Las, -(2**63) - 1, False),
    (FormatKind.Unknown, 2**64 - 1, False),
    # Not integers: unequal, never an error.
    (FormatKind.Las, 5.0, False),
    (FormatKind.Las, "Las", False),
    (FormatKind.Las, "FormatKind.Las", False),
    (FormatKind.Las, None, False),
    (FormatKind.Las, BrokenIndex(), False),
    (FormatKind.Las, [5], False),
]


@pytest.mark.parametrize("left, right, equal", EQUALITY, ids=[f"{a!r}-{b!r}" for a, b, _ in EQUALITY])
def test_equality(left, right, equal):
    assert (left == right) is equal
    assert (right == left) is equal
    assert (left != right) is (not equal)
    assert (right != left) is (not equal)


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("other", [FormatKind.Unknown, FormatKind.Las, 3, 3.5], ids=["member", "same", "int", "float"])
def test_ordering_is_not_supported(op, other):
    with pytest.raises(TypeError, match="not supported between instances of"):
        op(FormatKind.Las, other)
    with pytest.raises(TypeError, match="not supported between instances of"):
        op(other, FormatKind.Las)


@pytest.mark.parametrize(
    "use",
    [hash, lambda m: {m}, lambda m: {m: 1}, lambda m: frozenset([m])],
    ids=["hash", "set", "dict-key", "frozenset"],
)
@pytest.mark.parametrize("name", ["Cps3Grid", "Las", "Unknown"])
def test_members_are_unhashable(use, name):
    with pytest.raises(TypeError, match="unhashable type"):
        use(getattr(FormatKind, name))


def test_class_declares_no_hash():
    assert FormatKind.__hash__ is None


def test_integer_conversion_only():
    # int() works, but a member is not an index (no slicing, no bin()).
    assert [int(getattr(FormatKind, n)) for n in MEMBERS] == list(range(12))
    with pytest.raises(TypeError):
        operator.index(FormatKind.Las)
    with pytest.raises(TypeError):
        [0, 1, 2][FormatKind.Cps3Lines]


def test_members_survive_reimport():
    first = sys.modules["voridez._voridez"]
    before = {n: getattr(FormatKind, n) for n in MEMBERS}
    try:
        del sys.modules["voridez._voridez"]
        second = importlib.import_module("voridez._voridez")
        assert second.FormatKind is FormatKind
        for name, member in before.items():
            assert getattr(second.FormatKind, name) is member
    finally:
        sys.modules["voridez._voridez"] = first


# --- detect ------------------------------------------------------------------


def test_detect_function_object():
    assert detect.__module__ == "_voridez"
    assert detect.__name__ == "detect"
    assert detect.__doc__ is None
    assert detect.__text_signature__ == "(path)"


# (file name, content, expected member). The names are chosen so that the
# content decides unless the case is about the extension.
DETECT_CASES = [
    ("grid.dat", "FSASCI 0 1 COMPUTED 0 1.0E+30\nFSLIMI 0 100 0 100 1 2\nFSNROW 3 3\n1 2 3\n", "Cps3Grid"),
    ("lines.txt", "->fault one\n1.0 2.0 3.0\n4.0 5.0 6.0\n", "Cps3Lines"),
    ("surface.txt", "-996 2 50.0 50.0\n0.0 100.0 0.0 100.0\n3 3 0.0 0.0\n", "IrapClassicGrid"),
    ("points.txt", "1.0 2.0 3.0\n4.0 5.0 6.0\n", "IrapClassicPoints"),
    ("points_commas.txt", "1.0,2.0,abc,4\n", "IrapClassicPoints"),
    ("horizon.txt", "# Type: scattered data\n# Grid_size: 3 x 3\n1 2 3\n", "EarthVisionGrid"),
    ("well.txt", "~Version information\n VERS. 2.0 :\n~Curve\n", "Las"),
    ("survey.txt", "# WELL TRACE\n MD X Y Z TVD DX DY AZIM INCL DLS\n0 0 0 0 0 0 0 0 0 0\n", "WellPath"),
    ("picks.txt", "# Petrel well tops\nVERSION 2\nBEGIN HEADER\nX\nEND HEADER\n", "PetrelTops"),
    ("picks_header.txt", "BEGIN HEADER\nType\nWell\nSurface\nMD\nEND HEADER\n", "PetrelTops"),
    ("crs.txt", '<?xml version="1.0"?>\n<CrsMeta><Name>ED50</Name></CrsMeta>\n', "CrsMetaXml"),
    ("shapes.txt", '{"type": "FeatureCollection", "features": []}\n', "GeoJson"),
    ("table.txt", '"Easting","Northing","TVD"\n1,2,3\n', "CsvPoints"),
    ("notes.txt", "nothing to see here\n", "Unknown"),
    # Content beats the extension.
    ("looks_like.las", "1.0 2.0 3.0\n", "IrapClassicPoints"),
    # Content says nothing: the extension decides, in any letter case.
    ("empty.las", "", "Las"),
    ("empty.GRI", "", "IrapClassicGrid"),
    ("plain.json", "hello\n", "GeoJson"),
    ("plain.xml", "<?xml version='1.0'?><root/>\n", "CrsMetaXml"),
    ("tops.csv", "name,md\nTop A,1200\n", "CsvPoints"),
    (".las", "", "Unknown"),
    ("no_extension", "", "Unknown"),
]


@pytest.mark.parametrize("name, content, expected", DETECT_CASES, ids=[c[0] for c in DETECT_CASES])
def test_detect_small_files(tmp_path, name, content, expected):
    path = tmp_path / name
    path.write_bytes(content.encode("latin-1"))
    member = getattr(FormatKind, expected)
    assert detect(str(path)) is member
    assert detect(path=str(path)) is member


def test_detect_covers_every_member():
    assert {c[2] for c in DETECT_CASES} == set(MEMBERS)


def test_detect_accepts_str_subclasses(tmp_path):
    class Text(str):
        pass

    path = tmp_path / "well.las"
    path.write_text("~V\n")
    assert detect(Text(path)) is FormatKind.Las


def test_detect_only_reads_the_head(tmp_path):
    # A LAS section line past the first 65,536 bytes is never seen; the
    # numbers before it decide.
    path = tmp_path / "big.txt"
    path.write_bytes(b"1.0 2.0 3.0" + b" " * 70000 + b"\n~A\n")
    assert detect(str(path)) is FormatKind.IrapClassicPoints


@pytest.mark.skipif(sys.getfilesystemencodeerrors() != "surrogateescape", reason="needs byte file names")
def test_detect_file_name_that_is_not_utf8(tmp_path):
    raw = os.fsencode(tmp_path) + b"/caf\xe9.las"
    try:
        with open(raw, "wb") as f:
            f.write(b"")
    except OSError:
        pytest.skip("the file system refuses non-UTF-8 names")
    name = os.fsdecode(raw)
    assert "\udce9" in name
    assert detect(name) is FormatKind.Las


def os_error_text(path, code):
    return f"I/O error: '{path}': {os.strerror(code)} (os error {code})"


def test_detect_missing_file(tmp_path):
    for path in [tmp_path / "absent.las", tmp_path / "no_dir" / "absent.txt"]:
        with pytest.raises(ValueError) as info:
            detect(str(path))
        assert str(info.value) == os_error_text(path, errno.ENOENT)
        assert type(info.value) is ValueError


def test_detect_directory(tmp_path):
    with pytest.raises(ValueError) as info:
        detect(str(tmp_path))
    assert str(info.value) == os_error_text(tmp_path, errno.EISDIR)


@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() == 0, reason="permissions do not bind this user")
def test_detect_unreadable_file(tmp_path):
    path = tmp_path / "locked.las"
    path.write_text("~V\n")
    path.chmod(0)
    try:
        with pytest.raises(ValueError) as info:
            detect(str(path))
        assert str(info.value) == os_error_text(path, errno.EACCES)
    finally:
        path.chmod(0o600)


def test_detect_path_with_nul_character(tmp_path):
    # A NUL would cut the name short and name another file: refused.
    real = tmp_path / "well.las"
    real.write_text("~V\n")
    with pytest.raises(ValueError) as info:
        detect(str(real) + "\0.csv")
    assert str(info.value) == "embedded null byte"
    assert info.value.__notes__ == ["while processing 'path'"]


@pytest.mark.parametrize(
    "value, message",
    [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"/tmp/x.las", "'bytes' object is not an instance of 'str'"),
        (pathlib.Path("/tmp/x.las"), f"'{type(pathlib.Path()).__name__}' object is not an instance of 'str'"),
    ],
    ids=["int", "None", "bytes", "Path"],
)
def test_detect_wrong_type(value, message):
    for call in [lambda: detect(value), lambda: detect(path=value)]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'path'"]


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("a", "b"), {}), ((), {"file": "a"}), (("a",), {"path": "a"})],
    ids=["missing", "surplus", "unknown", "twice"],
)
def test_detect_argument_errors(args, kwargs):
    expected = type_error_text(twin("detect", "path"), args, kwargs)
    assert type_error_text(detect, args, kwargs) == expected


# --- real files ---------------------------------------------------------------

SHARED = os.environ.get("VZ_SHARED_DATA_DIR")
needs_shared = pytest.mark.skipif(
    not SHARED or not os.path.isdir(SHARED), reason="VZ_SHARED_DATA_DIR is not set or absent"
)

# What each folder of the shared files holds; files whose content says
# otherwise are listed by name.
FOLDER_KIND = {
    "las": "Las",
    "geojson": "GeoJson",
    "irap_grid": "IrapClassicGrid",
    "earthvision": "EarthVisionGrid",
    "points_xyz": "IrapClassicPoints",
    "polygons_irap": "IrapClassicPoints",
    "points_csv": "CsvPoints",
    "polygons_csv": "CsvPoints",
    "shapefile": "Unknown",
    "crs_prj": "Unknown",
}
FILE_KIND = {
    # comma-separated numbers under a .las name
    "las/lasio_not_a_las_file.las": "IrapClassicPoints",
    # GDAL XML without CRS metadata: only the .xml extension makes it one
    "crs_xml/rasterio_rgb.jpg.aux.xml": "CrsMetaXml",
    "crs_xml/rasterio_compdcs.vrt": "Unknown",
}


def shared_files():
    root = pathlib.Path(SHARED)
    return sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file() and p.name != "MANIFEST.md")


@needs_shared
def test_detect_shared_files():
    files = shared_files()
    assert files
    wrong = {}
    for rel in files:
        expected = FILE_KIND.get(rel) or FOLDER_KIND.get(rel.split("/")[0])
        if expected is None:
            continue
        got = detect(os.path.join(SHARED, rel))
        if got is not getattr(FormatKind, expected):
            wrong[rel] = (repr(got), expected)
    assert wrong == {}


@needs_shared
def test_every_shared_file_is_classified():
    for rel in shared_files():
        assert type(detect(os.path.join(SHARED, rel))) is FormatKind


# --- class creation failures -------------------------------------------------

# Runs in a fresh interpreter that has not loaded the extension yet. For each
# k it forks a child that makes the k-th memory allocation of the import fail,
# reports what the import raised, then imports again without the failure and
# checks that the class and its members came out whole.
FAILING_IMPORTS = textwrap.dedent(
    r"""
    import importlib.util, os, sys, _testcapi

    ext, las = sys.argv[1], sys.argv[2]
    where = importlib.util.spec_from_file_location("voridez._voridez", ext)
    names = sys.argv[3:]

    def attempt(k):
        _testcapi.set_nomemory(k, k + 1)
        try:
            mod = importlib.util.module_from_spec(where)
            where.loader.exec_module(mod)
            outcome = "ok"
        except BaseException as e:
            _testcapi.remove_mem_hooks()
            outcome = f"{type(e).__name__}|{e}|{type(e.__cause__).__name__}"
        _testcapi.remove_mem_hooks()
        mod = importlib.util.module_from_spec(where)
        where.loader.exec_module(mod)
        F = mod.FormatKind
        members = [getattr(F, n) for n in names]
        whole = (
            all(type(m) is F for m in members)
            and [int(m) for m in members] == list(range(len(names)))
            and len({id(m) for m in members}) == len(names)
            and mod.detect(las) is F.Las
        )
        return f"{outcome}|{whole}"

    seen_format_kind = False
    for k in range(1, 3000):
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(r)
            try:
                out = attempt(k)
            except BaseException as e:
                out = f"child failed: {e!r}"
            os.write(w, out.encode())
            os._exit(0)
        os.close(w)
        data = b""
        while chunk := os.read(r, 65536):
            data += chunk
        os.close(r)
        _, status = os.waitpid(pid, 0)
        print(f"{k}|{status}|{data.decode()}", flush=True)
        # Done once the classes after FormatKind are being made.
        text = data.decode()
        if text.startswith("RuntimeError|An error occurred while initializing"):
            if "FormatKind" in text:
                seen_format_kind = True
            elif seen_format_kind:
                break
    """
)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_class_creation_failures(tmp_path):
    pytest.importorskip("_testcapi")
    las = tmp_path / "well.las"
    las.write_text("~V\n")
    script = tmp_path / "failing_imports.py"
    script.write_text(FAILING_IMPORTS)
    run = subprocess.run(
        [sys.executable, str(script), _voridez.__file__, str(las), *MEMBERS],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert run.returncode == 0, run.stderr
    outcomes = [line.split("|", 2) for line in run.stdout.splitlines()]
    assert outcomes
    seen = set()
    for k, status, rest in outcomes:
        # Every child exits normally, and after any failure a clean import
        # gives the whole class with its twelve members.
        assert status == "0" and rest.endswith("|True"), (k, status, rest)
        kind, *detail = rest.rsplit("|", 1)[0].split("|")
        if kind == "RuntimeError":
            message, cause = detail
            assert message.startswith("An error occurred while initializing "), message
            assert cause != "NoneType", message
            seen.add(message)
        else:
            assert kind in ("ok", "MemoryError"), rest
    assert "An error occurred while initializing class FormatKind" in seen
    for name in MEMBERS:
        assert f"An error occurred while initializing `FormatKind.{name}`" in seen
