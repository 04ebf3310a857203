#include <fmt/format.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <limits>
#include <string>
#include <vector>

#include "io/las.hpp"
#include "io/text.hpp"
#include "io_test_util.hpp"
#include "child_process.hpp"

namespace vz {
namespace {

using las::LasData;
using testing::ScratchDir;

constexpr const char* kWell = "~Well\n NULL. -999.25 : null\n";

std::string v3_file(const std::string& version_lines, const std::string& rest) {
    return "~Version\n" + version_lines + "\n" + rest;
}

// Which reader path a file takes shows in its depth column: the 3.0 parser
// turns a null depth into NaN, the LAS 2.0 reader keeps the index as read.
// (A second row keeps a finite depth: a column without any is refused.)
TEST(LasRead, VersionSelectsThePath) {
    struct Case {
        const char* name;
        std::string file;
        bool v3;
    };
    const std::string body = std::string(kWell) + "~Curve\nDEPT.M : d\nGR.API : g\n~A\n-999.25 1\n5 2\n";
    const Case cases[] = {
        {"vers 3.0", "~Version\n VERS. 3.0 : v\n" + body, true},
        {"vers 3", "~Version\n VERS. 3 : v\n" + body, true},
        {"vers 4.1", "~V\n VERS. 4.1\n" + body, true},
        {"vers 2.0", "~Version\n VERS. 2.0 : v\n" + body, false},
        {"vers word", "~Version\n VERS. three : v\n" + body, false},
        {"vers nan", "~Version\n VERS. nan : v\n" + body, false},
        {"no vers", "~Version\n WRAP. NO : w\n" + body, false},
        {"no version section", body, false},
        {"second version ignored", "~Version\n VERS. 2.0\n~Version\n VERS. 3.0\n" + body, false},
        {"bom before version", "\xEF\xBB\xBF~Version\n VERS. 3.0 : v\n" + body, false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", c.file));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        ASSERT_EQ(r->depth.size(), 2u) << c.name;
        EXPECT_EQ(std::isnan(r->depth[0]), c.v3) << c.name;
        ASSERT_EQ(r->curves.size(), 1u) << c.name;
        EXPECT_EQ(r->curves[0].mnemonic, "GR") << c.name;
        EXPECT_EQ(r->curves[0].values, (std::vector<double>{1.0, 2.0})) << c.name;
    }
}

TEST(LasRead, V3DataRows) {
    struct Case {
        const char* name;
        std::string dlm;
        std::string rows;
        std::vector<std::vector<double>> cols;  // depth, A, B, then surplus; NaN written as -1e300
    };
    const double N = -1e300;
    const Case cases[] = {
        {"comma empty middle", " DLM. COMMA", "1,,3\n,,\n 2 , 5 , 6\n", {{1, 2}, {N, 5}, {3, 6}}},
        {"whitespace short row", "", "1 2 3\n4 5\n", {{1, 4}, {2, 5}, {3, N}}},
        {"tab", " DLM. TAB", "1\t\t3\n", {{1}, {N}, {3}}},
        {"null everywhere", "", "-999.25 -999.25 -999.2500001\n2 3 4\n", {{N, 2}, {N, 3}, {-999.2500001, 4}}},
        {"unreadable, and surplus in every row", "", "1 abc 3 4 5\n# 9 9 9\n2 x 5 6 7\n",
         {{1, 2}, {N, N}, {3, 5}, {4, 6}, {5, 7}}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string file = v3_file(" VERS. 3.0\n" + c.dlm, std::string(kWell) +
                                                           "~Log_Definition\nDEPT.M : d\nA.u1 : a\nB. : b\n"
                                                           "~Log_Data | Log_Definition\n" + c.rows);
        auto r = las::read_file(dir.write("a.las", file));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        std::vector<std::vector<double>> got{r->depth};
        for (auto& cv : r->curves) got.push_back(cv.values);
        for (auto& col : got)
            for (double& v : col)
                if (std::isnan(v)) v = N;
        EXPECT_EQ(got, c.cols) << c.name;
        ASSERT_EQ(r->curves.size(), c.cols.size() - 1);
        EXPECT_EQ(r->curves[0].unit, "u1");
        EXPECT_EQ(r->curves[1].unit, "");
        for (std::size_t k = 2; k < r->curves.size(); ++k)
            EXPECT_EQ((std::pair{r->curves[k].mnemonic, r->curves[k].unit}), (std::pair<std::string, std::string>{
                                                                                 "UNKNOWN", ""}))
                << c.name;
    }
}

// The data rows of a 3.0 file against a plain reference reader of the row
// rules: lines trimmed, "#" and empty lines skipped, tokens split at runs of
// white space (or at every "," / tab), rows of empty tokens skipped, rows of
// one token (a depth alone) and rows whose depth does not parse skipped,
// each token trimmed and parsed by the readers' syntax, NaN for what is
// missing, unreadable or equal to the null value. (No row is longer than the
// curve list here.)
std::vector<std::vector<double>> reference_rows(const std::string& rows, char sep, std::size_t n, double null_value) {
    std::vector<std::vector<double>> cols(n);
    for (std::string_view raw : text::split_lines(rows)) {
        const std::string_view line = text::trim(raw);
        if (line.empty() || line.front() == '#') continue;
        std::vector<std::string_view> toks;
        if (sep == ' ') {
            toks = text::split_ws(line);
        } else {
            std::size_t start = 0;
            for (std::size_t p; (p = line.find(sep, start)) != std::string_view::npos; start = p + 1)
                toks.push_back(line.substr(start, p - start));
            toks.push_back(line.substr(start));
        }
        bool all_empty = true;
        for (auto t : toks) all_empty = all_empty && text::trim(t).empty();
        if (all_empty || toks.size() == 1 || !text::parse_number(text::trim(toks[0]))) continue;
        for (std::size_t i = 0; i < n; ++i) {
            double v = std::numeric_limits<double>::quiet_NaN();
            if (i < toks.size())
                if (auto p = text::parse_number(text::trim(toks[i]))) v = *p;
            cols[i].push_back(v == null_value ? std::numeric_limits<double>::quiet_NaN() : v);
        }
    }
    return cols;
}

TEST(LasRead, V3DataRowsMatchTheRowRules) {
    const std::vector<std::string> tokens = {"1",     "-2.5",     "+5",      ".5",      "5.",   "1e5",  "1E-5",
                                             "inf",   "-Infinity", "nan",    "-NaN",    "nan(1)", "1.5x", "1,5",
                                             "0x10",  ".",        "e5",      "-999.25", "-999.2500001", "1e400",
                                             "-0",    "00012",    "4.9e-324", "abc",    "\"q\""};
    const struct {
        const char* name;
        std::string dlm;
        char sep;
    } delimiters[] = {{"whitespace", "", ' '}, {"comma", " DLM. COMMA", ','}, {"tab", " DLM. TAB", '\t'}};
    const char* separators[] = {" ", "  ", "\t", "\xA0", "\x85", " \xA0 "};
    std::mt19937 rng(7);
    for (const auto& d : delimiters) {
        std::string rows;
        for (int r = 0; r < 300; ++r) {
            const int count = static_cast<int>(rng() % 5);  // rows as long as the 4 curves or shorter
            std::string row = (r % 7 == 0) ? " \t" : "";
            for (int k = 0; k < count; ++k) {
                if (k > 0) row += d.sep == ' ' ? separators[rng() % std::size(separators)] : std::string(1, d.sep);
                if (d.sep != ' ' && rng() % 5 == 0) row += " ";  // padding inside fields
                std::string token;
                do token = tokens[rng() % tokens.size()];
                while (d.sep != ' ' && token.find(d.sep) != std::string::npos);  // no row longer than the curves
                row += token;
            }
            if (r % 11 == 0) row = "# " + row;
            if (r % 13 == 0) row = d.sep == ' ' ? "" : std::string(3, d.sep);
            rows += row + (r % 3 == 0 ? "\r\n" : "\n");
        }
        const std::string file = v3_file(" VERS. 3.0\n" + d.dlm, std::string(kWell) +
                                                                "~Log_Definition\nDEPT.M : d\nA.u : a\nB.u : b\nC.u : c\n"
                                                                "~Log_Data | Log_Definition\n" + rows + "~Other\nx\n");
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", file));
        ASSERT_TRUE(r) << d.name << ": " << r.error().display();
        const auto want = reference_rows(rows, d.sep, 4, -999.25);
        std::vector<std::vector<double>> got{r->depth};
        for (const auto& c : r->curves) got.push_back(c.values);
        ASSERT_EQ(got.size(), want.size()) << d.name;
        for (std::size_t c = 0; c < want.size(); ++c) {
            ASSERT_EQ(got[c].size(), want[c].size()) << d.name << " column " << c;
            for (std::size_t k = 0; k < want[c].size(); ++k)
                ASSERT_TRUE(std::bit_cast<std::uint64_t>(got[c][k]) == std::bit_cast<std::uint64_t>(want[c][k]) ||
                            (std::isnan(got[c][k]) && std::isnan(want[c][k])))
                    << d.name << " column " << c << " row " << k << ": " << got[c][k] << " vs " << want[c][k];
        }
    }
}

TEST(LasRead, V3SectionPairing) {
    struct Case {
        const char* name;
        std::string sections;
        std::string error;           // empty: success
        std::vector<double> depth;   // on success
        std::size_t curves = 0;
    };
    const Case cases[] = {
        {"parameter data skipped",
         "~Parameter_Definition\nP.u : p\n~Parameter_Data\n7\n~Log_Definition\nD.m\nX.m\n~Log_Data\n1 2\n", "", {1}, 1},
        {"data before definitions skipped", "~Log_Data\n5 5\n~Curve\nD.m\nX.m\n~A\n1 2\n", "", {1}, 1},
        {"parameter definitions pair a later data section",
         "~Parameter_Definition\nP.u : p\n~Parameter_Data\n7\n~Other\nx\n~A\n8\n", "", {8}, 0},
        {"single curve", "~C\nDEPT.M\n~A\n1\n2\n", "", {1, 2}, 0},
        {"definitions without dots", "~Curve\nDEPT M\nGR\n~A\n1 2\n", "LAS 3.0: curve section defined no curves", {}},
        {"no pair", "~Curve\nDEPT.M\n", "LAS 3.0: no curve-definition + data section pair found", {}},
        {"only data", "~A\n1 2\n", "LAS 3.0: no curve-definition + data section pair found", {}},
        // A data section ends only at a line whose trimmed text starts with
        // "~": a "~" inside a row or after "#" does not end it, white space
        // (0xA0 and 0x85 among it) before the "~" does.
        {"tilde inside rows", "~Curve\nD.m\nX.m\n~A\n1 ~2\n#~Other\n2 3\n \t\xA0~Other\n3 4\n", "", {1, 2}, 1},
        {"tilde line after crlf", "~Curve\nD.m\n~A\r\n1\r\n\x85~Other\r\n3\r\n", "", {1}, 0},
        {"empty data then data", "~Curve\nD.m\n~A\n~B_Data\n4\n", "", {}, 0},
        {"data at the end without a line end", "~Curve\nD.m\n~Log_Data\n5", "", {5}, 0},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", v3_file(" VERS. 3.0", c.sections)));
        if (c.error.empty()) {
            ASSERT_TRUE(r) << c.name << ": " << r.error().display();
            EXPECT_EQ(r->depth, c.depth) << c.name;
            EXPECT_EQ(r->curves.size(), c.curves) << c.name;
        } else {
            ASSERT_FALSE(r) << c.name;
            EXPECT_EQ(r.error(), Error::format(c.error)) << c.name;
        }
    }
}

// A 3.0 file may hold several data groups (logs, drilling, perforations...),
// each with its definition section. The data are read under their own
// definitions: the one named after "|", else X_Definition for X_Data, else
// for ~A / ~ASCII the log group's; and the log group is read before any
// other group, wherever it stands in the file.
TEST(LasRead, V3DataUnderItsOwnDefinitions) {
    const std::string log_def = "~Log_Definition\nDEPT.M\nGR.API\n";
    const std::string log_data = "~Log_Data | Log_Definition\n100 10\n101 11\n";
    const std::string drl_def = "~Drilling_Definition\nDDEP.ft\nROP.ft/hr\nWOB.klb\n";
    const std::string drl_data = "~Drilling_Data | Drilling_Definition\n5 6 7\n";
    const std::string prf_def = "~Perforations_Definition\nPERFT.M\nPERFB.M\n";
    const std::string prf_data = "~Perforations_Data | Perforations_Definition\n545 550\n";
    struct Case {
        const char* name;
        std::string sections;
        std::vector<std::string> mnemonics;
        std::vector<double> depth;
        std::vector<double> last;  // the last curve's values
    };
    const Case cases[] = {
        {"definitions first, in an order of their own", log_def + drl_def + prf_def + drl_data + prf_data + log_data,
         {"GR"}, {100, 101}, {10, 11}},
        {"log group read first, although last", drl_def + drl_data + log_def + log_data, {"GR"}, {100, 101}, {10, 11}},
        {"no log group: the first group, by its named definition", drl_def + prf_def + drl_data + prf_data,
         {"ROP", "WOB"}, {5}, {7}},
        {"X_Data without a name: X_Definition", drl_def + prf_def + "~Drilling_Data\n5 6 7\n", {"ROP", "WOB"}, {5},
         {7}},
        {"the named definition before the title's", "~Sample_Definition\nA.m\nB.m\n" + drl_def +
         "~Drilling_Data | Sample_Definition\n5 6 7\n", {"B", "UNKNOWN"}, {5}, {7}},
        {"a name that is absent: X_Definition", log_def + drl_def + "~Log_Data | Log_Defs\n100 10\n", {"GR"}, {100},
         {10}},
        {"~A with ~Curve", "~Curve Information\nDEPT.M\nGR.API\n" + drl_def + "~A DEPT GR\n100 10\n", {"GR"}, {100},
         {10}},
        {"~ASCII with ~C", "~C\nDEPT.M\nGR.API\n" + prf_def + "~ASCII\n100 10\n", {"GR"}, {100}, {10}},
        {"names compare without letter case", "~log_definition\nDEPT.M\nGR.API\n" + drl_def +
         "~LOG_DATA | LOG_DEFINITION\n100 10\n", {"GR"}, {100}, {10}},
        {"repeated groups: the first data with the definition just before it",
         "~Curve\nD.M\nA.u\n~Ascii\n1 2\n~Curve\nD.M\nB.u\nC.u\n~Ascii\n3 4 5\n", {"A"}, {1}, {2}},
        {"parameter data never read",
         "~Parameter_Definition\nP.u\nQ.u\n~Parameter_Data | Parameter_Definition\n7 8\n" + drl_def + drl_data,
         {"ROP", "WOB"}, {5}, {7}},
        // Section arrays: several runs of a group, each title indexed.
        {"runs of the log group: the first is the log",
         "~Log_Definition[1]\nDEPT.M\nGR.API\n~Log_Data[1] | Log_Definition[1]\n100 10\n"
         "~Log_Definition[2]\nDEPT.M\nRT.OHMM\nSP.MV\n~Log_Data[2] | Log_Definition[2]\n200 1 2\n",
         {"GR"}, {100}, {10}},
        {"a run without a name after |: the definition of its index",
         "~Log_Definition[1]\nDEPT.M\nGR.API\n~Log_Definition[2]\nDEPT.M\nRT.OHMM\nSP.MV\n"
         "~Log_Data[1]\n100 10\n~Log_Data[2]\n200 1 2\n",
         {"GR"}, {100}, {10}},
        {"runs of another group", "~Drilling_Definition[1]\nDDEP.ft\nROP.ft/hr\nWOB.klb\n~Drilling_Data[1]\n5 6 7\n",
         {"ROP", "WOB"}, {5}, {7}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", v3_file(" VERS. 3.0", c.sections)));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        std::vector<std::string> mnemonics;
        for (const auto& cv : r->curves) mnemonics.push_back(cv.mnemonic);
        EXPECT_EQ(mnemonics, c.mnemonics) << c.name;
        EXPECT_EQ(r->depth, c.depth) << c.name;
        ASSERT_FALSE(r->curves.empty()) << c.name;
        EXPECT_EQ(r->curves.back().values, c.last) << c.name;
    }
}

TEST(LasRead, V3Wrap) {
    ScratchDir dir;
    const std::string body = "~C\nD.m\nX.m\n~A\n1 2\n";
    auto yes = las::read_file(dir.write("y.las", v3_file(" VERS. 3.0\n WRAP. yes : w", body)));
    ASSERT_FALSE(yes);
    EXPECT_EQ(yes.error(), Error::format("LAS 3.0: wrapped data (WRAP YES) is not supported"));
    EXPECT_TRUE(las::read_file(dir.write("n.las", v3_file(" VERS. 3.0\n WRAP. NO : w", body))));
}

TEST(LasRead, FailuresBelowV3) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string message;
    };
    const Case cases[] = {
        {"binary", "LASF\x01\x02rest", "LAS: LAS data error: {}: is a binary LiDAR LAS file, not a Log ASCII Standard file"},
        {"three bytes", "LAS", "LAS: LAS header error: no section line (a LAS file starts with ~Version)"},
        {"not a las file", "1,2,3\n4,5,6\n", "LAS: LAS header error: no section line (a LAS file starts with ~Version)"},
        {"header only", "~V\n VERS. 2.0\n~C\nDEPT.M\nGR.API\n", "LAS: no md/depth curve"},
        {"no curves", "~V\n VERS. 2.0\n~A\n", "LAS: no md/depth curve"},
        {"data without curves", "~V\n VERS. 2.0\n~A\n1 2\n",
         "LAS: LAS header error: data section without curve definitions (~Curve)"},
        {"wrapped cut short", "~V\n VERS. 2.0\n WRAP. YES\n~C\nD.M\nA.x\nB.x\n~A\n1\n2 3\n4\n5\n",
         "LAS: LAS data error: wrapped data ends inside a depth step (2 of 3 values)"},
        {"bad null", "~V\n VERS. 2.0\n~W\n NULL. none : n\n~C\nD.M\n~A\n1\n",
         "LAS: LAS header error: NULL value 'none' is not a number"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto p = dir.write("a.las", c.bytes);
        auto r = las::read_file(p);
        ASSERT_FALSE(r) << c.name;
        std::string msg = c.message;
        if (auto at = msg.find("{}"); at != std::string::npos) msg.replace(at, 2, p.string());
        EXPECT_EQ(r.error(), Error::parse(msg)) << c.name;
    }
}

// A definition line without a mnemonic (" .OHMM : r", ".ILM .OHMM") keeps its
// column under the name UNKNOWN, in both readers: the curves after it keep
// their own values and the last column is not lost. Repeats stay separate
// curves by position; a nameless first curve is still the depth.
TEST(LasRead, NamelessCurvesKeepTheirColumns) {
    struct Case {
        const char* name;
        std::string definitions;  // after the depth definition, unless `depth` says otherwise
        std::vector<std::string> mnemonics;
        std::vector<std::string> units;
    };
    const Case cases[] = {
        {"empty mnemonic", "GR.API : g\n .OHMM  : resistivity\nRT.OHMM : r\n", {"GR", "UNKNOWN", "RT"},
         {"API", "OHMM", "OHMM"}},
        {"only a dot", "GR.API : g\n.ILM .OHMM\nRT.OHMM : r\n", {"GR", "UNKNOWN", "RT"}, {"API", "ILM", "OHMM"}},
        {"several", " . : a\nGR.API\n  .  : b\n", {"UNKNOWN", "GR", "UNKNOWN"}, {"", "API", ""}},
        {"last", "GR.API\nRT.OHMM\n.V/V : n\n", {"GR", "RT", "UNKNOWN"}, {"API", "OHMM", "V/V"}},
    };
    for (const bool v3 : {false, true}) {
        for (const auto& c : cases) {
            for (const bool nameless_depth : {false, true}) {
                const std::string depth = nameless_depth ? " .M : depth\n" : "DEPT.M : depth\n";
                const std::string file =
                    v3 ? "~Version\n VERS. 3.0\n~Log_Definition\n" + depth + c.definitions +
                             "~Log_Data | Log_Definition\n10 1 2 3\n20 4 5 6\n"
                       : "~Version\n VERS. 2.0\n~Curve\n" + depth + c.definitions + "~A\n10 1 2 3\n20 4 5 6\n";
                const std::string what =
                    std::string(v3 ? "3.0 " : "2.0 ") + c.name + (nameless_depth ? ", nameless depth" : "");
                ScratchDir dir;
                auto r = las::read_file(dir.write("a.las", file));
                ASSERT_TRUE(r) << what << ": " << r.error().display();
                EXPECT_EQ(r->depth, (std::vector<double>{10, 20})) << what;
                ASSERT_EQ(r->curves.size(), 3u) << what;
                for (std::size_t k = 0; k < 3; ++k) {
                    const double v = static_cast<double>(k) + 1;
                    EXPECT_EQ(r->curves[k], (las::LasCurve{c.mnemonics[k], c.units[k], {v, v + 3}}))
                        << what << ", curve " << k;
                }
            }
        }
    }
}

// A depth column that holds no finite number other than the null value (a
// time index written 00:00:00, whose rows are all skipped, unreadable tokens,
// nulls) gives no depths: the file is refused with the depth failure, naming
// the index curve. One finite depth, or no rows at all, still reads.
TEST(LasRead, DepthColumnWithoutANumberIsRefused) {
    struct Case {
        const char* name;
        std::string file;
        std::string error;  // empty: reads, with `depth`
        std::size_t depth = 0;
    };
    const std::string v2 = "~V\n VERS. 2.0\n~W\n NULL. -999.25\n";
    const std::string v3 = "~V\n VERS. 3.0\n DLM. COMMA\n~W\n NULL. -999.25\n";
    const std::string refused = "LAS: no md/depth curve: the index curve '{}' holds no number";
    const Case cases[] = {
        {"2.0 time index", v2 + "~C\nTIME.HHMMSS\nDEPT.M\nGR.API\n~A\n00:00:00 1500.2 126\n00:00:01 1500.3 127\n",
         "TIME"},
        {"2.0 unreadable and nan", v2 + "~C\nDEPT.M\nGR.API\n~A\nx 1\nnan 2\n-inf 3\n", "DEPT"},
        {"2.0 nameless index of text", v2 + "~C\n .S\nGR.API\n~A\n12:00 1\n", "UNKNOWN"},
        {"3.0 nulls", v3 + "~Log_Definition\nDEPT.M\nGR.API\n~Log_Data\n-999.25,1\n-999.25,2\n", "DEPT"},
        {"3.0 time index", v3 + "~Log_Definition\nTIME.S\nGR.API\n~Log_Data\n00:00:00,1\n", "TIME"},
        {"2.0 every depth the null value", v2 + "~C\nDEPT.M\nGR.API\n~A\n-999.25 1\n-999.25000000001 2\n", "DEPT"},
        {"3.0 every depth unreadable or null", v3 + "~Log_Definition\nDEPT.M\nGR.API\n~Log_Data\nx,1\n-999.25,2\n",
         "DEPT"},
        {"2.0 one finite depth", v2 + "~C\nTIME.S\nGR.API\n~A\n00:00:00 1\n5 2\n", "", 1},
        {"2.0 a null depth among numbers stays as read", v2 + "~C\nDEPT.M\nGR.API\n~A\n-999.25 1\n5 2\n", "", 2},
        {"2.0 only depths alone", v2 + "~C\nDEPT.M\nGR.API\n~A\n1\n2\n", "", 0},
        {"2.0 no rows", v2 + "~C\nDEPT.M\nGR.API\n~A\n", "", 0},
        {"3.0 no rows", v3 + "~Log_Definition\nDEPT.M\nGR.API\n~Log_Data\n", "", 0},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", c.file));
        if (c.error.empty()) {
            ASSERT_TRUE(r) << c.name << ": " << r.error().display();
            EXPECT_EQ(r->depth.size(), c.depth) << c.name;
        } else {
            ASSERT_FALSE(r) << c.name;
            std::string msg = refused;
            msg.replace(msg.find("{}"), 2, c.error);
            EXPECT_EQ(r.error(), Error::parse(msg)) << c.name;
        }
    }

    // The real file indexed by a time of day.
    VZ_SHARED_OR_SKIP(path, "las/lasio_2.0_time_date_columns.las");
    auto real = las::read_logs(path);
    ASSERT_FALSE(real);
    EXPECT_EQ(real.error(), Error::parse("LAS: no md/depth curve: the index curve 'TIME' holds no number"));
}

TEST(LasRead, V2NullReplacementSkipsTheIndex) {
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las",
                                      "~V\n VERS. 2.0\n~W\n NULL. -999.25 : n\n~C\nDEPT.M\nGR.API\nRT.OHMM\n"
                                      "~A\n-999.25 -999.25 -999.25000000005\n10 1 -999.2501\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->depth, (std::vector<double>{-999.25, 10}));
    ASSERT_EQ(r->curves.size(), 2u);
    EXPECT_TRUE(std::isnan(r->curves[0].values[0]));
    EXPECT_EQ(r->curves[0].values[1], 1.0);
    EXPECT_TRUE(std::isnan(r->curves[1].values[0]));
    EXPECT_EQ(r->curves[1].values[1], -999.2501);
    EXPECT_EQ(r->curves[1].unit, "OHMM");
}

// The depth is the first curve, whatever its mnemonic: a TVD or TIME curve
// further on is a curve like any other, and a repeated mnemonic keeps its
// own column. In the LAS 2.0 path the first curve is the one the null value
// leaves as read.
TEST(LasRead, TheFirstCurveIsTheDepth) {
    struct Case {
        const char* name;
        std::string curves;  // definition lines
        std::string mnemonic;
        std::vector<double> depth;
        std::vector<std::string> rest;
    };
    const Case cases[] = {
        {"TVD after the depth", "TDEP.FT\nGR.API\nTVD.FT\n", "TDEP", {100, 101}, {"GR", "TVD"}},
        {"a depth named nothing known, TIME after it", "X ..1IN\nTIME.S\nGR.API\n", "X", {100, 101}, {"TIME", "GR"}},
        {"DEPTH second", "GR.API\nDEPTH.FT\nGR.API\n", "GR", {100, 101}, {"DEPTH", "GR"}},
    };
    for (const bool v3 : {false, true}) {
        for (const auto& c : cases) {
            const std::string head = v3 ? "~V\n VERS. 3.0\n~W\n NULL. -9999\n~Log_Definition\n"
                                        : "~V\n VERS. 2.0\n~W\n NULL. -9999\n~C\n";
            const std::string file = head + c.curves + (v3 ? "~Log_Data\n" : "~A\n") + "100 -9999 1\n101 5 -9999\n";
            ScratchDir dir;
            auto r = las::read_file(dir.write("a.las", file));
            const std::string what = std::string(v3 ? "3.0, " : "2.0, ") + c.name;
            ASSERT_TRUE(r) << what << ": " << r.error().display();
            EXPECT_EQ(r->depth_mnemonic, c.mnemonic) << what;
            EXPECT_EQ(r->depth, c.depth) << what;
            ASSERT_EQ(r->curves.size(), 2u) << what;
            EXPECT_EQ(r->curves[0].mnemonic, c.rest[0]) << what;
            EXPECT_EQ(r->curves[1].mnemonic, c.rest[1]) << what;
            EXPECT_TRUE(std::isnan(r->curves[0].values[0]) && r->curves[0].values[1] == 5) << what;
            EXPECT_TRUE(r->curves[1].values[0] == 1 && std::isnan(r->curves[1].values[1])) << what;
        }
    }
}

TEST(LasRead, V2TextForms) {
    const std::string ascii =
        "~VERSION\r\n VERS. 2.0 : v\r\n WRAP. NO\r\n~WELL\r\n NULL. -999.25\r\n~CURVE\r\n DEPT.M : d\r\n"
        " Cond..MS/M : c\r\n T\xC3\xA9mp.DEGC : t\r\n~A DEPT COND TEMP\r\n 1.5 \"a b\" 7\r\n 2.5 x 8\r\n";
    auto utf16 = [&](bool be, bool bom) {
        std::string out = bom ? (be ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) : std::string();
        // The sample is ASCII apart from one two-byte UTF-8 sequence (U+00E9).
        for (std::size_t i = 0; i < ascii.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(ascii[i]);
            char16_t u = c;
            if (c == 0xC3) u = 0xE9, ++i;
            char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += be ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    std::string latin1 = ascii;
    latin1.replace(latin1.find("\xC3\xA9"), 2, "\xE9");
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"utf-8", ascii},
        {"utf-8 bom", "\xEF\xBB\xBF" + ascii},
        {"latin-1", latin1},
        {"utf-16le bom", utf16(false, true)},
        {"utf-16be bom", utf16(true, true)},
        {"utf-16be no bom", utf16(true, false)},
        {"wrapped", "~V\n VERS. 1.2\n WRAP. YES\n~W\n NULL. -999.25\n~C\nDEPT.M\nCond..MS/M\nT\xC3\xA9mp.DEGC\n"
                    "~A\n1.5\n\"a b\" 7\n2.5\nx\n8\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", c.bytes));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(r->depth, (std::vector<double>{1.5, 2.5})) << c.name;
        ASSERT_EQ(r->curves.size(), 2u) << c.name;
        EXPECT_EQ(r->curves[0].mnemonic, "Cond.") << c.name;
        EXPECT_EQ(r->curves[0].unit, "MS/M") << c.name;
        EXPECT_TRUE(std::isnan(r->curves[0].values[0]) && std::isnan(r->curves[0].values[1])) << c.name;
        EXPECT_EQ(r->curves[1], (las::LasCurve{"T\xC3\xA9mp", "DEGC", {7, 8}})) << c.name;
    }
}

// Dots inside mnemonics and units: a ".." glued to the name keeps one dot
// in the name; a unit that itself starts with a dot stays the unit's.
TEST(LasRead, V2DotsInNamesAndUnits) {
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", "~V\n VERS. 2.0\n~C\n DEPT  ..1IN : d\nCond..MS/M : c\n"
                                               "I. Res..OHM-M : r\n~A\n10 1 2\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->depth, std::vector<double>{10});
    ASSERT_EQ(r->curves.size(), 2u);
    EXPECT_EQ(r->curves[0], (las::LasCurve{"Cond.", "MS/M", {1}}));
    EXPECT_EQ(r->curves[1], (las::LasCurve{"I. Res.", "OHM-M", {2}}));
}

// Data tokens in the LAS 2.0 reader: the number syntax of every reader;
// anything else is NaN.
TEST(LasRead, V2DataTokens) {
    struct Case {
        const char* token;
        double value;  // N: NaN
    };
    const double N = -1e300, inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"1.5", 1.5},   {"+5", 5},        {".5", 0.5},   {"5.", 5},          {"-2e3", -2000}, {"inf", inf},
        {"1.5e", N},    {"-1.#IND0000", N}, {"nan(ind)", N}, {"0x10", N},     {"12,5", N},    {"-NaN", N},
        {"7.020101130.188", N}, {"\"3\"", N}, {"1e999", inf},
    };
    std::string file = "~V\n VERS. 2.0\n~C\nDEPT.M\nX.U\n~A\n";
    for (std::size_t k = 0; k < std::size(cases); ++k) file += std::to_string(k) + " " + cases[k].token + "\n";
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", file));
    ASSERT_TRUE(r) << r.error().display();
    ASSERT_EQ(r->curves.size(), 1u);
    ASSERT_EQ(r->curves[0].values.size(), std::size(cases));
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        double v = r->curves[0].values[k];
        EXPECT_EQ(std::isnan(v) ? N : v, cases[k].value) << cases[k].token;
    }
}

