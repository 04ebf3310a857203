#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/grid2.hpp"
#include "foundation/ordered_map.hpp"
#include "manager/payload.hpp"

namespace vz::payload {
namespace {

using Bytes = std::vector<std::uint8_t>;

void append_u64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void append_f64(Bytes& b, double d) { append_u64(b, std::bit_cast<std::uint64_t>(d)); }

template <class Put>
Bytes encoded(Put&& put) {
    auto r = encode(put);
    EXPECT_TRUE(r) << (r ? "" : r.error().display());
    return r ? *r : Bytes{};
}

// ================================================================= bytes written

TEST(PayloadEncoding, PrimitiveBytes) {
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {encoded([](auto& o) { o.text("ab"); }), {2, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x62}},
        {encoded([](auto& o) { o.f64(1.0); }), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {encoded([](auto& o) { o.text(""); }), Bytes(8, 0)},
        {encoded([](auto& o) { o.f64_list(std::vector<double>{}); }), Bytes(8, 0)},
        {encoded([](auto& o) { option(o, std::optional<double>{}, [](auto& oo, double d) { oo.f64(d); }); }), {0}},
        {encoded([](auto& o) { option(o, std::optional<std::uint32_t>(7), [](auto& oo, std::uint32_t v) { oo.u32(v); }); }),
         {1, 7, 0, 0, 0}},
        {encoded([](auto& o) { o.i32(-2); }), {0xFE, 0xFF, 0xFF, 0xFF}},
        {encoded([](auto& o) { o.variant(1); }), {1, 0, 0, 0}},
        {encoded([](auto& o) {
             o.boolean(true);
             o.boolean(false);
             o.u8(0xAB);
         }),
         {1, 0, 0xAB}},
        {encoded([](auto& o) { o.u64(0x0102030405060708ull); }), {8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
}

TEST(PayloadEncoding, NumericArrays) {
    const std::vector<double> v = {1.0, 2.0, 3.0};
    const Bytes vec = encoded([&](auto& o) { o.vector(v); });
    ASSERT_EQ(vec.size(), 41u);
    Bytes want = {1};
    append_u64(want, 3);
    append_u64(want, 3);
    for (double d : v) append_f64(want, d);
    EXPECT_EQ(vec, want);

    // A 2 x 3 grid: all rows of column 0, then column 1.
    Grid2 g(2, 3);
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t j = 0; j < 3; ++j) g(i, j) = 10.0 * static_cast<double>(i) + static_cast<double>(j);
    }
    const Bytes grid = encoded([&](auto& o) { o.grid(g); });
    ASSERT_EQ(grid.size(), 25u + 48u);
    Bytes gwant = {1};
    append_u64(gwant, 2);
    append_u64(gwant, 3);
    append_u64(gwant, 6);
    for (double d : {0.0, 1.0, 2.0, 10.0, 11.0, 12.0}) append_f64(gwant, d);
    EXPECT_EQ(grid, gwant);

    Reader r(grid);
    auto back = r.grid();
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, g);
}

TEST(PayloadEncoding, FloatBitsSurviveTheRoundTrip) {
    const std::uint64_t patterns[] = {
        0x7FF8000000000000ull,  // quiet NaN
        0x7FF0000000000001ull,  // signalling NaN
        0xFFF8DEADBEEF0001ull,  // negative NaN with payload
        0x8000000000000000ull,  // -0
        0x7FF0000000000000ull,  // inf
        0x0000000000000001ull,  // smallest subnormal
    };
    std::vector<double> values;
    for (auto p : patterns) values.push_back(std::bit_cast<double>(p));
    const Bytes b = encoded([&](auto& o) {
        o.f64_list(values);
        for (double d : values) o.f64(d);
    });
    Reader r(b);
    auto list = r.f64_list();
    ASSERT_TRUE(list);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>((*list)[i]), patterns[i]);
        auto one = r.f64();
        ASSERT_TRUE(one);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*one), patterns[i]);
    }
}

