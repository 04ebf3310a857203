#include <gtest/gtest.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <shapefil.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "io/points_load.hpp"
#include "io/surface_load.hpp"
#include "io_test_util.hpp"
#include "manager/geodata.hpp"
#include "manager/loaders.hpp"

namespace vz {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// Writes `bytes` to `rel` under `root`, creating the folders on the way.
fs::path put(const fs::path& root, const std::string& rel, std::string_view bytes) {
    fs::path p = root / rel;
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
}

/// A survey file: header wellhead and datum, optional CRS line, and one row
/// per (md, tvd) with the columns md x y z tvd dx dy twt incl dls azim.
std::string wellpath(double hx, double hy, double datum, const std::vector<std::pair<double, double>>& rows,
                     const std::string& crs_line = "") {
    std::string s = "# WELL TRACE FROM PETREL\n";
    s += "# WELL HEAD X-COORDINATE: " + std::to_string(hx) + " (m)\n";
    s += "# WELL HEAD Y-COORDINATE: " + std::to_string(hy) + " (m)\n";
    s += "# WELL DATUM (KB, Kelly bushing, from MSL): " + std::to_string(datum) + " (m)\n";
    if (!crs_line.empty()) s += "# " + crs_line + "\n";
    s += "# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n";
    s += "# ======================================\n";
    for (auto [md, tvd] : rows)
        s += std::to_string(md) + " " + std::to_string(hx) + " " + std::to_string(hy) + " " + std::to_string(-tvd) +
             " " + std::to_string(tvd) + " 0 0 0 0 0 0\n";
    return s;
}

/// A LAS 2.0 file with a depth curve and the named curves (one value column
/// each, value = depth / 10 + curve index).
std::string las2(const std::vector<std::string>& curves, const std::vector<double>& depths) {
    std::string s = "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\nDEPT.M : depth\n";
    for (const auto& c : curves) s += c + ".U : c\n";
    s += "~A\n";
    for (double d : depths) {
        s += std::to_string(d);
        for (std::size_t k = 0; k < curves.size(); ++k) s += " " + std::to_string(d / 10 + static_cast<double>(k));
        s += "\n";
    }
    return s;
}

/// A LAS 3.0 file with one curve.
std::string las3(const std::string& curve, const std::vector<double>& depths) {
    std::string s = "~Version\n VERS. 3.0 : v\n~Well\n NULL. -999.25 : n\n~Curve\nDEPT.M : d\n" + curve + ".U : c\n~A\n";
    for (double d : depths) s += std::to_string(d) + " 7\n";
    return s;
}

std::vector<std::string> bore_labels(const Well& w) {
    std::vector<std::string> out;
    for (const auto& [label, bore] : w.bores) out.push_back(label);
    return out;
}

std::vector<std::string> mnemonics_of(const Sidetrack& b) {
    std::vector<std::string> out;
    for (const auto& l : b.logs) out.push_back(l.mnemonic);
    return out;
}

// ---- the naming rules ------------------------------------------------------

TEST(LoaderRules, NameKeyAndMatching) {
    EXPECT_EQ(loaders::name_key(" 15/9-A 1 "), "15_9_a_1");
    EXPECT_EQ(loaders::name_key("A  B"), "a__b");  // runs are not collapsed
    EXPECT_EQ(loaders::name_key("\xC2\xA0W\xC3\x89-1"), "w\xC3\x89_1");  // Unicode trim, ASCII-only lower-casing

    struct Case {
        const char* file;
        const char* key;
        bool match;
    };
    const Case cases[] = {
        {"W1.las", "w1", true},        {"W1_st1.wellpath", "w1", true}, {"W10.las", "w1", false},
        {"w-1_x.las", "w_1", true},    {"W1x.las", "w1", false},        {"sub/W1.tar.gz", "w1.tar", true},
        {"W1", "w1", true},            {".W1", "w1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(loaders::file_matches_well(c.file, c.key), c.match) << c.file;

    EXPECT_TRUE(loaders::name_matches("W1", " w1_ST1"));
    EXPECT_TRUE(loaders::name_matches("15/9-A 1", "15_9_A_1"));
    EXPECT_FALSE(loaders::name_matches("W1", "W10"));
    EXPECT_FALSE(loaders::name_matches("W1_st1", "W1"));
}

TEST(LoaderRules, Extensions) {
    EXPECT_EQ(loaders::lowercase_extension("a/b/grid.GRI"), "gri");
    EXPECT_EQ(loaders::lowercase_extension("a.b/noext"), "");
    EXPECT_EQ(loaders::lowercase_extension("x.tar.GZ"), "gz");
    EXPECT_EQ(loaders::lowercase_extension(".hidden"), "");
    EXPECT_EQ(loaders::lowercase_extension("bad.\xFF"), "");
    EXPECT_EQ(loaders::file_stem("bad\xFF.las"), "");
}

TEST(LoaderRules, SurveyBoreLabels) {
    struct Case {
        std::vector<fs::path> surveys;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {{"d/W1.wellpath"}, {""}},
        {{"d/W1_main.wellpath", "d/W1_st1.wellpath"}, {"main", "st1"}},
        {{"A_1.wellpath", "B_2.wellpath"}, {"A_1", "B_2"}},
        {{"W_1_a.wellpath", "W_1_b.wellpath"}, {"a", "b"}},   // the longest common prefix ending in '_'
        {{"W_1_a.wellpath", "W_2_b.wellpath"}, {"1_a", "2_b"}},
        {{"w1_a.wellpath", "W1_b.wellpath"}, {"w1_a", "W1_b"}},  // case-sensitive
    };
    for (const auto& c : cases) {
        auto labelled = loaders::wellpath_bore_labels(c.surveys);
        ASSERT_EQ(labelled.size(), c.labels.size());
        for (std::size_t k = 0; k < labelled.size(); ++k) {
            EXPECT_EQ(labelled[k].first, c.surveys[k]);
            EXPECT_EQ(labelled[k].second, c.labels[k]) << c.surveys[k];
        }
    }
}

TEST(LoaderRules, LogFileBores) {
    const std::vector<std::string> labels{"main", "st1", "", "A_1"};
    struct Case {
        const char* file;
        const char* bore;
    };
    const Case cases[] = {
        {"W1_st1_gr.las", "st1"}, {"W1.las", ""},          {"W1-ST1.las", "st1"}, {"x.main.st1.las", "main"},
        {"A_1.las", ""},          {"W1 main.las", "main"}, {"W1_st10.las", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(loaders::bore_for_file(c.file, labels), c.bore) << c.file;
}

TEST(LoaderRules, PetrelBoreLabelsAndWells) {
    struct LabelCase {
        const char* id;
        const char* row;
        const char* label;
    };
    const LabelCase labels[] = {
        {"W1", "W1_st1", "st1"},  {"W1", " W1_ST1 ", "ST1"}, {"W1", "W1", ""}, {"W1", "W1 - st 2_", "st 2"},
        {"A", "A_1_x", "1_x"},    {"W1", "X1_st1", ""},
    };
    for (const auto& c : labels) EXPECT_EQ(loaders::tops_bore_label(c.id, c.row), c.label) << c.row;

    // Suffixed namesakes: the exact key wins, then the longest matching key,
    // whatever the order the wells were stored in.
    struct WellCase {
        std::vector<std::string> ids;
        const char* row;
        std::optional<std::size_t> well;
    };
    const WellCase wells[] = {
        {{"A", "A_1"}, "A_1_x", 1}, {{"A_1", "A"}, "A_1_x", 0}, {{"A", "A_1"}, "A_1", 1},
        {{"A", "A_1"}, "A_2", 0},   {{"A", "A_1"}, "B", std::nullopt}, {{"W 1", "W-1"}, "w_1_x", 0},
        {{"W1", "W10"}, "W10_a", 1},
    };
    for (const auto& c : wells) EXPECT_EQ(loaders::pick_well(c.ids, c.row), c.well) << c.row;
}

TEST(LoaderRules, MdRangeOfLogs) {
    auto log = [](std::vector<double> md) { return *Log::make("X", "", md, std::vector<double>(md.size(), 1.0)); };
    struct Case {
        std::vector<Log> logs;
        std::optional<std::pair<double, double>> range;
    };
    const Case cases[] = {
        {{log({1000, 1500}), log({900, 1200})}, std::make_pair(900.0, 1500.0)},
        {{log({1000}), log({1000})}, std::nullopt},
        {{log({}), log({kNaN, 5}), log({3, kNaN})}, std::nullopt},  // first mds: 3 only; last: 5 only -> 3..5
        {{log({1, std::numeric_limits<double>::infinity()})}, std::nullopt},
        {{}, std::nullopt},
    };
    // The third case has a range: NaN ends are ignored, not fatal.
    EXPECT_EQ(loaders::logs_md_range(cases[0].logs), cases[0].range);
    EXPECT_EQ(loaders::logs_md_range(cases[1].logs), cases[1].range);
    EXPECT_EQ(loaders::logs_md_range(cases[2].logs), std::make_optional(std::make_pair(3.0, 5.0)));
    EXPECT_EQ(loaders::logs_md_range(cases[3].logs), cases[3].range);
    EXPECT_EQ(loaders::logs_md_range(cases[4].logs), cases[4].range);
}

TEST(LoaderRules, RepeatedMnemonicsAreNumbered) {
    struct Case {
        std::vector<std::string> in;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {{"GR", "RT"}, {"GR", "RT"}},
        {{"RES", "RES", "RES"}, {"RES", "RES:2", "RES:3"}},
        // Repeats differ only in letter case; each keeps its own spelling.
        {{"RES", "res", "Res"}, {"RES", "res:2", "Res:3"}},
        // A name the file spells itself is never given to a repeat.
        {{"RES", "RES", "RES:2"}, {"RES", "RES:3", "RES:2"}},
        {{"res:2", "RES", "RES", "RES"}, {"res:2", "RES", "RES:3", "RES:4"}},
        {{"UNKNOWN", "GR", "UNKNOWN", "GR"}, {"UNKNOWN", "GR", "UNKNOWN:2", "GR:2"}},
    };
    for (const auto& c : cases) {
        std::vector<Log> logs;
        for (std::size_t k = 0; k < c.in.size(); ++k)
            logs.push_back(*Log::make(c.in[k], "", {1, 2}, {static_cast<double>(k), 0}));
        loaders::number_repeated_mnemonics(logs);
        std::vector<std::string> names;
        for (std::size_t k = 0; k < logs.size(); ++k) {
            names.push_back(logs[k].mnemonic);
            EXPECT_EQ(logs[k].values[0], static_cast<double>(k)) << "the logs keep their order and values";
        }
        EXPECT_EQ(names, c.out) << fmt::format("{}", fmt::join(c.in, ","));
    }
}

TEST(LoaderRules, RepeatsAcrossFilesAreNumbered) {
    // Each log as (mnemonic, file); the files' own repeats are numbered
    // already, as the loader hands them over.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> in;
        std::vector<std::string> out;
        std::string told;
    };
    const Case cases[] = {
        {"no repeat", {{"GR", "a"}, {"RT", "b"}}, {"GR", "RT"}, ""},
        {"two runs", {{"GR", "a"}, {"GR", "b"}}, {"GR", "GR:2"}, "'GR' from 'a', 'GR:2' from 'b'"},
        // The first file's second run keeps its name; the second file's run
        // takes the next free number.
        {"a file's own numbers are skipped", {{"GR", "a"}, {"GR:2", "a"}, {"GR", "b"}}, {"GR", "GR:2", "GR:3"},
         "'GR' from 'a', 'GR:3' from 'b'"},
        {"letter case", {{"gr", "a"}, {"GR", "b"}, {"Gr", "c"}}, {"gr", "GR:2", "Gr:3"},
         "'gr' from 'a', 'GR:2' from 'b', 'Gr:3' from 'c'"},
        {"names told in the order first met", {{"GR", "a"}, {"RT", "a"}, {"RT", "b"}, {"DT", "b"}, {"GR", "b"}},
         {"GR", "RT", "RT:2", "DT", "GR:2"}, "'GR' from 'a', 'GR:2' from 'b'; 'RT' from 'a', 'RT:2' from 'b'"},
    };
    for (const auto& c : cases) {
        std::vector<Log> logs;
        std::vector<fs::path> files;
        for (std::size_t k = 0; k < c.in.size(); ++k) {
            logs.push_back(*Log::make(c.in[k].first, "", {1, 2}, {static_cast<double>(k), 0}));
            files.emplace_back(c.in[k].second);
        }
        EXPECT_EQ(loaders::number_repeats_across_files(logs, files), c.told) << c.name;
        std::vector<std::string> names;
        for (std::size_t k = 0; k < logs.size(); ++k) {
            names.push_back(logs[k].mnemonic);
            EXPECT_EQ(logs[k].values[0], static_cast<double>(k)) << c.name << ": the logs keep their order and values";
        }
        EXPECT_EQ(names, c.out) << c.name;
    }
}

TEST(LoaderRules, WalkSortsByPathComponents) {
    ScratchDir dir;
    const fs::path root = dir.path("w");
    put(root, "a.las", "x");
    put(root, "a/x.las", "x");
    put(root, "B.las", "x");
    put(root, "a/deep/z.las", "x");
    fs::create_directories(root / "empty");
    fs::create_symlink(root / "B.las", root / "link.las");
    auto files = loaders::walk_files(root);
    ASSERT_TRUE(files) << files.error().display();
    const std::vector<fs::path> expected{root / "B.las", root / "a/deep/z.las", root / "a/x.las", root / "a.las"};
    EXPECT_EQ(*files, expected);

    auto missing = loaders::walk_files(root / "absent");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

// ---- well loading ------------------------------------------------------------

/// The hand-made well directory of W1: two surveys, LAS 2.0 and 3.0 files, a
/// core log, a tops CSV, a CRS side file, and files that must be skipped.
fs::path write_well_dir(const fs::path& root) {
    put(root, "W1_main.wellpath", wellpath(1000, 2000, 25, {{0, 0}, {500, 500}, {1025, 1025}}));
    put(root, "W1_st1.wellpath", wellpath(5000, 6000, 30, {{0, 0}, {1200, 1230}}));
    put(root, "W1.las", las2({"GR", "PHIE_2019"}, {1000, 1010, 1020}));
    put(root, "logs/W1_st1_gr.las", las3("RT", {1100, 1150}));
    put(root, "W1_Core.las", las2({"PORC"}, {1005, 1006}));
    put(root, "W1_bad.las", "this is no log file\n");
    put(root, "W1_tops.csv", "name,md\nBase,1200\nTop,1100.5\n");
    put(root, "W1_notes.txt", "x,y,z\n1,2,3\n");
    put(root, "crs.xml", "<?xml version=\"1.0\"?>\n<crsmeta><label>ED50 / UTM 31N</label></crsmeta>\n");
    put(root, "W2.las", las2({"DT"}, {1, 2}));
    return root;
}

TEST(LoadWell, HandMadeDirectory) {
    ScratchDir dir;
    const fs::path root = write_well_dir(dir.path("W1"));
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto loaded = project.load_well("W1", {1, 2}, 3, root);
    ASSERT_TRUE(loaded) << loaded.error().display();
    const Well& w = **loaded;
    EXPECT_EQ(project.find_well("W1"), &w);
    EXPECT_EQ(w.name, "W1");
    EXPECT_EQ(bore_labels(w), (std::vector<std::string>{"", "main", "st1"}));

    // The first survey's header places the well; the main bore keeps the
    // caller's head and datum, the survey bores copy the well's.
    EXPECT_EQ(w.head, (std::array<double, 2>{1000, 2000}));
    EXPECT_EQ(w.kb, 25);
    EXPECT_EQ(w.crs, "ED50 / UTM 31N");
    const Sidetrack& main = *w.bore("");
    const Sidetrack& survey_main = *w.bore("main");
    const Sidetrack& st1 = *w.bore("st1");
    EXPECT_EQ(main.head, (std::array<double, 2>{1, 2}));
    EXPECT_EQ(main.kb, 3);
    for (const Sidetrack* b : {&survey_main, &st1}) {
        EXPECT_EQ(b->head, (std::array<double, 2>{1000, 2000}));
        EXPECT_EQ(b->kb, 25);
    }

    // Station z is the TVD column less the file's own datum.
    EXPECT_TRUE(main.trajectories.empty());
    ASSERT_EQ(survey_main.trajectories.size(), 1u);
    const auto& stations = survey_main.trajectories[0].stations();
    ASSERT_EQ(stations.size(), 3u);
    EXPECT_EQ(stations[0].z, -25);
    EXPECT_EQ(stations[2].md, 1025);
    EXPECT_EQ(stations[2].z, 1000);
    EXPECT_EQ(stations[2].x, 1000);
    ASSERT_EQ(st1.trajectories.size(), 1u);
    EXPECT_EQ(st1.trajectories[0].stations().back().z, 1200);  // 1230 - 30
    EXPECT_EQ(st1.trajectories[0].stations().back().x, 5000);

    // Logs: W1.las and then the core file on the main bore (path order:
    // '.' sorts before '_'), the LAS 3.0 file in logs/ on st1; W2.las and the
    // broken file contribute nothing; without an alias map mnemonics stay as
    // written.
    EXPECT_EQ(mnemonics_of(main), (std::vector<std::string>{"GR", "PHIE_2019", "PORC"}));
    EXPECT_EQ(main.logs[0].kind, LogKind::Standard);
    EXPECT_EQ(main.logs[2].kind, LogKind::Core);
    EXPECT_EQ(main.logs[0].md, (std::vector<double>{1000, 1010, 1020}));
    EXPECT_EQ(main.logs[0].values, (std::vector<double>{100, 101, 102}));
    EXPECT_EQ(main.logs[0].history.entries(), std::vector<std::string>{"log.new"});
    EXPECT_TRUE(survey_main.logs.empty());
    EXPECT_EQ(mnemonics_of(st1), std::vector<std::string>{"RT"});
    EXPECT_EQ(st1.logs[0].values, (std::vector<double>{7, 7}));

    // Tops from the CSV file on the main bore, sorted by md.
    EXPECT_EQ(main.tops, (std::vector<DepthPick>{{"Top", 1100.5}, {"Base", 1200}}));
    EXPECT_TRUE(st1.tops.empty());
}

TEST(LoadWell, AliasMapInForce) {
    ScratchDir dir;
    const fs::path root = write_well_dir(dir.path("W1"));
    struct Case {
        const char* name;
        std::optional<AliasMap> aliases;
        std::vector<std::string> main_logs;
    };
    const Case cases[] = {
        {"no map", std::nullopt, {"GR", "PHIE_2019", "PORC"}},
        {"empty map", AliasMap{}, {"GR", "PHIE", "PORC"}},
        {"map entry wins", AliasMap{{"gr", "GAMMA"}, {"phie_2019", "POR"}}, {"GAMMA", "POR", "PORC"}},
    };
    for (const auto& c : cases) {
        GeoData project = GeoData::make(LengthUnit::Metres);
        project.set_curve_aliases(AliasMap{{"porc", "STICKY"}});
        auto loaded = project.load_well_with_aliases("W1", {0, 0}, 0, root, c.aliases);
        ASSERT_TRUE(loaded) << c.name;
        EXPECT_EQ(mnemonics_of(*(*loaded)->bore("")), c.main_logs) << c.name;
        // The sticky map is back afterwards.
        EXPECT_EQ(project.curve_aliases, (AliasMap{{"porc", "STICKY"}})) << c.name;
    }
    // The sticky map applies to a plain load, and is restored after a failure.
    GeoData project = GeoData::make(LengthUnit::Metres);
    project.set_curve_aliases(AliasMap{{"porc", "STICKY"}});
    auto sticky = project.load_well("W1", {0, 0}, 0, root);
    ASSERT_TRUE(sticky);
    EXPECT_EQ(mnemonics_of(*(*sticky)->bore("")), (std::vector<std::string>{"GR", "PHIE", "STICKY"}));
    put(root, "W9.wellpath", "not a survey\n");
    EXPECT_FALSE(project.load_well_with_aliases("W9", {0, 0}, 0, root / "W9.wellpath", std::nullopt));
    EXPECT_EQ(project.curve_aliases, (AliasMap{{"porc", "STICKY"}}));
}

TEST(LoadWell, WithoutSurveysAVerticalTrajectorySpansTheLogs) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::optional<std::pair<double, double>> span;
    };
    const Case cases[] = {
        {"two files", {{"W1_a.las", las2({"GR"}, {1000, 1250, 1500})}, {"W1_b.las", las2({"RT"}, {900, 1200})}},
         std::make_pair(900.0, 1500.0)},
        {"single samples", {{"W1_a.las", las2({"GR"}, {1000})}, {"W1_b.las", las2({"RT"}, {1000})}}, std::nullopt},
        {"no logs", {{"W1_tops.csv", "name,md\nA,10\n"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& [name, body] : c.files) put(dir.path("W1"), name, body);
        GeoData project = GeoData::make(LengthUnit::Feet);
        auto loaded = project.load_well("W1", {10, 20}, 5, dir.path("W1"));
        ASSERT_TRUE(loaded) << c.name << ": " << loaded.error().display();
        const Sidetrack& main = *(*loaded)->bore("");
        EXPECT_EQ((*loaded)->bores.size(), 1u) << c.name;
        if (!c.span) {
            EXPECT_TRUE(main.trajectories.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(main.trajectories.size(), 1u) << c.name;
        const auto& st = main.trajectories[0].stations();
        ASSERT_EQ(st.size(), 2u);
        EXPECT_EQ(st[0].md, c.span->first);
        EXPECT_EQ(st[1].md, c.span->second);
        // Vertical from the main bore's head and datum.
        EXPECT_DOUBLE_EQ(st[0].x, 10);
        EXPECT_DOUBLE_EQ(st[1].y, 20);
        EXPECT_DOUBLE_EQ(st[1].z, c.span->second - 5);
        EXPECT_EQ(mnemonics_of(main), (std::vector<std::string>{"GR", "RT"}));
    }
}

TEST(LoadWell, SurveysAndLogsFindTheirBores) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> bores;
        std::vector<std::size_t> trajectories;  // per bore
        std::vector<std::size_t> logs;          // per bore
    };
    const auto survey = wellpath(0, 0, 0, {{0, 0}, {2000, 2000}});
    const Case cases[] = {
        {"one survey, several logs",
         {{"W1_x.wellpath", survey}, {"W1_st1.las", las2({"A"}, {1, 2})}, {"W1_main.las", las2({"B", "C"}, {1, 2})}},
         {""}, {1}, {3}},
        // Stems that reduce to one label: both trajectories on that bore.
        {"same label twice",
         {{"a/W1_p.wellpath", survey}, {"b/W1_p.wellpath", survey}, {"W1_P_gr.las", las2({"GR"}, {1, 2})}},
         {"", "p"}, {0, 2}, {0, 1}},
        {"labels from stems",
         {{"W1_main.wellpath", survey}, {"W1_st1.wellpath", survey}, {"W1_st1_gr.las", las2({"GR"}, {1, 2})},
          {"W1.las", las2({"RT"}, {1, 2})}},
         {"", "main", "st1"}, {0, 1, 1}, {1, 0, 1}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& [name, body] : c.files) put(dir.path("W1"), name, body);
        GeoData project = GeoData::make(LengthUnit::Metres);
        auto loaded = project.load_well("W1", {0, 0}, 0, dir.path("W1"));
        ASSERT_TRUE(loaded) << c.name << ": " << loaded.error().display();
        EXPECT_EQ(bore_labels(**loaded), c.bores) << c.name;
        for (std::size_t k = 0; k < c.bores.size() && k < c.trajectories.size(); ++k) {
            const Sidetrack& b = *(*loaded)->bore(c.bores[k]);
            EXPECT_EQ(b.trajectories.size(), c.trajectories[k]) << c.name << " bore " << c.bores[k];
            EXPECT_EQ(b.logs.size(), c.logs[k]) << c.name << " bore " << c.bores[k];
            if (!b.trajectories.empty()) {
                EXPECT_EQ(b.active, b.trajectories.size() - 1) << c.name;
            }
        }
    }
}

TEST(LoadWell, SelectionAndSidecars) {
    ScratchDir dir;
    const fs::path root = dir.path("d");
    // No stem matches the identifier: every file is used; the surveys have no
    // common prefix ending in '_', so A_1.las goes to the main bore.
    put(root, "A_1.wellpath", wellpath(1, 1, 0, {{0, 0}, {10, 10}}));
    put(root, "B_2.wellpath", wellpath(2, 2, 0, {{0, 0}, {10, 10}}, "CRS: survey label"));
    put(root, "A_1.las", las2({"GR"}, {1, 2}));
    put(root, "a_crs.xml", "<crsmeta>no label here</crsmeta>");
    put(root, "b_crs.xml", "<crsmeta><crs>EPSG:23031</crs></crsmeta>");
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto loaded = project.load_well("Other", {0, 0}, 0, root);
    ASSERT_TRUE(loaded) << loaded.error().display();
    const Well& w = **loaded;
    EXPECT_EQ(bore_labels(w), (std::vector<std::string>{"", "A_1", "B_2"}));
    EXPECT_EQ(mnemonics_of(*w.bore("")), std::vector<std::string>{"GR"});
    // The side file that cannot be read is skipped; the next one gives the
    // label; the first survey has no CRS line, so the side file's stays.
    EXPECT_EQ(w.crs, "EPSG:23031");

    // A CRS line in the first survey's header wins over the side file.
    put(root, "A_0.wellpath", wellpath(3, 3, 0, {{0, 0}, {10, 10}}, "UTM zone 31N"));
    auto second = project.load_well("Other2", {0, 0}, 0, root);
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)->crs, "UTM zone 31N");
    EXPECT_EQ((*second)->head, (std::array<double, 2>{3, 3}));
    EXPECT_EQ(project.well_names(), (std::vector<std::string>{"Other", "Other2"}));
}

TEST(LoadWell, RepeatedCurvesOfAFileAreEachReachable) {
    // ILD and RES both resolve to RT under an alias map: the numbering comes
    // after resolution. A name the second file of the bore repeats is
    // numbered too (its own warning is checked with the logging runs).
    ScratchDir dir;
    const fs::path root = dir.path("W1");
    put(root, "W1_a.las", las2({"RES", "ILD", "res", "GR"}, {1000, 1010}));
    put(root, "W1_b.las", las2({"GR"}, {1000, 1010}));
    struct Case {
        const char* name;
        std::optional<AliasMap> aliases;
        std::vector<std::string> mnemonics;
    };
    const Case cases[] = {
        {"as read", std::nullopt, {"RES", "ILD", "res:2", "GR", "GR:2"}},
        {"resolved", AliasMap{}, {"RT", "RT:2", "RT:3", "GR", "GR:2"}},
        {"map names one curve like another", AliasMap{{"gr", "RES"}}, {"RT", "RT:2", "RT:3", "RES", "RES:2"}},
    };
    for (const auto& c : cases) {
        GeoData project = GeoData::make(LengthUnit::Metres);
        auto loaded = project.load_well_with_aliases("W1", {0, 0}, 0, root, c.aliases);
        ASSERT_TRUE(loaded) << c.name << ": " << loaded.error().display();
        const Sidetrack& main = *(*loaded)->bore("");
        EXPECT_EQ(mnemonics_of(main), c.mnemonics) << c.name;
        // Every log of the first file is found by its own name and holds its
        // own column (curve k of las2 holds depth / 10 + k).
        for (std::size_t k = 0; k < 4; ++k) {
            auto view = main.log(c.mnemonics[k]);
            ASSERT_TRUE(view) << c.name << " " << c.mnemonics[k];
            EXPECT_EQ(view->values()[0], 100.0 + static_cast<double>(k)) << c.name << " " << c.mnemonics[k];
        }
    }
}

TEST(LoadWell, LoggingRunsOfABoreAreNumberedAndTold) {
    // Two runs of GR on each bore, a run of RHOB repeated on the main bore
    // under another letter case; one warning per bore, the files named.
    ScratchDir dir;
    const fs::path root = dir.path("W1");
    const auto survey = wellpath(0, 0, 0, {{0, 0}, {3000, 3000}});
    put(root, "W1_main.wellpath", survey);
    put(root, "W1_st1.wellpath", survey);
    const fs::path run1 = put(root, "W1_run1.las", las2({"GR", "RHOB"}, {1000, 1010}));
    const fs::path run2 = put(root, "W1_run2.las", las2({"GR", "rhob"}, {2000, 2010}));
    const fs::path st_a = put(root, "W1_st1_a.las", las2({"GR"}, {1500, 1510}));
    const fs::path st_b = put(root, "W1_st1_b.las", las2({"GR"}, {2500, 2510}));
    GeoData project = GeoData::make(LengthUnit::Metres);
    std::vector<std::string> warnings;
    auto loaded = project.load_well("W1", {0, 0}, 0, root, &warnings);
    ASSERT_TRUE(loaded) << loaded.error().display();
    const Sidetrack& main = *(*loaded)->bore("");
    const Sidetrack& st1 = *(*loaded)->bore("st1");
    EXPECT_EQ(mnemonics_of(main), (std::vector<std::string>{"GR", "RHOB", "GR:2", "rhob:2"}));
    EXPECT_EQ(mnemonics_of(st1), (std::vector<std::string>{"GR", "GR:2"}));
    // Each run is reached by its own name, with its own depths.
    EXPECT_EQ(main.log("GR")->md()[0], 1000.0);
    EXPECT_EQ(main.log("gr:2")->md()[0], 2000.0);
    EXPECT_EQ(main.log("RHOB:2")->values()[0], 201.0);
    EXPECT_EQ(st1.log("GR:2")->md()[0], 2500.0);
    const std::string lead = "several files carry the same mnemonic; the curves are numbered in load order: ";
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  fmt::format("load_well: well 'W1': {}'GR' from '{}', 'GR:2' from '{}'; 'RHOB' from '{}', "
                              "'rhob:2' from '{}'",
                              lead, run1.string(), run2.string(), run1.string(), run2.string()),
                  fmt::format("load_well: well 'W1' bore 'st1': {}'GR' from '{}', 'GR:2' from '{}'", lead,
                              st_a.string(), st_b.string())}));
}

