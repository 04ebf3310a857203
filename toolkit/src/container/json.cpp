#include "container/json.hpp"
#include "utf8.hpp"

#include <fast_float/fast_float.h>
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "container/json_reader.hpp"

namespace vz::container {

// ---------------------------------------------------------------- value

Json Json::object(Object members) {
    std::stable_sort(members.begin(), members.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Keep the last member of every run of equal keys.
    Object unique;
    unique.reserve(members.size());
    for (auto& m : members) {
        if (!unique.empty() && unique.back().first == m.first) {
            unique.back().second = std::move(m.second);
        } else {
            unique.push_back(std::move(m));
        }
    }
    Json j;
    j.v_ = std::move(unique);
    return j;
}

std::optional<bool> Json::as_bool() const {
    if (const bool* b = std::get_if<bool>(&v_)) return *b;
    return std::nullopt;
}

std::optional<std::uint64_t> Json::as_u64() const {
    if (const auto* u = std::get_if<std::uint64_t>(&v_)) return *u;
    return std::nullopt;
}

std::optional<std::int64_t> Json::as_i64() const {
    if (const auto* i = std::get_if<std::int64_t>(&v_)) return *i;
    if (const auto* u = std::get_if<std::uint64_t>(&v_)) {
        if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(*u);
        }
    }
    return std::nullopt;
}

std::optional<double> Json::as_double() const {
    if (const auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
    if (const auto* u = std::get_if<std::uint64_t>(&v_)) return static_cast<double>(*u);
    if (const auto* d = std::get_if<double>(&v_)) return *d;
    return std::nullopt;
}

namespace {

template <class Members>
auto key_position(Members& members, std::string_view key) {
    return std::lower_bound(members.begin(), members.end(), key,
                            [](const auto& m, std::string_view k) { return std::string_view(m.first) < k; });
}

}  // namespace

const Json* Json::find(std::string_view key) const {
    const Object* members = as_object();
    if (members == nullptr) return nullptr;
    auto it = key_position(*members, key);
    if (it == members->end() || it->first != key) return nullptr;
    return &it->second;
}

Json& Json::set(std::string_view key, Json value) {
    if (!is_object()) v_ = Object{};
    Object& members = std::get<Object>(v_);
    auto it = key_position(members, key);
    if (it != members.end() && it->first == key) {
        it->second = std::move(value);
    } else {
        members.emplace(it, std::string(key), std::move(value));
    }
    return *this;
}

Json& Json::push_back(Json value) {
    if (!is_array()) v_ = Array{};
    std::get<Array>(v_).push_back(std::move(value));
    return *this;
}

// ---------------------------------------------------------------- writer

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t run = 0;  // start of the bytes not yet copied
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.substr(run, i - run));
        run = i + 1;
        out.push_back('\\');
        switch (c) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case 0x08: out.push_back('b'); break;
            case 0x09: out.push_back('t'); break;
            case 0x0A: out.push_back('n'); break;
            case 0x0C: out.push_back('f'); break;
            case 0x0D: out.push_back('r'); break;
            default:
                out.append("u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
        }
    }
    out.append(text.substr(run));
    out.push_back('"');
}

void append_json_float(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    if (std::signbit(value)) out.push_back('-');
    value = std::fabs(value);
    if (value == 0.0) {
        out.append("0.0");
        return;
    }
    // The shortest round-trip digits in scientific form: d[.ddd]e±xx.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.') digits.push_back(c);
    }
    int exp10 = 0;
    std::string_view exp_text = sci.substr(e_pos + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp10);
    // value = 0.d1d2...dn x 10^k
    const int n = static_cast<int>(digits.size());
    const int k = exp10 + 1;
    if (n <= k && k <= 16) {
        out.append(digits);
        out.append(static_cast<std::size_t>(k - n), '0');
        out.append(".0");
    } else if (0 < k && k < n && k <= 16) {
        out.append(digits, 0, static_cast<std::size_t>(k));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(k));
    } else if (-5 < k && k <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-k), '0');
        out.append(digits);
    } else {
        out.push_back(digits[0]);
        if (n > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out.push_back('e');
        out.append(std::to_string(k - 1));
    }
}

