// Win32 layer. Files and folders, and text in a code page: thin wrappers over the
// Windows API with the flags, sizes and orders the core relies on.
#include "platform/win32/win32_platform.h"

#include <aclapi.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/handles.h"

namespace carryall::win32 {

namespace {

// One WriteFile call: the count written, which may be short of size.
Fallible<uint32_t> WriteOnceTo(HANDLE file, const void* data, uint32_t size) {
  DWORD written = 0;
  if (!::WriteFile(file, data, size, &written, /*lpOverlapped=*/nullptr)) return LastError();
  return static_cast<uint32_t>(written);
}

// The path the system gives an open handle, in the drive-letter form and without the
// verbatim prefix ("\\?\C:\x" reads "C:\x", "\\?\UNC\s\x" reads "\\s\x"). nullopt on
// failure; unsupported then says whether the system lacks GetFinalPathNameByHandleW.
std::optional<Text> FinalPath(HANDLE handle, bool& unsupported) {
  unsupported = false;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = sysdll::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      unsupported = ::GetLastError() == ERROR_PROC_NOT_FOUND;
      return std::nullopt;
    }
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      constexpr wchar_t kVerbatimShare[] = L"\\\\?\\UNC\\";  // 8 characters
      constexpr wchar_t kVerbatim[] = L"\\\\?\\";            // 4 characters
      if (path.rfind(kVerbatimShare, 0) == 0) return u"\\\\" + FromW(path.c_str() + 8, path.size() - 8);
      if (path.rfind(kVerbatim, 0) == 0) return FromW(path.c_str() + 4, path.size() - 4);
      return FromW(path.data(), path.size());
    }
    buffer.resize(length + 1);  // the size it needs, its terminator included
  }
}

class Win32FileHandle : public IFileHandle {
 public:
  explicit Win32FileHandle(UniqueFile file) : file_(std::move(file)) {}
  Fallible<HandleFacts> Facts() override {
    HandleFacts facts;
    bool unsupported = false;
    facts.final_path = FinalPath(file_.get(), unsupported);
    // Only a system without the call may leave the path unknown; a call that fails says
    // nothing about where the handle is, and the facts are not to be trusted then.
    if (!facts.final_path && !unsupported) return LastError();
    if (facts.final_path) {
      // The place tells volumes apart: the volume's serial number is not asked for.
      if (!sysdll::QueryHandleFacts(file_.get(), facts)) return LastError();
      return facts;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file_.get(), &info)) return LastError();
    facts.attributes = info.dwFileAttributes;
    facts.links = info.nNumberOfLinks;
    facts.identity.volume = info.dwVolumeSerialNumber;
    facts.identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return facts;
  }
  Status Truncate() override {
    if (::SetFilePointer(file_.get(), 0, /*lpDistanceToMoveHigh=*/nullptr, FILE_BEGIN) != 0 ||
        !::SetEndOfFile(file_.get())) {
      return LastError();
    }
    return Succeeded();
  }
  Fallible<uint32_t> WriteOnce(const void* data, uint32_t size) override {
    return WriteOnceTo(file_.get(), data, size);
  }
  Status SeekToEnd() override {
    LARGE_INTEGER none = {};
    if (!::SetFilePointerEx(file_.get(), none, /*lpNewFilePointer=*/nullptr, FILE_END)) return LastError();
    return Succeeded();
  }
  Status DeleteOnClose() override {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!sysdll::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
      return LastError();
    }
    return Succeeded();
  }
  Status ClearReadOnly(uint32_t attributes) override {
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    basic.FileAttributes = attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                                          FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!sysdll::SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)) return LastError();
    return Succeeded();
  }

 private:
  UniqueFile file_;
};

class Win32ReadFile : public IReadFile {
 public:
  explicit Win32ReadFile(UniqueFile file) : file_(std::move(file)) {}
  Fallible<uint32_t> Size() override {
    DWORD size = ::GetFileSize(file_.get(), /*lpFileSizeHigh=*/nullptr);
    if (size == INVALID_FILE_SIZE) return LastError();
    return static_cast<uint32_t>(size);
  }
  Status SeekFromEnd(int32_t distance) override {
    if (::SetFilePointer(file_.get(), distance, /*lpDistanceToMoveHigh=*/nullptr, FILE_END) ==
        INVALID_SET_FILE_POINTER) {
      return LastError();
    }
    return Succeeded();
  }
  Fallible<uint32_t> Read(void* buffer, uint32_t size) override {
    DWORD read = 0;
    if (!::ReadFile(file_.get(), buffer, size, &read, /*lpOverlapped=*/nullptr)) return LastError();
    return static_cast<uint32_t>(read);
  }

