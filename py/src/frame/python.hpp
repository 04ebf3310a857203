#pragma once
/// The one place the frame includes the interpreter's header: limited API
/// (stable ABI) only, sizes as Py_ssize_t.

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>
