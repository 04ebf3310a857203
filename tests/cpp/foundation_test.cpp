#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/mnemonics.hpp"
#include "foundation/error.hpp"
#include "foundation/format.hpp"
#include "foundation/history.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"
#include "stats/descriptive.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Error, DisplayTextsInDeclarationOrder) {
    struct Case {
        Error e;
        const char* text;
    };
    const Case cases[] = {
        {Error::io("No such file or directory (os error 2)"), "I/O error: No such file or directory (os error 2)"},
        {Error::parse("x"), "parse error: x"},
        {Error::format("x"), "unsupported format: x"},
        {Error::geometry_mismatch("x"), "geometry mismatch: x"},
        {Error::geometry_inference("x"), "geometry inference failed: x"},
        {Error::not_found("x"), "not found: x"},
        {Error::out_of_range("x"), "out of range: x"},
        {Error::unsupported("x"), "unsupported: x"},
        {Error::unit("x"), "unit error: x"},
        {Error(ToolsError::empty_input("stats: no data")), "empty input: stats: no data"},
    };
    int ordinal = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(c.e.display(), c.text);
        EXPECT_EQ(static_cast<int>(c.e.kind()), ordinal++);
    }
}

TEST(Error, ToolsDisplaysWithoutSecondPrefix) {
    const struct {
        ToolsError t;
        const char* text;
    } cases[] = {
        {ToolsError::empty_input("a"), "empty input: a"},
        {ToolsError::invalid_geometry("a"), "invalid geometry: a"},
        {ToolsError::invalid_argument("percentile: p must be in [0, 100]"),
         "invalid argument: percentile: p must be in [0, 100]"},
        {ToolsError::io("a"), "I/O error: a"},
        {ToolsError::parse("a"), "parse error: a"},
        {ToolsError::not_found("a"), "not found: a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.t.display(), c.text);
        EXPECT_EQ(Error(c.t).display(), c.text);
        EXPECT_EQ(Error(c.t).kind(), ErrorKind::Tools);
    }
    EXPECT_EQ(Error::parse("x").debug(), "Parse(x)");
    // Failures of file operations name the file, as given (a NUL shown as \0).
    using namespace std::string_literals;
    EXPECT_EQ(Error::io_errno(2, "/data/w1.las").display(),
              "I/O error: '/data/w1.las': No such file or directory (os error 2)");
    EXPECT_EQ(ToolsError::io_errno(13, "rel/p q.zedod").display(),
              "I/O error: 'rel/p q.zedod': Permission denied (os error 13)");
    EXPECT_EQ(display_path(std::filesystem::path("a\0b"s)), "a\\0b");
}

TEST(Error, MessagesCarryNoControlCharacters) {
    // Messages quote bytes read from files and paths as given; every control
    // character comes out as an escape, everything else as it is (UTF-8 text,
    // a backslash, bytes that are not UTF-8).
    using namespace std::string_literals;
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain 'text' \\ \xC3\x91" "and\xC3\xBA", "plain 'text' \\ \xC3\x91" "and\xC3\xBA"},
        {"bad id flag '\0\0\0'"s, "bad id flag '\\0\\0\\0'"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"\x01\x1b[31m\x7f", "\\x01\\x1b[31m\\x7f"},
        // U+0085 and U+009F (Latin-1 bytes 0x85, 0x9F decoded) are controls;
        // U+00A0 and a lone byte 0x85 are not escaped.
        {"\xC2\x85|\xC2\x9F|\xC2\xA0|\x85", "\\x85|\\x9f|\xC2\xA0|\x85"},
        {"end\xC2", "end\xC2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escape_control(c.in), c.out);
        EXPECT_EQ(Error::parse(c.in).message(), c.out);
        EXPECT_EQ(Error::parse(c.in).display(), "parse error: " + c.out);
        EXPECT_EQ(Error(ToolsError::parse(c.in)).display(), "parse error: " + c.out);
        // Escaping what is escaped changes nothing, so messages built from
        // other messages are not escaped twice.
        EXPECT_EQ(escape_control(c.out), c.out);
    }
    EXPECT_EQ(display_path(std::filesystem::path("dir\nname\t.las")), "dir\\nname\\t.las");
    EXPECT_EQ(Error::io_errno(2, "a\x01" "b").message(), "'a\\x01b': No such file or directory (os error 2)");
}

Result<int> half(int x) {
    if (x % 2) return fail(Error::parse("odd"));
    return x / 2;
}

Result<int> quarter(int x) {
    VZ_ASSIGN_OR_RETURN(int h, half(x));
    VZ_ASSIGN_OR_RETURN(int q, half(h));
    return q;
}

Result<double> toolkit_percentile_through_core() {
    VZ_ASSIGN_OR_RETURN(double p, stats::descriptive::percentile({}, 50));
    return p;
}

TEST(Result, PropagationMacros) {
    EXPECT_EQ(*quarter(8), 2);
    EXPECT_EQ(quarter(6).error().display(), "parse error: odd");
    EXPECT_EQ(toolkit_percentile_through_core().error().display(), "empty input: stats: no data");
}

TEST(History, DeriveExtendAndNew) {
    History src = History::make("log.new");
    History a = History::derive(src, "log.clip(top_md=" + num(12.0) + ", base_md=" + num(12.5) + ")");
    History b = History::derive(src, "log.clip(top_md=" + num(kNaN) + ", base_md=1)");
    EXPECT_EQ(src.entries(), std::vector<std::string>{"log.new"});
    EXPECT_EQ(a.entries(), (std::vector<std::string>{"log.new", "log.clip(top_md=12, base_md=12.5)"}));
    EXPECT_EQ(b.entries().back(), "log.clip(top_md=NaN, base_md=1)");

    History owned = History::derive_owned(a, "log.clip(top_md=-inf, base_md=inf)");
    EXPECT_EQ(owned.entries(), (std::vector<std::string>{"log.new", "log.clip(top_md=12, base_md=12.5)",
                                                         "log.clip(top_md=-inf, base_md=inf)"}));
    EXPECT_EQ(a.size(), 2u);  // a copy was handed over

    History t = History::make("surface.new");
    History::extend_prefixed(t, "rhs", History());
    EXPECT_EQ(t.size(), 1u);
    History::extend_prefixed(t, "rhs", a);
    EXPECT_EQ(t.entries(), (std::vector<std::string>{"surface.new", "rhs.log.new",
                                                     "rhs.log.clip(top_md=12, base_md=12.5)"}));
}

TEST(Format, Num) {
    const struct {
        double x;
        const char* text;
    } cases[] = {{12.0, "12"},       {0.5, "0.5"},        {0.0001, "0.0001"}, {-0.0, "-0"},
                 {kNaN, "NaN"},      {kInf, "inf"},       {-kInf, "-inf"},    {1e21, "1000000000000000000000"},
                 {1.5e-7, "0.00000015"}, {0.1 + 0.2, "0.30000000000000004"}, {-2.5, "-2.5"}};
    for (const auto& c : cases) EXPECT_EQ(num(c.x), c.text) << c.text;
    // Beyond 2^53 a double's exact decimal expansion carries more digits than
    // it takes to read it back: the shortest digits are laid out with zeros.
    EXPECT_EQ(num(1e23), "1" + std::string(23, '0'));
    EXPECT_EQ(num(-1e39), "-1" + std::string(39, '0'));
    EXPECT_EQ(num(0x1p60), "1152921504606847000");
    EXPECT_EQ(num(1.5e300), "15" + std::string(299, '0'));
    EXPECT_EQ(num(5e-324), "0." + std::string(323, '0') + "5");
    EXPECT_EQ(num(123456.789e-20), "0.00000000000000123456789");
}

TEST(Format, DebugNum) {
    const struct {
        double x;
        const char* text;
    } cases[] = {{5.0, "5.0"}, {-2.5, "-2.5"}, {1e16, "1e16"}, {1.5e-5, "1.5e-5"}, {0.0001, "0.0001"},
                 {0.0, "0.0"}, {kNaN, "NaN"},  {kInf, "inf"},  {-kInf, "-inf"},    {123456789.0, "123456789.0"},
                 {-1e20, "-1e20"}};
    for (const auto& c : cases) EXPECT_EQ(debug_num(c.x), c.text) << c.text;
    EXPECT_EQ(fixed(1.0 / 3.0, 6), "0.333333");
    EXPECT_EQ(fixed(2.5, 0), "2");
}

TEST(Format, TrimAndTotalOrder) {
    EXPECT_EQ(trim_unicode("\u00a0\t phie \u3000\n"), "phie");
    EXPECT_EQ(trim_unicode("   "), "");
    EXPECT_EQ(trim_unicode("\u2003x\u2003y\u2003"), "x\u2003y");
    const double ordered[] = {-kInf, -1.0, -0.0, 0.0, 1e-300, 1.0, kInf, kNaN};
    for (std::size_t k = 0; k + 1 < std::size(ordered); ++k) EXPECT_TRUE(total_less(ordered[k], ordered[k + 1])) << k;
    EXPECT_EQ(quoted_repr("W1"), "'W1'");
    EXPECT_EQ(quoted_repr("it's"), "\"it's\"");
}

TEST(Stats, UnweightedExample) {
    const double v[] = {kNaN, 1, 3};
    Stats s = Stats::from_values(v);
    EXPECT_EQ(s.count, 2u);
    EXPECT_DOUBLE_EQ(s.mean, 2);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, 3);
    EXPECT_DOUBLE_EQ(s.std, 1);
    EXPECT_DOUBLE_EQ(s.sum, 4);
    EXPECT_DOUBLE_EQ(s.p10, 1.2);
    EXPECT_DOUBLE_EQ(s.p50, 2);
    EXPECT_DOUBLE_EQ(s.p90, 2.8);
    EXPECT_DOUBLE_EQ(s.percentile(0.5), s.p50);
    EXPECT_EQ(s.percentile(-1), 1);
    EXPECT_EQ(s.percentile(2), 3);
    EXPECT_TRUE(std::isnan(s.percentile(kNaN)));
}

