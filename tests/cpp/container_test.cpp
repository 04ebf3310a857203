#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fmt/format.h>
#include <zstd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "container/container.hpp"
#include "container/json.hpp"
#include "container/manifest.hpp"
#include "child_process.hpp"

namespace vz::container {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

/// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "vz_container_XXXXXX").string();
        char* made = ::mkdtemp(tmpl.data());
        EXPECT_NE(made, nullptr);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    fs::path operator/(std::string_view name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void write_file(const fs::path& p, const Bytes& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_u32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

/// A container file assembled by hand: prefix, manifest text, payload bytes.
Bytes raw_container(std::string_view manifest, const Bytes& payload = {}, std::uint32_t schema = 2,
                    std::uint8_t format = 1) {
    Bytes b = {'K', 'I', 'O', format};
    put_u32(b, schema);
    put_u32(b, static_cast<std::uint32_t>(manifest.size()));
    b.insert(b.end(), manifest.begin(), manifest.end());
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes zstd_frame(const Bytes& data) {
    Bytes out(ZSTD_compressBound(data.size()));
    const std::size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
    EXPECT_FALSE(ZSTD_isError(n));
    out.resize(n);
    return out;
}

std::string manifest_with(std::string_view entries) {
    return std::string(R"({"format_version":1,"app":null,"sections":[)") + std::string(entries) + "]}";
}

std::string entry_json(std::string_view kind, std::string_view name, std::uint64_t offset, std::uint64_t size) {
    return std::string(R"({"kind":")") + std::string(kind) + R"(","name":")" + std::string(name) +
           R"(","offset":)" + std::to_string(offset) + R"(,"size":)" + std::to_string(size) + "}";
}

Section section(std::string kind, std::string name, std::string_view data, std::vector<std::string> tags = {},
                std::uint32_t version = 2) {
    return Section{std::move(kind), std::move(name), std::move(tags), bytes_of(data), version};
}

std::string error_text(const ToolsError& e) { return e.display(); }

// ================================================================= JSON text

TEST(JsonWriter, FloatForms) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1.0, "1.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {100.0, "100.0"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {12.34, "12.34"},
        {0.001234, "0.001234"},
        {1e-5, "0.00001"},
        {1e-6, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {2.5e-8, "2.5e-8"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e16"},
        {1.5e16, "1.5e16"},
        {1e21, "1e21"},
        {1234567890123456.8, "1234567890123456.8"},
        {123456789012345680.0, "1.2345678901234568e17"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {kNaN, "null"},
        {kInf, "null"},
        {-kInf, "null"},
    };
    for (const auto& c : cases) {
        std::string out;
        append_json_float(out, c.value);
        EXPECT_EQ(out, c.text) << c.text;
    }
}

TEST(JsonWriter, FloatsReadBackToTheSameBits) {
    std::mt19937_64 rng(7);
    for (int k = 0; k < 20000; ++k) {
        double d = std::bit_cast<double>(rng());
        if (!std::isfinite(d)) continue;
        const std::string text = to_json_text(Json(d));
        auto back = parse_json(text);
        ASSERT_TRUE(back) << text;
        ASSERT_TRUE(back->as_double()) << text;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*back->as_double()), std::bit_cast<std::uint64_t>(d)) << text;
    }
}

TEST(JsonWriter, StringEscapes) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"a\tb\"c\xC3\xA9", "\"a\\tb\\\"c\xC3\xA9\""},
        {std::string("\x01", 1), "\"\\u0001\""},
        {std::string("\0", 1), "\"\\u0000\""},
        {"\x1f\x7f/", "\"\\u001f\x7f/\""},
        {"\b\f\n\r\\", "\"\\b\\f\\n\\r\\\\\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(to_json_text(Json(c.in)), c.out);
}

TEST(JsonWriter, CompactWithKeysInByteOrder) {
    Json app = Json::object();
    app.set("b", Json(1));
    app.set("ab", Json(-3));
    app.set("a", Json(18446744073709551615ULL));
    app.set("\xC3\xA9", Json(true));
    app.set("Z", Json(nullptr));
    Json arr = Json::array();
    arr.push_back(Json(1.5));
    arr.push_back(Json("x"));
    arr.push_back(Json::object());
    app.set("list", arr);
    app.set("b", Json(false));  // replaces in place
    EXPECT_EQ(to_json_text(app),
              R"({"Z":null,"a":18446744073709551615,"ab":-3,"b":false,"list":[1.5,"x",{}],)"
              "\"\xC3\xA9\":true}");
}

// ================================================================= JSON reading

TEST(JsonReader, ValuesAndTheirCanonicalText) {
    const struct {
        const char* in;
        const char* canonical;
    } cases[] = {
        {R"( {"b" : 1, "a":2 ,"b":3} )", R"({"a":2,"b":3})"},
        {"-0", "-0.0"},
        {"0", "0"},
        {"18446744073709551615", "18446744073709551615"},
        {"18446744073709551616", "1.8446744073709552e19"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"-9223372036854775809", "-9.223372036854776e18"},
        {"1.0", "1.0"},
        {"1E2", "100.0"},
        {"2.5e-8", "2.5e-8"},
        {R"("\u00e9\ud83d\ude00\/")", "\"\xC3\xA9\xF0\x9F\x98\x80/\""},
        {"[true,false,null,[],{}]", "[true,false,null,[],{}]"},
        {"\t\r\n[ 1 ,\n 2 ]\n", "[1,2]"},
    };
    for (const auto& c : cases) {
        auto v = parse_json(c.in);
        ASSERT_TRUE(v) << c.in << ": " << v.error().display();
        EXPECT_EQ(to_json_text(*v), c.canonical) << c.in;
    }
}

TEST(JsonReader, IntegerNature) {
    auto pos = parse_json("5");
    auto neg = parse_json("-5");
    auto flt = parse_json("5.0");
    ASSERT_TRUE(pos && neg && flt);
    EXPECT_EQ(pos->as_u64(), 5u);
    EXPECT_FALSE(neg->as_u64());
    EXPECT_EQ(neg->as_i64(), -5);
    EXPECT_FALSE(flt->as_u64());
    EXPECT_TRUE(flt->as_double());
}

