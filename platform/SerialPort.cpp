#include "platform/SerialPort.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/ComPortNames.h"
#include "platform/SerialPortSpeed.h"
#include "platform/SysErrorText.h"

namespace fp {

namespace {

[[noreturn]] void Fail(int error) { throw EComPortError(SysErrorText(error), error); }

// The port is held by another program: it has the device open exclusively (EBUSY at the
// open) or holds its lock (EWOULDBLOCK from flock).
[[noreturn]] void FailInUse(const std::string& port, int error) {
  throw EComPortError(port + " is in use by another program", error, true);
}

// A pseudo-terminal's slave: a virtual port (a bridge to a printer on the network, the
// printer model), also when reached through a link. Unix98 slaves have majors 136 to 143,
// the old BSD-style ones (ttyp0 and on) major 3; whatever the numbering, a slave opened
// through devpts lies on that file system.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int number = major(st.st_rdev);
  if ((number >= 136 && number <= 143) || number == 3) return true;
  struct statfs fs {};
  return ::fstatfs(fd, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC;
}

// Clears the exclusive mode when this descriptor set it, and closes. The mode belongs to
// the terminal, not to the descriptor: left set, it would keep every later open out while
// anyone else holds the device open. A terminal whose mode another program set is never
// kept open (Open refuses it), so its mode is never cleared here.
int CloseTerminal(int fd, bool exclusive) {
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  return ::close(fd);
}

struct TSpeed {
  std::uint32_t Baud;
  speed_t Code;
};

constexpr TSpeed kStandardSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},        {200, B200},
    {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},     {2400, B2400},      {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},  {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000}};

const TSpeed* FindStandardSpeed(std::uint32_t baud) {
  for (const TSpeed& s : kStandardSpeeds)
    if (s.Baud == baud) return &s;
  return nullptr;
}

}  // namespace

TComPort::~TComPort() {
  if (FFd >= 0) CloseTerminal(FFd, FExclusive);
}

bool TComPort::UsesExclusiveMode(int fd) const { return !IsPseudoTerminal(fd); }

void TComPort::SetPort(const std::string& name) { FPort = name; }

std::string TComPort::Port() const { return FPort; }

void TComPort::SetBaudRate(std::uint32_t baud) {
  FBaudRate = baud;
  if (FFd >= 0) ApplySettings();
}

std::uint32_t TComPort::BaudRate() const { return FBaudRate; }

void TComPort::Open() {
  if (FFd >= 0) Close();
  std::string path;
  if (!FPort.empty() && FPort[0] == '/') {
    path = FPort;
  } else if (auto mapped = TComPortNames::PathOf(FPort)) {
    path = *mapped;
  } else {
    Fail(ENOENT);
  }
  // Non-blocking while opening, so a line without carrier detect does not hold us up.
  // EBUSY is another program's exclusive mode (or a driver's hold on the device): a mode of
  // our own never outlives us (see below).
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EBUSY) FailInUse(FPort, errno);
    Fail(errno);
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    int error = errno;
    ::close(fd);
    Fail(error);
  }
  // The lock keeps the driver's own copies apart, whichever user runs them; it goes with
  // the descriptor, so a copy that was killed leaves nothing behind.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) FailInUse(FPort, error);
    Fail(error);
  }
  // Another program holds the terminal in exclusive mode: an unprivileged open fails with
  // EBUSY above, a privileged one gets through, so the mode is read. It is never one of
  // ours (ours goes with our descriptors, and a pseudo-terminal never gets it from us), so
  // the port is refused as in use and closed without touching the mode, which stays that
  // program's. (A kernel that cannot tell leaves the question open; the lock still decides.)
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
  if (exclusive != 0) {
    ::close(fd);
    FailInUse(FPort, EBUSY);
  }
  // The exclusive mode also keeps out every program that does not take the lock (a
  // terminal program, a modem prober), which would read the printer's answers away; only a
  // privileged process can still open the device beside us. On a line the kernel drops the
  // mode with the last descriptor, so a killed driver's mode goes with it. A
  // pseudo-terminal keeps it as long as its other side is held (a bridge outlives the
  // driver), and only a privileged process could open it again to clear it: the mode would
  // lock a killed driver's restart out of its own port, so there the lock alone holds it.
  const bool exclusiveMode = UsesExclusiveMode(fd);
  if (exclusiveMode && ::ioctl(fd, TIOCEXCL) != 0) {
    int error = errno;
    ::close(fd);
    Fail(error);
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int error = errno;
    CloseTerminal(fd, exclusiveMode);
    Fail(error);
  }
  FFd = fd;
  FExclusive = exclusiveMode;
  try {
    ApplySettings();
  } catch (...) {
    CloseTerminal(FFd, FExclusive);
    FFd = -1;
    throw;
  }
}

