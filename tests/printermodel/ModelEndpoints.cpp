#include "tests/printermodel/ModelEndpoints.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <vector>

#include "tests/printermodel/PrinterModel.h"

namespace fp::model {

namespace {

[[noreturn]] void Fail(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void MakePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe2");
}

void SetCloexec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

bool Stopped(int stopFd) {
  pollfd p{stopFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Waits until fd is ready for `events` or the stop pipe is readable; false on stop or a
// passed time-out (timeoutMs < 0: no time-out).
bool WaitFor(int fd, short events, int stopFd, int timeoutMs) {
  pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
  while (true) {
    int n = ::poll(p, fd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (p[0].revents & POLLIN)) return false;
    return true;
  }
}

// Sleeps up to `ms`; false when stopped meanwhile.
bool Pause(std::chrono::milliseconds ms, int stopFd) {
  return !WaitFor(-1, 0, stopFd, int(ms.count())) && !Stopped(stopFd);
}

enum class Outcome { Done, Reset, Close, Broken, Stopped };

bool WriteAll(int fd, std::string_view bytes, bool socket, int stopFd) {
  while (!bytes.empty()) {
    ssize_t n = socket ? ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, stopFd, -1)) return false;
      continue;
    }
    return false;
  }
  return true;
}

Outcome Perform(int fd, const std::vector<WireAction>& plan, bool socket, int stopFd) {
  using K = WireAction::Kind;
  for (const WireAction& a : plan) {
    switch (a.kind) {
      case K::Write:
        if (!WriteAll(fd, a.bytes, socket, stopFd)) return Stopped(stopFd) ? Outcome::Stopped : Outcome::Broken;
        break;
      case K::Sleep:
        if (!Pause(a.duration, stopFd)) return Outcome::Stopped;
        break;
      case K::Syn: {
        const auto end = std::chrono::steady_clock::now() + a.duration;
        const std::string syn(1, char(kSyn));
        while (std::chrono::steady_clock::now() < end) {
          if (!WriteAll(fd, syn, socket, stopFd)) return Stopped(stopFd) ? Outcome::Stopped : Outcome::Broken;
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
          if (!Pause(std::min(a.interval, std::max(left, std::chrono::milliseconds(0))), stopFd))
            return Outcome::Stopped;
        }
        break;
      }
      case K::Reset: return Outcome::Reset;
      case K::Close: return Outcome::Close;
    }
  }
  return Outcome::Done;
}

// Feeds bytes to the parser and answers every frame; returns how the last plan ended.
Outcome Answer(PrinterModel& model, RequestParser& parser, int fd, const char* bytes, size_t n, bool socket, int stopFd,
               const std::string& source) {
  for (size_t i = 0; i < n; ++i) {
    if (auto frame = parser.Push(uint8_t(bytes[i]))) {
      Outcome o = Perform(fd, model.OnFrame(*frame, source), socket, stopFd);
      if (o != Outcome::Done) return o;
    }
  }
  return Outcome::Done;
}

// The child processes of this one that have `path` open. Their pids come from the
// children lists of every thread (a child belongs to the thread that started it).
std::set<pid_t> ChildrenHolding(const std::string& path) {
  std::set<pid_t> holding;
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return holding;
  std::vector<pid_t> children;
  while (const dirent* t = ::readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    std::ifstream list(std::string("/proc/self/task/") + t->d_name + "/children");
    for (pid_t pid; list >> pid;) children.push_back(pid);
  }
  ::closedir(tasks);
  for (pid_t pid : children) {
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;  // ended meanwhile
    char target[256];
    while (const dirent* f = ::readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      const ssize_t n = ::readlinkat(::dirfd(fds), f->d_name, target, sizeof target - 1);
      if (n > 0 && path.compare(0, std::string::npos, target, size_t(n)) == 0) {
        holding.insert(pid);
        break;
      }
    }
    ::closedir(fds);
  }
  return holding;
}

}  // namespace

// ---- PtyEndpoint ----

PtyEndpoint::PtyEndpoint(PrinterModel& model, Options options) : FModel(model), FNameSenders(options.nameSenders) {
  char name[256] = {};
  if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0) Fail("openpty");
  SetCloexec(FMaster);
  SetCloexec(FSlave);
  termios t{};
  ::tcgetattr(FSlave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(FSlave, TCSANOW, &t);
  ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  FSlavePath = name;
  MakePipe(FStop);
  FThread = std::thread([this] { Serve(); });
}

PtyEndpoint::~PtyEndpoint() {
  if (FStop[1] >= 0) (void)!::write(FStop[1], "x", 1);
  if (FThread.joinable()) FThread.join();
  CloseFd(FMaster);
  CloseFd(FSlave);
  CloseFd(FStop[0]);
  CloseFd(FStop[1]);
}

