#pragma once
// The care of the receipt folders between and around the receipt files: what one runner
// (one desk) remembers of its folders from job to job, and what it does for them without
// the printer.
//
// - Receipts left open: a failed file whose receipt may still be open on the printer; the
//   next opening of the folder's file job closes or cancels it, and the care says which.
// - Kept reports: the report of a printed receipt that could not be written waits here, its
//   claim under its name, until the report can be written (by the file timer or the next
//   file job of the folder, before it takes a new file).
// - Left claims: a claim found when a file job starts, or by the file timer between jobs,
//   belongs to a run that ended while it printed: it becomes "N.unk" with its report.
// - The tending: what the file timer does for a folder between file jobs.
// - The mark of a printed receipt: before a printed receipt's report goes in, a hidden file of
//   the program's own ("<prefix>N.printed") holds the claim's identity (its name, size and
//   content digest) and the report's text. A claim found with its own mark printed: its
//   report (complete, or written again from the mark) stays and the claim is finished as
//   printed, never kept as unknown outcome, whatever moment a kill or a power cut hit.
// - Another program without shared locks: a claim of ours that vanished, or a claim that is
//   not ours found while this runner works in the folder, is told once to the window.
//
// The runner owns one care and hands it to every job it starts (TTaskRequest::Care); the
// jobs run on their own threads, so every call may come from any thread. Nothing is kept
// for the process: two runners (two desks) in one process have a care each, and a care
// knows only what its own jobs told it. Everything is kept by receipt folder (its path
// with the trailing "/").
#include <QString>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "program/receipts/uECRFileReader.h"
#include "program/receipts/uReceiptFolder.h"

namespace fp {

struct TLeftOpenSettled;

namespace uFolderCare {

// What the operator is told of a file kept as unknown outcome (its report file, the main
// window): the file, that its receipt may have printed and why, and what to do.
QString UnknownOutcomeText(const QString& path, const QString& why);

// Why the receipt of a claim left by an earlier run may have printed.
QString LeftClaimWhy();

// The line added to the report of a file kept as unknown outcome once a later opening has
// settled its receipt: what became of it and whether the file may be sent again.
std::string SettledReportLine(const TLeftOpenSettled& settled);
// The same for the operator, in the window's language, with the file's name.
QString SettledOperatorText(const TLeftOpenSettled& settled);

}  // namespace uFolderCare

// A receipt of a failed file that may still be open on the printer: the next opening
// closes it (a non-fiscal receipt, or one with a payment) or cancels it.
struct TLeftOpenReceipt {
  QString File;  // the receipt file's path as it was printed (folder + listed name)
  bool NonFiscal = false;
  // The file was kept as unknown outcome: the path it got, and its report's name in the
  // folder with the text written there (no name: no report was written).
  QString Kept;
  QString RepName;
  std::string RepText;
};

// What the opening of a later file did with a receipt left open.
struct TLeftOpenSettled {
  enum class TFate : uint8_t {
    Cancelled,         // a fiscal receipt with nothing paid: nothing of it printed
    ClosedRestInCash,  // closed, the unpaid rest (CashRest) paid in cash
    Closed,            // closed: it was paid in full, or it was non-fiscal
    NotKnown,          // no longer open, or its status could not be read
  };
  QString File;    // the left receipt's file (TLeftOpenReceipt::File)
  QString Became;  // "cancelled by the opening of ...", "closed by ..., the rest of 20.00 paid in cash"...
  TFate Fate = TFate::NotKnown;
  double CashRest = 0;
  // Of TLeftOpenReceipt: the unknown-outcome file and its report.
  QString Kept;
  QString RepName;
  std::string RepText;
};

// The report of a printed receipt that could not be written.
struct TKeptReport {
  QString Name;     // the receipt file's listed name
  QString RepName;  // the report's name
  std::string Text;
  QString LastFailure;  // the text of the last failure to write it (logged once while it stays)
  // The failure was the folder's (a full disk, a read-only or failing file system), not this
  // report's name alone: no new receipt is taken while it stays.
  bool HoldsUp = false;
};

class TFolderCare {
 public:
  using TLogLine = TReceiptFolder::TLogLine;
  // A receipt file kept as unknown outcome: the path it got and why it may have printed.
  using TUnknownNotice = std::function<void(const QString& path, const QString& why)>;

  TFolderCare() = default;
  TFolderCare(const TFolderCare&) = delete;
  TFolderCare& operator=(const TFolderCare&) = delete;

  // ---- Receipts left open on the printer ----
  // A receipt of a failed file of the folder may still be open on the printer.
  bool ReceiptLeftOpen(const QString& folder) const;
  // After a file of the folder (`file`: its path as printed) with that progress; `status`:
  // the receipt's status the reader read just before this file's opening. When the file's
  // opening was made, the receipt left open before it was closed or cancelled by it: what
  // became of it is returned (from `status`: a fiscal receipt with nothing paid is
  // cancelled, one with a payment is closed with the rest paid in cash, a non-fiscal one is
  // closed) and it is forgotten. A failed file whose receipt was opened and not closed is
  // remembered as left open.
  std::optional<TLeftOpenSettled> AfterFile(const QString& folder, const QString& file, const TFileProgress& progress,
                                            const TECRFileReader::TStatusBeforeOpening& status, bool failed);
  // The failed file `file` of the folder, whose receipt is remembered as left open, was
  // kept as unknown outcome under `kept`, with the report `repName` (empty: none) holding
  // `repText`: the settling of its receipt is then told in that report and to the operator.
  void KeptAsUnknown(const QString& folder, const QString& file, const QString& kept, const QString& repName,
                     const std::string& repText);

