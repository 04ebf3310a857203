#pragma once
/// Building Python results: dictionaries with their keys in insertion order,
/// tuples, lists of tuples and lists of objects.
///
/// Values are anything `to_py` accepts, a `Ref`, or a `PyResult<Ref>` (the
/// result of another builder or of a `new_<class>` function), so results
/// nest without intermediate checks:
///
///   DictBuilder d;
///   d.add("md", hit.md).add("xyz", tuple_from(hit.xyz)).add("well", hit.well);
///   return std::move(d).build();
///
/// A failed value is carried to the end: the builder keeps the first
/// failure, skips what follows, and `build()` returns it.

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/convert.hpp"
#include "frame/py_err.hpp"
#include "frame/ref.hpp"

namespace vz::py {

/// A value as a Python object: a PyResult<Ref> passes through, a Ref is
/// taken as it is, anything else goes through `to_py`. An empty Ref (a
/// programming error) becomes a SystemError rather than a null item.
template <class V>
PyResult<Ref> as_py(V&& value) {
    using T = std::remove_cvref_t<V>;
    PyResult<Ref> out;
    if constexpr (std::is_same_v<T, PyResult<Ref>>) out = std::forward<V>(value);
    else if constexpr (std::is_same_v<T, Ref>) out = Ref(std::forward<V>(value));
    else out = to_py(std::forward<V>(value));
    if (out && !*out) return raise(PyErr::system_error("an empty object was given to a result builder"));
    return out;
}

/// A new dict, filled in the order of the `add` calls.
class DictBuilder {
public:
    DictBuilder();

    /// Sets `key` (a str) to `value`; a later add of the same key replaces
    /// the value and keeps the key's first place.
    template <class V>
    DictBuilder& add(std::string_view key, V&& value) {
        if (dict_) set(to_py(key), as_py(std::forward<V>(value)));
        return *this;
    }
    /// Sets an arbitrary key object to `value`.
    template <class K, class V>
    DictBuilder& add_item(K&& key, V&& value) {
        if (dict_) set(as_py(std::forward<K>(key)), as_py(std::forward<V>(value)));
        return *this;
    }

    /// The dict, or the first failure.
    PyResult<Ref> build() &&;

private:
    void set(PyResult<Ref> key, PyResult<Ref> value);

    PyResult<Ref> dict_;
};

/// A tuple of the given objects in order (the first failed one is returned
/// instead).
PyResult<Ref> tuple_of(std::vector<PyResult<Ref>> items);

/// A list of the given objects in order (the first failed one is returned
/// instead).
PyResult<Ref> list_of(std::vector<PyResult<Ref>> items);
/// A list of the given objects.
PyResult<Ref> list_of(std::vector<Ref> items);

/// A tuple of the values, each converted like a DictBuilder value:
/// `py_tuple(x, y, z)`, `py_tuple(above, below)`.
template <class... V>
PyResult<Ref> py_tuple(V&&... values) {
    std::vector<PyResult<Ref>> items;
    items.reserve(sizeof...(V));
    (items.push_back(as_py(std::forward<V>(values))), ...);
    return tuple_of(std::move(items));
}

/// A fixed-length array as a tuple ((x, y, z) positions).
template <class T, std::size_t N>
PyResult<Ref> tuple_from(const std::array<T, N>& values) {
    std::vector<PyResult<Ref>> items;
    items.reserve(N);
    for (const T& v : values) items.push_back(as_py(v));
    return tuple_of(std::move(items));
}

/// A list with `make(element)` (a PyResult<Ref>) for every element of
/// `range`, in order.
template <class Range, class Make>
PyResult<Ref> list_map(const Range& range, Make&& make) {
    std::vector<PyResult<Ref>> items;
    for (const auto& element : range) {
        items.push_back(make(element));
        if (!items.back()) return std::move(items.back());
    }
    return list_of(std::move(items));
}

/// A list of 2-tuples, one per pair.
template <class A, class B>
PyResult<Ref> list_of_pairs(const std::vector<std::pair<A, B>>& pairs) {
    return list_map(pairs, [](const std::pair<A, B>& p) { return py_tuple(p.first, p.second); });
}

}  // namespace vz::py
