// Portable layer. The diagnostic log: plain ANSI text in the thread's code page, lines
// exactly as formatted, "\n" written as CR LF. Until a file is open the text is kept in
// memory and written to the top of the file when it opens; a run without a log file
// drops it at exit. Failures are silent: the log never stops a run.
//
// One object holds the whole process-wide log state, so tests create it afresh. Both
// threads of the program write through it; a lock serialises the operations.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "app/format.h"
#include "platform/platform.h"

namespace carryall {

class Log {
 public:
  Log(IFileSystem& files, ICodePage& code_page);

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

  IFileSystem& files_;
  ICodePage& code_page_;
  mutable std::mutex mutex_;
  std::unique_ptr<IFile> file_;
  Text path_;
  Text pending_;
};

}  // namespace carryall
