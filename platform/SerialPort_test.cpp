#include "platform/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/PortTestSupport.h"
#include "platform/SerialPortSpeed.h"

namespace fp::test {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A pty pinned as COM7, as a printer on a real line would be.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(::openpty(&FMaster, &FSlave, name, nullptr, nullptr), 0);
    FPath = name;
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPath));
    FPort.SetPort("COM7");
  }
  void TearDown() override {
    if (FMaster >= 0) ::close(FMaster);
    ::close(FSlave);
  }
  // What the printer side receives within a short time.
  std::string Received() {
    std::string out;
    char buf[256];
    pollfd pfd{FMaster, POLLIN, 0};
    while (::poll(&pfd, 1, 200) > 0) {
      ssize_t n = ::read(FMaster, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, std::size_t(n));
    }
    return out;
  }

  test::TScopedTempRegistry FRegistry;
  test::TScopedFakeDevices FNoDevices;
  int FMaster = -1, FSlave = -1;
  std::string FPath;
  TComPort FPort;
};

TEST_F(SerialPortTest, OpensByNameWithRawEightNOne) {
  EXPECT_FALSE(FPort.Connected());
  FPort.Open();
  EXPECT_TRUE(FPort.Connected());
  termios tio{};
  ASSERT_EQ(::tcgetattr(FSlave, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  EXPECT_TRUE(tio.c_cflag & CREAD);
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(tio.c_oflag & OPOST);
  FPort.Close();
  EXPECT_FALSE(FPort.Connected());
  FPort.Close();  // closing a closed port does nothing
}

TEST_F(SerialPortTest, EveryTransportSpeedIsSet) {
  // The 15 speeds of the serial transport; 14400, 56000, 128000 and 256000 are custom ones.
  for (std::uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u,
                             115200u, 128000u, 256000u}) {
    SCOPED_TRACE(baud);
    FPort.SetBaudRate(baud);
    FPort.Open();
    EXPECT_EQ(FPort.DeviceBaudRate(), baud);
    FPort.Close();
  }
  // Changing the speed of an open port applies it at once.
  FPort.SetBaudRate(9600);
  FPort.Open();
  FPort.SetBaudRate(56000);
  EXPECT_EQ(FPort.DeviceBaudRate(), 56000u);
  FPort.SetBaudRate(19200);
  EXPECT_EQ(FPort.DeviceBaudRate(), 19200u);
}

TEST_F(SerialPortTest, WritesAndReadsBytes) {
  FPort.Open();
  const char frame[] = "\x01\x24\x20\x4A\x05\x30\x30\x3F\x3E\x03";
  EXPECT_EQ(FPort.Write(frame, 10), 10u);
  EXPECT_EQ(Received(), std::string(frame, 10));

  ASSERT_EQ(::write(FMaster, "\x16\x01\xFF", 3), 3);
  unsigned char b = 0;
  auto start = Clock::now();
  ASSERT_EQ(FPort.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0x16);
  ASSERT_EQ(FPort.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0x01);
  ASSERT_EQ(FPort.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0xFF);
  EXPECT_LT(MsSince(start), 50);  // bytes that are there come at once

  // Reading ahead: what is there, up to the room given.
  ASSERT_EQ(::write(FMaster, "abcdef", 6), 6);
  char buf[4];
  ::usleep(20000);
  EXPECT_EQ(FPort.ReadWait(buf, 4, 500), 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(FPort.ReadWait(buf, 4, 500), 2u);
}

TEST_F(SerialPortTest, ReadTimesOutAfterAboutATenthOfASecond) {
  FPort.Open();
  unsigned char b;
  auto start = Clock::now();
  EXPECT_EQ(FPort.Read(&b, 1), 0u);
  long ms = MsSince(start);
  EXPECT_GE(ms, 100);
  EXPECT_LT(ms, 250);

  // A longer wait ends as soon as a byte comes.
  std::thread printer([&] {
    ::usleep(150000);
    ASSERT_EQ(::write(FMaster, "\x06", 1), 1);
  });
  start = Clock::now();
  EXPECT_EQ(FPort.ReadWait(&b, 1, 2000), 1u);
  ms = MsSince(start);
  printer.join();
  EXPECT_EQ(b, 0x06);
  EXPECT_GE(ms, 140);
  EXPECT_LT(ms, 400);
}

TEST_F(SerialPortTest, PurgeDiscardsWaitingInput) {
  FPort.Open();
  ASSERT_EQ(::write(FMaster, "stale", 5), 5);
  ::usleep(20000);
  FPort.Purge();
  unsigned char b;
  EXPECT_EQ(FPort.ReadWait(&b, 1, 50), 0u);
}

TEST_F(SerialPortTest, FailuresCarryTheSystemsMessage) {
  struct Case {
    std::string name;
    int error;
  };
  const Case cases[] = {
      {"COM8", ENOENT},                  // neither mapped nor a device of the machine
      {"COMX", ENOENT},                  // not a port name at all
      {"/nonexistent/ttyUSB9", ENOENT},  // a device path
      {"/dev/null", ENOTTY},             // not a terminal
  };
  for (const Case& c : cases) {
    TComPort port;
    port.SetPort(c.name);
    try {
      port.Open();
      ADD_FAILURE() << c.name << " opened";
    } catch (const EComPortError& e) {
      EXPECT_EQ(e.Error, c.error) << c.name;
      EXPECT_STREQ(e.what(), std::strerror(c.error)) << c.name;
    }
    EXPECT_FALSE(port.Connected());
  }
  // A closed port refuses to work.
  unsigned char b = 0;
  EXPECT_THROW(FPort.Write(&b, 1), EComPortError);
  EXPECT_THROW(FPort.Read(&b, 1), EComPortError);
  EXPECT_THROW(FPort.Purge(), EComPortError);
}

TEST_F(SerialPortTest, PortInUseCannotBeOpenedTwice) {
  FPort.Open();
  TComPort second;
  second.SetPort(FPath);  // the same device by its path
  EXPECT_THROW(second.Open(), EComPortError);
  FPort.Close();
  EXPECT_NO_THROW(second.Open());
}

// The input and the output speed of the device as the kernel holds them.
std::pair<std::uint32_t, std::uint32_t> DeviceSpeeds(int fd) {
  std::uint32_t in = 0, out = 0;
  EXPECT_TRUE(serial_speed::GetSpeeds(fd, in, out));
  return {in, out};
}

TEST_F(SerialPortTest, InputAndOutputSpeedReadBackAsSetAfterEveryOpen) {
  // Custom speeds between standard ones: a standard speed after a custom one once changed
  // the output speed only, and the device kept the old input speed for the next user.
  using TSpeeds = std::pair<std::uint32_t, std::uint32_t>;
  for (std::uint32_t baud : {9600u, 56000u, 115200u, 14400u, 19200u, 128000u, 9600u, 256000u, 57600u}) {
    SCOPED_TRACE(baud);
    TComPort port;  // a new user each time, as a new Init or a new process would be
    port.SetPort("COM7");
    port.SetBaudRate(baud);
    port.Open();
    EXPECT_EQ(DeviceSpeeds(FSlave), TSpeeds(baud, baud));
    port.Close();
    EXPECT_EQ(DeviceSpeeds(FSlave), TSpeeds(baud, baud));  // kept by the device
  }
  // A change on the open port sets both as well.
  FPort.SetBaudRate(56000);
  FPort.Open();
  FPort.SetBaudRate(4800);
  EXPECT_EQ(DeviceSpeeds(FSlave), TSpeeds(4800, 4800));
}

bool ExclusiveMode(int fd) {
  int on = -1;
  EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &on), 0);
  return on != 0;
}

