#pragma once
/// Releasing the interpreter lock around a long computation. Inside, no
/// Python object may be touched (no Ref made or dropped); lazily built PyErr
/// values and access guards taken before are fine.

#include <utility>

#include "frame/python.hpp"

namespace vz::py {

/// Runs `f()` with the interpreter lock released and returns its result.
template <class F>
decltype(auto) allow_threads(F&& f) {
    struct Reacquire {
        PyThreadState* state;
        ~Reacquire() { PyEval_RestoreThread(state); }
    } reacquire{PyEval_SaveThread()};
    return std::forward<F>(f)();
}

}  // namespace vz::py
