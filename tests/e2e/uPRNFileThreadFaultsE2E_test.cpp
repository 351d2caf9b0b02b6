// The file job under faults that take the real library and real processes: the serial
// device vanishing in the middle of a receipt, with the printer model behind a pty that
// can be unplugged, and two runner programs started on one receipt folder. The faults of
// the job's surroundings that need neither stay beside the worker.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/uPRNFileThreadTestSupport.h"
#include "platform/ComPortNames.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

extern char** environ;

namespace fp::test {
namespace {

using namespace std::chrono_literals;

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// ---- The serial device gone in the middle of a receipt ----

const std::string kRunner = std::string(FP_BIN_DIR) + "/soak_runner";

// The printer model behind a pty of its own whose master side can be closed, as when a
// USB serial adapter is pulled out: the host's reads and writes on the line fail from
// then on and the device name goes away. `unplugOn` closes it when a request with that
// command byte arrives, before the model sees it.
class TUnpluggablePty {
 public:
  explicit TUnpluggablePty(model::PrinterModel& model, int unplugOn = -1) : FModel(model), FUnplugOn(unplugOn) {
    char name[256] = {};
    if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(FSlave, F_SETFD, FD_CLOEXEC);
    termios t{};
    ::tcgetattr(FSlave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FSlave, TCSANOW, &t);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    Path = name;
    if (::pipe2(FStop, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    FThread = std::thread([this] { Serve(); });
  }
  ~TUnpluggablePty() {
    (void)!::write(FStop[1], "x", 1);
    FThread.join();
    Unplug();
    ::close(FStop[0]);
    ::close(FStop[1]);
  }
  bool Unplugged() const { return FGone.load(); }
  std::string Path;

 private:
  void Unplug() {
    std::lock_guard<std::mutex> lock(FM);
    if (FMaster >= 0) ::close(FMaster);
    if (FSlave >= 0) ::close(FSlave);
    FMaster = FSlave = -1;
  }
  void Serve() {
    model::RequestParser parser;
    char buf[512];
    while (!FGone) {
      pollfd p[2] = {{FStop[0], POLLIN, 0}, {FMaster, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
      if (p[0].revents) return;
      const ssize_t n = ::read(FMaster, buf, sizeof buf);
      if (n <= 0) {
        std::this_thread::sleep_for(5ms);
        continue;
      }
      for (ssize_t i = 0; i < n && !FGone; ++i) {
        const auto frame = parser.Push(static_cast<uint8_t>(buf[i]));
        if (!frame) continue;
        if (frame->cmd == FUnplugOn) {
          Unplug();
          FGone = true;
          break;
        }
        for (const model::WireAction& a : FModel.OnFrame(*frame)) {
          if (a.kind == model::WireAction::Kind::Sleep) std::this_thread::sleep_for(a.duration);
          if (a.kind != model::WireAction::Kind::Write) continue;
          for (size_t done = 0; done < a.bytes.size();) {
            const ssize_t w = ::write(FMaster, a.bytes.data() + done, a.bytes.size() - done);
            if (w > 0)
              done += static_cast<size_t>(w);
            else if (w < 0 && errno != EAGAIN && errno != EINTR)
              break;
          }
        }
      }
    }
  }
  model::PrinterModel& FModel;
  int FUnplugOn;
  int FMaster = -1, FSlave = -1;
  int FStop[2] = {-1, -1};
  std::mutex FM;
  std::atomic<bool> FGone{false};
  std::thread FThread;
};

class TDeviceGone : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    FPrnFactory = {};  // the real object, by class identifier
  }
  std::unique_ptr<TECRFileThread> Com7Job() {
    auto t = FileJob();
    t->SetComPort(7);
    t->SetBaudRate(115200);
    return t;
  }

  TScopedTempRegistry FRegistry;
  TScopedFakeDevices FNoOtherPorts;
  model::PrinterModel FModel;
  // The jobs run on the test's thread and initialise it for the component runtime themselves.
  TRegisteredLibrary FLibrary{TRegisteredLibrary::TThreadInit::LeaveToTheCode};
};

// The line goes dead when the printer is asked for the first sale of an opened receipt:
// the job ends at once with the printer gone, the receipt that may have printed is kept
// as an unknown outcome, the next file waits; while the device is missing a job fails
// without touching the files; plugged in again, the next file prints alone, and nothing
// of the dead receipt reaches it.
TEST_F(TDeviceGone, SerialDeviceUnpluggedInTheMiddleOfAReceipt) {
  Put("0001.bon", "%12^Water^150^2000\r\n", 60);
  Put("0002.bon", "%13^Bread^120^1000\r\n#E1^5.00\r\n", 50);
  auto dead = std::make_unique<TUnpluggablePty>(FModel, 0x3A);  // the sale of a programmed article
  ASSERT_TRUE(TComPortNames::SetMapping("COM7", dead->Path));

  auto job = Com7Job();
  const auto started = std::chrono::steady_clock::now();
  job->Execute();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_TRUE(dead->Unplugged());
  EXPECT_EQ(job->ErrorKind(), ekPrinterFatal);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.bon"})) << Read("0001.rep");
  EXPECT_EQ(Read("0001.unk"), "%12^Water^150^2000\r\n");
  ASSERT_TRUE(FModel.State().open.has_value());

  // The dead terminal's number is free for any other process's pty from now on: the missing
  // device is a name that surely is not there, not that number.
  dead.reset();
  ASSERT_TRUE(TComPortNames::SetMapping("COM7", FRegistry.Dir + "/unplugged-tty"));
  auto missing = Com7Job();
  missing->Execute();
  EXPECT_EQ(missing->ErrorKind(), ekPrinterFatal);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.bon"}));

  TUnpluggablePty back(FModel);
  ASSERT_TRUE(TComPortNames::SetMapping("COM7", back.Path));
  auto again = Com7Job();
  again->Execute();
  EXPECT_EQ(again->ErrorMessage(), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
  const model::ModelState state = FModel.State();
  EXPECT_FALSE(state.open.has_value());
  std::vector<std::string> printed;
  int cancelled = 0;
  for (const model::Receipt& r : state.closed) {
    cancelled += r.cancelled;
    if (!r.cancelled)
      for (const model::Item& item : r.items) printed.push_back(item.text1);
  }
  EXPECT_EQ(cancelled, 1);  // the dead receipt, by the next opening
  EXPECT_EQ(printed, std::vector<std::string>{"Bread"});
}

// ---- Two programs on one folder, for real ----

// Two runner processes print from one folder, each to a printer of its own, started at
// the same moment over receipts that all wait at once: every receipt prints exactly once
// on one of the two printers, and none ends as an error or an unknown outcome.
class TTwoPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kRunner.c_str(), X_OK) != 0) GTEST_SKIP() << "the runner is not built: " << kRunner;
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPtyA.SlavePath()));
    ASSERT_TRUE(TComPortNames::SetMapping("COM8", FPtyB.SlavePath()));
    FRoot = QString::fromStdString(FRegistry.Dir) + "/two/";
    FOlder = FRoot + "bon/";
    ASSERT_TRUE(QDir().mkpath(FOlder));
    FModelA.SetModeWord("ONLINE");  // the opening carries the unique sale number
    FModelB.SetModeWord("ONLINE");
  }
  void TearDown() override {
    for (pid_t pid : FPids) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  pid_t Spawn(const char* com, const QString& logs) {
    const std::string out = (FRoot + "runner" + com + ".out").toStdString();
    std::vector<std::string> args = {kRunner, "--folder", FOlder.toStdString(), "--log", logs.toStdString(),
                                     "--com", com,        "--tick-ms",          "50",    "--idle-exit-ms",
                                     "1500"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kRunner.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc == 0) FPids.push_back(pid);
    return rc == 0 ? pid : -1;
  }

  TScopedTempRegistry FRegistry;
  TScopedFakeDevices FNoOtherPorts;
  model::PrinterModel FModelA, FModelB;
  model::PtyEndpoint FPtyA{FModelA}, FPtyB{FModelB};
  TRegisteredLibrary FLibrary;
  QString FRoot, FOlder;
  std::vector<pid_t> FPids;
};

