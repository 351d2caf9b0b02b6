#include "platform/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace fp {
namespace {

IFileOps gSystemOps;
std::atomic<IFileOps*> gCurrent{nullptr};

}  // namespace

int IFileOps::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t IFileOps::Read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
ssize_t IFileOps::Write(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }
int IFileOps::Fsync(int fd) { return ::fsync(fd); }
int IFileOps::Close(int fd) { return ::close(fd); }
int IFileOps::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int IFileOps::Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int IFileOps::Lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int IFileOps::Rename(const char* from, const char* to) { return ::rename(from, to); }
int IFileOps::Unlink(const char* path) { return ::unlink(path); }
int IFileOps::Mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }

int IFileOps::RenameNoReplace(const char* from, const char* to) {
  return IFileOps::RenameAt(AT_FDCWD, from, to, RENAME_NOREPLACE);
}

int IFileOps::OpenAt(int dir, const char* name, int flags, mode_t mode) { return ::openat(dir, name, flags, mode); }
int IFileOps::FstatAt(int dir, const char* name, struct stat* st, int flags) { return ::fstatat(dir, name, st, flags); }
int IFileOps::UnlinkAt(int dir, const char* name, int flags) { return ::unlinkat(dir, name, flags); }
int IFileOps::Fstatvfs(int fd, struct statvfs* st) { return ::fstatvfs(fd, st); }

int IFileOps::ReadDir(int dir, std::vector<std::string>& names) {
  names.clear();
  // A descriptor of its own: closedir closes it, and the caller's stays open.
  const int own = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return -1;
  DIR* d = ::fdopendir(own);
  if (!d) {
    const int err = errno;
    ::close(own);
    errno = err;
    return -1;
  }
  // The duplicate shares the position of `dir`: the folder is read from its start.
  ::rewinddir(d);
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(d);
    if (!e) break;
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  const int err = errno;
  ::closedir(d);
  if (err != 0) {
    names.clear();
    errno = err;
    return -1;
  }
  return 0;
}

int IFileOps::RenameAt2(int dir, const char* from, const char* to, unsigned flags) {
  return ::renameat2(dir, from, dir, to, flags);
}

int IFileOps::LinkAt(int dir, const char* from, const char* to) { return ::linkat(dir, from, dir, to, 0); }

namespace {

// The answers of a file system that does not have the call at all (or not with that flag),
// as opposed to one that refuses this rename or link.
bool LacksRenameFlag(int err) { return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }
bool LacksLinks(int err) { return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EXDEV; }

}  // namespace

int IFileOps::RenameAt(int dir, const char* from, const char* to, unsigned flags) {
  if (RenameAt2(dir, from, to, flags) == 0) return 0;
  if (!(flags & RENAME_NOREPLACE) || !LacksRenameFlag(errno)) return -1;
  // A file system without the flag: a hard link fails when the target exists, too.
  if (LinkAt(dir, from, to) == 0) {
    if (IFileOps::UnlinkAt(dir, from, 0) == 0 || errno == ENOENT) return 0;
    // Two names of one file would print it twice: the new one goes again.
    const int err = errno;
    IFileOps::UnlinkAt(dir, to, 0);
    errno = err;
    return -1;
  }
  if (!LacksLinks(errno)) return -1;
  // Neither the flag nor hard links (shares mounted through FUSE): a plain rename, once no
  // entry is seen under the new name.
  struct stat st {};
  if (IFileOps::FstatAt(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  if (errno != ENOENT) return -1;
  return RenameAt2(dir, from, to, flags & ~static_cast<unsigned>(RENAME_NOREPLACE));
}

IFileOps& FileOps() {
  IFileOps* ops = gCurrent.load(std::memory_order_acquire);
  return ops ? *ops : gSystemOps;
}

IFileOps* SetFileOps(IFileOps* ops) { return gCurrent.exchange(ops, std::memory_order_acq_rel); }

bool WriteAll(IFileOps& ops, int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ops.Write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(IFileOps& ops, int fd, const std::string& data) { return WriteAll(ops, fd, data.data(), data.size()); }

bool ReadAll(IFileOps& ops, int fd, std::string& data, size_t limit) {
  data.clear();
  char buf[16384];
  for (;;) {
    const ssize_t n = ops.Read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (static_cast<size_t>(n) > limit - data.size()) {
      data.append(buf, limit - data.size());
      errno = EFBIG;
      return false;
    }
    data.append(buf, static_cast<size_t>(n));
  }
}

// ---- TFaultyFileOps ----

void TFaultyFileOps::FailAt(TFileOp op, int nth, int err, std::string pathPart) {
  std::lock_guard<std::mutex> lock(FMutex);
  FOp = op;
  FNth = nth;
  FErr = err;
  FPathPart = std::move(pathPart);
  FMatched = 0;
  FCalls.fill(0);
}

void TFaultyFileOps::Clear() {
  std::lock_guard<std::mutex> lock(FMutex);
  FOp = TFileOp::Count;
  FMatched = 0;
  FCalls.fill(0);
}

int TFaultyFileOps::Calls(TFileOp op) const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FCalls[static_cast<size_t>(op)];
}

bool TFaultyFileOps::ShouldFail(TFileOp op, const std::string& path) {
  std::lock_guard<std::mutex> lock(FMutex);
  ++FCalls[static_cast<size_t>(op)];
  if (op != FOp) return false;
  if (!FPathPart.empty() && path.find(FPathPart) == std::string::npos) return false;
  ++FMatched;
  if (FNth != 0 && FMatched != FNth) return false;
  errno = FErr;
  return true;
}

bool TFaultyFileOps::ShouldFailFd(TFileOp op, int fd) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (fd >= 0 && static_cast<size_t>(fd) < FFdPaths.size()) path = FFdPaths[fd];
  }
  return ShouldFail(op, path);
}

