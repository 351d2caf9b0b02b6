// The worker's jobs, its error path and classification, and how its events reach the
// main thread.
#include "program/tasks/uPRNFileThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "program/receipts/uECRFileReader.h"
#include "program/tasks/uLastingFailure.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/uPRNFileThreadTestSupport.h"
#include "program/app/uProgramLog.h"

namespace fp::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// The jobs' hand-over to the main thread and its event loop need an application object.
[[maybe_unused]] TQtTestEnvironment& gQtEnvironment = QtTestEnvironment<QCoreApplication>();

// ---- Classification ----

struct TCodeCase {
  int32_t Code;
  TTaskErrorKind Kind;
};

using TClassify = TWorkerFixture;

TEST_F(TClassify, CodeClassesByTheReadersLastErrorCode) {
  const TCodeCase cases[] = {{0, ekOperationError},   {101, ekPrinterFatal}, {132, ekPrinterError},
                             {201, ekPrinterError},   {232, ekPrinterError}, {250, ekOperationError},
                             {502, ekOperationError}, {503, ekPrinterFatal}, {504, ekPrinterFatal},
                             {219, ekPrinterFatal},   {226, ekPrinterError}, {-1, ekOperationError}};
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  for (const TCodeCase& c : cases) {
    FAke->ErrorCode = c.Code;
    EXPECT_EQ(t->ClassifyPrinterError(), c.Kind) << c.Code;
    EXPECT_EQ(TECRFileThread::ClassifyErrorCode(c.Code), c.Kind) << c.Code;
  }
}

// Every code of the two named classes, and their neighbours, which are operation errors.
TEST_F(TClassify, EveryNamedCodeAndItsNeighbours) {
  const std::set<int32_t> fatal = {101, 102, 103, 104, 105, 107, 120, 130, 210, 211, 212, 213, 214, 218, 219, 503, 504};
  const std::set<int32_t> printer = {132, 200, 201, 203, 204, 206, 215, 216, 217, 226, 232};
  for (int32_t code = 99; code <= 506; ++code) {
    const TTaskErrorKind kind = fatal.count(code)     ? ekPrinterFatal
                                : printer.count(code) ? ekPrinterError
                                                      : ekOperationError;
    EXPECT_EQ(TECRFileThread::ClassifyErrorCode(code), kind) << code;
  }
}

// What the operator is told of the printer's own state behind a failure: no paper, an
// open cover and a fault in the program's words, any other answer of the printer in the
// object's words without its tags, nothing for a failure of the link or of the object.
TEST_F(TClassify, PrinterStateBehindAFailure) {
  const struct {
    int32_t Code;
    const char* Message;
    const char* State;  // code page 1251
  } cases[] = {
      {210, "[StartBon] No paper. ", "\xCD\xFF\xEC\xE0 \xF5\xE0\xF0\xF2\xE8\xFF."},
      {225, "[AddPLU] Printer cover is opened. ",
       "\xCA\xE0\xEF\xE0\xEA\xFA\xF2 \xED\xE0 \xEF\xF0\xE8\xED\xF2\xE5\xF0\xE0 \xE5 \xEE\xF2\xE2\xEE\xF0\xE5\xED."},
      {219, "[EndBon] The printer is malfunctioning or oppened. ",
       "\xCF\xF0\xE8\xED\xF2\xE5\xF0\xFA\xF2 \xE5 \xE2 \xED\xE5\xE8\xE7\xEF\xF0\xE0\xE2\xED\xEE\xF1\xF2 "
       "\xE8\xEB\xE8 \xEA\xE0\xEF\xE0\xEA\xFA\xF2 \xEC\xF3 \xE5 \xEE\xF2\xE2\xEE\xF0\xE5\xED."},
      {224, "[StartBon] [CheckPrinterStatus]End of el.journal. ", "End of el.journal."},
      {216, "[X] The command is not allowed in the current fiscal regime. ",
       "The command is not allowed in the current fiscal regime."},
      {101, "[StartBon] COM port is not active. ", ""},
      {103, "[AddPLU] Fiscal printer does not respond. ", ""},
      {111, "[AddPLU] Error in packet. Invalid checksum. ", ""},
      {502, "[AddPLU] Device is not initiqlized. ", ""},
      {504, "[Init] No devices. ", ""},
      {0, "", ""},
  };
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  for (const auto& c : cases) {
    FAke->ErrorCode = c.Code;
    FAke->ErrorMessage = c.Message;
    t->ClassifyPrinterError();
    EXPECT_EQ(t->PrinterState(), uConst::FromCp1251(c.State)) << c.Code;
  }
}

