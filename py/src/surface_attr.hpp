#pragma once
/// The `AttrAccessor` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "frame/frame.hpp"

namespace vz::py {

/// `AttrAccessor`: the `Surface` object whose lanes it promotes.
struct AttrAccessorPayload {
    Ref surface;
};

PyResult<PyTypeObject*> attr_accessor_type();
PyResult<Ref> new_attr_accessor(Ref surface);

}  // namespace vz::py
