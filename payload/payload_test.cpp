#include "payload/payload.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <vector>

using namespace std::string_literals;

#include "base/path.h"
#include "base/result_codes.h"
#include "payload/temp_folder.h"
#include "base/string_ids.h"
#include "payload/payload_test.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;

constexpr char16_t kBase[] = u"D:\\Work";

class PayloadTest : public sim::PayloadTestBase {
 protected:
  // The prompt for another base folder, as the worker asks it.
  int32_t PromptForTempFolder(Text& folder_base) {
    const BaseFolderPrompt prompt{machine.platform.ui,
                                  machine.platform.threads,
                                  machine.platform.files,
                                  log,
                                  silent,
                                  machine.platform.resources.LoadString(kIdsProductName).value_or(Text()),
                                  splash_hide_count};
    return AskForBaseFolder(prompt, folder_base);
  }
  bool silent = false;
  std::atomic<int32_t> splash_hide_count{0};
  void SetUp() override {
    machine.files.MakeDirectories(u"C:\\Work");
    base = u"C:\\Work";
  }
  // A payload of the given manifest and resources, unpacked below base.
  int32_t Extract(const std::string& manifest, const std::map<uint32_t, std::string>& files, bool zero_guid = false) {
    machine.resources.Add(u"TOOLKIT", 101, manifest);
    for (const auto& [id, bytes] : files) machine.resources.Add(u"TOOLKIT", id, bytes);
    EXPECT_EQ(SetTempFolder(payload, base), kOk);
    return ExtractResources(payload, &machine.resources, zero_guid, resources, program);
  }
  Text Folder() { return GetTempFolder(payload); }
  std::string In(const std::string& name) { return machine.files.Contents(Folder() + u"\\" + sim::Widen(name)); }
  std::string LogText() { return Narrow(log.pending()); }
  bool Logged(const std::string& line) { return LogText().find(line) != std::string::npos; }

  Text base;
  Text program;
};

// ---- the private folder ----

TEST(GuidTest, FormatsLikeStringFromGuid2) {
  std::array<uint8_t, 16> g = {0x3A, 0x6C, 0xEC, 0x66, 0x4A, 0x0B, 0xAB, 0x4C,
                               0xA2, 0x4A, 0x53, 0xB2, 0xD4, 0x17, 0x6C, 0xD1};
  EXPECT_EQ(Narrow(FormatGuid(g)), "{66EC6C3A-0B4A-4CAB-A24A-53B2D4176CD1}");
  EXPECT_EQ(Narrow(FormatGuid({})), "{00000000-0000-0000-0000-000000000000}");
}

TEST_F(PayloadTest, UsableBaseIsProvedWithoutLeavingAFile) {
  EXPECT_EQ(SetTempFolder(payload, base), kOk);
  EXPECT_EQ(machine.files.probes, 1);
  EXPECT_TRUE(machine.files.List(base).empty());
  EXPECT_EQ(LogText(), "");
}

TEST_F(PayloadTest, OnlyTheLastLevelOfTheBaseIsCreated) {
  EXPECT_EQ(SetTempFolder(payload, u"C:\\Work\\new"), kOk);
  EXPECT_TRUE(machine.files.IsDirectory(u"C:\\Work\\new"));
  EXPECT_EQ(SetTempFolder(payload, u"C:\\missing\\new"), kFail);
  EXPECT_FALSE(machine.files.Exists(u"C:\\missing"));
  EXPECT_EQ(LogText(), "SetTempFolder has failed\n");
}

TEST_F(PayloadTest, ADeviceIsNoBaseAndIsLeftUntouched) {
  // The device forms Windows gives, then names Wine leaves as they are (it takes COM¹
  // for a folder name), each under the same rule as a payload name.
  const Text devices[] = {u"\\\\.\\CON",          u"\\\\.\\NUL\\",          u"\\\\?\\COM1",
                          u"C:\\Work\\COM\u00B9", u"C:\\Work\\lpt3.log\\x", u"\\\\server\\share\\Aux"};
  for (const Text& device : devices) {
    EXPECT_EQ(SetTempFolder(payload, device), kFail) << Narrow(device);
  }
  EXPECT_EQ(machine.files.probes, 0);
  EXPECT_FALSE(machine.files.Exists(u"\\\\.\\CON"));
  std::string failed;
  for (std::size_t i = 0; i < std::size(devices); ++i) failed += "SetTempFolder has failed\n";
  EXPECT_EQ(LogText(), failed);
  // A root or a name that only starts like a device is no device.
  for (const char16_t* path : {u"C:\\", u"\\\\con\\share\\x", u"C:\\COM10", u"C:\\CONSOLE\\x", u"D:"}) {
    EXPECT_FALSE(NamesDevice(path)) << Narrow(path);
  }
}

TEST_F(PayloadTest, UnwritableOrTooLongBaseFails) {
  machine.files.unwritable.insert("c:\\work");
  EXPECT_EQ(SetTempFolder(payload, base), kFail);
  machine.files.unwritable.clear();
  Text deep = u"C:\\Work\\" + Text(215, u'd');  // 223 + "\" + 38 characters do not fit
  machine.files.MakeDirectories(deep);
  EXPECT_EQ(SetTempFolder(payload, deep), kFail);
  EXPECT_EQ(LogText(), "SetTempFolder has failed\nSetTempFolder has failed\n");
}

