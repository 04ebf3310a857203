#include "manager/loaders.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "algorithms/wells.hpp"
#include "core/mnemonics.hpp"
#include "io/points_load.hpp"
#include "io/structured_load.hpp"
#include "io/surface_load.hpp"
#include "expected_macros.hpp"
#include "foundation/format.hpp"
#include "foundation/memory.hpp"
#include "io/crsmeta.hpp"
#include "io/csv.hpp"
#include "io/las.hpp"
#include "io/petrel_tops.hpp"
#include "io/text.hpp"
#include "io/wellpath.hpp"
#include "manager/geodata.hpp"

namespace vz {

namespace fs = std::filesystem;

namespace {

/// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or
/// code points above U+10FFFF).
bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c >> 5) == 0x6) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c >> 4) == 0xE) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c >> 3) == 0x1E) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        const char32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

bool key_prefix_match(std::string_view key, std::string_view prefix) {
    return key == prefix ||
           (key.size() > prefix.size() && key.starts_with(prefix) && key[prefix.size()] == '_');
}

std::optional<std::size_t> pick_by_key(std::span<const std::string> keys, std::string_view row_key) {
    std::optional<std::size_t> best;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (keys[k] == row_key) return k;
        if (!key_prefix_match(row_key, keys[k])) continue;
        if (!best || keys[k].size() > keys[*best].size()) best = k;
    }
    return best;
}

}  // namespace

// ---- the rules ---------------------------------------------------------------

namespace loaders {

std::string name_key(std::string_view text) {
    std::string key(trim_unicode(text));
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (c == ' ' || c == '-' || c == '/')
            c = '_';
    }
    return key;
}

std::string file_stem(const fs::path& path) {
    std::string stem = path.stem().string();
    return valid_utf8(stem) ? stem : std::string();
}

std::string lowercase_extension(const fs::path& path) {
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0) return {};
    std::string ext = name.substr(dot + 1);
    if (!valid_utf8(ext)) return {};
    return ascii_lower(ext);
}

bool file_matches_well(const fs::path& path, std::string_view key) {
    return key_prefix_match(name_key(file_stem(path)), key);
}

Result<std::vector<fs::path>> walk_files(const fs::path& dir) {
    std::vector<fs::path> files;
    std::vector<fs::path> pending{dir};
    while (!pending.empty()) {
        fs::path current = std::move(pending.back());
        pending.pop_back();
        std::error_code ec;
        fs::directory_iterator it(current, ec);
        if (ec) return fail(Error::io_errno(ec.value(), current));
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) return fail(Error::io_errno(ec.value(), current));
            const fs::file_status st = it->symlink_status(ec);
            if (ec) return fail(Error::io_errno(ec.value(), it->path()));
            if (fs::is_directory(st))
                pending.push_back(it->path());
            else if (fs::is_regular_file(st))
                files.push_back(it->path());
        }
        if (ec) return fail(Error::io_errno(ec.value(), current));
    }
    // path's ordering compares element by element, each element by its bytes.
    std::sort(files.begin(), files.end());
    return files;
}

Result<std::vector<std::pair<fs::path, FormatKind>>> classify_files(std::span<const fs::path> paths) {
    std::vector<std::pair<fs::path, FormatKind>> out;
    out.reserve(paths.size());
    for (const auto& p : paths) {
        VZ_ASSIGN_OR_RETURN(FormatKind kind, FormatKind::detect(p));
        out.emplace_back(p, kind);
    }
    return out;
}

std::vector<std::pair<fs::path, std::string>> wellpath_bore_labels(std::span<const fs::path> surveys) {
    std::vector<std::pair<fs::path, std::string>> out;
    if (surveys.size() == 1) {
        out.emplace_back(surveys[0], "");
        return out;
    }
    std::vector<std::string> stems;
    stems.reserve(surveys.size());
    for (const auto& s : surveys) stems.push_back(file_stem(s));
    std::size_t prefix = 0;
    if (!stems.empty()) {
        const std::string& first = stems.front();
        for (std::size_t k = first.size(); k-- > 0;) {
            if (first[k] != '_') continue;
            const std::string_view candidate(first.data(), k + 1);
            if (std::all_of(stems.begin(), stems.end(), [&](const std::string& s) { return s.starts_with(candidate); })) {
                prefix = k + 1;
                break;
            }
        }
    }
    for (std::size_t k = 0; k < surveys.size(); ++k) out.emplace_back(surveys[k], stems[k].substr(prefix));
    return out;
}

