// Portable layer. Making a path value absolute.
#include "platform/full_path.h"

#include "base/path.h"

namespace carryall {

std::optional<Text> MakeAbsolute(IFileSystem& files, const Text& value) {
  Fallible<Text> full = files.GetFullPathName(value.empty() ? Text(u".") : value);
  if (!full || full->empty() || full->size() > kMaxPath) return std::nullopt;
  return *std::move(full);
}

}  // namespace carryall
