// `Surface` arithmetic: the four number operators (forward and, for +, - and
// *, reflected), the named two-surface operations and the element-wise
// functions. Every result is a new owned surface without display name; the
// interpreter lock is held throughout (these are single passes).

#include "surface.hpp"

namespace vz::py {

namespace {

enum class Op { Add, Sub, Mul, Div };

Result<vz::Surface> with_number(Op op, const vz::Surface& s, double x) {
    switch (op) {
        case Op::Add: return s.add_scalar(x);
        case Op::Sub: return s.sub_scalar(x);
        case Op::Mul: return s.mul_scalar(x);
        case Op::Div: return s.div_scalar(x);
    }
    return s.add_scalar(x);  // unreachable: every Op is handled above
}

Result<vz::Surface> with_surface_operand(Op op, const vz::Surface& l, const vz::Surface& r) {
    switch (op) {
        case Op::Add: return l.plus(r);
        case Op::Sub: return l.minus(r);
        case Op::Mul: return l.times(r);
        case Op::Div: return l.divided_by(r);
    }
    return l.plus(r);  // unreachable
}

// A number on the left: x + s and x * s commute; x - s is rsub; x / s is not
// offered.
Result<vz::Surface> number_on_left(Op op, const vz::Surface& s, double x) {
    return op == Op::Sub ? s.rsub_scalar(x) : with_number(op, s, x);
}

/// Both surfaces resolved, the left one first (so a stale left view is
/// reported before a stale right one), then `op` on the two core values.
template <class F>
PyResult<Result<vz::Surface>> on_two(const SurfacePayload& left, const SurfacePayload& right, F&& op) {
    return with_resolved(left.source, [&](const vz::Surface& l) {
        return with_resolved(right.source, [&](const vz::Surface& r) { return op(l, r); });
    });
}

/// A number operand: anything the interpreter's float conversion takes; the
/// failure of a conversion is dropped (the operand is then no number).
std::optional<double> as_number(PyObject* obj) {
    auto v = from_py<double>(obj);
    if (!v) return std::nullopt;
    return *v;
}

// The operator slot. `self` is the `Surface` operand; `reflected` says it
// stands on the right.
template <Op op>
PyResult<Ref> number_op(PyObject* self, PyObject* other, bool reflected) {
    auto me = surface_shared(self);
    if (!reflected) {
        // Forward attempt; a left surface in exclusive use makes it
        // inapplicable, and the reflected attempt needs a number on the left.
        if (!me) return not_implemented();
        if (std::optional<double> x = as_number(other))
            return wrap_surface(
                with_resolved((*me)->source, [&](const vz::Surface& s) { return with_number(op, s, *x); }));
        VZ_ASSIGN_OR_RETURN(bool is_surface, is_object_of<&surface_type>(other));
        if (is_surface) {
            if (auto right = surface_shared(other))
                return wrap_surface(on_two(**me, **right, [](const vz::Surface& l, const vz::Surface& r) {
                    return with_surface_operand(op, l, r);
                }));
        }
        return raise(PyErr::type_error("Surface operands must be a float or another Surface"));
    }
    if (op == Op::Div || !me) return not_implemented();
    const std::optional<double> x = as_number(other);
    if (!x) return not_implemented();
    return wrap_surface(with_resolved((*me)->source, [&](const vz::Surface& s) { return number_on_left(op, s, *x); }));
}

// ---- named two-surface operations ------------------------------------------------

template <Op op>
PyResult<Ref> two_surface_method(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(SurfaceArg other, a.get<SurfaceArg>("other"));
    return wrap_surface(
        on_two(*me, *other, [](const vz::Surface& l, const vz::Surface& r) { return with_surface_operand(op, l, r); }));
}

// ---- element-wise functions ----------------------------------------------------

template <vz::Surface (vz::Surface::*Fn)() const>
PyResult<Ref> element_function(PyObject* self, const Args&) {
    return wrap_surface(with_surface(self, [](const vz::Surface& s) { return (s.*Fn)(); }));
}

PyResult<Ref> powf(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(double n, a.get<double>("n"));
    return wrap_surface(with_resolved(me->source, [&](const vz::Surface& s) { return s.powf_scalar(n); }));
}

// Refused clamp bounds carry their own text, without the kind prefix of a
// core error: the core reports them so that no bad bound ever reaches the
// clamping pass.
PyResult<Ref> clamped(PyResult<Result<vz::Surface>> r) {
    if (!r) return raise(std::move(r.error()));
    if (!*r) return raise(PyErr::value_error(r->error().message()));
    return new_owned_surface(std::move(**r));
}

PyResult<Ref> clamp_min(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(double lo, a.get<double>("lo"));
    return clamped(with_resolved(me->source, [&](const vz::Surface& s) { return s.clamp_min_scalar(lo); }));
}

PyResult<Ref> clamp(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(double lo, a.get<double>("lo"));
    VZ_ASSIGN_OR_RETURN(double hi, a.get<double>("hi"));
    return clamped(with_resolved(me->source, [&](const vz::Surface& s) { return s.clamp(lo, hi); }));
}

}  // namespace

void add_surface_ops(ClassDef& def) {
    def.binary_op<&number_op<Op::Add>, &surface_type>(Py_nb_add)
        .binary_op<&number_op<Op::Sub>, &surface_type>(Py_nb_subtract)
        .binary_op<&number_op<Op::Mul>, &surface_type>(Py_nb_multiply)
        .binary_op<&number_op<Op::Div>, &surface_type>(Py_nb_true_divide)
        .method<&two_surface_method<Op::Add>>("plus($self, other)\n--\n\n")
        .method<&two_surface_method<Op::Sub>>("minus($self, other)\n--\n\n")
        .method<&two_surface_method<Op::Mul>>("times($self, other)\n--\n\n")
        .method<&two_surface_method<Op::Div>>("divided_by($self, other)\n--\n\n")
        .method<&element_function<&vz::Surface::ln>>("ln($self)\n--\n\n")
        .method<&element_function<&vz::Surface::log10>>("log10($self)\n--\n\n")
        .method<&element_function<&vz::Surface::exp>>("exp($self)\n--\n\n")
        .method<&element_function<&vz::Surface::sqrt>>("sqrt($self)\n--\n\n")
        .method<&element_function<&vz::Surface::abs>>("abs($self)\n--\n\n")
        .method<&powf>("powf($self, n)\n--\n\n")
        .method<&clamp_min>("clamp_min($self, lo)\n--\n\n")
        .method<&clamp>("clamp($self, lo, hi)\n--\n\n");
}

}  // namespace vz::py