TEST(JsonReader, ErrorsWithPositions) {
    const struct {
        std::string in;
        const char* error;
    } cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   ", "EOF while parsing a value at line 1 column 3"},
        {"{} x", "trailing characters at line 1 column 4"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {R"({"a" 1})", "expected `:` at line 1 column 6"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"[1,\n  x]", "expected value at line 2 column 3"},
        {"01", "invalid number at line 1 column 2"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"1e400", "number out of range at line 1 column 5"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"trux", "expected ident at line 1 column 4"},
        {"\"ab", "EOF while parsing a string at line 1 column 3"},
        {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"\xFF\"", "invalid unicode code point at line 1 column 2"},
        {"\"\xC3\"", "invalid unicode code point at line 1 column 2"},
        {R"("\x")", "invalid escape at line 1 column 3"},
        {R"("\ud800")", "unexpected end of hex escape at line 1 column 8"},
        {R"("\udc00")", "lone leading surrogate in hex escape at line 1 column 7"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {R"({"a":1)", "EOF while parsing an object at line 1 column 6"},
    };
    for (const auto& c : cases) {
        auto v = parse_json(c.in);
        ASSERT_FALSE(v) << c.in;
        EXPECT_EQ(v.error().display(), c.error) << c.in;
    }
}

TEST(JsonReader, NestingLimitIs127) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(parse_json(nested(127)));
    auto deep = parse_json(nested(128));
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error().display(), "recursion limit exceeded at line 1 column 128");
    // A deeply nested document far past the limit fails the same way
    // instead of exhausting the stack.
    EXPECT_FALSE(parse_json(nested(100000)));
}

// ================================================================= manifest

Header sample_header() {
    Header h;
    h.app = Json::object();
    h.app.set("unit", Json("Metres"));
    h.app.set("created", Json(1700000000));
    h.sections.push_back(Entry{"well", "W1", {"a", "b"}, 2, 0, 10});
    h.sections.push_back(Entry{"surface", "S\"1", {}, 0, 10, 5});
    return h;
}

TEST(Manifest, WrittenTextIsExact) {
    EXPECT_EQ(write_manifest(sample_header()),
              R"({"format_version":1,"app":{"created":1700000000,"unit":"Metres"},"sections":[)"
              R"({"kind":"well","name":"W1","tags":["a","b"],"version":2,"offset":0,"size":10},)"
              R"({"kind":"surface","name":"S\"1","tags":[],"version":0,"offset":10,"size":5}]})");
    EXPECT_EQ(write_manifest(Header{}), R"({"format_version":1,"app":null,"sections":[]})");
}

TEST(Manifest, ReadsAnyOrderUnknownKeysArraysAndDefaults) {
    const Header expected = sample_header();
    const char* variants[] = {
        // Canonical.
        R"({"format_version":1,"app":{"created":1700000000,"unit":"Metres"},"sections":[)"
        R"({"kind":"well","name":"W1","tags":["a","b"],"version":2,"offset":0,"size":10},)"
        R"({"kind":"surface","name":"S\"1","tags":[],"version":0,"offset":10,"size":5}]})",
        // Reordered members, unknown keys with any values, defaults omitted,
        // whitespace, a trailing line feed.
        "{ \"sections\" : [ {\"size\":10,\"offset\":0,\"x\":{\"deep\":[1,{}]},\"version\":2,"
        "\"tags\":[\"a\",\"b\"],\"name\":\"W1\",\"kind\":\"well\"},\n"
        "{\"name\":\"S\\\"1\",\"kind\":\"surface\",\"offset\":10,\"size\":5}],"
        " \"extra\": null, \"app\": {\"unit\":\"Metres\",\"created\":1700000000}, \"format_version\": 1 }\n",
        // Array forms.
        R"([1,{"unit":"Metres","created":1700000000},[["well","W1",["a","b"],2,0,10],)"
        R"(["surface","S\"1",[],0,10,5]]])",
    };
    for (const char* text : variants) {
        auto h = parse_manifest(text);
        ASSERT_TRUE(h) << text << "\n" << h.error().display();
        EXPECT_EQ(*h, expected) << text;
    }
    auto bare = parse_manifest(R"({"format_version":7,"sections":[]})");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->app.is_null());
    EXPECT_EQ(bare->format_version, 7u);
}

TEST(Manifest, ReadErrors) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {R"({"format_version":1})", "missing field `sections` at line 1 column 20"},
        {R"({"sections":[]})", "missing field `format_version` at line 1 column 15"},
        {R"({"format_version":1,"sections":[{"kind":"a","name":"b","offset":0}]})",
         "missing field `size` at line 1 column 66"},
        {R"({"format_version":1,"format_version":1,"sections":[]})",
         "duplicate field `format_version` at line 1 column 37"},
        {R"({"format_version":1,"sections":[{"kind":"a","kind":"b"}]})", "duplicate field `kind` at line 1 column 51"},
        {R"({"format_version":-1,"sections":[]})", "invalid value: integer `-1`, expected u32 at line 1 column 19"},
        {R"({"format_version":1.5,"sections":[]})",
         "invalid type: floating point `1.5`, expected u32 at line 1 column 19"},
        {R"({"format_version":4294967296,"sections":[]})",
         "invalid value: integer `4294967296`, expected u32 at line 1 column 19"},
        {R"({"format_version":1,"sections":[{"kind":1,"name":"b","offset":0,"size":0}]})",
         "invalid type: integer `1`, expected a string at line 1 column 41"},
        {R"({"format_version":1,"sections":[{"kind":"a","name":"b","tags":"t","offset":0,"size":0}]})",
         "invalid type: string \"t\", expected a sequence at line 1 column 63"},
        {R"({"format_version":1,"sections":[{"kind":"a","name":"b","offset":-1,"size":0}]})",
         "invalid value: integer `-1`, expected u64 at line 1 column 65"},
        {R"({"format_version":1,"sections":{}})", "invalid type: map, expected a sequence at line 1 column 32"},
        {R"({"format_version":1,"sections":[5]})", "invalid type: integer `5`, expected struct Entry at line 1 column 33"},
        {R"("manifest")", "invalid type: string \"manifest\", expected struct Header at line 1 column 1"},
        {R"([1,null])", "invalid length 2, expected struct Header with 3 elements at line 1 column 8"},
        {R"([1,null,[["k","n",[],0,0]]])",
         "invalid length 5, expected struct Entry with 6 elements at line 1 column 25"},
        {R"({"format_version":1,"sections":[]}x)", "trailing characters at line 1 column 35"},
        {R"({"format_version":1,"sections":[]} )" "\n" "x", "trailing characters at line 2 column 1"},
        {R"({"format_version":1,"app":)" + std::string(127, '[') + std::string(127, ']') + R"(,"sections":[]})",
         "recursion limit exceeded at line 1 column 153"},
    };
    for (const auto& c : cases) {
        auto h = parse_manifest(c.text);
        ASSERT_FALSE(h) << c.text;
        EXPECT_EQ(h.error().kind(), ToolsErrorKind::Parse);
        EXPECT_EQ(h.error().message(), c.error) << c.text;
    }
    // 126 levels inside "app" plus the manifest object make 127: accepted.
    auto deepest = parse_manifest(R"({"format_version":1,"app":)" + std::string(126, '[') + std::string(126, ']') +
                                  R"(,"sections":[]})");
    EXPECT_TRUE(deepest) << deepest.error().display();
}

// ================================================================= container files

