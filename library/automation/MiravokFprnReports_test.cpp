// The reports, clock, cash and service methods of the automation object against the
// stateful printer model over a pty.
#include <array>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/FakeDevice.h"
#include "library/automation/FprnModelTestSupport.h"
#include "library/protocol/OleDate.h"

namespace fp {
namespace {

using model::Bits;
using model::Receipt;
using model::ReceiptKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using test::kNotInit;

constexpr uint8_t cmdStatus = 0x4A, cmdDailyReport = 0x45, cmdCancelFisc = 0x3C,
                  cmdCloseNonFisc = 0x27, cmdCashInOut = 0x46, cmdOpenDrawer = 0x6A,
                  cmdDuplicate = 0x6D, cmdDiagnostics = 0x47, cmdDepartmentReport = 0x75,
                  cmdPluReport = 0x76, cmdSetDateTime = 0x3D;

double Date(int Y, int M, int D, int H = 0, int N = 0, int S = 0) {
  double V = 0;
  EXPECT_TRUE(TryEncodeOleDateTime(Y, M, D, H, N, S, 0, V));
  return V;
}

class ReportsTest : public test::TFprnConnectedTest {
 protected:
  // The data of the last request with this command byte.
  std::string LastData(uint8_t Cmd) {
    const std::vector<std::string> All = test::RequestData(M(), Cmd);
    return All.empty() ? "<none>" : All.back();
  }
  void LeaveReceiptOpen(ReceiptKind Kind) {
    M().Edit([Kind](model::ModelState& S) {
      Receipt R;
      R.kind = Kind;
      R.allNo = ++S.allReceipts;
      S.open = R;
    });
  }
};

// ---------------------------------------------------------------------------------------
// Daily reports and a receipt left open

struct TLeftOpen {
  const char* Name;
  bool ZReport;
  bool Open;
  ReceiptKind Kind;
  std::vector<uint8_t> Commands;  // what reaches the printer, in order
};

class DailyReportTest : public ReportsTest, public ::testing::WithParamInterface<TLeftOpen> {};

TEST_P(DailyReportTest, EndsAReceiptLeftOpenThenPrintsTheReport) {
  const TLeftOpen& C = GetParam();
  if (C.Open) LeaveReceiptOpen(C.Kind);
  LONG Res = 99;
  ASSERT_EQ(C.ZReport ? Obj->RunZReport(&Res) : Obj->RunXReport(&Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Sent(), C.Commands);
  const model::ModelState S = M().State();
  EXPECT_FALSE(S.open);
  ASSERT_FALSE(S.reports.empty());
  EXPECT_EQ(S.reports.back(), std::make_pair(cmdDailyReport, std::string(C.ZReport ? "0" : "2")));
  EXPECT_EQ(S.zReports, C.ZReport ? 1 : 0);
  if (C.Open) {
    ASSERT_FALSE(S.closed.empty());
    EXPECT_EQ(S.closed.back().kind, C.Kind);
    // A fiscal receipt without payments is cancelled, a non-fiscal one closed.
    EXPECT_EQ(S.closed.back().cancelled, C.Kind == ReceiptKind::Fiscal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LeftOpen, DailyReportTest,
    ::testing::Values(
        TLeftOpen{.Name = "ZWithFiscal", .ZReport = true, .Open = true, .Kind = ReceiptKind::Fiscal,
                  .Commands = {cmdStatus, cmdStatus, cmdCancelFisc, cmdStatus, cmdDailyReport}},
        TLeftOpen{.Name = "XWithFiscal", .ZReport = false, .Open = true, .Kind = ReceiptKind::Fiscal,
                  .Commands = {cmdStatus, cmdStatus, cmdCancelFisc, cmdStatus, cmdDailyReport}},
        TLeftOpen{.Name = "ZWithNonFiscal", .ZReport = true, .Open = true, .Kind = ReceiptKind::NonFiscal,
                  .Commands = {cmdStatus, cmdStatus, cmdCloseNonFisc, cmdDailyReport}},
        TLeftOpen{.Name = "XWithNone", .ZReport = false, .Open = false, .Kind = ReceiptKind::Fiscal,
                  .Commands = {cmdStatus, cmdDailyReport}},
        TLeftOpen{.Name = "ZWithNone", .ZReport = true, .Open = false, .Kind = ReceiptKind::Fiscal,
                  .Commands = {cmdStatus, cmdDailyReport}}),
    [](const auto& I) { return std::string(I.param.Name); });

TEST_F(ReportsTest, ReportIsNotSentWhenTheOpenReceiptCannotBeEnded) {
  LeaveReceiptOpen(ReceiptKind::NonFiscal);
  M().ScriptNext(cmdCloseNonFisc, model::ReplyBits(Bits({model::bit::NotAllowed})));
  LONG Res = 99;
  ASSERT_EQ(Obj->RunZReport(&Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 216);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Run ZReport failed] "));
  EXPECT_FALSE(WasSent(cmdDailyReport));
  EXPECT_EQ(M().State().zReports, 0);
}

TEST_F(ReportsTest, ErrorBitStopsTheReportBeforeAnythingIsPrinted) {
  M().SetStatusBit(model::bit::NoPaper);
  LONG Res = 99;
  ASSERT_EQ(Obj->RunXReport(&Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 210);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Run XReport failed] "));
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus));
  EXPECT_TRUE(M().State().reports.empty());
}

// ---------------------------------------------------------------------------------------
// Fiscal memory reports

struct TBlockCase {
  LONG Start, End, Detailed;
  uint8_t Cmd;
  const char* Data;
};

TEST_F(ReportsTest, FiscalMemoryReportByBlocks) {
  const TBlockCase Cases[] = {
      {3, 5, 1, 0x49, "3,5"},   // detailed
      {5, 3, 1, 0x49, "3,5"},   // the blocks go in ascending order
      {5, 0, 0, 0x5F, "5"},     // no end block
      {1, 9, 2, 0x5F, "1,9"},   // only 1 asks for the detailed report
      {1, 9, -1, 0x5F, "1,9"},
  };
  for (const TBlockCase& C : Cases) {
    M().ClearRequests();
    LONG Res = 99;
    ASSERT_EQ(Obj->RunFMBlockReport(C.Start, C.End, C.Detailed, &Res), S_OK);
    EXPECT_EQ(Res, 0) << C.Start << "-" << C.End << ": " << Message();
    EXPECT_EQ(M().State().reports.back(), std::make_pair(C.Cmd, std::string(C.Data)))
        << C.Start << "-" << C.End << " detailed " << C.Detailed;
  }
  EXPECT_THAT(LogText(), HasSubstr("[RunFMBlockReport] StartBlock=5 EndBlock=3 Detailed=1"));
}

// Block numbers are unsigned on the wire: a negative one is refused before anything is sent
// (-1 would go out as 4294967295, a report of the whole fiscal memory).
TEST_F(ReportsTest, NegativeBlockNumberIsRefusedUnsent) {
  const std::pair<LONG, LONG> Cases[] = {{-1, 2}, {2, -1}};
  for (const auto& [Start, End] : Cases) {
    M().ClearRequests();
    LONG Res = 99;
    ASSERT_EQ(Obj->RunFMBlockReport(Start, End, 0, &Res), S_OK);
    EXPECT_EQ(Res, -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[RunFMBlockReport failed] Invalid input data. [") +
                             (Start < 0 ? "StartBlock" : "EndBlock") + "] ");
    EXPECT_TRUE(Sent().empty());
  }
}

TEST_F(ReportsTest, FiscalMemoryReportByDates) {
  const double First = Date(2026, 12, 1), Last = Date(2026, 12, 31, 10, 30);
  LONG Res = 99;
  ASSERT_EQ(Obj->RunFMDateReport(First, Last, 1, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(M().State().reports.back(), std::make_pair(uint8_t(0x5E), std::string("011226,311226")));
  EXPECT_THAT(LogText(),
              HasSubstr("[RunFMDateReport] StartDate=01.12.2026 EndDate=31.12.2026 10:30:00 Detailed=1"));

  ASSERT_EQ(Obj->RunFMDateReport(First, 0, 0, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(M().State().reports.back(), std::make_pair(uint8_t(0x4F), std::string("011226")));

  // The dates are not put in order: an end before the start is refused unsent.
  const size_t Reports = M().State().reports.size();
  M().ClearRequests();
  ASSERT_EQ(Obj->RunFMDateReport(Last, First, 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[RunFMDateReport failed] "));
  EXPECT_EQ(M().State().reports.size(), Reports);
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus));
}

// ---------------------------------------------------------------------------------------
// Article and department reports

TEST_F(ReportsTest, ArticleReportClearsOnlyWithZeroFlagOne) {
  LeaveReceiptOpen(ReceiptKind::Fiscal);
  LONG Res = 99;
  ASSERT_EQ(Obj->RunPLUReport(2, 1, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(LastData(cmdPluReport), "2");
  EXPECT_FALSE(M().State().open);  // ended first like every report
  EXPECT_EQ(M().State().pluClosures, 0);

  ASSERT_EQ(Obj->RunPLUReport(1, 0, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(LastData(cmdPluReport), "0");
  EXPECT_EQ(M().State().pluClosures, 1);
}

TEST_F(ReportsTest, DepartmentReportClearsWithResetAndLeavesAnOpenReceiptToThePrinter) {
  M().Edit([](model::ModelState& S) {
    S.departments[1].name = "BREAD";
    S.departments[1].lastSumCents = 1250;
    S.departments[1].lastCount = 3;
  });
  LONG Res = 99;
  ASSERT_EQ(Obj->ReportByDepartments(1, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  // Neither the status check nor the open-receipt handling runs first.
  EXPECT_THAT(Sent(), ElementsAre(cmdDepartmentReport));
  EXPECT_EQ(LastData(cmdDepartmentReport), "0");
  EXPECT_EQ(M().State().departments.at(1).lastSumCents, 0);
  EXPECT_THAT(LogText(), HasSubstr("Report by departments.  Reset = \"1\""));

  LeaveReceiptOpen(ReceiptKind::Fiscal);
  M().ClearRequests();
  ASSERT_EQ(Obj->ReportByDepartments(0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 216);  // the printer's refusal while a receipt is open
  EXPECT_THAT(Message(), ::testing::StartsWith("[Report by departments failed] "));
  EXPECT_THAT(Sent(), ElementsAre(cmdDepartmentReport));
  EXPECT_TRUE(M().State().open);
}

// ---------------------------------------------------------------------------------------
// Cash in and out

TEST_F(ReportsTest, CashInAndOut) {
  M().Edit([](model::ModelState& S) { S.cashCents = 2000; });
  LONG Res = 99;
  ASSERT_EQ(Obj->InOutMoney(30.5, 1, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(LastData(cmdCashInOut), "30.50");
  ASSERT_EQ(Obj->InOutMoney(-10, 1, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(LastData(cmdCashInOut), "-10.00");
  EXPECT_EQ(M().State().cashCents, 4050);
  EXPECT_THAT(LogText(), HasSubstr("InOutMoney. Ammount=30.5 PayType=1"));

  // More out than the drawer holds: 207 with the cash in the drawer.
  ASSERT_EQ(Obj->InOutMoney(-100, 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 207);
  EXPECT_THAT(Message(), ::testing::StartsWith("[InOutMoney failed] "));
  EXPECT_THAT(Message(), HasSubstr("40.50"));
  EXPECT_EQ(M().State().cashCents, 4050);

  // Any other refusal: 206.
  M().ScriptNext(cmdCashInOut, model::Reply("F,80.00,0.00,0.00"));
  ASSERT_EQ(Obj->InOutMoney(-50, 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 206);
}

// The limit is judged on the amount as it is sent: 1.005 goes out as -1.01, more than the
// 1.00 in the drawer, so the refusal is the lack of funds, and nothing is taken out.
TEST_F(ReportsTest, CashOutLimitComparesTheAmountSent) {
  M().Edit([](model::ModelState& S) { S.cashCents = 100; });
  LONG Res = 99;
  ASSERT_EQ(Obj->InOutMoney(-1.005, 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 207);
  EXPECT_EQ(Message(), "[InOutMoney failed] Lack of funds. 1.00 ");
  EXPECT_EQ(LastData(cmdCashInOut), "-1.01");
  EXPECT_EQ(M().State().cashCents, 100);
}

TEST_F(ReportsTest, CashAmountThatIsNoNumberIsRefusedUnsent) {
  LONG Res = 99;
  ASSERT_EQ(Obj->InOutMoney(std::numeric_limits<double>::quiet_NaN(), 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[InOutMoney failed] Invalid input data. [Ammount] ");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ReportsTest, CashInEndsAReceiptLeftOpen) {
  LeaveReceiptOpen(ReceiptKind::NonFiscal);
  LONG Res = 99;
  ASSERT_EQ(Obj->InOutMoney(12, 0, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus, cmdStatus, cmdCloseNonFisc, cmdCashInOut));
  EXPECT_EQ(M().State().cashCents, 1200);
}

TEST_F(ReportsTest, OpenCashDrawerSendsTheDefaultPulseForAnInvalidWidth) {
  const std::pair<LONG, const char*> Cases[] = {{250, "15"}, {-1, "15"}, {0, "0"}, {100, "100"}};
  for (auto [Pulse, Sent] : Cases) {
    LONG Res = 99;
    ASSERT_EQ(Obj->OpenCashDrawer(Pulse, &Res), S_OK);
    EXPECT_EQ(Res, 0) << Message();
    EXPECT_EQ(LastData(cmdOpenDrawer), Sent) << Pulse;
  }
  const std::string Log = LogText();
  EXPECT_THAT(Log, HasSubstr("OpenCashDrawer. Pulse width: \"250\" ms."));
  EXPECT_THAT(Log, HasSubstr("OpenCashDrawer. Invalid pulse width. Default pulse used [15 ms.]"));
}

// ---------------------------------------------------------------------------------------
// Clock

TEST_F(ReportsTest, ClockSetAndReadBack) {
  M().Edit([](model::ModelState& S) { S.clock.Freeze(true); });
  LONG Res = 99;
  ASSERT_EQ(Obj->SetClock(Date(2026, 12, 8, 22, 53, 40), &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(LastData(cmdSetDateTime), "08-12-26 22:53");  // to the minute

  DATE When = -1;
  ASSERT_EQ(Obj->GetClock(&When), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_DOUBLE_EQ(When, Date(2026, 12, 8, 22, 53, 0));
  BStr Text;
  ASSERT_EQ(Obj->get_FPDateTimeAsString(Text.Out()), S_OK);
  EXPECT_EQ(BstrToAnsi(Text.Get()), "08122026225300");

  const std::string Log = LogText();
  EXPECT_THAT(Log, HasSubstr("Set FP date and time. New date=08.12.2026 22:53:40"));
  EXPECT_THAT(Log, HasSubstr("Get FP date and time: 08.12.2026 22:53:00"));
}

TEST_F(ReportsTest, ClockOnAFailingPrinterReadsZero) {
  M().ScriptNext(0x3E, model::Reply("31-02-15 10:00:00"));
  DATE When = -1;
  ASSERT_EQ(Obj->GetClock(&When), S_OK);
  EXPECT_EQ(When, 0);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Get FP date and time failed] "));
}

// ---------------------------------------------------------------------------------------
// Numbers and status

TEST_F(ReportsTest, NumberReadOuts) {
  M().Edit([](model::ModelState& S) {
    S.allReceipts = 41;
    S.invoices.current = 123;
    S.creditNotes.current = 77;
  });
  M().SetSerialNumber("ZX987654");
  M().SetFiscalMemoryNumber("51234567");
  LONG Doc = -1;
  ASSERT_EQ(Obj->GetLastDocNumber(&Doc), S_OK);
  EXPECT_EQ(Doc, 41);
  auto TextOf = [&](HRESULT (IMiravokFprn::*Get)(BSTR*)) {
    BStr V;
    EXPECT_EQ((Obj.Get()->*Get)(V.Out()), S_OK);
    EXPECT_EQ(Code(), 0) << Message();
    return BstrToAnsi(V.Get());
  };
  EXPECT_EQ(TextOf(&IMiravokFprn::GetNextInvoiceNumber), "123");
  EXPECT_EQ(TextOf(&IMiravokFprn::GetNextRefundInvNumber), "77");
  EXPECT_EQ(TextOf(&IMiravokFprn::GetSerialNumber), "ZX987654");
  EXPECT_EQ(TextOf(&IMiravokFprn::GetFiscalNumber), "51234567");
  // The diagnostic read asks with its flag set.
  EXPECT_EQ(LastData(0x5A), "1");
}

TEST_F(ReportsTest, InvoiceNumberLosesItsLeadingZeros) {
  M().ScriptNext(0x42, model::Reply("0000000100,0000009999,0000000123"));
  BStr V;
  ASSERT_EQ(Obj->GetNextInvoiceNumber(V.Out()), S_OK);
  EXPECT_EQ(BstrToAnsi(V.Get()), "123");
}

TEST_F(ReportsTest, CheckPrnStatusTellsTheOpenReceipt) {
  const std::pair<std::optional<ReceiptKind>, LONG> Cases[] = {
      {std::nullopt, 1}, {ReceiptKind::Fiscal, 2}, {ReceiptKind::NonFiscal, 3}};
  for (auto [Kind, Expected] : Cases) {
    M().Edit([](model::ModelState& S) { S.open.reset(); });
    if (Kind) LeaveReceiptOpen(*Kind);
    LONG Status = 0, Res = 99;
    ASSERT_EQ(Obj->CheckPRNStatus(&Status, &Res), S_OK);
    EXPECT_EQ(Status, Expected);
    EXPECT_EQ(Res, 0) << Message();
  }
  M().SetStatusBit(model::bit::NoPaper);
  LONG Status = 0, Res = 99;
  ASSERT_EQ(Obj->CheckPRNStatus(&Status, &Res), S_OK);
  EXPECT_EQ(Status, 4);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 210);
  EXPECT_THAT(Message(), ::testing::StartsWith("[CheckPRNStatus failed] "));
}

TEST_F(ReportsTest, HardwareStatusReportsErrorBitsWithoutFailing) {
  BSTR Status = SysAllocString(u"client text");
  LONG Res = 99;
  ASSERT_EQ(Obj->GetHardwareStatus(&Status, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(BstrView(Status), u"");

  M().SetStatusBit(model::bit::NoPaper);
  ASSERT_EQ(Obj->GetHardwareStatus(&Status, &Res), S_OK);
  EXPECT_EQ(Res, 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(BstrToAnsi(Status), HasSubstr(TBaseDevice::ErrorCodeText(210, "")));
  SysFreeString(Status);
}

TEST_F(ReportsTest, CopyOfTheLastReceiptOnlyOnce) {
  M().Edit([](model::ModelState& S) {
    Receipt R;
    R.allNo = ++S.allReceipts;
    S.closed.push_back(R);
    S.duplicateAvailable = true;
  });
  LONG Res = 99;
  ASSERT_EQ(Obj->CopyLastBon(&Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_TRUE(M().State().closed.back().duplicatePrinted);
  ASSERT_EQ(Obj->CopyLastBon(&Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 256);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Copy last bon failed] "));
}

TEST_F(ReportsTest, PrinterTestPrintsTheDiagnosticTicket) {
  LONG Res = 99;
  ASSERT_EQ(Obj->RunPrinterTest(&Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus, cmdDiagnostics));
  M().SetStatusBit(model::bit::NoPaper);
  ASSERT_EQ(Obj->RunPrinterTest(&Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_THAT(Message(), ::testing::StartsWith("[RunPrinterTest failed] "));
}

// ---------------------------------------------------------------------------------------
// Without a printer

class ReportsWithoutPrinterTest : public test::TFprnModelTest {};

TEST_F(ReportsWithoutPrinterTest, ValueMethodsGiveNeutralValues) {
  LONG Doc = -1;
  ASSERT_EQ(Obj->GetLastDocNumber(&Doc), S_OK);
  EXPECT_EQ(Doc, 0);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetLastBonNumber failed] " + kNotInit + " ");

  DATE When = -1;
  ASSERT_EQ(Obj->GetClock(&When), S_OK);
  EXPECT_EQ(When, 0);
  EXPECT_EQ(Message(), "[Get FP date and time failed] " + kNotInit + " ");

  BStr Text;
  ASSERT_EQ(Obj->GetFiscalNumber(Text.Out()), S_OK);
  EXPECT_EQ(Text.Length(), 0u);
  EXPECT_EQ(Message(), "[GetFiscalNumber failed] " + kNotInit + " ");

  BSTR Status = SysAllocString(u"client text");
  LONG Res = 99;
  ASSERT_EQ(Obj->GetHardwareStatus(&Status, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(BstrView(Status), u"");
  SysFreeString(Status);

  LONG PrnStatus = 0;
  ASSERT_EQ(Obj->CheckPRNStatus(&PrnStatus, &Res), S_OK);
  EXPECT_EQ(PrnStatus, 4);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 502);
}

TEST_F(ReportsWithoutPrinterTest, ClosedLinkFailsWith101) {
  auto D = std::make_unique<TFakeDevice>();
  D->Connected = false;
  O().AttachDeviceForTest(std::move(D));
  LONG Res = 99;
  ASSERT_EQ(Obj->InOutMoney(10, 0, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 101);
  EXPECT_EQ(Message(), "[InOutMoney failed] COM port is not active ");
}

TEST_F(ReportsWithoutPrinterTest, CustomerDisplayCallsOnlyCheckTheLink) {
  struct TCase {
    const char* Context;
    std::function<HRESULT(LONG*)> Call;
  };
  BStr Text(u"Hi");
  const TCase Cases[] = {
      {"Display top row failed", [&](LONG* R) { return Obj->DisplayTop(Text.Get(), R); }},
      {"Display  bottom failed", [&](LONG* R) { return Obj->DisplayBottom(Text.Get(), R); }},
      {"Clear display failed", [&](LONG* R) { return Obj->DisplayClear(R); }},
      {"Display date/time failed", [&](LONG* R) { return Obj->DisplayDateTime(R); }},
  };
  for (const TCase& C : Cases) {
    LONG Res = 99;
    ASSERT_EQ(C.Call(&Res), S_OK);
    EXPECT_EQ(Res, -1);
    EXPECT_EQ(Message(), std::string("[") + C.Context + "] " + kNotInit + " ");
  }
  // DisplayPrint needs no printer at all.
  LONG Res = 99;
  ASSERT_EQ(Obj->DisplayPrint(BStr(u"it's").Get(), BStr(u"b").Get(), &Res), S_OK);
  EXPECT_EQ(Res, 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(LogText(), HasSubstr("[DisplayPrint] Line1='it''s' Line2='b'"));

  // With a link, the display calls succeed and send nothing.
  auto D = std::make_unique<TFakeDevice>();
  TFakeDevice& Dev = *D;
  O().AttachDeviceForTest(std::move(D));
  for (const TCase& C : Cases) {
    ASSERT_EQ(C.Call(&Res), S_OK);
    EXPECT_EQ(Res, 0) << C.Context;
  }
  EXPECT_TRUE(Dev.Calls.empty());
}

}  // namespace
}  // namespace fp
