// Simulated machine facts for the host tests.
#include "platform/sim/sim_machine.h"

#include <cctype>

#include "platform/sim/sim_platform.h"

namespace carryall::sim {

namespace {

std::string Lower(const Text& text) {
  std::string key = Narrow(text);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::string LittleEndian(uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return bytes;
}

}  // namespace

SimMachineInfo::SimMachineInfo() { InstallDotNet48(); }

Fallible<std::string> SimMachineInfo::ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) {
  registry_reads.push_back(Narrow(key) + "\\" + Narrow(value));
  if (Injected(faults, "IMachineInfo::ReadRegistryValue")) return Failed(kErrorAccessDenied);
  auto k = registry_.find(Lower(key));
  if (k == registry_.end()) return Failed(kErrorFileNotFound);
  auto v = k->second.find(Lower(value));
  if (v == k->second.end()) return Failed(kErrorFileNotFound);
  if (v->second.size() > capacity) return Failed(kErrorMoreData);
  return v->second;
}

Fallible<std::string> SimMachineInfo::ReadFixedFileInfo(const Text& path) {
  version_reads.push_back(Narrow(path));
  if (Injected(faults, "IMachineInfo::ReadFixedFileInfo")) return Failed(kErrorNotEnoughMemory);
  auto it = version_blocks.find(Lower(path));
  if (it == version_blocks.end() || it->second.size() < kFixedFileInfoSize) return Failed(kErrorResourceTypeNotFound);
  return it->second.substr(0, kFixedFileInfoSize);
}

Fallible<int32_t> SimMachineInfo::AdministratorsMembership() {
  ++membership_queries;
  if (Injected(faults, "IMachineInfo::AdministratorsMembership") || !administrators_membership) {
    return Failed(kErrorNoToken);
  }
  return *administrators_membership;
}

Fallible<uint64_t> SimMachineInfo::FreeBytesForCaller(const Text& directory) {
  free_space_queries.push_back(Narrow(directory));
  if (Injected(faults, "IMachineInfo::FreeBytesForCaller")) return Failed(kErrorAccessDenied);
  auto it = free_bytes.find(Lower(directory));
  if (it == free_bytes.end()) return Failed(kErrorPathNotFound);
  return it->second;
}

Fallible<Text> SimMachineInfo::GetVolumePathName(const Text& path) {
  if (Injected(faults, "IMachineInfo::GetVolumePathName")) return Failed(kErrorInvalidParameter);
  const std::string lower = Lower(path) + "\\";
  std::optional<Text> found;
  for (const Text& root : volume_roots) {
    if (lower.rfind(Lower(root), 0) == 0 && (!found || root.size() > found->size())) found = root;
  }
  if (!found) return Failed(kErrorInvalidParameter);
  return *found;
}

void SimMachineInfo::SetNumber(const Text& key, const Text& name, uint32_t number) {
  SetBytes(key, name, LittleEndian(number));
}

void SimMachineInfo::SetText(const Text& key, const Text& name, const Text& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bytes.append(2, '\0');
  SetBytes(key, name, bytes);
}

void SimMachineInfo::SetBytes(const Text& key, const Text& name, const std::string& bytes) {
  registry_[Lower(key)][Lower(name)] = bytes;
}

void SimMachineInfo::DeleteValue(const Text& key, const Text& name) {
  auto k = registry_.find(Lower(key));
  if (k != registry_.end()) k->second.erase(Lower(name));
}

void SimMachineInfo::DeleteKey(const Text& key) {
  const std::string lower = Lower(key);
  for (auto it = registry_.begin(); it != registry_.end();) {
    if (it->first == lower || it->first.rfind(lower + "\\", 0) == 0) {
      it = registry_.erase(it);
    } else {
      ++it;
    }
  }
}

void SimMachineInfo::ClearRegistry() { registry_.clear(); }

void SimMachineInfo::InstallDotNet48() {
  for (const char16_t* profile : {u"Client", u"Full"}) {
    Text key = Text(u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\") + profile;
    SetNumber(key, u"Install", 1);
    SetNumber(key, u"Servicing", 0);
    SetText(key, u"Version", u"4.8.04084");
    SetNumber(key, u"Release", 528049);
  }
}

std::string SimMachineInfo::FixedFileInfo(uint16_t major, uint16_t minor, uint32_t signature) {
  std::string block(kFixedFileInfoSize, '\0');
  block.replace(0, 4, LittleEndian(signature));
  block.replace(4, 4, LittleEndian(0x00010000));  // structure version 1.0
  block.replace(8, 4, LittleEndian((static_cast<uint32_t>(major) << 16) | minor));
  return block;
}

}  // namespace carryall::sim
