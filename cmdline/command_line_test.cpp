#include "cmdline/command_line.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

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
      {u"C:\\a\"b c\"d e", {"C:\\ab cd", "e"}},                   // quotes in the program only toggle
      {u"C:\\path\\prog.exe\\\" x", {"C:\\path\\prog.exe\\ x"}},  // no escapes in the program name
      {u"p \"a b\" c", {"p", "a b", "c"}},
      {u"p a\\\\b", {"p", "a\\\\b"}},           // backslashes alone are kept
      {u"p a\\\"b", {"p", "a\"b"}},             // odd count: escaped quote
      {u"p a\\\\\"b c\"", {"p", "a\\b c"}},     // even count: halved, quote toggles
      {u"p a\\\\\\\"b", {"p", "a\\\"b"}},       // 3 backslashes + quote
      {u"p \"a\"\"b\" c", {"p", "a\"b", "c"}},  // "" inside quotes: literal, still quoted
      {u"p \"a\"\"b c\"", {"p", "a\"b c"}},
      {u"p a\"\"b", {"p", "ab"}},     // "" outside quotes: empty toggle pair
      {u"p \"\" x", {"p", "", "x"}},  // an empty argument
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
      {u"/x -x", "/x VH_I=\"Mini\" "},  // a flag given twice is written once
      {u"NAME=VALUE", "NAME=VALUE VH_I=\"Mini\" "},
      {u"temp C:\\", "/temp \"C:\\\\\" VH_I=\"Mini\" "},                      // trailing backslash doubled
      {u"temp \\", "/temp \"\\\\\" VH_I=\"Mini\" "},                          // a lone backslash too
      {u"temp C:\\a\\\\", "/temp \"C:\\a\\\\\\\\\" VH_I=\"Mini\" "},          // every one of a trailing run
      {u"temp true", "/temp \"true\" VH_I=\"Mini\" "},                        // a keyword's value, never a flag
      {u"/S S", "/S VH_I=\"Mini\" "},                                         // a flag wins over a bare word...
      {u"S -S", "/S VH_I=\"Mini\" "},                                         // ...in either order
      {u"/temp temp c:\\t", "/temp VH_I=\"Mini\" "},                          // ...and over a keyword's value
      {u"a b a", "a b VH_I=\"Mini\" "},                                       // a word twice is handed on once
      {u"log a log b", "/log \"b\" VH_I=\"Mini\" "},                          // a keyword twice: its last value
      {u"LOG c:\\x.txt", "/LOG \"c:\\x.txt\" VH_I=\"Mini\" "},                // keyword in any case, name as typed
      {u"temp \"a \\\"b\\\" c\"", "/temp \"a \\\"b\\\" c\" VH_I=\"Mini\" "},  // embedded quotes escaped
      {u"NAME=\\\"a\\\"", "NAME=\"\\\"a\\\"\" VH_I=\"Mini\" "},               // a word's own quotes reach the wizard
      {u"a\\\"b /IAgreeToTheEULA", "\"a\\\"b\" /IAgreeToTheEULA VH_I=\"Mini\" "},  // quoted, the quote escaped
      {u"\"INSTALLDIR=C:\\Program Files\\X\"", "INSTALLDIR=\"C:\\Program Files\\X\" VH_I=\"Mini\" "},
      {u"\"/INSTDIR=C:\\RW J\"", "/INSTDIR=\"C:\\RW J\" VH_I=\"Mini\" "},
      {u"\"a b\" \"\"", "\"\" \"a b\" VH_I=\"Mini\" "},  // quoted whole; an empty word kept
      {u"/D=C:\\x -- /D=C:\\Program Files\\C  x\"", "/D=C:\\x VH_I=\"Mini\" /D=C:\\Program Files\\C  x\""},
      {u"log -- c:\\x", "log VH_I=\"Mini\" c:\\x"},  // "--" ends the options
      {u"--", "VH_I=\"Mini\" "},
      {u"log", "log VH_I=\"Mini\" "},                         // a keyword as last argument is a bare word
      {u"log temp c:\\t", "/temp \"c:\\t\" VH_I=\"Mini\" "},  // a keyword followed by a keyword is forgotten
      {u"log /x c:\\t", "c:\\t /x VH_I=\"Mini\" "},           // ... and by a flag
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
  EXPECT_FALSE(p.info.HasOption(u"keep"));      // bare word: empty value
  EXPECT_TRUE(p.info.HasOption(u"temp"));       // value TRUE counts for HasOption...
  EXPECT_FALSE(p.info.HasFlagOption(u"temp"));  // ...but it was not prefixed
  EXPECT_TRUE(p.info.HasOption(u"IAgreeToTheEULA"));
  EXPECT_FALSE(p.info.HasOption(u"IAGREETOTHEEULA"));
  p.info.RemoveOption(u"dontrun");
  EXPECT_FALSE(p.info.HasFlagOption(u"dontrun"));
}

