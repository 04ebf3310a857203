#pragma once
/// Texts in representations, as the reprs write them: a double-quoted,
/// escaped literal ("W-1", "a\"b", "e\u{301}"), and the optional form
/// Some("…") / None.

#include <optional>
#include <string>
#include <string_view>

#include "frame/escape_text.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// `text` (UTF-8) as a double-quoted, escaped literal (see escape_text.hpp).
/// Non-printable characters and combining marks come from the interpreter's
/// Unicode database; fails only when that database cannot be reached.
PyResult<std::string> escape_literal(std::string_view text);

/// `Some("…")` with the escaped literal, or `None` when absent.
PyResult<std::string> optional_literal(const std::optional<std::string>& text);

}  // namespace vz::py