void PtyEndpoint::Serve() {
  RequestParser parser;
  char buf[512];
  // When senders are named, who holds the slave open is looked up at each read. Bytes read
  // now may have been written by a process that held it at the previous read and has ended
  // since, so the source names the holders of both reads (several when they differ).
  std::set<pid_t> before;
  while (WaitFor(FMaster, POLLIN, FStop[0], -1)) {
    ssize_t n = ::read(FMaster, buf, sizeof buf);
    if (n <= 0) {
      // EIO while no one holds the slave open cannot happen (we hold it); anything else
      // is a passing condition: wait a moment rather than spin.
      if (n < 0 && errno != EAGAIN && errno != EINTR && !Pause(std::chrono::milliseconds(10), FStop[0])) return;
      continue;
    }
    std::string source;
    if (FNameSenders) {
      std::set<pid_t> now = ChildrenHolding(FSlavePath);
      for (pid_t pid : before) source += (source.empty() ? "pid " : " or pid ") + std::to_string(pid);
      for (pid_t pid : now)
        if (!before.count(pid)) source += (source.empty() ? "pid " : " or pid ") + std::to_string(pid);
      before = std::move(now);
    }
    // A reset or close of the line has no meaning on a serial line: the rest is silence.
    if (Answer(FModel, parser, FMaster, buf, size_t(n), false, FStop[0], source) == Outcome::Stopped) return;
  }
}

// ---- TcpEndpoint ----

TcpEndpoint::TcpEndpoint(PrinterModel& model, Options options) : FModel(model) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListen < 0) Fail("socket");
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("bind");
  socklen_t len = sizeof a;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(a.sin_port);
  MakePipe(FStop);
  MakePipe(FWake);
  if (options.listen && options.listenDelay.count() <= 0) ListenNow();
  const auto delay = options.listen ? options.listenDelay : std::chrono::milliseconds(0);
  FThread = std::thread([this, delay] { Serve(delay); });
}

TcpEndpoint::~TcpEndpoint() {
  if (FStop[1] >= 0) (void)!::write(FStop[1], "x", 1);
  if (FThread.joinable()) FThread.join();
  CloseFd(FListen);
  CloseFd(FStop[0]);
  CloseFd(FStop[1]);
  CloseFd(FWake[0]);
  CloseFd(FWake[1]);
}

bool TcpEndpoint::ListenNow() {
  std::lock_guard lock(FListenMu);
  if (!FListening && ::listen(FListen, 8) == 0) FListening = true;
  return FListening;
}

void TcpEndpoint::StartListening() {
  ListenNow();
  (void)!::write(FWake[1], "w", 1);
}

void TcpEndpoint::Serve(std::chrono::milliseconds delay) {
  if (delay.count() > 0) {
    if (!Pause(delay, FStop[0])) return;
    ListenNow();
  }
  RequestParser parser;
  int conn = -1;
  bool halfClosed = false;  // we sent FIN and only wait for the host to close
  char buf[512];
  auto drop = [&](bool reset) {
    if (conn < 0) return;
    if (reset) {
      linger l{1, 0};
      ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    CloseFd(conn);
    halfClosed = false;
  };
  while (true) {
    bool listening;
    {
      std::lock_guard lock(FListenMu);
      listening = FListening;
    }
    pollfd p[4] = {
        {FStop[0], POLLIN, 0}, {FWake[0], POLLIN, 0}, {listening ? FListen : -1, POLLIN, 0}, {conn, POLLIN, 0}};
    if (::poll(p, 4, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[0].revents) break;
    if (p[1].revents) {
      while (::read(FWake[0], buf, sizeof buf) > 0) {
      }
    }
    if (p[2].revents & POLLIN) {
      int fresh = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fresh >= 0) {
        drop(false);  // a host that reconnects replaces the old connection
        conn = fresh;
        parser.Reset();
        FAccepted++;
      }
    }
    if (conn >= 0 && (p[3].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        drop(false);
        continue;
      }
      if (halfClosed) continue;
      switch (Answer(FModel, parser, conn, buf, size_t(n), true, FStop[0],
                     "connection " + std::to_string(FAccepted.load()))) {
        case Outcome::Done: break;
        case Outcome::Reset: drop(true); break;
        case Outcome::Close:
          ::shutdown(conn, SHUT_WR);
          halfClosed = true;
          break;
        case Outcome::Broken: drop(false); break;
        case Outcome::Stopped: drop(false); return;
      }
    }
  }
  drop(false);
}

}  // namespace fp::model
