// Portable layer. Text as the system hands it out, and the small text rules that every
// layer shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace carryall {

// UTF-16 text, as Windows hands it out.
using Text = std::u16string;

// Case-insensitive comparison of ASCII letters; other units compare exactly.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// wcstol with base 10: blanks skipped, an optional sign, digits up to the first
// non-digit; saturates at the 32-bit limits; no digits read as 0.
int32_t ReadDecimal(std::u16string_view field);

}  // namespace carryall