TEST_F(PayloadTest, PrivateFolderIsNamedOnceCreatedAndOpenedToEveryoneForReadingAndRunning) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  Text first = GetTempFolder(payload);
  EXPECT_EQ(Narrow(first), "C:\\Work\\{A0A0A002-0000-0000-0000-000000000000}");
  SetZeroGuid(payload);  // too late to change the name
  folder.base = u"C:\\Elsewhere";
  EXPECT_EQ(GetTempFolder(payload), first);
  EXPECT_TRUE(machine.files.IsDirectory(first));
  ASSERT_EQ(machine.files.access_granted.size(), 1u);
  // FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, inherited (SetFolderAccess's contract):
  // no data, append, attribute, delete, DAC, owner or generic write or all bit.
  EXPECT_EQ(machine.files.access_granted[0], std::make_pair(first, 0x1200A9u));
  EXPECT_EQ(machine.files.access_granted[0].second & 0x500D0156u, 0u);
}

TEST_F(PayloadTest, ZeroGuidAndFailedGuidNames) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  SetZeroGuid(payload);
  EXPECT_EQ(Narrow(GetTempFolder(payload)), "C:\\Work\\{00000000-0000-0000-0000-000000000000}");

  sim::SimMachine other;
  FileLog other_log(other.files, other.code_page);
  sim::PayloadInputs other_inputs(other, other_log);
  other.files.MakeDirectories(u"C:\\Work");
  other.faults.Always("ISystem::CreateGuid");
  ASSERT_EQ(SetTempFolder(other_inputs.payload, u"C:\\Work"), kOk);
  EXPECT_EQ(Narrow(GetTempFolder(other_inputs.payload)), "C:\\Work\\{66EC6C3A-0B4A-4CAB-A24A-53B2D4176CD1}");
}

TEST_F(PayloadTest, PromptIsRefusedInSilentRuns) {
  silent = true;
  Text folder = kBase;
  EXPECT_EQ(PromptForTempFolder(folder), kFail);
  EXPECT_EQ(Narrow(folder), "D:\\Work");
  EXPECT_EQ(LogText(), "Not Prompting the user as silent installation\n");
  EXPECT_TRUE(machine.ui.events.empty());
}

TEST_F(PayloadTest, PromptTakesTheTextMadeAbsoluteAndHidesTheSplashMeanwhile) {
  int count_during = -1;
  machine.ui.during_prompt = [&] { count_during = splash_hide_count; };
  machine.ui.prompt_answer = 1;
  machine.ui.prompt_typed = u"E:";
  Text folder = kBase;
  EXPECT_EQ(PromptForTempFolder(folder), kOk);
  EXPECT_EQ(Narrow(folder), "E:\\");
  EXPECT_EQ(count_during, 1);
  EXPECT_EQ(splash_hide_count, 0);
  EXPECT_EQ(Narrow(machine.ui.prompt_caption), "SQL Carryall");
  EXPECT_EQ(Narrow(machine.ui.prompt_shown), "D:\\Work");

  machine.ui.prompt_answer = 2;
  EXPECT_EQ(PromptForTempFolder(folder), kFail);
  EXPECT_EQ(Narrow(folder), "E:\\");
  EXPECT_EQ(LogText(), "");
}

TEST_F(PayloadTest, PromptAnswerIsResolvedLikeTheTempOption) {
  machine.files.current_directory = u"C:\\here\\now";
  machine.files.drive_directories[u'D'] = u"D:\\deep";
  machine.ui.prompt_answer = 1;
  const std::pair<Text, const char*> cases[] = {
      // typed, then the base (nullptr: refused)
      {u"base", "C:\\here\\now\\base"},
      {u"..\\x\\.\\y", "C:\\here\\x\\y"},
      {u"\\top", "C:\\top"},
      {u"", "C:\\here\\now"},
      {u"D:\\Abs", "D:\\Abs"},
      {Text(250, u'n'), nullptr},
      // The prompt's example "(eg. C:)": a drive alone is its root, not its current directory.
      {u"C:", "C:\\"},
      {u"d:", "d:\\"},
      {u"D: ", "D:\\"},
      // A drive with a name keeps the system's reading: relative to that drive's directory.
      {u"D:x", "D:\\deep\\x"},
      {u"C:x", "C:\\here\\now\\x"}};
  for (const auto& [typed, resolved] : cases) {
    machine.ui.prompt_typed = typed;
    Text folder = kBase;
    EXPECT_EQ(PromptForTempFolder(folder), resolved ? kOk : kFail) << Narrow(typed);
    EXPECT_EQ(Narrow(folder), resolved ? resolved : "D:\\Work") << Narrow(typed);
  }
}

// ---- extraction ----

