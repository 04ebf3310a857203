// The class object of this family; its methods are added by the files that build its behaviour.

#include "surface_attr.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "Accessor returned by `surface.attr`: subscript or call by attribute name to\n"
    "promote that attribute layer to a standalone `Surface`.";

ClassDef define() { return ClassDef::of<AttrAccessorPayload>("AttrAccessor", kDoc); }

}  // namespace

PyResult<PyTypeObject*> attr_accessor_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_attr_accessor(Ref surface) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, attr_accessor_type());
    return create_instance(type, AttrAccessorPayload{std::move(surface)});
}

}  // namespace vz::py