// A file job stopped by the printer's state hands that state with its error event.
TEST_F(TClassify, FileJobErrorCarriesThePrintersState) {
  Put("0001.bon", kReceipt, 60);
  FAke->Fail("StartBon", 210, "[StartBon] No paper. ");
  auto t = FileJob();
  QStringList states;
  t->OnError = [&](TECRFileThread& w, TTaskErrorKind) { states << w.PrinterState(); };
  t->Execute();
  EXPECT_EQ(states, QStringList{uConst::FromCp1251("\xCD\xFF\xEC\xE0 \xF5\xE0\xF0\xF2\xE8\xFF.")});
}

TEST_F(TClassify, NoReaderIsFatal) {
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  t->Execute();  // the reader goes with the job
  FAke->ErrorCode = 250;
  EXPECT_EQ(t->ClassifyPrinterError(), ekPrinterFatal);
}

// The automation object cannot be made: the read of the code raises.
TEST_F(TClassify, RaisingReadIsFatal) {
  FPrnFactory = []() -> ComPtr<IMiravokFprn> { throw EOleSysError("Class not registered", E_FAIL); };
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  EXPECT_EQ(t->ClassifyPrinterError(), ekPrinterFatal);
  t->Execute();
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
  EXPECT_THAT(t->ErrorMessage().toStdString(), HasSubstr("Class not registered"));
}

// ---- Service jobs ----

struct TServiceCase {
  const char* Name;
  TTaskRequest Request;
  TTaskKind Kind;    // the worker's kind
  const char* Call;  // the journal line of the job's printer call
  const char* OkLine;
  const char* FailText;
};

void PrintTo(const TServiceCase& c, std::ostream* os) { *os << c.Name; }

class TServiceJobs : public TWorkerFixture, public ::testing::WithParamInterface<TServiceCase> {
 protected:
  static std::string Method(const char* call) {
    std::string s(call);
    return s.substr(0, s.find('('));
  }
};

TEST_P(TServiceJobs, RunsItsCallAndLogsOk) {
  const TServiceCase& c = GetParam();
  auto t = Wire(TECRFileThread::Create(c.Request));
  EXPECT_EQ(t->TaskKind(), c.Kind);
  t->Execute();
  EXPECT_THAT(FAke->Calls, Contains(std::string(c.Call)));
  EXPECT_THAT(NormalLog(), HasSubstr(std::string(" - ") + c.OkLine + "\r\n"));
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Finished"}));
  EXPECT_EQ(t->TaskKind(), tkNone);
  EXPECT_EQ(t->ErrorKind(), ekNone);
}

