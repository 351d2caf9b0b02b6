// Status exchanges per second over a pty, as a share of what the pty itself allows.
//
// The driver: the serial device asks the printer model, which answers at once, for its
// status (command 0x4A with waiting), one exchange after another. The floor: a bare
// write/poll/read loop does the same exchanges with the same model on the same pty (both
// hold the slave open and take turns): the same request frames (the SEQ stepping through
// 0x20..0x7F as the device steps it), the same answers, each read until its last byte. The
// pty, the model's thread and the wake-ups between the threads are the same for both, so
// the ratio of the two rates is what the device's own exchange path (building the frame,
// purging the port, reading and checking the answer, the status tests) leaves of the
// pty's rate.
//
//   build/release/bin/bench_status_exchange [--rounds N] [--exchanges K]
//
// Each round runs K exchanges of each (defaults: 500 rounds of 100), the driver first in
// odd rounds and the floor first in even ones. Rounds this short see the same load of a
// shared machine on both sides, and the median of the rounds' ratios passes over the
// rounds that a burst of load hit on one side only. Prints the medians with the middle
// half of the rounds; exits 1 when the ratio is below 0.9, 2 when it could not measure.
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
constexpr size_t kKeptRequests = 1000;

// One side of the comparison on the pty's slave.
class TSide {
 public:
  virtual ~TSide() = default;
  // One status exchange; false with the reason when it failed.
  virtual bool Exchange(std::string& Why) = 0;
};

class TDriverSide : public TSide {
 public:
  bool Open(const std::string& Slave, std::string& Why) {
    FDevice.SetPortName(Slave);
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
  bool Open(const std::string& Slave, std::string& Why) {
    FFd = ::open(Slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
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

// `Count` exchanges; the exchanges per second, or a negative value with the reason when an
// exchange failed.
double RunBlock(TSide& Side, int Count, std::string& Why) {
  const TClock::time_point start = TClock::now();
  for (int i = 0; i < Count; ++i)
    if (!Side.Exchange(Why)) return -1;
  return Count / std::chrono::duration<double>(TClock::now() - start).count();
}

// The value below which the share Q (0..1) of Values lies, between neighbours.
double Quantile(std::vector<double> Values, double Q) {
  std::sort(Values.begin(), Values.end());
  const double at = Q * double(Values.size() - 1);
  const size_t low = size_t(at);
  const size_t high = std::min(low + 1, Values.size() - 1);
  return Values[low] + (Values[high] - Values[low]) * (at - double(low));
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 500;
  int exchanges = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--exchanges") == 0 && i + 1 < argc) {
      exchanges = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_status_exchange [--rounds N] [--exchanges K]\n");
      return 2;
    }
  }
  rounds = std::max(rounds, 1);
  const int block = std::max(exchanges, 1);

  try {
    fp::model::PrinterModel model;
    model.SetRequestLimit(kKeptRequests);  // the records stay small
    // The two sides step their SEQ apart: a side whose first frame repeated the other's last
    // would be answered from the model's kept answer, without running the command.
    model.SetRepeatDetection(false);
    fp::model::PtyEndpoint pty(model);
    TFloorSide floor;
    TDriverSide driver;
    std::string why;
    // The floor first: it takes no lock, and a line in the device's exclusive mode would keep it out.
    if (!floor.Open(pty.SlavePath(), why) || !driver.Open(pty.SlavePath(), why)) {
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
    }
    const double ratio = Quantile(ratios, 0.5);
    std::printf(
        "status exchanges per second, median of %d rounds of %d exchanges each (the middle half of the rounds):\n"
        "  driver    %6.0f (%.0f to %.0f)\n"
        "  pty floor %6.0f (%.0f to %.0f)\n"
        "driver / pty floor: %.3f (%.3f to %.3f; target: at least %.2f) %s\n",
        rounds, block, Quantile(driverRates, 0.5), Quantile(driverRates, 0.25), Quantile(driverRates, 0.75),
        Quantile(floorRates, 0.5), Quantile(floorRates, 0.25), Quantile(floorRates, 0.75), ratio,
        Quantile(ratios, 0.25), Quantile(ratios, 0.75), kTargetRatio, ratio >= kTargetRatio ? "met" : "MISSED");
    return ratio >= kTargetRatio ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_status_exchange: %s\n", e.what());
    return 2;
  }
}
