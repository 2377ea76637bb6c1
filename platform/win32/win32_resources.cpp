// Win32 layer. Resources of the running module: string table, names, locked bytes.
#include "platform/win32/win32_platform.h"

#include "platform/win32/handles.h"

namespace carryall::win32 {

std::optional<Text> Win32Resources::LoadString(uint32_t id) {
  // With a zero buffer size LoadStringW hands out a read-only pointer into the resource,
  // so no entry is ever cut at a buffer's end.
  const wchar_t* text = nullptr;
  int length = ::LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::nullopt;
  return FromW(text, static_cast<std::size_t>(length));
}

namespace {
struct EnumContext {
  const std::function<void(const IResources::Name&)>* each;
};

BOOL CALLBACK EnumNamesProc(HMODULE /*module*/, LPCWSTR /*type*/, LPWSTR name, LONG_PTR context) {
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

bool Win32Resources::EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) {
  EnumContext context{&each};
  return ::EnumResourceNamesW(module_, W(type), EnumNamesProc, reinterpret_cast<LONG_PTR>(&context)) != FALSE;
}

IResources::Locked Win32Resources::LockResource(uint16_t id, const Text& type) {
  Locked locked;
  HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(id), W(type));
  if (!found) {
    locked.failure = Locked::Failure::kFind;
    return locked;
  }
  UniqueLoadedResource loaded(::LoadResource(module_, found));
  if (!loaded) {
    locked.failure = Locked::Failure::kLoad;
    return locked;
  }
  const void* data = ::LockResource(loaded.get());
  if (!data) {
    locked.failure = Locked::Failure::kLock;
    return locked;
  }
  // Resources of a loaded module stay mapped for its life: the data outlives this call.
  loaded.release();
  locked.data = static_cast<const uint8_t*>(data);
  locked.size = ::SizeofResource(module_, found);
  return locked;
}

}  // namespace carryall::win32
