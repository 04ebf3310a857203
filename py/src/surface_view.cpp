// Handing lanes of a regular surface to a viewer: the value-layer dictionary
// (a triangle mesh, shared with the other surface classes) and the two
// private regular-grid transports, which send compact little-endian f32
// buffers and byte masks on a sampled lattice instead of per-node objects.

#include "surface_view.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/convert_more.hpp"
#include "frame/generate.hpp"
#include "surface.hpp"

namespace vz::py {

// ---- the value-layer dictionary -------------------------------------------------

namespace {

/// [a, b] as a list of two floats.
PyResult<Ref> pair_list(double a, double b) { return to_py(std::vector<double>{a, b}); }

/// A list of small lists, one per row of N numbers.
template <class T, std::size_t N>
PyResult<Ref> rows_list(const std::vector<std::array<T, N>>& rows) {
    return list_generate(rows.size(), [&](std::size_t k) {
        return list_generate(N, [&](std::size_t c) { return to_py(rows[k][c]); });
    });
}

}  // namespace

PyResult<Ref> value_layer_to_py(Result<vz::ValueLayer> layer) {
    if (!layer) return raise(into_py_err(layer.error()));
    DictBuilder d;
    d.add("kind", "trimesh")
        .add("name", layer->name)
        .add("nodes", rows_list(layer->nodes))
        .add("triangles", rows_list(layer->triangles))
        .add("values", to_py(layer->values))
        .add("range", pair_list(layer->vmin, layer->vmax));
    return std::move(d).build();
}

// ---- sampled lattices -------------------------------------------------------------

namespace {

/// Samples along one lattice axis of n >= 1 nodes at effective stride e >= 1:
/// the first and last node always, the others spread evenly.
std::uint64_t sample_count(std::uint64_t n, std::uint64_t e) {
    if (n == 1) return 1;
    const std::uint64_t span = n - 1;
    return span / e + (span % e != 0 ? 1 : 0) + 1;
}

/// The node of sample s of `count` samples along an axis of n nodes:
/// s * (n - 1) / (count - 1) rounded half up (exact integer arithmetic).
std::uint64_t sample_node(std::uint64_t s, std::uint64_t count, std::uint64_t n) {
    if (count <= 1) return 0;
    const unsigned __int128 num =
        static_cast<unsigned __int128>(s) * (n - 1) + static_cast<unsigned __int128>((count - 1) / 2);
    return static_cast<std::uint64_t>(num / (count - 1));
}

/// The sampled node of every sample along an axis.
std::vector<std::uint64_t> sampled_nodes(std::uint64_t count, std::uint64_t n) {
    std::vector<std::uint64_t> out(static_cast<std::size_t>(count));
    for (std::uint64_t s = 0; s < count; ++s) out[static_cast<std::size_t>(s)] = sample_node(s, count, n);
    return out;
}

/// Origin and per-sample steps of a sampled lattice in world coordinates.
struct Frame {
    std::pair<double, double> origin, step_i, step_j;
};

/// Steps from the first to the last node spread over the samples; along an
/// axis with a single sample the step is one native node, computed by the
/// lattice transform even where the lattice has no such node.
Frame sample_frame(const vz::GridGeometry& g, std::uint64_t sc, std::uint64_t sr) {
    Frame f;
    f.origin = g.node_xy(0, 0);
    const auto step = [&](std::pair<double, double> far, std::uint64_t count) {
        if (count <= 1) return std::pair<double, double>(far.first - f.origin.first, far.second - f.origin.second);
        const double d = static_cast<double>(count - 1);
        return std::pair<double, double>((far.first - f.origin.first) / d, (far.second - f.origin.second) / d);
    };
    f.step_i = step(sc <= 1 ? g.node_xy(1, 0) : g.node_xy(g.ncol - 1, 0), sc);
    f.step_j = step(sr <= 1 ? g.node_xy(0, 1) : g.node_xy(0, g.nrow - 1), sr);
    return f;
}

constexpr std::uint32_t kNaNBits = 0x7FC00000u;
/// Doubles at or beyond this magnitude round to an infinity in f32 (half an
/// f32 unit above the largest finite f32, where ties go to the even infinity).
constexpr double kF32Overflow = 0x1.ffffffp127;

/// x rounded to the nearest f32; finite doubles beyond the f32 range give an
/// infinity of their sign (spelled out: that conversion is not defined in C++).
float to_f32(double x) {
    if (std::fabs(x) >= kF32Overflow) return std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(x));
    return static_cast<float>(x);
}

void put_f32(char* out, float f) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
    out[0] = static_cast<char>(bits & 0xFF);
    out[1] = static_cast<char>((bits >> 8) & 0xFF);
    out[2] = static_cast<char>((bits >> 16) & 0xFF);
    out[3] = static_cast<char>((bits >> 24) & 0xFF);
}

