#pragma once
/// The rules by which the project's loaders turn files and directories into
/// elements: how a well directory is listed and classified, which files
/// belong to a well, which bore each survey and log file feeds, and how a
/// Petrel pick finds its well and bore. None of these functions touches a
/// project; the loaders themselves are `GeoData` members (manager/geodata.hpp).
///
/// Name key: a text trimmed of Unicode white space, ASCII letters
/// lower-cased, every ' ', '-' and '/' turned into '_' one for one. File
/// stems and Petrel well texts are matched to well identifiers by it
/// ("15/9-A 1" has the key "15_9_a_1").

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/log.hpp"
#include "core/units.hpp"
#include "foundation/result.hpp"
#include "io/detect.hpp"

namespace vz::loaders {

/// The name key of `text` (see above).
std::string name_key(std::string_view text);

/// The file's stem (name without its last extension) as text; empty when it
/// is not valid UTF-8.
std::string file_stem(const std::filesystem::path& path);

/// The extension after the last '.', ASCII-lower-cased; empty when the name
/// has none or it is not valid UTF-8.
std::string lowercase_extension(const std::filesystem::path& path);

/// True when the name key of the file's stem equals `key` or begins with
/// `key` immediately followed by '_'.
bool file_matches_well(const std::filesystem::path& path, std::string_view key);

/// Every regular file under `dir`, walked recursively (entries that are
/// neither directories nor regular files are skipped), sorted by path
/// component by component, each component by its bytes. `Io` when a
/// directory cannot be listed or an entry cannot be read.
Result<std::vector<std::filesystem::path>> walk_files(const std::filesystem::path& dir);

/// `FormatKind::detect` of every path, in order; the first failure is
/// returned.
Result<std::vector<std::pair<std::filesystem::path, FormatKind>>> classify_files(
    std::span<const std::filesystem::path> paths);

/// Bore labels of survey files, in order: one survey feeds the main bore "";
/// with several, each label is the stem without the longest prefix of the
/// first stem that ends with '_' and begins every stem (none when there is
/// no such prefix).
std::vector<std::pair<std::filesystem::path, std::string>> wellpath_bore_labels(
    std::span<const std::filesystem::path> surveys);

/// The bore a LAS file feeds: the file stem is split at every '_', '-', '.'
/// and ' '; the first non-empty label (in list order) equal to one of the
/// tokens, ASCII case ignored; the main bore "" when none is.
std::string bore_for_file(const std::filesystem::path& path, std::span<const std::string> labels);

/// The logs of a LAS file (`las::read_logs`); every log of a file whose
/// ASCII-lower-cased stem contains "core" is a core log. The reader's errors
/// are returned. On success `warnings`, when given, receives the reader's
/// warnings and one when the file's depth unit is a length other than the
/// project's `unit` (feet in a metre project, metres in a feet project,
/// inches or tenths of an inch in either): nothing is converted, the depths
/// are stored as written. Each text starts "load_well: '{path}': ".
Result<std::vector<Log>> read_las_logs(const std::filesystem::path& path, LengthUnit unit = LengthUnit::Metres,
                                       std::vector<std::string>* warnings = nullptr);

/// Makes every mnemonic of one file's logs distinct, so each log can be
/// asked for by name (mnemonics match ASCII case-insensitively). The first
/// log of a name keeps it; each later repeat (the same text up to ASCII
/// letter case) becomes its own mnemonic with ":2", ":3", ... appended,
/// taking the smallest number whose result no log of the file already
/// bears. Run on the mnemonics as they are stored, i.e. after alias
/// resolution, which can make two names equal.
void number_repeated_mnemonics(std::span<Log> logs);

/// (smallest first md, largest last md) over the logs that have samples, NaN
/// ignored; none unless both ends are finite and max > min.
std::optional<std::pair<double, double>> logs_md_range(std::span<const Log> logs);

/// Keeps every curve of a bore reachable by name when several of its files
/// carry one mnemonic (logging runs, a composite beside its runs, a backup
/// copy): `logs` are the logs the bore gathered, in load order, each file's
/// repeats already numbered, and `files[k]` is the file `logs[k]` came from.
/// The bore's logs are numbered as one file's are
/// (`number_repeated_mnemonics`): the first curve of a name keeps it, a
/// later one from another file gets ":2", ":3", ..., skipping every name the
/// files bear themselves. Returns, for the caller's warning, each mnemonic
/// so repeated with its curves and their files ("'GR' from 'a.las', 'GR:2'
/// from 'b.las'"), mnemonics joined by "; "; empty when none repeats.
std::string number_repeats_across_files(std::span<Log> logs, std::span<const std::filesystem::path> files);

/// The warning of a polygon loader `op` whose file gave no polygon (only
/// points, null geometries, multipatch records, or lines too short to
/// bound an area): "{op}: '{path}' holds no polygon".
std::string no_polygon_note(std::string_view op, const std::filesystem::path& path);

/// True when the name key of a Petrel row's well text equals the key of the
/// well identifier, or begins with it immediately followed by '_'.
bool name_matches(std::string_view well_id, std::string_view row_well);

/// The bore label a Petrel row names on a well: the row text trimmed; when
/// its name key begins with the identifier's key, the rest of the trimmed
/// text after that many bytes with leading and trailing ' ', '_' and '-'
/// removed (letter case kept); otherwise "".
std::string tops_bore_label(std::string_view well_id, std::string_view row_well);

/// The well a Petrel row belongs to, among `well_ids` (in project order):
/// the identifier whose name key equals the row's, else the matching
/// identifier (`name_matches`) with the longest key, the earlier one on a
/// tie; none when no identifier matches. A pick of A_1 thus reaches the well
/// A_1 even when a well A was stored first.
std::optional<std::size_t> pick_well(std::span<const std::string> well_ids, std::string_view row_well);

}  // namespace vz::loaders