std::string bore_for_file(const fs::path& path, std::span<const std::string> labels) {
    const std::string stem = file_stem(path);
    std::vector<std::string_view> tokens;
    std::size_t start = 0;
    for (std::size_t k = 0; k <= stem.size(); ++k) {
        if (k == stem.size() || stem[k] == '_' || stem[k] == '-' || stem[k] == '.' || stem[k] == ' ') {
            tokens.emplace_back(stem.data() + start, k - start);
            start = k + 1;
        }
    }
    for (const auto& label : labels) {
        if (label.empty()) continue;
        for (auto t : tokens)
            if (iequals_ascii(t, label)) return label;
    }
    return "";
}

Result<std::vector<Log>> read_las_logs(const fs::path& path, LengthUnit unit, std::vector<std::string>* warnings) {
    las::LasReadInfo info;
    VZ_ASSIGN_OR_RETURN(std::vector<Log> logs, las::read_logs(path, &info));
    const std::string stem = path.stem().string();
    if (valid_utf8(stem) && ascii_lower(stem).find("core") != std::string::npos)
        for (auto& log : logs) log.kind = LogKind::Core;
    if (warnings) {
        for (auto& w : info.warnings) warnings->push_back("load_well: " + std::move(w));
        // Depths are used as written whatever their unit; a file recorded in
        // the other length unit is told, since its depths then sit at the
        // wrong place against surveys, tops and other files.
        const las::DepthUnitKind kind = las::depth_unit_kind(info.depth_unit);
        const bool other = kind == las::DepthUnitKind::OtherLength ||
                           (kind == las::DepthUnitKind::Feet && unit != LengthUnit::Feet) ||
                           (kind == las::DepthUnitKind::Metres && unit != LengthUnit::Metres);
        if (other)
            warnings->push_back(fmt::format(
                "load_well: '{}': depth unit '{}' is not the project unit '{}'; depths are stored as written, "
                "not converted",
                text::display_path(path), info.depth_unit, length_unit_symbol(unit)));
    }
    return logs;
}

void number_repeated_mnemonics(std::span<Log> logs) {
    // Every name a log of the file keeps is reserved first, so that a
    // numbered repeat never takes a name the file itself spells further on
    // (a file holding RES, RES and RES:2 gives RES, RES:3, RES:2).
    std::unordered_set<std::string> taken;
    std::vector<std::size_t> repeats;
    for (std::size_t k = 0; k < logs.size(); ++k)
        if (!taken.insert(ascii_lower(logs[k].mnemonic)).second) repeats.push_back(k);
    // The search for a free number goes on from where the previous repeat of
    // the same name stopped, so many repeats of one name stay linear.
    std::unordered_map<std::string, std::size_t> next_number;
    for (std::size_t k : repeats) {
        const std::string base = logs[k].mnemonic;
        std::size_t& n = next_number.try_emplace(ascii_lower(base), 2).first->second;
        for (;; ++n) {
            std::string candidate = fmt::format("{}:{}", base, n);
            if (taken.insert(ascii_lower(candidate)).second) {
                logs[k].mnemonic = std::move(candidate);
                ++n;
                break;
            }
        }
    }
}

std::optional<std::pair<double, double>> logs_md_range(std::span<const Log> logs) {
    double lo = std::numeric_limits<double>::quiet_NaN();
    double hi = std::numeric_limits<double>::quiet_NaN();
    for (const auto& log : logs) {
        if (log.md.empty()) continue;
        const double first = log.md.front();
        const double last = log.md.back();
        if (!std::isnan(first)) lo = std::isnan(lo) ? first : std::min(lo, first);
        if (!std::isnan(last)) hi = std::isnan(hi) ? last : std::max(hi, last);
    }
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo)) return std::nullopt;
    return std::make_pair(lo, hi);
}

