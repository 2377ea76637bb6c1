// Portable layer. The bootstrapper's options, from its command line.
#include "cmdline/process_options.h"

#include "base/path.h"
#include "base/result_codes.h"
#include "cmdline/command_line.h"
#include "platform/full_path.h"

namespace carryall {

namespace {

constexpr int kCsidlAppData = 26;
constexpr int kCsidlCommonAppData = 35;
constexpr std::size_t kTempPathLimit = 100;
constexpr std::size_t kAppendNameLimit = 90;
// The publisher's folder that the all-users application-data folder gets as the base,
// below it, when the user's own path is too long too.
constexpr char16_t kCommonDataFolder[] = u"\\Varnhold";

Text DefaultTempFolder(IEnvironment& environment) {
  // An unreadable temporary path is passed over like one too long: an empty base would
  // be measured for free space as drive '' and fail the run as a full disk.
  Fallible<Text> temp = environment.GetTempPath();
  if (temp && temp->size() <= kTempPathLimit) return *temp;

  Fallible<Text> app_data = environment.GetFolderPath(kCsidlAppData);
  if (app_data && app_data->size() <= kTempPathLimit) return *app_data;

  Fallible<Text> common = environment.GetFolderPath(kCsidlCommonAppData);
  if (!common || common->size() > kTempPathLimit) {
    return environment.GetEnvironmentVariable(u"SystemDrive").value_or(Text());
  }
  if (common->size() < kAppendNameLimit) return PathAppend(*common, kCommonDataFolder, 1024).value_or(*common);
  return *common;
}

// A path keyword: a prefixed one makes the line unacceptable; a value is made absolute
// and used, or refused. Answers the value as typed when it was refused.
template <typename Use>
std::optional<Text> TakePath(CCommandLineInfoEx& info, IFileSystem& files, const char16_t* name, int32_t& result,
                             const Use& use) {
  Text value;
  if (info.HasFlagOption(name)) {
    result = kBadCommandLine;
    return std::nullopt;
  }
  if (!info.GetOption(name, value)) return std::nullopt;
  if (std::optional<Text> full = MakeAbsolute(files, value)) {
    use(*full);
    return std::nullopt;
  }
  result = kBadCommandLine;
  return value;
}

}  // namespace

ParsedOptions ParseOptions(IFileSystem& files, IEnvironment& environment, Log& log, const Text& command_line,
                           const Text& program_name) {
  ParsedOptions options;
  int32_t& result = options.result;
  CCommandLineInfoEx info;
  info.ParseCommandLine(command_line);
  options.temp_folder = DefaultTempFolder(environment);

  // A switch counts only when it was given with a prefix; the parser keeps a flag's
  // value whatever bare word of the same name follows it.
  if (info.HasFlagOption(u"IAgreeToTheEULA")) options.silent = true;
  // The bootstrapper's own flags are not handed on.
  auto take_flag = [&](const char16_t* name) {
    if (!info.HasFlagOption(name)) return false;
    info.RemoveOption(name);
    return true;
  };
  if (take_flag(u"dontrun")) options.run_wizard = false;
  if (take_flag(u"zeroguid")) options.zero_guid = true;
  if (take_flag(u"keep")) options.remove_temp_folder = false;

  auto take_path = [&](const char16_t* name, const auto& use) { return TakePath(info, files, name, result, use); };
  take_path(u"extract", [&](const Text& full) { info.SetOption(u"extract", full); });
  std::optional<Text> refused_log = take_path(u"log", [&](const Text& full) {
    info.SetOption(u"log", full);
    // A device (COM1, or COM¹, which Wine takes for a file name) is not written to: the
    // lines stay in memory, as for a log file that cannot be made.
    if (!NamesDevice(full)) log.Open(full);
  });
  // The run stops then. When the system could not resolve a name that fits, the file is
  // opened by the name as given (the system resolves it the same way), so that the log
  // still says why; a name too long for a path gets no log.
  if (refused_log && refused_log->size() < kMaxPath && !NamesDevice(*refused_log)) log.Open(*refused_log);
  take_path(u"temp", [&](const Text& full) { options.temp_folder = full; });

  info.ComposeWizardArguments(program_name, options.wizard_arguments);

  Text value;
  if (info.HasFlagOption(u"?")) {
    result = kBadCommandLine;
    log.Write(u"Ask for help\n");
  }
  if (info.GetOption(u"?", value)) {
    result = kBadCommandLine;
    log.Write(u"Ask for help\n");
  }

  log.Printf(u"Command line params %s\n", options.wizard_arguments);
  log.Printf(u"Temp folder '%s'\n", options.temp_folder);
  return options;
}

}  // namespace carryall
