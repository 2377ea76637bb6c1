// Portable layer. Patience with programs that hold a file for a moment.
#include "platform/patience.h"

#include <algorithm>

namespace carryall {

bool IsHeldError(uint32_t error, bool access_denied_counts) {
  return error == kErrorSharingViolation || error == kErrorLockViolation ||
         (access_denied_counts && error == kErrorAccessDenied);
}

bool Patience::TryAgain(const Text& path, uint32_t error, bool access_denied_counts) {
  return IsHeldError(error, access_denied_counts) && Wait(path, error);
}

bool Patience::Wait(const Text& path, uint32_t error) {
  if (left_ms_ == 0) return false;
  const uint32_t wait = std::min(next_ms_, left_ms_);
  // Only a sharing or lock violation says for sure that another program holds the file;
  // access denied (a running image, or rights) is told as what it is.
  if (IsHeldError(error, /*access_denied_counts=*/false)) {
    log_.Printf(u"%s is held by another program (error %u): trying again in %u ms\n", path, error, wait);
  } else {
    log_.Printf(u"%s is refused for now (error %u): trying again in %u ms\n", path, error, wait);
  }
  system_.Sleep(wait);
  left_ms_ -= wait;
  next_ms_ = std::min(next_ms_ * 2, kLongestWaitMs);
  return true;
}

}  // namespace carryall