std::string number_repeats_across_files(std::span<Log> logs, std::span<const fs::path> files) {
    std::vector<std::string> before;
    before.reserve(logs.size());
    for (const auto& log : logs) before.push_back(log.mnemonic);
    number_repeated_mnemonics(logs);
    // The curves of one name as the files gave it (letter case aside), in
    // the order the names are first met; only names that had to be numbered
    // are told.
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<std::size_t>> members;
    for (std::size_t k = 0; k < logs.size(); ++k) {
        auto [it, fresh] = members.try_emplace(ascii_lower(before[k]));
        if (fresh) order.push_back(it->first);
        it->second.push_back(k);
    }
    std::string told;
    for (const auto& name : order) {
        const auto& curves = members[name];
        if (std::all_of(curves.begin(), curves.end(), [&](std::size_t k) { return logs[k].mnemonic == before[k]; }))
            continue;
        if (!told.empty()) told += "; ";
        for (std::size_t i = 0; i < curves.size(); ++i) {
            const std::size_t k = curves[i];
            told += fmt::format("{}'{}' from '{}'", i ? ", " : "", logs[k].mnemonic,
                                text::display_path(k < files.size() ? files[k] : fs::path()));
        }
    }
    return told;
}

std::string no_polygon_note(std::string_view op, const fs::path& path) {
    return fmt::format("{}: '{}' holds no polygon", op, text::display_path(path));
}

bool name_matches(std::string_view well_id, std::string_view row_well) {
    return key_prefix_match(name_key(row_well), name_key(well_id));
}

std::string tops_bore_label(std::string_view well_id, std::string_view row_well) {
    const std::string_view row = trim_unicode(row_well);
    const std::string id_key = name_key(well_id);
    if (!name_key(row).starts_with(id_key)) return "";
    std::string_view rest = row.substr(id_key.size());
    auto strip = [](char c) { return c == ' ' || c == '_' || c == '-'; };
    while (!rest.empty() && strip(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && strip(rest.back())) rest.remove_suffix(1);
    return std::string(rest);
}

std::optional<std::size_t> pick_well(std::span<const std::string> well_ids, std::string_view row_well) {
    std::vector<std::string> keys;
    keys.reserve(well_ids.size());
    for (const auto& id : well_ids) keys.push_back(name_key(id));
    return pick_by_key(keys, name_key(row_well));
}

}  // namespace loaders

// ---- well loading --------------------------------------------------------------

namespace {

/// True for the files a well load reads: surveys, LAS logs and tops CSV
/// files (a CRS side file only labels what these give).
bool feeds_a_well(const fs::path& path, FormatKind kind) {
    return kind == FormatKind::WellPath || kind == FormatKind::Las ||
           (kind == FormatKind::CsvPoints && loaders::lowercase_extension(path) == "csv");
}

/// `error` with the file it came from named in its text, unless the text
/// already quotes it; the kind stays.
Error naming_file(Error error, const fs::path& path) {
    const std::string shown = text::display_path(path);
    if (error.kind() == ErrorKind::Tools || error.message().find("'" + shown + "'") != std::string::npos)
        return error;
    return Error(error.kind(), fmt::format("load_well: '{}': {}", shown, error.message()));
}

/// The warning of a load whose files repeat mnemonics on one bore
/// (`loaders::number_repeats_across_files`).
std::string repeats_note(std::string_view id, std::string_view label, std::string_view told) {
    const std::string where = label.empty() ? fmt::format("well '{}'", id)
                                            : fmt::format("well '{}' bore '{}'", id, label);
    return escape_control(fmt::format(
        "load_well: {}: several files carry the same mnemonic; the curves are numbered in load order: {}", where,
        told));
}

}  // namespace

