/* Test helper (Windows console program). Acts like an antivirus scanner that keeps a
 * freshly written file open for a while: it opens FILE for reading as soon as it can,
 * sharing reading only (nobody may delete, rename or write it meanwhile), waits for the
 * process whose executable is named PROGRAM to end, then keeps the file MS milliseconds
 * longer and lets it go.
 *
 *   scanner.exe FILE PROGRAM MS
 *
 * Prints "holding" once it has the file and "released" when it lets go; exits 0, or 1
 * when it did not get the file or find the program within 60 s.
 */
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <wchar.h>

static HANDLE OpenProgram(const wchar_t* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return NULL;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  HANDLE process = NULL;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !process; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return process;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: scanner.exe FILE PROGRAM MS\n");
    return 2;
  }
  const DWORD hold_ms = (DWORD)_wtoi(argv[3]);
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 6000 && file == INVALID_HANDLE_VALUE; ++i) {
    file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) Sleep(10);
  }
  if (file == INVALID_HANDLE_VALUE) {
    wprintf(L"no file\n");
    return 1;
  }
  wprintf(L"holding\n");
  fflush(stdout);
  HANDLE program = NULL;
  for (int i = 0; i < 6000 && !program; ++i) {
    program = OpenProgram(argv[2]);
    if (!program) Sleep(10);
  }
  if (!program) {
    CloseHandle(file);
    wprintf(L"no program\n");
    return 1;
  }
  WaitForSingleObject(program, INFINITE);
  CloseHandle(program);
  Sleep(hold_ms);
  CloseHandle(file);
  wprintf(L"released\n");
  return 0;
}
