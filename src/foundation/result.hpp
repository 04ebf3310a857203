#pragma once
/// `Result<T>`: a value or an Error, and the propagation macros
/// (`VZ_TRY`, `VZ_ASSIGN_OR_RETURN`).

#include <expected>

#include "expected_macros.hpp"
#include "foundation/error.hpp"

namespace vz {

template <class T>
using Result = std::expected<T, Error>;

/// Shorthand for a failed result: `return fail(Error::parse("..."));`
inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }

}  // namespace vz