TEST(Stats, EmptyAndSingle) {
    for (std::vector<double> v : {std::vector<double>{}, std::vector<double>{kNaN, kNaN}}) {
        Stats s = Stats::from_values(v);
        EXPECT_EQ(s.count, 0u);
        EXPECT_EQ(s.sum, 0);
        for (double f : {s.mean, s.min, s.max, s.std, s.p10, s.p50, s.p90, s.percentile(0.5)})
            EXPECT_TRUE(std::isnan(f));
    }
    const double one[] = {7.5};
    Stats s = Stats::from_values(one);
    EXPECT_EQ(s.std, 0);
    for (double f : {s.mean, s.min, s.max, s.p10, s.p50, s.p90}) EXPECT_EQ(f, 7.5);
}

TEST(Stats, Weighted) {
    const double v[] = {1, 2, 3, 4, kNaN, 6, 7};
    const double w[] = {1, 1, 2, 0, 5, -1, kNaN};
    Stats s = Stats::from_weighted(v, w);
    EXPECT_EQ(s.count, 3u);
    EXPECT_DOUBLE_EQ(s.sum, 9);
    EXPECT_DOUBLE_EQ(s.mean, 9.0 / 4);
    EXPECT_EQ(s.p10, 1);
    EXPECT_EQ(s.p50, 2);
    EXPECT_EQ(s.p90, 3);
    EXPECT_DOUBLE_EQ(s.std, std::sqrt((1 * 1.5625 + 1 * 0.0625 + 2 * 0.5625) / 4));
    EXPECT_EQ(s.percentile(kNaN), 3);  // a NaN fraction walks to the last value
    const double one_v[] = {5}, one_w[] = {0.1};
    EXPECT_EQ(Stats::from_weighted(one_v, one_w).p90, 5);
}

