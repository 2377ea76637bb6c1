// Portable layer. Events, threads, the message queue, the clock and unique ids.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/fallible.h"
#include "base/text.h"

namespace carryall {

using EventHandle = void*;

// One queued window message, as PeekMessageW returns it.
struct Message {
  void* window = nullptr;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  uint32_t time = 0;
  int32_t x = 0;
  int32_t y = 0;
};

constexpr uint32_t kWmQuit = 0x12;

class ISystem {
 public:
  virtual ~ISystem() = default;
  virtual uint32_t GetTickCount() = 0;
  // Sleep: the calling thread waits, pumping nothing.
  virtual void Sleep(uint32_t ms) = 0;
  // The whole process command line, program name included (GetCommandLineW).
  virtual Text GetCommandLine() = 0;
  // CoCreateGuid.
  virtual Fallible<std::array<uint8_t, 16>> CreateGuid() = 0;
};

class IThreads {
 public:
  virtual ~IThreads() = default;
  // A manual-reset, non-signalled, unnamed event without security attributes. It lives
  // until the process ends.
  virtual Fallible<EventHandle> CreateManualResetEvent() = 0;
  virtual void SetEvent(EventHandle event) = 0;
  virtual void ResetEvent(EventHandle event) = 0;
  // Starts a thread of normal priority and default stack size; the thread object is not
  // kept.
  virtual Status StartThread(std::function<void()> body) = 0;
  // MsgWaitForMultipleObjects(count, handles, wait-all FALSE, INFINITE, QS_ALLINPUT):
  // the index of a signalled handle (the lowest when several are), count when a message
  // arrived. Any other answer of the system is a failure.
  virtual Fallible<uint32_t> WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) = 0;
  // WaitForSingleObject(event, INFINITE), pumping no messages: succeeds once the event is
  // signalled.
  virtual Status WaitForEvent(EventHandle event) = 0;
  // PeekMessageW with PM_REMOVE on the calling thread's queue; false when it is empty.
  virtual bool PeekMessage(Message& message) = 0;
  virtual void DispatchMessage(const Message& message) = 0;
  // Posts an empty message (WM_NULL) to the thread that made this object, so that its
  // wait wakes up and looks at shared state again.
  virtual void WakeMainThread() = 0;
  // CoInitialize and CoUninitialize on the calling thread: each thread does its own.
  virtual void ComInitialize() = 0;
  virtual void ComUninitialize() = 0;
};

}  // namespace carryall