TEST(ContainerFile, SaveAndReadBack) {
    TempDir dir;
    const fs::path path = dir / "survey.zedod";
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 31 + i / 97) & 0xFF);
    const std::vector<Section> sections = {
        section("well", "W1", "well bytes", {"t1", "t2"}),
        section("surface", "Top", big, {}, 2),
        section("model", "empty", "", {}, 7),
        section("points", "W1", "same name, other kind"),
    };
    Json app = Json::object();
    app.set("unit", Json("Feet"));
    ASSERT_TRUE(save(path, app, 2, sections));
    EXPECT_FALSE(fs::exists(dir / "survey.zedod.tmp"));

    auto c = open(path);
    ASSERT_TRUE(c) << c.error().display();
    EXPECT_EQ(c->element_schema_version, 2u);
    EXPECT_EQ(c->header.format_version, 1u);
    EXPECT_EQ(c->header.app, app);
    ASSERT_EQ(c->header.sections.size(), sections.size());

    // Payloads back to back from offset 0; the file ends after the last.
    const Bytes file = read_file(path);
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{'K', 'I', 'O', 1, 2, 0, 0, 0}));
    const std::uint32_t n = file[8] | (file[9] << 8) | (file[10] << 16) | (static_cast<std::uint32_t>(file[11]) << 24);
    EXPECT_EQ(c->data_start, 12u + n);
    EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 12 + n), write_manifest(c->header));
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Entry& e = c->header.sections[i];
        EXPECT_EQ(e.kind, sections[i].kind);
        EXPECT_EQ(e.name, sections[i].name);
        EXPECT_EQ(e.tags, sections[i].tags);
        EXPECT_EQ(e.version, sections[i].version);
        EXPECT_EQ(e.offset, next);
        EXPECT_GT(e.size, 0u);  // an empty section still has a frame
        next += e.size;
    }
    EXPECT_EQ(file.size(), c->data_start + next);

    // The first entry with a name serves both reads by that name.
    for (std::size_t i = 0; i < 3; ++i) {
        auto s = read_section(*c, sections[i].name);
        ASSERT_TRUE(s) << s.error().display();
        EXPECT_EQ(*s, sections[i]);
    }
    auto raw = read_section_raw(*c, "Top");
    ASSERT_TRUE(raw);
    const Entry& top = c->header.sections[1];
    EXPECT_EQ(*raw, Bytes(file.begin() + static_cast<std::ptrdiff_t>(c->data_start + top.offset),
                          file.begin() + static_cast<std::ptrdiff_t>(c->data_start + top.offset + top.size)));
    // One zstd frame without checksum.
    EXPECT_EQ((*raw)[4] & 0x04, 0);
    EXPECT_EQ(ZSTD_findFrameCompressedSize(raw->data(), raw->size()), raw->size());
    auto missing = read_section(*c, "nope");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().display(), "not found: section 'nope'");
    auto missing_raw = read_section_raw(*c, "nope");
    ASSERT_FALSE(missing_raw);
    EXPECT_EQ(missing_raw.error().kind(), ToolsErrorKind::NotFound);
}

TEST(ContainerFile, EmptySectionListIsPrefixAndManifestOnly) {
    TempDir dir;
    const fs::path path = dir / "empty.zedod";
    ASSERT_TRUE(save(path, Json(), 2, {}));
    const std::string manifest = R"({"format_version":1,"app":null,"sections":[]})";
    EXPECT_EQ(read_file(path), raw_container(manifest));
    auto c = open(path);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->header.sections.empty());
}

TEST(ContainerFile, WriteAssignsOffsetsAndSizesWhateverTheEntriesHeld) {
    TempDir dir;
    const fs::path path = dir / "x.zedod";
    std::vector<StoredSection> list;
    list.push_back({Entry{"k", "a", {}, 1, 999, 1}, bytes_of("abc")});
    list.push_back({Entry{"k", "a", {}, 1, 5, 77}, bytes_of("")});
    list.push_back({Entry{"k", "b", {"t"}, 3, 0, 0}, bytes_of("defgh")});
    ASSERT_TRUE(write(path, Json(), 9, std::move(list)));
    auto c = open(path);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->element_schema_version, 9u);
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> placed = {{0, 3}, {3, 0}, {3, 5}};
    ASSERT_EQ(c->header.sections.size(), placed.size());
    for (std::size_t i = 0; i < placed.size(); ++i) {
        EXPECT_EQ(c->header.sections[i].offset, placed[i].first);
        EXPECT_EQ(c->header.sections[i].size, placed[i].second);
    }
    EXPECT_EQ(read_file(path).size(), c->data_start + 8);
}

TEST(ContainerFile, OpenErrorsInOrder) {
    TempDir dir;
    const struct {
        const char* name;
        Bytes file;
        ToolsErrorKind kind;
        const char* message;
    } cases[] = {
        {"empty", {}, ToolsErrorKind::Parse, "not a .zedod file (truncated header)"},
        {"three bytes", {'K', 'I', 'O'}, ToolsErrorKind::Parse, "not a .zedod file (truncated header)"},
        {"bad magic before version", {'K', 'I', 'X', 9, 0, 0, 0, 0, 0, 0, 0, 0}, ToolsErrorKind::Parse,
         "not a .zedod file (bad magic)"},
        {"newer format", {'K', 'I', 'O', 2}, ToolsErrorKind::Parse,
         "unsupported .zedod format version 2 (this build reads ≤ 1) — re-save with a newer writer"},
        {"prefix only", {'K', 'I', 'O', 1}, ToolsErrorKind::Io, "'{path}': failed to fill whole buffer"},
        {"half the lengths", {'K', 'I', 'O', 1, 2, 0, 0, 0, 5}, ToolsErrorKind::Io,
         "'{path}': failed to fill whole buffer"},
        {"empty manifest", raw_container(""), ToolsErrorKind::Parse, "EOF while parsing a value at line 1 column 0"},
        {"manifest trailing text", raw_container(R"({"format_version":1,"sections":[]}!)"), ToolsErrorKind::Parse,
         "trailing characters at line 1 column 35"},
    };
    for (const auto& c : cases) {
        const fs::path p = dir / "case.zedod";
        write_file(p, c.file);
        auto r = open(p);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().kind(), c.kind) << c.name;
        std::string want = c.message;
        // "{path}" stands for the file opened.
        if (const auto at = want.find("{path}"); at != std::string::npos) want.replace(at, 6, p.string());
        EXPECT_EQ(r.error().message(), want) << c.name;
    }
    // A manifest length of 1000 in a file of 200 bytes (and the largest
    // length the field can hold) is refused without reading or reserving it.
    for (std::uint32_t len : {1000u, 0xFFFFFFFFu}) {
        Bytes b = {'K', 'I', 'O', 1, 2, 0, 0, 0};
        put_u32(b, len);
        b.resize(200, '{');
        write_file(dir / "long.zedod", b);
        auto r = open(dir / "long.zedod");
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().display(), "parse error: .zedod header truncated");
    }
    auto missing = open(dir / "absent.zedod");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().display(),
              "I/O error: '" + (dir / "absent.zedod").string() + "': No such file or directory (os error 2)");
    // Format version 0 reads like 1, and the manifest line feed is accepted.
    write_file(dir / "v0.zedod", raw_container("{\"format_version\":1,\"sections\":[]}\n", {}, 5, 0));
    auto v0 = open(dir / "v0.zedod");
    ASSERT_TRUE(v0) << v0.error().display();
    EXPECT_EQ(v0->element_schema_version, 5u);
    EXPECT_EQ(v0->data_start, 12u + 35u);
}

