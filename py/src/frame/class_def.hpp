#pragma once
/// Building the class objects of the binding.
///
/// Every class is "builtins.<Name>" (so its __module__ reads "builtins"),
/// derives from object, cannot be subclassed, has no instance dictionary and
/// no weak references, cannot be instantiated unless it has a constructor,
/// and is unhashable when it compares without a hash. Docstrings of methods
/// and constructors start with their text signature, which is also what the
/// argument binding reads.
///
/// A class file defines its class once:
///
///   PyResult<PyTypeObject*> stats_type() {
///       static TypeCell cell;
///       return cell.get([] {
///           return ClassDef::of<vz::Stats>("Stats", kDoc)
///               .getter<&count>("count")
///               .method<&percentile>("percentile($self, p)\n--\n\n…")
///               .repr<&repr>();
///       });
///   }

#include <string>
#include <utility>
#include <vector>

#include "frame/callable.hpp"
#include "frame/instance.hpp"
#include "frame/signature.hpp"

namespace vz::py {

class ClassDef {
public:
    /// A class whose objects carry a payload P. `doc` (a literal, may be
    /// null) is the class docstring; a constructor's text signature starts it.
    template <class P>
    static ClassDef of(const char* name, const char* doc) {
        return ClassDef(name, doc, static_cast<int>(sizeof(Instance<P>)),
                        reinterpret_cast<void*>(&dealloc_instance<P>));
    }

    /// An instance method; its name and parameters come from `doc`'s text
    /// signature "name($self, …)\n--\n\n…".
    template <auto Fn>
    ClassDef& method(const char* doc) {
        return add_method(doc, CallableKind::Method, detail::as_cfunction(&detail::method_entry<Fn>),
                          detail::SignatureOf<Fn>::sig, 0);
    }
    /// A static method (callable on the class and on objects); signature
    /// "name(…)" without $self.
    template <auto Fn>
    ClassDef& static_method(const char* doc) {
        return add_method(doc, CallableKind::StaticMethod, detail::as_cfunction(&detail::function_entry<Fn>),
                          detail::SignatureOf<Fn>::sig, METH_STATIC);
    }
    /// A read-only attribute.
    template <auto Get>
    ClassDef& getter(const char* name, const char* doc = nullptr) {
        getsets_.push_back({name, &detail::getter_entry<Get>, nullptr, doc, nullptr});
        return *this;
    }
    /// A read-write attribute.
    template <auto Get, auto Set>
    ClassDef& property(const char* name, const char* doc = nullptr) {
        getsets_.push_back({name, &detail::getter_entry<Get>, &detail::setter_entry<Set>, doc, nullptr});
        return *this;
    }
    /// The constructor; its signature is the text signature that starts the
    /// class docstring ("Name(a=1, …)\n--\n\n…").
    template <auto Fn>
    ClassDef& constructor() {
        set_constructor(detail::SignatureOf<Fn>::sig, reinterpret_cast<void*>(&detail::new_entry<Fn>));
        return *this;
    }
    /// repr() (and str(), which falls back to it).
    template <auto Fn>
    ClassDef& repr() {
        return slot(Py_tp_repr, reinterpret_cast<void*>(&detail::repr_entry<Fn>));
    }
    /// len() through the sequence protocol.
    template <auto Fn>
    ClassDef& len() {
        return slot(Py_sq_length, reinterpret_cast<void*>(&detail::len_entry<Fn>));
    }
    /// Rich comparison; without a hash slot the class becomes unhashable.
    template <auto Fn>
    ClassDef& richcompare() {
        return slot(Py_tp_richcompare, reinterpret_cast<void*>(&detail::richcompare_entry<Fn>));
    }
    /// Attribute fallback: `Fn(self, name)` answers the names the ordinary
    /// attribute lookup does not find (it raises AttributeError itself for
    /// names it does not resolve either).
    template <auto Fn>
    ClassDef& getattr_fallback() {
        return slot(Py_tp_getattro, reinterpret_cast<void*>(&detail::getattr_entry<Fn>));
    }
    /// A binary number operator slot (`Py_nb_add`, `Py_nb_subtract`,
    /// `Py_nb_multiply`, `Py_nb_true_divide`, `Py_nb_power`, …). The one
    /// function serves both the forward (`obj + x`) and the reflected
    /// (`x + obj`) form; `TypeFn` is the class's own type function, which
    /// tells the two apart.
    template <auto Fn, auto TypeFn>
    ClassDef& binary_op(int slot_id) {
        if (slot_id == Py_nb_power)
            return slot(slot_id, reinterpret_cast<void*>(&detail::power_entry<Fn, TypeFn>));
        return slot(slot_id, reinterpret_cast<void*>(&detail::binary_entry<Fn, TypeFn>));
    }
    /// A unary number slot (`Py_nb_negative`, `Py_nb_positive`,
    /// `Py_nb_absolute`, `Py_nb_float`, …).
    template <auto Fn>
    ClassDef& unary_op(int slot_id) {
        return slot(slot_id, reinterpret_cast<void*>(&detail::unary_entry<Fn>));
    }
    /// `obj[key]` through the mapping protocol.
    template <auto Fn>
    ClassDef& subscript() {
        return slot(Py_mp_subscript, reinterpret_cast<void*>(&detail::subscript_entry<Fn>));
    }
    /// `obj[key] = value` and `del obj[key]` through the mapping protocol.
    template <auto Fn>
    ClassDef& set_item() {
        return slot(Py_mp_ass_subscript, reinterpret_cast<void*>(&detail::set_item_entry<Fn>));
    }
    /// Item access by integer index through the sequence protocol (also what
    /// iteration falls back to when the class has no iterator: indexes 0, 1,
    /// 2, … until IndexError).
    template <auto Fn>
    ClassDef& sequence_item() {
        return slot(Py_sq_item, reinterpret_cast<void*>(&detail::item_entry<Fn>));
    }
    /// `item in obj`.
    template <auto Fn>
    ClassDef& contains() {
        return slot(Py_sq_contains, reinterpret_cast<void*>(&detail::contains_entry<Fn>));
    }
    /// Calling the object; `doc` gives the text signature "__call__($self, …)".
    template <auto Fn>
    ClassDef& call(const char* doc) {
        set_call_signature(doc, detail::SignatureOf<Fn>::sig);
        return slot(Py_tp_call, reinterpret_cast<void*>(&detail::call_entry<Fn>));
    }
    /// Attribute assignment and deletion (`generic_setattr` gives the
    /// ordinary behaviour for the names the class does not handle).
    template <auto Fn>
    ClassDef& setattr() {
        return slot(Py_tp_setattro, reinterpret_cast<void*>(&detail::setattr_entry<Fn>));
    }
    /// `iter(obj)`.
    template <auto Fn>
    ClassDef& iter() {
        return slot(Py_tp_iter, reinterpret_cast<void*>(&detail::iter_entry<Fn>));
    }
    /// Any other type slot, given as the interpreter's C function.
    ClassDef& slot(int id, void* fn);
    /// A class attribute made right after the class object (e.g. enumeration
    /// members, which are objects of the class itself).
    ClassDef& class_attribute(const char* name, PyResult<Ref> (*make)(PyTypeObject* type));

