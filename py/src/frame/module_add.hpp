#pragma once
/// Filling the module: the one operation that adds a public name (and lists
/// it in `__all__`), and module-level functions bound to the module.

#include <string>

#include "frame/callable.hpp"
#include "frame/signature.hpp"

namespace vz::py {

/// The extension's own name, as its functions report it in `__module__`.
inline constexpr const char* kModuleName = "_voridez";

/// Sets `module.<name> = value` and appends `name` to `module.__all__`
/// (created as an empty list when the module has none).
PyResult<void> add_to_module(PyObject* module, const char* name, Ref value);

/// A built-in function object bound to `module`, whose name and parameters
/// come from `doc`'s text signature "name(…)\n--\n\n…". `Fn` has the form
/// PyResult<R> f(const Args&).
template <auto Fn>
PyResult<Ref> make_function(const char* doc, PyObject* module) {
    static PyMethodDef def{};
    static std::string name;
    if (!detail::SignatureOf<Fn>::sig) {
        auto sig = Signature::parse(doc, CallableKind::ModuleFunction);
        if (!sig) return raise(PyErr::system_error(sig.error()));
        name = sig->name();
        def = {name.c_str(), detail::as_cfunction(&detail::function_entry<Fn>), METH_FASTCALL | METH_KEYWORDS, doc};
        detail::SignatureOf<Fn>::sig = new Signature(std::move(*sig));
    }
    VZ_ASSIGN_OR_RETURN(Ref module_name, checked(PyUnicode_FromString(kModuleName)));
    return checked(PyCFunction_NewEx(&def, module, module_name.get()));
}

}  // namespace vz::py
