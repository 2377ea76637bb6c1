// Portable layer. The private temporary folder: a GUID-named folder below the base
// folder, fixed on first use and opened to everyone for reading and running, so the
// wizard and what it starts can use it. It must be a real folder: the bootstrapper
// never creates, writes or deletes anything through a link (a junction or symbolic
// link) at its place or below it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "payload/own_files.h"
#include "base/log.h"
#include "platform/platform.h"

namespace carryall {

// Process-wide state of the temporary folder, held by the application object.
struct TempFolderState {
  Text base;            // set by every SetTempFolder
  Text private_folder;  // empty until the first GetTempFolder, then fixed
  bool zero_guid = false;
  OwnFiles own;  // what the run made in the private folder, and the holds on it
};

// What the payload's steps use: the platform services they call, the log, and the
// private folder's process-wide state, which the application object owns.
struct PayloadContext {
  IFileSystem& files;
  IEnvironment& environment;  // the executable's own path, for its information block
  ISecurity& security;        // the private folder's access list
  ISystem& system;            // the GUID of the private folder's name
  ICodePage& code_page;
  Log& log;
  TempFolderState& folder;
};

// What Everyone may do in the private folder and below it: FILE_GENERIC_READ |
// FILE_GENERIC_EXECUTE (GENERIC_READ | GENERIC_EXECUTE mapped for files), not write:
// in a shared base folder anyone could otherwise replace the wizard before it starts.
constexpr uint32_t kEveryoneAccess = 0x1200A9;

// StringFromGUID2's form: braces, upper-case hexadecimal, 38 characters.
Text FormatGuid(const std::array<uint8_t, 16>& guid);

// Records base, creates its last level and proves a file can be made in it. When the
// private folder's name is known already (the zero-GUID flag), something other than a
// real folder at its place (a link, say) fails it too; a device ("\\.\CON") fails
// untouched. 0, or 0x80004005 with "SetTempFolder has failed".
int32_t SetTempFolder(PayloadContext& ctx, const Text& base);

// The private folder's path; the first call names, creates and opens it, and takes note
// of it in the state's OwnFiles. When something other than a real folder stands at its
// place (a link planted there), it logs "GetTempFolder has failed", leaves its access
// list alone and still answers the path: every file written below it is then refused,
// and nothing below it is deleted.
Text GetTempFolder(PayloadContext& ctx);

// Sets the zero-GUID flag; it names the folder only when no folder is named yet.
void SetZeroGuid(PayloadContext& ctx);

// SHCreateDirectoryExW; true when it answered 0.
bool CreateFolder(PayloadContext& ctx, const Text& path);

// True when path exists as a folder that is not a link.
bool IsRealFolder(IFileSystem& files, const Text& path);

// True when no link (reparse point) stands at folder's place or at any entry between
// folder and path, and, with including_path, at path's own place (a file created
// there would land in the link's target; a file deleted there is the link itself).
// The walk stops at the first entry that does not exist: nothing exists below it.
// False too when path does not lie below folder.
bool IsLinkFree(IFileSystem& files, const Text& folder, const Text& path, bool including_path);

// What the prompt for another base folder uses.
struct BaseFolderPrompt {
  IUserInterface& ui;
  IThreads& threads;  // wakes the main thread, which hides the splash meanwhile
  IFileSystem& files;
  Log& log;
  bool silent;
  Text caption;  // the product name
  std::atomic<int32_t>& splash_hide_count;
};

// Asks the user for another base folder (never in a silent run). 0 when the user
// confirmed a text, now in base, made absolute (a drive alone is its root); 0x80004005
// otherwise.
int32_t AskForBaseFolder(const BaseFolderPrompt& prompt, Text& base);

}  // namespace carryall