// A failed job answers the waiting status query of the receipt folder with its text.
TEST_P(TServiceJobs, FailureIsClassifiedAndAnswersTheStatusQuery) {
  const TServiceCase& c = GetParam();
  Put("0001.bon", kStatusQuery, 30);
  FAke->Fail(Method(c.Call), 232, "[X] Printer error ");
  auto t = Wire(TECRFileThread::Create(c.Request));
  t->Execute();
  EXPECT_EQ(t->ErrorMessage(), c.FailText);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Error 3", "Finished"}));
  EXPECT_EQ(Read("0001.rep"), std::string("&S\r\n") + c.FailText + "\r\n");
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
  EXPECT_THAT(NormalLog(), HasSubstr(std::string("[Execute] ") + c.FailText));
  QFile exc(FLogDir + uProgramLog::ExceptionLogName);
  ASSERT_TRUE(exc.open(QIODevice::ReadOnly));
  EXPECT_THAT(exc.readAll().toStdString(), HasSubstr(std::string("[Execute] ") + c.FailText));
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, TServiceJobs,
    ::testing::Values(TServiceCase{"EmptyBon",
                                   {.Kind = tkPrintEmptyBon},
                                   tkPrintEmptyBon,
                                   "EndBon()",
                                   "[DoPrintEmptyBon] OK",
                                   "Error in communication"},
                      TServiceCase{"Test",
                                   {.Kind = tkPrintTest},
                                   tkPrintTest,
                                   "RunPrinterTest()",
                                   "Run printer test OK.",
                                   "Error in communication."},
                      TServiceCase{"ByBlock",
                                   {.Kind = tkReportByBlock, .FirstBlock = 3, .LastBlock = 7, .Detailed = true},
                                   tkReportByBlock,
                                   "RunFMBlockReport(3, 7, 1)",
                                   "[DoReportByBlock] OK",
                                   "Communcation Error"},
                      TServiceCase{"ByDates",
                                   {.Kind = tkReportByDates, .Detailed = false, .StartDate = 45000, .EndDate = 45010.5},
                                   tkReportByDates,
                                   "RunFMDateReport(45000, 45010.5, 0)",
                                   "[DoReportByDates] OK",
                                   "Communcation Error"},
                      TServiceCase{"ZReport",
                                   {.Kind = tkXZReport, .Reset = 1},
                                   tkXZReport,
                                   "RunZReport()",
                                   "[DoXZReport] OK",
                                   "Error in communication"},
                      TServiceCase{"XReport",
                                   {.Kind = tkXZReport, .Reset = 0},
                                   tkXZReport,
                                   "RunXReport()",
                                   "[DoXZReport] OK",
                                   "Error in communication"},
                      TServiceCase{"CashIn",
                                   {.Kind = tkSumIn, .Amount = 12.5},
                                   tkSumIn,
                                   "InOutMoney(12.5, 1)",
                                   "[DoSumInOut] OK",
                                   "[DoSumInOut]Error in communication"},
                      TServiceCase{"CashOut",
                                   {.Kind = tkSumIn, .Amount = -12.5},
                                   tkSumIn,
                                   "InOutMoney(-12.5, 1)",
                                   "[DoSumInOut] OK",
                                   "[DoSumInOut]Error in communication"},
                      TServiceCase{"CashOutAsked",
                                   {.Kind = tkSumOut, .Amount = -12.5},
                                   tkSumIn,
                                   "InOutMoney(-12.5, 1)",
                                   "[DoSumInOut] OK",
                                   "[DoSumInOut]Error in communication"},
                      TServiceCase{"CopyBon",
                                   {.Kind = tkCopyBon},
                                   tkCopyBon,
                                   "CopyLastBon()",
                                   "[DoCopyBon] OK",
                                   "[DoCopyBon]Error in communication"},
                      TServiceCase{"DepartmentReportReset",
                                   {.Kind = tkDepartmentReportReset},
                                   tkDepartmentReportReset,
                                   "ReportByDepartments(1)",
                                   "[DoDepartmentReportReset] OK",
                                   "[DoDepartmentReportReset]Error in communication"},
                      TServiceCase{"DepartmentReport",
                                   {.Kind = tkDepartmentReport},
                                   tkDepartmentReport,
                                   "ReportByDepartments(0)",
                                   "[DoDepartmentReport] OK",
                                   "[DoDepartmentReport]Error in communication"}),
    [](const auto& info) { return std::string(info.param.Name); });

using TJobs = TWorkerFixture;

TEST_F(TJobs, AKindWithoutAJobIsRefused) {
  for (const TTaskKind kind : {tkNone, static_cast<TTaskKind>(16), static_cast<TTaskKind>(255)}) {
    EXPECT_THROW(TECRFileThread::Create({.Kind = kind}), std::runtime_error) << int(kind);
  }
}

// The receipt folder of a request is the file job's: any other job keeps an empty folder,
// so that it answers status queries in the folder of the settings.
TEST_F(TJobs, OnlyTheFileJobTakesTheRequestsFolder) {
  EXPECT_EQ(TECRFileThread::Create({.Kind = tkReadFiles, .BonFolder = FOlder})->BonFolder(), FOlder);
  for (const TTaskKind kind : {tkPrinterInfo, tkCheckPrinter, tkXZReport, tkSumIn}) {
    EXPECT_TRUE(TECRFileThread::Create({.Kind = kind, .BonFolder = FOlder})->BonFolder().isEmpty()) << int(kind);
  }
}

TEST_F(TJobs, ConnectOnlyCheckCallsNothingAfterTheConnection) {
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  t->SetComPort(4);
  t->SetBaudRate(9600);
  t->Execute();
  EXPECT_EQ(FAke->Calls.front(), "Init(4, 9600, 0, 1, )");
  EXPECT_EQ(FAke->Names().back(), "Close");
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Finished"}));
}

