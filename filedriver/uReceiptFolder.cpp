#include "filedriver/uReceiptFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "filedriver/PathNamesQt.h"
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
  if (failure == TFileFailure::PrinterLost)
    return unknown("the printer stopped answering after the receipt was opened");
  return {TFileOutcome::Error, QString()};
}

EReceiptFolderError::EReceiptFolderError(QString message)
    : Message(std::move(message)), What(Message.toStdString()) {}

// ---- File helpers ----

namespace {

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The name itself is a regular file (a symbolic link is not followed).
bool IsRegularFile(const QString& path) {
  struct stat st {};
  return FileOps().Lstat(Native(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// fsync of a file or a folder (a folder's entries: renames and new names in it). A file
// that is a symbolic link is not followed.
bool SyncPath(const QString& path, bool folder) {
  IFileOps& ops = FileOps();
  int fd = ops.Open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : O_NOFOLLOW), 0);
  if (fd < 0) return false;
  bool ok = ops.Fsync(fd) == 0;
  int err = errno;
  ops.Close(fd);
  errno = err;
  return ok;
}

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

// Renames `from` to base + ext, or, while that name exists, to base + "_1" + ext,
// base + "_2" + ext and so on; never replaces a file. The name used goes to `to`. The last
// `keep` characters of base stay whole when the name must be cut to fit.
bool RenameToFreeName(const QString& from, const QString& base, const QString& ext, QString& to,
                      qsizetype keep = 0) {
  const std::string src = Native(from);
  for (int n = 0; n < 10000; ++n) {
    to = FittedName(base, n == 0 ? ext : QLatin1Char('_') + QString::number(n) + ext, keep);
    if (FileOps().RenameNoReplace(src.c_str(), Native(to).c_str()) == 0) return true;
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

// The whole file (at most `limit` bytes) through the file operations; false when it cannot
// be read, is larger, or is a symbolic link (never followed out of the folder).
bool ReadWholeFile(const QString& path, std::string& data, size_t limit) {
  IFileOps& ops = FileOps();
  int fd = ops.Open(Native(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ReadAll(ops, fd, data, limit);
  ops.Close(fd);
  return ok;
}

// Writes the bytes into a new file and syncs it. Whatever stood under the name goes first
// (a link is removed, not followed), and the file is created exclusively without following
// a link, so nothing placed in the folder can send the bytes elsewhere.
bool WriteWholeFile(const QString& path, const std::string& data) {
  IFileOps& ops = FileOps();
  const std::string name = Native(path);
  if (ops.Unlink(name.c_str()) != 0 && errno != ENOENT) return false;
  int fd = ops.Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(ops, fd, data) && ops.Fsync(fd) == 0;
  const int err = errno;
  if (ops.Close(fd) != 0 && ok) return false;
  errno = err;
  return ok;
}

// A status query is a line or two; a larger file is no status query.
constexpr size_t kStatusQueryLimit = 64 * 1024;

QString ErrnoText(int err) { return QString::fromLocal8Bit(fp::SysErrorText(err).c_str()); }

const QString kClaimExt = QStringLiteral(".$$$");

}  // namespace

// ---- The folder ----

TReceiptFolder::TReceiptFolder(const QString& folder, TClock clock, TLogLine log)
    : FPath(WithSlash(folder)), FClock(std::move(clock)), FLog(std::move(log)) {}

TReceiptFolder::~TReceiptFolder() { Unlock(); }

bool TReceiptFolder::Exists() const {
  struct stat st {};
  return !FPath.isEmpty() && FileOps().Stat(Native(FPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void TReceiptFolder::Fail(const QString& message) { throw EReceiptFolderError(message); }

bool TReceiptFolder::Lock() {
  Unlock();
  FLockFd = FileOps().Open(Native(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (FLockFd < 0) return true;
  if (::flock(FLockFd, LOCK_EX | LOCK_NB) == 0) return true;
  return errno != EWOULDBLOCK;
}

void TReceiptFolder::Unlock() {
  if (FLockFd >= 0) FileOps().Close(FLockFd);
  FLockFd = -1;
}

QString TReceiptFolder::ClaimName(const QString& name) { return ChangeFileExt(name, kClaimExt); }

bool TReceiptFolder::KeepOutcomeUnknown(const QString& claimName, const QString& tag, const QString& why,
                                        QString& target) {
  const QString claim = FPath + claimName;
  if (!RenameToFreeName(claim, FPath + ChangeFileExt(claimName, QString()), QStringLiteral(".unk"), target))
    return false;
  QString line = tag + QStringLiteral(" Outcome unknown, not printed again: \"") + claim +
                 QStringLiteral("\" kept as \"") + target + QStringLiteral("\"");
  if (!why.isEmpty()) line += QStringLiteral("; ") + why;
  FLog(line, true);
  FLog(line, false);
  return true;
}

int TReceiptFolder::RecoverLeftClaims(const std::function<void(const QString& kept)>& kept) {
  const QStringList claims =
      QDir(FPath).entryList({QStringLiteral("*.$$$")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  int count = 0;
  for (const QString& name : claims) {
    QString target;
    if (!KeepOutcomeUnknown(name, QStringLiteral("[DelTempFiles]"), QString(), target)) {
      if (errno == ENOENT) continue;
      Fail(QStringLiteral("Can't rename temp file. Check permissions: ") + FPath);
    }
    ++count;
    if (kept) kept(target);
  }
  if (count > 0) {
    SyncPath(FPath, true);
    FLog(QStringLiteral("[DelTempFiles] Renamed %1 temp files. ").arg(count), false);
  }
  return count;
}

TFileStamp FileStampOf(const struct stat& st) {
  return TFileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                    static_cast<int64_t>(st.st_size),
                    static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

TReceiptFolder::TClaim TReceiptFolder::Claim(const QString& name, const std::function<void()>& renamed,
                                             const TFileStamp* listed) {
  const QString source = FPath + name;
  const QString claimPath = ClaimPath(name);
  if (FileOps().RenameNoReplace(Native(source).c_str(), Native(claimPath).c_str()) != 0) {
    if (errno == ENOENT) {
      FLog(QStringLiteral("[DoReadFiles] File is gone, skipped: \"") + source + QStringLiteral("\""), false);
      return TClaim::Gone;
    }
    Fail(QStringLiteral("Can't rename file. Check permissions : ") + FPath);
  }
  if (renamed) renamed();
  // The listing took a regular file, but the name may have been replaced since: a link
  // (which would print a file from outside the folder) or anything else goes back under
  // its own name and stays there.
  struct stat st {};
  if (FileOps().Lstat(Native(claimPath).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool back = FileOps().RenameNoReplace(Native(claimPath).c_str(), Native(source).c_str()) == 0;
    FLog(QStringLiteral("[DoReadFiles] Not a regular file (a link or another kind), left in place: \"") +
             (back ? source : claimPath) + QStringLiteral("\""),
         true);
    return TClaim::NotRegular;
  }
  // A file put in place of the listed one after the listing (or written to since) may
  // still be being written: it goes back and settles like any new file. Should its name
  // have been taken meanwhile, the claim stays and the next job keeps it as unknown
  // outcome, unprinted.
  if (listed && FileStampOf(st) != *listed) {
    if (FileOps().RenameNoReplace(Native(claimPath).c_str(), Native(source).c_str()) != 0)
      FLog(QStringLiteral("[DoReadFiles] File changed after it was listed and cannot go back, left as: \"") +
               claimPath + QStringLiteral("\""),
           true);
    return TClaim::Changed;
  }
  // The claim must be on disk before the printer prints: after a power loss a claim that
  // is not would bring the file back, and it would print twice.
  if (!SyncPath(FPath, true)) {
    const int err = errno;
    FileOps().RenameNoReplace(Native(claimPath).c_str(), Native(source).c_str());
    Fail(QStringLiteral("Can't sync folder: ") + FPath + QStringLiteral(" ") + ErrnoText(err));
  }
  return TClaim::Claimed;
}

void TReceiptFolder::FinishPrinted(const QString& name) {
  const QString claimPath = ClaimPath(name);
  if (FileOps().Unlink(Native(claimPath).c_str()) != 0)
    Fail(QStringLiteral("Can't delete file. Check permissions : ") + claimPath);
}

void TReceiptFolder::FinishFailed(const QString& name, const TFileVerdict& verdict) {
  if (verdict.Outcome == TFileOutcome::Unknown) {
    QString target;
    if (!KeepOutcomeUnknown(ClaimName(name), QStringLiteral("[DoReadFiles]"), verdict.Why, target))
      Fail(QStringLiteral("Can't rename temp file. Check permissions: ") + FPath);
  } else {
    MoveToErrorFile(name);
  }
  SyncPath(FPath, true);
}

void TReceiptFolder::MoveToErrorFile(const QString& name) {
  const QString errPath = FPath + ChangeFileExt(name, QStringLiteral(".err"));
  const std::string claim = Native(ClaimPath(name));
  if (FileOps().RenameNoReplace(claim.c_str(), Native(errPath).c_str()) == 0) return;
  if (errno != EEXIST)
    Fail(QStringLiteral("Can't current file to err file. May be permission not set: ") + FPath);
  // An older error file of that name is kept under its time stamp.
  const QDateTime now = FClock ? FClock() : QDateTime::currentDateTime();
  const QString stamp = now.toString(QStringLiteral("ddMMyyyyhhmm")) +
                        QStringLiteral("%1").arg(now.time().msec(), 2, 10, QLatin1Char('0'));
  QString aside;
  if (!RenameToFreeName(errPath, FPath + ChangeFileExt(name, QString()) + QLatin1Char('_') + stamp,
                        QStringLiteral(".err"), aside, stamp.size() + 1))
    Fail(QStringLiteral("Can't rename err file: ") + FPath);
  if (FileOps().RenameNoReplace(claim.c_str(), Native(errPath).c_str()) != 0)
    Fail(QStringLiteral("Can't current file to err file. May be permission not set: ") + FPath);
}

void TReceiptFolder::SyncReport(const QString& repPath) {
  if (repPath.isEmpty() || !IsRegularFile(repPath)) return;
  if (!SyncPath(repPath, false) || !SyncPath(FPath, true))
    FLog(QStringLiteral("[DoReadFiles] Can't sync report file: \"") + repPath + QStringLiteral("\""), false);
}

// ---- The status answer ----

void TReceiptFolder::AnswerStatusQuery(const QStringList& listedNames, const std::string& message) {
  for (const QString& name : listedNames) {
    const QString query = FPath + name;
    std::string data;
    if (!ReadWholeFile(query, data, kStatusQueryLimit)) continue;
    std::vector<std::string> lines = SplitLines(data);
    if (lines.empty() || (lines[0] != "&S" && lines[0] != "&s")) continue;

    lines.push_back(message);
    std::string answer;
    for (const std::string& l : lines) answer += l + "\r\n";
    const QString rep = FPath + ChangeFileExt(name, QStringLiteral(".rep"));
    // Written beside the answer first, then renamed over it: an older answer is only
    // replaced by a complete one. (Not ".$$$": that name belongs to claimed receipts.)
    // The temporary name is created afresh, never written through a link; the rename
    // replaces whatever stands under the answer's name (a link itself, not its target).
    const QString temp = rep + QStringLiteral(".tmp");
    if (!WriteWholeFile(temp, answer)) {
      const int err = errno;
      FileOps().Unlink(Native(temp).c_str());
      FLog(QStringLiteral("[SaveErrorStatus] Can't write status answer: \"") + temp + QStringLiteral("\" ") +
               ErrnoText(err),
           false);
      return;
    }
    if (FileOps().Rename(Native(temp).c_str(), Native(rep).c_str()) != 0) {
      const int err = errno;
      FileOps().Unlink(Native(temp).c_str());
      FLog(QStringLiteral("[SaveErrorStatus] Can't rename status answer: \"") + rep + QStringLiteral("\" ") +
               ErrnoText(err),
           false);
      return;
    }
    SyncPath(FPath, true);
    if (IsRegularFile(rep) && FileOps().Unlink(Native(query).c_str()) != 0)
      FLog(QStringLiteral("[SaveErrorStatus] Can't delete status query: \"") + query + QStringLiteral("\""), false);
    return;
  }
}

}  // namespace fp
