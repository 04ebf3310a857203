#include <gtest/gtest.h>

#include <chrono>

#include <fmt/format.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "container/json.hpp"
#include "manager/asset.hpp"
#include "manager/project_rules.hpp"

namespace vz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using container::Json;

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

template <class T>
std::string error_of(const Result<T>& r) {
    return r ? std::string() : r.error().display();
}

// ================================================================= asset names

TEST(AssetName, Rules) {
    auto form = [](std::string_view name) {
        return fmt::format("parse error: invalid asset name '{}': expected '@asset/<collection>/<name>'", name);
    };
    auto segments = [](std::string_view name) {
        return fmt::format("parse error: invalid asset name '{}': empty and traversal path segments are forbidden",
                           name);
    };
    const std::string long_ok = "@asset/c/" + std::string(1024 - 9, 'n');
    const std::string too_long = long_ok + "n";
    const std::string with_nul = std::string("@asset/c/a\0b", 12);
    const struct {
        std::string name;
        std::string error;  // "" when valid
    } cases[] = {
        {"@asset/c/n", ""},
        {"@asset/c/n/more", ""},
        {"@asset/c/ spaced name", ""},
        {long_ok, ""},
        {"@asset/", segments("@asset/")},
        {"@asset/c", segments("@asset/c")},
        {"@asset/c/", segments("@asset/c/")},
        {"@asset//n", segments("@asset//n")},
        {"@asset/c/./n", segments("@asset/c/./n")},
        {"@asset/c/..", segments("@asset/c/..")},
        {"@Asset/c/n", form("@Asset/c/n")},
        {"@asset/c\\n/x", form("@asset/c\\n/x")},
        // Messages show a NUL as \0, never the raw byte.
        {with_nul, form("@asset/c/a\\0b")},
        {too_long, form(too_long)},
        {"@asse", form("@asse")},
        {"", form("")},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(asset::validate_name(c.name)), c.error) << c.name;
}

// ================================================================= envelopes

constexpr const char* kCanonical = R"({"asset_type":"seismic","codec":"raw","provider":"acme","schema_version":1})";

TEST(AssetEnvelope, ParseRules) {
    const struct {
        std::string envelope;
        std::string result;  // asset_type, or the error display
    } cases[] = {
        {kCanonical, "seismic"},
        {R"( {"schema_version":4294967295,"provider":" ","codec":"c","asset_type":"t","extra":[1]} )", "t"},
        {"", "parse error: invalid asset envelope JSON: EOF while parsing a value at line 1 column 0"},
        {"{} x", "parse error: invalid asset envelope JSON: trailing characters at line 1 column 4"},
        {"[1]", "parse error: asset envelope must be a JSON object"},
        {R"({"provider":"p","codec":"c","schema_version":1})",
         "parse error: asset envelope missing non-empty 'asset_type'"},
        {R"({"asset_type":"","provider":"p","codec":"c","schema_version":1})",
         "parse error: asset envelope missing non-empty 'asset_type'"},
        {R"({"asset_type":"t","provider":1,"codec":"c","schema_version":1})",
         "parse error: asset envelope missing non-empty 'provider'"},
        {R"({"asset_type":"t","provider":"p","schema_version":1})",
         "parse error: asset envelope missing non-empty 'codec'"},
        {R"({"asset_type":"t","provider":"p","codec":"c"})",
         "parse error: asset envelope missing positive integer 'schema_version'"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":-1})",
         "parse error: asset envelope missing positive integer 'schema_version'"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":1.0})",
         "parse error: asset envelope missing positive integer 'schema_version'"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":"1"})",
         "parse error: asset envelope missing positive integer 'schema_version'"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":18446744073709551616})",
         "parse error: asset envelope missing positive integer 'schema_version'"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":0})",
         "parse error: asset envelope schema_version is out of range"},
        {R"({"asset_type":"t","provider":"p","codec":"c","schema_version":4294967296})",
         "parse error: asset envelope schema_version is out of range"},
    };
    for (const auto& c : cases) {
        auto r = asset::parse_envelope(bytes_of(c.envelope));
        EXPECT_EQ(r ? *r : r.error().display(), c.result) << c.envelope;
    }
}