// The columns of a read file, depth first, with NaN written as -1e300 so that
// they compare with ==.
std::vector<std::vector<double>> columns(const LasData& data) {
    std::vector<std::vector<double>> out{data.depth};
    for (const auto& c : data.curves) out.push_back(c.values);
    for (auto& col : out)
        for (double& v : col)
            if (std::isnan(v)) v = -1e300;
    return out;
}

// A LAS 2.0 file without a DLM line whose rows are comma-separated values
// reads as the same file with DLM COMMA: header sections after the data and
// several data sections included.
TEST(LasRead, V2CommaRowsWithoutDlm) {
    struct Case {
        const char* name;
        std::string rows;  // after "~A"
    };
    const Case cases[] = {
        {"plain", "1000.5,10,-999.25\n1001,11,21\n"},
        {"blanks around commas", "1000.5, 10 ,\t20\n 1001 ,11,  21 \n"},
        {"empty and missing fields", "1000.5,,20\n1001,11\n1002,12,22,\n1003,,\n"},
        {"unreadable fields", "1000.5,ERR,20\n1001,\"x\",21\n"},
        {"comments and blank lines", "# rows\n1000.5,10,20\n\n#\n1001,11,21\n"},
        {"header after the data", "1000.5,10,20\n~W\n NULL. 20\n"},
        {"two data sections", "1000.5,10,20\n~A\n1001,11,21\n"},
    };
    const std::string head = "~V\n VERS. 2.0\n WRAP. NO\n";
    const std::string rest = "~W\n NULL. -999.25\n~C\nDEPT.M\nA.U\nB.U\n~A\n";
    for (const auto& c : cases) {
        ScratchDir dir;
        auto plain = las::read_file(dir.write("a.las", head + rest + c.rows));
        auto comma = las::read_file(dir.write("b.las", head + " DLM. COMMA\n" + rest + c.rows));
        ASSERT_TRUE(plain && comma) << c.name;
        EXPECT_EQ(columns(*plain), columns(*comma)) << c.name;
    }
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", head + rest + cases[0].rows));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(columns(*r), (std::vector<std::vector<double>>{{1000.5, 1001}, {10, 11}, {-1e300, 21}}));
}