 private:
  UniqueFile file_;
};

class Win32Find : public IFindHandle {
 public:
  explicit Win32Find(UniqueFind find) : find_(std::move(find)) {}
  Fallible<FindEntry> Next() override {
    WIN32_FIND_DATAW data;
    if (!::FindNextFileW(find_.get(), &data)) return LastError();
    return FindEntry{FromW(data.cFileName, wcslen(data.cFileName)), data.dwFileAttributes};
  }

 private:
  UniqueFind find_;
};

}  // namespace

Fallible<std::string> WideToCodePage(UINT code_page, const Text& text) {
  const wchar_t* source = W(text);
  int needed = ::WideCharToMultiByte(code_page, 0, source, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return LastError();
  std::string out(static_cast<std::size_t>(needed), '\0');
  int written = ::WideCharToMultiByte(code_page, 0, source, -1, out.data(), needed, nullptr, nullptr);
  if (written <= 0) return LastError();
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

Fallible<Text> Win32FileSystem::GetFullPathName(const Text& path) {
  DWORD needed = ::GetFullPathNameW(W(path), 0, nullptr, nullptr);
  if (needed == 0) return LastError();
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length = ::GetFullPathNameW(W(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0) return LastError();
  if (length >= buffer.size()) return Failed(ERROR_INSUFFICIENT_BUFFER);
  return FromW(buffer.data(), length);
}

Fallible<Text> Win32FileSystem::GetTempPath() {
  wchar_t buffer[1024];
  DWORD length = ::GetTempPathW(1024, buffer);
  if (length == 0) return LastError();
  if (length >= 1024) return Failed(ERROR_INSUFFICIENT_BUFFER);
  return FromW(buffer, length);
}

Fallible<Text> Win32FileSystem::GetFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const HRESULT result = ::SHGetFolderPathW(/*hwnd=*/nullptr, csidl, /*hToken=*/nullptr, /*dwFlags=*/0, buffer);
  // S_FALSE: the folder id is known but the folder is not there.
  if (FAILED(result)) return Failed(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : result);
  return FromW(buffer, wcslen(buffer));
}

Fallible<Text> Win32FileSystem::GetEnvironmentVariable(const Text& name) {
  DWORD needed = ::GetEnvironmentVariableW(W(name), nullptr, 0);
  if (needed == 0) return LastError();
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length = ::GetEnvironmentVariableW(W(name), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) return Failed(ERROR_INSUFFICIENT_BUFFER);  // it grew meanwhile
  return FromW(buffer.data(), length);
}

Fallible<Text> Win32FileSystem::GetModuleFileName() {
  // Long paths are not cut short: a truncated path would fail verification for no reason.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return LastError();
    if (length < buffer.size()) return FromW(buffer.data(), length);
    if (buffer.size() >= 32768) return Failed(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
  }
}

// A BOOL call's answer as a status, GetLastError's value with a failure.
Status Checked(BOOL succeeded) { return succeeded ? Succeeded() : Status(LastError()); }

Status Win32FileSystem::CreateDirectory(const Text& path) {
  return Checked(::CreateDirectoryW(W(path), /*lpSecurityAttributes=*/nullptr));
}

Status Win32FileSystem::CreateDirectoryTree(const Text& path) {
  const int error = ::SHCreateDirectoryExW(/*hwnd=*/nullptr, W(path), /*psa=*/nullptr);
  if (error != ERROR_SUCCESS) return Failed(static_cast<uint32_t>(error));
  return Succeeded();
}

Status Win32FileSystem::CreateProbeFile(const Text& path) {
  // The system removes the file as the owner closes it, on the way out.
  UniqueFile probe(::CreateFileW(W(path), /*dwDesiredAccess=*/0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                                 /*hTemplateFile=*/nullptr));
  if (!probe) return LastError();
  return Succeeded();
}

Fallible<OpenedForWriting> Win32FileSystem::OpenForWriting(const Text& path) {
  // A new file first, and only then an existing one: OPEN_ALWAYS through a link to
  // nothing would make the link's target, and Wine then reports it as existing.
  auto open = [&](DWORD disposition) {
    return UniqueFile(::CreateFileW(W(path), GENERIC_WRITE | DELETE, /*dwShareMode=*/0,
                                    /*lpSecurityAttributes=*/nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, /*hTemplateFile=*/nullptr));
  };
  UniqueFile file = open(CREATE_NEW);
  const bool created = file.valid();
  if (!file) {
    const DWORD last = ::GetLastError();
    if (last != ERROR_FILE_EXISTS && last != ERROR_ALREADY_EXISTS) return Failed(last);
    file = open(OPEN_EXISTING);
    if (!file) return LastError();
  }
  return OpenedForWriting{std::make_unique<Win32FileHandle>(std::move(file)), created};
}

Fallible<std::unique_ptr<IFileHandle>> Win32FileSystem::OpenForHolding(const Text& path) {
  UniqueFile file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, /*hTemplateFile=*/nullptr));
  if (!file) return LastError();
  return std::unique_ptr<IFileHandle>(std::make_unique<Win32FileHandle>(std::move(file)));
}

