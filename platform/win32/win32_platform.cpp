// Win32 layer. The real platform.
#include "platform/win32/win32_platform.h"

#include <aclapi.h>
#include <commctrl.h>
#include <objbase.h>
#include <process.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/handles.h"
#include "resources/resource_ids.h"

namespace carryall::win32 {

namespace {

class Win32File : public IFile {
 public:
  explicit Win32File(UniqueFile file) : file_(std::move(file)) {}
  uint32_t WriteOnce(const void* data, uint32_t size) override {
    DWORD written = 0;
    ::WriteFile(file_.get(), data, size, &written, /*lpOverlapped=*/nullptr);
    return written;
  }
  bool Write(const void* data, std::size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(file_.get(), p, chunk, &written, /*lpOverlapped=*/nullptr) || written == 0) return false;
      p += written;
      size -= written;
    }
    return true;
  }

 private:
  UniqueFile file_;
};

class Win32ReadFile : public IReadFile {
 public:
  explicit Win32ReadFile(UniqueFile file) : file_(std::move(file)) {}
  std::optional<uint32_t> Size() override {
    DWORD size = ::GetFileSize(file_.get(), /*lpFileSizeHigh=*/nullptr);
    if (size == INVALID_FILE_SIZE) return std::nullopt;
    return size;
  }
  bool SeekFromEnd(int32_t distance) override {
    return ::SetFilePointer(file_.get(), distance, /*lpDistanceToMoveHigh=*/nullptr, FILE_END) !=
           INVALID_SET_FILE_POINTER;
  }
  bool Read(void* buffer, uint32_t size, uint32_t& got) override {
    DWORD read = 0;
    BOOL ok = ::ReadFile(file_.get(), buffer, size, &read, /*lpOverlapped=*/nullptr);
    got = read;
    return ok != FALSE;
  }

 private:
  UniqueFile file_;
};

class Win32Find : public IFindHandle {
 public:
  explicit Win32Find(UniqueFind find) : find_(std::move(find)) {}
  bool Next(FindEntry& entry) override {
    WIN32_FIND_DATAW data;
    if (!::FindNextFileW(find_.get(), &data)) return false;
    entry.name = FromW(data.cFileName, wcslen(data.cFileName));
    entry.attributes = data.dwFileAttributes;
    return true;
  }

 private:
  UniqueFind find_;
};

}  // namespace

std::optional<std::string> WideToCodePage(UINT code_page, const Text& text) {
  const wchar_t* source = W(text);
  int needed = ::WideCharToMultiByte(code_page, 0, source, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(needed), '\0');
  int written = ::WideCharToMultiByte(code_page, 0, source, -1, out.data(), needed, nullptr, nullptr);
  if (written <= 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(written) - 1);  // without the terminator
  return out;
}

Text CodePageToWide(UINT code_page, const std::string& bytes) {
  if (bytes.empty()) return Text();
  int needed = ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (needed <= 0) return Text();
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), needed);
  return FromW(out.data(), out.size());
}

// ---- files ----

