// Tests of the Win32 layer's own behaviour, cross-built and run under Wine.
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <algorithm>
#include <map>

#include "platform/win32/handles.h"
#include "platform/win32/win32_processes.h"

namespace carryall::win32 {
namespace {

std::wstring TempDir() {
  wchar_t buffer[MAX_PATH];
  DWORD n = ::GetTempPathW(MAX_PATH, buffer);
  std::wstring dir(buffer, n);
  dir += L"carryall-win32-test-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

Text T(const std::wstring& w) { return FromW(w.data(), w.size()); }

std::string ReadAll(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr));
  if (!file) return "<missing>";
  std::string out(1 << 16, '\0');
  DWORD read = 0;
  ::ReadFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &read, nullptr);
  out.resize(read);
  return out;
}

TEST(Win32StringsTest, EveryShippedEntryLoadsExactly) {
  const std::map<uint32_t, Text> shipped = {
#include "shipped_strings.inc"
  };
  Win32Resources resources(::GetModuleHandleW(nullptr));
  for (const auto& [id, text] : shipped) {
    EXPECT_EQ(resources.LoadString(id).value_or(u"(none)"), text) << "id " << id;
  }
  for (uint32_t missing : {143u, 144u, 9999u}) {
    EXPECT_EQ(resources.LoadString(missing).error(), static_cast<uint32_t>(ERROR_RESOURCE_NAME_NOT_FOUND)) << missing;
  }
}

TEST(Win32CodePageTest, SizesTheResultFromTheConverter) {
  Text cjk(300, u'\u4e2d');
  Fallible<std::string> utf8 = WideToCodePage(CP_UTF8, cjk);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->size(), 900u) << "three bytes a unit: more than two per unit must fit";
  Fallible<std::string> western = WideToCodePage(1252, u"caf\u00e9 \u4e2d");
  ASSERT_TRUE(western);
  EXPECT_EQ(*western, "caf\xe9 ?");
  EXPECT_EQ(CodePageToWide(1252, "caf\xe9"), u"caf\u00e9");
  EXPECT_EQ(WideToCodePage(1252, Text(u"ab\0cd", 5)).value_or("failed"), "ab");
}

TEST(Win32FileSystemTest, FullPathsResolveAgainstTheCurrentDirectory) {
  std::wstring dir = TempDir();
  ASSERT_TRUE(::SetCurrentDirectoryW(dir.c_str()));
  Win32FileSystem files;
  EXPECT_EQ(files.GetFullPathName(u"a\\..\\b.txt").value_or(u""), T(dir + L"\\b.txt"));
  EXPECT_EQ(files.GetFullPathName(u".").value_or(u""), T(dir));
  Text very_long = u"C:\\" + Text(400, u'x');
  Fallible<Text> full = files.GetFullPathName(very_long);
  ASSERT_TRUE(full);  // no limit here: the caller decides what fits
  EXPECT_EQ(full->size(), 403u);
}

TEST(Win32FileSystemTest, TempPathAndFoldersAreReadable) {
  Win32FileSystem files;
  Fallible<Text> temp = files.GetTempPath();
  ASSERT_TRUE(temp);
  EXPECT_EQ(temp->back(), u'\\');
  EXPECT_TRUE(files.GetFolderPath(26));
  EXPECT_TRUE(files.GetFolderPath(35));
  EXPECT_TRUE(files.GetEnvironmentVariable(u"SystemDrive"));
  EXPECT_EQ(files.GetEnvironmentVariable(u"CARRYALL_SURELY_NOT_SET").error(),
            static_cast<uint32_t>(ERROR_ENVVAR_NOT_FOUND));
  Fallible<Text> module = files.GetModuleFileName();
  ASSERT_TRUE(module);
  EXPECT_NE(module->find(u"win32_platform_tests"), Text::npos);
}

