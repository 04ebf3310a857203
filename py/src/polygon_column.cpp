// The `PolygonColumn` class. Like `PointColumn` it has no constructor and no
// docstring of its own; calling it gives the scalar the `area` column keeps
// (the total area), so that `polygons.area()` still reads as a total.

#include "polygon_column.hpp"

namespace vz::py {

namespace {

PyResult<double> call(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto col, borrow<PolygonColumnPayload>(self));
    if (!col->call_value)
        return raise(PyErr::type_error(fmt::format(
            "PolygonColumn '{}' is not callable; use .values() or assign it as an attribute", col->name)));
    return *col->call_value;
}

ClassDef define() {
    ClassDef def = ClassDef::of<PolygonColumnPayload>("PolygonColumn", nullptr);
    add_column_members<PolygonColumnPayload, &polygon_column_type>(def);
    def.call<&call>("__call__($self)\n--\n\n");
    return def;
}

}  // namespace

PyResult<PyTypeObject*> polygon_column_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_polygon_column(std::optional<double> call_value, std::string name, std::vector<double> values) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, polygon_column_type());
    return create_instance(type, PolygonColumnPayload{call_value, std::move(name), std::move(values)});
}

}  // namespace vz::py