std::unique_ptr<IFile> Win32FileSystem::OpenExclusive(const Text& path, OpenMode mode) {
  if (path.empty()) return nullptr;
  UniqueFile file(::CreateFileW(W(path), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                mode == OpenMode::kTruncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                /*hTemplateFile=*/nullptr));
  if (!file) return nullptr;
  if (mode == OpenMode::kAppend &&
      ::SetFilePointer(file.get(), 0, /*lpDistanceToMoveHigh=*/nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    return nullptr;
  }
  return std::make_unique<Win32File>(std::move(file));
}

std::optional<Text> Win32FileSystem::GetFullPathName(const Text& path) {
  DWORD needed = ::GetFullPathNameW(W(path), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length = ::GetFullPathNameW(W(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  return FromW(buffer.data(), length);
}

std::optional<Text> Win32FileSystem::GetTempPath() {
  wchar_t buffer[1024];
  DWORD length = ::GetTempPathW(1024, buffer);
  if (length == 0 || length >= 1024) return std::nullopt;
  return FromW(buffer, length);
}

std::optional<Text> Win32FileSystem::GetFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (FAILED(::SHGetFolderPathW(/*hwnd=*/nullptr, csidl, /*hToken=*/nullptr, /*dwFlags=*/0, buffer))) {
    return std::nullopt;
  }
  return FromW(buffer, wcslen(buffer));
}

std::optional<Text> Win32FileSystem::GetEnvironmentVariable(const Text& name) {
  DWORD needed = ::GetEnvironmentVariableW(W(name), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length = ::GetEnvironmentVariableW(W(name), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) return std::nullopt;
  return FromW(buffer.data(), length);
}

Text Win32FileSystem::GetModuleFileName() {
  // Long paths are not cut short: a truncated path would fail verification for no reason.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) return FromW(buffer.data(), length);
    if (buffer.size() >= 32768) return Text();
    buffer.resize(buffer.size() * 2);
  }
}

bool Win32FileSystem::CreateDirectory(const Text& path) {
  return ::CreateDirectoryW(W(path), /*lpSecurityAttributes=*/nullptr) != FALSE;
}

int32_t Win32FileSystem::CreateDirectoryTree(const Text& path) {
  return ::SHCreateDirectoryExW(/*hwnd=*/nullptr, W(path), /*psa=*/nullptr);
}

bool Win32FileSystem::CreateProbeFile(const Text& path) {
  // The system removes the file as the owner closes it, on the way out.
  UniqueFile probe(::CreateFileW(W(path), /*dwDesiredAccess=*/0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                                 /*hTemplateFile=*/nullptr));
  return probe.valid();
}

std::unique_ptr<IFile> Win32FileSystem::CreateNewFile(const Text& path, uint32_t& error) {
  UniqueFile file(::CreateFileW(W(path), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  if (!file) {
    error = ::GetLastError();
    return nullptr;
  }
  return std::make_unique<Win32File>(std::move(file));
}

std::unique_ptr<IReadFile> Win32FileSystem::OpenRead(const Text& path, uint32_t& error) {
  UniqueFile file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                                OPEN_EXISTING, /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr));
  if (!file) {
    error = ::GetLastError();
    return nullptr;
  }
  return std::make_unique<Win32ReadFile>(std::move(file));
}

bool Win32FileSystem::DeleteFile(const Text& path) { return ::DeleteFileW(W(path)) != FALSE; }

bool Win32FileSystem::RemoveDirectory(const Text& path) { return ::RemoveDirectoryW(W(path)) != FALSE; }

bool Win32FileSystem::SetCurrentDirectory(const Text& path) { return ::SetCurrentDirectoryW(W(path)) != FALSE; }

std::unique_ptr<IFindHandle> Win32FileSystem::FindFirst(const Text& pattern, FindEntry& first) {
  WIN32_FIND_DATAW data;
  UniqueFind find(::FindFirstFileExW(W(pattern), FindExInfoStandard, &data, FindExSearchNameMatch,
                                    /*lpSearchFilter=*/nullptr, /*dwAdditionalFlags=*/0));
  if (!find) return nullptr;
  first.name = FromW(data.cFileName, wcslen(data.cFileName));
  first.attributes = data.dwFileAttributes;
  return std::make_unique<Win32Find>(std::move(find));
}

void Win32FileSystem::SetFolderAccess(const Text& path, uint32_t mask) {
  // old_dacl points into descriptor, which owns it.
  PACL old_dacl = nullptr;
  UniqueLocal<void> descriptor;
  std::wstring name(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, /*ppsidOwner=*/nullptr,
                              /*ppsidGroup=*/nullptr, &old_dacl, /*ppSacl=*/nullptr,
                              descriptor.put()) != ERROR_SUCCESS) {
    return;
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  if (!::AllocateAndInitializeSid(&world, /*nSubAuthorityCount=*/1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                  everyone.put())) {
    return;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = mask;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());
  UniqueLocal<ACL> new_dacl;
  if (::SetEntriesInAclW(1, &access, old_dacl, new_dacl.put()) != ERROR_SUCCESS) return;
  ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, /*psidOwner=*/nullptr,
                          /*psidGroup=*/nullptr, new_dacl.get(), /*pSacl=*/nullptr);
}

std::optional<uint32_t> Win32FileSystem::GetFileAttributes(const Text& path) {
  DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

// ---- resources ----

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

// ---- system ----

Text Win32System::GetCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return FromW(line, wcslen(line));
}

void Win32System::InitCommonControls() {
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), 0xFF};
  sysdll::InitCommonControlsEx(&controls);
}

void Win32System::ComInitialize() { ::CoInitialize(/*pvReserved=*/nullptr); }
void Win32System::ComUninitialize() { ::CoUninitialize(); }

std::optional<std::array<uint8_t, 16>> Win32System::CreateGuid() {
  GUID guid;
  if (FAILED(::CoCreateGuid(&guid))) return std::nullopt;
  std::array<uint8_t, 16> bytes;
  static_assert(sizeof guid == 16);
  memcpy(bytes.data(), &guid, 16);
  return bytes;
}

// ---- threads ----

EventHandle Win32Threads::CreateManualResetEvent() {
  return ::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE,
                        /*lpName=*/nullptr);
}

namespace {
unsigned __stdcall ThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}
}  // namespace

bool Win32Threads::StartThread(std::function<void()> body) {
  auto heap_body = std::make_unique<std::function<void()>>(std::move(body));
  // Nobody waits for the thread: its handle is closed as this returns, which lets it run on.
  UniqueKernelHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(
      /*security=*/nullptr, /*stack_size=*/0, ThreadEntry, heap_body.get(), /*initflag=*/0, /*thrdaddr=*/nullptr)));
  if (!thread) return false;
  heap_body.release();  // the thread owns it now
  return true;
}