// Rows that are not all comma-separated values keep the reading by blanks:
// a decimal comma among blank-separated values, a row without a comma, or a
// DLM line that says otherwise.
TEST(LasRead, V2CommasAmongBlanksStayAsRead) {
    const double N = -1e300;
    struct Case {
        const char* name;
        std::string dlm;
        std::string rows;
        std::vector<std::vector<double>> cols;
    };
    const Case cases[] = {
        {"a decimal comma in one value", "", "1669.875 123.45 123,420\n1670 1 2\n",
         {{1669.875, 1670}, {123.45, 1}, {N, 2}}},
        {"a decimal comma in every row", "", "1670 12,5 3\n1671 13,5 4\n", {{1670, 1671}, {N, N}, {3, 4}}},
        // The comma row reads by blanks as one token, not a number: skipped.
        {"one row without commas", "", "1000.5,10,20\n1001 11 21\n", {{1001}, {11}, {21}}},
        {"DLM SPACE", " DLM. SPACE\n", "1000.5 ,10 ,20\n", {{1000.5}, {N}, {N}}},
        {"wrapped", " WRAP. YES\n", "1000.5\n10,20 30\n", {{1000.5}, {N}, {30}}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto r = las::read_file(dir.write(
            "a.las", "~V\n VERS. 2.0\n" + c.dlm + "~W\n NULL. -999.25\n~C\nDEPT.M\nA.U\nB.U\n~A\n" + c.rows));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(columns(*r), c.cols) << c.name;
    }

    // The real file with one decimal comma: only that value is unreadable.
    // (The file runs upwards; its rows come ascending.)
    VZ_SHARED_OR_SKIP(path, "las/lasio_comma_decimal_mark.las");
    auto real = las::read_file(path);
    ASSERT_TRUE(real) << real.error().display();
    ASSERT_EQ(real->curves.size(), 7u);
    EXPECT_EQ(columns(*real)[0], (std::vector<double>{1669.75, 1669.875, 1670}));
    EXPECT_EQ(real->curves[3].mnemonic, "SFLU");
    EXPECT_EQ(columns(*real)[4], (std::vector<double>{123.45, N, 123.45}));
    EXPECT_EQ(columns(*real)[7], (std::vector<double>{105.6, 105.6, 105.6}));
}

// Header sections after the data section: the data are read with the final
// curve list and NULL value.
TEST(LasRead, V2HeaderAfterData) {
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", "~V\n VERS. 2.0\n~A\n1 -5 7\n2 3\n~W\n NULL. -5\n~C\nD.M\nX.M\nY.M\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->depth, (std::vector<double>{1, 2}));
    ASSERT_EQ(r->curves.size(), 2u);
    EXPECT_TRUE(std::isnan(r->curves[0].values[0]));
    EXPECT_EQ(r->curves[0].values[1], 3);
    EXPECT_EQ(r->curves[1].values[0], 7);
    EXPECT_TRUE(std::isnan(r->curves[1].values[1]));
}

