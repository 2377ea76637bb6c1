/* Test helper (Windows console program). Looks at and drives the windows of other
 * programs in the same Wine session, deterministically, without synthetic input: every
 * action is a message posted to the window or control, which its own message loop
 * handles as it would the user's.
 *
 * WINDOW names a visible top-level window: its exact caption, or "exe=NAME" for the
 * first visible top-level window of a process whose executable is NAME (any case).
 *
 *   peek.exe watch MS                 for MS milliseconds, every 20 ms, print one
 *                                          line per change of a visible top-level window:
 *                                          "t=<ms> show|hide hwnd=<handle> pid=<pid>
 *                                           exe=<name> class=<class> caption=<caption>"
 *                                          (a window that hides as its process ends
 *                                          shows exe=? and no class: match it by hwnd);
 *                                          the first line, "t=0 ready", says it runs
 *   peek.exe watch MS EXE             the same, and also a line when a process named
 *                                          EXE (any case) starts or ends, seen by the same
 *                                          look as the windows: within one look, windows
 *                                          shown come first, then the process, then
 *                                          windows hidden. "t=<ms>
 *                                          started|ended hwnd=- pid=<pid> exe=<name>
 *                                          class= caption="
 *   peek.exe find WINDOW MS           wait up to MS milliseconds for the window; print
 *                                          "window caption=<caption> rect=<l>,<t>,<r>,<b>
 *                                          client=<w>x<h>" (screen coordinates, client
 *                                          size) and one line per control: "control
 *                                          id=<id> class=<class> visible=<0|1>
 *                                          style=<hex> rect=<l>,<t>,<r>,<b> text=<text>"
 *                                          (the text last: it may hold line breaks)
 *   peek.exe set-text WINDOW ID TEXT  set a control's text (WM_SETTEXT)
 *   peek.exe command WINDOW ID        post WM_COMMAND for the control id (a button
 *                                          press as the dialog sees it)
 *   peek.exe syscommand WINDOW CMD    post WM_SYSCOMMAND with CMD (decimal or 0x hex):
 *                                          a system-menu entry chosen
 *   peek.exe button-up WINDOW ID      post WM_LBUTTONUP at the control's centre: the
 *                                          mouse button released over it
 *   peek.exe char WINDOW ID CODE      post WM_CHAR with the character code to the
 *                                          control
 *   peek.exe focus WINDOW             print "focus id=<id>": the control of the window
 *                                          that has its thread's keyboard focus (id 0
 *                                          when the focus is on no control of it)
 *   peek.exe key WINDOW VK            post WM_KEYDOWN and WM_KEYUP with the virtual
 *                                          key to the window's keyboard focus (the
 *                                          window itself when its thread names none)
 *
 * Output is UTF-8. Exit code 0 on success, 1 when the window or control is missing,
 * 2 on bad usage. */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define MAX_TRACKED 256

static void PrintUtf8(const wchar_t* text) {
  char buffer[2048];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
  if (n > 0) fputs(buffer, stdout);
}

static void ExeName(DWORD pid, wchar_t* name, size_t size) {
  wcscpy(name, L"?");
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
    if (entry.th32ProcessID == pid) {
      wcsncpy(name, entry.szExeFile, size - 1);
      name[size - 1] = 0;
      break;
    }
  }
  CloseHandle(snap);
}

typedef struct {
  HWND windows[MAX_TRACKED];
  int count;
} WindowSet;

static BOOL CALLBACK CollectVisible(HWND window, LPARAM context) {
  WindowSet* set = (WindowSet*)context;
  if (IsWindowVisible(window) && set->count < MAX_TRACKED) set->windows[set->count++] = window;
  return TRUE;
}

static int Contains(const WindowSet* set, HWND window) {
  for (int i = 0; i < set->count; ++i)
    if (set->windows[i] == window) return 1;
  return 0;
}