/// A node value as it travels: finite values as f32, NaN and infinities as
/// the NaN pattern.
void put_value(char* out, double x) {
    if (!std::isfinite(x)) put_f32(out, std::bit_cast<float>(kNaNBits));
    else put_f32(out, to_f32(x));
}

/// A new bytes object of `size` bytes whose content the caller writes.
PyResult<Ref> new_bytes(std::size_t size, char** data) {
    VZ_ASSIGN_OR_RETURN(Ref b, checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))));
    *data = PyBytes_AsString(b.get());
    if (!*data) return raise_pending();
    return b;
}

/// Smallest and largest finite value of a lane, or none.
std::optional<std::pair<double, double>> finite_min_max(std::span<const double> values) {
    std::optional<std::pair<double, double>> r;
    for (double v : values) {
        if (!std::isfinite(v)) continue;
        if (!r) r = std::pair(v, v);
        else r = std::pair(std::min(r->first, v), std::max(r->second, v));
    }
    return r;
}

PyResult<Ref> int_pair(std::uint64_t a, std::uint64_t b) {
    return list_generate(2, [&](std::size_t k) { return to_py(k == 0 ? a : b); });
}

PyResult<Ref> xy_list(std::pair<double, double> p) { return pair_list(p.first, p.second); }

/// The sample counts and the affine frame, the keys both transports start with.
void add_frame(DictBuilder& d, std::uint64_t sc, std::uint64_t sr, const Frame& f) {
    d.add("dimensions", int_pair(sc, sr))
        .add("origin", xy_list(f.origin))
        .add("step_i", xy_list(f.step_i))
        .add("step_j", xy_list(f.step_j));
}

// ---- value_layer ----------------------------------------------------------------------

PyResult<Ref> value_layer(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> attr, a.opt<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> stride, a.opt<std::uint64_t>("stride"));
    VZ_ASSIGN_OR_RETURN(auto layer, with_resolved(me->source, [&](const vz::Surface& s) {
                            return allow_threads([&] { return vz::value_layer(s, attr, stride); });
                        }));
    return value_layer_to_py(std::move(layer));
}

// ---- _view_regular_grid -------------------------------------------------------------

constexpr const char* kRegular = "Surface._view_regular_grid";
constexpr const char* kShared = "Surface._view_shared_regular_grid";

PyErr missing_lane(std::string_view name) {
    return PyErr::value_error(fmt::format("no attribute layer '{}'", name));
}

