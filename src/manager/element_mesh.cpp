// Structured mesh and triangulated surface payloads ("structured_mesh" and
// "tri_surface" sections). Both carry their own copy of their shell, which is
// rebuilt through its validating constructor while the payload is read.

#include <fmt/format.h>

#include <memory>
#include <utility>

#include "expected_macros.hpp"
#include "manager/element.hpp"
#include "manager/element_records.hpp"

namespace vz::element {

namespace {

// ---- shells -------------------------------------------------------------------

template <class Out>
void put_structured_shell(Out& out, const StructuredShell& shell) {
    out.u64(shell.ncol());
    out.u64(shell.nrow());
    out.grid(shell.x());
    out.grid(shell.y());
    payload::option(out, shell.nominal(), [](auto& o, const GridGeometry& g) { records::put_geometry(o, g); });
    records::put_polygon_set(out, shell.edge());
}

template <class Out>
void put_mesh_shell(Out& out, const MeshShell& shell) {
    out.count(shell.nodes().size());
    for (const NodeXY& n : shell.nodes()) {
        out.f64(n[0]);
        out.f64(n[1]);
    }
    out.count(shell.triangles().size());
    for (const MeshTriangle& t : shell.triangles()) {
        out.u32(t[0]);
        out.u32(t[1]);
        out.u32(t[2]);
    }
    out.count(shell.wireframe().size());
    for (const MeshEdge& e : shell.wireframe()) {
        out.u32(e[0]);
        out.u32(e[1]);
    }
    records::put_polygon_set(out, shell.edge());
    payload::list(out, shell.labels(), [](auto& o, const std::optional<NodeLabel>& label) {
        payload::option(o, label, [](auto& oo, const NodeLabel& l) {
            oo.u32(l.block);
            oo.i32(l.i);
            oo.i32(l.j);
        });
    });
}

/// The shell record read and rebuilt; a rebuild failure reads as an
/// unreadable payload.
Result<SharedStructuredShell> read_structured_shell(payload::Reader& r) {
    VZ_ASSIGN_OR_RETURN(auto ncol, r.u64());
    VZ_ASSIGN_OR_RETURN(auto nrow, r.u64());
    VZ_ASSIGN_OR_RETURN(Grid2 x, r.grid());
    VZ_ASSIGN_OR_RETURN(Grid2 y, r.grid());
    VZ_ASSIGN_OR_RETURN(auto nominal, r.option(records::read_geometry));
    VZ_ASSIGN_OR_RETURN(PolygonSet edge, records::read_polygon_set(r));
    auto shell = StructuredShell::from_payload(std::move(edge), nominal, std::move(x), std::move(y), ncol, nrow);
    if (!shell) return fail(payload::deserialize_error(shell.error()));
    return std::make_shared<const StructuredShell>(std::move(*shell));
}

/// `MeshShell::make` over a stored shell record; an empty label list stands
/// for one absent label per node.
Result<MeshShell> mesh_shell_from_data(std::vector<NodeXY> nodes, std::vector<MeshTriangle> triangles,
                                       std::vector<MeshEdge> wireframe, PolygonSet edge,
                                       std::vector<std::optional<NodeLabel>> labels) {
    if (labels.empty()) labels.assign(nodes.size(), std::nullopt);
    return MeshShell::make(std::move(nodes), std::move(triangles), std::move(wireframe), std::move(edge),
                           std::move(labels));
}

Result<SharedMeshShell> read_mesh_shell(payload::Reader& r) {
    VZ_ASSIGN_OR_RETURN(auto nodes, r.list([](payload::Reader& rr) -> Result<NodeXY> {
        NodeXY n{};
        VZ_ASSIGN_OR_RETURN(n[0], rr.f64());
        VZ_ASSIGN_OR_RETURN(n[1], rr.f64());
        return n;
    }));
    VZ_ASSIGN_OR_RETURN(auto triangles, r.list([](payload::Reader& rr) -> Result<MeshTriangle> {
        MeshTriangle t{};
        VZ_ASSIGN_OR_RETURN(t[0], rr.u32());
        VZ_ASSIGN_OR_RETURN(t[1], rr.u32());
        VZ_ASSIGN_OR_RETURN(t[2], rr.u32());
        return t;
    }));
    VZ_ASSIGN_OR_RETURN(auto wireframe, r.list([](payload::Reader& rr) -> Result<MeshEdge> {
        MeshEdge e{};
        VZ_ASSIGN_OR_RETURN(e[0], rr.u32());
        VZ_ASSIGN_OR_RETURN(e[1], rr.u32());
        return e;
    }));
    VZ_ASSIGN_OR_RETURN(PolygonSet edge, records::read_polygon_set(r));
    VZ_ASSIGN_OR_RETURN(auto labels, r.list([](payload::Reader& rr) {
        return rr.option([](payload::Reader& r3) -> Result<NodeLabel> {
            NodeLabel l;
            VZ_ASSIGN_OR_RETURN(l.block, r3.u32());
            VZ_ASSIGN_OR_RETURN(l.i, r3.i32());
            VZ_ASSIGN_OR_RETURN(l.j, r3.i32());
            return l;
        });
    }));
    auto shell = mesh_shell_from_data(std::move(nodes), std::move(triangles), std::move(wireframe), std::move(edge),
                                      std::move(labels));
    if (!shell) return fail(payload::deserialize_error(shell.error()));
    return std::make_shared<const MeshShell>(std::move(*shell));
}

std::span<const double> values_of(const Grid2& g) { return g.values(); }
std::span<const double> values_of(const std::vector<double>& v) { return v; }

// ---- the surface records ------------------------------------------------------

/// One decoded surface record: shell, primary values, optional primary
/// metadata, lanes (metadata absent in version 1), history.
template <class Shell, class Values>
struct Record {
    Shell shell;
    Values values;
    std::optional<AttributeMetadata> primary_metadata;
    std::vector<std::pair<std::string, std::pair<std::optional<AttributeMetadata>, Values>>> lanes;
    std::vector<std::string> history;
};

/// Reads shell, values, (version 2: primary metadata), lanes and history.
template <class Shell, class Values, class ReadShell, class ReadValues>
Result<Record<Shell, Values>> read_record(payload::Reader& r, std::uint32_t version, ReadShell read_shell,
                                          ReadValues read_values) {
    Record<Shell, Values> rec;
    VZ_ASSIGN_OR_RETURN(rec.shell, read_shell(r));
    VZ_ASSIGN_OR_RETURN(rec.values, read_values(r));
    if (version == 2) {
        VZ_ASSIGN_OR_RETURN(rec.primary_metadata, r.option(records::read_metadata));
    }
    using Lane = std::pair<std::optional<AttributeMetadata>, Values>;
    VZ_ASSIGN_OR_RETURN(auto lanes, r.map([&](payload::Reader& rr) -> Result<Lane> {
        Lane lane;
        if (version == 2) {
            VZ_ASSIGN_OR_RETURN(lane.first, records::read_metadata(rr));
        }
        VZ_ASSIGN_OR_RETURN(lane.second, read_values(rr));
        return lane;
    }));
    rec.lanes.reserve(lanes.size());
    for (auto it = lanes.begin(); it != lanes.end(); ++it) rec.lanes.emplace_back(it->first, std::move(it.value()));
    VZ_ASSIGN_OR_RETURN(rec.history, r.text_list());
    return rec;
}

/// Rebuilds a surface through the model's constructors: version 1 with
/// `from_shell` and `set_attr` (errors unchanged), version 2 with
/// canonicalised metadata, `from_shell`, the primary metadata checks and
/// `set_attr_with_metadata` (errors wrapped as unreadable payloads). The
/// stored history replaces the constructors' entries.
template <class Surf, class Shell, class Values>
Result<Surf> rebuild(std::uint32_t version, Record<Shell, Values> rec) {
    if (version == 1) {
        VZ_ASSIGN_OR_RETURN(Surf s, Surf::from_shell(std::move(rec.shell), std::move(rec.values)));
        for (auto& [name, lane] : rec.lanes) VZ_TRY(s.set_attr(name, std::move(lane.second)));
        s.history = History(std::move(rec.history));
        return s;
    }
    auto build = [&]() -> Result<Surf> {
        if (rec.primary_metadata) rec.primary_metadata->canonicalize();
        for (auto& [name, lane] : rec.lanes) lane.first->canonicalize();
        VZ_ASSIGN_OR_RETURN(Surf s, Surf::from_shell(std::move(rec.shell), std::move(rec.values)));
        if (rec.primary_metadata) {
            VZ_TRY(rec.primary_metadata->validate());
            VZ_TRY(records::check_categorical(*rec.primary_metadata, values_of(s.values)));
            s.primary_metadata = std::move(rec.primary_metadata);
        }
        for (auto& [name, lane] : rec.lanes) {
            VZ_TRY(s.set_attr_with_metadata(name, std::move(lane.second), std::move(*lane.first)));
        }
        s.history = History(std::move(rec.history));
        return s;
    };
    auto s = build();
    if (!s) return fail(payload::deserialize_error(s.error()));
    return s;
}

template <class Out, class M>
void put_grid_lanes(Out& out, const M& lanes) {
    payload::map(out, lanes, [](auto& o, const auto& lane) {
        records::put_metadata(o, lane.metadata);
        o.grid(lane.values);
    });
}

}  // namespace

// ---- structured mesh surfaces ---------------------------------------------------

Result<Bytes> serialize_structured_mesh(const StructuredMeshSurface& s) {
    if (!s.shell) return fail(payload::serialize_error("structured mesh surface has no shell"));
    return payload::encode([&](auto& out) {
        put_structured_shell(out, *s.shell);
        out.grid(s.values);
        payload::option(out, s.primary_metadata, [](auto& o, const AttributeMetadata& m) { records::put_metadata(o, m); });
        put_grid_lanes(out, s.attributes);
        out.text_list(s.history.entries());
    });
}

Result<Section> encode_structured_mesh(const StructuredMeshSurface& surface) {
    VZ_ASSIGN_OR_RETURN(auto bytes, serialize_structured_mesh(surface));
    return records::make_section(kStructuredMeshKind, std::move(bytes));
}

Result<StructuredMeshSurface> decode_structured_mesh(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_plain(kStructuredMeshKind, version));
    VZ_ASSIGN_OR_RETURN(auto rec, payload::decode(data, [&](payload::Reader& r) {
                            return read_record<SharedStructuredShell, Grid2>(
                                r, version, read_structured_shell, [](payload::Reader& rr) { return rr.grid(); });
                        }));
    return rebuild<StructuredMeshSurface>(version, std::move(rec));
}

