// The receipt folder of the file job: what is left in the folder after each outcome, the
// recovery of claims left by a killed run, every rename and delete failing in turn, and
// files that are still being written. The folder's own steps (names, counters, syncs,
// the status answer) are tested with the unit in uReceiptFolder_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "tests/support/uPRNFileThreadTestSupport.h"
#include "program/app/uStrRes.h"
#include "platform/FileOps.h"
#include "program/app/uProgramLog.h"

namespace fp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

enum class Outcome { Success, FileError, PrinterError, NoConnection };

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Success: return "Success";
    case Outcome::FileError: return "FileError";
    case Outcome::PrinterError: return "PrinterError";
    case Outcome::NoConnection: return "NoConnection";
  }
  return "";
}

class TOutcomeTable : public TWorkerFixture, public ::testing::WithParamInterface<std::tuple<Outcome, bool, bool>> {};

// 0001.bon ends with the outcome, 0002.bon is a good receipt behind it, 0003.bon a status
// query waiting behind both.
TEST_P(TOutcomeTable, LeavesExactlyTheseFiles) {
  const auto [outcome, repFiles, query] = GetParam();
  Put("0001.bon", outcome == Outcome::FileError ? kInvalid : kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  if (query) Put("0003.bon", kStatusQuery, 40);
  if (outcome == Outcome::PrinterError) FAke->Fail("AddProgPlu", 232, "[AddProgPlu] Printer error ");
  if (outcome == Outcome::NoConnection) FAke->Fail("AddProgPlu", 101, "[AddProgPlu] No answer ");

  RunFileJob(repFiles);

  const bool failed = outcome != Outcome::Success;
  const bool fatal = outcome == Outcome::NoConnection;
  // The connection is lost at the sale, after the receipt was opened: it may have printed.
  const QString failedName = fatal ? "0001.unk" : "0001.err";
  std::set<std::string> expected;
  if (failed) expected.insert(failedName.toStdString());
  if (repFiles) expected.insert("0001.rep");
  if (fatal)
    expected.insert("0002.bon");  // left for the next run
  else if (repFiles)
    expected.insert("0002.rep");
  if (query) expected.insert("0003.rep");  // a status query is always answered
  const auto files = Files();
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), expected);

  if (failed) {
    EXPECT_EQ(Read(failedName), outcome == Outcome::FileError ? kInvalid : kReceipt);
  }
  if (failed && repFiles) {
    EXPECT_THAT(Read("0001.rep"), HasSubstr("[ERROR]"));
  }
  if (query) {
    if (fatal)
      EXPECT_EQ(Read("0003.rep"), "&S\r\nFatal error ocurred. Exiting.\r\n");
    else
      EXPECT_THAT(Read("0003.rep"), HasSubstr("Printer serial: ZK000001"));
  }

  // The next file's fate: printed once unless the connection was lost.
  const int sold = CallCount("AddProgPlu");
  switch (outcome) {
    case Outcome::Success: EXPECT_EQ(sold, 2); break;
    case Outcome::FileError: EXPECT_EQ(sold, 1); break;
    case Outcome::PrinterError: EXPECT_EQ(sold, 2); break;  // the failed sale and 0002
    case Outcome::NoConnection: EXPECT_EQ(sold, 1); break;  // only the failed sale
  }

  std::vector<std::string> events = {"Online", "Started 0001.bon"};
  if (outcome == Outcome::FileError) events.push_back("Error 2");
  if (outcome == Outcome::PrinterError) events.push_back("Error 3");
  if (fatal) {
    events.insert(events.end(), {"Offline", "Error 4"});
  } else {
    events.insert(events.end(), {"Processed", "Started 0002.bon", "Processed"});
    if (query) events.insert(events.end(), {"Started 0003.bon", "Processed"});
  }
  events.push_back("Finished");
  EXPECT_EQ(FEvents, events);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, TOutcomeTable,
                         ::testing::Combine(::testing::Values(Outcome::Success, Outcome::FileError,
                                                              Outcome::PrinterError, Outcome::NoConnection),
                                            ::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(OutcomeName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "_Rep" : "_NoRep") +
                                  (std::get<2>(info.param) ? "_Query" : "_NoQuery");
                         });

using TFolderProtocol = TWorkerFixture;

TEST_F(TFolderProtocol, ThreeFilesWithTheSecondInvalid) {
  Put("a.bon", kReceipt, 60);
  Put("b.bon", kInvalid, 50);
  Put("c.bon", kReceipt, 40);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep", "b.err", "b.rep", "c.rep"}));
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started a.bon", "Processed", "Started b.bon", "Error 2",
                                               "Processed", "Started c.bon", "Processed", "Finished"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
  const std::string log = NormalLog();
  EXPECT_THAT(log, HasSubstr("Read bon files ended. Files count: 2"));
  for (const char* name : {"a.bon", "b.bon", "c.bon"})
    EXPECT_THAT(log, HasSubstr("Read file: \"" + (FOlder + name).toStdString() + "\""));
}

