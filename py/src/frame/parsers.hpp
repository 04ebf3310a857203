#pragma once
/// The shared argument parsers for length units and gridding methods, as
/// binding steps: a unit failure is a ValueError, a method failure a
/// TypeError, each with the parser's text. The argument has already been
/// converted to text (a non-str failed there with the conversion TypeError).

#include <string_view>

#include "frame/py_err.hpp"
#include "frame/unit_method_parse.hpp"

namespace vz::py {

/// `unit` arguments: "m"/"metre"/"meter"/"metres"/"meters" or
/// "ft"/"feet"/"foot", any ASCII case, no surrounding white space.
inline PyResult<LengthUnit> parse_length_unit(std::string_view text) {
    auto r = parse_length_unit_text(text);
    if (!r) return raise(PyErr::value_error(std::move(r.error())));
    return *r;
}

/// `method` arguments: "nearest", "idw", "min_curvature" and their spellings.
inline PyResult<GriddingMethod> parse_gridding_method(std::string_view text) {
    auto r = parse_gridding_method_text(text);
    if (!r) return raise(PyErr::type_error(std::move(r.error())));
    return *r;
}

}  // namespace vz::py
