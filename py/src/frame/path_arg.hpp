#pragma once
/// `path` arguments: a `str` only (a path object, bytes or anything else is
/// refused with the binding's TypeError naming the argument), handed to the
/// operating system the way Python itself would pass it (the file-system
/// encoding, so names listed by os.listdir round-trip). A text holding a NUL
/// character names no file and is refused by that conversion (ValueError)
/// rather than cut short.

#include <filesystem>
#include <string_view>

#include "frame/args.hpp"

namespace vz::py {

/// The path given for parameter `name` (which the call must give).
PyResult<std::filesystem::path> path_arg(const Args& a, std::string_view name);

}  // namespace vz::py
