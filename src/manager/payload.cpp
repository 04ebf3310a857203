#include "manager/payload.hpp"
#include "utf8.hpp"

#include <fmt/format.h>

#include <limits>

namespace vz::payload {

namespace {

constexpr std::string_view kEof = "io error: unexpected end of file";
constexpr std::string_view kMismatch = "data and dimension must match in size";

/// True when the product of the non-zero axis lengths fits a signed 64-bit
/// integer and the product of all of them equals `count`.
bool shape_matches(std::span<const std::uint64_t> dims, std::uint64_t count) {
    constexpr std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t nonzero = 1;
    bool any_zero = false;
    for (std::uint64_t d : dims) {
        if (d == 0) {
            any_zero = true;
            continue;
        }
        if (nonzero > limit / d) return false;
        nonzero *= d;
    }
    return (any_zero ? 0 : nonzero) == count;
}

}  // namespace

Error deserialize_error(std::string_view detail) { return Error::parse(fmt::format("deserialize: {}", detail)); }

Error deserialize_error(const Error& rebuild) { return deserialize_error(rebuild.display()); }

Error serialize_error(std::string_view detail) { return Error::parse(fmt::format("serialize: {}", detail)); }

std::optional<std::string> utf8_error(std::string_view text) {
    const auto fault = utf8::first_fault(text);
    if (!fault) return std::nullopt;
    if (fault->incomplete) return fmt::format("incomplete utf-8 byte sequence from index {}", fault->index);
    return fmt::format("invalid utf-8 sequence of {} bytes from index {}", fault->valid_len, fault->index);
}

// ---------------------------------------------------------------- encoding

void Sizer::text(std::string_view s) {
    n_ += 8 + s.size();
    if (!failure_) {
        if (auto bad = utf8_error(s)) failure_ = fmt::format("string is not valid utf8: {}", *bad);
    }
}

void Sizer::text_list(std::span<const std::string> v) {
    n_ += 8;
    for (const auto& s : v) text(s);
}

void Sizer::grid(std::span<const double> values, std::uint64_t dim0, std::uint64_t dim1) {
    n_ += 25 + 8 * values.size();
    const std::uint64_t dims[] = {dim0, dim1};
    if (!failure_ && !shape_matches(dims, values.size())) failure_ = std::string(kMismatch);
}

void Writer::put_f64s(std::span<const double> v) {
    if constexpr (std::endian::native == std::endian::little) {
        put(v.data(), v.size() * sizeof(double));
    } else {
        for (double d : v) f64(d);
    }
}

std::optional<std::vector<std::uint8_t>> Writer::finish() && {
    if (overflow_ || pos_ != buf_.size()) return std::nullopt;
    return std::move(buf_);
}

// ---------------------------------------------------------------- decoding

Result<std::span<const std::uint8_t>> Reader::take(std::size_t n) {
    if (n > remaining()) return fail(deserialize_error(kEof));
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
}

namespace {

template <class U>
U load_le(std::span<const std::uint8_t> b) {
    U v;
    std::memcpy(&v, b.data(), sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
    return v;
}

}  // namespace

Result<std::uint8_t> Reader::u8() {
    VZ_ASSIGN_OR_RETURN(auto b, take(1));
    return b[0];
}

Result<std::uint32_t> Reader::u32() {
    VZ_ASSIGN_OR_RETURN(auto b, take(4));
    return load_le<std::uint32_t>(b);
}

Result<std::int32_t> Reader::i32() {
    VZ_ASSIGN_OR_RETURN(auto b, take(4));
    return static_cast<std::int32_t>(load_le<std::uint32_t>(b));
}

Result<std::uint64_t> Reader::u64() {
    VZ_ASSIGN_OR_RETURN(auto b, take(8));
    return load_le<std::uint64_t>(b);
}

Result<double> Reader::f64() {
    VZ_ASSIGN_OR_RETURN(auto b, take(8));
    return std::bit_cast<double>(load_le<std::uint64_t>(b));
}

Result<bool> Reader::boolean() {
    VZ_ASSIGN_OR_RETURN(auto b, u8());
    if (b > 1) return fail(deserialize_error(fmt::format("invalid u8 while decoding bool, expected 0 or 1, found {}", b)));
    return b == 1;
}

Result<bool> Reader::tag() {
    VZ_ASSIGN_OR_RETURN(auto b, u8());
    if (b > 1) return fail(deserialize_error(fmt::format("tag for enum is not valid, found {}", b)));
    return b == 1;
}

Result<std::uint32_t> Reader::variant(std::uint32_t variants) {
    VZ_ASSIGN_OR_RETURN(auto i, u32());
    if (i >= variants) {
        return fail(deserialize_error(
            fmt::format("invalid value: integer `{}`, expected variant index 0 <= i < {}", i, variants)));
    }
    return i;
}

Result<std::string> Reader::text() {
    VZ_ASSIGN_OR_RETURN(auto n, u64());
    if (n > remaining()) return fail(deserialize_error("io error: "));
    VZ_ASSIGN_OR_RETURN(auto b, take(static_cast<std::size_t>(n)));
    std::string s(reinterpret_cast<const char*>(b.data()), b.size());
    if (auto bad = utf8_error(s)) return fail(deserialize_error(fmt::format("string is not valid utf8: {}", *bad)));
    return s;
}

Result<std::vector<double>> Reader::f64s(std::uint64_t n) {
    // Reading n values one by one would fail at the end of the bytes when
    // fewer remain, so the same failure is given before anything is
    // reserved.
    if (n > remaining() / 8) return fail(deserialize_error(kEof));
    VZ_ASSIGN_OR_RETURN(auto b, take(static_cast<std::size_t>(n) * 8));
    std::vector<double> v(static_cast<std::size_t>(n));
    if constexpr (std::endian::native == std::endian::little) {
        if (!v.empty()) std::memcpy(v.data(), b.data(), b.size());
    } else {
        for (std::size_t k = 0; k < v.size(); ++k) {
            v[k] = std::bit_cast<double>(load_le<std::uint64_t>(b.subspan(8 * k, 8)));
        }
    }
    return v;
}

Result<std::vector<double>> Reader::f64_list() {
    VZ_ASSIGN_OR_RETURN(auto n, count());
    return f64s(n);
}

Result<std::vector<std::string>> Reader::text_list() {
    return list([](Reader& r) { return r.text(); });
}

Result<std::vector<double>> Reader::vector() {
    VZ_ASSIGN_OR_RETURN(auto version, u8());
    if (version != 1) return fail(deserialize_error(fmt::format("unknown array version: {}", version)));
    VZ_ASSIGN_OR_RETURN(auto len, u64());
    VZ_ASSIGN_OR_RETURN(auto n, count());
    VZ_ASSIGN_OR_RETURN(auto values, f64s(n));
    const std::uint64_t dims[] = {len};
    if (!shape_matches(dims, n)) return fail(deserialize_error(kMismatch));
    return values;
}

Result<Grid2> Reader::grid() {
    VZ_ASSIGN_OR_RETURN(auto version, u8());
    if (version != 1) return fail(deserialize_error(fmt::format("unknown array version: {}", version)));
    VZ_ASSIGN_OR_RETURN(auto dim0, u64());
    VZ_ASSIGN_OR_RETURN(auto dim1, u64());
    VZ_ASSIGN_OR_RETURN(auto n, count());
    VZ_ASSIGN_OR_RETURN(auto values, f64s(n));
    const std::uint64_t dims[] = {dim0, dim1};
    if (!shape_matches(dims, n)) return fail(deserialize_error(kMismatch));
    // A zero axis may be paired with any length of the other axis.
    if constexpr (sizeof(std::size_t) < sizeof(std::uint64_t)) {
        if (dim0 > std::numeric_limits<std::size_t>::max() || dim1 > std::numeric_limits<std::size_t>::max()) {
            return fail(deserialize_error(kMismatch));
        }
    }
    return Grid2(static_cast<std::size_t>(dim0), static_cast<std::size_t>(dim1), std::move(values));
}

}  // namespace vz::payload
