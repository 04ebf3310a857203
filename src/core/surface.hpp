#pragma once
/// `Surface`: the regular grid surface. One value per node of a
/// `GridGeometry` (NaN where the node is undefined), named attribute lanes on
/// the same nodes with their metadata, and an operation history.
///
/// Arrays are `Grid2` of shape (ncol, nrow), indexed [column i, row j]. A
/// surface behaves as a value: every operation reads it and returns a new
/// surface, except `set_attr` and `set_attr_with_metadata`, which change it in
/// place and either apply completely or not at all. Derived surfaces
/// (arithmetic, analysis) keep the geometry and drop lanes and primary
/// metadata; their history is the source's plus one entry.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/attribute.hpp"
#include "core/grid_geometry.hpp"
#include "core/gridding_method.hpp"
#include "foundation/grid2.hpp"
#include "foundation/history.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

struct PolygonSet;  // core/polygons.hpp, which builds on this header

/// One named value lane: its metadata (id == lane name) and one value per
/// node, shape (ncol, nrow), NaN for none.
struct AttributeLane {
    AttributeMetadata metadata;
    Grid2 values;

    bool operator==(const AttributeLane&) const = default;
};

/// Lane name -> lane, in insertion order; names compare exactly.
using LaneMap = OrderedMap<std::string, AttributeLane>;

/// Largest node count a lattice array may have (2^37 doubles, 1 TiB).
inline constexpr std::uint64_t kMaxGridNodes = std::uint64_t{1} << 37;

/// ncol * nrow of `geom` when each axis and their product stay within
/// `kMaxGridNodes` (an empty lattice with a huge axis included), else
/// `OutOfRange` "{context}: grid (ncol=…, nrow=…) is too large".
Result<std::size_t> checked_node_count(const GridGeometry& geom, std::string_view context);

/// The raw grid a grid reader returns: lattice, primary values and attribute
/// arrays (no metadata, no history). Never stored.
struct SurfaceData {
    GridGeometry geom;
    Grid2 values;
    OrderedMap<std::string, Grid2> attributes;

    /// Record with no attribute arrays. `GeometryMismatch`
    /// "surface values shape [c, r] != grid (ncol=…, nrow=…)" when the values'
    /// shape is not (ncol, nrow).
    static Result<SurfaceData> make(const GridGeometry& geom, Grid2 values);
};

struct Surface {
    GridGeometry geom;
    Grid2 values;
    std::optional<AttributeMetadata> primary_metadata;
    LaneMap attributes;
    History history;

    // ---- construction -------------------------------------------------

    /// Surface with no lanes, no primary metadata, history ["surface.new"].
    /// `GeometryMismatch` "Surface::new: values shape [c, r] != grid (ncol=…,
    /// nrow=…)" when the shape differs.
    static Result<Surface> make(const GridGeometry& geom, Grid2 values);

    /// Takes a reader's record over: history ["surface.import"], then each
    /// attribute array added with `set_attr` in map order (its failure is
    /// returned; no partial surface).
    static Result<Surface> import(SurfaceData data);

    /// Every node set to `value`; history ["surface.constant(value=…)"].
    /// `OutOfRange` when ncol * nrow is too large to hold.
    static Result<Surface> constant(const GridGeometry& geom, double value);

    // ---- lanes ----------------------------------------------------------

    /// Sets lane `name` in place. An existing lane keeps its metadata and
    /// place (categorical: finite values must be whole, else `Parse`); a new
    /// lane gets `AttributeMetadata::for_lane` and is appended. Appends
    /// "surface.set_attr(name=…)". `GeometryMismatch` on a shape mismatch.
    /// On failure nothing changes.
    Result<void> set_attr(std::string_view name, Grid2 values);

    /// Inserts or replaces lane `name` whole, with validated metadata whose id
    /// equals the name. Appends "surface.set_attr_with_metadata(name=…)".
    /// `GeometryMismatch` / `Parse`; on failure nothing changes.
    Result<void> set_attr_with_metadata(std::string_view name, Grid2 values, AttributeMetadata metadata);

    /// The lane promoted to the primary values of a new surface (its metadata
    /// as primary metadata, no lanes, history + "surface.as_attr_surface(name=…)");
    /// absent when no lane has that exact name.
    std::optional<Surface> as_attr_surface(std::string_view name) const;

    /// The lane's values, or nullptr when absent.
    const Grid2* attr(std::string_view name) const;
    /// The lane's metadata, or nullptr when absent.
    const AttributeMetadata* attr_metadata(std::string_view name) const;
    /// Lane names in map order (views into the stored names).
    std::vector<std::string_view> attr_names() const;

    // ---- sampling and resampling ----------------------------------------

    /// Bilinear value of the primary values at world (x, y); absent outside
    /// the lattice, next to an undefined nearest node, for a non-finite
    /// result, or when the lattice is degenerate.
    std::optional<double> sample(double x, double y) const;

    /// Primary values moved onto `target` (nearest node when the primary
    /// metadata is categorical, bilinear otherwise); primary metadata kept,
    /// lanes dropped, history + "surface.resample(ncol=…, nrow=…)". `Tools`
    /// (degenerate source, shape) or `OutOfRange` (target too large).
    Result<Surface> resample(const GridGeometry& target) const;

