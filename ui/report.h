// Portable layer. The words of a failure report: the message for a result code and the
// download page offered with it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

struct Report {
  Text message;
  Text link;  // empty when the report offers no download
  // The message as the log shows it: the outside text in it (the command line of the
  // usage message, the drive of the disk-space message) escaped as every log line's.
  Text logged;
};

// The Microsoft download page for the required .NET version; empty for an unknown one.
Text DotNetDownloadPage(int32_t major, int32_t service_pack);

// The report for result from the state the start-up steps left in app.
Report BuildReport(CCarryallInstallerApp& app, int32_t result);

}  // namespace carryall
