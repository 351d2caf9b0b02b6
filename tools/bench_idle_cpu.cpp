// The tray program's CPU use while it idles with many files of another extension in its
// receipt folder. Starts the program (offscreen, a program folder of its own) against the
// printer model on a pty named COM7 in a temporary registry, waits until its first start
// is over, puts the files into the receipt folder (NNNN.dat, a few bytes each), lets it
// idle and reads its CPU time (user + system, all threads, /proc/<pid>/stat) before and
// after.
//
//   build/release/bin/bench_idle_cpu [--files N] [--seconds S] [--keep]
//
// Defaults: 1000 files, 30 s. Prints the CPU time used and the share of one core; exits 1
// when it is 1% or more, 2 when it could not measure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "tools/FileDriverHarness.h"

namespace {

constexpr double kTargetPercent = 1.0;

}  // namespace

int main(int argc, char** argv) {
  using namespace fp::bench;
  int files = 1000;
  int seconds = 30;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
      files = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: bench_idle_cpu [--files N] [--seconds S] [--keep]\n");
      return 2;
    }
  }
  if (files < 0) files = 0;
  if (seconds < 1) seconds = 1;

  try {
    TFileDriverRun run;
    if (keep) run.Keep();
    std::string why;
    if (!run.WaitReady(why)) {
      std::fprintf(stderr, "bench_idle_cpu: %s (see %s)\n", why.c_str(), run.Root.c_str());
      run.Keep();
      return 2;
    }
    for (int i = 1; i <= files; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%04d.dat", i);
      WriteFile(run.Bon + name, "not a receipt\r\n");
    }
    // A few ticks to let the new folder contents settle in (first listings, file cache).
    std::this_thread::sleep_for(3s);
    const size_t requestsBefore = run.Model.RequestCount();
    const double cpuBefore = ProcessCpuSeconds(run.Pid);
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpuAfter = ProcessCpuSeconds(run.Pid);
    const double wall = Ms(Clock::now() - wallBefore) / 1000;
    if (cpuBefore < 0 || cpuAfter < 0 || !run.Running()) {
      std::fprintf(stderr, "bench_idle_cpu: cannot read the program's CPU time (see %s)\n", run.Root.c_str());
      run.Keep();
      return 2;
    }
    const double cpu = cpuAfter - cpuBefore;
    const double percent = 100 * cpu / wall;
    std::printf(
        "idle with %d files of another extension for %.1f s: CPU %.2f s, %.2f%% of one core "
        "(target: below %.0f%%) %s; printer requests meanwhile: %zu\n",
        files, wall, cpu, percent, kTargetPercent, percent < kTargetPercent ? "met" : "MISSED",
        run.Model.RequestCount() - requestsBefore);
    if (keep) std::printf("kept %s\n", run.Root.c_str());
    return percent < kTargetPercent ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_idle_cpu: %s\n", e.what());
    return 2;
  }
}
