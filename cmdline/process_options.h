// Portable layer. The bootstrapper's options: its command line read into the switches
// it uses itself, the base of the private folder, and the line composed for the wizard.
#pragma once

#include <cstdint>

#include "base/log.h"
#include "platform/platform.h"

namespace carryall {

struct ParsedOptions {
  int32_t result = 0;  // 0, or 0x80030057 for an unacceptable command line
  bool silent = false;
  bool zero_guid = false;
  bool remove_temp_folder = true;
  bool run_wizard = true;
  Text temp_folder;       // the base folder, absolute, or the default one
  Text wizard_arguments;  // with VH_I carrying program_name
};

// Parses command_line (the whole process command line), opens the log it names and
// composes the wizard's arguments, logging the two summary lines. Every step runs even
// after an error was found.
ParsedOptions ParseOptions(IFileSystem& files, IEnvironment& environment, Log& log, const Text& command_line,
                           const Text& program_name);

}  // namespace carryall
