#pragma once
/// The `NetSettings` class: the frozen net cutoffs (porosity, water
/// saturation, shale volume) that zone tables, net statistics and the viewer
/// take as their `cut` argument.

#include "analysis/interpret.hpp"
#include "frame/convert.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// The class object (created on first need).
PyResult<PyTypeObject*> net_settings_type();
/// A new `NetSettings` object holding `cut`.
PyResult<Ref> new_net_settings(vz::Cutoffs cut);
/// The cutoffs of a `NetSettings` object (a `cut` argument); any other
/// object: TypeError "'{}' object is not an instance of 'NetSettings'".
PyResult<vz::Cutoffs> net_settings_value(PyObject* obj);

/// `a.get<vz::Cutoffs>("cut")`: a `cut` argument through the argument
/// binding, with the note naming the parameter on failure.
template <>
struct FromPy<vz::Cutoffs> {
    static PyResult<vz::Cutoffs> convert(PyObject* obj) { return net_settings_value(obj); }
};

}  // namespace vz::py
