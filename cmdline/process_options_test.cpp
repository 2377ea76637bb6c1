#include "cmdline/process_options.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_test.h"

namespace carryall {
namespace {

using sim::Narrow;

class ProcessOptionsTest : public sim::SimTest {
 protected:
  int32_t Run(const Text& args) {
    machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\" " + args;
    return Parse();
  }
  // Parses the process's command line as start-up does, with the program name it has.
  int32_t Parse() {
    options = ParseOptions(machine.platform.files, machine.platform.environment, log,
                           machine.platform.system.GetCommandLine(), program_name);
    return options.result;
  }
  ParsedOptions options;
  Text program_name;
  std::string Lines() { return Narrow(log.pending()); }
};

TEST_F(ProcessOptionsTest, WorkedExampleIsSilentWithTheLogOpened) {
  EXPECT_EQ(Run(u"log c:\\log.txt /IAgreeToTheEULA"), kOk);
  EXPECT_TRUE(options.silent);
  EXPECT_TRUE(log.is_open());
  EXPECT_EQ(Narrow(options.wizard_arguments), "/IAgreeToTheEULA /log \"c:\\log.txt\" VH_I=\"\" ");
  log.Close();
  EXPECT_EQ(machine.files.Contents("c:\\log.txt"),
            "Command line params /IAgreeToTheEULA /log \"c:\\log.txt\" VH_I=\"\" \r\n"
            "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\r\n");
}

TEST_F(ProcessOptionsTest, ALogNameOutsideTheCodePageStillGetsItsLog) {
  const Text name = u"C:\\work\\\u043b\u043e\u0433.txt";
  EXPECT_EQ(Run(u"log " + name.substr(8)), kOk);
  log.Close();
  EXPECT_TRUE(machine.files.Exists(name));
  EXPECT_EQ(options.wizard_arguments, u"/log \"" + name + u"\" VH_I=\"\" ");
}

TEST_F(ProcessOptionsTest, ALogNamingADeviceIsNeverOpened) {
  for (const char16_t* name : {u"COM1", u"C:\\work\\com\u00B9", u"C:\\work\\lpt1.log"}) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    m.system.command_line = u"prog.exe log " + Text(name);
    ParseOptions(m.platform.files, m.platform.environment, l, m.platform.system.GetCommandLine(), Text());
    EXPECT_FALSE(l.is_open()) << Narrow(name);
    EXPECT_EQ(m.files.List(u"C:\\work"), std::vector<std::string>{}) << Narrow(name);
  }
}

TEST_F(ProcessOptionsTest, SwitchesSetTheirFieldsAndOnlyTheWizardsOnesAreHandedOn) {
  struct Case {
    const char16_t* args;
    bool silent, zero_guid, remove, run;
    const char* wizard;
  } cases[] = {
      {u"", false, false, true, true, "VH_I=\"\" "},
      {u"/dontrun -zeroguid /keep", false, true, false, false, "VH_I=\"\" "},
      {u"dontrun zeroguid keep", false, false, true, true, "zeroguid keep dontrun VH_I=\"\" "},
      {u"/iagreetotheeula", false, false, true, true, "/iagreetotheeula VH_I=\"\" "},
      {u"-IAgreeToTheEULA", true, false, true, true, "/IAgreeToTheEULA VH_I=\"\" "},
      // A bare word of a switch's name never undoes the switch given as a flag.
      {u"/IAgreeToTheEULA IAgreeToTheEULA", true, false, true, true, "/IAgreeToTheEULA VH_I=\"\" "},
      {u"IAgreeToTheEULA /IAgreeToTheEULA", true, false, true, true, "/IAgreeToTheEULA VH_I=\"\" "},
      {u"/dontrun dontrun /keep keep -zeroguid zeroguid", false, true, false, false, "VH_I=\"\" "},
      {u"keep /keep", false, false, false, true, "VH_I=\"\" "},
      // A keyword's value TRUE is a value: it sets nothing and reaches the wizard whole.
      {u"extract TRUE", false, false, true, true, "/extract \"C:\\work\\TRUE\" VH_I=\"\" "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.args));
    EXPECT_EQ(Run(c.args), kOk);
    EXPECT_EQ(options.silent, c.silent);
    EXPECT_EQ(options.zero_guid, c.zero_guid);
    EXPECT_EQ(options.remove_temp_folder, c.remove);
    EXPECT_EQ(options.run_wizard, c.run);
    EXPECT_EQ(Narrow(options.wizard_arguments), c.wizard);
  }
}

TEST_F(ProcessOptionsTest, PathValuesAreMadeAbsolute) {
  machine.files.current_directory = u"C:\\here";
  EXPECT_EQ(Run(u"extract out\\..\\x temp t"), kOk);
  EXPECT_EQ(Narrow(options.temp_folder), "C:\\here\\t");
  // extract is handed on absolute, temp as typed.
  EXPECT_EQ(Narrow(options.wizard_arguments), "/temp \"t\" /extract \"C:\\here\\x\" VH_I=\"\" ");
}

TEST_F(ProcessOptionsTest, LogAsTheLastArgumentNamesTheCurrentDirectoryAndOpensNothing) {
  EXPECT_EQ(Run(u"log"), kOk);
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(Narrow(options.wizard_arguments), "/log \"C:\\work\" VH_I=\"\" ");
}

TEST_F(ProcessOptionsTest, KeywordInCapitalsOpensNoLog) {
  EXPECT_EQ(Run(u"LOG c:\\x.txt"), kOk);
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(Narrow(options.wizard_arguments), "/LOG \"c:\\x.txt\" VH_I=\"\" ");
}