TEST(LoadWell, StoreIfNewAndFailuresLeaveTheProject) {
    ScratchDir dir;
    const fs::path root = write_well_dir(dir.path("W1"));
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto first = project.load_well("W1", {0, 0}, 0, root);
    ASSERT_TRUE(first);
    const Well before = **first;

    // Same identifier again, from another source: the first well stays.
    put(dir.path("other"), "W1.las", las2({"NEW"}, {1, 2}));
    auto again = project.load_well("W1", {9, 9}, 9, dir.path("other"));
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    EXPECT_EQ(**again, before);

    // A tops CSV that fails names its file ("{}" below), as the reader's
    // own texts name only a column or a row.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        ErrorKind kind;
        const char* text;
    };
    const Case cases[] = {
        {"points CSV read as tops", {{"W2_pts.csv", "x,y,z\n1,2,3\n"}}, ErrorKind::NotFound,
         "load_well: '{}': tops CSV: column 'name'"},
        {"bad tops md", {{"W2_tops.csv", "name,md\nA,deep\n"}}, ErrorKind::Parse,
         "load_well: '{}': tops CSV: row 0: bad md 'deep': invalid float literal"},
        {"md not increasing",
         {{"W2.wellpath", wellpath(0, 0, 0, {{0, 0}, {100, 100}, {100, 150}})}},
         ErrorKind::OutOfRange, "station measured depth must strictly increase"},
    };
    for (const auto& c : cases) {
        ScratchDir d;
        for (const auto& [name, body] : c.files) put(d.path("W2"), name, body);
        auto r = project.load_well("W2", {0, 0}, 0, d.path("W2"));
        ASSERT_FALSE(r) << c.name;
        const Error expected(c.kind, fmt::format(fmt::runtime(c.text), (d.path("W2") / c.files[0].first).string()));
        EXPECT_EQ(r.error(), expected) << c.name << ": " << r.error().display();
        EXPECT_EQ(project.well_names(), std::vector<std::string>{"W1"}) << c.name;
    }
    // A survey without its header fails with the reader's message.
    ScratchDir d;
    const fs::path bad = put(d.path("W3"), "W3.wellpath", "# WELL HEAD X: 1\n# MD TVD INCL AZIM\n");
    auto r = project.load_well("W3", {0, 0}, 0, d.path("W3"));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error::parse("wellpath '" + bad.string() +
                                      "': missing wellhead X/Y / KB header or no survey rows"));

    // A path that does not exist is an I/O error, not an empty well (which
    // would keep the identifier from the corrected call); nothing is stored.
    for (const fs::path& absent : {d.path("absent"), bad / "below-a-file"}) {
        auto missing = project.load_well("W4", {7, 8}, 9, absent);
        ASSERT_FALSE(missing) << absent;
        EXPECT_EQ(missing.error().kind(), ErrorKind::Io) << absent;
        EXPECT_EQ(missing.error().message().rfind("'" + absent.string() + "': ", 0), 0u) << missing.error().message();
    }
    EXPECT_EQ(project.well_names(), std::vector<std::string>{"W1"});
    // An empty directory is a well without files: an empty main bore.
    fs::create_directories(d.path("empty"));
    auto empty = project.load_well("W4", {7, 8}, 9, d.path("empty"));
    ASSERT_TRUE(empty);
    EXPECT_EQ(bore_labels(**empty), std::vector<std::string>{""});
    EXPECT_TRUE((*empty)->bore("")->logs.empty());
    EXPECT_EQ((*empty)->head, (std::array<double, 2>{7, 8}));
    EXPECT_EQ(project.well_names(), (std::vector<std::string>{"W1", "W4"}));
}

