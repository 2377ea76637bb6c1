// Portable layer. Resources of the running module: strings and the payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/fallible.h"
#include "base/text.h"

namespace carryall {

// Resources of the running module.
class IResources {
 public:
  virtual ~IResources() = default;
  // String-table entry; fails when the table has no such entry (an empty entry fails
  // too, as LoadStringW answers 0 for both).
  virtual Fallible<Text> LoadString(uint32_t id) = 0;

  // A resource name as EnumResourceNamesW reports it: an integer id or a text.
  struct Name {
    bool is_integer = true;
    uint32_t id = 0;
    Text text;
  };
  // EnumResourceNamesW over one type, in the system's order; fails when the enumeration
  // fails (also when the module has no resource of that type).
  virtual Status EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) = 0;

  // The three steps of reaching a resource's bytes, each its own call as on the system,
  // so that a failure names its step. Handles and bytes stay valid for the life of the
  // module and are never released.
  using Found = const void*;   // FindResourceW's HRSRC
  using Loaded = const void*;  // LoadResource's HGLOBAL
  struct Bytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
  };
  // FindResourceW of an integer-named resource.
  virtual Fallible<Found> FindResource(uint16_t id, const Text& type) = 0;
  virtual Fallible<Loaded> LoadResource(Found found) = 0;
  // LockResource, with SizeofResource's size of found.
  virtual Fallible<Bytes> LockResource(Found found, Loaded loaded) = 0;
};

}  // namespace carryall
