// Portable layer. Information appended to the executable after the marker "MRDC",
// handed to the wizard as "info.xml".
#include <cstring>
#include <vector>

#include "base/path.h"
#include "base/result_codes.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"

namespace carryall {

namespace {
constexpr std::size_t kInfoPathBuffer = 520;
constexpr uint32_t kLastCandidate = kInfoWindowSize - 5;  // 4111

// Creates the information file at output_path for this run alone: never through a link
// at the private folder's place or at the file's own, nor through a second name of
// someone else's file. The wizard takes whatever stands at this name for this
// executable's information, so a file the run could not write there fails the run, as a
// payload file does: null then, with the refusal logged.
std::unique_ptr<IFileHandle> CreateInfoFile(PayloadContext& ctx, Patience& patience, const Text& output_path) {
  std::unique_ptr<IFileHandle> out;
  uint32_t error = 0;
  OwnFiles::Refusal refusal = OwnFiles::Refusal::kLink;
  if (IsLinkFree(ctx.files, PathRemoveFileSpec(output_path), output_path, /*including_path=*/true)) {
    refusal = OwnFiles::Refusal::kNone;
    out = ctx.folder.own.Create(ctx.files, patience, output_path, error, refusal);
  } else {
    error = kErrorStoppedOnLink;
  }
  if (out) return out;
  ctx.log.Printf(u"Failed to create temp file %s %ld\r\n", output_path, static_cast<int32_t>(error));
  switch (refusal) {
    case OwnFiles::Refusal::kLink:
      ctx.log.Printf(u"%s is a link: nothing is written through it\r\n", output_path);
      break;
    case OwnFiles::Refusal::kNames:
      ctx.log.Printf(u"%s has other names: nothing is written through it\r\n", output_path);
      break;
    case OwnFiles::Refusal::kNone:
      break;
  }
  return nullptr;
}
}  // namespace

std::optional<EmbeddedInformation> FindEmbeddedInformation(const uint8_t* window, uint32_t size) {
  if (size != kInfoWindowSize) return std::nullopt;
  uint32_t counter = 0;
  for (uint32_t pos = kLastCandidate; pos > 0; --pos, ++counter) {
    if (std::memcmp(window + pos, "MRDC", 4) != 0) continue;
    // The window ends one byte before the file's end; the information stops six bytes
    // before it.
    if (counter <= 4) return std::nullopt;
    return EmbeddedInformation{pos + 4, counter - 4};
  }
  return std::nullopt;
}

int32_t WriteInfoFile(PayloadContext& ctx) {
  Text folder = GetTempFolder(ctx);
  std::optional<Text> path = PathAppend(folder, u"info.xml", std::min(kInfoPathBuffer, kMaxPath));
  if (!path) return 0;  // no room for the name: nothing is written
  return WriteEmbeddedInformation(ctx, *path);
}

int32_t WriteEmbeddedInformation(PayloadContext& ctx, const Text& output_path) {
  IFileSystem& files = ctx.files;
  const Text own_path = ctx.environment.GetModuleFileName().value_or(Text());
  Fallible<std::unique_ptr<IReadFile>> opened = files.OpenRead(own_path);
  ctx.log.Write(u"Scanning for Signature\r\n");
  if (!opened) {
    ctx.log.Printf(u"Failed to open installer file %s %x\r\n", own_path, opened.error());
    return 0;
  }
  std::unique_ptr<IReadFile> exe = *std::move(opened);
  // A file without a block says so: a tag that a later signing step dropped, or one put
  // where the scan never looks, is then visible in the log.
  auto none = [&ctx]() {
    ctx.log.Write(u"No embedded information found\r\n");
    return 0;
  };
  Fallible<uint32_t> size = exe->Size();
  if (!size || *size == 0xFFFFFFFFu || *size <= kInfoWindowSize) return none();
  if (!exe->SeekFromEnd(-static_cast<int32_t>(kInfoWindowSize + 1))) return none();
  std::vector<uint8_t> window(kInfoWindowSize, 0);
  Fallible<uint32_t> got = exe->Read(window.data(), kInfoWindowSize);
  if (!got || *got < kInfoWindowSize) return none();

  std::optional<EmbeddedInformation> info = FindEmbeddedInformation(window.data(), kInfoWindowSize);
  if (!info) return none();
  const uint8_t* bytes = window.data() + info->offset;
  std::string text(reinterpret_cast<const char*>(bytes), info->length);
  text = text.substr(0, text.find('\0'));
  ctx.log.Printf(u"Found embedded information '%s'\r\n", ctx.code_page.FromAnsi(text));

  OwnFiles& own = ctx.folder.own;
  Patience patience(ctx.system, ctx.log);
  std::unique_ptr<IFileHandle> out = CreateInfoFile(ctx, patience, output_path);
  if (!out) return kFail;
  Fallible<uint32_t> written = out->WriteOnce(bytes, info->length);
  const bool whole = written && *written == info->length;
  out.reset();
  if (whole) {
    ctx.log.Printf(u"Written out embedded information %ld bytes to file %s\r\n", static_cast<int32_t>(info->length),
                   output_path);
  } else {
    ctx.log.Printf(u"Write fail for embedded information %ld bytes to file %s\r\n", static_cast<int32_t>(info->length),
                   output_path);
  }
  // The wizard reads it as the information of this very executable.
  if (!own.Hold(files, patience, output_path)) {
    ctx.log.Printf(u"%s changed before it could be held\r\n", output_path);
    return kFail;
  }
  return 0;
}

}  // namespace carryall
