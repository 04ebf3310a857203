"""Attribute columns of point sets and polygon sets: reading them by attribute
access, writing them, and the PointColumn / PolygonColumn values with their
operators."""

import array
import math

import numpy as np
import pytest

import voridez as vz

NAN = float("nan")


def points(n=3):
    return vz.PointSet.from_xyz([float(i) for i in range(n)], [10.0 + i for i in range(n)], [20.0 + i for i in range(n)])


def squares(n=3):
    """n unit squares side by side, then a 2 x 1 rectangle when n > 3."""
    rings = [[[i * 2.0, 0.0], [i * 2.0 + 1.0, 0.0], [i * 2.0 + 1.0, 1.0], [i * 2.0, 1.0]] for i in range(min(n, 3))]
    if n > 3:
        rings.append([[10.0, 0.0], [12.0, 0.0], [12.0, 1.0], [10.0, 1.0]])
    return vz.PolygonSet.from_rings(rings)


# ---- reading --------------------------------------------------------------------


def test_coordinates_come_before_attributes():
    ps = points()
    ps.set_attr("X", [7.0, 8.0, 9.0])
    col = ps.x
    assert isinstance(col, vz.PointColumn)
    assert repr(col) == "PointColumn(name='x', len=3)"
    assert col.values() == [0.0, 1.0, 2.0]
    assert ps.y.values() == [10.0, 11.0, 12.0] and ps.z.values() == [20.0, 21.0, 22.0]
    assert ps.X.values() == [7.0, 8.0, 9.0]  # not a coordinate: an attribute


def test_a_stored_attribute_named_x_is_shadowed_by_the_coordinate():
    ps = vz.PointSet.from_xyz([1.0], [2.0], [3.0])
    ps.set_attr(" x ", [5.0])
    assert ps.x.values() == [1.0]
    assert getattr(ps, " x ").values() == [5.0]


@pytest.mark.parametrize(
    "requested, expected",
    [
        ("net_gross", [1.0, 1.0, 1.0]),  # key match: the first of two keys wins
        ("net-gross", [2.0, 2.0, 2.0]),  # exact match before key match
        ("Net Gross", [1.0, 1.0, 1.0]),
        ("NET_GROSS", [1.0, 1.0, 1.0]),
        (" Porosity ", [3.0, 3.0, 3.0]),
        ("POROSITY", [3.0, 3.0, 3.0]),
        ("\u00a0porosity\u2003", [3.0, 3.0, 3.0]),  # Unicode white space is trimmed
    ],
)
def test_column_lookup_by_name_key(requested, expected):
    ps = points()
    ps.set_attr("Net Gross", [1.0] * 3)
    ps.set_attr("net-gross", [2.0] * 3)
    ps.set_attr("Porosity", [3.0] * 3)
    col = getattr(ps, requested)
    assert col.values() == expected
    assert repr(col) == f"PointColumn(name='{requested}', len=3)"


@pytest.mark.parametrize(
    "stored, requested",
    [
        ("a b", "a__b"),  # runs of separators are not collapsed
        ("a - b", "a_b"),
        ("tab\tname", "tab_name"),  # a tab is no separator
        ("\u00c9t\u00e9", "\u00e9t\u00e9"),  # only ASCII letters fold
    ],
)
def test_column_lookup_keys_that_differ(stored, requested):
    ps = points()
    ps.set_attr(stored, [1.0] * 3)
    assert not hasattr(ps, requested)


def test_missing_column_message_and_hasattr():
    ps = points()
    with pytest.raises(AttributeError) as info:
        ps.missing
    assert str(info.value) == "'PointSet' object has no attribute or column 'missing'"
    assert not hasattr(ps, "missing")
    assert not hasattr(ps, "_private")
    pg = squares()
    with pytest.raises(AttributeError) as info:
        pg.zone
    assert str(info.value) == "'PolygonSet' object has no attribute or column 'zone'"


def test_members_win_over_columns_and_dir_lists_no_columns():
    ps = points()
    ps.name = 3.0  # assignment always writes a column ...
    ps.stats = [1.0, 2.0, 3.0]
    assert ps.name is None  # ... but reading finds the getter first
    assert callable(ps.stats)
    assert ps.attr("name") == [3.0, 3.0, 3.0] and ps.attr("stats") == [1.0, 2.0, 3.0]
    assert "name" in dir(ps) and "stats" in dir(ps)
    ps.porosity = 0.2
    assert "porosity" not in dir(ps)
    pg = squares()
    pg.kind = 1.0
    assert pg.kind == "polygon_set"


