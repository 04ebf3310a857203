#include "io/las.hpp"
#include "utf8.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "foundation/memory.hpp"
#include "io/text.hpp"

namespace vz::las {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDefaultNull = -999.25;

std::string latin1(std::string_view s) { return text::decode_latin1(s); }

// ---------------------------------------------------------------------------
// LAS 3.0 section parser

std::string_view section_title(std::string_view line) {
    // `line` starts with '~'.
    std::string_view rest = line.substr(1);
    std::size_t e = 0;
    while (e < rest.size() && !text::is_space(rest[e]) && rest[e] != '|') ++e;
    return rest.substr(0, e);
}

// The first Version section of the file, found without scanning past it.
std::optional<LasSection> first_version_section(std::string_view bytes) {
    text::Lines lines(bytes);
    std::string_view raw;
    std::optional<LasSection> current;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.front() == '~') {
            if (current) return current;
            std::string_view title = section_title(l);
            if (section_kind(title) == LasSectionKind::Version) current = LasSection{title, {}};
            continue;
        }
        if (current) current->lines.push_back(l);
    }
    return current;
}

/// The fields of a row at every "," or tab (empty fields kept).
void split_row(std::string_view row, LasDelimiter dlm, std::vector<std::string_view>& out) {
    out.clear();
    char sep = dlm == LasDelimiter::Comma ? ',' : '\t';
    std::size_t start = 0;
    while (true) {
        std::size_t p = row.find(sep, start);
        if (p == std::string_view::npos) {
            out.push_back(row.substr(start));
            break;
        }
        out.push_back(row.substr(start, p - start));
        start = p + 1;
    }
}

/// The trimmed, non-empty lines of a section body: a bound on its rows.
std::size_t row_lines(std::string_view body) {
    std::size_t count = 0;
    text::Lines lines(body);
    std::string_view raw;
    while (lines.next(raw)) count += text::trim(raw).empty() ? 0 : 1;
    return count;
}

// ---------------------------------------------------------------------------
// Data rows, shared by both readers

/// The 1-based number of the line that holds `at` (a position inside
/// `text`): the line ends before it, counted. With `lone_cr` a carriage
/// return not followed by a line feed ends a line too (the LAS 2.0 reader's
/// lines). Only run to word a message.
std::size_t line_number(std::string_view text, const char* at, bool lone_cr) {
    const std::size_t end = static_cast<std::size_t>(at - text.data());
    std::size_t n = 1;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n')
            ++n;
        else if (lone_cr && text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
            ++n;
    }
    return n;
}

/// Whether a table of `rows` × `curves` values is one the data can describe.
/// A row writes each of its values with at least one byte after it (a
/// separator or the line's end), so a table of more values than the data
/// section has bytes is mostly NaN the file never wrote: rows far shorter
/// than a long curve list (20,000 definitions over rows of one value). Such
/// a table is refused before it is allocated, which keeps a read within a
/// fixed multiple of the file's size. Tables of up to a million values
/// always pass.
bool table_in_proportion(std::size_t rows, std::size_t curves, std::size_t bytes) {
    constexpr std::size_t kAlways = std::size_t{1} << 20;
    if (curves == 0 || rows <= kAlways / curves) return true;
    return rows <= bytes / curves;
}

/// The columns of a data section, filled row by row, with what the rows
/// showed: the rows skipped, the row that makes the file unreadable, the
/// order of the depths. Line positions are kept as pointers into the text
/// and turned into numbers only for a message.
class RowTable {
public:
    /// `curves` columns with room for `reserve` rows each. A depth counts as
    /// one when it is finite and farther than `null_tolerance` from
    /// `null_value`.
    RowTable(std::size_t curves, std::size_t reserve, double null_value, double null_tolerance)
        : n_(curves), width_(curves), null_(null_value), tolerance_(null_tolerance), cols_(curves) {
        for (auto& c : cols_) c.reserve(reserve);
    }

    /// A row of `count` values (at least one; the first, the depth, is a
    /// number or NaN for a null) found at `line`. A row longer than the
    /// curve list gives every row its surplus columns when it is the first
    /// row and every later row is as long; otherwise it makes the file
    /// unreadable: false (see `long_line`). Surplus columns grow with the
    /// rows that fill them, so a long first row reserves nothing.
    bool add(const double* v, std::size_t count, const char* line) {
        if (count != width_ && !widen(count, line)) [[unlikely]]
            return false;
        std::vector<double>* c = cols_.data();
        for (std::size_t k = 0; k < count; ++k) c[k].push_back(v[k]);
        for (std::size_t k = count; k < width_; ++k) c[k].push_back(kNaN);
        depth(v[0], line);
        return true;
    }

    /// One value of wrapped data, column `k` of the current depth step; the
    /// depth (`k` 0) starts a step at `line`.
    void wrapped(std::size_t k, double v, const char* line) {
        cols_[k].push_back(v);
        if (k == 0) depth(v, line);
    }

    /// A data row left out: a depth alone in a file of several curves, or
    /// (`unreadable`) a depth that is not a number.
    void skip(const char* line, bool unreadable) {
        if (skipped_++ == 0) first_skipped_ = line;
        unreadable_ += unreadable ? 1 : 0;
    }

    /// The row longer than the curve list that makes the file unreadable
    /// (after `add` returned false): its line and value count.
    const char* long_line() const { return long_line_; }
    std::size_t long_count() const { return long_count_; }

    std::vector<std::vector<double>>& columns() { return cols_; }

    /// What the rows showed, with line numbers counted in `text` (whose
    /// lines end at line feeds, and at lone carriage returns with `lone_cr`).
    LasRowReport report(std::string_view text, bool lone_cr) const {
        LasRowReport r;
        r.rows = rows_;
        r.any_depth = any_depth_;
        r.skipped = skipped_;
        r.unreadable_depths = unreadable_;
        if (first_skipped_) r.first_skipped_line = line_number(text, first_skipped_, lone_cr);
        if (break_) r.order_break_line = line_number(text, break_, lone_cr);
        r.descending = dir_ < 0 && !break_;
        return r;
    }

private:
    // A row of `count` values where the table is `width_` wide: a short row
    // (filled with NaN) while no row had surplus values, or the first row
    // with surplus values (the table widens to it); anything else makes the
    // file unreadable.
    [[gnu::noinline]] bool widen(std::size_t count, const char* line) {
        if (count > n_) {
            if (!long_line_) long_line_ = line, long_count_ = count;
            if (rows_ != 0) return false;
            cols_.resize(count);
            width_ = count;
            return true;
        }
        return width_ == n_;
    }

