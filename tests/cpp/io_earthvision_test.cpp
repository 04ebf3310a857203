#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "io/earthvision.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

constexpr double N = -1e300;  // NaN in expectation tables
constexpr double kInf = std::numeric_limits<double>::infinity();

struct NodeRow {
    double x, y, z, column, row;  // N: NaN z / absent number
    bool operator==(const NodeRow&) const = default;
};

std::vector<NodeRow> rows_of(const EarthVisionGrid& g) {
    std::vector<NodeRow> out;
    for (const auto& n : g.nodes)
        out.push_back({n.x, n.y, std::isnan(n.z) ? N : n.z, n.column.value_or(N), n.row.value_or(N)});
    return out;
}

TEST(EarthVision, ReadGrid) {
    using Size = std::optional<std::pair<std::uint64_t, std::uint64_t>>;
    struct Case {
        const char* name;
        std::string content;
        Size size;
        std::vector<NodeRow> nodes;
    };
    const Case cases[] = {
        {"grid size only", "#Grid_size: 3 x 2\n", Size{{3, 2}}, {}},
        {"rows without header", "1 2 3\n4,5,6\n", std::nullopt, {{1, 2, 3, N, N}, {4, 5, 6, N, N}}},
        {"one number grid size", "#grid_size 7\n", std::nullopt, {}},
        {"last grid size wins", "#Grid_size: 2 x 3\n#Grid_size: 4 x 5\n#Grid_size: 9\n", Size{{4, 5}}, {}},
        {"too long digit run dropped", "#Grid_size: 99999999999999999999999 x 4 x 6\n", Size{{4, 6}}, {}},
        {"null applies after its line", "# EarthVision\n1 2 -999\n#Null_value: -999.0\n1 2 -999\n1 2 -999.5\n",
         std::nullopt, {{1, 2, -999, N, N}, {1, 2, N, N, N}, {1, 2, -999.5, N, N}}},
        {"big z always null", "#x\n1 2 1e29\n1 2 abc 3\n10 20 30 4\n10 20 30 4 5 6\n1 2\n", std::nullopt,
         {{1, 2, N, N, N}, {1, 2, 3, N, N}, {10, 20, 30, 4, N}, {10, 20, 30, 4, 5}}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = earthvision::read_grid(dir.write("g.ev", c.content));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(r->grid_size, c.size) << c.name;
        EXPECT_EQ(rows_of(*r), c.nodes) << c.name;
    }
}

TEST(EarthVision, NoMarkersNoRows) {
    for (const char* content : {"", "#exported\n1 2\n\n", "# Grid_sizes are 3\n"}) {
        testing::ScratchDir dir;
        auto r = earthvision::read_grid(dir.write("g.ev", content));
        if (std::string(content).find("Grid_size") != std::string::npos) {
            EXPECT_TRUE(r) << content;  // a Grid_size line is a marker
            continue;
        }
        ASSERT_FALSE(r) << content;
        EXPECT_EQ(r.error(), Error::format("EarthVision grid: no header markers and no data rows"));
    }
    testing::ScratchDir dir;
    EXPECT_EQ(earthvision::read_grid(dir.path("absent")).error().kind(), ErrorKind::Io);
}

TEST(EarthVision, ReadPoints) {
    testing::ScratchDir dir;
    auto r = earthvision::read_points(dir.write("g.ev", "1 2 1e30 0 0\n3 4 5 1 0\n6 7 8 9\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->points, (std::vector<std::array<double, 3>>{{3, 4, 5}, {6, 7, 8}}));
    ASSERT_EQ(r->attributes.size(), 2u);
    EXPECT_EQ(r->attributes.begin()->first, "column");
    EXPECT_EQ(r->attributes.at("column"), (std::vector<double>{1, 9}));
    EXPECT_EQ(r->attributes.at("row")[0], 0);
    EXPECT_TRUE(std::isnan(r->attributes.at("row")[1]));

    auto bare = earthvision::read_points(dir.write("b.ev", "1 2 3\n"));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->attributes.empty());

    auto all_null = earthvision::read_points(dir.write("n.ev", "1 2 1e30 1 1\n"));
    ASSERT_TRUE(all_null);
    EXPECT_TRUE(all_null->points.empty());
    EXPECT_EQ(all_null->attributes.size(), 2u);
}

TEST(EarthVision, NodeIndex) {
    struct Case {
        double value;
        std::optional<std::uint64_t> index;
        std::string message;
    };
    const Case cases[] = {
        {0, 0, ""},
        {-0.0, 0, ""},
        {7.0000000005, 7, ""},
        {3.0000000001, 3, ""},
        {9007199254740992.0, 9007199254740992ull, ""},
        {18446744073709551616.0, std::numeric_limits<std::uint64_t>::max(), ""},
        {-1, std::nullopt, "EarthVision column index must be a finite non-negative integer, got -1"},
        {0.5, std::nullopt, "EarthVision column index must be a finite non-negative integer, got 0.5"},
        {6.9999999999, std::nullopt, "EarthVision column index must be a finite non-negative integer, got 6.9999999999"},
        {std::nan(""), std::nullopt, "EarthVision column index must be a finite non-negative integer, got NaN"},
        {kInf, std::nullopt, "EarthVision column index must be a finite non-negative integer, got inf"},
        {36893488147419103232.0, std::nullopt, "EarthVision column index exceeds platform range: 36893488147419103000"},
    };
    for (const auto& c : cases) {
        auto r = earthvision::node_index(c.value, "column");
        if (c.index) {
            ASSERT_TRUE(r) << c.value;
            EXPECT_EQ(*r, *c.index) << c.value;
        } else {
            ASSERT_FALSE(r) << c.value;
            EXPECT_EQ(r.error(), Error::geometry_inference(c.message));
        }
    }
    EXPECT_EQ(earthvision::node_index(-2, "row").error().message(),
              "EarthVision row index must be a finite non-negative integer, got -2");
}

TEST(EarthVision, SharedSamples) {
    struct Case {
        const char* file;
        std::size_t nodes;
    };
    const Case cases[] = {{"resinsight_small_flipped_clipped.ptl", 8}, {"resinsight_norne_test.ptl", 3441}};
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("earthvision/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = earthvision::read_grid(p);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ(r->grid_size, std::nullopt) << c.file;  // "Grid_size: Not_available"
        EXPECT_EQ(r->nodes.size(), c.nodes) << c.file;
        for (const auto& n : r->nodes) {
            ASSERT_TRUE(n.column && n.row) << c.file;
            EXPECT_TRUE(earthvision::node_index(*n.column, "column")) << c.file;
        }
        auto pts = earthvision::read_points(p);
        ASSERT_TRUE(pts);
        EXPECT_EQ(pts->attributes.size(), 2u);
    }
}

}  // namespace
}  // namespace vz
