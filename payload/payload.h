// Portable layer. Unpacking the payload, the embedded information file and removal of
// the private folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "payload/resource_table.h"

namespace carryall {

// Fills the table from the module's "TOOLKIT" resources, names the records and writes
// every named one into the private folder. 0, 0x80004005, 0x80040167 or 0x80070070.
int32_t ExtractResources(PayloadContext& ctx, IResources* module, bool zero_guid, ResourceTable& table,
                         Text& program_path);

// Writes the named records in table order until one fails; that one's status, or 0.
int32_t ExtractFiles(PayloadContext& ctx, ResourceTable& table);

// The size of the named records in MiB, rounded up: what a full disk must have room for.
int64_t PayloadMegabytes(const ResourceTable& table);

// Writes information appended to the executable as "info.xml" in the private folder,
// and holds it for the wizard. 0, also when there is no information or the executable
// cannot be read; 0x80004005 when a file could not be written and held at that name (an
// entry there that is a link or has other names is refused, with its line logged).
int32_t WriteInfoFile(PayloadContext& ctx);
int32_t WriteEmbeddedInformation(PayloadContext& ctx, const Text& output_path);

// Deletes the files of table that this run wrote, then the private folder when it is
// empty. Always 0.
int32_t RemovePrivateFolder(PayloadContext& ctx, const ResourceTable& table);

// The tail window of an executable that is scanned for the marker "MRDC".
constexpr uint32_t kInfoWindowSize = 4116;

struct EmbeddedInformation {
  uint32_t offset = 0;  // in the window, where the information starts
  uint32_t length = 0;
};

// Searches the window backwards for the marker; the information runs from after the
// marker to six bytes before the end of the file. nullopt without a marker, or when
// the marker nearest the end leaves no information.
std::optional<EmbeddedInformation> FindEmbeddedInformation(const uint8_t* window, uint32_t size);

// Deletes a folder's contents depth first, then the folder, each entry through its own
// handle and only when this run may delete it (OwnFiles::MayDelete); every entry kept
// gets a "Kept" line. A link at the folder's place or inside it is never followed: at
// most the link itself goes. Always false.
bool DeleteFolder(PayloadContext& ctx, const Text& folder);

}  // namespace carryall