TEST_F(TJobs, SearchBySerialNumberUsesInitEx) {
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  t->SetDeviceSearch(true, "ZK000001");
  t->Execute();
  EXPECT_EQ(FAke->Calls.front(), "InitEx(115200, 0, 1, , ZK000001)");
}

// A desk set by serial number whose printer is off: the search falls back to the first
// printer that answered (another desk's). No job that prints or changes the printer sends it
// anything after the connection's reads, not even the closing (which would close or cancel a
// receipt left open there): the job fails as with no connection and names both printers.
TEST_F(TJobs, AnotherPrinterFoundBySearchIsNoConnectionAndGetsNothing) {
  const std::set<std::string> connection = {"InitEx",          "GetPrinterModel", "GetSerialNumber", "ComPort",
                                            "GetFiscalNumber", "LineLength",      "GetCurrencyMode"};
  TDepartmentRow edited;
  edited.Nom = 1;
  edited.DepName = "BREAD";
  edited.Edited = true;
  const TTaskRequest requests[] = {
      {.Kind = tkReadFiles, .BonFolder = FOlder, .Watch = FWatch},
      {.Kind = tkXZReport, .Reset = 1},
      {.Kind = tkSumIn, .Amount = 10},
      {.Kind = tkPrintEmptyBon},
      {.Kind = tkCopyBon},
      {.Kind = tkSetDepartments, .Departments = {edited}},
      {.Kind = tkGetDepartments},
      {.Kind = tkCheckPrinter},
  };
  Put("0001.bon", kReceipt, 30);
  for (const TTaskRequest& request : requests) {
    SCOPED_TRACE(static_cast<int>(request.Kind));
    FAke->Calls.clear();
    FEvents.clear();
    auto t = Wire(TECRFileThread::Create(request));
    t->SetDeviceSearch(true, "ZK000002");
    t->Execute();
    EXPECT_EQ(t->ErrorKind(), ekPrinterFatal);
    EXPECT_EQ(t->ErrorMessage(), "printer ZK000002 not found; found ZK000001 on COM3");
    EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
    for (const std::string& call : FAke->Names()) EXPECT_TRUE(connection.count(call)) << call;
    EXPECT_TRUE(FRows.empty());
    // The receipt waits under its name.
    EXPECT_EQ(Files(), std::vector<std::string>{"0001.bon"});
  }
  EXPECT_THAT(NormalLog(), HasSubstr("[DoInit] Printer ZK000002 not found; printer ZK000001 on COM3 left untouched."));

  // The desk's own printer is switched on: the next file job finds it and prints the
  // waiting receipt.
  FAke->Serial = "ZK000002";
  FAke->Calls.clear();
  FEvents.clear();
  auto t = FileJob();
  t->SetDeviceSearch(true, "ZK000002");
  t->Execute();
  EXPECT_EQ(t->ErrorKind(), ekNone);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started 0001.bon", "Processed", "Finished"}));
  EXPECT_THAT(FAke->Names(), Contains("StartBon"));
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
}

// The printer information shows whichever printer answered (the settings window's test
// warns with its serial number), without counting it as the desk's printer online and
// without closing anything there, also when the reading fails.
TEST_F(TJobs, PrinterInformationOfAnotherPrinterFoundIsShownButNotOnline) {
  auto t = Wire(TECRFileThread::Create({.Kind = tkPrinterInfo}));
  t->SetDeviceSearch(true, "ZK000002");
  t->Execute();
  EXPECT_EQ(t->ErrorKind(), ekNone);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Info ZK000001", "Finished"}));
  EXPECT_THAT(FAke->Names(), Not(Contains("Close")));

  FEvents.clear();
  FAke->Fail("GetFiscalNumber", 107, "[GetFiscalNumber] Timeout ", 2);  // the full connection's read
  auto failing = Wire(TECRFileThread::Create({.Kind = tkPrinterInfo}));
  failing->SetDeviceSearch(true, "ZK000002");
  failing->Execute();
  EXPECT_EQ(failing->ErrorKind(), ekPrinterFatal);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
  EXPECT_THAT(FAke->Names(), Not(Contains("Close")));
}

