// Win32 layer. The process and system services: the command line, GUIDs; and COM for
// each thread.
#include "platform/win32/win32_platform.h"

#include <objbase.h>

#include <cstring>

namespace carryall::win32 {

Text Win32System::GetCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return FromW(line, wcslen(line));
}

void Win32Threads::ComInitialize() { ::CoInitialize(/*pvReserved=*/nullptr); }
void Win32Threads::ComUninitialize() { ::CoUninitialize(); }

Fallible<std::array<uint8_t, 16>> Win32System::CreateGuid() {
  GUID guid;
  if (const HRESULT result = ::CoCreateGuid(&guid); FAILED(result)) return Failed(static_cast<uint32_t>(result));
  std::array<uint8_t, 16> bytes;
  static_assert(sizeof guid == 16);
  memcpy(bytes.data(), &guid, 16);
  return bytes;
}

}  // namespace carryall::win32