TEST_F(PayloadTest, EveryNamedRecordIsWrittenWithItsBytes) {
  EXPECT_EQ(Extract("102*Setup.EXE*3*103*data\\x.bin*2*104*empty.msi*0", {{102, "abc"}, {103, "xy"}, {104, ""}}), kOk);
  EXPECT_EQ(In("setup.exe"), "abc");
  EXPECT_EQ(In("data\\x.bin"), "xy");
  EXPECT_TRUE(machine.files.Exists(Folder() + u"\\empty.msi"));
  EXPECT_EQ(Narrow(program), Narrow(Folder()) + "\\setup.exe");
  std::string folder = Narrow(Folder());
  EXPECT_TRUE(Logged("Enumerate Resources OK \n"));
  EXPECT_TRUE(Logged(folder + "\\empty.msi written Ok\nExtract File empty.msi 0\n" + folder +
                     "\\data\\x.bin written Ok\nExtract File data\\x.bin 0\n" + folder +
                     "\\setup.exe written Ok\nExtract File setup.exe 0\n"));
}

TEST_F(PayloadTest, NoPayloadResourcesFailTheEnumeration) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  EXPECT_EQ(ExtractResources(payload, &machine.resources, false, resources, program), kFail);
  EXPECT_EQ(LogText(), "Enumerate Resources has failed\n");
}

TEST_F(PayloadTest, SizeMismatchKeepsTheFileAndStopsBeforeLowerIds) {
  EXPECT_EQ(Extract("102*install.bin*3*103*empty.msi*5*104*wizard.exe*1", {{102, "abc"}, {103, "1234"}, {104, "w"}}),
            kFileSizeMismatch);
  EXPECT_EQ(In("empty.msi"), "1234");
  EXPECT_EQ(In("wizard.exe"), "w");
  EXPECT_FALSE(machine.files.Exists(Folder() + u"\\install.bin"));
  EXPECT_TRUE(Logged(Narrow(Folder()) + "\\empty.msi Write file has failed\nExtract File empty.msi 80040167\n"));
  EXPECT_FALSE(Logged("install.bin written"));
}

TEST_F(PayloadTest, AnExistingFileIsReplacedAndUnlistedRecordsAreLeftAlone) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  machine.files.Put(GetTempFolder(payload) + u"\\a.txt", "old old old");
  machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*3");
  machine.resources.Add(u"TOOLKIT", 102, "new");
  machine.resources.Add(u"TOOLKIT", 103, "unlisted");
  EXPECT_EQ(ExtractResources(payload, &machine.resources, false, resources, program), kOk);
  EXPECT_EQ(In("a.txt"), "new");
  EXPECT_EQ(machine.files.List(Folder()), (std::vector<std::string>{"a.txt"}));
  EXPECT_FALSE(Logged("Extract File  "));
}

TEST_F(PayloadTest, EachFailingStepHasItsLine) {
  struct Case {
    std::function<void(sim::SimMachine&, const Text& folder)> arrange;
    const char* line;  // %s is the file's path
    int32_t status;
  } cases[] = {
      {[](sim::SimMachine& m, const Text&) { m.faults.From("IResources::FindResource", 1); },
       "FindResource has failed\n", kFail},
      {[](sim::SimMachine& m, const Text&) { m.faults.From("IResources::LoadResource", 1); },
       "ResourceLoaded has failed\n", kFail},
      {[](sim::SimMachine& m, const Text&) { m.faults.From("IResources::LockResource", 1); },
       "LockResource has failed\n", kFail},
      {[](sim::SimMachine& m, const Text& f) { m.files.unwritable.insert(sim::SimFileSystem::Key(f)); },
       "%s Create file has failed\n", kFail},
      // A full disk is told as such; any other failed write keeps its code.
      {[](sim::SimMachine& m, const Text& f) { m.files.short_writes[sim::SimFileSystem::Key(f + u"\\a.bin")] = 2; },
       "%s Write file has failed: 2 of 4 bytes written, the disk is full\n", kDiskFullOnWrite},
      {[](sim::SimMachine& m, const Text& f) { m.files.write_errors[sim::SimFileSystem::Key(f + u"\\a.bin")] = 112; },
       "%s Write file has failed, error 112: the disk is full\n", kDiskFullOnWrite},
      {[](sim::SimMachine& m, const Text& f) { m.files.write_errors[sim::SimFileSystem::Key(f + u"\\a.bin")] = 39; },
       "%s Write file has failed, error 39: the disk is full\n", kDiskFullOnWrite},
      {[](sim::SimMachine& m, const Text& f) { m.files.write_errors[sim::SimFileSystem::Key(f + u"\\a.bin")] = 5; },
       "%s Write file has failed, error 5\n", kFail},
  };
  for (const Case& c : cases) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    sim::PayloadInputs a(m, l);
    m.files.MakeDirectories(u"C:\\Work");
    ASSERT_EQ(SetTempFolder(a.payload, u"C:\\Work"), kOk);
    Text folder = GetTempFolder(a.payload);
    m.resources.Add(u"TOOLKIT", 101, "102*a.bin*4");
    m.resources.Add(u"TOOLKIT", 102, "data");
    c.arrange(m, folder);
    Text path;
    EXPECT_EQ(ExtractResources(a.payload, &m.resources, false, a.resources, path), c.status) << c.line;
    std::string expected = c.line;
    if (std::size_t at = expected.find("%s"); at != std::string::npos) {
      expected.replace(at, 2, Narrow(folder) + "\\a.bin");
    }
    std::string log_text = Narrow(l.pending());
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<uint32_t>(c.status));
    EXPECT_NE(log_text.find("WorkOutFileNames 0\n" + expected + "Extract File a.bin " + code + "\n"), std::string::npos)
        << log_text;
  }
}