    // Counts the row and follows the order of the depths: the first strict
    // step sets the direction, the first step against it is where the order
    // breaks. NaN depths are left aside (they compare neither way, and
    // `prev_` starts as one); equal neighbours go either way.
    void depth(double d, const char* line) {
        ++rows_;
        if (!any_depth_) [[unlikely]]
            any_depth_ = std::isfinite(d) && !(std::fabs(d - null_) <= tolerance_);
        if (std::isnan(d) || break_) return;
        if (d > prev_) {
            if (dir_ < 0)
                break_ = line;
            else
                dir_ = 1;
        } else if (d < prev_) {
            if (dir_ > 0)
                break_ = line;
            else
                dir_ = -1;
        }
        prev_ = d;
    }

    std::size_t n_;
    std::size_t width_;  // the columns: the curves, and the surplus of the rows
    double null_;
    double tolerance_;
    std::vector<std::vector<double>> cols_;
    std::size_t rows_ = 0;
    bool any_depth_ = false;
    std::size_t skipped_ = 0;
    std::size_t unreadable_ = 0;
    const char* first_skipped_ = nullptr;
    const char* long_line_ = nullptr;
    std::size_t long_count_ = 0;
    double prev_ = kNaN;
    int dir_ = 0;
    const char* break_ = nullptr;
};

/// The refusal of a row longer than the curve list (see `RowTable::add`).
Error long_row_error(const RowTable& t, std::size_t curves, std::string_view text, bool lone_cr,
                     const std::filesystem::path& path) {
    return Error::parse(fmt::format("LAS: '{}': line {} holds {} values but {} curves are defined and not every "
                                    "row holds as many",
                                    text::display_path(path), line_number(text, t.long_line(), lone_cr),
                                    t.long_count(), curves));
}

/// The refusal of a table out of proportion to its data (see
/// `table_in_proportion`).
Error table_error(std::string_view reader, const std::filesystem::path& path, std::size_t rows, std::size_t curves) {
    return memory_error(
        fmt::format("{}: '{}': a table of {} rows × {} curves", reader, text::display_path(path), rows, curves));
}

/// The depth rules common to both readers, on the read columns: a depth
/// column with rows but no depth is refused; a falling one is turned round
/// with its rows; the warnings name the file.
Result<LasData> finish(LasData data, const LasRowReport& rows, const std::filesystem::path& path) {
    if (!rows.any_depth && (rows.rows > 0 || rows.unreadable_depths > 0))
        return fail(Error::parse(
            fmt::format("LAS: no md/depth curve: the index curve '{}' holds no number", data.depth_mnemonic)));
    if (rows.descending) {
        std::reverse(data.depth.begin(), data.depth.end());
        for (auto& c : data.curves) std::reverse(c.values.begin(), c.values.end());
    }
    if (rows.skipped > 0)
        data.warnings.push_back(fmt::format(
            "'{}': skipped {} data row{} holding only a depth or a depth that is not a number, the first on line {}",
            text::display_path(path), rows.skipped, rows.skipped == 1 ? "" : "s", rows.first_skipped_line));
    if (rows.order_break_line > 0)
        data.warnings.push_back(fmt::format(
            "'{}': the depths neither only rise nor only fall (the order breaks on line {}); the rows are kept as read",
            text::display_path(path), rows.order_break_line));
    return data;
}

/// Adds the rows of a 3.0 data section to `table`: every trimmed, non-empty
/// line not starting with "#" whose tokens are not all empty is a row; token
/// i (trimmed) parsed by the readers' syntax gives column i, NaN when
/// unreadable or equal to the null value; the row rules of `RowTable` and
/// `read_file` follow. The body is walked once, with no list of lines.
/// False when a row makes the file unreadable.
bool fill_rows(std::string_view body, LasDelimiter dlm, double null_value, std::size_t curves, RowTable& table) {
    std::vector<std::string_view> toks;
    std::vector<double> row(std::max<std::size_t>(curves, 1));
    const auto at = [&](std::size_t k) -> double& {
        if (k >= row.size()) row.resize(2 * k);
        return row[k];
    };
    const auto finish_row = [&](std::size_t count, bool depth_read, bool depth_alone, const char* line) {
        if (!depth_read) {
            table.skip(line, true);
            return true;
        }
        if (depth_alone && curves > 1) {
            table.skip(line, false);
            return true;
        }
        for (std::size_t k = 0; k < count; ++k)
            if (row[k] == null_value) row[k] = kNaN;
        return table.add(row.data(), count, line);
    };
    text::Lines lines(body);
    std::string_view raw;
    while (lines.next(raw)) {
        const std::string_view line = text::trim(raw);
        if (line.empty() || line.front() == '#') continue;
        if (dlm == LasDelimiter::Whitespace) {
            // Tokens are the runs between white space; a number that ends at
            // white space or at the line's end is its token's number.
            const char* p = line.data();
            const char* const end = p + line.size();
            std::size_t count = 0;
            bool depth_read = true;
            // Tokens are at least a character and a blank apart.
            if (row.size() < line.size() / 2 + 1) row.resize(line.size() / 2 + 1);
            while (true) {
                while (p != end && text::is_space(*p)) ++p;
                if (p == end) break;
                double v = 0.0;
                const auto r = fast_float::from_chars(p, end, v);
                if (r.ec == std::errc() && (r.ptr == end || text::is_space(*r.ptr)) && r.ptr[-1] != ')') {
                    p = r.ptr;
                } else {
                    const char* b = p;
                    while (p != end && !text::is_space(*p)) ++p;
                    const auto n = text::parse_number(std::string_view(b, static_cast<std::size_t>(p - b)));
                    v = n ? *n : kNaN;
                    if (count == 0) depth_read = n.has_value();
                }
                row[count++] = v;
            }
            if (!finish_row(count, depth_read, count == 1, line.data())) return false;
            continue;
        }
        split_row(line, dlm, toks);
        // Fields after the last one that holds anything add no value.
        std::size_t count = toks.size();
        while (count > 0 && text::trim(toks[count - 1]).empty()) --count;
        if (count == 0) continue;
        bool depth_read = true;
        for (std::size_t k = 0; k < count; ++k) {
            const auto n = text::parse_number(text::trim(toks[k]));
            at(k) = n ? *n : kNaN;
            if (k == 0) depth_read = n.has_value();
        }
        if (!finish_row(count, depth_read, toks.size() == 1, line.data())) return false;
    }
    return true;
}

/// A section of the 3.0 scan: its title, its body (the bytes from the end of
/// its "~" line to the start of the next one) and, for sections other than
/// data sections, its trimmed non-empty lines. Data sections, which hold
/// nearly the whole file, are walked straight from their body.
struct SectionText {
    std::string_view title;
    std::string_view body;
    std::vector<std::string_view> lines;
    /// The definition section a data section names after "|" on its "~"
    /// line ("~Log_Data | Log_Definition"), empty when it names none.
    std::string_view definition;
};