// The printer found is the desk's when the search counted it as a match: its serial number
// occurs in the one set (which may list several). Without a serial number set the search
// takes the first printer that answers; a printer without one matches no serial number.
TEST_F(TJobs, PrinterFoundIsTheDesksWhenTheSearchMatchedIt) {
  const struct {
    const char* Set;
    const char* Printer;
    bool Prints;
  } cases[] = {
      {"ZK000001", "ZK000001", true}, {"ZK000002 ZK000001", "ZK000001", true},
      {"", "ZK000001", true},         {"zk000001", "ZK000001", false},
      {"ZK000001", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Set) + " / " + c.Printer);
    Put("0001.bon", kReceipt, 30);
    FAke->Serial = c.Printer;
    auto t = FileJob();
    t->SetDeviceSearch(true, c.Set);
    t->Execute();
    EXPECT_EQ(t->ErrorKind(), c.Prints ? ekNone : ekPrinterFatal);
    EXPECT_EQ(Files(), std::vector<std::string>{c.Prints ? "0001.rep" : "0001.bon"});
    for (const std::string& name : Files()) ASSERT_TRUE(QFile::remove(FOlder + QString::fromStdString(name)));
  }
}

TEST_F(TJobs, ConnectionFailureIsFatalAndOffline) {
  FAke->Fail("Init", 102, "[Init] Port busy ");
  auto t = Wire(TECRFileThread::Create({.Kind = tkXZReport, .Reset = 1}));
  t->Execute();
  EXPECT_EQ(t->ErrorKind(), ekPrinterFatal);
  EXPECT_EQ(t->ErrorMessage(), "[FastInit][Init] Port busy ");
  EXPECT_THAT(FAke->Names(), Not(Contains("RunZReport")));
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
}

TEST_F(TJobs, PrinterInformationIsReadByAFullConnection) {
  TPRNInfo info;
  auto t = Wire(TECRFileThread::Create({.Kind = tkPrinterInfo}));
  t->OnPrinterInfo = [&](const TPRNInfo& i) { info = i; };
  t->Execute();
  EXPECT_EQ(info.Model, "FP-X4 [ZK000001 1.00]");
  EXPECT_EQ(info.SerialNo, "ZK000001");
  EXPECT_EQ(info.FiscalNo, "02000001");
  EXPECT_EQ(info.LineLength, 32);
  EXPECT_EQ(info.LastDocNo, 41);
  EXPECT_EQ(info.NextInvoiceNo, 101);
  EXPECT_EQ(info.ComPort, 1);
  EXPECT_EQ(CallCount("Init"), 2);  // the job's connection, then the full one
  EXPECT_EQ(CallCount("GetHardwareStatus"), 1);
}

// Found by searching: both connections search, and the port is the one found.
TEST_F(TJobs, PrinterInformationBySearchReportsTheFoundPort) {
  TPRNInfo info;
  auto t = Wire(TECRFileThread::Create({.Kind = tkPrinterInfo}));
  t->SetDeviceSearch(true, "ZK000001");
  t->OnPrinterInfo = [&](const TPRNInfo& i) { info = i; };
  t->Execute();
  EXPECT_EQ(CallCount("InitEx"), 2);
  EXPECT_EQ(CallCount("Init"), 0);
  EXPECT_EQ(info.ComPort, 3);
}

TEST_F(TJobs, PrinterInformationFailureCarriesTheReadersText) {
  FAke->HardwareStatus = "Paper out";
  auto t = Wire(TECRFileThread::Create({.Kind = tkPrinterInfo}));
  t->Execute();
  EXPECT_EQ(t->ErrorMessage(), "[Initialize]Paper out");
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Error 1", "Finished"}));
}

TEST_F(TJobs, DepartmentsAreReadUntilTheFirstThatCannotBe) {
  FAke->Departments[1] = {"BREAD", "fresh", "P", 2};
  FAke->Departments[2] = {"MILK", "", "", 3};
  FAke->Fail("GetDepartmentName", 201, "[GetDepartmentName] Invalid ", 3);
  auto t = Wire(TECRFileThread::Create({.Kind = tkGetDepartments}));
  t->Execute();
  ASSERT_EQ(FRows.size(), 2u);
  EXPECT_EQ(FRows[0].Nom, 1);
  EXPECT_EQ(FRows[0].DepName, "BREAD");
  EXPECT_EQ(FRows[0].DepDescr, "fresh");
  EXPECT_EQ(FRows[0].ExitCode, "P");
  EXPECT_EQ(FRows[0].TaxGrpNo, 2);
  EXPECT_EQ(FRows[1].DepName, "MILK");
  EXPECT_EQ(FRows[1].TaxGrpNo, 3);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "DepartmentsRead", "Finished"}));
  EXPECT_THAT(NormalLog(), HasSubstr("[DoGetDepartments] OK"));
  EXPECT_EQ(FAke->Names().back(), "Close");  // the reader went and released the object
}

