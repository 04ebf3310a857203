#include "frame/pycall.hpp"

#include "frame/convert.hpp"

namespace vz::py {

PyResult<Ref> import_module(std::string_view name) {
    VZ_ASSIGN_OR_RETURN(Ref text, to_py(name));
    return checked(PyImport_Import(text.get()));
}

PyResult<Ref> get_attr(PyObject* obj, std::string_view name) {
    VZ_ASSIGN_OR_RETURN(Ref text, to_py(name));
    return checked(PyObject_GetAttr(obj, text.get()));
}

PyResult<Ref> call(PyObject* callable, PyResult<Ref> args, PyResult<Ref> kwargs) {
    if (!args) return raise(std::move(args.error()));
    if (!kwargs) return raise(std::move(kwargs.error()));
    if (!*args || !PyTuple_Check(args->get()))
        return raise(PyErr::system_error("positional arguments of a call must be a tuple"));
    if (*kwargs && !PyDict_Check(kwargs->get()))
        return raise(PyErr::system_error("keyword arguments of a call must be a dict"));
    return checked(PyObject_Call(callable, args->get(), kwargs->get()));
}

PyResult<Ref> call_method(PyObject* obj, std::string_view name, PyResult<Ref> args, PyResult<Ref> kwargs) {
    // A failed argument builder is the first failure: report it rather than
    // whatever looking up the attribute might raise.
    if (!args) return raise(std::move(args.error()));
    if (!kwargs) return raise(std::move(kwargs.error()));
    VZ_ASSIGN_OR_RETURN(Ref fn, get_attr(obj, name));
    return call(fn.get(), std::move(args), std::move(kwargs));
}

PyResult<Ref> call_attr(std::string_view module, std::string_view attr, PyResult<Ref> args,
                        PyResult<Ref> kwargs) {
    if (!args) return raise(std::move(args.error()));
    if (!kwargs) return raise(std::move(kwargs.error()));
    VZ_ASSIGN_OR_RETURN(Ref mod, import_module(module));
    return call_method(mod.get(), attr, std::move(args), std::move(kwargs));
}

}  // namespace vz::py
