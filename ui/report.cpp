// Portable layer. Failure reports.
#include "ui/report.h"

#include "app/carryall_app.h"
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
    case 2: return u"https://www.microsoft.com/en-us/download/details.aspx?id=19";
    case 3: return u"https://www.microsoft.com/en-us/download/details.aspx?id=21";
    case 4:
      return service_pack <= 0 ? u"https://www.microsoft.com/en-us/download/details.aspx?id=17718"
                               : u"https://dotnet.microsoft.com/download/dotnet-framework/net48";
    default: return Text();
  }
}

Report BuildReport(CCarryallInstallerApp& app, int32_t result) {
  Text product = app.LoadString(kIdsProductName);
  Report report;
  auto dot_net_message = [&] {
    return app.m_nDotNetServicePack == 0
               ? app.FormatString(kIdsDotNetRequired, product, app.m_strDotNetName, app.m_nDotNetServicePack)
               : app.FormatString(kIdsDotNetServicePackRequired, product, app.m_strDotNetName,
                                  app.m_nDotNetServicePack);
  };
  switch (result) {
    case kOk:
      if (app.m_nExitCode == kDotNetRuntimeFailed) {
        if (app.m_nDotNetServicePack >= 4) {
          report.message = Format(kRuntimeFailedText, product);
        } else {
          report.message = dot_net_message() + kDotNet4DetectedSuffix;
        }
        report.link = DotNetDownloadPage(app.m_nDotNetMajor, app.m_nDotNetServicePack);
      } else {
        report.message = app.FormatString(kIdsWizardFailed, product, app.m_nExitCode.load());
      }
      break;
    case kDotNetMissing:
      report.message = dot_net_message();
      report.link = DotNetDownloadPage(app.m_nDotNetMajor, app.m_nDotNetServicePack);
      break;
    case kNotAdministrator: report.message = app.FormatString(kIdsNeedAdministrator, product); break;
    case kInstallerTooOld: report.message = app.FormatString(kIdsMsiRequired, product); break;
    case kFileSizeMismatch: report.message = app.FormatString(kIdsFileCorrupt, product); break;
    case kDiskFull:
    case kDiskFullOnWrite: {
      double size = static_cast<double>(app.m_nRequiredMB);
      Text unit = u"MB";
      if (app.m_nRequiredMB > 1000) {
        size /= 1000.0;
        unit = u"GB";
      }
      report.message = app.FormatString(kIdsDiskSpace, app.m_strDiskDrive, size, unit);
      break;
    }
    case kBadCommandLine: report.message = app.FormatString(kIdsUsage, app.m_lpCmdLine); break;
    case kAbort:
      report.message = app.FormatString(kIdsProcessorMode, product, app.LoadString(kIdsProgramType));
      break;
    case kFail: report.message = app.FormatString(kIdsIncorrectBuild, product); break;
    default: report.message = app.FormatString(kIdsFailedToRun, product, result); break;
  }
  return report;
}

void CCarryallInstallerApp::ReportResult(int32_t result) {
  Report report = BuildReport(*this, result);
  log_.Write(report.message);
  log_.Write(u"\n");
  if (m_bSilent) return;
  platform_.ui.ShowReport(report.message, report.link);
}

}  // namespace carryall
