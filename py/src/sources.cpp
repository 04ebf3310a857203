#include "sources.hpp"

namespace vz::py {

namespace {

template <class Payload, class T>
Payload owned_payload(T value, std::optional<std::string> name) {
    return Payload{Source<T>::owned(std::move(value)), std::move(name)};
}

template <class Payload, class T>
Payload view_payload(std::string stored_name, Ref geo) {
    std::string leaf = name_leaf(stored_name);
    return Payload{Source<T>::in_geo(std::move(stored_name), std::move(geo)), std::move(leaf)};
}

}  // namespace

PyResult<Ref> new_owned_surface(vz::Surface value, std::optional<std::string> name) {
    return new_surface(owned_payload<SurfacePayload>(std::move(value), std::move(name)));
}
PyResult<Ref> new_owned_structured_surface(vz::StructuredMeshSurface value, std::optional<std::string> name) {
    return new_structured_surface(owned_payload<StructuredSurfacePayload>(std::move(value), std::move(name)));
}
PyResult<Ref> new_owned_point_set(vz::PointSet value, std::optional<std::string> name) {
    return new_point_set(owned_payload<PointSetPayload>(std::move(value), std::move(name)));
}
PyResult<Ref> new_owned_polygon_set(vz::PolygonSet value, std::optional<std::string> name) {
    return new_polygon_set(owned_payload<PolygonSetPayload>(std::move(value), std::move(name)));
}

PyResult<Ref> new_surface_view(std::string stored_name, Ref geo) {
    return new_surface(view_payload<SurfacePayload, vz::Surface>(std::move(stored_name), std::move(geo)));
}
PyResult<Ref> new_structured_surface_view(std::string stored_name, Ref geo) {
    return new_structured_surface(
        view_payload<StructuredSurfacePayload, vz::StructuredMeshSurface>(std::move(stored_name), std::move(geo)));
}
PyResult<Ref> new_point_set_view(std::string stored_name, Ref geo) {
    return new_point_set(view_payload<PointSetPayload, vz::PointSet>(std::move(stored_name), std::move(geo)));
}
PyResult<Ref> new_polygon_set_view(std::string stored_name, Ref geo) {
    return new_polygon_set(view_payload<PolygonSetPayload, vz::PolygonSet>(std::move(stored_name), std::move(geo)));
}

}  // namespace vz::py
