// Portable layer. Command-line splitting, parsing and composition.
#include "cmdline/command_line.h"

#include <algorithm>
#include <optional>

namespace carryall {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Length of the program name at the start of the command line: up to the first blank
// outside double quotes, quotes only switching quoting on and off.
std::size_t ProgramEnd(std::u16string_view s, Text* name) {
  bool quoted = false;
  std::size_t i = 0;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u'"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && IsBlank(c)) break;
    if (name) name->push_back(c);
  }
  return i;
}

}  // namespace

std::vector<SplitArgument> SplitCommandLineAt(std::u16string_view s) {
  std::vector<SplitArgument> args;
  SplitArgument program;
  std::size_t i = ProgramEnd(s, &program.text);
  program.end = i;
  args.push_back(std::move(program));

  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size()) break;
    Text arg;
    bool quoted = false;
    while (i < s.size() && (quoted || !IsBlank(s[i]))) {
      std::size_t slashes = 0;
      while (i < s.size() && s[i] == u'\\') {
        ++slashes;
        ++i;
      }
      if (i < s.size() && s[i] == u'"') {
        arg.append(slashes / 2, u'\\');
        if (slashes % 2 == 1) {
          arg.push_back(u'"');  // an escaped quote is a literal character
          ++i;
        } else if (quoted && i + 1 < s.size() && s[i + 1] == u'"') {
          arg.push_back(u'"');  // "" inside quotes: one literal quote, quoting goes on
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else if (slashes > 0) {
        arg.append(slashes, u'\\');  // backslashes not before a quote are kept
      } else {
        arg.push_back(s[i++]);
      }
    }
    args.push_back({std::move(arg), i});
  }
  return args;
}

std::vector<Text> SplitCommandLine(std::u16string_view s) {
  std::vector<Text> args;
  for (SplitArgument& arg : SplitCommandLineAt(s)) args.push_back(std::move(arg.text));
  return args;
}

Text CommandLineAfterProgram(std::u16string_view s) {
  std::size_t i = ProgramEnd(s, nullptr);
  while (i < s.size() && IsBlank(s[i])) ++i;
  return Text(s.substr(i));
}

std::size_t OptionMap::BucketOf(std::u16string_view name) {
  uint32_t h = 0;
  for (char16_t u : name) h = h * 33u + u;
  return h % kBuckets;
}

void OptionMap::Set(const Text& name, const Text& value) {
  auto& chain = buckets_[BucketOf(name)];
  for (auto& entry : chain) {
    if (entry.first == name) {
      entry.second = value;
      return;
    }
  }
  chain.insert(chain.begin(), {name, value});
}

const Text* OptionMap::Find(std::u16string_view name) const {
  for (const auto& entry : buckets_[BucketOf(name)]) {
    if (entry.first == name) return &entry.second;
  }
  return nullptr;
}

void OptionMap::Remove(std::u16string_view name) {
  auto& chain = buckets_[BucketOf(name)];
  chain.erase(std::remove_if(chain.begin(), chain.end(), [&](const auto& e) { return e.first == name; }), chain.end());
}

bool OptionMap::empty() const {
  return std::all_of(buckets_.begin(), buckets_.end(), [](const auto& c) { return c.empty(); });
}

void CCommandLineInfoEx::ParseCommandLine(std::u16string_view command_line) {
  std::vector<SplitArgument> args = SplitCommandLineAt(command_line);
  // A bare "--" ends the options: what follows it is the wizard's, as typed.
  std::size_t count = args.size();
  m_strPassThrough.clear();
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].text != u"--") continue;
    std::size_t rest = args[i].end;
    while (rest < command_line.size() && IsBlank(command_line[rest])) ++rest;
    m_strPassThrough = Text(command_line.substr(rest));
    count = i;
    break;
  }
  for (std::size_t i = 1; i < count; ++i) {
    Text& arg = args[i].text;
    bool is_flag = !arg.empty() && (arg[0] == u'-' || arg[0] == u'/');
    if (is_flag) arg.erase(0, 1);
    ParseParam(arg, is_flag, i + 1 == count);
  }
}

