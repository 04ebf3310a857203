#include "frame/class_def.hpp"

#include <fmt/format.h>

namespace vz::py {

ClassDef::ClassDef(const char* name, const char* doc, int basicsize, void* dealloc)
    : name_(name), qualified_(fmt::format("builtins.{}", name)), doc_(doc), basicsize_(basicsize) {
    slots_.push_back({Py_tp_dealloc, dealloc});
}

ClassDef& ClassDef::add_method(const char* doc, CallableKind kind, PyCFunction entry, const Signature*& sig_cell,
                               int extra_flags) {
    auto sig = Signature::parse(doc ? doc : "", kind, name_);
    if (!sig) {
        if (definition_error_.empty()) definition_error_ = sig.error();
        return *this;
    }
    method_entries_.push_back({sig->name(), entry, METH_FASTCALL | METH_KEYWORDS | extra_flags, doc});
    sig_cell = new Signature(std::move(*sig));  // read by the entry point for the life of the process
    return *this;
}

void ClassDef::set_constructor(const Signature*& sig_cell, void* entry) {
    auto sig = Signature::parse(doc_ ? doc_ : "", CallableKind::Constructor, name_);
    if (!sig) {
        if (definition_error_.empty()) definition_error_ = sig.error();
        return;
    }
    sig_cell = new Signature(std::move(*sig));
    has_new_ = true;
    slots_.push_back({Py_tp_new, entry});
}

void ClassDef::set_call_signature(const char* doc, const Signature*& sig_cell) {
    auto sig = Signature::parse(doc ? doc : "", CallableKind::Method, name_);
    if (!sig) {
        if (definition_error_.empty()) definition_error_ = sig.error();
        return;
    }
    sig_cell = new Signature(std::move(*sig));
}

ClassDef& ClassDef::slot(int id, void* fn) {
    slots_.push_back({id, fn});
    return *this;
}

ClassDef& ClassDef::class_attribute(const char* name, PyResult<Ref> (*make)(PyTypeObject*)) {
    attributes_.emplace_back(name, make);
    return *this;
}

PyResult<PyTypeObject*> ClassDef::create() {
    auto failed = [&](PyErr cause) {
        return raise(
            PyErr::runtime_error(fmt::format("An error occurred while initializing class {}", name_))
                .set_cause(std::move(cause)));
    };
    if (!definition_error_.empty()) return failed(PyErr::system_error(definition_error_));

    for (const MethodEntry& m : method_entries_) methods_.push_back({m.name.c_str(), m.fn, m.flags, m.doc});
    std::vector<PyType_Slot> slots = slots_;
    bool has_compare = false, has_hash = false;
    for (const PyType_Slot& s : slots_) {
        has_compare |= s.slot == Py_tp_richcompare;
        has_hash |= s.slot == Py_tp_hash;
    }
    // Comparing without hashing: equal objects could hash differently, so
    // such classes are unhashable rather than hashed by identity.
    if (has_compare && !has_hash) slots.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    if (doc_ && *doc_) slots.push_back({Py_tp_doc, const_cast<char*>(doc_)});
    if (!methods_.empty()) {
        methods_.push_back({nullptr, nullptr, 0, nullptr});
        slots.push_back({Py_tp_methods, methods_.data()});
    }
    if (!getsets_.empty()) {
        getsets_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
        slots.push_back({Py_tp_getset, getsets_.data()});
    }
    slots.push_back({0, nullptr});
    slots_ = std::move(slots);  // the class object keeps pointing at them

    // No Py_TPFLAGS_BASETYPE: the classes are final. No dict or weakref
    // offsets: instances get neither.
    unsigned int flags = Py_TPFLAGS_DEFAULT;
    if (!has_new_) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
    PyType_Spec spec{qualified_.c_str(), basicsize_, 0, flags, slots_.data()};
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) return failed(PyErr::fetch());
    Ref owned = Ref::steal(type);

    for (const auto& [attr, make] : attributes_) {
        auto value = make(reinterpret_cast<PyTypeObject*>(type));
        if (value && PyObject_SetAttrString(type, attr, value->get()) == 0) continue;
        PyErr cause = value ? PyErr::fetch() : std::move(value.error());
        return raise(
            PyErr::runtime_error(fmt::format("An error occurred while initializing `{}.{}`", name_, attr))
                .set_cause(std::move(cause)));
    }
    return reinterpret_cast<PyTypeObject*>(owned.release());
}

}  // namespace vz::py
