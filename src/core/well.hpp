#pragma once
/// Wells and their bores.
///
/// A `Well` holds its wellhead, kelly-bushing datum, optional CRS label and
/// its bores (`Sidetrack`) by label in insertion order; the main bore has the
/// empty label "" and is always present. Every bore carries its own
/// trajectories (the last pushed is active), logs, formation tops, fluid
/// contacts and stratigraphic order. Zones are derived from a bore's tops on
/// request.
///
/// Names of logs, tops and contacts match ASCII case-insensitively (same
/// byte length, A-Z folded to a-z, nothing trimmed); bore labels and well
/// names match exactly. Depths are in project length units; z of a position
/// is subsea TVD positive down, the third coordinate of an `xyz` triple is
/// the elevation (positive up).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/log.hpp"
#include "core/surface_intersection.hpp"
#include "core/trajectory.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

/// A named pick at a measured depth: a formation top or a fluid contact.
struct DepthPick {
    std::string name;
    double md = 0.0;

    bool operator==(const DepthPick&) const = default;
};

/// The order of `Sidetrack::sort_tops` applied to any list of picks: a stable
/// sort by md in IEEE total order, equal md by rank in `strat_order` (a
/// repeated name at its later position), unranked names after ranked ones.
void sort_picks(std::vector<DepthPick>& picks, const std::vector<std::string>& strat_order);

/// One zone of a bore: from a top down to the next top in md order. A
/// transient value that views the bore's logs and must not outlive the bore.
struct Zone {
    /// A copy of the top's stored name.
    std::string name;
    /// The bore's logs, viewed.
    std::span<const Log> logs;
    /// md of the zone's top.
    double top_md = 0.0;
    /// md of the next top; for the last top the last station md of the
    /// active trajectory, NaN without one.
    double base_md = 0.0;

    /// The first log whose mnemonic matches, clipped to [top_md, base_md);
    /// absent when no log matches (an empty clip is a view of no samples).
    std::optional<LogView> log(std::string_view mnemonic) const;
};

/// One bore of a well.
struct Sidetrack {
    /// "" for the main bore.
    std::string label;
    /// The bore's own wellhead (x, y), copied from the well at creation.
    std::array<double, 2> head{};
    /// The bore's own kelly-bushing datum, copied from the well at creation.
    double kb = 0.0;
    /// In the order they were pushed.
    std::vector<Trajectory> trajectories;
    /// Index of the active trajectory in `trajectories`.
    std::uint64_t active = 0;
    /// In the order they were added.
    std::vector<Log> logs;
    /// Formation tops, always in the order of `sort_tops`.
    std::vector<DepthPick> tops;
    /// Fluid contacts, in the order they were added.
    std::vector<DepthPick> contacts;
    /// Stratigraphic order of top names, shallowest first.
    std::vector<std::string> strat_order;

    bool operator==(const Sidetrack&) const = default;

    // ---- trajectories, positions ------------------------------------------

    /// True when the bore carries at least one trajectory.
    bool has_trajectory() const { return !trajectories.empty(); }
    /// The active trajectory, or null when `active` is not below the number
    /// of trajectories (always so without trajectories).
    const Trajectory* active_trajectory() const;
    /// Builds a trajectory from `source` with the bore's head and kb,
    /// appends it and makes it active; the returned pointer stays valid until
    /// the next push. On failure (the `OutOfRange` errors of
    /// `Trajectory::from_source`) the bore is unchanged.
    Result<const Trajectory*> push_trajectory(const TrajectorySource& source);
    /// Subsea TVD (positive down) on the active trajectory at md, or absent.
    std::optional<double> tvd(double md) const;
    /// (x, y, elevation) on the active trajectory at md, or absent.
    std::optional<Xyz> xyz(double md) const;

    // ---- logs and contacts ------------------------------------------------

    /// Appends a log; mnemonics are not checked for uniqueness.
    void push_log(Log log);
    /// Removes every log whose mnemonic matches; the others keep their order.
    void remove_logs_named(std::string_view mnemonic);
    /// The first matching log as a whole view (history copied, samples
    /// viewed), or absent.
    std::optional<LogView> log(std::string_view mnemonic) const;
    /// Appends contacts in the given order; no validation or sorting.
    void add_contacts(std::vector<DepthPick> rows);
    /// The first contact whose name matches, or absent.
    std::optional<DepthPick> contact(std::string_view name) const;

