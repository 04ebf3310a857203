#pragma once
/// The JSON reading machinery shared by the generic value parser and the
/// manifest reader (internal to the container library).
///
/// Positions: a reader error names the number of bytes consumed when reading
/// stopped; `error_peek` counts the offending byte as consumed, so the column
/// points at it.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "container/json.hpp"

namespace vz::container::detail {

/// Deepest nesting of arrays and objects a document may have.
inline constexpr int kMaxJsonDepth = 127;

template <class T>
using JsonResult = std::expected<T, JsonError>;

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    /// Skips spaces, tabs, carriage returns and line feeds.
    void skip_ws();
    /// The next byte, or -1 at the end.
    int peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }
    void bump() { ++pos_; }
    std::size_t pos() const { return pos_; }

    /// An error after `consumed` bytes.
    JsonError error_at(std::size_t consumed, std::string message) const;
    /// An error after the bytes consumed so far.
    JsonError error_here(std::string message) const { return error_at(pos_, std::move(message)); }
    /// An error pointing at the next byte (or at the end).
    JsonError error_peek(std::string message) const {
        return error_at(pos_ < text_.size() ? pos_ + 1 : pos_, std::move(message));
    }

    /// Enters one level of nesting at an opening bracket (not yet consumed);
    /// fails with "recursion limit exceeded".
    JsonResult<void> enter();
    void leave() { --depth_; }

    /// Reads a string; the next byte must be the opening quote.
    JsonResult<std::string> parse_string();
    /// Reads any value (whitespace before it is skipped).
    JsonResult<Json> parse_value();
    /// Reads the separator after an element of an array or an object:
    /// true when another element follows, false at the closing bracket
    /// (consumed). `close` is ']' or '}'.
    JsonResult<bool> next_element(char close);
    /// After an opening bracket (consumed): skips whitespace and reports
    /// whether the container is empty (the closing bracket then consumed).
    JsonResult<bool> empty_container(char close);
    /// Reads an object key and the colon after it; the next non-space byte
    /// must be the key's opening quote.
    JsonResult<std::string> parse_key();

private:
    JsonResult<Json> parse_number();
    JsonResult<Json> parse_literal(std::string_view word, Json value);
    JsonResult<Json> parse_array();
    JsonResult<Json> parse_object();
    JsonResult<unsigned> parse_hex4();

    std::string_view text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

/// How a type error names the value it met: "integer `5`", "floating point
/// `1.5`", "string \"x\"", "boolean `true`", "null", "sequence", "map".
std::string describe_unexpected(const Json& value);

}  // namespace vz::container::detail