void append_json(std::string& out, const Json& value) {
    switch (value.type()) {
        case Json::Type::Null: out.append("null"); return;
        case Json::Type::Bool: out.append(*value.as_bool() ? "true" : "false"); return;
        case Json::Type::Int: out.append(std::to_string(*value.as_i64())); return;
        case Json::Type::UInt: out.append(std::to_string(*value.as_u64())); return;
        case Json::Type::Float: append_json_float(out, *value.as_double()); return;
        case Json::Type::String: append_json_string(out, *value.as_string()); return;
        case Json::Type::Array: {
            out.push_back('[');
            bool first = true;
            for (const Json& e : *value.as_array()) {
                if (!first) out.push_back(',');
                first = false;
                append_json(out, e);
            }
            out.push_back(']');
            return;
        }
        case Json::Type::Object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [k, v] : *value.as_object()) {
                if (!first) out.push_back(',');
                first = false;
                append_json_string(out, k);
                out.push_back(':');
                append_json(out, v);
            }
            out.push_back('}');
            return;
        }
    }
}

std::string to_json_text(const Json& value) {
    std::string out;
    append_json(out, value);
    return out;
}

// ---------------------------------------------------------------- reader

std::string JsonError::display() const { return fmt::format("{} at line {} column {}", message, line, column); }

namespace detail {

namespace {

bool is_ws(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, unsigned cp) { utf8::append(out, static_cast<char32_t>(cp)); }

// Length of the well-formed UTF-8 sequence starting at text[i] (i < size),
// or 0 when it is not one.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if (b1 < lo || b1 > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if (b < 0x80 || b > 0xBF) return 0;
    }
    return len;
}

}  // namespace

void JsonReader::skip_ws() {
    while (pos_ < text_.size() && is_ws(static_cast<unsigned char>(text_[pos_]))) ++pos_;
}

JsonError JsonReader::error_at(std::size_t consumed, std::string message) const {
    JsonError e{std::move(message), 1, 0};
    consumed = std::min(consumed, text_.size());
    for (std::size_t i = 0; i < consumed; ++i) {
        if (text_[i] == '\n') {
            ++e.line;
            e.column = 0;
        } else {
            ++e.column;
        }
    }
    return e;
}

JsonResult<void> JsonReader::enter() {
    if (++depth_ > kMaxJsonDepth) {
        --depth_;
        return std::unexpected(error_peek("recursion limit exceeded"));
    }
    return {};
}

JsonResult<unsigned> JsonReader::parse_hex4() {
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
        const int c = peek();
        if (c < 0) return std::unexpected(error_here("EOF while parsing a string"));
        const int h = hex_value(c);
        if (h < 0) return std::unexpected(error_peek("invalid escape"));
        bump();
        v = (v << 4) | static_cast<unsigned>(h);
    }
    return v;
}