// The connection lost during a file ends the job: its message in both logs, no count line.
TEST_F(TFolderProtocol, LostConnectionEndsTheJobWithTheFatalText) {
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  FAke->Fail("AddProgPlu", 101, "[AddProgPlu] No answer ");
  auto t = FileJob();
  t->Execute();
  EXPECT_EQ(t->ErrorMessage(), "Fatal error ocurred. Exiting.");
  EXPECT_EQ(t->ErrorKind(), ekPrinterFatal);
  const std::string log = NormalLog();
  EXPECT_THAT(log, HasSubstr("[DoReadFiles]Fatal error ocurred. Exiting.\r\n"));
  EXPECT_THAT(log, HasSubstr("[Execute] Fatal error ocurred. Exiting.\r\n"));
  EXPECT_THAT(log, Not(HasSubstr("Read bon files ended.")));
}

TEST_F(TFolderProtocol, EmptyFolderLogsACountOfZero) {
  RunFileJob();
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Finished"}));
  const std::string log = NormalLog();
  EXPECT_THAT(log, HasSubstr("Read bon files."));
  EXPECT_THAT(log, HasSubstr("Read bon files ended. Files count: 0"));
}

TEST_F(TFolderProtocol, MissingFolderFailsBeforeAnyPrinterCall) {
  auto t = Wire(TECRFileThread::Create({.Kind = tkReadFiles, .BonFolder = FTmp.path() + "/nowhere"}));
  t->Execute();
  EXPECT_TRUE(FAke->Calls.empty());
  EXPECT_EQ(t->ErrorMessage(), uStrRes::Message(uStrRes::SetProgram));
  EXPECT_EQ(t->ErrorKind(), ekFileError);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Error 2", "Finished"}));
}

TEST_F(TFolderProtocol, FailedConnectionAnswersTheStatusQueryAndLeavesTheReceipt) {
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kStatusQuery, 50);
  FAke->Fail("Init", 102, "[Init] Port busy ");
  auto t = FileJob();
  bool answeredBeforeError = false;
  t->OnError = [&](TECRFileThread&, TTaskErrorKind kind) {
    FEvents.push_back("Error " + std::to_string(kind));
    answeredBeforeError = QFile::exists(FOlder + "0002.rep");
  };
  t->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.rep"}));
  EXPECT_EQ(Read("0002.rep"), "&S\r\n[FastInit][Init] Port busy \r\n");
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
  EXPECT_TRUE(answeredBeforeError);
}

// Only the oldest status query is answered; a file is one when its first line is "&S" or
// "&s" and nothing else, and the answer keeps all its lines as they stand.
TEST_F(TFolderProtocol, FailedJobAnswersOnlyTheOldestStatusQuery) {
  Put("0001.bon", "&Sx\r\n", 70);
  Put("0002.bon", " &S\r\n", 65);
  Put("0003.bon", "&s\r\n:\xC4\xE0\r\n", 60);
  Put("0004.bon", kStatusQuery, 50);
  FAke->Fail("Init", 102, "[Init] Port busy ");
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.bon", "0003.rep", "0004.bon"}));
  EXPECT_EQ(Read("0003.rep"), "&s\r\n:\xC4\xE0\r\n[FastInit][Init] Port busy \r\n");
}

// A run killed while it printed leaves its claim: the receipt may have come out. Its report
// says so, in place of an older report of an earlier receipt of that name.
TEST_F(TFolderProtocol, StaleClaimIsKeptAsUnknownOutcomeAndNotPrinted) {
  Put("0005.$$$", kReceipt, 600);
  Put("0007.$$$", kReceipt, 600);
  Put("0007.unk", "older unknown", 900);
  Put("0007.rep", "Close\r\n", 900);
  Put("0008.bon", kReceipt, 60);
  RunFileJob();
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"0005.rep", "0005.unk", "0007.rep", "0007.unk", "0007_1.unk", "0008.rep"}));
  EXPECT_EQ(Read("0007.unk"), "older unknown");
  EXPECT_EQ(Read("0007_1.unk"), kReceipt);
  EXPECT_EQ(Read("0007.rep"), "[UNKNOWN]Outcome unknown: the receipt of \"" + (FOlder + "0007_1.unk").toStdString() +
                                  "\" may have printed (the program ended while it printed: it was stopped or the "
                                  "machine lost power). Check the printer's journal before sending it again.\r\n");
  EXPECT_EQ(CallCount("AddProgPlu"), 1);  // 0008 only
  EXPECT_EQ(FEvents,
            (std::vector<std::string>{"Online", "Error 2", "Error 2", "Started 0008.bon", "Processed", "Finished"}));
  EXPECT_EQ(FUnknowns.size(), 2u);
  EXPECT_THAT(NormalLog(), HasSubstr("Outcome unknown, not printed again: \"" + (FOlder + "0005.$$$").toStdString()));
  EXPECT_THAT(NormalLog(), HasSubstr("[DelTempFiles] Renamed 2 temp files. \r\n"));
}

