// Portable layer. The application object: the start-up sequence on the main thread,
// its checks in their fixed order, the wait for the install worker with the splash, the
// report of a failure and the exit code.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

#include "base/dotnet_default.h"
#include "base/format.h"
#include "base/log.h"
#include "payload/resource_table.h"
#include "payload/temp_folder.h"
#include "platform/platform.h"
#include "ui/report.h"

namespace carryall {

class CResource;
class ISplash;

class CCarryallInstallerApp {
 public:
  CCarryallInstallerApp(Platform& platform, Log& log);
  ~CCarryallInstallerApp();
  CCarryallInstallerApp(const CCarryallInstallerApp&) = delete;
  CCarryallInstallerApp& operator=(const CCarryallInstallerApp&) = delete;

  // The whole run on the main thread; always answers false.
  bool InitInstance();
  // The process exit code.
  int32_t ExitInstance();

  // Parses the command line into the option fields, opens the log named there and
  // composes the wizard's arguments. 0, or 0x80030057 for an unacceptable command line;
  // every step runs even after an error was found.
  int32_t ProcessOptions();

  // The install worker's sequence; returns its result and leaves the wizard's exit code
  // in exit_code.
  int32_t RunEmbeddedResource(std::atomic<int32_t>& exit_code);

  // Asks the user for another base folder (never in a silent run). 0 when the user
  // confirmed a text (now in base), 0x80004005 otherwise.
  int32_t PromptForTempFolder(Text& base);
  // Writes information appended to the executable as "info.xml" in the private folder.
  // Always 0.
  int32_t WriteInfoFile();
  int32_t WriteEmbeddedInformation(const Text& output_path);
  // Deletes the payload files and the private folder. Always 0.
  int32_t RemoveTempFolder();

  // Starts the wizard in the private folder with the composed arguments and waits for
  // it; its exit code goes to exit_code. The launch status.
  int32_t RunWizard(const Text& program_path, std::atomic<int32_t>& exit_code);

  // Loads the default program name, then logs the details of the executable's own
  // signature and takes the signed program name for the wizard when there is one.
  // Never fails the run.
  void ReadSignerDetails();

  // Words the failure for result, logs it and, unless the run is silent, shows it.
  void ReportResult(int32_t result);
  // The report for result from the state the run has reached.
  Report WordReport(int32_t result);

  // Loads a string-table entry and formats it. An absent entry gives empty text.
  template <typename... Args>
  Text FormatString(uint32_t id, const Args&... args) {
    return Format(LoadString(id), args...);
  }
  Text LoadString(uint32_t id);

  Platform& platform() { return platform_; }
  Log& log() { return log_; }

  // Written by the worker before it sets m_hWorkerDoneEvent, read by the main thread
  // after seeing it; atomics keep the accesses defined without relying on the event.
  std::atomic<int32_t> m_nWorkerResult{0};
  std::atomic<int32_t> m_nExitCode{0};
  std::atomic<int32_t> m_nSplashHideCount{0};
  // The main thread's own: WaitForWorker's failure, the exit code when the worker
  // named none (0 when the wait went well).
  int32_t m_nWaitResult = 0;
  EventHandle m_hWorkerDoneEvent = nullptr;
  EventHandle m_hWindowShownEvent = nullptr;
  bool m_bZeroGuid = false;
  bool m_bRemoveTempFolder = true;
  bool m_bRunWizard = true;
  bool m_bSilent = false;
  Text m_strProgramName;
  Text m_strTempFolder;
  Text m_strWizardArguments;
  ResourceTable m_resources;
  int64_t m_nRequiredMB = 0;
  int64_t m_nFreeMB = 0;
  Text m_strDiskDrive;
  Text m_strDotNetName = kUnknownDotNetName;
  int32_t m_nDotNetServicePack = 0;
  int32_t m_nDotNetMajor = kUnknownDotNetMajor;

  // The command line after the program name, as the usage message shows it.
  Text m_lpCmdLine;
  // The module whose "TOOLKIT" resources are unpacked; null unpacks nothing.
  IResources* m_pModule = nullptr;
  // The private temporary folder's process-wide state.
  TempFolderState m_tempFolder;

  // What the payload's steps use.
  PayloadContext& payload() { return payload_; }

 private:
  // The steps of InitInstance, each a result code or nothing.
  void RefuseRedirectedRun(const Text& redirection);
  int32_t VerifyOwnSignature();
  int32_t CheckPrerequisites();
  // Starts the worker, shows the splash and waits; started tells whether it ran.
  int32_t RunWorker(bool& started);

  Platform& platform_;
  Log& log_;
  PayloadContext payload_;
};

// The main thread's wait: pumps messages (dropping WM_QUIT), follows the splash counter
// and ends the splash when the wizard shows a window; returns when the worker is done.
// handles[0] is m_hWindowShownEvent, handles[1] m_hWorkerDoneEvent. Returns 0; when the
// wait fails it ends the splash, waits for the worker without messages, logs the failure
// and returns WaitFailedResult of the system's error.
int32_t WaitForWorker(IThreads& threads, const EventHandle* handles, uint32_t count, CCarryallInstallerApp& app,
                      ISplash* splash);

// The worker thread's body.
uint32_t InstallWorkerProc(CCarryallInstallerApp& app);

}  // namespace carryall
