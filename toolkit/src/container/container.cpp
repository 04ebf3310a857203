#include "container/container.hpp"
#include "utf8.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <expected>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

namespace vz::container {

namespace {

constexpr char kMagic[3] = {'K', 'I', 'O'};
constexpr std::size_t kPrefixSize = 12;
constexpr int kCompressionLevel = 3;

/// Closes a descriptor on scope exit unless released.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::uint32_t load_u32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void store_u32le(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

/// Outcome of a positioned read: bytes read (short at end of file) and the
/// errno of a failed read (0 when none).
struct ReadOutcome {
    std::size_t got = 0;
    int err = 0;
};

ReadOutcome read_at(int fd, std::uint64_t offset, unsigned char* buf, std::size_t n) {
    ReadOutcome r;
    while (r.got < n) {
        if (offset + r.got > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            r.err = EINVAL;
            return r;
        }
        const std::size_t chunk = std::min<std::size_t>(n - r.got, std::size_t{1} << 30);
        const ssize_t k = ::pread(fd, buf + r.got, chunk, static_cast<off_t>(offset + r.got));
        if (k < 0) {
            if (errno == EINTR) continue;
            r.err = errno;
            return r;
        }
        if (k == 0) return r;
        r.got += static_cast<std::size_t>(k);
    }
    return r;
}

/// Reads exactly `n` bytes at `offset` into a new buffer. When the file size
/// is known the request is checked against it first, so a length read from
/// a damaged file never becomes an allocation the file cannot fill; when it
/// is not, the buffer grows only as bytes arrive. Nothing on a short or
/// failed read.
std::optional<std::vector<std::uint8_t>> read_exact(int fd, std::optional<std::uint64_t> file_size,
                                                    std::uint64_t offset, std::uint64_t n) {
    if (file_size) {
        if (offset > *file_size || n > *file_size - offset) return std::nullopt;
    }
    constexpr std::uint64_t kStep = std::uint64_t{1} << 24;
    std::vector<std::uint8_t> buf;
    std::uint64_t done = 0;
    try {
        while (done < n) {
            const std::uint64_t want = file_size ? n : std::min(n, std::max(2 * done, kStep));
            buf.resize(static_cast<std::size_t>(want));
            const ReadOutcome r =
                read_at(fd, offset + done, buf.data() + done, static_cast<std::size_t>(want - done));
            done += r.got;
            if (r.err != 0 || done < want) return std::nullopt;
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    return buf;
}

bool write_all(int fd, const void* data, std::size_t n, int& err) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const std::size_t chunk = std::min<std::size_t>(n, std::size_t{1} << 30);
        const ssize_t k = ::write(fd, p, chunk);
        if (k < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

struct CCtxDeleter {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxDeleter {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};
using CCtxPtr = std::unique_ptr<ZSTD_CCtx, CCtxDeleter>;
using DCtxPtr = std::unique_ptr<ZSTD_DCtx, DCtxDeleter>;

ToolsResult<CCtxPtr> make_cctx() {
    CCtxPtr ctx(ZSTD_createCCtx());
    if (!ctx) return std::unexpected(ToolsError::io("zstd: cannot create a compression context"));
    const std::size_t r = ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel, kCompressionLevel);
    if (ZSTD_isError(r)) return std::unexpected(ToolsError::io(ZSTD_getErrorName(r)));
    return ctx;
}

/// One zstd frame of `data`, fed through the streaming interface in one go.
ToolsResult<std::vector<std::uint8_t>> compress_with(ZSTD_CCtx* ctx, std::span<const std::uint8_t> data) {
    ZSTD_CCtx_reset(ctx, ZSTD_reset_session_only);
    std::vector<std::uint8_t> out;
    try {
        out.resize(ZSTD_compressBound(data.size()));
    } catch (const std::bad_alloc&) {
        return std::unexpected(ToolsError::io("zstd: cannot allocate the compression buffer"));
    }
    ZSTD_inBuffer in{data.data(), data.size(), 0};
    ZSTD_outBuffer ob{out.data(), out.size(), 0};
    for (;;) {
        const std::size_t left = ZSTD_compressStream2(ctx, &ob, &in, ZSTD_e_end);
        if (ZSTD_isError(left)) return std::unexpected(ToolsError::io(ZSTD_getErrorName(left)));
        if (left == 0) break;
        if (ob.pos == ob.size) return std::unexpected(ToolsError::io("zstd: compression buffer too small"));
    }
    out.resize(ob.pos);
    if (out.capacity() - out.size() > out.size() / 4 + 4096) out.shrink_to_fit();
    return out;
}

/// True when `text` is well-formed UTF-8.
bool is_utf8(std::string_view text) { return utf8::is_valid(text); }

}  // namespace

// ---------------------------------------------------------------- handle

Container::Container(Container&& other) noexcept
    : header(std::move(other.header)),
      data_start(other.data_start),
      element_schema_version(other.element_schema_version),
      fd_(std::exchange(other.fd_, -1)),
      file_size_(other.file_size_),
      first_of_name_(std::move(other.first_of_name_)),
      decoder_(std::move(other.decoder_)) {}

Container& Container::operator=(Container&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        header = std::move(other.header);
        data_start = other.data_start;
        element_schema_version = other.element_schema_version;
        fd_ = std::exchange(other.fd_, -1);
        file_size_ = other.file_size_;
        first_of_name_ = std::move(other.first_of_name_);
        decoder_ = std::move(other.decoder_);
    }
    return *this;
}

Container::~Container() {
    if (fd_ >= 0) ::close(fd_);
}

const Entry* Container::find_entry(std::string_view name) const {
    auto it = first_of_name_.find(name);
    if (it != first_of_name_.end() && it->second < header.sections.size() &&
        header.sections[it->second].name == name)
        return &header.sections[it->second];
    // The index describes the manifest as read; a header changed since is
    // searched in full.
    for (const Entry& e : header.sections) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

void Container::DecoderFree::operator()(ZSTD_DCtx_s* d) const { ZSTD_freeDCtx(d); }

ZSTD_DCtx_s* Container::decoder() const {
    if (!decoder_) decoder_.reset(ZSTD_createDCtx());
    return decoder_.get();
}

void Container::index_names() {
    first_of_name_.clear();
    first_of_name_.reserve(header.sections.size());
    for (std::size_t i = 0; i < header.sections.size(); ++i) first_of_name_.try_emplace(header.sections[i].name, i);
}

// ---------------------------------------------------------------- reading

// The operating system ends a path at its first NUL, so such a path would
// silently name another file: refuse it before any file call.
static std::optional<ToolsError> nul_path_error(const std::filesystem::path& path) {
    if (path.native().find('\0') == std::string::npos) return std::nullopt;
    return ToolsError::io(fmt::format("path contains a NUL character: '{}'", display_path(path)));
}

ToolsResult<Container> open(const std::filesystem::path& path) {
    if (auto err = nul_path_error(path)) return std::unexpected(std::move(*err));
    // Without blocking: a named pipe with no writer cannot hold the call,
    // and a pipe, socket or device is refused rather than read.
    const int raw_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (raw_fd < 0) return std::unexpected(ToolsError::io_errno(errno, path));
    FdGuard fd(raw_fd);

    std::optional<std::uint64_t> file_size;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return std::unexpected(ToolsError::io_errno(errno, path));
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return std::unexpected(ToolsError::io(fmt::format("'{}' is not a regular file", display_path(path))));
    if (S_ISREG(st.st_mode)) file_size = static_cast<std::uint64_t>(st.st_size);

    unsigned char prefix[kPrefixSize];
    if (read_at(fd.get(), 0, prefix, 4).got < 4) {
        return std::unexpected(ToolsError::parse("not a .zedod file (truncated header)"));
    }
    if (std::memcmp(prefix, kMagic, 3) != 0) {
        return std::unexpected(ToolsError::parse("not a .zedod file (bad magic)"));
    }
    if (prefix[3] > kFormatVersion) {
        return std::unexpected(ToolsError::parse(
            fmt::format("unsupported .zedod format version {} (this build reads ≤ {}) — re-save with a newer writer",
                        prefix[3], kFormatVersion)));
    }
    const ReadOutcome rest = read_at(fd.get(), 4, prefix + 4, 8);
    if (rest.err != 0) return std::unexpected(ToolsError::io_errno(rest.err, path));
    if (rest.got < 8)
        return std::unexpected(ToolsError::io(fmt::format("'{}': failed to fill whole buffer", display_path(path))));
    const std::uint32_t schema = load_u32le(prefix + 4);
    const std::uint32_t manifest_len = load_u32le(prefix + 8);

    auto manifest = read_exact(fd.get(), file_size, kPrefixSize, manifest_len);
    if (!manifest) return std::unexpected(ToolsError::parse(".zedod header truncated"));
    auto header = parse_manifest(
        std::string_view(reinterpret_cast<const char*>(manifest->data()), manifest->size()));
    if (!header) return std::unexpected(std::move(header).error());

    Container c(fd.release(), file_size);
    c.header = std::move(*header);
    c.data_start = kPrefixSize + std::uint64_t{manifest_len};
    c.element_schema_version = schema;
    try {
        c.index_names();
    } catch (const std::bad_alloc&) {
        return std::unexpected(ToolsError::io_errno(ENOMEM, path));
    }
    return c;
}

ToolsResult<std::vector<std::uint8_t>> read_entry_payload(const Container& c, const Entry& e) {
    const auto truncated = [&] {
        return std::unexpected(ToolsError::parse(fmt::format("section '{}' truncated", e.name)));
    };
    if (e.offset > std::numeric_limits<std::uint64_t>::max() - c.data_start) return truncated();
    auto bytes = read_exact(c.fd_, c.file_size_, c.data_start + e.offset, e.size);
    if (!bytes) return truncated();
    return std::move(*bytes);
}

ToolsResult<std::vector<std::uint8_t>> read_section_raw(const Container& c, std::string_view name) {
    const Entry* e = c.find_entry(name);
    if (e == nullptr) return std::unexpected(ToolsError::not_found(fmt::format("section '{}'", name)));
    return read_entry_payload(c, *e);
}

namespace {

/// Why a payload did not decompress: not complete, valid frames (corrupt),
/// or an output of `size` bytes that cannot be allocated.
struct InflateFailure {
    bool corrupt;
    std::uint64_t size;
};

// A zstd block regenerates at most 128 KiB and takes at least four bytes (a
// three-byte header and one byte of content), so no payload expands more
// than 32768-fold: a frame stating a larger content size is lying.
constexpr std::uint64_t kMaxExpansion = 32768;

/// The content size the frames of a payload state together (skippable
/// frames count nothing); none when a frame does not state it, or when the
/// bytes are not a sequence of complete frames (`corrupt` set).
std::optional<std::uint64_t> stated_size(std::span<const std::uint8_t> payload, bool& corrupt) {
    std::uint64_t total = 0;
    bool known = true;
    std::size_t pos = 0;
    while (pos < payload.size()) {
        const std::uint8_t* p = payload.data() + pos;
        const std::size_t left = payload.size() - pos;
        const std::size_t frame = ZSTD_findFrameCompressedSize(p, left);
        if (ZSTD_isError(frame) || frame == 0 || frame > left) {
            corrupt = true;
            return std::nullopt;
        }
        const bool skippable = left >= 4 && (load_u32le(p) & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START;
        if (!skippable) {
            const unsigned long long content = ZSTD_getFrameContentSize(p, left);
            if (content == ZSTD_CONTENTSIZE_ERROR || (content != ZSTD_CONTENTSIZE_UNKNOWN &&
                                                      __builtin_add_overflow(total, content, &total))) {
                corrupt = true;
                return std::nullopt;
            }
            if (content == ZSTD_CONTENTSIZE_UNKNOWN) known = false;
        }
        pos += frame;
    }
    if (!known) return std::nullopt;
    return total;
}

/// Decompresses one or more concatenated frames into one buffer of exactly
/// the output's size, allocated once: the size the frames state, or, when a
/// frame does not state it, the size a first decoding pass counts. A frame
/// that produces more than it states is corrupt.
std::expected<std::vector<std::uint8_t>, InflateFailure> inflate(ZSTD_DCtx* ctx,
                                                                  std::span<const std::uint8_t> payload) {
    const auto corrupt = std::unexpected(InflateFailure{true, 0});
    if (payload.empty()) return corrupt;
    if (!ctx) return std::unexpected(InflateFailure{false, 0});
    ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
    const std::uint64_t ceiling = static_cast<std::uint64_t>(payload.size()) * kMaxExpansion;
    bool broken = false;
    const std::optional<std::uint64_t> stated = stated_size(payload, broken);
    if (broken) return corrupt;
    std::uint64_t size = stated.value_or(0);
    if (!stated) {
        // Counting pass through a small window; nothing is kept.
        std::vector<std::uint8_t> window(ZSTD_DStreamOutSize());
        ZSTD_inBuffer in{payload.data(), payload.size(), 0};
        std::uint64_t produced = 0;
        std::size_t hint = 0;
        bool full = false;
        do {
            ZSTD_outBuffer ob{window.data(), window.size(), 0};
            hint = ZSTD_decompressStream(ctx, &ob, &in);
            if (ZSTD_isError(hint)) return corrupt;
            produced += ob.pos;
            if (produced > ceiling) return corrupt;
            full = ob.pos == ob.size;
        } while (in.pos < in.size || (full && hint != 0));
        if (hint != 0) return corrupt;  // the input ends inside a frame
        size = produced;
        ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
    } else if (size > ceiling) {
        return corrupt;
    }
    if (size > std::numeric_limits<std::size_t>::max() / 2) return std::unexpected(InflateFailure{false, size});
    std::vector<std::uint8_t> out;
    try {
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return std::unexpected(InflateFailure{false, size});
    } catch (const std::length_error&) {
        return std::unexpected(InflateFailure{false, size});
    }
    // One call over every frame: the output must be exactly the size found;
    // a frame that would write past it fails here.
    const std::size_t n = ZSTD_decompressDCtx(ctx, out.data(), out.size(), payload.data(), payload.size());
    if (ZSTD_isError(n) || n != out.size()) return corrupt;
    return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decompress_frames(std::span<const std::uint8_t> payload) {
    DCtxPtr ctx(ZSTD_createDCtx());
    auto out = inflate(ctx.get(), payload);
    if (!out) return std::nullopt;
    return std::move(*out);
}

ToolsResult<Section> read_entry(const Container& c, const Entry& e) {
    Section s{e.kind, e.name, e.tags, {}, e.version};
    auto raw = read_entry_payload(c, e);
    if (!raw) return std::unexpected(std::move(raw).error());
    auto data = inflate(c.decoder(), *raw);
    raw = {};
    if (!data) {
        if (data.error().corrupt) return std::unexpected(ToolsError::parse(fmt::format("section '{}' corrupt", e.name)));
        return std::unexpected(ToolsError::io(
            fmt::format("section '{}' of {} bytes does not fit in memory", e.name, data.error().size)));
    }
    s.data = std::move(*data);
    return s;
}

ToolsResult<Section> read_section(const Container& c, std::string_view name) {
    const Entry* e = c.find_entry(name);
    if (e == nullptr) return std::unexpected(ToolsError::not_found(fmt::format("section '{}'", name)));
    return read_entry(c, *e);
}

// ---------------------------------------------------------------- writing

ToolsResult<std::filesystem::path> temp_path_for(const std::filesystem::path& destination) {
    if (auto err = nul_path_error(destination)) return std::unexpected(std::move(*err));
    const std::string name = destination.filename().native();
    if (name.empty() || name == "." || name == "..") {
        return std::unexpected(
            ToolsError::io(fmt::format("destination '{}' has no file name", destination.native())));
    }
    std::string stem = name;
    std::string ext;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) {
        stem = name.substr(0, dot);
        ext = name.substr(dot + 1);
        // An extension that is not text (not UTF-8) counts as none.
        if (!is_utf8(ext)) ext.clear();
    }
    std::filesystem::path tmp = destination;
    tmp.replace_filename(stem + "." + ext + ".tmp");
    return tmp;
}

ToolsResult<std::uint32_t> manifest_length_field(std::uint64_t manifest_bytes) {
    if (manifest_bytes > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format(".zedod manifest of {} bytes exceeds the 4294967295-byte limit", manifest_bytes)));
    }
    return static_cast<std::uint32_t>(manifest_bytes);
}

namespace {

/// Opens the temporary file of a write to `destination` for this write alone:
/// never through a symbolic link, only a regular file of one link, locked
/// exclusively before it is truncated. A second write to the same
/// destination finds the lock and fails instead of writing into the same
/// file; a lock ends with its process, so a save that was killed never blocks
/// the next. The file takes the permission bits of the destination it will
/// replace. Operating-system failures name the destination, the path the
/// caller gave, rather than the temporary file beside it.
ToolsResult<int> open_temporary(const std::filesystem::path& tmp, const std::filesystem::path& destination) {
    const auto refuse = [&](std::string_view why) {
        return std::unexpected(ToolsError::io(fmt::format("temporary file '{}' {}", tmp.native(), why)));
    };
    // A finished write renames the locked file away; a write that locked
    // that file just before looks again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct stat seen {};
        if (::lstat(tmp.c_str(), &seen) == 0) {
            if (S_ISLNK(seen.st_mode)) return refuse("is a symbolic link");
            if (!S_ISREG(seen.st_mode)) return refuse("is not a regular file");
        } else if (errno != ENOENT) {
            return std::unexpected(ToolsError::io_errno(errno, destination));
        }
        // No blocking on a special file that appeared since.
        const int raw = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (raw < 0) {
            if (errno == ELOOP) return refuse("is a symbolic link");
            return std::unexpected(ToolsError::io_errno(errno, destination));
        }
        FdGuard fd(raw);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return std::unexpected(ToolsError::io_errno(errno, destination));
        if (!S_ISREG(st.st_mode)) return refuse("is not a regular file");
        if (st.st_nlink > 1) return refuse("has other hard links");
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return std::unexpected(
                    ToolsError::io(fmt::format("another save to '{}' is in progress", destination.native())));
            return std::unexpected(ToolsError::io_errno(errno, destination));
        }
        struct stat now {};
        if (::lstat(tmp.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) continue;
        if (::ftruncate(fd.get(), 0) != 0) return std::unexpected(ToolsError::io_errno(errno, destination));
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
            return std::unexpected(ToolsError::io_errno(errno, destination));
        struct stat dest {};
        if (::lstat(destination.c_str(), &dest) == 0 && S_ISREG(dest.st_mode) &&
            ::fchmod(fd.get(), dest.st_mode & 07777) != 0)
            return std::unexpected(ToolsError::io_errno(errno, destination));
        return fd.release();
    }
    return std::unexpected(ToolsError::io(fmt::format("another save to '{}' is in progress", destination.native())));
}

/// Flushes the folder that holds `path` to disk, so that its new entry
/// survives a power cut. File systems that cannot flush a folder are left
/// as they are.
ToolsResult<void> sync_directory_of(const std::filesystem::path& path) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    const int raw = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (raw < 0) return std::unexpected(ToolsError::io_errno(errno, path));
    FdGuard fd(raw);
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS)
        return std::unexpected(ToolsError::io_errno(errno, path));
    return {};
}

}  // namespace

ToolsResult<StoredSection> compress_section(const Section& section) {
    auto ctx = make_cctx();
    if (!ctx) return std::unexpected(std::move(ctx).error());
    auto bytes = compress_with(ctx->get(), section.data);
    if (!bytes) return std::unexpected(std::move(bytes).error());
    StoredSection s{Entry::from_section(section, 0, bytes->size()), std::move(*bytes)};
    return s;
}

ToolsResult<void> write_copied(const std::filesystem::path& path, const Json& app,
                               std::uint32_t element_schema_version, std::span<const StoredSection> sections) {
    // The manifest is JSON text, which a reader refuses when it is not UTF-8:
    // such a file would be written but could never be opened again.
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Entry& e = sections[i].entry;
        const bool text = is_utf8(e.kind) && is_utf8(e.name) &&
                          std::all_of(e.tags.begin(), e.tags.end(), [](const std::string& t) { return is_utf8(t); });
        if (!text) {
            return std::unexpected(ToolsError::invalid_argument(
                fmt::format("section {} has a kind, name or tag that is not valid UTF-8 text", i)));
        }
    }
    Header header;
    header.format_version = kFormatVersion;
    header.app = app;
    header.sections.reserve(sections.size());
    std::uint64_t offset = 0;
    for (const StoredSection& s : sections) {
        Entry e = s.entry;
        e.offset = offset;
        e.size = s.data.size();
        offset += e.size;
        header.sections.push_back(std::move(e));
    }
    const std::string manifest = write_manifest(header);
    // Every entry is text by now, so anything else is in the metadata value.
    if (!is_utf8(manifest)) {
        return std::unexpected(ToolsError::invalid_argument("the manifest metadata holds text that is not valid UTF-8"));
    }
    auto len = manifest_length_field(manifest.size());
    if (!len) return std::unexpected(std::move(len).error());
    auto tmp = temp_path_for(path);
    if (!tmp) return std::unexpected(std::move(tmp).error());

