#pragma once
/// Lists and tuples filled in place from a function of the index: for
/// results with many items (grid rows, mesh nodes, polyline points), where
/// the builders' intermediate vector of results would cost an allocation per
/// small tuple. `make(k)` returns the k-th item as a `PyResult<Ref>` (or
/// anything `as_py` takes); the first failure is returned and the half-built
/// container is dropped.

#include <cstddef>
#include <utility>

#include "frame/builders.hpp"

namespace vz::py {

namespace detail {

template <class New, class SetItem, class Make>
PyResult<Ref> generate(std::size_t n, New make_container, SetItem set_item, Make&& make) {
    VZ_ASSIGN_OR_RETURN(Ref out, checked(make_container(static_cast<Py_ssize_t>(n))));
    for (std::size_t k = 0; k < n; ++k) {
        VZ_ASSIGN_OR_RETURN(Ref item, as_py(make(k)));
        // Steals the item's reference; cannot fail on an index below n.
        set_item(out.get(), static_cast<Py_ssize_t>(k), item.release());
    }
    return out;
}

}  // namespace detail

/// A new list of n items, item k being `make(k)`.
template <class Make>
PyResult<Ref> list_generate(std::size_t n, Make&& make) {
    return detail::generate(n, PyList_New, PyList_SetItem, std::forward<Make>(make));
}

/// A new tuple of n items, item k being `make(k)`.
template <class Make>
PyResult<Ref> tuple_generate(std::size_t n, Make&& make) {
    return detail::generate(n, PyTuple_New, PyTuple_SetItem, std::forward<Make>(make));
}

}  // namespace vz::py