// A power cut while a status query was answered leaves its claim: the query printed
// nothing, so it is answered again (with the printer's state), never kept as unknown.
TEST_F(TFolderProtocol, LeftStatusQueryIsAnsweredAgain) {
  Put("0003.$$$", kStatusQuery, 600);
  Put("0003.rep", "an older answer", 900);
  RunFileJob();
  EXPECT_EQ(Files(), std::vector<std::string>{"0003.rep"});
  EXPECT_THAT(Read("0003.rep"), HasSubstr("Printer serial: "));
  EXPECT_THAT(FUnknowns, IsEmpty());
  EXPECT_EQ(ErrorEvents(), 0);
}

TEST_F(TFolderProtocol, StaleClaimsAreRecoveredOnlyByTheFileJob) {
  Put("0005.$$$", kReceipt, 600);
  Wire(TECRFileThread::Create({.Kind = tkPrintTest}))->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0005.$$$"}));
}

// A failed receipt file that may have printed must not become an error file, which the
// point-of-sale program would send again: once its receipt was opened, a lost connection,
// a payment sent to the printer, a closing, or a non-fiscal receipt (which is never
// cancelled) makes it an unknown-outcome file; so does a report, a cash movement or a copy
// that was sent. What the library refused before sending anything did not reach the
// printer.
struct TPrintedCase {
  const char* Name;
  std::string Content;
  const char* Method;  // the call of the fake that fails
  int32_t Code;
  int Nth;
  const char* Ext;    // what 0001.bon becomes
  const char* Event;  // the window's error event: the failure's own kind
};

void PrintTo(const TPrintedCase& c, std::ostream* os) { *os << c.Name; }

class TMayHavePrinted : public TWorkerFixture, public ::testing::WithParamInterface<TPrintedCase> {};

TEST_P(TMayHavePrinted, FailedFileBecomesErrOrUnk) {
  const TPrintedCase& c = GetParam();
  Put("0001.bon", c.Content, 60);
  Put("0002.bon", kReceipt, 50);
  FAke->Fail(c.Method, c.Code, "[X] failed ", c.Nth);
  RunFileJob();

  const bool fatal = std::string(c.Event) == "Error 4";
  const std::string failed = std::string("0001") + c.Ext;
  std::vector<std::string> files = {"0001.rep", failed, fatal ? "0002.bon" : "0002.rep"};
  std::sort(files.begin(), files.end());
  EXPECT_EQ(Files(), files);
  EXPECT_EQ(Read(QString::fromStdString(failed)), c.Content);
  EXPECT_THAT(Read("0001.rep"), HasSubstr("[ERROR]"));  // the report file as for any failed file

  std::vector<std::string> events = {"Online", "Started 0001.bon"};
  if (fatal)
    events.insert(events.end(), {"Offline", "Error 4"});
  else
    events.insert(events.end(), {c.Event, "Processed", "Started 0002.bon", "Processed"});
  events.push_back("Finished");
  EXPECT_EQ(FEvents, events);

  const std::string line = "[DoReadFiles] Outcome unknown, not printed again: \"" +
                           (FOlder + "0001.$$$").toStdString() + "\" kept as \"" + (FOlder + "0001.unk").toStdString() +
                           "\"; ";
  QFile exc(FLogDir + uProgramLog::ExceptionLogName);
  const std::string excLog = exc.open(QIODevice::ReadOnly) ? exc.readAll().toStdString() : std::string();
  if (failed == "0001.unk") {
    EXPECT_THAT(NormalLog(), HasSubstr(line));
    EXPECT_THAT(excLog, HasSubstr(line));
    // The report and the window say it in plain words, with the reason of the log line.
    const size_t at = NormalLog().find(line);
    const std::string why = NormalLog().substr(at + line.size(), NormalLog().find('\r', at) - at - line.size());
    EXPECT_THAT(Read("0001.rep"), HasSubstr("[UNKNOWN]Outcome unknown: the receipt of \"" +
                                            (FOlder + "0001.bon").toStdString() + "\" may have printed (" + why +
                                            "). Check the printer's journal before sending it again.\r\n"));
    EXPECT_EQ(FUnknowns, std::vector<std::string>{"0001.unk: " + why});
  } else {
    EXPECT_THAT(NormalLog(), Not(HasSubstr("Outcome unknown")));
    EXPECT_THAT(Read("0001.rep"), Not(HasSubstr("[UNKNOWN]")));
    EXPECT_TRUE(FUnknowns.empty());
  }
}

