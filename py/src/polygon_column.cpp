// The class object of this family; its methods are added by the files that build its behaviour.

#include "polygon_column.hpp"

namespace vz::py {

namespace {

ClassDef define() { return ClassDef::of<PolygonColumnPayload>("PolygonColumn", nullptr); }

}  // namespace

PyResult<PyTypeObject*> polygon_column_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_polygon_column(Ref owner, std::string name) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, polygon_column_type());
    return create_instance(type, PolygonColumnPayload{std::move(owner), std::move(name)});
}

}  // namespace vz::py
