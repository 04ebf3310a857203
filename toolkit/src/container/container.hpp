#pragma once
/// The project container file (.zedod): reading, writing, merging and raw
/// section copying.
///
/// Writes are atomic: the whole file goes to `<stem>.<ext>.tmp` beside the
/// destination, is flushed to disk and renamed over the destination; after a
/// failure the temporary file stays and the destination is untouched.
/// Sections are compressed as one zstd frame each (level 3, no dictionary, no
/// checksum); reading accepts one or more concatenated frames.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "container/json.hpp"
#include "container/manifest.hpp"
#include "tools_error.hpp"

struct ZSTD_DCtx_s;

namespace vz::container {

/// An open container file: the parsed manifest, the element schema version
/// of the prefix, and the file, kept open for section reads until the
/// handle is dropped. Move-only.
class Container {
public:
    Container(Container&& other) noexcept;
    Container& operator=(Container&& other) noexcept;
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;
    ~Container();

    /// The manifest as read.
    Header header;
    /// Absolute position of the payload region: 12 + manifest length.
    std::uint64_t data_start = 0;
    /// Bytes 4 to 7 of the file; not checked here.
    std::uint32_t element_schema_version = 0;

    /// The first entry (manifest order) with this name, or nullptr. Found
    /// through an index of the manifest's names, so opening a project of many
    /// sections costs one lookup per section.
    const Entry* find_entry(std::string_view name) const;

private:
    void index_names();
    /// The decompression context the section reads share, made at the first.
    ZSTD_DCtx_s* decoder() const;

    friend ToolsResult<Container> open(const std::filesystem::path& path);
    friend ToolsResult<std::vector<std::uint8_t>> read_entry_payload(const Container& c, const Entry& e);
    friend ToolsResult<Section> read_entry(const Container& c, const Entry& e);
    Container(int fd, std::optional<std::uint64_t> file_size) : fd_(fd), file_size_(file_size) {}

    int fd_ = -1;
    std::optional<std::uint64_t> file_size_;  // known for regular files
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> first_of_name_;  // name -> first entry
    struct DecoderFree {
        void operator()(ZSTD_DCtx_s* d) const;
    };
    mutable std::unique_ptr<ZSTD_DCtx_s, DecoderFree> decoder_;
};

/// Opens a container and reads its prefix and manifest (no payload is read
/// or decoded; the element schema version is not checked). Failures, in the
/// order met: Io ("'<path>': " and the system's error) when the file cannot
/// be opened; Parse "not a .zedod file (truncated header)"; Parse "not a
/// .zedod file (bad magic)"; Parse "unsupported .zedod format version {}
/// (this build reads ≤ 1) — re-save with a newer writer"; Io "'<path>':
/// failed to fill whole buffer" when
/// bytes 4 to 11 are missing; Parse ".zedod header truncated" when the file
/// holds fewer than the manifest length's bytes; Parse with the manifest
/// reader's message and position.
ToolsResult<Container> open(const std::filesystem::path& path);

/// The stored (compressed) payload of the first entry named `name`, exactly
/// as in the file. NotFound "section '{}'"; Parse "section '{}' truncated"
/// when the payload reaches past the end of the file (checked before any
/// memory is reserved); Io on a read error.
ToolsResult<std::vector<std::uint8_t>> read_section_raw(const Container& c, std::string_view name);

/// The stored payload of one given entry of `c` (the checks of
/// `read_section_raw`, with the entry's name in the messages).
ToolsResult<std::vector<std::uint8_t>> read_entry_payload(const Container& c, const Entry& e);

/// The first entry named `name` as a Section: its kind, name, tags and
/// version, and the payload decompressed (one or more zstd frames, skippable
/// frames passed over). The failures of `read_section_raw`, and Parse
/// "section '{}' corrupt" when the payload is not complete zstd frames
/// (an empty payload included); Io "section '{}' of {} bytes does not fit in
/// memory" when its output cannot be allocated.
ToolsResult<Section> read_section(const Container& c, std::string_view name);

/// `read_section` for one given entry of `c` (messages name the entry).
/// Decompression allocates the output once, at its exact size; when that
/// cannot be allocated: Io "section '{}' of {} bytes does not fit in
/// memory".
ToolsResult<Section> read_entry(const Container& c, const Entry& e);

/// Decompresses one or more concatenated zstd frames into one buffer of the
/// output's exact size (the size the frames state, or one counted by a first
/// pass when a frame does not state it); nothing when the bytes are not
/// complete, valid frames, a frame produces more or states more than its
/// bytes could hold, or the output cannot be allocated.
std::optional<std::vector<std::uint8_t>> decompress_frames(std::span<const std::uint8_t> payload);

/// Compresses a section's data as one zstd frame (level 3, no checksum) and
/// pairs it with `Entry::from_section(section, 0, compressed size)`.
/// Failure: Io with the compressor's message.
ToolsResult<StoredSection> compress_section(const Section& section);

/// Compresses every section in order (stopping at the first failure, before
/// any file is touched), then `write`s them.
ToolsResult<void> save(const std::filesystem::path& path, const Json& app, std::uint32_t element_schema_version,
                       std::span<const Section> sections);

/// Writes a container atomically: prefix (format version 1 and the given
/// element schema version), the manifest (format_version 1, a copy of `app`,
/// the entries with offsets re-assigned as running sums from 0 and sizes set
/// to the payload lengths) and the payloads in list order. Io on any file
/// failure, naming the destination `path` ("'<path>': " and the system's
/// error); InvalidArgument, before any file is created, when a section's
/// kind, name or tag or a text of `app` is not UTF-8 ("section {} has a kind,
/// name or tag that is not valid UTF-8 text", "the manifest metadata holds
/// text that is not valid UTF-8") or when the manifest does not fit the
/// 32-bit length field; Io when the destination has no file name.
ToolsResult<void> write(const std::filesystem::path& path, const Json& app, std::uint32_t element_schema_version,
                        std::vector<StoredSection> sections);

/// As `write`, for payloads copied raw from another container (written
/// unchanged, not compressed again).
ToolsResult<void> write_copied(const std::filesystem::path& path, const Json& app,
                               std::uint32_t element_schema_version, std::span<const StoredSection> sections);

/// Appends every entry of `c` (manifest order) with its stored payload to
/// `list`, first removing from the list every section of the same kind and
/// name. Failures of `read_entry_payload`; on failure the list may hold the
/// sections copied so far.
ToolsResult<void> copy_sections(std::vector<StoredSection>& list, const Container& c);

/// Merges containers `a` and `b` into `dst` without recompressing: a's
/// sections, less those b has with the same kind and name, then b's; the
/// `app` value and element schema version are a's. Nothing is written when
/// either source fails to open or read.
ToolsResult<void> merge(const std::filesystem::path& a, const std::filesystem::path& b,
                        const std::filesystem::path& dst);

/// The temporary path a write to `destination` goes through: the file name
/// becomes stem + "." + extension + ".tmp" (survey.zedod -> survey.zedod.tmp,
/// survey -> survey..tmp, .zedod -> .zedod..tmp). Io when the destination
/// has no file name (empty, a root, ".", "..", or ending in a separator).
ToolsResult<std::filesystem::path> temp_path_for(const std::filesystem::path& destination);

/// The manifest length as the 32-bit prefix field; InvalidArgument when the
/// manifest is 2^32 bytes or longer.
ToolsResult<std::uint32_t> manifest_length_field(std::uint64_t manifest_bytes);

}  // namespace vz::container
