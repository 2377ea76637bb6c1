// Benchmark helper (Windows console program): the cost of one poll of the wizard-window
// probe, the real code (launch/window_iterator with the Win32 processes layer), with
// many top-level windows open.
//
//   bench_probe.exe WINDOWS POLLS
//
// Starts itself as a second process that opens WINDOWS visible top-level windows, the
// way other programs' windows stand on a user's desktop, and waits until they are all
// open. Then times POLLS calls of ProcessHasVisibleWindow for this process, which owns
// no window: the case of every poll before the wizard shows its window, where every
// window is looked at; alternately with a bare loop of EnumWindows and
// GetWindowThreadProcessId over the same windows, what any probe must pay. Prints one line:
//   windows=<top-level windows seen> polls=<POLLS> median_us=<µs> mean_us=<µs>
//   enum_median_us=<µs of the enumeration alone, no window looked at>
//   bare_median_us=<µs of the bare loop>
// and exits 0; on a failure prints "probe-error=<what> (error <code>)" and exits 1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "launch/window_iterator.h"
#include "platform/unique_handle.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_processes.h"

namespace {

// The least a probe can do: enumerate and ask each window's owner.
BOOL CALLBACK BareVisit(HWND window, LPARAM found) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == ::GetCurrentProcessId()) *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

int Fail(const char* what, DWORD error) {
  std::printf("probe-error=%s (error %lu)\n", what, static_cast<unsigned long>(error));
  return 1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::wstring ReadyEventName(DWORD parent_id) { return L"carryall-bench-probe-ready-" + std::to_wstring(parent_id); }

// The second process: opens the windows, signals the event, then serves its windows
// until the first process ends it.
int OpenWindows(unsigned count, DWORD parent_id) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = ::DefWindowProcW;
  window_class.hInstance = ::GetModuleHandleW(/*lpModuleName=*/nullptr);
  window_class.lpszClassName = L"CarryallBenchWindow";
  if (!::RegisterClassW(&window_class)) return Fail("RegisterClassW", ::GetLastError());
  for (unsigned i = 0; i < count; ++i) {
    if (!::CreateWindowExW(/*dwExStyle=*/0, window_class.lpszClassName, L"bench window",
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, /*X=*/10 + (i % 20) * 8, /*Y=*/10 + (i / 20) * 8,
                           /*nWidth=*/200, /*nHeight=*/100, /*hWndParent=*/nullptr, /*hMenu=*/nullptr,
                           window_class.hInstance, /*lpParam=*/nullptr)) {
      return Fail("CreateWindowExW", ::GetLastError());
    }
  }
  carryall::win32::UniqueKernelHandle ready(
      ::OpenEventW(EVENT_MODIFY_STATE, /*bInheritHandle=*/FALSE, ReadyEventName(parent_id).c_str()));
  if (!ready || !::SetEvent(ready.get())) return Fail("OpenEventW/SetEvent", ::GetLastError());
  MSG message;
  while (::GetMessageW(&message, /*hWnd=*/nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"--windows") == 0)
    return OpenWindows(static_cast<unsigned>(_wtoi(argv[2])), static_cast<DWORD>(_wtoi(argv[3])));
  if (argc != 3) return Fail("usage: bench_probe.exe WINDOWS POLLS", 0);
  const unsigned count = static_cast<unsigned>(_wtoi(argv[1]));
  const unsigned polls = static_cast<unsigned>(_wtoi(argv[2]));
  if (polls == 0) return Fail("POLLS must be a positive number", 0);

  const DWORD self = ::GetCurrentProcessId();
  carryall::win32::UniqueKernelHandle ready(::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                                                           /*bInitialState=*/FALSE, ReadyEventName(self).c_str()));
  if (!ready) return Fail("CreateEventW", ::GetLastError());
  wchar_t module[MAX_PATH];
  ::GetModuleFileNameW(/*hModule=*/nullptr, module, MAX_PATH);
  std::wstring command =
      L"\"" + std::wstring(module) + L"\" --windows " + std::to_wstring(count) + L" " + std::to_wstring(self);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(/*lpApplicationName=*/nullptr, command.data(), /*lpProcessAttributes=*/nullptr,
                        /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0,
                        /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup, &info)) {
    return Fail("CreateProcessW", ::GetLastError());
  }
  carryall::win32::UniqueKernelHandle process(info.hProcess);
  carryall::win32::UniqueKernelHandle thread(info.hThread);
  HANDLE waits[] = {ready.get(), process.get()};
  if (::WaitForMultipleObjects(2, waits, /*bWaitAll=*/FALSE, /*dwMilliseconds=*/60000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    return Fail("the window process did not open its windows", ::GetLastError());
  }

  carryall::win32::Win32Processes processes;
  unsigned seen = 0;
  processes.EnumWindows([&seen](carryall::WindowHandle) {
    ++seen;
    return true;
  });
  bool found_child = carryall::ProcessHasVisibleWindow(processes, info.dwProcessId);

  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  bool found_self = false;
  std::vector<double> bare_times;
  auto elapsed_us = [&] {
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
  };
  for (unsigned i = 0; i < polls; ++i) {
    ::QueryPerformanceCounter(&start);
    found_self |= carryall::ProcessHasVisibleWindow(processes, self);
    ::QueryPerformanceCounter(&end);
    times.push_back(elapsed_us());
    ::QueryPerformanceCounter(&start);
    ::EnumWindows(BareVisit, reinterpret_cast<LPARAM>(&found_self));
    ::QueryPerformanceCounter(&end);
    bare_times.push_back(elapsed_us());
  }
  // The enumeration alone, without looking at any window: what any probe pays.
  std::vector<double> enum_times;
  for (unsigned i = 0; i < polls; ++i) {
    ::QueryPerformanceCounter(&start);
    processes.EnumWindows([](carryall::WindowHandle) { return true; });
    ::QueryPerformanceCounter(&end);
    enum_times.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                         static_cast<double>(frequency.QuadPart));
  }
  ::TerminateProcess(process.get(), 0);
  ::WaitForSingleObject(process.get(), 10000);
  // The probe must see the other process's windows and none of its own: anything else
  // would time a probe that looks at the wrong windows.
  if (!found_child || found_self || seen < count) return Fail("the probe did not see the windows as opened", 0);

  double total = 0;
  for (double t : times) total += t;
  std::printf("windows=%u polls=%u median_us=%.1f mean_us=%.1f enum_median_us=%.1f bare_median_us=%.1f\n", seen, polls,
              Median(times), total / static_cast<double>(times.size()), Median(enum_times), Median(bare_times));
  return 0;
}
