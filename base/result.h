// Portable layer. A step's result: its code, and the system's error behind it where the
// failure came from a system call, so that the log can say why and not only that.
#pragma once

#include <cstdint>

namespace carryall {

struct Result {
  int32_t code = 0;           // 0, an HRESULT, the Windows Installer's 1613 or a wizard's code
  uint32_t system_error = 0;  // GetLastError's value behind code; 0 when there is none

  static constexpr Result Ok() { return {}; }
  static constexpr Result Failure(int32_t code, uint32_t system_error = 0) { return {code, system_error}; }
  constexpr bool ok() const { return code == 0; }
};

}  // namespace carryall
