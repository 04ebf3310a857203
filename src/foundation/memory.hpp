#pragma once
/// Memory exhaustion as a value.
///
/// A small file can describe a table far larger than the machine holds. The
/// readers size their tables from what the file holds and run their work
/// through `guard_memory`, so an allocation that cannot be served becomes an
/// `Error` naming what was being built instead of an exception that would end
/// the calling process.

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "foundation/result.hpp"

namespace vz {

/// `OutOfRange` "{what} does not fit in memory".
inline Error memory_error(std::string_view what) {
    return Error::out_of_range(std::string(what) + " does not fit in memory");
}

/// Runs `work` (which returns a `Result`); an allocation failure inside it
/// becomes the error that `on_exhausted()` builds. `on_exhausted` runs after
/// the work's memory is released, so it may allocate its message.
template <class Work, class OnExhausted>
auto guard_memory(Work&& work, OnExhausted&& on_exhausted) -> std::invoke_result_t<Work> {
    try {
        return std::forward<Work>(work)();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return fail(std::forward<OnExhausted>(on_exhausted)());
}

}  // namespace vz
