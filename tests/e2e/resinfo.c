/* Test helper (Windows console program). Reads back what a program file carries through
 * the calls that Explorer and deployment tools use, so that a test sees it as Windows does.
 *
 *   resinfo.exe FILE icons             "groups=<n>", the icon count of ExtractIconExW;
 *                                      then, for each RT_GROUP_ICON group in the order
 *                                      Windows enumerates them, "group id=<id>
 *                                      images=<n>" and one line per image of the group:
 *                                      "image w=<px> h=<px> bits=<n> bytes=<n>
 *                                      crc=<crc32 of the RT_ICON data, hex> icon=ok|failed"
 *                                      (icon=ok: CreateIconFromResourceEx made an icon)
 *   resinfo.exe FILE version           "file=<a.b.c.d> product=<a.b.c.d>" from the fixed
 *                                      part, "translation=<language><code page>" (hex),
 *                                      then "<Name>=<value>" for each StringFileInfo value
 *                                      of that translation that the file has, all read
 *                                      with GetFileVersionInfoW and VerQueryValueW
 *   resinfo.exe FILE strings ID...     "<id>=<text>" by LoadStringW, in the language that
 *                                      Windows chooses for this process ("<id>!" when
 *                                      there is no text)
 *
 * Texts are UTF-8 with line feeds written as \n and backslashes as \\. Exit code 0 on
 * success, 1 when the file cannot be read, 2 on bad usage. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void PrintText(const wchar_t* text, int length) {
  for (int i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c == L'\n') {
      fputs("\\n", stdout);
    } else if (c == L'\\') {
      fputs("\\\\", stdout);
    } else {
      char utf8[8];
      int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, utf8, sizeof utf8, NULL, NULL);
      fwrite(utf8, 1, n > 0 ? n : 0, stdout);
    }
  }
}

static unsigned long Crc32(const unsigned char* data, DWORD size) {
  unsigned long crc = 0xFFFFFFFFul;
  for (DWORD i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1)));
  }
  return crc ^ 0xFFFFFFFFul;
}

#pragma pack(push, 2)
typedef struct {
  BYTE width, height, colors, reserved;
  WORD planes, bits;
  DWORD bytes;
  WORD id;
} GroupEntry;
typedef struct {
  WORD reserved, type, count;
  GroupEntry entries[1];
} GroupHeader;
#pragma pack(pop)

static BOOL CALLBACK PrintGroup(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR unused) {
  (void)type;
  (void)unused;
  HRSRC found = FindResourceW(module, name, (LPCWSTR)RT_GROUP_ICON);
  const GroupHeader* group = found ? (const GroupHeader*)LockResource(LoadResource(module, found)) : NULL;
  if (!group) return TRUE;
  if (IS_INTRESOURCE(name)) {
    printf("group id=%u images=%u\n", (unsigned)(ULONG_PTR)name, group->count);
  } else {
    fputs("group id=", stdout);
    PrintText(name, (int)wcslen(name));
    printf(" images=%u\n", group->count);
  }
  for (WORD i = 0; i < group->count; ++i) {
    const GroupEntry* entry = &group->entries[i];
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(entry->id), (LPCWSTR)RT_ICON);
    const BYTE* data = image ? (const BYTE*)LockResource(LoadResource(module, image)) : NULL;
    DWORD size = image ? SizeofResource(module, image) : 0;
    int width = entry->width ? entry->width : 256, height = entry->height ? entry->height : 256;
    HICON icon = data ? CreateIconFromResourceEx((BYTE*)data, size, TRUE, 0x00030000, width, height, 0) : NULL;
    printf("image w=%d h=%d bits=%u bytes=%lu crc=%08lx icon=%s\n", width, height, entry->bits, (unsigned long)size,
           data ? Crc32(data, size) : 0ul, icon ? "ok" : "failed");
    if (icon) DestroyIcon(icon);
  }
  return TRUE;
}

static int Icons(const wchar_t* file) {
  printf("groups=%u\n", ExtractIconExW(file, -1, NULL, NULL, 0));
  HMODULE module = LoadLibraryExW(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 1;
  EnumResourceNamesW(module, (LPCWSTR)RT_GROUP_ICON, PrintGroup, 0);
  FreeLibrary(module);
  return 0;
}

static int Version(const wchar_t* file) {
  static const wchar_t* const kNames[] = {L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
                                          L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion",
                                          L"Comments",       L"LegalTrademarks"};
  DWORD handle = 0, size = GetFileVersionInfoSizeW(file, &handle);
  void* info = size ? malloc(size) : NULL;
  if (!info || !GetFileVersionInfoW(file, 0, size, info)) return 1;
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (VerQueryValueW(info, L"\\", (void**)&fixed, &length) && fixed) {
    printf("file=%lu.%lu.%lu.%lu product=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
           fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF,
           fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
           fixed->dwProductVersionLS & 0xFFFF);
  }
  WORD* translation = NULL;
  if (!VerQueryValueW(info, L"\\VarFileInfo\\Translation", (void**)&translation, &length) || length < 4) {
    free(info);
    return 0;
  }
  printf("translation=%04x%04x\n", translation[0], translation[1]);
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
    wchar_t path[128];
    wchar_t* value = NULL;
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], kNames[i]);
    if (VerQueryValueW(info, path, (void**)&value, &length) && value) {
      PrintText(kNames[i], (int)wcslen(kNames[i]));
      fputs("=", stdout);
      PrintText(value, (int)wcslen(value));
      fputs("\n", stdout);
    }
  }
  free(info);
  return 0;
}

static int Strings(const wchar_t* file, int count, wchar_t** ids) {
  HMODULE module = LoadLibraryExW(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 1;
  for (int i = 0; i < count; ++i) {
    UINT id = (UINT)wcstoul(ids[i], NULL, 10);
    const wchar_t* text = NULL;
    int length = LoadStringW(module, id, (LPWSTR)&text, 0);
    printf("%u%s", id, length > 0 ? "=" : "!");
    if (length > 0) PrintText(text, length);
    fputs("\n", stdout);
  }
  FreeLibrary(module);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[2], L"icons") == 0 && argc == 3) return Icons(argv[1]);
  if (argc >= 3 && wcscmp(argv[2], L"version") == 0 && argc == 3) return Version(argv[1]);
  if (argc >= 4 && wcscmp(argv[2], L"strings") == 0) return Strings(argv[1], argc - 3, argv + 3);
  fputs("usage: resinfo.exe FILE icons | version | strings ID...\n", stderr);
  return 2;
}
