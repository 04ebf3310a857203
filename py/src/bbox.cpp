#include "bbox.hpp"

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/frame.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "An axis-aligned 2-D bounding box (read-only).";

template <double vz::BBox::*Field>
PyResult<double> field(PyObject* self) {
    return payload<vz::BBox>(self).*Field;
}

PyResult<std::string> repr(PyObject* self) {
    const vz::BBox& b = payload<vz::BBox>(self);
    return fmt::format("BBox(xmin={}, ymin={}, xmax={}, ymax={})", num(b.xmin), num(b.ymin), num(b.xmax),
                       num(b.ymax));
}

}  // namespace

PyResult<PyTypeObject*> bbox_type() {
    static TypeCell cell;
    return cell.get([] {
        return ClassDef::of<vz::BBox>("BBox", kDoc)
            .getter<&field<&vz::BBox::xmin>>("xmin")
            .getter<&field<&vz::BBox::ymin>>("ymin")
            .getter<&field<&vz::BBox::xmax>>("xmax")
            .getter<&field<&vz::BBox::ymax>>("ymax")
            .repr<&repr>();
    });
}

PyResult<Ref> new_bbox(vz::BBox box) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, bbox_type());
    return create_instance(type, box);
}

}  // namespace vz::py
