#include "io/shapefile.hpp"

#include <fmt/format.h>
#include <shapefil.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "core/polygons.hpp"
#include "io/text.hpp"

namespace vz::shapefile {

namespace {

// The shapefile library reads through hooks; these serve two in-memory files
// ("vzmem.shp" and "vzmem.shx") of the calling thread and collect its error
// messages.
struct MemFile {
    const std::string* data;
    std::size_t pos = 0;
};

struct MemFiles {
    const std::string* shp = nullptr;
    const std::string* shx = nullptr;
    std::string last_error;
};

thread_local MemFiles* g_files = nullptr;

SAFile mem_open(const char* name, const char* access) {
    if (!g_files || std::strchr(access, 'w') || std::strchr(access, '+') || std::strchr(access, 'a')) return nullptr;
    std::string_view n(name);
    const std::string* data = nullptr;
    if (n == "vzmem.shp" || n == "vzmem.SHP") data = g_files->shp;
    if (n == "vzmem.shx" || n == "vzmem.SHX") data = g_files->shx;
    if (!data) return nullptr;
    return reinterpret_cast<SAFile>(new MemFile{data, 0});
}

MemFile* mem(SAFile f) { return reinterpret_cast<MemFile*>(f); }

SAOffset mem_read(void* p, SAOffset size, SAOffset nmemb, SAFile file) {
    MemFile* m = mem(file);
    if (size == 0) return 0;
    std::size_t avail = m->pos < m->data->size() ? m->data->size() - m->pos : 0;
    std::size_t items = std::min<std::size_t>(nmemb, avail / size);
    std::memcpy(p, m->data->data() + m->pos, items * size);
    m->pos += items * size;
    return items;
}

SAOffset mem_write(void*, SAOffset, SAOffset, SAFile) { return 0; }

SAOffset mem_seek(SAFile file, SAOffset offset, int whence) {
    MemFile* m = mem(file);
    std::size_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data->size();
    m->pos = base + offset;
    return 0;
}

SAOffset mem_tell(SAFile file) { return mem(file)->pos; }
int mem_flush(SAFile) { return 0; }
int mem_close(SAFile file) {
    delete mem(file);
    return 0;
}
int mem_remove(const char*) { return -1; }
void mem_error(const char* message) {
    if (g_files) g_files->last_error = message ? message : "";
}
double mem_atof(const char* s) { return std::strtod(s, nullptr); }

std::uint32_t be32(const std::string& b, std::size_t at) {
    auto u = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + k])); };
    return u(0) << 24 | u(1) << 16 | u(2) << 8 | u(3);
}

void put_be32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>((v >> (24 - 8 * k)) & 0xFF);
}

Error failure(std::string_view text) { return Error::parse(fmt::format("shapefile: {}", text)); }

// An index built from the record headers of the .shp, for a shapefile that
// comes without its .shx.
Result<std::string> rebuild_index(const std::string& shp) {
    if (shp.size() < 100) return fail(failure("the .shp file is shorter than its 100-byte header"));
    const std::size_t declared = static_cast<std::size_t>(be32(shp, 24)) * 2;
    const std::size_t end = std::min(declared, shp.size());
    std::string shx = shp.substr(0, 100);
    std::size_t pos = 100;
    for (std::size_t record = 0; pos + 8 <= end; ++record) {
        const std::size_t content = static_cast<std::size_t>(be32(shp, pos + 4)) * 2;
        if (pos + 8 + content > shp.size())
            return fail(failure(fmt::format("record {} runs past the end of the .shp file", record)));
        std::string entry(8, '\0');
        put_be32(entry, 0, static_cast<std::uint32_t>(pos / 2));
        put_be32(entry, 4, static_cast<std::uint32_t>(content / 2));
        shx += entry;
        pos += 8 + content;
    }
    put_be32(shx, 24, static_cast<std::uint32_t>(shx.size() / 2));
    return shx;
}

// Reads a sibling when it exists; its absence is no error.
Result<std::optional<std::string>> sibling(const std::filesystem::path& shp, const char* lower, const char* upper) {
    for (const char* ext : {lower, upper}) {
        auto p = shp;
        p.replace_extension(ext);
        std::error_code ec;
        if (!std::filesystem::exists(p, ec)) continue;
        auto bytes = text::read_file(p);
        if (!bytes)
            return fail(failure(
                fmt::format("cannot read '{}': {}", text::display_path(p), text::io_reason(bytes.error(), p))));
        return std::optional<std::string>(std::move(*bytes));
    }
    return std::optional<std::string>();
}

