#pragma once
/// An exception as one line of text, for messages that carry another
/// exception inside them: its class's qualified name, ": " and its str()
/// ("<exception str() failed>" when str() itself fails).

#include <string>

#include "frame/py_err.hpp"

namespace vz::py {

/// "ValueError: no well 'W'", "ModuleNotFoundError: No module named 'x'".
/// Needs the interpreter lock; builds a lazily made exception first.
std::string exception_text(PyErr& err);

}  // namespace vz::py
