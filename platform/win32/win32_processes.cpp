// Win32 layer. Processes, windows and WOW64 redirection.
#include "platform/win32/win32_processes.h"

#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {

namespace {

class Win32Process : public IProcess {
 public:
  // Takes ownership of both handles in info.
  explicit Win32Process(const PROCESS_INFORMATION& info)
      : thread_(info.hThread),
        process_(info.hProcess),
        id_(info.dwProcessId) {}
  uint32_t id() const override { return id_; }
  Fallible<WaitResult> Wait(uint32_t timeout_ms) override {
    const DWORD result = ::WaitForSingleObject(process_.get(), timeout_ms);
    switch (result) {
      case WAIT_OBJECT_0:
        return WaitResult::kSignalled;
      case WAIT_TIMEOUT:
        return WaitResult::kTimeout;
      default:
        return result == WAIT_FAILED ? LastError() : Failed(result);
    }
  }
  Fallible<uint32_t> GetExitCode() override {
    DWORD value = 0;
    if (!::GetExitCodeProcess(process_.get(), &value)) return LastError();
    return static_cast<uint32_t>(value);
  }

 private:
  // Members go in reverse order: the process handle is closed before the thread's.
  UniqueKernelHandle thread_;
  UniqueKernelHandle process_;
  DWORD id_;
};

BOOL CALLBACK EnumWindowsProc(HWND window, LPARAM context) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumWindows hands back the pointer it was given
  const auto& visit = *reinterpret_cast<const std::function<bool(WindowHandle)>*>(context);
  return visit(window) ? TRUE : FALSE;
}

}  // namespace

Fallible<bool> Win32Processes::IsRunningUnderWow64() {
  auto fn = is_wow64_.get();
  if (!fn) return Failed(ERROR_PROC_NOT_FOUND);
  BOOL wow = FALSE;
  if (!fn(::GetCurrentProcess(), &wow)) return LastError();
  return wow != FALSE;
}

void Win32Processes::DisableFsRedirection() {
  if (!IsRunningUnderWow64().value_or(false)) return;
  if (auto fn = disable_redirection_.get()) fn(&saved_redirection_);
}

void Win32Processes::RevertFsRedirection() {
  if (!IsRunningUnderWow64().value_or(false)) return;
  if (auto fn = revert_redirection_.get()) fn(saved_redirection_);
}

Fallible<std::unique_ptr<IProcess>> Win32Processes::CreateProcess(std::u16string& command_line) {
  // Windows refuses a command line of more than 32,767 units with its terminator; Wine
  // would start the program with the line cut short instead. Refuse it the same way.
  if (command_line.size() >= 32767) return Failed(ERROR_INVALID_PARAMETER);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(/*lpApplicationName=*/nullptr, reinterpret_cast<wchar_t*>(command_line.data()),
                        /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE,
                        /*dwCreationFlags=*/0, /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup,
                        &info)) {
    return LastError();
  }
  return std::unique_ptr<IProcess>(std::make_unique<Win32Process>(info));
}

void Win32Processes::EnumWindows(const std::function<bool(WindowHandle)>& visit) {
  ::EnumWindows(EnumWindowsProc, reinterpret_cast<LPARAM>(&visit));
}

uint32_t Win32Processes::GetWindowStyle(WindowHandle window) {
  return static_cast<uint32_t>(::GetWindowLongW(static_cast<HWND>(window), GWL_STYLE));
}

uint32_t Win32Processes::GetWindowProcessId(WindowHandle window) {
  DWORD id = 0;
  ::GetWindowThreadProcessId(static_cast<HWND>(window), &id);
  return id;
}

}  // namespace carryall::win32
