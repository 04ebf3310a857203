#pragma once
/// Attribute columns of point sets and polygon sets as Python values: the
/// name key by which attribute access finds a column, the reading of a value
/// given for a column, the writing of a column into a set, and the arithmetic
/// shared by `PointColumn` and `PolygonColumn`.
///
/// A column object is a detached copy: it holds its own values and no
/// reference to the set it came from, so later changes of the set never
/// reach it and it never changes after creation.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/points.hpp"
#include "frame/frame.hpp"
#include "sources.hpp"

namespace vz::py {

/// The key under which attribute access matches column names: surrounding
/// Unicode white space removed, ASCII A-Z lower-cased, every space and
/// hyphen-minus turned into an underscore (' Net Gross ', 'net-gross' and
/// 'NET_GROSS' all give 'net_gross').
std::string column_lookup_key(std::string_view name);

/// The column `requested` names among `columns`: the column of exactly that
/// name, else the first column, in insertion order, whose key equals the
/// requested name's key; absent when neither exists. The values are copied.
std::optional<std::vector<double>> find_column(const AttributeColumns& columns, std::string_view requested);

/// The values a Python object gives for a column of `expected` rows, tried in
/// this order: a `PointColumn` or `PolygonColumn` (its values), a sequence
/// whose every item converts to a float (a `str` never counts as one), a
/// single number broadcast to `expected` rows. A conversion that refuses a
/// type (TypeError) only moves on to the next form; any other failure of a
/// conversion is the result. Anything else: TypeError
/// "{label}: expected a numeric column, a same-length list[float], or a
/// scalar"; a column or sequence of another length: ValueError "{label}:
/// column has {} rows, expected {}". May run Python code (item conversions).
PyResult<std::vector<double>> extract_column_operand(PyObject* value, std::size_t expected, std::string_view label);

/// Writes column `name` of the set behind a `PointSet` or `PolygonSet`
/// object: exclusive access to the object for the whole call; `reserved`
/// refuses the names that may not be written; the row count of the resolved
/// set; the values (`extract_column_operand`); then the object detaches (a
/// project view becomes an owned copy, a shared owned value is copied) and
/// the core `set_attr` runs on its own set. Nothing changes before the
/// detaching; the project's stored set is never changed.
template <class Payload>
PyResult<void> write_column(PyObject* self, std::string_view name, PyObject* value, std::string_view label,
                            PyResult<void> (*reserved)(std::string_view)) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow_mut<Payload>(self));
    VZ_TRY(reserved(name));
    VZ_ASSIGN_OR_RETURN(std::size_t expected, with_resolved(p->source, [](const auto& set) { return set.size(); }));
    VZ_ASSIGN_OR_RETURN(std::vector<double> values, extract_column_operand(value, expected, label));
    VZ_ASSIGN_OR_RETURN(auto* set, make_owned(p->source));
    return from_core(set->set_attr(name, std::move(values)));
}

/// Deleting an attribute of a set is never possible.
PyErr cannot_delete_attribute();

/// The arithmetic operators of the column classes.
enum class ColumnOp { Add, Sub, Mul, Div };

/// What the generic column members need of a column class (payload with
/// `name` and `values`): `kName` ("PointColumn") and
/// `make(name, values)`, which hands out a new column of the class.
/// Specialised beside each payload.
template <class Payload>
struct ColumnClass;

/// "{class}.__add__", "{class}.__sub__", "{class}.__mul__",
/// "{class}.__truediv__": the operation label of messages.
std::string column_op_label(std::string_view class_name, ColumnOp op);

/// The values of `obj` when it is a `PointColumn` or a `PolygonColumn`
/// (read in place: columns never change), else null.
const std::vector<double>* column_values_of(PyObject* obj);

/// `obj` as a float when Python's float conversion takes it (float, int,
/// bool, objects with a float or index conversion); absent when the
/// conversion refuses the object's type (a TypeError, which is dropped). Any
/// other failure of the conversion (an access conflict met by a `__float__`,
/// an integer too large for a float) is the result.
PyResult<std::optional<double>> as_scalar(PyObject* obj);

