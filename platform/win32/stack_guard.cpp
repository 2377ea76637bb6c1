// Win32 layer. The stack protector's guard value and its failure handler, in place of
// libssp's. libssp seeds the guard before main through CryptAcquireContext, which loads a
// cryptographic provider (rsaenh.dll, named without a path in the registry) and its
// dependencies before wWinMain can restrict the DLL search: exactly the load from the
// program's folder that the bootstrapper must never make. The seed here mixes what the
// process can read without loading anything, as the Visual C++ run time does for its own
// security cookie: the time, the ids, the tick and performance counters and the stack's
// address (ASLR moves it).
#include <windows.h>

#include <cstdint>

extern "C" {

// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's stack protector reads this name
uintptr_t __stack_chk_guard = 0x2F6B8A00u;  // until the constructor below runs

// Runs before any other constructor (priority 101, the first an application may use),
// while no function that checks the guard can be on the stack; it checks none itself.
__attribute__((constructor(101), no_stack_protector)) static void SeedStackGuard() {
  FILETIME time = {};
  ::GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter = {};
  ::QueryPerformanceCounter(&counter);
  uintptr_t seed = time.dwLowDateTime ^ time.dwHighDateTime;
  seed ^= ::GetCurrentProcessId() << 16;
  seed ^= ::GetCurrentThreadId();
  seed ^= ::GetTickCount() << 8;
  seed ^= counter.LowPart ^ counter.HighPart;
  seed ^= reinterpret_cast<uintptr_t>(&seed);
  // A zero byte at the bottom stops a string copy that overruns a buffer from writing the
  // guard back unchanged.
  seed &= ~uintptr_t{0xFF};
  if (seed != 0) __stack_chk_guard = seed;
}

// A changed guard means the stack was overwritten: nothing of the process can be trusted,
// so it ends at once, with no unwinding and no clean-up that could run attacker data.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's stack protector calls this name
__attribute__((noreturn)) void __stack_chk_fail() {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  __builtin_unreachable();
}

}  // extern "C"
