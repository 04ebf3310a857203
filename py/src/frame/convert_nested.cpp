#include "frame/convert_nested.hpp"

namespace vz::py {

PyResult<std::vector<std::vector<std::vector<double>>>> FromPy<std::vector<std::vector<std::vector<double>>>>::convert(
    PyObject* obj) {
    if (PyUnicode_Check(obj)) return raise(PyErr::type_error("Can't extract `str` to `Vec`"));
    if (!PySequence_Check(obj)) return raise(not_instance(obj, "Sequence"));
    std::vector<std::vector<std::vector<double>>> out;
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(obj)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item = Ref::steal(raw);
        VZ_ASSIGN_OR_RETURN(auto rows, from_py<std::vector<std::vector<double>>>(item.get()));
        out.push_back(std::move(rows));
    }
    if (PyErr_Occurred()) return raise_pending();
    return out;
}

}  // namespace vz::py