// An unprogrammed department on a printer with the extended commands is refused for its
// missing VAT group (200): it is listed as not programmed and the reading goes on.
TEST_F(TJobs, DepartmentWithoutItsVatGroupIsListedAsNotProgrammed) {
  FAke->Departments[1] = {"BREAD", "", "P", 2};
  FAke->Departments[3] = {"MILK", "", "P", 3};
  FAke->Fail("GetDepartmentName", 200, "[GetDepartmentName failed] Invalid data from the printer. [VatGrp]", 2);
  FAke->Fail("GetDepartmentName", 201, "[GetDepartmentName] Invalid ", 4);
  auto t = Wire(TECRFileThread::Create({.Kind = tkGetDepartments}));
  t->Execute();
  ASSERT_EQ(FRows.size(), 3u);
  EXPECT_EQ(FRows[1].Nom, 2);
  EXPECT_EQ(FRows[1].ExitCode, "F");
  EXPECT_EQ(FRows[1].DepName, "");
  EXPECT_EQ(FRows[2].Nom, 3);
  EXPECT_EQ(FRows[2].DepName, "MILK");
  EXPECT_EQ(FRows[2].ExitCode, "P");
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "DepartmentsRead", "Finished"}));
}

TEST_F(TJobs, DepartmentOneUnreadableGivesAnEmptyListAndNoError) {
  FAke->Fail("GetDepartmentName", 201, "[GetDepartmentName] Invalid ");
  auto t = Wire(TECRFileThread::Create({.Kind = tkGetDepartments}));
  t->Execute();
  EXPECT_TRUE(FRows.empty());
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "DepartmentsRead", "Finished"}));
}

// A read that hands back no object ends the job at once: no end of list, no OK line, no
// error.
TEST_F(TJobs, DepartmentWithoutAResultObjectEndsTheJobAtOnce) {
  FAke->Departments[1] = {"BREAD", "", "P", 2};
  FAke->NoDepartmentObjectAt = 2;
  auto t = Wire(TECRFileThread::Create({.Kind = tkGetDepartments}));
  t->Execute();
  EXPECT_EQ(FRows.size(), 1u);
  EXPECT_EQ(CallCount("GetDepartmentName"), 2);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Finished"}));
  EXPECT_THAT(NormalLog(), Not(HasSubstr("[DoGetDepartments] OK")));
  EXPECT_EQ(t->ErrorKind(), ekNone);
}

TEST_F(TJobs, OnlyEditedDepartmentsAreWritten) {
  TDepartments rows(3);
  for (int i = 0; i < 3; ++i) rows[i] = {i + 1, QString("D%1").arg(i + 1), "P", "x", 2, i != 1};
  auto t = Wire(TECRFileThread::Create({.Kind = tkSetDepartments, .Departments = rows}));
  t->Execute();
  EXPECT_EQ(CallCount("SetDeparment"), 2);
  EXPECT_THAT(FAke->Calls, Contains("SetDeparment(1, 2, D1, x)"));
  EXPECT_THAT(FAke->Calls, Contains("SetDeparment(3, 2, D3, x)"));
  EXPECT_TRUE(t->Departments().empty());
  EXPECT_THAT(NormalLog(), HasSubstr("[DoSetDepartments] OK"));
}

TEST_F(TJobs, FirstFailedDepartmentWriteStopsTheJob) {
  TDepartments rows(3);
  for (int i = 0; i < 3; ++i) rows[i] = {i + 1, "D", "P", "", 2, true};
  FAke->Fail("SetDeparment", 201, "[SetDeparment] Invalid ", 2);
  auto t = Wire(TECRFileThread::Create({.Kind = tkSetDepartments, .Departments = rows}));
  t->Execute();
  EXPECT_EQ(CallCount("SetDeparment"), 2);
  EXPECT_EQ(t->ErrorMessage(), "[DoSetDepartments]Error in communication");
  EXPECT_EQ(t->Departments().size(), 3u);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Error 3", "Finished"}));
}

