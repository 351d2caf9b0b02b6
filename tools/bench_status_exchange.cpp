// Status exchanges per second over a pty, as a share of what the pty itself allows.
//
// The driver: the serial device asks the printer model, which answers at once, for its
// status (command 0x4A with waiting), one exchange after another. The floor: a bare
// write/poll/read loop does the same exchanges on a pty of its own: the same request
// frames (the SEQ stepping through 0x20..0x7F as the device steps it, so the model never
// answers a repeat from its cache) to the same model behind the same endpoint, which gives
// the same answers, each read until its last byte. The pty, the model and the wake-ups
// between the two threads cost the same on both sides, so the ratio of the two rates is
// what the device's own exchange path (building the frame, purging the port, reading and
// checking the answer, the status tests) leaves of the pty's rate.
//
//   build/release/bin/bench_status_exchange [--rounds N] [--block-ms MS]
//
// Each round runs the two for MS milliseconds each (defaults: 20 rounds of 250 ms), the
// driver first in odd rounds and the floor first in even ones, so that the load of a shared
// machine meets both alike. Prints every round and the medians; the ratio is the median of
// the rounds' ratios. Exits 1 when it is below 0.9, 2 when it could not measure.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "library/transport/RS232DeviceUnit.h"
#include "tests/printermodel/PrinterModel.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr double kTargetRatio = 0.9;
constexpr size_t kKeptRequests = 1000;  // the model's records stay small on both sides

// One side of the comparison: its own model behind its own pty.
class TSide {
 public:
  TSide() { FModel.SetRequestLimit(kKeptRequests); }
  virtual ~TSide() = default;
  // One status exchange; false with the reason when it failed.
  virtual bool Exchange(std::string& Why) = 0;

 protected:
  fp::model::PrinterModel FModel;
  fp::model::PtyEndpoint FPty{FModel};
};

class TDriverSide : public TSide {
 public:
  bool Open(std::string& Why) {
    FDevice.SetPortName(FPty.SlavePath());
    FDevice.SetBaudRate("115200");
    if (FDevice.Connect()) return true;
    Why = FDevice.FErrorText;
    return false;
  }
  bool Exchange(std::string& Why) override {
    if (FDevice.GetFPR_Status(true, FStatus)) return true;
    Why = FDevice.FErrorText;
    return false;
  }

 private:
  fp::TRS32Device FDevice;
  fp::TDataBuffer FStatus;
};

class TFloorSide : public TSide {
 public:
  ~TFloorSide() override {
    if (FFd >= 0) ::close(FFd);
  }
  bool Open(std::string& Why) {
    FFd = ::open(FPty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) {
      Why = std::strerror(errno);
      return false;
    }
    for (int seq = 0x20; seq <= 0x7F; ++seq) FFrames.push_back(fp::model::BuildRequest(uint8_t(seq), 0x4A, "W"));
    return true;
  }
  bool Exchange(std::string& Why) override {
    const std::string& frame = FFrames[FNext];
    FNext = (FNext + 1) % FFrames.size();
    if (::write(FFd, frame.data(), frame.size()) != ssize_t(frame.size())) {
      Why = "the floor's write failed";
      return false;
    }
    // 0x01, LEN - 0x20 bytes from LEN through the 0x05, four check sum bytes, 0x03.
    size_t got = 0;
    size_t size = 0;
    while (size == 0 || got < size) {
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, 1000) != 1) break;
      const ssize_t n = ::read(FFd, FAnswer + got, sizeof FAnswer - got);
      if (n <= 0) break;
      got += size_t(n);
      if (size == 0 && got >= 2) size = std::min<size_t>(FAnswer[1] - 0x20u + 6, sizeof FAnswer);
    }
    if (size != 0 && got == size && FAnswer[2] == uint8_t(frame[2]) && FAnswer[size - 1] == fp::model::kFrameEnd)
      return true;
    Why = "the floor got no answer, or not the answer to its request";
    return false;
  }

 private:
  int FFd = -1;
  std::vector<std::string> FFrames;
  size_t FNext = 0;
  uint8_t FAnswer[512];
};

// Exchanges for at least `Block` of real time; the exchanges per second, or a negative
// value with the reason when an exchange failed.
double RunBlock(TSide& Side, std::chrono::milliseconds Block, std::string& Why) {
  const TClock::time_point start = TClock::now();
  TClock::time_point end;
  long long exchanges = 0;
  do {
    if (!Side.Exchange(Why)) return -1;
    ++exchanges;
    end = TClock::now();
  } while (end - start < Block);
  return double(exchanges) / std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const size_t n = Values.size();
  return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 20;
  int blockMs = 250;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--block-ms") == 0 && i + 1 < argc) {
      blockMs = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_status_exchange [--rounds N] [--block-ms MS]\n");
      return 2;
    }
  }
  rounds = std::max(rounds, 1);
  const std::chrono::milliseconds block(std::max(blockMs, 10));

  try {
    TDriverSide driver;
    TFloorSide floor;
    std::string why;
    if (!driver.Open(why) || !floor.Open(why)) {
      std::fprintf(stderr, "bench_status_exchange: %s\n", why.c_str());
      return 2;
    }
    // A first block of each, not counted: threads started, pages touched, the model warm.
    if (RunBlock(driver, block, why) < 0 || RunBlock(floor, block, why) < 0) {
      std::fprintf(stderr, "bench_status_exchange: %s\n", why.c_str());
      return 2;
    }
    std::vector<double> driverRates, floorRates, ratios;
    for (int round = 1; round <= rounds; ++round) {
      double driverRate = 0, floorRate = 0;
      if (round % 2) {
        driverRate = RunBlock(driver, block, why);
        if (driverRate >= 0) floorRate = RunBlock(floor, block, why);
      } else {
        floorRate = RunBlock(floor, block, why);
        if (floorRate >= 0) driverRate = RunBlock(driver, block, why);
      }
      if (driverRate < 0 || floorRate < 0) {
        std::fprintf(stderr, "bench_status_exchange: round %d: %s\n", round, why.c_str());
        return 2;
      }
      driverRates.push_back(driverRate);
      floorRates.push_back(floorRate);
      ratios.push_back(driverRate / floorRate);
      std::printf("round %2d: driver %6.0f/s, pty floor %6.0f/s, ratio %.3f\n", round, driverRate, floorRate,
                  ratios.back());
    }
    const double ratio = Median(ratios);
    const auto [lowRatio, highRatio] = std::minmax_element(ratios.begin(), ratios.end());
    const auto [lowDriver, highDriver] = std::minmax_element(driverRates.begin(), driverRates.end());
    const auto [lowFloor, highFloor] = std::minmax_element(floorRates.begin(), floorRates.end());
    std::printf(
        "status exchanges per second, medians of %d rounds of %lld ms: driver %.0f (%.0f to %.0f), "
        "pty floor %.0f (%.0f to %.0f)\n"
        "driver / pty floor: %.3f (rounds %.3f to %.3f; target: at least %.2f) %s\n",
        rounds, static_cast<long long>(block.count()), Median(driverRates), *lowDriver, *highDriver, Median(floorRates),
        *lowFloor, *highFloor, ratio, *lowRatio, *highRatio, kTargetRatio, ratio >= kTargetRatio ? "met" : "MISSED");
    return ratio >= kTargetRatio ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_status_exchange: %s\n", e.what());
    return 2;
  }
}
