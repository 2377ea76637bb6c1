// Fuzz targets: reading the input.
#include <cstring>

#include "fuzz/fuzz.h"

namespace carryall::fuzz {

double Input::Double() {
  const uint64_t bits = U64();
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string Input::Bytes(std::size_t max) {
  std::size_t count = Byte();
  if (count > max) count = max;
  std::string out;
  while (out.size() < count && !empty()) out.push_back(static_cast<char>(Byte()));
  return out;
}

std::string Input::Rest() {
  std::string out(reinterpret_cast<const char*>(data_ + at_), empty() ? 0 : size_ - at_);
  at_ = size_;
  return out;
}

Text Input::Decode(std::size_t count) {
  Text out;
  while (out.size() < count && !empty()) {
    const uint8_t byte = Byte();
    out.push_back(byte == 0xFF ? static_cast<char16_t>(U16()) : static_cast<char16_t>(byte));
  }
  return out;
}

Text Input::Units(std::size_t max) {
  std::size_t count = Byte();
  return Decode(count > max ? max : count);
}

Text Input::RestAsUnits() { return Decode(size_); }

}  // namespace carryall::fuzz