// ---- triangulated surfaces ------------------------------------------------------

Result<Bytes> serialize_tri_surface(const TriSurface& s) {
    if (!s.shell) return fail(payload::serialize_error("triangulated surface has no shell"));
    return payload::encode([&](auto& out) {
        put_mesh_shell(out, *s.shell);
        out.f64_list(s.values);
        payload::option(out, s.primary_metadata, [](auto& o, const AttributeMetadata& m) { records::put_metadata(o, m); });
        payload::map(out, s.attributes, [](auto& o, const TriLane& lane) {
            records::put_metadata(o, lane.metadata);
            o.f64_list(lane.values);
        });
        out.text_list(s.history.entries());
    });
}

Result<Section> encode_tri_surface(const TriSurface& surface) {
    VZ_ASSIGN_OR_RETURN(auto bytes, serialize_tri_surface(surface));
    return records::make_section(kTriSurfaceKind, std::move(bytes));
}

Result<TriSurface> decode_tri_surface(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_plain(kTriSurfaceKind, version));
    VZ_ASSIGN_OR_RETURN(auto rec, payload::decode(data, [&](payload::Reader& r) {
                            return read_record<SharedMeshShell, std::vector<double>>(
                                r, version, read_mesh_shell, [](payload::Reader& rr) { return rr.f64_list(); });
                        }));
    return rebuild<TriSurface>(version, std::move(rec));
}

}  // namespace vz::element
