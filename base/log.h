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

  template <typename... Args>
  void Printf(std::u16string_view format, const Args&... args) {
    Write(Format(format, args...));
  }
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
  void WriteToFile(const Text& text);  // caller holds mutex_ and the file is open

  LogDevice& device_;
  mutable std::mutex mutex_;
  bool open_ = false;
  Text path_;
  Text pending_;
};

}  // namespace carryall
