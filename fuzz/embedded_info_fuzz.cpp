// Fuzz target: the embedded information scan. The input is the bootstrapper's own file;
// the scan over its tail must find the marker nearest the end, write exactly the bytes
// between it and the last six, and show them in the log without a control character.
#include <cstring>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "fuzz/fuzz.h"
#include "payload/payload.h"
#include "platform/sim/sim_platform.h"

namespace carryall::fuzz {

namespace {
constexpr uint32_t kLastMarker = kInfoWindowSize - 5;  // the marker's last possible window index
constexpr char16_t kOutput[] = u"C:\\work\\info.xml";
}  // namespace

int EmbeddedInformation(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const uint8_t code_page = input.Byte();
  const std::string file = input.Rest();

  // The scan of a window, on its own.
  if (file.size() >= kInfoWindowSize) {
    const auto* window = reinterpret_cast<const uint8_t*>(file.data());
    std::optional<carryall::EmbeddedInformation> found = FindEmbeddedInformation(window, kInfoWindowSize);
    if (found) {
      FUZZ_CHECK(found->offset >= 5 && found->offset + found->length == kLastMarker);
      FUZZ_CHECK(std::memcmp(window + found->offset - 4, "MRDC", 4) == 0);
      for (uint32_t later = found->offset - 3; later <= kLastMarker; ++later) {
        FUZZ_CHECK(std::memcmp(window + later, "MRDC", 4) != 0);
      }
    }
  }

  // The whole step, with the file as the executable.
  sim::SimMachine machine;
  machine.code_page.kind = code_page & 1 ? sim::SimCodePage::Kind::kUtf8 : sim::SimCodePage::Kind::kWestern;
  machine.files.Put(machine.files.module_path, file);
  FileLog log(machine.files, machine.code_page);
  CCarryallInstallerApp app(machine.platform, log);
  const int32_t written = app.WriteEmbeddedInformation(kOutput);
  FUZZ_CHECK(written == 0 || written == kFail);
  const Text logged = log.pending();
  const std::size_t shown = logged.find(u"Found embedded information '");
  if (shown != Text::npos) {
    const Text rest = logged.substr(shown, logged.find(u"'\r\n", shown) - shown);
    for (char16_t unit : rest) FUZZ_CHECK(unit >= 0x20 || unit == u'\t');
  }
  if (machine.files.Exists(Text(kOutput))) {
    const std::size_t end = file.size() - 6;
    const std::string written = machine.files.Contents(Text(kOutput));
    FUZZ_CHECK(written.size() < end && file.compare(end - written.size(), written.size(), written) == 0);
    FUZZ_CHECK(file.compare(end - written.size() - 4, 4, "MRDC") == 0);
  }
  FUZZ_CHECK(machine.files.open_handles == 0);
  return 0;
}

}  // namespace carryall::fuzz
