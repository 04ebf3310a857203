#pragma once
/// Attribute lanes from Python: the `AttrAccessor` class, and the dictionary
/// form of attribute metadata that every surface class reads and writes.
///
/// The dictionary has the keys "id", "label", "kind" ("continuous" or
/// "categorical"), "units" and "codes" (None, or code key -> {"label",
/// "color"}). Written dictionaries carry all five keys in that order; a dict
/// read back may carry any subset of them and nothing else.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

/// Sets lane `name` of a core surface of any kind (changed in place) to
/// `lane`: with a metadata dict, the dict is read for that lane and the lane
/// set with it (`set_attr_with_metadata`); without one, by `set_attr`. Core
/// refusals become ValueErrors; on any failure the surface is unchanged.
template <class CoreSurface, class Lane>
PyResult<void> set_lane_values(CoreSurface& surface, const std::string& name, Lane lane,
                               const std::optional<Dict>& metadata) {
    if (metadata) {
        VZ_ASSIGN_OR_RETURN(vz::AttributeMetadata md, attribute_metadata_from_py_dict(name, *metadata));
        return from_core(surface.set_attr_with_metadata(name, std::move(lane), std::move(md)));
    }
    return from_core(surface.set_attr(name, std::move(lane)));
}

}  // namespace vz::py