// A machine of its own that unpacks one file, a.bin, of the given bytes below C:\Work.
struct OneFileRun {
  explicit OneFileRun(const std::string& bytes) {
    m.files.MakeDirectories(u"C:\\Work");
    EXPECT_EQ(SetTempFolder(a.payload, u"C:\\Work"), kOk);
    path = GetTempFolder(a.payload) + u"\\a.bin";
    m.resources.Add(u"TOOLKIT", 101, "102*a.bin*" + std::to_string(bytes.size()));
    m.resources.Add(u"TOOLKIT", 102, bytes);
  }
  int32_t Extract() {
    Text program;
    return ExtractResources(a.payload, &m.resources, false, a.resources, program);
  }
  const std::vector<uint32_t>& Writes() { return m.files.writes[sim::SimFileSystem::Key(path)]; }

  sim::SimMachine m;
  FileLog l{m.files, m.code_page};
  sim::PayloadInputs a{m, l};
  Text path;
};

// Bytes that differ from one 256 KiB write to the next, so that a write out of place shows.
std::string Numbered(uint32_t size) {
  std::string bytes(size, '\0');
  for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
  return bytes;
}

constexpr uint32_t kChunk = 256 * 1024;  // the most one write may ask for

TEST_F(PayloadTest, AFileGoesOutWholeInWritesOfAtMost256KiB) {
  // One write of a whole large file from the mapped image is slow under Wine; an empty
  // file still gets its one write.
  struct Case {
    uint32_t size;
    std::vector<uint32_t> writes;
  } cases[] = {
      {0, {0}},
      {kChunk, {kChunk}},
      {kChunk + 1, {kChunk, 1}},
      {3 * kChunk - 7, {kChunk, kChunk, kChunk - 7}},
  };
  for (const Case& c : cases) {
    const std::string bytes = Numbered(c.size);
    OneFileRun run(bytes);
    EXPECT_EQ(run.Extract(), kOk) << c.size;
    EXPECT_TRUE(run.m.files.Contents(run.path) == bytes) << c.size;
    EXPECT_EQ(run.Writes(), c.writes) << c.size;
    EXPECT_NE(Narrow(run.l.pending()).find(Narrow(run.path) + " written Ok\n"), std::string::npos) << c.size;
  }
}

TEST_F(PayloadTest, AWriteThatFailsPartWayEndsTheFileWithTheLineOfItsOwnOutcome) {
  const uint32_t size = 2 * kChunk + 100;
  using Error = sim::SimFileSystem::WriteError;
  struct Case {
    std::function<void(sim::SimMachine&, const std::string& key)> arrange;
    const char* line;  // after the file's path
    int32_t status;
    uint32_t held;  // the bytes the file holds afterwards
    std::vector<uint32_t> writes;
  } cases[] = {
      // The disk fills up inside the second write, or just before it: a short write.
      {[](sim::SimMachine& m, const std::string& k) { m.files.short_writes[k] = kChunk + 10; },
       " Write file has failed: 262154 of 524388 bytes written, the disk is full\n",
       kDiskFullOnWrite,
       kChunk + 10,
       {kChunk, kChunk}},
      {[](sim::SimMachine& m, const std::string& k) { m.files.short_writes[k] = kChunk; },
       " Write file has failed: 262144 of 524388 bytes written, the disk is full\n",
       kDiskFullOnWrite,
       kChunk,
       {kChunk, kChunk}},
      // A later write fails: its error is told, a full disk as such.
      {[](sim::SimMachine& m, const std::string& k) { m.files.write_errors[k] = Error(112, kChunk); },
       " Write file has failed, error 112: the disk is full\n",
       kDiskFullOnWrite,
       kChunk,
       {kChunk, kChunk}},
      {[](sim::SimMachine& m, const std::string& k) { m.files.write_errors[k] = Error(5, 2 * kChunk); },
       " Write file has failed, error 5\n",
       kFail,
       2 * kChunk,
       {kChunk, kChunk, 100}},
  };
  for (const Case& c : cases) {
    const std::string bytes = Numbered(size);
    OneFileRun run(bytes);
    c.arrange(run.m, sim::SimFileSystem::Key(run.path));
    EXPECT_EQ(run.Extract(), c.status) << c.line;
    EXPECT_TRUE(run.m.files.Contents(run.path) == bytes.substr(0, c.held)) << c.line;
    EXPECT_EQ(run.Writes(), c.writes) << c.line;
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<uint32_t>(c.status));
    const std::string log_text = Narrow(run.l.pending());
    EXPECT_NE(log_text.find(Narrow(run.path) + c.line + "Extract File a.bin " + code + "\n"), std::string::npos)
        << log_text;
  }
}