TEST(LoadWell, SingleFile) {
    ScratchDir dir;
    const fs::path root = write_well_dir(dir.path("W1"));
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto loaded = project.load_well("X", {0, 0}, 0, root / "W1_main.wellpath");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(bore_labels(**loaded), std::vector<std::string>{""});
    ASSERT_EQ((*loaded)->bore("")->trajectories.size(), 1u);
    EXPECT_EQ((*loaded)->crs, std::nullopt);
}

TEST(LoadWell, ASingleFileThatGivesTheWellNothingFailsNamingIt) {
    // The LAS reader's own texts are its business: they are checked by their
    // prefix, the loader's own texts whole.
    struct Case {
        const char* file;
        std::string bytes;
        ErrorKind kind;
        const char* text;  // "{}" is the file's path
        bool whole;
    };
    const std::string depth_only = "~Version\n VERS. 3.0 : v\n~Curve\nDEPT.M : d\n~A\n1\n2\n";
    const std::string grid = "-996 2 1 1\n0 1 0 1\n2 0 0 0\n0 0 0 0 0 0 0\n1 2 3 4\n";
    const Case cases[] = {
        {"notes.txt", "hello\n", ErrorKind::Format, "load_well: '{}' is Unknown, not a LAS, .wellpath or tops CSV file",
         true},
        {"grid.gri", grid, ErrorKind::Format,
         "load_well: '{}' is IrapClassicGrid, not a LAS, .wellpath or tops CSV file", true},
        {"empty.las", "", ErrorKind::Parse, "load_well: '{}': LAS: ", false},
        {"data_only.las", "~A\n1 2\n3 4\n", ErrorKind::Parse, "load_well: '{}': LAS: ", false},
        {"lidar.las", std::string("LASF\0\1\2\3", 8), ErrorKind::Parse, "load_well: '{}': LAS: ", false},
        {"depth_only.las", depth_only, ErrorKind::Parse, "load_well: '{}' yields no logs, survey or tops", true},
        {"tops.csv", "name,md\n", ErrorKind::Parse, "load_well: '{}' yields no logs, survey or tops", true},
        {"crs.xml", "<crsmeta><label>ED50</label></crsmeta>", ErrorKind::Parse,
         "load_well: '{}' yields no logs, survey or tops", true},
        // A reader's text that quotes the file already is kept as it is.
        {"nolabel.xml", "<crsmeta></crsmeta>", ErrorKind::Parse, "crsmeta '{}': no CRS label found", true},
    };
    ScratchDir dir;
    GeoData project = GeoData::make(LengthUnit::Metres);
    for (const auto& c : cases) {
        const fs::path file = dir.write(c.file, c.bytes);
        std::vector<std::string> warnings;
        auto r = project.load_well("W", {0, 0}, 0, file, &warnings);
        ASSERT_FALSE(r) << c.file;
        EXPECT_EQ(r.error().kind(), c.kind) << c.file << ": " << r.error().display();
        const std::string text = fmt::format(fmt::runtime(c.text), file.string());
        if (c.whole)
            EXPECT_EQ(r.error().message(), text) << c.file;
        else
            EXPECT_TRUE(r.error().message().starts_with(text)) << c.file << ": " << r.error().display();
        EXPECT_TRUE(warnings.empty()) << c.file;
        EXPECT_TRUE(project.well_names().empty()) << c.file;
    }
    // The identifier stayed free for the file that was meant.
    auto good = project.load_well("W", {0, 0}, 0, dir.write("W.las", las2({"GR"}, {1, 2})));
    ASSERT_TRUE(good) << good.error().display();
    EXPECT_EQ(mnemonics_of(*(*good)->bore("")), std::vector<std::string>{"GR"});
}

