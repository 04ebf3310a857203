// The _voridez extension module: a module definition without per-module
// state and with one execution step, which adds the version, the module
// functions and the classes in their fixed order.

#include <string>

#include "core/mnemonics.hpp"
#include "frame/frame.hpp"
#include "private_hooks.hpp"

namespace vz::py {

// The makers of the registered names (defined in their own files).
#define VZ_FUNCTION(name, maker) PyResult<Ref> maker(PyObject* module);
#define VZ_CLASS(name, type_fn) PyResult<PyTypeObject*> type_fn();
#include "registry.inc"
#undef VZ_FUNCTION
#undef VZ_CLASS

namespace {

constexpr const char* kVersion = "0.3.15";

constexpr const char* kModuleDoc =
    "The compiled extension module (`voridez._voridez`); re-exported by the\n"
    "`voridez` Python package's `__init__`.";

// canonical_mnemonic(raw) ------------------------------------------------------

constexpr const char* kCanonicalMnemonicDoc =
    "canonical_mnemonic(raw)\n--\n\n"
    "Canonical curve mnemonic for a raw LAS mnemonic (case-insensitive, trimmed,\n"
    "vintage-tag stripped). voridez is the family's curve-name authority \xe2\x80\x94 the\n"
    "`WellLogBundle` producer and any consumer normalize through this. An\n"
    "unrecognised mnemonic passes through (vintage-stripped, original case).";

// Any str is answered, lone surrogates included: they travel through the
// canonicaliser as their UTF-8-style bytes (which it never touches: it only
// trims white space, strips a "_dddd" tag and compares ASCII aliases) and come
// back unchanged.
PyResult<Ref> canonical_mnemonic(const Args& a) {
    PyObject* raw = a.raw("raw");
    if (!PyUnicode_Check(raw)) {
        PyErr err = not_instance(raw, "str");
        return raise(std::move(Args::add_parameter_note(err, "raw")));
    }
    VZ_ASSIGN_OR_RETURN(Ref bytes, checked(PyUnicode_AsEncodedString(raw, "utf-8", "surrogatepass")));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return raise_pending();
    const std::string out = vz::canonical_mnemonic(std::string_view(data, static_cast<std::size_t>(size)));
    return checked(PyUnicode_DecodeUTF8(out.data(), static_cast<Py_ssize_t>(out.size()), "surrogatepass"));
}

// The registered names, in order.

struct Entry {
    const char* name;
    PyResult<Ref> (*make)(PyObject* module);
};

template <PyResult<PyTypeObject*> (*TypeFn)()>
PyResult<Ref> class_object(PyObject*) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, TypeFn());
    return Ref::borrow(reinterpret_cast<PyObject*>(type));
}

constexpr Entry kEntries[] = {
#define VZ_FUNCTION(name, maker) {#name, &maker},
#define VZ_CLASS(name, type_fn) {#name, &class_object<&type_fn>},
#include "registry.inc"
#undef VZ_FUNCTION
#undef VZ_CLASS
};

PyResult<void> fill_module(PyObject* module) {
    VZ_ASSIGN_OR_RETURN(Ref version, to_py(kVersion));
    VZ_TRY(add_to_module(module, "__version__", std::move(version)));
    for (const Entry& e : kEntries) {
        VZ_ASSIGN_OR_RETURN(Ref obj, e.make(module));
        VZ_TRY(add_to_module(module, e.name, std::move(obj)));
    }
    return add_private_hooks(module);
}

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        not_instance(module, "module").restore();
        return -1;
    }
    auto r = fill_module(module);
    if (!r) {
        std::move(r.error()).restore();
        return -1;
    }
    return 0;
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_module)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, kModuleName, kModuleDoc, 0, nullptr, kSlots, nullptr, nullptr, nullptr};

}  // namespace

PyResult<Ref> canonical_mnemonic_function(PyObject* module) {
    return make_function<&canonical_mnemonic>(kCanonicalMnemonicDoc, module);
}

}  // namespace vz::py

PyMODINIT_FUNC PyInit__voridez(void) { return PyModuleDef_Init(&vz::py::kModule); }
