// Portable layer. Shared text rules.
#include "base/text.h"

#include <climits>

namespace carryall {

namespace {
char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
}  // namespace

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

int32_t ReadDecimal(std::u16string_view field) {
  std::size_t i = 0;
  // iswspace: blank, tab, line feed, vertical tab, form feed, carriage return.
  while (i < field.size() && (field[i] == u' ' || (field[i] >= u'\t' && field[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) negative = field[i++] == u'-';
  long long value = 0;
  bool any = false;
  for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
    any = true;
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (field[i] - u'0');
  }
  if (!any) return 0;
  if (negative) return value > static_cast<long long>(INT_MAX) + 1 ? INT_MIN : static_cast<int32_t>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int32_t>(value);
}

}  // namespace carryall
