#include "tools_error.hpp"

#include <cstring>

namespace vz {

const char* tools_error_kind_name(ToolsErrorKind kind) {
    switch (kind) {
        case ToolsErrorKind::EmptyInput: return "EmptyInput";
        case ToolsErrorKind::InvalidGeometry: return "InvalidGeometry";
        case ToolsErrorKind::InvalidArgument: return "InvalidArgument";
        case ToolsErrorKind::Io: return "Io";
        case ToolsErrorKind::Parse: return "Parse";
        case ToolsErrorKind::NotFound: return "NotFound";
    }
    return "?";
}

std::string os_error_text(int err) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return std::string(text) + " (os error " + std::to_string(err) + ")";
}

std::string display_path(const std::filesystem::path& path) {
    const std::string& native = path.native();
    if (native.find('\0') == std::string::npos) return native;
    std::string shown;
    shown.reserve(native.size() + 8);
    for (char c : native) {
        if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return shown;
}

std::string os_error_text(int err, const std::filesystem::path& path) {
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about an
    // overlap that cannot happen in `"'" + std::string&&`.
    std::string text = "'";
    text += display_path(path);
    text += "': ";
    text += os_error_text(err);
    return text;
}

ToolsError ToolsError::io_errno(int err, const std::filesystem::path& path) { return io(os_error_text(err, path)); }

std::string ToolsError::display() const {
    const char* prefix = "";
    switch (kind_) {
        case ToolsErrorKind::EmptyInput: prefix = "empty input: "; break;
        case ToolsErrorKind::InvalidGeometry: prefix = "invalid geometry: "; break;
        case ToolsErrorKind::InvalidArgument: prefix = "invalid argument: "; break;
        case ToolsErrorKind::Io: prefix = "I/O error: "; break;
        case ToolsErrorKind::Parse: prefix = "parse error: "; break;
        case ToolsErrorKind::NotFound: prefix = "not found: "; break;
    }
    return prefix + message_;
}

std::string ToolsError::debug() const {
    return std::string(tools_error_kind_name(kind_)) + "(" + message_ + ")";
}

}  // namespace vz