TEST(PayloadEncoding, UnwritableValuesFailTheEncode) {
    const struct {
        Result<Bytes> result;
        const char* text;
    } cases[] = {
        {encode([](auto& o) { o.text("ok\xC3("); }),
         "parse error: serialize: string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 2"},
        {encode([](auto& o) { o.grid(std::vector<double>(5), 2, 3); }),
         "parse error: serialize: data and dimension must match in size"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.result);
        EXPECT_EQ(c.result.error().display(), c.text);
    }
}

// ================================================================= reading failures

/// Runs one read of a given kind over `bytes`, returning the failure's
/// display text ("" when the read succeeds).
std::string failure_of(const Bytes& bytes, const std::string& what) {
    Reader r(bytes);
    auto text = [](const auto& res) { return res ? std::string() : res.error().display(); };
    if (what == "u64") return text(r.u64());
    if (what == "f64") return text(r.f64());
    if (what == "text") return text(r.text());
    if (what == "bool") return text(r.boolean());
    if (what == "option") return text(r.option([](Reader& rr) { return rr.f64(); }));
    if (what == "kind") return text(r.variant(2));
    if (what == "vector") return text(r.vector());
    if (what == "grid") return text(r.grid());
    if (what == "f64 list") return text(r.f64_list());
    if (what == "text list") return text(r.text_list());
    ADD_FAILURE() << "unknown read " << what;
    return "";
}

Bytes grid_header(std::uint8_t version, std::uint64_t d0, std::uint64_t d1, std::uint64_t n) {
    Bytes b = {version};
    append_u64(b, d0);
    append_u64(b, d1);
    append_u64(b, n);
    return b;
}

TEST(PayloadDecoding, FailureTexts) {
    const std::string eof = "parse error: deserialize: io error: unexpected end of file";
    Bytes text_overrun;
    append_u64(text_overrun, 1000);
    text_overrun.resize(18, 'x');
    Bytes bad_utf8;
    append_u64(bad_utf8, 3);
    bad_utf8.insert(bad_utf8.end(), {'a', 0xE2, 0x28});
    Bytes cut_utf8;
    append_u64(cut_utf8, 2);
    cut_utf8.insert(cut_utf8.end(), {'a', 0xF0});
    Bytes grid_11 = grid_header(1, 3, 4, 11);
    grid_11.resize(grid_11.size() + 88, 0);
    Bytes forged_list;
    append_u64(forged_list, std::uint64_t{1} << 40);
    forged_list.resize(forged_list.size() + 16, 0);
    Bytes forged_texts = forged_list;
    Bytes overflow_dims = grid_header(1, std::uint64_t{1} << 32, std::uint64_t{1} << 32, 0);

    const struct {
        Bytes bytes;
        const char* read;
        std::string text;
    } cases[] = {
        {{1, 2, 3, 4}, "u64", eof},
        {{0, 0, 0, 0, 0, 0, 0xF0}, "f64", eof},
        {text_overrun, "text", "parse error: deserialize: io error: "},
        {{5, 0, 0, 0}, "text", eof},
        {bad_utf8, "text",
         "parse error: deserialize: string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 1"},
        {cut_utf8, "text",
         "parse error: deserialize: string is not valid utf8: incomplete utf-8 byte sequence from index 1"},
        {{2}, "option", "parse error: deserialize: tag for enum is not valid, found 2"},
        {{1, 0, 0}, "option", eof},
        {{2}, "bool", "parse error: deserialize: invalid u8 while decoding bool, expected 0 or 1, found 2"},
        {{}, "bool", eof},
        {{2, 0, 0, 0}, "kind", "parse error: deserialize: invalid value: integer `2`, expected variant index 0 <= i < 2"},
        {grid_header(2, 0, 0, 0), "grid", "parse error: deserialize: unknown array version: 2"},
        {grid_11, "grid", "parse error: deserialize: data and dimension must match in size"},
        {grid_header(1, 3, 4, 12), "grid", eof},
        {overflow_dims, "grid", "parse error: deserialize: data and dimension must match in size"},
        {grid_header(1, 0, std::uint64_t{1} << 63, 0), "grid",
         "parse error: deserialize: data and dimension must match in size"},
        {Bytes{1, 2, 0}, "vector", eof},
        {forged_list, "f64 list", eof},
        {forged_texts, "text list", eof},
    };
    for (const auto& c : cases) EXPECT_EQ(failure_of(c.bytes, c.read), c.text) << c.read;
}