TEST_F(PayloadTest, NamesThatWouldLeaveThePrivateFolderOrNameADeviceAreNeverWritten) {
  const char* names[] = {"..\\evil.txt", "sub\\..\\..\\evil.txt", "C:\\evil.txt", "\\evil.txt",
                         "\\\\server\\share\\evil.txt", "ok.txt:stream", "../evil.txt", "sub\\.. \\evil.txt",
                         // A device would take the bytes: a serial port, or nowhere.
                         "COM1.log", "NUL", "con.exe", "sub\\Aux\\x.txt", "lpt\xB9.prn", "Prn .txt"};
  for (const char* name : names) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    sim::PayloadInputs a(m, l);
    m.files.MakeDirectories(u"C:\\Work\\base");
    m.resources.Add(u"TOOLKIT", 101, std::string("102*") + name + "*4");
    m.resources.Add(u"TOOLKIT", 102, "evil");
    ASSERT_EQ(SetTempFolder(a.payload, u"C:\\Work\\base"), kOk);
    Text path;
    EXPECT_EQ(ExtractResources(a.payload, &m.resources, false, a.resources, path), kFail) << name;
    EXPECT_FALSE(m.files.Exists(u"C:\\Work\\evil.txt")) << name;
    EXPECT_FALSE(m.files.Exists(u"C:\\evil.txt")) << name;
    EXPECT_TRUE(m.files.List(GetTempFolder(a.payload)).empty()) << name;
    std::string log_text = Narrow(l.pending());
    std::string lowered = name;
    for (char& ch : lowered) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(log_text.find(lowered + " Create file has failed\n"), std::string::npos) << log_text;
    EXPECT_TRUE(path.empty()) << name;

    m.files.Put(u"C:\\Work\\evil.txt", "theirs");
    m.files.Put(u"C:\\evil.txt", "theirs");
    RemovePrivateFolder(a.payload, a.resources);
    EXPECT_EQ(m.files.Contents(u"C:\\Work\\evil.txt"), "theirs") << name;
    EXPECT_EQ(m.files.Contents(u"C:\\evil.txt"), "theirs") << name;
  }
}

TEST(DeviceNameTest, ReservedNamesInAnyFormAndAnyComponentAndOnlyThoseAreDevices) {
  const std::pair<const char16_t*, bool> cases[] = {
      {u"CON", true},
      {u"prn", true},
      {u"Aux", true},
      {u"nUl", true},
      {u"COM1", true},
      {u"com9", true},
      {u"LPT1", true},
      {u"lpt9", true},
      {u"COM\u00B9", true},
      {u"com\u00B2", true},
      {u"LPT\u00B3.txt", true},
      {u"COM1.log", true},
      {u"CON.tar.gz", true},
      {u"Nul....", true},
      {u"NUL ", true},
      {u"COM1 .log", true},
      {u"sub\\con\\x.txt", true},
      {u"sub/dir/Aux.h", true},
      {u"nul\\", true},
      {u"", false},
      {u"CONSOLE", false},
      {u"NULL", false},
      {u"CON_", false},
      {u" CON", false},
      {u"a.con", false},
      {u"COM", false},
      {u"COM0", false},
      {u"LPT10", false},
      {u"COM1x", false},
      {u"COM\u2074", false},
      {u"\uFF23\uFF2F\uFF2E", false},
      {u"sub\\connect\\x.txt", false},
      {u"docs\\com10.txt", false},
  };
  for (const auto& [name, device] : cases) EXPECT_EQ(NamesReservedDevice(name), device) << Narrow(name);
}

TEST_F(PayloadTest, ANameTooLongForAPathFailsThatFile) {
  std::string long_name(230, 'n');
  EXPECT_EQ(Extract("102*" + long_name + "*1", {{102, "x"}}), kFail);
  EXPECT_TRUE(machine.files.List(Folder()).empty());
  EXPECT_TRUE(Logged(long_name + " Create file has failed\nExtract File " + long_name + " 80004005\n"));
}

TEST_F(PayloadTest, ZeroGuidOptionIsSetAfterEnumerationAndBeforeNaming) {
  EXPECT_EQ(Extract("102*a.exe*1", {{102, "x"}}, /*zero_guid=*/true), kOk);
  EXPECT_EQ(Narrow(program), "C:\\Work\\{00000000-0000-0000-0000-000000000000}\\a.exe");
}

// ---- links: nothing is created, written or deleted through one ----

TEST(LinkFreeTest, EveryEntryFromTheFolderDownIsLookedAt) {
  sim::SimMachine m;
  m.files.MakeDirectories(u"C:\\p\\real");
  m.files.MakeLink(u"C:\\p\\link", u"C:\\theirs");
  m.files.MakeLink(u"C:\\p\\real\\last", u"C:\\theirs");
  struct Case {
    const char16_t* path;  // below C:\p
    bool including_path, free;
  } cases[] = {
      {u"C:\\p\\missing\\link\\x.bin", true, true},  // nothing exists below a missing entry
      {u"C:\\p/link/x.bin", false, false},
      {u"C:\\p\\real\\last", true, false},
      {u"C:\\p\\real\\last", false, true},  // deleting a link removes the link
      {u"C:\\pp\\x.bin", true, false},      // not below the folder
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLinkFree(m.files, u"C:\\p", c.path, c.including_path), c.free) << Narrow(c.path) << c.including_path;
  }
}