using Ring = std::vector<std::array<double, 3>>;

// Twice the signed area of a ring taken as closed, vertices shifted by the
// first one: negative for a clockwise ring.
double twice_signed_area(const Ring& ring) {
    if (ring.size() < 3) return 0.0;
    const double x0 = ring[0][0], y0 = ring[0][1];
    double sum = 0.0;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const auto& a = ring[k];
        const auto& b = ring[(k + 1) % ring.size()];
        sum += (a[0] - x0) * (b[1] - y0) - (b[0] - x0) * (a[1] - y0);
    }
    return sum;
}

// The box of a ring, absent when it is empty or a vertex is not finite.
std::optional<BBox> finite_box(const Ring& ring) {
    if (ring.empty()) return std::nullopt;
    BBox b{ring[0][0], ring[0][1], ring[0][0], ring[0][1]};
    for (const auto& v : ring) {
        if (!std::isfinite(v[0]) || !std::isfinite(v[1])) return std::nullopt;
        b.xmin = std::min(b.xmin, v[0]);
        b.ymin = std::min(b.ymin, v[1]);
        b.xmax = std::max(b.xmax, v[0]);
        b.ymax = std::max(b.ymax, v[1]);
    }
    return b;
}

bool box_within(const BBox& inner, const BBox& outer) {
    return outer.xmin <= inner.xmin && inner.xmax <= outer.xmax && outer.ymin <= inner.ymin && inner.ymax <= outer.ymax;
}

// Whether `hole` lies within the closed ring `outer`. Rings of a valid file
// do not cross, so the first hole vertex off the outer ring decides; should
// every vertex lie on it, the first edge midpoint off it decides; a hole
// lying wholly on the outer ring counts as within it.
bool lies_within(const Ring& hole, std::span<const Coord> outer) {
    auto decided = [&](double x, double y) -> std::optional<bool> {
        if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
        const RingPosition at = classify_point_in_ring(x, y, outer);
        if (at == RingPosition::OnBoundary) return std::nullopt;
        return at == RingPosition::Inside;
    };
    for (const auto& v : hole)
        if (auto d = decided(v[0], v[1])) return *d;
    for (std::size_t k = 0; k < hole.size(); ++k) {
        const auto& a = hole[k];
        const auto& b = hole[(k + 1) % hole.size()];
        if (auto d = decided(a[0] * 0.5 + b[0] * 0.5, a[1] * 0.5 + b[1] * 0.5)) return *d;
    }
    return true;
}

// The polygons of one polygon record. By the format's rule outer rings run
// clockwise and holes counter-clockwise; each hole goes to the smallest
// outer ring that holds it (so a hole of an island that lies in a lake goes
// to the island). A counter-clockwise ring that no outer ring holds is kept
// as a polygon of its own, as is a ring without area. Polygons come in the
// order of their first ring, holes in file order.
PolygonsWithHoles group_rings(std::vector<Ring> rings) {
    struct Outer {
        std::size_t index;  // of its ring in the record
        std::vector<Coord> ring;
        std::optional<BBox> box;
        double area;
    };
    std::vector<double> area(rings.size());
    for (std::size_t k = 0; k < rings.size(); ++k) area[k] = twice_signed_area(rings[k]);
    std::vector<Outer> outers;
    PolygonsWithHoles polygons;
    std::vector<std::size_t> owner(rings.size(), SIZE_MAX);  // the outer ring each ring belongs to
    for (std::size_t k = 0; k < rings.size(); ++k) {
        if (area[k] > 0.0) continue;
        std::vector<Coord> ring;
        ring.reserve(rings[k].size() + 1);
        for (const auto& v : rings[k]) ring.push_back({v[0], v[1]});
        close_ring(ring);
        outers.push_back({k, std::move(ring), finite_box(rings[k]), std::fabs(area[k])});
        owner[k] = k;
    }
    for (std::size_t k = 0; k < rings.size(); ++k) {
        if (!(area[k] > 0.0)) continue;
        const auto box = finite_box(rings[k]);
        const Outer* best = nullptr;
        for (const Outer& o : outers) {
            if (box && o.box && !box_within(*box, *o.box)) continue;
            if (best && !(o.area < best->area)) continue;
            if (lies_within(rings[k], o.ring)) best = &o;
        }
        owner[k] = best ? best->index : k;
    }
    // A polygon per ring that owns itself, in ring order; holes follow.
    std::vector<std::size_t> slot(rings.size(), SIZE_MAX);
    for (std::size_t k = 0; k < rings.size(); ++k) {
        if (owner[k] != k) continue;
        slot[k] = polygons.size();
        polygons.push_back(PolygonRings{});
    }
    for (std::size_t k = 0; k < rings.size(); ++k)
        if (owner[k] == k) polygons[slot[k]].push_back(std::move(rings[k]));
    for (std::size_t k = 0; k < rings.size(); ++k)
        if (owner[k] != k) polygons[slot[owner[k]]].push_back(std::move(rings[k]));
    return polygons;
}