const std::string kPaid = kReceipt + "#E1^5.00\r\n";      // one payment, which covers it
const std::string kPartPaid = kReceipt + "#E1^0.50\r\n";  // a part payment, the rest paid automatically
const std::string kComment = ":Hello\r\n";                // a non-fiscal receipt

INSTANTIATE_TEST_SUITE_P(
    Cases, TMayHavePrinted,
    ::testing::Values(
        TPrintedCase{"PluReadBeforeOpeningNoConnection", kReceipt, "GetPLUData", 101, 1, ".err", "Error 4"},
        TPrintedCase{"OpeningRefused", kReceipt, "StartBon", 232, 1, ".err", "Error 3"},
        TPrintedCase{"OpeningNoConnection", kReceipt, "StartBon", 101, 1, ".err", "Error 4"},
        TPrintedCase{"SaleRefused", kReceipt, "AddProgPlu", 232, 1, ".err", "Error 3"},
        TPrintedCase{"SaleNoConnection", kReceipt, "AddProgPlu", 101, 1, ".unk", "Error 4"},
        // The printer answered the sale with its own state: it said what it did, nothing of
        // the receipt was paid, and the next opening cancels it.
        TPrintedCase{"SaleNoPaper", kReceipt, "AddProgPlu", 210, 1, ".err", "Error 4"},
        TPrintedCase{"SaleCoverOpen", kReceipt, "AddProgPlu", 219, 1, ".err", "Error 4"},
        TPrintedCase{"PaymentNoPaper", kPaid, "AddPayment", 210, 1, ".unk", "Error 4"},
        TPrintedCase{"ClosingNoPaper", kReceipt, "EndBon", 210, 1, ".unk", "Error 4"},
        // A refused payment may be a payment whose answer was lost: its receipt is not cancelled.
        TPrintedCase{"PaymentRefused", kPaid, "AddPayment", 250, 1, ".unk", "Error 1"},
        TPrintedCase{"PaymentRefusedAfterAcceptedPayment", kPartPaid, "AddPayment", 250, 2, ".unk", "Error 1"},
        TPrintedCase{"PaymentNoConnection", kPaid, "AddPayment", 101, 1, ".unk", "Error 4"},
        // An answer that cannot be read ("D,xyz" to a payment): the printer ran the command.
        TPrintedCase{"PaymentAnswerUnreadable", kPaid, "AddPayment", 200, 1, ".unk", "Error 3"},
        TPrintedCase{"ClosingRefusedAfterPayment", kReceipt, "EndBon", 232, 1, ".unk", "Error 3"},
        TPrintedCase{"ClosingNoConnection", kReceipt, "EndBon", 101, 1, ".unk", "Error 4"},
        // The fifth status read is the one after the closing, for the report's "No Bon:" line.
        TPrintedCase{"ReportReadAfterClosing", kReceipt, "GetRecieptStatus", 250, 5, ".unk", "Error 1"},
        // A non-fiscal receipt that was opened is printed by the next opening's cleanup.
        TPrintedCase{"TextLineRefused", kComment, "AddLine", 232, 1, ".unk", "Error 3"},
        TPrintedCase{"TextLineNoConnection", kComment, "AddLine", 101, 1, ".unk", "Error 4"},
        // The library refused the payment before sending anything (an argument it cannot
        // send; its own failure): the printer has no payment and cancels the receipt.
        TPrintedCase{"PaymentRefusedBeforeSending", kPaid, "AddPayment", 201, 1, ".err", "Error 3"},
        TPrintedCase{"PaymentRefusedByTheObject", kPaid, "AddPayment", 502, 1, ".err", "Error 1"},
        TPrintedCase{"RestPaymentRefusedBeforeSending", kReceipt, "AddPayment", 201, 1, ".err", "Error 3"},
        TPrintedCase{"RefusedBeforeSendingAfterAcceptedPayment", kPartPaid, "AddPayment", 201, 2, ".unk", "Error 3"},
        // Service files: what was sent may have run, and nothing of it can be cancelled.
        TPrintedCase{"ZReportNoConnection", "#N\r\n", "RunZReport", 103, 1, ".unk", "Error 4"},
        TPrintedCase{"XReportFailedAfterSending", "#I\r\n", "RunXReport", 232, 1, ".unk", "Error 3"},
        TPrintedCase{"FiscalMemoryReportNoConnection", "#M\r\n", "RunFMDateReport", 103, 1, ".unk", "Error 4"},
        TPrintedCase{"CashInNoConnection", "#R10.00\r\n", "InOutMoney", 101, 1, ".unk", "Error 4"},
        TPrintedCase{"CashOutFailedAfterSending", "#R-5.00\r\n", "InOutMoney", 206, 1, ".unk", "Error 3"},
        TPrintedCase{"CashInRefusedBeforeSending", "#R10.00\r\n", "InOutMoney", 201, 1, ".err", "Error 3"},
        // "P,1.00,x,0" to a cash in: an answer that cannot be read, after the printer ran it.
        TPrintedCase{"CashInAnswerUnreadable", "#R1.00\r\n", "InOutMoney", 200, 1, ".unk", "Error 3"},
        TPrintedCase{"CopyNoConnection", "#C\r\n", "CopyLastBon", 103, 1, ".unk", "Error 4"},
        TPrintedCase{"CopyRefusedByTheObject", "#C\r\n", "CopyLastBon", 502, 1, ".err", "Error 1"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A receipt left open on the printer by a failed file is cancelled (nothing of it was
// paid), closed with the rest paid in cash (a payment was taken) or closed (a non-fiscal
// one) by the next file's opening, as the receipt's status read before that opening shows,
// with or without detailed reports: the log says which, naming both files, once.
TEST_F(TFolderProtocol, NextOpeningSaysWhatBecameOfTheReceiptLeftOpen) {
  const struct {
    const char* Name;
    std::string Body;
    const char* Method;
    int32_t Code;
    int Nth;
    bool Detail;
    bool ClosedMeanwhile;  // the receipt was ended at the printer before the next file
    const char* Became;    // "%2": the next file
  } cases[] = {
      // A refused payment took nothing: the printer lets the receipt be cancelled.
      {"PaymentRefused", kPaid, "AddPayment", 250, 1, true, false, "cancelled by the opening of \"%2\""},
      {"PartPaid", kPartPaid, "AddPayment", 250, 2, true, false,
       "closed by the opening of \"%2\", the rest of 1.00 paid in cash"},
      {"PartPaidWithoutDetails", kPartPaid, "AddPayment", 250, 2, false, false,
       "closed by the opening of \"%2\", the rest of 1.00 paid in cash"},
      {"SaleRefused", kReceipt + "#E1^5.00\r\n", "AddProgPlu", 232, 1, true, false,
       "cancelled by the opening of \"%2\""},
      {"SaleRefusedWithoutDetails", kReceipt, "AddProgPlu", 232, 1, false, false, "cancelled by the opening of \"%2\""},
      {"NonFiscal", kComment, "AddLine", 232, 1, true, false, "closed by the opening of \"%2\""},
      {"EndedAtThePrinter", kPaid, "AddPayment", 250, 1, true, true, "no longer open at the opening of \"%2\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const std::string& name : Files()) QFile::remove(FOlder + QString::fromStdString(name));
    QFile::remove(FLogDir + uProgramLog::NormalLogName);
    Put("0001.bon", c.Body, 60);
    FAke->Fail(c.Method, c.Code, "[X] failed ", c.Nth);
    auto first = FileJob();
    first->SetRepDetailPrint(c.Detail);
    first->Execute();
    EXPECT_THAT(NormalLog(), Not(HasSubstr("left open")));
    if (c.ClosedMeanwhile) FAke->BonType = 0;
    Put("0002.bon", kReceipt, 50);
    auto second = FileJob();
    second->SetRepDetailPrint(c.Detail);
    second->Execute();
    const QString line = QStringLiteral("[DoReadFiles] The receipt of \"%1\" left open on the printer was ") +
                         QString::fromLatin1(c.Became);
    EXPECT_THAT(NormalLog(), HasSubstr(line.arg(FOlder + "0001.bon", FOlder + "0002.bon").toStdString()));
    // A file of unknown outcome is told in its report and to the operator; an error file
    // needs neither.
    const bool unknown = QFile::exists(FOlder + "0001.unk");
    const std::string settled = "[SETTLED]The receipt left open on the printer was " +
                                QString::fromLatin1(c.Became).arg(FOlder + "0002.bon").toStdString() + ". ";
    EXPECT_EQ(Read("0001.rep").find(settled) != std::string::npos, unknown);
    EXPECT_EQ(FSettled.size(), unknown ? 1u : 0u);
    FSettled.clear();
    Put("0003.bon", kReceipt, 40);
    RunFileJob();
    size_t lines = 0;
    for (size_t at = 0; (at = NormalLog().find("left open", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u);
  }
}

// The report of a file of unknown outcome that was replaced before the next opening
// settled its receipt (by the point-of-sale program, or another receipt's of that name) is
// left as it is; the operator is told all the same.
TEST_F(TFolderProtocol, SettledLineNeverGoesIntoAnotherReport) {
  Put("0001.bon", kPaid, 60);
  FAke->Fail("AddPayment", 250, "[X] failed ", 1);
  RunFileJob();
  ASSERT_TRUE(QFile::exists(FOlder + "0001.unk"));
  Put("0001.rep", "another receipt's report\r\n", 55);
  Put("0002.bon", kReceipt, 50);
  RunFileJob();
  EXPECT_EQ(Read("0001.rep"), "another receipt's report\r\n");
  EXPECT_EQ(FSettled.size(), 1u);
  EXPECT_THAT(NormalLog(), HasSubstr("was replaced meanwhile and is left as it is"));
}

TEST_F(TFolderProtocol, ReportReadThatFailsComesAfterTheClosing) {
  // Keeps the table's "after closing" row honest.
  Put("0001.bon", kReceipt, 60);
  FAke->Fail("GetRecieptStatus", 250, "[X] failed ", 5);
  RunFileJob();
  const auto names = FAke->Names();
  int seen = 0;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == "GetRecieptStatus" && ++seen == 5) {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(names[i - 1], "EndBon");
    }
  EXPECT_EQ(seen, 5);
}

// The claim of a file that may have printed cannot be renamed: it stays for the next job,
// which keeps it as unknown outcome too.
TEST_F(TFolderProtocol, UnknownOutcomeRenameFailingLeavesTheClaim) {
  Put("0001.bon", kReceipt, 60);
  FAke->Fail("EndBon", 232, "[EndBon] Refused ");
  auto job = FileJob(false);
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::RenameNoReplace, 1, EIO, (FOlder + "0001.$$$\n").toStdString());
    job->Execute();
  }
  EXPECT_EQ(job->ErrorMessage(), "Can't rename temp file. Check permissions: " + FOlder);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.$$$"}));
  RunFileJob(false);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.unk"}));
  EXPECT_EQ(CallCount("EndBon"), 1);
}

// The point-of-sale program may still be writing a file: it waits for a later tick, and
// is taken once it has stayed unchanged for half a second.
TEST_F(TFolderProtocol, FileStillBeingWrittenIsLeftForTheNextTick) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, 0.2);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 0);
  Pass(500);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
}

// The stamps order the ready files, oldest first; they never make a file ready sooner.
TEST_F(TFolderProtocol, ReadyListingTakesFilesHalfASecondAfterItSawThem) {
  Put("old.bon", kReceipt, 30);
  Put("young.bon", kReceipt, 0.499);
  Put("future.bon", kReceipt, -5);
  Put("other.txt", kReceipt, 30);
  QStringList list = ReadyNames(QString(), uPRNFileThread::ReadyAgeMs);
  EXPECT_TRUE(list.isEmpty());
  Pass(500);
  list = ReadyNames(QString(), uPRNFileThread::ReadyAgeMs);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list[0], "old.bon");
  EXPECT_EQ(list[1], "young.bon");
  EXPECT_EQ(list[2], "future.bon");
  EXPECT_TRUE(FWatch->Ready(QString(), QStringLiteral("bon")).Files.empty());
}

