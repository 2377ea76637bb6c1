/* The setup program of the sample Windows Installer package: the wizard that the
 * bootstrapper starts. It runs
 *
 *   <system folder>\msiexec.exe /i "<its own folder>\contoso.msi" /qn [PROPERTY="value" ...]
 *
 * and ends with msiexec's exit code (0, 3010 for a restart, 1603 for a failure, ...).
 * Of its own arguments it passes on every property (a word NAME=value whose name starts
 * with a letter or an underscore), quoted as msiexec reads them, and leaves out the
 * bootstrapper's switches (/IAgreeToTheEULA, /log "<file>", ...), which msiexec would
 * refuse (the value of /log is a word without "=", so it is left out too). Exit code 1 when msiexec cannot be started;
 * 87 when the command line gets too long. */

#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#define LINE_MAX_CHARS 32767

static wchar_t line[LINE_MAX_CHARS];
static size_t used;

/* Appends the first length characters of text; returns 0 when the line would get too
 * long. */
static int append_n(const wchar_t* text, size_t length) {
  if (used + length >= LINE_MAX_CHARS) return 0;
  wmemcpy(line + used, text, length);
  used += length;
  line[used] = 0;
  return 1;
}

static int append(const wchar_t* text) { return append_n(text, wcslen(text)); }

/* Appends value between double quotes, each quote inside doubled (msiexec's rule). */
static int append_quoted(const wchar_t* value) {
  if (!append(L"\"")) return 0;
  for (const wchar_t* c = value; *c; ++c) {
    wchar_t one[3] = {*c, *c == L'"' ? L'"' : 0, 0};
    if (!append(one)) return 0;
  }
  return append(L"\"");
}

static int is_property(const wchar_t* word) {
  const wchar_t* equals = wcschr(word, L'=');
  if (!equals || equals == word) return 0;
  if (!(iswalpha(word[0]) || word[0] == L'_')) return 0;
  for (const wchar_t* c = word; c < equals; ++c)
    if (!(iswalnum(*c) || *c == L'_' || *c == L'.')) return 0;
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  wchar_t folder[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (slash) *slash = 0;

  wchar_t msiexec[MAX_PATH];
  UINT system = GetSystemDirectoryW(msiexec, MAX_PATH - 16);
  if (system == 0 || system >= MAX_PATH - 16) return 1;
  wcscat(msiexec, L"\\msiexec.exe");

  wchar_t package[MAX_PATH + 16];
  if (wcslen(folder) + 13 >= MAX_PATH + 16) return 1;
  wcscpy(package, folder);
  wcscat(package, L"\\contoso.msi");

  if (!append_quoted(msiexec) || !append(L" /i ") || !append_quoted(package) || !append(L" /qn"))
    return ERROR_INVALID_PARAMETER;
  for (int i = 1; i < argc; ++i) {
    if (!is_property(argv[i])) continue;
    const wchar_t* equals = wcschr(argv[i], L'=');
    if (!append(L" ") || !append_n(argv[i], (size_t)(equals - argv[i])) || !append(L"=") || !append_quoted(equals + 1))
      return ERROR_INVALID_PARAMETER;
  }

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(msiexec, line, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) return 1;
  CloseHandle(process.hThread);
  DWORD exit_code = 1;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &exit_code))
    exit_code = 1;
  CloseHandle(process.hProcess);
  return (int)exit_code;
}