TEST(Stats, MismatchedWeightListsAreNeverReadPastTheirEnd) {
    // Built directly: only the values that have a weight take part.
    const Stats cut = Stats::from_sorted({1, 2, 3, 4}, {1, 3});
    EXPECT_EQ(cut.count, 2u);
    EXPECT_EQ(cut.values, (std::vector<double>{1, 2}));
    EXPECT_DOUBLE_EQ(cut.mean, 7.0 / 4);
    EXPECT_EQ(cut.p90, 2);
    const Stats short_values = Stats::from_sorted({5}, {1, 1, 1});
    EXPECT_EQ(short_values.count, 1u);
    EXPECT_EQ(short_values.weights, std::vector<double>{1});
    // A value list changed after building keeps percentile inside the weights.
    Stats edited = Stats::from_weighted(std::vector<double>{1, 2}, std::vector<double>{1, 1});
    edited.values.push_back(9);
    EXPECT_EQ(edited.percentile(1.0), 2);
    edited.weights.clear();
    edited.weights.push_back(1);
    EXPECT_EQ(edited.percentile(0.5), 1);
}

TEST(Stats, InfinitiesSortToTheEnds) {
    const double v[] = {2, kInf, -kInf, 1};
    Stats s = Stats::from_values(v);
    EXPECT_EQ(s.min, -kInf);
    EXPECT_EQ(s.max, kInf);
    EXPECT_TRUE(std::isnan(s.mean));
}

