// Portable layer. The log's device on the platform: the file system and the code page.
#pragma once

#include <memory>

#include "base/log.h"
#include "platform/platform.h"

namespace carryall {

class FileLogDevice : public LogDevice {
 public:
  FileLogDevice(IFileSystem& files, ICodePage& code_page) : files_(files), code_page_(code_page) {}
  bool Open(const Text& path, bool append) override;
  void Write(const std::string& bytes) override;
  void Close() override;
  std::optional<std::string> ToAnsi(const Text& text) override;

 private:
  IFileSystem& files_;
  ICodePage& code_page_;
  std::unique_ptr<IFile> file_;
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
