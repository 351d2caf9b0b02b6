#include "program/tasks/uFolderCare.h"

#include <QCryptographicHash>
#include <QStringList>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <exception>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/app/uStrRes.h"

#include <QFile>

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

int FailureErrno(const std::exception& e) {
  auto* folder = dynamic_cast<const EReceiptFolderError*>(&e);
  return folder ? folder->Error : 0;
}

// The first line of a mark of a printed receipt, and the most a mark may hold.
const std::string kMarkHead = "DriverFiscalPrinterX4 printed receipt";
constexpr size_t kMarkLimit = 4 * 1024 * 1024;
const QString kMarkExt = QStringLiteral(".printed");

// The identity of a claim as a mark names it: its name, size and content digest.
std::string ClaimIdentity(const QString& claimName, const std::string& content) {
  return "claim " + QFile::encodeName(claimName).toStdString() + "\r\nsize " + std::to_string(content.size()) +
         "\r\nsha256 " +
         QCryptographicHash::hash(QByteArray::fromRawData(content.data(), static_cast<qsizetype>(content.size())),
                                  QCryptographicHash::Sha256)
             .toHex()
             .toStdString() +
         "\r\n";
}

}  // namespace

QString uFolderCare::UnknownOutcomeText(const QString& path, const QString& why) {
  return QStringLiteral("Outcome unknown: the receipt of \"") + path + QStringLiteral("\" may have printed (") + why +
         QStringLiteral("). Check the printer's journal before sending it again.");
}

QString uFolderCare::LeftClaimWhy() {
  return QStringLiteral("the program ended while it printed: it was stopped or the machine lost power");
}

namespace {
QString Cents(double amount) { return QString::number(amount, 'f', 2); }
}  // namespace

std::string uFolderCare::SettledReportLine(const TLeftOpenSettled& settled) {
  using F = TLeftOpenSettled::TFate;
  QString advice;
  switch (settled.Fate) {
    case F::Cancelled: advice = QStringLiteral("Nothing of it printed: it is safe to send again."); break;
    case F::ClosedRestInCash:
    case F::Closed: advice = QStringLiteral("It printed: do not send it again."); break;
    case F::NotKnown: advice = QStringLiteral("Check the printer's journal before sending it again."); break;
  }
  return "[SETTLED]" + uConst::ToCp1251(QStringLiteral("The receipt left open on the printer was ") + settled.Became +
                                        QStringLiteral(". ") + advice);
}

QString uFolderCare::SettledOperatorText(const TLeftOpenSettled& settled) {
  using F = TLeftOpenSettled::TFate;
  using namespace uStrRes;
  const QString name = settled.Kept.mid(settled.Kept.lastIndexOf(QLatin1Char('/')) + 1);
  switch (settled.Fate) {
    case F::Cancelled: return Message(S_LeftCancelled).arg(name);
    case F::ClosedRestInCash: return Message(S_LeftClosedCash).arg(name, Cents(settled.CashRest));
    case F::Closed: return Message(S_LeftClosed).arg(name);
    case F::NotKnown: break;
  }
  return Message(S_LeftNotKnown).arg(name);
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
    using F = TLeftOpenSettled::TFate;
    const QString opening = QStringLiteral("the opening of \"") + file + QStringLiteral("\"");
    QString became;
    F fate = F::NotKnown;
    double cash = 0;
    if (it->second.NonFiscal) {
      became = QStringLiteral("closed by ") + opening;
      fate = F::Closed;
    } else if (!status.Read) {
      became = QStringLiteral("cancelled or closed (with the rest paid in cash) by ") + opening;
    } else if (!status.Open) {
      became = QStringLiteral("no longer open at ") + opening;
    } else if (status.Paid > 0) {
      // Whole cents: the difference of two sums leaves a trace of noise on a paid receipt.
      cash = std::max<int64_t>(0, std::llround((status.Total - status.Paid) * 100)) / 100.0;
      became = QStringLiteral("closed by ") + opening +
               (cash > 0 ? QStringLiteral(", the rest of %1 paid in cash").arg(cash, 0, 'f', 2)
                         : QStringLiteral(", paid in full"));
      fate = cash > 0 ? F::ClosedRestInCash : F::Closed;
    } else {
      became = QStringLiteral("cancelled by ") + opening;
      fate = F::Cancelled;
    }
    const TLeftOpenReceipt& left = it->second;
    settled = TLeftOpenSettled{left.File, became, fate, cash, left.Kept, left.RepName, left.RepText};
    FLeftOpen.erase(it);
  }
  if (failed && progress.Opened && !progress.Closed) {
    TLeftOpenReceipt& left = FLeftOpen[folder] = TLeftOpenReceipt();
    left.File = file;
    left.NonFiscal = progress.NonFiscal;
  }
  return settled;
}

