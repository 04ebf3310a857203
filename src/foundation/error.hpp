#pragma once
/// The core's one failure type.
///
/// Every fallible core operation returns `Result<T>`; the display text of an
/// Error is exactly the message a Python user sees (as a ValueError).

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "tools_error.hpp"

namespace vz {

/// Kinds of core failures, in declaration order.
enum class ErrorKind {
    Io,
    Parse,
    Format,
    GeometryMismatch,
    GeometryInference,
    NotFound,
    OutOfRange,
    Unsupported,
    Unit,
    Tools,
};

/// A core failure: a kind and its payload text (or, for Tools, the carried
/// toolkit error). The text is kept with its control characters escaped
/// (`escape_control`): messages quote bytes read from files, and a message
/// is one line of visible characters.
class Error {
public:
    Error(ErrorKind kind, std::string message) : kind_(kind), message_(escape_control(std::move(message))) {}
    /// Lossless wrap of a toolkit error as kind Tools.
    Error(ToolsError tools)  // NOLINT: implicit on purpose, so toolkit failures propagate
        : kind_(ErrorKind::Tools), message_(), tools_(std::move(tools)) {}

    /// Operating-system failure; `os_text` is the system's own description.
    static Error io(std::string os_text) { return {ErrorKind::Io, std::move(os_text)}; }
    /// Operating-system failure on the file `path` from an errno value:
    /// "'<path>': <strerror> (os error N)" (see `os_error_text`).
    static Error io_errno(int err, const std::filesystem::path& path);
    static Error parse(std::string m) { return {ErrorKind::Parse, std::move(m)}; }
    static Error format(std::string m) { return {ErrorKind::Format, std::move(m)}; }
    static Error geometry_mismatch(std::string m) { return {ErrorKind::GeometryMismatch, std::move(m)}; }
    static Error geometry_inference(std::string m) { return {ErrorKind::GeometryInference, std::move(m)}; }
    static Error not_found(std::string m) { return {ErrorKind::NotFound, std::move(m)}; }
    static Error out_of_range(std::string m) { return {ErrorKind::OutOfRange, std::move(m)}; }
    static Error unsupported(std::string m) { return {ErrorKind::Unsupported, std::move(m)}; }
    static Error unit(std::string m) { return {ErrorKind::Unit, std::move(m)}; }

    ErrorKind kind() const { return kind_; }
    /// The payload text without the prefix (for Tools: the toolkit's message).
    const std::string& message() const { return tools_ ? tools_->message() : message_; }
    /// The carried toolkit error, for kind Tools.
    const ToolsError* tools() const { return tools_ ? &*tools_ : nullptr; }
    /// The user-facing text: "parse error: ...", "not found: ...", ...
    std::string display() const;
    /// Diagnostic form: the kind's name and the payload in parentheses.
    std::string debug() const;

    bool operator==(const Error&) const = default;

private:
    ErrorKind kind_;
    std::string message_;
    std::optional<ToolsError> tools_;
};

/// Name of a kind as declared ("Io", "Parse", ...).
const char* error_kind_name(ErrorKind kind);

}  // namespace vz
