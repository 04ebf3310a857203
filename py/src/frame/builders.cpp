#include "frame/builders.hpp"

namespace vz::py {

DictBuilder::DictBuilder() : dict_(checked(PyDict_New())) {}

void DictBuilder::set(PyResult<Ref> key, PyResult<Ref> value) {
    if (!key) dict_ = raise(std::move(key.error()));
    else if (!value) dict_ = raise(std::move(value.error()));
    else if (PyDict_SetItem(dict_->get(), key->get(), value->get()) < 0) dict_ = raise_pending();
}

PyResult<Ref> DictBuilder::build() && { return std::move(dict_); }

namespace {

// Fills a new tuple or list of `items.size()` slots; `set_item` steals the
// item's reference.
template <class New, class SetItem>
PyResult<Ref> fill(std::vector<PyResult<Ref>>& items, New make, SetItem set_item) {
    for (PyResult<Ref>& item : items)
        if (!item) return std::move(item);
    VZ_ASSIGN_OR_RETURN(Ref out, checked(make(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i)
        if (set_item(out.get(), static_cast<Py_ssize_t>(i), items[i]->release()) < 0) return raise_pending();
    return out;
}

}  // namespace

PyResult<Ref> tuple_of(std::vector<PyResult<Ref>> items) { return fill(items, PyTuple_New, PyTuple_SetItem); }

PyResult<Ref> list_of(std::vector<PyResult<Ref>> items) { return fill(items, PyList_New, PyList_SetItem); }

PyResult<Ref> list_of(std::vector<Ref> items) {
    std::vector<PyResult<Ref>> wrapped;
    wrapped.reserve(items.size());
    for (Ref& r : items) wrapped.push_back(as_py(std::move(r)));
    return list_of(std::move(wrapped));
}

}  // namespace vz::py