Result<const Well*> GeoData::load_well(std::string_view id, std::array<double, 2> head, double kb,
                                       const fs::path& path, std::vector<std::string>* warnings) try {
    // The operating system sees a path only up to a NUL: a directory path
    // with one inside would list the directory before the NUL under names
    // that still carry the rest, each of which looks like that directory
    // again, without end.
    VZ_TRY(text::check_path(path));
    const AliasMap* aliases = curve_aliases ? &*curve_aliases : nullptr;
    // What the caller is told about a load that succeeds: LAS files of a
    // directory skipped, a directory with nothing of the well.
    std::vector<std::string> notes;

    std::vector<fs::path> files;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    const bool directory = fs::is_directory(st);
    if (directory) {
        VZ_ASSIGN_OR_RETURN(files, loaders::walk_files(path));
    } else if (fs::exists(st)) {
        // One file, which must give the well something; a pipe or a device
        // is refused by the detection's read.
        files.push_back(path);
    } else {
        // A path that names nothing is an error, not a well without files:
        // such a well would keep the identifier, and loaders never replace.
        return fail(Error::io_errno(ec ? ec.value() : ENOENT, path));
    }

    VZ_ASSIGN_OR_RETURN(auto classified, loaders::classify_files(files));

    const std::string key = loaders::name_key(id);
    const bool any_match = std::any_of(classified.begin(), classified.end(),
                                       [&](const auto& f) { return loaders::file_matches_well(f.first, key); });
    if (any_match)
        std::erase_if(classified, [&](const auto& f) {
            return f.second != FormatKind::CrsMetaXml && !loaders::file_matches_well(f.first, key);
        });

    if (directory && std::none_of(classified.begin(), classified.end(),
                                  [](const auto& f) { return feeds_a_well(f.first, f.second); }))
        notes.push_back(fmt::format("load_well: '{}' holds no LAS, .wellpath or tops CSV file of well '{}'",
                                    text::display_path(path), id));

    std::vector<fs::path> surveys;
    std::vector<fs::path> las_files;
    std::vector<DepthPick> tops;
    for (const auto& [p, kind] : classified) {
        if (kind == FormatKind::WellPath) surveys.push_back(p);
        if (kind == FormatKind::Las) las_files.push_back(p);
    }
    for (const auto& [p, kind] : classified) {
        if (kind != FormatKind::CsvPoints || loaders::lowercase_extension(p) != "csv") continue;
        // Every csv file of a well is read as tops: a points file among them
        // ends the load, and the reader's texts name a column or a row, not
        // the file.
        auto rows = tops_csv::read_file(p, "name", "md");
        if (!rows) return fail(naming_file(std::move(rows.error()), p));
        for (auto& [name, md] : *rows) tops.push_back({std::move(name), md});
    }

    std::optional<std::string> crs_label;
    for (const auto& [p, kind] : classified) {
        if (kind != FormatKind::CrsMetaXml) continue;
        auto label = crsmeta::read_crs_label(p);
        if (label) {
            crs_label = std::move(*label);
            break;
        }
        // A CRS file given alone labels nothing, and a well of nothing but a
        // label is no well.
        if (!directory) return fail(naming_file(std::move(label.error()), p));
    }

    Well well = Well::make(std::string(id), head[0], head[1], kb, std::move(crs_label));

    // One file's logs as the well stores them: mnemonics resolved, then
    // repeats within the file numbered so that each stays reachable by name.
    // In a directory a LAS file that cannot be read is skipped and the
    // caller told so; a LAS file given alone fails the load.
    auto file_logs = [&](const fs::path& las_path) -> Result<std::optional<std::vector<Log>>> {
        std::vector<std::string> file_notes;
        auto read = loaders::read_las_logs(las_path, unit, &file_notes);
        if (!read) {
            if (!directory) return fail(naming_file(std::move(read.error()), las_path));
            notes.push_back(
                fmt::format("load_well: skipped '{}': {}", text::display_path(las_path), read.error().display()));
            return std::optional<std::vector<Log>>();
        }
        std::vector<Log> logs = std::move(*read);
        for (auto& log : logs) log = mnemonics::resolve(std::move(log), aliases);
        loaders::number_repeated_mnemonics(logs);
        // What the reader noticed (rows skipped, depths out of order, a depth
        // unit other than the project's) is told once the load succeeds.
        notes.insert(notes.end(), std::make_move_iterator(file_notes.begin()),
                     std::make_move_iterator(file_notes.end()));
        return std::optional<std::vector<Log>>(std::move(logs));
    };

    if (!surveys.empty()) {
        const auto labelled = loaders::wellpath_bore_labels(surveys);
        std::vector<std::string> labels;
        labels.reserve(labelled.size());
        for (std::size_t k = 0; k < labelled.size(); ++k) {
            const auto& [survey, label] = labelled[k];
            VZ_ASSIGN_OR_RETURN(wellpath::WellPathData data, wellpath::read_file(survey));
            if (k == 0) {
                well.head = {data.head_x, data.head_y};
                well.kb = data.kb;
                if (data.crs) well.crs = data.crs;
            }
            std::vector<PositionedStation> stations;
            stations.reserve(data.rows.size());
            for (const auto& r : data.rows) stations.push_back({r[0], r[4], r[5], r[1], r[2], r[3] - data.kb});
            VZ_TRY(well.sidetrack_entry(label).push_trajectory(TrajectorySource::positioned(std::move(stations))));
            labels.push_back(label);
        }
        // The file each log of a bore came from, for the numbering of
        // curves that several files of the bore carry.
        std::unordered_map<std::string, std::vector<fs::path>> log_files;
        for (const auto& las_path : las_files) {
            const std::string label = loaders::bore_for_file(las_path, labels);
            Sidetrack& bore = well.sidetrack_entry(label);
            VZ_ASSIGN_OR_RETURN(auto logs, file_logs(las_path));
            if (!logs) continue;  // an unreadable log file contributes nothing
            std::vector<fs::path>& from = log_files[label];
            for (auto& log : *logs) {
                bore.push_log(std::move(log));
                from.push_back(las_path);
            }
        }
        for (auto b = well.bores.begin(); b != well.bores.end(); ++b) {
            auto from = log_files.find(b->first);
            if (from == log_files.end()) continue;
            const std::string told = loaders::number_repeats_across_files(b.value().logs, from->second);
            if (!told.empty()) notes.push_back(repeats_note(id, b->first, told));
        }
    } else {
        std::vector<Log> logs;
        std::vector<fs::path> log_files;
        for (const auto& las_path : las_files) {
            VZ_ASSIGN_OR_RETURN(auto read, file_logs(las_path));
            if (!read) continue;
            for (auto& log : *read) {
                logs.push_back(std::move(log));
                log_files.push_back(las_path);
            }
        }
        const std::string told = loaders::number_repeats_across_files(logs, log_files);
        if (!told.empty()) notes.push_back(repeats_note(id, "", told));
        Sidetrack& main = well.sidetrack_entry("");
        if (auto range = loaders::logs_md_range(logs)) {
            VZ_TRY(main.push_trajectory(
                TrajectorySource::survey({{range->first, 0.0, 0.0}, {range->second, 0.0, 0.0}})));
        }
        for (auto& log : logs) main.push_log(std::move(log));
    }

    if (!tops.empty()) well.sidetrack_entry("").add_tops(std::move(tops));

    if (!directory) {
        // One file that gives no log, survey or top would store an empty
        // well under the identifier as if the load had worked.
        const bool empty = std::all_of(well.bores.begin(), well.bores.end(), [](const auto& b) {
            return b.second.logs.empty() && b.second.trajectories.empty() && b.second.tops.empty();
        });
        if (empty) {
            const FormatKind kind = classified.empty() ? FormatKind(FormatKind::Unknown) : classified.front().second;
            if (!feeds_a_well(path, kind) && kind != FormatKind::CrsMetaXml)
                return fail(Error::format(fmt::format("load_well: '{}' is {}, not a LAS, .wellpath or tops CSV file",
                                                      text::display_path(path), kind)));
            return fail(Error::parse(
                fmt::format("load_well: '{}' yields no logs, survey or tops", text::display_path(path))));
        }
    }

    if (warnings) warnings->insert(warnings->end(), notes.begin(), notes.end());
    auto it = wells.find(std::string(id));
    if (it != wells.end()) return &it->second;
    auto [stored, inserted] = wells.insert({std::string(id), std::move(well)});
    (void)inserted;
    return &stored->second;
} catch (const std::bad_alloc&) {
    return fail(memory_error(fmt::format("load_well: well '{}' from {}", id, text::display_path(path))));
}

