// The interpreter-free pieces of the Python binding frame: signature reading
// and argument matching, the access flag, and the unit / gridding-method
// parsers.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../../py/src/frame/borrow_flag.hpp"
#include "../../py/src/frame/signature.hpp"
#include "../../py/src/frame/unit_method_parse.hpp"

namespace vz::py {
namespace {

constexpr const char* kFullDoc = "f(a, b=1, /, c=2, *, d, e=None)\n--\n\nA function.";

Signature parse_ok(const char* doc, CallableKind kind = CallableKind::ModuleFunction, const char* cls = "") {
    auto s = Signature::parse(doc, kind, cls);
    EXPECT_TRUE(s.has_value()) << (s ? "" : s.error());
    return s ? *s : Signature{};
}

TEST(Signature, ReadsKindsDefaultsAndNames) {
    Signature s = parse_ok(kFullDoc);
    ASSERT_EQ(s.params().size(), 5u);
    EXPECT_EQ(s.name(), "f");
    EXPECT_EQ(s.display_name(), "f()");
    EXPECT_EQ(s.positional_count(), 3u);
    const ParamKind kinds[] = {ParamKind::PositionalOnly, ParamKind::PositionalOnly, ParamKind::PositionalOrKeyword,
                               ParamKind::KeywordOnly, ParamKind::KeywordOnly};
    const bool defaults[] = {false, true, true, false, true};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(s.params()[i].kind, kinds[i]) << i;
        EXPECT_EQ(s.params()[i].has_default, defaults[i]) << i;
    }
    EXPECT_EQ(s.params()[4].default_text, "None");
    EXPECT_EQ(s.index_of("d"), 3u);
    EXPECT_FALSE(s.index_of("self").has_value());
}

TEST(Signature, DefaultsWithCommasBracketsAndQuotes) {
    Signature s = parse_ok("g(a=(1, 2), b=\"x, y)\", c=['p', 'q'], d={'k': 'v,'})\n--\n\n");
    ASSERT_EQ(s.params().size(), 4u);
    EXPECT_EQ(s.params()[0].default_text, "(1, 2)");
    EXPECT_EQ(s.params()[1].default_text, "\"x, y)\"");
    EXPECT_EQ(s.params()[2].default_text, "['p', 'q']");
    EXPECT_EQ(s.params()[3].default_text, "{'k': 'v,'}");
}

TEST(Signature, DisplayNamesByKind) {
    struct Case {
        const char* doc;
        CallableKind kind;
        const char* display;
    } cases[] = {
        {"percentile($self, p)\n--\n\n", CallableKind::Method, "Stats.percentile()"},
        {"geomean(values)\n--\n\n", CallableKind::StaticMethod, "Stats.geomean()"},
        {"Stats(a=1)\n--\n\n", CallableKind::Constructor, "Stats.__new__()"},
        {"detect(path)\n--\n\n", CallableKind::ModuleFunction, "detect()"},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_ok(c.doc, c.kind, "Stats").display_name(), c.display) << c.doc;
}

TEST(Signature, RejectsMalformedDocstrings) {
    struct Case {
        const char* doc;
        CallableKind kind;
    } cases[] = {
        {"No signature here.", CallableKind::ModuleFunction},
        {"f(a)\nText without the marker.", CallableKind::ModuleFunction},
        {"f(a)\n--\nmissing blank line", CallableKind::ModuleFunction},
        {"f(a, b=1, c)\n--\n\n", CallableKind::ModuleFunction},   // required after default
        {"f(a, a)\n--\n\n", CallableKind::ModuleFunction},        // duplicate
        {"f(a, *)\n--\n\n", CallableKind::ModuleFunction},        // bare * at the end
        {"f(*, a, /)\n--\n\n", CallableKind::ModuleFunction},     // / after *
        {"f(a=)\n--\n\n", CallableKind::ModuleFunction},          // empty default
        {"f(1a)\n--\n\n", CallableKind::ModuleFunction},          // not an identifier
        {"f(a=[1, 2)\n--\n\n", CallableKind::ModuleFunction},     // unbalanced
        {"m(p)\n--\n\n", CallableKind::Method},                   // method without $self
        {"s($self, p)\n--\n\n", CallableKind::StaticMethod},      // static with $self
        {"Other(a=1)\n--\n\n", CallableKind::Constructor},        // constructor names another class
    };
    for (const Case& c : cases) EXPECT_FALSE(Signature::parse(c.doc, c.kind, "Stats").has_value()) << c.doc;
}

// Expected texts are what CPython 3.11 says for a Python function with the
// same signature, called the same way.
struct BindCase {
    const char* doc;
    std::size_t nargs;
    std::vector<std::string_view> kw;
    const char* error;  // nullptr: binds
};

class BindErrors : public ::testing::TestWithParam<BindCase> {};

TEST_P(BindErrors, MatchInterpreterWording) {
    const BindCase& c = GetParam();
    Signature s = parse_ok(c.doc);
    std::vector<std::ptrdiff_t> slots(s.params().size());
    auto r = s.bind(c.nargs, c.kw, slots);
    if (!c.error) {
        EXPECT_TRUE(r.has_value()) << r.error();
    } else {
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), c.error);
    }
}