TEST(ContainerFile, EveryTruncationFailsAtItsStage) {
    // Cutting a valid file at each length meets the failures in file order:
    // the 4-byte prefix, the two lengths, the manifest, then the payloads.
    TempDir dir;
    const fs::path good = dir / "good.zedod";
    ASSERT_TRUE(save(good, Json(), 2, std::vector<Section>{section("well", "A", "aaaa"), section("points", "B", "bb")}));
    const Bytes original = read_file(good);
    auto full = open(good);
    ASSERT_TRUE(full);
    const std::uint64_t data_start = full->data_start;
    const Entry a = full->header.sections[0];
    const Entry b = full->header.sections[1];
    const fs::path p = dir / "cut.zedod";
    for (std::size_t len = 0; len < original.size(); ++len) {
        write_file(p, Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(len)));
        auto c = open(p);
        if (len < 4) {
            ASSERT_FALSE(c);
            EXPECT_EQ(c.error().message(), "not a .zedod file (truncated header)") << len;
        } else if (len < 12) {
            ASSERT_FALSE(c);
            EXPECT_EQ(c.error().display(), "I/O error: '" + p.string() + "': failed to fill whole buffer") << len;
        } else if (len < data_start) {
            ASSERT_FALSE(c);
            EXPECT_EQ(c.error().message(), ".zedod header truncated") << len;
        } else {
            ASSERT_TRUE(c) << len;
            for (const Entry* e : {&a, &b}) {
                auto s = read_section(*c, e->name);
                if (len >= data_start + e->offset + e->size) {
                    EXPECT_TRUE(s) << len;
                } else {
                    ASSERT_FALSE(s);
                    EXPECT_EQ(s.error().message(), fmt::format("section '{}' truncated", e->name)) << len;
                }
            }
        }
    }
}

TEST(ContainerFile, SectionReadErrors) {
    TempDir dir;
    const Bytes f1 = zstd_frame(bytes_of("first "));
    const Bytes f2 = zstd_frame(bytes_of("second"));
    Bytes skippable = {0x50, 0x2A, 0x4D, 0x18};
    put_u32(skippable, 3);
    skippable.insert(skippable.end(), {9, 9, 9});
    Bytes payload;  // [two frames][skippable + frame][truncated frame][garbage]
    payload.insert(payload.end(), f1.begin(), f1.end());
    payload.insert(payload.end(), f2.begin(), f2.end());
    const std::uint64_t two = payload.size();
    payload.insert(payload.end(), skippable.begin(), skippable.end());
    payload.insert(payload.end(), f1.begin(), f1.end());
    const std::uint64_t skip_end = payload.size();
    payload.insert(payload.end(), f2.begin(), f2.end() - 2);
    const std::uint64_t cut_end = payload.size();
    const Bytes garbage = bytes_of("not a zstd frame at all");
    payload.insert(payload.end(), garbage.begin(), garbage.end());

    const std::string entries =
        entry_json("x", "two", 0, two) + "," + entry_json("x", "skip", two, skip_end - two) + "," +
        entry_json("x", "cut", skip_end, cut_end - skip_end) + "," +
        entry_json("x", "garbage", cut_end, garbage.size()) + "," + entry_json("x", "empty", 0, 0) + "," +
        entry_json("x", "beyond", payload.size() - 2, 10) + "," +
        entry_json("x", "huge", 0, std::uint64_t{1} << 62) + "," +
        entry_json("x", "wrap", std::numeric_limits<std::uint64_t>::max() - 3, 8) + "," +
        entry_json("surface", "two", 0, 1);
    const fs::path p = dir / "s.zedod";
    write_file(p, raw_container(manifest_with(entries), payload));
    auto c = open(p);  // nothing is decoded on open
    ASSERT_TRUE(c) << c.error().display();
    ASSERT_EQ(c->header.sections.size(), 9u);

    auto two_frames = read_section(*c, "two");
    ASSERT_TRUE(two_frames);
    EXPECT_EQ(two_frames->data, bytes_of("first second"));
    EXPECT_EQ(two_frames->kind, "x");  // the earlier of the two entries named "two"
    auto skipped = read_section(*c, "skip");
    ASSERT_TRUE(skipped);
    EXPECT_EQ(skipped->data, bytes_of("first "));
    auto empty_raw = read_section_raw(*c, "empty");
    ASSERT_TRUE(empty_raw);
    EXPECT_TRUE(empty_raw->empty());

    const struct {
        const char* name;
        const char* decoded;
        const char* raw;  // nullptr: the raw read succeeds
    } cases[] = {
        {"cut", "parse error: section 'cut' corrupt", nullptr},
        {"garbage", "parse error: section 'garbage' corrupt", nullptr},
        {"empty", "parse error: section 'empty' corrupt", nullptr},
        {"beyond", "parse error: section 'beyond' truncated", "parse error: section 'beyond' truncated"},
        {"huge", "parse error: section 'huge' truncated", "parse error: section 'huge' truncated"},
        {"wrap", "parse error: section 'wrap' truncated", "parse error: section 'wrap' truncated"},
    };
    for (const auto& k : cases) {
        auto s = read_section(*c, k.name);
        ASSERT_FALSE(s) << k.name;
        EXPECT_EQ(error_text(s.error()), k.decoded);
        auto raw = read_section_raw(*c, k.name);
        if (k.raw == nullptr) {
            EXPECT_TRUE(raw) << k.name;
        } else {
            ASSERT_FALSE(raw) << k.name;
            EXPECT_EQ(error_text(raw.error()), k.raw);
        }
    }
}

/// Byte length of a zstd frame header (magic included).
std::size_t frame_header_size(const Bytes& frame) {
    const std::uint8_t d = frame[4];
    const bool single_segment = (d & 0x20) != 0;
    const std::size_t dict_sizes[] = {0, 1, 2, 4};
    const std::size_t fcs_sizes[] = {single_segment ? 1u : 0u, 2, 4, 8};
    return 5 + (single_segment ? 0 : 1) + dict_sizes[d & 3] + fcs_sizes[d >> 6];
}

