#include "foundation/error.hpp"

namespace vz {

const char* error_kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Io: return "Io";
        case ErrorKind::Parse: return "Parse";
        case ErrorKind::Format: return "Format";
        case ErrorKind::GeometryMismatch: return "GeometryMismatch";
        case ErrorKind::GeometryInference: return "GeometryInference";
        case ErrorKind::NotFound: return "NotFound";
        case ErrorKind::OutOfRange: return "OutOfRange";
        case ErrorKind::Unsupported: return "Unsupported";
        case ErrorKind::Unit: return "Unit";
        case ErrorKind::Tools: return "Tools";
    }
    return "?";
}

Error Error::io_errno(int err, const std::filesystem::path& path) { return io(os_error_text(err, path)); }

std::string Error::display() const {
    switch (kind_) {
        case ErrorKind::Io: return "I/O error: " + message_;
        case ErrorKind::Parse: return "parse error: " + message_;
        case ErrorKind::Format: return "unsupported format: " + message_;
        case ErrorKind::GeometryMismatch: return "geometry mismatch: " + message_;
        case ErrorKind::GeometryInference: return "geometry inference failed: " + message_;
        case ErrorKind::NotFound: return "not found: " + message_;
        case ErrorKind::OutOfRange: return "out of range: " + message_;
        case ErrorKind::Unsupported: return "unsupported: " + message_;
        case ErrorKind::Unit: return "unit error: " + message_;
        case ErrorKind::Tools: return tools_->display();
    }
    return message_;
}

std::string Error::debug() const {
    if (kind_ == ErrorKind::Tools) return "Tools(" + tools_->debug() + ")";
    return std::string(error_kind_name(kind_)) + "(" + message_ + ")";
}

}  // namespace vz
