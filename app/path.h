// Portable layer. Windows path rules the core needs, written once so that both builds
// agree: joining with a bounded length, splitting off the last component, and telling
// a payload name that stays below its folder from one that would leave it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace carryall {

constexpr std::size_t kMaxPath = 260;  // characters, terminator included

// PathAppendW: exactly one backslash between the two parts (leading backslashes of more
// are dropped). nullopt when the result and its terminator would not fit in
// buffer_size characters, where the system function would fail or cut it.
std::optional<Text> PathAppend(const Text& path, std::u16string_view more, std::size_t buffer_size = kMaxPath);

// PathRemoveFileSpecW: the path without its last component (and without the backslash
// before it, except at a root such as "C:\").
Text PathRemoveFileSpec(const Text& path);

// True when a relative payload name keeps its file below the folder it is joined to:
// no drive or stream colon, no leading separator, no ".." component, with either slash
// counted as a separator.
bool IsContainedRelativePath(std::u16string_view name);

// True when a full path names a device rather than a place on a volume: a path in the
// device namespace ("\\.\" or "\\?\", either slash) other than a drive ("\\?\C:\x"),
// a share ("\\?\UNC\server\share") or a volume ("\\?\Volume{...}\"). GetFullPathNameW
// gives "CON", "NUL" or "COM1" that form ("\\.\CON").
bool IsDevicePath(std::u16string_view path);

}  // namespace carryall
