#include "program/receipts/uReceiptFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "program/app/PathNamesQt.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"
#include "platform/TextLines.h"

namespace fp {

// ---- Outcome ----

bool TFileProgress::RefusedBeforeSending(int32_t code) {
  for (const int32_t refused : RefusedBeforeSendingCodes)
    if (code == refused) return true;
  return false;
}

TFileVerdict FileOutcome(TFileFailure failure, const TFileProgress& progress) {
  if (failure == TFileFailure::None) return {};
  auto unknown = [](const char* why) { return TFileVerdict{TFileOutcome::Unknown, QString::fromLatin1(why)}; };
  if (progress.ServiceSent) return unknown("a report, cash movement or receipt copy had been sent to the printer");
  if (!progress.Opened) return {TFileOutcome::Error, QString()};
  if (progress.Closed) return unknown("the receipt was closed before the failure");
  if (progress.PaymentSent) return unknown("a payment had been sent to the printer in the receipt");
  if (progress.NonFiscal) return unknown("a non-fiscal receipt is closed, not cancelled, by the next opening");
  if (progress.ClosingSent) return unknown("the receipt's closing had been sent to the printer");
  if (failure == TFileFailure::PrinterLost)
    return unknown("the printer stopped answering after the receipt was opened");
  return {TFileOutcome::Error, QString()};
}

EReceiptFolderError::EReceiptFolderError(QString message, int error)
    : Message(std::move(message)), Error(error), FWhat(Message.toStdString()) {}

// ---- File helpers ----

namespace {

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

// base + suffix, with the end of base's file name cut off as far as needed for the whole
// file name to fit the file system's limit of NAME_MAX bytes: a receipt name near that limit
// still gets its ".err", time stamp or counter name instead of failing the move.
// The last `keep` characters of base (a time stamp) are never cut.
QString FittedName(const QString& base, const QString& suffix, qsizetype keep) {
  const qsizetype nameStart = base.lastIndexOf(QLatin1Char('/')) + 1;
  QString stem = base.mid(nameStart, base.size() - nameStart - keep);
  const QString tail = base.right(keep) + suffix;
  while (!stem.isEmpty() && QFile::encodeName(stem + tail).size() > NAME_MAX) stem.chop(1);
  // A cut between the halves of a surrogate pair would leave half a character.
  if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);
  return base.left(nameStart) + stem + tail;
}

// A status query is a line or two; a larger file is no status query.
constexpr size_t kStatusQueryLimit = 64 * 1024;

QString ErrnoText(int err) { return QString::fromLocal8Bit(fp::SysErrorText(err).c_str()); }

const QString kClaimExt = QStringLiteral(".$$$");

// The start of the name of every temporary file the program writes in the receipt folder:
// hidden, and clearly the program's own, so that only its own leftovers are ever removed.
const QString kTempPrefix = QStringLiteral(".DriverFiscalPrinterX4.");
const QString kTempExt = QStringLiteral(".tmp");

// The temporary name a file `name` of the folder is written under: kTempPrefix + name
// (+ ".<n>" for n > 0) + ".tmp", with the end of `name` cut as far as needed to fit the
// limit of NAME_MAX bytes, whatever the receipt's name.
QString TempName(const QString& name, int n) {
  // A file of the program's own (a mark beside a claim) already has the prefix.
  return FittedName(name.startsWith(kTempPrefix) ? name : kTempPrefix + name,
                    (n == 0 ? QString() : QStringLiteral(".%1").arg(n)) + kTempExt, 0);
}

// Opens a file of the folder for reading without blocking (a pipe put under the name
// would wait for a writer for ever) and without following a link, and keeps it only when
// it is a regular file; `st` gets what it is. -1 (errno ENOENT, ELOOP, EINVAL...) else.
int OpenRegular(int dir, const std::string& name, struct stat& st) {
  IFileOps& ops = FileOps();
  const int fd = ops.OpenAt(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (ops.Fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISREG(st.st_mode) ? errno : EINVAL;
    ops.Close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What is not ours under a claim name, already written to the exception log (by folder
// path and name), so that every job does not write it again.
std::mutex& NotOursLock() {
  static std::mutex lock;
  return lock;
}
std::map<QString, std::set<QString>>& NotOursLogged() {
  static std::map<QString, std::set<QString>> logged;
  return logged;
}

// The folders whose file system was seen to number files by their names, already logged.
std::set<QString>& InodesByPathLogged() {
  static std::set<QString> logged;
  return logged;
}

}  // namespace

// ---- The folder ----

bool HasReportRoom(int fd) {
  struct statvfs st {};
  if (fd < 0 || FileOps().Fstatvfs(fd, &st) != 0) return true;
  // No blocks at all is a file system that does not tell its size (many FUSE shares), not
  // a full one.
  if (st.f_blocks == 0) return true;
  const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  return static_cast<uint64_t>(st.f_bavail) * unit >= static_cast<uint64_t>(ReportRoomBytes);
}

bool TReceiptFolder::HasRoom() { return HasReportRoom(Dir()); }

TReceiptFolder::TReceiptFolder(const QString& folder, TClock clock, TLogLine log)
    : FPath(WithSlash(folder)), FClock(std::move(clock)), FLog(std::move(log)) {}

TReceiptFolder::~TReceiptFolder() { Unlock(); }

bool TReceiptFolder::Exists() const {
  struct stat st {};
  return !FPath.isEmpty() && FileOps().Stat(Native(FPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void TReceiptFolder::Fail(const QString& message) { throw EReceiptFolderError(message); }

int TReceiptFolder::Dir() {
  if (FDirFd >= 0 || FDirTried || FPath.isEmpty()) return FDirFd;
  FDirTried = true;
  IFileOps& ops = FileOps();
  FDirFd = ops.Open(Native(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  struct stat st {};
  if (FDirFd >= 0 && ops.Fstat(FDirFd, &st) != 0) {
    ops.Close(FDirFd);
    FDirFd = -1;
  }
  FDirDev = static_cast<uint64_t>(st.st_dev);
  FDirIno = static_cast<uint64_t>(st.st_ino);
  return FDirFd;
}

TReceiptFolder::TAt TReceiptFolder::At(const QString& name) {
  const int dir = Dir();
  return dir >= 0 ? TAt{dir, Native(name)} : TAt{AT_FDCWD, Native(FPath + name)};
}

int TReceiptFolder::FolderMoved() {
  if (Dir() < 0) return 0;
  struct stat st {};
  if (FileOps().Stat(Native(FPath).c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? ENOENT : 0;
  return static_cast<uint64_t>(st.st_dev) == FDirDev && static_cast<uint64_t>(st.st_ino) == FDirIno ? 0 : EXDEV;
}

void TReceiptFolder::CheckFolder() {
  if (FolderMoved() != 0)
    Fail(QStringLiteral("The receipt folder is not the one the job started in, nothing is written: ") + FPath);
}

bool TReceiptFolder::SyncFolder() {
  IFileOps& ops = FileOps();
  if (Dir() >= 0) return ops.Fsync(FDirFd) == 0;
  const int fd = ops.Open(Native(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ops.Fsync(fd) == 0;
  const int err = errno;
  ops.Close(fd);
  errno = err;
  return ok;
}

void TReceiptFolder::CloseClaim() {
  if (FClaimFd >= 0) FileOps().Close(FClaimFd);
  FClaimFd = -1;
}

bool TReceiptFolder::Lock() {
  Unlock();
  if (Dir() < 0) return true;
  if (::flock(FDirFd, LOCK_EX | LOCK_NB) == 0) {
    FLocked = true;
    return true;
  }
  return errno != EWOULDBLOCK;
}

void TReceiptFolder::Unlock() {
  CloseClaim();
  if (FDirFd >= 0) FileOps().Close(FDirFd);
  FDirFd = -1;
  FDirTried = false;
  FLocked = false;
}

// The receipt's name with the claim's extension, cut to fit when the receipt's own
// extension is shorter than the claim's (its report "N.rep" is as long and fits as well).
QString TReceiptFolder::ClaimName(const QString& name) {
  return FittedName(ChangeFileExt(name, QString()), kClaimExt, 0);
}

bool TReceiptFolder::IsOwnTemporary(const QString& name) {
  return name.startsWith(kTempPrefix) && name.endsWith(kTempExt);
}

// Renames `from` to base + ext, or, while that name exists, to base + "_1" + ext,
// base + "_2" + ext and so on; never replaces a file. The name used goes to `to`. The last
// `keep` characters of base stay whole when the name must be cut to fit. Names are of the
// folder.
bool TReceiptFolder::RenameToFreeName(const QString& from, const QString& base, const QString& ext, QString& to,
                                      qsizetype keep) {
  const TAt src = At(from);
  for (int n = 0; n < 10000; ++n) {
    to = FittedName(base, n == 0 ? ext : QLatin1Char('_') + QString::number(n) + ext, keep);
    if (FileOps().RenameAt(src.Dir, src.Name.c_str(), At(to).Name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

bool TReceiptFolder::KeepOutcomeUnknown(const QString& claimName, const QString& tag, const QString& why,
                                        QString& target) {
  QString name;
  if (!RenameToFreeName(claimName, ChangeFileExt(claimName, QString()), QStringLiteral(".unk"), name)) return false;
  target = FPath + name;
  QString line = tag + QStringLiteral(" Outcome unknown, not printed again: \"") + FPath + claimName +
                 QStringLiteral("\" kept as \"") + target + QStringLiteral("\"");
  if (!why.isEmpty()) line += QStringLiteral("; ") + why;
  FLog(line, true);
  FLog(line, false);
  return true;
}

bool TReceiptFolder::SetAsideNotOurs(const QString& claimName, const QString& tag) {
  IFileOps& ops = FileOps();
  const TAt claim = At(claimName);
  struct stat st {};
  if (ops.FstatAt(claim.Dir, claim.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) {
    errno = EEXIST;
    return false;
  }
  const QString path = FPath + claimName;
  if (S_ISLNK(st.st_mode)) {
    // A link holds nothing: the link itself goes, never what it points to.
    if (ops.UnlinkAt(claim.Dir, claim.Name.c_str(), 0) != 0) return errno == ENOENT;
    FLog(tag + QStringLiteral(" A link under a claim name, removed: \"") + path + QStringLiteral("\""), true);
    return true;
  }
  // A folder, a pipe or another kind is moved away whole, never opened or emptied.
  QString aside;
  if (!RenameToFreeName(claimName, ChangeFileExt(claimName, QString()), QStringLiteral(".aside"), aside))
    return errno == ENOENT;
  FLog(tag + QStringLiteral(" Not a regular file (a folder or another kind) under a claim name, set aside: \"") + path +
           QStringLiteral("\" is now \"") + FPath + aside + QStringLiteral("\""),
       true);
  return true;
}

int TReceiptFolder::RecoverLeftClaims(const std::function<void(const QString& claimName, const QString& kept)>& kept,
                                      const std::optional<QString>& waitingExt, const TLeftClaimHooks& hooks) {
  CheckFolder();
  // The names under a claim's extension, each with what it is (never following a link).
  QStringList claims;
  QStringList unfinished;  // the program's own temporary files, of a job that died
  QStringList ownFiles;    // the program's other own files (for hooks.OwnFile)
  std::set<QString> notOurs;
  {
    const int dir = Dir();
    const int copy = dir >= 0 ? ::fcntl(dir, F_DUPFD_CLOEXEC, 0) : -1;
    DIR* d = copy >= 0 ? ::fdopendir(copy) : ::opendir(Native(FPath).c_str());
    if (!d && copy >= 0) ::close(copy);
    if (d) {
      ::rewinddir(d);
      while (dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (QFile::encodeName(name) != QByteArray(e->d_name)) continue;
        const bool temporary = IsOwnTemporary(name);
        const bool own = !temporary && hooks.OwnFile && name.startsWith(kTempPrefix);
        if (!name.endsWith(kClaimExt) && !temporary && !own) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (own) {
          if (S_ISREG(st.st_mode)) ownFiles.append(name);
        } else if (temporary) {
          if (S_ISREG(st.st_mode)) unfinished.append(name);
        } else if (S_ISREG(st.st_mode))
          claims.append(name);
        else
          notOurs.insert(name);
      }
      ::closedir(d);
    }
  }
  std::sort(claims.begin(), claims.end());
  std::sort(unfinished.begin(), unfinished.end());
  // What is not ours under a claim name would keep a receipt of that name from its claim:
  // it is removed (a link) or set aside; only what cannot be stays, logged once.
  for (auto it = notOurs.begin(); it != notOurs.end();)
    it = SetAsideNotOurs(*it, QStringLiteral("[DelTempFiles]")) ? notOurs.erase(it) : std::next(it);
  QStringList toLog;
  {
    std::lock_guard<std::mutex> lock(NotOursLock());
    std::set<QString>& logged = NotOursLogged()[FPath];
    for (const QString& name : notOurs)
      if (!logged.count(name)) toLog.append(name);
    logged = notOurs;
    if (logged.empty()) NotOursLogged().erase(FPath);
  }
  for (const QString& name : toLog)
    FLog(QStringLiteral("[DelTempFiles] Not a regular file (a link or another kind) under a claim name, left in "
                        "place: \"") +
             FPath + name + QStringLiteral("\""),
         true);
  // This job holds the folder's lock, so no job of ours writes a report now: a temporary one
  // left is from a job that was stopped while it wrote, and the report it was to replace (if
  // any) is still whole under its name.
  for (const QString& name : unfinished) {
    const TAt temp = At(name);
    if (FileOps().UnlinkAt(temp.Dir, temp.Name.c_str(), 0) == 0)
      FLog(QStringLiteral("[DelTempFiles] Removed an unfinished report: \"") + FPath + name + QStringLiteral("\""),
           false);
  }
  int count = 0;
  bool moved = false;
  for (const QString& name : claims) {
    if (hooks.Settle && hooks.Settle(name)) continue;
    // A status query prints nothing: it is answered again, as a waiting file.
    if (waitingExt && IsStatusQuery(name)) {
      const QString waiting = ChangeFileExt(name, waitingExt->isEmpty() ? QString() : QLatin1Char('.') + *waitingExt);
      const TAt claim = At(name);
      if (FileOps().RenameAt(claim.Dir, claim.Name.c_str(), At(waiting).Name.c_str(), RENAME_NOREPLACE) == 0) {
        moved = true;
        FLog(QStringLiteral("[DelTempFiles] A status query left in print waits to be answered again: \"") + FPath +
                 name + QStringLiteral("\" is \"") + FPath + waiting + QStringLiteral("\" again"),
             false);
        continue;
      }
      if (errno == ENOENT) continue;
    }
    QString target;
    if (hooks.BeforeKept)
      hooks.BeforeKept(name, FPath + FreeName(ChangeFileExt(name, QString()), QStringLiteral(".unk")));
    if (!KeepOutcomeUnknown(name, QStringLiteral("[DelTempFiles]"), QString(), target)) {
      if (errno == ENOENT) continue;
      Fail(QStringLiteral("Can't rename temp file. Check permissions: ") + FPath);
    }
    ++count;
    if (kept) kept(name, target);
  }
  for (const QString& name : ownFiles) hooks.OwnFile(name);
  if (count > 0 || moved) SyncFolder();
  if (count > 0) FLog(QStringLiteral("[DelTempFiles] Renamed %1 temp files. ").arg(count), false);
  return count;
}

QString TReceiptFolder::FreeName(const QString& base, const QString& ext) {
  for (int n = 0; n < 10000; ++n) {
    const QString name = FittedName(base, n == 0 ? ext : QLatin1Char('_') + QString::number(n) + ext, 0);
    const TAt at = At(name);
    struct stat st {};
    if (FileOps().FstatAt(at.Dir, at.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) return name;
  }
  return FittedName(base, ext, 0);
}

QString TReceiptFolder::OwnName(const QString& name, const QString& ext) {
  return FittedName(kTempPrefix + ChangeFileExt(name, QString()), ext, 0);
}

bool TReceiptFolder::ReadFile(const QString& name, std::string& data, struct stat& st, size_t limit) {
  const TAt file = At(name);
  const int fd = OpenRegular(file.Dir, file.Name, st);
  if (fd < 0) return false;
  IFileOps& ops = FileOps();
  const bool read = ReadAll(ops, fd, data, limit);
  const int err = errno;
  ops.Close(fd);
  errno = err;
  return read;
}

bool TReceiptFolder::RemoveFile(const QString& name) {
  const TAt file = At(name);
  return FileOps().UnlinkAt(file.Dir, file.Name.c_str(), 0) == 0 || errno == ENOENT;
}

bool TReceiptFolder::IsStatusQuery(const QString& name) {
  std::vector<std::string> lines;
  struct stat st {};
  return ReadStatusQuery(name, nullptr, lines, st);
}

bool TReceiptFolder::ReadStatusQuery(const QString& name, const TFileStamp* stamp, std::vector<std::string>& lines,
                                     struct stat& st) {
  IFileOps& ops = FileOps();
  const TAt file = At(name);
  const int fd = OpenRegular(file.Dir, file.Name, st);
  if (fd < 0) return false;
  if (stamp && *stamp != FileStampOf(st)) {
    ops.Close(fd);
    return false;
  }
  std::string data;
  const bool read = ReadAll(ops, fd, data, kStatusQueryLimit);
  ops.Close(fd);
  if (!read) return false;
  lines = SplitLines(data);
  return !lines.empty() && (lines[0] == "&S" || lines[0] == "&s");
}

bool TReceiptFolder::ReportHolds(const QString& repName, const std::string& data) {
  IFileOps& ops = FileOps();
  const TAt file = At(repName);
  struct stat st {};
  const int fd = OpenRegular(file.Dir, file.Name, st);
  if (fd < 0) return false;
  std::string read;
  const bool whole = st.st_size == static_cast<off_t>(data.size()) && ReadAll(ops, fd, read, data.size());
  ops.Close(fd);
  return whole && read == data;
}

TFileStamp FileStampOf(const struct stat& st) {
  return TFileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                    static_cast<int64_t>(st.st_size),
                    static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString TReceiptFolder::StampChange(const TFileStamp& listed, const TFileStamp& now) const {
  QStringList what;
  if (now.Dev != listed.Dev || (now.Ino != listed.Ino && !FInodesByPath)) what << QStringLiteral("another file");
  if (now.Size != listed.Size) what << QStringLiteral("size %1, listed %2").arg(now.Size).arg(listed.Size);
  if (now.MtimeNs != listed.MtimeNs) what << QStringLiteral("modification time");
  return what.join(QStringLiteral(", "));
}

TReceiptFolder::TClaim TReceiptFolder::Claim(const QString& name, const std::function<void()>& renamed,
                                             const TFileStamp* listed) {
  CloseClaim();
  const QString source = FPath + name;
  const QString claimName = ClaimName(name);
  const QString claimPath = FPath + claimName;
  IFileOps& ops = FileOps();
  const TAt src = At(name);
  const TAt claim = At(claimName);
  auto gone = [&] {
    FLog(QStringLiteral("[DoReadFiles] File is gone, skipped: \"") + source + QStringLiteral("\""), false);
    return TClaim::Gone;
  };
  // A folder away from its path (renamed, or replaced by another) is not claimed from: the
  // file waits there, or the job ends before it writes into a folder that is not its own.
  const int moved = FolderMoved();
  if (moved == ENOENT) return gone();
  if (moved != 0) CheckFolder();
  int claimed = ops.RenameAt(src.Dir, src.Name.c_str(), claim.Name.c_str(), RENAME_NOREPLACE);
  // A link or anything but a regular file under the claim name is not a claim of ours: it
  // goes aside and the claim is made. A regular file there is a claim left by another run;
  // the receipt waits for the recovery of left claims.
  if (claimed != 0 && (errno == EEXIST || errno == ENOTEMPTY || errno == EISDIR)) {
    const int taken = errno;
    if (SetAsideNotOurs(claimName, QStringLiteral("[DoReadFiles]")))
      claimed = ops.RenameAt(src.Dir, src.Name.c_str(), claim.Name.c_str(), RENAME_NOREPLACE);
    else
      errno = taken;
  }
  if (claimed != 0) {
    const int err = errno;
    if (err == ENOENT) return gone();
    // The file's own refusal (the folder's sticky bit, its owner, a claim name taken by
    // something that is not ours): the file waits, the job goes on with the next one.
    if (err == EEXIST || err == EPERM || err == EACCES || err == ENOTEMPTY || err == EISDIR) {
      FClaimError = err == ENOTEMPTY || err == EISDIR ? EEXIST : err;
      return TClaim::Refused;
    }
    Fail(QStringLiteral("Can't rename file. Check permissions : ") + FPath);
  }
  if (renamed) renamed();
  auto back = [&] { return ops.RenameAt(claim.Dir, claim.Name.c_str(), src.Name.c_str(), RENAME_NOREPLACE) == 0; };
  // The listing took a regular file, but the name may have been replaced since: a link
  // (which would print a file from outside the folder), a pipe (whose opening would wait
  // for ever) or anything else goes back under its own name and stays there.
  struct stat st {};
  const int fd = OpenRegular(claim.Dir, claim.Name, st);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) {
    // A file the program's user may not read (made 0600 by another user): it goes back
    // under its name and waits like a refused claim; the caller reports why.
    FClaimError = errno;
    if (!back())
      FLog(QStringLiteral("[DoReadFiles] File cannot be read and cannot go back, left as: \"") + claimPath +
               QStringLiteral("\""),
           true);
    return TClaim::Unreadable;
  }
  if (fd < 0) {
    const bool wentBack = back();
    FLog(QStringLiteral("[DoReadFiles] Not a regular file (a link or another kind), left in place: \"") +
             (wentBack ? source : claimPath) + QStringLiteral("\""),
         true);
    return TClaim::NotRegular;
  }
  // A file put in place of the listed one after the listing (or written to since) may
  // still be being written: it goes back and settles like any new file. Should its name
  // have been taken meanwhile, the claim stays and the next job keeps it as unknown
  // outcome, unprinted.
  // The stamp is read relative to the descriptor, as the listing reads it relative to the
  // folder: the two are compared, so they come from the same kind of call (a layer that
  // rewrites the times of one kind of status call, a preloaded time shifter for one, would
  // otherwise find every file changed and leave it waiting for ever).
  struct stat stamped = st;
  if (ops.FstatAt(fd, "", &stamped, AT_EMPTY_PATH) != 0 || !SameFile(stamped, st)) stamped = st;
  const QString changed = listed ? StampChange(*listed, FileStampOf(stamped)) : QString();
  if (!changed.isEmpty()) {
    ops.Close(fd);
    if (!back()) {
      FLog(QStringLiteral("[DoReadFiles] File changed after it was listed and cannot go back, left as: \"") +
               claimPath + QStringLiteral("\" (") + changed + QStringLiteral(")"),
           true);
      return TClaim::Changed;
    }
    // Only the number differs: either another file was put under the name, or the file
    // system numbers its files by their names (a share over SSH does), and the claim's
    // new name gave it a new number. Back under its listed name, the file shows which: the
    // listed number again is the same file, and is claimed once more, compared from now
    // on by what a rename keeps there, its size and modification time.
    struct stat again {};
    if (!FInodesByPath && FileStampOf(stamped).Ino != listed->Ino &&
        ops.FstatAt(src.Dir, src.Name.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 && FileStampOf(again) == *listed) {
      FInodesByPath = true;
      bool first = false;
      {
        std::lock_guard<std::mutex> lock(NotOursLock());
        first = InodesByPathLogged().insert(FPath).second;
      }
      if (first)
        FLog(QStringLiteral("[DoReadFiles] The receipt folder's file system numbers its files by their names: a "
                            "claimed file is compared with its listing by size and modification time: ") +
                 FPath,
             false);
      return Claim(name, {}, listed);
    }
    FLog(QStringLiteral("[DoReadFiles] File changed after it was listed, it waits: \"") + source +
             QStringLiteral("\" (") + changed + QStringLiteral(")"),
         false);
    return TClaim::Changed;
  }
  // The claim must be on disk before the printer prints: after a power loss a claim that
  // is not would bring the file back, and it would print twice.
  if (!SyncFolder()) {
    const int err = errno;
    ops.Close(fd);
    back();
    Fail(QStringLiteral("Can't sync folder: ") + FPath + QStringLiteral(" ") + ErrnoText(err));
  }
  FClaimFd = fd;
  return TClaim::Claimed;
}

bool TReceiptFolder::FinishPrinted(const QString& name) {
  CloseClaim();
  CheckFolder();
  const QString claimName = ClaimName(name);
  const TAt claim = At(claimName);
  if (FileOps().UnlinkAt(claim.Dir, claim.Name.c_str(), 0) == 0) return true;
  if (errno == ENOENT) return false;
  Fail(QStringLiteral("Can't delete file. Check permissions : ") + FPath + claimName);
}

void TReceiptFolder::FinishFailed(const QString& name, const TFileVerdict& verdict, QString* kept) {
  CloseClaim();
  CheckFolder();
  QString target;
  if (verdict.Outcome == TFileOutcome::Unknown) {
    if (!KeepOutcomeUnknown(ClaimName(name), QStringLiteral("[DoReadFiles]"), verdict.Why, target))
      Fail(QStringLiteral("Can't rename temp file. Check permissions: ") + FPath);
  } else {
    MoveToErrorFile(name, target);
  }
  if (kept) *kept = target;
  SyncFolder();
}

void TReceiptFolder::MoveToErrorFile(const QString& name, QString& target) {
  const QString errName = ChangeFileExt(name, QStringLiteral(".err"));
  const QString claimName = ClaimName(name);
  IFileOps& ops = FileOps();
  const TAt claim = At(claimName);
  const TAt err = At(errName);
  target = FPath + errName;
  if (ops.RenameAt(claim.Dir, claim.Name.c_str(), err.Name.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EEXIST) Fail(QStringLiteral("Can't current file to err file. May be permission not set: ") + FPath);
  struct stat st {};
  if (ops.FstatAt(err.Dir, err.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    // Not an older error file but something that is not ours (a folder, a link): it stays,
    // and the error file takes the next free counted name.
    QString counted;
    if (!RenameToFreeName(claimName, ChangeFileExt(name, QString()), QStringLiteral(".err"), counted))
      Fail(QStringLiteral("Can't current file to err file. May be permission not set: ") + FPath);
    target = FPath + counted;
    FLog(QStringLiteral("[DoReadFiles] Not a regular file (a link or another kind) under the error file's name, "
                        "left in place: \"") +
             FPath + errName + QStringLiteral("\"; the error file is \"") + target + QStringLiteral("\""),
         true);
    return;
  }
  // An older error file of that name is kept under its time stamp.
  const QDateTime now = FClock ? FClock() : QDateTime::currentDateTime();
  const QString stamp = now.toString(QStringLiteral("ddMMyyyyhhmm")) +
                        QStringLiteral("%1").arg(now.time().msec(), 2, 10, QLatin1Char('0'));
  QString aside;
  if (!RenameToFreeName(errName, ChangeFileExt(name, QString()) + QLatin1Char('_') + stamp, QStringLiteral(".err"),
                        aside, stamp.size() + 1))
    Fail(QStringLiteral("Can't rename err file: ") + FPath);
  if (ops.RenameAt(claim.Dir, claim.Name.c_str(), err.Name.c_str(), RENAME_NOREPLACE) != 0)
    Fail(QStringLiteral("Can't current file to err file. May be permission not set: ") + FPath);
}

int TReceiptFolder::ReplaceFile(const QString& name, const std::string& data) {
  IFileOps& ops = FileOps();
  const TAt file = At(name);
  // The temporary name is created afresh, never written through a link; whatever stood
  // under it goes first. A name that cannot be cleared (a folder put there) is not ours:
  // the next counted one is taken.
  int fd = -1;
  TAt temp{};
  for (int n = 0; n < 10 && fd < 0; ++n) {
    temp = At(TempName(name, n));
    if (ops.UnlinkAt(temp.Dir, temp.Name.c_str(), 0) != 0 && errno != ENOENT) {
      if (errno == EISDIR || errno == EPERM) continue;
      return 1;
    }
    fd = ops.OpenAt(temp.Dir, temp.Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) return 1;
  }
  if (fd < 0) return 1;
  auto dropTemp = [&] {
    const int err = errno;
    ops.UnlinkAt(temp.Dir, temp.Name.c_str(), 0);
    errno = err;
  };
  bool ok = WriteAll(ops, fd, data) && ops.Fsync(fd) == 0;
  int err = errno;
  if (ops.Close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  errno = err;
  if (!ok) {
    dropTemp();
    return 1;
  }
  // The rename replaces whatever file stands under the name (a link itself, not its
  // target): an older file is only replaced by a complete one.
  if (ops.RenameAt(temp.Dir, temp.Name.c_str(), file.Name.c_str(), 0) != 0) {
    dropTemp();
    return 2;
  }
  return 0;
}

void TReceiptFolder::WriteReport(const QString& repName, const std::string& data) {
  CheckFolder();
  int step = ReplaceFile(repName, data);
  if (step == 2 && (errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST)) {
    // A folder under the report's name is not ours: it stays, and the report takes the
    // next counted name, so that a printed receipt's answer is not held up by it.
    const QString ext = QStringLiteral(".rep");
    for (int n = 1; n < 10 && step == 2; ++n) {
      const QString counted = FittedName(ChangeFileExt(repName, QString()), QStringLiteral("_%1").arg(n) + ext, 0);
      step = ReplaceFile(counted, data);
      if (step == 0)
        FLog(QStringLiteral("[DoReadFiles] Not a regular file under the report file's name, left in place: \"") +
                 FPath + repName + QStringLiteral("\"; the report is \"") + FPath + counted + QStringLiteral("\""),
             true);
    }
  }
  if (step != 0) {
    const int err = errno;
    throw EReceiptFolderError(
        QStringLiteral("Can't write report file: \"") + FPath + repName + QStringLiteral("\" ") + ErrnoText(err), err);
  }
}

void TReceiptFolder::SyncReport(const QString& repPath) {
  if (repPath.isEmpty()) return;
  const QString name = repPath.startsWith(FPath) ? repPath.mid(FPath.size()) : repPath;
  const TAt rep = At(name);
  struct stat st {};
  const int fd = OpenRegular(rep.Dir, rep.Name, st);
  if (fd < 0) return;
  IFileOps& ops = FileOps();
  const bool ok = ops.Fsync(fd) == 0;
  ops.Close(fd);
  if (!ok || !SyncFolder())
    FLog(QStringLiteral("[DoReadFiles] Can't sync report file: \"") + repPath + QStringLiteral("\""), false);
}

// ---- The status answer ----

void TReceiptFolder::AnswerStatusQuery(const QStringList& listedNames, const std::string& message,
                                       const std::map<QString, TFileStamp>* stamps) {
  if (FolderMoved() != 0) {
    FLog(QStringLiteral("[SaveErrorStatus] The receipt folder is not the one the job started in, no status answer: ") +
             FPath,
         false);
    return;
  }
  for (const QString& name : listedNames) {
    const auto listed = stamps ? stamps->find(name) : std::map<QString, TFileStamp>::const_iterator();
    std::vector<std::string> lines;
    struct stat st {};
    if (!ReadStatusQuery(name, stamps && listed != stamps->end() ? &listed->second : nullptr, lines, st)) continue;

    lines.push_back(message);
    std::string answer;
    for (const std::string& l : lines) answer += l + "\r\n";
    // (Not ".$$$" for the temporary name: that name belongs to claimed receipts.)
    const QString repName = ChangeFileExt(name, QStringLiteral(".rep"));
    const QString rep = FPath + repName;
    const int step = ReplaceFile(repName, answer);
    const int err = errno;
    if (step == 1) {
      FLog(QStringLiteral("[SaveErrorStatus] Can't write status answer: \"") + rep + QStringLiteral("\" ") +
               ErrnoText(err),
           false);
      return;
    }
    if (step == 2) {
      FLog(QStringLiteral("[SaveErrorStatus] Can't rename status answer: \"") + rep + QStringLiteral("\" ") +
               ErrnoText(err),
           false);
      return;
    }
    SyncFolder();
    // The query goes only while its name still holds the file that was read.
    IFileOps& ops = FileOps();
    const TAt query = At(name);
    struct stat now {};
    if (ops.FstatAt(query.Dir, query.Name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, st) &&
        ops.UnlinkAt(query.Dir, query.Name.c_str(), 0) != 0)
      FLog(QStringLiteral("[SaveErrorStatus] Can't delete status query: \"") + FPath + name + QStringLiteral("\""),
           false);
    return;
  }
}

}  // namespace fp
