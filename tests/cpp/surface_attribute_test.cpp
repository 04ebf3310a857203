// Attribute metadata: default lane metadata, validation order and messages,
// canonical form, code records.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/attribute.hpp"
#include "surface_test_util.hpp"

namespace vz {
namespace {

using testutil::error_text;

const std::string kIdLabel = "parse error: attribute metadata id and label must be non-empty, trimmed strings";
const std::string kUnits = "parse error: attribute metadata units must be null or a non-empty, trimmed string";
const std::string kContinuousCodes = "parse error: continuous attribute metadata must use codes=null";
const std::string kCodeLabel = "parse error: attribute code label must be null or a non-empty, trimmed string";

std::string key_not_int(const std::string& k) {
    return "parse error: attribute code key '" + k + "' must be a canonical integer string";
}
std::string key_not_canonical(const std::string& k, const std::string& c) {
    return "parse error: attribute code key '" + k + "' must be canonical integer string '" + c + "'";
}
std::string bad_color(const std::string& c) {
    return "parse error: attribute code color '" + c + "' must be #RRGGBB or null";
}

AttributeMetadata categorical(std::vector<std::pair<std::string, CodeRecord>> codes) {
    AttributeMetadata m{"facies", "facies", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    for (auto& [k, r] : codes) m.codes->insert({k, r});
    return m;
}

TEST(AttributeMetadata, ForLaneDefaultsAndRefusals) {
    auto ok = AttributeMetadata::for_lane("depth");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->id, "depth");
    EXPECT_EQ(ok->label, "depth");
    EXPECT_EQ(ok->kind, AttributeKind::Continuous);
    EXPECT_FALSE(ok->units);
    EXPECT_FALSE(ok->codes);
    for (const char* bad : {"", " depth", "depth ", "\tdepth", "depth\n", "depth\u00a0", "\u3000depth", "\u2028"}) {
        EXPECT_EQ(error_text(AttributeMetadata::for_lane(bad)), kIdLabel) << "name '" << bad << "'";
    }
    // Interior white space is not trimming.
    EXPECT_TRUE(AttributeMetadata::for_lane("net to gross"));
}

TEST(AttributeMetadata, KindNamesAndOrdinals) {
    EXPECT_STREQ(attribute_kind_name(AttributeKind::Continuous), "continuous");
    EXPECT_STREQ(attribute_kind_name(AttributeKind::Categorical), "categorical");
    EXPECT_EQ(static_cast<int>(AttributeKind::Continuous), 0);
    EXPECT_EQ(static_cast<int>(AttributeKind::Categorical), 1);
}

TEST(AttributeMetadata, ValidationRulesInOrder) {
    auto base = [] { return AttributeMetadata{"a", "a", AttributeKind::Continuous, std::nullopt, std::nullopt}; };
    struct Case {
        const char* what;
        AttributeMetadata m;
        std::string expected;  // "" = valid
    };
    std::vector<Case> cases;
    cases.push_back({"plain continuous", base(), ""});
    {
        auto m = base();
        m.id = "";
        cases.push_back({"empty id", m, kIdLabel});
    }
    {
        auto m = base();
        m.label = "a ";
        m.units = " ";  // later rule; the id/label rule wins
        cases.push_back({"untrimmed label before units", m, kIdLabel});
    }
    {
        auto m = base();
        m.units = "m";
        cases.push_back({"units", m, ""});
    }
    for (const char* u : {"", " ", "m ", " m", "m\u00a0"}) {
        auto m = base();
        m.units = u;
        cases.push_back({"bad units", m, kUnits});
    }
    {
        auto m = base();
        m.codes = CodeTable{};
        cases.push_back({"continuous with empty code table", m, kContinuousCodes});
    }
    {
        auto m = base();
        m.units = " m";
        m.codes = CodeTable{};
        cases.push_back({"units checked before the code table", m, kUnits});
    }
    {
        auto m = base();
        m.kind = AttributeKind::Categorical;
        cases.push_back({"categorical without codes", m, ""});
        m.codes = CodeTable{};
        cases.push_back({"categorical with empty table", m, ""});
    }
    for (const Case& c : cases) {
        auto r = c.m.validate();
        EXPECT_EQ(r ? std::string() : r.error().display(), c.expected) << c.what;
    }
}

TEST(AttributeMetadata, CodeKeys) {
    struct Case {
        std::string key;
        std::string expected;
    };
    const Case cases[] = {
        {"7", ""},
        {"-3", ""},
        {"0", ""},
        {"9223372036854775807", ""},
        {"-9223372036854775808", ""},
        {"07", key_not_canonical("07", "7")},
        {"+7", key_not_canonical("+7", "7")},
        {"-0", key_not_canonical("-0", "0")},
        {"+0", key_not_canonical("+0", "0")},
        {"-007", key_not_canonical("-007", "-7")},
        {"x", key_not_int("x")},
        {"7.0", key_not_int("7.0")},
        {"", key_not_int("")},
        {"7 ", key_not_int("7 ")},
        {" 7", key_not_int(" 7")},
        {"1 2", key_not_int("1 2")},
        {"+", key_not_int("+")},
        {"-", key_not_int("-")},
        {"+-7", key_not_int("+-7")},
        {"-+7", key_not_int("-+7")},
        {"9223372036854775808", key_not_int("9223372036854775808")},
        {"-9223372036854775809", key_not_int("-9223372036854775809")},
        {"0x10", key_not_int("0x10")},
    };
    for (const Case& c : cases) {
        auto m = categorical({{c.key, CodeRecord{}}});
        auto r = m.validate();
        EXPECT_EQ(r ? std::string() : r.error().display(), c.expected) << "key '" << c.key << "'";
    }
}

TEST(AttributeMetadata, CodeRecordColoursAndLabels) {
    struct Case {
        std::optional<std::string> label;
        std::optional<std::string> color;
        std::string validate_expected;     // validation of the record as stored
        std::string from_parts_expected;   // "" = accepted
        std::optional<std::string> stored_color;  // colour kept by from_parts
    };
    const Case cases[] = {
        {"Sand", std::nullopt, "", "", std::nullopt},
        {std::nullopt, "#00ff7F", "", "", "#00FF7F"},
        {"Shale", "#abcdef", "", "", "#ABCDEF"},
        {std::nullopt, "#00FF7", bad_color("#00FF7"), bad_color("#00FF7"), std::nullopt},
        {std::nullopt, "00FF7F0", bad_color("00FF7F0"), bad_color("00FF7F0"), std::nullopt},
        {std::nullopt, "#GG0000", bad_color("#GG0000"), bad_color("#GG0000"), std::nullopt},
        {std::nullopt, "#gg0000", bad_color("#gg0000"), bad_color("#GG0000"), std::nullopt},
        {std::nullopt, "#00FF7F ", bad_color("#00FF7F "), bad_color("#00FF7F "), std::nullopt},
        {std::nullopt, "", bad_color(""), bad_color(""), std::nullopt},
        {" Sand", std::nullopt, kCodeLabel, kCodeLabel, std::nullopt},
        {"", std::nullopt, kCodeLabel, kCodeLabel, std::nullopt},
        // The label is checked before the colour.
        {"Sand ", "#xyz", kCodeLabel, kCodeLabel, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string what = c.label.value_or("<none>") + " / " + c.color.value_or("<none>");
        auto v = CodeRecord{c.label, c.color}.validate();
        EXPECT_EQ(v ? std::string() : v.error().display(), c.validate_expected) << what;
        auto r = CodeRecord::from_parts(c.label, c.color);
        EXPECT_EQ(error_text(r), c.from_parts_expected) << what;
        if (r) {
            EXPECT_EQ(r->label, c.label) << what;
            EXPECT_EQ(r->color, c.stored_color) << what;
        }
    }
}

TEST(AttributeMetadata, FirstBadCodeInMapOrderIsReported) {
    // Second code has a bad key, third a bad colour: the key is reported.
    auto m = categorical({{"1", CodeRecord{"Sand", "#FFFFFF"}},
                          {"02", CodeRecord{"Shale", "#zzzzzz"}},
                          {"3", CodeRecord{std::nullopt, "#12"}}});
    auto first = m.validate();
    ASSERT_FALSE(first);
    EXPECT_EQ(first.error().display(), key_not_canonical("02", "2"));
    // For one code, the key tests run before its record test.
    auto k = categorical({{"1", CodeRecord{"Sand", std::nullopt}}, {"x", CodeRecord{" bad", "bad"}}});
    auto r = k.validate();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), key_not_int("x"));
    // A good key with a bad record reports the record.
    auto rec = categorical({{"5", CodeRecord{std::nullopt, "#12345"}}, {"y", CodeRecord{}}});
    auto rr = rec.validate();
    ASSERT_FALSE(rr);
    EXPECT_EQ(rr.error().display(), bad_color("#12345"));
}

TEST(AttributeMetadata, CanonicalizeTrimsAndUppercasesButKeepsId) {
    AttributeMetadata m = categorical({{"1", CodeRecord{" Sand ", "#a0b1c2"}}, {"2", CodeRecord{std::nullopt, "#ffffff"}}});
    m.label = "\u00a0Facies\t";
    m.units = " code ";
    ASSERT_FALSE(m.validate());
    m.canonicalize();
    EXPECT_EQ(m.label, "Facies");
    EXPECT_EQ(m.units, "code");
    EXPECT_EQ(m.codes->at("1").label, "Sand");
    EXPECT_EQ(m.codes->at("1").color, "#A0B1C2");
    EXPECT_EQ(m.codes->at("2").label, std::nullopt);
    EXPECT_EQ(m.codes->at("2").color, "#FFFFFF");
    EXPECT_TRUE(m.validate());
    // Map order survives canonicalisation.
    std::vector<std::string> keys;
    for (const auto& [k, v] : *m.codes) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"1", "2"}));

    AttributeMetadata bad_id{" x", "x", AttributeKind::Continuous, std::nullopt, std::nullopt};
    bad_id.canonicalize();
    EXPECT_EQ(bad_id.id, " x");
    EXPECT_EQ(error_text(bad_id.validate()), kIdLabel);

    // Canonicalising an empty label leaves it empty (and invalid).
    AttributeMetadata blank{"x", "  ", AttributeKind::Continuous, std::nullopt, std::nullopt};
    blank.canonicalize();
    EXPECT_EQ(blank.label, "");
    EXPECT_EQ(error_text(blank.validate()), kIdLabel);
}

}  // namespace
}  // namespace vz
