// Portable layer. Failure reports.
#include "ui/report.h"

#include "base/format.h"
#include "base/log.h"
#include "base/result_codes.h"
#include "base/string_ids.h"

namespace carryall {

namespace {
constexpr char16_t kRuntimeFailedText[] =
    u".NET 4 run time has failed to run %s.\r\n(Perhaps you have a Pre-release .NET Version).\r\n"
    u"Please download from the Microsoft Download Center and retry.";
constexpr char16_t kDotNet4DetectedSuffix[] = u"\r\n(.NET 4 was detected.)";
}  // namespace

Text DotNetDownloadPage(int32_t major, int32_t service_pack) {
  switch (major) {
    case 2:
      return u"https://www.microsoft.com/en-us/download/details.aspx?id=19";
    case 3:
      return u"https://www.microsoft.com/en-us/download/details.aspx?id=21";
    case 4:
      return service_pack <= 0 ? u"https://www.microsoft.com/en-us/download/details.aspx?id=17718"
                               : u"https://dotnet.microsoft.com/download/dotnet-framework/net48";
    default:
      return Text();
  }
}

namespace {
// The disk-space message for drive: the requirement in MB up to a thousand, in GB above.
Text DiskSpaceText(const Text& format, const Text& drive, int64_t required_mb) {
  double size = static_cast<double>(required_mb);
  Text unit = u"MB";
  if (required_mb > 1000) {
    size /= 1000.0;
    unit = u"GB";
  }
  return Format(format, drive, size, unit);
}
}  // namespace

Report BuildReport(IResources& strings, int32_t result, const ReportFacts& facts) {
  auto load = [&](uint32_t id) { return strings.LoadString(id).value_or(Text()); };
  auto text = [&](uint32_t id, const auto&... args) { return Format(load(id), args...); };
  Text product = load(kIdsProductName);
  Report report;
  auto dot_net_message = [&] {
    return facts.dot_net_service_pack == 0
               ? text(kIdsDotNetRequired, product, facts.dot_net_name, facts.dot_net_service_pack)
               : text(kIdsDotNetServicePackRequired, product, facts.dot_net_name, facts.dot_net_service_pack);
  };
  switch (result) {
    case kOk:
      if (facts.exit_code == kDotNetRuntimeFailed) {
        if (facts.dot_net_service_pack >= 4) {
          report.message = Format(kRuntimeFailedText, product);
        } else {
          report.message = dot_net_message() + kDotNet4DetectedSuffix;
        }
        report.link = DotNetDownloadPage(facts.dot_net_major, facts.dot_net_service_pack);
      } else {
        report.message = text(kIdsWizardFailed, product, facts.exit_code);
      }
      break;
    case kDotNetMissing:
      report.message = dot_net_message();
      report.link = DotNetDownloadPage(facts.dot_net_major, facts.dot_net_service_pack);
      break;
    case kNotAdministrator:
      report.message = text(kIdsNeedAdministrator, product);
      break;
    case kInstallerTooOld:
      report.message = text(kIdsMsiRequired, product);
      break;
    case kFileSizeMismatch:
      report.message = text(kIdsFileCorrupt, product);
      break;
    case kDiskFull:
    case kDiskFullOnWrite:
      report.message = DiskSpaceText(load(kIdsDiskSpace), facts.disk_drive, facts.required_mb);
      report.logged = DiskSpaceText(load(kIdsDiskSpace), EscapeForLog(facts.disk_drive), facts.required_mb);
      break;
    case kBadCommandLine:
      report.message = text(kIdsUsage, facts.command_line);
      report.logged = text(kIdsUsage, EscapeForLog(facts.command_line));
      break;
    case kAbort:
      report.message = text(kIdsProcessorMode, product, load(kIdsProgramType));
      break;
    case kFail:
      report.message = text(kIdsIncorrectBuild, product);
      break;
    default:
      report.message = text(kIdsFailedToRun, product, result);
      break;
  }
  if (report.logged.empty()) report.logged = report.message;
  return report;
}

}  // namespace carryall
