#include "frame/module_add.hpp"

namespace vz::py {

PyResult<void> add_to_module(PyObject* module, const char* name, Ref value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return raise_pending();
        PyErr_Clear();
        VZ_ASSIGN_OR_RETURN(all, checked(PyList_New(0)));
    }
    VZ_ASSIGN_OR_RETURN(Ref key, checked(PyUnicode_FromString(name)));
    if (PyList_Append(all.get(), key.get()) < 0) return raise_pending();
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return raise_pending();
    if (PyObject_SetAttr(module, key.get(), value.get()) < 0) return raise_pending();
    return {};
}

}  // namespace vz::py