/// The element operation of `op` (plain IEEE arithmetic).
inline double apply_column_op(ColumnOp op, double left, double right) {
    switch (op) {
        case ColumnOp::Add: return left + right;
        case ColumnOp::Sub: return left - right;
        case ColumnOp::Mul: return left * right;
        case ColumnOp::Div: return left / right;
    }
    return left / right;
}

/// The number slot of one operator of a column class: the forward step when
/// the column stands on the left (a number, or a column of either class of
/// the same length, on the right; anything else is a TypeError, never
/// `NotImplemented`), the reflected step for +, - and * with a number on the
/// left; `NotImplemented` for a number divided by a column and for a
/// non-number on the left. The result is a new column of this class named
/// like the column operand.
template <class Payload, ColumnOp Op>
PyResult<Ref> column_binary(PyObject* self, PyObject* other, bool reflected) {
    using C = ColumnClass<Payload>;
    VZ_ASSIGN_OR_RETURN(auto col, borrow<Payload>(self));
    const std::vector<double>& v = col->values;
    std::vector<double> out(v.size());
    if (reflected) {
        if constexpr (Op == ColumnOp::Div) {
            return not_implemented();
        } else {
            VZ_ASSIGN_OR_RETURN(const std::optional<double> s, as_scalar(other));
            if (!s) return not_implemented();
            for (std::size_t i = 0; i < v.size(); ++i) out[i] = apply_column_op(Op, *s, v[i]);
            return C::make(col->name, std::move(out));
        }
    }
    VZ_ASSIGN_OR_RETURN(const std::optional<double> scalar, as_scalar(other));
    if (const std::optional<double>& s = scalar) {
        for (std::size_t i = 0; i < v.size(); ++i) out[i] = apply_column_op(Op, v[i], *s);
        return C::make(col->name, std::move(out));
    }
    const std::vector<double>* right = column_values_of(other);
    if (!right)
        return raise(PyErr::type_error(fmt::format("{}: operands must be a scalar or a column from the same container",
                                                   column_op_label(C::kName, Op))));
    if (right->size() != v.size())
        return raise(PyErr::value_error(fmt::format("{}: columns have different lengths ({} vs {})",
                                                    column_op_label(C::kName, Op), v.size(), right->size())));
    for (std::size_t i = 0; i < v.size(); ++i) out[i] = apply_column_op(Op, v[i], (*right)[i]);
    return C::make(col->name, std::move(out));
}

/// `values()`: a new list holding a copy of the values.
template <class Payload>
PyResult<std::vector<double>> column_values(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto col, borrow<Payload>(self));
    return col->values;
}

/// `stats()`: NaN-skipping statistics over the values.
PyResult<Ref> stats_of(const std::vector<double>& values);
template <class Payload>
PyResult<Ref> column_stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto col, borrow<Payload>(self));
    return stats_of(col->values);
}

/// len(): the number of values (also the truth value of the column).
template <class Payload>
PyResult<std::size_t> column_len(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto col, borrow<Payload>(self));
    return col->values.size();
}

/// repr(): "{class}(name='{}', len={})", the name inserted as it is.
template <class Payload>
PyResult<std::string> column_repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto col, borrow<Payload>(self));
    return fmt::format("{}(name='{}', len={})", ColumnClass<Payload>::kName, col->name, col->values.size());
}

/// Adds the members every column class has, in this order: `values`,
/// `stats`, len(), repr() and the operators +, -, *, /.
template <class Payload, auto TypeFn>
ClassDef& add_column_members(ClassDef& def) {
    return def.method<&column_values<Payload>>("values($self)\n--\n\n")
        .template method<&column_stats<Payload>>("stats($self)\n--\n\n")
        .template len<&column_len<Payload>>()
        .template repr<&column_repr<Payload>>()
        .template binary_op<&column_binary<Payload, ColumnOp::Add>, TypeFn>(Py_nb_add)
        .template binary_op<&column_binary<Payload, ColumnOp::Sub>, TypeFn>(Py_nb_subtract)
        .template binary_op<&column_binary<Payload, ColumnOp::Mul>, TypeFn>(Py_nb_multiply)
        .template binary_op<&column_binary<Payload, ColumnOp::Div>, TypeFn>(Py_nb_true_divide);
}

}  // namespace vz::py