// ---- the wizard's quoted values round-trip ----

// The Microsoft C run-time's rules for a program's argument vector (those of the run-time
// since 2008, which CommandLineToArgvW shares for everything composed here), written
// afresh as the oracle of the round trip: SplitCommandLine is what is checked, never the
// judge. The program name ends at the first blank outside quotes, quotes only toggling;
// then 2n backslashes and a quote give n backslashes and toggle quoting (a second quote
// right after it inside quotes is a literal one), 2n+1 backslashes and a quote give n
// backslashes and a literal quote, other backslashes are themselves.
std::vector<Text> CrtArgv(std::u16string_view line) {
  std::vector<Text> argv(1);
  std::size_t i = 0;
  for (bool quoted = false; i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t')); ++i) {
    if (line[i] == u'"') {
      quoted = !quoted;
    } else {
      argv[0].push_back(line[i]);
    }
  }
  Text current;
  bool open = false;  // an argument has begun (it may still be empty: "")
  bool quoted = false;
  std::size_t backslashes = 0;
  for (; i <= line.size(); ++i) {
    const char16_t c = i < line.size() ? line[i] : u'\0';
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      current.append(backslashes / 2, u'\\');
      open = true;
      if (backslashes % 2 != 0) {
        current.push_back(u'"');
      } else if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
        current.push_back(u'"');
        ++i;
      } else {
        quoted = !quoted;
      }
      backslashes = 0;
      continue;
    }
    if (backslashes != 0) open = true;
    current.append(backslashes, u'\\');
    backslashes = 0;
    if (c == u'\0' || (!quoted && (c == u' ' || c == u'\t'))) {
      if (open) argv.push_back(current);
      current.clear();
      open = false;
      continue;
    }
    current.push_back(c);
    open = true;
  }
  return argv;
}

std::string Shown(const std::vector<Text>& args) {
  std::string out;
  for (const Text& a : args) {
    out += "[";
    for (char16_t c : a) {
      if (c == u'\t') {
        out += "\\t";
      } else {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      }
    }
    out += "] ";
  }
  return out;
}

