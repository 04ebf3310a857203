#pragma once
/// A three-level numeric argument: a sequence of sequences of sequences of
/// numbers (polygon rings of vertices). Each level refuses a `str` and
/// anything that is not a sequence, as the other sequence arguments do; the
/// innermost two levels are read by the conversion of nested numeric
/// sequences (with its buffer fast path for 2-D arrays).

#include <vector>

#include "frame/convert.hpp"

namespace vz::py {

template <>
struct FromPy<std::vector<std::vector<std::vector<double>>>> {
    static PyResult<std::vector<std::vector<std::vector<double>>>> convert(PyObject* obj);
};

}  // namespace vz::py
