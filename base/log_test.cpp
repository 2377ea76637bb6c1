#include "base/log.h"

#include <gtest/gtest.h>

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
    auto wizard = files.OpenExclusive(u"C:\\log.txt", IFileSystem::OpenMode::kAppend);
    ASSERT_TRUE(wizard) << "the file must be free while the bootstrapper has it closed";
    ASSERT_TRUE((*wizard)->Write("Wizard: hello\r\n", 15));
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
  EXPECT_EQ(files.OpenExclusive(u"C:\\log.txt", IFileSystem::OpenMode::kAppend).error(), kErrorSharingViolation);
  log.Close();
  EXPECT_TRUE(files.OpenExclusive(u"C:\\log.txt", IFileSystem::OpenMode::kAppend));
}

TEST_F(LogTest, AFailedOpenKeepsThePendingTextAndThePathForALaterReopen) {
  files.unopenable.insert("c:\\locked.txt");
  log.Write(u"kept\n");
  log.Open(u"C:\\locked.txt");
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(log.pending(), u"kept\n");
  EXPECT_EQ(log.path(), u"C:\\locked.txt");
  files.unopenable.clear();
  log.Reopen();
  EXPECT_TRUE(log.is_open());
  log.Write(u"appended\n");
  log.Close();
  EXPECT_EQ(files.Contents("C:\\locked.txt"), "appended\r\n");
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
