#include "base/log.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

class LogTest : public ::testing::Test {
 protected:
  sim::SimFileSystem files;
  sim::SimCodePage code_page;
  FileLog log{files, code_page};
};

TEST_F(LogTest, LinesBeforeOpenGoToTheTopInOrder) {
  log.Write(u"one\n");
  log.Printf(u"two %d\n", 2);
  log.Open(u"C:\\log.txt");
  log.Write(u"three\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "one\r\ntwo 2\r\nthree\r\n");
  EXPECT_TRUE(log.pending().empty());
}

TEST_F(LogTest, ANameHoldingANulEndsThereAndTheLineGoesOn) {
  log.Open(u"C:\\log.txt");
  log.Printf(u"Resource %d '%s' written\n", 102, Text(u"a.txt\0junk", 10));
  log.Write(u"next\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "Resource 102 'a.txt' written\r\nnext\r\n");
}

TEST_F(LogTest, OpeningTheSameFileAgainNeitherTruncatesNorDuplicates) {
  log.Write(u"early\n");
  log.Open(u"C:\\log.txt");
  log.Write(u"middle\n");
  log.Open(u"C:\\log.txt");
  log.Write(u"late\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "early\r\nmiddle\r\nlate\r\n");
}

TEST_F(LogTest, OpeningAnotherFileClosesTheFirstAndTruncatesTheSecond) {
  files.Put("C:\\b.txt", "old content");
  log.Open(u"C:\\a.txt");
  log.Write(u"to a\n");
  log.Open(u"C:\\b.txt");
  log.Write(u"to b\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\a.txt"), "to a\r\n");
  EXPECT_EQ(files.Contents("C:\\b.txt"), "to b\r\n");
}

TEST_F(LogTest, CharactersOutsideTheCodePageBecomeTheReplacementAndTheLineStaysWhole) {
  log.Open(u"C:\\log.txt");
  log.Write(u"caf\u00e9 \u4e2d\u6587 end\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "caf\xe9 ?? end\r\n");
}

TEST_F(LogTest, ANameOutsideTheCodePageIsOpenedByItsOwnName) {
  // Both names read "C:\???.txt" in the code page; each is its own file all the same.
  const Text first = u"C:\\\u043b\u043e\u0433.txt", second = u"C:\\\u0436\u0443\u0440.txt";
  log.Open(first);
  log.Close();
  log.Reopen();
  log.Write(u"one\n");
  log.Open(second);
  log.Write(u"two\n");
  log.Close();
  EXPECT_EQ(files.Contents(first), "one\r\n");
  EXPECT_EQ(files.Contents(second), "two\r\n");
  EXPECT_FALSE(files.Exists(u"C:\\???.txt"));
}

TEST_F(LogTest, MultiByteCodePageLinesAreWrittenWhole) {
  code_page.kind = sim::SimCodePage::Kind::kUtf8;
  log.Open(u"C:\\log.txt");
  Text line(500, u'\u4e2d');  // three bytes each: more than two bytes per unit
  log.Write(line + u"\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt").size(), 1500u + 2u);
}

TEST_F(LogTest, EveryLineFeedBecomesCarriageReturnLineFeed) {
  log.Open(u"C:\\log.txt");
  log.Write(u"a\nb\r\nc\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "a\r\nb\r\r\nc\r\n");
}

TEST_F(LogTest, ReopenAppendsAfterWhatTheWizardWrote) {
  log.Open(u"C:\\log.txt");
  log.Write(u"before\n");
  log.Close();
  {
    auto wizard = files.OpenForWriting(u"C:\\log.txt");
    ASSERT_TRUE(wizard) << "the file must be free while the bootstrapper has it closed";
    ASSERT_TRUE(wizard->handle->SeekToEnd());
    ASSERT_TRUE(wizard->handle->WriteOnce("Wizard: hello\r\n", 15));
  }
  log.Write(u"while closed\n");  // kept in memory, not written by the reopen
  log.Reopen();
  log.Write(u"after\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "before\r\nWizard: hello\r\nafter\r\n");
  EXPECT_EQ(log.pending(), u"while closed\n");
}

TEST_F(LogTest, TheOpenFileIsExclusive) {
  log.Open(u"C:\\log.txt");
  EXPECT_EQ(files.OpenForWriting(u"C:\\log.txt").error(), kErrorSharingViolation);
  log.Close();
  EXPECT_TRUE(files.OpenForWriting(u"C:\\log.txt"));
}

TEST_F(LogTest, AFailedOpenKeepsThePendingTextAndNoReopenWritesToAFileTheRunNeverOpened) {
  files.unopenable.insert("c:\\locked.txt");
  log.Write(u"kept\n");
  log.Open(u"C:\\locked.txt");
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(log.pending(), u"kept\n");
  EXPECT_EQ(log.path(), u"C:\\locked.txt");
  files.unopenable.clear();
  log.Reopen();
  EXPECT_FALSE(log.is_open());
  log.Write(u"after\n");
  EXPECT_EQ(log.pending(), u"kept\nafter\n");
}

// The log is opened as a payload file is: never through a link at its place, never into
// a file with other names; the lines stay in memory instead.
TEST_F(LogTest, NothingIsWrittenThroughALinkOrASecondName) {
  struct Row {
    const char* name;
    std::function<void(sim::SimFileSystem&)> plant;
  } rows[] = {
      {"a link that reads as the file",
       [](sim::SimFileSystem& f) { f.MakeFileLink(u"C:\\log.txt", u"C:\\Users\\me\\keep.txt"); }},
      {"a second name of the user's file",
       [](sim::SimFileSystem& f) { f.MakeHardLink(u"C:\\log.txt", u"C:\\Users\\me\\keep.txt"); }},
      {"a link to nothing", [](sim::SimFileSystem& f) { f.MakeFileLink(u"C:\\log.txt", u"C:\\Users\\me\\new.txt"); }},
      {"a folder link", [](sim::SimFileSystem& f) { f.MakeLink(u"C:\\log.txt", u"C:\\Users\\me"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimFileSystem f;
    FileLog l(f, code_page);
    f.Put(u"C:\\Users\\me\\keep.txt", "mine");
    row.plant(f);
    l.Write(u"line\n");
    l.Open(u"C:\\log.txt");
    EXPECT_FALSE(l.is_open());
    l.Close();
    EXPECT_EQ(f.Contents("C:\\Users\\me\\keep.txt"), "mine");
    EXPECT_FALSE(f.Exists(u"C:\\Users\\me\\new.txt"));
    EXPECT_EQ(l.pending(), u"line\n");
    EXPECT_EQ(f.open_handles, 0);
  }
}

// Closed while the wizard runs, the log is reopened by name: only the very file the run
// opened is written to again, and what stands there otherwise keeps its bytes.
TEST_F(LogTest, AReopenWritesOnlyIntoTheFileTheRunOpened) {
  struct Row {
    const char* name;
    std::function<void(sim::SimFileSystem&)> meanwhile;
    bool reopened;
    const char* keep;  // the user's file afterwards
  } rows[] = {
      {"the same file", [](sim::SimFileSystem&) {}, true, "mine"},
      {"a link to the user's file in its place",
       [](sim::SimFileSystem& f) {
         ASSERT_TRUE(f.DeleteFile(u"C:\\log.txt"));
         f.MakeFileLink(u"C:\\log.txt", u"C:\\Users\\me\\keep.txt");
       },
       false, "mine"},
      {"another file of the same name",
       [](sim::SimFileSystem& f) {
         ASSERT_TRUE(f.DeleteFile(u"C:\\log.txt"));
         f.Put(u"C:\\log.txt", "other");
       },
       false, "mine"},
      {"a second name given to the log",
       [](sim::SimFileSystem& f) { f.MakeHardLink(u"C:\\Users\\me\\copy.txt", u"C:\\log.txt"); }, false, "mine"},
      {"the log deleted", [](sim::SimFileSystem& f) { ASSERT_TRUE(f.DeleteFile(u"C:\\log.txt")); }, false, "mine"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimFileSystem f;
    FileLog l(f, code_page);
    f.Put(u"C:\\Users\\me\\keep.txt", "mine");
    l.Open(u"C:\\log.txt");
    l.Write(u"before\n");
    l.Close();
    row.meanwhile(f);
    const std::string there = f.Exists(u"C:\\log.txt") ? f.Contents("C:\\log.txt") : "(none)";
    l.Reopen();
    EXPECT_EQ(l.is_open(), row.reopened);
    l.Write(u"after\n");
    l.Close();
    EXPECT_EQ(f.Contents("C:\\Users\\me\\keep.txt"), row.keep);
    const std::string now = f.Exists(u"C:\\log.txt") ? f.Contents("C:\\log.txt") : "(none)";
    EXPECT_EQ(now, row.reopened ? there + "after\r\n" : there);
    EXPECT_EQ(f.open_handles, 0);
  }
}

TEST_F(LogTest, ReopenWithoutAPathStaysClosed) {
  log.Reopen();
  EXPECT_FALSE(log.is_open());
  log.Write(u"x\n");
  EXPECT_EQ(log.pending(), u"x\n");
}

TEST_F(LogTest, ALineThatCannotBeConvertedIsSkipped) {
  log.Open(u"C:\\log.txt");
  code_page.kind = sim::SimCodePage::Kind::kBroken;
  log.Write(u"lost\n");
  code_page.kind = sim::SimCodePage::Kind::kWestern;
  log.Write(u"kept\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\log.txt"), "kept\r\n");
}

}  // namespace
}  // namespace carryall
