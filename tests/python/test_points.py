"""PointSet: building from coordinates, the file loaders, the read-only
queries, len() and repr()."""

import math
import warnings

import numpy as np
import pytest

import voridez as vz
from points_helpers import shared_file

NAN = float("nan")
INF = float("inf")


def box(b):
    return (b.xmin, b.ymin, b.xmax, b.ymax)


def same(a, b):
    """Equal, NaN matching NaN."""
    return len(a) == len(b) and all(x == y or (math.isnan(x) and math.isnan(y)) for x, y in zip(a, b))


# ---- from_xyz -----------------------------------------------------------------


def test_from_xyz_keeps_points_in_order():
    ps = vz.PointSet.from_xyz([1, 2.5, -3], [4, 5, 6], [7, 8, 9.25])
    assert ps.xyz() == [(1.0, 4.0, 7.0), (2.5, 5.0, 8.0), (-3.0, 6.0, 9.25)]
    assert ps.xy() == [(1.0, 4.0), (2.5, 5.0), (-3.0, 6.0)]
    assert all(type(c) is float for p in ps.xyz() for c in p)
    assert ps.history() == ["points.from_coords"]
    assert ps.attr_names() == []
    assert ps.name is None and ps.kind == "point_set"


def test_from_xyz_of_numpy_arrays_equals_lists():
    x = np.array([0.5, 1.5, 2.5])
    y = np.arange(3, dtype=np.int32)
    z = np.array([1e300, -0.0, np.nan])
    ps = vz.PointSet.from_xyz(x, y, z)
    assert same([c for p in ps.xyz() for c in p], [0.5, 0.0, 1e300, 1.5, 1.0, -0.0, 2.5, 2.0, NAN])


def test_empty_point_set():
    ps = vz.PointSet.from_xyz([], [], [])
    assert len(ps) == 0 and not ps
    assert repr(ps) == "PointSet(len=0)"
    assert all(math.isnan(v) for v in box(ps.bbox()))
    assert ps.nearest(0.0, 0.0) is None
    assert ps.z_stats().count == 0
    assert ps.history() == ["points.from_coords"]


@pytest.mark.parametrize("lengths", [(2, 2, 1), (1, 2, 2), (2, 1, 2), (0, 0, 3)])
def test_from_xyz_with_unequal_lengths(lengths):
    x, y, z = ([float(i) for i in range(n)] for n in lengths)
    with pytest.raises(ValueError) as info:
        vz.PointSet.from_xyz(x, y, z)
    assert str(info.value) == "from_xyz: x, y, z must have equal length"


@pytest.mark.parametrize(
    "args, named",
    [
        (("abc", "abc", "abc"), "x"),  # a str is never a sequence of numbers
        (([1.0], "b", 3), "y"),  # the first failure, in the order x, y, z
        (([1.0], [2.0], 3.0), "z"),
        (([1.0], [2.0], [None]), "z"),
        (({1.0}, [2.0], [3.0]), "x"),
    ],
)
def test_from_xyz_refuses_non_numeric_sequences(args, named):
    with pytest.raises(TypeError) as info:
        vz.PointSet.from_xyz(*args)
    assert f"while processing '{named}'" in getattr(info.value, "__notes__", [])


# ---- queries ------------------------------------------------------------------


def test_nearest_example_and_query_forms():
    ps = vz.PointSet.from_xyz([0, 4, 10], [0, 4, 10], [9, 0, 0])
    assert ps.nearest(5, 5) == 1
    assert ps.nearest(10.0, 9.0) == 2
    assert ps.nearest(np.float64(-1.0), np.int64(0)) == 0
    with pytest.raises(TypeError) as info:
        ps.nearest("5", 5)
    assert "while processing 'x'" in info.value.__notes__


@pytest.mark.parametrize("query", [(NAN, 0.0), (0.0, NAN), (INF, 0.0), (0.0, -INF)])
def test_nearest_to_a_position_that_is_not_finite_is_none(query):
    ps = vz.PointSet.from_xyz([0, 4, 10], [0, 4, 10], [9, 0, 0])
    assert ps.nearest(*query) is None


def test_nearest_ignores_points_without_a_finite_position():
    ps = vz.PointSet.from_xyz([NAN, 100.0], [0.0, 100.0], [0.0, 0.0])
    assert ps.nearest(0.0, 0.0) == 1
    assert vz.PointSet.from_xyz([NAN], [NAN], [1.0]).nearest(0.0, 0.0) is None