constexpr const char* kG = "g(a, b, c)\n--\n\n";
constexpr const char* kH = "h(a, *, t=None)\n--\n\n";
constexpr const char* kK = "k()\n--\n\n";

INSTANTIATE_TEST_SUITE_P(
    Frame, BindErrors,
    ::testing::Values(
        BindCase{kFullDoc, 0, {}, "f() missing 1 required positional argument: 'a'"},
        BindCase{kFullDoc, 1, {}, "f() missing 1 required keyword-only argument: 'd'"},
        BindCase{kFullDoc, 1, {"d"}, nullptr},
        BindCase{kFullDoc, 3, {"d", "e"}, nullptr},
        BindCase{kFullDoc, 1, {"a", "d"},
                 "f() got some positional-only arguments passed as keyword arguments: 'a'"},
        BindCase{kFullDoc, 1, {"b", "a", "d"},
                 "f() got some positional-only arguments passed as keyword arguments: 'a, b'"},
        BindCase{kFullDoc, 4, {"d"},
                 "f() takes from 1 to 3 positional arguments but 4 positional arguments (and 1 keyword-only "
                 "argument) were given"},
        BindCase{kFullDoc, 4, {"d", "e"},
                 "f() takes from 1 to 3 positional arguments but 4 positional arguments (and 2 keyword-only "
                 "arguments) were given"},
        BindCase{kFullDoc, 5, {}, "f() takes from 1 to 3 positional arguments but 5 were given"},
        BindCase{kFullDoc, 1, {"d", "zz"}, "f() got an unexpected keyword argument 'zz'"},
        BindCase{kFullDoc, 3, {"c", "d"}, "f() got multiple values for argument 'c'"},
        BindCase{kG, 0, {}, "g() missing 3 required positional arguments: 'a', 'b', and 'c'"},
        BindCase{kG, 1, {}, "g() missing 2 required positional arguments: 'b' and 'c'"},
        BindCase{kG, 0, {"c"}, "g() missing 2 required positional arguments: 'a' and 'b'"},
        BindCase{kG, 0, {"c", "a", "b"}, nullptr},
        BindCase{kH, 2, {"t"},
                 "h() takes 1 positional argument but 2 positional arguments (and 1 keyword-only argument) were "
                 "given"},
        BindCase{kH, 2, {}, "h() takes 1 positional argument but 2 were given"},
        BindCase{kH, 1, {"a"}, "h() got multiple values for argument 'a'"},
        BindCase{kK, 1, {}, "k() takes 0 positional arguments but 1 was given"},
        BindCase{kK, 0, {"x"}, "k() got an unexpected keyword argument 'x'"}));

TEST(Signature, BindPlacesValuesInParameterSlots) {
    Signature s = parse_ok(kFullDoc);
    std::vector<std::ptrdiff_t> slots(5, 99);  // sentinel: every slot must be written
    std::vector<std::string_view> kw = {"e", "d"};
    ASSERT_TRUE(s.bind(2, kw, slots).has_value());
    // a, b by position; c omitted; d is keyword 1 (value index 2 + 1); e keyword 0.
    EXPECT_EQ(slots, (std::vector<std::ptrdiff_t>{0, 1, Signature::kNotGiven, 3, 2}));
}

TEST(BorrowFlag, ConflictTable) {
    BorrowFlag f;
    EXPECT_FALSE(f.try_shared());
    EXPECT_FALSE(f.try_shared());
    EXPECT_EQ(f.readers(), 2);
    EXPECT_EQ(f.try_exclusive(), BorrowError::AlreadyBorrowed);
    f.release_shared();
    EXPECT_EQ(f.try_exclusive(), BorrowError::AlreadyBorrowed);
    f.release_shared();
    EXPECT_TRUE(f.is_free());
    EXPECT_FALSE(f.try_exclusive());
    EXPECT_EQ(f.try_shared(), BorrowError::AlreadyMutablyBorrowed);
    EXPECT_EQ(f.try_exclusive(), BorrowError::AlreadyBorrowed);
    EXPECT_TRUE(f.is_exclusive());
    f.release_exclusive();
    EXPECT_TRUE(f.is_free());
    EXPECT_STREQ(borrow_error_text(BorrowError::AlreadyBorrowed), "Already borrowed");
    EXPECT_STREQ(borrow_error_text(BorrowError::AlreadyMutablyBorrowed), "Already mutably borrowed");
}

