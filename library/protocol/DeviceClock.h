#pragma once
// The time source of the transports. The long windows of an exchange (the 4 s, 40 s,
// 60 s and 120 s limits, the 200 ms and 50 ms pauses between attempts) are measured and
// slept through this interface, so that tests can run them on a clock of their own. The
// byte time-outs are not: they are waits of the link itself (poll on the port or the
// socket) and always run in real time.
#include <chrono>

namespace fp {

class IDeviceClock {
 public:
  using TTimePoint = std::chrono::steady_clock::time_point;
  virtual ~IDeviceClock() = default;
  virtual TTimePoint Now() = 0;
  virtual void SleepFor(std::chrono::milliseconds Duration) = 0;
};

// The real clock: steady_clock and this_thread::sleep_for. One instance serves the process.
IDeviceClock& SteadyDeviceClock();

// Milliseconds and whole seconds between two points of a clock.
inline long long ElapsedMs(IDeviceClock::TTimePoint From, IDeviceClock::TTimePoint To) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(To - From).count();
}
inline long long ElapsedWholeSeconds(IDeviceClock::TTimePoint From, IDeviceClock::TTimePoint To) {
  return std::chrono::duration_cast<std::chrono::seconds>(To - From).count();
}

}  // namespace fp