class LinkTest : public PayloadTest {
 protected:
  static constexpr char16_t kZero[] = u"C:\\Work\\{00000000-0000-0000-0000-000000000000}";
  static constexpr char16_t kTheirs[] = u"C:\\Users\\me\\Documents";
  void SetUp() override {
    PayloadTest::SetUp();
    machine.files.Put(Text(kTheirs) + u"\\b file.bin", "mine");  // under a payload file's name
    machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*1*103*Sub Dir\\b file.bin*1*104*Sub Dir\\deeper\\c.bin*1");
    for (uint32_t id : {102u, 103u, 104u}) machine.resources.Add(u"TOOLKIT", id, "x");
  }
  int32_t Extract() { return ExtractResources(payload, &machine.resources, false, resources, program); }
  // What removal logs, and that the user's folder is as it was.
  std::string Remove() {
    std::size_t before = log.pending().size();
    RemovePrivateFolder(payload, resources);
    EXPECT_EQ(machine.files.List(kTheirs), std::vector<std::string>{"b file.bin"});
    EXPECT_EQ(machine.files.Contents(Text(kTheirs) + u"\\b file.bin"), "mine");
    return Narrow(log.pending().substr(before));
  }
  const std::string f = Narrow(kZero);
};

TEST_F(LinkTest, ZeroGuidPlaceMustBeAbsentOrARealFolder) {
  SetZeroGuid(payload);
  machine.files.MakeLink(kZero, kTheirs);
  EXPECT_EQ(SetTempFolder(payload, base), kFail);
  ASSERT_TRUE(machine.files.RemoveDirectory(kZero));
  machine.files.Put(kZero, "a file");
  EXPECT_EQ(SetTempFolder(payload, base), kFail);
  EXPECT_EQ(LogText(), "SetTempFolder has failed\nSetTempFolder has failed\n");
  ASSERT_TRUE(machine.files.DeleteFile(kZero));
  machine.files.MakeDirectories(kZero);  // a real folder, as a /keep run leaves it
  EXPECT_EQ(SetTempFolder(payload, base), kOk);
}

TEST_F(LinkTest, LinkAtThePrivateFolderFailsGetTempFolderAndEveryFileAndRemovalKeepsTheLink) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  SetZeroGuid(payload);  // planted after the probe: only GetTempFolder can see it
  machine.files.MakeLink(kZero, kTheirs);
  EXPECT_EQ(Extract(), kFail);
  EXPECT_TRUE(machine.files.access_granted.empty()) << "the target's access list stays as it was";
  EXPECT_TRUE(Logged("GetTempFolder has failed\n"));
  EXPECT_TRUE(
      Logged(f + "\\sub dir\\deeper\\c.bin Create file has failed\nExtract File sub dir\\deeper\\c.bin 80004005\n"));
  // Not the run's own: under Wine, removing a link to an empty folder removes the folder.
  EXPECT_EQ(Remove(), "Deletion Folder of '" + f + "'\nKept '" + f + "': this run did not write it\n");
  EXPECT_TRUE(machine.files.Exists(kZero));
}

TEST_F(LinkTest, LinkInsideThePrivateFolderFailsItsRecordAndRemovalKeepsWhatTheRunFound) {
  SetZeroGuid(payload);
  machine.files.MakeLink(Text(kZero) + u"\\sub dir", kTheirs);
  machine.files.Put(Text(kZero) + u"\\a.txt", "x");
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  EXPECT_EQ(Extract(), kFail);
  EXPECT_TRUE(
      Logged(f + "\\sub dir\\deeper\\c.bin Create file has failed\nExtract File sub dir\\deeper\\c.bin 80004005\n"));
  EXPECT_EQ(Remove(), "Deletion Folder of '" + f + "'\nKept '" + f + "\\a.txt': this run did not write it\nKept '" + f +
                          "\\sub dir': this run did not write it\nKept '" + f + "': this run did not write it\n");
  EXPECT_EQ(machine.files.Contents(Text(kZero) + u"\\a.txt"), "x");
}

TEST_F(LinkTest, FolderSwappedForALinkAfterTheUnpackingTakesNothingOfTheTargetWithIt) {
  const Text empty = u"C:\\Users\\me\\empty";
  machine.files.MakeDirectories(empty);
  SetZeroGuid(payload);
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  ASSERT_EQ(Extract(), kOk);
  folder.own.ReleaseHolds();
  ASSERT_TRUE(machine.files.Move(kZero, Text(kZero) + u".moved"));
  machine.files.MakeLink(kZero, empty);
  const std::string text = Remove();
  EXPECT_NE(text.find("Kept '" + f + "\\a.txt': it could not be deleted\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Kept '" + f + "': this run did not write it\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Manual Deletion"), std::string::npos) << text;
  EXPECT_TRUE(machine.files.IsDirectory(empty)) << "the user's empty folder stays";
  EXPECT_EQ(machine.files.List(Text(kZero) + u".moved").size(), 5u) << "the moved files are not followed either";
}

// ---- the information block ----

std::string Window(const std::string& tail) {
  std::string w(kInfoWindowSize, 'x');
  w.replace(w.size() - tail.size(), tail.size(), tail);
  return w;
}

