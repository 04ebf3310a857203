#include "frame/warnings.hpp"

namespace vz::py {

namespace {

// warnings.warn counts frames of Python code only. Called from native code the
// innermost Python frame is the user's line that called the binding, so level
// 1 names it; level 2 would name the line above it (and, from a script's top
// level, a frame outside __main__, where DeprecationWarning is hidden).
constexpr long kStackLevel = 1;

PyResult<void> warn(PyObject* category, std::string_view message) {
    VZ_ASSIGN_OR_RETURN(Ref module, checked(PyImport_ImportModule("warnings")));
    VZ_ASSIGN_OR_RETURN(Ref warn_fn, checked(PyObject_GetAttrString(module.get(), "warn")));
    VZ_ASSIGN_OR_RETURN(Ref text, make_str(message));
    VZ_ASSIGN_OR_RETURN(Ref level, checked(PyLong_FromLong(kStackLevel)));
    VZ_ASSIGN_OR_RETURN(Ref r, checked(PyObject_CallFunctionObjArgs(warn_fn.get(), text.get(), category,
                                                                    level.get(), nullptr)));
    return {};
}

}  // namespace

PyResult<void> warn_deprecated(std::string_view message) { return warn(PyExc_DeprecationWarning, message); }
PyResult<void> warn_user(std::string_view message) { return warn(PyExc_UserWarning, message); }

}  // namespace vz::py
