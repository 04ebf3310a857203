// Repr escaping of texts: the literal form, UTF-8 decoding (ill-formed bytes
// included, which Python strings can never carry) and which code points the
// character predicate is asked about.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../py/src/frame/escape_text.hpp"

namespace vz::py {
namespace {

// Escapes the code points listed in `escaped` and records every question.
struct Recorder {
    std::vector<char32_t> escaped;
    std::vector<char32_t> asked;
    std::string run(std::string_view text) {
        return escape_literal_with(text, [&](char32_t cp) {
            asked.push_back(cp);
            for (char32_t e : escaped)
                if (e == cp) return true;
            return false;
        });
    }
};

struct Case {
    const char* name;
    std::string text;
    std::string expected;
};

class EscapeLiteral : public ::testing::TestWithParam<Case> {};

TEST_P(EscapeLiteral, WritesTheLiteral) {
    Recorder r{{0x301, 0xa0}, {}};
    EXPECT_EQ(r.run(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeLiteral,
    ::testing::Values(
        Case{"empty", "", "\"\""},
        Case{"plain", "W-1 A/b", "\"W-1 A/b\""},
        Case{"quote_and_backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
        Case{"named_controls", std::string("\t\r\n\0|", 5), "\"\\t\\r\\n\\0|\""},
        Case{"other_controls", "\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
        Case{"letters_kept", "\xc3\xa9\xe4\xba\x95\xf0\x9f\x98\x80", "\"\xc3\xa9\xe4\xba\x95\xf0\x9f\x98\x80\""},
        Case{"predicate_marks", "e\xcc\x81\xc2\xa0", "\"e\\u{301}\\u{a0}\""},
        // Ill-formed UTF-8: each offending byte reads as U+FFFD.
        Case{"stray_continuation", "a\x80z", "\"a\xef\xbf\xbdz\""},
        Case{"truncated_sequence", "a\xe4\xba", "\"a\xef\xbf\xbd\xef\xbf\xbd\""},
        Case{"overlong_slash", "\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
        Case{"encoded_surrogate", "\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        Case{"beyond_unicode", "\xf4\x90\x80\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EscapeLiteral, AsksOnlyAboutCodePointsBeyondAscii) {
    Recorder r;
    r.run("A\x01 \x7f\xc3\xa9\xe2\x80\x8b");
    EXPECT_EQ(r.asked, (std::vector<char32_t>{0xe9, 0x200b}));
}

TEST(EscapeLiteral, ReplacementCharacterCanBeEscapedLikeAnyOther) {
    Recorder r{{0xfffd}, {}};
    EXPECT_EQ(r.run("\xff"), "\"\\u{fffd}\"");
}

TEST(DecodeUtf8, LengthsAndCodePoints) {
    struct D {
        std::string bytes;
        std::size_t len;
        char32_t cp;
    };
    const D cases[] = {
        {"A", 1, 0x41},
        {"\xc2\x80", 2, 0x80},
        {"\xdf\xbf", 2, 0x7ff},
        {"\xe0\xa0\x80", 3, 0x800},
        {"\xef\xbf\xbf", 3, 0xffff},
        {"\xf0\x90\x80\x80", 4, 0x10000},
        {"\xf4\x8f\xbf\xbf", 4, 0x10ffff},
        {"\xc1\xbf", 0, 0},          // overlong two-byte form
        {"\xe0\x9f\xbf", 0, 0},      // overlong three-byte form
        {"\xf0\x8f\xbf\xbf", 0, 0},  // overlong four-byte form
        {"\xf8\x88\x80\x80", 0, 0},  // five-byte lead
    };
    for (const D& d : cases) {
        char32_t cp = 0;
        EXPECT_EQ(decode_utf8_at(d.bytes, 0, cp), d.len) << d.bytes;
        if (d.len) {
            EXPECT_EQ(cp, d.cp) << d.bytes;
        }
    }
}

}  // namespace
}  // namespace vz::py