TEST(AssetEnvelope, FrameValidationOrder) {
    const struct {
        std::string kind;
        std::string envelope;
        std::uint32_t version;
        std::string error;
    } cases[] = {
        {"seismic", kCanonical, 1, ""},
        {"seismic", R"({"asset_type":"seismic","codec":"raw","extra":{"a":[1.5,null]},"provider":"acme","schema_version":1})",
         1, ""},
        // The version is looked at before the envelope.
        {"seismic", "not json", 2, "parse error: cannot create asset frame v2; supported version is 1"},
        {"seismic", "not json", 1,
         "parse error: invalid asset envelope JSON: expected ident at line 1 column 2"},
        {"well", kCanonical, 1, "parse error: asset kind 'well' disagrees with envelope asset_type 'seismic'"},
        {"seismic", R"({"asset_type": "seismic","codec":"raw","provider":"acme","schema_version":1})", 1,
         "parse error: asset envelope must be canonical compact UTF-8 JSON"},
        {"seismic", R"({"asset_type":"seismic","provider":"acme","codec":"raw","schema_version":1})", 1,
         "parse error: asset envelope must be canonical compact UTF-8 JSON"},
        {"seismic", std::string(kCanonical) + "\n", 1,
         "parse error: asset envelope must be canonical compact UTF-8 JSON"},
        {"seismic", R"({"asset_type":"seismic","codec":"raw","provider":"acme","provider":"acme","schema_version":1})",
         1, "parse error: asset envelope must be canonical compact UTF-8 JSON"},
        {"seismic", R"({"asset_type":"seismic","codec":"r\u0061w","provider":"acme","schema_version":1})", 1,
         "parse error: asset envelope must be canonical compact UTF-8 JSON"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of(asset::validate_frame(c.kind, bytes_of(c.envelope), c.version)), c.error) << c.envelope;
    }
}

// ================================================================= frames

TEST(AssetFrame, EncodeAndDecode) {
    const Bytes envelope = bytes_of(kCanonical);
    const Bytes data = {0, 1, 2, 0xFF};
    auto frame = asset::encode_frame(envelope, data);
    ASSERT_TRUE(frame);
    Bytes want = bytes_of("KIOASSET");
    want.insert(want.end(), {static_cast<std::uint8_t>(envelope.size()), 0, 0, 0});
    want.insert(want.end(), envelope.begin(), envelope.end());
    want.insert(want.end(), data.begin(), data.end());
    EXPECT_EQ(*frame, want);
    auto parts = asset::decode_frame(*frame);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->first, envelope);
    EXPECT_EQ(parts->second, data);

    auto empty = asset::decode_frame(bytes_of(std::string("KIOASSET\0\0\0\0", 12)));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->first.empty());
    EXPECT_TRUE(empty->second.empty());

    const struct {
        Bytes frame;
        const char* error;
    } bad[] = {
        {bytes_of(std::string("KIOASSET\0\0\0", 11)), "parse error: invalid asset frame magic/length"},
        {bytes_of(std::string("KIOASSEX\0\0\0\0", 12)), "parse error: invalid asset frame magic/length"},
        {bytes_of(std::string("KIOASSET\x03\0\0\0ab", 14)), "parse error: invalid asset envelope length"},
        {bytes_of(std::string("KIOASSET\xFF\xFF\xFF\xFF", 12)), "parse error: invalid asset envelope length"},
    };
    for (const auto& c : bad) EXPECT_EQ(error_of(asset::decode_frame(c.frame)), c.error);
}

// ================================================================= project rules