TEST(Win32FileSystemTest, AWriterIsExclusiveAndAppendsAfterSeekingToTheEnd) {
  // A name that code page 1252 cannot hold: the file is opened by its UTF-16 name.
  std::wstring path = TempDir() + L"\\log \u00e9 \u043b\u043e\u0433.txt";
  const Text name = T(path);
  Win32FileSystem files;
  {
    auto file = files.OpenForWriting(name);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->created);
    EXPECT_EQ(file->handle->WriteOnce("first\n", 6).value_or(0), 6u);
    EXPECT_EQ(files.OpenForWriting(name).error(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION))
        << "exclusive while open";
  }
  {
    auto file = files.OpenForWriting(name);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->created);
    ASSERT_TRUE(file->handle->SeekToEnd());
    EXPECT_EQ(file->handle->WriteOnce("second", 6).value_or(0), 6u);
  }
  EXPECT_EQ(ReadAll(path), "first\nsecond");
  EXPECT_FALSE(files.OpenForWriting(T(TempDir()))) << "a directory is not a log file";
  ASSERT_TRUE(::DeleteFileW(path.c_str()));
}

TEST(Win32FileSystemTest, AReadOnlyFileIsDeletedOnceItsAttributeIsClearedThroughTheSameHandle) {
  std::wstring path = TempDir() + L"\\read only.txt";
  {
    Win32FileSystem files;
    auto file = files.OpenForWriting(T(path));
    ASSERT_TRUE(file);
  }
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  Win32FileSystem files;
  {
    auto entry = files.OpenEntry(T(path), /*deletion=*/true);
    ASSERT_TRUE(entry);
    const Fallible<HandleFacts> facts = (*entry)->Facts();
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->attributes & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ((*entry)->DeleteOnClose().error(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE((*entry)->ClearReadOnly(facts->attributes));
    EXPECT_EQ(::GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE))
        << "the other attributes stay";
    EXPECT_TRUE((*entry)->DeleteOnClose());
  }
  EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32ThreadsTest, WaitReportsTheLowestSignalledEventAndMessages) {
  Win32Threads threads;
  EventHandle events[2] = {*threads.CreateManualResetEvent(), *threads.CreateManualResetEvent()};
  Message drain;
  while (threads.PeekMessage(drain)) {
  }
  threads.SetEvent(events[1]);
  EXPECT_EQ(threads.WaitForEventsOrMessages(events, 2).value_or(99), 1u);
  threads.SetEvent(events[0]);
  EXPECT_EQ(threads.WaitForEventsOrMessages(events, 2).value_or(99), 0u);
  threads.ResetEvent(events[0]);
  threads.ResetEvent(events[1]);
  ::PostThreadMessageW(::GetCurrentThreadId(), WM_USER, 7, 8);
  EXPECT_EQ(threads.WaitForEventsOrMessages(events, 2).value_or(99), 2u);
  Message m;
  ASSERT_TRUE(threads.PeekMessage(m));
  EXPECT_EQ(m.message, static_cast<uint32_t>(WM_USER));
  EXPECT_EQ(m.wparam, 7u);
}

TEST(Win32ThreadsTest, FailedWaitsSayWhyAndReturnAtOnce) {
  Win32Threads threads;
  EventHandle good = *threads.CreateManualResetEvent();
  HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::CloseHandle(closed);
  EventHandle handles[2] = {good, closed};
  const Fallible<uint32_t> woke = threads.WaitForEventsOrMessages(handles, 2);
  EXPECT_FALSE(woke) << "neither a handle nor a message";
  EXPECT_EQ(woke.error(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));

  const Status waited = threads.WaitForEvent(closed);
  EXPECT_EQ(waited.error(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  threads.SetEvent(good);
  EXPECT_TRUE(threads.WaitForEvent(good));
}

TEST(Win32ProcessesTest, CommandLineTooLongForTheSystemIsRefusedNotCut) {
  Win32Processes processes;
  std::u16string line = u"\"C:\\windows\\system32\\cmd.exe\" /c exit 3";
  std::u16string too_long = line + u" " + std::u16string(32767 - line.size() - 1, u'A');
  ASSERT_EQ(too_long.size(), 32767u);
  EXPECT_EQ(processes.CreateProcess(too_long).error(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));

  // A program that does not exist: the system's own error.
  std::u16string missing = u"\"C:\\no such folder\\w.exe\" x";
  const uint32_t error = processes.CreateProcess(missing).error();
  EXPECT_TRUE(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) << error;

  // A short line starts; its waits and exit code come through.
  auto child = processes.CreateProcess(line);
  ASSERT_TRUE(child);
  EXPECT_EQ((*child)->Wait(kInfinite).value_or(IProcess::WaitResult::kTimeout), IProcess::WaitResult::kSignalled);
  EXPECT_EQ((*child)->GetExitCode().value_or(0), 3u);
}

TEST(Win32ThreadsTest, StartedThreadRunsItsBody) {
  Win32Threads threads;
  EventHandle done = *threads.CreateManualResetEvent();
  std::atomic<int> value{0};
  ASSERT_TRUE(threads.StartThread([&] {
    value = 42;
    threads.SetEvent(done);
  }));
  EXPECT_EQ(::WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(value, 42);
}

TEST(Win32SystemTest, CommandLineIsTheWholeProcessLine) {
  Win32System system;
  Text line = system.GetCommandLine();
  EXPECT_NE(line.find(u"win32_platform_tests"), Text::npos);
}

}  // namespace
}  // namespace carryall::win32

namespace carryall::win32 {
namespace {

TEST(Win32FolderTest, ProbeLeavesNothingAndTreesAreMadeWholeWhileCreateMakesOneLevel) {
  std::wstring dir = TempDir() + L"\\folders";
  Win32FileSystem files;
  EXPECT_EQ(files.CreateDirectory(T(dir + L"\\a\\b")).error(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(files.CreateDirectoryTree(T(dir + L"\\a\\b")));
  EXPECT_EQ(files.CreateDirectoryTree(T(dir + L"\\a\\b")).error(), static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(files.CreateProbeFile(T(dir + L"\\a\\probe")));
  EXPECT_EQ(::GetFileAttributesW((dir + L"\\a\\probe").c_str()), INVALID_FILE_ATTRIBUTES) << "deleted on close";
  EXPECT_FALSE(files.CreateProbeFile(T(dir + L"\\missing\\probe")));

  {
    auto f = files.OpenForWriting(T(dir + L"\\a\\b\\x.bin"));
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->created);
    EXPECT_EQ(f->handle->WriteOnce("abc", 3).value_or(0), 3u);
  }
  EXPECT_EQ(files.OpenForWriting(T(dir + L"\\nowhere\\x.bin")).error(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));

  std::vector<std::u16string> names;
  auto found = files.FindFirst(T(dir + L"\\a\\*.*"));
  ASSERT_TRUE(found);
  Fallible<FindEntry> entry = found->entry;
  for (; entry; entry = found->search->Next()) {
    names.push_back(entry->name + ((entry->attributes & kFileAttributeDirectory) ? u"/" : u""));
  }
  EXPECT_EQ(entry.error(), static_cast<uint32_t>(ERROR_NO_MORE_FILES));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"../", u"./", u"b/"}));
  found->search.reset();

  EXPECT_EQ(files.RemoveDirectory(T(dir + L"\\a\\b")).error(), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(files.DeleteFile(T(dir + L"\\a\\b\\x.bin")));
  EXPECT_TRUE(files.RemoveDirectory(T(dir + L"\\a\\b")));
}

// What the handles of the layer report and allow, on real files of the system.
TEST(Win32HandleTest, FactsNamesHoldsAndDeletionThroughTheHandle) {
  std::wstring dir = TempDir() + L"\\handles";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  Win32FileSystem files;
  const Text file = T(dir + L"\\File.bin");
  auto opened = files.OpenForWriting(file);
  ASSERT_TRUE(opened);
  std::unique_ptr<IFileHandle> writer = std::move(opened->handle);
  ASSERT_EQ(writer->WriteOnce("payload", 7).value_or(0), 7u);
  const Fallible<HandleFacts> written = writer->Facts();
  ASSERT_TRUE(written);
  EXPECT_EQ(written->links, 1u);
  EXPECT_EQ(written->attributes & (kFileAttributeDirectory | kFileAttributeReparsePoint), 0u);
  ASSERT_TRUE(written->final_path);
  EXPECT_EQ(*written->final_path, file) << "the drive-letter form, as the file was named";
  writer.reset();
  {
    // What the facts say without the volume agrees with the system's full record.
    UniqueFile raw(::CreateFileW((dir + L"\\File.bin").c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    ASSERT_TRUE(::GetFileInformationByHandle(raw.get(), &info));
    EXPECT_EQ(written->identity, (FileIdentity{0, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}));
    EXPECT_EQ(written->attributes, info.dwFileAttributes);
  }

  // An existing entry is opened, not emptied, and says so; its second name shows as a link count.
  ASSERT_TRUE(::CreateHardLinkW((dir + L"\\second.bin").c_str(), (dir + L"\\File.bin").c_str(), nullptr));
  opened = files.OpenForWriting(file);
  ASSERT_TRUE(opened);
  EXPECT_FALSE(opened->created);
  writer = std::move(opened->handle);
  const Fallible<HandleFacts> again = writer->Facts();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->links, 2u);
  EXPECT_EQ(again->identity, written->identity);
  EXPECT_TRUE(writer->Truncate());
  EXPECT_EQ(writer->WriteOnce("x", 1).value_or(0), 1u);
  writer.reset();
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(::GetFileAttributesExW((dir + L"\\second.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 1u) << "emptied, then written: both names show it";
  ASSERT_TRUE(::DeleteFileW((dir + L"\\second.bin").c_str()));

  // A hold lets readers in and keeps writers and deleters out.
  auto hold = files.OpenForHolding(file);
  ASSERT_TRUE(hold);
  EXPECT_EQ((*hold)->Facts()->identity, written->identity);
  EXPECT_EQ(files.OpenForWriting(file).error(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(files.DeleteFile(file).error(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(files.OpenEntry(file, /*deletion=*/true).error(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(files.OpenRead(file)) << "a reader";
  EXPECT_TRUE(files.OpenEntry(file, /*deletion=*/false)) << "a look at its attributes";
  hold->reset();

  // Deletion through the handle happens as it closes; a folder must be empty.
  auto folder = *files.OpenEntry(T(dir), /*deletion=*/true);
  ASSERT_TRUE(folder);
  EXPECT_NE(folder->Facts()->attributes & kFileAttributeDirectory, 0u);
  EXPECT_EQ(folder->DeleteOnClose().error(), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
  auto entry = *files.OpenEntry(file, /*deletion=*/true);
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->DeleteOnClose());
  entry.reset();
  EXPECT_EQ(::GetFileAttributesW((dir + L"\\File.bin").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(folder->DeleteOnClose());
  folder.reset();
  EXPECT_EQ(::GetFileAttributesW(dir.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32FolderTest, EveryoneGetsInheritedReadAndExecuteAccessOnly) {
  std::wstring dir = TempDir() + L"\\acl";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  Win32FileSystem files;
  ASSERT_TRUE(files.SetFolderAccess(T(dir), 0x1200A9));
  PACL dacl = nullptr;
  UniqueLocal<void> descriptor;
  ASSERT_EQ(::GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, descriptor.put()),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()));
  int found = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (!::EqualSid(&ace->SidStart, everyone.get())) continue;
    ++found;
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    EXPECT_EQ(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                           FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL),
              0u);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  }
  EXPECT_EQ(found, 1);
}

TEST(Win32GuidTest, GuidsAreFreshEachTime) {
  Win32System system;
  auto a = system.CreateGuid();
  auto b = system.CreateGuid();
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
}

}  // namespace
}  // namespace carryall::win32