TEST(WizardArgumentsTest, TheOracleReadsTheDocumentedExamples) {
  // The examples of Microsoft's "Parsing C command-line arguments", and the program name.
  struct Case {
    const char16_t* line;
    std::vector<Text> expected;
  } cases[] = {
      {u"p \"a b c\" d e", {u"p", u"a b c", u"d", u"e"}},
      {u"p \"ab\\\"c\" \"\\\\\" d", {u"p", u"ab\"c", u"\\", u"d"}},
      {u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
      {u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
      {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
      {u"p a\"b\"\" c d", {u"p", u"ab\" c d"}},
      {u"p \"\" x\t", {u"p", u"", u"x"}},
      {u"\"C:\\a b\\w.exe\"x\\ y", {u"C:\\a b\\w.exex\\", u"y"}},  // no escapes in the program
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(CrtArgv(c.line)), Shown(c.expected)) << Shown({c.line});
    EXPECT_EQ(Shown(SplitCommandLine(c.line)), Shown(c.expected)) << Shown({c.line});
  }
}

TEST(WizardArgumentsTest, QuotedValuesRoundTripAndPlainOnesAreWrittenAsBefore) {
  struct Case {
    const char16_t* value;
    const char16_t* piece;  // what AppendQuotedArgument writes
  } cases[] = {
      // No quote and no trailing backslash: exactly as before.
      {u"C:\\base", u"\"C:\\base\""},
      {u"C:\\Program Files\\x y", u"\"C:\\Program Files\\x y\""},
      {u"a\\\\b\\c", u"\"a\\\\b\\c\""},  // backslashes inside are never touched
      {u"tab\there", u"\"tab\there\""},
      // A single trailing backslash was already doubled: still the same.
      {u"C:\\", u"\"C:\\\\\""},
      {u"C:\\base\\", u"\"C:\\base\\\\\""},
      // The faults: every backslash of a trailing run is doubled ...
      {u"C:\\base\\\\", u"\"C:\\base\\\\\\\\\""},
      {u"\\", u"\"\\\\\""},
      {u"\\\\\\", u"\"\\\\\\\\\\\\\""},
      // ... and an embedded quote is escaped, the backslashes before it doubled.
      {u"a\"b", u"\"a\\\"b\""},
      {u"\"", u"\"\\\"\""},
      {u"a\\\"b", u"\"a\\\\\\\"b\""},
      {u"a\\\\\"b", u"\"a\\\\\\\\\\\"b\""},
      {u"say \"hi\"\\", u"\"say \\\"hi\\\"\\\\\""},
  };
  for (const Case& c : cases) {
    Text piece;
    AppendQuotedArgument(c.value, piece);
    EXPECT_EQ(Shown({piece}), Shown({c.piece})) << Shown({c.value});
    EXPECT_EQ(Shown(CrtArgv(u"w.exe " + piece + u" next")), Shown({u"w.exe", c.value, u"next"}));
  }
}

TEST(WizardArgumentsTest, EveryKindOfPieceComesBackExactly) {
  // Texts drawn mostly from backslashes, quotes, blanks and '=', where composition can go
  // wrong; letters, a drive colon and one non-ASCII unit in between. Every kind of piece
  // is drawn: flags, keyword values, bare words (NAME=value among them), collected
  // CFU="..." properties and the program name.
  const std::u16string alphabet = u"\\\\\\\\\"\"\"  \t\tab:\u00e9/==";
  std::mt19937 random(0x5eed2024u);
  auto draw = [&](std::size_t min_length) {
    Text text;
    const std::size_t length = min_length + random() % 10;
    for (std::size_t k = 0; k < length; ++k) text.push_back(alphabet[random() % alphabet.size()]);
    return text;
  };
  const Text keywords[] = {u"temp", u"extract", u"log", u"LOG"};
  const Text wizard = u"C:\\Base dir\\{00000000-0000-0000-0000-000000000000}\\wizard app.exe";
  for (int round = 0; round < 4000; ++round) {
    CCommandLineInfoEx info;
    for (int piece = static_cast<int>(random() % 4); piece >= 0; --piece) {
      switch (random() % 4) {
        case 0:
          info.SetOption(keywords[random() % std::size(keywords)], draw(1));
          break;
        case 1:
          info.ParseParam(draw(0), /*is_flag=*/true, /*is_last=*/false);
          break;
        case 2:
          info.SetOption((random() % 2 ? u"NAME=" : u"") + draw(0), Text());
          break;
        default:
          info.SetOption(u"CFU=\"" + draw(0) + u"\"", Text());
          break;
      }
    }
    // The words a silent run's wizard must not lose.
    info.ParseParam(u"IAgreeToTheEULA", /*is_flag=*/true, /*is_last=*/false);
    info.SetOption(u"WIZARD_WINDOW=never", Text());
    const Text program_name = draw(0);

    Text arguments;
    info.ComposeWizardArguments(program_name, arguments);
    const Text line = u"\"" + wizard + u"\" " + arguments;

    std::vector<Text> expected = {wizard};
    info.options().ForEach([&](const Text& name, const Text& value) {
      if (info.HasFlagOption(name)) {
        expected.push_back(u"/" + name);
      } else if (!value.empty()) {
        expected.push_back(u"/" + name);
        expected.push_back(value);
      } else if (name.rfind(u"CFU=\"", 0) == 0) {
        expected.push_back(u"CFU=" + name.substr(5, name.size() - 6));  // what its quotes held
      } else {
        expected.push_back(name);
      }
    });
    expected.push_back(u"VH_I=" + program_name);

    ASSERT_EQ(Shown(CrtArgv(line)), Shown(expected)) << "round " << round << ": " << Shown({line});
    // The project's own splitter reads it the same way.
    ASSERT_EQ(Shown(SplitCommandLine(line)), Shown(expected)) << "round " << round;
  }
}

TEST(WizardArgumentsTest, PiecesThatNeedNoQuotingAreWrittenAsBefore) {
  // Byte for byte what the wizard received before arguments were quoted.
  Parsed p = Parse(u"/S NAME=VALUE CFU=\\\"a b\\\" C:\\dir\\ /D=C:\\x log c:\\l.txt");
  EXPECT_EQ(p.Compose(u"SQL Carryall"),
            "NAME=VALUE /D=C:\\x CFU=\"a b\" C:\\dir\\ /log \"c:\\l.txt\" /S VH_I=\"SQL Carryall\" ");
}

}  // namespace
}  // namespace carryall
