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
  fp::model::PrinterModel model;
  fp::model::PtyEndpoint pty(model);
  fp::TRS32Device device;
  device.SetPortName(pty.SlavePath());
  device.SetBaudRate("115200");
  if (!device.Connect()) {
    State.SkipWithError(device.FErrorText.c_str());
    return;
  }
  fp::TDataBuffer status;
  for (auto _ : State) {
    if (!device.GetFPR_Status(true, status)) {
      State.SkipWithError(device.FErrorText.c_str());
      break;
    }
    benchmark::DoNotOptimize(status.data());
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(StatusExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