void TFolderCare::KeptAsUnknown(const QString& folder, const QString& file, const QString& kept, const QString& repName,
                                const std::string& repText) {
  std::lock_guard<std::mutex> lock(FLeftOpenLock);
  const auto it = FLeftOpen.find(folder);
  if (it == FLeftOpen.end() || it->second.File != file) return;
  it->second.Kept = kept;
  it->second.RepName = repName;
  it->second.RepText = repText;
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
  // Each is tried in turn: one whose name cannot be written does not keep the others.
  bool holdsUp = false;
  for (auto r = kept.begin(); r != kept.end();) {
    bool claimGone = false;
    try {
      folder.WriteReport(r->RepName, r->Text);
      folder.SyncReport(path + r->RepName);
      claimGone = !folder.FinishPrinted(r->Name);
      folder.RemoveFile(PrintedMarkName(r->Name));
    } catch (const std::exception& e) {
      const QString failure = CareFailureText(e);
      r->HoldsUp = FolderWideFailure(FailureErrno(e));
      if (failure != r->LastFailure) {
        r->LastFailure = failure;
        LogBoth(log, QStringLiteral("[DoReadFiles] The report of the printed receipt \"") + path + r->Name +
                         QStringLiteral("\" still cannot be written: ") + failure);
      }
      holdsUp |= r->HoldsUp;
      // A full disk fails the next one alike.
      if (r->HoldsUp) return false;
      ++r;
      continue;
    }
    const TKeptReport& written = *r;
    log(QStringLiteral("[DoReadFiles] The report of the printed receipt \"") + path + written.Name +
            QStringLiteral("\" is written: \"") + path + written.RepName + QStringLiteral("\""),
        false);
    if (claimGone)
      LogBoth(log, QStringLiteral("[DoReadFiles] The claim of the printed receipt \"") + path + written.Name +
                       QStringLiteral("\" was gone (another program took it): \"") + path +
                       TReceiptFolder::ClaimName(written.Name) + QStringLiteral("\""));
    r = kept.erase(r);
  }
  if (kept.empty()) FKept.erase(it);
  return !holdsUp;
}

bool TFolderCare::FolderWideFailure(int error) {
  return error == ENOSPC || error == EDQUOT || error == EROFS || error == EIO;
}

bool TFolderCare::IsKeptClaim(const QString& folder, const QString& claimName) const {
  std::lock_guard<std::mutex> lock(FKeptLock);
  const auto it = FKept.find(folder);
  if (it == FKept.end()) return false;
  for (const TKeptReport& r : it->second)
    if (TReceiptFolder::ClaimName(r.Name) == claimName) return true;
  return false;
}

// ---- The mark of a printed receipt ----

QString TFolderCare::PrintedMarkName(const QString& name) {
  return TReceiptFolder::OwnName(TReceiptFolder::ClaimName(name), kMarkExt);
}

void TFolderCare::ClearPrintedMark(TReceiptFolder& folder, const QString& name) {
  folder.RemoveFile(PrintedMarkName(name));
}

bool TFolderCare::MarkPrinted(TReceiptFolder& folder, const QString& name, const QString& repName,
                              const std::string& report, const TLogLine& log) {
  const QString claimName = TReceiptFolder::ClaimName(name);
  const QString markName = PrintedMarkName(name);
  std::string content;
  struct stat st {};
  try {
    if (!folder.ReadFile(claimName, content, st, kMarkLimit))
      throw EReceiptFolderError(QStringLiteral("Can't read the claim: \"") + folder.Path() + claimName +
                                QStringLiteral("\""));
    folder.WriteReport(markName, kMarkHead + "\r\n" + ClaimIdentity(claimName, content) + "report " +
                                     QFile::encodeName(repName).toStdString() + "\r\n\r\n" + report);
    folder.SyncReport(folder.Path() + markName);
    return true;
  } catch (const std::exception& e) {
    log(QStringLiteral("[DoReadFiles] No mark of the printed receipt \"") + folder.Path() + name +
            QStringLiteral("\" (after a stop before its claim goes it becomes \".unk\"): ") + CareFailureText(e),
        false);
    return false;
  }
}