/// The first word after "|" on a section line, empty without one.
std::string_view named_definition(std::string_view line) {
    const std::size_t bar = line.find('|');
    if (bar == std::string_view::npos) return {};
    const std::string_view rest = text::trim(line.substr(bar + 1));
    std::size_t e = 0;
    while (e < rest.size() && !text::is_space(rest[e])) ++e;
    return rest.substr(0, e);
}

/// Where the next line whose trimmed text starts with "~" begins, searching
/// from `from` (a line start) on; the end of `bytes` when there is none. Data
/// rows hardly ever hold a "~", so this mostly runs at memchr's pace.
std::size_t next_section_line(std::string_view bytes, std::size_t from) {
    while (from < bytes.size()) {
        const std::size_t tilde = bytes.find('~', from);
        if (tilde == std::string_view::npos) return bytes.size();
        const std::size_t nl = bytes.rfind('\n', tilde);
        const std::size_t start = (nl == std::string_view::npos || nl < from) ? from : nl + 1;
        bool blank = true;
        for (std::size_t k = start; k < tilde && blank; ++k) blank = text::is_space(bytes[k]);
        if (blank) return start;
        const std::size_t next = bytes.find('\n', tilde);
        from = next == std::string_view::npos ? bytes.size() : next + 1;
    }
    return bytes.size();
}

std::vector<SectionText> scan_section_texts(std::string_view bytes) {
    std::vector<SectionText> out;
    text::Lines lines(bytes);
    std::string_view raw;
    bool keep_lines = false;
    const char* const end = bytes.data() + bytes.size();
    while (true) {
        if (!out.empty() && !keep_lines) {
            // Inside a data section only the next "~" line matters: jump to it.
            const std::size_t from = static_cast<std::size_t>(out.back().body.data() - bytes.data());
            lines = text::Lines(bytes.substr(next_section_line(bytes, from)));
        }
        if (!lines.next(raw)) break;
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.front() == '~') {
            // The previous body ends where this line starts.
            if (!out.empty())
                out.back().body = std::string_view(out.back().body.data(),
                                                   static_cast<std::size_t>(raw.data() - out.back().body.data()));
            const char* after = raw.data() + raw.size();
            // Step over the line end ("\r\n" or "\n") that `Lines` removed.
            if (after != end && *after == '\r') ++after;
            if (after != end && *after == '\n') ++after;
            out.push_back(SectionText{section_title(l), std::string_view(after, static_cast<std::size_t>(end - after)),
                                      {}, named_definition(l)});
            keep_lines = section_kind(out.back().title) != LasSectionKind::Data;
            continue;
        }
        if (keep_lines) out.back().lines.push_back(l);
    }
    return out;
}

/// A section title without its array index: LAS 3.0 stores several runs of
/// a group as "Log_Definition[1]", "Log_Data[1]", "[2]" and so on.
std::pair<std::string_view, std::string_view> split_title_index(std::string_view title) {
    if (title.size() > 2 && title.back() == ']')
        if (const std::size_t open = title.rfind('['); open != std::string_view::npos && open > 0)
            return {title.substr(0, open), title.substr(open)};
    return {title, {}};
}

/// The log group's sections: its data under ~Log_Data, ~A or ~ASCII, its
/// definitions under ~Log_Definition, ~C or a title starting with "Curve";
/// any run of them ("Log_Data[2]").
bool is_log_data(std::string_view title) {
    title = split_title_index(title).first;
    return text::iequals(title, "LOG_DATA") || text::iequals(title, "A") || text::iequals(title, "ASCII");
}
bool is_log_definition(std::string_view title) {
    title = split_title_index(title).first;
    return text::iequals(title, "LOG_DEFINITION") || text::iequals(title, "C") || text::istarts_with(title, "CURVE");
}

/// The definition section of the data section `at`, among the definition
/// sections before it (`kinds` holds every section's kind): the one its "~"
/// line names after "|"; else, for a title X_Data (or X_Data[i]), the one
/// titled X_Definition (X_Definition[i]); else, for the log group's data,
/// the log group's latest definition; else the latest definition section of
/// any title; none when no definition section comes before it. The latest
/// of equal titles wins, so a file that repeats a group pairs each data
/// section with the definition just before it.
const SectionText* definition_of(const std::vector<SectionText>& sections, const std::vector<LasSectionKind>& kinds,
                                 std::size_t at) {
    const auto latest = [&](auto&& accept) -> const SectionText* {
        for (std::size_t k = at; k-- > 0;)
            if (kinds[k] == LasSectionKind::CurveDefinition && accept(sections[k].title)) return &sections[k];
        return nullptr;
    };
    const SectionText& data = sections[at];
    if (!data.definition.empty())
        if (auto* d = latest([&](std::string_view t) { return text::iequals(t, data.definition); })) return d;
    constexpr std::string_view kData = "_DATA", kDefinition = "_DEFINITION";
    const auto [title, index] = split_title_index(data.title);
    if (title.size() > kData.size() && text::iequals(title.substr(title.size() - kData.size()), kData)) {
        const std::string_view group = title.substr(0, title.size() - kData.size());
        const auto same_group = [&](std::string_view t) {
            const auto [base, base_index] = split_title_index(t);
            return base.size() == group.size() + kDefinition.size() && text::istarts_with(base, group) &&
                   text::iequals(base.substr(group.size()), kDefinition) && text::iequals(base_index, index);
        };
        if (auto* d = latest(same_group)) return d;
    }
    if (is_log_data(data.title))
        if (auto* d = latest(is_log_definition)) return d;
    return latest([](std::string_view) { return true; });
}

/// The data section to read and its definitions: the log group's first data
/// section after a definition section, else the first other such data
/// section. Parameter data are never read. Both none when nothing pairs.
std::pair<const SectionText*, const SectionText*> pair_sections(const std::vector<SectionText>& sections) {
    std::vector<LasSectionKind> kinds;
    kinds.reserve(sections.size());
    for (const auto& s : sections) kinds.push_back(section_kind(s.title));
    // Every data section after the first definition section has a
    // definition; those before it have none and are never read.
    const auto first = std::find(kinds.begin(), kinds.end(), LasSectionKind::CurveDefinition);
    const std::size_t from = static_cast<std::size_t>(first - kinds.begin());
    for (const bool log_group : {true, false}) {
        for (std::size_t k = from; k < sections.size(); ++k) {
            const auto& s = sections[k];
            if (kinds[k] != LasSectionKind::Data || text::istarts_with(s.title, "PARAMETER")) continue;
            if (is_log_data(s.title) == log_group) return {&s, definition_of(sections, kinds, k)};
        }
    }
    return {nullptr, nullptr};
}

