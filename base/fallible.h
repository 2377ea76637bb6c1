// Portable layer. The one answer of every platform call that can fail: its value, or the
// system's error code (GetLastError's value) that says why it failed. A failure may carry
// 0 where the system gave no reason; callers that log it say so as the system said it.
//
//   Fallible<Text> path = environment.GetTempPath();
//   if (!path) return Log("... error %ld", path.error());
//   Use(*path);
//
// Fallible<void> (Status) is the answer of a call that has nothing to give but success.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "base/error_codes.h"

namespace carryall {

// The failure of a call: converts to a failed Fallible of any type.
struct SystemError {
  uint32_t code = 0;
};
constexpr SystemError Failed(uint32_t code) { return SystemError{code}; }

template <typename T>
class [[nodiscard]] Fallible {
 public:
  Fallible(T value) : value_(std::move(value)) {}          // NOLINT: a value is a success
  Fallible(SystemError failure) : error_(failure.code) {}  // NOLINT
  // The constraint keeps Fallible and SystemError to the constructors above. (The
  // formatter of this toolchain misreads a requires-clause, hence the switch.)
  // clang-format off
  template <typename U>
  // NOLINTNEXTLINE(bugprone-forwarding-reference-overload): the constraint excludes Fallible
  Fallible(U&& value) requires std::is_constructible_v<T, U&&> && (!std::is_same_v<std::decay_t<U>, Fallible>) &&
                               (!std::is_same_v<std::decay_t<U>, SystemError>)
      : value_(std::in_place, std::forward<U>(value)) {}
  // clang-format on

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // The system's error of a failure; 0 for a success.
  uint32_t error() const { return error_; }

  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T&& operator*() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  template <typename U>
  T value_or(U&& fallback) const& {
    return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
  }
  // The failure alone, to pass on as the answer of another type.
  SystemError failure() const { return SystemError{error_}; }

 private:
  std::optional<T> value_;
  uint32_t error_ = 0;
};

template <>
class [[nodiscard]] Fallible<void> {
 public:
  Fallible() = default;                                                   // success
  Fallible(SystemError failure) : failed_(true), error_(failure.code) {}  // NOLINT
  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  uint32_t error() const { return error_; }
  SystemError failure() const { return SystemError{error_}; }

 private:
  bool failed_ = false;
  uint32_t error_ = 0;
};

using Status = Fallible<void>;
constexpr SystemError kNoReason{0};
inline Status Succeeded() { return Status(); }

}  // namespace carryall
