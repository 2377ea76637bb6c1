// Win32 layer. Processes, windows and WOW64 redirection.
#include "platform/win32/win32_processes.h"

#include "platform/win32/handles.h"

namespace carryall::win32 {

namespace {

// kernel32 is loaded once and never released; each entry point is looked up on first
// need, and a failed lookup is tried again next time (older systems lack them).
HMODULE Kernel32() {
  static HMODULE module = ::LoadLibraryW(L"kernel32.dll");
  return module;
}

template <typename Fn>
Fn Resolve(const char* name, Fn& cache) {
  if (!cache && Kernel32()) cache = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(Kernel32(), name)));
  return cache;
}

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64RedirectionFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

IsWow64ProcessFn g_is_wow64 = nullptr;
Wow64RedirectionFn g_disable = nullptr;
Wow64RevertFn g_revert = nullptr;
PVOID g_saved_redirection = nullptr;

class Win32Process : public IProcess {
 public:
  // Takes ownership of both handles in info.
  explicit Win32Process(const PROCESS_INFORMATION& info)
      : thread_(info.hThread), process_(info.hProcess), id_(info.dwProcessId) {}
  uint32_t id() const override { return id_; }
  WaitResult Wait(uint32_t timeout_ms, uint32_t& error) override {
    const DWORD result = ::WaitForSingleObject(process_.get(), timeout_ms);
    switch (result) {
      case WAIT_OBJECT_0: return WaitResult::kSignalled;
      case WAIT_TIMEOUT: return WaitResult::kTimeout;
      default:
        error = result == WAIT_FAILED ? ::GetLastError() : result;
        return WaitResult::kFailed;
    }
  }
  bool GetExitCode(uint32_t& code, uint32_t& error) override {
    DWORD value = 0;
    if (!::GetExitCodeProcess(process_.get(), &value)) {
      error = ::GetLastError();
      return false;
    }
    code = value;
    return true;
  }

 private:
  // Members go in reverse order: the process handle is closed before the thread's.
  UniqueKernelHandle thread_;
  UniqueKernelHandle process_;
  DWORD id_;
};

BOOL CALLBACK EnumWindowsProc(HWND window, LPARAM context) {
  const auto& visit = *reinterpret_cast<const std::function<bool(WindowHandle)>*>(context);
  return visit(window) ? TRUE : FALSE;
}

}  // namespace

bool Win32Processes::IsRunningUnderWow64() {
  BOOL wow = FALSE;
  if (IsWow64ProcessFn fn = Resolve("IsWow64Process", g_is_wow64)) fn(::GetCurrentProcess(), &wow);
  return wow != FALSE;
}

void Win32Processes::DisableFsRedirection() {
  if (!IsRunningUnderWow64()) return;
  if (Wow64RedirectionFn fn = Resolve("Wow64DisableWow64FsRedirection", g_disable)) fn(&g_saved_redirection);
}

void Win32Processes::RevertFsRedirection() {
  if (!IsRunningUnderWow64()) return;
  if (Wow64RevertFn fn = Resolve("Wow64RevertWow64FsRedirection", g_revert)) fn(g_saved_redirection);
}

std::unique_ptr<IProcess> Win32Processes::CreateProcess(std::u16string& command_line) {
  // Windows refuses a command line of more than 32,767 units with its terminator; Wine
  // would start the program with the line cut short instead. Refuse it the same way.
  if (command_line.size() >= 32767) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(/*lpApplicationName=*/nullptr, reinterpret_cast<wchar_t*>(command_line.data()),
                        /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE,
                        /*dwCreationFlags=*/0, /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup,
                        &info)) {
    return nullptr;
  }
  return std::make_unique<Win32Process>(info);
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
