// Simulated Windows for the host tests: fault injection across a whole run. Every
// simulated call that its interface says can fail (a null handle, false, an error code,
// a short write, nullopt) is counted in the order the run makes it, under the name of
// its call site; the call a test picks fails the way its interface documents. Calls
// that cannot fail (GetTickCount, SetEvent, a report shown) are not counted.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace carryall::sim {

class FaultPlan {
 public:
  // Counts a call of site ("IFileSystem::CreateNewFile"); true when it is the one to
  // fail, and for every call once the run has made more than limit calls.
  bool Fail(const char* site) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t index = sites.size();
    if (index >= limit) {
      // A run that goes on calling has lost its way in a loop; failing everything from
      // here on lets it end, and the harness reports it as a hang.
      ran_away = true;
      return true;
    }
    sites.push_back(site);
    return static_cast<long>(index) == fail_at;
  }

  long fail_at = -1;               // the call to fail, counted from 0; -1 fails none
  std::size_t limit = 1 << 20;     // calls a run may make before it counts as running away
  std::vector<const char*> sites;  // every counted call's site, in order (reserve limit
                                   // entries to keep the counting free of allocations)
  bool ran_away = false;

 private:
  std::mutex mutex_;
};

// True when plan (if any) fails this call of site.
inline bool Injected(FaultPlan* plan, const char* site) { return plan && plan->Fail(site); }

}  // namespace carryall::sim
