// Fuzz target: the log writer. The input is a sequence of writes, opens, closes,
// reopens and appends by the wizard while the log is closed; the files must hold
// exactly what a model of the log's contract says: lines kept until a file opens and
// then written at its top, a reopen appending, each line cut at its first NUL, every
// line feed written as CR LF, and a unit the code page lacks written as '?'.
#include <map>
#include <optional>

#include "base/log.h"
#include "fuzz/fuzz.h"
#include "platform/sim/sim_platform.h"

namespace carryall::fuzz {

namespace {

constexpr const char16_t* kPaths[] = {u"C:\\work\\a.log", u"C:\\work\\b.log", u"C:\\missing\\c.log"};
constexpr std::size_t kMostOperations = 64;

std::string Converted(const Text& text) {
  std::string bytes;
  for (char16_t unit : text.substr(0, text.find(u'\0'))) {
    if (unit == u'\n') bytes.push_back('\r');
    bytes.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
  }
  return bytes;
}

}  // namespace

int LogWriter(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  sim::SimMachine machine;
  const bool western = input.Byte() % 2 == 0;
  machine.code_page.kind = western ? sim::SimCodePage::Kind::kWestern : sim::SimCodePage::Kind::kUtf8;
  FileLog log(machine.files, machine.code_page);

  // The model: the open file, the last path asked for, the text kept, and the files.
  std::optional<Text> open;
  Text last;
  Text pending;
  std::map<Text, std::string> files;

  for (std::size_t step = 0; step < kMostOperations && !input.empty(); ++step) {
    switch (input.Byte() % 5) {
      case 0: {
        const Text text = input.Units(64);
        log.Write(text);
        if (open) {
          files[*open] += Converted(text);
        } else {
          pending += text;
        }
        break;
      }
      case 1: {
        const Text path = kPaths[input.Byte() % 3];
        log.Open(path);
        if (open && *open == path) break;
        open.reset();
        last = path;
        if (path == kPaths[2]) break;  // its folder is missing: nothing opens
        open = path;
        files[path] = Converted(pending);
        pending.clear();
        break;
      }
      case 2:
        log.Close();
        open.reset();
        break;
      case 3:
        log.Reopen();
        if (!open && !last.empty() && last != kPaths[2]) open = last;
        break;
      default:
        // The wizard writes to the log while the bootstrapper has it closed.
        if (!open && files.count(last)) {
          machine.files.Put(last, machine.files.Contents(last) + "W\r\n");
          files[last] += "W\r\n";
        }
        break;
    }
    FUZZ_CHECK(log.is_open() == open.has_value());
  }
  log.Close();
  for (const auto& [path, bytes] : files) {
    const std::string written = machine.files.Contents(path);
    if (western) FUZZ_CHECK(written == bytes);
    for (std::size_t at = written.find('\n'); at != std::string::npos; at = written.find('\n', at + 1)) {
      FUZZ_CHECK(at > 0 && written[at - 1] == '\r');
    }
  }
  return 0;
}

}  // namespace carryall::fuzz