Result<const Well*> GeoData::load_well_with_aliases(std::string_view id, std::array<double, 2> head, double kb,
                                                    const fs::path& path, std::optional<AliasMap> aliases,
                                                    std::vector<std::string>* warnings) {
    std::optional<AliasMap> kept = std::exchange(curve_aliases, std::move(aliases));
    auto result = load_well(id, head, kb, path, warnings);
    curve_aliases = std::move(kept);
    return result;
}

// ---- well tops ---------------------------------------------------------------

Result<std::uint64_t> GeoData::load_well_tops(const fs::path& path, std::vector<std::string>* warnings) try {
    VZ_ASSIGN_OR_RETURN(auto rows, petrel_tops::read_file(path));
    // A file of another kind (a LAS file, a CSV of another layout) reads as
    // a tops file without picks: say so instead of returning 0 silently.
    const bool picks = std::any_of(rows.begin(), rows.end(), [](const auto& r) {
        return iequals_ascii(r.kind, "Horizon") || iequals_ascii(r.kind, "Other");
    });

    // Horizon picks grouped by the row's well text as written.
    OrderedMap<std::string, std::vector<DepthPick>> groups;
    std::vector<std::string> surface_names;
    std::unordered_set<std::string_view> seen_surfaces;
    for (const auto& row : rows) {
        if (!iequals_ascii(row.kind, "Horizon")) continue;
        groups[row.well].push_back({row.surface, row.md});
        if (seen_surfaces.insert(row.surface).second) surface_names.push_back(row.surface);
    }

    std::vector<StratHint> resolved;
    resolved.reserve(strat_hints.size());
    for (const auto& hint : strat_hints) {
        VZ_ASSIGN_OR_RETURN(std::string above, StratHint::resolve_name(hint.above, surface_names));
        VZ_ASSIGN_OR_RETURN(std::string below, StratHint::resolve_name(hint.below, surface_names));
        resolved.push_back({std::move(above), std::move(below)});
    }

    std::vector<std::vector<DepthPick>> per_well;
    per_well.reserve(groups.size());
    for (const auto& [well_text, picks] : groups) per_well.push_back(picks);
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> column, wells::infer_strat_order(per_well, resolved));

    std::vector<std::string> keys;
    keys.reserve(wells.size());
    for (const auto& [id, well] : wells) keys.push_back(loaders::name_key(id));

    // Route every pick to its bore, staged per bore: (well, bore label) ->
    // the tops and contacts it gains, in file order. A bore the well lacks
    // sends its picks to the main bore.
    struct Staged {
        std::vector<DepthPick> tops;
        std::vector<DepthPick> contacts;
    };
    std::vector<std::unordered_map<std::string, Staged>> staged(wells.size());
    std::uint64_t count = 0;
    for (const auto& row : rows) {
        const bool horizon = iequals_ascii(row.kind, "Horizon");
        const bool contact = iequals_ascii(row.kind, "Other");
        if (!horizon && !contact) continue;
        const auto target = pick_by_key(keys, loaders::name_key(row.well));
        if (!target) continue;
        auto it = wells.nth(*target);
        std::string label = loaders::tops_bore_label(it->first, row.well);
        if (!it->second.sidetrack(label)) label.clear();
        Staged& to = staged[*target][label];
        if (contact) {
            to.contacts.push_back({row.surface, row.md});
        } else {
            to.tops.push_back({row.surface, row.md});
            ++count;
        }
    }

    // Every bore's new tops, contacts and column are built aside; the project
    // changes only once all of them exist, by swaps that cannot fail, so a
    // failure (memory) leaves every well as it was. Appending a batch and
    // sorting once gives the order one sort per pick would give (the sorts
    // are stable); then the new column orders them.
    for (std::size_t w = 0; w < staged.size(); ++w)
        if (staged[w].contains("")) wells.nth(w).value().sidetrack_entry("");  // a damaged well regains its main bore
    struct Commit {
        Sidetrack* bore;
        std::vector<DepthPick> tops;
        std::optional<std::vector<DepthPick>> contacts;
        std::vector<std::string> column;
    };
    std::vector<Commit> commits;
    for (std::size_t w = 0; w < wells.size(); ++w) {
        Well& well = wells.nth(w).value();
        for (auto b = well.bores.begin(); b != well.bores.end(); ++b) {
            Sidetrack& bore = b.value();
            Commit c{&bore, bore.tops, std::nullopt, column};
            if (auto s = staged[w].find(b->first); s != staged[w].end()) {
                c.tops.insert(c.tops.end(), s->second.tops.begin(), s->second.tops.end());
                sort_picks(c.tops, bore.strat_order);
                if (!s->second.contacts.empty()) {
                    c.contacts = bore.contacts;
                    c.contacts->insert(c.contacts->end(), s->second.contacts.begin(), s->second.contacts.end());
                }
            }
            sort_picks(c.tops, column);
            commits.push_back(std::move(c));
        }
    }
    for (Commit& c : commits) {
        c.bore->tops.swap(c.tops);
        if (c.contacts) c.bore->contacts.swap(*c.contacts);
        c.bore->strat_order.swap(c.column);
    }
    strat_order = std::move(column);
    if (!picks && warnings)
        warnings->push_back(
            fmt::format("load_well_tops: '{}' holds no Horizon or Other picks", text::display_path(path)));
    return count;
} catch (const std::bad_alloc&) {
    return fail(memory_error(fmt::format("load_well_tops: {}", text::display_path(path))));
}