PyResult<Ref> build_regular_grid_transport(const vz::Surface& s, const std::optional<std::string>& attr,
                                           std::uint64_t stride) {
    const Grid2* lane = &s.values;
    if (attr) {
        lane = s.attr(*attr);
        if (!lane) return raise(missing_lane(*attr));
    }
    const vz::GridGeometry& g = s.geom;
    const std::uint64_t ncol = g.ncol, nrow = g.nrow;
    // The sample rule always takes node (0, 0): a lattice without it has
    // nothing to send.
    if (ncol == 0 || nrow == 0)
        return raise(PyErr::value_error(
            fmt::format("{}: the surface has no nodes (ncol={}, nrow={})", kRegular, ncol, nrow)));
    if (s.values.ncol() != ncol || s.values.nrow() != nrow || lane->ncol() != ncol || lane->nrow() != nrow)
        return raise(PyErr::value_error(fmt::format("{}: values do not match the grid (ncol={}, nrow={})", kRegular,
                                                    ncol, nrow)));
    const std::uint64_t e = std::min(stride, std::max<std::uint64_t>({ncol - 1, nrow - 1, 1}));
    const std::uint64_t sc = sample_count(ncol, e), sr = sample_count(nrow, e);
    const std::vector<std::uint64_t> cols = sampled_nodes(sc, ncol), rows = sampled_nodes(sr, nrow);
    // sc <= ncol and sr <= nrow, and the lattice holds ncol * nrow values.
    const std::size_t samples = static_cast<std::size_t>(sc * sr);

    char *elev = nullptr, *vals = nullptr, *emask = nullptr, *vmask = nullptr;
    VZ_ASSIGN_OR_RETURN(Ref elevations, new_bytes(4 * samples, &elev));
    VZ_ASSIGN_OR_RETURN(Ref values, new_bytes(4 * samples, &vals));
    VZ_ASSIGN_OR_RETURN(Ref elevation_mask, new_bytes(samples, &emask));
    VZ_ASSIGN_OR_RETURN(Ref value_mask, new_bytes(samples, &vmask));
    std::size_t k = 0;
    for (std::uint64_t j : rows) {
        for (std::uint64_t i : cols) {
            const double p = s.values(i, j), v = (*lane)(i, j);
            put_value(elev + 4 * k, p);
            put_value(vals + 4 * k, v);
            emask[k] = std::isfinite(p) ? 1 : 0;
            vmask[k] = std::isfinite(v) ? 1 : 0;
            ++k;
        }
    }
    std::uint64_t cells = 0;
    if (sc > 1 && sr > 1) {
        for (std::uint64_t r = 0; r + 1 < sr; ++r)
            for (std::uint64_t c = 0; c + 1 < sc; ++c) {
                const std::size_t a = static_cast<std::size_t>(r * sc + c), b = a + static_cast<std::size_t>(sc);
                cells += (emask[a] && emask[a + 1] && emask[b] && emask[b + 1]) ? 1 : 0;
            }
    }
    const auto range_list = [](std::span<const double> v) {
        const auto r = finite_min_max(v).value_or(std::pair(0.0, 1.0));
        return pair_list(r.first, r.second);
    };

    DictBuilder d;
    d.add("name", attr ? *attr : std::string("values"));
    add_frame(d, sc, sr, sample_frame(g, sc, sr));
    d.add("elevations", std::move(elevations))
        .add("values", std::move(values))
        .add("elevation_mask", std::move(elevation_mask))
        .add("value_mask", std::move(value_mask))
        .add("elevation_range", range_list(s.values.values()))
        .add("range", range_list(lane->values()))
        .add("triangle_count", 2 * cells)
        .add("stride", e);
    return std::move(d).build();
}

PyResult<Ref> view_regular_grid(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> attr, a.opt<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t stride, a.get_or<std::uint64_t>("stride", 1));
    if (stride == 0) return raise(PyErr::value_error(fmt::format("{}: stride must be at least 1", kRegular)));
    return with_resolved(me->source, [&](const vz::Surface& s) { return build_regular_grid_transport(s, attr, stride); });
}

// ---- _view_shared_regular_grid ------------------------------------------------------

/// One declared lane of the shared transport.
struct LaneRecord {
    const Grid2* values;
    bool categorical;
    std::string message_name;
};

PyResult<std::vector<LaneRecord>> listed_attribute_lanes(const vz::Surface& s,
                                                         const std::vector<std::optional<std::string>>& attrs) {
    std::vector<LaneRecord> out;
    out.reserve(attrs.size());
    for (const auto& name : attrs) {
        if (!name) {
            const bool categorical =
                s.primary_metadata && s.primary_metadata->kind == vz::AttributeKind::Categorical;
            out.push_back({&s.values, categorical, "primary"});
            continue;
        }
        const Grid2* lane = s.attr(*name);
        const vz::AttributeMetadata* md = s.attr_metadata(*name);
        if (!lane || !md) return raise(missing_lane(*name));
        out.push_back({lane, md->kind == vz::AttributeKind::Categorical, *name});
    }
    return out;
}

