// Portable layer. The payload's resource table: one record per "TOOLKIT" resource of
// the bootstrapper's own module, named from the manifest (resource 101), and the choice
// of the program the bootstrapper starts.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>

#include "base/log.h"
#include "platform/patience.h"
#include "platform/platform.h"

namespace carryall {

struct PayloadContext;

constexpr uint32_t kManifestId = 101;
constexpr char16_t kPayloadType[] = u"TOOLKIT";

class CResource {
 public:
  CResource(uint32_t id, IResources* module, const Text& type) : m_dwId(id), m_strType(type), m_hModule(module) {}
  virtual ~CResource() = default;

  // The resource's bytes as text of the thread's ANSI code page. 0 or 0x80004005.
  int32_t ExtractSelf(PayloadContext& ctx, Text& text) const;
  // Lower-cases the file name in place (ASCII letters only) and answers whether ".exe"
  // occurs in it after its first character.
  bool IsExecutable();
  // The private temporary folder joined with the file name. False when the joined path
  // would not fit in a path buffer, the name would leave the folder or a component of
  // it names a device (IsReservedDeviceName).
  bool GetFilePath(PayloadContext& ctx, Text& path) const;
  // Writes the resource to its file. 0, 0x80004005, 0x80040167, or 0x80070070 when the
  // disk is full.
  // A file another program holds is waited for with patience.
  int32_t ExtractFile(PayloadContext& ctx, Patience& patience) const;
  // The resource's bytes, reached in the system's three steps (find, load, lock). nullopt
  // when a step fails, after logging prefix and the step's own line.
  std::optional<IResources::Bytes> Lock(Log& log, std::u16string_view prefix) const;

  uint32_t m_dwId;
  uint32_t m_dwSize = 0;
  Text m_strType;
  IResources* m_hModule;
  Text m_strFileName;
};

struct CResourceFile {
  uint32_t m_dwId = 0;
  uint32_t m_dwSize = 0;
  Text m_strFileName;
};

using ManifestMap = std::map<uint32_t, CResourceFile>;
// The records, owned by the table, newest at the head.
using ResourceTable = std::list<std::unique_ptr<CResource>>;

// Reads id*name*size triples separated by runs of '*' into the map (later ids replace
// earlier ones). Always 0.
int32_t ParseManifest(const Text& text, ManifestMap& map);

// The enumeration callback's work for one name: integer names become records at the
// head of the table; text names are skipped.
void EnumResourceProc(PayloadContext& ctx, ResourceTable& table, IResources* module, const Text& type,
                      const IResources::Name& name);

// Names the records from the manifest and sets program_path to the executable with the
// lowest id. 0, or 0x80004005 when the manifest cannot be loaded.
int32_t WorkOutFileNames(PayloadContext& ctx, ResourceTable& table, Text& program_path);

}  // namespace carryall
