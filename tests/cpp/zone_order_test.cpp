#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/well_tables.hpp"

namespace vz {
namespace {

TEST(ZoneOrder, ByStratigraphicColumn) {
    struct Case {
        std::vector<std::string> zones, column, want;
    };
    const Case cases[] = {
        // First met over bores B, C then A; the column puts A first.
        {{"B", "C", "A"}, {"A", "B", "C"}, {"A", "B", "C"}},
        // Unknown zones follow, in the order given; names match ASCII
        // case-insensitively and keep their own spelling.
        {{"X", "c", "Y", "a"}, {"A", "B", "C"}, {"a", "c", "X", "Y"}},
        {{"B", "A"}, {}, {"B", "A"}},
        {{}, {"A"}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(well_tables::order_by_column(c.zones, c.column), c.want);
}

TEST(ZoneOrder, TablesFollowTheColumn) {
    // Tidy: only the zone order moves; the rows stay bore by bore.
    ZoneTable tidy{{"B", "C", "A", "B"}, {"1", "1", "2", "2"}, {{1, 2, 3, 4}}, std::vector<std::string>{"B", "C", "A"}};
    well_tables::order_table_by_column(tidy, std::vector<std::string>{"A", "B", "C"});
    EXPECT_EQ(tidy.zone_order, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(tidy.zone, (std::vector<std::string>{"B", "C", "A", "B"}));

    // Aggregate: whole zone blocks move, each still opened by its pooled row,
    // every column moving with its rows; unknown zones keep their order last.
    ZoneTable agg{{"B", "B", "X", "A", "A", "A"},
                  {"all", "1", "all", "all", "1", "2"},
                  {{1, 2, 3, 4, 5, 6}, {10, 20, 30, 40, 50, 60}},
                  std::nullopt};
    well_tables::order_table_by_column(agg, std::vector<std::string>{"a", "b"});
    EXPECT_EQ(agg.zone, (std::vector<std::string>{"A", "A", "A", "B", "B", "X"}));
    EXPECT_EQ(agg.bore, (std::vector<std::string>{"all", "1", "2", "all", "1", "all"}));
    EXPECT_EQ(agg.stats[0], (std::vector<double>{4, 5, 6, 1, 2, 3}));
    EXPECT_EQ(agg.stats[1], (std::vector<double>{40, 50, 60, 10, 20, 30}));
    EXPECT_FALSE(agg.zone_order.has_value());
}

}  // namespace
}  // namespace vz
