// Fuzz target: the payload manifest and the resource table, with extraction and removal
// over the simulated file system. The input is a manifest, the "TOOLKIT" resources
// beside it, and whether the private folder is named in advance (zero GUID), holds a
// link planted by someone else, or is kept. Whatever the names say, nothing outside
// the private folder may change, and removal leaves nothing of a folder it can walk.
#include <map>

#include "app/carryall_app.h"
#include "fuzz/fuzz.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"
#include "platform/sim/sim_platform.h"

namespace carryall::fuzz {

namespace {

constexpr char16_t kBase[] = u"C:\\Users\\me\\AppData\\Local\\Temp";
constexpr char16_t kPrecious[] = u"C:\\Users\\me\\Documents";
// Removal leaves alone an entry whose path does not fit its search buffer.
constexpr std::size_t kWalkablePath = 260;

using Tree = std::map<std::string, sim::SimFileSystem::Node>;

bool Below(const std::string& key, const std::string& folder) {
  return key == folder || key.rfind(folder + "\\", 0) == 0;
}

// Every entry outside folder is as it was.
bool SameOutside(const Tree& before, const Tree& after, const std::string& folder) {
  auto same = [](const sim::SimFileSystem::Node& a, const sim::SimFileSystem::Node& b) {
    return a.directory == b.directory && a.bytes == b.bytes && a.attributes == b.attributes &&
           a.link_target == b.link_target;
  };
  for (const auto& [key, node] : before) {
    if (Below(key, folder)) continue;
    auto now = after.find(key);
    if (now == after.end() || !same(node, now->second)) return false;
  }
  for (const auto& [key, node] : after) {
    if (!Below(key, folder) && !before.count(key)) return false;
  }
  return true;
}

}  // namespace

int Payload(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const uint8_t flags = input.Byte();
  const bool zero_guid = flags & 1;
  const bool link_inside = zero_guid && (flags & 2);
  const bool link_at_folder = zero_guid && (flags & 4);
  const bool keep = flags & 8;
  const Text link_name = input.Units(16);

  sim::SimMachine machine;
  FileLog log(machine.files, machine.code_page);
  CCarryallInstallerApp app(machine.platform, log);
  machine.resources.Add(u"TOOLKIT", 101, input.Bytes());
  for (int count = input.Byte() % 8; count > 0; --count) {
    const uint32_t id = 100 + input.Byte() % 16;
    machine.resources.Add(u"TOOLKIT", id, input.Bytes(32));
  }
  machine.files.Put(Text(kPrecious) + u"\\precious.doc", "mine");
  const Text zero_folder = Text(kBase) + u"\\" + FormatGuid({});
  if (link_at_folder) {
    machine.files.MakeLink(zero_folder, kPrecious);
  } else if (link_inside && !link_name.empty()) {
    machine.files.MakeDirectories(zero_folder);
    machine.files.MakeLink(zero_folder + u"\\" + link_name, kPrecious);
  }
  const Tree before = machine.files.Tree();

  if (zero_guid) SetZeroGuid(app.payload());
  if (SetTempFolder(app.payload(), kBase) == 0) {
    Text program;
    ExtractResources(app.payload(), &machine.resources, zero_guid, app.m_resources, program);
    const std::string folder = sim::SimFileSystem::Key(GetTempFolder(app.payload()));
    FUZZ_CHECK(SameOutside(before, machine.files.Tree(), folder));
    if (!program.empty()) FUZZ_CHECK(Below(sim::SimFileSystem::Key(program), folder));

    // As the worker does: the holds on the payload end with the wizard, kept or not.
    app.payload().folder.own.ReleaseHolds();
    if (!keep) {
      bool walkable = !link_inside && !link_at_folder;
      for (const auto& [key, node] : machine.files.Tree()) {
        if (Below(key, folder) && key.size() >= kWalkablePath) walkable = false;
      }
      app.RemoveTempFolder();
      FUZZ_CHECK(SameOutside(before, machine.files.Tree(), folder));
      if (walkable) FUZZ_CHECK(!machine.files.Exists(GetTempFolder(app.payload())));
    }
  }
  FUZZ_CHECK(machine.files.open_handles == 0);
  return 0;
}

}  // namespace carryall::fuzz
