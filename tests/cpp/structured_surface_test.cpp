// Structured mesh surfaces: construction on a shared shell, lanes and their
// metadata rules, lane promotion, node queries, statistics and points.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/structured_surface.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

template <class F>
Grid2 grid(std::size_t ncol, std::size_t nrow, F f) {
    Grid2 g(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) g(i, j) = f(i, j);
    return g;
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

/// Surface on a 3 x 2 shell, node (i, j) at (100 + 10 i, 50 + 5 j), value
/// i + 10 j.
StructuredMeshSurface surface3x2() {
    auto s = StructuredMeshSurface::make(grid(3, 2, [](auto i, auto) { return 100.0 + 10.0 * double(i); }),
                                         grid(3, 2, [](auto, auto j) { return 50.0 + 5.0 * double(j); }),
                                         grid(3, 2, [](auto i, auto j) { return double(i) + 10.0 * double(j); }),
                                         std::nullopt, PolygonSet{});
    EXPECT_TRUE(s) << error_text(s);
    return *std::move(s);
}

AttributeMetadata categorical(const std::string& id) {
    AttributeMetadata m{id, "Facies", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    m.codes->insert({"1", CodeRecord{"sand", "#FFCC00"}});
    m.codes->insert({"2", CodeRecord{"shale", "#336699"}});
    return m;
}

AttributeMetadata continuous(const std::string& id, const std::string& label = "Label") {
    return AttributeMetadata{id, label, AttributeKind::Continuous, std::string("m"), std::nullopt};
}

// ---- construction ---------------------------------------------------------

TEST(StructuredSurfaceBuild, FromShellChecksTheShapeAndStartsTheHistory) {
    auto shell = std::make_shared<const StructuredShell>(
        *StructuredShell::make(Grid2(4, 3, 1.0), Grid2(4, 3, 2.0), std::nullopt, PolygonSet{}));
    struct Case {
        std::size_t ncol, nrow;
        const char* message;
    };
    const Case cases[] = {
        {4, 3, nullptr},
        {3, 4, "StructuredMeshSurface::from_shell: lane shape [3, 4] != shell (ncol=4, nrow=3)"},
        {4, 2, "StructuredMeshSurface::from_shell: lane shape [4, 2] != shell (ncol=4, nrow=3)"},
        {0, 0, "StructuredMeshSurface::from_shell: lane shape [0, 0] != shell (ncol=4, nrow=3)"},
    };
    for (const auto& c : cases) {
        auto s = StructuredMeshSurface::from_shell(shell, Grid2(c.ncol, c.nrow, 7.0));
        if (!c.message) {
            ASSERT_TRUE(s) << error_text(s);
            EXPECT_EQ(s->shell.get(), shell.get());
            EXPECT_EQ(s->history.entries(), std::vector<std::string>{"structured_surface.from_shell"});
            EXPECT_FALSE(s->primary_metadata);
            EXPECT_TRUE(s->attributes.empty());
            continue;
        }
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
        EXPECT_EQ(s.error().message(), c.message);
    }
}

TEST(StructuredSurfaceBuild, MakeBuildsTheShellThenTheSurface) {
    struct Case {
        const char* what;
        Grid2 x, y, v;
        const char* message;
    };
    const Case cases[] = {
        {"empty shape", Grid2(0, 3), Grid2(0, 3), Grid2(0, 3), "StructuredShell::new: shape must be non-empty"},
        {"x/y differ", Grid2(2, 3), Grid2(2, 4), Grid2(2, 3), "StructuredShell::new: x/y shapes differ: x=(2, 3), y=(2, 4)"},
        {"values differ", Grid2(2, 3), Grid2(2, 3), Grid2(3, 2),
         "StructuredMeshSurface::from_shell: lane shape [3, 2] != shell (ncol=2, nrow=3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = StructuredMeshSurface::make(c.x, c.y, c.v, std::nullopt, PolygonSet{});
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
        EXPECT_EQ(s.error().message(), c.message);
    }
    const GridGeometry nominal{100, 50, 10, 5, 3, 2, 0, false};
    auto s = StructuredMeshSurface::make(Grid2(3, 2, 1.0), Grid2(3, 2, 2.0), Grid2(3, 2, 3.0), nominal,
                                         PolygonSet::from_grid_geometry(nominal));
    ASSERT_TRUE(s) << error_text(s);
    EXPECT_EQ(s->history.entries(), std::vector<std::string>{"structured_surface.new"});
    EXPECT_EQ(s->shell->nominal(), nominal);
    EXPECT_EQ(s->shell->edge().size(), 1u);
    EXPECT_EQ(s->ncol(), 3u);
    EXPECT_EQ(s->nrow(), 2u);
}

TEST(StructuredSurfaceBuild, FromShellWithoutAShellIsAnError) {
    auto s = StructuredMeshSurface::from_shell(nullptr, Grid2(1, 1));
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
    EXPECT_EQ(s.error().message(), "StructuredMeshSurface::from_shell: no shell");
}

TEST(StructuredSurfaceBuild, CopiesAndPromotedLanesShareOneShell) {
    auto s = surface3x2();
    ASSERT_TRUE(s.set_attr("poro", Grid2(3, 2, 0.2)));
    const StructuredMeshSurface copy = s;
    auto promoted = s.as_attr_surface("poro");
    ASSERT_TRUE(promoted);
    EXPECT_EQ(copy.shell.get(), s.shell.get());
    EXPECT_EQ(promoted->shell.get(), s.shell.get());
    EXPECT_EQ(s.shell.use_count(), 3);
}

// ---- lanes --------------------------------------------------------------------

TEST(StructuredSurfaceLanes, SetAttrAddsDefaultMetadataAndKeepsExistingLanesInPlace) {
    auto s = surface3x2();
    ASSERT_TRUE(s.set_attr("a", Grid2(3, 2, 1.0)));
    ASSERT_TRUE(s.set_attr_with_metadata("b", Grid2(3, 2, 2.0), continuous("b", "Bee")));
    ASSERT_TRUE(s.set_attr("c", Grid2(3, 2, 3.0)));
    ASSERT_TRUE(s.set_attr("b", Grid2(3, 2, 9.0)));
    EXPECT_EQ(s.attr_names(), (std::vector<std::string_view>{"a", "b", "c"}));
    EXPECT_EQ(*s.attr_metadata("a"), (AttributeMetadata{"a", "a", AttributeKind::Continuous, std::nullopt, std::nullopt}));
    EXPECT_EQ(*s.attr_metadata("b"), continuous("b", "Bee"));
    EXPECT_EQ(*s.attr("b"), Grid2(3, 2, 9.0));
    EXPECT_EQ(s.history.entries(),
              (std::vector<std::string>{"structured_surface.new", "structured_surface.set_attr(name=a)",
                                        "structured_surface.set_attr_with_metadata(name=b)",
                                        "structured_surface.set_attr(name=c)", "structured_surface.set_attr(name=b)"}));
    EXPECT_EQ(s.attr_metadata("missing"), nullptr);
    EXPECT_EQ(s.attr("missing"), nullptr);
}

TEST(StructuredSurfaceLanes, CategoricalLaneAcceptsOnlyWholeOrNonFiniteValues) {
    struct Case {
        double value;
        bool ok;
    };
    const Case cases[] = {{2.5, false}, {-0.25, false}, {2.0, true}, {-7.0, true}, {kNaN, true}, {kInf, true},
                          {-kInf, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto s = surface3x2();
        ASSERT_TRUE(s.set_attr_with_metadata("facies", Grid2(3, 2, 1.0), categorical("facies")));
        const auto before_lanes = s.attributes;
        const auto before_history = s.history;
        Grid2 lane(3, 2, 1.0);
        lane(2, 1) = c.value;
        auto r = s.set_attr("facies", lane);
        if (!c.ok) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
            EXPECT_EQ(r.error().message(), "categorical attribute 'facies' values must be integers or NaN");
            EXPECT_EQ(s.attributes, before_lanes);
            EXPECT_EQ(s.history, before_history);
        } else {
            ASSERT_TRUE(r) << error_text(r);
            EXPECT_EQ(*s.attr_metadata("facies"), categorical("facies"));
            EXPECT_TRUE(same((*s.attr("facies"))(2, 1), c.value));
        }
        // The same values through the whole-lane setter follow the same rule.
        auto with = s.set_attr_with_metadata("facies", lane, categorical("facies"));
        EXPECT_EQ(bool(with), c.ok);
    }
}

TEST(StructuredSurfaceLanes, SetAttrFailuresLeaveTheSurfaceUnchanged) {
    struct Case {
        const char* what;
        std::string name;
        Grid2 values;
        ErrorKind kind;
        const char* message;
    };
    const Case cases[] = {
        {"shape", "a", Grid2(2, 2), ErrorKind::GeometryMismatch,
         "StructuredMeshSurface::set_attr: lane shape [2, 2] != shell (ncol=3, nrow=2)"},
        {"empty name", "", Grid2(3, 2), ErrorKind::Parse,
         "attribute metadata id and label must be non-empty, trimmed strings"},
        {"untrimmed name", " a", Grid2(3, 2), ErrorKind::Parse,
         "attribute metadata id and label must be non-empty, trimmed strings"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = surface3x2();
        auto r = s.set_attr(c.name, c.values);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), c.kind);
        EXPECT_EQ(r.error().message(), c.message);
        EXPECT_TRUE(s.attributes.empty());
        EXPECT_EQ(s.history.entries(), std::vector<std::string>{"structured_surface.new"});
    }
}

TEST(StructuredSurfaceLanes, SetAttrWithMetadataChecksInOrder) {
    AttributeMetadata with_codes = continuous("a");
    with_codes.codes = CodeTable{};
    struct Case {
        const char* what;
        std::string name;
        Grid2 values;
        AttributeMetadata meta;
        ErrorKind kind;
        const char* message;
    };
    const Case cases[] = {
        {"shape before metadata", "a", Grid2(3, 3), AttributeMetadata{"", "", AttributeKind::Continuous, {}, {}},
         ErrorKind::GeometryMismatch,
         "StructuredMeshSurface::set_attr_with_metadata: lane shape [3, 3] != shell (ncol=3, nrow=2)"},
        {"validation before id", "zzz", Grid2(3, 2), with_codes, ErrorKind::Parse,
         "continuous attribute metadata must use codes=null"},
        {"id differs in case", "Poro", Grid2(3, 2), continuous("poro"), ErrorKind::Parse,
         "attribute metadata id 'poro' must match lane name 'Poro'"},
        {"fractional categorical", "facies", Grid2(3, 2, 1.5), categorical("facies"), ErrorKind::Parse,
         "categorical attribute 'facies' values must be integers or NaN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = surface3x2();
        auto r = s.set_attr_with_metadata(c.name, c.values, c.meta);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), c.kind);
        EXPECT_EQ(r.error().message(), c.message);
        EXPECT_TRUE(s.attributes.empty());
        EXPECT_EQ(s.history.size(), 1u);
    }
}

TEST(StructuredSurfaceLanes, SetAttrWithMetadataReplacesInPlace) {
    auto s = surface3x2();
    for (const char* n : {"a", "b", "c"}) ASSERT_TRUE(s.set_attr(n, Grid2(3, 2, 1.0)));
    ASSERT_TRUE(s.set_attr_with_metadata("b", Grid2(3, 2, 2.0), categorical("b")));
    EXPECT_EQ(s.attr_names(), (std::vector<std::string_view>{"a", "b", "c"}));
    EXPECT_EQ(*s.attr_metadata("b"), categorical("b"));
    EXPECT_EQ(*s.attr("b"), Grid2(3, 2, 2.0));
    EXPECT_EQ(s.history.entries().back(), "structured_surface.set_attr_with_metadata(name=b)");
}

TEST(StructuredSurfaceLanes, AsAttrSurfacePromotesOnlyTheLane) {
    auto s = surface3x2();
    s.primary_metadata = continuous("depth");
    ASSERT_TRUE(s.set_attr_with_metadata("facies", Grid2(3, 2, 2.0), categorical("facies")));
    ASSERT_TRUE(s.set_attr("other", Grid2(3, 2, 5.0)));

    EXPECT_FALSE(s.as_attr_surface("missing"));
    EXPECT_FALSE(s.as_attr_surface("Facies"));  // exact name only

    auto p = s.as_attr_surface("facies");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->values, Grid2(3, 2, 2.0));
    EXPECT_EQ(p->primary_metadata, categorical("facies"));
    EXPECT_TRUE(p->attributes.empty());
    EXPECT_EQ(p->shell.get(), s.shell.get());
    auto expected = s.history.entries();
    expected.push_back("structured_surface.as_attr_surface(name=facies)");
    EXPECT_EQ(p->history.entries(), expected);
    // The source keeps its own values and lanes.
    EXPECT_EQ(s.values(1, 1), 11.0);
    EXPECT_EQ(s.attributes.size(), 2u);
}