bool TFolderCare::FinishMarked(TReceiptFolder& folder, const QString& claimName, const TLogLine& log) {
  const QString markName = PrintedMarkName(claimName);
  std::string mark;
  struct stat st {};
  // Only a mark this user wrote counts: in a folder others can write, theirs proves nothing.
  if (!folder.ReadFile(markName, mark, st, kMarkLimit) || st.st_uid != ::geteuid()) return false;
  std::string content;
  struct stat claimSt {};
  if (!folder.ReadFile(claimName, content, claimSt, kMarkLimit)) return false;
  const std::string head = kMarkHead + "\r\n" + ClaimIdentity(claimName, content) + "report ";
  if (mark.compare(0, head.size(), head) != 0) return false;
  const size_t nameEnd = mark.find("\r\n\r\n", head.size());
  if (nameEnd == std::string::npos) return false;
  const QString repName = QFile::decodeName(QByteArray::fromStdString(mark.substr(head.size(), nameEnd - head.size())));
  const std::string report = mark.substr(nameEnd + 4);
  if (repName.isEmpty() || repName.contains(QLatin1Char('/'))) return false;

  const QString path = folder.Path();
  std::string onDisk;
  struct stat repSt {};
  const bool complete = folder.ReadFile(repName, onDisk, repSt, kMarkLimit) && onDisk == report;
  if (!complete) {
    try {
      folder.WriteReport(repName, report);
      folder.SyncReport(path + repName);
    } catch (const std::exception& e) {
      // It printed: the claim stays, and the report waits here like any kept one.
      const QString failure = CareFailureText(e);
      KeepReport(path, TKeptReport{claimName, repName, report, failure, FolderWideFailure(FailureErrno(e))});
      LogBoth(log, QStringLiteral("[DelTempFiles] The receipt of \"") + path + claimName +
                       QStringLiteral("\" printed before the program ended, but its report cannot be written: ") +
                       failure);
      return true;
    }
  }
  folder.FinishPrinted(claimName);
  folder.RemoveFile(markName);
  log(QStringLiteral("[DelTempFiles] The receipt of \"") + path + claimName +
          QStringLiteral("\" printed before the program ended; its report \"") + path + repName +
          (complete ? QStringLiteral("\" is complete and stays") : QStringLiteral("\" is written from its mark")),
      false);
  return true;
}

// ---- Claims of this runner's jobs ----

void TFolderCare::NoteClaim(const QString& folder, const QString& claimName) {
  std::lock_guard<std::mutex> lock(FStateLock);
  FStates[folder].OwnClaims.insert(claimName);
}

void TFolderCare::DropClaim(const QString& folder, const QString& claimName) {
  std::lock_guard<std::mutex> lock(FStateLock);
  FStates[folder].OwnClaims.erase(claimName);
}

bool TFolderCare::NoteSharedFolder(const QString& folder, const QString& what, const TLogLine& log) {
  LogBoth(log, what + QStringLiteral("; another program prints from the receipt folder \"") + folder +
                   QStringLiteral("\" without shared locks (two PCs on one share): let one program print from it"));
  std::lock_guard<std::mutex> lock(FStateLock);
  TFolderState& state = FStates[folder];
  if (state.ToldShared) return false;
  state.ToldShared = true;
  return true;
}

QString TFolderCare::SharedFolderText(const QString& folder) {
  // "Another program prints from the receipt folder without shared locks: its receipts may
  // become .unk here. Let one program print from the folder."
  return QStringLiteral(
             "\u0414\u0440\u0443\u0433\u0430 \u043f\u0440\u043e\u0433\u0440\u0430\u043c\u0430 "
             "\u043f\u0435\u0447\u0430\u0442\u0430 \u043e\u0442 \u043f\u0430\u043f\u043a\u0430\u0442\u0430 ") +
         folder +
         QStringLiteral(
             " \u0431\u0435\u0437 \u043e\u0431\u0449\u0438 "
             "\u0437\u0430\u043a\u043b\u044e\u0447\u0432\u0430\u043d\u0438\u044f: "
             "\u0431\u0435\u043b\u0435\u0436\u043a\u0438 \u043c\u043e\u0433\u0430\u0442 \u0434\u0430 "
             "\u0441\u0442\u0430\u043d\u0430\u0442 "
             ".unk. \u041e\u0441\u0442\u0430\u0432\u0435\u0442\u0435 \u0441\u0430\u043c\u043e \u0435\u0434\u043d\u0430 "
             "\u043f\u0440\u043e\u0433\u0440\u0430\u043c\u0430 \u0434\u0430 \u043f\u0435\u0447\u0430\u0442\u0430 "
             "\u043e\u0442 "
             "\u043d\u0435\u044f.");
}