TEST(LoadWell, ADirectoryTellsWhatItSkipped) {
    // One warning per LAS file that cannot be read, in path order, in both
    // ways logs are placed (with and without a survey); the readable files
    // load as before.
    for (const bool survey : {false, true}) {
        ScratchDir dir;
        const fs::path root = dir.path("W1");
        put(root, "W1.las", las2({"GR"}, {1000, 1010}));
        const fs::path bad = put(root, "W1_bad.las", "this is no log file\n");
        const fs::path lidar = put(root, "sub/W1_lidar.las", std::string("LASF\0\1", 6));
        if (survey) put(root, "W1.wellpath", wellpath(0, 0, 0, {{0, 0}, {2000, 2000}}));
        GeoData project = GeoData::make(LengthUnit::Metres);
        std::vector<std::string> warnings;
        auto loaded = project.load_well("W1", {0, 0}, 0, root, &warnings);
        ASSERT_TRUE(loaded) << loaded.error().display();
        EXPECT_EQ(mnemonics_of(*(*loaded)->bore("")), std::vector<std::string>{"GR"});
        ASSERT_EQ(warnings.size(), 2u) << survey;
        EXPECT_TRUE(warnings[0].starts_with(fmt::format("load_well: skipped '{}': parse error: LAS: ", bad.string())))
            << warnings[0];
        EXPECT_TRUE(warnings[1].starts_with(fmt::format("load_well: skipped '{}': parse error: LAS: ", lidar.string())))
            << warnings[1];
    }

    // A directory with nothing of the well still gives a well, and says so.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        bool warned;
    };
    const Case cases[] = {
        {"empty", {}, true},
        {"no well files", {{"grid.gri", "-996 2 1 1\n"}, {"crs.xml", "<crsmeta><label>X</label></crsmeta>"}}, true},
        // W1's own file is notes only, so the other well's log is not used.
        {"named files of no use", {{"W1_notes.txt", "x\n"}, {"W2.las", las2({"GR"}, {1, 2})}}, true},
        {"a tops file", {{"W1_tops.csv", "name,md\nA,10\n"}}, false},
        {"no name matches, a survey is used", {{"dev.wellpath", wellpath(0, 0, 0, {{0, 0}, {10, 10}})}}, false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const fs::path root = dir.path("d");
        fs::create_directories(root);
        for (const auto& [name, body] : c.files) put(root, name, body);
        GeoData project = GeoData::make(LengthUnit::Metres);
        std::vector<std::string> warnings;
        auto loaded = project.load_well("W1", {0, 0}, 0, root, &warnings);
        ASSERT_TRUE(loaded) << c.name << ": " << loaded.error().display();
        const std::vector<std::string> expected =
            c.warned ? std::vector<std::string>{fmt::format(
                           "load_well: '{}' holds no LAS, .wellpath or tops CSV file of well 'W1'", root.string())}
                     : std::vector<std::string>{};
        EXPECT_EQ(warnings, expected) << c.name;
    }
}