// The point-of-sale program took the file back between the listing and the claim.
TEST_F(TFolderProtocol, FileGoneBeforeItsClaimIsSkipped) {
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  auto t = FileJob();
  auto started = t->OnFileStarted;
  t->OnFileStarted = [&](const QString& path) {
    started(path);
    if (path.endsWith("0001.bon")) QFile::remove(path);
  };
  t->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0002.rep"}));
  EXPECT_EQ(FEvents,
            (std::vector<std::string>{"Online", "Started 0001.bon", "Started 0002.bon", "Processed", "Finished"}));
  EXPECT_THAT(NormalLog(), HasSubstr("File is gone, skipped: \"" + (FOlder + "0001.bon").toStdString()));
}

// The system calls, with a journal of the renames, deletes and syncs in the folder (paths
// without the folder; the folder itself is ".").
class TJournalFileOps : public IFileOps {
 public:
  explicit TJournalFileOps(std::string folder) : FOlder(std::move(folder)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    int fd = IFileOps::Open(path, flags, mode);
    if (fd >= 0) FPaths[fd] = path;
    return fd;
  }
  int Fsync(int fd) override {
    Note("Fsync " + FPaths[fd]);
    return IFileOps::Fsync(fd);
  }
  int RenameNoReplace(const char* from, const char* to) override {
    Note("Rename " + std::string(from) + " " + to);
    return IFileOps::RenameNoReplace(from, to);
  }
  int Unlink(const char* path) override {
    Note("Unlink " + std::string(path));
    return IFileOps::Unlink(path);
  }
  int OpenAt(int dir, const char* name, int flags, mode_t mode) override {
    int fd = IFileOps::OpenAt(dir, name, flags, mode);
    if (fd >= 0) FPaths[fd] = FPaths[dir] + name;
    return fd;
  }
  int RenameAt(int dir, const char* from, const char* to, unsigned flags) override {
    Note(((flags & RENAME_NOREPLACE) ? "Rename " : "Replace ") + FPaths[dir] + from + " " + FPaths[dir] + to);
    return IFileOps::RenameAt(dir, from, to, flags);
  }
  int UnlinkAt(int dir, const char* name, int flags) override {
    const int rc = IFileOps::UnlinkAt(dir, name, flags);
    if (rc == 0) Note("Unlink " + FPaths[dir] + name);
    return rc;
  }
  std::vector<std::string> Journal;

