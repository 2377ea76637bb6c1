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
int32_t ExtractResources(CCarryallInstallerApp& app, IResources* module, bool zero_guid, ResourceTable& table,
                         Text& program_path);

// Writes the named records in table order until one fails; that one's status, or 0.
// When the disk is full, m_nRequiredMB is raised to the payload's size if that is more.
int32_t ExtractFiles(CCarryallInstallerApp& app, ResourceTable& table);

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

// The information as the log shows it. It comes from outside the signature, so a
// control character (below 0x20, tab excepted) must not start a line of its own: CR
// and LF read "\r" and "\n", every other one "\xNN" (two upper-case hexadecimal
// digits). A backslash stays as it is, so text without control characters is shown
// unchanged; "\r" in the log may therefore also be the two characters themselves.
Text EscapeForLog(const Text& information);

// Deletes a folder's contents depth first, then the folder. A link at the folder's
// place or inside it is removed itself, never followed. Always false.
bool DeleteFolder(CCarryallInstallerApp& app, const Text& folder);

}  // namespace carryall
