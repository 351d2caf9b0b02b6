// The automation object's methods outside the receipt: the daily, fiscal-memory, article
// and department reports, the printer test, the copy of the last receipt, the clock, cash
// in and out, the cash drawer, the number and status read-outs, and the customer-display
// calls (the library drives no customer display: they only log and check the link).
//
// The reports and the cash operation first read the status (CheckPrinterStatus) and get
// a receipt left open out of the way (EnsureNoOpenReceipt), so a report never fails only
// because a point-of-sale program left a receipt behind.
#include <array>
#include <cstdint>
#include <string>

#include "library/automation/MiravokFprnUnit.h"
#include "library/protocol/OleDate.h"

namespace fp {

namespace {

// A date-time in the log: short date and long time with "." and ":" as separators; the
// time is left out at exactly midnight. A value that is no date-time gives an empty text.
std::string DateTimeToStr(double Value) {
  TOleDateParts p;
  if (!TryDecodeOleDateTime(Value, p)) return {};
  if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.MilliSecond == 0)
    return FormatOleDateTime("dd.mm.yyyy", Value);
  return FormatOleDateTime("dd.mm.yyyy hh:nn:ss", Value);
}

// Slot 6 (serial number) and slot 7 (fiscal memory number) of the diagnostic record.
constexpr size_t SerialSlot = 6;
constexpr size_t FiscalMemorySlot = 7;

// The pulse sent when the client asks for one outside 0..100 ms.
constexpr LONG DefaultDrawerPulse = 15;

}  // namespace

void TMiravokFprn::EnsureNoOpenReceipt() {
  if (IsAnyReceiptOpen(FStatusBytes)) Check(FDevice->FPR_CloseOpenReceipts());
}

// ---------------------------------------------------------------------------------------
// Reports

HRESULT TMiravokFprn::RunXReport(LONG* Res) {
  return RunMethod(Res, "Run XReport failed", "Run X report", [&] {
    CheckPrinterStatus();
    EnsureNoOpenReceipt();
    Check(FDevice->FPR_DailyReport(false));
  });
}

HRESULT TMiravokFprn::RunZReport(LONG* Res) {
  return RunMethod(Res, "Run ZReport failed", "Run Z report", [&] {
    CheckPrinterStatus();
    EnsureNoOpenReceipt();
    Check(FDevice->FPR_DailyReport(true));
  });
}

HRESULT TMiravokFprn::RunFMBlockReport(LONG StartBlock, LONG EndBlock, LONG Detailed, LONG* Res) {
  const std::string line = "[RunFMBlockReport] StartBlock=" + std::to_string(StartBlock) +
                           " EndBlock=" + std::to_string(EndBlock) + " Detailed=" + std::to_string(Detailed);
  return RunMethod(Res, "RunFMBlockReport failed", line, [&] {
    // Block numbers are unsigned on the wire: -1 would ask for block 4294967295.
    CheckUnsignedArgument(StartBlock, INT32_MAX, "StartBlock");
    CheckUnsignedArgument(EndBlock, INT32_MAX, "EndBlock");
    CheckPrinterStatus();
    EnsureNoOpenReceipt();
    // Only 1 asks for the detailed report; the command sends the blocks in ascending order.
    Check(FDevice->FPR_FMReportByNumber(Detailed != 1, static_cast<uint32_t>(StartBlock),
                                        static_cast<uint32_t>(EndBlock)));
  });
}

HRESULT TMiravokFprn::RunFMDateReport(DATE StartDate, DATE EndDate, LONG Detailed, LONG* Res) {
  const std::string line = "[RunFMDateReport] StartDate=" + DateTimeToStr(StartDate) +
                           " EndDate=" + DateTimeToStr(EndDate) + " Detailed=" + std::to_string(Detailed);
  return RunMethod(Res, "RunFMDateReport failed", line, [&] {
    CheckPrinterStatus();
    // Dates the command would refuse (an end date before the start date, a value that is
    // no date) are refused as it refuses them, before a receipt left open is ended.
    const bool noDate = FormatOleDateTime("ddmmyy", StartDate).empty() ||
                        (EndDate != 0 && FormatOleDateTime("ddmmyy", EndDate).empty());
    if (noDate || (EndDate != 0 && EndDate < StartDate))
      throw ECRException(ErrInvalidInput, TBaseDevice::ErrorCodeText(ErrInvalidInput, ""));
    EnsureNoOpenReceipt();
    Check(FDevice->FPR_FMReportByDate(Detailed != 1, StartDate, EndDate));
  });
}