// ---- queries ----------------------------------------------------------------------

TEST(StructuredSurfaceQueries, ZAndNodeXYShareOneRangeCheck) {
    auto s = surface3x2();
    s.values(1, 0) = kNaN;
    struct Case {
        std::uint64_t i, j;
        const char* message;
    };
    const Case cases[] = {
        {2, 1, nullptr},
        {1, 0, nullptr},
        {3, 0, "structured surface node (3, 0) outside shape (ncol=3, nrow=2)"},
        {0, 2, "structured surface node (0, 2) outside shape (ncol=3, nrow=2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.i << "," << c.j);
        auto z = s.z(c.i, c.j);
        auto xy = s.node_xy(c.i, c.j);
        if (!c.message) {
            ASSERT_TRUE(z && xy);
            EXPECT_TRUE(same(*z, s.values(c.i, c.j)));
            EXPECT_EQ(xy->first, 100.0 + 10.0 * double(c.i));
            EXPECT_EQ(xy->second, 50.0 + 5.0 * double(c.j));
            continue;
        }
        ASSERT_FALSE(z);
        ASSERT_FALSE(xy);
        EXPECT_EQ(z.error().kind(), ErrorKind::OutOfRange);
        EXPECT_EQ(z.error().message(), c.message);
        EXPECT_EQ(xy.error(), z.error());
    }
    EXPECT_TRUE(std::isnan(*s.z(1, 0)));
}

TEST(StructuredSurfaceQueries, StatsSkipNaNAndBBoxComesFromTheShell) {
    auto s = surface3x2();
    s.values(0, 0) = kNaN;
    const Stats st = s.stats();
    EXPECT_EQ(st.count, 5u);
    EXPECT_EQ(st.min, 1.0);
    EXPECT_EQ(st.max, 12.0);
    EXPECT_EQ(st.sum, 1.0 + 2.0 + 10.0 + 11.0 + 12.0);
    EXPECT_EQ(s.bbox(), (BBox{100, 50, 120, 55}));
}

TEST(StructuredSurfaceQueries, ToPointsSkipsAbsentNodesKeepsNaNValues) {
    // Node (0, 0) has no y, node (2, 1) no x; node (1, 0) has no value.
    Grid2 x = grid(3, 2, [](auto i, auto j) { return i == 2 && j == 1 ? kNaN : double(i); });
    Grid2 y = grid(3, 2, [](auto i, auto j) { return i == 0 && j == 0 ? kInf : double(j); });
    Grid2 v = grid(3, 2, [](auto i, auto j) { return i == 1 && j == 0 ? kNaN : double(i) + 10.0 * double(j); });
    auto s = StructuredMeshSurface::make(x, y, v, std::nullopt, PolygonSet{});
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->set_attr("lane", Grid2(3, 2, 4.0)));
    const PointSet p = s->to_points();
    // Rows outer, columns inner: (1,0) (2,0) (0,1) (1,1).
    const std::vector<std::array<double, 3>> expected{{1, 0, kNaN}, {2, 0, 2}, {0, 1, 10}, {1, 1, 11}};
    ASSERT_EQ(p.points.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        for (int c = 0; c < 3; ++c) EXPECT_TRUE(same(p.points[k][c], expected[k][c])) << k << "," << c;
    EXPECT_EQ(p.attr_names(), (std::vector<std::string>{"column", "row"}));
    EXPECT_EQ(p.attributes.at("column"), (std::vector<double>{2, 3, 1, 2}));
    EXPECT_EQ(p.attributes.at("row"), (std::vector<double>{1, 1, 2, 2}));
    EXPECT_EQ(p.history.entries(),
              (std::vector<std::string>{"structured_surface.new", "structured_surface.set_attr(name=lane)",
                                        "structured_surface.to_points()"}));

    auto empty = StructuredMeshSurface::make(Grid2(2, 2, kNaN), Grid2(2, 2, 0.0), Grid2(2, 2, 1.0), std::nullopt,
                                             PolygonSet{});
    ASSERT_TRUE(empty);
    const PointSet none = empty->to_points();
    EXPECT_TRUE(none.points.empty());
    EXPECT_EQ(none.attr_names(), (std::vector<std::string>{"column", "row"}));
    EXPECT_TRUE(none.attributes.at("column").empty());
}

}  // namespace
}  // namespace vz