TEST(LoadWell, APathWithANulIsRefusedBeforeAnythingIsRead) {
    // Without the check an empty directory gave an empty well, and one with
    // entries was walked without end.
    ScratchDir dir;
    fs::create_directories(dir.path("empty"));
    const fs::path file = dir.write("W.las", las2({"GR"}, {1, 2}));
    for (const fs::path& base : {dir.path("empty"), file}) {
        const fs::path bad(base.string() + std::string("\0x", 2));
        GeoData project = GeoData::make(LengthUnit::Metres);
        std::vector<std::string> warnings;
        auto r = project.load_well("W", {0, 0}, 0, bad, &warnings);
        ASSERT_FALSE(r) << base;
        EXPECT_EQ(r.error(), Error::io(fmt::format("path contains a NUL character: '{}\\0x'", base.string())));
        EXPECT_TRUE(warnings.empty());
        EXPECT_TRUE(project.well_names().empty());
    }
}

TEST(LoadWell, RealLasSample) {
    VZ_SHARED_OR_SKIP(path, "las/lasio_2.0_sample.las");
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto loaded = project.load_well("sample", {0, 0}, 0, path);
    ASSERT_TRUE(loaded) << loaded.error().display();
    const Sidetrack& main = *(*loaded)->bore("");
    EXPECT_EQ(main.logs.size(), 7u);
    // The sample runs upwards; its rows come ascending, so the vertical
    // trajectory spans them.
    EXPECT_EQ(main.trajectories.size(), 1u);
    for (const auto& log : main.logs) EXPECT_EQ(log.md, (std::vector<double>{1669.75, 1669.875, 1670}));
}

// ---- well tops -----------------------------------------------------------------

std::string petrel_pick(const std::string& well, const std::string& surface, const std::string& kind, double md) {
    return "1 2 3 4 5 6 " + std::to_string(md) + " 7 " + kind + " \"" + surface + "\" \"" + well + "\"\n";
}

std::string petrel_file(const std::string& picks) {
    return "# Petrel well tops\nVERSION 2\nBEGIN HEADER\nX\nY\nEND HEADER\n" + picks;
}

GeoData project_with_wells(const std::vector<std::pair<std::string, std::vector<std::string>>>& wells) {
    GeoData project = GeoData::make(LengthUnit::Metres);
    for (const auto& [id, bores] : wells) {
        Well w = Well::make(id, 0, 0, 0);
        for (const auto& b : bores) w.sidetrack_entry(b);
        project.wells.insert({id, std::move(w)});
    }
    return project;
}

