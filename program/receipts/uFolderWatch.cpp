#include "program/receipts/uFolderWatch.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <string>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/app/uProgramLog.h"
#include "platform/FileOps.h"
#include "platform/MonotonicClock.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

int64_t CtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

int64_t FolderCtimeNs(const QString& dir) {
  struct stat st {};
  return FileOps().Stat(Native(dir).c_str(), &st) == 0 ? CtimeNs(st) : 0;
}

[[noreturn]] void ListingFailed(int err) { throw EAbort(std::string("[SelectBonFiles]") + SysErrorText(err)); }

// 0 when the file can be opened for reading, else the errno of the opening. It is opened
// without blocking (a pipe swapped in would wait for a writer) and without following a link.
int ReadError(const QString& path) {
  IFileOps& ops = FileOps();
  const int fd = ops.Open(Native(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  ops.Close(fd);
  return 0;
}

}  // namespace

TFolderWatch::TFolderWatch(TMonotonicClock monotonicMs) : FMonotonicMs(std::move(monotonicMs)) {
  if (!FMonotonicMs) FMonotonicMs = [] { return fp::MonotonicMs(); };
}

QString TFolderWatch::UnreadableLine(const QString& tag, const QString& path, int err) {
  return tag + QStringLiteral(" Receipt file cannot be read: ") + QString::fromStdString(SysErrorText(err)) +
         QStringLiteral("; it waits: \"") + path + QStringLiteral("\"");
}

uint32_t DosDateTime(const QDateTime& local) {
  const QDate d = local.date();
  const QTime t = local.time();
  if (d.year() < 1980) return (1u << 21) | (1u << 16);
  if (d.year() > 2107) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  uint32_t date = (static_cast<uint32_t>(d.year() - 1980) << 9) | (static_cast<uint32_t>(d.month()) << 5) |
                  static_cast<uint32_t>(d.day());
  uint32_t time = (static_cast<uint32_t>(t.hour()) << 11) | (static_cast<uint32_t>(t.minute()) << 5) |
                  static_cast<uint32_t>(t.second() / 2);
  return (date << 16) | time;
}

std::vector<TListedFile> TFolderWatch::ListWaiting(const QString& folder, const QString& ext, QStringList* refused) {
  if (refused) refused->clear();
  IFileOps& ops = FileOps();
  const std::string dir = WithSlash(Native(folder));
  const int fd = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return {};
    ListingFailed(err);
  }
  std::vector<std::string> names;
  if (ops.ReadDir(fd, names) != 0) {
    const int err = errno;
    ops.Close(fd);
    ListingFailed(err);
  }
  std::vector<TListedFile> files;
  const QString suffix = QLatin1Char('.') + ext;
  for (const std::string& raw : names) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(raw));
    // "*.ext" without regard to case; an empty extension ("*.") matches names without one.
    if (ext.isEmpty() ? name.contains(QLatin1Char('.')) : !name.endsWith(suffix, Qt::CaseInsensitive)) continue;
    // A name whose bytes are not UTF-8 does not come back from its decoding: the file could
    // not be claimed, renamed or answered by that name, so it is refused as well.
    if (QFile::encodeName(name).toStdString() != raw) {
      if (refused) refused->append(name);
      continue;
    }
    struct stat st {};
    // The entry itself: a link is never followed out of the folder.
    if (ops.FstatAt(fd, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      if (refused) refused->append(name);
      continue;
    }
    if (st.st_size <= 0) continue;
    files.push_back(
        TListedFile{name, FileStampOf(st), DosDateTime(QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec)), CtimeNs(st)});
  }
  ops.Close(fd);

  // Oldest first by the moment itself (in UTC: the local date-time repeats an hour when
  // the clocks go back), then by name.
  std::sort(files.begin(), files.end(), [](const TListedFile& a, const TListedFile& b) {
    if (a.Stamp.MtimeNs != b.Stamp.MtimeNs) return a.Stamp.MtimeNs < b.Stamp.MtimeNs;
    const int c = a.Name.compare(b.Name, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return files;
}

void TFolderWatch::Forget(const QString& folder, const QString& name) {
  std::lock_guard<std::mutex> lock(FLock);
  const auto it = FFolders.find(WithSlash(folder));
  if (it != FFolders.end()) {
    it->second.Files.erase(name);
    it->second.RefusedClaims.erase(name);
  }
}

void TFolderWatch::SettleRefusedClaims(const QString& folder) {
  const QString dir = WithSlash(folder);
  const int64_t folderCtime = FolderCtimeNs(dir);
  std::lock_guard<std::mutex> lock(FLock);
  const auto it = FFolders.find(dir);
  if (it == FFolders.end()) return;
  for (auto& [name, r] : it->second.RefusedClaims) r.FolderCtimeNs = folderCtime;
}

bool TFolderWatch::NoteRefusedClaim(const QString& folder, const QString& name, int err, bool unreadable) {
  const QString dir = WithSlash(folder);
  TRefusedClaim r;
  r.Err = err;
  r.Unreadable = unreadable;
  r.TriedMs = FMonotonicMs();
  r.FolderCtimeNs = FolderCtimeNs(dir);
  struct stat st {};
  if (FileOps().Lstat(Native(dir + name).c_str(), &st) == 0) r.FileCtimeNs = CtimeNs(st);
  std::lock_guard<std::mutex> lock(FLock);
  TFolderState& watch = FFolders[dir];
  const auto old = watch.RefusedClaims.find(name);
  const bool changed =
      old == watch.RefusedClaims.end() || old->second.Err != err || old->second.Unreadable != unreadable;
  watch.RefusedClaims[name] = r;
  return changed;
}

TReadyFiles TFolderWatch::Ready(const QString& folder, const QString& ext, const QString& logDir, int readyAgeMs) {
  TReadyFiles ready;
  if (folder.isEmpty()) return ready;
  QStringList refused;
  const std::vector<TListedFile> all = ListWaiting(folder, ext, &refused);
  const QString dir = WithSlash(folder);
  const qint64 nowMs = FMonotonicMs();
  const int64_t folderCtime = FolderCtimeNs(dir);
  QStringList toLog;
  QStringList unreadableToLog;
  {
    std::lock_guard<std::mutex> lock(FLock);
    TFolderState& watch = FFolders[dir];
    std::map<QString, TWatchedFile> seen;
    std::map<QString, TRefusedClaim> refusedClaims;
    for (const TListedFile& file : all) {
      TWatchedFile f;
      f.Stamp = file.Stamp;
      const auto old = watch.Files.find(file.Name);
      // The stamp is only compared, never read as a time: a share's clock may be ahead of
      // ours or behind it. A new file and a changed one are quiet from this listing on
      // (and every file, should the clock ever run back).
      if (old == watch.Files.end() || old->second.Stamp != f.Stamp || old->second.QuietSinceMs > nowMs)
        f.QuietSinceMs = nowMs;
      else
        f.QuietSinceMs = old->second.QuietSinceMs;
      seen[file.Name] = f;
      // A file whose claim was refused is tried again once a minute, or at once when the
      // folder's or its own status changed (a chmod, a chown); it does not count as
      // waiting meanwhile, so no job starts for it.
      const auto refusal = watch.RefusedClaims.find(file.Name);
      if (refusal != watch.RefusedClaims.end()) {
        const TRefusedClaim& r = refusal->second;
        refusedClaims[file.Name] = r;
        if (nowMs >= r.TriedMs && nowMs - r.TriedMs < RefusedClaimRetryMs && r.FolderCtimeNs == folderCtime &&
            r.FileCtimeNs == file.CtimeNs)
          continue;
      }
      const qint64 left = f.QuietSinceMs + readyAgeMs - nowMs;
      if (left <= 0) {
        // A file the program's user may not read (a share that creates files 0600 for
        // another user) could never be printed: it waits like a refused claim, and no job
        // is started for it.
        const int err = ReadError(dir + file.Name);
        if (err == EACCES || err == EPERM) {
          const auto note = refusedClaims.find(file.Name);
          if (note == refusedClaims.end() || note->second.Err != err || !note->second.Unreadable)
            unreadableToLog.append(UnreadableLine(QStringLiteral("[SelectReadyBonFiles]"), dir + file.Name, err));
          refusedClaims[file.Name] = TRefusedClaim{err, true, nowMs, folderCtime, file.CtimeNs};
          continue;
        }
        ready.Files.push_back(file);
      } else if (ready.WaitMs < 0 || left < ready.WaitMs) {
        ready.WaitMs = left;
      }
    }
    watch.Files.swap(seen);
    watch.RefusedClaims.swap(refusedClaims);
    std::set<QString> logged;
    for (const QString& name : refused) {
      if (watch.LoggedRefused.count(name)) {
        logged.insert(name);
      } else if (!logDir.isEmpty()) {
        logged.insert(name);
        toLog.append(name);
      }
    }
    watch.LoggedRefused.swap(logged);
    if (watch.Files.empty() && watch.LoggedRefused.empty() && watch.RefusedClaims.empty()) FFolders.erase(dir);
  }
  for (const QString& line : unreadableToLog) {
    if (logDir.isEmpty()) break;
    try {
      uProgramLog::WriteLog(logDir, line, true);
      uProgramLog::WriteLog(logDir, line, false);
    } catch (const std::exception&) {
      // A log folder that cannot be made loses the line.
    }
  }
  for (const QString& name : toLog) {
    try {
      uProgramLog::WriteLog(logDir,
                            QStringLiteral("[SelectReadyBonFiles] Not a regular file (a link or another kind) or a "
                                           "name that is not UTF-8, left in place: \"") +
                                dir + name + QStringLiteral("\""),
                            true);
    } catch (const std::exception&) {
      // A log folder that cannot be made loses the line.
    }
  }
  return ready;
}

}  // namespace fp
