// Portable layer. The diagnostic log: plain ANSI text in the thread's code page, lines
// exactly as formatted, "\n" written as CR LF. Until a file is open the text is kept in
// memory and written to the top of the file when it opens; a run without a log file
// drops it at exit. Failures are silent: the log never stops a run.
//
// One object holds the whole process-wide log state, so tests create it afresh. Both
// threads of the program write through it; a lock serialises the operations.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "base/format.h"
#include "base/text.h"

namespace carryall {

// Outside text as a log line shows it: a control character (below 0x20, tab excepted)
// must not start a line of its own or hide one. CR and LF read "\r" and "\n", every
// other one "\xNN" (two upper-case hexadecimal digits). A backslash stays as it is, so
// text without control characters is shown unchanged, and escaping twice changes
// nothing more; "\r" in the log may therefore also be the two characters themselves.
// The text ends at its first NUL, as a %s argument does.
Text EscapeForLog(std::u16string_view text);

// Where the log's bytes go: one file at a time, opened by its UTF-16 name and denied to
// every other opener while it is open, and the thread's ANSI code page. The platform
// layer provides it (FileLogDevice); failures are only answered, never raised.
class LogDevice {
 public:
  virtual ~LogDevice() = default;
  // Closes any open file, then opens path: created or emptied, or with append created
  // or positioned at its end. False when it cannot be opened.
  virtual bool Open(const Text& path, bool append) = 0;
  virtual void Write(const std::string& bytes) = 0;
  virtual void Close() = 0;
  // The text up to its first NUL in the ANSI code page; nullopt when it cannot be converted.
  virtual std::optional<std::string> ToAnsi(const Text& text) = 0;
};

class Log {
 public:
  explicit Log(LogDevice& device);

  // Formats a line and writes it. Every text argument (%s) is taken as coming from
  // outside (a path, a name, a command-line word, a signer's name) and is shown
  // escaped (EscapeForLog), so that no argument can forge a line; the format itself is
  // the program's own. Text that must keep its line breaks is composed and passed to
  // Write instead.
  template <typename... Args>
  void Printf(std::u16string_view format, const Args&... args) {
    Write(Format(format, ForLog(args)...));
  }
  // Writes the text unchanged.
  void Write(const Text& text);

  // Opens (creates or truncates) the file and writes the pending text into it. The file
  // is opened by its UTF-16 name, so a name the ANSI code page cannot hold still gets
  // its log. Opening the file that is already open does nothing.
  void Open(const Text& path);
  void Close();
  // Opens the last path asked for again, for appending, if the log is closed.
  void Reopen();

  bool is_open() const;
  Text path() const;
  Text pending() const;

 private:
  static Text ForLog(const Text& text) { return EscapeForLog(text); }
  static Text ForLog(std::u16string_view text) { return EscapeForLog(text); }
  static Text ForLog(const char16_t* text) { return EscapeForLog(text ? text : u"(null)"); }
  template <typename T>
  static const T& ForLog(const T& value) {
    return value;
  }
  void WriteToFile(const Text& text);  // caller holds mutex_ and the file is open

  LogDevice& device_;
  mutable std::mutex mutex_;
  bool open_ = false;
  Text path_;
  Text pending_;
};

}  // namespace carryall