TEST(ContainerFile, DecompressionDoesNotTrustTheStatedSize) {
    // A frame header claiming far more content than the frame holds must
    // fail as corrupt, not reserve the claimed size.
    const Bytes frame = zstd_frame(bytes_of("tiny"));
    ASSERT_EQ(ZSTD_getFrameContentSize(frame.data(), frame.size()), 4u);
    // Descriptor: 8-byte content size, window descriptor present (2 MiB).
    Bytes forged = {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0x58};
    for (int i = 0; i < 8; ++i) forged.push_back(i == 6 ? 0x04 : 0x00);
    forged.insert(forged.end(), frame.begin() + static_cast<std::ptrdiff_t>(frame_header_size(frame)), frame.end());
    EXPECT_EQ(ZSTD_getFrameContentSize(forged.data(), forged.size()), std::uint64_t{1} << 50);
    EXPECT_FALSE(decompress_frames(forged));
    EXPECT_EQ(decompress_frames(frame), bytes_of("tiny"));
}

/// A zstd frame of `size` bytes of `value` made of run-length blocks of
/// `block` bytes each (4 bytes of payload per block): with `stated` its
/// header states the content size `claim` (the size itself unless told),
/// without it the header holds only a 128 KiB window.
Bytes run_length_frame(std::uint64_t size, std::uint8_t value, bool stated, std::uint64_t claim = ~std::uint64_t{0},
                       std::uint32_t block = 1u << 17) {
    Bytes f = {0x28, 0xB5, 0x2F, 0xFD};
    if (stated) {
        f.push_back(0xE0);  // 8-byte content size, single segment
        if (claim == ~std::uint64_t{0}) claim = size;
        for (int i = 0; i < 8; ++i) f.push_back(static_cast<std::uint8_t>(claim >> (8 * i)));
    } else {
        f.push_back(0x00);
        f.push_back(7 << 3);  // window of 2^(10 + 7) bytes
    }
    std::uint64_t left = size;
    do {
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, block));
        left -= n;
        const std::uint32_t header = (n << 3) | (1u << 1) | (left == 0 ? 1u : 0u);
        for (int i = 0; i < 3; ++i) f.push_back(static_cast<std::uint8_t>(header >> (8 * i)));
        f.push_back(value);
    } while (left > 0);
    return f;
}

// Decompression allocates the output once, at the size the frames state or
// (when they do not) at the size a first pass counts; a frame that produces
// more or less than it states is corrupt.
TEST(ContainerFile, DecompressionAllocatesTheOutputOnce) {
    const std::uint64_t n = 1000000;
    const Bytes expected(n, 7);
    EXPECT_EQ(decompress_frames(run_length_frame(n, 7, true)), expected);
    EXPECT_EQ(decompress_frames(run_length_frame(n, 7, false)), expected);
    Bytes two = run_length_frame(n, 7, false);
    const Bytes stated = run_length_frame(n, 7, true);
    two.insert(two.end(), stated.begin(), stated.end());
    EXPECT_EQ(decompress_frames(two), Bytes(2 * n, 7));
    EXPECT_FALSE(decompress_frames(run_length_frame(n, 7, true, n - 1)));  // produces more than it states
    EXPECT_FALSE(decompress_frames(run_length_frame(n, 7, true, n + 1)));  // produces less
    Bytes cut = run_length_frame(n, 7, false);
    cut.pop_back();
    EXPECT_FALSE(decompress_frames(cut));  // ends inside its last block
}

// A 100 KB section that decompresses to 3 GiB of zeros: under an address
// space of 1 GiB its read fails naming the size, never by an escaped
// allocation failure; sections of 256 MiB read within 400 MiB, with their
// size stated or not (once the output would have been grown step by step,
// copying as it went, and the decoder kept a window as large as the output).
TEST(ContainerFile, SectionMemoryFollowsItsSize) {
    VZ_SKIP_WITHOUT_ADDRESS_LIMIT();
    TempDir dir;
    const fs::path p = dir / "zeros.zedod";
    const std::uint64_t huge = std::uint64_t{3} << 30, big = std::uint64_t{256} << 20;
    std::vector<StoredSection> sections;
    sections.push_back(StoredSection{Entry{"well", "huge", {}, 2, 0, 0}, run_length_frame(huge, 0, true)});
    sections.push_back(StoredSection{Entry{"well", "big", {}, 2, 0, 0}, run_length_frame(big, 0, true)});
    sections.push_back(StoredSection{Entry{"well", "unsized", {}, 2, 0, 0}, run_length_frame(big, 0, false)});
    EXPECT_LT(sections[0].data.size(), 100000u);
    ASSERT_TRUE(write(p, Json(), 2, std::move(sections)));

    const std::string huge_report =
        vz::testing::run_with_memory_budget(std::size_t{1} << 30, [&]() -> std::string {
            auto c = open(p);
            if (!c) return c.error().display();
            auto s = read_section(*c, "huge");
            if (s) return "read 3 GiB within 1 GiB";
            const std::string want = "I/O error: section 'huge' of 3221225472 bytes does not fit in memory";
            return s.error().display() == want ? "" : s.error().display();
        });
    EXPECT_EQ(huge_report, "");
    for (const char* name : {"big", "unsized"}) {
        const std::string report =
            vz::testing::run_with_memory_budget(std::size_t{400} << 20, [&]() -> std::string {
                auto c = open(p);
                if (!c) return c.error().display();
                auto s = read_section(*c, name);
                if (!s) return s.error().display();
                if (s->data.size() != big) return "wrong size";
                for (std::size_t k = 0; k < s->data.size(); k += 4096)
                    if (s->data[k] != 0) return "wrong content";
                return "";
            });
        EXPECT_EQ(report, "") << name;
    }
}

TEST(ContainerFile, TemporaryPathBesideTheDestination) {
    const struct {
        const char* dest;
        const char* tmp;
    } cases[] = {
        {"survey.zedod", "survey.zedod.tmp"}, {"dir/survey.zedod", "dir/survey.zedod.tmp"},
        {"survey", "survey..tmp"},            {".zedod", ".zedod..tmp"},
        {"survey.", "survey..tmp"},           {"a.b.c", "a.b.c.tmp"},
        {"/x/.a.b", "/x/.a.b.tmp"},
        // An extension that is not UTF-8 counts as empty; UTF-8 text is kept.
        {"survey.\xff", "survey..tmp"},      {"survey.z\xc3\xa9" "d", "survey.z\xc3\xa9" "d.tmp"},
        {"survey.\xc3", "survey..tmp"},
    };
    for (const auto& c : cases) {
        auto t = temp_path_for(c.dest);
        ASSERT_TRUE(t) << c.dest;
        EXPECT_EQ(t->string(), c.tmp);
    }
    for (const char* bad : {"", "/", "dir/", ".", "dir/.."}) {
        auto t = temp_path_for(bad);
        ASSERT_FALSE(t) << bad;
        EXPECT_EQ(t.error().kind(), ToolsErrorKind::Io);
    }
}

