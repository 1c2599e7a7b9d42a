// A value handed between threads as a whole, under a lock.
#pragma once

#include <mutex>
#include <utility>

namespace kestrune {

template <typename T> class Guarded {
public:
  Guarded() = default;
  explicit Guarded(T initial) : Value(std::move(initial)) {}

  T Get() const {
    std::lock_guard lock(Mutex);
    return Value;
  }
  void Set(T value) {
    std::lock_guard lock(Mutex);
    Value = std::move(value);
  }

private:
  mutable std::mutex Mutex;
  T Value{};
};

} // namespace kestrune
