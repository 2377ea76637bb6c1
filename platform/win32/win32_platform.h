// Win32 layer. The real platform: thin wrappers over the Windows API, with the flags,
// sizes and orders the core relies on. Only the Windows build compiles this. Files and
// code pages are in win32_files.cpp, resources in win32_resources.cpp, the system's
// services in win32_system.cpp, threads and waits in win32_threads.cpp; the dialogs
// are the user interface's own (ui/win32/).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/platform.h"

namespace carryall::win32 {

// The failure of the call that just failed on this thread, with its GetLastError value.
inline SystemError LastError() { return Failed(::GetLastError()); }

// UTF-16 text to a code page, sized from the converter's own answer so that code pages
// with multi-byte characters lose nothing. Stops at the first NUL.
Fallible<std::string> WideToCodePage(UINT code_page, const Text& text);
Text CodePageToWide(UINT code_page, const std::string& bytes);

inline const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline Text FromW(const wchar_t* text, std::size_t size) { return Text(reinterpret_cast<const char16_t*>(text), size); }

// Files and folders, with the environment and the access lists that belong with them.
class Win32FileSystem : public IFileSystem, public IEnvironment, public ISecurity {
 public:
  Fallible<Text> GetFullPathName(const Text& path) override;
  Fallible<Text> GetTempPath() override;
  Fallible<Text> GetFolderPath(int csidl) override;
  Fallible<Text> GetEnvironmentVariable(const Text& name) override;
  Fallible<Text> GetModuleFileName() override;
  Status CreateDirectory(const Text& path) override;
  Status CreateDirectoryTree(const Text& path) override;
  Status CreateProbeFile(const Text& path) override;
  Fallible<OpenedForWriting> OpenForWriting(const Text& path) override;
  Fallible<std::unique_ptr<IFileHandle>> OpenForHolding(const Text& path) override;
  Fallible<std::unique_ptr<IFileHandle>> OpenEntry(const Text& path, bool deletion) override;
  Fallible<std::unique_ptr<IReadFile>> OpenRead(const Text& path) override;
  Status DeleteFile(const Text& path) override;
  Status DeleteAtRestart(const Text& path) override;
  Status RemoveDirectory(const Text& path) override;
  Status SetCurrentDirectory(const Text& path) override;
  Fallible<FirstFound> FindFirst(const Text& pattern) override;
  Status SetFolderAccess(const Text& path, uint32_t mask) override;
  Fallible<uint32_t> GetFileAttributes(const Text& path) override;
};

class Win32CodePage : public ICodePage {
 public:
  Fallible<std::string> ToAnsi(const Text& text) override { return WideToCodePage(CP_THREAD_ACP, text); }
  Text FromAnsi(const std::string& ansi) override { return CodePageToWide(CP_THREAD_ACP, ansi); }
};

class Win32Resources : public IResources {
 public:
  explicit Win32Resources(HINSTANCE module) : module_(module) {}
  Fallible<Text> LoadString(uint32_t id) override;
  Status EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) override;
  Fallible<Found> FindResource(uint16_t id, const Text& type) override;
  Fallible<Loaded> LoadResource(Found found) override;
  Fallible<Bytes> LockResource(Found found, Loaded loaded) override;

 private:
  HINSTANCE module_;
};

class Win32System : public ISystem {
 public:
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
  Text GetCommandLine() override;
  Fallible<std::array<uint8_t, 16>> CreateGuid() override;
};

class Win32Threads : public IThreads {
 public:
  void ComInitialize() override;
  void ComUninitialize() override;
  Fallible<EventHandle> CreateManualResetEvent() override;
  void SetEvent(EventHandle event) override { ::SetEvent(event); }
  void ResetEvent(EventHandle event) override { ::ResetEvent(event); }
  Status StartThread(std::function<void()> body) override;
  Fallible<uint32_t> WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) override;
  Status WaitForEvent(EventHandle event) override;
  bool PeekMessage(Message& message) override;
  void DispatchMessage(const Message& message) override;
  void WakeMainThread() override;

 private:
  DWORD main_thread_ = ::GetCurrentThreadId();
};

}  // namespace carryall::win32
