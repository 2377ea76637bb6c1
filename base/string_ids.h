// Portable layer. Ids of the string table: build settings and user-visible messages.
#pragma once

#include <cstdint>

namespace carryall {

// Settings.
constexpr uint32_t kIdsProgramType = 0;
constexpr uint32_t kIdsProductName = 1;
constexpr uint32_t kIdsRequiredDiskMB = 103;
constexpr uint32_t kIdsDotNet20 = 138;  // 138..144: .NET 2.0, 3.0, 3.5, 4.0 Client/Full, 4.5 Client/Full
constexpr uint32_t kIdsRequireAdmin = 145;
constexpr uint32_t kIdsUpgradeCode = 200;
constexpr uint32_t kIdsDefaultProgramName = 201;
constexpr uint32_t kIdsRequireDotNet = 202;

// Messages.
constexpr uint32_t kIdsAboutMenu = 101;
constexpr uint32_t kIdsDiskSpace = 102;
constexpr uint32_t kIdsIncorrectBuild = 104;
constexpr uint32_t kIdsAboutVersion = 105;
constexpr uint32_t kIdsAboutCaption = 106;
constexpr uint32_t kIdsDotNetRequired = 108;
constexpr uint32_t kIdsNeedAdministrator = 109;
constexpr uint32_t kIdsMsiRequired = 110;
constexpr uint32_t kIdsFileCorrupt = 111;
constexpr uint32_t kIdsWizardFailed = 112;
constexpr uint32_t kIdsFailedToRun = 113;
constexpr uint32_t kIdsUsage = 114;
constexpr uint32_t kIdsDotNetServicePackRequired = 115;
constexpr uint32_t kIdsProcessorMode = 135;
constexpr uint32_t kIdsVerifyQuestion = 137;

}  // namespace carryall