    // ---- surface crossings ------------------------------------------------

    /// Checks that a crossing belongs to this bore: its bore identity (when
    /// set) equals the label, else `GeometryMismatch` "intersection belongs to
    /// bore '{}', not '{}'"; the active trajectory has a position at its md,
    /// else `OutOfRange` "intersection MD {} is outside bore '{}'"; and that
    /// position (elevation frame) lies within max(1e-9 x largest |coordinate|,
    /// 1e-6) of the crossing's xyz, else `GeometryMismatch` "intersection XYZ
    /// does not match bore '{}' at MD {} (difference {})" (also for a NaN
    /// difference).
    Result<void> check_intersection(const SurfaceIntersection& hit) const;
    // The crossing searches themselves are `intersections::bore_intersections`
    // and `intersections::bore_intersection`.

    // ---- formation tops ---------------------------------------------------

    /// The name trimmed of Unicode white space, or `Parse` "top name cannot
    /// be empty", `OutOfRange` "top measured depth must be finite", or (with
    /// an active trajectory) `OutOfRange` "top MD {} outside active trajectory
    /// range {}..{}" (both ends belong to the range).
    static Result<std::string> validate_top(std::string_view name, double md, const Trajectory* active);
    /// Validates and appends a top, then sorts. `Parse` "top '{}' already
    /// exists on bore '{}'" when a top of the name exists.
    Result<void> add_top(std::string_view name, double md);
    /// Validates, then gives the one matching top the trimmed name and md,
    /// then sorts. `Parse` "top '{}' is duplicated on bore '{}'; remove the
    /// legacy duplicates explicitly" or `NotFound` "top '{}' on bore '{}'".
    Result<void> replace_top(std::string_view name, double md);
    /// Removes the one top matching `name` (not trimmed) and returns it.
    /// `Parse` "top '{}' is duplicated on bore '{}'; cannot choose one to
    /// remove" or `NotFound` "top '{}' on bore '{}'".
    Result<DepthPick> remove_top(std::string_view name);
    /// `check_intersection`, then `add_top` at the crossing's md.
    Result<void> add_top_hit(std::string_view name, const SurfaceIntersection& hit);
    /// `check_intersection`, then `replace_top` at the crossing's md.
    Result<void> replace_top_hit(std::string_view name, const SurfaceIntersection& hit);
    /// Appends rows as given (no validation, trimming or de-duplication),
    /// then sorts. Never fails.
    void add_tops(std::vector<DepthPick> rows);
    /// Stable sort of the tops by md in IEEE total order; equal md by rank in
    /// `strat_order` (exact names, a repeated name at its later position),
    /// unranked names after ranked ones. Never fails.
    void sort_tops();
    /// Replaces `strat_order` and re-sorts the tops. Never fails.
    void set_strat_order(std::vector<std::string> names);

    // ---- zones ------------------------------------------------------------

    /// One zone per top in `tops` order; when `strat_order` is set, sorted
    /// stably by rank (unranked last). Bases always follow md order.
    std::vector<Zone> zones() const;
    /// The zone of the first top (in `tops` order) whose name matches.
    std::optional<Zone> zone_of_top(std::string_view name) const;
    /// (zone name, statistics of the zone's clipped log) per zone, in zone
    /// order; empty when the bore has no log of that mnemonic.
    std::vector<std::pair<std::string, Stats>> zone_stats(std::string_view mnemonic) const;
};

/// A named well.
struct Well {
    /// The well identifier (the project's key for it).
    std::string name;
    /// Wellhead (x, y).
    std::array<double, 2> head{};
    /// Kelly-bushing datum: a vertical hole has z = md - kb.
    double kb = 0.0;
    /// Coordinate reference system label.
    std::optional<std::string> crs;
    /// Bores by label in insertion order; the main bore "" is always present.
    OrderedMap<std::string, Sidetrack> bores;
    /// Label of the bore chosen by `set_default_bore`.
    std::optional<std::string> default_bore;

    /// A well holding only its main bore, which copies head and kb.
    static Well make(std::string name, double head_x, double head_y, double kb,
                     std::optional<std::string> crs = std::nullopt);

    bool operator==(const Well&) const = default;

    // ---- bores ------------------------------------------------------------

