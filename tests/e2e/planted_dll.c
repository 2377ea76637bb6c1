// A stand-in for a DLL that someone left in a Downloads folder under a system DLL's name.
// Loading it is all it takes to run code: DllMain writes "<its own path>.loaded", which
// test_dll.py looks for. It exports nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
