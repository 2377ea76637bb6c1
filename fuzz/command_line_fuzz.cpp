// Fuzz target: the bootstrapper's command line. The input is the whole process command
// line; it is split, parsed into the options, processed by the application object on
// the simulated machine, and composed into the wizard's line, which must give each
// argument back to the wizard's own split.
#include <vector>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "cmdline/command_line.h"
#include "fuzz/fuzz.h"
#include "platform/sim/sim_platform.h"

namespace carryall::fuzz {

namespace {

void CheckQuotingRoundTrips(const Text& value) {
  Text line = u"p ";
  AppendQuotedArgument(value, line);
  const std::vector<Text> back = SplitCommandLine(line);
  FUZZ_CHECK(back.size() == 2 && back[1] == value);
}

// The wizard's line, split, holds one argument per option in map order (a collected
// CFU="..." property as CFU= and what its quotes held) and the program name last, then
// the text after "--" exactly.
void CheckComposition(const CCommandLineInfoEx& info) {
  const Text program_name = u"SQL \"Carryall\\";
  std::vector<Text> expected = {u"p"};
  info.options().ForEach([&](const Text& name, const Text& value) {
    if (!value.empty()) {
      expected.push_back(u"/" + name);
      if (!info.HasFlagOption(name)) {
        expected.push_back(value);
        CheckQuotingRoundTrips(value);
      }
    } else if (name.size() >= 6 && EqualsIgnoreCase(name.substr(0, 5), u"CFU=\"") && name.back() == u'"') {
      expected.push_back(u"CFU=" + name.substr(5, name.size() - 6));
    } else {
      expected.push_back(name);
    }
  });
  expected.push_back(u"VH_I=" + program_name);
  Text composed;
  info.ComposeWizardArguments(program_name, composed);
  const Text& rest = info.pass_through();
  FUZZ_CHECK(composed.size() >= rest.size() && composed.compare(composed.size() - rest.size(), rest.size(), rest) == 0);
  FUZZ_CHECK(SplitCommandLine(u"p " + composed.substr(0, composed.size() - rest.size())) == expected);
}

}  // namespace

int CommandLine(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const Text line = input.RestAsUnits();

  const std::vector<Text> args = SplitCommandLine(line);
  FUZZ_CHECK(!args.empty());
  const Text after = CommandLineAfterProgram(line);
  FUZZ_CHECK(after.size() <= line.size() && line.compare(line.size() - after.size(), after.size(), after) == 0);
  for (std::size_t i = 1; i < args.size(); ++i) CheckQuotingRoundTrips(args[i]);

  CCommandLineInfoEx info;
  info.ParseCommandLine(line);
  CheckComposition(info);
  // Every name given with a prefix before "--" stays a flag, whatever follows it.
  for (std::size_t i = 1; i < args.size() && args[i] != u"--"; ++i) {
    if (!args[i].empty() && (args[i][0] == u'-' || args[i][0] == u'/'))
      FUZZ_CHECK(info.HasFlagOption(args[i].substr(1)));
  }

  // The application object's processing of the same line, on a machine of its own.
  sim::SimMachine machine;
  machine.system.command_line = line;
  FileLog log(machine.files, machine.code_page);
  CCarryallInstallerApp app(machine.platform, log);
  const int32_t result = app.ProcessOptions();
  FUZZ_CHECK(result == kOk || result == kBadCommandLine);
  log.Close();
  return 0;
}

}  // namespace carryall::fuzz
