#pragma once
/// The payloads of the value classes of maps and scattered data, and the one
/// way every method reaches the core value behind an object.
///
/// `Surface`, `StructuredMeshSurface`, `PointSet` and `PolygonSet` objects
/// start with a two-variant source:
///   - `InGeo`: a view of an element stored in a project — the element's
///     stored name and a strong reference to the `GeoData` object. Every use
///     looks the element up again (a replacement under the same name is seen
///     by the next call; a rename or deletion makes the view stale).
///   - owned: a shared, reference-counted core value. Several objects may
///     share one value; an object that wants to change it first makes it its
///     own (`make_owned`).
/// `TriSurface`, the shells and `GridGeometry` never refer to a project.
///
/// Reference cycles: a payload holds at most a reference to a `GeoData`
/// object, whose own payload (the core project) holds no Python object, so
/// no cycle can form through these payloads and no class needs the garbage
/// collector.
///
/// Raw core references: `with_resolved` hands `f` a reference into the
/// project while it holds shared access to the project, so the project
/// cannot change (or drop the element) for as long as `f` runs, even when
/// `f` calls back into Python or releases the interpreter lock.

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "core/grid_geometry.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "frame/frame.hpp"
#include "geodata.hpp"

namespace vz::py {

/// A view of a project element: its stored name (exactly as the project
/// stores it) and the `GeoData` object.
struct InGeo {
    std::string name;
    Ref geo;
};

/// How each element kind is found in a project, and the message of a view
/// whose element is gone.
template <class T>
struct SourceTraits;

template <>
struct SourceTraits<vz::Surface> {
    static const vz::Surface* find(const vz::GeoData& g, std::string_view n) { return g.regular_surface(n); }
    static constexpr const char* kStale = "no surface '{}'";
};
template <>
struct SourceTraits<vz::StructuredMeshSurface> {
    static const vz::StructuredMeshSurface* find(const vz::GeoData& g, std::string_view n) {
        return g.structured_surface(n);
    }
    static constexpr const char* kStale = "no structured surface '{}'";
};
template <>
struct SourceTraits<vz::PointSet> {
    static const vz::PointSet* find(const vz::GeoData& g, std::string_view n) { return g.point_set(n); }
    static constexpr const char* kStale = "no point set '{}'";
};
template <>
struct SourceTraits<vz::PolygonSet> {
    static const vz::PolygonSet* find(const vz::GeoData& g, std::string_view n) { return g.polygon_set(n); }
    static constexpr const char* kStale = "no polygon set '{}'";
};

/// The source at the head of a sourced payload.
template <class T>
struct Source {
    std::variant<InGeo, std::shared_ptr<T>> v;

    /// A new owned value with one holder.
    static Source owned(T value) { return Source{std::make_shared<T>(std::move(value))}; }
    /// A view of the element stored under `name` in the project `geo`.
    static Source in_geo(std::string name, Ref geo) { return Source{InGeo{std::move(name), std::move(geo)}}; }

    bool is_view() const { return std::holds_alternative<InGeo>(v); }
    /// The view's stored name (views only).
    const InGeo* view() const { return std::get_if<InGeo>(&v); }
};

using SurfaceSource = Source<vz::Surface>;
using StructuredSurfaceSource = Source<vz::StructuredMeshSurface>;
using PointSource = Source<vz::PointSet>;
using PolygonSource = Source<vz::PolygonSet>;

/// The result type of `with_resolved(source, f)`: `PyResult<R>` for an `f`
/// returning R or `PyResult<R>`.
template <class T, class F>
using ResolvedResult = FlatResult<std::invoke_result_t<F, const T&>>;

/// The ValueError of a view whose element is no longer stored.
template <class T>
PyErr stale_element(std::string_view stored_name) {
    return PyErr::value_error(fmt::format(fmt::runtime(SourceTraits<T>::kStale), stored_name));
}

/// Runs `f` on the core value behind `source` (the caller holds shared
/// access to the object that owns the source) and returns its result: an
/// owned value directly; a view under shared access to its project, held
/// until `f` returns, on the stored value in place (no copy). A view whose
/// element is gone fails with the stale-element ValueError and a project
/// under exclusive access with "Already mutably borrowed"; `f` is then not
/// called. `f` may return a value, a `PyResult` or a core `Result` (which is
/// passed through for the caller to convert).
template <class T, class F>
ResolvedResult<T, F> with_resolved(const Source<T>& source, F&& f) {
    auto run = [&](const T& value) -> ResolvedResult<T, F> { return call_flat(std::forward<F>(f), value); };
    if (const InGeo* view = source.view()) {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(view->geo.get()));
        const T* stored = SourceTraits<T>::find(geo->project, view->name);
        if (!stored) return raise(stale_element<T>(view->name));
        return run(*stored);
    }
    return run(*std::get<std::shared_ptr<T>>(source.v));
}

