// Simulated Windows for the host tests: the code page and the module's resources.
#include "platform/sim/sim_platform.h"

#include <map>

namespace carryall::sim {

namespace {
const std::map<uint32_t, Text>& ShippedStrings() {
  static const std::map<uint32_t, Text> table = {
#include "shipped_strings.inc"
  };
  return table;
}
}  // namespace

// ---- code page ----

Fallible<std::string> SimCodePage::ToAnsi(const Text& text) {
  if (Injected(faults, "ICodePage::ToAnsi")) return Failed(kErrorNoUnicodeTranslation);
  Text until_nul = text.substr(0, text.find(u'\0'));
  std::string out;
  switch (kind) {
    case Kind::kBroken:
      return Failed(kErrorNoUnicodeTranslation);
    case Kind::kWestern:
      for (char16_t u : until_nul) out.push_back(u < 0x100 ? static_cast<char>(u) : '?');
      return out;
    case Kind::kUtf8:
      for (char16_t u : until_nul) {
        if (u < 0x80) {
          out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (u >> 6)));
          out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (u >> 12)));
          out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
      }
      return out;
  }
  return Failed(kErrorNoUnicodeTranslation);
}

Text SimCodePage::FromAnsi(const std::string& ansi) {
  if (Injected(faults, "ICodePage::FromAnsi")) return Text();  // MultiByteToWideChar answered 0
  if (kind != Kind::kUtf8) return Widen(ansi);
  Text out;
  for (std::size_t i = 0; i < ansi.size();) {
    unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c < 0x80) {
      out.push_back(c);
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < ansi.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (ansi[i + 1] & 0x3F)));
      i += 2;
    } else if (i + 2 < ansi.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((ansi[i + 1] & 0x3F) << 6) | (ansi[i + 2] & 0x3F)));
      i += 3;
    } else {
      out.push_back(u'?');
      i += 1;
    }
  }
  return out;
}

// ---- resources ----

SimResources::SimResources() : strings(ShippedStrings()) {}

Fallible<Text> SimResources::LoadString(uint32_t id) {
  if (Injected(faults, "IResources::LoadString")) return Failed(kErrorResourceNameNotFound);
  auto it = strings.find(id);
  if (it == strings.end() || it->second.empty()) return Failed(kErrorResourceNameNotFound);
  return it->second;
}

void SimResources::Add(const Text& type, uint32_t id, const std::string& bytes) { by_id[type][id] = bytes; }

void SimResources::AddNamed(const Text& type, const Text& name, const std::string& bytes) {
  by_name[type][name] = bytes;
}

Status SimResources::EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) {
  if (Injected(faults, "IResources::EnumResourceNames")) return Failed(kErrorResourceTypeNotFound);
  if (!by_id.count(type) && !by_name.count(type)) return Failed(kErrorResourceTypeNotFound);
  for (const auto& entry : by_id[type]) each(Name{true, entry.first, Text()});
  for (const auto& entry : by_name[type]) each(Name{false, 0, entry.first});
  return Succeeded();
}

// A found resource is its bytes in the table; loading and locking hand them on.
Fallible<IResources::Found> SimResources::FindResource(uint16_t id, const Text& type) {
  if (Injected(faults, "IResources::FindResource")) return Failed(kErrorResourceNameNotFound);
  auto of_type = by_id.find(type);
  if (of_type == by_id.end()) return Failed(kErrorResourceTypeNotFound);
  auto entry = of_type->second.find(id);
  if (entry == of_type->second.end()) return Failed(kErrorResourceNameNotFound);
  return Found{&entry->second};
}

Fallible<IResources::Loaded> SimResources::LoadResource(Found found) {
  if (Injected(faults, "IResources::LoadResource")) return Failed(kErrorNotEnoughMemory);
  return Loaded{found};
}

Fallible<IResources::Bytes> SimResources::LockResource(Found found, Loaded loaded) {
  if (Injected(faults, "IResources::LockResource") || loaded != found) return Failed(kErrorInvalidParameter);
  const std::string& bytes = *static_cast<const std::string*>(found);
  return Bytes{reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}

}  // namespace carryall::sim
