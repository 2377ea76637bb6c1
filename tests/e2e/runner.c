/* Test helper (Windows console program). Starts one program with an exact raw command
 * line and reports its full 32-bit exit code, which a shell running `wine` cannot see
 * (it gets only the low 8 bits).
 *
 *   runner.exe CMDFILE [--cwd DIR] [--timeout-ms N] [--env-file FILE]
 *
 * CMDFILE    UTF-8 text; its whole content, byte for byte (nothing stripped: no byte
 *            order mark, no line break), converted to UTF-16 is the lpCommandLine of
 *            CreateProcessW(NULL, ...). The program is therefore the first token of it.
 * --cwd      the child's current directory (default: the runner's).
 * --timeout-ms
 *            how long to wait for the child, in milliseconds (default 60000).
 * --env-file UTF-8 lines, LF or CRLF ended: NAME=VALUE sets a variable for the child,
 *            a line NAME without '=' removes one, empty lines are skipped. Everything
 *            else is inherited from the runner.
 *
 * On stdout, one line:
 *   exit=0x%08X                    the child ended; the runner exits with the same code
 *   timeout=%lu                    the child outlived the time-out (milliseconds) and was
 *                                  terminated with everything it started; exit code
 *                                  RUNNER_TIMED_OUT
 *   runner-error=%s (error %lu)    the runner could not do its part (with the Win32
 *                                  error code where there is one); exit code
 *                                  RUNNER_FAILED, or RUNNER_CREATE_FAILED when
 *                                  CreateProcessW failed
 * A caller tells the child's exit codes from the runner's own by that line, not by the
 * code. The low bytes of the runner's own codes copy timeout(1) and the shell (124, 125,
 * 127) for a caller that sees only those.
 *
 * The child gets a plain start-up record and no inherited handles, like a program
 * started from Explorer. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define RUNNER_TIMED_OUT 0xE2E0007Cu
#define RUNNER_FAILED 0xE2E0007Du
#define RUNNER_CREATE_FAILED 0xE2E0007Fu

static int Fail(unsigned code, const char* what, DWORD error) {
  printf("runner-error=%s (error %lu)\n", what, (unsigned long)error);
  fflush(stdout);
  return (int)code;
}

/* Reads a whole UTF-8 file as UTF-16. Returns NULL (and an error code in *error) on
 * failure; the caller frees the text. */
static wchar_t* ReadUtf8File(const wchar_t* path, DWORD* error) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/NULL);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return NULL;
  }
  DWORD size = GetFileSize(file, /*lpFileSizeHigh=*/NULL);
  char* bytes = size != INVALID_FILE_SIZE ? malloc(size + 1) : NULL;
  DWORD read = 0;
  BOOL ok = bytes != NULL && ReadFile(file, bytes, size, &read, /*lpOverlapped=*/NULL) && read == size;
  *error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (!ok) {
    free(bytes);
    return NULL;
  }
  int units = size == 0 ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)size, NULL, 0);
  if (size != 0 && units == 0) {
    *error = GetLastError();
    free(bytes);
    return NULL;
  }
  wchar_t* text = malloc((units + 1) * sizeof(wchar_t));
  if (text != NULL && units != 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)size, text, units);
  if (text != NULL) text[units] = L'\0';
  free(bytes);
  if (text == NULL) *error = ERROR_NOT_ENOUGH_MEMORY;
  return text;
}

/* Applies the lines of an environment file to the runner's own environment, which the
 * child then inherits. */
static BOOL ApplyEnvironmentFile(const wchar_t* path, DWORD* error) {
  wchar_t* text = ReadUtf8File(path, error);
  if (text == NULL) return FALSE;
  BOOL ok = TRUE;
  wchar_t* line = text;
  while (ok && *line != L'\0') {
    wchar_t* end = wcschr(line, L'\n');
    wchar_t* next = end != NULL ? end + 1 : line + wcslen(line);
    if (end == NULL) end = next;
    if (end > line && end[-1] == L'\r') --end;
    *end = L'\0';
    if (*line != L'\0') {
      wchar_t* equals = wcschr(line, L'=');
      if (equals != NULL) *equals = L'\0';
      ok = SetEnvironmentVariableW(line, equals != NULL ? equals + 1 : NULL) ||
           (equals == NULL && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
      if (!ok) *error = GetLastError();
    }
    line = next;
  }
  free(text);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return Fail(RUNNER_FAILED, "usage: runner.exe CMDFILE [--cwd DIR] [--timeout-ms N] [--env-file FILE]", 0);
  const wchar_t* cwd = NULL;
  DWORD timeout_ms = 60000;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc) return Fail(RUNNER_FAILED, "an option lacks its value", 0);
    if (wcscmp(argv[i], L"--cwd") == 0) {
      cwd = argv[i + 1];
    } else if (wcscmp(argv[i], L"--timeout-ms") == 0) {
      wchar_t* end = NULL;
      unsigned long value = wcstoul(argv[i + 1], &end, 10);
      if (end == argv[i + 1] || *end != L'\0' || value >= INFINITE)
        return Fail(RUNNER_FAILED, "--timeout-ms needs a number of milliseconds", 0);
      timeout_ms = (DWORD)value;
    } else if (wcscmp(argv[i], L"--env-file") == 0) {
      DWORD error = 0;
      if (!ApplyEnvironmentFile(argv[i + 1], &error))
        return Fail(RUNNER_FAILED, "cannot apply the environment file", error);
    } else {
      return Fail(RUNNER_FAILED, "unknown option", 0);
    }
  }

  DWORD error = 0;
  wchar_t* command_line = ReadUtf8File(argv[1], &error);
  if (command_line == NULL) return Fail(RUNNER_FAILED, "cannot read the command-line file as UTF-8", error);

  /* A job lets a time-out end the child together with anything it started (a
   * bootstrapper's wizard). The child starts suspended so that it cannot start anything
   * before it is in the job. Where jobs are not available, only the child is ended. */
  HANDLE job = CreateJobObjectW(/*lpJobAttributes=*/NULL, /*lpName=*/NULL);
  STARTUPINFOW startup = {0};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {0};
  if (!CreateProcessW(/*lpApplicationName=*/NULL, command_line, /*lpProcessAttributes=*/NULL,
                      /*lpThreadAttributes=*/NULL, /*bInheritHandles=*/FALSE, CREATE_SUSPENDED,
                      /*lpEnvironment=*/NULL, cwd, &startup, &process))
    return Fail(RUNNER_CREATE_FAILED, "CreateProcessW failed", GetLastError());
  free(command_line);
  BOOL in_job = job != NULL && AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);

  if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    if (!in_job || !TerminateJobObject(job, RUNNER_TIMED_OUT)) TerminateProcess(process.hProcess, RUNNER_TIMED_OUT);
    WaitForSingleObject(process.hProcess, 10000);
    printf("timeout=%lu\n", (unsigned long)timeout_ms);
    fflush(stdout);
    return (int)RUNNER_TIMED_OUT;
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code))
    return Fail(RUNNER_FAILED, "GetExitCodeProcess failed", GetLastError());
  CloseHandle(process.hProcess);
  printf("exit=0x%08lX\n", (unsigned long)exit_code);
  fflush(stdout);
  return (int)exit_code;
}