TEST(Stats, GeomeanAndToolkitPercentile) {
    const double g[] = {4, 9, 0, -5, kNaN, kInf};
    EXPECT_DOUBLE_EQ(Stats::geomean(g), 6);
    const double none[] = {0, -1};
    EXPECT_TRUE(std::isnan(Stats::geomean(none)));
    const double d[] = {4, 2, 3, 1};
    EXPECT_DOUBLE_EQ(*stats::descriptive::percentile(d, 50), 2.5);
    EXPECT_EQ(*stats::descriptive::percentile(d, 100), 4);
    EXPECT_EQ(*stats::descriptive::percentile(d, 0), 1);
    for (double p : {100.5, -0.1, kNaN})
        EXPECT_EQ(stats::descriptive::percentile(d, p).error().display(),
                  "invalid argument: percentile: p must be in [0, 100]");
    EXPECT_EQ(stats::descriptive::percentile({}, 5).error().display(), "empty input: stats: no data");
}

TEST(Mnemonics, Canonical) {
    const struct {
        const char* raw;
        const char* canonical;
    } cases[] = {{" phie_2019 ", "PHIE"}, {"k", "PERM"},       {"Net_Gross", "NTG"}, {"gamma", "GR"},
                 {"GR_2019_B", "GR_2019_B"}, {"GR_19", "GR_19"}, {"GR_20190", "GR_20190"}, {"Foo_2019", "Foo"},
                 {"_2019", ""}, {"PHI E", "PHI E"}, {"PHIE1", "PHIE1"}, {"phi\xc3\xa9", "phi\xc3\xa9"},
                 {"vclay", "VSH"}, {"n_g", "NTG"}, {"zden", "RHOB"}, {"CNL", "NPHI"}, {"totphi", "PHIT"},
                 {"SW_T", "SWT"}, {"suwi", "SW"}, {"rdep", "RT"}, {"dtco", "DT"}};
    for (const auto& c : cases) EXPECT_EQ(canonical_mnemonic(c.raw), c.canonical) << c.raw;
}

