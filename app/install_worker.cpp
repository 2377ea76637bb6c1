// Portable layer. The install worker thread.
#include "app/carryall_app.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/string_ids.h"
#include "launch/launch.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"

namespace carryall {

uint32_t InstallWorkerProc(CCarryallInstallerApp& app) {
  // Once the done event is set the main thread may leave and take the application
  // object with it: everything needed afterwards is taken out first.
  IThreads& threads = app.platform().threads;
  // COM only where the main thread has it: a run that may show a window.
  const bool com = !app.m_bSilent;
  if (com) threads.ComInitialize();
  app.m_nWorkerResult = app.RunEmbeddedResource(app.m_nExitCode);
  threads.SetEvent(app.m_hWorkerDoneEvent);
  if (com) threads.ComUninitialize();
  return 0;
}

int32_t CCarryallInstallerApp::RunEmbeddedResource(std::atomic<int32_t>& exit_code) {
  log_.Write(u"Run Embedded Resources \n");
  exit_code = 0;
  int32_t result = ProcessOptions();
  if (result != kOk) {
    log_.Write(u"Failed to parse parameters\n");
    return result;
  }
  if (m_pModule == nullptr) {
    log_.Write(u"RunEmbeddedResource hLibrary is not set\n");
    return kOk;
  }

  // zeroguid names the private folder: the flag is set before the base folder is
  // proved, so that SetTempFolder can look at what stands at that name already, and
  // before the information file, the first to ask for the folder.
  if (m_bZeroGuid) SetZeroGuid(payload_);
  result = SetTempFolder(payload_, m_strTempFolder);
  if (result != kOk) {
    result = PromptForTempFolder(m_strTempFolder);
    if (result == kOk) result = SetTempFolder(payload_, m_strTempFolder);
  }
  if (result != kOk) return result;

  // An information file this run could not write leaves the wizard without one it can
  // trust: nothing is unpacked, and the clean-up still runs.
  result = WriteInfoFile();
  Text program_path;
  if (result == kOk) result = ExtractResources(payload_, m_pModule, m_bZeroGuid, m_resources, program_path);
  // The report of a full disk asks for at least the whole payload, known only now.
  if (result == kDiskFullOnWrite) m_nRequiredMB = std::max(m_nRequiredMB, PayloadMegabytes(m_resources));
  if (m_bRunWizard && result == kOk) result = RunWizard(program_path, exit_code);

  // The payload was held against other writers and deleters from its writing to the
  // wizard's end; the hold goes just before clean-up, which needs the files free.
  m_tempFolder.own.ReleaseHolds();
  log_.Printf(u"Remove folder '%s'\n", Text(m_bRemoveTempFolder ? u"Yes" : u"No"));
  if (m_bRemoveTempFolder) RemoveTempFolder();
  return result;
}

int32_t CCarryallInstallerApp::PromptForTempFolder(Text& base) {
  const BaseFolderPrompt prompt{platform_.ui, platform_.threads,           platform_.files,   log_,
                                m_bSilent,    LoadString(kIdsProductName), m_nSplashHideCount};
  return AskForBaseFolder(prompt, base);
}

int32_t CCarryallInstallerApp::WriteInfoFile() { return carryall::WriteInfoFile(payload_); }

int32_t CCarryallInstallerApp::WriteEmbeddedInformation(const Text& output_path) {
  return carryall::WriteEmbeddedInformation(payload_, output_path);
}

int32_t CCarryallInstallerApp::RemoveTempFolder() { return RemovePrivateFolder(payload_, m_resources); }

int32_t CCarryallInstallerApp::RunWizard(const Text& program_path, std::atomic<int32_t>& exit_code) {
  // A silent run has no splash that waits for the wizard's window.
  const WizardLaunch launch{
      platform_.processes,         platform_.threads,   platform_.files, platform_.system,       log_,
      LoadString(kIdsProgramType), m_hWindowShownEvent, !m_bSilent,      GetTempFolder(payload_)};
  const LaunchOutcome outcome = RunProgram(launch, program_path, m_strWizardArguments);
  exit_code = outcome.exit_code;
  return outcome.status.code;
}

}  // namespace carryall