// A pty standing for a line (a serial device of the machine), which the port puts in
// exclusive mode.
class TLinePort : public TComPort {
 public:
  explicit TLinePort(const std::string& name) { SetPort(name); }

 protected:
  bool UsesExclusiveMode(int) const override { return true; }
};

constexpr int kNoChild = -1;

// Drops to the unprivileged user nobody when we are root (a privileged process may open an
// exclusive terminal all the same); false when that fails.
bool DropPrivileges() {
  if (::geteuid() != 0) return true;
  return ::setgid(65534) == 0 && ::setuid(65534) == 0 && ::geteuid() != 0;
}

// Runs body in a child process (unprivileged: see DropPrivileges) and returns its result
// (0 to 254), kNoChild when no such child could be made.
int InChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = ::fork();
  if (pid < 0) return kNoChild;
  if (pid == 0) {
    if (unprivileged && !DropPrivileges()) ::_exit(255);
    ::_exit(body() & 0xFF);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return kNoChild;
  return WEXITSTATUS(status) == 255 ? kNoChild : WEXITSTATUS(status);
}

// A child process that opens path with a port of the driver and holds it until it is
// killed (SIGKILL: nothing of the driver's runs after it); kNoChild when it could not.
pid_t StartHolder(const std::string& path, bool unprivileged) {
  int ready[2];
  if (::pipe(ready) != 0) return kNoChild;
  const pid_t pid = ::fork();
  if (pid < 0) return kNoChild;
  if (pid == 0) {
    ::close(ready[0]);
    if (unprivileged && !DropPrivileges()) ::_exit(1);
    TComPort port;
    port.SetPort(path);
    try {
      port.Open();
    } catch (...) {
      ::_exit(1);
    }
    if (::write(ready[1], "!", 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  const bool opened = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  if (!opened) {
    ::waitpid(pid, nullptr, 0);
    return kNoChild;
  }
  return pid;
}

void Kill(pid_t pid) {
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
}

// Opens path with a port of the driver and sends one byte: 0 when done, else the error
// (at most 254; 254 for a port opened but not writable).
int OpenAndSend(const std::string& path) {
  TComPort port;
  port.SetPort(path);
  try {
    port.Open();
    return port.Write("R", 1) == 1 ? 0 : 254;
  } catch (const EComPortError& e) {
    return e.Error == 0 ? 254 : (e.Error & 0x7F);
  }
}

TEST_F(SerialPortTest, LineIsHeldExclusivelyWhileOpen) {
  TLinePort line("COM7");
  EXPECT_FALSE(ExclusiveMode(FSlave));
  line.Open();
  EXPECT_TRUE(ExclusiveMode(FSlave));
  line.Close();
  EXPECT_FALSE(ExclusiveMode(FSlave));  // cleared before closing, or it would outlive us
  {
    TLinePort port("COM7");
    port.Open();
    EXPECT_TRUE(ExclusiveMode(FSlave));
  }
  EXPECT_FALSE(ExclusiveMode(FSlave));  // also when the port object goes without Close

  // A program that does not take the lock (a terminal program) cannot open it beside us.
  ASSERT_EQ(::chmod(FPath.c_str(), 0666), 0);
  auto openBeside = [&] {
    return InChild(
        [&] {
          const int fd = ::open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
          return fd >= 0 ? 0 : (errno & 0x7F);
        },
        true);
  };
  const int before = openBeside();
  if (before == kNoChild) GTEST_SKIP() << "no unprivileged child process can be made here";
  ASSERT_EQ(before, 0) << std::strerror(before);
  line.Open();
  EXPECT_EQ(openBeside(), EBUSY);
  line.Close();
  EXPECT_EQ(openBeside(), 0);
}

TEST_F(SerialPortTest, PortHeldByAnotherUserIsReportedAsInUse) {
  for (bool line : {false, true}) {
    SCOPED_TRACE(line ? "line" : "virtual port");
    // A virtual port keeps no exclusive mode, a line does.
    std::unique_ptr<TComPort> first = std::make_unique<TComPort>();
    if (line) first = std::make_unique<TLinePort>("COM7");
    first->SetPort("COM7");
    first->Open();
    TComPort second;
    second.SetPort("COM7");
    try {
      second.Open();
      ADD_FAILURE() << "opened twice";
    } catch (const EComPortError& e) {
      // The lock refuses it (EWOULDBLOCK), or the exclusive mode already the open (EBUSY).
      EXPECT_TRUE(e.Error == EWOULDBLOCK || e.Error == EBUSY) << e.Error;
      EXPECT_STREQ(e.what(), "COM7 is in use by another program");
      EXPECT_TRUE(e.InUse);
    }
    EXPECT_FALSE(second.Connected());
    EXPECT_EQ(ExclusiveMode(FSlave), line);  // the refused user does not take the mode away
    EXPECT_EQ(Received(), "");
  }
}

// A terminal program holds the port in exclusive mode without taking the lock. Where the
// system lets us open it all the same (as root), the port is refused as in use, and the
// program keeps its mode.
TEST_F(SerialPortTest, PortInAnotherProgramsExclusiveModeIsInUseAndKeepsTheMode) {
  ASSERT_EQ(::ioctl(FSlave, TIOCEXCL), 0);
  TLinePort line("COM7");
  for (TComPort* port : {&FPort, static_cast<TComPort*>(&line)}) {
    try {
      port->Open();
      ADD_FAILURE() << "opened beside the exclusive holder";
    } catch (const EComPortError& e) {
      EXPECT_EQ(e.Error, EBUSY);
      EXPECT_STREQ(e.what(), "COM7 is in use by another program");
    }
    EXPECT_FALSE(port->Connected());
    EXPECT_TRUE(ExclusiveMode(FSlave));
    EXPECT_THROW(port->Open(), EComPortError);  // and again, for the next job
    EXPECT_TRUE(ExclusiveMode(FSlave));
  }

  // The program gives the mode up: the port opens, takes the mode, and clears its own.
  ASSERT_EQ(::ioctl(FSlave, TIOCNXCL), 0);
  line.Open();
  EXPECT_TRUE(ExclusiveMode(FSlave));
  line.Close();
  EXPECT_FALSE(ExclusiveMode(FSlave));
}

// A driver killed while it holds a virtual port whose other side stays (a bridge, the
// printer model): its restart, as the same user, gets the port back and prints through it.
TEST_F(SerialPortTest, KilledDriversRestartGetsItsVirtualPortBack) {
  ASSERT_EQ(::chmod(FPath.c_str(), 0666), 0);
  for (bool unprivileged : {true, false}) {
    SCOPED_TRACE(unprivileged ? "unprivileged user" : "this process's user");
    const pid_t holder = StartHolder(FPath, unprivileged);
    if (holder == kNoChild) GTEST_SKIP() << "no unprivileged child process can be made here";
    Kill(holder);
    EXPECT_FALSE(ExclusiveMode(FSlave));
    const int restart = InChild([&] { return OpenAndSend(FPath); }, unprivileged);
    EXPECT_EQ(restart, 0) << (restart > 0 ? std::strerror(restart) : "no child");
    EXPECT_EQ(Received(), "R");
  }
  // The same within one process: the port object that held it is gone without a word.
  const pid_t holder = StartHolder(FPath, false);
  ASSERT_NE(holder, kNoChild);
  Kill(holder);
  FPort.Open();
  EXPECT_EQ(FPort.Write("S", 1), 1u);
  EXPECT_EQ(Received(), "S");
}

// Earlier builds took a file in the machine's lock folder for their own mark of the mode
// (a process id and the terminal's change time) and trusted it whoever wrote it. Each case
// runs in a mount namespace of its own over an empty private folder in that place, so the
// machine's folder is neither read nor written; what is planted there has no say.
TEST_F(SerialPortTest, NothingPlantedInTheLockFolderHasASay) {
  if (::geteuid() != 0) GTEST_SKIP() << "only a privileged open gets past another program's mode";
  const pid_t ended = ::fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  struct stat node {};
  ASSERT_EQ(::stat(FPath.c_str(), &node), 0);
  const long long changeNs = static_cast<long long>(node.st_ctim.tv_sec) * 1000000000LL + node.st_ctim.tv_nsec;
  const std::string markName =
      "/run/lock/miravok-fp-excl." + std::to_string(major(node.st_rdev)) + "." + std::to_string(minor(node.st_rdev));
  struct Case {
    const char* what;
    bool anotherProgramsMode;  // else a driver holding the port is killed first
    long long markPid, markChangeNs;
    int expected;  // OpenAndSend's result
  };
  const Case cases[] = {
      {"a forged mark of an ended process on another program's mode", true, ended, changeNs, EBUSY},
      {"another user's mark of a live process", false, 1, changeNs, 0},
      {"another user's mark of an earlier terminal with the same number", false, ended, changeNs - 1, 0},
  };
  constexpr int kNoNamespace = 253;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.anotherProgramsMode) {
      ASSERT_EQ(::ioctl(FSlave, TIOCEXCL), 0);
    }
    const int result = InChild(
        [&] {
          if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
              ::mount("none", "/run/lock", "tmpfs", 0, "mode=1777") != 0)
            return kNoNamespace;
          const int mark = ::open(markName.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
          const std::string text = std::to_string(c.markPid) + " " + std::to_string(c.markChangeNs) + "\n";
          if (mark < 0 || ::write(mark, text.data(), text.size()) != ssize_t(text.size()) ||
              ::fchown(mark, 65534, 65534) != 0 || ::close(mark) != 0)
            return kNoNamespace;
          if (!c.anotherProgramsMode) {
            const pid_t holder = StartHolder(FPath, false);
            if (holder == kNoChild || ::kill(holder, SIGKILL) != 0 || ::waitpid(holder, nullptr, 0) != holder)
              return 252;
          }
          return OpenAndSend(FPath);
        },
        false);
    if (result == kNoNamespace) GTEST_SKIP() << "no mount namespace of our own can be made here";
    EXPECT_EQ(result, c.expected) << (result > 0 ? std::strerror(result) : "");
    EXPECT_EQ(Received(), c.expected == 0 ? "R" : "");
    EXPECT_EQ(ExclusiveMode(FSlave), c.anotherProgramsMode);  // that program's mode stays
    ASSERT_EQ(::ioctl(FSlave, TIOCNXCL), 0);
  }
}

TEST_F(SerialPortTest, HangUpIsALineFailure) {
  FPort.Open();
  ::close(FMaster);
  FMaster = -1;
  unsigned char b;
  auto start = Clock::now();
  EXPECT_THROW(FPort.ReadWait(&b, 1, 1000), EComPortError);
  EXPECT_LT(MsSince(start), 500);
}

}  // namespace
}  // namespace fp::test