TEST(Mnemonics, EveryAliasOfTheTableInAnySpelling) {
    const struct {
        const char* canonical;
        std::vector<const char*> aliases;
    } table[] = {
        {"PERM", {"K", "KH", "PERM", "PERMH", "KLOGH"}},
        {"SW", {"SW", "SWE", "SW_E", "SUWI"}},
        {"SWT", {"SWT", "SW_T", "SWTOT"}},
        {"GR", {"GR", "GRC", "SGR", "CGR", "GAMMA"}},
        {"DT", {"DT", "AC", "DTCO", "SONIC"}},
        {"RT", {"RT", "RES", "ILD", "LLD", "RDEP"}},
        {"PHIE", {"PHI", "PHIE", "PHI_E", "PHIEF", "EFFPHI"}},
        {"PHIT", {"PHIT", "PHI_T", "TOTPHI"}},
        {"NPHI", {"NPHI", "TNPH", "NEU", "CNL"}},
        {"VSH", {"VSH", "VCL", "VCLAY", "VSHGR", "VSHALE"}},
        {"RHOB", {"RHOB", "DEN", "DENS", "ZDEN"}},
        {"NTG", {"NTG", "N_G", "NET_GROSS"}},
    };
    std::size_t count = 0;
    for (const auto& row : table) {
        for (const char* alias : row.aliases) {
            ++count;
            const std::string upper = alias;
            const std::string lower = ascii_lower(upper);
            EXPECT_EQ(canonical_mnemonic(upper), row.canonical) << upper;
            EXPECT_EQ(canonical_mnemonic("\t" + lower + "_1987 "), row.canonical) << lower;
            // Whole-text matching only: a prefix or suffix never matches.
            EXPECT_EQ(canonical_mnemonic(upper + "X"), upper + "X");
            EXPECT_EQ(canonical_mnemonic("X" + lower), "X" + lower);
        }
    }
    EXPECT_EQ(count, 50u);
}

TEST(Mnemonics, AliasMap) {
    AliasMap map{{"gr", "GAMMA_RAY"}};
    EXPECT_EQ(mnemonics::resolve_mnemonic(" GR ", &map), "GAMMA_RAY");
    EXPECT_EQ(mnemonics::resolve_mnemonic("GR_2019", &map), "GR");
    EXPECT_EQ(mnemonics::resolve_mnemonic("GRC", nullptr), "GRC");
    AliasMap empty;
    EXPECT_EQ(mnemonics::resolve_mnemonic("GRC", &empty), "GR");
}

TEST(GridGeometry, Transforms) {
    GridGeometry g{100, 200, 10, 20, 3, 4, 0, false};
    EXPECT_EQ(g.node_xy(2, 3), (std::pair<double, double>{120, 260}));
    EXPECT_EQ(*g.xy_to_ij(115, 230), (std::pair<double, double>{1.5, 1.5}));
    EXPECT_EQ(g.bbox(), (BBox{100, 200, 120, 260}));
    EXPECT_EQ(g.node_xy(3, 0), (std::pair<double, double>{130, 200}));

    GridGeometry f = g;
    f.yflip = true;
    EXPECT_EQ(f.node_xy(2, 3), (std::pair<double, double>{120, 140}));
    EXPECT_EQ(f.bbox(), (BBox{100, 140, 120, 200}));
    EXPECT_EQ(*f.xy_to_ij(120, 140), (std::pair<double, double>{2, 3}));

    GridGeometry r = g;
    r.rotation_deg = 90;
    auto [x1, y1] = r.node_xy(1, 0);
    EXPECT_NEAR(x1, 100, 1e-12);
    EXPECT_NEAR(y1, 210, 1e-12);
    auto [x2, y2] = r.node_xy(0, 1);
    EXPECT_NEAR(x2, 80, 1e-12);
    EXPECT_NEAR(y2, 200, 1e-12);

    GridGeometry empty{5, 6, 1, 1, 0, 0, 0, false};
    EXPECT_EQ(empty.bbox(), (BBox{5, 6, 5, 6}));
}

