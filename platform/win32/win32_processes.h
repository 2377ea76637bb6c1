// Win32 layer. Processes, windows and WOW64 redirection.
#pragma once

#include <windows.h>

#include "platform/processes.h"

namespace carryall::win32 {

class Win32Processes : public IProcesses {
 public:
  bool IsRunningUnderWow64() override;
  void DisableFsRedirection() override;
  void RevertFsRedirection() override;
  std::unique_ptr<IProcess> CreateProcess(std::u16string& command_line) override;
  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override;
  uint32_t GetWindowStyle(WindowHandle window) override;
  uint32_t GetWindowProcessId(WindowHandle window) override;
};

}  // namespace carryall::win32
