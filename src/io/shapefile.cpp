#include "io/shapefile.hpp"

#include <fmt/format.h>
#include <shapefil.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

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

struct ShpCloser {
    void operator()(SHPInfo* h) const { SHPClose(h); }
};
struct ObjectDestroyer {
    void operator()(SHPObject* o) const { SHPDestroyObject(o); }
};

}  // namespace

Result<PolygonRings> read_polygons(const std::filesystem::path& path) {
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

    PolygonRings rings;
    for (int i = 0; i < count; ++i) {
        files.last_error.clear();
        std::unique_ptr<SHPObject, ObjectDestroyer> obj(SHPReadObject(handle.get(), i));
        if (!obj) {
            // An index entry of zero length is a deleted record.
            if (files.last_error.empty()) continue;
            return fail(failure(files.last_error));
        }
        switch (obj->nSHPType) {
            case SHPT_ARC: case SHPT_POLYGON: case SHPT_ARCZ: case SHPT_POLYGONZ: case SHPT_ARCM: case SHPT_POLYGONM:
                break;
            default: continue;
        }
        const int nv = obj->nVertices, np = obj->nParts;
        if (nv < 0 || np < 0 || (nv > 0 && (!obj->padfX || !obj->padfY)) || (np > 0 && !obj->panPartStart))
            return fail(failure(fmt::format("record {} is malformed", i)));
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
    }
    return rings;
}

}  // namespace vz::shapefile
