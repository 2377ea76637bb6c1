// Portable layer. Start-up sequence, wait loop and exit code.
#include "app/carryall_app.h"

#include "base/result_codes.h"
#include "base/string_ids.h"
#include "checks/checks.h"
#include "cmdline/command_line.h"
#include "cmdline/process_options.h"
#include "payload/resource_table.h"
#include "signature/signature.h"
#include "ui/report.h"

namespace carryall {

namespace {
// What the splash dialog ends with. Nothing reads it: a modeless dialog's result goes
// nowhere; it is the value the start-up has always passed.
constexpr int kSplashEndResult = 5;
}  // namespace

CCarryallInstallerApp::CCarryallInstallerApp(Platform& platform, Log& log)
    : m_pModule(&platform.resources),
      platform_(platform),
      log_(log),
      payload_{platform.files, platform.environment, platform.security, platform.system, platform.code_page, log,
               m_tempFolder} {}

CCarryallInstallerApp::~CCarryallInstallerApp() = default;

Text CCarryallInstallerApp::LoadString(uint32_t id) { return platform_.resources.LoadString(id).value_or(Text()); }

bool CCarryallInstallerApp::InitInstance() {
  int32_t result = kOk;
  m_nSplashHideCount = 0;
  // A "<program>.local" file or folder beside the program asks Windows to load the
  // program's DLLs from that folder. It is looked for before anything loads a DLL (the
  // common controls come from comctl32); the run then goes only as far as opening the
  // log that the command line names, and refuses.
  const Text redirection = GetModulePath(platform_.environment) + u".local";
  const bool redirected = platform_.files.GetFileAttributes(redirection).ok();
  m_lpCmdLine = CommandLineAfterProgram(platform_.system.GetCommandLine());

  result = ProcessOptions();
  if (redirected) {
    RefuseRedirectedRun(redirection);
    return false;
  }
  // Only a run that may show a window needs COM (the folder prompt, opening a link) and
  // the common controls. A silent run shows none, and a script waits for what each
  // thread's COM apartment and comctl32's window classes cost (README, Benchmark).
  if (!m_bSilent) {
    platform_.threads.ComInitialize();
    platform_.ui.InitCommonControls();
  }
  bool worker_started = false;
  if (result == kOk) {
    log_.Printf(u"Started %ld\n", static_cast<int32_t>(platform_.system.GetTickCount()));
    result = VerifyOwnSignature();
    if (result == kOk) {
      ReadSignerDetails();
      result = CheckPrerequisites();
    }
    if (result == kOk) result = RunWorker(worker_started);
  }

  if (!worker_started && result != kOk) {
    // A run that stops before the worker ends with its result code, so that a script
    // learns that nothing was installed.
    m_nExitCode = result;
  }
  const int32_t exit_code = m_nExitCode;
  if (result == kOk && (exit_code == kRestartRequired || exit_code == kRestartInitiated)) {
    // A success: the code still reaches the caller, but nothing failed.
    log_.Printf(u"The installation needs a restart to complete (exit code %d).\n", exit_code);
  } else if ((result != 0 && result != 1) || exit_code != 0) {
    ReportResult(result);
  }
  return false;
}

int32_t CCarryallInstallerApp::ProcessOptions() {
  const ParsedOptions options =
      ParseOptions(platform_.files, platform_.environment, log_, platform_.system.GetCommandLine(), m_strProgramName);
  m_bSilent = options.silent;
  m_bZeroGuid = options.zero_guid;
  m_bRemoveTempFolder = options.remove_temp_folder;
  m_bRunWizard = options.run_wizard;
  m_strTempFolder = options.temp_folder;
  m_strWizardArguments = options.wizard_arguments;
  return options.result;
}

void CCarryallInstallerApp::RefuseRedirectedRun(const Text& redirection) {
  const char16_t kRefusal[] = u"%s will not run while '%s' is beside it: it would redirect the DLLs the program loads.";
  const Text message = Format(kRefusal, LoadString(kIdsProductName), redirection);
  log_.Write(Format(kRefusal, LoadString(kIdsProductName), EscapeForLog(redirection)) + u"\n");
  if (!m_bSilent) platform_.ui.ShowReport(message, Text());
  m_nExitCode = kFail;
}

int32_t CCarryallInstallerApp::VerifyOwnSignature() {
  Text description;
  if (VerifyFileSignature(platform_.trust, log_, GetModulePath(platform_.environment), description) == 0) return kOk;
  if (m_bSilent) {
    log_.Write(u"Not signed correctly so failing now!\n");
    return kNotSigned;
  }
  Text heading = FormatString(kIdsVerifyQuestion, LoadString(kIdsProductName));
  log_.Write(u"Not signed correctly\n");
  if (platform_.ui.AskQuestion(heading, description) != kIdOk) return kNotSigned;
  // Closing a dialog that was the main window leaves a quit request behind; it must not
  // end the waits that follow.
  Message message;
  while (platform_.threads.PeekMessage(message)) {
    if (message.message != kWmQuit) platform_.threads.DispatchMessage(message);
  }
  return kOk;
}

void CCarryallInstallerApp::ReadSignerDetails() {
  m_strProgramName = ReadSignerProgramName(platform_.trust, log_, GetModulePath(platform_.environment),
                                           LoadString(kIdsDefaultProgramName));
}

int32_t CCarryallInstallerApp::CheckPrerequisites() {
  IMachineInfo& machine = platform_.machine;
  if (LoadString(kIdsRequireAdmin) != u"0" && !IsAdministrator(machine)) return kNotAdministrator;
  const DotNetVerdict dot_net = CheckDotNetVersion(machine, platform_.resources, log_);
  m_strDotNetName = dot_net.name;
  m_nDotNetMajor = dot_net.major;
  m_nDotNetServicePack = dot_net.service_pack;
  if (!dot_net.installed) return kDotNetMissing;
  if (!IsWindowsInstallerUsable(machine)) return kInstallerTooOld;
  const DiskVerdict disk =
      CheckFreeDiskSpace(machine, log_, m_strTempFolder, ReadDecimal(LoadString(kIdsRequiredDiskMB)));
  m_nRequiredMB = disk.required_mb;
  m_nFreeMB = disk.free_mb;
  if (!disk.drive.empty()) m_strDiskDrive = disk.drive;
  if (!disk.enough) return kDiskFull;
  return kOk;
}

int32_t CCarryallInstallerApp::RunWorker(bool& started) {
  // The worker processes the options again and rewrites the option fields; what the
  // main thread needs from them is read before it starts.
  const bool silent = m_bSilent;
  m_hWorkerDoneEvent = platform_.threads.CreateManualResetEvent().value_or(nullptr);
  m_hWindowShownEvent = platform_.threads.CreateManualResetEvent().value_or(nullptr);
  started = m_hWorkerDoneEvent && m_hWindowShownEvent &&
            platform_.threads.StartThread([this] { InstallWorkerProc(*this); }).ok();
  // Without a worker nothing can be installed; say so rather than succeed.
  if (!started) return kFail;
  // A silent run never shows the splash, so it makes none: a window, even a hidden one,
  // costs a silent installation time (README, Benchmark).
  std::unique_ptr<ISplash> splash = silent ? nullptr : platform_.ui.CreateSplash();
  if (splash && m_nSplashHideCount == 0) splash->Show();
  EventHandle handles[2] = {m_hWindowShownEvent, m_hWorkerDoneEvent};
  const int32_t waited = WaitForWorker(platform_.threads, handles, 2, *this, splash.get());
  splash.reset();
  // A failed wait fails the run, unless the worker has named a failure of its own.
  const int32_t result = m_nWorkerResult;
  if (result == kOk && waited != kOk) return m_nWaitResult = waited;
  return result;
}

Report CCarryallInstallerApp::WordReport(int32_t result) {
  ReportFacts facts;
  facts.exit_code = m_nExitCode;
  facts.dot_net_name = m_strDotNetName;
  facts.dot_net_major = m_nDotNetMajor;
  facts.dot_net_service_pack = m_nDotNetServicePack;
  facts.required_mb = m_nRequiredMB;
  facts.disk_drive = m_strDiskDrive;
  facts.command_line = m_lpCmdLine;
  return BuildReport(platform_.resources, result, facts);
}

void CCarryallInstallerApp::ReportResult(int32_t result) {
  Report report = WordReport(result);
  log_.Write(report.logged);
  log_.Write(u"\n");
  if (m_bSilent) return;
  platform_.ui.ShowReport(report.message, report.link);
}

int32_t CCarryallInstallerApp::ExitInstance() {
  if (m_nWorkerResult != 0) {
    m_nExitCode = m_nWorkerResult.load();
  } else if (m_nWaitResult != 0) {
    m_nExitCode = m_nWaitResult;
  }
  log_.Printf(u"Ended %ld\n", static_cast<int32_t>(platform_.system.GetTickCount()));
  log_.Close();
  return m_nExitCode;
}

int32_t WaitForWorker(IThreads& threads, const EventHandle* handles, uint32_t count, CCarryallInstallerApp& app,
                      ISplash* splash) {
  int32_t last_count = 0;
  int32_t result = kOk;
  for (;;) {
    Message message;
    while (threads.PeekMessage(message)) {
      if (message.message != kWmQuit) threads.DispatchMessage(message);
    }
    int32_t now = app.m_nSplashHideCount;
    if (now != last_count) {
      if (splash) {
        if (now == 0) {
          splash->Show();
        } else if (last_count == 0 && now == 1) {
          splash->Hide();
        }
      }
      last_count = now;
    }
    const Fallible<uint32_t> waited = threads.WaitForEventsOrMessages(handles, count);
    const uint32_t woke = waited.value_or(0xFFFFFFFFu);
    if (waited && woke == count) continue;
    if (waited && woke == 0) {
      threads.ResetEvent(handles[0]);
      if (splash) {
        splash->End(kSplashEndResult);
        splash = nullptr;
      }
      continue;
    }
    if (waited && woke == 1) break;

    // Anything else is a failed wait (WAIT_FAILED), which would come back at once: the
    // loop ends here. The splash goes, and the worker is waited for alone, without
    // messages, so that its clean-up (the private folder's removal) is done before the
    // process ends. The line is logged after that wait: while the wizard runs, the log
    // file is the wizard's, and a line written then would stay in memory.
    const uint32_t error = waited.error();
    result = WaitFailedResult(error);
    if (splash) {
      splash->End(kSplashEndResult);
      splash = nullptr;
    }
    const Status worker_done = threads.WaitForEvent(handles[1]);
    app.log().Printf(u"WaitForWorker wait failed, error %u\n", error);
    if (!worker_done) {
      app.log().Printf(u"WaitForWorker cannot wait for the worker either, error %u\n", worker_done.error());
    }
    break;
  }
  if (splash) splash->End(kSplashEndResult);
  return result;
}

}  // namespace carryall