    /// Bounding box of the geometry's corner nodes.
    BBox bbox() const { return geom.bbox(); }

    // ---- arithmetic (node by node; new surface, no lanes, no metadata) --

    /// left + right on exactly equal geometries; history: left's, right's
    /// behind "rhs.", then "surface.plus(surface)". `GeometryMismatch`.
    Result<Surface> plus(const Surface& rhs) const;
    /// left - right; as `plus`.
    Result<Surface> minus(const Surface& rhs) const;
    /// left * right; as `plus`.
    Result<Surface> times(const Surface& rhs) const;
    /// left / right (IEEE: x/0 = ±inf, 0/0 = NaN); as `plus`.
    Result<Surface> divided_by(const Surface& rhs) const;

    /// v + s; history + "surface.add_scalar(s)".
    Surface add_scalar(double s) const;
    /// v - s; history + "surface.sub_scalar(s)".
    Surface sub_scalar(double s) const;
    /// v * s; history + "surface.mul_scalar(s)".
    Surface mul_scalar(double s) const;
    /// v / s; history + "surface.div_scalar(s)".
    Surface div_scalar(double s) const;
    /// x - v, computed as (v * -1) + x so that a number on the left of a
    /// subtraction reads in the history as the two steps it takes:
    /// + "surface.mul_scalar(-1)", + "surface.add_scalar(x)".
    Surface rsub_scalar(double x) const;
    /// pow(v, s) with the C library's rules; history + "surface.powf_scalar(s)".
    Surface powf_scalar(double s) const;
    /// max(v, lo), NaN kept; history + "surface.clamp_min_scalar(lo)".
    /// `OutOfRange` for a NaN lo on a grid with nodes.
    Result<Surface> clamp_min_scalar(double lo) const;
    /// v held within [lo, hi], NaN kept; history + "surface.clamp(lo, hi)".
    /// `OutOfRange` when lo > hi or a bound is NaN, on a grid with nodes.
    Result<Surface> clamp(double lo, double hi) const;

    /// Natural logarithm; history + "surface.ln()".
    Surface ln() const;
    /// Decimal logarithm; history + "surface.log10()".
    Surface log10() const;
    /// e^v; history + "surface.exp()".
    Surface exp() const;
    /// Square root; history + "surface.sqrt()".
    Surface sqrt() const;
    /// Sign cleared; history + "surface.abs()".
    Surface abs() const;

    /// base - top with this surface as top, optionally held at or above 0;
    /// geometry and history from `minus(base, top)`, then
    /// "surface.clamp_min_scalar(0)" when clamping, then
    /// "surface.thickness(clamp_zero=…)". `GeometryMismatch` (minus message).
    Result<Surface> thickness(const Surface& base, bool clamp_zero) const;

    // ---- analysis (read-only) -------------------------------------------

    /// xinc * yinc * count of nodes with value >= depth (NaN never counts).
    double area_above(double depth) const;
    /// xinc * yinc * count of nodes with value <= depth.
    double area_below(double depth) const;
    /// (value, cumulative area) per defined node, ascending by IEEE total
    /// order; area of the k-th pair (k from 0) is (k + 1) * xinc * yinc.
    std::vector<std::pair<double, double>> hypsometry() const;
    /// Sum of |this - base| * xinc * yinc where both are defined (starts at
    /// -0.0). `GeometryMismatch` on unequal geometries.
    Result<double> volume_between(const Surface& base) const;
    /// Statistics of the primary values, NaN dropped.
    Stats stats() const;

    /// Dip angle (degrees) and dip azimuth (degrees clockwise from +y, the
    /// direction of steepest descent, [0, 360)) in one pass; histories
    /// + "surface.dip_angle()" and + "surface.dip_azimuth()".
    std::pair<Surface, Surface> dip_surfaces() const;
    /// First grid of `dip_surfaces`.
    Surface dip_angle() const;
    /// Second grid of `dip_surfaces`.
    Surface dip_azimuth() const;

    /// NaN-aware box mean over a (2 radius + 1)^2 window clipped to the
    /// lattice; NaN nodes stay NaN. History + "surface.smooth(radius=…)".
    Surface smooth(std::uint64_t radius) const;

    /// Fills the NaN nodes by gridding the finite nodes (at their world
    /// positions) onto the surface's own lattice with `method`; every other
    /// node keeps its value. A surface without NaN nodes is copied without
    /// gridding. History + "surface.extrapolate(method=…)". `OutOfRange` when
    /// a NaN node exists but no node is finite; gridding errors as `Tools`.
    Result<Surface> extrapolate(GriddingMethod method) const;

    /// Convex outline of the world positions of the defined (non-NaN) nodes,
    /// visited row by row; absent with fewer than three such positions or a
    /// degenerate hull. Nodes whose position is not finite (a geometry with
    /// non-finite fields) take no part. Include core/polygons.hpp to call it.
    std::optional<PolygonSet> edge() const;
};

}  // namespace vz
