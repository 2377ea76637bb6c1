// Portable layer. The log's device on the platform: the file system and the code page.
#pragma once

#include <memory>
#include <optional>

#include "base/log.h"
#include "platform/platform.h"

namespace carryall {

// The log file is opened as a payload file is: the run is often elevated and the log's
// folder one that others can write to, so nothing is written through a link at the
// log's place (a handle that lands elsewhere) or into a file that has other names. The
// first open creates or empties the file and remembers its identity; an open for
// appending (after the wizard, which writes to the same file meanwhile) goes on only in
// that very file, and otherwise writes nothing, leaving whatever is there untouched.
class FileLogDevice : public LogDevice {
 public:
  FileLogDevice(IFileSystem& files, ICodePage& code_page) : files_(files), code_page_(code_page) {}
  bool Open(const Text& path, bool append) override;
  void Write(const std::string& bytes) override;
  void Close() override;
  std::optional<std::string> ToAnsi(const Text& text) override;

 private:
  // True when the handle with facts is on a plain file with one name at path's own
  // place, as far as the system can say where a handle is.
  bool IsPlainFileHere(const Text& path, const HandleFacts& facts);

  IFileSystem& files_;
  ICodePage& code_page_;
  std::unique_ptr<IFileHandle> file_;
  std::optional<FileIdentity> identity_;  // the file the last open for writing afresh made or emptied
};

// A log written through the platform's file system: what the program and the tests use.
class FileLog : public Log {
 public:
  // The device is made before the log can use it: Log only keeps the reference.
  FileLog(IFileSystem& files, ICodePage& code_page) : Log(device_), device_(files, code_page) {}

 private:
  FileLogDevice device_;
};

}  // namespace carryall
