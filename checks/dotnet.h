// Portable layer. The rules by which the .NET Framework detection reads a version text
// from the registry.
#pragma once

#include <cstdint>
#include <string_view>

namespace carryall {

struct VersionNumbers {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t build = 0;
  int32_t revision = 0;
};

// Splits text at '.' the way wcstok does (a run of separators gives no empty piece)
// and reads the first four pieces as decimal numbers the way _wtoi does; absent pieces
// stay 0 and further ones are ignored. The text ends at its first NUL.
VersionNumbers ParseVersionText(std::u16string_view text);

// major.minor.build.revision compared as a tuple: true when version >= minimum.
bool IsVersionAtLeast(const VersionNumbers& version, const VersionNumbers& minimum);

}  // namespace carryall
