// Portable layer. The private temporary folder.
#include "payload/temp_folder.h"

#include <vector>

#include "base/path.h"
#include "platform/full_path.h"
#include "base/result_codes.h"
#include "base/string_ids.h"

namespace carryall {

namespace {

constexpr std::array<uint8_t, 16> kFallbackGuid = {0x3A, 0x6C, 0xEC, 0x66, 0x4A, 0x0B, 0xAB, 0x4C,
                                                   0xA2, 0x4A, 0x53, 0xB2, 0xD4, 0x17, 0x6C, 0xD1};
}  // namespace

Text FormatGuid(const std::array<uint8_t, 16>& g) {
  uint32_t data1 = g[0] | (g[1] << 8) | (g[2] << 16) | (static_cast<uint32_t>(g[3]) << 24);
  unsigned data2 = g[4] | (g[5] << 8);
  unsigned data3 = g[6] | (g[7] << 8);
  return Format(u"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3, g[8], g[9], g[10], g[11],
                g[12], g[13], g[14], g[15]);
}

int32_t SetTempFolder(PayloadContext& ctx, const Text& base) {
  IFileSystem& files = ctx.files;
  ctx.folder.base = base;
  // A device (CON, NUL, COM1) is no folder, and a probe below it could reach the device.
  if (NamesDevice(base)) {
    ctx.log.Write(u"SetTempFolder has failed\n");
    return kFail;
  }
  // A base that is there already is fine; one that cannot be made fails the probe below.
  (void)files.CreateDirectory(base);
  std::array<uint8_t, 16> guid{};
  if (auto made = ctx.system.CreateGuid()) guid = *made;
  // A base too long to hold the probe cannot hold the private folder either.
  std::optional<Text> probe = PathAppend(base, FormatGuid(guid));
  bool usable = probe && files.CreateProbeFile(*probe);
  if (usable && ctx.folder.zero_guid) {
    // The name is known in advance, so something may be waiting at its place.
    std::optional<Text> place = PathAppend(base, FormatGuid({}));
    usable = place && (!files.GetFileAttributes(*place) || IsRealFolder(files, *place));
  }
  if (!usable) {
    ctx.log.Write(u"SetTempFolder has failed\n");
    return kFail;
  }
  return kOk;
}

Text GetTempFolder(PayloadContext& ctx) {
  TempFolderState& state = ctx.folder;
  if (!state.private_folder.empty()) return state.private_folder;
  std::array<uint8_t, 16> guid{};
  if (!state.zero_guid) guid = ctx.system.CreateGuid().value_or(kFallbackGuid);
  Text name = FormatGuid(guid);
  // SetTempFolder proved base plus a GUID fits; the unbounded join is only reached for
  // a base it never accepted, and then every later path built on it fails to fit.
  state.private_folder = PathAppend(state.base, name, SIZE_MAX).value_or(state.base + u"\\" + name);
  // Only a folder that SHCreateDirectoryExW made itself is the run's own: one that was
  // there already holds what others put there.
  const bool made = CreateFolder(ctx, state.private_folder);
  IFileSystem& files = ctx.files;
  if (!state.own.NoteFolder(files, state.base, state.private_folder, made)) {
    // A link here would take the access entries, and every file, to its target. Nothing
    // at all here is the failure to make it, which every file then reports.
    if (files.GetFileAttributes(state.private_folder)) ctx.log.Write(u"GetTempFolder has failed\n");
    return state.private_folder;
  }
  // Failures are silent: the folder keeps what it inherited from the base.
  (void)ctx.security.SetFolderAccess(state.private_folder, kEveryoneAccess);
  return state.private_folder;
}

void SetZeroGuid(PayloadContext& ctx) { ctx.folder.zero_guid = true; }

bool CreateFolder(PayloadContext& ctx, const Text& path) { return ctx.files.CreateDirectoryTree(path).ok(); }

bool IsRealFolder(IFileSystem& files, const Text& path) {
  Fallible<uint32_t> attributes = files.GetFileAttributes(path);
  return attributes && (*attributes & kFileAttributeDirectory) && !(*attributes & kFileAttributeReparsePoint);
}

bool IsLinkFree(IFileSystem& files, const Text& folder, const Text& path, bool including_path) {
  Text prefix = folder.empty() || folder.back() == u'\\' ? folder : folder + u'\\';
  if (path != folder && (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)) return false;
  // Where each entry's path ends: the folder, every folder on the way, then path itself.
  std::vector<std::size_t> ends = {folder.size()};
  for (std::size_t at = path.find_first_of(u"\\/", prefix.size()); at != Text::npos;
       at = path.find_first_of(u"\\/", at + 1)) {
    ends.push_back(at);
  }
  if (including_path && path.size() > folder.size()) ends.push_back(path.size());
  for (std::size_t end : ends) {
    Fallible<uint32_t> attributes = files.GetFileAttributes(path.substr(0, end));
    if (!attributes) return true;  // nothing exists below a missing entry
    if (*attributes & kFileAttributeReparsePoint) return false;
  }
  return true;
}

int32_t AskForBaseFolder(const BaseFolderPrompt& prompt, Text& base) {
  if (prompt.silent) {
    prompt.log.Write(u"Not Prompting the user as silent installation\n");
    return kFail;
  }
  Text drive = base;
  // The main thread hides the splash while the dialog is open; it looks at the counter
  // when its wait wakes, so each change wakes it.
  ++prompt.splash_hide_count;
  prompt.threads.WakeMainThread();
  int answer = prompt.ui.PromptForFolder(prompt.caption, drive);
  --prompt.splash_hide_count;
  prompt.threads.WakeMainThread();
  if (answer != kIdOk) return kFail;
  // The prompt's own example is "(eg. C:)": a drive typed alone means its root, not the
  // current directory the system keeps for that drive.
  if (IsBareDrive(drive)) drive = drive.substr(0, 2) + u"\\";
  // Resolved like the option "temp": a relative answer would pass the probe and then
  // fail every file.
  std::optional<Text> full = MakeAbsolute(prompt.files, drive);
  if (!full) return kFail;
  base = *full;
  return kOk;
}

}  // namespace carryall
