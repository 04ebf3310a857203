#pragma once
/// Access to the payload of a binding object through its access flag:
/// `borrow<P>(obj)` takes shared access, `borrow_mut<P>(obj)` exclusive
/// access; a conflict fails at once with RuntimeError "Already mutably
/// borrowed" / "Already borrowed". The guard keeps the object alive and gives
/// the access back when it goes out of scope (also on failure paths).
///
/// A guard may be held while the interpreter lock is released (the flag is
/// atomic); it must be destroyed with the lock held, as it drops a reference.

#include <utility>

#include "frame/instance.hpp"

namespace vz::py {

/// The RuntimeError of a failed access request.
inline PyErr borrow_err(BorrowError e) { return PyErr::runtime_error(borrow_error_text(e)); }

/// Shared (read) access to the payload of a binding object.
template <class P>
class Shared {
public:
    Shared(Shared&& o) noexcept : owner_(std::move(o.owner_)), inst_(std::exchange(o.inst_, nullptr)) {}
    Shared& operator=(Shared&&) = delete;
    ~Shared() {
        if (inst_) inst_->flag.release_shared();
    }
    const P& operator*() const { return inst_->value; }
    const P* operator->() const { return &inst_->value; }
    /// The object the access was taken on.
    PyObject* object() const { return owner_.get(); }

private:
    template <class Q>
    friend PyResult<Shared<Q>> borrow(PyObject* obj);
    Shared(Ref owner, Instance<P>* inst) : owner_(std::move(owner)), inst_(inst) {}
    Ref owner_;
    Instance<P>* inst_;
};

/// Exclusive (write) access to the payload of a binding object.
template <class P>
class Exclusive {
public:
    Exclusive(Exclusive&& o) noexcept : owner_(std::move(o.owner_)), inst_(std::exchange(o.inst_, nullptr)) {}
    Exclusive& operator=(Exclusive&&) = delete;
    ~Exclusive() {
        if (inst_) inst_->flag.release_exclusive();
    }
    P& operator*() const { return inst_->value; }
    P* operator->() const { return &inst_->value; }
    PyObject* object() const { return owner_.get(); }

private:
    template <class Q>
    friend PyResult<Exclusive<Q>> borrow_mut(PyObject* obj);
    Exclusive(Ref owner, Instance<P>* inst) : owner_(std::move(owner)), inst_(inst) {}
    Ref owner_;
    Instance<P>* inst_;
};

/// Shared access to `obj` (an object whose payload is P).
template <class P>
PyResult<Shared<P>> borrow(PyObject* obj) {
    auto& inst = instance<P>(obj);
    if (auto e = inst.flag.try_shared()) return raise(borrow_err(*e));
    return Shared<P>(Ref::borrow(obj), &inst);
}

/// Exclusive access to `obj` (an object whose payload is P).
template <class P>
PyResult<Exclusive<P>> borrow_mut(PyObject* obj) {
    auto& inst = instance<P>(obj);
    if (auto e = inst.flag.try_exclusive()) return raise(borrow_err(*e));
    return Exclusive<P>(Ref::borrow(obj), &inst);
}

}  // namespace vz::py
