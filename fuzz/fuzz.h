// Fuzz targets of every parser of outside input. Each target is a plain function of the
// input bytes, built twice: with clang and libFuzzer into one fuzzer per target
// (fuzz/run.sh), and with g++ into the host tests, which replay every input kept in
// fuzz/corpus/<target>/ through it, so that a fault once found stays mended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace carryall::fuzz {

// Reports a property the code under test broke. The fuzzer build aborts, which makes
// the input a finding; the replay test records a failure and goes on.
void Fail(const char* file, int line, const char* what);

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::carryall::fuzz::Fail(__FILE__, __LINE__, #condition))

// Takes the input apart front to back. Every reader answers something when the bytes
// run out (zeros, empty text), so any input is a valid one.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  uint64_t U64() { return U32() | (static_cast<uint64_t>(U32()) << 32); }
  // Any double, infinities and NaNs included.
  double Double();
  // Up to max bytes, their count in the first byte.
  std::string Bytes(std::size_t max = 255);
  std::string Rest();
  // Text of up to max units, their count in the first byte. A byte is one unit (Latin-1)
  // except 0xFF, which takes the next two bytes as one unit of any value.
  Text Units(std::size_t max = 255);
  // All that is left, read as Units reads its units.
  Text RestAsUnits();

 private:
  Text Decode(std::size_t count);
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The targets; each answers 0, as libFuzzer wants.
int CommandLine(const uint8_t* data, std::size_t size);
int Formatter(const uint8_t* data, std::size_t size);
int Payload(const uint8_t* data, std::size_t size);
int EmbeddedInformation(const uint8_t* data, std::size_t size);
int DotNet(const uint8_t* data, std::size_t size);
int LogWriter(const uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // its folders: fuzz/corpus/<name>/ and the fuzzer fuzz_<name>
  int (*run)(const uint8_t* data, std::size_t size);
};
inline constexpr Target kTargets[] = {
    {"command_line", CommandLine},          {"format", Formatter}, {"payload", Payload},
    {"embedded_info", EmbeddedInformation}, {"dotnet", DotNet},    {"log", LogWriter},
};

}  // namespace carryall::fuzz