TEST_F(TTwoPrograms, EachFileIsClaimedByOne) {
  constexpr int kFiles = 40;
  for (int i = 1; i <= kFiles; ++i) {
    const QString name = QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
    QFile f(FOlder + name + ".tmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#UTWO-%1\r\n%12^Water^150^1000\r\n").arg(name).toLatin1());
    f.close();
    ASSERT_TRUE(QFile::rename(FOlder + name + ".tmp", FOlder + name + ".bon"));
  }
  // Stamped in the past: every file is ready at the runners' first look.
  for (const QString& name : QDir(FOlder).entryList(QDir::Files)) {
    timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Bytes(FOlder + name).c_str(), times, 0), 0);
  }
  ASSERT_GT(Spawn("7", FRoot + "LogA"), 0);
  ASSERT_GT(Spawn("8", FRoot + "LogB"), 0);
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  for (pid_t& pid : FPids) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(20ms);
  }
  FPids.clear();

  std::map<std::string, int> printed;
  for (const model::PrinterModel* m : {&FModelA, &FModelB})
    for (const model::Receipt& r : m->State().closed)
      if (!r.cancelled) ++printed[r.uniqueSellNo];
  std::map<std::string, int> expected;
  for (int i = 1; i <= kFiles; ++i)
    expected[QStringLiteral("TWO-%1").arg(i, 4, 10, QLatin1Char('0')).toStdString()] = 1;
  EXPECT_EQ(printed, expected);
  QStringList left = QDir(FOlder).entryList(QDir::Files);
  left.removeIf([](const QString& n) { return n.endsWith(".rep"); });
  EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

}  // namespace
}  // namespace fp::test
