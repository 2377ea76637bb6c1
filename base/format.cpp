// Portable layer. The one formatter of the log and the messages.
#include "base/format.h"

#include <climits>
#include <cstdio>
#include <functional>
#include <string>

namespace carryall {

namespace {

// 2^63 and 2^64, exactly representable: the first values past the integer ranges.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The double truncated towards zero, saturated at the limits; NaN reads 0. A plain
// conversion of a value outside the range is undefined.
long long SaturatedSigned(double d) {
  if (d != d) return 0;
  if (d >= kTwoTo63) return LLONG_MAX;
  if (d < -kTwoTo63) return LLONG_MIN;
  return static_cast<long long>(d);
}

}  // namespace

long long FormatArg::AsSigned() const {
  switch (kind_) {
    case Kind::kSigned:
      return i_;
    case Kind::kUnsigned:
    case Kind::kPointer:
      return static_cast<long long>(u_);
    case Kind::kDouble:
      return SaturatedSigned(d_);
    case Kind::kText:
      return 0;
  }
  return 0;
}

unsigned long long FormatArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::kSigned:
      return static_cast<unsigned long long>(i_);
    case Kind::kUnsigned:
    case Kind::kPointer:
      return u_;
    case Kind::kDouble:
      // A negative value wraps as its signed integer would (-1.0 reads as all ones); a
      // positive one saturates at the unsigned limit.
      if (d_ >= kTwoTo64) return ULLONG_MAX;
      if (d_ >= kTwoTo63) return static_cast<unsigned long long>(d_);
      return static_cast<unsigned long long>(SaturatedSigned(d_));
    case Kind::kText:
      return 0;
  }
  return 0;
}

double FormatArg::AsDouble() const {
  switch (kind_) {
    case Kind::kSigned:
      return static_cast<double>(i_);
    case Kind::kUnsigned:
    case Kind::kPointer:
      return static_cast<double>(u_);
    case Kind::kDouble:
      return d_;
    case Kind::kText:
      return 0;
  }
  return 0;
}

namespace {

struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  int width = 0;
  int precision = -1;
  enum class Size { kDefault, kShort, kLong64 } size = Size::kDefault;
};

void Pad(Text& out, std::size_t n, char16_t c) { out.append(n, c); }

// Writes body with sign/prefix and padding. Zero padding goes between prefix and digits.
void Emit(Text& out, const Conversion& fmt, std::u16string_view prefix, std::u16string_view body, bool allow_zero_pad) {
  std::size_t len = prefix.size() + body.size();
  std::size_t width = fmt.width > 0 ? static_cast<std::size_t>(fmt.width) : 0;
  std::size_t fill = width > len ? width - len : 0;
  if (fmt.left) {
    out.append(prefix);
    out.append(body);
    Pad(out, fill, u' ');
  } else if (fmt.zero && allow_zero_pad) {
    out.append(prefix);
    Pad(out, fill, u'0');
    out.append(body);
  } else {
    Pad(out, fill, u' ');
    out.append(prefix);
    out.append(body);
  }
}

Text Digits(unsigned long long v, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  Text d;
  do {
    d.insert(d.begin(), static_cast<char16_t>(set[v % base]));
    v /= base;
  } while (v != 0);
  return d;
}

