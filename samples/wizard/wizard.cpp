// Sample installer wizard of the demo payload. Windows build only.
//
// The bootstrapper carries this program as its wizard (resource 104,
// "Varnhold.InstallerWizard.UI.exe"), unpacks it beside the rest of the payload and
// starts it there with the composed wizard command line. A real product ships a .NET
// wizard in its place; this one stands in for it so that the demo and the end-to-end
// tests run without a .NET Framework.
//
// What it does:
//   - shows a window titled after the product for a moment, then ends with exit code 0;
//   - when its command line names a log (/log "path", as the bootstrapper composes it),
//     appends lines beginning with "Wizard: " to that file, in the bootstrapper's ANSI
//     text form (the thread's code page, CR LF): its command line exactly as
//     GetCommandLineW returns it, its working directory, the files beside it, and the
//     exit code it is about to return. Tooling reads these lines: keep the prefix.
//
// Bare words on the bootstrapper's command line reach the wizard unchanged, so a test
// or a curious user steers it with them:
//   WIZARD_WINDOW=now|never|hidden|<ms>  show the window at once (default), never, only
//                                        as a hidden window, or after <ms> milliseconds
//   WIZARD_RUN_MS=<ms>                   how long to run after the window shows (1500)
//   WIZARD_EXIT=<code>                   exit code, decimal or 0x hexadecimal (0)
//   WIZARD_LOCK=<name>                   leave a helper process holding the file <name>
//                                        beside it open, so it cannot be deleted for a while
//   WIZARD_CHILD=<ms>                    leave a helper process running for <ms>
//   WIZARD_HOLD=<path> WIZARD_HOLD_MS=<ms>   (the helper's own words)
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"SQL Carryall Setup";
constexpr wchar_t kClass[] = L"CarryallSampleWizard";
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT_PTR kShowTimer = 2;

struct Options {
  std::wstring log_path;
  std::wstring window = L"now";
  DWORD run_ms = 1500;
  DWORD exit_code = 0;
  std::wstring lock_name;
  DWORD child_ms = 0;
  std::wstring hold_path;
  DWORD hold_ms = 0;
};

DWORD ParseNumber(const std::wstring& text) { return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 0)); }

Options ReadOptions() {
  Options options;
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 1; argv && i < count; ++i) {
    std::wstring arg = argv[i];
    auto value = [&](const wchar_t* name) -> const wchar_t* {
      std::size_t n = std::wcslen(name);
      return arg.compare(0, n, name) == 0 ? arg.c_str() + n : nullptr;
    };
    if ((arg == L"/log" || arg == L"-log") && i + 1 < count) {
      options.log_path = argv[++i];
    } else if (const wchar_t* v = value(L"WIZARD_WINDOW=")) {
      options.window = v;
    } else if (const wchar_t* v = value(L"WIZARD_RUN_MS=")) {
      options.run_ms = ParseNumber(v);
    } else if (const wchar_t* v = value(L"WIZARD_EXIT=")) {
      options.exit_code = ParseNumber(v);
    } else if (const wchar_t* v = value(L"WIZARD_LOCK=")) {
      options.lock_name = v;
    } else if (const wchar_t* v = value(L"WIZARD_CHILD=")) {
      options.child_ms = ParseNumber(v);
    } else if (const wchar_t* v = value(L"WIZARD_HOLD=")) {
      options.hold_path = v;
    } else if (const wchar_t* v = value(L"WIZARD_HOLD_MS=")) {
      options.hold_ms = ParseNumber(v);
    }
  }
  ::LocalFree(argv);
  return options;
}

// Appends lines to the log in the thread's ANSI code page with CR LF line ends. The
// bootstrapper has closed the file while the wizard runs; an open that still collides
// with another writer is retried briefly.
class WizardLog {
 public:
  explicit WizardLog(const std::wstring& path) : path_(path) {}

  void Line(const std::wstring& text) {
    if (path_.empty()) return;
    std::wstring line = L"Wizard: " + text + L"\r\n";
    int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                     nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size, nullptr,
                          nullptr);
    for (int attempt = 0; attempt < 50; ++attempt) {
      HANDLE file = ::CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
        return;
      }
      if (::GetLastError() != ERROR_SHARING_VIOLATION) return;
      ::Sleep(20);
    }
  }

 private:
  std::wstring path_;
};

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

void LogSurroundings(WizardLog& log) {
  log.Line(L"command line " + std::wstring(::GetCommandLineW()));
  wchar_t directory[MAX_PATH * 4];
  DWORD n = ::GetCurrentDirectoryW(MAX_PATH * 4, directory);
  log.Line(L"working directory " + std::wstring(directory, n));
  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW((OwnFolder() + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    log.Line(L"beside me " + name + (folder ? L"\\" : L""));
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
}

// Starts this program again as a detached helper that outlives the wizard.
void StartHelper(const std::wstring& words) {
  wchar_t path[MAX_PATH * 4];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring command = L"\"" + std::wstring(path) + L"\" " + words;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
  }
}

// The helper: holds a file open without sharing, or only stays alive, then ends.
int Hold(const Options& options) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!options.hold_path.empty()) {
    file = ::CreateFileW(options.hold_path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  }
  ::Sleep(options.hold_ms);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      if (wparam == kShowTimer) {
        ::KillTimer(window, kShowTimer);
        ::ShowWindow(window, SW_SHOW);
        return 0;
      }
      if (wparam == kCloseTimer) {
        ::DestroyWindow(window);
        return 0;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT area;
      ::GetClientRect(window, &area);
      ::SetBkMode(dc, TRANSPARENT);
      ::DrawTextW(dc, L"Installing SQL Carryall...", -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// Runs the window as the options say and returns when the wizard is done.
void RunWindow(HINSTANCE instance, const Options& options) {
  if (options.window == L"never") {
    ::Sleep(options.run_ms);
    return;
  }
  WNDCLASSW cls = {};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  cls.lpszClassName = kClass;
  ::RegisterClassW(&cls);
  HWND window = ::CreateWindowExW(0, kClass, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 480, 200, nullptr, nullptr, instance, nullptr);
  if (!window) return;
  DWORD delay = 0;
  if (options.window == L"now") {
    ::ShowWindow(window, SW_SHOW);
  } else if (options.window != L"hidden") {
    delay = ParseNumber(options.window);
    ::SetTimer(window, kShowTimer, delay, nullptr);
  }
  ::SetTimer(window, kCloseTimer, delay + options.run_ms, nullptr);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  Options options = ReadOptions();
  if (options.hold_ms > 0) return Hold(options);

  WizardLog log(options.log_path);
  LogSurroundings(log);
  if (!options.lock_name.empty()) {
    StartHelper(L"WIZARD_HOLD=\"" + OwnFolder() + L"\\" + options.lock_name + L"\" WIZARD_HOLD_MS=4000");
  }
  if (options.child_ms > 0) StartHelper(L"WIZARD_HOLD_MS=" + std::to_wstring(options.child_ms));

  RunWindow(instance, options);

  log.Line(L"exit code " + std::to_wstring(static_cast<int>(options.exit_code)));
  return static_cast<int>(options.exit_code);
}
