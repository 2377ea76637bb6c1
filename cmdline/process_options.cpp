// Portable layer. The option fields of the application object, from the command line.
#include "app/carryall_app.h"
#include "base/path.h"
#include "platform/full_path.h"
#include "base/result_codes.h"
#include "cmdline/command_line.h"

namespace carryall {

namespace {

constexpr int kCsidlAppData = 26;
constexpr int kCsidlCommonAppData = 35;
constexpr std::size_t kTempPathLimit = 100;
constexpr std::size_t kAppendNameLimit = 90;

Text DefaultTempFolder(IFileSystem& files) {
  // An unreadable temporary path is passed over like one too long: an empty base would
  // be measured for free space as drive '' and fail the run as a full disk.
  std::optional<Text> temp = files.GetTempPath();
  if (temp && temp->size() <= kTempPathLimit) return *temp;

  std::optional<Text> app_data = files.GetFolderPath(kCsidlAppData);
  if (app_data && app_data->size() <= kTempPathLimit) return *app_data;

  std::optional<Text> common = files.GetFolderPath(kCsidlCommonAppData);
  if (!common || common->size() > kTempPathLimit) {
    return files.GetEnvironmentVariable(u"SystemDrive").value_or(Text());
  }
  if (common->size() < kAppendNameLimit) return PathAppend(*common, u"\\Varnhold", 1024).value_or(*common);
  return *common;
}

}  // namespace

int32_t CCarryallInstallerApp::ProcessOptions() {
  int32_t result = kOk;
  CCommandLineInfoEx info;
  info.ParseCommandLine(platform_.system.GetCommandLine());

  m_bSilent = false;
  m_bZeroGuid = false;
  m_bRemoveTempFolder = true;
  m_bRunWizard = true;
  m_strTempFolder = DefaultTempFolder(platform_.files);

  if (info.HasOption(u"IAgreeToTheEULA")) m_bSilent = true;
  // The bootstrapper's own flags are not handed on.
  auto take_flag = [&](const char16_t* name) {
    if (!info.HasOption(name)) return false;
    info.RemoveOption(name);
    return true;
  };
  if (take_flag(u"dontrun")) m_bRunWizard = false;
  if (take_flag(u"zeroguid")) m_bZeroGuid = true;
  if (take_flag(u"keep")) m_bRemoveTempFolder = false;

  // The three path keywords: a prefixed one makes the line unacceptable; a value is made
  // absolute and used, or refused. Answers the value as typed when it was refused.
  auto take_path = [&](const char16_t* name, const auto& use) -> std::optional<Text> {
    Text value;
    if (info.HasFlagOption(name)) {
      result = kBadCommandLine;
      return std::nullopt;
    }
    if (!info.GetOption(name, value)) return std::nullopt;
    if (std::optional<Text> full = MakeAbsolute(platform_.files, value)) {
      use(*full);
      return std::nullopt;
    }
    result = kBadCommandLine;
    return value;
  };
  take_path(u"extract", [&](const Text& full) { info.SetOption(u"extract", full); });
  std::optional<Text> refused_log = take_path(u"log", [&](const Text& full) {
    info.SetOption(u"log", full);
    log_.Open(full);
  });
  // The run stops then. When the system could not resolve a name that fits, the file is
  // opened by the name as given (the system resolves it the same way), so that the log
  // still says why; a name too long for a path gets no log.
  if (refused_log && refused_log->size() < kMaxPath) log_.Open(*refused_log);
  take_path(u"temp", [&](const Text& full) { m_strTempFolder = full; });

  info.ComposeWizardArguments(m_strProgramName, m_strWizardArguments);

  Text value;
  if (info.HasFlagOption(u"?")) {
    result = kBadCommandLine;
    log_.Write(u"Ask for help\n");
  }
  if (info.GetOption(u"?", value)) {
    result = kBadCommandLine;
    log_.Write(u"Ask for help\n");
  }

  log_.Printf(u"Command line params %s\n", m_strWizardArguments);
  log_.Printf(u"Temp folder '%s'\n", m_strTempFolder);
  return result;
}

}  // namespace carryall
