#pragma once
/// The `iso_lines` method that `Surface`, `StructuredMeshSurface` and
/// `TriSurface` share: one signature, one docstring, one argument reading and
/// one form of the result; each class only resolves its receiver and calls
/// its own core step with the interpreter lock released.

#include <optional>
#include <string>
#include <vector>

#include "algorithms/surfaces.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// Text signature and docstring of every `iso_lines`.
inline constexpr const char* kIsoLinesDoc =
    "iso_lines($self, interval=None, levels=None, attr=None, simplify=None)\n--\n\n"
    "Iso-lines of a property lane: `[(level, [[(x, y), ...], ...]), ...]`.\n"
    "Explicit `levels` win over `interval` (levels aligned to interval\n"
    "multiples across the value range). NaN-aware: holes break lines.\n"
    "`simplify=tol` runs Douglas\xe2\x80\x93Peucker on each polyline (world-unit\n"
    "tolerance; endpoints + ring closure preserved).";

/// The arguments of an `iso_lines` call; None and an omitted argument are
/// both absent.
struct IsoLineArgs {
    std::optional<double> interval;
    std::optional<std::vector<double>> levels;
    std::optional<std::string> attr;
    std::optional<double> simplify;
};

/// Converts the arguments in the order interval, levels, attr, simplify; the
/// first failure names its argument.
PyResult<IsoLineArgs> iso_line_args(const Args& a);

/// The core result as `[(level, [[(x, y), …], …]), …]` (a core error as the
/// ValueError of its display text).
PyResult<Ref> iso_lines_to_py(Result<std::vector<vz::IsoLevel>> levels);

}  // namespace vz::py
