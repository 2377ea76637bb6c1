// Simulated Windows for the host tests: GUIDs, threads, events and the message queue.
#include "platform/sim/sim_platform.h"

#include <algorithm>

namespace carryall::sim {

Fallible<std::array<uint8_t, 16>> SimSystem::CreateGuid() {
  if (Injected(faults, "ISystem::CreateGuid")) return Failed(kErrorNotEnoughMemory);
  ++guids_made;
  std::array<uint8_t, 16> guid{};
  guid[0] = static_cast<uint8_t>(guids_made);
  guid[1] = guid[2] = guid[3] = 0xA0;
  return guid;
}

SimThreads::~SimThreads() {
  pending_.clear();  // a body left unrun would reach objects that are gone by now
  JoinAll();
}

void SimThreads::RunPendingBodies() {
  // A body may start another thread; it runs in its turn.
  while (!pending_.empty()) {
    std::function<void()> body = std::move(pending_.front());
    pending_.erase(pending_.begin());
    body();
  }
}

void SimThreads::JoinAll() {
  RunPendingBodies();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

Fallible<EventHandle> SimThreads::CreateManualResetEvent() {
  if (Injected(faults, "IThreads::CreateManualResetEvent")) return Failed(kErrorNotEnoughMemory);
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::make_unique<Event>());
  return EventHandle{events_.back().get()};
}

void SimThreads::SetEvent(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  static_cast<Event*>(event)->set = true;
  changed_.notify_all();
}

void SimThreads::ResetEvent(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  static_cast<Event*>(event)->set = false;
}

bool SimThreads::IsSet(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<Event*>(event)->set;
}

Status SimThreads::StartThread(std::function<void()> body) {
  if (Injected(faults, "IThreads::StartThread")) return Failed(kErrorNotEnoughMemory);
  ++started;
  if (run_threads_inline) {
    pending_.push_back(std::move(body));
    return Succeeded();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back(std::move(body));
  return Succeeded();
}

Fallible<uint32_t> SimThreads::WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) {
  if (before_wait) before_wait(waits);
  if (Injected(faults, "IThreads::WaitForEventsOrMessages")) {
    ++waits;
    return Failed(wait_error);  // WAIT_FAILED
  }
  ++waits;
  RunPendingBodies();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    for (uint32_t i = 0; i < count; ++i) {
      if (static_cast<Event*>(handles[i])->set) return i;
    }
    if (!queue_.empty()) return count;
    if (run_threads_inline) {
      ++hangs;
      return Failed(wait_error);
    }
    changed_.wait(lock);
  }
}

Status SimThreads::WaitForEvent(EventHandle event) {
  ++event_waits;
  if (Injected(faults, "IThreads::WaitForEvent")) return Failed(wait_error);
  RunPendingBodies();
  std::unique_lock<std::mutex> lock(mutex_);
  if (run_threads_inline && !static_cast<Event*>(event)->set) {
    ++hangs;
    return Failed(wait_error);
  }
  changed_.wait(lock, [&] { return static_cast<Event*>(event)->set; });
  return Succeeded();
}

bool SimThreads::PeekMessage(Message& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return false;
  message = queue_.front();
  queue_.pop_front();
  return true;
}

void SimThreads::DispatchMessage(const Message& message) { dispatched.push_back(message.message); }

void SimThreads::Post(uint32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  Message m;
  m.message = message;
  queue_.push_back(m);
  changed_.notify_all();
}

}  // namespace carryall::sim