TEST(EmbeddedInformationTest, ScansTheWindowBackwards) {
  // The window ends one byte before the end of the file, so the last five bytes of the
  // window are the five bytes that precede the file's last byte.
  struct Case {
    std::string window;
    std::optional<std::string> info;
    const char* why;
  } cases[] = {
      {Window("MRDC<info/>12345"), "<info/>", "six bytes follow: all of it"},
      {Window("MRDC<info/>"), "<i", "no padding: the last bytes count as the six"},
      {Window("MRDCa\0b12345"s), "a\0b"s, "a zero byte is kept"},
      {Window("MRDCfirstMRDCsecond12345"), "second", "the marker nearest the end wins"},
      {Window("MRDC12345"), std::nullopt, "nothing between marker and padding"},
      {Window("MRDCfirstMRDC12345"), std::nullopt, "an empty last one hides an earlier one"},
      {"MRDC" + std::string(kInfoWindowSize - 4, 'x'), std::nullopt, "index 0 is never looked at"},
      {"xMRDC" + std::string(kInfoWindowSize - 5, 'y'), std::string(kInfoWindowSize - 10, 'y'), "index 1 is"},
      {std::string(kInfoWindowSize, 'x'), std::nullopt, "no marker"},
  };
  for (const Case& c : cases) {
    auto found = FindEmbeddedInformation(reinterpret_cast<const uint8_t*>(c.window.data()), kInfoWindowSize);
    ASSERT_EQ(found.has_value(), c.info.has_value()) << c.why;
    if (found) EXPECT_EQ(c.window.substr(found->offset, found->length), *c.info) << c.why;
  }
}

class InfoFileTest : public PayloadTest {
 protected:
  void WithExecutable(const std::string& bytes) {
    machine.files.Put(machine.files.module_path, bytes);
    ASSERT_EQ(SetTempFolder(payload, base), kOk);
  }
};

TEST_F(InfoFileTest, TaggedExecutableWritesExactlyTheTagsBytes) {
  WithExecutable(std::string(10000, 'p') + "MRDC<info/>" + std::string(6, '\0'));
  EXPECT_EQ(WriteInfoFile(payload), 0);
  EXPECT_EQ(In("info.xml"), "<info/>");
  std::string path = Narrow(Folder()) + "\\info.xml";
  EXPECT_EQ(LogText(),
            "Scanning for Signature\r\nFound embedded information '<info/>'\r\n"
            "Written out embedded information 7 bytes to file " +
                path + "\r\n");
}

TEST_F(InfoFileTest, SmallOrUntaggedExecutablesWriteNothing) {
  for (const std::string& exe : {std::string(4116, 'M'), std::string(20000, 'p')}) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    sim::PayloadInputs a(m, l);
    m.files.Put(m.files.module_path, exe);
    EXPECT_EQ(WriteInfoFile(a.payload), 0);
    EXPECT_TRUE(m.files.List(GetTempFolder(a.payload)).empty());
    EXPECT_EQ(Narrow(l.pending()), "Scanning for Signature\r\nNo embedded information found\r\n");
  }
}

TEST_F(InfoFileTest, ZeroByteEndsTheLoggedTextButNotTheFile) {
  WithExecutable(std::string(5000, 'p') + "MRDCab\0cd"s + std::string(6, ' '));
  WriteInfoFile(payload);
  EXPECT_EQ(In("info.xml"), "ab\0cd"s);
  EXPECT_TRUE(Logged("Found embedded information 'ab'\r\n"));
}

TEST_F(InfoFileTest, ControlCharactersAreEscapedInTheLogOnly) {
  const std::string info = "a\r\nFound embedded information 'forged'\r\n\x01\x1f\tC:\\x\x7f";
  WithExecutable(std::string(5000, 'p') + "MRDC" + info + std::string(6, ' '));
  WriteInfoFile(payload);
  EXPECT_EQ(In("info.xml"), info);
  EXPECT_TRUE(
      Logged("Found embedded information 'a\\r\\nFound embedded information 'forged'\\r\\n"
             "\\x01\\x1F\tC:\\x\x7f'\r\n"));
  const std::string text = LogText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);  // the tag starts no line of its own
}

TEST_F(InfoFileTest, MarkerOutsideTheWindowIsNotFound) {
  const struct {
    const char* name;
    std::string exe;
  } rows[] = {
      {"marker 4117 bytes from the end", std::string(5000, 'p') + "MRDC" + std::string(4113, 'i')},
      {"marker 10 bytes from the end", std::string(5000, 'p') + "MRDC" + std::string(6, 'i')},
      {"marker only in the signed image", "MRDC<info/>" + std::string(5000, 'p')},
  };
  for (const auto& row : rows) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    sim::PayloadInputs a(m, l);
    m.files.Put(m.files.module_path, row.exe);
    WriteInfoFile(a.payload);
    EXPECT_TRUE(m.files.List(GetTempFolder(a.payload)).empty()) << row.name;
    EXPECT_EQ(Narrow(l.pending()), "Scanning for Signature\r\nNo embedded information found\r\n") << row.name;
  }
}

