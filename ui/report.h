// Portable layer. The words of a failure report: the message for a result code and the
// download page offered with it.
#pragma once

#include <cstdint>

#include "base/dotnet_default.h"
#include "platform/platform.h"

namespace carryall {

struct Report {
  Text message;
  Text link;  // empty when the report offers no download
  // The message as the log shows it: the outside text in it (the command line of the
  // usage message, the drive of the disk-space message) escaped as every log line's.
  Text logged;
};

// The Microsoft download page for the required .NET version; empty for an unknown one.
Text DotNetDownloadPage(int32_t major, int32_t service_pack);

// What a report is worded from: the state that the start-up steps and the worker left.
struct ReportFacts {
  int32_t exit_code = 0;  // the wizard's
  Text dot_net_name;
  int32_t dot_net_major = kUnknownDotNetMajor;
  int32_t dot_net_service_pack = 0;
  int64_t required_mb = 0;
  Text disk_drive;
  Text command_line;  // as the usage message shows it
};

// The report for result, its texts from the string table in strings.
Report BuildReport(IResources& strings, int32_t result, const ReportFacts& facts);

}  // namespace carryall