int TFaultyFileOps::Open(const char* path, int flags, mode_t mode) {
  if (ShouldFail(TFileOp::Open, path)) return -1;
  int fd = IFileOps::Open(path, flags, mode);
  if (fd >= 0 && static_cast<size_t>(fd) < FFdPaths.size()) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFdPaths[fd] = path;
  }
  return fd;
}

ssize_t TFaultyFileOps::Read(int fd, void* buf, size_t count) {
  return ShouldFailFd(TFileOp::Read, fd) ? -1 : IFileOps::Read(fd, buf, count);
}

ssize_t TFaultyFileOps::Write(int fd, const void* buf, size_t count) {
  return ShouldFailFd(TFileOp::Write, fd) ? -1 : IFileOps::Write(fd, buf, count);
}

int TFaultyFileOps::Fsync(int fd) { return ShouldFailFd(TFileOp::Fsync, fd) ? -1 : IFileOps::Fsync(fd); }

int TFaultyFileOps::Close(int fd) {
  bool fail = ShouldFailFd(TFileOp::Close, fd);
  int saved = errno;
  if (fd >= 0 && static_cast<size_t>(fd) < FFdPaths.size()) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFdPaths[fd].clear();
  }
  // The descriptor is released even when the call reports a failure, as close(2) does.
  IFileOps::Close(fd);
  if (fail) {
    errno = saved;
    return -1;
  }
  return 0;
}

std::string TFaultyFileOps::FdPath(int fd) {
  std::lock_guard<std::mutex> lock(FMutex);
  return fd >= 0 && static_cast<size_t>(fd) < FFdPaths.size() ? FFdPaths[fd] : std::string();
}

int TFaultyFileOps::ByPath(int result, const std::string& path, struct stat* st) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (result == 0 && FTraits.InodesByPath && !path.empty()) {
    std::string key = path;
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    st->st_ino = static_cast<ino_t>(std::hash<std::string>{}(key) | 1);
  }
  return result;
}

int TFaultyFileOps::Fstat(int fd, struct stat* st) {
  return ShouldFailFd(TFileOp::Fstat, fd) ? -1 : ByPath(IFileOps::Fstat(fd, st), FdPath(fd), st);
}

int TFaultyFileOps::Stat(const char* path, struct stat* st) {
  return ShouldFail(TFileOp::Stat, path) ? -1 : ByPath(IFileOps::Stat(path, st), path, st);
}

int TFaultyFileOps::Lstat(const char* path, struct stat* st) {
  return ShouldFail(TFileOp::Lstat, path) ? -1 : ByPath(IFileOps::Lstat(path, st), path, st);
}

int TFaultyFileOps::Rename(const char* from, const char* to) {
  return ShouldFail(TFileOp::Rename, std::string(from) + '\n' + to) ? -1 : IFileOps::Rename(from, to);
}