/// The unit of a "MNEM.UNIT value : description" header line: the text
/// directly after the "." of the first non-comment line whose mnemonic
/// matches, up to white space or ":"; empty when there is none.
std::string_view header_unit(const std::vector<std::string_view>& lines, std::string_view mnemonic) {
    for (std::string_view line : lines) {
        if (line.empty() || line.front() == '#') continue;
        const std::size_t dot = line.find('.');
        if (dot == std::string_view::npos || !text::iequals(text::trim(line.substr(0, dot)), mnemonic)) continue;
        std::size_t e = dot + 1;
        while (e < line.size() && !text::is_space(line[e]) && line[e] != ':') ++e;
        return line.substr(dot + 1, e - dot - 1);
    }
    return {};
}

Result<LasData> read_v3(std::string_view bytes, const std::vector<SectionText>& sections, const SectionText& version,
                        const std::filesystem::path& path) {
    LasDelimiter dlm = LasDelimiter::Whitespace;
    if (auto d = header_value(version.lines, "DLM")) {
        std::string u = text::upper(*d);
        if (u == "COMMA") dlm = LasDelimiter::Comma;
        if (u == "TAB") dlm = LasDelimiter::Tab;
    }
    if (auto w = header_value(version.lines, "WRAP"); w && text::iequals(*w, "YES"))
        return fail(Error::format("LAS 3.0: wrapped data (WRAP YES) is not supported"));

    double null_value = kDefaultNull;
    std::string_view strt_unit;
    for (const auto& s : sections) {
        if (section_kind(s.title) != LasSectionKind::Well) continue;
        if (auto v = header_value(s.lines, "NULL")) {
            if (auto n = text::parse_number(*v)) null_value = *n;
        }
        strt_unit = header_unit(s.lines, "STRT");
        break;
    }

    const auto [data, definition] = pair_sections(sections);
    if (!data) return fail(Error::format("LAS 3.0: no curve-definition + data section pair found"));
    const std::vector<LasCurveDef> defs = curve_definitions(definition->lines);
    if (defs.empty()) return fail(Error::format("LAS 3.0: curve section defined no curves"));

    // Every column gets one value per row and the section holds at most one
    // row per line: the table is sized once from what the file holds. The
    // line breaks bound the rows from above and are counted at memory speed;
    // only when that bound is out of proportion to the data, or cannot be
    // held, are the rows' lines counted exactly, for a table that may still
    // pass or for the message.
    const std::size_t n = defs.size();
    std::size_t rows = 1;
    for (std::size_t at = data->body.find('\n'); at != std::string_view::npos; at = data->body.find('\n', at + 1))
        ++rows;
    bool exact = false;
    if (!table_in_proportion(rows, n, data->body.size())) {
        rows = row_lines(data->body);
        exact = true;
        if (!table_in_proportion(rows, n, data->body.size())) return fail(table_error("LAS 3.0", path, rows, n));
    }
    std::optional<RowTable> table;
    try {
        table.emplace(n, rows, null_value, 0.0);
    } catch (const std::bad_alloc&) {
        table.reset();
        if (!exact) rows = row_lines(data->body);
        try {
            table.emplace(n, rows, null_value, 0.0);
        } catch (const std::bad_alloc&) {
            table.reset();
            return fail(table_error("LAS 3.0", path, rows, n));
        }
    }
    if (!fill_rows(data->body, dlm, null_value, n, *table)) return fail(long_row_error(*table, n, bytes, false, path));
    const LasRowReport report = table->report(bytes, false);

    auto& cols = table->columns();
    LasData out;
    out.depth = std::move(cols[0]);
    out.depth_mnemonic = latin1(defs[0].mnemonic);
    out.depth_unit = latin1(defs[0].unit.empty() ? strt_unit : defs[0].unit);
    for (std::size_t k = 1; k < cols.size(); ++k) {
        if (k < n)
            out.curves.push_back(LasCurve{latin1(defs[k].mnemonic), latin1(defs[k].unit), std::move(cols[k])});
        else
            out.curves.push_back(LasCurve{std::string(kNamelessCurve), {}, std::move(cols[k])});
    }
    table.reset();
    return finish(std::move(out), report, path);
}

// ---------------------------------------------------------------------------
// LAS 2.0 reader

constexpr bool ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Lines of a LAS 2.0 file: a line ends at a line feed, a carriage return
// with a line feed, or a lone carriage return, so old Macintosh files and
// files that mix those ends keep every header line apart. A carriage return
// is looked for only up to the next line feed, which is remembered, so every
// byte is looked at a bounded number of times whatever the line ends.
class V2Lines {
public:
    explicit V2Lines(std::string_view text) : t_(text), nl_(find('\n', 0, text.size())) {}

    /// The next line (untrimmed) in `line`; false at the end.
    bool next(std::string_view& line) {
        if (pos_ >= t_.size()) return false;
        if (nl_ < pos_) nl_ = find('\n', pos_, t_.size());
        const std::size_t end = find('\r', pos_, nl_);  // the line feed when no carriage return comes first
        line = t_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (pos_ == nl_ && end != nl_) ++pos_;  // "\r\n" ends one line
        return true;
    }

    /// Where the next line starts (the end of the text after the last line).
    std::size_t position() const { return std::min(pos_, t_.size()); }

private:
    // The first `c` in [from, to), or `to`.
    std::size_t find(char c, std::size_t from, std::size_t to) const {
        if (from >= to) return to;
        const void* p = std::memchr(t_.data() + from, c, to - from);
        return p ? static_cast<std::size_t>(static_cast<const char*>(p) - t_.data()) : to;
    }

    std::string_view t_;
    std::size_t pos_ = 0;
    std::size_t nl_;
};

