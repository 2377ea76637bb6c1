// Loads the DLL named on the command line by name alone, through the default search
// order that an import table entry also goes through. Exit code 0 when it loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  return LoadLibraryW(argv[1]) != NULL ? 0 : 1;
}