 private:
  void Note(std::string line) {
    for (size_t at; (at = line.find(FOlder)) != std::string::npos;) line.erase(at, FOlder.size());
    Journal.push_back(line.empty() || line.back() != ' ' ? line : line + ".");
  }
  std::string FOlder;
  std::map<int, std::string> FPaths;
};

// The claim is on disk before the printer prints; once it printed, the mark of the printed
// receipt is, then the report file (each written whole beside its name first), before the
// claim goes; the mark goes last.
TEST_F(TFolderProtocol, ClaimAndReportFileAreSyncedInOrder) {
  Put("0001.bon", kReceipt, 60);
  TJournalFileOps ops(FOlder.toStdString());
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  EXPECT_EQ(ops.Journal,
            (std::vector<std::string>{
                "Rename 0001.bon 0001.$$$", "Fsync .", "Fsync .DriverFiscalPrinterX4.0001.printed.tmp",
                "Replace .DriverFiscalPrinterX4.0001.printed.tmp .DriverFiscalPrinterX4.0001.printed",
                "Fsync .DriverFiscalPrinterX4.0001.printed", "Fsync .", "Fsync .DriverFiscalPrinterX4.0001.rep.tmp",
                "Replace .DriverFiscalPrinterX4.0001.rep.tmp 0001.rep", "Fsync 0001.rep", "Fsync .", "Unlink 0001.$$$",
                "Unlink .DriverFiscalPrinterX4.0001.printed"}));
}

