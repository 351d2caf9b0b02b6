#pragma once
// The receipt folder as the file job works in it, one receipt file at a time:
//
//   claim    the waiting file "N.bon" is renamed to "N.$$$", and the rename is on disk
//            before anything goes to the printer;
//   finish   the claim of a printed file is deleted; a failed file becomes "N.err" (an
//            error file, which a point-of-sale program may send again; an older "N.err" is
//            moved aside to "N_ddmmyyyyhhnnzz.err" first) or "N.unk" (outcome unknown: the
//            receipt may have printed, and the file must not be sent again before the
//            printer's journal is checked);
//   recover  a claim found when a job starts (or by the file timer between jobs) was left by a
//            run that ended while it printed: it is kept as "N.unk", never printed again and
//            never deleted; a left status query (it prints nothing) goes back to be answered.
//
// Which of the three a file becomes is decided by how far it got on the printer
// (TFileProgress) and how it ended (FileOutcome). A file job holds the folder's lock
// (flock) from before its first look at the folder to its end, so two programs on one
// folder take turns. A job that fails answers the oldest waiting status query in the
// folder with the failure's text.
//
// The folder is shared with the point-of-sale program and nothing in it is trusted: a
// rename never replaces an existing name ("_1", "_2"... are added while a name is taken),
// a file made here is created anew without following a link (under a temporary name of
// the program's own, and only such names are removed as leftovers), and a name that turned
// into a link or anything but a regular file is left in place, except under a claim name,
// where it would hold a receipt up: there it is removed (a link) or set aside. Every file
// call goes through the file-operations seam (platform/FileOps.h), so tests make any one
// of them fail.
#include <sys/stat.h>

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fp {

// ---- How far a receipt file got, and what becomes of it ----

// What the printer was sent for one receipt file. A payment or a service command counts
// as sent once its call has started (a command the printer ran may still come back as a
// failure: a lost or garbled answer), unless the automation library refused it before
// sending anything.
struct TFileProgress {
  bool Opened = false;       // a receipt, fiscal or not, was opened
  bool NonFiscal = false;    // the opened receipt is non-fiscal
  bool PaymentSent = false;  // a payment of the receipt was sent
  bool Closed = false;       // the receipt was closed
  bool ClosingSent = false;  // the receipt's closing was sent (it may have closed, whatever came back)
  // A command that cannot be taken back was sent: an X, Z or fiscal-memory report, a cash
  // in or out, a copy of the last receipt.
  bool ServiceSent = false;

  bool operator==(const TFileProgress&) const = default;

  // The error codes with which the automation library fails a call before any of it has
  // gone to the printer: 201, an argument it cannot send (a number that is not finite, a
  // pay letter it does not know, command data too long for one frame, a text it refuses);
  // 502, a failure of the object itself (not connected, a pay type outside its table).
  // Every other code may come after the command reached the printer, which may have run it.
  static constexpr int32_t RefusedBeforeSendingCodes[] = {201, 502};
  static bool RefusedBeforeSending(int32_t code);
};

// How the processing of a receipt file ended.
enum class TFileFailure : uint8_t {
  None,         // it was printed
  Failed,       // it failed while the printer still answered (also with a fatal state of its own)
  PrinterLost,  // the printer stopped answering, or its answer could not be read
};

// What the file becomes: its claim deleted, an error file or an unknown-outcome file.
enum class TFileOutcome : uint8_t { Printed, Error, Unknown };

struct TFileVerdict {
  TFileOutcome Outcome = TFileOutcome::Printed;
  QString Why;  // Unknown: why the receipt may have printed (for the log line)
  bool operator==(const TFileVerdict&) const = default;
};

// The outcome of a receipt file. A failed file is Unknown when its receipt may have been
// printed, Error when it cannot have been:
// - a service command was sent (nothing of it can be cancelled, and sending the file again
//   would run it twice): Unknown;
// - no receipt was opened: nothing printed, Error;
// - the receipt was closed, a payment was sent (a receipt with a payment can no longer be
//   cancelled: the next opening pays the rest in cash and closes it), or the receipt is
//   non-fiscal (the next opening closes it, it is never cancelled): Unknown;
// - its closing was sent (the printer may have closed it, whatever it answered): Unknown;
// - the printer stopped answering after the opening (nobody knows what it got): Unknown;
// - else the opened fiscal receipt sent no payment and the printer answered, refusing a
//   sale or a text with its own state (no paper, the cover open): the next opening cancels
//   it, Error.
TFileVerdict FileOutcome(TFileFailure failure, const TFileProgress& progress);

// ---- The folder ----

// What was seen of a receipt file: its identity (device and inode), size and modification
// time. The same stamp at two moments means the file has not been replaced or changed.
struct TFileStamp {
  uint64_t Dev = 0;
  uint64_t Ino = 0;
  int64_t Size = 0;
  int64_t MtimeNs = 0;
  bool operator==(const TFileStamp&) const = default;
};
TFileStamp FileStampOf(const struct stat& st);

// A step of the receipt folder that failed; the job ends with a file error.
class EReceiptFolderError : public std::exception {
 public:
  explicit EReceiptFolderError(QString message, int error = 0);
  const char* what() const noexcept override { return FWhat.c_str(); }
  QString Message;
  int Error = 0;  // the errno of the call that failed, where the step knows it (a report's write)

 private:
  std::string FWhat;
};

// The free space a receipt file needs in its folder before it is claimed: room for its
// report file, with a margin.
constexpr int64_t ReportRoomBytes = 64 * 1024;

// The file system that holds `fd` has ReportRoomBytes free for this user; also true when
// it cannot tell (the call fails, or it reports no blocks at all, as shares mounted through
// FUSE often do).
bool HasReportRoom(int fd);

class TReceiptFolder {
 public:
  // Local time, for the stamps of error files moved aside.
  using TClock = std::function<QDateTime()>;
  // Writes a line into the normal log, or with exceptionLog into the exception log.
  using TLogLine = std::function<void(const QString& line, bool exceptionLog)>;

  // folder: the receipt folder (a trailing "/" is added; empty names no folder).
  TReceiptFolder(const QString& folder, TClock clock, TLogLine log);
  // Releases the lock and the folder's descriptor.
  ~TReceiptFolder();
  TReceiptFolder(const TReceiptFolder&) = delete;
  TReceiptFolder& operator=(const TReceiptFolder&) = delete;

  // The folder with its trailing "/" (empty when none was named).
  const QString& Path() const { return FPath; }
  // It exists and is a folder.
  bool Exists() const;

  // ---- The folder's descriptor ----
  // Every step works relative to the folder as it was opened first (by Lock, or by the
  // first step that needs it): a folder renamed away and replaced by another, or by a
  // link, never gets a file of the job. Before each step that writes, the folder's path
  // must still lead to that folder; when it does not, the step raises and writes nothing.
  // A folder that cannot be opened is worked in by its path.

  // ---- The lock of a file job ----
  // Opens the folder and takes its advisory lock; false only when another holder has it.
  // Two programs started on one folder thus take turns, and one never takes the claim of
  // the file the other is printing for a claim left by a killed run. A folder that cannot
  // be opened or locked (a file system without locks) goes on without it.
  bool Lock();
  // Releases it and closes the folder (also done by the destructor; the process's end
  // releases it however the process ends).
  void Unlock();

  // The folder has room for a report file (HasReportRoom).
  bool HasRoom();
  // The folder's path still leads to the folder first opened.
  bool SameFolder() { return FolderMoved() == 0; }

  // ---- Claims left by an earlier run ----
  // Renames every regular file "*.$$$" of the folder, in name order, to "N.unk" ("N_1.unk"...
  // while the name exists), each with a line in both logs; `kept` gets the claim's name and
  // the new path of each. Anything else under a claim name is not ours and is cleared away
  // (SetAsideNotOurs); what cannot be stays and is written to the exception log once while
  // it stays. The program's own temporary files left by a job that died are removed;
  // nothing else is. A claim that is gone meanwhile is skipped. With `waitingExt` (the
  // receipt files' extension, without the dot), a claim that is a status query (first line
  // "&S" or "&s"; it prints nothing) goes back under its waiting name "N.<ext>" to be
  // answered again, with a line in the log; only when that name is taken does it become
  // "N.unk" as well. Once any was moved the folder is synced and the count logged. Raises
  // when a claim cannot be renamed. Returns the number kept as unknown outcome.
  // `settle` (when given) is asked first of each claim: true when the caller finished it
  // itself (a claim whose receipt is known to have printed) or keeps it, and it is then left
  // alone. `beforeKept` (when given) runs just before a claim is renamed to unknown outcome,
  // with the path it is to get, so that its report can be on disk before the ".unk" is.
  struct TLeftClaimHooks {
    std::function<bool(const QString& claimName)> Settle;
    std::function<void(const QString& claimName, const QString& target)> BeforeKept;
    // Once the claims are done: each regular file of the program's own that is no temporary
    // one (a mark beside a claim), for the caller to keep or remove.
    std::function<void(const QString& name)> OwnFile;
  };
  int RecoverLeftClaims(const std::function<void(const QString& claimName, const QString& kept)>& kept,
                        const std::optional<QString>& waitingExt = std::nullopt, const TLeftClaimHooks& hooks = {});

  // ---- Files of the program's own beside a claim ----
  // The name of a file of the program's own that belongs to the claim or receipt file `name`:
  // hidden, with the program's mark, its extension replaced by `ext` (".printed"), cut to fit
  // the file-name limit. Never a temporary name (IsOwnTemporary).
  static QString OwnName(const QString& name, const QString& ext);
  // Reads the folder's file `name` whole into `data` (at most `limit` bytes): opened without
  // blocking and without following a link, only a regular file; `st` gets what it is. False
  // (errno set) when it cannot be read.
  bool ReadFile(const QString& name, std::string& data, struct stat& st, size_t limit);
  // Removes the folder's file `name` (a link itself, never what it points to); true when it
  // is gone, also when it was not there.
  bool RemoveFile(const QString& name);

  // ---- One receipt file ----
  // The claim's file name of a listed name ("N.$$$"; the end of N is cut when the name
  // would not fit the file-name limit).
  static QString ClaimName(const QString& name);
  // A name of the program's own temporary files in the folder
  // (".DriverFiscalPrinterX4.*.tmp").
  static bool IsOwnTemporary(const QString& name);
  QString ClaimPath(const QString& name) const { return FPath + ClaimName(name); }

  enum class TClaim : uint8_t {
    Claimed,     // the file is held as its claim, on disk, and open for reading (ClaimFd)
    Gone,        // the point-of-sale program took the file back after the listing (or the
                 // folder is away from its path)
    NotRegular,  // the name is now a link or not a regular file: left in place
    Changed,     // the file is not the one listed, or changed since: back under its name
    Refused,     // the file may not be renamed (EPERM, EACCES) or its claim name is taken by
                 // a regular file (a claim left by another run) or by something that cannot
                 // be set aside (EEXIST): it waits under its name; ClaimError tells why
    Unreadable,  // the file may not be opened for reading (EACCES, EPERM: another user's
                 // file with no read permission for ours): back under its name, it waits;
                 // ClaimError tells why
  };
  // Claims the listed file `name`. `renamed` runs once the rename has succeeded (the
  // listing forgets the file). Something that is not a regular file under the claim name is
  // cleared away first (SetAsideNotOurs). The claim is opened without blocking and without
  // following a link; only a regular file goes on, and with `listed` only one with the
  // stamp the listing saw: a file replaced or written to after the listing goes back under
  // its name (never over another file), with a line saying what changed, and waits for a
  // later listing. On a file system whose inode numbers follow the name (seen once: the
  // file back under its name has the listed number again) the claim is compared by size
  // and modification time only. Raises when the claim
  // cannot be made or synced for a reason of the folder's; the file is then back under its
  // name.
  TClaim Claim(const QString& name, const std::function<void()>& renamed = {}, const TFileStamp* listed = nullptr);
  // The errno of the last Refused or Unreadable claim.
  int ClaimError() const { return FClaimError; }
  // The descriptor of the file held by the last successful claim (read from its start);
  // -1 when none is held. It stays open until the file is finished.
  int ClaimFd() const { return FClaimFd; }
  // A printed file: its claim is deleted; false when it was no longer there (another
  // program took it). Raises when it cannot be deleted.
  bool FinishPrinted(const QString& name);
  // A failed file: its claim becomes the error file or, for Unknown, the unknown-outcome
  // file (logged with the verdict's reason), and the folder is synced. Raises when the
  // claim cannot be renamed; it then stays, and the next job keeps it as unknown outcome.
  // `kept` (when given) gets the path the claim got.
  void FinishFailed(const QString& name, const TFileVerdict& verdict, QString* kept = nullptr);
  // Writes a report file ("N.rep") of the folder: under a temporary name of the program's
  // own (".DriverFiscalPrinterX4.N.rep.tmp", cut to fit the file-name limit), created anew
  // without following a link, synced, then renamed over "N.rep" (whatever stood there, a
  // link itself included). Raises with the file's name and the system's reason when a step
  // fails; the older report then stays as it was.
  void WriteReport(const QString& repName, const std::string& data);
  // A report file is on disk with its folder (a printed receipt's before its claim goes, a
  // failed one's beside its ".err" or ".unk"): the file and the folder are synced (a report that is missing or not a
  // regular file is skipped; it is opened without blocking). A sync that fails is logged.
  void SyncReport(const QString& repPath);
  // The folder's report file `repName` is a regular file holding exactly `data` (it was not
  // replaced meanwhile by another receipt's report); opened without blocking and without
  // following a link, and never read past the size of `data`.
  bool ReportHolds(const QString& repName, const std::string& data);

  // ---- The status answer of a failed job ----
  // The first of the listed names whose file is a status query (first line "&S" or "&s",
  // at most 64 KiB) gets its answer: "N.rep" holds the query's lines and `message` (code
  // page 1251), CR LF after each. The query is opened without blocking and without
  // following a link, and only a regular file (with the stamp in `stamps`, when it holds
  // the name) is read. The answer is written under a temporary name, created anew, and
  // renamed over "N.rep" (whatever stood there, a link itself included); the query file is
  // deleted only once the answer is in place. A step that fails is logged and leaves the
  // query waiting; nothing is written when the folder is not the one first opened.
  void AnswerStatusQuery(const QStringList& listedNames, const std::string& message,
                         const std::map<QString, TFileStamp>* stamps = nullptr);

 private:
  // The folder's descriptor (opened on first use; -1 when it cannot be) and a name in it,
  // for the calls relative to it.
  struct TAt {
    int Dir;
    std::string Name;
  };
  TAt At(const QString& name);
  int Dir();
  // Raises unless the folder's path still leads to the folder first opened.
  void CheckFolder();
  // 0 when it does; else ENOENT (nothing at the path) or EXDEV (another folder).
  int FolderMoved();
  // Renames the claim to "N.unk" ("N_1.unk"... while the name exists) and writes the line
  // with the tag and the reason into both logs; false (errno set) when it cannot.
  bool KeepOutcomeUnknown(const QString& claimName, const QString& tag, const QString& why, QString& target);
  void MoveToErrorFile(const QString& name, QString& target);
  // The folder's file `name` is a regular file whose first line is "&S" or "&s" (at most
  // 64 KiB read; opened without blocking and without following a link).
  bool IsStatusQuery(const QString& name);
  // The same, with the file's lines in `lines` and what it is in `st`; with `stamp`, only a
  // file that still has it.
  bool ReadStatusQuery(const QString& name, const TFileStamp* stamp, std::vector<std::string>& lines, struct stat& st);
  bool RenameToFreeName(const QString& from, const QString& base, const QString& ext, QString& to, qsizetype keep = 0);
  // The name RenameToFreeName would give now (base + ext, or the first counted one free).
  QString FreeName(const QString& base, const QString& ext);
  // Clears the claim name `claimName` of what is not a claim of ours, with one line in the
  // exception log (tagged `tag`): a symbolic link is removed (never followed), a folder, a
  // pipe or any other kind but a regular file is renamed to "N.aside" ("N_1.aside"...).
  // True when the name is free now; false (errno set; EEXIST for a regular file, which is
  // a claim and stays) when it is not.
  bool SetAsideNotOurs(const QString& claimName, const QString& tag);
  bool SyncFolder();
  void CloseClaim();
  // What differs between a file's listed stamp and its claim's, for the log (empty when
  // nothing does; the inode number is not compared where it follows the name).
  QString StampChange(const TFileStamp& listed, const TFileStamp& now) const;
  // Writes `data` under its temporary name (TempName) and renames it over `name`; 0, or 1
  // when the temporary file could not be written, 2 when it could not be renamed (errno
  // set).
  int ReplaceFile(const QString& name, const std::string& data);
  [[noreturn]] static void Fail(const QString& message);

  QString FPath;
  TClock FClock;
  TLogLine FLog;
  int FDirFd = -1;
  bool FDirTried = false;
  bool FLocked = false;
  uint64_t FDirDev = 0;
  uint64_t FDirIno = 0;
  int FClaimFd = -1;
  int FClaimError = 0;
  // The folder's file system was seen to number files by their names.
  bool FInodesByPath = false;
};

}  // namespace fp
