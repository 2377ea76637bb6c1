// Portable layer. The private temporary folder.
#include "payload/temp_folder.h"

#include "app/carryall_app.h"
#include "app/path.h"
#include "app/result_codes.h"
#include "app/string_ids.h"

namespace carryall {

namespace {
constexpr int kIdOk = 1;

constexpr std::array<uint8_t, 16> kFallbackGuid = {0x3A, 0x6C, 0xEC, 0x66, 0x4A, 0x0B, 0xAB, 0x4C,
                                                   0xA2, 0x4A, 0x53, 0xB2, 0xD4, 0x17, 0x6C, 0xD1};
}  // namespace

Text FormatGuid(const std::array<uint8_t, 16>& g) {
  uint32_t data1 = g[0] | (g[1] << 8) | (g[2] << 16) | (static_cast<uint32_t>(g[3]) << 24);
  unsigned data2 = g[4] | (g[5] << 8);
  unsigned data3 = g[6] | (g[7] << 8);
  return Format(u"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3, g[8], g[9], g[10],
                g[11], g[12], g[13], g[14], g[15]);
}

int32_t SetTempFolder(CCarryallInstallerApp& app, const Text& base) {
  IFileSystem& files = app.platform().files;
  app.m_tempFolder.base = base;
  // A device (CON, NUL, COM1) is no folder, and a probe below it could reach the device.
  if (IsDevicePath(base)) {
    app.log().Write(u"SetTempFolder has failed\n");
    return kFail;
  }
  files.CreateDirectory(base);
  std::array<uint8_t, 16> guid{};
  if (auto made = app.platform().system.CreateGuid()) guid = *made;
  // A base too long to hold the probe cannot hold the private folder either.
  std::optional<Text> probe = PathAppend(base, FormatGuid(guid));
  if (!probe || !files.CreateProbeFile(*probe)) {
    app.log().Write(u"SetTempFolder has failed\n");
    return kFail;
  }
  return kOk;
}

Text GetTempFolder(CCarryallInstallerApp& app) {
  TempFolderState& state = app.m_tempFolder;
  if (!state.private_folder.empty()) return state.private_folder;
  std::array<uint8_t, 16> guid{};
  if (!state.zero_guid) guid = app.platform().system.CreateGuid().value_or(kFallbackGuid);
  Text name = FormatGuid(guid);
  // SetTempFolder proved base plus a GUID fits; the unbounded join is only reached for
  // a base it never accepted, and then every later path built on it fails to fit.
  state.private_folder = PathAppend(state.base, name, SIZE_MAX).value_or(state.base + u"\\" + name);
  CreateFolder(app, state.private_folder);
  app.platform().files.SetFolderAccess(state.private_folder, kGenericAll);
  return state.private_folder;
}

void SetZeroGuid(CCarryallInstallerApp& app) { app.m_tempFolder.zero_guid = true; }

bool CreateFolder(CCarryallInstallerApp& app, const Text& path) {
  return app.platform().files.CreateDirectoryTree(path) == 0;
}

int32_t CCarryallInstallerApp::PromptForTempFolder(Text& base) {
  if (m_bSilent) {
    log_.Write(u"Not Prompting the user as silent installation\n");
    return kFail;
  }
  Text caption = LoadString(kIdsProductName);
  Text drive = base;
  // The main thread hides the splash while the dialog is open; it looks at the counter
  // when its wait wakes, so each change wakes it.
  ++m_nSplashHideCount;
  platform_.threads.WakeMainThread();
  int answer = platform_.ui.PromptForFolder(caption, drive);
  --m_nSplashHideCount;
  platform_.threads.WakeMainThread();
  if (answer != kIdOk) return kFail;
  base = drive;
  return kOk;
}

}  // namespace carryall