struct ShpCloser {
    void operator()(SHPInfo* h) const { SHPClose(h); }
};
struct ObjectDestroyer {
    void operator()(SHPObject* o) const { SHPDestroyObject(o); }
};

}  // namespace

Result<PolygonsWithHoles> read_polygons(const std::filesystem::path& path) {
    auto shp = text::read_file(path);
    if (!shp)
        return fail(failure(
            fmt::format("cannot open '{}': {}", text::display_path(path), text::io_reason(shp.error(), path))));
    VZ_ASSIGN_OR_RETURN(auto shx, sibling(path, ".shx", ".SHX"));
    VZ_ASSIGN_OR_RETURN(auto dbf, sibling(path, ".dbf", ".DBF"));
    (void)dbf;  // the attribute table is not used; it only has to be readable
    if (!shx) {
        VZ_ASSIGN_OR_RETURN(std::string rebuilt, rebuild_index(*shp));
        shx = std::move(rebuilt);
    }

    MemFiles files{&*shp, &*shx, {}};
    g_files = &files;
    struct Reset {
        ~Reset() { g_files = nullptr; }
    } reset;
    SAHooks hooks{};
    hooks.FOpen = mem_open;
    hooks.FRead = mem_read;
    hooks.FWrite = mem_write;
    hooks.FSeek = mem_seek;
    hooks.FTell = mem_tell;
    hooks.FFlush = mem_flush;
    hooks.FClose = mem_close;
    hooks.Remove = mem_remove;
    hooks.Error = mem_error;
    hooks.Atof = mem_atof;

    std::unique_ptr<SHPInfo, ShpCloser> handle(SHPOpenLL("vzmem", "rb", &hooks));
    if (!handle) return fail(failure(files.last_error.empty() ? "not a shapefile" : files.last_error));
    int count = 0, type = 0;
    SHPGetInfo(handle.get(), &count, &type, nullptr, nullptr);

    PolygonsWithHoles polygons;
    for (int i = 0; i < count; ++i) {
        files.last_error.clear();
        std::unique_ptr<SHPObject, ObjectDestroyer> obj(SHPReadObject(handle.get(), i));
        if (!obj) {
            // An index entry of zero length is a deleted record.
            if (files.last_error.empty()) continue;
            return fail(failure(files.last_error));
        }
        bool area_record = false;
        switch (obj->nSHPType) {
            case SHPT_POLYGON: case SHPT_POLYGONZ: case SHPT_POLYGONM: area_record = true; break;
            case SHPT_ARC: case SHPT_ARCZ: case SHPT_ARCM: break;
            default: continue;
        }
        const int nv = obj->nVertices, np = obj->nParts;
        if (nv < 0 || np < 0 || (nv > 0 && (!obj->padfX || !obj->padfY)) || (np > 0 && !obj->panPartStart))
            return fail(failure(fmt::format("record {} is malformed", i)));
        std::vector<Ring> rings;
        for (int k = 0; k < np; ++k) {
            const int b = obj->panPartStart[k];
            const int e = k + 1 < np ? obj->panPartStart[k + 1] : nv;
            if (b < 0 || e < b || e > nv)
                return fail(failure(fmt::format("part {} of record {} refers to points outside the record", k, i)));
            if (e == b) continue;
            std::vector<std::array<double, 3>> ring;
            ring.reserve(static_cast<std::size_t>(e - b));
            for (int v = b; v < e; ++v) ring.push_back({obj->padfX[v], obj->padfY[v], 0.0});
            rings.push_back(std::move(ring));
        }
        if (area_record) {
            for (auto& polygon : group_rings(std::move(rings))) polygons.push_back(std::move(polygon));
        } else {
            for (auto& line : rings) polygons.push_back(PolygonRings{std::move(line)});
        }
    }
    return polygons;
}

}  // namespace vz::shapefile