// A manifest that is not UTF-8 would be written but refused by every reader,
// so the writer refuses it before creating anything.
TEST(ContainerFile, TextThatIsNotUtf8IsRefusedBeforeWriting) {
    TempDir dir;
    const fs::path dest = dir / "u.zedod";
    const struct {
        const char* name;
        std::vector<Section> sections;
        Json app;
        const char* error;
    } cases[] = {
        {"kind", {section("well", "W", "a"), section("we\xffll", "X", "b")}, Json(),
         "invalid argument: section 1 has a kind, name or tag that is not valid UTF-8 text"},
        {"name", {section("well", "W\xc3", "a")}, Json(),
         "invalid argument: section 0 has a kind, name or tag that is not valid UTF-8 text"},
        {"tag", {section("well", "W", "a", {"ok", "\xed\xa0\x80"})}, Json(),
         "invalid argument: section 0 has a kind, name or tag that is not valid UTF-8 text"},
        {"metadata value", {section("well", "W", "a")}, Json::object({{"owner", Json("\xfe")}}),
         "invalid argument: the manifest metadata holds text that is not valid UTF-8"},
        {"metadata key", {}, Json::object({{"\x80", Json(1)}}),
         "invalid argument: the manifest metadata holds text that is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        auto r = save(dest, c.app, 2, c.sections);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(error_text(r.error()), c.error) << c.name;
        EXPECT_FALSE(fs::exists(dest)) << c.name;
        EXPECT_FALSE(fs::exists(dir / "u.zedod.tmp")) << c.name;
    }
    // Non-ASCII text that is UTF-8 is written and read back unchanged.
    const std::vector<Section> fine = {section("well", "Br\xc3\xb8nn", "a", {"\xe2\x82\xac"})};
    ASSERT_TRUE(save(dest, Json::object({{"owner", Json("\xc3\xa6")}}), 2, fine));
    auto c = open(dest);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->header.sections.at(0).name, "Br\xc3\xb8nn");
    EXPECT_EQ(c->header.sections.at(0).tags, std::vector<std::string>{"\xe2\x82\xac"});
    EXPECT_EQ(*c->header.app.find("owner")->as_string(), "\xc3\xa6");
}

TEST(ContainerFile, PathWithNulIsRefusedNotCutShort) {
    // The system would end the path at the NUL and open or overwrite
    // "p.zedod" itself.
    TempDir dir;
    const fs::path dest = dir / "p.zedod";
    const std::vector<Section> first = {section("well", "W", "old")};
    ASSERT_TRUE(save(dest, Json(), 2, first));
    const Bytes before = read_file(dest);
    const fs::path nul = fs::path(dest.native() + std::string("\0x", 2));
    const std::string shown = "I/O error: path contains a NUL character: '" + dest.native() + "\\0x'";

    auto opened = open(nul);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().display(), shown);
    auto saved = save(nul, Json(), 2, std::vector<Section>{section("well", "W", "new")});
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().display(), shown);
    EXPECT_EQ(read_file(dest), before);
}

TEST(ContainerFile, ManifestLengthMustFitItsField) {
    EXPECT_EQ(manifest_length_field(0xFFFFFFFFull), 0xFFFFFFFFu);
    auto too_long = manifest_length_field(0x100000000ull);
    ASSERT_FALSE(too_long);
    EXPECT_EQ(too_long.error().display(),
              "invalid argument: .zedod manifest of 4294967296 bytes exceeds the 4294967295-byte limit");
}

TEST(ContainerFile, FailedWritesLeaveTheDestinationUntouched) {
    TempDir dir;
    const fs::path dest = dir / "p.zedod";
    const std::vector<Section> first = {section("well", "W", "old")};
    ASSERT_TRUE(save(dest, Json(), 2, first));
    const Bytes before = read_file(dest);
    const std::vector<Section> second = {section("well", "W", "new content")};

    // The temporary file cannot be created (its name is taken by a
    // directory): Io, nothing written.
    fs::create_directory(dir / "p.zedod.tmp");
    auto blocked = save(dest, Json(), 2, second);
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().kind(), ToolsErrorKind::Io);
    EXPECT_EQ(read_file(dest), before);
    fs::remove(dir / "p.zedod.tmp");

    // A leftover temporary file is overwritten and renamed away.
    write_file(dir / "p.zedod.tmp", bytes_of("leftover garbage"));
    ASSERT_TRUE(save(dest, Json(), 2, second));
    EXPECT_FALSE(fs::exists(dir / "p.zedod.tmp"));
    auto c = open(dest);
    ASSERT_TRUE(c);
    EXPECT_EQ(read_section(*c, "W")->data, bytes_of("new content"));

    // The rename fails (the destination is a non-empty directory): the
    // complete temporary file stays and reads as a container.
    const fs::path dir_dest = dir / "d.zedod";
    fs::create_directory(dir_dest);
    write_file(dir_dest / "keep", bytes_of("k"));
    auto renamed = save(dir_dest, Json(), 2, first);
    ASSERT_FALSE(renamed);
    EXPECT_EQ(renamed.error().kind(), ToolsErrorKind::Io);
    EXPECT_TRUE(fs::is_directory(dir_dest));
    auto left = open(dir / "d.zedod.tmp");
    ASSERT_TRUE(left) << left.error().display();
    EXPECT_EQ(read_section(*left, "W")->data, bytes_of("old"));

    // A destination in a missing directory: Io at creation, nothing made.
    auto nodir = save(dir / "missing" / "x.zedod", Json(), 2, first);
    ASSERT_FALSE(nodir);
    // The error names the destination the caller gave, not the temporary file.
    EXPECT_EQ(nodir.error().display(),
              "I/O error: '" + (dir / "missing" / "x.zedod").string() + "': No such file or directory (os error 2)");
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