TEST_F(InfoFileTest, NoInformationFileIsWrittenThroughALink) {
  machine.files.Put(u"C:\\Users\\me\\info.xml", "mine");
  WithExecutable(std::string(10000, 'p') + "MRDC<info/>" + std::string(6, '\0'));
  SetZeroGuid(payload);
  machine.files.MakeLink(u"C:\\Work\\{00000000-0000-0000-0000-000000000000}", u"C:\\Users\\me");
  EXPECT_EQ(WriteInfoFile(payload), kFail);
  EXPECT_EQ(machine.files.Contents(u"C:\\Users\\me\\info.xml"), "mine");
  EXPECT_TRUE(Logged("Failed to create temp file C:\\Work\\{00000000-0000-0000-0000-000000000000}\\info.xml 681\r\n"));
}

TEST_F(InfoFileTest, UnreadableExecutableIsLogged) {
  ASSERT_EQ(SetTempFolder(payload, base), kOk);
  EXPECT_EQ(WriteInfoFile(payload), 0);
  EXPECT_EQ(LogText(), "Scanning for Signature\r\nFailed to open installer file C:\\work\\CarryallInstaller.exe 2\r\n");
}

// ---- removal ----

TEST_F(PayloadTest, RemovalDeletesEverythingDepthFirstAndKeepsTheBase) {
  ASSERT_EQ(Extract("102*a.txt*1*103*sub\\b.txt*1", {{102, "a"}, {103, "b"}}), kOk);
  Text folder = Folder();
  machine.files.Put(folder + u"\\left\\deep\\c.txt", "c");  // what a wizard might leave
  log.Close();
  std::size_t before = log.pending().size();
  EXPECT_EQ(RemovePrivateFolder(payload, resources), 0);
  EXPECT_FALSE(machine.files.Exists(folder));
  EXPECT_TRUE(machine.files.IsDirectory(base));
  std::string f = Narrow(folder);
  EXPECT_EQ(Narrow(log.pending().substr(before)), "Manual Deletion of '" + f +
                                                      "\\sub\\b.txt'\n"
                                                      "Manual Deletion of '" +
                                                      f +
                                                      "\\a.txt'\n"
                                                      "Deletion Folder of '" +
                                                      f +
                                                      "'\n"
                                                      "Deletion subfolder Folder of '" +
                                                      f +
                                                      "\\left'\n"
                                                      "Deletion subfolder Folder of '" +
                                                      f +
                                                      "\\left\\deep'\n"
                                                      "Deletion file '" +
                                                      f +
                                                      "\\left\\deep\\c.txt'\n"
                                                      "Remove Folder '" +
                                                      f +
                                                      "\\left\\deep'\n"
                                                      "Remove Folder '" +
                                                      f +
                                                      "\\left'\n"
                                                      "Deletion subfolder Folder of '" +
                                                      f +
                                                      "\\sub'\n"
                                                      "Remove Folder '" +
                                                      f +
                                                      "\\sub'\n"
                                                      "Remove Folder '" +
                                                      f + "'\n");
  EXPECT_EQ(Narrow(machine.files.current_directory), "C:\\");
}

TEST_F(PayloadTest, NamesAreReadAsWindowsReadsThemAndRemovedWhole) {
  // A run of separators is one, and a "." component names its own folder.
  ASSERT_EQ(Extract("102*a\\\\b\\c.txt*1*103*d//e*1*104*.\\f.txt*1*105*g\\.\\h.txt*1",
                    {{102, "c"}, {103, "e"}, {104, "f"}, {105, "h"}}),
            kOk);
  Text folder = Folder();
  EXPECT_EQ(machine.files.List(folder),
            (std::vector<std::string>{"a\\", "a\\b\\", "a\\b\\c.txt", "d\\", "d\\e", "f.txt", "g\\", "g\\h.txt"}));
  EXPECT_EQ(RemovePrivateFolder(payload, resources), 0);
  EXPECT_FALSE(machine.files.Exists(folder));
}

// Read-only is no hold: in the run's own folder the attribute is cleared and all goes.
TEST_F(PayloadTest, ReadOnlyFileInTheRunsFolderGoesWithItsFolders) {
  ASSERT_EQ(Extract("102*a.txt*1", {{102, "a"}}), kOk);
  Text folder = Folder();
  machine.files.Put(folder + u"\\sub\\locked.txt", "x", kFileAttributeReadOnly);
  RemovePrivateFolder(payload, resources);
  EXPECT_FALSE(machine.files.Exists(folder));
  EXPECT_TRUE(machine.system.sleeps.empty());
}

TEST_F(PayloadTest, LinksInsideThePrivateFolderAreRemovedNotFollowed) {
  ASSERT_EQ(Extract("102*a.txt*1", {{102, "a"}}), kOk);
  machine.files.Put(u"C:\\Users\\me\\Documents\\precious.doc", "mine");
  Text folder = Folder();
  machine.files.MakeLink(folder + u"\\docs", u"C:\\Users\\me\\Documents");
  ASSERT_EQ(machine.files.Contents(folder + u"\\docs\\precious.doc"), "mine");  // the link works
  RemovePrivateFolder(payload, resources);
  EXPECT_EQ(machine.files.Contents(u"C:\\Users\\me\\Documents\\precious.doc"), "mine");
  EXPECT_FALSE(machine.files.Exists(folder));
}

}  // namespace
}  // namespace carryall