std::string_view trim_ascii(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && ascii_space(s[b])) ++b;
    while (e > b && ascii_space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Data lines (neither empty nor "#") from the start of `text` up to its next
// section line: at most one row each when the data are not wrapped. Only the
// first character of each line is looked at.
std::size_t count_data_lines(std::string_view text) {
    const char* p = text.data();
    const std::size_t size = text.size();
    auto find = [&](char c, std::size_t from, std::size_t to) {
        const void* q = from < to ? std::memchr(p + from, c, to - from) : nullptr;
        return q ? static_cast<std::size_t>(static_cast<const char*>(q) - p) : to;
    };
    std::size_t n = 0, i = 0, nl = find('\n', 0, size);
    while (i < size) {
        std::size_t b = i;
        while (b < size && (p[b] == ' ' || p[b] == '\t' || p[b] == '\v' || p[b] == '\f')) ++b;
        if (b < size && p[b] != '\n' && p[b] != '\r') {
            if (p[b] == '~') break;
            if (p[b] != '#') ++n;
        }
        if (nl < b) nl = find('\n', b, size);
        i = find('\r', b, nl) + 1;
    }
    return n;
}

// Whether a data line reads as values separated by commas: it holds a ","
// and none of its comma-separated fields has a blank inside ("1000.5,12.3,
// -999.25" does; "1669.875 123,420 0.45", a decimal comma among blanks,
// does not).
bool comma_row(std::string_view line) {
    if (line.find(',') == std::string_view::npos) return false;
    for (std::size_t start = 0;;) {
        const std::size_t p = line.find(',', start);
        const std::string_view field = trim_ascii(line.substr(start, p == line.npos ? line.npos : p - start));
        if (std::any_of(field.begin(), field.end(), ascii_space)) return false;
        if (p == std::string_view::npos) return true;
        start = p + 1;
    }
}

// The data lines (neither empty nor "#") from the start of `text` up to its
// next section line, and whether every one of them is a comma row. The walk
// stops at the first line that is not, so rows separated by blanks cost one
// line.
struct CommaRows {
    std::size_t lines = 0;
    bool all = true;
};
CommaRows comma_rows(std::string_view text) {
    CommaRows out;
    V2Lines lines(text);
    std::string_view raw;
    while (lines.next(raw)) {
        const std::string_view l = trim_ascii(raw);
        if (l.empty() || l.front() == '#') continue;
        if (l.front() == '~') break;
        ++out.lines;
        if (!comma_row(l)) {
            out.all = false;
            break;
        }
    }
    return out;
}

void put_utf8(std::string& out, char32_t cp) { utf8::append(out, cp); }

std::string utf16_to_utf8(std::string_view b, bool big_endian) {
    std::string out;
    out.reserve(b.size() / 2);
    auto unit = [&](std::size_t i) -> char32_t {
        auto hi = static_cast<unsigned char>(b[i]), lo = static_cast<unsigned char>(b[i + 1]);
        return big_endian ? (char32_t(hi) << 8 | lo) : (char32_t(lo) << 8 | hi);
    };
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < b.size()) {
            char32_t v = unit(i + 2);
            if (v >= 0xDC00 && v < 0xE000) {
                put_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        put_utf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}


// The text of a LAS 2.0 file as UTF-8: UTF-16 by byte-order mark or by the
// zero byte of an ASCII first character, UTF-8 (byte-order mark dropped), or
// Latin-1 when the bytes are not valid UTF-8.
std::string_view decode_v2(std::string_view bytes, std::string& storage) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2) {
        if (b(0) == 0xFF && b(1) == 0xFE) return storage = utf16_to_utf8(bytes.substr(2), false);
        if (b(0) == 0xFE && b(1) == 0xFF) return storage = utf16_to_utf8(bytes.substr(2), true);
        if (b(0) == 0 && b(1) != 0) return storage = utf16_to_utf8(bytes, true);
        if (b(0) != 0 && b(1) == 0) return storage = utf16_to_utf8(bytes, false);
    }
    if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) bytes.remove_prefix(3);
    if (text::valid_utf8(bytes)) return bytes;
    return storage = text::decode_latin1(bytes);
}

struct HeaderLine {
    std::string_view mnemonic;
    std::string_view unit;
    std::string_view value;
};

// "MNEM.UNIT  value : description": the mnemonic before the first '.', the
// unit directly after it up to white space, the value up to the last ':'.
std::optional<HeaderLine> header_line_v2(std::string_view line) {
    std::size_t dot = line.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    HeaderLine h;
    h.mnemonic = trim_ascii(line.substr(0, dot));
    std::string_view rest = line.substr(dot + 1);
    std::size_t colon = rest.rfind(':');
    if (colon != std::string_view::npos) rest = rest.substr(0, colon);
    std::size_t u = 0;
    while (u < rest.size() && !ascii_space(rest[u])) ++u;
    h.unit = rest.substr(0, u);
    h.value = trim_ascii(rest.substr(u));
    return h;
}

// A curve line: like a header line, except that a ".." glued to the
// mnemonic keeps its first dot in the mnemonic ("Cond..MS/M" is the curve
// "Cond." in MS/M, while "DEPT ..1IN" is DEPT in .1IN).
std::optional<std::pair<std::string_view, std::string_view>> curve_line_v2(std::string_view line) {
    std::size_t colon = line.rfind(':');
    std::string_view head = colon == std::string_view::npos ? line : line.substr(0, colon);
    std::size_t dot = head.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::size_t dd = head.find("..");
    std::size_t sep = dot;
    if (dd != std::string_view::npos && dd > 0 && !ascii_space(head[dd - 1])) sep = dd + 1;
    std::string_view mnem = trim_ascii(head.substr(0, sep));
    // A definition without a name still stands for its data column.
    if (mnem.empty()) mnem = kNamelessCurve;
    std::string_view rest = head.substr(sep + 1);
    std::size_t u = 0;
    while (u < rest.size() && !ascii_space(rest[u])) ++u;
    return std::make_pair(mnem, rest.substr(0, u));
}

// Tokens of a data line: white-space separated (or at ',' / tab for the
// DLM of the version section); a token opened by a quote runs to the
// closing quote, so quoted text with spaces stays one value.
void data_tokens(std::string_view line, LasDelimiter dlm, std::vector<std::string_view>& out) {
    out.clear();
    if (dlm != LasDelimiter::Whitespace) {
        char sep = dlm == LasDelimiter::Comma ? ',' : '\t';
        std::size_t start = 0;
        while (true) {
            std::size_t p = line.find(sep, start);
            out.push_back(trim_ascii(line.substr(start, p == std::string_view::npos ? line.npos : p - start)));
            if (p == std::string_view::npos) break;
            start = p + 1;
        }
        return;
    }
    std::size_t i = 0, n = line.size();
    while (i < n) {
        while (i < n && ascii_space(line[i])) ++i;
        if (i >= n) break;
        std::size_t b = i;
        if (line[i] == '"' || line[i] == '\'') {
            char q = line[i];
            std::size_t close = line.find(q, i + 1);
            i = close == std::string_view::npos ? n : close + 1;
        }
        while (i < n && !ascii_space(line[i])) ++i;
        out.push_back(line.substr(b, i - b));
    }
}

double value_of(std::string_view tok) {
    auto v = text::parse_number(tok);
    return v ? *v : kNaN;
}

std::string v2_failure(std::string_view inner) { return fmt::format("LAS: {}", inner); }

}  // namespace

