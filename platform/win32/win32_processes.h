// Win32 layer. Processes, windows and WOW64 redirection.
#pragma once

#include <windows.h>

#include "platform/processes.h"
#include "platform/win32/system_dlls.h"

namespace carryall::win32 {

class Win32Processes : public IProcesses {
 public:
  Fallible<bool> IsRunningUnderWow64() override;
  void DisableFsRedirection() override;
  void RevertFsRedirection() override;
  Fallible<std::unique_ptr<IProcess>> CreateProcess(std::u16string& command_line) override;
  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override;
  uint32_t GetWindowStyle(WindowHandle window) override;
  uint32_t GetWindowProcessId(WindowHandle window) override;

 private:
  // The WOW64 entry points, which older systems lack, from the system folder's kernel32.
  SystemExport<BOOL(WINAPI*)(HANDLE, PBOOL)> is_wow64_{L"kernel32.dll", "IsWow64Process"};
  SystemExport<BOOL(WINAPI*)(PVOID*)> disable_redirection_{L"kernel32.dll", "Wow64DisableWow64FsRedirection"};
  SystemExport<BOOL(WINAPI*)(PVOID)> revert_redirection_{L"kernel32.dll", "Wow64RevertWow64FsRedirection"};
  // What the disabling handed back, for the revert on the same thread.
  PVOID saved_redirection_ = nullptr;
};

}  // namespace carryall::win32