/// Bytes no compressor can shrink much.
Bytes noise(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

TEST(ContainerFile, FailedWriteKeepsDestination) {
    // The child may write files of at most 1 KiB (and ignores the signal a
    // longer write raises), so the write of the temporary file fails half
    // way with EFBIG.
    TempDir dir;
    const fs::path dest = dir / "f.zedod";
    ASSERT_TRUE(save(dest, Json(), 2, std::vector<Section>{section("well", "W", "old")}));
    const Bytes before = read_file(dest);
    const Bytes big = noise(4096, 1);
    const std::string report = vz::testing::run_in_child(
        []() -> std::string {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{1024, 1024};
            return ::setrlimit(RLIMIT_FSIZE, &rl) == 0 ? "" : "setrlimit failed";
        },
        [&]() -> std::string {
            auto r = save(dest, Json(), 2, std::vector<Section>{Section{"well", "W", {}, big, 2}});
            if (r) return "the save succeeded";
            if (r.error().display() != "I/O error: '" + dest.string() + "': File too large (os error 27)")
                return r.error().display();
            return "";
        });
    EXPECT_EQ(report, "");
    EXPECT_EQ(read_file(dest), before);
}

// The temporary file is written only when it is this save's own regular file:
// a symbolic link planted at its path (which would make the save overwrite
// the link's target), a folder, a pipe or a second hard link to another file
// is refused, and nothing is written anywhere.
TEST(ContainerFile, TemporaryPathThatIsNotItsOwnRegularFileIsRefused) {
    TempDir dir;
    const fs::path dest = dir / "p.zedod";
    const fs::path tmp = dir / "p.zedod.tmp";
    const fs::path victim = dir / "victim";
    ASSERT_TRUE(save(dest, Json(), 2, std::vector<Section>{section("well", "W", "old")}));
    const Bytes before = read_file(dest);
    const struct {
        const char* name;
        void (*plant)(const fs::path& tmp, const fs::path& victim);
        const char* why;
    } cases[] = {
        {"symlink to a file", [](const fs::path& t, const fs::path& v) { fs::create_symlink(v, t); },
         "is a symbolic link"},
        {"dangling symlink", [](const fs::path& t, const fs::path& v) { fs::create_symlink(v.string() + ".none", t); },
         "is a symbolic link"},
        {"folder", [](const fs::path& t, const fs::path&) { fs::create_directory(t); }, "is not a regular file"},
        {"pipe", [](const fs::path& t, const fs::path&) { ASSERT_EQ(::mkfifo(t.c_str(), 0600), 0); },
         "is not a regular file"},
        {"hard link", [](const fs::path& t, const fs::path& v) { fs::create_hard_link(v, t); },
         "has other hard links"},
    };
    for (const auto& c : cases) {
        write_file(victim, bytes_of("precious"));
        c.plant(tmp, victim);
        auto r = save(dest, Json(), 2, std::vector<Section>{section("well", "W", "new")});
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().display(), "I/O error: temporary file '" + tmp.string() + "' " + c.why) << c.name;
        EXPECT_EQ(read_file(victim), bytes_of("precious")) << c.name;
        EXPECT_EQ(read_file(dest), before) << c.name;
        fs::remove(tmp);
        fs::remove(victim);
    }
}

// A save keeps the permission bits of the file it replaces; a new file gets
// the usual bits for the process's mask.
TEST(ContainerFile, SaveKeepsThePermissionBitsOfTheReplacedFile) {
    TempDir dir;
    const fs::path dest = dir / "m.zedod";
    const std::vector<Section> sections = {section("well", "W", "x")};
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(save(dest, Json(), 2, sections));
    auto mode = [&] {
        struct stat st {};
        EXPECT_EQ(::stat(dest.c_str(), &st), 0);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(), 0666 & ~mask);
    for (mode_t m : {0600, 0640, 0444, 0664}) {
        ASSERT_EQ(::chmod(dest.c_str(), m), 0);
        ASSERT_TRUE(save(dest, Json(), 2, sections)) << std::oct << m;
        EXPECT_EQ(mode(), m) << std::oct << m;
    }
}

// A save that finds the temporary file locked by another save fails clearly
// and writes nothing; a lock dies with its process, so a save that was
// killed half way never blocks the next one.
TEST(ContainerFile, SaveRefusesATemporaryFileLockedByAnotherSave) {
    TempDir dir;
    const fs::path dest = dir / "l.zedod";
    const fs::path tmp = dir / "l.zedod.tmp";
    ASSERT_TRUE(save(dest, Json(), 2, std::vector<Section>{section("well", "W", "first")}));
    const Bytes before = read_file(dest);
    write_file(tmp, bytes_of("the other save's bytes"));
    const int held = ::open(tmp.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto r = save(dest, Json(), 2, std::vector<Section>{section("well", "W", "second")});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "I/O error: another save to '" + dest.string() + "' is in progress");
    EXPECT_EQ(read_file(dest), before);
    EXPECT_EQ(read_file(tmp), bytes_of("the other save's bytes"));
    ::close(held);

    const std::string killed = vz::testing::run_in_child([] { return std::string(); },
                                                         [&]() -> std::string {
                                                             const int fd = ::open(tmp.c_str(), O_RDWR);
                                                             if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return "no lock";
                                                             ::_exit(0);  // ends holding the lock
                                                         });
    EXPECT_EQ(killed, "");
    ASSERT_TRUE(save(dest, Json(), 2, std::vector<Section>{section("well", "W", "third")}));
    auto c = open(dest);
    ASSERT_TRUE(c);
    EXPECT_EQ(read_section(*c, "W")->data, bytes_of("third"));
}

// Two saves to one path at once, many times: a save that reports success
// holds what the file holds when the other failed, both may succeed one
// after the other, and a save fails only because the other was in progress.
// Whatever the interleaving, the file is always one complete save.
TEST(ContainerFile, ConcurrentSavesNeverReportAnotherSavesFile) {
    TempDir dir;
    const fs::path dest = dir / "c.zedod";
    const std::string busy = "I/O error: another save to '" + dest.string() + "' is in progress";
    for (int round = 0; round < 100; ++round) {
        const Bytes before = fs::exists(dest) ? read_file(dest) : Bytes{};
        std::array<std::string, 2> content;
        std::array<std::optional<ToolsError>, 2> failure;
        std::latch start(2);
        auto run = [&](int who) {
            content[who] = fmt::format("save {} of round {}", who, round);
            const std::vector<Section> sections = {section("well", "W", content[who] + std::string(2000, 'x'))};
            start.arrive_and_wait();
            auto r = save(dest, Json(), 2, sections);
            if (!r) failure[who] = r.error();
        };
        std::thread a(run, 0), b(run, 1);
        a.join();
        b.join();
        for (const auto& f : failure) {
            if (f) {
                EXPECT_EQ(f->display(), busy);
            }
        }
        auto c = open(dest);
        ASSERT_TRUE(c) << "round " << round << ": " << c.error().display();
        auto w = read_section(*c, "W");
        ASSERT_TRUE(w);
        const std::string held(w->data.begin(), w->data.begin() + static_cast<std::ptrdiff_t>(content[0].size()));
        if (failure[0] && failure[1]) {
            EXPECT_EQ(read_file(dest), before) << "round " << round;
        } else if (failure[0] || failure[1]) {
            EXPECT_EQ(held, content[failure[0] ? 1 : 0]) << "round " << round;
        } else {
            EXPECT_TRUE(held == content[0] || held == content[1]) << "round " << round;
        }
    }
}

// ================================================================= merge and copy

Json app_with(std::string_view owner) {
    Json app = Json::object();
    app.set("owner", Json(owner));
    app.set("a_number", Json(1.0));
    return app;
}