TEST(GridGeometry, InverseRoundTripAndDegenerate) {
    for (bool flip : {false, true})
        for (double rot : {0.0, 33.0, -120.0}) {
            GridGeometry g{1000, -500, 12.5, -7.5, 10, 10, rot, flip};
            for (unsigned i : {0u, 3u, 9u}) {
                auto [x, y] = g.node_xy(i, 7);
                auto ij = g.xy_to_ij(x, y);
                ASSERT_TRUE(ij);
                EXPECT_NEAR(ij->first, i, 1e-9);
                EXPECT_NEAR(ij->second, 7, 1e-9);
            }
        }
    GridGeometry g{0, 0, 1, 1, 2, 2, 0, false};
    auto with = [&](auto mutate) {
        GridGeometry h = g;
        mutate(h);
        return h;
    };
    EXPECT_FALSE(with([](GridGeometry& h) { h.xinc = 0; }).xy_to_ij(1, 1));
    EXPECT_FALSE(with([](GridGeometry& h) { h.yinc = 0; }).xy_to_ij(1, 1));
    EXPECT_FALSE(with([](GridGeometry& h) { h.xori = kNaN; }).xy_to_ij(1, 1));
    EXPECT_FALSE(with([](GridGeometry& h) { h.rotation_deg = kInf; }).xy_to_ij(1, 1));
    EXPECT_FALSE(g.xy_to_ij(kNaN, 1));
    EXPECT_FALSE(g.xy_to_ij(1, -kInf));
}

TEST(GridGeometry, ExactEquality) {
    GridGeometry a{0, 0, 1, 1, 2, 2, 0, false};
    GridGeometry b = a;
    b.xinc = std::nextafter(1.0, 2.0);
    EXPECT_NE(a, b);
    GridGeometry n = a;
    n.rotation_deg = kNaN;
    EXPECT_NE(n, n);
    GridGeometry z = a;
    z.xori = -0.0;
    EXPECT_EQ(a, z);
}

// `num` against a plain reference: the shortest digits as the standard
// library's scientific form gives them, laid out positionally here.
std::string positional_reference(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string sci(buf, r.ptr);
    std::string sign;
    if (sci.front() == '-') {
        sign = "-";
        sci.erase(0, 1);
    }
    const std::size_t e = sci.find('e');
    std::string digits = sci.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    int exp10 = std::stoi(sci.substr(e + 1)) - static_cast<int>(digits.size()) + 1;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back(), ++exp10;
    if (digits == "0") return sign + "0";
    const int point = static_cast<int>(digits.size()) + exp10;
    if (exp10 >= 0) return sign + digits + std::string(static_cast<std::size_t>(exp10), '0');
    if (point > 0) return sign + digits.substr(0, point) + "." + digits.substr(point);
    return sign + "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
}

TEST(Format, NumIsTheShortestDigitsLaidOutPositionally) {
    const double awkward[] = {0.0, -0.0, 25.0, -65.0, 0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 1e-7, 1e-5, 0.0001,
                              2596.739, -2596.739, 9876543.21, 9999900.0, 9999899.999999998, 1e15, 1e16,
                              1e21, -1e21, 1e22, 1e23, 1.2345678901234567e22, 9007199254740993.0,
                              18446744073709551616.0, 123456789012345680000.0, 4.35e30, 5e-324, -5e-324,
                              2.2250738585072014e-308, 2.225073858507201e-308, 1.7976931348623157e308,
                              -1.7976931348623157e308, 0.1 + 0.2, 1500.0000000000002, 456789.12345678904,
                              6543210.000000001, kNaN, kInf, -kInf};
    for (const double v : awkward) EXPECT_EQ(num(v), positional_reference(v)) << v;
    // The forms that differ from an exact expansion.
    EXPECT_EQ(num(1e21), "1" + std::string(21, '0'));
    EXPECT_EQ(num(1e23), "1" + std::string(23, '0'));
    EXPECT_EQ(num(1.2345678901234567e22), "12345678901234568000000");
    EXPECT_EQ(num(-0.0), "-0");
    EXPECT_EQ(num(1e-7), "0.0000001");

    // Random bit patterns of every magnitude; below 2^53 the digits also equal
    // the standard library's own positional form.
    std::mt19937_64 rng(21);
    for (int k = 0; k < 200000; ++k) {
        const double v = std::bit_cast<double>(rng());
        const std::string got = num(v);
        ASSERT_EQ(got, positional_reference(v)) << std::hexfloat << v;
        if (std::isfinite(v) && std::fabs(v) < 0x1p53) {
            char buf[400];
            const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
            ASSERT_EQ(got, std::string(buf, r.ptr)) << std::hexfloat << v;
        }
    }
}

}  // namespace
}  // namespace vz
