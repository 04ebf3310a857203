// The _voridez extension module: one execution step fills the module.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "core/mnemonics.hpp"

namespace {

PyObject* py_canonical_mnemonic(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"raw", nullptr};
    const char* raw = nullptr;
    Py_ssize_t len = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s#:canonical_mnemonic", const_cast<char**>(kwlist), &raw, &len))
        return nullptr;
    std::string out = vz::canonical_mnemonic(std::string_view(raw, static_cast<std::size_t>(len)));
    return PyUnicode_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

PyMethodDef kFunctions[] = {
    {"canonical_mnemonic", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_canonical_mnemonic)),
     METH_VARARGS | METH_KEYWORDS, "canonical_mnemonic(raw)\n--\n\nCanonical curve mnemonic for a raw LAS mnemonic."},
    {nullptr, nullptr, 0, nullptr}};

int exec_module(PyObject* m) {
    if (PyModule_AddStringConstant(m, "__version__", "0.3.15") < 0) return -1;
    return PyModule_AddFunctions(m, kFunctions);
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_voridez", nullptr, 0, nullptr, kSlots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__voridez(void) { return PyModuleDef_Init(&kModule); }
