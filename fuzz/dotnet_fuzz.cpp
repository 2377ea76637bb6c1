// Fuzz target: the .NET registry values and the version block. The input fills the
// seven version settings, the framework's setup keys (values of any size and bytes,
// or missing) and the Windows Installer engine's fixed version block; the checks read
// them as any machine might hold them.
#include <array>

#include "app/carryall_app.h"
#include "checks/checks.h"
#include "checks/dotnet.h"
#include "fuzz/fuzz.h"
#include "platform/sim/sim_platform.h"

namespace carryall::fuzz {

namespace {
constexpr std::array<const char16_t*, 6> kKeys = {
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0",
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0\\Setup",
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5",
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client",
    u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
};
constexpr std::array<const char16_t*, 5> kValues = {u"Install", u"InstallSuccess", u"SP", u"Servicing", u"Version"};
constexpr uint32_t kFirstSetting = 138;
constexpr char16_t kSystemFolder[] = u"C:\\Windows\\system32";
}  // namespace

int DotNet(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  sim::SimMachine machine;
  sim::SimMachineInfo& info = machine.machine;
  info.ClearRegistry();
  for (uint32_t id = kFirstSetting; id < kFirstSetting + 7; ++id) machine.resources.strings[id] = input.Units(12);
  for (const char16_t* key : kKeys) {
    for (const char16_t* value : kValues) {
      // Missing, a number, or any bytes (a version text is UTF-16 with its NUL).
      switch (input.Byte() % 3) {
        case 0:
          break;
        case 1:
          info.SetNumber(key, value, input.U32());
          break;
        default:
          info.SetBytes(key, value, input.Bytes(64));
          break;
      }
    }
  }
  info.version = OsVersion{input.Byte() % 3u, input.Byte() % 7u, input.Byte() % 3u};
  info.version_blocks["c:\\windows\\system32\\msi.dll"] = input.Bytes(80);

  FileLog log(machine.files, machine.code_page);
  const DotNetVerdict verdict = CheckDotNetVersion(info, machine.resources, log);
  const Text logged = log.pending();
  FUZZ_CHECK(verdict.installed == (logged.find(u".NET Version OK\n") != Text::npos));
  FUZZ_CHECK(verdict.major >= 2 && verdict.major <= 4);

  (void)IsWindowsInstallerUsable(info);
  std::optional<FileVersion> engine = ReadFileVersion(info, Text(kSystemFolder) + u"\\MSI.DLL");
  if (engine) FUZZ_CHECK(info.ReadFixedFileInfo(Text(kSystemFolder) + u"\\msi.dll").ok());

  // The version rule on any text, and its order on what it read.
  const VersionNumbers read = ParseVersionText(input.RestAsUnits());
  FUZZ_CHECK(IsVersionAtLeast(read, read));
  return 0;
}

}  // namespace carryall::fuzz
