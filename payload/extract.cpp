// Portable layer. Unpacking the payload into the private folder.
#include <algorithm>

#include "base/path.h"
#include "base/result_codes.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"

namespace carryall {

namespace {
constexpr std::size_t kFolderBuffer = 1024;
constexpr uint64_t kBytesPerMB = uint64_t{1024} * 1024;
// The most one write of a payload file asks for: larger writes from the mapped image cost
// several times as much per byte under Wine, and these cost no more than CopyFileW's own
// (README, Benchmark, has the figures).
constexpr uint32_t kWriteChunk = 256 * 1024;
}  // namespace

int32_t ExtractResources(PayloadContext& ctx, IResources* module, bool zero_guid, ResourceTable& table,
                         Text& program_path) {
  int32_t status = kOk;
  const Text type = kPayloadType;
  const Status enumerated = module->EnumResourceNames(
      type, [&](const IResources::Name& name) { EnumResourceProc(ctx, table, module, type, name); });
  if (enumerated) {
    ctx.log.Write(u"Enumerate Resources OK \n");
  } else {
    ctx.log.Write(u"Enumerate Resources has failed\n");
    status = kFail;
  }
  if (status != kOk) return status;
  if (zero_guid) SetZeroGuid(ctx);
  status = WorkOutFileNames(ctx, table, program_path);
  if (status != kOk) return status;
  return ExtractFiles(ctx, table);
}

int32_t ExtractFiles(PayloadContext& ctx, ResourceTable& table) {
  int32_t status = kOk;
  // One budget of waiting for the whole payload: a scanner that holds every file for a
  // long time costs a few seconds, not a few seconds a file.
  Patience patience(ctx.system, ctx.log);
  for (auto it = table.begin(); it != table.end() && status == kOk; ++it) {
    const CResource* record = it->get();
    if (record->m_strFileName.empty()) continue;
    status = record->ExtractFile(ctx, patience);
    ctx.log.Printf(u"Extract File %s %x\n", record->m_strFileName, status);
  }
  return status;
}

int64_t PayloadMegabytes(const ResourceTable& table) {
  uint64_t payload = 0;
  for (const auto& record : table) {
    if (!record->m_strFileName.empty()) payload += record->m_dwSize;
  }
  return static_cast<int64_t>((payload + kBytesPerMB - 1) / kBytesPerMB);
}

namespace {

// Checks the way to path and makes the folders missing on it. False, with the line
// logged, when nothing may be written there.
bool PrepareThePlace(PayloadContext& ctx, const Text& path) {
  IFileSystem& files = ctx.files;
  const Text private_folder = GetTempFolder(ctx);
  // Checked before any folder on the way is made: a link on the way, or at the file's
  // own place, would take the folders and the bytes to its target. The private folder is
  // made and opened to everyone once, when it is named; one that is missing now was
  // never opened, and made here it would keep the base's access.
  if (!IsLinkFree(files, private_folder, path, /*including_path=*/true) || !IsRealFolder(files, private_folder)) {
    ctx.log.Printf(u"%s Create file has failed\n", path);
    return false;
  }
  // Each missing folder on the way is made one level at a time, so that the run knows
  // which ones are its own.
  Text folder = PathRemoveFileSpec(path);
  if (folder.size() >= kFolderBuffer) return true;
  for (std::size_t at = folder.find_first_of(u"\\/", private_folder.size() + 1);;
       at = folder.find_first_of(u"\\/", at + 1)) {
    const Text level = folder.substr(0, at);
    if (level.size() > private_folder.size() && !files.GetFileAttributes(level) && files.CreateDirectory(level)) {
      ctx.folder.own.NoteMadeFolder(files, level);
    }
    if (at == Text::npos) return true;
  }
}

// The line of a write that came short of size after written bytes, or failed with
// error (0: it reported success with fewer bytes). The full disk's code or 0x80004005.
int32_t TellFailedWrite(Log& log, const Text& path, uint32_t written, uint32_t size, uint32_t error) {
  // A full disk shows as one of the system's disk-full errors, or as a write that
  // succeeds with fewer bytes written; it is told as such, never as a broken build.
  if (error == 0) {
    log.Printf(u"%s Write file has failed: %u of %u bytes written, the disk is full\n", path, written, size);
    return kDiskFullOnWrite;
  }
  if (error == kErrorDiskFull || error == kErrorHandleDiskFull) {
    log.Printf(u"%s Write file has failed, error %u: the disk is full\n", path, error);
    return kDiskFullOnWrite;
  }
  log.Printf(u"%s Write file has failed, error %u\n", path, error);
  return kFail;
}

// Writes the resource's bytes straight from its memory (the mapped image whose signature
// was verified: nothing is copied, nothing else is read) in writes of at most
// kWriteChunk bytes, and at least one write, so an empty file is written as before. The
// first write that fails or comes short ends it. 0, the full disk's code or 0x80004005,
// with the line logged.
int32_t WriteWhole(Log& log, IFileHandle& file, const Text& path, const uint8_t* data, uint32_t size) {
  uint32_t written = 0;
  do {
    const uint32_t asked = std::min(size - written, kWriteChunk);
    const Fallible<uint32_t> result = file.WriteOnce(data + written, asked);
    if (!result) return TellFailedWrite(log, path, written, size, result.error());
    written += std::min(*result, asked);
    if (*result < asked) return TellFailedWrite(log, path, written, size, 0);
  } while (written < size);
  return kOk;
}

}  // namespace

int32_t CResource::ExtractFile(PayloadContext& ctx, Patience& patience) const {
  Log& log = ctx.log;
  const std::optional<IResources::Bytes> locked = Lock(log, u"");
  if (!locked) return kFail;
  Text path;
  if (!GetFilePath(ctx, path)) {
    // The name would leave the private folder, or the joined path does not fit: the
    // file is never written anywhere.
    log.Printf(u"%s Create file has failed\n", GetTempFolder(ctx) + u"\\" + m_strFileName);
    return kFail;
  }
  if (!PrepareThePlace(ctx, path)) return kFail;

  OwnFiles& own = ctx.folder.own;
  uint32_t error = 0;
  OwnFiles::Refusal refusal = OwnFiles::Refusal::kNone;
  std::unique_ptr<IFileHandle> file = own.Create(ctx.files, patience, path, error, refusal);
  if (!file) {
    switch (refusal) {
      case OwnFiles::Refusal::kLink:
        log.Printf(u"%s is a link: nothing is written through it\n", path);
        break;
      case OwnFiles::Refusal::kNames:
        log.Printf(u"%s has other names: nothing is written through it\n", path);
        break;
      case OwnFiles::Refusal::kNone:
        log.Printf(u"%s Create file has failed\n", path);
        break;
    }
    return kFail;
  }
  if (int32_t written = WriteWhole(log, *file, path, locked->data, locked->size); written != kOk) return written;
  file.reset();
  // Held from here until clean-up: a second run, or a cleaner, cannot take it away.
  if (!own.Hold(ctx.files, patience, path)) {
    log.Printf(u"%s changed before it could be held\n", path);
    return kFail;
  }
  if (locked->size != m_dwSize) {
    log.Printf(u"%s Write file has failed\n", path);
    return kFileSizeMismatch;
  }
  log.Printf(u"%s written Ok\n", path);
  return kOk;
}

}  // namespace carryall
