#pragma once
/// Everything a class file uses: owned references, results and errors,
/// argument binding and conversion, access guards, class definition,
/// warnings, the shared parsers and releasing the interpreter lock.

#include "frame/args.hpp"
#include "frame/borrow.hpp"
#include "frame/class_def.hpp"
#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/gil.hpp"
#include "frame/module_add.hpp"
#include "frame/parsers.hpp"
#include "frame/py_err.hpp"
#include "frame/ref.hpp"
#include "frame/warnings.hpp"