TEST(ProjectRules, ElementSchemaGate) {
    const struct {
        std::uint32_t version;
        const char* error;
    } cases[] = {
        {0, "parse error: .zedod element schema v0 is unsupported (reads v1 and v2)"},
        {1, ""},
        {2, ""},
        {3, "parse error: .zedod element schema v3 is newer than this voridEZ (reads ≤ v2) — upgrade voridEZ"},
        {4294967295u,
         "parse error: .zedod element schema v4294967295 is newer than this voridEZ (reads ≤ v2) — upgrade voridEZ"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(project::check_element_schema(c.version)), c.error) << c.version;
}

TEST(ProjectRules, OptionalNames) {
    const std::string rule = "parse error: project display name must be null or a non-empty, trimmed string";
    const struct {
        std::optional<std::string> value;
        std::string error;
    } cases[] = {
        {std::nullopt, ""},
        {"North Field", ""},
        {"a b", ""},
        {"", rule},
        {" lead", rule},
        {"trail ", rule},
        {"nbsp\xC2\xA0", rule},  // U+00A0 is Unicode white space
        {"\xE2\x80\x83", rule},  // U+2003 EM SPACE
    };
    for (const auto& c : cases) {
        auto r = project::check_optional_name(c.value, "display name");
        EXPECT_EQ(error_of(r), c.error) << c.value.value_or("<none>");
        if (r) {
            EXPECT_EQ(*r, c.value);
        }
    }
    EXPECT_EQ(error_of(project::check_optional_name(" x", "CRS")),
              "parse error: project CRS must be null or a non-empty, trimmed string");
}

Json meta(std::string_view text) {
    auto v = container::parse_json(text);
    EXPECT_TRUE(v) << text;
    return v ? *v : Json();
}

TEST(ProjectRules, MetadataStrings) {
    const struct {
        const char* app;
        std::optional<std::string> value;
        std::string error;
    } cases[] = {
        {R"({"display_name":"  North  "})", "North", ""},
        {R"({"display_name":null})", std::nullopt, ""},
        {R"({})", std::nullopt, ""},
        {"null", std::nullopt, ""},
        {"[1,2]", std::nullopt, ""},
        {R"({"display_name":""})", std::nullopt,
         "parse error: project display name must be null or a non-empty, trimmed string"},
        {R"({"display_name":"   "})", std::nullopt,
         "parse error: project display name must be null or a non-empty, trimmed string"},
        {R"({"display_name":5})", std::nullopt, "parse error: .zedod manifest display name must be a string or null"},
        {R"({"display_name":["x"]})", std::nullopt,
         "parse error: .zedod manifest display name must be a string or null"},
    };
    for (const auto& c : cases) {
        auto r = project::meta_optional_string(meta(c.app), "display_name", "display name");
        EXPECT_EQ(error_of(r), c.error) << c.app;
        if (r) {
            EXPECT_EQ(*r, c.value) << c.app;
        }
    }
    EXPECT_EQ(error_of(project::meta_optional_string(meta(R"({"crs":1.5})"), "crs", "CRS")),
              "parse error: .zedod manifest CRS must be a string or null");
}

TEST(ProjectRules, MetadataUnit) {
    const std::string invalid = "parse error: .zedod manifest missing/invalid unit";
    const struct {
        const char* app;
        std::optional<std::string> unit_string;  // meta_unit_string's value
        std::string unit_string_error;
        std::optional<LengthUnit> unit;
        std::string unit_error;
    } cases[] = {
        {R"({"unit":"Metres"})", "Metres", "", LengthUnit::Metres, ""},
        {R"({"unit":" Feet\t"})", "Feet", "", LengthUnit::Feet, ""},
        {R"({"unit":"metres"})", "metres", "", std::nullopt, invalid},
        {R"({"unit":"m"})", "m", "", std::nullopt, invalid},
        {R"({})", std::nullopt, "", std::nullopt, invalid},
        {R"({"unit":null})", std::nullopt, "", std::nullopt, invalid},
        {"null", std::nullopt, "", std::nullopt, invalid},
        {"[]", std::nullopt, "", std::nullopt, invalid},
        {R"({"unit":"  "})", std::nullopt, "parse error: .zedod manifest unit must be a non-empty, trimmed string",
         std::nullopt, "parse error: .zedod manifest unit must be a non-empty, trimmed string"},
        {R"({"unit":true})", std::nullopt, "parse error: .zedod manifest unit must be a string", std::nullopt,
         "parse error: .zedod manifest unit must be a string"},
    };
    for (const auto& c : cases) {
        const Json app = meta(c.app);
        auto s = project::meta_unit_string(app);
        EXPECT_EQ(error_of(s), c.unit_string_error) << c.app;
        if (s) {
            EXPECT_EQ(*s, c.unit_string) << c.app;
        }
        auto u = project::meta_unit(app);
        EXPECT_EQ(error_of(u), c.unit_error) << c.app;
        if (u) {
            EXPECT_EQ(std::optional<LengthUnit>(*u), c.unit) << c.app;
        }
    }
}

TEST(ProjectRules, ClockIsWholeSecondsSinceTheEpoch) {
    // Bracket with the same clock: time() reads a coarser clock that may lag
    // the precise one by a tick, so it cannot bound it.
    const auto unix_now = [] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    };
    const std::uint64_t before = unix_now();
    const std::uint64_t now = project::now_unix_seconds();
    const std::uint64_t after = unix_now();
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

}  // namespace
}  // namespace vz
