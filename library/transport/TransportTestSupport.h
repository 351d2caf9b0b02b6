#pragma once
// Test support for the transports (header only, no part of the library):
//  - TFakeDeviceClock: real time plus an offset that the test moves on from any thread;
//    its sleeps move the offset on instead of sleeping and are recorded, so a 40 s window
//    of 200 ms pauses passes in a moment while the byte time-outs of the link stay real;
//  - RunExchange: one SendCommand with its results;
//  - Seconds: real time since a point, for the tests of real-time paths;
//  - faults of the printer model and a clock jump once the printer has a request.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceClock.h"
#include "tests/printermodel/PrinterModel.h"

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

// A fault of the printer model Count times in a row.
inline model::FaultOptions Times(int Count) {
  model::FaultOptions O;
  O.count = Count;
  return O;
}

// Moves Clock on by Jump as soon as the printer has the first request; join the thread.
inline std::thread AdvanceAfterRequest(model::PrinterModel& Model, TFakeDeviceClock& Clock,
                                       std::chrono::milliseconds Jump) {
  return std::thread([&Model, &Clock, Jump] {
    Model.WaitForRequests(1, std::chrono::seconds(5));
    Clock.Advance(Jump);
  });
}

// One status exchange (Retries 4, the printer's record of requests emptied first) during
// which the printer sends SYN every 60 ms for 0.6 s of real time before its answer, while
// the clock jumps on by Jump.
inline TExchangeResult ExchangeWhileBusy(model::PrinterModel& Model, TFakeDeviceClock& Clock,
                                         TBaseDevice& Device, std::chrono::milliseconds Jump) {
  Model.ClearRequests();
  model::FaultOptions O;
  O.duration = std::chrono::milliseconds(600);
  O.interval = std::chrono::milliseconds(60);
  Model.InjectNext(model::Fault::Syn, O);
  std::thread Jumper = AdvanceAfterRequest(Model, Clock, Jump);
  TExchangeResult R = RunExchange(Device, 4);
  Jumper.join();
  return R;
}

}  // namespace fp