// A short row whose token does not parse (two numbers written without a
// blank, "ERR"): from that token to the end of the row every value is NaN,
// so no value moves into the curve to its left. Full rows and delimited rows
// keep every value that parses in its own column.
TEST(LasRead, V2ShortRowWithUnreadableTokenKeepsAlignment) {
    const double N = -1e300;
    struct Case {
        const char* row;
        std::vector<double> values;  // N: NaN
    };
    const Case cases[] = {
        {"1 10 20 30 40", {1, 10, 20, 30, 40}},
        {"2 10 20.5-30 40", {2, 10, N, N, N}},          // glued: 40 is not C's
        {"3 10 7.020101130.188 40", {3, 10, N, N, N}},  // the real files' kind
        {"4 10 7.020101130.188 40 50", {4, 10, N, 40, 50}},  // full row: only the token
        {"5 10 20", {5, 10, 20, N, N}},                // short row, every token read
        {"6 ERR 20 30", {6, N, N, N, N}},
        {"7 -999.25 20.5-30", {7, N, N, N, N}},        // a null before it is still a null
    };
    std::string file = "~V\n VERS. 2.0\n~W\n NULL. -999.25\n~C\nDEPT.M\nA.U\nB.U\nC.U\nD.U\n~A\n";
    for (const auto& c : cases) file += std::string(c.row) + "\n";
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", file));
    ASSERT_TRUE(r) << r.error().display();
    ASSERT_EQ(r->curves.size(), 4u);
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        std::vector<double> got{r->depth[k]};
        for (const auto& c : r->curves) got.push_back(std::isnan(c.values[k]) ? N : c.values[k]);
        EXPECT_EQ(got, cases[k].values) << cases[k].row;
    }

    // Delimited fields cannot run together: a short comma row keeps its
    // readable values where they stand.
    auto comma = las::read_file(dir.write("b.las", "~V\n VERS. 2.0\n DLM. COMMA\n~C\nD.M\nA.U\nB.U\nC.U\n~A\n1,ERR,3\n"));
    ASSERT_TRUE(comma) << comma.error().display();
    EXPECT_TRUE(std::isnan(comma->curves[0].values[0]));
    EXPECT_EQ(comma->curves[1].values[0], 3);
    EXPECT_TRUE(std::isnan(comma->curves[2].values[0]));
}