// A stop request is honoured between files: the current file is finished, no
// FileProcessed follows it, and the rest waits.
TEST_F(TJobs, StopRequestEndsTheFileJobAfterTheCurrentFile) {
  Put("a.bon", kReceipt, 60);
  Put("b.bon", kReceipt, 50);
  auto t = FileJob();
  TECRFileThread* raw = t.get();
  auto started = t->OnFileStarted;
  t->OnFileStarted = [&](const QString& path) {
    started(path);
    raw->Terminate();
  };
  t->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep", "b.bon"}));
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started a.bon", "Finished"}));
}

// A job reads all its files with the settings it was handed: the shared settings changing
// while it runs (a save in the settings window) reach neither its listing nor its files.
TEST_F(TJobs, ASettingsChangeDuringTheJobDoesNotReachIt) {
  Put("a.txt", kReceipt + "#E3^1.5\r\n", 60);
  Put("b.txt", kReceipt + "#E3^1.5\r\n", 50);
  auto t = FileJob();
  t->SetBonFileExt(QStringLiteral("txt"));
  t->SetCashierPas(QStringLiteral(" 1234 "));
  t->SetUsePluAsDepartNo(true);
  t->SetPayTypePairs({{3, 2}});
  auto started = t->OnFileStarted;
  t->OnFileStarted = [&](const QString& path) {
    started(path);
    uConst::SetBonFileExt(QStringLiteral("bon"));
    uConst::SetCashierPas(QStringLiteral("9999"));
    uConst::SetUsePluAsDepartNo(false);
    uConst::SetPayTypePairs({});
  };
  t->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep", "b.rep"}));
  EXPECT_EQ(Processed(), 2);
  std::vector<std::string> starts, sales, payments;
  for (const std::string& c : FAke->Calls) {
    if (c.rfind("StartBon(", 0) == 0) starts.push_back(c);
    if (c.rfind("AddDeprtPlu(", 0) == 0 || c.rfind("AddProgPlu(", 0) == 0) sales.push_back(c);
    if (c.rfind("AddPayment(", 0) == 0) payments.push_back(c);
  }
  ASSERT_EQ(starts.size(), 2u);
  for (const std::string& c : starts) EXPECT_THAT(c, HasSubstr(", 1234, ")) << c;
  ASSERT_EQ(sales.size(), 2u);
  for (const std::string& c : sales) EXPECT_EQ(c.rfind("AddDeprtPlu(12, Water, 12,", 0), 0u) << c;
  EXPECT_EQ(payments, (std::vector<std::string>(2, "AddPayment(2, , 1.5, 1)")));
  uConst::SetCashierPas(QString());
  uConst::SetPayTypePairs({});
}

// ---- Threads ----