TEST(ContainerMerge, LaterSourceWinsOnKindAndName) {
    TempDir dir;
    ASSERT_TRUE(save(dir / "a.zedod", app_with("alice"), 2,
                     std::vector<Section>{section("well", "W1", "w1 from a", {"t"}), section("surface", "S", "s from a"),
                      section("points", "X", "x from a")}));
    ASSERT_TRUE(save(dir / "b.zedod", app_with("bob"), 1,
                     std::vector<Section>{section("surface", "S", "s from b"), section("points", "P", "p from b"),
                      section("surface", "X", "x of another kind from b")}));
    ASSERT_TRUE(merge(dir / "a.zedod", dir / "b.zedod", dir / "m.zedod"));

    auto a = open(dir / "a.zedod");
    auto b = open(dir / "b.zedod");
    auto m = open(dir / "m.zedod");
    ASSERT_TRUE(a && b && m);
    EXPECT_EQ(m->element_schema_version, 2u);
    EXPECT_EQ(m->header.app, app_with("alice"));
    const struct {
        const char* kind;
        const char* name;
        const Container* from;
        std::size_t index;
    } expected[] = {
        {"well", "W1", &*a, 0}, {"points", "X", &*a, 2}, {"surface", "S", &*b, 0},
        {"points", "P", &*b, 1}, {"surface", "X", &*b, 2},
    };
    ASSERT_EQ(m->header.sections.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Entry& got = m->header.sections[i];
        const Entry& src = expected[i].from->header.sections[expected[i].index];
        EXPECT_EQ(got.kind, expected[i].kind);
        EXPECT_EQ(got.name, expected[i].name);
        EXPECT_EQ(got.tags, src.tags);
        EXPECT_EQ(got.version, src.version);
        // The compressed bytes are copied, not recompressed.
        auto copied = read_entry_payload(*m, got);
        auto source = read_entry_payload(*expected[i].from, src);
        ASSERT_TRUE(copied && source);
        EXPECT_EQ(*copied, *source);
    }
    // The manifest's app is a's, rewritten canonically.
    const Bytes file = read_file(dir / "m.zedod");
    const std::string text(file.begin() + 12, file.begin() + static_cast<std::ptrdiff_t>(m->data_start));
    EXPECT_NE(text.find(R"("app":{"a_number":1.0,"owner":"alice"})"), std::string::npos) << text;
}

TEST(ContainerMerge, DuplicatesWithinOneSourceAndSelfMerge) {
    TempDir dir;
    std::vector<StoredSection> list;
    for (const char* payload : {"first", "second"}) {
        auto s = compress_section(section("well", "W", payload));
        ASSERT_TRUE(s);
        list.push_back(std::move(*s));
    }
    auto other = compress_section(section("surface", "S", "s"));
    ASSERT_TRUE(other);
    list.insert(list.begin() + 1, std::move(*other));
    ASSERT_TRUE(write(dir / "dup.zedod", Json(), 2, list));

    ASSERT_TRUE(merge(dir / "dup.zedod", dir / "dup.zedod", dir / "self.zedod"));
    auto m = open(dir / "self.zedod");
    ASSERT_TRUE(m);
    ASSERT_EQ(m->header.sections.size(), 2u);
    EXPECT_EQ(m->header.sections[0].name, "S");
    EXPECT_EQ(m->header.sections[1].name, "W");
    EXPECT_EQ(read_section(*m, "W")->data, bytes_of("second"));

    auto missing = merge(dir / "dup.zedod", dir / "none.zedod", dir / "out.zedod");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ToolsErrorKind::Io);
    EXPECT_FALSE(fs::exists(dir / "out.zedod"));
    EXPECT_FALSE(fs::exists(dir / "out.zedod.tmp"));
}

TEST(ContainerMerge, CopiedSectionsKeepTheirBytes) {
    TempDir dir;
    ASSERT_TRUE(save(dir / "src.zedod", app_with("x"), 1,
                     std::vector<Section>{section("well", "A", std::string(5000, 'a')), section("model", "M", "model", {"m"}, 9)}));
    auto src = open(dir / "src.zedod");
    ASSERT_TRUE(src);
    std::vector<StoredSection> copied;
    ASSERT_TRUE(copy_sections(copied, *src));
    ASSERT_TRUE(write_copied(dir / "copy.zedod", src->header.app, src->element_schema_version, copied));
    EXPECT_EQ(read_file(dir / "copy.zedod"), read_file(dir / "src.zedod"));

    // A section whose payload lies past the end stops the copy.
    write_file(dir / "bad.zedod", raw_container(manifest_with(entry_json("well", "A", 0, 50)), bytes_of("short")));
    auto bad = open(dir / "bad.zedod");
    ASSERT_TRUE(bad);
    auto r = copy_sections(copied, *bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "parse error: section 'A' truncated");
    auto m = merge(dir / "src.zedod", dir / "bad.zedod", dir / "never.zedod");
    ASSERT_FALSE(m);
    EXPECT_FALSE(fs::exists(dir / "never.zedod"));
}

// ================================================================= damaged files

TEST(ContainerFuzz, TruncationsAndByteFlipsNeverCrash) {
    TempDir dir;
    const fs::path good = dir / "good.zedod";
    Json app = Json::object();
    app.set("unit", Json("Metres"));
    app.set("tags", Json(Json::Array{Json("a"), Json(2.5)}));
    std::string surface(3000, '\0');
    for (std::size_t i = 0; i < surface.size(); ++i) surface[i] = static_cast<char>(i % 251);
    ASSERT_TRUE(save(good, app, 2,
                     std::vector<Section>{section("well", "W", "well payload", {"x"}), section("surface", "S", surface),
                      section("asset", "@asset/c/n", "")}));
    const Bytes original = read_file(good);
    std::mt19937_64 rng(20261210);
    const fs::path p = dir / "case.zedod";
    int opened = 0;
    for (int k = 0; k < 1500; ++k) {
        Bytes b = original;
        if (k % 3 == 0) {
            b.resize(rng() % b.size());
        } else {
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                // Bias toward the prefix and manifest, where lengths live.
                const std::size_t at = (rng() % 2 == 0) ? rng() % std::min<std::size_t>(b.size(), 400) : rng() % b.size();
                b[at] = static_cast<std::uint8_t>(rng());
            }
        }
        write_file(p, b);
        auto c = open(p);
        if (!c) continue;
        ++opened;
        for (const Entry& e : c->header.sections) {
            auto s = read_section(*c, e.name);
            if (s) {
                EXPECT_EQ(s->name, e.name);
            }
            (void)read_section_raw(*c, e.name);
        }
    }
    EXPECT_GT(opened, 0);
}

TEST(ContainerFuzz, ManifestMutationsNeverCrash) {
    const std::string base = write_manifest(sample_header());
    std::mt19937_64 rng(42);
    const std::string alphabet = "{}[]\",:\\u0123456789.eE-+ tfnrl\n";
    for (int k = 0; k < 20000; ++k) {
        std::string t = base;
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % t.size();
            switch (rng() % 3) {
                case 0: t[at] = alphabet[rng() % alphabet.size()]; break;
                case 1: t.erase(at, 1 + rng() % 4); break;
                default: t.insert(at, 1, static_cast<char>(rng())); break;
            }
            if (t.empty()) t = "{";
        }
        auto h = parse_manifest(t);
        if (h) {
            // Whatever was accepted writes back to a manifest that reads the
            // same.
            auto again = parse_manifest(write_manifest(*h));
            ASSERT_TRUE(again) << t;
            EXPECT_EQ(write_manifest(*again), write_manifest(*h));
        }
    }
}

}  // namespace
}  // namespace vz::container
