#pragma once
// The one unit that decides when a receipt file is taken. It lists the waiting receipt
// files of a folder (non-empty regular files with the receipt extension), keeps what its
// listings have seen of each one, and lets a file be taken only once it has stayed
// unchanged for the readiness age by the watch's monotonic clock (never the wall clock:
// a change of daylight-saving time or a clock set by hand moves neither a file's quiet
// time nor a retry). A file whose claim was refused, or that cannot be read, waits for a
// slow retry. The runner owns one watch and hands it to every worker with the request, so
// the file timer's ticks and the file jobs (another thread) share what has been seen: a
// file's quiet time does not start again with every job.
//
// The folder is read through the file-operations seam (platform/FileOps.h), relative to
// the folder's descriptor; a link is never followed out of it.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "program/receipts/uReceiptFolder.h"

namespace fp {

// The 32-bit DOS date-time of a local time (seconds in steps of 2; years before 1980
// give 1 January 1980, years after 2107 the last representable moment).
uint32_t DosDateTime(const QDateTime& local);

// One waiting receipt file as a listing saw it.
struct TListedFile {
  QString Name;          // the bare file name
  TFileStamp Stamp;      // identity, size and modification time: its claim must find it the same
  uint32_t DosTime = 0;  // the modification time as a local DOS date-time
  int64_t CtimeNs = 0;   // the status change time (a chmod or chown moves it)
  bool operator==(const TListedFile&) const = default;
};

// The files a watch found ready, oldest first, and the wait until the next one is.
struct TReadyFiles {
  std::vector<TListedFile> Files;
  // Milliseconds from the listing's moment until the earliest file that waits, not yet
  // ready, will be ready if it stays unchanged; -1 when no such file waits.
  qint64 WaitMs = -1;
};

class TFolderWatch {
 public:
  // Milliseconds of a clock that never jumps.
  using TMonotonicClock = std::function<int64_t()>;

  // monotonicMs: the clock of the quiet times and the retries (the system's monotonic
  // clock when empty). The runner and its workers share one watch, and so one clock.
  explicit TFolderWatch(TMonotonicClock monotonicMs = {});

  // A receipt file is taken only once it has stayed unchanged this long.
  static constexpr int ReadyAgeMs = 500;
  // A file whose claim was refused for a reason of its own (NoteRefusedClaim), or that
  // cannot be read, is listed again this long after the refusal, or at once when the
  // status change time of the folder or of the file has moved since.
  static constexpr qint64 RefusedClaimRetryMs = 60 * 1000;

  // Every waiting receipt file of the folder: non-empty regular files whose name ends in
  // "." + `ext` (any case; an empty extension lists names without a dot), oldest first by
  // the modification time in UTC, then by name. A name with that extension that is a
  // symbolic link or not a regular file, or whose bytes are not UTF-8, is not listed;
  // `refused`, when given, gets those names. Raises EAbort ("[SelectBonFiles]" + reason)
  // when the folder cannot be opened or read; a folder that does not exist lists nothing.
  static std::vector<TListedFile> ListWaiting(const QString& folder, const QString& ext,
                                              QStringList* refused = nullptr);

  // The waiting files of the folder that are ready to be claimed now, by the watch's
  // monotonic clock. The modification time is compared, never trusted as a time: a file
  // is quiet since the first listing that saw it with its present stamp, so a file first
  // seen is never ready at once (unless readyAgeMs is 0), whatever its stamp says. A name
  // that is refused by the listing is written to the exception log of `logDir` (when
  // given) once while it stays. A file that would be ready is opened for reading (without
  // blocking, without following a link) and closed: one the program's user may not read
  // (EACCES, EPERM) is not ready; it is noted as a refused claim and written to both logs
  // of `logDir` once while the reason stays, so no job starts for it. A file whose claim
  // was refused waits for its retry unlisted. An empty folder name lists nothing. Raises
  // EAbort like ListWaiting.
  TReadyFiles Ready(const QString& folder, const QString& ext, const QString& logDir = QString(),
                    int readyAgeMs = ReadyAgeMs);

  // Notes that the claim of the waiting file `name` of the folder was refused with errno
  // `err` (unreadable: the file itself could not be opened for reading); true when the
  // reason is new for that file (it is to be reported then, and not again while the
  // reason stays). The note goes once the file is claimed or no longer waits.
  bool NoteRefusedClaim(const QString& folder, const QString& name, int err, bool unreadable = false);
  // The line that reports a receipt file the program's user cannot read, with `tag`.
  static QString UnreadableLine(const QString& tag, const QString& path, int err);
  // Takes the folder's present status change time as the one of every refused file's note
  // (at the end of a file job, whose own writes moved it).
  void SettleRefusedClaims(const QString& folder);
  // A claimed file has left the waiting files: a new file of that name starts afresh.
  void Forget(const QString& folder, const QString& name);

 private:
  // What the listings have seen of one waiting file, and since when it has stayed so.
  struct TWatchedFile {
    TFileStamp Stamp;
    qint64 QuietSinceMs = 0;
  };
  // A refused claim: the reason, when it was tried, and the status change times of the
  // folder and the file then; a change of either (a chmod, a chown) makes it worth trying
  // at once.
  struct TRefusedClaim {
    int Err = 0;
    bool Unreadable = false;
    qint64 TriedMs = 0;
    int64_t FolderCtimeNs = 0;
    int64_t FileCtimeNs = 0;
  };
  struct TFolderState {
    std::map<QString, TWatchedFile> Files;
    std::set<QString> LoggedRefused;
    std::map<QString, TRefusedClaim> RefusedClaims;
  };

  TMonotonicClock FMonotonicMs;
  // The main window's ticks and the file job list the same folder from two threads.
  std::mutex FLock;
  std::map<QString, TFolderState> FFolders;  // by folder with a trailing "/"
};

}  // namespace fp