    unsigned char prefix[kPrefixSize] = {'K', 'I', 'O', kFormatVersion};
    store_u32le(prefix + 4, element_schema_version);
    store_u32le(prefix + 8, *len);

    auto opened = open_temporary(*tmp, path);
    if (!opened) return std::unexpected(std::move(opened).error());
    FdGuard fd(*opened);
    int err = 0;
    bool ok = write_all(fd.get(), prefix, sizeof prefix, err) &&
              write_all(fd.get(), manifest.data(), manifest.size(), err);
    for (std::size_t i = 0; ok && i < sections.size(); ++i) {
        ok = write_all(fd.get(), sections[i].data.data(), sections[i].data.size(), err);
    }
    if (!ok) return std::unexpected(ToolsError::io_errno(err, path));
    if (::fsync(fd.get()) != 0) return std::unexpected(ToolsError::io_errno(errno, path));
    // Renamed while the lock is held, so no other save can take this file
    // between the rename and the release.
    if (::rename(tmp->c_str(), path.c_str()) != 0) return std::unexpected(ToolsError::io_errno(errno, path));
    if (auto synced = sync_directory_of(path); !synced) return synced;
    return {};
}

ToolsResult<void> write(const std::filesystem::path& path, const Json& app, std::uint32_t element_schema_version,
                        std::vector<StoredSection> sections) {
    return write_copied(path, app, element_schema_version, sections);
}

