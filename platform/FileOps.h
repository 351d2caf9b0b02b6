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
  // fstatat(2), renameat2(2) and unlinkat(2). RenameAt takes flags 0 or RENAME_NOREPLACE;
  // where the file system lacks the flag (shares mounted through FUSE, some network file
  // systems) it falls back to a hard link and the removal of the old name, and where the
  // file system has no hard links either, to a plain rename once no entry is seen under
  // the new name. That last check and the rename are two calls: only the receipt folder's
  // lock keeps our own copies from meeting between them, another program that creates the
  // same name in between loses its file.
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

  // The two system calls RenameAt is made of, without its fallbacks: renameat2(2) with
  // `flags` and linkat(2), both within the folder `dir`.
  virtual int RenameAt2(int dir, const char* from, const char* to, unsigned flags);
  virtual int LinkAt(int dir, const char* from, const char* to);
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

// What a file system lacks or does otherwise than a local one, as shares mounted through
// FUSE do (a desktop's share mount, a FAT image, a folder over SSH).
struct TFileSystemTraits {
  bool NoRenameFlags = false;  // renameat2 with a flag fails with EINVAL
  bool NoLinks = false;        // link fails with EPERM
  bool InodesByPath = false;   // the inode number belongs to the path, not to the file:
                               // a file renamed has another number under its new name
  bool UnknownSize = false;    // statvfs reports 0 blocks (size and free space unknown)
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
  int RenameAt2(int dir, const char* from, const char* to, unsigned flags) override;
  int LinkAt(int dir, const char* from, const char* to) override;

  // Makes the calls behave like those of a file system with these traits from now on
  // (the folders of the test are on a local one).
  void SetFileSystem(const TFileSystemTraits& traits);

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
  std::string FdPath(int fd);
  // With InodesByPath, gives `st` the inode number of `path` (on success of the call).
  int ByPath(int result, const std::string& path, struct stat* st);

  mutable std::mutex FMutex;
  TFileOp FOp = TFileOp::Count;
  int FNth = 0;
  int FErr = 0;
  std::string FPathPart;
  int FMatched = 0;
  std::array<int, static_cast<size_t>(TFileOp::Count)> FCalls{};
  std::array<std::string, 1024> FFdPaths{};
  int64_t FFreeBytes = -1;
  TFileSystemTraits FTraits;
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
