#include "program/tasks/uFolderCare.h"

#include <QStringList>

#include <algorithm>
#include <exception>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"

namespace fp {

namespace {

// The text of a failure of the folder's steps: the receipt folder's as it is, any other
// (the system's) in code page 1251.
QString CareFailureText(const std::exception& e) {
  if (auto* folder = dynamic_cast<const EReceiptFolderError*>(&e)) return folder->Message;
  return uConst::FromCp1251(e.what());
}

void LogBoth(const TFolderCare::TLogLine& log, const QString& line) {
  log(line, true);
  log(line, false);
}

}  // namespace

QString uFolderCare::UnknownOutcomeText(const QString& path, const QString& why) {
  return QStringLiteral("Outcome unknown: the receipt of \"") + path + QStringLiteral("\" may have printed (") + why +
         QStringLiteral("). Check the printer's journal before sending it again.");
}

QString uFolderCare::LeftClaimWhy() {
  return QStringLiteral("the program ended while it printed: it was stopped or the machine lost power");
}

// ---- Receipts left open on the printer ----

bool TFolderCare::ReceiptLeftOpen(const QString& folder) const {
  std::lock_guard<std::mutex> lock(FLeftOpenLock);
  return FLeftOpen.count(folder) != 0;
}

std::optional<TLeftOpenSettled> TFolderCare::AfterFile(const QString& folder, const QString& file,
                                                       const TFileProgress& progress,
                                                       const TECRFileReader::TStatusBeforeOpening& status,
                                                       bool failed) {
  std::lock_guard<std::mutex> lock(FLeftOpenLock);
  std::optional<TLeftOpenSettled> settled;
  // This file's opening was made: the library closed or cancelled the receipt left open
  // before it opened this one. What it did follows from the receipt's status read just
  // before the opening.
  const auto it = FLeftOpen.find(folder);
  if (it != FLeftOpen.end() && progress.Opened) {
    const QString opening = QStringLiteral("the opening of \"") + file + QStringLiteral("\"");
    QString became;
    if (it->second.NonFiscal) {
      became = QStringLiteral("closed by ") + opening;
    } else if (!status.Read) {
      became = QStringLiteral("cancelled or closed (with the rest paid in cash) by ") + opening;
    } else if (!status.Open) {
      became = QStringLiteral("no longer open at ") + opening;
    } else if (status.Paid > 0) {
      const double rest = std::max(0.0, status.Total - status.Paid);
      became = QStringLiteral("closed by ") + opening +
               (rest > 0 ? QStringLiteral(", the rest of %1 paid in cash").arg(rest, 0, 'f', 2)
                         : QStringLiteral(", paid in full"));
    } else {
      became = QStringLiteral("cancelled by ") + opening;
    }
    settled = TLeftOpenSettled{it->second.File, became};
    FLeftOpen.erase(it);
  }
  if (failed && progress.Opened && !progress.Closed) FLeftOpen[folder] = TLeftOpenReceipt{file, progress.NonFiscal};
  return settled;
}

// ---- Kept reports ----

void TFolderCare::KeepReport(const QString& folder, TKeptReport report) {
  std::lock_guard<std::mutex> lock(FKeptLock);
  FKept[folder].push_back(std::move(report));
}

bool TFolderCare::HasKeptReports(const QString& folder) const {
  std::lock_guard<std::mutex> lock(FKeptLock);
  return FKept.count(folder) != 0;
}

bool TFolderCare::WriteKeptReports(TReceiptFolder& folder, const TLogLine& log) {
  std::lock_guard<std::mutex> lock(FKeptLock);
  return WriteKeptReportsLocked(folder, log);
}

bool TFolderCare::WriteKeptReportsLocked(TReceiptFolder& folder, const TLogLine& log) {
  const QString& path = folder.Path();
  const auto it = FKept.find(path);
  if (it == FKept.end()) return true;
  std::vector<TKeptReport>& kept = it->second;
  while (!kept.empty()) {
    TKeptReport& r = kept.front();
    bool claimGone = false;
    try {
      folder.WriteReport(r.RepName, r.Text);
      folder.SyncReport(path + r.RepName);
      claimGone = !folder.FinishPrinted(r.Name);
    } catch (const std::exception& e) {
      const QString failure = CareFailureText(e);
      if (failure != r.LastFailure) {
        r.LastFailure = failure;
        LogBoth(log, QStringLiteral("[DoReadFiles] The report of the printed receipt \"") + path + r.Name +
                         QStringLiteral("\" still cannot be written: ") + failure);
      }
      return false;
    }
    log(QStringLiteral("[DoReadFiles] The report of the printed receipt \"") + path + r.Name +
            QStringLiteral("\" is written: \"") + path + r.RepName + QStringLiteral("\""),
        false);
    if (claimGone)
      LogBoth(log, QStringLiteral("[DoReadFiles] The claim of the printed receipt \"") + path + r.Name +
                       QStringLiteral("\" was gone (another program took it): \"") + path +
                       TReceiptFolder::ClaimName(r.Name) + QStringLiteral("\""));
    kept.erase(kept.begin());
  }
  FKept.erase(it);
  return true;
}

void TFolderCare::LeaveKeptReports(const TLogLine& log) {
  std::lock_guard<std::mutex> lock(FKeptLock);
  QStringList folders;
  for (const auto& [folder, kept] : FKept) folders.append(folder);
  for (const QString& path : folders) {
    TReceiptFolder folder(path, {}, log);
    try {
      if (folder.Lock()) WriteKeptReportsLocked(folder, log);
    } catch (const std::exception&) {
      // What is still kept goes into the log below.
    }
  }
  for (const auto& [path, kept] : FKept)
    for (const TKeptReport& r : kept)
      log(QStringLiteral("[Exit] The report of the printed receipt \"") + path + r.Name +
              QStringLiteral("\" could not be written; its claim \"") + path + TReceiptFolder::ClaimName(r.Name) +
              QStringLiteral("\" stays and becomes \".unk\" at the next start. The report (\"") + path + r.RepName +
              QStringLiteral("\"):\r\n") + uConst::FromCp1251(r.Text),
          false);
  FKept.clear();
}

// ---- Left claims ----

int TFolderCare::RecoverClaims(TReceiptFolder& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
                               const TUnknownNotice& unknown) {
  return folder.RecoverLeftClaims(
      [&](const QString& claimName, const QString& kept) {
        const QString why = uFolderCare::LeftClaimWhy();
        if (reports) {
          const QString repName = ChangeFileExt(claimName, QStringLiteral(".rep"));
          try {
            folder.WriteReport(repName,
                               "[UNKNOWN]" + uConst::ToCp1251(uFolderCare::UnknownOutcomeText(kept, why)) + "\r\n");
            folder.SyncReport(folder.Path() + repName);
          } catch (const std::exception& e) {
            LogBoth(log, QStringLiteral("[DelTempFiles] ") + CareFailureText(e));
          }
        }
        if (unknown) unknown(kept, why);
      },
      bonFileExt);
}

// ---- The tending ----

void TFolderCare::Tend(const QString& folderPath, bool reports, const QString& bonFileExt, const TLogLine& log,
                       const TUnknownNotice& unknown) {
  TReceiptFolder folder(folderPath, {}, log);
  if (folderPath.isEmpty() || !folder.Exists()) return;
  const QString path = folder.Path();
  QString failure;
  try {
    // Another program's file job holds the lock: its claims are not left ones.
    if (!folder.Lock()) return;
    if (!WriteKeptReports(folder, log)) return;
    RecoverClaims(folder, reports, bonFileExt, log, unknown);
  } catch (const std::exception& e) {
    failure = CareFailureText(e);
  }
  std::lock_guard<std::mutex> lock(FTendLock);
  QString& last = FTendFailures[path];
  if (failure != last && !failure.isEmpty()) LogBoth(log, QStringLiteral("[DelTempFiles] ") + failure);
  last = failure;
  if (last.isEmpty()) FTendFailures.erase(path);
}

}  // namespace fp
