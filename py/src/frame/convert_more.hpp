#pragma once
/// More argument conversions (see convert.hpp for the conventions): a dict of
/// texts, bytes, and sequences of optional texts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/convert.hpp"

namespace vz::py {

/// A `dict[str, str]` argument: the entries in the dict's own order.
struct StrDict {
    std::vector<std::pair<std::string, std::string>> entries;
};

/// A `bytes` argument (subclasses of bytes too; bytearray, memoryview and
/// other buffers are refused): its content.
struct Bytes {
    std::vector<std::uint8_t> data;
};

/// A dict (or subclass) whose keys and values are all `str`; a wrong
/// container reads "'{}' object is not an instance of 'dict'", a wrong key
/// or value "'{}' object is not an instance of 'str'".
template <>
struct FromPy<StrDict> {
    static PyResult<StrDict> convert(PyObject* obj);
};
/// `bytes` or a subclass; anything else "'{}' object is not an instance of
/// 'bytes'".
template <>
struct FromPy<Bytes> {
    static PyResult<Bytes> convert(PyObject* obj);
};
/// A sequence (not a `str` itself) whose items are `str` or None.
template <>
struct FromPy<std::vector<std::optional<std::string>>> {
    static PyResult<std::vector<std::optional<std::string>>> convert(PyObject* obj);
};

/// The value under the str `key` in the dict's own table (a subclass's
/// __missing__ is not consulted); an empty Ref when the key is absent.
PyResult<Ref> dict_lookup(const Dict& d, std::string_view key);

/// bytes from raw content.
PyResult<Ref> to_py(const Bytes& v);

}  // namespace vz::py
