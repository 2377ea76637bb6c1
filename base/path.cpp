// Portable layer. Windows path rules.
#include "base/path.h"

namespace carryall {

namespace {
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

std::optional<Text> PathAppend(const Text& path, std::u16string_view more, std::size_t buffer_size) {
  while (!more.empty() && more.front() == u'\\') more.remove_prefix(1);
  Text out = path;
  if (!out.empty() && out.back() != u'\\' && !more.empty()) out.push_back(u'\\');
  out += more;
  if (out.size() + 1 > buffer_size) return std::nullopt;
  return out;
}

Text PathRemoveFileSpec(const Text& path) {
  std::size_t cut = path.find_last_of(u"\\/");
  if (cut == Text::npos) {
    // "C:name" keeps its drive; a bare name leaves nothing.
    return path.size() >= 2 && path[1] == u':' ? path.substr(0, 2) : Text();
  }
  // Keep the root backslash of "C:\" and "\".
  if (cut == 0 || (cut == 2 && path[1] == u':')) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

bool IsContainedRelativePath(std::u16string_view name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  if (name.find(u':') != std::u16string_view::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::u16string_view part = name.substr(start, end - start);
    // Windows drops trailing dots and blanks of a component, so "..." or ".. " mean "..".
    std::size_t keep = part.find_last_not_of(u". ");
    if (!part.empty() && keep == std::u16string_view::npos && part.find(u"..") != std::u16string_view::npos) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool IsDevicePath(std::u16string_view path) {
  if (path.size() < 4 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || (path[2] != u'.' && path[2] != u'?') ||
      !IsSeparator(path[3])) {
    return false;
  }
  std::u16string_view rest = path.substr(4);
  auto starts_with = [rest](std::u16string_view prefix) {
    if (rest.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      char16_t c = rest[i];
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      if (prefix[i] == u'\\' ? !IsSeparator(c) : c != prefix[i]) return false;
    }
    return true;
  };
  bool drive = rest.size() >= 2 && rest[1] == u':' &&
               ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z'));
  return !drive && !starts_with(u"UNC\\") && !starts_with(u"VOLUME{");
}

bool IsReservedDeviceName(std::u16string_view component) {
  // The device is named by what comes before the first dot (or stream colon), without
  // the blanks before it: "COM1 .log" and "nul...." open the device.
  std::u16string_view stem = component.substr(0, component.find_first_of(u".:"));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  auto is = [&](std::u16string_view word) {
    for (std::size_t i = 0; i < word.size(); ++i) {
      char16_t c = stem[i];
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      if (c != word[i]) return false;
    }
    return true;
  };
  if (stem.size() == 3) return is(u"CON") || is(u"PRN") || is(u"AUX") || is(u"NUL");
  if (stem.size() == 4 && (is(u"COM") || is(u"LPT"))) {
    char16_t digit = stem[3];
    return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
  }
  return false;
}

bool NamesReservedDevice(std::u16string_view name) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of(u"\\/", start);
    if (IsReservedDeviceName(name.substr(start, end == std::u16string_view::npos ? end : end - start))) return true;
    if (end == std::u16string_view::npos) return false;
    start = end + 1;
  }
}

bool IsBareDrive(std::u16string_view text) {
  if (text.size() < 2 || text[1] != u':') return false;
  const char16_t letter = text[0];
  if (!((letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z'))) return false;
  return text.find_first_not_of(u' ', 2) == std::u16string_view::npos;
}

bool NamesDevice(std::u16string_view path) {
  if (IsDevicePath(path)) return true;
  // The root ("C:\", "\\server\share\", "\\?\C:\") is not a name of its own.
  std::size_t start = 0;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = 2;
    for (int skip = 0; skip < 2 && start < path.size(); ++skip) {
      std::size_t next = path.find_first_of(u"\\/", start);
      start = next == std::u16string_view::npos ? path.size() : next + 1;
    }
  } else if (path.size() >= 2 && path[1] == u':') {
    start = 2;
  }
  return NamesReservedDevice(path.substr(start));
}

namespace {
char16_t FoldForPath(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}
}  // namespace

bool SamePath(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldForPath(a[i]) != FoldForPath(b[i])) return false;
  }
  return true;
}

}  // namespace carryall
