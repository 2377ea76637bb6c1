#include "cmdline/command_line.h"

#include <gtest/gtest.h>

namespace carryall {
namespace {

std::string N(const Text& t) {
  std::string s;
  for (char16_t c : t) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return s;
}

std::vector<std::string> Split(const Text& line) {
  std::vector<std::string> out;
  for (const Text& a : SplitCommandLine(line)) out.push_back(N(a));
  return out;
}

using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, FollowsTheCRunTimeRules) {
  struct Case {
    const char16_t* line;
    Args expected;
  } cases[] = {
      {u"prog", {"prog"}},
      {u"prog a b", {"prog", "a", "b"}},
      {u"prog  \t a\t\tb  ", {"prog", "a", "b"}},
      {u"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
      {u"C:\\a\"b c\"d e", {"C:\\ab cd", "e"}},                  // quotes in the program only toggle
      {u"C:\\path\\prog.exe\\\" x", {"C:\\path\\prog.exe\\ x"}},  // no escapes in the program name
      {u"p \"a b\" c", {"p", "a b", "c"}},
      {u"p a\\\\b", {"p", "a\\\\b"}},                            // backslashes alone are kept
      {u"p a\\\"b", {"p", "a\"b"}},                              // odd count: escaped quote
      {u"p a\\\\\"b c\"", {"p", "a\\b c"}},                      // even count: halved, quote toggles
      {u"p a\\\\\\\"b", {"p", "a\\\"b"}},                        // 3 backslashes + quote
      {u"p \"a\"\"b\" c", {"p", "a\"b", "c"}},                   // "" inside quotes: literal, still quoted
      {u"p \"a\"\"b c\"", {"p", "a\"b c"}},
      {u"p a\"\"b", {"p", "ab"}},                                // "" outside quotes: empty toggle pair
      {u"p \"\" x", {"p", "", "x"}},                             // an empty argument
      {u"p \"C:\\dir\\\\\" x", {"p", "C:\\dir\\", "x"}},
      {u"p \"unterminated arg", {"p", "unterminated arg"}},
      {u"p CFU=\\\"a b\\\"", {"p", "CFU=\"a", "b\""}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.line), c.expected) << N(c.line);
}

TEST(SplitCommandLineTest, TextAfterTheProgramIsWhatWinMainSees) {
  EXPECT_EQ(N(CommandLineAfterProgram(u"\"C:\\a b\\x.exe\"   /log  x ")), "/log  x ");
  EXPECT_EQ(N(CommandLineAfterProgram(u"x.exe")), "");
}

TEST(OptionMapTest, BucketsFollowTheMultiplyBy33Hash) {
  EXPECT_EQ(OptionMap::BucketOf(u"IAgreeToTheEULA"), 9u);
  EXPECT_EQ(OptionMap::BucketOf(u"log"), 15u);
  EXPECT_EQ(OptionMap::BucketOf(u"extract"), 15u);
  // Long names wrap at 32 bits rather than overflow.
  EXPECT_LT(OptionMap::BucketOf(Text(1000, u'\xffff')), 17u);
}

TEST(OptionMapTest, NewNamesGoToTheHeadOfTheirChainAndReplacingKeepsThePlace) {
  OptionMap map;
  map.Set(u"log", u"1");
  map.Set(u"extract", u"2");  // same bucket, later: comes first
  map.Set(u"IAgreeToTheEULA", u"TRUE");
  map.Set(u"log", u"3");  // replaced in place
  std::vector<std::string> order;
  map.ForEach([&](const Text& n, const Text& v) { order.push_back(N(n) + "=" + N(v)); });
  EXPECT_EQ(order, (Args{"IAgreeToTheEULA=TRUE", "extract=2", "log=3"}));
  map.Remove(u"extract");
  EXPECT_EQ(map.Find(u"extract"), nullptr);
  EXPECT_EQ(map.Find(u"LOG"), nullptr);  // names are compared exactly
}

struct Parsed {
  CCommandLineInfoEx info;
  std::string Compose(const Text& program = u"Mini") {
    Text out;
    info.ComposeWizardArguments(program, out);
    return N(out);
  }
};

Parsed Parse(const Text& args) {
  Parsed p;
  p.info.ParseCommandLine(u"prog.exe " + args);
  return p;
}

TEST(CommandLineInfoTest, WorkedExampleOrdersByBucket) {
  Parsed p = Parse(u"log c:\\log.txt /IAgreeToTheEULA");
  EXPECT_EQ(p.Compose(), "/IAgreeToTheEULA /log \"c:\\log.txt\" VH_I=\"Mini\" ");
}

TEST(CommandLineInfoTest, ComposesEachKindOfPiece) {
  struct Case {
    const char16_t* args;
    const char* expected;
  } cases[] = {
      {u"", "VH_I=\"Mini\" "},
      {u"-IAgreeToTheEULA", "/IAgreeToTheEULA VH_I=\"Mini\" "},
      {u"/x -x", "/x VH_I=\"Mini\" "},                                 // a flag given twice is written once
      {u"NAME=VALUE", "NAME=VALUE VH_I=\"Mini\" "},
      {u"temp C:\\", "/temp \"C:\\\\\" VH_I=\"Mini\" "},                  // trailing backslash doubled
      {u"temp \\", "/temp \"\\\" VH_I=\"Mini\" "},                        // a lone backslash is not
      {u"temp true", "/temp VH_I=\"Mini\" "},                           // "TRUE" in any case is a flag
      {u"LOG c:\\x.txt", "/LOG \"c:\\x.txt\" VH_I=\"Mini\" "},          // keyword in any case, name as typed
      {u"temp \"a \\\"b\\\" c\"", "/temp \"a \"b\" c\" VH_I=\"Mini\" "},  // written as stored
      {u"log", "log VH_I=\"Mini\" "},  // a keyword as last argument is a bare word
      {u"log temp c:\\t", "/temp \"c:\\t\" VH_I=\"Mini\" "},             // a keyword followed by a keyword is forgotten
      {u"log /x c:\\t", "c:\\t /x VH_I=\"Mini\" "},                     // ... and by a flag
      {u"/log c:\\x.txt", "c:\\x.txt /log VH_I=\"Mini\" "},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.args).Compose(), c.expected) << N(c.args);
}

TEST(CommandLineInfoTest, QuotedPropertyIsCollectedOverSeveralArguments) {
  Parsed p = Parse(u"CFU=\\\"a /flag b\\\" after");
  Text value;
  EXPECT_TRUE(p.info.GetOption(u"CFU=\"a b\"", value));
  EXPECT_TRUE(value.empty());
  EXPECT_TRUE(p.info.HasFlagOption(u"flag"));
  EXPECT_EQ(p.Compose(u""), "after CFU=\"a b\" /flag VH_I=\"\" ");
}

TEST(CommandLineInfoTest, UnterminatedQuotedPropertyIsNeverStored) {
  Parsed p = Parse(u"cfu=\\\"a b");
  EXPECT_EQ(p.Compose(), "VH_I=\"Mini\" ");
}

TEST(CommandLineInfoTest, KeywordsInsideAQuotedPropertyAreCollected) {
  Parsed p = Parse(u"CFU=\\\"x log y\\\"");
  EXPECT_EQ(p.Compose(), "CFU=\"x log y\" VH_I=\"Mini\" ");
}

TEST(CommandLineInfoTest, FlagLookups) {
  Parsed p = Parse(u"/dontrun keep temp TRUE iagreetotheeula -IAgreeToTheEULA");
  EXPECT_TRUE(p.info.HasFlagOption(u"dontrun"));
  EXPECT_FALSE(p.info.HasOption(u"keep"));        // bare word: empty value
  EXPECT_TRUE(p.info.HasOption(u"temp"));         // value TRUE counts as a flag...
  EXPECT_FALSE(p.info.HasFlagOption(u"temp"));    // ...but it was not prefixed
  EXPECT_TRUE(p.info.HasOption(u"IAgreeToTheEULA"));
  EXPECT_FALSE(p.info.HasOption(u"IAGREETOTHEEULA"));
  p.info.RemoveOption(u"dontrun");
  EXPECT_FALSE(p.info.HasFlagOption(u"dontrun"));
}

}  // namespace
}  // namespace carryall