// ---- surface, point and polygon loaders -----------------------------------------

namespace {

/// Stores `value` under `name` when the name is free; the stored element
/// either way.
template <class V>
const V* store_new(OrderedMap<std::string, V>& map, std::string_view name, V value, bool& inserted) {
    auto [it, fresh] = map.try_emplace(std::string(name), std::move(value));
    inserted = fresh;
    return &it->second;
}

}  // namespace

namespace {

std::string unsupported_extension(std::string_view loader, std::string_view what, std::string_view ext,
                                  const fs::path& path) {
    return fmt::format("{}: unsupported {} extension '.{}' for '{}'", loader, what, ext, text::display_path(path));
}

Result<Surface> read_surface_file(const fs::path& path) {
    VZ_ASSIGN_OR_RETURN(FormatKind kind, FormatKind::detect(path));
    switch (kind) {
        case FormatKind::Cps3Grid: return surface_load::load_cps3_grid(path);
        case FormatKind::IrapClassicGrid: return surface_load::load_irap_classic(path);
        case FormatKind::Unknown: {
            const std::string ext = loaders::lowercase_extension(path);
            if (ext.empty() || ext == "gri" || ext == "irap") return surface_load::load_irap_classic(path);
            if (ext == "cps3grid") return surface_load::load_cps3_grid(path);
            return fail(Error::parse(unsupported_extension("load_surface", "surface", ext, path)));
        }
        default:
            return fail(Error::format(fmt::format("load_surface: '{}' is {}, not a supported surface format",
                                                  text::display_path(path), kind)));
    }
}

Result<PointSet> read_points_file(const fs::path& path) {
    VZ_ASSIGN_OR_RETURN(FormatKind kind, FormatKind::detect(path));
    switch (kind) {
        case FormatKind::IrapClassicPoints: return points_load::load_irap_points(path);
        case FormatKind::EarthVisionGrid: return points_load::load_earthvision_grid(path);
        case FormatKind::GeoJson: return points_load::load_geojson(path);
        case FormatKind::CsvPoints: return points_load::load_csv(path, "x", "y", "z");
        case FormatKind::Unknown: {
            const std::string ext = loaders::lowercase_extension(path);
            if (ext == "csv") return points_load::load_csv(path, "x", "y", "z");
            if (ext.empty() || ext == "xyz" || ext == "dat" || ext == "irap" || ext == "irapclassicpoints")
                return points_load::load_irap_points(path);
            if (ext == "json" || ext == "geojson") return points_load::load_geojson(path);
            if (ext == "earthvisiongrid") return points_load::load_earthvision_grid(path);
            return fail(Error::parse(unsupported_extension("load_points", "point", ext, path)));
        }
        default:
            return fail(Error::format(fmt::format("load_points: '{}' is {}, not a supported point format",
                                                  text::display_path(path), kind)));
    }
}

Result<PolygonSet> read_polygons_file(const fs::path& path) {
    const std::string ext = loaders::lowercase_extension(path);
    // A binary shapefile can look like text to the content sniffer, so its
    // extension decides before detection does.
    if (ext == "shp") return polygons_load::load_shapefile(path);
    VZ_ASSIGN_OR_RETURN(FormatKind kind, FormatKind::detect(path));
    switch (kind) {
        case FormatKind::Cps3Lines: return polygons_load::load_cps3_lines(path);
        case FormatKind::IrapClassicPoints: return polygons_load::load_irap_polygons(path);
        case FormatKind::GeoJson: return polygons_load::load_geojson(path);
        case FormatKind::Unknown:
            if (ext.empty() || ext == "pol" || ext == "xyz" || ext == "irap")
                return polygons_load::load_irap_polygons(path);
            if (ext == "json" || ext == "geojson") return polygons_load::load_geojson(path);
            if (ext == "cps3lines") return polygons_load::load_cps3_lines(path);
            return fail(Error::parse(unsupported_extension("load_polygons", "polygon", ext, path)));
        default:
            return fail(Error::format(fmt::format("load_polygons: '{}' is {}, not a supported polygon format",
                                                  text::display_path(path), kind)));
    }
}

}  // namespace