TEST(LoadWellTops, RoutesPicksToWellsAndBores) {
    ScratchDir dir;
    const fs::path file = dir.write("t.tops", petrel_file(
        petrel_pick("W1_st1", "Top A", "Horizon", 1000) +     // W1, bore st1
        petrel_pick("W1_ST1", "Top B", "horizon", 1100) +     // label ST1: no such bore -> main
        petrel_pick("W1", "Top A", "HORIZON", 900) +          // main bore
        petrel_pick("Ghost", "Top C", "Horizon", 1) +         // no stored well
        petrel_pick("W10", "OWC", "OTHER", 1500) +            // contact, not counted
        petrel_pick("W10", "F1", "Fault", 1200) +             // ignored
        petrel_pick("A_1_x", "Top A", "Horizon", 10) +        // the suffixed namesake A_1
        petrel_pick("A_1", "Top B", "Horizon", 20) +          // exact key: A_1's main bore
        petrel_pick("A_x", "Top B", "Horizon", 30)));         // A, no bore x -> main
    GeoData project = project_with_wells({{"A", {}}, {"W1", {"st1"}}, {"W10", {}}, {"A_1", {"x"}}});
    auto n = project.load_well_tops(file);
    ASSERT_TRUE(n) << n.error().display();
    EXPECT_EQ(*n, 6u);

    const Well& w1 = *project.find_well("W1");
    EXPECT_EQ(w1.bore("st1")->tops, (std::vector<DepthPick>{{"Top A", 1000}}));
    EXPECT_EQ(w1.bore("")->tops, (std::vector<DepthPick>{{"Top A", 900}, {"Top B", 1100}}));
    const Well& w10 = *project.find_well("W10");
    EXPECT_TRUE(w10.bore("")->tops.empty());
    EXPECT_EQ(w10.bore("")->contacts, (std::vector<DepthPick>{{"OWC", 1500}}));
    const Well& a1 = *project.find_well("A_1");
    EXPECT_EQ(a1.bore("x")->tops, (std::vector<DepthPick>{{"Top A", 10}}));
    EXPECT_EQ(a1.bore("")->tops, (std::vector<DepthPick>{{"Top B", 20}}));
    EXPECT_EQ(project.find_well("A")->bore("")->tops, (std::vector<DepthPick>{{"Top B", 30}}));
    EXPECT_EQ(project.find_well("A")->bores.size(), 1u);  // tops never create bores

    // The column takes every Horizon pick, the ghost well's too, and reaches
    // every bore of every well.
    const std::vector<std::string> column{"Top A", "Top B", "Top C"};
    EXPECT_EQ(project.strat_order, column);
    for (const auto& [id, w] : project.wells)
        for (const auto& [label, bore] : w.bores) EXPECT_EQ(bore.strat_order, column) << id << "/" << label;
}

