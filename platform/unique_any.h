// One move-only owner for every kind of platform handle, closing it in its destructor.
#pragma once

#include <type_traits>
#include <utility>

namespace platform {

// `Close` releases a valid handle; `InvalidValue` is the value that means "no handle", or a
// function returning it where the value is no constant (INVALID_HANDLE_VALUE). Each
// handle kind is a one-line alias, e.g.
//   using UniqueFd = UniqueAny<int, &::close, -1>;
template <typename T, auto Close, auto InvalidValue = T{}>
class UniqueAny {
 public:
  UniqueAny() noexcept = default;
  explicit UniqueAny(T value) noexcept : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  T get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the held handle (if any) and takes `value`.
  void reset(T value = Invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (old != Invalid()) Close(old);
  }
  // Gives up ownership without closing.
  T release() noexcept { return std::exchange(value_, Invalid()); }
  // Closes the held handle and exposes the slot to an out-parameter of a platform call.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  static T Invalid() noexcept {
    if constexpr (std::is_invocable_v<decltype(InvalidValue)>) return InvalidValue();
    else return static_cast<T>(InvalidValue);
  }

  T value_ = Invalid();
};

}  // namespace platform
