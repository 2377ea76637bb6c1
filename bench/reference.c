/* Benchmark helper: the platform's own share of the bootstrapper's work, done by the
 * shortest program that does it. It asks WinVerifyTrust the same question about the same
 * file as the bootstrapper asks about itself (generic Authenticode action, no user
 * interface, no revocation check, the file by path, no state kept), then does what the
 * bootstrapper does next with the platform's own calls:
 *
 *   reference.exe copy FILE SOURCE TARGET   verify FILE, then CopyFileW SOURCE to TARGET
 *   reference.exe run FILE PROGRAM [WORDS]  verify FILE, then start PROGRAM with WORDS
 *                                           and wait for it
 *
 * A signature that does not verify is no failure here: the time is what is measured.
 * Exit status: 0, or the program's exit code for run; 1 when a call failed. */
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <stddef.h>
#include <stdio.h>
#include <wchar.h>

static LONG Verify(const wchar_t* path) {
  WINTRUST_FILE_INFO file = {0};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path;
  WINTRUST_DATA request = {0};
  /* The 48-byte form the bootstrapper sends: up to and including dwUIContext. */
  request.cbStruct = (DWORD)(offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD));
  request.dwUIChoice = WTD_UI_NONE;
  request.fdwRevocationChecks = WTD_REVOKE_NONE;
  request.dwUnionChoice = WTD_CHOICE_FILE;
  request.pFile = &file;
  request.dwStateAction = WTD_STATEACTION_IGNORE;
  request.dwProvFlags = WTD_SAFER_FLAG;
  request.dwUIContext = WTD_UICONTEXT_EXECUTE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(NULL, &action, &request);
}

static int Fail(const char* what) {
  fprintf(stderr, "reference: %s failed, error %lu\n", what, (unsigned long)GetLastError());
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && wcscmp(argv[1], L"copy") == 0) {
    Verify(argv[2]);
    return CopyFileW(argv[3], argv[4], /*bFailIfExists=*/FALSE) ? 0 : Fail("CopyFileW");
  }
  if (argc >= 4 && wcscmp(argv[1], L"run") == 0) {
    Verify(argv[2]);
    /* The program's path quoted, then the words as they came. */
    static wchar_t line[32768];
    size_t used = 0;
    for (int i = 3; i < argc; ++i) {
      const size_t length = wcslen(argv[i]);
      if (used + length + 4 >= 32768) return Fail("the command line's length");
      if (i > 3) line[used++] = L' ';
      if (i == 3) line[used++] = L'"';
      wmemcpy(line + used, argv[i], length);
      used += length;
      if (i == 3) line[used++] = L'"';
    }
    line[used] = L'\0';
    STARTUPINFOW startup = {0};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
      return Fail("CreateProcessW");
    CloseHandle(process.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
      CloseHandle(process.hProcess);
      return Fail("the wait for the program");
    }
    CloseHandle(process.hProcess);
    return (int)code;
  }
  fprintf(stderr, "usage: reference.exe copy FILE SOURCE TARGET | run FILE PROGRAM [WORDS]\n");
  return 2;
}
