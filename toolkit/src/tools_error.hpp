#pragma once
/// The toolkit library's error value and its result alias.
///
/// The toolkit (gridding kernels, percentiles, the project container file)
/// never includes core headers; the core carries a ToolsError unchanged
/// inside its own Error (kind Tools).

#include <expected>
#include <filesystem>
#include <string>
#include <utility>

#include "expected_macros.hpp"

namespace vz {

/// Kinds of toolkit failures, in declaration order.
enum class ToolsErrorKind { EmptyInput, InvalidGeometry, InvalidArgument, Io, Parse, NotFound };

/// A toolkit failure: a kind and its message text.
class ToolsError {
public:
    /// The message is kept with its control characters escaped
    /// (`escape_control`).
    ToolsError(ToolsErrorKind kind, std::string message);

    static ToolsError empty_input(std::string m) { return {ToolsErrorKind::EmptyInput, std::move(m)}; }
    static ToolsError invalid_geometry(std::string m) { return {ToolsErrorKind::InvalidGeometry, std::move(m)}; }
    static ToolsError invalid_argument(std::string m) { return {ToolsErrorKind::InvalidArgument, std::move(m)}; }
    /// An operating-system failure; `os_text` is the system's own description.
    static ToolsError io(std::string os_text) { return {ToolsErrorKind::Io, std::move(os_text)}; }
    /// An I/O failure on the file `path` from an errno value:
    /// "'<path>': <strerror> (os error N)".
    static ToolsError io_errno(int err, const std::filesystem::path& path);
    static ToolsError parse(std::string m) { return {ToolsErrorKind::Parse, std::move(m)}; }
    static ToolsError not_found(std::string m) { return {ToolsErrorKind::NotFound, std::move(m)}; }

    ToolsErrorKind kind() const { return kind_; }
    /// The payload text, without the kind's prefix.
    const std::string& message() const { return message_; }
    /// The user-facing text: the kind's prefix and the message.
    std::string display() const;
    /// Diagnostic form: the kind's name and the payload in parentheses.
    std::string debug() const;

    bool operator==(const ToolsError&) const = default;

private:
    ToolsErrorKind kind_;
    std::string message_;
};

/// Name of a kind as declared ("EmptyInput", ...).
const char* tools_error_kind_name(ToolsErrorKind kind);

/// `text` with every control character written as an escape, so that a
/// message is one line of visible characters whatever bytes of a file or
/// path it quotes: NUL as \0, tab, line feed and carriage return as \t, \n,
/// \r, the other C0 controls, DEL and the C1 controls (U+0080..U+009F, as
/// a Latin-1 byte 0x80..0x9F decodes) as \xNN in lower-case hexadecimal.
/// Everything else, a backslash and bytes that are not UTF-8 included, is
/// kept as it is.
std::string escape_control(std::string text);

/// Text of an errno value as the operating system words it, followed by
/// " (os error N)".
std::string os_error_text(int err);

/// A path as messages show it: as the caller gave it, its control
/// characters escaped (`escape_control`; a NUL reads \0).
std::string display_path(const std::filesystem::path& path);

/// An operating-system failure on a named file: "'<path>': " before
/// `os_error_text`, so that a failed open, read or write says which file it
/// was. Every I/O error raised by a file operation is worded this way, in the
/// core as in the toolkit.
std::string os_error_text(int err, const std::filesystem::path& path);

template <class T>
using ToolsResult = std::expected<T, ToolsError>;

}  // namespace vz