LasSectionKind section_kind(std::string_view title) {
    std::string u = text::upper(split_title_index(title).first);
    if (u.empty()) return LasSectionKind::Other;
    if (u == "ASCII" || u == "A" || u.ends_with("_DATA")) return LasSectionKind::Data;
    if (u.front() == 'V') return LasSectionKind::Version;
    if (u.front() == 'W') return LasSectionKind::Well;
    if (u == "C" || u.starts_with("CURVE") || u.ends_with("_DEFINITION")) return LasSectionKind::CurveDefinition;
    return LasSectionKind::Other;
}

std::optional<std::string_view> header_value(const std::vector<std::string_view>& lines, std::string_view mnemonic) {
    for (std::string_view line : lines) {
        if (line.empty() || line.front() == '#') continue;
        std::size_t dot = line.find('.');
        if (dot == std::string_view::npos) continue;
        if (!text::iequals(text::trim(line.substr(0, dot)), mnemonic)) continue;
        std::string_view rest = line.substr(dot + 1);
        std::size_t colon = rest.find(':');
        if (colon != std::string_view::npos) rest = rest.substr(0, colon);
        std::size_t b = 0;
        while (b < rest.size() && text::is_space(rest[b])) ++b;
        std::size_t e = b;
        while (e < rest.size() && !text::is_space(rest[e])) ++e;
        if (e == b) return std::nullopt;
        return rest.substr(b, e - b);
    }
    return std::nullopt;
}

std::optional<LasCurveDef> parse_curve_line(std::string_view line) {
    std::size_t dot = line.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string_view mnem = text::trim(line.substr(0, dot));
    // A definition without a name still stands for its data column.
    if (mnem.empty()) mnem = kNamelessCurve;
    std::string_view rest = line.substr(dot + 1);
    std::size_t b = 0;
    while (b < rest.size() && text::is_space(rest[b])) ++b;
    std::size_t e = b;
    while (e < rest.size() && !text::is_space(rest[e]) && rest[e] != ':') ++e;
    return LasCurveDef{mnem, rest.substr(b, e - b)};
}

std::vector<LasCurveDef> curve_definitions(const std::vector<std::string_view>& lines) {
    std::vector<LasCurveDef> out;
    for (std::string_view line : lines) {
        if (!line.empty() && line.front() == '#') continue;
        if (auto d = parse_curve_line(line)) out.push_back(*d);
    }
    return out;
}

std::vector<LasSection> scan_sections(std::string_view bytes) {
    std::vector<LasSection> out;
    text::Lines lines(bytes);
    std::string_view raw;
    bool open = false;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.front() == '~') {
            out.push_back(LasSection{section_title(l), {}});
            open = true;
            continue;
        }
        if (open) out.back().lines.push_back(l);
    }
    return out;
}

// `read_file` without its guard against memory exhaustion.
static Result<LasData> read_file_unguarded(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    // Only the first version section decides the path; a file below 3.0 is
    // handed to the LAS 2.0 reader without scanning the rest.
    auto version = first_version_section(bytes);
    bool v3 = false;
    if (version) {
        if (auto vers = header_value(version->lines, "VERS")) {
            auto v = text::parse_number(*vers);
            v3 = v && *v >= 3.0;
        }
    }
    if (!v3) {
        VZ_ASSIGN_OR_RETURN(LasV2 v2, parse_v2(bytes, path));
        return v2_to_data(std::move(v2), path);
    }
    const auto sections = scan_section_texts(bytes);
    const SectionText* first_version = nullptr;
    for (const auto& s : sections)
        if (section_kind(s.title) == LasSectionKind::Version) {
            first_version = &s;
            break;
        }
    return read_v3(bytes, sections, *first_version, path);
}

Result<LasData> read_file(const std::filesystem::path& path) {
    // The tables are sized from what the file holds; what still cannot be
    // held (the sections of a huge file, their copies) is refused too.
    return guard_memory([&] { return read_file_unguarded(path); },
                        [&] { return memory_error(fmt::format("LAS: {}", text::display_path(path))); });
}

Result<std::vector<Log>> curves_to_logs(const LasData& data) {
    std::vector<Log> logs;
    logs.reserve(data.curves.size());
    for (const auto& c : data.curves) {
        VZ_ASSIGN_OR_RETURN(Log log, Log::from_curve(LogCurve{c.mnemonic, c.unit, c.values}, data.depth));
        logs.push_back(std::move(log));
    }
    return logs;
}

Result<std::vector<Log>> read_logs(const std::filesystem::path& path, LasReadInfo* info) {
    VZ_ASSIGN_OR_RETURN(LasData data, read_file(path));
    // Every log gets its own copy of the depth column.
    VZ_ASSIGN_OR_RETURN(std::vector<Log> logs,
                        guard_memory([&] { return curves_to_logs(data); },
                                     [&] {
                                         return memory_error(fmt::format("LAS: {} logs of {} samples",
                                                                         data.curves.size(), data.depth.size()));
                                     }));
    if (info) {
        info->depth_unit = std::move(data.depth_unit);
        info->warnings = std::move(data.warnings);
    }
    return logs;
}

Result<LasV2> read_v2(const std::filesystem::path& path) {
    auto bytes = text::read_file(path);
    if (!bytes)
        return fail(Error::parse(v2_failure(fmt::format("I/O error: Cannot read file {}: {}", text::display_path(path),
                                                        text::io_reason(bytes.error(), path)))));
    return parse_v2(*bytes, path);
}

namespace {

// What the header sections say about the data section.
struct V2Settings {
    double null_value = kDefaultNull;
    LasDelimiter delim = LasDelimiter::Whitespace;
    bool wrapped = false;
    /// No DLM line, and the rows read as comma-separated values (see
    /// `comma_rows`): they are read as with DLM COMMA.
    bool commas_found = false;
    std::size_t curves = 0;
};

// Parses data lines into one column per curve (the first is the depth):
// nulls become NaN in every curve but the first, unreadable values NaN; a
// short unwrapped row leaves NaN in the curves it omits; the row rules of
// `RowTable` and `read_file` apply to unwrapped rows.
class V2Data {
public:
    /// `rows`: the data lines the file holds for this section. Unwrapped data
    /// have at most one row per line, so the columns are sized once from it
    /// (checked against the data first, `table_in_proportion`).
    V2Data(const V2Settings& s, std::size_t rows)
        : s_(s), table_(s.curves, s.wrapped ? 0 : rows, s.null_value, 1e-10), row_(std::max<std::size_t>(s.curves, 1)) {}