void CCommandLineInfoEx::ParseParam(const Text& param, bool is_flag, bool is_last) {
  if (is_flag) {
    m_options.Set(param, u"TRUE");
    m_flagNames.insert(param);
    m_strPendingName.clear();
    return;
  }
  if ((EqualsIgnoreCase(param, u"temp") || EqualsIgnoreCase(param, u"extract") || EqualsIgnoreCase(param, u"log")) &&
      !is_last && !m_bInQuotedProperty) {
    m_strPendingName = param;
    return;
  }
  if (param.size() >= 5 && EqualsIgnoreCase(std::u16string_view(param).substr(0, 5), u"CFU=\"")) {
    m_bInQuotedProperty = true;
    m_strQuotedProperty.clear();
  }
  if (m_bInQuotedProperty) {
    if (!m_strQuotedProperty.empty()) m_strQuotedProperty.push_back(u' ');
    m_strQuotedProperty += param;
    if (!param.empty() && param.back() == u'"') {
      m_bInQuotedProperty = false;
      m_options.Set(m_strQuotedProperty, Text());
    }
    return;
  }
  const Text& name = m_strPendingName.empty() ? param : m_strPendingName;
  // A name given as a flag keeps its "TRUE" whatever else the line holds: a bare word
  // or a keyword's value of the same name never undoes one of the switches.
  if (m_flagNames.count(name) == 0) m_options.Set(name, m_strPendingName.empty() ? Text() : param);
  m_strPendingName.clear();
}

bool CCommandLineInfoEx::GetOption(std::u16string_view name, Text& value) const {
  const Text* found = m_options.Find(name);
  value = found ? *found : Text();
  return found != nullptr;
}

bool CCommandLineInfoEx::HasOption(std::u16string_view name) const {
  Text value;
  return GetOption(name, value) && EqualsIgnoreCase(value, u"TRUE");
}

bool CCommandLineInfoEx::HasFlagOption(std::u16string_view name) const {
  return m_flagNames.count(Text(name)) != 0 && HasOption(name);
}

void CCommandLineInfoEx::SetOption(const Text& name, const Text& value) { m_options.Set(name, value); }

void CCommandLineInfoEx::RemoveOption(std::u16string_view name) { m_options.Remove(name); }

void AppendQuotedArgument(const Text& value, Text& out) {
  out.push_back(u'"');
  std::size_t slashes = 0;  // the run of backslashes just written
  for (char16_t c : value) {
    if (c == u'"') {
      out.append(slashes + 1, u'\\');  // the run doubled, and the quote escaped
    }
    slashes = c == u'\\' ? slashes + 1 : 0;
    out.push_back(c);
  }
  out.append(slashes, u'\\');  // a run before the closing quote, doubled
  out.push_back(u'"');
}

namespace {

bool NeedsQuoting(std::u16string_view arg) {
  return arg.empty() || arg.find_first_of(u" \t\"") != std::u16string_view::npos;
}

// The text between the quotes of a collected CFU="..." property, when name is one.
std::optional<std::u16string_view> CollectedPropertyValue(std::u16string_view name) {
  constexpr std::size_t kPrefix = 5;  // CFU="
  if (name.size() < kPrefix + 1 || name.back() != u'"') return std::nullopt;
  if (!EqualsIgnoreCase(name.substr(0, kPrefix), u"CFU=\"")) return std::nullopt;
  return name.substr(kPrefix, name.size() - kPrefix - 1);
}

}  // namespace

void AppendArgument(std::u16string_view arg, Text& out) {
  if (!NeedsQuoting(arg)) {
    out += arg;
    return;
  }
  // NAME=value: only the value is quoted, the form property readers expect.
  const std::size_t equals = arg.find(u'=');
  if (equals != std::u16string_view::npos && equals > 0 && !NeedsQuoting(arg.substr(0, equals))) {
    out += arg.substr(0, equals + 1);
    AppendQuotedArgument(Text(arg.substr(equals + 1)), out);
    return;
  }
  AppendQuotedArgument(Text(arg), out);
}

void CCommandLineInfoEx::ComposeWizardArguments(const Text& program_name, Text& out) const {
  out.clear();
  m_options.ForEach([&](const Text& name, const Text& value) {
    // Only a name given with a prefix is a flag: a keyword's value "TRUE" is a value.
    if (m_flagNames.count(name) != 0 && EqualsIgnoreCase(value, u"TRUE")) {
      AppendArgument(u"/" + name, out);
    } else if (!value.empty()) {
      AppendArgument(u"/" + name, out);
      out += u" ";
      AppendQuotedArgument(value, out);
    } else if (std::optional<std::u16string_view> inner = CollectedPropertyValue(name)) {
      // Collected over several arguments so that the wizard reads it as one.
      out += name.substr(0, 4);
      AppendQuotedArgument(Text(*inner), out);
    } else {
      AppendArgument(name, out);
    }
    out += u" ";
  });
  out += u"VH_I=";
  AppendQuotedArgument(program_name, out);
  out += u" ";
  out += m_strPassThrough;
}

}  // namespace carryall
