#pragma once
/// Attribute lanes from Python: the `AttrAccessor` class, and the dictionary
/// form of attribute metadata that every surface class reads and writes.
///
/// The dictionary has the keys "id", "label", "kind" ("continuous" or
/// "categorical"), "units" and "codes" (None, or code key -> {"label",
/// "color"}). Written dictionaries carry all five keys in that order; a dict
/// read back may carry any subset of them and nothing else.

#include <string_view>

#include "core/attribute.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// `AttrAccessor`: the `Surface` object whose lanes it promotes.
struct AttrAccessorPayload {
    Ref surface;
};

PyResult<PyTypeObject*> attr_accessor_type();
PyResult<Ref> new_attr_accessor(Ref surface);

/// A new dict of `metadata` (all five keys, codes in stored order).
PyResult<Ref> attribute_metadata_to_py_dict(const vz::AttributeMetadata& metadata);

/// The metadata a dict describes for lane `lane_name`: a missing or None id
/// is the lane name, a missing label the id, a missing kind continuous.
/// TypeError for unknown keys and values of the wrong type; ValueError for a
/// code record or metadata the core's rules refuse. Nothing is trimmed;
/// code colours are upper-cased.
PyResult<vz::AttributeMetadata> attribute_metadata_from_py_dict(std::string_view lane_name, const Dict& dict);

}  // namespace vz::py