    /// One data line; false when it makes the file unreadable (a row longer
    /// than the curve list where not every row is).
    bool line(std::string_view l) {
        ++lines_;
        const std::size_t n = s_.curves;
        if (n == 0) return true;
        if (s_.wrapped) {
            data_tokens(l, s_.delim, toks_);
            for (auto t : toks_) {
                table_.wrapped(pos_, null_to_nan(pos_, value_of(t)), l.data());
                pos_ = (pos_ + 1) % n;
            }
            return true;
        }
        if (s_.delim != LasDelimiter::Whitespace) {
            data_tokens(l, s_.delim, toks_);
            // Fields after the last one that holds anything add no value; a
            // row of empty fields is no row.
            std::size_t count = toks_.size();
            while (count > 0 && toks_[count - 1].empty()) --count;
            if (count == 0) return true;
            if (row_.size() < count) row_.resize(count);
            const auto depth = text::parse_number(toks_[0]);
            row_[0] = depth ? *depth : kNaN;
            for (std::size_t k = 1; k < count; ++k) {
                const auto v = text::parse_number(toks_[k]);
                row_[k] = v ? *v : kNaN;
            }
            return row(count, depth.has_value(), toks_.size() == 1, l.data());
        }
        // The common case, without a token list: a number that ends at white
        // space is taken as parsed; anything else goes through the full
        // token rules. The row is gathered first, because a short row with a
        // token that does not parse is most likely two numbers written
        // without a blank between them (old fixed-width writers): from that
        // token on the row's values cannot be told apart, so they are NaN
        // rather than moved into the curves to their left.
        std::size_t k = 0, i = 0, len = l.size();
        std::size_t bad = std::string_view::npos;  // the first token that did not parse
        const char* base = l.data();
        // Tokens are at least a character and a blank apart.
        if (row_.size() < len / 2 + 1) row_.resize(len / 2 + 1);
        while (true) {
            while (i < len && ascii_space(base[i])) ++i;
            if (i >= len) break;
            std::size_t b = i;
            if (base[i] != '"' && base[i] != '\'' && base[i] != '+') {
                double v;
                auto r = fast_float::from_chars(base + i, base + len, v);
                if (r.ec == std::errc() && (r.ptr == base + len || ascii_space(*r.ptr)) && r.ptr[-1] != ')') {
                    i = static_cast<std::size_t>(r.ptr - base);
                    row_[k++] = v;
                    continue;
                }
            }
            if (base[i] == '"' || base[i] == '\'') {
                std::size_t close = l.find(base[i], i + 1);
                i = close == std::string_view::npos ? len : close + 1;
            }
            while (i < len && !ascii_space(base[i])) ++i;
            auto v = text::parse_number(l.substr(b, i - b));
            if (!v && bad == std::string_view::npos) bad = k;
            row_[k++] = v ? *v : kNaN;
        }
        if (k < n && bad != std::string_view::npos)
            for (std::size_t j = bad; j < k; ++j) row_[j] = kNaN;
        return row(k, bad != 0, k == 1, l.data());
    }

    std::size_t lines() const { return lines_; }
    std::size_t pending() const { return pos_; }
    const V2Settings& settings() const { return s_; }
    RowTable& table() { return table_; }

private:
    double null_to_nan(std::size_t k, double v) const {
        return k != 0 && std::fabs(v - s_.null_value) <= 1e-10 ? kNaN : v;
    }

    // A gathered row of `count` values: skipped when its depth is not a
    // number or stands alone, else nulls replaced and added.
    bool row(std::size_t count, bool depth_read, bool depth_alone, const char* line) {
        if (!depth_read) {
            table_.skip(line, true);
            return true;
        }
        if (depth_alone && s_.curves > 1) {
            table_.skip(line, false);
            return true;
        }
        for (std::size_t j = 1; j < count; ++j) row_[j] = null_to_nan(j, row_[j]);
        return table_.add(row_.data(), count, line);
    }