TEST_F(ProcessOptionsTest, UnacceptableCommandLinesStillRunEveryStep) {
  struct Case {
    const char16_t* args;
    int help_lines;
  } cases[] = {
      {u"log c:\\l.txt /log c:\\x.txt", 0},  // the flag replaces the log value: nothing is opened
      {u"log c:\\l.txt /extract", 0},
      {u"log c:\\l.txt /temp", 0},
      {u"log c:\\l.txt /?", 2},  // both tests match a prefixed question mark
      {u"log c:\\l.txt ?", 1},
      {u"log c:\\l.txt -?", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.args));
    sim::SimMachine m;
    FileLog fresh(m.files, m.code_page);
    m.system.command_line = u"prog.exe " + Text(c.args);
    EXPECT_EQ(ParseOptions(m.platform.files, m.platform.environment, fresh, m.platform.system.GetCommandLine(), Text())
                  .result,
              kBadCommandLine);
    fresh.Close();
    std::string text = m.files.Contents("c:\\l.txt") + Narrow(fresh.pending());
    std::size_t help = 0;
    for (std::size_t at = text.find("Ask for help"); at != std::string::npos; at = text.find("Ask for help", at + 1)) {
      ++help;
    }
    EXPECT_EQ(help, static_cast<std::size_t>(c.help_lines));
    EXPECT_NE(text.find("Command line params "), std::string::npos);
    EXPECT_NE(text.find("Temp folder '"), std::string::npos);
  }
}

TEST_F(ProcessOptionsTest, PrefixedLogLeavesThePathAsABareWordAndOpensNothing) {
  EXPECT_EQ(Run(u"/log c:\\x.txt"), kBadCommandLine);
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(Narrow(options.wizard_arguments), "c:\\x.txt /log VH_I=\"\" ");
}

TEST_F(ProcessOptionsTest, PathsTooLongForMaxPathAreRejected) {
  Text long_name(300, u'a');
  EXPECT_EQ(Run(u"temp C:\\" + long_name), kBadCommandLine);
  EXPECT_EQ(Run(u"extract C:\\" + long_name), kBadCommandLine);
  EXPECT_EQ(Run(u"log C:\\" + long_name), kBadCommandLine);
  EXPECT_FALSE(log.is_open());
  Text fits(257, u'a');  // C:\ + 257 = 260 characters
  EXPECT_EQ(Run(u"temp C:\\" + fits), kOk);
}

TEST_F(ProcessOptionsTest, DefaultTemporaryFolderFallsBackWhenPathsAreTooLong) {
  const Text long101 = u"C:\\" + Text(98, u't');  // 101 units
  struct Case {
    std::optional<Text> temp;
    std::optional<Text> app_data;
    std::optional<Text> common;
    const char* expected;
  } cases[] = {
      {Text(u"C:\\T\\"), Text(u"C:\\A"), Text(u"C:\\P"), "C:\\T\\"},
      {u"C:\\" + Text(97, u't'), Text(u"C:\\A"), Text(u"C:\\P"), nullptr},  // exactly 100: kept
      {long101, Text(u"C:\\A"), Text(u"C:\\P"), "C:\\A"},
      {long101, std::nullopt, Text(u"C:\\P"), "C:\\P\\Varnhold"},
      {long101, long101, Text(u"C:\\P\\"), "C:\\P\\Varnhold"},
      {long101, long101, long101, "C:"},
      {long101, long101, std::nullopt, "C:"},
      {std::nullopt, Text(u"C:\\A"), Text(u"C:\\P"), "C:\\A"},  // unreadable: passed over
  };
  for (const Case& c : cases) {
    machine.files.temp_path = c.temp;
    machine.files.folders.clear();
    if (c.app_data) machine.files.folders[26] = *c.app_data;
    if (c.common) machine.files.folders[35] = *c.common;
    EXPECT_EQ(Run(u""), kOk);
    EXPECT_EQ(Narrow(options.temp_folder), c.expected ? std::string(c.expected) : Narrow(*c.temp))
        << Narrow(c.temp.value_or(u"(none)"));
  }
}

TEST_F(ProcessOptionsTest, CommonAppDataOf90To100UnitsIsUsedWithoutTheName) {
  const Text long101 = u"C:\\" + Text(98, u't');
  machine.files.temp_path = long101;
  machine.files.folders = {{26, long101}, {35, u"C:\\" + Text(87, u'p')}};  // 90 units
  EXPECT_EQ(Run(u""), kOk);
  EXPECT_EQ(options.temp_folder, u"C:\\" + Text(87, u'p'));
  machine.files.folders[35] = u"C:\\" + Text(86, u'p');  // 89 units
  EXPECT_EQ(Run(u""), kOk);
  EXPECT_EQ(options.temp_folder, u"C:\\" + Text(86, u'p') + u"\\Varnhold");
}

TEST_F(ProcessOptionsTest, SecondRunComposesWithTheProgramName) {
  EXPECT_EQ(Run(u"/IAgreeToTheEULA"), kOk);
  program_name = u"Mini";
  EXPECT_EQ(Parse(), kOk);
  EXPECT_EQ(Lines(),
            "Command line params /IAgreeToTheEULA VH_I=\"\" \n"
            "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\n"
            "Command line params /IAgreeToTheEULA VH_I=\"Mini\" \n"
            "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\n");
}

}  // namespace
}  // namespace carryall