// The real file with run-on numbers: the rows at 7685.5, 7685 and 7684.5
// hold a glued token in C04's place; C04 to C06 are NaN there and C06 never
// receives C05's value. (The file runs upwards; its rows come ascending.)
TEST(LasRead, V2RunOnNumbersRealFile) {
    VZ_SHARED_OR_SKIP(path, "las/lasio_null_runon_numbers.las");
    auto r = las::read_file(path);
    ASSERT_TRUE(r) << r.error().display();
    ASSERT_EQ(r->depth, (std::vector<double>{7684, 7684.5, 7685, 7685.5, 7686}));
    ASSERT_EQ(r->curves.size(), 6u);
    const double N = -1e300;
    const std::vector<std::vector<double>> rows = {
        {68.008, 0.144, 0.386, 7.682, 4182.679, 10.515}, {68.633, 0.149, 0.402, N, N, N},
        {68.809, 0.150, 0.411, N, N, N},                 {69.004, 0.151, 0.412, N, N, N},
        {67.354, 0.140, 0.415, 9.207, 4648.011, 10.609},
    };
    for (std::size_t k = 0; k < rows.size(); ++k) {
        std::vector<double> got;
        for (const auto& c : r->curves) got.push_back(std::isnan(c.values[k]) ? N : c.values[k]);
        EXPECT_EQ(got, rows[k]) << "row at " << r->depth[k];
    }
}

