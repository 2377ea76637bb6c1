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

// UTF-16 text to a code page, sized from the converter's own answer so that code pages
// with multi-byte characters lose nothing. Stops at the first NUL. nullopt on failure.
std::optional<std::string> WideToCodePage(UINT code_page, const Text& text);
Text CodePageToWide(UINT code_page, const std::string& bytes);

inline const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline Text FromW(const wchar_t* text, std::size_t size) {
  return Text(reinterpret_cast<const char16_t*>(text), size);
}

// Files and folders, with the environment and the access lists that belong with them.
class Win32FileSystem : public IFileSystem, public IEnvironment, public ISecurity {
 public:
  std::unique_ptr<IFile> OpenExclusive(const Text& path, OpenMode mode) override;
  std::optional<Text> GetFullPathName(const Text& path) override;
  std::optional<Text> GetTempPath() override;
  std::optional<Text> GetFolderPath(int csidl) override;
  std::optional<Text> GetEnvironmentVariable(const Text& name) override;
  Text GetModuleFileName() override;
  bool CreateDirectory(const Text& path) override;
  int32_t CreateDirectoryTree(const Text& path) override;
  bool CreateProbeFile(const Text& path) override;
  std::unique_ptr<IFileHandle> OpenForWriting(const Text& path, bool& created, uint32_t& error) override;
  std::unique_ptr<IFileHandle> OpenForHolding(const Text& path, uint32_t& error) override;
  std::unique_ptr<IFileHandle> OpenEntry(const Text& path, bool deletion, uint32_t& error) override;
  std::unique_ptr<IReadFile> OpenRead(const Text& path, uint32_t& error) override;
  bool DeleteFile(const Text& path) override;
  bool RemoveDirectory(const Text& path) override;
  bool SetCurrentDirectory(const Text& path) override;
  std::unique_ptr<IFindHandle> FindFirst(const Text& pattern, FindEntry& first) override;
  void SetFolderAccess(const Text& path, uint32_t mask) override;
  std::optional<uint32_t> GetFileAttributes(const Text& path) override;
};

class Win32CodePage : public ICodePage {
 public:
  std::optional<std::string> ToAnsi(const Text& text) override { return WideToCodePage(CP_THREAD_ACP, text); }
  Text FromAnsi(const std::string& ansi) override { return CodePageToWide(CP_THREAD_ACP, ansi); }
};

class Win32Resources : public IResources {
 public:
  explicit Win32Resources(HINSTANCE module) : module_(module) {}
  std::optional<Text> LoadString(uint32_t id) override;
  bool EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) override;
  Locked LockResource(uint16_t id, const Text& type) override;

 private:
  HINSTANCE module_;
};

class Win32System : public ISystem {
 public:
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  Text GetCommandLine() override;
  std::optional<std::array<uint8_t, 16>> CreateGuid() override;
};

class Win32Threads : public IThreads {
 public:
  void ComInitialize() override;
  void ComUninitialize() override;
  EventHandle CreateManualResetEvent() override;
  void SetEvent(EventHandle event) override { ::SetEvent(event); }
  void ResetEvent(EventHandle event) override { ::ResetEvent(event); }
  bool StartThread(std::function<void()> body) override;
  uint32_t WaitForEventsOrMessages(const EventHandle* handles, uint32_t count, uint32_t& error) override;
  bool WaitForEvent(EventHandle event, uint32_t& error) override;
  bool PeekMessage(Message& message) override;
  void DispatchMessage(const Message& message) override;
  void WakeMainThread() override;

 private:
  DWORD main_thread_ = ::GetCurrentThreadId();
};

}  // namespace carryall::win32
