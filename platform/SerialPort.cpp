#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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

// The exclusive mode outlives a process of the driver that ends without closing the port
// (killed, or crashed) as long as the terminal stays (a pty whose other side is held). So
// that such a mode is told from one that another program holds, a process that sets the
// mode leaves a mark while it has the port open: a file in kMarkFolder named after the
// device number, holding its process id and the device node's change time (which tells
// this terminal from a later one with the same number). A mark whose process is gone is a
// leftover of the driver's own; none, or one of a live process, is another program's.
constexpr const char* kMarkFolder = "/run/lock";

struct TDeviceId {
  dev_t Rdev = 0;
  long long ChangeNs = 0;
};

bool DeviceIdOf(int fd, TDeviceId& id) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  id.Rdev = st.st_rdev;
  id.ChangeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
  return true;
}

std::string MarkPath(const TDeviceId& id) {
  return std::string(kMarkFolder) + "/miravok-fp-excl." + std::to_string(major(id.Rdev)) + "." +
         std::to_string(minor(id.Rdev));
}

std::string MarkText(pid_t pid, const TDeviceId& id) {
  return std::to_string(pid) + " " + std::to_string(id.ChangeNs) + "\n";
}

// Leaves the mark of this process for the terminal of fd. A name taken by anything but a
// regular file of our own (a link, another user's mark) is left alone: the mode then
// counts as another program's after a crash, which only keeps the port out.
void SetMark(int fd) {
  TDeviceId id;
  if (!DeviceIdOf(fd, id)) return;
  const int mark = ::open(MarkPath(id).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (mark < 0) return;
  struct stat st {};
  if (::fstat(mark, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && ::ftruncate(mark, 0) == 0) {
    const std::string text = MarkText(::getpid(), id);
    if (::write(mark, text.data(), text.size()) != ssize_t(text.size())) {
      // A mark cut short names no process: the mode then counts as another program's.
    }
  }
  ::close(mark);
}

// Removes the mark of this process for the terminal of fd (and only ours).
void ClearMark(int fd) {
  TDeviceId id;
  if (!DeviceIdOf(fd, id)) return;
  const std::string path = MarkPath(id);
  const int mark = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (mark < 0) return;
  char buf[64];
  struct stat st {};
  const ssize_t n = ::fstat(mark, &st) == 0 && S_ISREG(st.st_mode) ? ::read(mark, buf, sizeof buf) : -1;
  ::close(mark);
  if (n > 0 && std::string(buf, std::size_t(n)) == MarkText(::getpid(), id)) ::unlink(path.c_str());
}

// True when the exclusive mode of fd's terminal was set by a process of the driver that
// has ended without clearing it.
bool ModeLeftByEndedProcess(int fd) {
  TDeviceId id;
  if (!DeviceIdOf(fd, id)) return false;
  const int mark = ::open(MarkPath(id).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (mark < 0) return false;
  char buf[64];
  struct stat st {};
  const ssize_t n = ::fstat(mark, &st) == 0 && S_ISREG(st.st_mode) ? ::read(mark, buf, sizeof buf) : -1;
  ::close(mark);
  if (n <= 0) return false;
  long long pid = 0, changeNs = 0;
  const std::string text(buf, std::size_t(n));
  if (std::sscanf(text.c_str(), "%lld %lld", &pid, &changeNs) != 2 || pid <= 0 || changeNs != id.ChangeNs) return false;
  if (pid == ::getpid()) return false;
  return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Clears the exclusive mode and its mark, and closes; only for a descriptor that set the
// mode itself (Open refuses a terminal whose mode another program set). The mode belongs
// to the terminal, not to the descriptor: left set, it would keep every later open out
// while anyone else (a pty's other side, say) holds the device open.
int CloseExclusive(int fd) {
  ::ioctl(fd, TIOCNXCL);
  ClearMark(fd);
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
  if (FFd >= 0) CloseExclusive(FFd);
}

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
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) FailInUse(FPort, error);
    Fail(error);
  }
  // Another program holds the terminal in exclusive mode: an unprivileged open fails with
  // EBUSY above, a privileged one gets through, so the mode is read. The port is then
  // refused as in use and closed without touching the mode, which stays that program's.
  // (A kernel that cannot tell leaves the question open; the lock still decides.)
  // A mode that a process of the driver left when it ended without closing the port is
  // taken over (its lock went with it).
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
  if (exclusive != 0 && !ModeLeftByEndedProcess(fd)) {
    ::close(fd);
    FailInUse(FPort, EBUSY);
  }
  // The lock keeps other users of the lock out; the exclusive mode also every program that
  // does not take it (a terminal program, a modem prober), which would read the printer's
  // answers away. Only a privileged process can still open the device beside us. The mode
  // set here is ours, and closing clears it.
  if (::ioctl(fd, TIOCEXCL) != 0) {
    int error = errno;
    ::close(fd);
    Fail(error);
  }
  SetMark(fd);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int error = errno;
    CloseExclusive(fd);
    Fail(error);
  }
  FFd = fd;
  try {
    ApplySettings();
  } catch (...) {
    CloseExclusive(FFd);
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
  if (CloseExclusive(fd) != 0 && errno != EINTR) Fail(errno);
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
