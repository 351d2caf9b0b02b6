#pragma once
// Test support for the transports (header only, no part of the library):
//  - TFakeDeviceClock: real time plus an offset that the test moves on from any thread;
//    its sleeps move the offset on instead of sleeping and are recorded, so a 40 s window
//    of 200 ms pauses passes in a moment while the byte time-outs of the link stay real;
//  - RunExchange: one SendCommand with its results;
//  - Seconds: real time since a point, for the tests of real-time paths.
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "driver/BaseDeviceUnit.h"
#include "driver/DeviceClock.h"

namespace fp {

class TFakeDeviceClock final : public IDeviceClock {
public:
  TTimePoint Now() override {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(FOffsetMs.load());
  }
  void SleepFor(std::chrono::milliseconds Duration) override {
    {
      std::lock_guard<std::mutex> Lock(FMutex);
      FSleeps.push_back(Duration);
    }
    FOffsetMs += Duration.count();
  }
  void Advance(std::chrono::milliseconds Duration) { FOffsetMs += Duration.count(); }
  std::vector<std::chrono::milliseconds> Sleeps() {
    std::lock_guard<std::mutex> Lock(FMutex);
    return FSleeps;
  }

private:
  std::atomic<long long> FOffsetMs{0};
  std::mutex FMutex;
  std::vector<std::chrono::milliseconds> FSleeps;
};

struct TExchangeResult {
  bool Ok = false;
  TDataBuffer Data;
  TDataBuffer Status;
};

// The status query with waiting unless told otherwise.
inline TExchangeResult RunExchange(TBaseDevice& Device, uint8_t Retries, uint8_t Cmd = 0x4A,
                                   TDataBuffer Data = {'W'}) {
  TExchangeResult R;
  R.Data = std::move(Data);
  R.Ok = Device.SendCommand(Cmd, R.Data, Retries, R.Status);
  return R;
}

inline double SecondsSince(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

}  // namespace fp
