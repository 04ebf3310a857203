"""Shared helpers for the binding tests."""

import pytest

from voridez import _voridez

# The module's public names in the order of registration; names whose
# subsystem is not built yet are simply absent.
REGISTRATION_ORDER = [
    "__version__",
    "canonical_mnemonic",
    "detect",
    "FormatKind",
    "Stats",
    "BBox",
    "GridGeometry",
    "TopologyReport",
    "StructuredShell",
    "MeshShell",
    "TriSurface",
    "Surface",
    "AttrAccessor",
    "StructuredMeshSurface",
    "PointSet",
    "PointColumn",
    "PolygonSet",
    "PolygonColumn",
    "Trajectory",
    "SurfaceIntersection",
    "WellIntersectionSet",
    "Well",
    "Sidetrack",
    "Interval",
    "LogView",
    "GeoData",
    "WellsView",
    "NetSettings",
    "IngestSpec",
]

CLASS_NAMES = [n for n in REGISTRATION_ORDER if n[0].isupper()]
INSTANTIABLE = {"GridGeometry", "GeoData", "NetSettings", "IngestSpec"}
PRESENT_CLASSES = [n for n in CLASS_NAMES if hasattr(_voridez, n)]


def twin(qualname, params):
    """A Python function with the given qualified name and parameter list, to
    learn what the interpreter itself says for a call."""
    name = qualname.rsplit(".", 1)[-1]
    namespace = {}
    exec(f"def {name}({params}):\n    return None\n", namespace)
    fn = namespace[name]
    fn.__qualname__ = qualname
    return fn


def type_error_text(fn, args, kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return str(info.value)

