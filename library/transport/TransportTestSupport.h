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

namespace fp::test {

class TFakeDeviceClock final : public IDeviceClock {
 public:
  TTimePoint Now() override { return std::chrono::steady_clock::now() + std::chrono::milliseconds(FOffsetMs.load()); }
  void SleepFor(std::chrono::milliseconds Duration) override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FSleeps.push_back(Duration);
    }
    FOffsetMs += Duration.count();
  }
  void Advance(std::chrono::milliseconds Duration) { FOffsetMs += Duration.count(); }
  std::vector<std::chrono::milliseconds> Sleeps() {
    std::lock_guard<std::mutex> lock(FMutex);
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
inline TExchangeResult RunExchange(TBaseDevice& Device, uint8_t Retries, uint8_t Cmd = 0x4A, TDataBuffer Data = {'W'}) {
  TExchangeResult r;
  r.Data = std::move(Data);
  r.Ok = Device.SendCommand(Cmd, r.Data, Retries, r.Status);
  return r;
}

inline double SecondsSince(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

// A fault of the printer model Count times in a row.
inline model::FaultOptions Times(int Count) {
  model::FaultOptions o;
  o.count = Count;
  return o;
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
inline TExchangeResult ExchangeWhileBusy(model::PrinterModel& Model, TFakeDeviceClock& Clock, TBaseDevice& Device,
                                         std::chrono::milliseconds Jump) {
  Model.ClearRequests();
  model::FaultOptions o;
  o.duration = std::chrono::milliseconds(600);
  o.interval = std::chrono::milliseconds(60);
  Model.InjectNext(model::Fault::Syn, o);
  std::thread jumper = AdvanceAfterRequest(Model, Clock, Jump);
  TExchangeResult r = RunExchange(Device, 4);
  jumper.join();
  return r;
}

}  // namespace fp::test