JsonResult<std::string> JsonReader::parse_string() {
    bump();  // opening quote
    std::string out;
    std::size_t run = pos_;
    for (;;) {
        if (pos_ >= text_.size()) return std::unexpected(error_here("EOF while parsing a string"));
        const auto c = static_cast<unsigned char>(text_[pos_]);
        if (c == '"') {
            out.append(text_.substr(run, pos_ - run));
            bump();
            return out;
        }
        if (c < 0x20) {
            return std::unexpected(error_peek("control character (\\u0000-\\u001F) found while parsing a string"));
        }
        if (c >= 0x80) {
            const std::size_t len = utf8_sequence_length(text_, pos_);
            if (len == 0) return std::unexpected(error_peek("invalid unicode code point"));
            pos_ += len;
            continue;
        }
        if (c != '\\') {
            bump();
            continue;
        }
        out.append(text_.substr(run, pos_ - run));
        bump();
        const int e = peek();
        if (e < 0) return std::unexpected(error_here("EOF while parsing a string"));
        bump();
        switch (e) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                auto hi = parse_hex4();
                if (!hi) return std::unexpected(std::move(hi).error());
                unsigned cp = *hi;
                if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return std::unexpected(error_here("lone leading surrogate in hex escape"));
                }
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (peek() != '\\') return std::unexpected(error_peek("unexpected end of hex escape"));
                    bump();
                    if (peek() != 'u') return std::unexpected(error_peek("unexpected end of hex escape"));
                    bump();
                    auto lo = parse_hex4();
                    if (!lo) return std::unexpected(std::move(lo).error());
                    if (*lo < 0xDC00 || *lo > 0xDFFF) {
                        return std::unexpected(error_here("lone leading surrogate in hex escape"));
                    }
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (*lo - 0xDC00);
                }
                append_utf8(out, cp);
                break;
            }
            default: return std::unexpected(error_here("invalid escape"));
        }
        run = pos_;
    }
}

JsonResult<Json> JsonReader::parse_number() {
    const std::size_t start = pos_;
    bool negative = false;
    if (peek() == '-') {
        negative = true;
        bump();
    }
    auto digit = [&] { return peek() >= '0' && peek() <= '9'; };
    if (peek() < 0) return std::unexpected(error_here("EOF while parsing a value"));
    if (!digit()) return std::unexpected(error_peek("invalid number"));
    bool integral = true;
    if (peek() == '0') {
        bump();
        if (digit()) return std::unexpected(error_peek("invalid number"));
    } else {
        while (digit()) bump();
    }
    if (peek() == '.') {
        integral = false;
        bump();
        if (peek() < 0) return std::unexpected(error_here("EOF while parsing a value"));
        if (!digit()) return std::unexpected(error_peek("invalid number"));
        while (digit()) bump();
    }
    if (peek() == 'e' || peek() == 'E') {
        integral = false;
        bump();
        if (peek() == '+' || peek() == '-') bump();
        if (peek() < 0) return std::unexpected(error_here("EOF while parsing a value"));
        if (!digit()) return std::unexpected(error_peek("invalid number"));
        while (digit()) bump();
    }
    const std::string_view num = text_.substr(start, pos_ - start);
    if (integral) {
        std::uint64_t mag = 0;
        const std::string_view digits = num.substr(negative ? 1 : 0);
        const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), mag);
        if (r.ec == std::errc{}) {
            if (!negative) return Json(static_cast<unsigned long long>(mag));
            // -0 and magnitudes beyond 2^63 are kept as floats.
            if (mag != 0 && mag <= (std::uint64_t{1} << 63)) {
                return Json(static_cast<long long>(-static_cast<std::int64_t>(mag - 1) - 1));
            }
        }
    }
    double d = 0.0;
    const auto r = fast_float::from_chars(num.data(), num.data() + num.size(), d);
    if (r.ptr != num.data() + num.size() || std::isinf(d)) {
        return std::unexpected(error_here("number out of range"));
    }
    return Json(d);
}

JsonResult<Json> JsonReader::parse_literal(std::string_view word, Json value) {
    for (char w : word) {
        if (peek() < 0) return std::unexpected(error_here("EOF while parsing a value"));
        if (peek() != static_cast<unsigned char>(w)) return std::unexpected(error_peek("expected ident"));
        bump();
    }
    return value;
}

JsonResult<bool> JsonReader::empty_container(char close) {
    skip_ws();
    if (peek() == static_cast<unsigned char>(close)) {
        bump();
        return true;
    }
    return false;
}

JsonResult<bool> JsonReader::next_element(char close) {
    skip_ws();
    const int c = peek();
    if (c < 0) {
        return std::unexpected(error_here(close == ']' ? "EOF while parsing a list" : "EOF while parsing an object"));
    }
    if (c == static_cast<unsigned char>(close)) {
        bump();
        return false;
    }
    if (c != ',') {
        return std::unexpected(error_peek(close == ']' ? "expected `,` or `]`" : "expected `,` or `}`"));
    }
    bump();
    skip_ws();
    if (peek() == static_cast<unsigned char>(close)) return std::unexpected(error_peek("trailing comma"));
    return true;
}