void FormatInteger(Text& out, Conversion fmt, char16_t conv, const FormatArg& arg) {
  bool is_signed = conv == u'd' || conv == u'i';
  bool negative = false;
  unsigned long long magnitude = 0;
  if (is_signed) {
    long long v = arg.AsSigned();
    if (fmt.size == Conversion::Size::kDefault) v = static_cast<int32_t>(v);
    if (fmt.size == Conversion::Size::kShort) v = static_cast<int16_t>(v);
    negative = v < 0;
    magnitude = negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  } else {
    magnitude = arg.AsUnsigned();
    if (fmt.size == Conversion::Size::kDefault) magnitude = static_cast<uint32_t>(magnitude);
    if (fmt.size == Conversion::Size::kShort) magnitude = static_cast<uint16_t>(magnitude);
  }
  unsigned base = 10;
  if (conv == u'x' || conv == u'X') base = 16;
  if (conv == u'o') base = 8;
  Text body;
  if (!(fmt.precision == 0 && magnitude == 0)) body = Digits(magnitude, base, conv == u'X');
  if (fmt.precision > 0 && body.size() < static_cast<std::size_t>(fmt.precision)) {
    body.insert(0, static_cast<std::size_t>(fmt.precision) - body.size(), u'0');
  }
  Text prefix;
  if (is_signed) {
    if (negative)
      prefix = u"-";
    else if (fmt.plus)
      prefix = u"+";
    else if (fmt.space)
      prefix = u" ";
  } else if (fmt.alt && magnitude != 0) {
    if (base == 16) prefix = conv == u'X' ? u"0X" : u"0x";
    if (base == 8 && (body.empty() || body[0] != u'0')) prefix = u"0";
  }
  Emit(out, fmt, prefix, body, fmt.precision < 0);
}

void FormatFloating(Text& out, const Conversion& fmt, char16_t conv, const FormatArg& arg) {
  std::string narrow = "%";
  if (fmt.left) narrow += '-';
  if (fmt.plus) narrow += '+';
  if (fmt.space) narrow += ' ';
  if (fmt.alt) narrow += '#';
  if (fmt.zero) narrow += '0';
  if (fmt.width > 0) narrow += std::to_string(fmt.width);
  if (fmt.precision >= 0) {
    // Appended in two steps: "." + a temporary string makes GCC 12 warn of an overlap
    // that cannot happen (-Wrestrict, a known false alarm of its string inlining).
    narrow += '.';
    narrow += std::to_string(fmt.precision);
  }
  narrow += static_cast<char>(conv);
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, narrow.c_str(), arg.AsDouble());
  if (n < 0) return;
  std::size_t len = static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1;
  for (std::size_t i = 0; i < len; ++i) out.push_back(static_cast<unsigned char>(buffer[i]));
}

// Reads a number of at most 4096 at i, or takes it from the next argument after '*'.
int ReadCount(std::u16string_view format, std::size_t& i, const std::function<const FormatArg*()>& take,
              bool& negative) {
  negative = false;
  if (i < format.size() && format[i] == u'*') {
    ++i;
    const FormatArg* a = take();
    long long v = a ? a->AsSigned() : 0;
    // The size is clamped before it is negated: the most negative value has no
    // positive counterpart.
    if (v < 0) {
      negative = true;
      v = v < -4096 ? 4096 : -v;
    }
    return static_cast<int>(v > 4096 ? 4096 : v);
  }
  int value = 0;
  while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
    value = value * 10 + (format[i++] - u'0');
    if (value > 4096) value = 4096;
  }
  return value;
}

// Flags, width, precision and size prefixes of one conversion, from just after its '%'.
Conversion ReadConversion(std::u16string_view format, std::size_t& i, const std::function<const FormatArg*()>& take) {
  Conversion fmt;
  for (bool flags = true; flags && i < format.size();) {
    switch (format[i]) {
      case u'-':
        fmt.left = true;
        ++i;
        break;
      case u'+':
        fmt.plus = true;
        ++i;
        break;
      case u' ':
        fmt.space = true;
        ++i;
        break;
      case u'#':
        fmt.alt = true;
        ++i;
        break;
      case u'0':
        fmt.zero = true;
        ++i;
        break;
      default:
        flags = false;
    }
  }
  bool negative = false;
  fmt.width = ReadCount(format, i, take, negative);
  if (negative) fmt.left = true;  // a negative width means left alignment
  if (i < format.size() && format[i] == u'.') {
    ++i;
    fmt.precision = ReadCount(format, i, take, negative);
    if (negative) fmt.precision = -1;  // a negative precision is none
  }
  // Size prefixes: h, l, ll, w, I32, I64. Only 64-bit sizes change what is printed.
  for (bool sizes = true; sizes && i < format.size();) {
    std::u16string_view rest = format.substr(i);
    if (rest.substr(0, 3) == u"I64") {
      fmt.size = Conversion::Size::kLong64;
      i += 3;
    } else if (rest.substr(0, 3) == u"I32") {
      i += 3;
    } else if (rest.substr(0, 2) == u"ll") {
      fmt.size = Conversion::Size::kLong64;
      i += 2;
    } else if (rest[0] == u'h') {
      fmt.size = Conversion::Size::kShort;
      ++i;
    } else if (rest[0] == u'l' || rest[0] == u'w') {
      ++i;
    } else {
      sizes = false;
    }
  }
  return fmt;
}

