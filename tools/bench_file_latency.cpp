// The time from a receipt file landing in the receipt folder to the first request on the
// wire. Starts the tray program (offscreen, a program folder of its own) against the
// printer model on a pty named COM7 in a temporary registry, waits until its first start
// is over, then drops N receipt files one at a time (written as NNNN.tmp, renamed to
// NNNN.bon) and measures from the rename to the first request the model receives for
// that file. After each receipt it waits a growing part of a second before the next one,
// so that the drops fall at N different phases of the program's one-second file timer.
//
//   build/release/bin/bench_file_latency [--count N] [--keep]
//
// Prints every sample, the median and the maximum; exits 1 when the maximum is above the
// target (1.6 s), 2 when it could not measure.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "tools/FileDriverHarness.h"

namespace {

constexpr double kTargetMs = 1600;

}  // namespace

int main(int argc, char** argv) {
  using namespace fp::bench;
  int count = 10;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
      count = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: bench_file_latency [--count N] [--keep]\n");
      return 2;
    }
  }
  if (count < 1) count = 1;

  try {
    TFileDriverRun run;
    if (keep) run.Keep();
    std::string why;
    if (!run.WaitReady(why)) {
      std::fprintf(stderr, "bench_file_latency: %s (see %s)\n", why.c_str(), run.Root.c_str());
      run.Keep();
      return 2;
    }
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
      // The previous receipt ended a fixed time after a tick: waiting i/N of a second more
      // moves this drop across the timer's phase.
      std::this_thread::sleep_for(std::chrono::milliseconds(300 + 1000 * i / count));
      char name[16];
      std::snprintf(name, sizeof name, "%04d", i + 1);
      const size_t before = run.Model.RequestCount();
      const auto dropped = run.DropReceipt(name);
      if (!run.Model.WaitForRequests(before + 1, std::chrono::seconds(30))) {
        std::fprintf(stderr, "bench_file_latency: no request for %s.bon (see %s)\n", name, run.Root.c_str());
        run.Keep();
        return 2;
      }
      const double ms = Ms(Clock::now() - dropped);
      samples.push_back(ms);
      std::printf("%s.bon: %7.1f ms\n", name, ms);
      std::fflush(stdout);
      if (!run.WaitPrinted(name, why)) {
        std::fprintf(stderr, "bench_file_latency: %s (see %s)\n", why.c_str(), run.Root.c_str());
        run.Keep();
        return 2;
      }
    }
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    const double max = sorted.back();
    std::printf(
        "receipt file to first request, %zu files: median %.0f ms, min %.0f ms, max %.0f ms "
        "(target: at most %.0f ms) %s\n",
        n, median, sorted.front(), max, kTargetMs, max <= kTargetMs ? "met" : "MISSED");
    if (keep) std::printf("kept %s\n", run.Root.c_str());
    return max <= kTargetMs ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_file_latency: %s\n", e.what());
    return 2;
  }
}