TEST(PayloadDecoding, ReservationIsBoundedToOneMebibyte) {
    EXPECT_EQ(Reader::reserve_bound<double>(std::uint64_t{1} << 40), 131072u);
    EXPECT_EQ(Reader::reserve_bound<double>(10), 10u);
    EXPECT_LE(Reader::reserve_bound<std::string>(std::uint64_t{1} << 40) * sizeof(std::string), kReserveLimitBytes);
    // A forged count of records fails at the end of the bytes.
    Bytes b;
    append_u64(b, std::uint64_t{1} << 40);
    append_u64(b, 1);
    b.push_back('z');
    Reader r(b);
    auto items = r.list([](Reader& rr) { return rr.text(); });
    ASSERT_FALSE(items);
    EXPECT_EQ(items.error().display(), "parse error: deserialize: io error: unexpected end of file");
}

TEST(PayloadDecoding, ZeroAxisArraysAndDuplicateMapKeys) {
    const Bytes zero_axis = grid_header(1, 0, 5, 0);
    Reader empty(zero_axis);
    auto g = empty.grid();
    ASSERT_TRUE(g);
    EXPECT_EQ(g->ncol(), 0u);
    EXPECT_EQ(g->nrow(), 5u);

    const Bytes map_bytes = encoded([](auto& o) {
        o.count(3);
        for (auto [k, v] : {std::pair{"a", 1.0}, std::pair{"b", 2.0}, std::pair{"a", 3.0}}) {
            o.text(k);
            o.f64(v);
        }
    });
    Reader r(map_bytes);
    auto m = r.map([](Reader& rr) { return rr.f64(); });
    ASSERT_TRUE(m);
    ASSERT_EQ(m->size(), 2u);
    auto it = m->begin();
    EXPECT_EQ(it->first, "a");
    EXPECT_EQ(it->second, 3.0);
    ++it;
    EXPECT_EQ(it->first, "b");
    EXPECT_EQ(it->second, 2.0);
}

// ================================================================= records

/// A record shaped like the surface-family payloads: nested records,
/// options, maps, lists of tuples and 2-D arrays.
struct Code {
    std::optional<std::string> label, color;
    bool operator==(const Code&) const = default;
};
struct Meta {
    std::string id, label;
    std::uint32_t kind = 0;
    std::optional<std::string> units;
    std::optional<OrderedMap<std::string, Code>> codes;
    bool operator==(const Meta&) const = default;
};
struct Lane {
    Meta meta;
    Grid2 values;
    bool operator==(const Lane&) const = default;
};
struct Label {
    std::uint32_t block;
    std::int32_t i, j;
    bool operator==(const Label&) const = default;
};
struct Record {
    double xori = 0, yori = 0;
    std::uint64_t ncol = 0, nrow = 0;
    bool yflip = false;
    Grid2 values;
    std::optional<Meta> primary;
    OrderedMap<std::string, Lane> lanes;
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> triangles;
    std::vector<std::optional<Label>> labels;
    std::vector<std::string> history;
};

bool same(const Record& a, const Record& b) {
    auto bits = [](const Grid2& g) {
        std::vector<std::uint64_t> v;
        for (double d : g.values()) v.push_back(std::bit_cast<std::uint64_t>(d));
        return std::tuple(g.ncol(), g.nrow(), v);
    };
    if (a.lanes.size() != b.lanes.size()) return false;
    for (auto ia = a.lanes.begin(), ib = b.lanes.begin(); ia != a.lanes.end(); ++ia, ++ib) {
        if (ia->first != ib->first || !(ia->second.meta == ib->second.meta) ||
            bits(ia->second.values) != bits(ib->second.values)) {
            return false;
        }
    }
    return std::bit_cast<std::uint64_t>(a.xori) == std::bit_cast<std::uint64_t>(b.xori) && a.yori == b.yori &&
           a.ncol == b.ncol && a.nrow == b.nrow && a.yflip == b.yflip && bits(a.values) == bits(b.values) &&
           a.primary == b.primary && a.triangles == b.triangles && a.labels == b.labels && a.history == b.history;
}

