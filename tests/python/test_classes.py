"""Properties every binding class shares."""

import math
import weakref

import pytest

from voridez import _voridez
from conftest import INSTANTIABLE, PRESENT_CLASSES

# First sentence of each class docstring, as registered.
DOC_START = {
    "Stats": "Summary statistics over defined (non-NaN) values.",
    "BBox": "An axis-aligned 2-D bounding box (read-only).",
    "GridGeometry": "A regular, rotatable areal lattice (the IRAP/RMS model).",
    "TopologyReport": "What `PointSet.detect_topology(...)` learned.",
    "TriSurface": "An unstructured triangulated surface over the original points.",
    "StructuredMeshSurface": "A structured mesh surface: regular logical topology, explicit XY nodes.",
    "PointSet": "Scattered 3-D points with named `f64` attribute columns.",
    "PolygonSet": "A collection of polygon rings (boundaries, faults, contacts).",
    "Trajectory": "A minimum-curvature well path positioned from a wellhead + KB datum.",
    "SurfaceIntersection": "One immutable crossing with measured depth, XYZ, and source identity.",
    "WellIntersectionSet": "Aggregate returned by `WellsView.intersection(s)`.",
    "Well": "A well: a view into a `GeoData` project's well collection.",
    "Sidetrack": "A bore (sidetrack): a view resolving `well.sidetrack(label)`.",
    "Interval": "The depth interval a top names: a view resolving its `Top` on the well.",
    "GeoData": "A load-once subsurface project under one declared length unit.",
    "WellsView": "A lightweight, broadcastable, filterable view over a project's wells.",
}


@pytest.fixture(params=PRESENT_CLASSES)
def cls(request):
    return getattr(_voridez, request.param)


def test_classes_of_this_build_are_registered():
    assert {"Stats", "BBox"} <= set(PRESENT_CLASSES)


def test_qualified_name_is_builtins(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__bases__ == (object,)


def test_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Derived", (cls,), {})


def test_instantiation_only_where_a_constructor_exists(cls):
    if cls.__name__ in INSTANTIABLE:
        pytest.skip("has a constructor")
    with pytest.raises(TypeError, match=f"cannot create 'builtins.{cls.__name__}' instances"):
        cls()


def test_docstring_start(cls):
    start = DOC_START.get(cls.__name__)
    if start is None:
        pytest.skip("no docstring start recorded for this class")
    assert cls.__doc__.startswith(start)


@pytest.fixture(
    params=[
        lambda: _voridez._stats([1.0, 2.0]),
        lambda: _voridez._bbox(0.0, 0.0, 1.0, 1.0),
    ],
    ids=["Stats", "BBox"],
)
def make_value(request):
    return request.param


def test_instances_have_no_dict_or_weakref(make_value):
    obj = make_value()
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError, match="cannot create weak reference"):
        weakref.ref(obj)


def test_instances_hash_and_compare_by_identity(make_value):
    first, second = make_value(), make_value()
    assert first == first
    assert first != second
    assert hash(first) == hash(first)
    assert len({first, second}) == 2


@pytest.mark.parametrize("name", ["count", "mean", "min", "max", "std", "sum", "p10", "p50", "p90"])
def test_stats_fields_are_read_only(name):
    s = _voridez._stats([1.0, 2.0, 3.0])
    before = getattr(s, name)
    with pytest.raises(AttributeError):
        setattr(s, name, 5.0)
    after = getattr(s, name)
    assert after == before or (math.isnan(after) and math.isnan(before))


@pytest.mark.parametrize("name", ["xmin", "ymin", "xmax", "ymax"])
def test_bbox_fields_are_read_only(name):
    b = _voridez._bbox(1.0, 2.0, 3.0, 4.0)
    with pytest.raises(AttributeError):
        setattr(b, name, 9.0)
    with pytest.raises(AttributeError):
        delattr(b, name)
    assert (b.xmin, b.ymin, b.xmax, b.ymax) == (1.0, 2.0, 3.0, 4.0)
