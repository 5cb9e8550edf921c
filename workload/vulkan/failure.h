#pragma once

// How the Vulkan backend reports a failure: in the return value, never through an
// out-parameter, and in a type the caller cannot ignore. A step answers a Failure (none, or
// why it failed); a step that makes something answers Made<T> (the thing, or why not).

#include <optional>
#include <string>
#include <utility>

namespace ventaro::gpu::vulkan {

/// None when the step succeeded; otherwise why it failed.
class [[nodiscard]] Failure : public std::optional<std::string> {
public:
  using std::optional<std::string>::optional;
  Failure(std::optional<std::string> why) // NOLINT(google-explicit-constructor)
      : std::optional<std::string>(std::move(why)) {}
};

/// The reason a Made<T> holds instead of its value.
struct Why {
  std::string text;
};

/// A made value, or why it could not be made.
template <class T> class [[nodiscard]] Made {
public:
  Made(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Made(Why why) : why_(std::move(why.text)) {} // NOLINT(google-explicit-constructor)
  explicit operator bool() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  /// Why it was not made; empty when it was.
  const std::string& why() const { return why_; }
  /// The failure, for a caller that only passes it on; none when the value was made.
  Failure failure() const { return value_ ? Failure() : Failure(why_); }

private:
  std::optional<T> value_;
  std::string why_;
};

} // namespace ventaro::gpu::vulkan