void TComPort::ApplySettings() {
  if (FBaudRate == 0) Fail(EINVAL);
  termios tio{};
  if (::tcgetattr(FFd, &tio) != 0) Fail(errno);
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tio.c_iflag |= IGNBRK;
  // Reads return at once; the waiting is done with poll().
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  const TSpeed* standard = FindStandardSpeed(FBaudRate);
  speed_t code = standard ? standard->Code : B9600;
  if (::cfsetispeed(&tio, code) != 0 || ::cfsetospeed(&tio, code) != 0) Fail(errno);
  if (::tcsetattr(FFd, TCSANOW, &tio) != 0) Fail(errno);
  // The speed once more, input and output together: after a custom speed the terminal's
  // input speed field says "custom", which the call above leaves alone, so a later standard
  // speed would change the output speed only (and the device keeps its settings for the
  // next process too).
  if (int error = serial_speed::SetSpeed(FFd, FBaudRate, standard ? standard->Code : 0)) Fail(error);
}

void TComPort::Close() {
  if (FFd < 0) return;
  int fd = FFd;
  FFd = -1;
  if (CloseTerminal(fd, FExclusive) != 0 && errno != EINTR) Fail(errno);
}

bool TComPort::Connected() const { return FFd >= 0; }

void TComPort::Purge() {
  if (FFd < 0) Fail(EBADF);
  if (::tcflush(FFd, TCIOFLUSH) != 0) Fail(errno);
}

std::size_t TComPort::Write(const void* data, std::size_t count) {
  if (FFd < 0) Fail(EBADF);
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(FFd, p + done, count - done);
    if (n > 0) {
      done += std::size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      pollfd pfd{FFd, POLLOUT, 0};
      ::poll(&pfd, 1, 100);
    } else {
      Fail(n < 0 ? errno : EIO);
    }
  }
  return done;
}

std::size_t TComPort::ReadWait(void* data, std::size_t count, int timeoutMs) {
  if (FFd < 0) Fail(EBADF);
  if (count == 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  // The wait comes before the read: a read is called when bytes are due (the start of an
  // answer, the rest of one on a slow line), and one that found nothing would cost a system
  // call for nothing. poll returns at once when bytes are there.
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd pfd{FFd, POLLIN, 0};
    // Rounded up so that a wait never ends a fraction of a millisecond early; once the time
    // has passed, one last look without waiting.
    const int rc = ::poll(&pfd, 1, left.count() > 0 ? int(left.count()) + 1 : 0);
    if (rc < 0 && errno != EINTR) Fail(errno);
    if (rc > 0) {
      if (pfd.revents & POLLNVAL) Fail(EBADF);
      // Raw mode with VMIN 0 and VTIME 0: the read returns at once, 0 when nothing is there.
      const ssize_t n = ::read(FFd, data, count);
      if (n > 0) return std::size_t(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) Fail(errno);
      // Ready but nothing to read: the line was hung up (a hung-up terminal reads as empty).
      if (n == 0 && (pfd.revents & (POLLHUP | POLLERR))) Fail(EIO);
    }
    if (left.count() <= 0) return 0;
  }
}

std::uint32_t TComPort::DeviceBaudRate() const { return FFd >= 0 ? serial_speed::GetSpeed(FFd) : 0; }

}  // namespace fp