static void Describe(DWORD elapsed, const char* what, HWND window) {
  wchar_t cls[256] = L"", caption[512] = L"", exe[MAX_PATH];
  DWORD pid = 0;
  GetClassNameW(window, cls, 256);
  GetWindowTextW(window, caption, 512);
  GetWindowThreadProcessId(window, &pid);
  ExeName(pid, exe, MAX_PATH);
  printf("t=%lu %s hwnd=%p pid=%lu exe=", (unsigned long)elapsed, what, (void*)window, (unsigned long)pid);
  PrintUtf8(exe);
  fputs(" class=", stdout);
  PrintUtf8(cls);
  fputs(" caption=", stdout);
  PrintUtf8(caption);
  fputs("\n", stdout);
  fflush(stdout);
}

/* The id of a running process named exe (any case), or 0; with a pid, that process
 * only. */
static DWORD RunningProcess(const wchar_t* exe, DWORD pid) {
  DWORD found = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry))
    if (_wcsicmp(entry.szExeFile, exe) == 0 && (!pid || entry.th32ProcessID == pid)) found = entry.th32ProcessID;
  CloseHandle(snap);
  return found;
}

static void DescribeProcess(DWORD elapsed, const char* what, DWORD pid, const wchar_t* exe) {
  printf("t=%lu %s hwnd=- pid=%lu exe=", (unsigned long)elapsed, what, (unsigned long)pid);
  PrintUtf8(exe);
  fputs(" class= caption=\n", stdout);
  fflush(stdout);
}

static int Watch(DWORD duration, const wchar_t* exe) {
  WindowSet before = {{0}, 0}, now;
  DWORD process = 0;
  int started = 0;
  DWORD start = GetTickCount();
  puts("t=0 ready");
  fflush(stdout);
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    /* A start is looked for before the windows and an end after them: a window shown
     * before the process started, or hidden after it ended, is then never printed on
     * the wrong side of it. */
    if (exe && !process && (process = RunningProcess(exe, 0)) != 0) started = 1;
    now.count = 0;
    EnumWindows(CollectVisible, (LPARAM)&now);
    for (int i = 0; i < now.count; ++i)
      if (!Contains(&before, now.windows[i])) Describe(elapsed, "show", now.windows[i]);
    if (started) DescribeProcess(elapsed, "started", process, exe);
    started = 0;
    if (process && !RunningProcess(exe, process)) {
      DescribeProcess(elapsed, "ended", process, exe);
      process = 0;
    }
    for (int i = 0; i < before.count; ++i)
      if (!Contains(&now, before.windows[i])) Describe(elapsed, "hide", before.windows[i]);
    before = now;
    if (elapsed >= duration) break;
    Sleep(20);
  }
  printf("t=%lu end\n", (unsigned long)(GetTickCount() - start));
  return 0;
}

typedef struct {
  const wchar_t* name;
  HWND found;
} FindContext;

static BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  FindContext* find = (FindContext*)context;
  wchar_t text[512];
  if (!IsWindowVisible(window)) return TRUE;
  if (wcsncmp(find->name, L"exe=", 4) == 0) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    ExeName(pid, text, 512);
    if (_wcsicmp(text, find->name + 4) != 0) return TRUE;
  } else {
    GetWindowTextW(window, text, 512);
    if (wcscmp(text, find->name) != 0) return TRUE;
  }
  find->found = window;
  return FALSE;
}

static HWND FindTopLevel(const wchar_t* name, DWORD wait_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    FindContext find = {name, NULL};
    EnumWindows(MatchWindow, (LPARAM)&find);
    if (find.found || GetTickCount() - start >= wait_ms) return find.found;
    Sleep(20);
  }
}

