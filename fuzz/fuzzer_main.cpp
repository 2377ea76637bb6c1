// libFuzzer's entry for one target, chosen when this file is compiled
// (CARRYALL_FUZZ_TARGET names its function).
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz.h"

namespace carryall::fuzz {

void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace carryall::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return carryall::fuzz::CARRYALL_FUZZ_TARGET(data, size);
}