QString TFolderCare::ReportKeptText(const QString& file, const QString& why) {
  // "The receipt <file> printed, but its report cannot be written (<why>). The program prints
  // on and writes it as soon as it can."
  return QStringLiteral("\u0411\u0435\u043b\u0435\u0436\u043a\u0430\u0442\u0430 ") + file +
         QStringLiteral(
             " \u0435 \u043e\u0442\u043f\u0435\u0447\u0430\u0442\u0430\u043d\u0430, \u043d\u043e "
             "\u043e\u0442\u0447\u0435\u0442\u044a\u0442 \u0439 \u043d\u0435 \u043c\u043e\u0436\u0435 \u0434\u0430 "
             "\u0441\u0435 \u0437\u0430\u043f\u0438\u0448\u0435 (") +
         why +
         QStringLiteral(
             "). \u041f\u0440\u043e\u0433\u0440\u0430\u043c\u0430\u0442\u0430 \u043f\u0435\u0447\u0430\u0442\u0430 "
             "\u043d\u0430\u0442\u0430\u0442\u044a\u043a \u0438 \u0449\u0435 \u0433\u043e "
             "\u0437\u0430\u043f\u0438\u0448\u0435, "
             "\u0449\u043e\u043c \u043c\u043e\u0436\u0435.");
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
              QStringLiteral("\" stays and becomes \".unk\" at the next start (unless its mark of a printed receipt is "
                             "there, which finishes it as printed). The report (\"") +
              path + r.RepName + QStringLiteral("\"):\r\n") + uConst::FromCp1251(r.Text),
          false);
  FKept.clear();
}

// ---- Left claims ----

int TFolderCare::RecoverClaims(TReceiptFolder& folder, bool reports, const QString& bonFileExt, const TLogLine& log,
                               const TUnknownNotice& unknown,
                               const std::function<void(const QString& folder)>& shared) {
  const QString path = folder.Path();
  const QString why = uFolderCare::LeftClaimWhy();
  auto writeUnknownReport = [&](const QString& claimName, const QString& kept) {
    if (!reports) return;
    const QString repName = ChangeFileExt(claimName, QStringLiteral(".rep"));
    try {
      folder.WriteReport(repName, "[UNKNOWN]" + uConst::ToCp1251(uFolderCare::UnknownOutcomeText(kept, why)) + "\r\n");
      folder.SyncReport(path + repName);
    } catch (const std::exception& e) {
      LogBoth(log, QStringLiteral("[DelTempFiles] ") + CareFailureText(e));
    }
  };
  bool recovered;
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    recovered = FStates[path].Recovered;
  }
  QString reported;  // the path the report written before the rename names
  TReceiptFolder::TLeftClaimHooks hooks;
  hooks.Settle = [&](const QString& claimName) {
    if (IsKeptClaim(path, claimName)) return true;
    bool ours;
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      ours = FStates[path].OwnClaims.erase(claimName) != 0;
    }
    if (FinishMarked(folder, claimName, log)) return true;
    // Left before this runner first looked, or by a job of its own: a left claim. Any other
    // appeared while the runner works here, made by a program whose lock does not meet ours.
    if (recovered && !ours &&
        NoteSharedFolder(path,
                         QStringLiteral("[DelTempFiles] A claim that is not this program's was found: \"") + path +
                             claimName + QStringLiteral("\""),
                         log) &&
        shared)
      shared(path);
    return false;
  };
  hooks.BeforeKept = [&](const QString& claimName, const QString& target) {
    folder.RemoveFile(PrintedMarkName(claimName));
    reported = target;
    writeUnknownReport(claimName, target);
  };
  hooks.OwnFile = [&](const QString& name) {
    // A mark whose claim is gone is an earlier receipt's (the program stopped just before
    // the mark went): nothing needs it any more.
    if (!name.endsWith(kMarkExt)) return;
    const QString claimName = name.mid(TReceiptFolder::OwnName(QString(), QString()).size()).chopped(kMarkExt.size()) +
                              QStringLiteral(".$$$");
    if (PrintedMarkName(claimName) != name) return;
    std::string data;
    struct stat st {};
    if (!folder.ReadFile(claimName, data, st, 1) && errno == ENOENT) folder.RemoveFile(name);
  };
  const int count = folder.RecoverLeftClaims(
      [&](const QString& claimName, const QString& kept) {
        // The name was taken between the look and the rename: the report names the file.
        if (kept != reported) writeUnknownReport(claimName, kept);
        if (unknown) unknown(kept, why);
      },
      bonFileExt, hooks);
  std::lock_guard<std::mutex> lock(FStateLock);
  FStates[path].Recovered = true;
  return count;
}

// ---- The tending ----

void TFolderCare::Tend(const QString& folderPath, bool reports, const QString& bonFileExt, const TLogLine& log,
                       const TUnknownNotice& unknown, const std::function<void(const QString& folder)>& shared) {
  TReceiptFolder folder(folderPath, {}, log);
  if (folderPath.isEmpty() || !folder.Exists()) return;
  const QString path = folder.Path();
  QString failure;
  try {
    // Another program's file job holds the lock: its claims are not left ones.
    if (!folder.Lock()) return;
    // A kept report's claim is left alone by the recovery, whether it could be written or not.
    WriteKeptReports(folder, log);
    RecoverClaims(folder, reports, bonFileExt, log, unknown, shared);
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