// Readers and writers on several threads: a writer never overlaps a reader or
// another writer, and every access given back leaves the flag free.
// Readers and writers hammer one flag from four threads: exclusive and
// shared access never overlap. Each writer retries until it has written a
// fixed number of times (the readers stop after a fixed number of tries, so
// the flag comes free), which makes the writers' progress certain however
// the threads are scheduled.
TEST(BorrowFlag, ExclusiveNeverOverlapsAcrossThreads) {
    constexpr int kWritesEach = 2000;
    constexpr int kReaderTries = 20000;
    BorrowFlag f;
    std::atomic<int> inside_readers{0}, inside_writers{0}, violations{0}, writes{0};
    auto writer = [&] {
        for (int done = 0; done < kWritesEach;) {
            if (f.try_exclusive()) {
                std::this_thread::yield();
                continue;
            }
            if (inside_writers.fetch_add(1) != 0 || inside_readers.load() != 0) ++violations;
            ++writes;
            ++done;
            inside_writers.fetch_sub(1);
            f.release_exclusive();
        }
    };
    auto reader = [&] {
        for (int i = 0; i < kReaderTries; ++i) {
            if (f.try_shared()) continue;
            inside_readers.fetch_add(1);
            if (inside_writers.load() != 0) ++violations;
            inside_readers.fetch_sub(1);
            f.release_shared();
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back(writer);
        threads.emplace_back(reader);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(writes.load(), 2 * kWritesEach);
    EXPECT_TRUE(f.is_free());
}

TEST(UnitParser, AcceptsEverySpellingInAnyCase) {
    struct Case {
        const char* text;
        LengthUnit unit;
    } cases[] = {
        {"m", LengthUnit::Metres},       {"M", LengthUnit::Metres},      {"metre", LengthUnit::Metres},
        {"Meter", LengthUnit::Metres},   {"METRES", LengthUnit::Metres}, {"meters", LengthUnit::Metres},
        {"ft", LengthUnit::Feet},        {"FT", LengthUnit::Feet},       {"Feet", LengthUnit::Feet},
        {"foot", LengthUnit::Feet},
    };
    for (const Case& c : cases) {
        auto r = parse_length_unit_text(c.text);
        ASSERT_TRUE(r.has_value()) << c.text;
        EXPECT_EQ(*r, c.unit) << c.text;
    }
}

TEST(UnitParser, RefusesWithTheParserTexts) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"", "unit must be a non-empty, trimmed string"},
        {" m", "unit must be a non-empty, trimmed string"},
        {"ft ", "unit must be a non-empty, trimmed string"},
        {"m\xc2\xa0", "unit must be a non-empty, trimmed string"},  // no-break space is white space
        {"Yards", "unknown unit 'yards' (expected 'ft' or 'm')"},
        {"FEETS", "unknown unit 'feets' (expected 'ft' or 'm')"},
        {"mtr", "unknown unit 'mtr' (expected 'ft' or 'm')"},
        {"\xc3\x89M", "unknown unit '\xc3\x89m' (expected 'ft' or 'm')"},  // only ASCII letters are lowered
    };
    for (const Case& c : cases) {
        auto r = parse_length_unit_text(c.text);
        ASSERT_FALSE(r.has_value()) << c.text;
        EXPECT_EQ(r.error(), c.message);
    }
}

TEST(MethodParser, AcceptsSpellingsCaseSpacesAndHyphens) {
    struct Case {
        const char* text;
        GriddingMethod method;
    } cases[] = {
        {"nearest", GriddingMethod::Nearest},
        {"  NEAREST\t", GriddingMethod::Nearest},
        {"idw", GriddingMethod::InverseDistance},
        {"Inverse-Distance", GriddingMethod::InverseDistance},
        {"inverse distance", GriddingMethod::InverseDistance},
        {"InverseDistance", GriddingMethod::InverseDistance},
        {"min_curvature", GriddingMethod::MinimumCurvature},
        {"MIN-CURVATURE", GriddingMethod::MinimumCurvature},
        {"minimum curvature", GriddingMethod::MinimumCurvature},
        {"MinimumCurvature", GriddingMethod::MinimumCurvature},
        {"mincurvature", GriddingMethod::MinimumCurvature},
        {"\xe2\x80\x83idw\xe2\x80\x83", GriddingMethod::InverseDistance},  // em spaces trimmed
    };
    for (const Case& c : cases) {
        auto r = parse_gridding_method_text(c.text);
        ASSERT_TRUE(r.has_value()) << c.text;
        EXPECT_EQ(*r, c.method) << c.text;
    }
}

TEST(MethodParser, RefusesWithTheNormalisedText) {
    struct Case {
        const char* text;
        const char* quoted;
    } cases[] = {
        {"Natural Neighbour Method", "natural_neighbour_method"},
        {"minimum\tcurvature", "minimum\tcurvature"},  // a tab is not replaced
        {"near", "near"},
        {"idws", "idws"},
        {"", ""},
        {" Kriging-2 ", "kriging_2"},
    };
    for (const Case& c : cases) {
        auto r = parse_gridding_method_text(c.text);
        ASSERT_FALSE(r.has_value()) << c.text;
        EXPECT_EQ(r.error(), std::string("unknown grid method '") + c.quoted +
                                 "' (expected 'nearest', 'idw', or 'min_curvature')");
    }
}

}  // namespace
}  // namespace vz::py
