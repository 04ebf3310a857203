#pragma once
/// The well-level accessors and top mutators of `Well`, and the pieces the
/// well family shares: the depth argument of the top mutators (`MdOrHit`) and
/// the Python forms of picks and positions.

#include <optional>
#include <vector>

#include "core/well.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// Adds `log`, `top`, `tvd`, `xyz`, `md_at_tvd`, `tops`, `contacts`,
/// `contact`, `add_top`, `replace_top` and `remove_top` to the `Well` class.
void add_well_accessors(ClassDef& def);

/// The converted value of a `md_or_hit` argument: a measured depth (not yet
/// checked for finiteness), or a copy of a crossing with the serial of the
/// project it came from (absent for a crossing of a free trajectory).
struct MdOrHit {
    double md = 0.0;
    std::optional<vz::SurfaceIntersection> hit;
    std::optional<std::uint64_t> project_serial;

    /// Anything Python's float conversion accepts gives the depth form; a
    /// `SurfaceIntersection` the crossing form; anything else the TypeError
    /// "top depth must be a finite MD number or SurfaceIntersection" (which
    /// names no argument).
    static PyResult<MdOrHit> extract(PyObject* value);

    /// Refuses a crossing that carries a project other than the `GeoData`
    /// object `project`: ValueError "intersection belongs to a different
    /// project". A depth, or a crossing without a project, passes.
    PyResult<void> check_project(PyObject* project) const;
};

/// (name, md) as a tuple.
PyResult<Ref> pick_to_py(const vz::DepthPick& pick);
/// A list of (name, md) tuples.
PyResult<Ref> picks_to_py(const std::vector<vz::DepthPick>& picks);
/// (x, y, z) as a tuple of floats, or None.
PyResult<Ref> xyz_to_py(const std::optional<vz::Xyz>& xyz);

}  // namespace vz::py
