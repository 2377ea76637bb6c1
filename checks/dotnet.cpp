// Portable layer. .NET Framework detection: which versions a build accepts, and which
// are installed according to the framework's setup keys.
#include <array>

#include "base/string_ids.h"
#include "checks/checks.h"
#include "checks/dotnet.h"
#include "base/text.h"

namespace carryall {

namespace {

constexpr char16_t kKey20[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
constexpr char16_t kKey30[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0";
constexpr char16_t kKey30Setup[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0\\Setup";
constexpr char16_t kKey35[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
constexpr char16_t kKey4Client[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
constexpr char16_t kKey4Full[] = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

// A number value is read into a 4-byte holder; a version text into 260 bytes.
constexpr uint32_t kNumberBytes = 4;
constexpr uint32_t kVersionTextBytes = 260;

// The holder preset to 0 with the value's bytes over it, or -1 when the value is
// missing or larger than the holder.
int32_t ReadNumber(IMachineInfo& machine, const Text& key, const Text& value) {
  Fallible<std::string> bytes = machine.ReadRegistryValue(key, value, kNumberBytes);
  if (!bytes) return -1;
  uint32_t holder = 0;
  for (std::size_t i = 0; i < bytes->size() && i < kNumberBytes; ++i) {
    holder |= static_cast<uint32_t>(static_cast<uint8_t>((*bytes)[i])) << (8 * i);
  }
  return static_cast<int32_t>(holder);
}

bool IsOne(IMachineInfo& machine, const Text& key, const Text& value) { return ReadNumber(machine, key, value) == 1; }

// The "Version" value of key; nullopt when it cannot be read.
std::optional<VersionNumbers> ReadVersion(IMachineInfo& machine, const Text& key) {
  Fallible<std::string> bytes = machine.ReadRegistryValue(key, u"Version", kVersionTextBytes);
  if (!bytes) return std::nullopt;
  Text text;
  for (std::size_t i = 0; i + 1 < bytes->size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>((*bytes)[i]) | (static_cast<uint8_t>((*bytes)[i + 1]) << 8));
  }
  return ParseVersionText(text);
}

// A version that cannot be read compares as 0.0.0.0.
bool IsVersionValueAtLeast(IMachineInfo& machine, const Text& key, const VersionNumbers& minimum) {
  return IsVersionAtLeast(ReadVersion(machine, key).value_or(VersionNumbers{}), minimum);
}

struct Probe {
  bool installed = false;
  int32_t level = -1;  // service pack; -1 when its value is missing
};

bool Is20Installed(IMachineInfo& machine) { return IsOne(machine, kKey20, u"Install"); }

Probe Probe20(IMachineInfo& machine) {
  if (!Is20Installed(machine)) return {};
  return {true, ReadNumber(machine, kKey20, u"SP")};
}

// 3.0 and 3.5 run on the 2.0 run time: without it their keys do not count.
Probe Probe30(IMachineInfo& machine) {
  if (!Is20Installed(machine) || !IsOne(machine, kKey30Setup, u"InstallSuccess") ||
      !IsVersionValueAtLeast(machine, kKey30Setup, {3, 0, 4506, 26})) {
    return {};
  }
  return {true, ReadNumber(machine, kKey30, u"SP")};  // the parent key, not Setup
}

Probe Probe35(IMachineInfo& machine) {
  if (!Is20Installed(machine) || !IsOne(machine, kKey35, u"Install") ||
      !IsVersionValueAtLeast(machine, kKey35, {3, 5, 21022, 8})) {
    return {};
  }
  return {true, ReadNumber(machine, kKey35, u"SP")};
}

// 4.5 and later replace 4.0 in place and keep its keys; their minor version is what
// tells them apart, so the level is the larger of "Servicing" and the minor version.
// The Client key's version stands for the Full profile too.
Probe Probe40(IMachineInfo& machine, const Text& profile_key) {
  if (!IsOne(machine, profile_key, u"Install")) return {};
  Probe probe{true, ReadNumber(machine, profile_key, u"Servicing")};
  std::optional<VersionNumbers> version = ReadVersion(machine, kKey4Client);
  if (version && version->major == 4 && version->minor > probe.level) probe.level = version->minor;
  return probe;
}

Probe Probe40Client(IMachineInfo& machine) { return Probe40(machine, kKey4Client); }
Probe Probe40Full(IMachineInfo& machine) { return Probe40(machine, kKey4Full); }

Probe Probe45(IMachineInfo& machine, const Text& profile_key) {
  Probe probe = Probe40(machine, profile_key);
  if (!probe.installed || probe.level < 5) return {};
  return probe;
}

Probe Probe45Client(IMachineInfo& machine) { return Probe45(machine, kKey4Client); }
Probe Probe45Full(IMachineInfo& machine) { return Probe45(machine, kKey4Full); }

struct DotNetVersion {
  uint32_t setting_id;
  const char16_t* setting_line;
  const char16_t* detected_line;
  const char16_t* name;  // the requirement's name in the report
  int32_t major;         // chooses the report's download page
  Probe (*probe)(IMachineInfo&);
};

// In setting-id order, which is also the order of the tests and of the requirement.
constexpr std::array<DotNetVersion, 7> kVersions = {{
    {kIdsDotNet20 + 0, u".NET 2.0 %s\n", u".NET 2.0 Detected SP %ld\n", u".NET 2", 2, Probe20},
    {kIdsDotNet20 + 1, u".NET 3.0 %s\n", u".NET 3.0 Detected SP %ld\n", u".NET 3.0", 3, Probe30},
    {kIdsDotNet20 + 2, u".NET 3.5 %s\n", u".NET 3.5 Detected SP %ld\n", u".NET 3.5", 3, Probe35},
    {kIdsDotNet20 + 3, u".NET 4.0 Client %s\n", u".NET 4.0 Client Detected SP %ld\n", u".NET (client) 4.0", 4,
     Probe40Client},
    {kIdsDotNet20 + 4, u".NET 4.0 Full %s\n", u".NET 4.0 Full Detected SP %ld\n", u".NET (full) 4.0", 4, Probe40Full},
    {kIdsDotNet20 + 5, u".NET 4.5 Client %s\n", u".NET 4.5 Client Detected SP %ld\n", u".NET (client) 4.5", 4,
     Probe45Client},
    {kIdsDotNet20 + 6, u".NET 4.5 Full %s\n", u".NET 4.5 Full Detected SP %ld\n", u".NET (full) 4.5", 4, Probe45Full},
}};

}  // namespace

VersionNumbers ParseVersionText(std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));
  VersionNumbers numbers;
  int32_t* fields[] = {&numbers.major, &numbers.minor, &numbers.build, &numbers.revision};
  std::size_t pos = 0;
  for (int32_t* field : fields) {
    pos = text.find_first_not_of(u'.', pos);
    if (pos == std::u16string_view::npos) break;
    std::size_t end = text.find(u'.', pos);
    if (end == std::u16string_view::npos) end = text.size();
    // _wtoi reads exactly as wcstol with base 10 on a 32-bit long.
    *field = ReadDecimal(text.substr(pos, end - pos));
    pos = end;
  }
  return numbers;
}

bool IsVersionAtLeast(const VersionNumbers& version, const VersionNumbers& minimum) {
  if (version.major != minimum.major) return version.major > minimum.major;
  if (version.minor != minimum.minor) return version.minor > minimum.minor;
  if (version.build != minimum.build) return version.build > minimum.build;
  return version.revision >= minimum.revision;
}

DotNetVerdict CheckDotNetVersion(IMachineInfo& machine, IResources& strings, Log& log) {
  DotNetVerdict verdict;
  auto setting = [&](uint32_t id) { return strings.LoadString(id).value_or(Text()); };
  // A wizard that is no managed program (an NSIS or MSI installer) needs no framework;
  // nothing is then probed and nothing is read of the version settings.
  if (setting(kIdsRequireDotNet) == u"0") {
    log.Write(u"No .NET Framework is required by this build.\n");
    verdict.installed = true;
    return verdict;
  }

  std::array<Text, kVersions.size()> settings;
  for (std::size_t i = 0; i < kVersions.size(); ++i) settings[i] = setting(kVersions[i].setting_id);
  for (std::size_t i = 0; i < kVersions.size(); ++i) log.Printf(kVersions[i].setting_line, settings[i]);

  // A negative minimum switches a version off; any other value is the lowest service
  // pack at which it qualifies. The report names the first version switched on.
  std::array<int32_t, kVersions.size()> minimum;
  for (std::size_t i = 0; i < kVersions.size(); ++i) minimum[i] = ReadDecimal(settings[i]);
  for (std::size_t i = 0; i < kVersions.size(); ++i) {
    if (minimum[i] < 0) continue;
    verdict.name = kVersions[i].name;
    verdict.major = kVersions[i].major;
    verdict.service_pack = minimum[i];
    break;
  }

  for (std::size_t i = 0; i < kVersions.size(); ++i) {
    if (minimum[i] < 0) continue;
    Probe probe = kVersions[i].probe(machine);
    if (!probe.installed) continue;
    log.Printf(kVersions[i].detected_line, probe.level);
    if (probe.level >= minimum[i]) {
      log.Write(u".NET Version OK\n");
      verdict.installed = true;
      return verdict;
    }
  }
  log.Printf(u".NET Version Not OK %s %ld\n", verdict.name, verdict.service_pack);
  return verdict;
}

}  // namespace carryall