class TThreads : public TWorkerFixture {
 protected:
  // Runs the main thread's event loop until `done` or 10 s.
  static void Spin(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
};

TEST_F(TThreads, EventsRunOnTheMainThreadWhileTheWorkerWaits) {
  Put("a.bon", kReceipt, 60);
  Put("b.bon", kInvalid, 50);
  const auto main = std::this_thread::get_id();
  bool allOnMain = true, finished = false;
  std::thread::id departmentsThread;
  std::vector<std::string> seen;
  auto t = FileJob();
  TECRFileThread* raw = t.get();
  t->OnFileStarted = [&](const QString& path) {
    allOnMain &= std::this_thread::get_id() == main;
    // The worker waits: its fields hold what the event is about.
    seen.push_back((raw->CurrentFile() == path ? "Started " : "Moved ") + QFileInfo(path).fileName().toStdString());
  };
  t->OnError = [&](TECRFileThread& w, TTaskErrorKind kind) {
    allOnMain &= std::this_thread::get_id() == main;
    seen.push_back("Error " + std::to_string(kind) + " " + QFileInfo(w.CurrentFile()).fileName().toStdString());
  };
  t->OnTaskFinished = [&](TECRFileThread&) {
    allOnMain &= std::this_thread::get_id() == main;
    finished = true;
  };
  t->Resume();
  Spin([&] { return finished; });
  t->WaitFor();
  EXPECT_TRUE(t->Finished());
  EXPECT_TRUE(allOnMain);
  EXPECT_EQ(seen, (std::vector<std::string>{"Started a.bon", "Started b.bon", "Error 2 b.bon"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep", "b.err", "b.rep"}));

  // The end of a department list is signalled on the worker thread itself.
  auto d = Wire(TECRFileThread::Create({.Kind = tkGetDepartments}));
  FAke->Fail("GetDepartmentName", 201, "x", 2);
  d->OnDepartmentsRead = [&](TECRFileThread&) { departmentsThread = std::this_thread::get_id(); };
  d->Resume();
  d->WaitFor();
  EXPECT_NE(departmentsThread, main);
  EXPECT_NE(departmentsThread, std::thread::id());
  EXPECT_EQ(FRows.size(), 1u);
}

// WaitFor on the main thread serves the worker's event calls itself.
TEST_F(TThreads, WaitForServesEventsWithoutAnEventLoop) {
  Put("a.bon", kReceipt, 60);
  auto t = FileJob();
  t->Resume();
  t->WaitFor();
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started a.bon", "Processed", "Finished"}));
}

// A window that closes detaches the events: a worker blocked in an event call goes on,
// no handler runs any more, and the wait ends.
TEST_F(TThreads, DetachedEventsReachNobodyAndReleaseAWaitingWorker) {
  Put("a.bon", kReceipt, 60);
  auto t = FileJob();
  t->Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker waits in OnPrinterOnline
  t->DetachEvents();
  t->WaitFor();
  QCoreApplication::processEvents();  // a call already posted finds nobody
  EXPECT_TRUE(FEvents.empty());
  EXPECT_TRUE(t->Finished());
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep"}));  // the job itself ran to its end
}

TEST_F(TThreads, DestroyingARunningWorkerWaitsForIt) {
  Put("a.bon", kReceipt, 60);
  auto t = FileJob();
  t->Resume();
  t.reset();
  QCoreApplication::processEvents();
  EXPECT_TRUE(FEvents.empty());
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.rep"}));
}

// Handed over in its own last event, the worker is destroyed on the main thread after it
// has ended.
TEST_F(TThreads, FreeWhenFinishedFromTheLastEvent) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> alive = token;
  std::unique_ptr<TECRFileThread> holder = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter}));
  holder->OnTaskFinished = [&holder, token](TECRFileThread&) { TECRFileThread::FreeWhenFinished(std::move(holder)); };
  token.reset();
  holder->Resume();
  Spin([&] { return alive.expired(); });
  EXPECT_TRUE(alive.expired());
  EXPECT_EQ(holder, nullptr);
}

}  // namespace
}  // namespace fp::test

namespace fp::test {
namespace {

// The printer answers no job: the reader's line and the job's line are written at the first
// try only, and the job the printer answers again ends the failure with one line.
TEST_F(TJobs, ALastingFailureIsWrittenOnceAndItsEndOnce) {
  int64_t nowMs = 0;
  auto failures = std::make_shared<TLastingFailure>([&nowMs] { return nowMs; });
  auto exceptionLog = [this] {
    QFile f(FLogDir + uProgramLog::ExceptionLogName);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  };
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  for (int i = 0; i < 3; ++i) {
    FAke->Fail("Init", 102, "[Init] Port busy ");
    auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter, .Failures = failures}));
    t->Execute();
    EXPECT_EQ(t->ErrorKind(), ekPrinterFatal);
    nowMs += 1000;
  }
  std::string log = exceptionLog();
  EXPECT_EQ(count(log, "[FastInit][Init] Port busy "), 2) << log;  // the reader's line and the job's
  EXPECT_EQ(count(log, "[Execute] [FastInit][Init] Port busy "), 1) << log;
  auto t = Wire(TECRFileThread::Create({.Kind = tkCheckPrinter, .Failures = failures}));
  t->Execute();
  EXPECT_EQ(t->ErrorKind(), ekNone);
  log = exceptionLog();
  EXPECT_EQ(count(log, "Port busy"), 3) << log;
  EXPECT_THAT(log, HasSubstr(" - [Execute] The failure ended after 3 s, 3 tries, its lines written once: "
                             "[FastInit][Init] Port busy \r\n"));
  // The normal log keeps every try.
  EXPECT_EQ(count(NormalLog(), "[Execute] [FastInit][Init] Port busy "), 3);
}

}  // namespace
}  // namespace fp::test