void FormatText(Text& out, const Conversion& fmt, const FormatArg& a) {
  std::u16string_view s = a.AsText();
  // A C string ends at its first NUL: the rest of the argument is not printed, and the
  // rest of the format is.
  s = s.substr(0, s.find(u'\0'));
  if (fmt.precision >= 0 && s.size() > static_cast<std::size_t>(fmt.precision)) {
    s = s.substr(0, static_cast<std::size_t>(fmt.precision));
  }
  Emit(out, fmt, u"", s, false);
}

void FormatPointer(Text& out, const Conversion& fmt, const FormatArg& a) {
  unsigned long long v = a.AsUnsigned();
  Text digits = Digits(v, 16, true);
  // The width of a pointer of this 32-bit program; wider values keep all digits.
  std::size_t want = v > 0xFFFFFFFFULL ? 16 : 8;
  if (digits.size() < want) digits.insert(0, want - digits.size(), u'0');
  Conversion plain = fmt;
  plain.zero = false;
  Emit(out, plain, u"", digits, false);
}

// One conversion character with its argument, if it takes one.
void Convert(Text& out, const Conversion& fmt, char16_t conv, const std::function<const FormatArg*()>& take) {
  if (conv == u'%') {
    out.push_back(u'%');
    return;
  }
  switch (conv) {
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
    case u'e':
    case u'E':
    case u'f':
    case u'g':
    case u'G':
    case u'c':
    case u'C':
    case u's':
    case u'S':
    case u'p':
      break;
    default:
      // Unknown conversions print the character itself, as the C run-time does.
      out.push_back(conv);
      return;
  }
  const FormatArg* a = take();
  if (!a) return;
  switch (conv) {
    case u'e':
    case u'E':
    case u'f':
    case u'g':
    case u'G':
      FormatFloating(out, fmt, conv, *a);
      break;
    case u'c':
    case u'C': {
      char16_t ch = static_cast<char16_t>(a->AsUnsigned());
      Emit(out, fmt, u"", std::u16string_view(&ch, 1), false);
      break;
    }
    case u's':
    case u'S':
      FormatText(out, fmt, *a);
      break;
    case u'p':
      FormatPointer(out, fmt, *a);
      break;
    default:
      FormatInteger(out, fmt, conv, *a);
      break;
  }
}

}  // namespace

Text FormatList(std::u16string_view format, std::initializer_list<FormatArg> args) {
  Text out;
  out.reserve(format.size() + 16 * args.size());
  auto next = args.begin();
  const std::function<const FormatArg*()> take = [&]() -> const FormatArg* {
    return next == args.end() ? nullptr : &*next++;
  };
  for (std::size_t i = 0; i < format.size();) {
    char16_t c = format[i++];
    if (c != u'%') {
      out.push_back(c);
      continue;
    }
    if (i >= format.size()) break;  // a lone trailing '%' prints nothing
    const Conversion fmt = ReadConversion(format, i, take);
    if (i >= format.size()) break;
    Convert(out, fmt, format[i++], take);
  }
  return out;
}

}  // namespace carryall