TEST(LoadWellTops, AFileWithoutPicksIsToldAbout) {
    struct Case {
        const char* name;
        std::string bytes;
        bool warned;
    };
    const Case cases[] = {
        {"a LAS file", las2({"GR"}, {1, 2}), true},
        {"a CSV of another layout", "well,name,md\nW1,A,10\n", true},
        {"fault picks only", petrel_file(petrel_pick("W1", "F1", "Fault", 10)), true},
        {"a contact", petrel_file(petrel_pick("W1", "OWC", "Other", 10)), false},
        {"a horizon of a well not loaded", petrel_file(petrel_pick("Ghost", "A", "Horizon", 10)), false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const fs::path file = dir.write("t.txt", c.bytes);
        GeoData project = project_with_wells({{"W1", {}}});
        std::vector<std::string> warnings;
        auto n = project.load_well_tops(file, &warnings);
        ASSERT_TRUE(n) << c.name << ": " << n.error().display();
        EXPECT_EQ(*n, 0u) << c.name;
        const std::vector<std::string> expected =
            c.warned ? std::vector<std::string>{fmt::format("load_well_tops: '{}' holds no Horizon or Other picks",
                                                            file.string())}
                     : std::vector<std::string>{};
        EXPECT_EQ(warnings, expected) << c.name;
    }
}

TEST(LoadWellTops, HintsAndColumn) {
    ScratchDir dir;
    // The picks never put Shale and Sand in one well: the hint orders them.
    const fs::path file = dir.write("t.tops", petrel_file(petrel_pick("W1", "Sand Top", "Horizon", 100) +
                                                          petrel_pick("W2", "Shale", "Horizon", 200)));
    {
        GeoData project = project_with_wells({{"W1", {}}, {"W2", {}}});
        project.push_strat_hint("shale", "sand");
        auto n = project.load_well_tops(file);
        ASSERT_TRUE(n) << n.error().display();
        EXPECT_EQ(project.strat_order, (std::vector<std::string>{"Shale", "Sand Top"}));
        EXPECT_EQ(project.strat_hints.size(), 1u);
    }
    struct Case {
        const char* above;
        const char* below;
        const char* message;
    };
    const Case failures[] = {
        {"Coal", "Sand",
         "strat hint entry 'Coal': no loaded well top matches it (from the IngestSpec strat_hints / strat_hint hints)"},
        {"Shale", "a",
         "strat hint entry 'a' is ambiguous — matches Sand Top, Shale (disambiguate the IngestSpec strat_hints / "
         "strat_hint entry)"},
    };
    for (const auto& c : failures) {
        GeoData project = project_with_wells({{"W1", {}}, {"W2", {}}});
        project.strat_order = {"Old"};
        project.push_strat_hint(c.above, c.below);
        const auto wells_before = project.wells;
        auto n = project.load_well_tops(file);
        ASSERT_FALSE(n);
        EXPECT_EQ(n.error(), Error::parse(c.message));
        EXPECT_EQ(project.wells, wells_before);
        EXPECT_EQ(project.strat_order, std::vector<std::string>{"Old"});
        EXPECT_EQ(project.strat_hints.size(), 1u);
    }

    // A file without Horizon picks clears the column everywhere; loading a
    // file twice stores its picks twice.
    GeoData project = project_with_wells({{"W1", {}}});
    project.find_well_mut("W1")->set_strat_order({"Old"});
    project.strat_order = {"Old"};
    const fs::path contacts = dir.write("c.tops", petrel_file(petrel_pick("W1", "GOC", "Other", 5)));
    ASSERT_EQ(project.load_well_tops(contacts), 0u);
    EXPECT_TRUE(project.strat_order.empty());
    EXPECT_TRUE(project.find_well("W1")->bore("")->strat_order.empty());
    ASSERT_EQ(project.load_well_tops(file), 1u);
    ASSERT_EQ(project.load_well_tops(file), 1u);
    EXPECT_EQ(project.find_well("W1")->bore("")->tops.size(), 2u);
    EXPECT_EQ(project.find_well("W1")->bore("")->contacts.size(), 1u);

    auto missing = project.load_well_tops(dir.path("absent.tops"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

// ---- surface, point and polygon loaders ------------------------------------------

constexpr const char* kIrapGrid =
    "-996 2 10.0 20.0\n0.0 10.0 0.0 20.0\n2 0.0 0.0 0.0\n0 0 0 0 0 0 0\n1 2 3 4\n";
constexpr const char* kCps3Grid =
    "FSASCI 0 1 COMPUTED 0 1e30\nFSATTR 0 0\nFSLIMI 0 10 0 20\nFSNROW 2 2\nFSXINC 10 20\n->\n1 2 3 4\n";
constexpr const char* kXyz = "1 2 3\n4 5 6\n7 8 9\n999 999 999\n";
constexpr const char* kCsvPoints = "x,y,z,w\n1,2,3,0.5\n4,5,6,1.5\n";
constexpr const char* kGeoJsonPoints =
    "{\"type\": \"FeatureCollection\", \"features\": [{\"type\": \"Feature\", \"properties\": {\"a\": 1},"
    " \"geometry\": {\"type\": \"Point\", \"coordinates\": [1, 2, 3]}}]}";
constexpr const char* kGeoJsonPolygon =
    "{\"type\": \"Polygon\", \"coordinates\": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}";
constexpr const char* kPolygons = "0 0 0\n1 0 0\n1 1 0\n999 999 999\n5 5 0\n6 5 0\n6 6 0\n";
constexpr const char* kCps3Lines = "->1\n0 0\n1 0\n1 1\n->2\n5 5\n6 5\n6 6\n";
constexpr const char* kEarthVision =
    "# Type: scattered data\n# Grid_size: 2 x 2\n# End:\n0 0 1 1 1\n10 0 2 2 1\n0 10 3 1 2\n10 10 4 2 2\n";
constexpr const char* kLas = "~Version\n VERS. 2.0\n~Curve\nDEPT.M\n~A\n1\n";
constexpr const char* kUnknown = "nothing a sniffer would recognise\n";

/// The outcome of a call without its value.
template <class T>
Result<void> status_of(const Result<T>& r) {
    if (!r) return fail(r.error());
    return {};
}

/// Checks one loader outcome against `expect`: an operation name means
/// success with the history ["op(path=<path>)"]; "=text" the exact error
/// display, "^text" its beginning, "{}" standing for the path.
template <class T>
void check_outcome(const Result<const T*>& r, std::string expect, const fs::path& path, const std::string& what) {
    const std::string p = path.string();
    if (expect[0] != '=' && expect[0] != '^') {
        ASSERT_TRUE(r) << what << ": " << r.error().display();
        EXPECT_EQ((*r)->history.entries(), std::vector<std::string>{expect + "(path=" + p + ")"}) << what;
        return;
    }
    ASSERT_FALSE(r) << what;
    for (auto pos = expect.find("{}"); pos != std::string::npos; pos = expect.find("{}")) expect.replace(pos, 2, p);
    const std::string shown = r.error().display();
    if (expect[0] == '=')
        EXPECT_EQ(shown, expect.substr(1)) << what;
    else
        EXPECT_TRUE(shown.starts_with(expect.substr(1))) << what << ": " << shown;
}

TEST(ElementLoaders, DispatchByKindThenExtension) {
    const std::string not_surface = "=unsupported format: load_surface: '{}' is ";
    const std::string not_points = "=unsupported format: load_points: '{}' is ";
    const std::string not_polygons = "=unsupported format: load_polygons: '{}' is ";
    const auto ns = [&](const char* k) { return not_surface + k + ", not a supported surface format"; };
    const auto np = [&](const char* k) { return not_points + k + ", not a supported point format"; };
    const auto ng = [&](const char* k) { return not_polygons + k + ", not a supported polygon format"; };
    const auto ext = [](const char* loader, const char* what, const char* e) {
        return std::string("=parse error: ") + loader + ": unsupported " + what + " extension '." + e + "' for '{}'";
    };
    struct Row {
        const char* file;
        std::string body;
        std::string surface, points, polygons;
    };
    const Row rows[] = {
        {"g.irap", kIrapGrid, "surface.load_irap_classic", np("IrapClassicGrid"), ng("IrapClassicGrid")},
        {"g.grd", kCps3Grid, "surface.load_cps3_grid", np("Cps3Grid"), ng("Cps3Grid")},
        // Unrecognised content without extension: read as IRAP by each loader.
        {"noext", kUnknown, "^parse error: IRAP classic:", "^parse error: XYZ:", "^parse error: XYZ:"},
        // The extension decides case-insensitively.
        {"grid.GRI", kIrapGrid, "surface.load_irap_classic", np("IrapClassicGrid"), ng("IrapClassicGrid")},
        {"grid.GRI", kUnknown, "^parse error: IRAP classic:", np("IrapClassicGrid"), ng("IrapClassicGrid")},
        {"u.cps3grid", kUnknown, "^parse error: CPS-3 grid:", np("Cps3Grid"), ng("Cps3Grid")},
        {"p.xyz", kXyz, ns("IrapClassicPoints"), "points.load_irap_points", "polygons.load_irap_polygons"},
        {"p.csv", kCsvPoints, ns("CsvPoints"), "points.load_csv", ng("CsvPoints")},
        {"p.geojson", kGeoJsonPoints, ns("GeoJson"), "points.load_geojson", "polygons.load_geojson"},
        {"l.txt", kCps3Lines, ns("Cps3Lines"), np("Cps3Lines"), "polygons.load_cps3_lines"},
        {"e.ev", kEarthVision, ns("EarthVisionGrid"), "points.load_earthvision_grid", ng("EarthVisionGrid")},
        {"w.las", kLas, ns("Las"), np("Las"), ng("Las")},
        {"u.txt", kUnknown, ext("load_surface", "surface", "txt"), ext("load_points", "point", "txt"),
         ext("load_polygons", "polygon", "txt")},
        {"u.pol", kUnknown, ext("load_surface", "surface", "pol"), ext("load_points", "point", "pol"),
         "^parse error: XYZ:"},
    };
    for (const auto& row : rows) {
        ScratchDir dir;
        const fs::path p = dir.write(row.file, row.body);
        GeoData project = GeoData::make(LengthUnit::Metres);
        check_outcome(project.load_surface("s", p), row.surface, p, std::string(row.file) + " surface");
        check_outcome(project.load_points("s", p), row.points, p, std::string(row.file) + " points");
        check_outcome(project.load_polygons("s", p), row.polygons, p, std::string(row.file) + " polygons");
    }
}

TEST(ElementLoaders, ContentOfLoadedElements) {
    ScratchDir dir;
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto grid = project.load_surface("g", dir.write("g.irap", kIrapGrid));
    ASSERT_TRUE(grid) << grid.error().display();
    EXPECT_EQ((*grid)->geom.ncol, 2u);
    EXPECT_EQ((*grid)->geom.nrow, 2u);
    EXPECT_EQ((*grid)->values.data(), (std::vector<double>{1, 3, 2, 4}));  // column i outer, row j inner

    auto pts = project.load_points("p", dir.write("p.csv", kCsvPoints));
    ASSERT_TRUE(pts);
    EXPECT_EQ((*pts)->points, (std::vector<std::array<double, 3>>{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ((*pts)->attr_names(), std::vector<std::string>{"w"});

    auto xyz = project.load_points("x", dir.write("p.xyz", kXyz));
    ASSERT_TRUE(xyz);
    EXPECT_EQ((*xyz)->size(), 3u);

    auto polys = project.load_polygons("q", dir.write("q.pol", kPolygons));
    ASSERT_TRUE(polys);
    ASSERT_EQ((*polys)->size(), 2u);
    EXPECT_EQ((*polys)->polygons[0].exterior.size(), 4u);  // closed

    auto ev = project.load_points("ev", dir.write("e.ev", kEarthVision));
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)->attr_names(), (std::vector<std::string>{"column", "row"}));
}

TEST(ElementLoaders, NamesAndStoring) {
    ScratchDir dir;
    const fs::path grid = dir.write("g.irap", kIrapGrid);
    const fs::path other = dir.write("h.grd", kCps3Grid);
    GeoData project = GeoData::make(LengthUnit::Metres);

    // A name already taken in the same map: the first element stays and is
    // returned, the surface order is not touched.
    auto first = project.load_surface("top", grid);
    ASSERT_TRUE(first);
    auto second = project.load_surface("top", other);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first);
    EXPECT_EQ((*second)->history.entries().front(), "surface.load_irap_classic(path=" + grid.string() + ")");
    EXPECT_EQ(project.surface_order, std::vector<std::string>{"top"});

    auto p1 = project.load_points("top", dir.write("a.xyz", "1 1 1\n"));
    auto p2 = project.load_points("top", dir.write("b.xyz", "2 2 2\n3 3 3\n"));
    ASSERT_TRUE(p1 && p2);
    EXPECT_EQ(*p1, *p2);
    EXPECT_EQ((*p2)->size(), 1u);

    // Another surface kind under the name: refused before the file is opened.
    auto shell = StructuredShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 2, 2, 0, false});
    ASSERT_TRUE(shell);
    auto sms = StructuredMeshSurface::from_shell(std::make_shared<const StructuredShell>(std::move(*shell)),
                                                 Grid2(2, 2, 1.0));
    ASSERT_TRUE(sms);
    project.structured_surfaces.insert({"curvy", *sms});
    auto mesh = MeshShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 2, 2, 0, false});
    ASSERT_TRUE(mesh);
    auto tri = TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(*mesh)), {1, 2, 3, 4});
    ASSERT_TRUE(tri);
    project.tri_surfaces.insert({"tri", *tri});
    for (const char* name : {"curvy", "tri"}) {
        auto r = project.load_surface(name, dir.path("never-opened.irap"));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), Error::parse(fmt::format(
                                 "load_surface: surface name '{}' already belongs to a structured mesh surface", name)));
    }
    auto missing = project.load_surface("fresh", dir.path("absent.irap"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
    EXPECT_EQ(project.surfaces.size(), 1u);
    EXPECT_EQ(project.surface_order, std::vector<std::string>{"top"});
}

TEST(ElementLoaders, StructuredSurfaces) {
    ScratchDir dir;
    const fs::path ev = dir.write("e.ev", kEarthVision);
    GeoData project = GeoData::make(LengthUnit::Metres);
    project.surfaces.insert({"reg", *Surface::make(GridGeometry{0, 0, 1, 1, 2, 2, 0, false}, Grid2(2, 2, 0.0))});
    auto mesh = MeshShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 2, 2, 0, false});
    project.tri_surfaces.insert(
        {"tri", *TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(*mesh)), {1, 2, 3, 4})});
    project.surface_order = {"reg", "tri"};

    auto loaded = project.load_structured_surface("ev", ev);
    ASSERT_TRUE(loaded) << loaded.error().display();
    EXPECT_EQ((*loaded)->history.entries(),
              std::vector<std::string>{"structured_surface.load_earthvision_grid(path=" + ev.string() + ")"});
    EXPECT_EQ((*loaded)->values.data(), (std::vector<double>{1, 3, 2, 4}));
    EXPECT_EQ(project.surface_order, (std::vector<std::string>{"reg", "tri", "ev"}));

    // Stored once: a second file under the name changes nothing.
    auto again = project.load_structured_surface("ev", dir.write("f.ev", kEarthVision));
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *loaded);
    EXPECT_EQ(project.surface_order, (std::vector<std::string>{"reg", "tri", "ev"}));

    struct Case {
        const char* name;
        fs::path path;
        std::string error;
    };
    const fs::path las = dir.write("w.las", kLas);
    const fs::path unknown = dir.write("u.txt", kUnknown);
    const Case cases[] = {
        {"reg", dir.path("never-opened.ev"),
         "parse error: load_structured_surface: surface name 'reg' already belongs to a regular surface"},
        {"tri", dir.path("never-opened.ev"),
         "parse error: load_structured_surface: surface name 'tri' already belongs to a regular surface"},
        {"x", las, "unsupported format: load_structured_surface: '" + las.string() + "' is Las, not an EarthVision grid"},
        {"x", unknown,
         "unsupported format: load_structured_surface: '" + unknown.string() + "' is Unknown, not an EarthVision grid"},
        {"ev", dir.path("never-opened.ev"),
         "parse error: load_surface: surface name 'ev' already belongs to a structured mesh surface"},
    };
    for (const auto& c : cases) {
        auto r = std::string(c.name) == "ev" ? status_of(project.load_surface(c.name, c.path))
                                             : status_of(project.load_structured_surface(c.name, c.path));
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().display(), c.error);
    }
    EXPECT_EQ(project.structured_surfaces.size(), 1u);

    // A real export with a clipped node: the absent position stays NaN.
    auto real = testing::shared_data("earthvision/resinsight_small_flipped_clipped.ptl");
    if (real.empty()) return;
    auto clipped = project.load_structured_surface("clipped", real);
    ASSERT_TRUE(clipped) << clipped.error().display();
    EXPECT_EQ((*clipped)->ncol(), 3u);
    EXPECT_EQ((*clipped)->nrow(), 3u);
    std::size_t absent = 0;
    for (double x : (*clipped)->shell->x().values()) absent += std::isnan(x) ? 1 : 0;
    EXPECT_EQ(absent, 1u);
}

