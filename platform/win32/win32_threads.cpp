// Win32 layer. Threads, events, waits and the main thread's message queue.
#include "platform/win32/win32_platform.h"

#include <process.h>

#include <vector>

#include "platform/win32/handles.h"

namespace carryall::win32 {

Fallible<EventHandle> Win32Threads::CreateManualResetEvent() {
  HANDLE event = ::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE,
                                /*lpName=*/nullptr);
  if (!event) return LastError();
  return EventHandle{event};
}

namespace {
unsigned __stdcall ThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}
}  // namespace

Status Win32Threads::StartThread(std::function<void()> body) {
  auto heap_body = std::make_unique<std::function<void()>>(std::move(body));
  // Nobody waits for the thread: its handle is closed as this returns, which lets it run on.
  // NOLINTNEXTLINE(performance-no-int-to-ptr): _beginthreadex answers the thread's handle as an integer
  UniqueKernelHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(
      /*security=*/nullptr, /*stack_size=*/0, ThreadEntry, heap_body.get(), /*initflag=*/0, /*thrdaddr=*/nullptr)));
  if (!thread) return Failed(static_cast<uint32_t>(_doserrno));  // _beginthreadex keeps the system's error there
  static_cast<void>(heap_body.release());                        // the thread owns it now
  return Succeeded();
}

Fallible<uint32_t> Win32Threads::WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) {
  std::vector<HANDLE> list(handles, handles + count);
  DWORD result = ::MsgWaitForMultipleObjects(count, list.data(), /*fWaitAll=*/FALSE, INFINITE, QS_ALLINPUT);
  if (result == WAIT_FAILED) return LastError();
  // An abandoned wait cannot happen on events; the system names no error for one.
  if (result - WAIT_OBJECT_0 > count) return kNoReason;
  return static_cast<uint32_t>(result - WAIT_OBJECT_0);
}

Status Win32Threads::WaitForEvent(EventHandle event) {
  const DWORD result = ::WaitForSingleObject(event, INFINITE);
  if (result == WAIT_OBJECT_0) return Succeeded();
  return result == WAIT_FAILED ? LastError() : Failed(result);
}

bool Win32Threads::PeekMessage(Message& message) {
  MSG msg;
  if (!::PeekMessageW(&msg, /*hWnd=*/nullptr, 0, 0, PM_REMOVE)) return false;
  message.window = msg.hwnd;
  message.message = msg.message;
  message.wparam = msg.wParam;
  message.lparam = msg.lParam;
  message.time = msg.time;
  message.x = msg.pt.x;
  message.y = msg.pt.y;
  return true;
}

void Win32Threads::DispatchMessage(const Message& message) {
  MSG msg = {};
  msg.hwnd = static_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wparam;
  msg.lParam = message.lparam;
  msg.time = message.time;
  msg.pt.x = message.x;
  msg.pt.y = message.y;
  ::DispatchMessageW(&msg);
}

void Win32Threads::WakeMainThread() { ::PostThreadMessageW(main_thread_, WM_NULL, 0, 0); }

}  // namespace carryall::win32