Fallible<std::unique_ptr<IFileHandle>> Win32FileSystem::OpenEntry(const Text& path, bool deletion) {
  // With deletion, FILE_WRITE_ATTRIBUTES too: a read-only file of the run's own is made
  // deletable through the very handle that deletes it.
  UniqueFile file(::CreateFileW(W(path), FILE_READ_ATTRIBUTES | (deletion ? DELETE | FILE_WRITE_ATTRIBUTES : 0),
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, /*hTemplateFile=*/nullptr));
  if (!file) return LastError();
  return std::unique_ptr<IFileHandle>(std::make_unique<Win32FileHandle>(std::move(file)));
}

Fallible<std::unique_ptr<IReadFile>> Win32FileSystem::OpenRead(const Text& path) {
  UniqueFile file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr));
  if (!file) return LastError();
  return std::unique_ptr<IReadFile>(std::make_unique<Win32ReadFile>(std::move(file)));
}

Status Win32FileSystem::DeleteFile(const Text& path) { return Checked(::DeleteFileW(W(path))); }

Status Win32FileSystem::DeleteAtRestart(const Text& path) {
  return Checked(::MoveFileExW(W(path), /*lpNewFileName=*/nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

Status Win32FileSystem::RemoveDirectory(const Text& path) { return Checked(::RemoveDirectoryW(W(path))); }

Status Win32FileSystem::SetCurrentDirectory(const Text& path) { return Checked(::SetCurrentDirectoryW(W(path))); }

Fallible<FirstFound> Win32FileSystem::FindFirst(const Text& pattern) {
  WIN32_FIND_DATAW data;
  UniqueFind find(::FindFirstFileExW(W(pattern), FindExInfoStandard, &data, FindExSearchNameMatch,
                                     /*lpSearchFilter=*/nullptr, /*dwAdditionalFlags=*/0));
  if (!find) return LastError();
  FindEntry first{FromW(data.cFileName, wcslen(data.cFileName)), data.dwFileAttributes};
  return FirstFound{std::make_unique<Win32Find>(std::move(find)), std::move(first)};
}

Status Win32FileSystem::SetFolderAccess(const Text& path, uint32_t mask) {
  // old_dacl points into descriptor, which owns it.
  PACL old_dacl = nullptr;
  UniqueLocal<void> descriptor;
  std::wstring name(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (DWORD error = ::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            /*ppsidOwner=*/nullptr, /*ppsidGroup=*/nullptr, &old_dacl,
                                            /*ppSacl=*/nullptr, descriptor.put());
      error != ERROR_SUCCESS) {
    return Failed(error);
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  if (!::AllocateAndInitializeSid(&world, /*nSubAuthorityCount=*/1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                  everyone.put())) {
    return LastError();
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
  if (DWORD error = ::SetEntriesInAclW(1, &access, old_dacl, new_dacl.put()); error != ERROR_SUCCESS) {
    return Failed(error);
  }
  if (DWORD error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            /*psidOwner=*/nullptr, /*psidGroup=*/nullptr, new_dacl.get(),
                                            /*pSacl=*/nullptr);
      error != ERROR_SUCCESS) {
    return Failed(error);
  }
  return Succeeded();
}

Fallible<uint32_t> Win32FileSystem::GetFileAttributes(const Text& path) {
  DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  return static_cast<uint32_t>(attributes);
}

}  // namespace carryall::win32