    /// The bore with exactly this label, or null.
    const Sidetrack* sidetrack(std::string_view label) const;
    Sidetrack* sidetrack(std::string_view label);
    /// Same as `sidetrack`.
    const Sidetrack* find_bore(std::string_view label) const { return sidetrack(label); }
    /// Same as `sidetrack`.
    const Sidetrack* bore(std::string_view label) const { return sidetrack(label); }
    /// The bore with exactly this label, first appended (the well's head and
    /// kb, nothing else) when missing. Never fails.
    Sidetrack& sidetrack_entry(std::string_view label);
    /// Runs `change(Sidetrack&)` (returning a `Result` or another expected
    /// value) on the bore with exactly this label. When the well has no such
    /// bore the change runs on a new one made as `sidetrack_entry` makes it,
    /// which is appended only when the change succeeds: a refused change
    /// leaves no empty bore behind. Returns the change's result.
    template <class F>
    auto change_bore(std::string_view label, F&& change) -> std::invoke_result_t<F, Sidetrack&> {
        if (Sidetrack* bore = sidetrack(label)) return std::forward<F>(change)(*bore);
        Sidetrack fresh = new_bore(label);
        auto result = std::forward<F>(change)(fresh);
        if (result) {
            std::string key = fresh.label;
            bores.emplace(std::move(key), std::move(fresh));
        }
        return result;
    }
    /// An empty bore of this label with the well's head and kb (not added).
    Sidetrack new_bore(std::string_view label) const;
    /// The main bore ""; null only for a damaged well without it.
    const Sidetrack* main_bore() const { return sidetrack(""); }
    /// True when at least two bores carry a trajectory.
    bool is_multibore() const;
    /// Labels of every bore but the main bore, in bore order.
    std::vector<std::string_view> named_bore_labels() const;
    /// Selects the default bore ("" for the main bore). `NotFound` "well '{}'
    /// has no bore '{}' (bores: {})" for an unknown label (exact match).
    Result<void> set_default_bore(std::string_view label);

    /// The bore of well-level reads: the default bore when set and present,
    /// else the only bore carrying a trajectory, else the main bore (null
    /// only for a damaged well without it).
    const Sidetrack* accessor_bore() const;
    /// The bore of well-level top changes: the default bore when set, else
    /// the only bore carrying a trajectory, else the main bore. A damaged
    /// well (default or main bore missing) gives `NotFound` "well '{}' has no
    /// bore '{}' (bores: {})".
    Result<Sidetrack*> resolve_bore();
    /// The bore of `intersections`: `Unsupported` "well '{}' has multiple
    /// bores; select one with sidetrack(...) or set_default_bore(...) before
    /// this operation" when two or more bores carry a trajectory and no
    /// default is set; else the accessor bore.
    Result<const Sidetrack*> intersection_bore() const;

    // ---- reads through the accessor bore (never fail) ---------------------

    std::optional<LogView> log(std::string_view mnemonic) const;
    const std::vector<DepthPick>& tops() const;
    const std::vector<DepthPick>& contacts() const;
    std::optional<DepthPick> contact(std::string_view name) const;
    std::optional<double> tvd(double md) const;
    std::optional<Xyz> xyz(double md) const;
    std::optional<double> md_at_tvd(double tvd) const;
    /// The zone of a named top on the accessor bore, or absent.
    std::optional<Zone> top_interval(std::string_view name) const;

    // Crossings of the intersection bore: `intersections::well_intersections`.

    // ---- top changes on the bore of `resolve_bore` ------------------------

    /// Refused with `Unsupported` "well '{}' has multiple bores; select a
    /// default bore before add_top" on a multi-bore well without default.
    Result<void> add_top_md(std::string_view name, double md);
    /// As `add_top_md`, the message ending "before replace_top".
    Result<void> replace_top_md(std::string_view name, double md);
    /// As `add_top_md`, the message ending "before remove_top".
    Result<DepthPick> remove_top(std::string_view name);
    /// `GeometryMismatch` "intersection belongs to well '{}', not '{}'" for a
    /// crossing of another well, then as `add_top_md` after checking the
    /// crossing against the bore.
    Result<void> add_top_hit(std::string_view name, const SurfaceIntersection& hit);
    /// As `add_top_hit` for `replace_top_md`.
    Result<void> replace_top_hit(std::string_view name, const SurfaceIntersection& hit);
    /// Gives every bore the same stratigraphic order. Never fails.
    void set_strat_order(const std::vector<std::string>& names);
};

}  // namespace vz