static void PrintRect(HWND window) {
  RECT rect = {0, 0, 0, 0};
  GetWindowRect(window, &rect);
  printf(" rect=%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
}

static BOOL CALLBACK DumpChild(HWND child, LPARAM context) {
  (void)context;
  wchar_t cls[256] = L"", text[1024] = L"";
  DWORD_PTR copied = 0;
  GetClassNameW(child, cls, 256);
  /* GetWindowTextW does not ask a control of another process for its text. */
  SendMessageTimeoutW(child, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &copied);
  printf("control id=%d class=", GetDlgCtrlID(child));
  PrintUtf8(cls);
  printf(" visible=%d style=%08lx", IsWindowVisible(child) ? 1 : 0, (unsigned long)GetWindowLongW(child, GWL_STYLE));
  PrintRect(child);
  fputs(" text=", stdout);
  PrintUtf8(text);
  fputs("\n", stdout);
  return TRUE;
}

/* The control ID of the window named by argv[2], or NULL (the window too when asked). */
static HWND FindControl(const wchar_t* name, const wchar_t* id, HWND* window) {
  HWND top = FindTopLevel(name, 5000);
  if (window) *window = top;
  return top ? GetDlgItem(top, _wtoi(id)) : NULL;
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[1], L"watch") == 0)
    return Watch((DWORD)wcstoul(argv[2], NULL, 10), argc >= 4 ? argv[3] : NULL);
  if (argc >= 4 && wcscmp(argv[1], L"find") == 0) {
    HWND window = FindTopLevel(argv[2], (DWORD)wcstoul(argv[3], NULL, 10));
    wchar_t caption[512] = L"";
    RECT client = {0, 0, 0, 0};
    if (!window) {
      puts("missing");
      return 1;
    }
    GetWindowTextW(window, caption, 512);
    GetClientRect(window, &client);
    fputs("window caption=", stdout);
    PrintUtf8(caption);
    PrintRect(window);
    printf(" client=%ldx%ld\n", client.right - client.left, client.bottom - client.top);
    EnumChildWindows(window, DumpChild, 0);
    return 0;
  }
  if (argc >= 5 && wcscmp(argv[1], L"set-text") == 0) {
    HWND control = FindControl(argv[2], argv[3], NULL);
    if (!control) return 1;
    SendMessageW(control, WM_SETTEXT, 0, (LPARAM)argv[4]);
    return 0;
  }
  if (argc >= 4 && wcscmp(argv[1], L"command") == 0) {
    HWND window;
    HWND control = FindControl(argv[2], argv[3], &window);
    if (!window) return 1;
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), BN_CLICKED), (LPARAM)control);
    return 0;
  }
  if (argc >= 4 && wcscmp(argv[1], L"syscommand") == 0) {
    HWND window = FindTopLevel(argv[2], 5000);
    if (!window) return 1;
    PostMessageW(window, WM_SYSCOMMAND, (WPARAM)wcstoul(argv[3], NULL, 0), 0);
    return 0;
  }
  if (argc >= 4 && wcscmp(argv[1], L"button-up") == 0) {
    HWND control = FindControl(argv[2], argv[3], NULL);
    RECT client;
    if (!control) return 1;
    GetClientRect(control, &client);
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(client.right / 2, client.bottom / 2));
    return 0;
  }
  if (argc >= 5 && wcscmp(argv[1], L"char") == 0) {
    HWND control = FindControl(argv[2], argv[3], NULL);
    if (!control) return 1;
    PostMessageW(control, WM_CHAR, (WPARAM)wcstoul(argv[4], NULL, 0), 1);
    return 0;
  }
  if (argc >= 3 && wcscmp(argv[1], L"focus") == 0) {
    HWND window = FindTopLevel(argv[2], 5000);
    GUITHREADINFO info;
    if (!window) return 1;
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info)) return 1;
    printf("focus id=%d\n", info.hwndFocus && IsChild(window, info.hwndFocus) ? GetDlgCtrlID(info.hwndFocus) : 0);
    return 0;
  }
  if (argc >= 4 && wcscmp(argv[1], L"key") == 0) {
    HWND window = FindTopLevel(argv[2], 5000);
    GUITHREADINFO info;
    HWND target;
    WPARAM key = (WPARAM)wcstoul(argv[3], NULL, 0);
    if (!window) return 1;
    info.cbSize = sizeof info;
    target =
        GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) && info.hwndFocus ? info.hwndFocus : window;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, (LPARAM)0xC0000001);
    return 0;
  }
  fputs(
      "usage: peek.exe watch MS | find WINDOW MS | set-text WINDOW ID TEXT | command WINDOW ID |\n"
      "       syscommand WINDOW CMD | button-up WINDOW ID | char WINDOW ID CODE | focus WINDOW |\n"
      "       key WINDOW VK\n",
      stderr);
  return 2;
}
