// Portable layer. Windows path rules the core needs, written once so that both builds
// agree: joining with a bounded length, splitting off the last component, resolving
// against the current directory, and telling a payload name that stays below its
// folder and names a file from one that would leave it or name a device.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/text.h"

namespace carryall {

constexpr std::size_t kMaxPath = 260;  // characters, terminator included

// PathAppendW: exactly one backslash between the two parts (leading backslashes of more
// are dropped). nullopt when the result and its terminator would not fit in
// buffer_size characters, where the system function would fail or cut it.
std::optional<Text> PathAppend(const Text& path, std::u16string_view more, std::size_t buffer_size = kMaxPath);

// PathRemoveFileSpecW: the path without its last component (and without the backslash
// before it, except at a root such as "C:\").
Text PathRemoveFileSpec(const Text& path);

// True when text is a drive letter and a colon alone ("D:", blanks after it allowed),
// which GetFullPathNameW resolves to that drive's current directory, not its root.
bool IsBareDrive(std::u16string_view text);

// True when a relative payload name keeps its file below the folder it is joined to:
// no drive or stream colon, no leading separator, no ".." component, with either slash
// counted as a separator.
bool IsContainedRelativePath(std::u16string_view name);

// True when a full path names a device rather than a place on a volume: a path in the
// device namespace ("\\.\" or "\\?\", either slash) other than a drive ("\\?\C:\x"),
// a share ("\\?\UNC\server\share") or a volume ("\\?\Volume{...}\"). GetFullPathNameW
// gives "CON", "NUL" or "COM1" that form ("\\.\CON").
bool IsDevicePath(std::u16string_view path);

// True when a path component names a reserved device, which Windows opens instead of a
// file: CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 and COM¹, COM², COM³, LPT¹,
// LPT², LPT³ (superscript digits), with ASCII letters in any case, alone or followed
// by blanks, dots or an extension ("nul.txt", "COM1 .log", "Aux...").
bool IsReservedDeviceName(std::u16string_view component);

// True when any component of a relative name (either slash separates) names a
// reserved device.
bool NamesReservedDevice(std::u16string_view name);

// True when a full path the bootstrapper was given names a device instead of a folder
// or file: IsDevicePath, or a component after its root that is a reserved device name
// (GetFullPathNameW of Windows gives "\\.\COM1" for "C:\x\COM1", but Wine keeps
// "C:\x\COM¹" as it is).
bool NamesDevice(std::u16string_view path);

// Compares two paths as Windows compares names: ASCII and Latin-1 letters in either case.
bool SamePath(std::u16string_view a, std::u16string_view b);

}  // namespace carryall
