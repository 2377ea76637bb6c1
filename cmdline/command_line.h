// Portable layer. The bootstrapper's own command line: splitting by the C run-time's
// rules, the parser with its options map, and the command line composed for the
// installer wizard.
#pragma once

#include <array>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"

namespace carryall {

// Splits a whole process command line the way the Microsoft C run-time builds argv.
// The first element is the program name.
std::vector<Text> SplitCommandLine(std::u16string_view command_line);

// One argument of the split, with the index just after its last character in the line.
struct SplitArgument {
  Text text;
  std::size_t end = 0;
};
std::vector<SplitArgument> SplitCommandLineAt(std::u16string_view command_line);

// The text after the program name with the blanks that follow it skipped: what a
// WinMain receives as its command-line argument.
Text CommandLineAfterProgram(std::u16string_view command_line);

// Appends value between double quotes so that the C run-time's argument rules give back
// exactly value: every run of backslashes directly before an embedded quote or before the
// closing quote is doubled, and an embedded quote is escaped. A value without a quote
// and without a trailing backslash is written as it is.
void AppendQuotedArgument(const Text& value, Text& out);

// Appends arg so that the C run-time's rules give it back as one argument, exactly: as it
// is when it holds no blank and no quote and is not empty; NAME="value" when it has the
// form NAME=value with a plain name; otherwise quoted whole.
void AppendArgument(std::u16string_view arg, Text& out);

// A map from name to value whose iteration order is that of a hash table of 17 buckets
// (hash h = h * 33 + unit, 32-bit wrap), visited bucket by bucket, each chain from the
// most recently inserted name. The order decides the order of the wizard's arguments.
class OptionMap {
 public:
  static constexpr std::size_t kBuckets = 17;
  static std::size_t BucketOf(std::u16string_view name);

  // Inserts the name at the head of its chain, or replaces its value in place.
  void Set(const Text& name, const Text& value);
  const Text* Find(std::u16string_view name) const;
  void Remove(std::u16string_view name);
  bool empty() const;

  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& chain : buckets_) {
      for (const auto& entry : chain) fn(entry.first, entry.second);
    }
  }

 private:
  // Each chain is kept head first.
  std::array<std::vector<std::pair<Text, Text>>, kBuckets> buckets_;
};

class CCommandLineInfoEx {
 public:
  // Hands every argument after the program name to ParseParam, the prefix character of
  // a flag removed, up to a bare "--": the text after it (and the blanks that follow it)
  // is kept unparsed for the end of the wizard's line.
  void ParseCommandLine(std::u16string_view command_line);
  // A flag stores "TRUE" under its name; a bare word or a keyword's value stored under a
  // name already given as a flag is dropped, so a switch given with a prefix stays set.
  // Each name is stored once: a word given twice is one entry, a keyword its last value.
  void ParseParam(const Text& param, bool is_flag, bool is_last);

  bool GetOption(std::u16string_view name, Text& value) const;
  bool HasOption(std::u16string_view name) const;
  bool HasFlagOption(std::u16string_view name) const;
  void SetOption(const Text& name, const Text& value);
  void RemoveOption(std::u16string_view name);

  // The installer wizard's arguments: one piece per option in map order (a name given
  // with a prefix as a flag, any other value as /name "value"), each ending
  // with a space, then VH_I="program name" and a space, then the text after "--" as it
  // was typed. Every piece splits back, by the C run-time's rules, to the argument the
  // bootstrapper was given (a collected CFU="..." property to CFU= and the text between
  // its quotes): flags and bare words through AppendArgument, values and the program
  // name through AppendQuotedArgument.
  void ComposeWizardArguments(const Text& program_name, Text& out) const;

  const OptionMap& options() const { return m_options; }
  const Text& pass_through() const { return m_strPassThrough; }

 private:
  OptionMap m_options;
  std::set<Text> m_flagNames;
  Text m_strPendingName;
  bool m_bInQuotedProperty = false;
  Text m_strQuotedProperty;
  Text m_strPassThrough;
};

}  // namespace carryall
