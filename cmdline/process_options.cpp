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
  if (info.HasOption(u"dontrun")) {
    m_bRunWizard = false;
    info.RemoveOption(u"dontrun");
  }
  if (info.HasOption(u"zeroguid")) {
    m_bZeroGuid = true;
    info.RemoveOption(u"zeroguid");
  }
  if (info.HasOption(u"keep")) {
    m_bRemoveTempFolder = false;
    info.RemoveOption(u"keep");
  }

  Text value;
  if (info.HasFlagOption(u"extract")) {
    result = kBadCommandLine;
  } else if (info.GetOption(u"extract", value)) {
    if (std::optional<Text> full = MakeAbsolute(platform_.files, value)) {
      info.SetOption(u"extract", *full);
    } else {
      result = kBadCommandLine;
    }
  }

  if (info.HasFlagOption(u"log")) {
    result = kBadCommandLine;
  } else if (info.GetOption(u"log", value)) {
    if (std::optional<Text> full = MakeAbsolute(platform_.files, value)) {
      info.SetOption(u"log", *full);
      log_.Open(*full);
    } else {
      // The run stops here. When the system could not resolve a name that fits, the
      // file is opened by the name as given (the system resolves it the same way), so
      // that the log still says why; a name too long for a path gets no log.
      if (value.size() < kMaxPath) log_.Open(value);
      result = kBadCommandLine;
    }
  }

  if (info.HasFlagOption(u"temp")) {
    result = kBadCommandLine;
  } else if (info.GetOption(u"temp", value)) {
    if (std::optional<Text> full = MakeAbsolute(platform_.files, value)) {
      m_strTempFolder = *full;
    } else {
      result = kBadCommandLine;
    }
  }

  info.ComposeWizardArguments(m_strProgramName, m_strWizardArguments);

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
