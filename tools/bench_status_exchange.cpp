// Status exchanges per second over a pty: the serial device asks the printer model, which
// answers at once, for its status (command 0x4A with waiting), one exchange after another.
//
//   build-rel/bin/bench_status_exchange [--benchmark_min_time=2]
//
// The figure is items_per_second.
#include <benchmark/benchmark.h>

#include "library/transport/RS232DeviceUnit.h"
#include "tests/printermodel/PrinterModel.h"

namespace {

void StatusExchange(benchmark::State& State) {
  fp::model::PrinterModel Model;
  fp::model::PtyEndpoint Pty(Model);
  fp::TRS32Device Device;
  Device.SetPortName(Pty.SlavePath());
  Device.SetBaudRate("115200");
  if (!Device.Connect()) {
    State.SkipWithError(Device.FErrorText.c_str());
    return;
  }
  fp::TDataBuffer Status;
  for (auto _ : State) {
    if (!Device.GetFPR_Status(true, Status)) {
      State.SkipWithError(Device.FErrorText.c_str());
      break;
    }
    benchmark::DoNotOptimize(Status.data());
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(StatusExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