uint32_t Win32Threads::WaitForEventsOrMessages(const EventHandle* handles, uint32_t count, uint32_t& error) {
  std::vector<HANDLE> list(handles, handles + count);
  DWORD result = ::MsgWaitForMultipleObjects(count, list.data(), /*fWaitAll=*/FALSE, INFINITE, QS_ALLINPUT);
  if (result == WAIT_FAILED) error = ::GetLastError();
  return result - WAIT_OBJECT_0;
}

bool Win32Threads::WaitForEvent(EventHandle event, uint32_t& error) {
  const DWORD result = ::WaitForSingleObject(event, INFINITE);
  if (result == WAIT_OBJECT_0) return true;
  error = result == WAIT_FAILED ? ::GetLastError() : result;
  return false;
}

bool Win32Threads::PeekMessage(Message& message) {
  MSG msg;
  if (!::PeekMessageW(&msg, /*hWnd=*/nullptr, 0, 0, PM_REMOVE)) return false;
  message.window = msg.hwnd;
  message.message = msg.message;
  message.wparam = msg.wParam;
  message.lparam = msg.lParam;
  message.time = msg.time;
  message.x = msg.pt.x;
  message.y = msg.pt.y;
  return true;
}

void Win32Threads::DispatchMessage(const Message& message) {
  MSG msg = {};
  msg.hwnd = static_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wparam;
  msg.lParam = message.lparam;
  msg.time = message.time;
  msg.pt.x = message.x;
  msg.pt.y = message.y;
  ::DispatchMessageW(&msg);
}

void Win32Threads::WakeMainThread() { ::PostThreadMessageW(main_thread_, WM_NULL, 0, 0); }

// ---- user interface ----

namespace {

INT_PTR CALLBACK SplashProc(HWND dialog, UINT message, WPARAM /*wparam*/, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    HICON icon = reinterpret_cast<HICON>(lparam);
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    return TRUE;
  }
  return FALSE;
}

class Win32Splash : public ISplash {
 public:
  explicit Win32Splash(UniqueWindow window) : window_(std::move(window)) {}
  void Show() override { ::ShowWindow(window_.get(), SW_SHOW); }
  void Hide() override { ::ShowWindow(window_.get(), SW_HIDE); }
  void End(int result) override { ::EndDialog(window_.get(), result); }

 private:
  UniqueWindow window_;
};

}  // namespace

std::unique_ptr<ISplash> Win32UserInterface::CreateSplash() {
  HICON icon = ::LoadIconW(module_, MAKEINTRESOURCEW(IDI_APP));
  UniqueWindow window(::CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_SPLASH), /*hWndParent=*/nullptr,
                                           SplashProc, reinterpret_cast<LPARAM>(icon)));
  if (!window) return nullptr;
  return std::make_unique<Win32Splash>(std::move(window));
}

int Win32UserInterface::AskQuestion(const Text& heading, const Text& details) {
  int answer = ::MessageBoxW(nullptr, W(details), W(heading), MB_YESNO | MB_ICONWARNING);
  return answer == IDYES ? IDOK : IDCANCEL;
}

namespace {

struct FolderPrompt {
  const Text* caption;
  Text folder;
};

INT_PTR CALLBACK FolderPromptProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* prompt = reinterpret_cast<FolderPrompt*>(lparam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      HWND edit = ::GetDlgItem(dialog, IDC_TEMP_FOLDER_EDIT);
      ::SetWindowTextW(edit, W(prompt->folder));
      ::SetWindowTextW(dialog, W(*prompt->caption));
      ::SetFocus(edit);
      ::SendMessageW(edit, EM_SETSEL, 0, -1);
      ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* prompt = reinterpret_cast<FolderPrompt*>(::GetWindowLongPtrW(dialog, DWLP_USER));
        HWND edit = ::GetDlgItem(dialog, IDC_TEMP_FOLDER_EDIT);
        std::vector<wchar_t> text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1);
        int length = ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
        prompt->folder = FromW(text.data(), static_cast<std::size_t>(length > 0 ? length : 0));
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

int Win32UserInterface::PromptForFolder(const Text& caption, Text& folder) {
  FolderPrompt prompt{&caption, folder};
  INT_PTR answer = ::DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_TEMP_FOLDER), /*hWndParent=*/nullptr,
                                     FolderPromptProc, reinterpret_cast<LPARAM>(&prompt));
  if (answer == IDOK) folder = prompt.folder;
  return static_cast<int>(answer);
}

void Win32UserInterface::ShowReport(const Text& /*message*/, const Text& /*link*/) {
  // The report dialog is not built yet: an interactive failure is written to the log only.
}

}  // namespace carryall::win32
