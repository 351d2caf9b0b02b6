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
#include <string>
#include <vector>

#include "program/receipts/uECRFileReader.h"
#include "program/receipts/uReceiptFolder.h"

namespace fp {

namespace uFolderCare {

// What the operator is told of a file kept as unknown outcome (its report file, the main
// window): the file, that its receipt may have printed and why, and what to do.
QString UnknownOutcomeText(const QString& path, const QString& why);

// Why the receipt of a claim left by an earlier run may have printed.
QString LeftClaimWhy();

}  // namespace uFolderCare

// A receipt of a failed file that may still be open on the printer: the next opening
// closes it (a non-fiscal receipt, or one with a payment) or cancels it.
struct TLeftOpenReceipt {
  QString File;  // the receipt file's path as it was printed (folder + listed name)
  bool NonFiscal = false;
};

// What the opening of a later file did with a receipt left open.
struct TLeftOpenSettled {
  QString File;    // the left receipt's file (TLeftOpenReceipt::File)
  QString Became;  // "cancelled by the opening of ...", "closed by ..., the rest of 20.00 paid in cash"...
};

// The report of a printed receipt that could not be written.
struct TKeptReport {
  QString Name;     // the receipt file's listed name
  QString RepName;  // the report's name
  std::string Text;
  QString LastFailure;  // the text of the last failure to write it (logged once while it stays)
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
  int RecoverClaims(TReceiptFolder& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
                    const TUnknownNotice& unknown);

  // ---- The tending ----
  // What the file timer does for the receipt folder between file jobs, without the printer
  // (the file job does the same before it takes a file). Holding the folder's lock, it
  // writes the folder's kept reports; once none is kept, it recovers the left claims
  // (RecoverClaims). While another program's file job holds the lock (its claims are its
  // own) nothing is done and nothing logged. Never raises: a failure is logged when its
  // text is new for the folder.
  void Tend(const QString& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
            const TUnknownNotice& unknown);

 private:
  bool WriteKeptReportsLocked(TReceiptFolder& folder, const TLogLine& log);

  mutable std::mutex FLeftOpenLock;
  std::map<QString, TLeftOpenReceipt> FLeftOpen;
  // Held while kept reports are written, so that the timer and a job never write one twice.
  mutable std::mutex FKeptLock;
  std::map<QString, std::vector<TKeptReport>> FKept;
  std::mutex FTendLock;
  std::map<QString, QString> FTendFailures;  // the last failure of the tending, by folder
};

}  // namespace fp