ToolsResult<void> save(const std::filesystem::path& path, const Json& app, std::uint32_t element_schema_version,
                       std::span<const Section> sections) {
    auto ctx = make_cctx();
    if (!ctx) return std::unexpected(std::move(ctx).error());
    std::vector<StoredSection> stored;
    stored.reserve(sections.size());
    for (const Section& s : sections) {
        auto bytes = compress_with(ctx->get(), s.data);
        if (!bytes) return std::unexpected(std::move(bytes).error());
        stored.push_back(StoredSection{Entry::from_section(s, 0, bytes->size()), std::move(*bytes)});
    }
    return write(path, app, element_schema_version, std::move(stored));
}

// ---------------------------------------------------------------- copying

ToolsResult<void> copy_sections(std::vector<StoredSection>& list, const Container& c) {
    // Each entry replaces what the list holds of its kind and name, earlier
    // entries of `c` included: the list keeps its sections of other kinds and
    // names, then gets the last entry of each kind and name of `c`, in
    // manifest order. One pass over each instead of one per entry.
    const auto key = [](const Entry& e) { return e.kind + '\0' + e.name; };
    std::unordered_map<std::string, std::size_t> last;
    const auto& entries = c.header.sections;
    for (std::size_t i = 0; i < entries.size(); ++i) last[key(entries[i])] = i;
    std::erase_if(list, [&](const StoredSection& s) { return last.contains(key(s.entry)); });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (last[key(entries[i])] != i) continue;
        auto bytes = read_entry_payload(c, entries[i]);
        if (!bytes) return std::unexpected(std::move(bytes).error());
        list.push_back(StoredSection{entries[i], std::move(*bytes)});
    }
    return {};
}

ToolsResult<void> merge(const std::filesystem::path& a, const std::filesystem::path& b,
                        const std::filesystem::path& dst) {
    auto ca = open(a);
    if (!ca) return std::unexpected(std::move(ca).error());
    auto cb = open(b);
    if (!cb) return std::unexpected(std::move(cb).error());
    std::vector<StoredSection> list;
    if (auto r = copy_sections(list, *ca); !r) return r;
    if (auto r = copy_sections(list, *cb); !r) return r;
    return write(dst, ca->header.app, ca->element_schema_version, std::move(list));
}

}  // namespace vz::container
