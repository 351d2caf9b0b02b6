#include "platform/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

// Opens Path in a child process that runs as the unprivileged user nobody (a privileged
// process may open an exclusive terminal all the same). The result is 0 when the open
// succeeded, else its errno; -1 when no such child could be made.
int OpenAsUnprivileged(const std::string& path) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
    if (::geteuid() == 0) ::_exit(255);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::_exit(fd >= 0 ? 0 : (errno & 0x7F));
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

TEST_F(SerialPortTest, PortIsHeldExclusivelyWhileOpen) {
  EXPECT_FALSE(ExclusiveMode(FSlave));
  FPort.Open();
  EXPECT_TRUE(ExclusiveMode(FSlave));
  FPort.Close();
  EXPECT_FALSE(ExclusiveMode(FSlave));  // cleared before closing, or it would outlive us
  {
    TComPort port;
    port.SetPort("COM7");
    port.Open();
    EXPECT_TRUE(ExclusiveMode(FSlave));
  }
  EXPECT_FALSE(ExclusiveMode(FSlave));  // also when the port object goes without Close

  // A program that does not take the lock (a terminal program) cannot open it beside us.
  ASSERT_EQ(::chmod(FPath.c_str(), 0666), 0);
  const int before = OpenAsUnprivileged(FPath);
  if (before == -1) GTEST_SKIP() << "no unprivileged child process can be made here";
  ASSERT_EQ(before, 0) << std::strerror(before);
  FPort.Open();
  EXPECT_EQ(OpenAsUnprivileged(FPath), EBUSY);
  FPort.Close();
  EXPECT_EQ(OpenAsUnprivileged(FPath), 0);
}

TEST_F(SerialPortTest, PortHeldByAnotherUserIsReportedAsInUse) {
  FPort.Open();
  TComPort second;
  second.SetPort("COM7");
  try {
    second.Open();
    ADD_FAILURE() << "opened twice";
  } catch (const EComPortError& e) {
    // The lock refuses it (EWOULDBLOCK), or the exclusive mode already the open (EBUSY).
    EXPECT_TRUE(e.Error == EWOULDBLOCK || e.Error == EBUSY) << e.Error;
    EXPECT_STREQ(e.what(), "COM7 is in use by another program");
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(ExclusiveMode(FSlave));  // the refused user does not take the mode away
  EXPECT_EQ(Received(), "");
}

// A terminal program holds the port in exclusive mode without taking the lock. Where the
// system lets us open it all the same (as root), the port is refused as in use, and the
// program keeps its mode.
TEST_F(SerialPortTest, PortInAnotherProgramsExclusiveModeIsInUseAndKeepsTheMode) {
  ASSERT_EQ(::ioctl(FSlave, TIOCEXCL), 0);
  try {
    FPort.Open();
    ADD_FAILURE() << "opened beside the exclusive holder";
  } catch (const EComPortError& e) {
    EXPECT_EQ(e.Error, EBUSY);
    EXPECT_STREQ(e.what(), "COM7 is in use by another program");
  }
  EXPECT_FALSE(FPort.Connected());
  EXPECT_TRUE(ExclusiveMode(FSlave));
  EXPECT_THROW(FPort.Open(), EComPortError);  // and again, for the next job
  EXPECT_TRUE(ExclusiveMode(FSlave));

  // The program gives the mode up: the port opens, takes the mode, and clears its own.
  ASSERT_EQ(::ioctl(FSlave, TIOCNXCL), 0);
  FPort.Open();
  EXPECT_TRUE(ExclusiveMode(FSlave));
  FPort.Close();
  EXPECT_FALSE(ExclusiveMode(FSlave));
}

// A process of the driver that ends without closing the port (killed) leaves the
// exclusive mode on a terminal that stays (a pty whose other side is held). That mode is
// no other program's: the next open takes it over, and its close clears it.
TEST_F(SerialPortTest, ModeLeftByAKilledProcessOfTheDriverIsTakenOver) {
  if (::access("/run/lock", W_OK) != 0) GTEST_SKIP() << "no folder for the marks of the mode here";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TComPort port;
    port.SetPort(FPath);
    try {
      port.Open();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);  // ends without closing, as a killed process does
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(ExclusiveMode(FSlave));

  FPort.Open();
  EXPECT_TRUE(ExclusiveMode(FSlave));
  FPort.Close();
  EXPECT_FALSE(ExclusiveMode(FSlave));
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