// A failed file's report is on disk with its folder like a printed one's: after a power
// cut the ".err" (or ".unk") never stands without its report.
TEST_F(TFolderProtocol, FailedFilesReportIsSyncedWithItsFolder) {
  Put("0002.bon", kInvalid, 60);
  TJournalFileOps ops(FOlder.toStdString());
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  EXPECT_EQ(ops.Journal, (std::vector<std::string>{"Rename 0002.bon 0002.$$$", "Fsync .", "Rename 0002.$$$ 0002.err",
                                                   "Fsync .", "Fsync .DriverFiscalPrinterX4.0002.rep.tmp",
                                                   "Replace .DriverFiscalPrinterX4.0002.rep.tmp 0002.rep",
                                                   "Fsync 0002.rep", "Fsync ."}));
}

// ---- Faults ----

struct TFault {
  const char* Name;
  TFileOp Op;
  const char* PathPart;
  int Nth;
  const char* Message;  // the job's error message begins with it; "%F" is the folder
  std::vector<std::string> AfterJob;
  std::vector<std::string> AfterNextJob;
};

void PrintTo(const TFault& f, std::ostream* os) { *os << f.Name; }

class TFaultTable : public TWorkerFixture, public ::testing::WithParamInterface<TFault> {};

// 0001.bon a good receipt, 0002.bon an invalid one whose older error file is in the way.
TEST_P(TFaultTable, EndsTheJobWithoutLosingOrReprintingAReceipt) {
  const TFault& f = GetParam();
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kInvalid, 50);
  Put("0002.err", "old", 70);
  auto job = FileJob();
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(f.Op, f.Nth, EIO, (FOlder + f.PathPart).toStdString());
    job->Execute();
  }
  QString message = QString::fromLatin1(f.Message).replace("%F", FOlder);
  EXPECT_TRUE(job->ErrorMessage().startsWith(message)) << job->ErrorMessage().toStdString();
  EXPECT_EQ(FEvents.back(), "Finished");
  EXPECT_EQ(FEvents[FEvents.size() - 2], "Error 2");
  EXPECT_EQ(Files(), f.AfterJob);

  FEvents.clear();
  RunFileJob();
  EXPECT_EQ(Files(), f.AfterNextJob);
  EXPECT_EQ(CallCount("AddProgPlu"), 1);  // 0001 printed exactly once over both runs
  // The older error file survives whatever happened.
  bool oldKept = false;
  for (const auto& name : Files()) oldKept |= Read(QString::fromStdString(name)) == "old";
  EXPECT_TRUE(oldKept);
}

const std::string kStamped = "0002_09122025123007.err";
// The mark of the printed 0001.bon while its claim stays.
const std::string kMark = ".DriverFiscalPrinterX4.0001.printed";

