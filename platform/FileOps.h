#pragma once
// The file-system calls of the INI layer, the logs, the receipt folder, the settings and the
// program's folder write test, behind one replaceable object. Production code uses the plain
// system calls; tests put a TFaultyFileOps in place to make a chosen call fail (file
// permissions cannot be relied on to stop a process running as root).
//
// Every operation behaves like its POSIX namesake: it returns -1 (or a negative count)
// and sets errno on failure.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace fp {

class IFileOps {
 public:
  virtual ~IFileOps() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual ssize_t Read(int fd, void* buf, size_t count);
  virtual ssize_t Write(int fd, const void* buf, size_t count);
  virtual int Fsync(int fd);
  virtual int Close(int fd);
  virtual int Fstat(int fd, struct stat* st);
  virtual int Stat(const char* path, struct stat* st);
  // Like Stat, but a symbolic link is described itself, not followed.
  virtual int Lstat(const char* path, struct stat* st);
  virtual int Rename(const char* from, const char* to);
  // Renames only when `to` does not exist yet (fails with EEXIST otherwise).
  virtual int RenameNoReplace(const char* from, const char* to);
  virtual int Unlink(const char* path);
  virtual int Mkdir(const char* path, mode_t mode);

  // The same calls relative to an open folder (`dir`, or AT_FDCWD), as openat(2),
  // fstatat(2), renameat2(2) (flags 0 or RENAME_NOREPLACE; RENAME_NOREPLACE falls back to a
  // hard link where the file system lacks it) and unlinkat(2).
  virtual int OpenAt(int dir, const char* name, int flags, mode_t mode);
  virtual int FstatAt(int dir, const char* name, struct stat* st, int flags);
  virtual int RenameAt(int dir, const char* from, const char* to, unsigned flags);
  virtual int UnlinkAt(int dir, const char* name, int flags);
  // The free space of the file system that holds `fd`.
  virtual int Fstatvfs(int fd, struct statvfs* st);
  // The names of the entries of the open folder `dir` ("." and ".." left out), read from
  // its start to its end into `names` (replacing its contents), as readdir(3) gives them.
  // `dir` stays open and is read from its start whatever was read of it before.
  virtual int ReadDir(int dir, std::vector<std::string>& names);
};

// The object every file operation goes through (the system calls unless replaced).
IFileOps& FileOps();
// Replaces it; nullptr restores the system calls. Returns the previous object (nullptr
// when it was the system's). The object must outlive its use.
IFileOps* SetFileOps(IFileOps* ops);

// The calls relative to a folder count as their namesakes (OpenAt as Open, FstatAt as Lstat,
// RenameAt as Rename or RenameNoReplace by its flag, UnlinkAt as Unlink), with the folder's
// path and the name as their path; ReadDir counts with the folder's path.
enum class TFileOp {
  Open,
  Read,
  Write,
  Fsync,
  Close,
  Fstat,
  Stat,
  Lstat,
  Rename,
  RenameNoReplace,
  Unlink,
  Mkdir,
  Statvfs,
  ReadDir,
  Count
};

// Test double: the system calls, except that chosen calls fail with a chosen errno.
class TFaultyFileOps : public IFileOps {
 public:
  // From now on, the nth call (1 = the next one) of `op` fails with `err`; nth 0 makes
  // every call fail. When `pathPart` is not empty only calls whose path contains it are
  // counted and failed (operations on a descriptor count as matching the path they were
  // opened with).
  void FailAt(TFileOp op, int nth, int err = 5 /* EIO */, std::string pathPart = {});
  // Stops failing anything.
  void Clear();
  // Calls of `op` since the last FailAt or Clear (all paths).
  int Calls(TFileOp op) const;

  int Open(const char* path, int flags, mode_t mode) override;
  ssize_t Read(int fd, void* buf, size_t count) override;
  ssize_t Write(int fd, const void* buf, size_t count) override;
  int Fsync(int fd) override;
  int Close(int fd) override;
  int Fstat(int fd, struct stat* st) override;
  int Stat(const char* path, struct stat* st) override;
  int Lstat(const char* path, struct stat* st) override;
  int Rename(const char* from, const char* to) override;
  int RenameNoReplace(const char* from, const char* to) override;
  int Unlink(const char* path) override;
  int Mkdir(const char* path, mode_t mode) override;
  int OpenAt(int dir, const char* name, int flags, mode_t mode) override;
  int FstatAt(int dir, const char* name, struct stat* st, int flags) override;
  int RenameAt(int dir, const char* from, const char* to, unsigned flags) override;
  int UnlinkAt(int dir, const char* name, int flags) override;
  int Fstatvfs(int fd, struct statvfs* st) override;
  int ReadDir(int dir, std::vector<std::string>& names) override;

  // Makes Fstatvfs answer `freeBytes` of free space (as blocks of 4096 bytes) from now on;
  // a negative value gives the file system's own answer again.
  void SetFreeSpace(int64_t freeBytes);

 protected:
  // The path a call relative to `dir` is counted with: the folder's path (as it was opened
  // through this object) and the name.
  std::string PathAt(int dir, const char* name);

 private:
  bool ShouldFail(TFileOp op, const std::string& path);
  bool ShouldFailFd(TFileOp op, int fd);

  mutable std::mutex FMutex;
  TFileOp FOp = TFileOp::Count;
  int FNth = 0;
  int FErr = 0;
  std::string FPathPart;
  int FMatched = 0;
  std::array<int, static_cast<size_t>(TFileOp::Count)> FCalls{};
  std::array<std::string, 1024> FFdPaths{};
  int64_t FFreeBytes = -1;
};

// Writes all `size` bytes to `fd`, retrying short writes and EINTR. A write that returns 0
// counts as a failure (errno EIO), so a device that takes nothing cannot make it loop.
bool WriteAll(IFileOps& ops, int fd, const void* data, size_t size);
bool WriteAll(IFileOps& ops, int fd, const std::string& data);

// Reads `fd` to its end into `data` (replacing its contents), retrying EINTR. Fails with
// errno EFBIG when the file holds more than `limit` bytes; `data` then holds what was read.
bool ReadAll(IFileOps& ops, int fd, std::string& data, size_t limit = static_cast<size_t>(-1));

// Replaces the file operations for the life of the object (tests).
class TScopedFileOps {
 public:
  explicit TScopedFileOps(IFileOps* ops) : FPrevious(SetFileOps(ops)) {}
  ~TScopedFileOps() { SetFileOps(FPrevious); }
  TScopedFileOps(const TScopedFileOps&) = delete;
  TScopedFileOps& operator=(const TScopedFileOps&) = delete;

 private:
  IFileOps* FPrevious;
};

}  // namespace fp