/// Detaches: a view becomes owned (a copy of the stored value, taken under
/// shared access to the project, which is released again), and an owned
/// value shared with other holders is copied, so that the returned value
/// belongs to this source alone and may be changed. The caller holds
/// exclusive access to the object that owns the source. A stale view fails
/// as in `with_resolved` and stays a view.
template <class T>
PyResult<T*> make_owned(Source<T>& source) {
    if (const InGeo* view = source.view()) {
        std::shared_ptr<T> copy;
        {
            VZ_ASSIGN_OR_RETURN(auto geo, project_shared(view->geo.get()));
            const T* stored = SourceTraits<T>::find(geo->project, view->name);
            if (!stored) return raise(stale_element<T>(view->name));
            copy = std::make_shared<T>(*stored);
        }
        source.v = std::move(copy);
    }
    auto& value = std::get<std::shared_ptr<T>>(source.v);
    if (value.use_count() > 1) value = std::make_shared<T>(*value);
    return value.get();
}

// ---- payloads -------------------------------------------------------------

/// `Surface`: the source, then the optional display name.
struct SurfacePayload {
    SurfaceSource source;
    std::optional<std::string> name;
};
/// `StructuredMeshSurface`: the source, then the optional display name.
struct StructuredSurfacePayload {
    StructuredSurfaceSource source;
    std::optional<std::string> name;
};
/// `TriSurface`: the optional display name, then the shared value.
struct TriSurfacePayload {
    std::optional<std::string> name;
    std::shared_ptr<const vz::TriSurface> value;
};
/// `StructuredShell`: the optional display name, then the shared shell.
struct StructuredShellPayload {
    std::optional<std::string> name;
    SharedStructuredShell shell;
};
/// `MeshShell`: the optional display name, then the shared shell.
struct MeshShellPayload {
    std::optional<std::string> name;
    SharedMeshShell shell;
};
/// `GridGeometry`: an optional edge, the optional display name, the lattice.
struct GridGeometryPayload {
    std::optional<vz::PolygonSet> edge;
    std::optional<std::string> name;
    vz::GridGeometry lattice;
};
/// `PointSet`: the source, then the optional display name.
struct PointSetPayload {
    PointSource source;
    std::optional<std::string> name;
};
/// `PolygonSet`: the source, then the optional display name.
struct PolygonSetPayload {
    PolygonSource source;
    std::optional<std::string> name;
};

/// `StructuredMeshSurface::derive_shared`: a copy that shares its shell with
/// `value` (values, lanes, metadata and history copied).
inline vz::StructuredMeshSurface derive_shared(const vz::StructuredMeshSurface& value) { return value; }

// ---- class objects (each defined in its class's file) ----------------------

PyResult<PyTypeObject*> grid_geometry_type();
PyResult<PyTypeObject*> structured_shell_type();
PyResult<PyTypeObject*> mesh_shell_type();
PyResult<PyTypeObject*> tri_surface_type();
PyResult<PyTypeObject*> surface_type();
PyResult<PyTypeObject*> structured_surface_type();
PyResult<PyTypeObject*> point_set_type();
PyResult<PyTypeObject*> polygon_set_type();

// ---- handing out objects ---------------------------------------------------

/// A new object of the class holding `payload`.
PyResult<Ref> new_surface(SurfacePayload payload);
PyResult<Ref> new_structured_surface(StructuredSurfacePayload payload);
PyResult<Ref> new_tri_surface(TriSurfacePayload payload);
PyResult<Ref> new_structured_shell(StructuredShellPayload payload);
PyResult<Ref> new_mesh_shell(MeshShellPayload payload);
PyResult<Ref> new_grid_geometry(GridGeometryPayload payload);
PyResult<Ref> new_point_set(PointSetPayload payload);
PyResult<Ref> new_polygon_set(PolygonSetPayload payload);

/// `Surface::from_owned`: an owned payload of a core value, no display name.
inline SurfacePayload surface_from_owned(vz::Surface value) {
    return SurfacePayload{SurfaceSource::owned(std::move(value)), std::nullopt};
}
/// `TriSurface::from_owned`: the same for a triangulated surface.
inline TriSurfacePayload tri_surface_from_owned(vz::TriSurface value) {
    return TriSurfacePayload{std::nullopt, std::make_shared<const vz::TriSurface>(std::move(value))};
}

/// A new owned object of the class for a core value and a display name.
PyResult<Ref> new_owned_surface(vz::Surface value, std::optional<std::string> name = std::nullopt);
PyResult<Ref> new_owned_structured_surface(vz::StructuredMeshSurface value,
                                           std::optional<std::string> name = std::nullopt);
PyResult<Ref> new_owned_point_set(vz::PointSet value, std::optional<std::string> name = std::nullopt);
PyResult<Ref> new_owned_polygon_set(vz::PolygonSet value, std::optional<std::string> name = std::nullopt);

/// A view of the element stored under `stored_name` in the project `geo`,
/// named `name_leaf(stored_name)`, as the project binding hands it out.
PyResult<Ref> new_surface_view(std::string stored_name, Ref geo);
PyResult<Ref> new_structured_surface_view(std::string stored_name, Ref geo);
PyResult<Ref> new_point_set_view(std::string stored_name, Ref geo);
PyResult<Ref> new_polygon_set_view(std::string stored_name, Ref geo);

}  // namespace vz::py
