#pragma once
// Milliseconds of the monotonic clock: for elapsed time only (waits, ages, intervals),
// which a change of the wall clock must neither stretch nor cut short.
#include <chrono>
#include <cstdint>

namespace fp {

inline int64_t MonotonicMs() {
  return static_cast<int64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace fp
