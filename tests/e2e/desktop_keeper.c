/* Keeps Wine's desktop up for a whole test session.
 *
 * Under Wine the desktop window lives in an explorer.exe process that the first window of
 * a session starts and that ends a few seconds after the last window has gone. A program
 * whose first windows come while it starts is then racing the desktop's own start, which
 * Windows never makes it do (its desktop is always there): two processes start two
 * desktops, and the one that loses can hold its starter's output pipes open for ever.
 * This program owns one hidden window for as long as the session lasts, so the desktop
 * is started once, here, before any test runs.
 *
 *   desktop_keeper.exe READY_FILE
 *
 * writes READY_FILE once its window exists, then waits for the session's end (wineserver
 * -k ends it).
 */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  WNDCLASSW window_class = {0};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.lpszClassName = L"CarryallDesktopKeeper";
  if (!RegisterClassW(&window_class)) return 1;
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Carryall desktop keeper", WS_POPUP, 0, 0, 1, 1, NULL,
                                NULL, window_class.hInstance, NULL);
  if (!window) return 1;
  HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