INSTANTIATE_TEST_SUITE_P(
    Faults, TFaultTable,
    ::testing::Values(TFault{"ClaimRename",
                             TFileOp::RenameNoReplace,
                             "0001.bon\n",
                             1,
                             "Can't rename file. Check permissions : %F",
                             {"0001.bon", "0002.bon", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", kStamped}},
                      TFault{"ClaimSync",
                             TFileOp::Fsync,
                             "",
                             1,
                             "Can't sync folder: %F",
                             {"0001.bon", "0002.bon", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", kStamped}},
                      TFault{"ClaimDelete",
                             TFileOp::Unlink,
                             "0001.$$$",
                             1,
                             "Can't delete file. Check permissions : %F0001.$$$",
                             {kMark, "0001.$$$", "0001.rep", "0002.bon", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", kStamped}},
                      TFault{"MoveAside",
                             TFileOp::RenameNoReplace,
                             "0002.err\n",
                             1,
                             "Can't rename err file: %F",
                             {"0001.rep", "0002.$$$", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", "0002.unk"}},
                      TFault{"ClaimToErr",
                             TFileOp::RenameNoReplace,
                             "0002.$$$\n",
                             1,
                             "Can't current file to err file. May be permission not set: %F",
                             {"0001.rep", "0002.$$$", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", "0002.unk"}},
                      TFault{"ClaimToErrAfterMoveAside",
                             TFileOp::RenameNoReplace,
                             "0002.$$$\n",
                             2,
                             "Can't current file to err file. May be permission not set: %F",
                             {"0001.rep", "0002.$$$", kStamped},
                             {"0001.rep", "0002.rep", "0002.unk", kStamped}},
                      // The printed receipt keeps its claim and its report waits in memory for the next job.
                      TFault{"RepOfPrintedFile",
                             TFileOp::Open,
                             ".DriverFiscalPrinterX4.0001.rep",
                             1,
                             "",
                             {kMark, "0001.$$$", "0002.bon", "0002.err"},
                             {"0001.rep", "0002.err", "0002.rep", kStamped}},
                      TFault{"RepOfFailedFile",
                             TFileOp::Open,
                             ".DriverFiscalPrinterX4.0002.rep",
                             1,
                             "",
                             {"0001.rep", "0002.err", kStamped},
                             {"0001.rep", "0002.err", kStamped}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TFolderProtocol, RepOfFailedFileReportsTheFileBeforeEndingTheJob) {
  Put("0002.bon", kInvalid, 50);
  Put("0003.bon", kReceipt, 40);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::Open, 1, EIO, (FOlder + ".DriverFiscalPrinterX4.0002.rep").toStdString());
  RunFileJob();
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started 0002.bon", "Error 2", "Error 2", "Finished"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0002.err", "0003.bon"}));
}

TEST_F(TFolderProtocol, StaleClaimThatCannotBeRenamedEndsTheJobBeforePrinting) {
  Put("0009.$$$", kReceipt, 600);
  Put("0001.bon", kReceipt, 60);
  auto job = FileJob();
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::RenameNoReplace, 1, EIO, (FOlder + "0009.$$$").toStdString());
  job->Execute();
  EXPECT_EQ(job->ErrorMessage(), "Can't rename temp file. Check permissions: " + FOlder);
  // Its report is on disk before its ".unk" is.
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0009.$$$", "0009.rep"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 0);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Error 2", "Finished"}));
}

// Every rename and delete of the folder failing in turn: whatever the failure, the next
// run (without faults) leaves no claim behind, prints the good receipt at most once in
// all, and keeps every receipt and error file under some name.
TEST_F(TFolderProtocol, EveryRenameAndDeleteFailingInTurn) {
  for (TFileOp op : {TFileOp::RenameNoReplace, TFileOp::Rename, TFileOp::Unlink, TFileOp::Fsync}) {
    for (int nth = 1; nth <= 8; ++nth) {
      SCOPED_TRACE(std::to_string(static_cast<int>(op)) + "/" + std::to_string(nth));
      for (const auto& name : Files()) QFile::remove(FOlder + QString::fromStdString(name));
      FAke->Calls.clear();
      Put("0001.bon", kReceipt, 60);
      Put("0002.bon", kInvalid, 50);
      Put("0002.err", "old", 70);
      Put("0003.bon", kStatusQuery, 40);
      FAke->Fail("GetHardwareStatus", 101, "[GetHardwareStatus] No answer ");  // the query ends the job
      {
        TFaultyFileOps ops;
        TScopedFileOps scoped(&ops);
        ops.FailAt(op, nth, EIO, FOlder.toStdString());
        RunFileJob();
      }
      RunFileJob();
      std::multiset<std::string> contents;
      for (const auto& name : Files()) {
        EXPECT_EQ(name.find(".$$$"), std::string::npos) << name;
        contents.insert(Read(QString::fromStdString(name)));
      }
      EXPECT_LE(CallCount("AddProgPlu"), 1);
      EXPECT_TRUE(CallCount("AddProgPlu") == 1 || contents.count(kReceipt) == 1);
      EXPECT_EQ(contents.count("old"), 1u);
      EXPECT_EQ(contents.count(kInvalid), 1u);
    }
  }
}

}  // namespace
}  // namespace fp::test