HRESULT TMiravokFprn::RunPLUReport(LONG ZeroFlag, LONG /*PrintFlag*/, LONG* Res) {
  return RunMethod(Res, "RunPLUReport failed", "RunPLUReport.  ZeroFlag=" + std::to_string(ZeroFlag), [&] {
    CheckPrinterStatus();
    EnsureNoOpenReceipt();
    int64_t closure = 0;
    double total = 0;
    std::array<double, 8> vatSums{};
    Check(FDevice->FPR_PluReport(ZeroFlag == 1, closure, total, vatSums));
  });
}

HRESULT TMiravokFprn::ReportByDepartments(LONG Reset, LONG* Res) {
  // No status check and no open-receipt handling: the printer's own refusal is the answer.
  return RunMethod(Res, "Report by departments failed",
                   "Report by departments.  Reset = \"" + std::to_string(Reset) + "\"", [&] {
                     int64_t closure = 0;
                     double total = 0;
                     std::array<double, 8> vatSums{};
                     Check(FDevice->FPR_DepartmentReport(Reset == 1, closure, total, vatSums));
                   });
}

HRESULT TMiravokFprn::RunPrinterTest(LONG* Res) {
  return RunMethod(Res, "RunPrinterTest failed", "Run FP test.  ", [&] {
    CheckPrinterStatus();
    Check(FDevice->FPR_PrintDiagnostics());
  });
}

HRESULT TMiravokFprn::CopyLastBon(LONG* Res) {
  return RunMethod(Res, "Copy last bon failed", "Copy last reciept", [&] {
    CheckPrinterStatus();
    Check(FDevice->FPR_PrintDuplicate());
  });
}

// ---------------------------------------------------------------------------------------
// Cash and drawer

HRESULT TMiravokFprn::InOutMoney(double Ammount, LONG PayType, LONG* Res) {
  const std::string line = "InOutMoney. Ammount=" + FloatToStr(Ammount) + " PayType=" + std::to_string(PayType);
  return RunMethod(Res, "InOutMoney failed", line, [&] {
    FiniteArgument(Ammount, "Ammount");
    // An amount the command cannot send fails before a receipt left open is ended.
    CheckBeforeSending([&] { return FDevice->FPR_CashInOut(Ammount); });
    CheckPrinterStatus();
    EnsureNoOpenReceipt();
    // Above 0 cash in, below 0 cash out; the printer knows only cash for this.
    Check(FDevice->FPR_CashInOut(Ammount));
  });
}

HRESULT TMiravokFprn::OpenCashDrawer(LONG PulseTime, LONG* Res) {
  const std::string line = "OpenCashDrawer. Pulse width: \"" + std::to_string(PulseTime) + "\" ms.";
  return RunMethod(Res, "OpenCashDrawer", line, [&] {
    LONG pulse = PulseTime;
    if (pulse < 0 || pulse > 100) {
      pulse = DefaultDrawerPulse;
      LogMessage(
          "OpenCashDrawer. Invalid pulse width. Default pulse used [" + std::to_string(DefaultDrawerPulse) + " ms.]",
          LogInfo);
    }
    Check(FDevice->FPR_OpenDrawer(static_cast<uint16_t>(pulse)));
  });
}

// ---------------------------------------------------------------------------------------
// Clock

HRESULT TMiravokFprn::GetClock(DATE* Res) {
  if (Res) *Res = 0;
  return RunMethod(nullptr, "Get FP date and time failed", "Get FP clock", [&] {
    double when = 0;
    Check(FDevice->GetFPR_DateTime(when));
    LogMessage("Get FP date and time: " + DateTimeToStr(when), LogInfo);
    if (Res) *Res = when;
  });
}

HRESULT TMiravokFprn::SetClock(DATE Val, LONG* Res) {
  return RunMethod(Res, "Set clock failed", "Set FP date and time. New date=" + DateTimeToStr(Val),
                   [&] { Check(FDevice->SetFPR_DateTime(Val)); });
}

// ---------------------------------------------------------------------------------------
// Numbers and status

HRESULT TMiravokFprn::GetLastDocNumber(LONG* Res) {
  if (Res) *Res = 0;
  return RunMethod(nullptr, "GetLastBonNumber failed", "Get last doc nom", [&] {
    int32_t number = 0;
    Check(FDevice->GetFPR_LastDocNumber(number));
    if (Res) *Res = number;
  });
}