Result<const Surface*> GeoData::load_surface(std::string_view name, const fs::path& path) {
    if (find_structured_surface(name) || find_tri_surface(name))
        return fail(Error::parse(
            fmt::format("load_surface: surface name '{}' already belongs to a structured mesh surface", name)));
    VZ_ASSIGN_OR_RETURN(Surface read, read_surface_file(path));
    bool inserted = false;
    const Surface* stored = store_new(surfaces, name, std::move(read), inserted);
    if (inserted) surface_order.emplace_back(name);
    return stored;
}

Result<const StructuredMeshSurface*> GeoData::load_structured_surface(std::string_view name, const fs::path& path) {
    if (find_surface(name) || find_tri_surface(name))
        return fail(Error::parse(
            fmt::format("load_structured_surface: surface name '{}' already belongs to a regular surface", name)));
    VZ_ASSIGN_OR_RETURN(FormatKind kind, FormatKind::detect(path));
    const bool earthvision = kind == FormatKind::EarthVisionGrid ||
                             (kind == FormatKind::Unknown && loaders::lowercase_extension(path) == "earthvisiongrid");
    if (!earthvision)
        return fail(Error::format(fmt::format("load_structured_surface: '{}' is {}, not an EarthVision grid",
                                              text::display_path(path), kind)));
    VZ_ASSIGN_OR_RETURN(StructuredMeshSurface read, structured_load::load_earthvision_grid(path));
    bool inserted = false;
    const StructuredMeshSurface* stored = store_new(structured_surfaces, name, std::move(read), inserted);
    if (inserted) surface_order.emplace_back(name);
    return stored;
}

Result<const PointSet*> GeoData::load_points(std::string_view name, const fs::path& path) {
    VZ_ASSIGN_OR_RETURN(PointSet read, read_points_file(path));
    bool inserted = false;
    return store_new(point_sets, name, std::move(read), inserted);
}

Result<const PointSet*> GeoData::load_points_with_topology(std::string_view name, const fs::path& path,
                                                           const fs::path& topology_path) {
    VZ_ASSIGN_OR_RETURN(PointSet read, points_load::load_irap_points_with_topology(path, topology_path));
    bool inserted = false;
    return store_new(point_sets, name, std::move(read), inserted);
}

Result<const PolygonSet*> GeoData::load_polygons(std::string_view name, const fs::path& path,
                                                 std::vector<std::string>* warnings) {
    VZ_ASSIGN_OR_RETURN(PolygonSet read, read_polygons_file(path));
    // A file of points or of nothing reads without error; an empty set
    // under the name must not pass for a loaded outline unannounced.
    if (read.polygons.empty() && warnings) warnings->push_back(loaders::no_polygon_note("load_polygons", path));
    bool inserted = false;
    return store_new(polygon_sets, name, std::move(read), inserted);
}

}  // namespace vz
