// Portable layer. The path rule of the free disk space check.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace carryall {

struct PathParts {
  Text drive;      // "C:" or empty
  Text directory;  // up to and including the last '\' or '/'
  Text name;       // after it, up to the last '.'
  Text extension;  // from that '.' on
};

// Splits path the way _wsplitpath_s does with buffers of these sizes, each counting the
// terminating NUL: the drive is the first two characters when the second is ':'. nullopt
// when a component does not fit its buffer. The path ends at its first NUL.
std::optional<PathParts> SplitPath(std::u16string_view path, std::size_t drive_size, std::size_t directory_size,
                                   std::size_t name_size, std::size_t extension_size);

// The path in its ordinary form: "\\?\C:\x" and "\\.\C:\x" read "C:\x", and
// "\\?\UNC\server\share\x" reads "\\server\share\x". Other paths are unchanged.
Text WithoutNamespacePrefix(std::u16string_view path);

// The root of the volume as far as the text of a full path tells, in the ordinary
// form: "C:\" for a drive path, "\\server\share\" for a share. Empty when the text
// names neither. Mount points are the system's to know (IMachineInfo::GetVolumePathName).
Text LexicalVolumeRoot(std::u16string_view path);

}  // namespace carryall