/// `check_shared_lane_f32`: the value as it travels, or the refusal of a
/// finite value that f32 cannot carry (for a categorical lane: exactly).
PyResult<float> check_shared_lane_f32(const LaneRecord& lane, double x) {
    if (!std::isfinite(x)) return std::bit_cast<float>(kNaNBits);
    const float f = to_f32(x);
    if (std::isinf(f))
        return raise(PyErr::value_error(fmt::format(
            "shared surface lane '{}' contains finite value {} outside the f32 transport range", lane.message_name,
            num(x))));
    if (lane.categorical && static_cast<double>(f) != x)
        return raise(PyErr::value_error(fmt::format(
            "shared categorical surface lane '{}' value {} is not exactly representable as f32", lane.message_name,
            num(x))));
    return f;
}

PyResult<Ref> build_shared_regular_grid_transport(const vz::Surface& s,
                                                  const std::vector<std::optional<std::string>>& attrs,
                                                  std::uint64_t stride) {
    VZ_ASSIGN_OR_RETURN(std::vector<LaneRecord> lanes, listed_attribute_lanes(s, attrs));
    const vz::GridGeometry& g = s.geom;
    const std::uint64_t ncol = g.ncol, nrow = g.nrow;
    if (ncol < 2 || nrow < 2)
        return raise(PyErr::value_error(fmt::format("{}: affine shared transport requires at least 2x2 nodes", kShared)));
    for (const LaneRecord& l : lanes)
        if (l.values->ncol() != ncol || l.values->nrow() != nrow)
            return raise(PyErr::value_error(fmt::format("{}: lane '{}' does not match the grid (ncol={}, nrow={})",
                                                        kShared, l.message_name, ncol, nrow)));
    std::uint64_t e = std::min({stride, ncol - 1, nrow - 1});
    std::uint64_t sc = sample_count(ncol, e), sr = sample_count(nrow, e);
    std::vector<char> col_sampled(static_cast<std::size_t>(ncol), 0), row_sampled(static_cast<std::size_t>(nrow), 0);
    for (std::uint64_t i : sampled_nodes(sc, ncol)) col_sampled[static_cast<std::size_t>(i)] = 1;
    for (std::uint64_t j : sampled_nodes(sr, nrow)) row_sampled[static_cast<std::size_t>(j)] = 1;

    const std::size_t n_lanes = lanes.size();
    std::vector<std::vector<float>> buffers(n_lanes);
    std::vector<std::optional<std::pair<double, double>>> ranges(n_lanes);
    std::vector<char> sampled_finite(n_lanes, 0);
    for (auto& b : buffers) b.reserve(static_cast<std::size_t>(sc * sr));
    for (std::uint64_t j = 0; j < nrow; ++j) {
        const bool row_in = row_sampled[static_cast<std::size_t>(j)] != 0;
        for (std::uint64_t i = 0; i < ncol; ++i) {
            const bool in = row_in && col_sampled[static_cast<std::size_t>(i)] != 0;
            for (std::size_t l = 0; l < n_lanes; ++l) {
                VZ_ASSIGN_OR_RETURN(float f, check_shared_lane_f32(lanes[l], (*lanes[l].values)(i, j)));
                const bool finite = std::isfinite(f);
                if (finite) {
                    const double v = f;
                    ranges[l] = ranges[l] ? std::pair(std::min(ranges[l]->first, v), std::max(ranges[l]->second, v))
                                          : std::pair(v, v);
                }
                if (in) {
                    buffers[l].push_back(f);
                    if (finite) sampled_finite[l] = 1;
                }
            }
        }
    }
    // A lane whose finite values all fall between the samples would show
    // nothing: send every node instead.
    bool fallback = false;
    for (std::size_t l = 0; l < n_lanes; ++l) fallback = fallback || (ranges[l] && !sampled_finite[l]);
    if (e > 1 && fallback) {
        for (std::size_t l = 0; l < n_lanes; ++l) {
            std::vector<float>& b = buffers[l];
            b.clear();
            b.reserve(static_cast<std::size_t>(ncol * nrow));
            for (std::uint64_t j = 0; j < nrow; ++j)
                for (std::uint64_t i = 0; i < ncol; ++i) {
                    // Every value passed the check in the pass above.
                    VZ_ASSIGN_OR_RETURN(float f, check_shared_lane_f32(lanes[l], (*lanes[l].values)(i, j)));
                    b.push_back(f);
                }
        }
        sc = ncol;
        sr = nrow;
        e = 1;
    }
    const std::size_t samples = static_cast<std::size_t>(sc * sr);

    const auto lane_dict = [&](std::size_t l) -> PyResult<Ref> {
        char* data = nullptr;
        VZ_ASSIGN_OR_RETURN(Ref bytes, new_bytes(4 * buffers[l].size(), &data));
        for (std::size_t k = 0; k < buffers[l].size(); ++k) put_f32(data + 4 * k, buffers[l][k]);
        DictBuilder lane;
        lane.add("values", std::move(bytes))
            .add("range", ranges[l] ? pair_list(ranges[l]->first, ranges[l]->second) : PyResult<Ref>(Ref::none()));
        return std::move(lane).build();
    };
    char* mask_data = nullptr;
    VZ_ASSIGN_OR_RETURN(Ref mask, new_bytes(samples, &mask_data));
    std::memset(mask_data, 1, samples);

    DictBuilder d;
    add_frame(d, sc, sr, sample_frame(g, sc, sr));
    d.add("lanes", list_generate(n_lanes, lane_dict))
        .add("mask", std::move(mask))
        .add("triangle_count", 2 * (sc - 1) * (sr - 1))
        .add("stride", e);
    return std::move(d).build();
}

