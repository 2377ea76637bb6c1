// Portable layer. Administrator rights and the Windows Installer engine.
#include "checks/checks.h"

namespace carryall {

namespace {
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr int32_t kTrue = 1;  // the only BOOL value that counts as membership

uint32_t ReadLittleEndian32(const std::string& bytes, std::size_t offset) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
  return value;
}
}  // namespace

bool IsAdministrator(IMachineInfo& machine) {
  Fallible<int32_t> member = machine.AdministratorsMembership();
  return member && *member == kTrue;
}

std::optional<FileVersion> ReadFileVersion(IMachineInfo& machine, const Text& path) {
  Fallible<std::string> block = machine.ReadFixedFileInfo(path);
  if (!block || block->size() < kFixedFileInfoSize) return std::nullopt;
  if (ReadLittleEndian32(*block, /*dwSignature*/ 0) != kFixedFileInfoSignature) return std::nullopt;
  uint32_t most_significant = ReadLittleEndian32(*block, /*dwFileVersionMS*/ 8);
  return FileVersion{static_cast<uint16_t>(most_significant >> 16), static_cast<uint16_t>(most_significant & 0xFFFF)};
}

bool IsWindowsInstallerUsable(IMachineInfo& machine) {
  // Windows XP (NT 5.1) and every later system ship Windows Installer 2.0 or later.
  Fallible<OsVersion> os = machine.GetVersion();
  if (os && os->platform_id == kPlatformNt && (os->major > 5 || (os->major == 5 && os->minor != 0))) return true;

  Fallible<Text> system_folder = machine.GetSystemFolder();
  if (!system_folder) return false;
  std::optional<FileVersion> engine = ReadFileVersion(machine, *system_folder + u"\\" + u"MSI.DLL");
  return engine && engine->major >= 2;
}

}  // namespace carryall
