// Win32 layer. The entry point: wires the real platform into the application object,
// runs it and exits with its exit code.
#include <windows.h>

#include "app/carryall_app.h"
#include "base/log.h"
#include "platform/log_device.h"
#include "platform/win32/system_dlls.h"
#include "platform/win32/win32_machine.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_processes.h"
#include "platform/win32/win32_trust.h"
#include "ui/win32/win32_ui.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  using namespace carryall;
  // Before anything else can load a DLL: from here on a DLL named without a path comes
  // from the system folder, never from the Downloads folder the program was started in.
  win32::RestrictDllSearch();
  // Process lifetime: the worker thread may still be leaving when this function returns.
  static win32::Win32FileSystem files;
  static win32::Win32CodePage code_page;
  win32::Win32Resources resources(instance);
  static win32::Win32System system;
  static win32::Win32Threads threads;
  win32::Win32UserInterface ui(instance, resources, code_page);
  static win32::Win32MachineInfo machine;
  static win32::Win32Processes processes;
  static win32::Win32Trust trust;
  Platform platform{files, files, files, code_page, resources, system, threads, ui, machine, processes, trust};

  FileLog log(files, code_page);
  CCarryallInstallerApp app(platform, log);
  app.InitInstance();
  return app.ExitInstance();
}
