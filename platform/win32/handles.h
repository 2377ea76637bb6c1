// Win32 layer. The owning types of every handle, block and context the layer holds, all
// on UniqueHandle: each traits struct names the handle's type, the value that means
// "none" (what the creating call returns on failure) and the one call that releases it.
// Nothing the layer obtains is released by hand; ownership leaves an owner only through
// release(), on the line that hands it on.
#pragma once

#include <windows.h>

#include <shlobj.h>
#include <wincrypt.h>

#include "platform/unique_handle.h"
#include "platform/win32/system_dlls.h"

namespace carryall::win32 {

// A file: CreateFileW fails with INVALID_HANDLE_VALUE, not null.
struct FileTraits {
  using pointer = HANDLE;
  static pointer Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(pointer value) { ::CloseHandle(value); }
};
using UniqueFile = UniqueHandle<FileTraits>;

// Processes, threads, events and the other kernel objects whose creators fail with null.
struct KernelTraits {
  using pointer = HANDLE;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::CloseHandle(value); }
};
using UniqueKernelHandle = UniqueHandle<KernelTraits>;

// A search of FindFirstFileExW.
struct FindTraits {
  using pointer = HANDLE;
  static pointer Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(pointer value) { ::FindClose(value); }
};
using UniqueFind = UniqueHandle<FindTraits>;

struct RegistryKeyTraits {
  using pointer = HKEY;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::RegCloseKey(value); }
};
using UniqueKey = UniqueHandle<RegistryKeyTraits>;

// A security identifier made by AllocateAndInitializeSid.
struct SidTraits {
  using pointer = PSID;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::FreeSid(value); }
};
using UniqueSid = UniqueHandle<SidTraits>;

// A block from LocalAlloc, or one that an API allocated that way for the caller (security
// descriptors, access lists), seen as a T.
template <typename T>
struct LocalTraits {
  using pointer = T*;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::LocalFree(value); }
};
template <typename T>
using UniqueLocal = UniqueHandle<LocalTraits<T>>;

// An item-identifier list the shell allocated; it goes back to the shell's allocator.
struct ShellItemsTraits {
  using pointer = LPITEMIDLIST;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) {
    IMalloc* allocator = nullptr;
    if (FAILED(::SHGetMalloc(&allocator))) return;
    allocator->Free(value);
    allocator->Release();
  }
};
using UniqueShellItems = UniqueHandle<ShellItemsTraits>;

// A window this layer created and destroys (the modeless splash).
struct WindowTraits {
  using pointer = HWND;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::DestroyWindow(value); }
};
using UniqueWindow = UniqueHandle<WindowTraits>;

// A loaded resource. FreeResource does nothing for a module's own resources on any
// 32-bit system; the owner still gives back what LoadResource handed out when the
// resource is not kept.
struct LoadedResourceTraits {
  using pointer = HGLOBAL;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { ::FreeResource(value); }
};
using UniqueLoadedResource = UniqueHandle<LoadedResourceTraits>;

// A certificate store; closed with no flags, so contexts still held keep their own
// reference and stay usable.
struct CertStoreTraits {
  using pointer = HCERTSTORE;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { sysdll::CertCloseStore(value, /*dwFlags=*/0); }
};
using UniqueCertStore = UniqueHandle<CertStoreTraits>;

struct CryptMsgTraits {
  using pointer = HCRYPTMSG;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { sysdll::CryptMsgClose(value); }
};
using UniqueCryptMsg = UniqueHandle<CryptMsgTraits>;

struct CertContextTraits {
  using pointer = PCCERT_CONTEXT;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer value) { sysdll::CertFreeCertificateContext(value); }
};
using UniqueCertContext = UniqueHandle<CertContextTraits>;

}  // namespace carryall::win32
