#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "io/text.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

TEST(Text, DecodeLatin1KeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::string u = text::decode_latin1(all);
    EXPECT_EQ(u.size(), 128u + 2 * 128u);
    EXPECT_EQ(u.substr(0, 128), all.substr(0, 128));
    EXPECT_EQ(u.substr(128, 2), "\xC2\x80");
    EXPECT_EQ(u.substr(u.size() - 2), "\xC3\xBF");
    EXPECT_EQ(text::decode_latin1("caf\xE9"), "caf\xC3\xA9");
}

TEST(Text, ParseNumber) {
    struct Case {
        std::string token;
        std::optional<double> value;  // none: the error below
        text::NumberError error = text::NumberError::Invalid;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"1e5", 1e5},   {"+.5", 0.5},    {"5.", 5.0},     {"-2.5E-3", -2.5e-3}, {"INF", inf},
        {"-Infinity", -inf}, {"+inf", inf}, {"0.1", 0.1}, {"1e400", inf},
        {"", std::nullopt, text::NumberError::Empty},
        {"1,5", std::nullopt}, {" 1", std::nullopt}, {"1 ", std::nullopt}, {"0x10", std::nullopt},
        {".", std::nullopt},   {"+", std::nullopt},  {"e5", std::nullopt}, {"1e", std::nullopt},
        {"nan(ind)", std::nullopt}, {"+-1", std::nullopt}, {"++1", std::nullopt}, {"infin", std::nullopt},
        {"1.2.3", std::nullopt}, {"-", std::nullopt},
    };
    for (const auto& c : cases) {
        auto r = text::parse_number(c.token);
        if (c.value) {
            ASSERT_TRUE(r) << c.token;
            EXPECT_EQ(*r, *c.value) << c.token;
        } else {
            ASSERT_FALSE(r) << c.token;
            EXPECT_EQ(r.error(), c.error) << c.token;
        }
    }
    for (const char* t : {"nan", "-NaN", "NAN", "+nan"}) {
        auto r = text::parse_number(t);
        ASSERT_TRUE(r) << t;
        EXPECT_TRUE(std::isnan(*r)) << t;
    }
    EXPECT_STREQ(text::number_error_text(text::NumberError::Empty), "cannot parse float from empty string");
    EXPECT_STREQ(text::number_error_text(text::NumberError::Invalid), "invalid float literal");
}

TEST(Text, LinesAndTrim) {
    struct Case {
        std::string text;
        std::vector<std::string_view> lines;
    };
    const Case cases[] = {
        {"a\nb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb", {"a\rb"}},
        {"", {}},
        {"\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
    };
    for (const auto& c : cases) EXPECT_EQ(text::split_lines(c.text), c.lines) << c.text;

    EXPECT_EQ(text::trim("\xA0 x y\t\x85"), "x y");
    EXPECT_EQ(text::trim("\x0B\x0C"), "");
    EXPECT_EQ(text::lenient_numbers("1, 2,,x 3e1\t-"), (std::vector<double>{1, 2, 30}));
}

TEST(Text, ValidUtf8) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"plain ascii text, longer than one word", true},
        {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80", true},
        {"caf\xE9", false},              // Latin-1 byte
        {"\xC3", false},                 // cut sequence
        {"\xC0\xAF", false},             // overlong
        {"\xED\xA0\x80", false},         // surrogate
        {"\xF4\x90\x80\x80", false},     // beyond U+10FFFF
        {"abcdefgh\x80" "abcdefgh", false}, // stray continuation after a word
    };
    for (const auto& c : cases) EXPECT_EQ(text::valid_utf8(c.bytes), c.valid) << c.bytes;
}

TEST(Text, ReadFile) {
    testing::ScratchDir dir;
    std::string big(200000, 'x');
    big[12345] = '\0';
    auto r = text::read_file(dir.write("a.bin", big));
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, big);
    auto head = text::read_head(dir.path("a.bin"), 100);
    ASSERT_TRUE(head);
    EXPECT_EQ(*head, big.substr(0, 100));
    auto missing = text::read_file(dir.path("nope"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
    // A failure names the file, so that a user can tell which one it was.
    EXPECT_EQ(missing.error().display(), "I/O error: '" + dir.path("nope").string() +
                                             "': No such file or directory (os error 2)");
    EXPECT_EQ(text::read_head(dir.path("nope"), 8).error(), missing.error());
    auto folder = text::read_file(dir.path(""));
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().kind(), ErrorKind::Io);
    EXPECT_EQ(folder.error().message(), "'" + dir.path("").string() + "': Is a directory (os error 21)");
}

// Named pipes and devices are refused at once instead of blocking on a pipe
// without a writer or reading a device that never ends.
TEST(Text, SpecialFilesAreRefusedWithoutBlocking) {
    testing::ScratchDir dir;
    const auto fifo = dir.path("pipe.las");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::filesystem::path& p : {fifo, std::filesystem::path("/dev/zero")}) {
        for (auto r : {text::read_file(p), text::read_head(p, 64)}) {
            ASSERT_FALSE(r) << p;
            EXPECT_EQ(r.error().display(), fmt::format("I/O error: '{}' is not a regular file", p.string()));
        }
    }
}

// A NUL cuts the path short at the operating system, so a path whose prefix
// names an existing file must still be refused, never read as that file.
TEST(Text, PathWithNulIsRefused) {
    testing::ScratchDir dir;
    const auto real = dir.write("a.txt", "content");
    const std::string base = real.string();
    using namespace std::string_literals;
    struct Case {
        std::string suffix;  // appended to the existing file's path
        std::string shown;   // how the message writes it
    };
    const Case cases[] = {{"\0"s, "\\0"}, {"\0.las"s, "\\0.las"}, {"\0/../a.txt"s, "\\0/../a.txt"}};
    for (const auto& c : cases) {
        const std::filesystem::path p(base + c.suffix);
        const std::string message = "path contains a NUL character: '" + base + c.shown + "'";
        auto whole = text::read_file(p);
        ASSERT_FALSE(whole) << c.shown;
        EXPECT_EQ(whole.error().kind(), ErrorKind::Io);
        EXPECT_EQ(whole.error().message(), message);
        EXPECT_EQ(whole.error().display(), "I/O error: " + message);
        auto head = text::read_head(p, 4);
        ASSERT_FALSE(head) << c.shown;
        EXPECT_EQ(head.error().message(), message);
    }
    EXPECT_TRUE(text::check_path(real));
}

}  // namespace
}  // namespace vz