template <class Out>
void put_meta(Out& o, const Meta& m) {
    o.text(m.id);
    o.text(m.label);
    o.variant(m.kind);
    option(o, m.units, [](auto& oo, const std::string& s) { oo.text(s); });
    option(o, m.codes, [](auto& oo, const OrderedMap<std::string, Code>& codes) {
        map(oo, codes, [](auto& o3, const Code& c) {
            option(o3, c.label, [](auto& o4, const std::string& s) { o4.text(s); });
            option(o3, c.color, [](auto& o4, const std::string& s) { o4.text(s); });
        });
    });
}

template <class Out>
void put_record(Out& o, const Record& r) {
    o.f64(r.xori);
    o.f64(r.yori);
    o.u64(r.ncol);
    o.u64(r.nrow);
    o.boolean(r.yflip);
    o.grid(r.values);
    option(o, r.primary, [](auto& oo, const Meta& m) { put_meta(oo, m); });
    map(o, r.lanes, [](auto& oo, const Lane& lane) {
        put_meta(oo, lane.meta);
        oo.grid(lane.values);
    });
    list(o, r.triangles, [](auto& oo, const auto& t) {
        oo.u32(std::get<0>(t));
        oo.u32(std::get<1>(t));
        oo.u32(std::get<2>(t));
    });
    list(o, r.labels, [](auto& oo, const std::optional<Label>& l) {
        option(oo, l, [](auto& o3, const Label& x) {
            o3.u32(x.block);
            o3.i32(x.i);
            o3.i32(x.j);
        });
    });
    o.text_list(r.history);
}

Result<Meta> read_meta(Reader& r) {
    Meta m;
    VZ_ASSIGN_OR_RETURN(m.id, r.text());
    VZ_ASSIGN_OR_RETURN(m.label, r.text());
    VZ_ASSIGN_OR_RETURN(m.kind, r.variant(2));
    VZ_ASSIGN_OR_RETURN(m.units, r.option([](Reader& rr) { return rr.text(); }));
    VZ_ASSIGN_OR_RETURN(m.codes, r.option([](Reader& rr) {
        return rr.map([](Reader& r3) -> Result<Code> {
            Code c;
            VZ_ASSIGN_OR_RETURN(c.label, r3.option([](Reader& r4) { return r4.text(); }));
            VZ_ASSIGN_OR_RETURN(c.color, r3.option([](Reader& r4) { return r4.text(); }));
            return c;
        });
    }));
    return m;
}

Result<Record> read_record_from(Reader& r) {
    Record rec;
    VZ_ASSIGN_OR_RETURN(rec.xori, r.f64());
    VZ_ASSIGN_OR_RETURN(rec.yori, r.f64());
    VZ_ASSIGN_OR_RETURN(rec.ncol, r.u64());
    VZ_ASSIGN_OR_RETURN(rec.nrow, r.u64());
    VZ_ASSIGN_OR_RETURN(rec.yflip, r.boolean());
    VZ_ASSIGN_OR_RETURN(rec.values, r.grid());
    VZ_ASSIGN_OR_RETURN(rec.primary, r.option(read_meta));
    VZ_ASSIGN_OR_RETURN(rec.lanes, r.map([](Reader& rr) -> Result<Lane> {
        Lane lane;
        VZ_ASSIGN_OR_RETURN(lane.meta, read_meta(rr));
        VZ_ASSIGN_OR_RETURN(lane.values, rr.grid());
        return lane;
    }));
    using Tri = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
    VZ_ASSIGN_OR_RETURN(rec.triangles, r.list([](Reader& rr) -> Result<Tri> {
        VZ_ASSIGN_OR_RETURN(auto a, rr.u32());
        VZ_ASSIGN_OR_RETURN(auto b, rr.u32());
        VZ_ASSIGN_OR_RETURN(auto c, rr.u32());
        return Tri{a, b, c};
    }));
    VZ_ASSIGN_OR_RETURN(rec.labels, r.list([](Reader& rr) {
        return rr.option([](Reader& r3) -> Result<Label> {
            Label l{};
            VZ_ASSIGN_OR_RETURN(l.block, r3.u32());
            VZ_ASSIGN_OR_RETURN(l.i, r3.i32());
            VZ_ASSIGN_OR_RETURN(l.j, r3.i32());
            return l;
        });
    }));
    VZ_ASSIGN_OR_RETURN(rec.history, r.text_list());
    return rec;
}

