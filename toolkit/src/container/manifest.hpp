#pragma once
/// The records of a container file's manifest, and its JSON text.
///
/// A container file is a 12-byte prefix (magic "KIO", format version byte,
/// u32 element schema version, u32 manifest length, all little-endian), the
/// manifest (compact JSON of one `Header`) and the sections' payloads, each
/// one zstd frame. An entry's payload starts at 12 + manifest length + offset.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "container/json.hpp"
#include "tools_error.hpp"

namespace vz::container {

/// The format version byte this build writes and the highest it reads.
inline constexpr std::uint8_t kFormatVersion = 1;

/// One section ready for the writer, or returned by the decoded read: the
/// uncompressed payload with its kind, name, tags and payload schema version.
struct Section {
    std::string kind;
    std::string name;
    std::vector<std::string> tags;
    std::vector<std::uint8_t> data;
    std::uint32_t version = 0;

    bool operator==(const Section&) const = default;
};

/// One section entry of the manifest. offset counts from the end of the
/// manifest; size is the compressed payload length in bytes.
struct Entry {
    std::string kind;
    std::string name;
    std::vector<std::string> tags;
    std::uint32_t version = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;

    /// An entry with the section's kind, name, tags and version (copies) and
    /// the given offset and size.
    static Entry from_section(const Section& section, std::uint64_t offset, std::uint64_t size);

    bool operator==(const Entry&) const = default;
};

/// An entry with its compressed payload bytes, as the writer and the copy
/// operations pass them.
struct StoredSection {
    Entry entry;
    std::vector<std::uint8_t> data;

    bool operator==(const StoredSection&) const = default;
};

/// The manifest: format version, the caller's metadata value (null when the
/// manifest has none) and the section entries in payload order.
struct Header {
    std::uint32_t format_version = kFormatVersion;
    Json app;
    std::vector<Entry> sections;

    bool operator==(const Header&) const = default;
};

/// The compact manifest text: {"format_version":..,"app":..,"sections":[
/// {"kind":..,"name":..,"tags":[..],"version":..,"offset":..,"size":..},..]}
/// with the members in this order and "app" written by `append_json`.
std::string write_manifest(const Header& header);

/// Reads a manifest. Members may come in any order, unknown keys are
/// skipped, a member given twice is refused ("duplicate field `{}`"), a
/// missing required one too ("missing field `{}`"); an array of the members'
/// values in table order stands for an object; only whitespace may follow.
/// Failure: Parse, the reader's message followed by " at line L column C".
ToolsResult<Header> parse_manifest(std::string_view text);

}  // namespace vz::container
