#include "container/manifest.hpp"

#include <fmt/format.h>

#include <functional>
#include <limits>
#include <span>

#include "container/json_reader.hpp"

namespace vz::container {

Entry Entry::from_section(const Section& section, std::uint64_t offset, std::uint64_t size) {
    return Entry{section.kind, section.name, section.tags, section.version, offset, size};
}

// ---------------------------------------------------------------- writer

std::string write_manifest(const Header& header) {
    std::string out;
    out.reserve(64 + header.sections.size() * 96);
    out.append("{\"format_version\":");
    out.append(std::to_string(header.format_version));
    out.append(",\"app\":");
    append_json(out, header.app);
    out.append(",\"sections\":[");
    bool first = true;
    for (const Entry& e : header.sections) {
        if (!first) out.push_back(',');
        first = false;
        out.append("{\"kind\":");
        append_json_string(out, e.kind);
        out.append(",\"name\":");
        append_json_string(out, e.name);
        out.append(",\"tags\":[");
        for (std::size_t i = 0; i < e.tags.size(); ++i) {
            if (i > 0) out.push_back(',');
            append_json_string(out, e.tags[i]);
        }
        out.append("],\"version\":");
        out.append(std::to_string(e.version));
        out.append(",\"offset\":");
        out.append(std::to_string(e.offset));
        out.append(",\"size\":");
        out.append(std::to_string(e.size));
        out.push_back('}');
    }
    out.append("]}");
    return out;
}

// ---------------------------------------------------------------- reader

namespace {

using detail::JsonReader;
using detail::JsonResult;

/// One member of a record read from the manifest: its key, whether it must
/// be present, and how its value is read into the record.
struct Member {
    std::string_view key;
    bool required;
    std::function<JsonResult<void>(JsonReader&)> read;
};

JsonError type_error(const JsonReader& r, std::size_t start, const Json& found, std::string_view expected) {
    return r.error_at(start + 1,
                      fmt::format("invalid type: {}, expected {}", detail::describe_unexpected(found), expected));
}

/// Reads any value and refuses it as not being `expected`.
JsonResult<void> refuse_value(JsonReader& r, std::string_view expected) {
    r.skip_ws();
    const std::size_t start = r.pos();
    auto v = r.parse_value();
    if (!v) return std::unexpected(std::move(v).error());
    return std::unexpected(type_error(r, start, *v, expected));
}

template <class U>
JsonResult<void> read_unsigned(JsonReader& r, U& out, std::string_view expected) {
    r.skip_ws();
    const std::size_t start = r.pos();
    auto v = r.parse_value();
    if (!v) return std::unexpected(std::move(v).error());
    if (auto u = v->as_u64()) {
        if (*u <= std::numeric_limits<U>::max()) {
            out = static_cast<U>(*u);
            return {};
        }
    }
    if (v->is_integer()) {
        return std::unexpected(r.error_at(
            start + 1, fmt::format("invalid value: {}, expected {}", detail::describe_unexpected(*v), expected)));
    }
    return std::unexpected(type_error(r, start, *v, expected));
}

JsonResult<void> read_string(JsonReader& r, std::string& out) {
    r.skip_ws();
    if (r.peek() != '"') return refuse_value(r, "a string");
    auto s = r.parse_string();
    if (!s) return std::unexpected(std::move(s).error());
    out = std::move(*s);
    return {};
}

/// Reads an array, calling `element` for each element.
JsonResult<void> read_sequence(JsonReader& r, const std::function<JsonResult<void>(JsonReader&)>& element) {
    r.skip_ws();
    if (r.peek() != '[') return refuse_value(r, "a sequence");
    if (auto d = r.enter(); !d) return d;
    r.bump();
    auto empty = r.empty_container(']');
    if (!empty) return std::unexpected(std::move(empty).error());
    if (!*empty) {
        for (;;) {
            if (auto e = element(r); !e) return e;
            auto more = r.next_element(']');
            if (!more) return std::unexpected(std::move(more).error());
            if (!*more) break;
        }
    }
    r.leave();
    return {};
}

/// Reads a record given as an object (any member order, unknown keys
/// skipped, duplicates and missing required members refused) or as an array
/// of all member values in order.
JsonResult<void> read_record(JsonReader& r, std::string_view name, std::span<const Member> members) {
    r.skip_ws();
    const int c = r.peek();
    if (c == '{') {
        if (auto d = r.enter(); !d) return d;
        r.bump();
        std::vector<bool> seen(members.size(), false);
        auto empty = r.empty_container('}');
        if (!empty) return std::unexpected(std::move(empty).error());
        if (!*empty) {
            for (;;) {
                auto key = r.parse_key();
                if (!key) return std::unexpected(std::move(key).error());
                std::size_t m = 0;
                while (m < members.size() && members[m].key != *key) ++m;
                if (m < members.size()) {
                    if (seen[m]) return std::unexpected(r.error_here(fmt::format("duplicate field `{}`", *key)));
                    seen[m] = true;
                    if (auto e = members[m].read(r); !e) return e;
                } else {
                    auto skipped = r.parse_value();
                    if (!skipped) return std::unexpected(std::move(skipped).error());
                }
                auto more = r.next_element('}');
                if (!more) return std::unexpected(std::move(more).error());
                if (!*more) break;
            }
        }
        r.leave();
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (members[m].required && !seen[m]) {
                return std::unexpected(r.error_here(fmt::format("missing field `{}`", members[m].key)));
            }
        }
        return {};
    }
    if (c == '[') {
        if (auto d = r.enter(); !d) return d;
        r.bump();
        auto length_error = [&](std::size_t n) {
            return std::unexpected(r.error_here(
                fmt::format("invalid length {}, expected struct {} with {} elements", n, name, members.size())));
        };
        auto empty = r.empty_container(']');
        if (!empty) return std::unexpected(std::move(empty).error());
        bool ended = *empty;
        std::size_t count = 0;
        for (const Member& m : members) {
            if (ended) return length_error(count);
            if (auto e = m.read(r); !e) return e;
            ++count;
            auto more = r.next_element(']');
            if (!more) return std::unexpected(std::move(more).error());
            ended = !*more;
        }
        if (!ended) {
            // Count the surplus elements for the message.
            for (;;) {
                auto extra = r.parse_value();
                if (!extra) return std::unexpected(std::move(extra).error());
                ++count;
                auto more = r.next_element(']');
                if (!more) return std::unexpected(std::move(more).error());
                if (!*more) break;
            }
            return length_error(count);
        }
        r.leave();
        return {};
    }
    return refuse_value(r, fmt::format("struct {}", name));
}

JsonResult<void> read_entry(JsonReader& r, Entry& e) {
    const Member members[] = {
        {"kind", true, [&](JsonReader& rr) { return read_string(rr, e.kind); }},
        {"name", true, [&](JsonReader& rr) { return read_string(rr, e.name); }},
        {"tags", false,
         [&](JsonReader& rr) {
             e.tags.clear();
             return read_sequence(rr, [&](JsonReader& r3) {
                 std::string t;
                 if (auto s = read_string(r3, t); !s) return s;
                 e.tags.push_back(std::move(t));
                 return JsonResult<void>{};
             });
         }},
        {"version", false, [&](JsonReader& rr) { return read_unsigned(rr, e.version, "u32"); }},
        {"offset", true, [&](JsonReader& rr) { return read_unsigned(rr, e.offset, "u64"); }},
        {"size", true, [&](JsonReader& rr) { return read_unsigned(rr, e.size, "u64"); }},
    };
    return read_record(r, "Entry", members);
}

}  // namespace

ToolsResult<Header> parse_manifest(std::string_view text) {
    JsonReader r(text);
    Header h;
    const Member members[] = {
        {"format_version", true, [&](JsonReader& rr) { return read_unsigned(rr, h.format_version, "u32"); }},
        {"app", false,
         [&](JsonReader& rr) -> JsonResult<void> {
             auto v = rr.parse_value();
             if (!v) return std::unexpected(std::move(v).error());
             h.app = std::move(*v);
             return {};
         }},
        {"sections", true,
         [&](JsonReader& rr) {
             h.sections.clear();
             return read_sequence(rr, [&](JsonReader& r3) {
                 Entry e;
                 if (auto ok = read_entry(r3, e); !ok) return ok;
                 h.sections.push_back(std::move(e));
                 return JsonResult<void>{};
             });
         }},
    };
    auto ok = read_record(r, "Header", members);
    if (ok) {
        r.skip_ws();
        if (r.peek() >= 0) ok = std::unexpected(r.error_peek("trailing characters"));
    }
    if (!ok) return std::unexpected(ToolsError::parse(ok.error().display()));
    return h;
}

}  // namespace vz::container
