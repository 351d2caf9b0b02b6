#include "platform/SerialPort.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/PortTestSupport.h"

namespace fp {
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
    ASSERT_EQ(::openpty(&Master, &Slave, name, nullptr, nullptr), 0);
    Path = name;
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", Path));
    Port.SetPort("COM7");
  }
  void TearDown() override {
    if (Master >= 0) ::close(Master);
    ::close(Slave);
  }
  // What the printer side receives within a short time.
  std::string Received() {
    std::string out;
    char buf[256];
    pollfd pfd{Master, POLLIN, 0};
    while (::poll(&pfd, 1, 200) > 0) {
      ssize_t n = ::read(Master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, std::size_t(n));
    }
    return out;
  }

  test::TScopedTempRegistry Registry;
  test::TScopedFakeDevices NoDevices;
  int Master = -1, Slave = -1;
  std::string Path;
  TComPort Port;
};

TEST_F(SerialPortTest, OpensByNameWithRawEightNOne) {
  EXPECT_FALSE(Port.Connected());
  Port.Open();
  EXPECT_TRUE(Port.Connected());
  termios tio{};
  ASSERT_EQ(::tcgetattr(Slave, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  EXPECT_TRUE(tio.c_cflag & CREAD);
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(tio.c_oflag & OPOST);
  Port.Close();
  EXPECT_FALSE(Port.Connected());
  Port.Close();  // closing a closed port does nothing
}

TEST_F(SerialPortTest, EveryTransportSpeedIsSet) {
  // The 15 speeds of the serial transport; 14400, 56000, 128000 and 256000 are custom ones.
  for (std::uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                             56000u, 57600u, 115200u, 128000u, 256000u}) {
    SCOPED_TRACE(baud);
    Port.SetBaudRate(baud);
    Port.Open();
    EXPECT_EQ(Port.DeviceBaudRate(), baud);
    Port.Close();
  }
  // Changing the speed of an open port applies it at once.
  Port.SetBaudRate(9600);
  Port.Open();
  Port.SetBaudRate(56000);
  EXPECT_EQ(Port.DeviceBaudRate(), 56000u);
  Port.SetBaudRate(19200);
  EXPECT_EQ(Port.DeviceBaudRate(), 19200u);
}

TEST_F(SerialPortTest, WritesAndReadsBytes) {
  Port.Open();
  const char frame[] = "\x01\x24\x20\x4A\x05\x30\x30\x3F\x3E\x03";
  EXPECT_EQ(Port.Write(frame, 10), 10u);
  EXPECT_EQ(Received(), std::string(frame, 10));

  ASSERT_EQ(::write(Master, "\x16\x01\xFF", 3), 3);
  unsigned char b = 0;
  auto start = Clock::now();
  ASSERT_EQ(Port.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0x16);
  ASSERT_EQ(Port.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0x01);
  ASSERT_EQ(Port.Read(&b, 1), 1u);
  EXPECT_EQ(b, 0xFF);
  EXPECT_LT(MsSince(start), 50);  // bytes that are there come at once

  // Reading ahead: what is there, up to the room given.
  ASSERT_EQ(::write(Master, "abcdef", 6), 6);
  char buf[4];
  ::usleep(20000);
  EXPECT_EQ(Port.ReadWait(buf, 4, 500), 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(Port.ReadWait(buf, 4, 500), 2u);
}

TEST_F(SerialPortTest, ReadTimesOutAfterAboutATenthOfASecond) {
  Port.Open();
  unsigned char b;
  auto start = Clock::now();
  EXPECT_EQ(Port.Read(&b, 1), 0u);
  long ms = MsSince(start);
  EXPECT_GE(ms, 100);
  EXPECT_LT(ms, 250);

  // A longer wait ends as soon as a byte comes.
  std::thread printer([&] {
    ::usleep(150000);
    ASSERT_EQ(::write(Master, "\x06", 1), 1);
  });
  start = Clock::now();
  EXPECT_EQ(Port.ReadWait(&b, 1, 2000), 1u);
  ms = MsSince(start);
  printer.join();
  EXPECT_EQ(b, 0x06);
  EXPECT_GE(ms, 140);
  EXPECT_LT(ms, 400);
}

TEST_F(SerialPortTest, PurgeDiscardsWaitingInput) {
  Port.Open();
  ASSERT_EQ(::write(Master, "stale", 5), 5);
  ::usleep(20000);
  Port.Purge();
  unsigned char b;
  EXPECT_EQ(Port.ReadWait(&b, 1, 50), 0u);
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
  EXPECT_THROW(Port.Write(&b, 1), EComPortError);
  EXPECT_THROW(Port.Read(&b, 1), EComPortError);
  EXPECT_THROW(Port.Purge(), EComPortError);
}

TEST_F(SerialPortTest, PortInUseCannotBeOpenedTwice) {
  Port.Open();
  TComPort second;
  second.SetPort(Path);  // the same device by its path
  EXPECT_THROW(second.Open(), EComPortError);
  Port.Close();
  EXPECT_NO_THROW(second.Open());
}

TEST_F(SerialPortTest, HangUpIsALineFailure) {
  Port.Open();
  ::close(Master);
  Master = -1;
  unsigned char b;
  auto start = Clock::now();
  EXPECT_THROW(Port.ReadWait(&b, 1, 1000), EComPortError);
  EXPECT_LT(MsSince(start), 500);
}

}  // namespace
}  // namespace fp
