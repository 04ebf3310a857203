#include "attribute_columns.hpp"

#include "point_column.hpp"
#include "polygon_column.hpp"
#include "stats.hpp"

namespace vz::py {

std::string column_lookup_key(std::string_view name) { return points::normalize_attr_name(name); }

std::optional<std::vector<double>> find_column(const AttributeColumns& columns, std::string_view requested) {
    if (auto exact = attribute_column(columns, requested)) return std::vector<double>(exact->begin(), exact->end());
    const std::string key = column_lookup_key(requested);
    for (const auto& [name, values] : columns)
        if (column_lookup_key(name) == key) return values;
    return std::nullopt;
}

PyErr cannot_delete_attribute() { return PyErr::attribute_error("can't delete attribute"); }

std::string column_op_label(std::string_view class_name, ColumnOp op) {
    const char* dunder = "__add__";
    switch (op) {
        case ColumnOp::Add: dunder = "__add__"; break;
        case ColumnOp::Sub: dunder = "__sub__"; break;
        case ColumnOp::Mul: dunder = "__mul__"; break;
        case ColumnOp::Div: dunder = "__truediv__"; break;
    }
    return fmt::format("{}.{}", class_name, dunder);
}

const std::vector<double>* column_values_of(PyObject* obj) {
    auto point_type = point_column_type();
    if (point_type && Py_TYPE(obj) == *point_type) return &payload<PointColumnPayload>(obj).values;
    auto polygon_type = polygon_column_type();
    if (polygon_type && Py_TYPE(obj) == *polygon_type) return &payload<PolygonColumnPayload>(obj).values;
    return nullptr;
}

PyResult<std::optional<double>> as_scalar(PyObject* obj) {
    auto v = from_py<double>(obj);
    if (v) return std::optional<double>(*v);
    if (v.error().matches(PyExc_TypeError)) return std::optional<double>();
    return raise(std::move(v.error()));
}

PyResult<Ref> stats_of(const std::vector<double>& values) { return new_stats(vz::Stats::from_values(values)); }

namespace {

PyErr rows_mismatch(std::string_view label, std::size_t got, std::size_t expected) {
    return PyErr::value_error(fmt::format("{}: column has {} rows, expected {}", label, got, expected));
}

}  // namespace

PyResult<std::vector<double>> extract_column_operand(PyObject* value, std::size_t expected, std::string_view label) {
    std::optional<std::vector<double>> values;
    if (const std::vector<double>* column = column_values_of(value)) {
        values = *column;
    } else if (!PyUnicode_Check(value) && PySequence_Check(value)) {
        // A sequence whose items are not all numbers is no column (it may
        // still be a number itself); a conversion that fails otherwise, say
        // by reaching back into the set being written, ends the call.
        auto seq = from_py<std::vector<double>>(value);
        if (seq) values = std::move(*seq);
        else if (!seq.error().matches(PyExc_TypeError)) return raise(std::move(seq.error()));
    }
    if (values) {
        if (values->size() != expected) return raise(rows_mismatch(label, values->size(), expected));
        return std::move(*values);
    }
    VZ_ASSIGN_OR_RETURN(const std::optional<double> s, as_scalar(value));
    if (s) return std::vector<double>(expected, *s);
    return raise(PyErr::type_error(
        fmt::format("{}: expected a numeric column, a same-length list[float], or a scalar", label)));
}

}  // namespace vz::py
