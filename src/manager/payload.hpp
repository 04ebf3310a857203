#pragma once
/// The element payload encoding of project files: one positional,
/// little-endian binary form shared by every element kind.
///
/// Primitives: u8; u32 / i32 (4 bytes); u64 (8 bytes; every count, length
/// and size); f64 (the IEEE-754 bit pattern unchanged, NaN payloads and -0
/// included); bool (1 byte, 0 or 1); text (u64 byte length, UTF-8 bytes);
/// option (tag byte 0 = absent, 1 = present followed by the value); list
/// (u64 count, elements); map (u64 count, key text and value per entry, in
/// the map's order); enumeration (u32 variant index); records and tuples
/// (members in order, nothing between). Numeric arrays: u8 version 1, one
/// u64 per axis, u64 element count, the f64 elements with the last axis
/// varying fastest (a vector of n values is 17 + 8n bytes, an ncol x nrow
/// grid 25 + 8·ncol·nrow bytes, all rows of column 0 first).
///
/// Encoding is two passes over the same generic code: a `Sizer` adds up the
/// exact length, then a `Writer` fills a buffer allocated once with that
/// length (see `encode`). Decoding is one forward pass of a `Reader` that
/// checks every read against the bytes left, reserves at most 1 MiB ahead
/// for any list or map, and ignores bytes after the record.

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/grid2.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"

namespace vz::payload {

/// The most memory a reader reserves ahead of the elements actually read.
inline constexpr std::size_t kReserveLimitBytes = std::size_t{1} << 20;

/// Parse "deserialize: {detail}".
Error deserialize_error(std::string_view detail);
/// Parse "deserialize: {display text of `rebuild`}": how a failure of a
/// constructor that runs while a payload is read is reported.
Error deserialize_error(const Error& rebuild);
/// Parse "serialize: {detail}".
Error serialize_error(std::string_view detail);

/// The UTF-8 problem of `text` in the standard wording ("invalid utf-8
/// sequence of {n} bytes from index {i}" or "incomplete utf-8 byte sequence
/// from index {i}"), or nothing when it is valid UTF-8.
std::optional<std::string> utf8_error(std::string_view text);

/// Size pass: adds up the bytes the write pass will produce, and notes the
/// first value the encoding cannot express (a text that is not UTF-8, an
/// array whose element count differs from its shape).
class Sizer {
public:
    void u8(std::uint8_t) { n_ += 1; }
    void u32(std::uint32_t) { n_ += 4; }
    void i32(std::int32_t) { n_ += 4; }
    void u64(std::uint64_t) { n_ += 8; }
    void f64(double) { n_ += 8; }
    void boolean(bool) { n_ += 1; }
    /// A count or length (u64).
    void count(std::uint64_t) { n_ += 8; }
    /// An option's tag byte.
    void tag(bool) { n_ += 1; }
    /// An enumeration's variant index (u32).
    void variant(std::uint32_t) { n_ += 4; }
    void text(std::string_view s);
    /// A list of f64: count and values.
    void f64_list(std::span<const double> v) { n_ += 8 + 8 * v.size(); }
    /// A list of texts.
    void text_list(std::span<const std::string> v);
    /// A numeric array with one axis.
    void vector(std::span<const double> v) { n_ += 17 + 8 * v.size(); }
    /// A numeric array with two axes, values in [i * dim1 + j] order.
    void grid(std::span<const double> values, std::uint64_t dim0, std::uint64_t dim1);
    void grid(const Grid2& g) { grid(g.values(), g.ncol(), g.nrow()); }

    std::size_t size() const { return n_; }
    /// The first problem met, if any.
    const std::optional<std::string>& failure() const { return failure_; }

private:
    std::size_t n_ = 0;
    std::optional<std::string> failure_;
};

/// Write pass: fills a buffer of the length the size pass found. Writing
/// more than that length is refused (noted, nothing written past the end).
class Writer {
public:
    explicit Writer(std::size_t size) : buf_(size) {}

    void u8(std::uint8_t v) { put(&v, 1); }
    void u32(std::uint32_t v) { put_le(v); }
    void i32(std::int32_t v) { put_le(static_cast<std::uint32_t>(v)); }
    void u64(std::uint64_t v) { put_le(v); }
    void f64(double v) { put_le(std::bit_cast<std::uint64_t>(v)); }
    void boolean(bool b) { u8(b ? 1 : 0); }
    void count(std::uint64_t n) { u64(n); }
    void tag(bool present) { u8(present ? 1 : 0); }
    void variant(std::uint32_t index) { u32(index); }
    void text(std::string_view s) {
        u64(s.size());
        put(s.data(), s.size());
    }
    void f64_list(std::span<const double> v) {
        u64(v.size());
        put_f64s(v);
    }
    void text_list(std::span<const std::string> v) {
        u64(v.size());
        for (const auto& s : v) text(s);
    }
    void vector(std::span<const double> v) {
        u8(1);
        u64(v.size());
        u64(v.size());
        put_f64s(v);
    }
    void grid(std::span<const double> values, std::uint64_t dim0, std::uint64_t dim1) {
        u8(1);
        u64(dim0);
        u64(dim1);
        u64(values.size());
        put_f64s(values);
    }
    void grid(const Grid2& g) { grid(g.values(), g.ncol(), g.nrow()); }

