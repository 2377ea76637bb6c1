// Portable layer. The .NET Framework that a report names until a setting names one: the
// start-up's record, the check's verdict and the report's facts all start from it.
#pragma once

#include <cstdint>

namespace carryall {

inline constexpr char16_t kUnknownDotNetName[] = u"Unknown .NET Version";
// Major version 2: the download page a report offers when no setting names a version.
inline constexpr int32_t kUnknownDotNetMajor = 2;

}  // namespace carryall