  // ---- Reports of printed receipts kept in memory ----
  // Keeps the report of a printed receipt of the folder whose report could not be written.
  void KeepReport(const QString& folder, TKeptReport report);
  // A report of the folder is kept.
  bool HasKeptReports(const QString& folder) const;
  // Writes the kept reports of `folder` (which holds its lock) and removes their claims, in
  // the order they were kept; false when one still cannot be written (logged when its
  // reason is new). A claim that another program took meanwhile is no reason to stop: the
  // receipt printed, its report is written all the same, and one line says so.
  bool WriteKeptReports(TReceiptFolder& folder, const TLogLine& log);
  // At the program's end: each kept report is tried once more; the text of one that still
  // cannot be written goes into the normal log, with the names of its receipt and its claim
  // (which the next start keeps as unknown outcome). Nothing is kept afterwards.
  void LeaveKeptReports(const TLogLine& log);

  // ---- Claims left by an earlier run ----
  // Recovers the claims left in `folder` (TReceiptFolder::RecoverLeftClaims); each one kept
  // as unknown outcome gets its report "N.rep" (with `reports` on), on disk with its folder,
  // and goes to `unknown`; a status query goes back to be answered ("N." + bonFileExt). A
  // report that cannot be written is logged; the ".unk" file stays all the same. Returns the
  // number kept as unknown outcome.
  // A claim with its own mark of a printed receipt is finished as printed instead: its report
  // stays when it is the mark's, else it is written from the mark (and kept when it cannot
  // be). A claim whose report is kept is left alone. A claim that is neither ours nor left from
  // before this runner first recovered the folder goes to NoteSharedFolder (and `shared` gets
  // the folder the first time). The report of a claim kept as unknown outcome is on disk
  // before its ".unk" is.
  int RecoverClaims(TReceiptFolder& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
                    const TUnknownNotice& unknown, const std::function<void(const QString& folder)>& shared = {});

  // Whether a failure to write a report (its errno) is the folder's rather than the report
  // name's: a full disk or quota, a read-only or failing file system.
  static bool FolderWideFailure(int error);
  // The claim `claimName` of the folder is a printed receipt's whose report is kept.
  bool IsKeptClaim(const QString& folder, const QString& claimName) const;

  // ---- The mark of a printed receipt ----
  // The mark's name for the claim or receipt file `name`.
  static QString PrintedMarkName(const QString& name);
  // Before the receipt `name` is claimed: a mark left of an earlier receipt of that name goes
  // (its removal is on disk with the claim).
  static void ClearPrintedMark(TReceiptFolder& folder, const QString& name);
  // The receipt of the claim of `name` printed and its report `repName` is about to be
  // written: the mark with the claim's identity and the report's text is written and on disk
  // with its folder. False (with a line in the normal log) when it could not be.
  static bool MarkPrinted(TReceiptFolder& folder, const QString& name, const QString& repName,
                          const std::string& report, const TLogLine& log);

  // ---- Claims of this runner's jobs ----
  // A job of the runner claimed `claimName` / finished it (printed, failed or kept).
  void NoteClaim(const QString& folder, const QString& claimName);
  void DropClaim(const QString& folder, const QString& claimName);
  // Another program prints from the folder without shared locks (a claim of ours vanished,
  // or a live claim not ours was found): `what` goes into both logs; true the first time for
  // the folder (the window is told then, once).
  bool NoteSharedFolder(const QString& folder, const QString& what, const TLogLine& log);
  // What the window is told of it.
  static QString SharedFolderText(const QString& folder);
  // What the window is told of a printed receipt whose report cannot be written while the
  // others print on (`file`: its receipt file, `why`: the system's reason).
  static QString ReportKeptText(const QString& file, const QString& why);

  // ---- The tending ----
  // What the file timer does for the receipt folder between file jobs, without the printer
  // (the file job does the same before it takes a file). Holding the folder's lock, it
  // writes the folder's kept reports; once none is kept, it recovers the left claims
  // (RecoverClaims). While another program's file job holds the lock (its claims are its
  // own) nothing is done and nothing logged. Never raises: a failure is logged when its
  // text is new for the folder.
  // `shared` (when given) gets the folder the first time another program is found printing
  // from it without shared locks.
  void Tend(const QString& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
            const TUnknownNotice& unknown, const std::function<void(const QString& folder)>& shared = {});

 private:
  bool WriteKeptReportsLocked(TReceiptFolder& folder, const TLogLine& log);
  // The claim has its own mark: finished as printed (true), or false when the mark is
  // missing, not ours or another claim's.
  bool FinishMarked(TReceiptFolder& folder, const QString& claimName, const TLogLine& log);

  struct TFolderState {
    bool Recovered = false;       // this runner recovered the folder's left claims once
    std::set<QString> OwnClaims;  // claims its jobs made and did not finish
    bool ToldShared = false;      // the window was told of another program
  };
  mutable std::mutex FStateLock;
  std::map<QString, TFolderState> FStates;

  mutable std::mutex FLeftOpenLock;
  std::map<QString, TLeftOpenReceipt> FLeftOpen;
  // Held while kept reports are written, so that the timer and a job never write one twice.
  mutable std::mutex FKeptLock;
  std::map<QString, std::vector<TKeptReport>> FKept;
  std::mutex FTendLock;
  std::map<QString, QString> FTendFailures;  // the last failure of the tending, by folder
};

}  // namespace fp