    /// The bytes written; nothing when the write pass did not produce exactly
    /// the size-pass length.
    std::optional<std::vector<std::uint8_t>> finish() &&;

private:
    void put(const void* p, std::size_t n) {
        if (n > buf_.size() - pos_) {
            overflow_ = true;
            return;
        }
        if (n > 0) std::memcpy(buf_.data() + pos_, p, n);
        pos_ += n;
    }
    template <class U>
    void put_le(U v) {
        if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
        put(&v, sizeof v);
    }
    void put_f64s(std::span<const double> v);

    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
    bool overflow_ = false;
};

/// An option: tag, then the value when present.
template <class Out, class T, class F>
void option(Out& out, const std::optional<T>& value, F&& put) {
    out.tag(value.has_value());
    if (value) put(out, *value);
}

/// A list: count, then each element.
template <class Out, class C, class F>
void list(Out& out, const C& items, F&& put) {
    out.count(items.size());
    for (const auto& item : items) put(out, item);
}

/// A text-keyed map in its iteration order: count, then key and value.
template <class Out, class M, class F>
void map(Out& out, const M& items, F&& put) {
    out.count(items.size());
    for (const auto& [key, value] : items) {
        out.text(key);
        put(out, value);
    }
}

/// Encodes a record: `put(out)` is called once with a `Sizer` and once with a
/// `Writer` (write it as a generic lambda, `[&](auto& out) { ... }`), so the
/// payload is allocated exactly once. Failure: Parse "serialize: {}".
template <class Put>
Result<std::vector<std::uint8_t>> encode(Put&& put) {
    Sizer sizer;
    put(sizer);
    if (sizer.failure()) return fail(serialize_error(*sizer.failure()));
    Writer writer(sizer.size());
    put(writer);
    auto bytes = std::move(writer).finish();
    if (!bytes) return fail(serialize_error("size pass and write pass disagree"));
    return std::move(*bytes);
}

/// A cursor over payload bytes. Every read checks the bytes left first;
/// failures are Parse "deserialize: {detail}" with the detail texts of the
/// encoding ("io error: unexpected end of file", "io error: ", "string is
/// not valid utf8: ...", "invalid u8 while decoding bool, expected 0 or 1,
/// found {}", "tag for enum is not valid, found {}", "invalid value: integer
/// `{}`, expected variant index 0 <= i < {}", "unknown array version: {}",
/// "data and dimension must match in size").
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }

    Result<std::uint8_t> u8();
    Result<std::uint32_t> u32();
    Result<std::int32_t> i32();
    Result<std::uint64_t> u64();
    Result<double> f64();
    Result<bool> boolean();
    /// A count or length (u64).
    Result<std::uint64_t> count() { return u64(); }
    /// An option's tag byte: true when a value follows.
    Result<bool> tag();
    /// An enumeration's variant index, checked against `variants`.
    Result<std::uint32_t> variant(std::uint32_t variants);
    Result<std::string> text();
    Result<std::vector<double>> f64_list();
    Result<std::vector<std::string>> text_list();
    /// A numeric array with one axis.
    Result<std::vector<double>> vector();
    /// A numeric array with two axes (dim0 = ncol, dim1 = nrow).
    Result<Grid2> grid();

    /// A list whose elements `read(reader)` returns as Result<T>.
    template <class F>
    auto list(F&& read) -> Result<std::vector<typename std::invoke_result_t<F&, Reader&>::value_type>> {
        using T = typename std::invoke_result_t<F&, Reader&>::value_type;
        auto n = count();
        if (!n) return fail(std::move(n).error());
        std::vector<T> items;
        items.reserve(reserve_bound<T>(*n));
        for (std::uint64_t k = 0; k < *n; ++k) {
            auto item = read(*this);
            if (!item) return fail(std::move(item).error());
            items.push_back(std::move(*item));
        }
        return items;
    }

    /// An option whose value `read(reader)` returns as Result<T>.
    template <class F>
    auto option(F&& read) -> Result<std::optional<typename std::invoke_result_t<F&, Reader&>::value_type>> {
        using T = typename std::invoke_result_t<F&, Reader&>::value_type;
        auto present = tag();
        if (!present) return fail(std::move(present).error());
        if (!*present) return std::optional<T>{};
        auto value = read(*this);
        if (!value) return fail(std::move(value).error());
        return std::optional<T>(std::move(*value));
    }

    /// A text-keyed map into an insertion-ordered map; a key met again
    /// replaces the value and keeps its first position.
    template <class F>
    auto map(F&& read) -> Result<OrderedMap<std::string, typename std::invoke_result_t<F&, Reader&>::value_type>> {
        using V = typename std::invoke_result_t<F&, Reader&>::value_type;
        auto n = count();
        if (!n) return fail(std::move(n).error());
        OrderedMap<std::string, V> items;
        items.reserve(reserve_bound<std::pair<std::string, V>>(*n));
        for (std::uint64_t k = 0; k < *n; ++k) {
            auto key = text();
            if (!key) return fail(std::move(key).error());
            auto value = read(*this);
            if (!value) return fail(std::move(value).error());
            items.insert_or_assign(std::move(*key), std::move(*value));
        }
        return items;
    }

    /// How many elements of type T may be reserved for a stated count n.
    template <class T>
    static std::size_t reserve_bound(std::uint64_t n) {
        constexpr std::size_t per = sizeof(T) == 0 ? 1 : sizeof(T);
        constexpr std::uint64_t limit = kReserveLimitBytes / per == 0 ? 1 : kReserveLimitBytes / per;
        return static_cast<std::size_t>(n < limit ? n : limit);
    }

private:
    Result<std::span<const std::uint8_t>> take(std::size_t n);
    Result<std::vector<double>> f64s(std::uint64_t n);

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

/// Reads one record from the start of `bytes` with `read(reader)` (a
/// function returning Result<T>); bytes after the record are ignored.
template <class F>
auto decode(std::span<const std::uint8_t> bytes, F&& read) {
    Reader reader(bytes);
    return read(reader);
}

}  // namespace vz::payload
