// Portable layer. One owning type for every kind of handle: UniqueHandle<Traits> holds a
// value and releases it exactly once, when it goes away or is replaced, unless ownership
// was handed out with release(). The traits say what the handle is, which value means
// "none" and how it is released:
//
//   struct FileTraits {
//     using pointer = HANDLE;
//     static pointer Invalid() { return INVALID_HANDLE_VALUE; }
//     static void Close(pointer value) { ::CloseHandle(value); }
//   };
//   using UniqueFile = UniqueHandle<FileTraits>;
//
// Close is never called with the invalid value. Nothing here depends on the system, so
// the Win32 layer and the simulated platform share it.
#pragma once

#include <utility>

namespace carryall {

template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;

  UniqueHandle() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueHandle(pointer value) noexcept : value_(value) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  pointer get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Releases the held value (if any) and takes value instead.
  void reset(pointer value = Traits::Invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // Hands the value out; this object holds none afterwards.
  pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  // For an API that writes a new handle through a pointer: releases the held value and
  // gives the address to write to.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_;
};

}  // namespace carryall
