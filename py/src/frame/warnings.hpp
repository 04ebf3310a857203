#pragma once
/// Warnings through Python's warnings machinery. A warning is attributed to
/// the user's line that called the binding; when a warnings filter turns it
/// into an error, the error comes back and the caller raises it before doing
/// any work.

#include <string_view>

#include "frame/py_err.hpp"

namespace vz::py {

/// Issues a DeprecationWarning with `message`; the exception of a failed
/// import or `warn` call otherwise.
PyResult<void> warn_deprecated(std::string_view message);
/// Issues a UserWarning with `message`; likewise.
PyResult<void> warn_user(std::string_view message);

}  // namespace vz::py