PyResult<Ref> view_shared_regular_grid(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(auto attrs, a.get<std::vector<std::optional<std::string>>>("attrs"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t stride, a.get_or<std::uint64_t>("stride", 1));
    if (stride == 0) return raise(PyErr::value_error(fmt::format("{}: stride must be at least 1", kShared)));
    if (attrs.empty()) return raise(PyErr::value_error(fmt::format("{}: at least one lane is required", kShared)));
    return with_resolved(me->source,
                         [&](const vz::Surface& s) { return build_shared_regular_grid_transport(s, attrs, stride); });
}

}  // namespace

void add_surface_view(ClassDef& def) {
    def.method<&value_layer>(
           "value_layer($self, attr=None, stride=None)\n--\n\n"
           "A property lane as the viewer's trimesh dict: `{\"kind\": \"trimesh\",\n"
           "\"name\", \"nodes\", \"triangles\", \"values\", \"range\"}` (nodes/triangles from\n"
           "the quad-split grid). `stride=k` returns the coarse-LOD decimation\n"
           "(per-block `(i,j)` striding; `range` from the full-resolution lane).")
        .method<&view_shared_regular_grid>(
            "_view_shared_regular_grid($self, attrs, stride=1)\n--\n\n"
            "Private workspace-v2 shared transport for every declared regular-grid\n"
            "lane in one node pass. Attribute selectors are local viewer state, so\n"
            "this method is called once per `(item, map, detail)` resource rather\n"
            "than once per geometry/paint combination.")
        .method<&view_regular_grid>(
            "_view_regular_grid($self, attr=None, stride=1)\n--\n\n"
            "Private project-view transport for an affine regular surface. It copies\n"
            "only compact row-major f32 lanes and u8 masks; unlike `value_layer`, it\n"
            "never constructs node or triangle arrays. `stride` is display-only and\n"
            "samples native nodes before marshaling.");
}

}  // namespace vz::py