int TFaultyFileOps::RenameNoReplace(const char* from, const char* to) {
  return ShouldFail(TFileOp::RenameNoReplace, std::string(from) + '\n' + to) ? -1 : IFileOps::RenameNoReplace(from, to);
}

int TFaultyFileOps::Unlink(const char* path) { return ShouldFail(TFileOp::Unlink, path) ? -1 : IFileOps::Unlink(path); }

int TFaultyFileOps::Mkdir(const char* path, mode_t mode) {
  return ShouldFail(TFileOp::Mkdir, path) ? -1 : IFileOps::Mkdir(path, mode);
}

std::string TFaultyFileOps::PathAt(int dir, const char* name) {
  if (dir == AT_FDCWD || name[0] == '/') return name;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (dir >= 0 && static_cast<size_t>(dir) < FFdPaths.size()) path = FFdPaths[dir];
  }
  if (path.empty()) {
    // A folder opened before this object was put in place: its path as the system knows it.
    char link[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), link, sizeof link - 1);
    if (n > 0) path.assign(link, static_cast<size_t>(n));
  }
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

int TFaultyFileOps::OpenAt(int dir, const char* name, int flags, mode_t mode) {
  const std::string path = PathAt(dir, name);
  if (ShouldFail(TFileOp::Open, path)) return -1;
  int fd = IFileOps::OpenAt(dir, name, flags, mode);
  if (fd >= 0 && static_cast<size_t>(fd) < FFdPaths.size()) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFdPaths[fd] = path;
  }
  return fd;
}

int TFaultyFileOps::FstatAt(int dir, const char* name, struct stat* st, int flags) {
  // The descriptor itself (AT_EMPTY_PATH) goes by the path it was opened with.
  const std::string path = name[0] == '\0' ? FdPath(dir) : PathAt(dir, name);
  return ShouldFail(TFileOp::Lstat, path) ? -1 : ByPath(IFileOps::FstatAt(dir, name, st, flags), path, st);
}

int TFaultyFileOps::RenameAt(int dir, const char* from, const char* to, unsigned flags) {
  const TFileOp op = (flags & RENAME_NOREPLACE) ? TFileOp::RenameNoReplace : TFileOp::Rename;
  return ShouldFail(op, PathAt(dir, from) + '\n' + PathAt(dir, to)) ? -1 : IFileOps::RenameAt(dir, from, to, flags);
}

int TFaultyFileOps::UnlinkAt(int dir, const char* name, int flags) {
  return ShouldFail(TFileOp::Unlink, PathAt(dir, name)) ? -1 : IFileOps::UnlinkAt(dir, name, flags);
}

int TFaultyFileOps::RenameAt2(int dir, const char* from, const char* to, unsigned flags) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FTraits.NoRenameFlags && flags != 0) {
      errno = EINVAL;
      return -1;
    }
  }
  return IFileOps::RenameAt2(dir, from, to, flags);
}

int TFaultyFileOps::LinkAt(int dir, const char* from, const char* to) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FTraits.NoLinks) {
      errno = EPERM;
      return -1;
    }
  }
  return IFileOps::LinkAt(dir, from, to);
}

void TFaultyFileOps::SetFileSystem(const TFileSystemTraits& traits) {
  std::lock_guard<std::mutex> lock(FMutex);
  FTraits = traits;
}

void TFaultyFileOps::SetFreeSpace(int64_t freeBytes) {
  std::lock_guard<std::mutex> lock(FMutex);
  FFreeBytes = freeBytes;
}

int TFaultyFileOps::Fstatvfs(int fd, struct statvfs* st) {
  if (ShouldFailFd(TFileOp::Statvfs, fd)) return -1;
  if (IFileOps::Fstatvfs(fd, st) != 0) return -1;
  std::lock_guard<std::mutex> lock(FMutex);
  if (FFreeBytes >= 0) {
    st->f_bsize = st->f_frsize = 4096;
    st->f_bavail = st->f_bfree = static_cast<fsblkcnt_t>(FFreeBytes / 4096);
  }
  if (FTraits.UnknownSize) st->f_blocks = st->f_bfree = st->f_bavail = 0;
  return 0;
}

int TFaultyFileOps::ReadDir(int dir, std::vector<std::string>& names) {
  if (ShouldFail(TFileOp::ReadDir, PathAt(dir, ""))) {
    names.clear();
    return -1;
  }
  return IFileOps::ReadDir(dir, names);
}

}  // namespace fp
