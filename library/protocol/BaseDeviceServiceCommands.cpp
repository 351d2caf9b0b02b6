// The printer commands that run reports (daily, fiscal memory, departments, articles),
// program the printer (clock, header lines, barcode height, operator, invoice ranges,
// departments, articles) and serve it (cash in and out, the diagnostic ticket, the day's
// sums by tax group).
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/protocol/OleDate.h"
#include "library/protocol/WireNumbers.h"

#include <string>
#include <utility>
#include <vector>

namespace fp {

using namespace device_commands;

namespace {

// The largest invoice number the printer takes: eleven digits.
constexpr int64_t kMaxInvoiceNo = 99999999999;
// Barcode heights go in dots of 0.125 mm; the printer takes at most 240 (30 mm).
constexpr int kDotsPerMm = 8;
constexpr int kMaxBarcodeDots = 240;
// Header lines and article names are cut to this many characters.
constexpr size_t kMaxLineText = 36;

// Own tests, then CheckStatus; a failure is recorded as Record says.
TCommand ServiceCommand(uint8_t Cmd, std::vector<TStatusTest> Before = {},
                        TRecordStatus Record = TRecordStatus::WithoutStatus) {
  TCommand c;
  c.Cmd = Cmd;
  c.Before = std::move(Before);
  c.Check = TStatusCheck::Full;
  c.Record = Record;
  return c;
}

// A date-time value in Pattern; a value that is no valid date-time fails with 201.
std::string FormatDateArgument(std::string_view Pattern, double Value) {
  std::string text = FormatOleDateTime(Pattern, Value);
  if (text.empty()) throw ECmdException(DeviceError::InvalidInput);
  return text;
}

// The answer of the department and the article report: the closure number, the total and
// the eight sums by VAT group, all in hundredths.
bool RunTotalsReport(TBaseDevice& Dev, uint8_t Cmd, bool ZReport, int64_t& Closure, double& Total,
                     std::array<double, 8>& VatSums) {
  Closure = 0;
  Total = 0;
  VatSums.fill(0);
  TCommand c = ServiceCommand(Cmd, {NoPaper});
  Add(ZReport ? '0' : '2', c.Data);
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(10);
    Closure = A.IntField("[Closure]");
    Total = A.HundredthsField("[SumTOTAL]");
    for (size_t n = 1; n <= VatSums.size(); ++n)
      VatSums[n - 1] = A.HundredthsField("[SumVatGroups[" + std::to_string(n) + "]]");
  };
  return Dev.RunCommand(c);
}

}  // namespace

bool TBaseDevice::FPR_DailyReport(bool ZReport) {
  TCommand c = ServiceCommand(cmdDailyReport, {NoPaper}, TRecordStatus::WithStatus);
  Add(ZReport ? '0' : '2', c.Data);
  return RunCommand(c);
}

bool TBaseDevice::FPR_FMReportByNumber(bool Short, uint32_t StartNo, uint32_t EndNo) {
  TCommand c = ServiceCommand(Short ? cmdFMReportByNumberShort : cmdFMReportByNumberDetailed, {NoPaper});
  if (EndNo != 0 && EndNo < StartNo) std::swap(StartNo, EndNo);
  AddInt(StartNo, c.Data);
  if (EndNo != 0) {
    Add(',', c.Data);
    AddInt(EndNo, c.Data);
  }
  return RunCommand(c);
}

