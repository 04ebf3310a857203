#pragma once
/// An exception as one line of text, for messages that carry another
/// exception inside them: its class's name, ": " and its str()
/// ("<exception str() failed>" when str() itself fails).

#include <string>

#include "frame/py_err.hpp"

namespace vz::py {

/// How the exception's class is named: by its qualified name
/// ("Outer.Failure") or by its plain type name ("Failure"); the two differ
/// only for a class defined inside another class or a function.
enum class ExceptionClassName { Qualified, Plain };

/// "ValueError: no well 'W'", "ModuleNotFoundError: No module named 'x'".
/// Needs the interpreter lock; builds a lazily made exception first.
std::string exception_text(PyErr& err, ExceptionClassName naming = ExceptionClassName::Qualified);

}  // namespace vz::py
