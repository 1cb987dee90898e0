// One owner for every OS handle (descriptors, display connections, Win32
// handles and locks): move-only, released exactly once. Each kind of handle
// says in a small traits type what its empty value is and how it is let go,
// so the move rules are written once instead of once per kind.
#ifndef QUILLMORE_BASE_HANDLE_H_
#define QUILLMORE_BASE_HANDLE_H_

#include <utility>

namespace quillmore {

// Traits must provide:
//   using Value = ...;                  // the raw handle type
//   static Value Empty() noexcept;      // the value that owns nothing
//   static void Release(Value) noexcept;  // let go of a non-empty value
template <typename Traits>
class Handle {
 public:
  using Value = typename Traits::Value;

  Handle() noexcept : value_(Traits::Empty()) {}
  explicit Handle(Value value) noexcept : value_(value) {}
  Handle(Handle&& other) noexcept
      : value_(std::exchange(other.value_, Traits::Empty())) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.value_, Traits::Empty()));
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }

  Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Empty(); }

  // Lets go of the current value (if any) and owns value instead.
  void Reset(Value value = Traits::Empty()) noexcept {
    Value old = std::exchange(value_, value);
    if (old != Traits::Empty()) Traits::Release(old);
  }
  // Gives up ownership without letting go: the caller now owns the value.
  [[nodiscard]] Value Release() noexcept {
    return std::exchange(value_, Traits::Empty());
  }
  // Forgets the value without letting go, where something else owns it now:
  // the system took it over, or (in a forked child) the parent still uses
  // it, so letting go here would act on the parent's.
  void Abandon() noexcept { value_ = Traits::Empty(); }

 private:
  Value value_;
};

}  // namespace quillmore

#endif  // QUILLMORE_BASE_HANDLE_H_
