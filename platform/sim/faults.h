// Simulated Windows for the host tests: fault injection across a whole run. Every
// simulated call that its interface says can fail (a Fallible answer, or a write that
// can come up short) is counted in the order the run makes it, under the name of
// its call site; the call a test picks fails the way its interface documents. Calls
// that cannot fail (GetTickCount, SetEvent, a report shown) are not counted. The one
// mechanism serves both the sweep (fail_at) and a test that wants one call site to fail
// always (Always) or from its Nth call on (From).
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
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
    if (static_cast<long>(index) == fail_at) return true;
    if (from_.empty()) return false;  // the sweep allocates nothing while it counts
    auto rule = from_.find(site);
    if (rule == from_.end()) return false;
    return calls_[site]++ >= rule->second;
  }

  // Every call of site fails.
  void Always(const char* site) { From(site, 0); }
  // The call of site with this number (counted from 0) and every later one fail.
  void From(const char* site, long number) {
    std::lock_guard<std::mutex> lock(mutex_);
    from_[site] = number;
  }

  // No call site fails any more.
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    from_.clear();
    calls_.clear();
  }

  long fail_at = -1;               // the call to fail, counted from 0; -1 fails none
  std::size_t limit = 1 << 20;     // calls a run may make before it counts as running away
  std::vector<const char*> sites;  // every counted call's site, in order (reserve limit
                                   // entries to keep the counting free of allocations)
  bool ran_away = false;

 private:
  std::mutex mutex_;
  std::map<std::string, long> from_;   // site -> the first of its calls that fails
  std::map<std::string, long> calls_;  // site -> its calls so far, for the rules of from_
};

// True when plan (if any) fails this call of site.
inline bool Injected(FaultPlan* plan, const char* site) { return plan && plan->Fail(site); }

}  // namespace carryall::sim
