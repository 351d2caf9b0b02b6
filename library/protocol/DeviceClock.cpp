#include "library/protocol/DeviceClock.h"

#include <thread>

namespace fp {

namespace {

class TSteadyDeviceClock final : public IDeviceClock {
 public:
  TTimePoint Now() override { return std::chrono::steady_clock::now(); }
  void SleepFor(std::chrono::milliseconds Duration) override { std::this_thread::sleep_for(Duration); }
};

}  // namespace

IDeviceClock& SteadyDeviceClock() {
  static TSteadyDeviceClock clock;
  return clock;
}

}  // namespace fp
