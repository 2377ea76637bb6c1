// Portable layer. Patience with other programs that hold a file for a moment: an
// antivirus scanner opens each freshly written file, a cleaner or a debugger may keep
// one open. A step that fails because the file is held is tried again after a wait that
// doubles each time, through the platform's clock, until the budget of waiting is spent.
#pragma once

#include <cstdint>

#include "base/log.h"
#include "platform/platform.h"

namespace carryall {

// Whether error says the file is held. A deletion or a start is also refused with
// access denied while another program has the file open in certain ways (a running
// image, a file already marked for deletion); a write refused so is a matter of rights.
bool IsHeldError(uint32_t error, bool access_denied_counts);

class Patience {
 public:
  // budget_ms: the most this object waits in all, over every step it is asked about.
  Patience(ISystem& system, Log& log, uint32_t budget_ms = kDefaultBudgetMs)
      : system_(system),
        log_(log),
        left_ms_(budget_ms) {}

  // After a step on path failed with error: true when it is worth trying again, having
  // logged the reason and waited; false, at once, when the error is not a hold or the
  // budget is spent.
  bool TryAgain(const Text& path, uint32_t error, bool access_denied_counts);
  // Waits (logged, error being what the last try met) while the budget lasts, whatever
  // the error: for a step that only other programs' handles can hold up.
  bool Wait(const Text& path, uint32_t error);
  bool spent() const { return left_ms_ == 0; }
  // Makes call (a platform call answering a Fallible) and makes it again while its
  // failure says the file at path is held and the budget lasts; the last answer.
  template <typename Call>
  auto Retry(const Text& path, bool access_denied_counts, Call call) -> decltype(call()) {
    auto answer = call();
    while (!answer && TryAgain(path, answer.error(), access_denied_counts)) answer = call();
    return answer;
  }

  static constexpr uint32_t kDefaultBudgetMs = 5000;
  static constexpr uint32_t kFirstWaitMs = 100;
  static constexpr uint32_t kLongestWaitMs = 1000;

 private:
  ISystem& system_;
  Log& log_;
  uint32_t left_ms_;
  uint32_t next_ms_ = kFirstWaitMs;
};

}  // namespace carryall
