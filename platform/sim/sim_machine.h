// Simulated machine facts for the host tests: an in-memory HKEY_LOCAL_MACHINE, the
// system's version, version blocks of files, the token's answer and free space per
// drive text. It starts as a typical machine on which every check passes (Windows 7,
// .NET 4.8, an administrator, plenty of space on C:); tests change what they need and
// read back what was asked for.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/sim/faults.h"

namespace carryall::sim {

class SimMachineInfo : public IMachineInfo {
 public:
  SimMachineInfo();

  Fallible<std::string> ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) override;
  Fallible<OsVersion> GetVersion() override {
    ++version_queries;
    if (Injected(faults, "IMachineInfo::GetVersion") || !version) return Failed(kErrorInvalidParameter);
    return *version;
  }
  Fallible<Text> GetSystemFolder() override {
    if (Injected(faults, "IMachineInfo::GetSystemFolder") || !system_folder) return Failed(kErrorFileNotFound);
    return *system_folder;
  }
  Fallible<std::string> ReadFixedFileInfo(const Text& path) override;
  Fallible<int32_t> AdministratorsMembership() override;
  Fallible<uint64_t> FreeBytesForCaller(const Text& directory) override;
  Fallible<Text> GetVolumePathName(const Text& path) override;

  // Registry helpers; key names are below HKEY_LOCAL_MACHINE and, like value names,
  // compared ignoring ASCII case. A number is stored as 4 little-endian bytes, a text
  // as UTF-16 with its terminating NUL (as REG_SZ holds it).
  void SetNumber(const Text& key, const Text& name, uint32_t number);
  void SetText(const Text& key, const Text& name, const Text& text);
  void SetBytes(const Text& key, const Text& name, const std::string& bytes);
  void DeleteValue(const Text& key, const Text& name);
  void DeleteKey(const Text& key);  // the key and every key below it
  void ClearRegistry();
  // The registry of a machine with .NET 4.8 and nothing older.
  void InstallDotNet48();

  // A fixed file information block with this signature and file version major.minor.
  static std::string FixedFileInfo(uint16_t major, uint16_t minor, uint32_t signature = 0xFEEF04BD);

  std::optional<OsVersion> version = OsVersion{kPlatformNt, 6, 1};
  std::optional<Text> system_folder = Text(u"C:\\Windows\\system32");
  std::map<std::string, std::string> version_blocks;  // path (lower case) -> block
  std::optional<int32_t> administrators_membership = 1;
  std::map<std::string, uint64_t> free_bytes = {{"c:", 100ull << 30}};  // drive text (lower case)
  // Volume roots as GetVolumePathNameW names them; a path lies on the longest one that
  // begins it (compared ignoring ASCII case). No such root: the system cannot tell.
  std::vector<Text> volume_roots = {u"C:\\"};

  // What the checks asked for, in order: "key\value" per registry read, the path per
  // version-block read and the text per free-space query.
  std::vector<std::string> registry_reads;
  std::vector<std::string> version_reads;
  std::vector<std::string> free_space_queries;
  int membership_queries = 0;
  int version_queries = 0;
  FaultPlan* faults = nullptr;

 private:
  std::map<std::string, std::map<std::string, std::string>> registry_;  // lower-case key -> value -> bytes
};

}  // namespace carryall::sim