@pytest.mark.parametrize(
    "x, y, expected",
    [
        ([1.0, NAN, 3.0], [5.0, 6.0, -7.0], (1.0, -7.0, 3.0, 6.0)),  # NaN skipped, point still counted
        ([NAN, NAN], [1.0, 2.0], (INF, 1.0, -INF, 2.0)),  # no x at all: the fold's start stays
        ([-INF, 2.0], [0.0, 0.0], (-INF, 0.0, 2.0, 0.0)),  # infinities count
    ],
)
def test_bbox_skips_nan_per_axis(x, y, expected):
    ps = vz.PointSet.from_xyz(x, y, [0.0] * len(x))
    assert len(ps) == len(x)
    assert box(ps.bbox()) == expected


def test_attr_and_stats_use_the_exact_name():
    ps = vz.PointSet.from_xyz([1, 2, 3], [1, 2, 3], [1, 2, 3])
    ps.set_attr("Poro", [0.1, NAN, 0.3])
    assert same(ps.attr("Poro"), [0.1, NAN, 0.3])
    assert ps.attr("poro") is None and ps.stats("poro") is None
    st = ps.stats("Poro")
    assert st.count == 2 and st.min == 0.1 and st.max == 0.3
    returned = ps.attr("Poro")
    returned[0] = 99.0  # a copy
    assert ps.attr("Poro")[0] == 0.1
    with pytest.raises(TypeError) as info:
        ps.attr(1)
    assert "while processing 'name'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        ps.stats(b"Poro")
    assert "while processing 'attr'" in info.value.__notes__


def test_z_stats_skip_nan():
    st = vz.PointSet.from_xyz([0, 1, 2], [0, 1, 2], [10.0, NAN, 30.0]).z_stats()
    assert (st.count, st.mean, st.min, st.max) == (2, 20.0, 10.0, 30.0)


# ---- loaders --------------------------------------------------------------------


@pytest.mark.parametrize("loader", ["load_geojson", "load_irap_points", "load_earthvision_grid"])
def test_loaders_take_a_str_path(loader):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        with pytest.raises(TypeError) as info:
            getattr(vz.PointSet, loader)(b"/tmp/points.xyz")
    assert "while processing 'path'" in info.value.__notes__


def test_load_csv_column_names_must_be_str(tmp_path):
    path = tmp_path / "p.csv"
    path.write_text("x,y,z\n1,2,3\n")
    with pytest.raises(TypeError) as info:
        vz.PointSet.load_csv(str(path), z=3)
    assert "while processing 'z'" in info.value.__notes__


def test_load_of_a_missing_file_is_a_value_error(tmp_path):
    with pytest.raises(ValueError, match=r"^I/O error: "):
        vz.PointSet.load_irap_points(str(tmp_path / "absent.xyz"))


def test_load_csv_small_file_with_attributes(tmp_path):
    path = tmp_path / "wells.csv"
    path.write_text("name,E,N,depth,poro\nA,1,2,3,0.2\nB,4,5,6,0.25\n")
    ps = vz.PointSet.load_csv(str(path), x="E", y="N", z="depth")
    assert ps.xyz() == [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)]
    assert ps.attr_names() == ["poro"]  # the text column is no attribute
    assert ps.history() == [f"points.load_csv(path={path})"]


@pytest.mark.parametrize(
    "rel, count, first",
    [
        ("points_xyz/resinsight_tiny_space.dat", 15, (0.0, 0.0, 0.0)),
        ("points_xyz/resinsight_tiny_tabs.dat", 15, (0.0, 0.0, 0.0)),
        ("points_xyz/xtgeo_pointset2.poi", 30, (461325.12793, 5929534.377441, 1687.546997)),
        ("points_xyz/xtgeo_emerald_1000.poi", 1000, (464278.026611, 5931793.250732, 46.723278)),
        ("points_xyz/xtgeo_twocell_999_terminated.poi", 2, (464696.974609, 5932463.070312, 46.723278)),
    ],
)
def test_load_irap_points_real_files(rel, count, first):
    path = shared_file(rel)
    ps = vz.PointSet.load_irap_points(path)
    assert len(ps) == count
    assert ps.xyz()[0] == first
    assert all(p[0] != 999.0 for p in ps.xyz())
    assert ps.history() == [f"points.load_irap_points(path={path})"]
    assert ps.name is None


