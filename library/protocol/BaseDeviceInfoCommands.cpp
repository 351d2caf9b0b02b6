// The printer commands that read information: clock, status, diagnostic data, document
// and invoice numbers, the open receipt, header lines, daily payment sums, departments,
// articles, payment type names, constants and the currency mode; plus the drawer pulse.
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/protocol/OleDate.h"
#include "library/protocol/WireNumbers.h"

namespace fp {

using namespace device_commands;

namespace {

// A command of this file: each one only reads, except the drawer's.
TCommand Command(uint8_t Cmd, TStatusCheck Check, TRecordStatus Record, std::string_view Data = {}) {
  TCommand c;
  c.Cmd = Cmd;
  c.ReadOnly = true;
  c.Check = Check;
  c.Record = Record;
  Add(Data, c.Data);
  return c;
}

// The VAT letter of a department or an article: the first character of its field, one of
// 0xC0..0xC7. An answer without it (no field, or an empty one) fails with 200, another
// character with 201, both "[VatGrp]": a department or article read without its VAT group
// must not pass for one of group 1 (or carry a stray byte into a later request).
char VatLetterField(TAnswer& A) {
  const std::string field = A.Empty() ? std::string() : A.Field();
  if (field.empty()) throw ECmdException(DeviceError::InvalidAnswer, "[VatGrp]");
  const auto letter = static_cast<unsigned char>(field[0]);
  if (letter < 0xC0 || letter > 0xC7) throw ECmdException(DeviceError::InvalidInput, "[VatGrp]");
  return field[0];
}

// The daily payment sums: the first Count fields in hundredths, a field that is not a
// number gives 0; the other sums are 0.
bool ReadDailyPayments(TBaseDevice& Dev, size_t Count, TDailyPayments& Payments) {
  Payments = TDailyPayments{};
  TCommand c = Command(cmdDailyPayments, TStatusCheck::Full, TRecordStatus::WithoutStatus, "11");
  c.Parse = [&Payments, Count](TAnswer& A) {
    for (size_t i = 0; i < Count; ++i) Payments.Sums[i] = A.HundredthsFieldOr(0);
  };
  return Dev.RunCommand(c);
}

}  // namespace

bool TBaseDevice::GetFPR_DateTime(double& DateTime) {
  DateTime = 0;
  TCommand c = Command(cmdGetDateTime, TStatusCheck::Basic, TRecordStatus::WithStatus);
  c.Parse = [&DateTime](TAnswer& A) {
    // DD-MM-YY HH:MM:SS; the separators are not looked at.
    if (A.Data.size() < 17) throw ECmdException(DeviceError::InvalidAnswer, "[GetFPR_DateTime]");
    auto piece = [&A](size_t At, const char* Label) {
      int32_t v = 0;
      if (!ParseInt32(BytesToText(A.Data, At, 2), v)) throw ECmdException(DeviceError::InvalidInput, Label);
      return v;
    };
    const int32_t day = piece(0, "[DAY]");
    const int32_t month = piece(3, "[MONTH]");
    const int32_t year = piece(6, "[YEAR]") + 2000;
    const int32_t hour = piece(9, "[HOUR]");
    const int32_t minute = piece(12, "[MIN]");
    const int32_t second = piece(15, "[SEC]");
    double v = 0;
    if (!TryEncodeOleDateTime(year, month, day, hour, minute, second, 0, v))
      throw ECmdException(DeviceError::InvalidInput, "[DATE]");
    DateTime = v;
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_Status(bool Wait, TDataBuffer& Status6) {
  Status6.clear();
  TCommand c = Command(cmdStatus, TStatusCheck::Basic, TRecordStatus::WithStatus, Wait ? "W" : "X");
  c.Retries = Wait ? 4 : 1;
  c.Parse = [&Status6](TAnswer& A) {
    if (A.Data.size() == kStatusLength) {
      Status6 = A.Data;
      return;
    }
    if (A.Status.size() != kStatusLength) throw ECmdException(DeviceError::InvalidAnswer);
    Status6 = A.Status;
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_DiagnosticInfo(bool Flag, TDiagnosticInfo& Info) {
  Info = TDiagnosticInfo{};
  TCommand c = Command(cmdDiagnosticInfo, TStatusCheck::Basic, TRecordStatus::WithStatus, Flag ? "1" : "0");
  c.Parse = [&Info](TAnswer& A) {
    A.RequireFields(5);
    auto put = [&Info](size_t Slot, std::string Value) {
      if (Value.size() > TDiagnosticInfo::MaxLength) Value.resize(TDiagnosticInfo::MaxLength);
      Info.Text[Slot] = std::move(Value);
    };
    put(8, A.Text);
    put(0, A.Field());
    // The version: two words up to a blank, taken from the whole rest of the text.
    put(1, A.SpaceField());
    put(2, A.SpaceField());
    for (size_t slot = 3; slot <= 7; ++slot) put(slot, A.Field());
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_LastDocNumber(int32_t& Number) {
  Number = 0;
  TCommand c = Command(cmdLastDocNumber, TStatusCheck::Basic, TRecordStatus::WithStatus);
  c.Parse = [&Number](TAnswer& A) {
    if (!ParseInt32(A.Text, Number)) throw ECmdException(DeviceError::InvalidInput);
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_ReceiptInfo(bool& CanVoid, std::array<double, 8>& TaxSums, bool& IsInvoice,
                                     int64_t& NextInvoiceNo) {
  CanVoid = false;
  TaxSums.fill(0);
  IsInvoice = false;
  NextInvoiceNo = 0;
  TCommand c = Command(cmdReceiptInfo, TStatusCheck::Full, TRecordStatus::WithStatus);
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(11);
    CanVoid = A.Field() == "1";
    for (size_t k = 0; k < TaxSums.size(); ++k) TaxSums[k] = A.HundredthsField("[Tax" + std::to_string(k + 1) + "]");
    IsInvoice = A.Field() == "1";
    NextInvoiceNo = A.IntField("[NextInvNo]");
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_ReceiptTotal(bool& CanVoid, double& Total, bool& IsInvoice) {
  Total = 0;
  std::array<double, 8> taxSums{};
  int64_t nextInvoiceNo = 0;
  if (!GetFPR_ReceiptInfo(CanVoid, taxSums, IsInvoice, nextInvoiceNo)) return false;
  for (double sum : taxSums) Total += sum;
  return true;
}

bool TBaseDevice::GetFPR_HeaderLine(int32_t Index, std::string& Line) {
  Line.clear();
  TCommand c = Command(cmdHeaderLine, TStatusCheck::Basic, TRecordStatus::WithStatus, "I" + std::to_string(Index));
  c.Parse = [&Line](TAnswer& A) { Line = A.Text; };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_HeaderLines(std::vector<std::string>& Lines) {
  try {
    Lines.clear();
    for (int32_t index = 0; index < 8; ++index) {
      std::string line;
      if (!GetFPR_HeaderLine(index, line)) return false;
      Lines.push_back(std::move(line));
    }
    return true;
  } catch (const std::exception& e) {
    RecordError(e, TDataBuffer(), std::string());
    return false;
  }
}

bool TBaseDevice::GetFPR_InvoiceRange(bool Refund, int64_t& StartNo, int64_t& EndNo, int64_t& CurrentNo) {
  StartNo = EndNo = CurrentNo = 0;
  TCommand c = Command(cmdInvoiceRange, TStatusCheck::Basic, TRecordStatus::WithoutStatus, Refund ? "S" : "");
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(3);
    StartNo = A.IntField("[InvStart]");
    EndNo = A.IntField("[InvEnd]");
    CurrentNo = A.IntField("[InInvCurrentvEnd]");
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_DailyPayments(TDailyPayments& Payments) { return ReadDailyPayments(*this, 11, Payments); }

bool TBaseDevice::GetFPR_DailyPaymentsShort(TDailyPayments& Payments) { return ReadDailyPayments(*this, 8, Payments); }

bool TBaseDevice::GetFPR_DepartmentSum(int32_t Number, TDepartmentSum& Dep) {
  Dep = TDepartmentSum{};
  TCommand c = Command(cmdDepartmentSum, TStatusCheck::Full, TRecordStatus::WithStatus, std::to_string(Number));
  c.Parse = [&Dep](TAnswer& A) {
    if (A.Text.empty()) return;
    Dep.Marker = A.Text[0];
    if (Dep.Marker != 'P') return;
    A.Text.erase(0, 1);
    Dep.TaxGroup = VatLetterField(A);
    // Sums in currency units; a field that is not a number gives 0.
    Dep.LastCountSales = A.IntFieldOr(0);
    Dep.LastSum = A.NumberFieldOr(0);
    Dep.CountSales = A.IntFieldOr(0);
    Dep.TotalSum = A.NumberFieldOr(0);
    const size_t tab = A.Text.find('\t');
    Dep.Name = A.Text.substr(0, tab);
    if (tab != std::string::npos) Dep.AddText = TrimControls(std::string_view(A.Text).substr(tab + 1));
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_DepartmentInfo(int32_t Number, std::string& Name, std::string& AddText, char& TaxGroup) {
  Name.clear();
  AddText.clear();
  TCommand c = Command(cmdDepartment, TStatusCheck::Full, TRecordStatus::WithoutStatus, std::to_string(Number));
  c.Parse = [&](TAnswer& A) {
    A.Field();  // the department number
    TaxGroup = VatLetterField(A);
    if (!A.Text.empty()) {
      const size_t tab = A.Text.find('\t');
      Name = TrimControls(std::string_view(A.Text).substr(0, tab));
      A.Text.erase(0, tab == std::string::npos ? A.Text.size() : tab);
    }
    if (!A.Text.empty()) AddText = TrimControls(A.Text);
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_PluData(int32_t Number, TPluData& Plu) {
  const char callerTaxGroup = Plu.TaxGroup;
  Plu = TPluData{};
  Plu.TaxGroup = callerTaxGroup;
  TCommand c = Command(cmdPluData, TStatusCheck::Full, TRecordStatus::WithoutStatus, "R" + std::to_string(Number));
  c.Parse = [&Plu](TAnswer& A) {
    if (A.Text.empty()) throw ECmdException(DeviceError::InvalidInput, "[No data recieved]");
    // The printer's answer for an article it does not have ("F") is the failure: a read
    // that found nothing is no success.
    if (A.Text[0] != 'P') throw ECmdException(DeviceError::ErrorMessage, "#" + WithoutErrorMarks(A.Text));
    A.Text.erase(0, 1);
    // Values in their own units (not hundredths).
    Plu.PluNo = A.Int32Field("[PluNo]");
    Plu.TaxGroup = VatLetterField(A);
    Plu.GroupNom = A.Int32Field("[GroupNom]");
    Plu.UnitPrice = A.NumberField("[UnitPrice]");
    Plu.TotalSum = A.NumberField("[TotalSum]");
    Plu.Sold = A.NumberField("[Sold]");
    Plu.AvailQtty = A.NumberField("[AvailQtty]");
    Plu.Name = A.Text;
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_PayTypeName(uint32_t PayType, std::string& Name) {
  Name.clear();
  const char* letter = "P";
  switch (PayType) {
    case 2: letter = "N"; break;
    case 3: letter = "C"; break;
    case 4: letter = "D"; break;
    case 5: letter = "I"; break;
    case 6: letter = "J"; break;
    case 7: letter = "K"; break;
    case 8: letter = "L"; break;
    default: break;
  }
  TCommand c = Command(cmdPayTypeName, TStatusCheck::Full, TRecordStatus::WithoutStatus, letter);
  c.Parse = [&Name](TAnswer& A) {
    if (!A.Text.empty()) Name = A.Text;
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_Constants(TPrnConst& Consts) {
  Consts = TPrnConst{};
  TCommand c = Command(cmdConstants, TStatusCheck::Basic, TRecordStatus::WithStatus);
  c.Parse = [&Consts](TAnswer& A) {
    for (std::string& field : Consts.Text) field = A.Field();
    // Field 8 is the line length; it is handed on reduced by 2.
    int64_t len = 0;
    if (ParseWireInteger(Consts.Text[8], len) && len > 0) Consts.Text[8] = std::to_string(len - 2);
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_CurrencyMode(int32_t& Mode) {
  TCommand c = Command(cmdCurrencyMode, TStatusCheck::Full, TRecordStatus::WithStatus);
  c.Parse = [&Mode](TAnswer& A) {
    if (!ParseInt32(A.Field(), Mode)) Mode = -1;
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_OpenDrawer(uint16_t PulseTime) {
  TCommand c = Command(cmdOpenDrawer, TStatusCheck::Full, TRecordStatus::WithStatus, std::to_string(PulseTime));
  c.ReadOnly = false;
  return RunCommand(c);
}

}  // namespace fp