// In the LAS 2.0 path a lone carriage return ends a line too (old Macintosh
// files, and files that mix such ends with CR LF): every header line stays
// apart, so the NULL value is read and applied.
TEST(LasRead, V2LoneCarriageReturnEndsALine) {
    struct Case {
        const char* name;
        std::string eol_header;  // after the well section's STRT and STOP lines
        std::string eol;         // every other line end
    };
    const Case cases[] = {
        {"line feeds", "\n", "\n"},
        {"carriage returns only", "\r", "\r"},
        {"mixed CR and CR LF", "\r", "\r\n"},
        {"CR LF", "\r\n", "\r\n"},
    };
    for (const auto& c : cases) {
        const std::string& e = c.eol;
        const std::string file = "~VERSION" + e + " VERS. 2.0 : v" + e + " WRAP. NO" + e + "~WELL" + e +
                                 " STRT.M 1 : start" + c.eol_header + " STOP.M 2 : stop" + c.eol_header +
                                 " NULL. -9999 : null" + e + "~CURVE" + e + " DEPT.M : d" + e + " GR.API : g" + e +
                                 "~A" + e + "1 -9999" + e + "2 5" + e;
        ScratchDir dir;
        auto r = las::read_file(dir.write("a.las", file));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(r->depth, (std::vector<double>{1, 2})) << c.name;
        ASSERT_EQ(r->curves.size(), 1u) << c.name;
        EXPECT_EQ(r->curves[0].mnemonic, "GR") << c.name;
        EXPECT_TRUE(std::isnan(r->curves[0].values[0])) << c.name;
        EXPECT_EQ(r->curves[0].values[1], 5) << c.name;
    }
}

// The real file with mixed CR and CR LF line ends reads every curve and row.
TEST(LasRead, V2MixedLineEndsRealFile) {
    VZ_SHARED_OR_SKIP(path, "las/lasio_2.0_mixed_cr_crlf.las");
    auto v2 = las::read_v2(path);
    ASSERT_TRUE(v2) << v2.error().display();
    ASSERT_EQ(v2->curves.size(), 8u);
    EXPECT_EQ(v2->curves[0].mnemonic, "DEPT");
    EXPECT_EQ(v2->curves[7].mnemonic, "ILD");
    EXPECT_EQ(v2->curves[0].data, (std::vector<double>{1670, 1669.875, 1669.75}));
    EXPECT_EQ(v2->curves[7].data, (std::vector<double>{105.6, 105.6, 105.6}));
}

// A small file can describe a table far beyond memory: 20,000 curve
// definitions over 20,000 rows of two values are 400 million values once the
// missing ones are NaN, from 330 KB. Both paths refuse such a table before
// allocating it, naming the file and the table; a table the data fill reads.
TEST(LasRead, TableOutOfProportionIsRefusedBeforeAllocating) {
    auto file = [](bool v3, std::size_t curves, std::size_t rows, const std::string& row) {
        std::string f = v3 ? "~Version\n VERS. 3.0\n~Curve\n" : "~Version\n VERS. 2.0\n~Curve\n";
        for (std::size_t k = 0; k < curves; ++k) f += "C" + std::to_string(k) + ".U\n";
        f += v3 ? "~Log_Data\n" : "~A\n";
        for (std::size_t k = 0; k < rows; ++k) f += std::to_string(k) + row + "\n";
        return f;
    };
    for (const bool v3 : {false, true}) {
        ScratchDir dir;
        const auto path = dir.write("big.las", file(v3, 20000, 20000, " 1"));
        auto r = las::read_logs(path);
        ASSERT_FALSE(r) << v3;
        EXPECT_EQ(r.error(), Error::out_of_range(fmt::format("{}: '{}': a table of 20000 rows × 20000 curves does not "
                                                             "fit in memory",
                                                             v3 ? "LAS 3.0" : "LAS", path.string())))
            << r.error().display();

        std::string full;
        for (int k = 1; k < 50; ++k) full += " 1";
        auto fits = las::read_logs(dir.write("full.las", file(v3, 50, 25000, full)));
        ASSERT_TRUE(fits) << fits.error().display();
        ASSERT_EQ(fits->size(), 49u);
        EXPECT_EQ(fits->back().md.size(), 25000u);
    }
}

// A table the data describe may still be more than memory holds: under an
// address-space limit both paths refuse it with its size instead of letting
// the allocation failure escape.
TEST(LasRead, TableBeyondMemoryIsRefusedWithItsSize) {
    VZ_SKIP_WITHOUT_ADDRESS_LIMIT();
    std::string row;
    for (int k = 1; k < 50; ++k) row += " 1";
    for (const bool v3 : {false, true}) {
        std::string f = v3 ? "~Version\n VERS. 3.0\n~Curve\n" : "~Version\n VERS. 2.0\n~Curve\n";
        for (std::size_t k = 0; k < 50; ++k) f += "C" + std::to_string(k) + ".U\n";
        f += v3 ? "~Log_Data\n" : "~A\n";
        for (std::size_t k = 0; k < 100000; ++k) f += std::to_string(k) + row + "\n";
        ScratchDir dir;
        const auto path = dir.write("big.las", f);
        const std::string want = fmt::format("out of range: {}: '{}': a table of 100000 rows × 50 curves does not fit "
                                             "in memory",
                                             v3 ? "LAS 3.0" : "LAS", path.string());
        const std::string report = testing::run_with_memory_budget(std::size_t{32} << 20, [&]() -> std::string {
            auto r = las::read_logs(path);
            return r ? "read a table beyond the limit" : (r.error().display() == want ? "" : r.error().display());
        });
        EXPECT_EQ(report, "") << (v3 ? "3.0" : "2.0");
    }
}

// Every prefix of a file (a file cut short anywhere) reads or fails with a
// message; nothing is read out of range.
TEST(LasRead, EveryPrefixReadsOrFails) {
    const std::string v2 = "~VERSION\n VERS. 2.0 : v\n WRAP. YES\n~WELL\n NULL. -999.25 : n\n~CURVE\n DEPT.M : d\n"
                           " GR.API : g\n~A\n 1.5 10\n 2.5\n 20\n";
    const std::string v3 = "~Version\n VERS. 3.0\n DLM. COMMA\n~Well\n NULL. -1\n~Log_Definition\n D.m\n X.u\n"
                           "~Log_Data | Log_Definition\n 1,2\n 3,-1\n";
    // Unwrapped, with carriage returns: a file may end right after "~A".
    const std::string v2_cr = "~V\r VERS. 2.0\r\n~C\r D.M\r X.U\r~A\r1 2\r\n3 4.5-6\r";
    for (const std::string& file : {v2, v3, v2_cr}) {
        for (std::size_t n = 0; n <= file.size(); ++n) {
            ScratchDir dir;
            auto r = las::read_file(dir.write("a.las", file.substr(0, n)));
            if (r) {
                for (const auto& c : r->curves) EXPECT_EQ(c.values.size(), r->depth.size()) << n;
            } else {
                EXPECT_NE(r.error().kind(), ErrorKind::Io) << n;
                EXPECT_FALSE(r.error().message().empty()) << n;
            }
        }
    }
}

