// Portable layer. printf-style formatting of UTF-16 text with the conventions of the
// Windows C run-time's wide printf, so that the log and the messages read the same on
// every build: %s takes UTF-16 text, %d/%i/%ld a 32-bit signed value, %I64d a 64-bit
// one, %u/%x/%X/%o unsigned values, %c one UTF-16 unit, %p a pointer as eight upper-case
// hexadecimal digits, %e/%f/%g floating point, %% a percent sign. A %s argument ends
// at its first NUL, as a C string does. Flags - + space # 0,
// a width and a precision (also given as *) are understood.
//
// Arguments are typed values, not varargs: a missing argument prints nothing and a
// mismatched one is converted, so a wrong format never reads past the arguments.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "base/text.h"

namespace carryall {

class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kDouble, kText, kPointer };

  FormatArg(int v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(long v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(long long v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(double v) : kind_(Kind::kDouble), d_(v) {}
  FormatArg(const Text& v) : kind_(Kind::kText), s_(v) {}
  FormatArg(const char16_t* v) : kind_(Kind::kText), s_(v ? std::u16string_view(v) : u"(null)") {}
  FormatArg(std::u16string_view v) : kind_(Kind::kText), s_(v) {}
  FormatArg(const void* v) : kind_(Kind::kPointer), u_(reinterpret_cast<uintptr_t>(v)) {}

  Kind kind() const { return kind_; }
  long long AsSigned() const;
  unsigned long long AsUnsigned() const;
  double AsDouble() const;
  std::u16string_view AsText() const { return kind_ == Kind::kText ? s_ : std::u16string_view(); }

 private:
  Kind kind_;
  long long i_ = 0;
  unsigned long long u_ = 0;
  double d_ = 0;
  std::u16string_view s_;
};

// The arguments must outlive the call (they may refer to temporaries of the caller's
// full expression, which is always the case for the variadic form).
Text FormatList(std::u16string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
Text Format(std::u16string_view format, const Args&... args) {
  return FormatList(format, {FormatArg(args)...});
}

}  // namespace carryall