Result<Record> read_record(std::span<const std::uint8_t> bytes) { return decode(bytes, read_record_from); }

Record sample_record() {
    Record r;
    r.xori = -0.0;
    r.yori = 1e6;
    r.ncol = 3;
    r.nrow = 2;
    r.yflip = true;
    r.values = Grid2(3, 2);
    for (std::size_t k = 0; k < 6; ++k) r.values.data()[k] = k == 4 ? std::nan("") : 0.5 * static_cast<double>(k);
    Meta m{"facies", "Facies \xE2\x9C\x93", 1, "m", OrderedMap<std::string, Code>{}};
    m.codes->insert_or_assign("1", Code{"sand", "#FFCC00"});
    m.codes->insert_or_assign("2", Code{std::nullopt, std::nullopt});
    r.primary = m;
    r.lanes.insert_or_assign("phi", Lane{Meta{"phi", "phi", 0, std::nullopt, std::nullopt}, Grid2(3, 2, 0.25)});
    r.lanes.insert_or_assign("empty", Lane{Meta{"empty", "", 0, std::nullopt, std::nullopt}, Grid2(0, 2)});
    r.triangles = {{0, 1, 2}, {2, 1, 3}};
    r.labels = {Label{1, -2, 3}, std::nullopt, Label{0, 0, 0}};
    r.history = {"loaded", "", "smoothed"};
    return r;
}

TEST(PayloadRecords, RoundTripAndTrailingBytes) {
    const Record rec = sample_record();
    Bytes bytes = encoded([&](auto& o) { put_record(o, rec); });
    auto back = read_record(bytes);
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_TRUE(same(*back, rec));
    // Equal records give identical bytes.
    EXPECT_EQ(encoded([&](auto& o) { put_record(o, *back); }), bytes);
    // Extra bytes after the record are ignored.
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0x02});
    auto padded = read_record(bytes);
    ASSERT_TRUE(padded);
    EXPECT_TRUE(same(*padded, rec));
}

TEST(PayloadRecords, TruncationsAndByteFlipsNeverCrash) {
    const Bytes good = encoded([&](auto& o) { put_record(o, sample_record()); });
    std::mt19937_64 rng(77);
    // Every truncation fails (the record has no optional tail).
    for (std::size_t n = 0; n < good.size(); ++n) {
        auto r = read_record(std::span(good).first(n));
        ASSERT_FALSE(r) << n;
        EXPECT_EQ(r.error().display().rfind("parse error: deserialize: ", 0), 0u);
    }
    int decoded = 0;
    for (int k = 0; k < 20000; ++k) {
        Bytes b = good;
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) {
            const std::size_t at = rng() % b.size();
            // Counts and lengths are the interesting targets: large values.
            b[at] = (rng() % 2 == 0) ? static_cast<std::uint8_t>(rng()) : std::uint8_t{0xFF};
        }
        auto r = read_record(b);
        if (r) {
            ++decoded;
        } else {
            EXPECT_EQ(r.error().display().rfind("parse error: deserialize: ", 0), 0u);
        }
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace vz::payload
