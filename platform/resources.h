// Portable layer. Resources of the running module: strings and the payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/text.h"

namespace carryall {

// Resources of the running module.
class IResources {
 public:
  virtual ~IResources() = default;
  // String-table entry; nullopt when the table has no such entry (an empty entry
  // also reads as nullopt, as LoadStringW answers 0 for both).
  virtual std::optional<Text> LoadString(uint32_t id) = 0;

  // A resource name as EnumResourceNamesW reports it: an integer id or a text.
  struct Name {
    bool is_integer = true;
    uint32_t id = 0;
    Text text;
  };
  // EnumResourceNamesW over one type, in the system's order; false when the
  // enumeration fails (also when the module has no resource of that type).
  virtual bool EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) = 0;

  // FindResourceW + LoadResource + LockResource of an integer-named resource. The bytes
  // stay valid for the life of the module.
  struct Locked {
    enum class Failure { kNone, kFind, kLoad, kLock } failure = Failure::kNone;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
  };
  virtual Locked LockResource(uint16_t id, const Text& type) = 0;
};

}  // namespace carryall