def test_a_column_is_a_detached_copy():
    ps = points()
    ps.poro = [0.1, 0.2, 0.3]
    col = ps.poro
    ps.poro = [9.0, 9.0, 9.0]
    assert col.values() == [0.1, 0.2, 0.3]
    values = col.values()
    values[0] = 5.0
    assert col.values()[0] == 0.1


# ---- writing ----------------------------------------------------------------------


@pytest.mark.parametrize("name", ["x", "y", "z"])
def test_coordinates_cannot_be_written(name):
    ps = points()
    message = f"cannot assign coordinate column '{name}'; create a named attribute instead"
    with pytest.raises(AttributeError) as info:
        setattr(ps, name, 1.0)
    assert str(info.value) == message
    with pytest.raises(AttributeError) as info:
        ps.set_attr(name, [1.0, 2.0, 3.0])
    assert str(info.value) == message
    assert ps.attr_names() == [] and ps.history() == ["points.from_coords"]


def test_area_cannot_be_written_but_Area_can():
    pg = squares()
    with pytest.raises(AttributeError) as info:
        pg.area = 1.0
    assert str(info.value) == "cannot assign derived polygon column 'area'; create a named attribute instead"
    pg.Area = 1.0
    assert pg.attr_names() == ["Area"]
    assert pg.area.values() == [1.0, 1.0, 1.0]
    assert pg.Area.values() == [1.0, 1.0, 1.0]


@pytest.mark.parametrize(
    "value, expected",
    [
        (2.5, [2.5, 2.5, 2.5]),
        (2, [2.0, 2.0, 2.0]),
        (True, [1.0, 1.0, 1.0]),
        (np.float32(0.5), [0.5, 0.5, 0.5]),
        ((1, 2, 3), [1.0, 2.0, 3.0]),
        ([1, 2.5, NAN], [1.0, 2.5, NAN]),
        (np.array([3, 2, 1], dtype=np.int16), [3.0, 2.0, 1.0]),
        (np.array([0.25, 0.5, 0.75])[::-1], [0.75, 0.5, 0.25]),
        (array.array("d", [4.0, 5.0, 6.0]), [4.0, 5.0, 6.0]),
        (range(3), [0.0, 1.0, 2.0]),
    ],
)
def test_values_accepted_for_a_column(value, expected):
    ps = points()
    ps.col = value
    got = ps.attr("col")
    assert len(got) == 3 and all(a == b or (math.isnan(a) and math.isnan(b)) for a, b in zip(got, expected))


@pytest.mark.parametrize(
    "value",
    ["1.5", "", {1.0, 2.0}, (v for v in [1.0, 2.0]), {"a": 1.0, "b": 2.0}, None, object(), [1.0, "2"], [[1.0], [2.0]]],
)
def test_values_refused_for_a_column(value):
    ps = points(2)
    with pytest.raises(TypeError) as info:
        ps.set_attr("col", value)
    assert str(info.value) == "PointSet.set_attr: expected a numeric column, a same-length list[float], or a scalar"
    assert ps.attr_names() == []


@pytest.mark.parametrize(
    "make, value, rows",
    [
        (lambda: points(0), [1.0], 1),
        (lambda: points(3), [1.0, 2.0], 2),
        (lambda: points(3), np.zeros(4), 4),
        (lambda: points(3), b"abcd", 4),  # bytes are a sequence of small ints
        (lambda: points(3), np.array([7.0]), 1),  # a sequence first, never a broadcast number
    ],
)
def test_column_of_the_wrong_length(make, value, rows):
    ps = make()
    with pytest.raises(ValueError) as info:
        ps.set_attr("col", value)
    assert str(info.value) == f"PointSet.set_attr: column has {rows} rows, expected {len(ps)}"


def test_empty_set_takes_a_scalar_or_an_empty_list():
    ps = points(0)
    ps.a = 1.0
    ps.b = []
    assert ps.attr("a") == [] and ps.attr("b") == []
    assert ps.attr_names() == ["a", "b"]


def test_columns_of_other_sets_are_accepted_by_length_only():
    ps = points(3)
    pg = squares(3)
    pg.zone = [1.0, 2.0, 3.0]
    ps.from_polygons = pg.zone
    ps.area = pg.area  # a polygon column with a call value: only its values count
    other = points(3)
    other.v = [7.0, 8.0, 9.0]
    ps.copied = other.v
    assert ps.attr("from_polygons") == [1.0, 2.0, 3.0]
    assert ps.attr("area") == [1.0, 1.0, 1.0]
    assert ps.attr("copied") == [7.0, 8.0, 9.0]
    with pytest.raises(ValueError, match=r"^PolygonSet.set_attr: column has 4 rows, expected 3$"):
        pg.bad = points(4).x


