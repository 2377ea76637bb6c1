// Portable layer. A path value made absolute the way the bootstrapper takes every path
// it is given.
#pragma once

#include <optional>

#include "platform/platform.h"

namespace carryall {

// The value resolved against the current directory (GetFullPathNameW); an empty value
// names the current directory itself. nullopt when the system cannot resolve it or the
// result does not fit in MAX_PATH characters.
std::optional<Text> MakeAbsolute(IFileSystem& files, const Text& value);

}  // namespace carryall