bool TBaseDevice::FPR_FMReportByDate(bool Short, double StartDate, double EndDate) {
  TCommand c = ServiceCommand(Short ? cmdFMReportByDateShort : cmdFMReportByDateDetailed, {NoPaper});
  c.Build = [StartDate, EndDate](TDataBuffer& Data) {
    if (EndDate != 0 && EndDate < StartDate) throw ECmdException(DeviceError::InvalidInput);
    Add(FormatDateArgument("ddmmyy", StartDate), Data);
    if (EndDate != 0) {
      Add(',', Data);
      Add(FormatDateArgument("ddmmyy", EndDate), Data);
    }
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_DepartmentReport(bool ZReport, int64_t& Closure, double& Total, std::array<double, 8>& VatSums) {
  return RunTotalsReport(*this, cmdDepartmentReport, ZReport, Closure, Total, VatSums);
}

bool TBaseDevice::FPR_PluReport(bool ZReport, int64_t& Closure, double& Total, std::array<double, 8>& VatSums) {
  return RunTotalsReport(*this, cmdPluReport, ZReport, Closure, Total, VatSums);
}

bool TBaseDevice::SetFPR_DateTime(double DateTime) {
  TCommand c = ServiceCommand(cmdSetDateTime);
  c.Build = [DateTime](TDataBuffer& Data) { Add(FormatDateArgument("dd-mm-yy hh:nn", DateTime), Data); };
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_HeaderLine(uint16_t LineNo, const std::string& Text) {
  TCommand c = ServiceCommand(cmdHeaderLine);
  AddInt(LineNo, c.Data);
  Add(std::string_view(Text).substr(0, kMaxLineText), c.Data);
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_BarcodeHeight(uint16_t HeightMm) {
  TCommand c = ServiceCommand(cmdHeaderLine);
  c.Build = [HeightMm](TDataBuffer& Data) {
    const int dots = HeightMm * kDotsPerMm;
    if (dots > kMaxBarcodeDots)
      throw ECmdException(DeviceError::InvalidInput,
                          "[Height]" + std::to_string(HeightMm) + "mm/" + std::to_string(dots) + "px");
    Add('B', Data);
    AddInt(dots, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_Operator(uint16_t OperNo, const std::string& Password, const std::string& Name) {
  TCommand c = ServiceCommand(cmdSetOperator);
  c.Build = [&](TDataBuffer& Data) {
    const std::string trimmed = TrimBlanks(Name);
    if (trimmed.empty()) throw ECmdException(DeviceError::InvalidInput, "[OpName]");
    CheckTextField(TTextField::OperatorPassword, Password);
    AddInt(OperNo, Data);
    Add(',', Data);
    Add(Password, Data);
    Add(',', Data);
    Add(trimmed, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_InvoiceRange(bool CreditNote, int64_t& Start, int64_t& End) {
  TCommand c = ServiceCommand(cmdInvoiceRange);
  c.Build = [&](TDataBuffer& Data) {
    if (Start > kMaxInvoiceNo) throw ECmdException(DeviceError::InvalidInput, "[InvStart]");
    if (End > kMaxInvoiceNo || End < Start) throw ECmdException(DeviceError::InvalidInput, "[InvEnd]");
    if (CreditNote) Add("S,", Data);
    AddInt(Start, Data);
    Add(',', Data);
    AddInt(End, Data);
  };
  // The printer answers with the range it took; a field it leaves out changes nothing.
  c.Parse = [&](TAnswer& A) {
    if (A.Empty()) return;
    Start = A.IntFieldOr(Start);
    End = A.IntFieldOr(End);
  };
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_Department(const TDepartmentInfo& Info) {
  TCommand c = ServiceCommand(cmdDepartment);
  c.Build = [&Info](TDataBuffer& Data) {
    CheckTextField(TTextField::DepartmentName, Info.Name);
    AddInt(Info.Number, Data);
    Add(',', Data);
    Add(Info.TaxGroup, Data);
    Add(',', Data);
    Add(Info.Name, Data);
    if (!Info.AddText.empty()) {
      Add('\n', Data);
      Add(Info.AddText, Data);
    }
  };
  return RunCommand(c);
}

bool TBaseDevice::SetFPR_PluData(const TPluData& Plu) {
  TCommand c = ServiceCommand(cmdPluData);
  c.Build = [&Plu](TDataBuffer& Data) {
    const auto vat = static_cast<unsigned char>(Plu.TaxGroup);
    if (vat < 0xC0 || vat > 0xC7) throw ECmdException(DeviceError::InvalidInput, "[VatGrp]");
    Add('P', Data);
    Add(Plu.TaxGroup, Data);
    AddInt(Plu.PluNo, Data);
    Add(',', Data);
    AddInt(Plu.GroupNom, Data);
    Add(',', Data);
    Add(FormatWireAmount(Plu.UnitPrice), Data);
    Add(",A", Data);
    Add(FormatWireQuantity(Plu.Quantity), Data);
    Add(',', Data);
    Add(std::string_view(Plu.Name).substr(0, kMaxLineText), Data);
  };
  c.Parse = [](TAnswer& A) {
    if (A.Text != "P") throw ECmdException(DeviceError::InvalidInput, "[can't program plu]");
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_CashInOut(double Amount) {
  TCommand c = ServiceCommand(cmdCashInOut);
  c.After = {NonFiscalOpen, FiscalOpen, NoPaper};
  c.Build = [Amount](TDataBuffer& Data) { Add(FormatWireAmount(Amount), Data); };
  c.Parse = [Amount](TAnswer& A) {
    A.RequireFields(4);
    const std::string exitCode = A.Field();
    // The drawer's cash and the day's service sums, in currency units.
    const double cashSum = A.NumberField("[CashSum]");
    A.NumberField("[ServIn]");
    A.NumberField("[ServOut]");
    if (exitCode != "F") return;
    // The cash out as it was sent, against the drawer's cash, both in whole hundredths.
    const int64_t sent = WireHundredths(Amount);
    if (sent < 0 && -sent > WireHundredths(cashSum))
      throw ECmdException(DeviceError::LackOfFunds, FormatWireAmount(cashSum));
    throw ECmdException(DeviceError::CommandDenied);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_PrintDiagnostics() {
  return RunCommand(ServiceCommand(cmdPrintDiagnostics, {NoPaper, NonFiscalOpen, FiscalOpen}));
}

bool TBaseDevice::GetFPR_DailyTaxation(bool Turnover, std::array<double, 8>& Sums) {
  Sums.fill(0);
  TCommand c = ServiceCommand(cmdDailyTaxation, {}, TRecordStatus::WithStatus);
  c.ReadOnly = true;
  Add(Turnover ? '0' : '1', c.Data);
  c.Parse = [&Sums](TAnswer& A) {
    for (double& sum : Sums) sum = A.HundredthsFieldOr(0);
  };
  return RunCommand(c);
}

}  // namespace fp