TEST(LasRead, ReadLogsBuildsLogsOnTheDepthColumn) {
    ScratchDir dir;
    auto logs = las::read_logs(dir.write("a.las", "~V\n VERS. 2.0\n~C\nDEPT.M\nGR.API\nRHOB.G/C3\n~A\n1 2 3\n4 5 6\n"));
    ASSERT_TRUE(logs) << logs.error().display();
    ASSERT_EQ(logs->size(), 2u);
    EXPECT_EQ((*logs)[1].mnemonic, "RHOB");
    EXPECT_EQ((*logs)[1].unit, "G/C3");
    EXPECT_EQ((*logs)[1].md, (std::vector<double>{1, 4}));
    EXPECT_EQ((*logs)[1].values, (std::vector<double>{3, 6}));
    EXPECT_EQ((*logs)[1].history.entries(), std::vector<std::string>{"log.new"});

    LasData bad;
    bad.depth = {1, 2};
    bad.curves = {las::LasCurve{"GR", "", {1}}};
    auto r = las::curves_to_logs(bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error::parse("log 'GR': md len 2 != values len 1"));

    auto missing = las::read_logs(dir.path("absent.las"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);

    // The LAS 2.0 reader reports its own read failure inside its message.
    auto v2 = las::read_v2(dir.path("absent.las"));
    ASSERT_FALSE(v2);
    EXPECT_EQ(v2.error().kind(), ErrorKind::Parse);
    EXPECT_EQ(v2.error().message().rfind("LAS: I/O error: Cannot read file " + dir.path("absent.las").string() +
                                             ": No such file or directory",
                                         0),
              0u)
        << v2.error().message();
}

// The rows of a data section, in either version: surplus columns present in
// every row are curves; a row longer than the curve list where the others
// are not is refused naming its line; a depth alone or a depth that is not a
// number is skipped, with one warning for the file naming the count and the
// first line.
TEST(LasRead, RowRules) {
    const double N = -1e300;
    struct Case {
        const char* name;
        std::string rows;                         // from line 11 on
        std::vector<std::vector<double>> cols;    // depth, A, B, surplus...; NaN as -1e300
        std::string warning;                      // after "'{path}': ", empty for none
        std::size_t refused_line = 0;             // the long row refused, 0 when read
        std::size_t refused_count = 0;
    };
    const Case cases[] = {
        {"surplus in every row", "1 2 3 4 5\n2 3 4 5 6\n", {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}, ""},
        {"short rows filled", "1 2\n2 3 4\n", {{1, 2}, {2, 3}, {N, 4}}, ""},
        {"a long row among others", "1 2 3\n2 3 4 5\n3 4 5\n", {}, "", 12, 4},
        {"a long first row", "1 2 3 4\n2 3 4\n", {}, "", 11, 4},
        {"long rows of two lengths", "1 2 3 4\n2 3 4 5 6\n", {}, "", 11, 4},
        {"a depth alone", "1 2 3\n2 3 4\n59\n", {{1, 2}, {2, 3}, {3, 4}},
         "skipped 1 data row holding only a depth or a depth that is not a number, the first on line 13"},
        {"text lines", "1 2 3\nDepth Gamma Density\n\n# note\n2 3 4\nend\n", {{1, 2}, {2, 3}, {3, 4}},
         "skipped 2 data rows holding only a depth or a depth that is not a number, the first on line 12"},
        {"skipped rows do not make the others long", "1 2 3 4\nTOTAL 9 9 9 9 9\n2 3 4 5\n",
         {{1, 2}, {2, 3}, {3, 4}, {4, 5}},
         "skipped 1 data row holding only a depth or a depth that is not a number, the first on line 12"},
    };
    const std::string head = "~V\n VERS. {}\n DLM. {}\n~W\n NULL. -999.25\n~C\nDEPT.M\nA.U\nB.U\n{}\n";
    for (const bool v3 : {false, true}) {
        for (const bool commas : {false, true}) {
            for (const auto& c : cases) {
                std::string rows = c.rows;
                if (commas)
                    for (char& ch : rows)
                        if (ch == ' ') ch = ',';
                const std::string file = fmt::format(fmt::runtime(head), v3 ? "3.0" : "2.0", commas ? "COMMA" : "SPACE",
                                                     v3 ? "~Log_Data" : "~A") +
                                         rows;
                ScratchDir dir;
                const auto path = dir.write("a.las", file);
                auto r = las::read_file(path);
                const std::string what = fmt::format("{} {} {}", v3 ? "3.0" : "2.0", commas ? "commas" : "blanks", c.name);
                if (c.refused_line) {
                    ASSERT_FALSE(r) << what;
                    EXPECT_EQ(r.error(), Error::parse(fmt::format("LAS: '{}': line {} holds {} values but 3 curves are "
                                                                  "defined and not every row holds as many",
                                                                  path.string(), c.refused_line, c.refused_count)))
                        << what << ": " << r.error().display();
                    continue;
                }
                ASSERT_TRUE(r) << what << ": " << r.error().display();
                EXPECT_EQ(columns(*r), c.cols) << what;
                for (std::size_t k = 2; k < r->curves.size(); ++k) EXPECT_EQ(r->curves[k].mnemonic, "UNKNOWN") << what;
                const std::vector<std::string> warnings =
                    c.warning.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{"'" + path.string() + "': " + c.warning};
                EXPECT_EQ(r->warnings, warnings) << what;
            }
        }
    }

    // Fields after the last that holds a value add no column; a row of empty
    // fields is no row; a row of one field with a delimiter after it is not
    // a depth alone.
    ScratchDir dir;
    auto r = las::read_file(dir.write("a.las", "~V\n VERS. 2.0\n DLM. COMMA\n~C\nD.M\nA.U\nB.U\n~A\n1,2,3,\n,,\n2,,\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(columns(*r), (std::vector<std::vector<double>>{{1, 2}, {2, N}, {3, N}}));
    EXPECT_TRUE(r->warnings.empty());

    // A lone carriage return ends a line of a LAS 2.0 file: the lines named
    // count it.
    auto cr = las::read_file(dir.write("b.las", "~V\r VERS. 2.0\r~C\rD.M\rA.U\r~A\r1 2\r2 3 4\r"));
    ASSERT_FALSE(cr);
    EXPECT_NE(cr.error().message().find("line 8 holds 3 values"), std::string::npos) << cr.error().display();
}

// A depth column that only falls comes in ascending, each row's values with
// it; one that rises and falls is kept as read with a warning naming the line
// where its order breaks. NaN depths are left aside, equal neighbours allowed.
TEST(LasRead, DepthOrder) {
    const double N = -1e300;
    struct Case {
        const char* name;
        std::string rows;  // from line 10 on
        std::vector<std::vector<double>> cols;
        std::size_t break_line = 0;
    };
    const Case cases[] = {
        {"rising", "1 10\n2 20\n2 21\n3 30\n", {{1, 2, 2, 3}, {10, 20, 21, 30}}},
        {"falling", "3 30\n2 20\n1 10\n", {{1, 2, 3}, {10, 20, 30}}},
        {"falling with equal neighbours", "3 30\n3 31\n1 10\n", {{1, 3, 3}, {10, 31, 30}}},
        {"falling around a null depth", "3 30\n-999.25 0\n1 10\n", {{1, N, 3}, {10, 0, 30}}},
        {"all equal", "5 1\n5 2\n", {{5, 5}, {1, 2}}},
        {"one row", "5 1\n", {{5}, {1}}},
        {"falling, then rising", "3 30\n2 20\n4 40\n1 10\n", {{3, 2, 4, 1}, {30, 20, 40, 10}}, 12},
        {"rising after equal depths, then falling", "1 10\n1 11\n2 20\n1.5 15\n", {{1, 1, 2, 1.5}, {10, 11, 20, 15}}, 13},
    };
    for (const bool v3 : {false, true}) {
        for (const auto& c : cases) {
            // In the 3.0 path the null depth is NaN; in the LAS 2.0 path it is
            // kept as read, a number like the others.
            if (!v3 && std::string(c.name).find("null") != std::string::npos) continue;
            ScratchDir dir;
            const auto path = dir.write(
                "a.las", std::string(v3 ? "~V\n VERS. 3.0\n" : "~V\n VERS. 2.0\n") +
                             "~W\n NULL. -999.25\n STRT.M 0\n~C\nDEPT.M\nA.U\n" + (v3 ? "~Log_Data\n" : "~A\n") + c.rows);
            auto r = las::read_file(path);
            const std::string what = std::string(v3 ? "3.0 " : "2.0 ") + c.name;
            ASSERT_TRUE(r) << what << ": " << r.error().display();
            EXPECT_EQ(columns(*r), c.cols) << what;
            const std::vector<std::string> warnings =
                c.break_line == 0 ? std::vector<std::string>{}
                                  : std::vector<std::string>{fmt::format(
                                        "'{}': the depths neither only rise nor only fall (the order breaks on line {}); "
                                        "the rows are kept as read",
                                        path.string(), c.break_line)};
            EXPECT_EQ(r->warnings, warnings) << what;
        }
    }

    // Wrapped data: the order of the depth steps, by the line of the depth.
    ScratchDir dir;
    const auto path = dir.write("w.las", "~V\n VERS. 2.0\n WRAP. YES\n~C\nD.M\nA.U\nB.U\n~A\n3\n30 31\n1\n10 11\n2\n20 21\n");
    auto w = las::read_file(path);
    ASSERT_TRUE(w) << w.error().display();
    EXPECT_EQ(columns(*w), (std::vector<std::vector<double>>{{3, 1, 2}, {30, 10, 20}, {31, 11, 21}}));
    ASSERT_EQ(w->warnings.size(), 1u);
    EXPECT_NE(w->warnings[0].find("the order breaks on line 13"), std::string::npos) << w->warnings[0];
}

// A NULL line without a value declares no null value of its own: the
// default -999.25 stands, as when the line is absent, in both paths.
TEST(LasRead, NullLineWithoutAValue) {
    for (const std::string version : {"2.0", "3.0"}) {
        for (const std::string null_line : {" NULL.   :\n", " NULL. : no value\n", " NULL.\n", ""}) {
            ScratchDir dir;
            auto r = las::read_file(dir.write("a.las", "~V\n VERS. " + version + "\n~W\n" + null_line +
                                                           "~C\nDEPT.M\nGR.API\n~A\n1 -999.25\n2 7\n"));
            ASSERT_TRUE(r) << version << " " << null_line << ": " << r.error().display();
            ASSERT_EQ(r->curves.size(), 1u);
            EXPECT_TRUE(std::isnan(r->curves[0].values[0])) << version << " " << null_line;
            EXPECT_EQ(r->curves[0].values[1], 7) << version << " " << null_line;
        }
    }
    // A NULL value that is a word is still refused by the LAS 2.0 reader.
    ScratchDir dir;
    auto word = las::read_file(dir.write("b.las", "~V\n VERS. 2.0\n~W\n NULL. none :\n~C\nD.M\nX.U\n~A\n1 2\n"));
    ASSERT_FALSE(word);
    EXPECT_EQ(word.error(), Error::parse("LAS: LAS header error: NULL value 'none' is not a number"));
}

// The depth unit: the depth curve's unit, else the unit of STRT; and what
// kind of length it spells.
TEST(LasRead, DepthUnit) {
    struct Case {
        const char* strt;
        const char* depth;
        const char* unit;
    };
    const Case cases[] = {
        {" STRT.M 1 : s\n", "DEPT.FT", "FT"},
        {" STRT.M 1 : s\n", "DEPT.", "M"},
        {" STRT. 1 : s\n", "DEPT.", ""},
        {"", "DEPT ..1IN", ".1IN"},
        {" STRT.F 1\n", "ETIM.S", "S"},
    };
    for (const std::string version : {"2.0", "3.0"}) {
        for (const auto& c : cases) {
            ScratchDir dir;
            auto r = las::read_file(dir.write("a.las", "~V\n VERS. " + version + "\n~W\n" + c.strt + "~C\n" + c.depth +
                                                           " : d\nGR.API\n~A\n1 2\n"));
            ASSERT_TRUE(r) << r.error().display();
            EXPECT_EQ(r->depth_unit, c.unit) << version << " " << c.depth << " " << c.strt;
        }
    }
    using K = las::DepthUnitKind;
    const std::pair<const char*, K> kinds[] = {
        {"F", K::Feet},       {"ft", K::Feet},     {"FEET", K::Feet},       {"foot", K::Feet},   {"USFT", K::Feet},
        {"M", K::Metres},     {"m", K::Metres},    {"METERS", K::Metres},   {"Metre", K::Metres}, {"metres", K::Metres},
        {".1IN", K::OtherLength}, {"0.1IN", K::OtherLength}, {"in", K::OtherLength}, {"CM", K::OtherLength},
        {"S", K::NotALength}, {"MS", K::NotALength}, {"", K::NotALength},  {"HHMMSS", K::NotALength},
        {"MM/S", K::NotALength},
    };
    for (const auto& [unit, kind] : kinds) EXPECT_EQ(las::depth_unit_kind(unit), kind) << unit;
}

TEST(LasSections, Helpers) {
    struct KindCase {
        const char* title;
        las::LasSectionKind kind;
    };
    using K = las::LasSectionKind;
    const KindCase kinds[] = {
        {"", K::Other},          {"Version", K::Version},    {"V", K::Version},
        {"Well", K::Well},       {"w", K::Well},             {"Curve", K::CurveDefinition},
        {"C", K::CurveDefinition}, {"Log_Definition", K::CurveDefinition}, {"Core_Definition", K::CurveDefinition},
        {"A", K::Data},          {"ASCII", K::Data},         {"Log_Data", K::Data},
        {"Parameter_Data", K::Data}, {"Parameter", K::Other}, {"Other", K::Other},
        {"VALIDATION_DATA", K::Data},
        {"Log_Data[1]", K::Data}, {"Log_Definition[12]", K::CurveDefinition}, {"Core_Data[2]", K::Data},
        {"Version[1]", K::Version}, {"[1]", K::Other},
    };
    for (const auto& c : kinds) EXPECT_EQ(las::section_kind(c.title), c.kind) << c.title;

    struct CurveCase {
        const char* line;
        std::optional<las::LasCurveDef> def;
    };
    const CurveCase curves[] = {
        {"DEPT.M : depth", las::LasCurveDef{"DEPT", "M"}},
        {"DEPT.   : depth", las::LasCurveDef{"DEPT", ""}},
        {"DEPT.: depth", las::LasCurveDef{"DEPT", ""}},
        {" GR .  GAPI  00 : g", las::LasCurveDef{"GR", "GAPI"}},
        {"DEPT M", std::nullopt},
        {" .M : x", las::LasCurveDef{"UNKNOWN", "M"}},
        {". : x", las::LasCurveDef{"UNKNOWN", ""}},
    };
    for (const auto& c : curves) EXPECT_EQ(las::parse_curve_line(c.line), c.def) << c.line;

    const std::vector<std::string_view> lines{"# VERS. 9", "vers .   3.0   extra : d", "VERS. 2.0", "NULL.  : x",
                                              "DLM.COMMA : d"};
    EXPECT_EQ(las::header_value(lines, "VERS"), "3.0");
    EXPECT_EQ(las::header_value(lines, "NULL"), std::nullopt);
    EXPECT_EQ(las::header_value(lines, "DLM"), "COMMA");
    EXPECT_EQ(las::header_value(lines, "WRAP"), std::nullopt);

    auto sections = las::scan_sections("junk\n~Log_Data | Log_Definition\n a \n\n# c\n~\nb\n");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].title, "Log_Data");
    EXPECT_EQ(sections[0].lines, (std::vector<std::string_view>{"a", "# c"}));
    EXPECT_EQ(sections[1].title, "");
}

// Every real LAS sample either reads or is refused with the reader's
// message; the table records which.
TEST(LasRead, SharedSamples) {
    struct Case {
        const char* file;
        const char* error;  // nullptr: reads
        std::size_t curves;
        std::size_t samples;
    };
    const Case cases[] = {
#include "io_las_samples.inc"
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("las/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = las::read_file(p);
        if (c.error) {
            ASSERT_FALSE(r) << c.file;
            EXPECT_NE(r.error().display().find(c.error), std::string::npos) << c.file << ": " << r.error().display();
        } else {
            ASSERT_TRUE(r) << c.file << ": " << r.error().display();
            EXPECT_EQ(r->curves.size(), c.curves) << c.file;
            EXPECT_EQ(r->depth.size(), c.samples) << c.file;
            for (const auto& cv : r->curves) EXPECT_EQ(cv.values.size(), r->depth.size()) << c.file;
        }
    }
}

}  // namespace
}  // namespace vz
