#pragma once
/// The JSON value, writer and reader of the project container file.
///
/// The container's manifest, the project metadata it carries and asset
/// envelopes all go through this one JSON dialect. The writer's text is fixed
/// byte for byte (compact, object keys in byte order, minimal escaping, the
/// shortest-digit float forms), so two equal values always give the same
/// bytes; the reader reports failures as a message plus the 1-based line and
/// column where reading stopped.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vz::container {

/// One JSON value. Integers keep their integer nature: non-negative ones are
/// held as unsigned 64-bit, negative ones as signed 64-bit; every other number
/// is a 64-bit float. Objects hold each key once, in ascending byte order of
/// the key text (the order the writer emits).
class Json {
public:
    using Array = std::vector<Json>;
    /// Members sorted by key (plain byte order), each key once.
    using Object = std::vector<std::pair<std::string, Json>>;

    /// The variant order of the stored value.
    enum class Type { Null, Bool, Int, UInt, Float, String, Array, Object };

    /// null.
    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool b) : v_(b) {}
    Json(int i) { set_signed(i); }
    Json(long i) { set_signed(i); }
    Json(long long i) { set_signed(i); }
    Json(unsigned u) : v_(static_cast<std::uint64_t>(u)) {}
    Json(unsigned long u) : v_(static_cast<std::uint64_t>(u)) {}
    Json(unsigned long long u) : v_(static_cast<std::uint64_t>(u)) {}
    /// A floating value (written with a point or an exponent, or as null when
    /// not finite).
    Json(double d) : v_(d) {}
    Json(std::string s) : v_(std::move(s)) {}
    Json(std::string_view s) : v_(std::string(s)) {}
    Json(const char* s) : v_(std::string(s)) {}
    Json(Array a) : v_(std::move(a)) {}

    /// An empty object.
    static Json object() {
        Json j;
        j.v_ = Object{};
        return j;
    }
    /// An object from members in any order; a key given twice keeps its last
    /// value.
    static Json object(Object members);
    /// An empty array.
    static Json array() { return Json(Array{}); }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool is_null() const { return type() == Type::Null; }
    bool is_bool() const { return type() == Type::Bool; }
    /// An integer of either signedness.
    bool is_integer() const { return type() == Type::Int || type() == Type::UInt; }
    /// An integer or a float.
    bool is_number() const { return is_integer() || type() == Type::Float; }
    bool is_string() const { return type() == Type::String; }
    bool is_array() const { return type() == Type::Array; }
    bool is_object() const { return type() == Type::Object; }

    /// The value of a boolean; nothing for any other type.
    std::optional<bool> as_bool() const;
    /// The value of a non-negative integer; nothing for any other value
    /// (negative integers and floats included).
    std::optional<std::uint64_t> as_u64() const;
    /// The value of an integer that fits a signed 64-bit integer.
    std::optional<std::int64_t> as_i64() const;
    /// Any number as a double (integers converted); nothing for other types.
    std::optional<double> as_double() const;
    /// The text of a string; nullptr for any other type.
    const std::string* as_string() const { return std::get_if<std::string>(&v_); }
    /// The elements of an array; nullptr for any other type.
    const Array* as_array() const { return std::get_if<Array>(&v_); }
    Array* as_array() { return std::get_if<Array>(&v_); }
    /// The members of an object, sorted by key; nullptr for any other type.
    const Object* as_object() const { return std::get_if<Object>(&v_); }

    /// The member `key` of an object; nullptr when absent or not an object.
    const Json* find(std::string_view key) const;
    /// Sets the member `key` of an object (replacing an existing one); a
    /// non-object value is first turned into an empty object.
    Json& set(std::string_view key, Json value);
    /// Appends to an array; a non-array value is first turned into an empty
    /// array.
    Json& push_back(Json value);

    /// Structural equality; floats compare by value, integers by value
    /// whatever their signedness.
    bool operator==(const Json& other) const = default;

private:
    template <class I>
    void set_signed(I i) {
        if (i < 0) {
            v_ = static_cast<std::int64_t>(i);
        } else {
            v_ = static_cast<std::uint64_t>(i);
        }
    }

    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object> v_;
};

/// The compact text of `value`: no whitespace outside strings, object keys in
/// byte order, minimal escaping, integers in plain decimal, floats by
/// `append_json_float`, non-finite floats as null.
std::string to_json_text(const Json& value);

/// Appends the compact text of `value` to `out`.
void append_json(std::string& out, const Json& value);

/// Appends `text` as a quoted JSON string: \b \t \n \f \r, other bytes below
/// 0x20 as \u00XX (lower-case hex), `"` and `\` escaped, every other byte
/// (slash, 0x7F, non-ASCII UTF-8) copied unchanged.
void append_json_string(std::string& out, std::string_view text);

/// Appends a finite float with the fewest significant digits that read back
/// to the same double: plain positional form for decimal exponents from -4
/// to 16 ("12.34", "0.001234", "1000000000000000.0", "1.0"), otherwise
/// d[.ddd]e[-]x ("1e21", "1.5e-7"); zero as "0.0" / "-0.0"; NaN and
/// infinities as "null".
void append_json_float(std::string& out, double value);

/// A JSON reading failure: the message and where reading stopped (1-based
/// line; column = bytes read on that line, 0 when none).
struct JsonError {
    std::string message;
    std::size_t line = 1;
    std::size_t column = 0;

    /// "<message> at line L column C".
    std::string display() const;
};

/// Parses one JSON value that may be surrounded by spaces, tabs, carriage
/// returns and line feeds, and nothing else. Arrays and objects nest at most
/// 127 deep; a key given twice in one object keeps its last value; a number
/// without fraction and exponent that fits 0..2^64-1 or -2^63..-1 is an
/// integer, any other number a float.
std::expected<Json, JsonError> parse_json(std::string_view text);

}  // namespace vz::container
