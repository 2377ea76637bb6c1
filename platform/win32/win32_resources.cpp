// Win32 layer. Resources of the running module: string table, names, locked bytes.
#include "platform/win32/win32_platform.h"

#include "platform/win32/handles.h"

namespace carryall::win32 {

Fallible<Text> Win32Resources::LoadString(uint32_t id) {
  // With a zero buffer size LoadStringW hands out a read-only pointer into the resource,
  // so no entry is ever cut at a buffer's end.
  const wchar_t* text = nullptr;
  int length = ::LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return Failed(ERROR_RESOURCE_NAME_NOT_FOUND);
  return FromW(text, static_cast<std::size_t>(length));
}

namespace {
struct EnumContext {
  const std::function<void(const IResources::Name&)>* each;
};

BOOL CALLBACK EnumNamesProc(HMODULE /*module*/, LPCWSTR /*type*/, LPWSTR name, LONG_PTR context) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumResourceNamesW hands back the pointer it was given
  const auto& each = *reinterpret_cast<EnumContext*>(context)->each;
  IResources::Name entry;
  if (IS_INTRESOURCE(name)) {
    entry.id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name));
  } else {
    entry.is_integer = false;
    entry.text = FromW(name, wcslen(name));
  }
  each(entry);
  return TRUE;  // always go on
}
}  // namespace

Status Win32Resources::EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) {
  EnumContext context{&each};
  if (!::EnumResourceNamesW(module_, W(type), EnumNamesProc, reinterpret_cast<LONG_PTR>(&context))) return LastError();
  return Succeeded();
}

Fallible<IResources::Found> Win32Resources::FindResource(uint16_t id, const Text& type) {
  HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(id), W(type));
  if (!found) return LastError();
  return Found{found};
}

Fallible<IResources::Loaded> Win32Resources::LoadResource(Found found) {
  // Resources of a loaded module stay mapped for its life: nothing is ever freed.
  HGLOBAL loaded = ::LoadResource(module_, static_cast<HRSRC>(const_cast<void*>(found)));
  if (!loaded) return LastError();
  return Loaded{loaded};
}

Fallible<IResources::Bytes> Win32Resources::LockResource(Found found, Loaded loaded) {
  const void* data = ::LockResource(static_cast<HGLOBAL>(const_cast<void*>(loaded)));
  if (!data) return LastError();
  const DWORD size = ::SizeofResource(module_, static_cast<HRSRC>(const_cast<void*>(found)));
  return Bytes{static_cast<const uint8_t*>(data), static_cast<uint32_t>(size)};
}

}  // namespace carryall::win32