    V2Settings s_;
    RowTable table_;
    std::vector<double> row_;
    std::vector<std::string_view> toks_;
    std::size_t pos_ = 0;
    std::size_t lines_ = 0;
};

// The size of the data table being built, for the message when it does not
// fit in memory (zero rows: no table yet).
struct TableSize {
    std::size_t rows = 0;
    std::size_t curves = 0;
};

Result<LasV2> parse_v2_text(std::string_view bytes, const std::filesystem::path& path, TableSize& table) {
    if (bytes.size() > 3 && bytes.substr(0, 4) == "LASF")
        return fail(Error::parse(v2_failure(fmt::format(
            "LAS data error: {}: is a binary LiDAR LAS file, not a Log ASCII Standard file", text::display_path(path)))));

    std::string storage;
    std::string_view txt = decode_v2(bytes, storage);

    enum class Sec { None, Version, Well, Curve, Data, Other };
    Sec sec = Sec::None;
    bool any_section = false;
    LasV2 out;
    std::optional<std::string_view> wrap, dlm, null_text;

    auto settings = [&]() -> Result<V2Settings> {
        V2Settings s;
        // A NULL line without a value (files converted from LIS or DLIS)
        // declares no null value: the default stands, as without the line.
        if (auto toks = null_text ? text::split_ws(*null_text) : std::vector<std::string_view>(); !toks.empty()) {
            auto v = text::parse_number(toks.front());
            if (!v)
                return fail(Error::parse(
                    v2_failure(fmt::format("LAS header error: NULL value '{}' is not a number", *null_text))));
            s.null_value = *v;
        }
        if (dlm) {
            if (text::iequals(*dlm, "COMMA")) s.delim = LasDelimiter::Comma;
            if (text::iequals(*dlm, "TAB")) s.delim = LasDelimiter::Tab;
        }
        if (wrap) {
            auto toks = text::split_ws(*wrap);
            s.wrapped = !toks.empty() && text::iequals(toks.front(), "YES");
        }
        s.curves = out.curves.size();
        return s;
    };

    // Without a DLM line, rows written as comma-separated values (common in
    // survey exports) are read as with DLM COMMA. Only when every data row
    // is a comma row: each is then one token or holds a token with a comma,
    // which the reading by blanks could not give a value, so no file whose
    // rows read by blanks changes. A decimal comma among blank-separated
    // values keeps the reading by blanks.
    auto find_commas = [&](V2Settings& s, std::span<const std::string_view> spans) {
        if (dlm || s.wrapped) return;
        CommaRows rows;
        for (auto span : spans) {
            const CommaRows r = comma_rows(span);
            rows.lines += r.lines;
            rows.all = rows.all && r.all;
            if (!rows.all) break;
        }
        s.commas_found = rows.lines > 0 && rows.all;
        if (s.commas_found) s.delim = LasDelimiter::Comma;
    };
    // Data lines are parsed as they come, with the header values read so far
    // (in a LAS file every header section precedes ~A). Header lines met
    // after a data section make the data be parsed again at the end.
    std::optional<V2Data> data;
    bool stale = false;
    std::vector<std::string_view> data_spans;
    const char* span_begin = nullptr;
    auto close_span = [&](const char* end) {
        if (span_begin) data_spans.emplace_back(span_begin, static_cast<std::size_t>(end - span_begin));
        span_begin = nullptr;
    };
    auto is_data_line = [](std::string_view l) { return !l.empty() && l.front() != '#'; };
    // A row that makes the file unreadable, met while the rows are parsed as
    // they come; decided at the end, where a header line after the data may
    // still make them be parsed again.
    bool refused = false;
    bool strt_seen = false;

    V2Lines lines(txt);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = trim_ascii(raw);
        if (l.empty()) continue;
        if (l.front() == '~') {
            any_section = true;
            close_span(raw.data());
            char c = l.size() > 1 ? l[1] : ' ';
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            sec = c == 'V' ? Sec::Version : c == 'W' ? Sec::Well : c == 'C' ? Sec::Curve : c == 'A' ? Sec::Data : Sec::Other;
            if (sec == Sec::Data) {
                out.has_data = true;
                span_begin = txt.data() + lines.position();
                if (!data && !stale) {
                    auto s = settings();
                    if (s) {
                        const std::string_view rest = txt.substr(lines.position());
                        find_commas(*s, std::span(&rest, 1));
                        std::size_t rows = s->wrapped ? 0 : count_data_lines(rest);
                        if (table_in_proportion(rows, s->curves, rest.size())) {
                            table = {rows, s->curves};
                            data.emplace(*s, rows);
                        } else {
                            stale = true;  // refused at the end, unless the header changes it
                        }
                    } else {
                        stale = true;  // decided, with its message, at the end
                    }
                } else if (data && data->settings().commas_found) {
                    stale = true;  // the separator is decided over every data section
                }
            }
            continue;
        }
        if (l.front() == '#') continue;
        switch (sec) {
            case Sec::Data:
                if (data && !stale && !refused) refused = !data->line(l);
                break;
            case Sec::Version:
                if (auto h = header_line_v2(l)) {
                    if (text::iequals(h->mnemonic, "WRAP") && !wrap) wrap = h->value, stale = stale || data.has_value();
                    if (text::iequals(h->mnemonic, "DLM") && !dlm) dlm = h->value, stale = stale || data.has_value();
                }
                break;
            case Sec::Well:
                if (auto h = header_line_v2(l); h && text::iequals(h->mnemonic, "NULL") && !null_text)
                    null_text = h->value, stale = stale || data.has_value();
                else if (h && text::iequals(h->mnemonic, "STRT") && !strt_seen)
                    out.strt_unit = std::string(h->unit), strt_seen = true;
                break;
            case Sec::Curve:
                if (auto d = curve_line_v2(l)) {
                    out.curves.push_back(LasV2Curve{std::string(d->first), std::string(d->second), {}});
                    stale = stale || data.has_value();
                }
                break;
            default: break;
        }
    }
    close_span(txt.data() + txt.size());
    if (!any_section)
        return fail(Error::parse(v2_failure("LAS header error: no section line (a LAS file starts with ~Version)")));

    VZ_ASSIGN_OR_RETURN(V2Settings final_settings, settings());
    if (!data || stale) {
        find_commas(final_settings, data_spans);
        std::size_t rows = 0, bytes_of_rows = 0;
        for (auto span : data_spans) bytes_of_rows += span.size();
        if (!final_settings.wrapped)
            for (auto span : data_spans) rows += count_data_lines(span);
        data.reset();
        if (!table_in_proportion(rows, final_settings.curves, bytes_of_rows))
            return fail(table_error("LAS", path, rows, final_settings.curves));
        table = {rows, final_settings.curves};
        data.emplace(final_settings, rows);
        refused = false;
        for (auto span : data_spans) {
            V2Lines ls(span);
            std::string_view r;
            while (!refused && ls.next(r)) {
                std::string_view l = trim_ascii(r);
                if (is_data_line(l)) refused = !data->line(l);
            }
        }
    }
    const std::size_t n = final_settings.curves;
    if (data->lines() > 0 && n == 0)
        return fail(Error::parse(v2_failure("LAS header error: data section without curve definitions (~Curve)")));
    if (data->pending() != 0)
        return fail(Error::parse(v2_failure(fmt::format(
            "LAS data error: wrapped data ends inside a depth step ({} of {} values)", data->pending(), n))));
    if (refused) return fail(long_row_error(data->table(), n, txt, true, path));
    auto& cols = data->table().columns();
    for (std::size_t k = 0; k < n; ++k) out.curves[k].data = std::move(cols[k]);
    for (std::size_t k = n; k < cols.size(); ++k)
        out.curves.push_back(LasV2Curve{std::string(kNamelessCurve), {}, std::move(cols[k])});
    out.rows = data->table().report(txt, true);
    return out;
}

}  // namespace

Result<LasV2> parse_v2(std::string_view bytes, const std::filesystem::path& path) {
    TableSize table;
    return guard_memory([&] { return parse_v2_text(bytes, path, table); },
                        [&] {
                            if (table.rows > 0 && table.curves > 0)
                                return table_error("LAS", path, table.rows, table.curves);
                            return memory_error(fmt::format("LAS: {}", text::display_path(path)));
                        });
}

Result<LasData> v2_to_data(LasV2 v2, const std::filesystem::path& path) {
    if (v2.curves.empty() || !v2.has_data) return fail(Error::parse("LAS: no md/depth curve"));
    LasData out;
    auto& index = v2.curves.front();
    out.depth = std::move(index.data);
    out.depth_mnemonic = std::move(index.mnemonic);
    out.depth_unit = index.unit.empty() ? std::move(v2.strt_unit) : std::move(index.unit);
    for (std::size_t k = 1; k < v2.curves.size(); ++k) {
        auto& c = v2.curves[k];
        out.curves.push_back(LasCurve{std::move(c.mnemonic), std::move(c.unit), std::move(c.data)});
    }
    return finish(std::move(out), v2.rows, path);
}

DepthUnitKind depth_unit_kind(std::string_view unit) {
    const std::string u = text::upper(text::trim(unit));
    for (std::string_view f : {"F", "FT", "FEET", "FOOT", "USFT"})
        if (u == f) return DepthUnitKind::Feet;
    for (std::string_view m : {"M", "METER", "METERS", "METRE", "METRES"})
        if (u == m) return DepthUnitKind::Metres;
    for (std::string_view l : {"IN", "INCH", "INCHES", ".1IN", "0.1IN", "CM", "MM", "KM"})
        if (u == l) return DepthUnitKind::OtherLength;
    return DepthUnitKind::NotALength;
}

}  // namespace vz::las
