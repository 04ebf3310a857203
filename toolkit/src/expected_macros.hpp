#pragma once
/// Propagation macros for std::expected results, shared by the toolkit and
/// the core. The error is moved into the caller's error type, so a toolkit
/// failure propagates into a core Result through Error's implicit
/// conversion from ToolsError.

#include <expected>
#include <utility>

#define VZ_CONCAT_INNER(a, b) a##b
#define VZ_CONCAT(a, b) VZ_CONCAT_INNER(a, b)

/// Evaluates `expr` (an expected); on failure returns its error.
#define VZ_TRY(expr)                                                   \
    do {                                                               \
        auto&& vz_try_result_ = (expr);                                \
        if (!vz_try_result_) {                                         \
            return std::unexpected(std::move(vz_try_result_).error()); \
        }                                                              \
    } while (0)

#define VZ_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)          \
    auto&& tmp = (expr);                                  \
    if (!tmp) {                                           \
        return std::unexpected(std::move(tmp).error());   \
    }                                                     \
    lhs = std::move(*tmp)

/// Evaluates `expr`; on failure returns its error, otherwise assigns (or
/// declares, as in `VZ_ASSIGN_OR_RETURN(auto x, f())`) `lhs` from the value.
#define VZ_ASSIGN_OR_RETURN(lhs, expr) \
    VZ_ASSIGN_OR_RETURN_IMPL(VZ_CONCAT(vz_assign_result_, __LINE__), lhs, expr)
