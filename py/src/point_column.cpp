// The class object of this family; its methods are added by the files that build its behaviour.

#include "point_column.hpp"

namespace vz::py {

namespace {

ClassDef define() { return ClassDef::of<PointColumnPayload>("PointColumn", nullptr); }

}  // namespace

PyResult<PyTypeObject*> point_column_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_point_column(Ref owner, std::string name) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, point_column_type());
    return create_instance(type, PointColumnPayload{std::move(owner), std::move(name)});
}

}  // namespace vz::py