def test_replacing_keeps_position_and_history_records_each_write():
    ps = points()
    ps.a = 1.0
    ps.b = 2.0
    ps.set_attr(name="a", values=[5.0, 6.0, 7.0])
    assert ps.attr_names() == ["a", "b"]
    assert ps.a.values() == [5.0, 6.0, 7.0]
    assert ps.history() == [
        "points.from_coords",
        "points.set_attr(name=a)",
        "points.set_attr(name=b)",
        "points.set_attr(name=a)",
    ]
    pg = squares()
    pg.set_attr("z", 0.0)
    assert pg.history() == ["polygons.from_rings", "polygons.set_attr(name=z)"]


def test_set_attr_arguments():
    ps = points()
    with pytest.raises(TypeError) as info:
        ps.set_attr(1, [1.0, 2.0, 3.0])
    assert "while processing 'name'" in info.value.__notes__
    with pytest.raises(TypeError):
        ps.set_attr("a")


@pytest.mark.parametrize("name", ["porosity", "x", "name", "__class__"])
def test_attributes_cannot_be_deleted(name):
    ps = points()
    ps.porosity = 1.0
    with pytest.raises(AttributeError, match=r"^can't delete attribute$"):
        delattr(ps, name)
    assert ps.attr("porosity") == [1.0, 1.0, 1.0]


def test_a_value_that_reads_the_set_being_written_meets_the_access_guard():
    ps = points()

    class Sneaky:
        def __float__(self):
            ps.xy()  # shared access while the write holds the set exclusively
            return 1.0

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        ps.col = Sneaky()
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        ps.set_attr("col", [1.0, Sneaky(), 2.0])
    assert ps.attr_names() == []
    assert ps.history() == ["points.from_coords"]


@pytest.mark.parametrize(
    "write",
    [
        lambda ps: setattr(ps, "col", 10**400),
        lambda ps: ps.set_attr("col", [1.0, 10**400, 2.0]),
        lambda ps: ps.x + 10**400,
        lambda ps: 10**400 - ps.x,
    ],
)
def test_a_number_too_large_for_a_float_is_an_overflow_not_a_type_refusal(write):
    ps = points()
    with pytest.raises(OverflowError):
        write(ps)
    assert ps.attr_names() == []


# ---- column values -------------------------------------------------------------------


def test_column_protocols():
    ps = points()
    ps.v = [1.0, NAN, 3.0]
    col = ps.v
    assert len(col) == 3 and bool(col)
    st = col.stats()
    assert (st.count, st.mean) == (2, 2.0)
    empty = points(0).x
    assert len(empty) == 0 and not empty
    assert points(2).x.__class__.__name__ == "PointColumn"
    all_nan = (ps.v * NAN).stats()
    assert all_nan.count == 0
    with pytest.raises(TypeError):
        iter(col)
    with pytest.raises(TypeError):
        col[0]
    with pytest.raises(TypeError):
        -col
    with pytest.raises(TypeError):
        vz.PointColumn()
    assert col != ps.v  # identity only
    assert repr(squares().area) == "PolygonColumn(name='area', len=3)"


def test_repr_inserts_the_name_unescaped():
    ps = points()
    setattr(ps, "it's", 1.0)
    assert repr(getattr(ps, "it's")) == "PointColumn(name='it's', len=3)"


@pytest.mark.parametrize(
    "expr, expected",
    [
        (lambda c: c + 1, [2.0, 3.0, 5.0]),
        (lambda c: 1 + c, [2.0, 3.0, 5.0]),
        (lambda c: c - 1, [0.0, 1.0, 3.0]),
        (lambda c: 1 - c, [0.0, -1.0, -3.0]),
        (lambda c: c * 2, [2.0, 4.0, 8.0]),
        (lambda c: 2 * c, [2.0, 4.0, 8.0]),
        (lambda c: c / 4, [0.25, 0.5, 1.0]),
        (lambda c: c + True, [2.0, 3.0, 5.0]),
        (lambda c: c * np.float64(0.5), [0.5, 1.0, 2.0]),
        (lambda c: c + c, [2.0, 4.0, 8.0]),
        (lambda c: c - c * 2, [-1.0, -2.0, -4.0]),
        (lambda c: c / c, [1.0, 1.0, 1.0]),
    ],
)
def test_operators_with_scalars_and_columns(expr, expected):
    for make in (points, squares):
        s = make()
        s.v = [1.0, 2.0, 4.0]
        col = s.v
        out = expr(col)
        assert type(out) is type(col)
        assert repr(out) == repr(col)  # named like the column operand
        assert out.values() == expected
        assert col.values() == [1.0, 2.0, 4.0]  # operands unchanged


