#include "tools_error.hpp"

#include <cstring>
#include <string_view>

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

namespace {

// The length of the control character at `s[i]` in its UTF-8 form (1 for a
// C0 control or DEL, 2 for a C1 control), 0 for anything else.
std::size_t control_at(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) return 1;
    if (c == 0xC2 && i + 1 < s.size()) {
        const auto next = static_cast<unsigned char>(s[i + 1]);
        if (next >= 0x80 && next <= 0x9F) return 2;
    }
    return 0;
}

}  // namespace

std::string escape_control(std::string text) {
    std::size_t i = 0;
    while (i < text.size() && control_at(text, i) == 0) ++i;
    if (i == text.size()) return text;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(text, 0, i);
    out.reserve(text.size() + 8);
    while (i < text.size()) {
        const std::size_t len = control_at(text, i);
        if (len == 0) {
            out += text[i++];
            continue;
        }
        // A C1 control is U+0080..U+009F: its code is the second byte.
        const auto code = static_cast<unsigned char>(text[i + len - 1]);
        switch (code) {
            case '\0': out += "\\0"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                out += "\\x";
                out += kHex[code >> 4];
                out += kHex[code & 0xF];
        }
        i += len;
    }
    return out;
}

ToolsError::ToolsError(ToolsErrorKind kind, std::string message)
    : kind_(kind), message_(escape_control(std::move(message))) {}

std::string os_error_text(int err) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return std::string(text) + " (os error " + std::to_string(err) + ")";
}

std::string display_path(const std::filesystem::path& path) { return escape_control(path.native()); }

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