JsonResult<std::string> JsonReader::parse_key() {
    skip_ws();
    const int c = peek();
    if (c < 0) return std::unexpected(error_here("EOF while parsing an object"));
    if (c != '"') return std::unexpected(error_peek("key must be a string"));
    auto key = parse_string();
    if (!key) return key;
    skip_ws();
    if (peek() < 0) return std::unexpected(error_here("EOF while parsing an object"));
    if (peek() != ':') return std::unexpected(error_peek("expected `:`"));
    bump();
    return key;
}

JsonResult<Json> JsonReader::parse_array() {
    if (auto d = enter(); !d) return std::unexpected(std::move(d).error());
    bump();
    Json::Array elements;
    auto empty = empty_container(']');
    if (!empty) return std::unexpected(std::move(empty).error());
    if (!*empty) {
        for (;;) {
            auto v = parse_value();
            if (!v) return v;
            elements.push_back(std::move(*v));
            auto more = next_element(']');
            if (!more) return std::unexpected(std::move(more).error());
            if (!*more) break;
        }
    }
    leave();
    return Json(std::move(elements));
}

JsonResult<Json> JsonReader::parse_object() {
    if (auto d = enter(); !d) return std::unexpected(std::move(d).error());
    bump();
    Json::Object members;
    auto empty = empty_container('}');
    if (!empty) return std::unexpected(std::move(empty).error());
    if (!*empty) {
        for (;;) {
            auto key = parse_key();
            if (!key) return std::unexpected(std::move(key).error());
            auto v = parse_value();
            if (!v) return v;
            members.emplace_back(std::move(*key), std::move(*v));
            auto more = next_element('}');
            if (!more) return std::unexpected(std::move(more).error());
            if (!*more) break;
        }
    }
    leave();
    return Json::object(std::move(members));
}

JsonResult<Json> JsonReader::parse_value() {
    skip_ws();
    const int c = peek();
    switch (c) {
        case -1: return std::unexpected(error_here("EOF while parsing a value"));
        case 'n': return parse_literal("null", Json());
        case 't': return parse_literal("true", Json(true));
        case 'f': return parse_literal("false", Json(false));
        case '"': {
            auto s = parse_string();
            if (!s) return std::unexpected(std::move(s).error());
            return Json(std::move(*s));
        }
        case '[': return parse_array();
        case '{': return parse_object();
        default:
            if (c == '-' || (c >= '0' && c <= '9')) return parse_number();
            return std::unexpected(error_peek("expected value"));
    }
}

std::string describe_unexpected(const Json& value) {
    switch (value.type()) {
        case Json::Type::Null: return "null";
        case Json::Type::Bool: return fmt::format("boolean `{}`", *value.as_bool() ? "true" : "false");
        case Json::Type::Int: return fmt::format("integer `{}`", *value.as_i64());
        case Json::Type::UInt: return fmt::format("integer `{}`", *value.as_u64());
        case Json::Type::Float: {
            std::string f;
            append_json_float(f, *value.as_double());
            return fmt::format("floating point `{}`", f);
        }
        case Json::Type::String: {
            std::string s;
            append_json_string(s, *value.as_string());
            return "string " + s;
        }
        case Json::Type::Array: return "sequence";
        case Json::Type::Object: return "map";
    }
    return "value";
}

}  // namespace detail

std::expected<Json, JsonError> parse_json(std::string_view text) {
    detail::JsonReader reader(text);
    auto value = reader.parse_value();
    if (!value) return value;
    reader.skip_ws();
    if (reader.peek() >= 0) return std::unexpected(reader.error_peek("trailing characters"));
    return value;
}

}  // namespace vz::container