def test_division_follows_ieee():
    ps = points()
    ps.v = [1.0, -1.0, 0.0]
    out = (ps.v / 0.0).values()
    assert out[0] == math.inf and out[1] == -math.inf and math.isnan(out[2])


def test_augmented_assignment_rebinds_to_a_new_column():
    ps = points()
    col = ps.x
    before = col
    col += 1
    assert col is not before and before.values() == [0.0, 1.0, 2.0] and col.values() == [1.0, 2.0, 3.0]


def test_mixed_column_classes_take_the_left_class_and_name():
    ps = points(3)
    ps.a = [1.0, 2.0, 3.0]
    pg = squares(3)
    pg.b = [10.0, 20.0, 30.0]
    left = ps.a + pg.b
    assert type(left) is vz.PointColumn and repr(left) == "PointColumn(name='a', len=3)"
    assert left.values() == [11.0, 22.0, 33.0]
    right = pg.b + ps.a
    assert type(right) is vz.PolygonColumn and repr(right) == "PolygonColumn(name='b', len=3)"
    with pytest.raises(TypeError, match=r"^PolygonColumn 'b' is not callable"):
        right()
    area_sum = pg.area + pg.b
    with pytest.raises(TypeError, match=r"^PolygonColumn 'area' is not callable"):
        area_sum()


@pytest.mark.parametrize(
    "op, label",
    [
        (lambda a, b: a + b, "__add__"),
        (lambda a, b: a - b, "__sub__"),
        (lambda a, b: a * b, "__mul__"),
        (lambda a, b: a / b, "__truediv__"),
    ],
)
def test_columns_of_different_lengths(op, label):
    short, long_ = points(3), points(4)
    with pytest.raises(ValueError) as info:
        op(short.x, long_.x)
    assert str(info.value) == f"PointColumn.{label}: columns have different lengths (3 vs 4)"
    with pytest.raises(ValueError) as info:
        op(squares(4).area, short.x)
    assert str(info.value) == f"PolygonColumn.{label}: columns have different lengths (4 vs 3)"


class Other:
    """An operand that offers its own operators on both sides."""

    def __radd__(self, other):
        return "Other.__radd__"

    def __add__(self, other):
        return NotImplemented


@pytest.mark.parametrize("right", ["1", None, [1.0, 2.0, 3.0], Other(), np.zeros(3)])
def test_an_unsupported_right_operand_is_refused_not_passed_on(right):
    col = points().x
    with pytest.raises(TypeError) as info:
        col + right
    assert str(info.value) == "PointColumn.__add__: operands must be a scalar or a column from the same container"


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.__radd__("1"),
        lambda c: c.__rsub__(None),
        lambda c: c.__rmul__([1.0]),
        lambda c: c.__rtruediv__(2.0),  # no reflected division at all
        lambda c: c.__radd__(c.__class__),
    ],
)
def test_reflected_steps_yield_not_implemented(call):
    assert call(points().x) is NotImplemented
    assert call(squares().area) is NotImplemented


@pytest.mark.parametrize(
    "expr", [lambda c: 2 / c, lambda c: "1" + c, lambda c: None * c, lambda c: Other() + c, lambda c: Other() - c]
)
def test_scalar_on_the_left_that_the_column_refuses_is_the_interpreters_type_error(expr):
    with pytest.raises(TypeError) as info:
        expr(points().x)
    assert not str(info.value).startswith("PointColumn")


def test_area_column():
    pg = squares(4)
    col = pg.area
    assert isinstance(col, vz.PolygonColumn)
    assert col.values() == [1.0, 1.0, 1.0, 2.0]
    assert col() == 5.0 and pg.area() == pg.total_area()
    assert "area" not in pg.attr_names() and pg.attr("area") is None
    with pytest.raises(TypeError, match=r"^PolygonColumn 'area' is not callable; use .values\(\) or assign it"):
        (pg.area * 2)()
    with pytest.raises(TypeError):
        pg.area(1)
    with pytest.raises(TypeError):
        pg.area(scale=1)
    assert pg.area is not pg.area  # computed on every access


def test_polygon_column_lookup_and_write():
    pg = squares()
    pg.set_attr("Zone Code", [1, 2, 3])
    assert pg.zone_code.values() == [1.0, 2.0, 3.0]
    assert repr(pg.zone_code) == "PolygonColumn(name='zone_code', len=3)"
    with pytest.raises(TypeError, match=r"^PolygonColumn 'zone_code' is not callable"):
        pg.zone_code()
    with pytest.raises(TypeError, match=r"^PolygonSet.set_attr: expected a numeric column"):
        pg.zone = "3"