TEST(ElementLoaders, ShapefilesGoByExtension) {
    ScratchDir dir;
    // A shapefile written through the shapefile library.
    const std::string base = dir.path("ring").string();
    SHPHandle shp = SHPCreate(base.c_str(), SHPT_POLYGON);
    ASSERT_NE(shp, nullptr);
    double xs[] = {0, 0, 1, 1, 0};
    double ys[] = {0, 1, 1, 0, 0};
    SHPObject* obj = SHPCreateSimpleObject(SHPT_POLYGON, 5, xs, ys, nullptr);
    SHPWriteObject(shp, -1, obj);
    SHPDestroyObject(obj);
    SHPClose(shp);
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto r = project.load_polygons("ring", dir.path("ring.shp"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ((*r)->size(), 1u);
    EXPECT_EQ((*r)->history.entries(),
              std::vector<std::string>{"polygons.load_shapefile(path=" + dir.path("ring.shp").string() + ")"});

    // Bytes that the text sniffer takes for LAS still reach the shapefile
    // reader through the extension, which refuses them in its own words.
    const fs::path fake = dir.write("fake.SHP", "~Version\n VERS. 2.0\n");
    auto bad = project.load_polygons("fake", fake);
    ASSERT_FALSE(bad);
    EXPECT_TRUE(bad.error().display().starts_with("parse error: shapefile: ")) << bad.error().display();
    EXPECT_EQ(project.polygon_sets.size(), 1u);
}

TEST(ElementLoaders, APolygonFileWithoutPolygonsIsToldAbout) {
    ScratchDir dir;
    // A shapefile of point records, written through the shapefile library.
    const std::string base = dir.path("wells").string();
    SHPHandle shp = SHPCreate(base.c_str(), SHPT_POINT);
    ASSERT_NE(shp, nullptr);
    double x = 1, y = 2;
    SHPObject* obj = SHPCreateSimpleObject(SHPT_POINT, 1, &x, &y, nullptr);
    SHPWriteObject(shp, -1, obj);
    SHPDestroyObject(obj);
    SHPClose(shp);
    struct Case {
        fs::path file;
        std::size_t polygons;
    };
    const Case cases[] = {
        {dir.path("wells.shp"), 0},
        {dir.write("points.geojson", R"({"type":"FeatureCollection","features":[)"
                                     R"({"type":"Feature","properties":{},"geometry":{"type":"Point","coordinates":[1,2]}},)"
                                     R"({"type":"Feature","properties":{},"geometry":null}]})"),
         0},
        {dir.write("fence.pol", "0 0 0\n10 10 0\n999 999 999\n"), 0},
        {dir.write("square.pol", "0 0 0\n0 10 0\n10 10 0\n999 999 999\n"), 1},
    };
    for (const auto& c : cases) {
        GeoData project = GeoData::make(LengthUnit::Metres);
        std::vector<std::string> warnings;
        auto r = project.load_polygons("p", c.file, &warnings);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ((*r)->size(), c.polygons) << c.file;
        const auto expected = c.polygons ? std::vector<std::string>{}
                                         : std::vector<std::string>{fmt::format(
                                               "load_polygons: '{}' holds no polygon", c.file.string())};
        EXPECT_EQ(warnings, expected) << c.file;
        EXPECT_EQ(project.polygon_sets.size(), 1u) << c.file << ": stored all the same";
    }
}

TEST(ElementLoaders, PointsWithTopology) {
    ScratchDir dir;
    const fs::path pts = dir.write("p.xyz", "10 0 2\n10 10 4\n");
    const fs::path topo = dir.write("t.ev", kEarthVision);
    GeoData project = GeoData::make(LengthUnit::Metres);
    auto r = project.load_points_with_topology("p", pts, topo);
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ((*r)->attr("column")->size(), 2u);
    EXPECT_EQ(std::vector<double>((*r)->attr("column")->begin(), (*r)->attr("column")->end()),
              (std::vector<double>{2, 2}));
    EXPECT_EQ(std::vector<double>((*r)->attr("row")->begin(), (*r)->attr("row")->end()), (std::vector<double>{1, 2}));
    EXPECT_EQ((*r)->history.entries(),
              std::vector<std::string>{"points.load_irap_points_with_topology(path=" + pts.string() +
                                       ", topology_path=" + topo.string() + ")"});
    // Points that are not in the export fail with the join's message.
    auto bad = project.load_points_with_topology("q", dir.write("q.xyz", "99 99 99\n"), topo);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), Error::geometry_inference("IRAP points are not an ordered subset of the topology point export"));
    EXPECT_EQ(project.point_sets.size(), 1u);
}

TEST(ElementLoaders, RealSamples) {
    struct Case {
        const char* rel;
        int loader;  // 0 surface, 1 points, 2 polygons
        std::size_t count;
    };
    const Case cases[] = {
        {"irap_grid/resdata_small_30x20_rotm65.irap", 0, 600},
        {"points_xyz/xtgeo_pointset2.poi", 1, 30},  // 30 points and a 999 terminator
        {"points_xyz/xtgeo_twocell_999_terminated.poi", 1, 2},
        {"earthvision/resinsight_small_flipped_clipped.ptl", 1, 8},
        {"polygons_irap/xtgeo_polset2.pol", 2, 2},
        {"shapefile/gre.shp", 2, 0},
        {"geojson/fiona_issue627_polygons.geojson", 2, 3},
    };
    for (const auto& c : cases) {
        auto path = testing::shared_data(c.rel);
        if (path.empty()) continue;
        GeoData project = GeoData::make(LengthUnit::Metres);
        switch (c.loader) {
            case 0: {
                auto r = project.load_surface("x", path);
                ASSERT_TRUE(r) << c.rel << ": " << r.error().display();
                EXPECT_EQ((*r)->values.size(), c.count) << c.rel;
                break;
            }
            case 1: {
                auto r = project.load_points("x", path);
                ASSERT_TRUE(r) << c.rel << ": " << r.error().display();
                EXPECT_EQ((*r)->size(), c.count) << c.rel;
                break;
            }
            default: {
                auto r = project.load_polygons("x", path);
                ASSERT_TRUE(r) << c.rel << ": " << r.error().display();
                if (c.count) EXPECT_EQ((*r)->size(), c.count) << c.rel;
                else EXPECT_GT((*r)->size(), 0u) << c.rel;
            }
        }
    }
}

}  // namespace
}  // namespace vz