    const std::string& name() const { return name_; }

    /// Creates the class object. Call once, on a definition that lives for
    /// the rest of the process (the class keeps pointers into it); `TypeCell`
    /// does this. Failures read "An error occurred while initializing class
    /// {}" (or "… `{}.{}`" for a class attribute) with the cause attached.
    PyResult<PyTypeObject*> create();

private:
    ClassDef(const char* name, const char* doc, int basicsize, void* dealloc);
    ClassDef& add_method(const char* doc, CallableKind kind, PyCFunction entry, const Signature*& sig_cell,
                         int extra_flags);
    void set_constructor(const Signature*& sig_cell, void* entry);
    void set_call_signature(const char* doc, const Signature*& sig_cell);

    struct MethodEntry {
        std::string name;
        PyCFunction fn;
        int flags;
        const char* doc;
    };

    std::string name_;
    std::string qualified_;
    const char* doc_;
    int basicsize_;
    std::vector<MethodEntry> method_entries_;
    std::vector<PyGetSetDef> getsets_;
    std::vector<PyType_Slot> slots_;
    std::vector<std::pair<const char*, PyResult<Ref> (*)(PyTypeObject*)>> attributes_;
    bool has_new_ = false;
    std::string definition_error_;
    std::vector<PyMethodDef> methods_;  // filled by create()
};

/// One class object per process: created on first need, then reused by
/// every import and every object creation.
class TypeCell {
public:
    /// The class object, creating it from `define()` (a function returning a
    /// ClassDef) the first time.
    template <class Define>
    PyResult<PyTypeObject*> get(Define&& define) {
        if (type_) return type_;
        auto* def = new ClassDef(std::forward<Define>(define)());
        auto t = def->create();
        if (!t) {
            delete def;
            return raise(std::move(t.error()));
        }
        type_ = *t;  // kept, with its definition, for the life of the process
        return type_;
    }

private:
    PyTypeObject* type_ = nullptr;
};

}  // namespace vz::py