HRESULT TMiravokFprn::ReadRangeNumber(BSTR* Res, bool CreditNote, const std::string& Context,
                                      const std::string& CallLine) {
  if (Res) *Res = nullptr;
  return RunMethod(nullptr, Context, CallLine, [&] {
    int64_t start = 0, end = 0, current = 0;
    Check(FDevice->GetFPR_InvoiceRange(CreditNote, start, end, current));
    SetBstrResult(Res, std::to_string(current));
  });
}

HRESULT TMiravokFprn::GetNextInvoiceNumber(BSTR* Res) {
  return ReadRangeNumber(Res, false, "GetNextInvoiceNumber failed", "Get next invoice");
}

HRESULT TMiravokFprn::GetNextRefundInvNumber(BSTR* Res) {
  return ReadRangeNumber(Res, true, "GetNextRefundInvNumber", "GetNextRefundInvNumber..");
}

HRESULT TMiravokFprn::ReadDiagnosticText(BSTR* Res, size_t Slot, const std::string& Context,
                                         const std::string& CallLine) {
  if (Res) *Res = nullptr;
  return RunMethod(nullptr, Context, CallLine, [&] {
    TDiagnosticInfo info;
    Check(FDevice->GetFPR_DiagnosticInfo(true, info));
    SetBstrResult(Res, info.Text[Slot]);
  });
}

HRESULT TMiravokFprn::GetSerialNumber(BSTR* Res) {
  return ReadDiagnosticText(Res, SerialSlot, "GetSerialNumber failed", "Get serial nom");
}

HRESULT TMiravokFprn::GetFiscalNumber(BSTR* Res) {
  return ReadDiagnosticText(Res, FiscalMemorySlot, "GetFiscalNumber failed", "Get fiscal nom");
}

HRESULT TMiravokFprn::GetHardwareStatus(BSTR* Status, LONG* Res) {
  // In/out text: the client's text is freed and the result starts empty.
  if (Status) {
    SysFreeString(*Status);
    *Status = nullptr;
  }
  return RunMethod(Res, "GetHardwareStatus failed", "Get hardware status", [&] {
    Check(FDevice->GetFPR_Status(true, FStatusBytes));
    // The status is reported, not judged: error bits still give Res 0.
    std::string text;
    FDevice->StatusErrorsTextAndCode(FStatusBytes, text);
    SetBstrResult(Status, text);
  });
}

HRESULT TMiravokFprn::CheckPRNStatus(LONG* Status, LONG* Res) {
  if (Status) *Status = 4;
  return RunMethod(Res, "CheckPRNStatus failed", "", [&] {
    CheckPrinterStatus();
    LONG value = 1;  // ready
    if (IsStatusBitSet(FStatusBytes, StatusBit::FiscalOpen))
      value = 2;  // fiscal receipt open
    else if (IsStatusBitSet(FStatusBytes, StatusBit::NonFiscalOpen))
      value = 3;  // non-fiscal receipt open
    if (Status) *Status = value;
  });
}

// ---------------------------------------------------------------------------------------
// Customer display: nothing is driven.

HRESULT TMiravokFprn::DisplayPrint(BSTR Line1, BSTR Line2, LONG* Res) {
  const std::string line =
      "[DisplayPrint] Line1=" + QuotedStr(BstrToAnsi(Line1)) + " Line2=" + QuotedStr(BstrToAnsi(Line2));
  return RunMethod(
      Res, "DisplayPrint", line, [] {}, NoConnectionCheck);
}

HRESULT TMiravokFprn::DisplayTop(BSTR Text, LONG* Res) {
  return RunMethod(Res, "Display top row failed", "Display top text=\"" + BstrToAnsi(Text) + "\"", [] {});
}

HRESULT TMiravokFprn::DisplayBottom(BSTR Text, LONG* Res) {
  return RunMethod(Res, "Display  bottom failed", "Display bottom text=\"" + BstrToAnsi(Text) + "\"", [] {});
}

HRESULT TMiravokFprn::DisplayClear(LONG* Res) {
  return RunMethod(Res, "Clear display failed", "", [] {});
}

HRESULT TMiravokFprn::DisplayDateTime(LONG* Res) {
  return RunMethod(Res, "Display date/time failed", "Display date time..", [] {});
}

}  // namespace fp
