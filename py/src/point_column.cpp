// The `PointColumn` class. It has no constructor and no docstring of its
// own: columns come from attribute access on a point set and from column
// arithmetic.

#include "point_column.hpp"

namespace vz::py {

namespace {

ClassDef define() {
    ClassDef def = ClassDef::of<PointColumnPayload>("PointColumn", nullptr);
    add_column_members<PointColumnPayload, &point_column_type>(def);
    return def;
}

}  // namespace

PyResult<PyTypeObject*> point_column_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_point_column(std::string name, std::vector<double> values) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, point_column_type());
    return create_instance(type, PointColumnPayload{std::move(name), std::move(values)});
}

}  // namespace vz::py
