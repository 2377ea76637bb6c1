// Portable layer. The install worker thread.
#include "app/carryall_app.h"
#include "app/result_codes.h"

namespace carryall {

uint32_t InstallWorkerProc(CCarryallInstallerApp& app) {
  // Once the done event is set the main thread may leave and take the application
  // object with it: everything needed afterwards is taken out first.
  ISystem& system = app.platform().system;
  system.ComInitialize();
  app.m_nWorkerResult = app.RunEmbeddedResource(app.m_nExitCode);
  app.platform().threads.SetEvent(app.m_hWorkerDoneEvent);
  system.ComUninitialize();
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
  // Unpacking and starting the wizard are not wired in yet: the options are processed a
  // second time (composing the wizard's final arguments) and the worker reports success.
  return result;
}

}  // namespace carryall