def test_load_irap_points_refuses_an_earthvision_file():
    path = shared_file("earthvision/resinsight_small_flipped_clipped.ptl")
    with pytest.raises(ValueError) as info:
        vz.PointSet.load_irap_points(path)
    assert str(info.value) == (
        f"unsupported format: IRAP points reader: '{path}' looks like EarthVision grid, not plain X Y Z "
        "\u2014 use the EarthVision grid reader"
    )


def test_load_csv_real_file_with_named_columns():
    path = shared_file("points_csv/xtgeo_poi_attr.csv")
    with pytest.raises(ValueError, match=r"^not found: points CSV: column 'x'$"):
        vz.PointSet.load_csv(path)
    ps = vz.PointSet.load_csv(path, x="X_UTME", y="Y_UTMN", z="Z_TVDSS")
    assert ps.xyz()[0] == (461288.81485, 5933414.92191, 1640.40149)
    assert {"Seg", "MyNum"} <= set(ps.attr_names())
    assert "Well" not in ps.attr_names() and "SegName" not in ps.attr_names()
    assert ps.attr("MyNum")[:3] == [1.0, 2.0, 1e33]
    assert ps.history() == [f"points.load_csv(path={path})"]


@pytest.mark.parametrize(
    "rel, xyz, attrs",
    [
        ("geojson/geojsonhint_good-featurecollection-bbox3d.geojson", [(102.0, 0.5, 15.0), (100.0, 2.5, 25.0)], []),
        ("geojson/geojsonhint_good-point-3d.geojson", [(100.0, 0.0, 15.0)], []),
        ("geojson/fiona_single_point_tz.geojson", [(-79.4, 43.6, 0.0)], []),
        ("geojson/fiona_issue627_polygons.geojson", None, ["AREA", "PERIMETER", "WILDRNP020"]),
    ],
)
def test_load_geojson_points_real_files(rel, xyz, attrs):
    path = shared_file(rel)
    ps = vz.PointSet.load_geojson(path)
    if xyz is not None:
        assert ps.xyz() == xyz
    assert ps.attr_names() == attrs
    assert all(len(ps.attr(a)) == len(ps) for a in attrs)
    assert ps.history() == [f"points.load_geojson(path={path})"]


@pytest.mark.parametrize(
    "rel", ["geojson/geojsonhint_bad-json.geojson", "geojson/geojsonhint_rootstring.geojson",
            "geojson/geojsonhint_stringcoord.geojson"]
)
def test_load_geojson_points_broken_files(rel):
    with pytest.raises(ValueError, match=r"^parse error: GeoJSON points: "):
        vz.PointSet.load_geojson(shared_file(rel))


def test_load_earthvision_grid_warns_and_keeps_topology():
    path = shared_file("earthvision/resinsight_small_flipped_clipped.ptl")
    with pytest.warns(DeprecationWarning) as record:
        ps = vz.PointSet.load_earthvision_grid(path)
    assert [str(w.message) for w in record] == [
        "PointSet.load_earthvision_grid() is deprecated; use StructuredMeshSurface.load_earthvision_grid() to "
        "preserve null nodes and topology."
    ]
    assert record[0].filename == __file__
    assert len(ps) == 8
    assert ps.attr_names() == ["column", "row"]
    nodes = list(zip(ps.attr("column"), ps.attr("row")))
    assert nodes == [(c, r) for r in (1.0, 2.0, 3.0) for c in (1.0, 2.0, 3.0) if (c, r) != (3.0, 3.0)]
    assert ps.history() == [f"points.load_earthvision_grid(path={path})"]


def test_load_earthvision_grid_reads_nothing_when_its_warning_is_an_error(tmp_path):
    # The path does not exist: reading it would be an I/O ValueError. The
    # warning, turned into an error, must come first and end the call.
    missing = str(tmp_path / "absent.grd")
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning, match="PointSet.load_earthvision_grid"):
            vz.PointSet.load_earthvision_grid(missing)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        with pytest.raises(ValueError, match="^I/O error"):
            vz.PointSet.load_earthvision_grid(missing)
