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

namespace fp::test {
namespace {

using model::Bits;
using model::Receipt;
using model::ReceiptKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using test::kNotInit;

constexpr uint8_t cmdStatus = 0x4A, cmdDailyReport = 0x45, cmdCancelFisc = 0x3C, cmdCloseNonFisc = 0x27,
                  cmdCashInOut = 0x46, cmdOpenDrawer = 0x6A, cmdDiagnostics = 0x47, cmdDepartmentReport = 0x75,
                  cmdPluReport = 0x76, cmdSetDateTime = 0x3D;

double Date(int Y, int M, int D, int H = 0, int N = 0, int S = 0) {
  double v = 0;
  EXPECT_TRUE(TryEncodeOleDateTime(Y, M, D, H, N, S, 0, v));
  return v;
}

class ReportsTest : public test::TFprnConnectedTest {
 protected:
  // The data of the last request with this command byte.
  std::string LastData(uint8_t Cmd) {
    const std::vector<std::string> all = test::RequestData(M(), Cmd);
    return all.empty() ? "<none>" : all.back();
  }
  void LeaveReceiptOpen(ReceiptKind Kind) {
    M().Edit([Kind](model::ModelState& S) {
      Receipt r;
      r.kind = Kind;
      r.allNo = ++S.allReceipts;
      S.open = r;
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
  const TLeftOpen& c = GetParam();
  if (c.Open) LeaveReceiptOpen(c.Kind);
  LONG res = 99;
  ASSERT_EQ(c.ZReport ? FObj->RunZReport(&res) : FObj->RunXReport(&res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Sent(), c.Commands);
  const model::ModelState s = M().State();
  EXPECT_FALSE(s.open);
  ASSERT_FALSE(s.reports.empty());
  EXPECT_EQ(s.reports.back(), std::make_pair(cmdDailyReport, std::string(c.ZReport ? "0" : "2")));
  EXPECT_EQ(s.zReports, c.ZReport ? 1 : 0);
  if (c.Open) {
    ASSERT_FALSE(s.closed.empty());
    EXPECT_EQ(s.closed.back().kind, c.Kind);
    // A fiscal receipt without payments is cancelled, a non-fiscal one closed.
    EXPECT_EQ(s.closed.back().cancelled, c.Kind == ReceiptKind::Fiscal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LeftOpen, DailyReportTest,
    ::testing::Values(TLeftOpen{.Name = "ZWithFiscal",
                                .ZReport = true,
                                .Open = true,
                                .Kind = ReceiptKind::Fiscal,
                                .Commands = {cmdStatus, cmdStatus, cmdCancelFisc, cmdStatus, cmdDailyReport}},
                      TLeftOpen{.Name = "XWithFiscal",
                                .ZReport = false,
                                .Open = true,
                                .Kind = ReceiptKind::Fiscal,
                                .Commands = {cmdStatus, cmdStatus, cmdCancelFisc, cmdStatus, cmdDailyReport}},
                      TLeftOpen{.Name = "ZWithNonFiscal",
                                .ZReport = true,
                                .Open = true,
                                .Kind = ReceiptKind::NonFiscal,
                                .Commands = {cmdStatus, cmdStatus, cmdCloseNonFisc, cmdDailyReport}},
                      TLeftOpen{.Name = "XWithNone",
                                .ZReport = false,
                                .Open = false,
                                .Kind = ReceiptKind::Fiscal,
                                .Commands = {cmdStatus, cmdDailyReport}},
                      TLeftOpen{.Name = "ZWithNone",
                                .ZReport = true,
                                .Open = false,
                                .Kind = ReceiptKind::Fiscal,
                                .Commands = {cmdStatus, cmdDailyReport}}),
    [](const auto& I) { return std::string(I.param.Name); });

TEST_F(ReportsTest, ReportIsNotSentWhenTheOpenReceiptCannotBeEnded) {
  LeaveReceiptOpen(ReceiptKind::NonFiscal);
  M().ScriptNext(cmdCloseNonFisc, model::ReplyBits(Bits({model::bit::NotAllowed})));
  LONG res = 99;
  ASSERT_EQ(FObj->RunZReport(&res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 216);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Run ZReport failed] "));
  EXPECT_FALSE(WasSent(cmdDailyReport));
  EXPECT_EQ(M().State().zReports, 0);
}

TEST_F(ReportsTest, ErrorBitStopsTheReportBeforeAnythingIsPrinted) {
  M().SetStatusBit(model::bit::NoPaper);
  LONG res = 99;
  ASSERT_EQ(FObj->RunXReport(&res), S_OK);
  EXPECT_EQ(res, -1);
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
  const TBlockCase cases[] = {
      {3, 5, 1, 0x49, "3,5"},  // detailed
      {5, 3, 1, 0x49, "3,5"},  // the blocks go in ascending order
      {5, 0, 0, 0x5F, "5"},    // no end block
      {1, 9, 2, 0x5F, "1,9"},  // only 1 asks for the detailed report
      {1, 9, -1, 0x5F, "1,9"},
  };
  for (const TBlockCase& c : cases) {
    M().ClearRequests();
    LONG res = 99;
    ASSERT_EQ(FObj->RunFMBlockReport(c.Start, c.End, c.Detailed, &res), S_OK);
    EXPECT_EQ(res, 0) << c.Start << "-" << c.End << ": " << Message();
    EXPECT_EQ(M().State().reports.back(), std::make_pair(c.Cmd, std::string(c.Data)))
        << c.Start << "-" << c.End << " detailed " << c.Detailed;
  }
  EXPECT_THAT(LogText(), HasSubstr("[RunFMBlockReport] StartBlock=5 EndBlock=3 Detailed=1"));
}

// Block numbers are unsigned on the wire: a negative one is refused before anything is sent
// (-1 would go out as 4294967295, a report of the whole fiscal memory).
TEST_F(ReportsTest, NegativeBlockNumberIsRefusedUnsent) {
  const std::pair<LONG, LONG> cases[] = {{-1, 2}, {2, -1}};
  for (const auto& [Start, End] : cases) {
    M().ClearRequests();
    LONG res = 99;
    ASSERT_EQ(FObj->RunFMBlockReport(Start, End, 0, &res), S_OK);
    EXPECT_EQ(res, -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[RunFMBlockReport failed] Invalid input data. [") +
                             (Start < 0 ? "StartBlock" : "EndBlock") + "] ");
    EXPECT_TRUE(Sent().empty());
  }
}

TEST_F(ReportsTest, FiscalMemoryReportByDates) {
  const double first = Date(2026, 12, 1), last = Date(2026, 12, 31, 10, 30);
  LONG res = 99;
  ASSERT_EQ(FObj->RunFMDateReport(first, last, 1, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(M().State().reports.back(), std::make_pair(uint8_t(0x5E), std::string("011226,311226")));
  EXPECT_THAT(LogText(), HasSubstr("[RunFMDateReport] StartDate=01.12.2026 EndDate=31.12.2026 10:30:00 Detailed=1"));

  ASSERT_EQ(FObj->RunFMDateReport(first, 0, 0, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(M().State().reports.back(), std::make_pair(uint8_t(0x4F), std::string("011226")));

  // The dates are not put in order: an end before the start is refused unsent.
  const size_t reports = M().State().reports.size();
  M().ClearRequests();
  ASSERT_EQ(FObj->RunFMDateReport(last, first, 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[RunFMDateReport failed] "));
  EXPECT_EQ(M().State().reports.size(), reports);
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus));
}

// ---------------------------------------------------------------------------------------
// Article and department reports

TEST_F(ReportsTest, ArticleReportClearsOnlyWithZeroFlagOne) {
  LeaveReceiptOpen(ReceiptKind::Fiscal);
  LONG res = 99;
  ASSERT_EQ(FObj->RunPLUReport(2, 1, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(LastData(cmdPluReport), "2");
  EXPECT_FALSE(M().State().open);  // ended first like every report
  EXPECT_EQ(M().State().pluClosures, 0);

  ASSERT_EQ(FObj->RunPLUReport(1, 0, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(LastData(cmdPluReport), "0");
  EXPECT_EQ(M().State().pluClosures, 1);
}

TEST_F(ReportsTest, DepartmentReportClearsWithResetAndLeavesAnOpenReceiptToThePrinter) {
  M().Edit([](model::ModelState& S) {
    S.departments[1].name = "BREAD";
    S.departments[1].lastSumCents = 1250;
    S.departments[1].lastCount = 3;
  });
  LONG res = 99;
  ASSERT_EQ(FObj->ReportByDepartments(1, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  // Neither the status check nor the open-receipt handling runs first.
  EXPECT_THAT(Sent(), ElementsAre(cmdDepartmentReport));
  EXPECT_EQ(LastData(cmdDepartmentReport), "0");
  EXPECT_EQ(M().State().departments.at(1).lastSumCents, 0);
  EXPECT_THAT(LogText(), HasSubstr("Report by departments.  Reset = \"1\""));

  LeaveReceiptOpen(ReceiptKind::Fiscal);
  M().ClearRequests();
  ASSERT_EQ(FObj->ReportByDepartments(0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 216);  // the printer's refusal while a receipt is open
  EXPECT_THAT(Message(), ::testing::StartsWith("[Report by departments failed] "));
  EXPECT_THAT(Sent(), ElementsAre(cmdDepartmentReport));
  EXPECT_TRUE(M().State().open);
}

// ---------------------------------------------------------------------------------------
// Cash in and out

TEST_F(ReportsTest, CashInAndOut) {
  M().Edit([](model::ModelState& S) { S.cashCents = 2000; });
  LONG res = 99;
  ASSERT_EQ(FObj->InOutMoney(30.5, 1, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(LastData(cmdCashInOut), "30.50");
  ASSERT_EQ(FObj->InOutMoney(-10, 1, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(LastData(cmdCashInOut), "-10.00");
  EXPECT_EQ(M().State().cashCents, 4050);
  EXPECT_THAT(LogText(), HasSubstr("InOutMoney. Ammount=30.5 PayType=1"));

  // More out than the drawer holds: 207 with the cash in the drawer.
  ASSERT_EQ(FObj->InOutMoney(-100, 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 207);
  EXPECT_THAT(Message(), ::testing::StartsWith("[InOutMoney failed] "));
  EXPECT_THAT(Message(), HasSubstr("40.50"));
  EXPECT_EQ(M().State().cashCents, 4050);

  // Any other refusal: 206.
  M().ScriptNext(cmdCashInOut, model::Reply("F,80.00,0.00,0.00"));
  ASSERT_EQ(FObj->InOutMoney(-50, 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 206);
}

// The limit is judged on the amount as it is sent: 1.005 goes out as -1.01, more than the
// 1.00 in the drawer, so the refusal is the lack of funds, and nothing is taken out.
TEST_F(ReportsTest, CashOutLimitComparesTheAmountSent) {
  M().Edit([](model::ModelState& S) { S.cashCents = 100; });
  LONG res = 99;
  ASSERT_EQ(FObj->InOutMoney(-1.005, 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 207);
  EXPECT_EQ(Message(), "[InOutMoney failed] Lack of funds. 1.00 ");
  EXPECT_EQ(LastData(cmdCashInOut), "-1.01");
  EXPECT_EQ(M().State().cashCents, 100);
}

TEST_F(ReportsTest, CashAmountThatIsNoNumberIsRefusedUnsent) {
  LONG res = 99;
  ASSERT_EQ(FObj->InOutMoney(std::numeric_limits<double>::quiet_NaN(), 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[InOutMoney failed] Invalid input data. [Ammount] ");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ReportsTest, CashInEndsAReceiptLeftOpen) {
  LeaveReceiptOpen(ReceiptKind::NonFiscal);
  LONG res = 99;
  ASSERT_EQ(FObj->InOutMoney(12, 0, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus, cmdStatus, cmdCloseNonFisc, cmdCashInOut));
  EXPECT_EQ(M().State().cashCents, 1200);
}

TEST_F(ReportsTest, OpenCashDrawerSendsTheDefaultPulseForAnInvalidWidth) {
  const std::pair<LONG, const char*> cases[] = {{250, "15"}, {-1, "15"}, {0, "0"}, {100, "100"}};
  for (auto [Pulse, Sent] : cases) {
    LONG res = 99;
    ASSERT_EQ(FObj->OpenCashDrawer(Pulse, &res), S_OK);
    EXPECT_EQ(res, 0) << Message();
    EXPECT_EQ(LastData(cmdOpenDrawer), Sent) << Pulse;
  }
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("OpenCashDrawer. Pulse width: \"250\" ms."));
  EXPECT_THAT(log, HasSubstr("OpenCashDrawer. Invalid pulse width. Default pulse used [15 ms.]"));
}

// ---------------------------------------------------------------------------------------
// Clock

TEST_F(ReportsTest, ClockSetAndReadBack) {
  M().Edit([](model::ModelState& S) { S.clock.Freeze(true); });
  LONG res = 99;
  ASSERT_EQ(FObj->SetClock(Date(2026, 12, 8, 22, 53, 40), &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(LastData(cmdSetDateTime), "08-12-26 22:53");  // to the minute

  DATE when = -1;
  ASSERT_EQ(FObj->GetClock(&when), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_DOUBLE_EQ(when, Date(2026, 12, 8, 22, 53, 0));
  BStr text;
  ASSERT_EQ(FObj->get_FPDateTimeAsString(text.Out()), S_OK);
  EXPECT_EQ(BstrToAnsi(text.Get()), "08122026225300");

  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("Set FP date and time. New date=08.12.2026 22:53:40"));
  EXPECT_THAT(log, HasSubstr("Get FP date and time: 08.12.2026 22:53:00"));
}

TEST_F(ReportsTest, ClockOnAFailingPrinterReadsZero) {
  M().ScriptNext(0x3E, model::Reply("31-02-15 10:00:00"));
  DATE when = -1;
  ASSERT_EQ(FObj->GetClock(&when), S_OK);
  EXPECT_EQ(when, 0);
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
  LONG doc = -1;
  ASSERT_EQ(FObj->GetLastDocNumber(&doc), S_OK);
  EXPECT_EQ(doc, 41);
  auto textOf = [&](HRESULT (IMiravokFprn::*Get)(BSTR*)) {
    BStr v;
    EXPECT_EQ((FObj.Get()->*Get)(v.Out()), S_OK);
    EXPECT_EQ(Code(), 0) << Message();
    return BstrToAnsi(v.Get());
  };
  EXPECT_EQ(textOf(&IMiravokFprn::GetNextInvoiceNumber), "123");
  EXPECT_EQ(textOf(&IMiravokFprn::GetNextRefundInvNumber), "77");
  EXPECT_EQ(textOf(&IMiravokFprn::GetSerialNumber), "ZX987654");
  EXPECT_EQ(textOf(&IMiravokFprn::GetFiscalNumber), "51234567");
  // The diagnostic read asks with its flag set.
  EXPECT_EQ(LastData(0x5A), "1");
}

TEST_F(ReportsTest, InvoiceNumberLosesItsLeadingZeros) {
  M().ScriptNext(0x42, model::Reply("0000000100,0000009999,0000000123"));
  BStr v;
  ASSERT_EQ(FObj->GetNextInvoiceNumber(v.Out()), S_OK);
  EXPECT_EQ(BstrToAnsi(v.Get()), "123");
}

TEST_F(ReportsTest, CheckPrnStatusTellsTheOpenReceipt) {
  const std::pair<std::optional<ReceiptKind>, LONG> cases[] = {
      {std::nullopt, 1}, {ReceiptKind::Fiscal, 2}, {ReceiptKind::NonFiscal, 3}};
  for (auto [Kind, Expected] : cases) {
    M().Edit([](model::ModelState& S) { S.open.reset(); });
    if (Kind) LeaveReceiptOpen(*Kind);
    LONG status = 0, res = 99;
    ASSERT_EQ(FObj->CheckPRNStatus(&status, &res), S_OK);
    EXPECT_EQ(status, Expected);
    EXPECT_EQ(res, 0) << Message();
  }
  M().SetStatusBit(model::bit::NoPaper);
  LONG status = 0, res = 99;
  ASSERT_EQ(FObj->CheckPRNStatus(&status, &res), S_OK);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 210);
  EXPECT_THAT(Message(), ::testing::StartsWith("[CheckPRNStatus failed] "));
}

TEST_F(ReportsTest, HardwareStatusReportsErrorBitsWithoutFailing) {
  BSTR status = SysAllocString(u"client text");
  LONG res = 99;
  ASSERT_EQ(FObj->GetHardwareStatus(&status, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(BstrView(status), u"");

  M().SetStatusBit(model::bit::NoPaper);
  ASSERT_EQ(FObj->GetHardwareStatus(&status, &res), S_OK);
  EXPECT_EQ(res, 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(BstrToAnsi(status), HasSubstr(TBaseDevice::ErrorCodeText(210, "")));
  SysFreeString(status);
}

TEST_F(ReportsTest, CopyOfTheLastReceiptOnlyOnce) {
  M().Edit([](model::ModelState& S) {
    Receipt r;
    r.allNo = ++S.allReceipts;
    S.closed.push_back(r);
    S.duplicateAvailable = true;
  });
  LONG res = 99;
  ASSERT_EQ(FObj->CopyLastBon(&res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_TRUE(M().State().closed.back().duplicatePrinted);
  ASSERT_EQ(FObj->CopyLastBon(&res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 256);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Copy last bon failed] "));
}

TEST_F(ReportsTest, PrinterTestPrintsTheDiagnosticTicket) {
  LONG res = 99;
  ASSERT_EQ(FObj->RunPrinterTest(&res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_THAT(Sent(), ElementsAre(cmdStatus, cmdDiagnostics));
  M().SetStatusBit(model::bit::NoPaper);
  ASSERT_EQ(FObj->RunPrinterTest(&res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_THAT(Message(), ::testing::StartsWith("[RunPrinterTest failed] "));
}

// ---------------------------------------------------------------------------------------
// Without a printer

class ReportsWithoutPrinterTest : public test::TFprnModelTest {};

TEST_F(ReportsWithoutPrinterTest, ValueMethodsGiveNeutralValues) {
  LONG doc = -1;
  ASSERT_EQ(FObj->GetLastDocNumber(&doc), S_OK);
  EXPECT_EQ(doc, 0);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetLastBonNumber failed] " + kNotInit + " ");

  DATE when = -1;
  ASSERT_EQ(FObj->GetClock(&when), S_OK);
  EXPECT_EQ(when, 0);
  EXPECT_EQ(Message(), "[Get FP date and time failed] " + kNotInit + " ");

  BStr text;
  ASSERT_EQ(FObj->GetFiscalNumber(text.Out()), S_OK);
  EXPECT_EQ(text.Length(), 0u);
  EXPECT_EQ(Message(), "[GetFiscalNumber failed] " + kNotInit + " ");

  BSTR status = SysAllocString(u"client text");
  LONG res = 99;
  ASSERT_EQ(FObj->GetHardwareStatus(&status, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(BstrView(status), u"");
  SysFreeString(status);

  LONG prnStatus = 0;
  ASSERT_EQ(FObj->CheckPRNStatus(&prnStatus, &res), S_OK);
  EXPECT_EQ(prnStatus, 4);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 502);
}

TEST_F(ReportsWithoutPrinterTest, ClosedLinkFailsWith101) {
  auto d = std::make_unique<TFakeDevice>();
  d->Connected = false;
  O().AttachDeviceForTest(std::move(d));
  LONG res = 99;
  ASSERT_EQ(FObj->InOutMoney(10, 0, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 101);
  EXPECT_EQ(Message(), "[InOutMoney failed] COM port is not active ");
}

TEST_F(ReportsWithoutPrinterTest, CustomerDisplayCallsOnlyCheckTheLink) {
  struct TCase {
    const char* Context;
    std::function<HRESULT(LONG*)> Call;
  };
  BStr text(u"Hi");
  const TCase cases[] = {
      {"Display top row failed", [&](LONG* R) { return FObj->DisplayTop(text.Get(), R); }},
      {"Display  bottom failed", [&](LONG* R) { return FObj->DisplayBottom(text.Get(), R); }},
      {"Clear display failed", [&](LONG* R) { return FObj->DisplayClear(R); }},
      {"Display date/time failed", [&](LONG* R) { return FObj->DisplayDateTime(R); }},
  };
  for (const TCase& c : cases) {
    LONG res = 99;
    ASSERT_EQ(c.Call(&res), S_OK);
    EXPECT_EQ(res, -1);
    EXPECT_EQ(Message(), std::string("[") + c.Context + "] " + kNotInit + " ");
  }
  // DisplayPrint needs no printer at all.
  LONG res = 99;
  ASSERT_EQ(FObj->DisplayPrint(BStr(u"it's").Get(), BStr(u"b").Get(), &res), S_OK);
  EXPECT_EQ(res, 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(LogText(), HasSubstr("[DisplayPrint] Line1='it''s' Line2='b'"));

  // With a link, the display calls succeed and send nothing.
  auto d = std::make_unique<TFakeDevice>();
  TFakeDevice& dev = *d;
  O().AttachDeviceForTest(std::move(d));
  for (const TCase& c : cases) {
    ASSERT_EQ(c.Call(&res), S_OK);
    EXPECT_EQ(res, 0) << c.Context;
  }
  EXPECT_TRUE(dev.Calls.empty());
}

}  // namespace
}  // namespace fp::test
