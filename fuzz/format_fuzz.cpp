// Fuzz target: the formatter. The input is a format text and up to eight typed
// arguments (signed, unsigned, any double, text, pointer); the formatter must neither
// read past them nor overflow on any value, and its output stays bounded.
#include <vector>

#include "base/format.h"
#include "fuzz/fuzz.h"

namespace carryall::fuzz {

namespace {
constexpr std::size_t kMaxArguments = 8;
// Widths and precisions are capped at 4096; a floating conversion prints at most 511.
constexpr std::size_t kMostPerConversion = 4096 + 512;
}  // namespace

int Formatter(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const Text format = input.Units();
  const std::size_t count = input.Byte() % (kMaxArguments + 1);
  std::vector<Text> texts;
  texts.reserve(kMaxArguments);  // the arguments keep views of these
  std::vector<FormatArg> args;
  std::size_t text_units = 0;
  for (std::size_t i = 0; i < count; ++i) {
    switch (input.Byte() % 6) {
      case 0:
        args.emplace_back(static_cast<long long>(input.U64()));
        break;
      case 1:
        args.emplace_back(static_cast<unsigned long long>(input.U64()));
        break;
      case 2:
        args.emplace_back(static_cast<int>(input.U32()));
        break;
      case 3:
        args.emplace_back(input.Double());
        break;
      case 4:
        texts.push_back(input.Units());
        text_units += texts.back().size();
        args.emplace_back(texts.back());
        break;
      default:
        args.emplace_back(reinterpret_cast<const void*>(static_cast<uintptr_t>(input.U64())));
        break;
    }
  }
  const FormatArg* a = args.data();
  Text out;
  switch (args.size()) {
    case 0:
      out = FormatList(format, {});
      break;
    case 1:
      out = FormatList(format, {a[0]});
      break;
    case 2:
      out = FormatList(format, {a[0], a[1]});
      break;
    case 3:
      out = FormatList(format, {a[0], a[1], a[2]});
      break;
    case 4:
      out = FormatList(format, {a[0], a[1], a[2], a[3]});
      break;
    case 5:
      out = FormatList(format, {a[0], a[1], a[2], a[3], a[4]});
      break;
    case 6:
      out = FormatList(format, {a[0], a[1], a[2], a[3], a[4], a[5]});
      break;
    case 7:
      out = FormatList(format, {a[0], a[1], a[2], a[3], a[4], a[5], a[6]});
      break;
    default:
      out = FormatList(format, {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]});
      break;
  }
  FUZZ_CHECK(out.size() <= format.size() * kMostPerConversion + text_units);
  if (format.find(u'%') == Text::npos) FUZZ_CHECK(out == format);
  for (const FormatArg& arg : args) {
    // Every conversion of every argument is defined.
    (void)arg.AsSigned();
    (void)arg.AsUnsigned();
    (void)arg.AsDouble();
  }
  return 0;
}

}  // namespace carryall::fuzz
