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
  TCommand C;
  C.Cmd = Cmd;
  C.ReadOnly = true;
  C.Check = Check;
  C.Record = Record;
  Add(Data, C.Data);
  return C;
}

// The VAT letter of a department or an article: the first character of its field, one of
// 0xC0..0xC7. An answer without it (no field, or an empty one) fails with 200, another
// character with 201, both "[VatGrp]": a department or article read without its VAT group
// must not pass for one of group 1 (or carry a stray byte into a later request).
char VatLetterField(TAnswer& A) {
  const std::string Field = A.Empty() ? std::string() : A.Field();
  if (Field.empty()) throw ECmdException(DeviceError::InvalidAnswer, "[VatGrp]");
  const auto Letter = static_cast<unsigned char>(Field[0]);
  if (Letter < 0xC0 || Letter > 0xC7) throw ECmdException(DeviceError::InvalidInput, "[VatGrp]");
  return Field[0];
}

// The daily payment sums: the first Count fields in hundredths, a field that is not a
// number gives 0; the other sums are 0.
bool ReadDailyPayments(TBaseDevice& Dev, size_t Count, TDailyPayments& Payments) {
  Payments = TDailyPayments{};
  TCommand C = Command(cmdDailyPayments, TStatusCheck::Full, TRecordStatus::WithoutStatus, "11");
  C.Parse = [&Payments, Count](TAnswer& A) {
    for (size_t I = 0; I < Count; ++I) Payments.Sums[I] = A.HundredthsFieldOr(0);
  };
  return Dev.RunCommand(C);
}

}  // namespace

bool TBaseDevice::GetFPR_DateTime(double& DateTime) {
  DateTime = 0;
  TCommand C = Command(cmdGetDateTime, TStatusCheck::Basic, TRecordStatus::WithStatus);
  C.Parse = [&DateTime](TAnswer& A) {
    // DD-MM-YY HH:MM:SS; the separators are not looked at.
    if (A.Data.size() < 17) throw ECmdException(DeviceError::InvalidAnswer, "[GetFPR_DateTime]");
    auto Piece = [&A](size_t At, const char* Label) {
      int32_t V = 0;
      if (!ParseInt32(BytesToText(A.Data, At, 2), V)) throw ECmdException(DeviceError::InvalidInput, Label);
      return V;
    };
    const int32_t Day = Piece(0, "[DAY]");
    const int32_t Month = Piece(3, "[MONTH]");
    const int32_t Year = Piece(6, "[YEAR]") + 2000;
    const int32_t Hour = Piece(9, "[HOUR]");
    const int32_t Minute = Piece(12, "[MIN]");
    const int32_t Second = Piece(15, "[SEC]");
    double V = 0;
    if (!TryEncodeOleDateTime(Year, Month, Day, Hour, Minute, Second, 0, V))
      throw ECmdException(DeviceError::InvalidInput, "[DATE]");
    DateTime = V;
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_Status(bool Wait, TDataBuffer& Status6) {
  Status6.clear();
  TCommand C = Command(cmdStatus, TStatusCheck::Basic, TRecordStatus::WithStatus, Wait ? "W" : "X");
  C.Retries = Wait ? 4 : 1;
  C.Parse = [&Status6](TAnswer& A) {
    if (A.Data.size() == kStatusLength) {
      Status6 = A.Data;
      return;
    }
    if (A.Status.size() != kStatusLength) throw ECmdException(DeviceError::InvalidAnswer);
    Status6 = A.Status;
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_DiagnosticInfo(bool Flag, TDiagnosticInfo& Info) {
  Info = TDiagnosticInfo{};
  TCommand C = Command(cmdDiagnosticInfo, TStatusCheck::Basic, TRecordStatus::WithStatus, Flag ? "1" : "0");
  C.Parse = [&Info](TAnswer& A) {
    A.RequireFields(5);
    auto Put = [&Info](size_t Slot, std::string Value) {
      if (Value.size() > TDiagnosticInfo::MaxLength) Value.resize(TDiagnosticInfo::MaxLength);
      Info.Text[Slot] = std::move(Value);
    };
    Put(8, A.Text);
    Put(0, A.Field());
    // The version: two words up to a blank, taken from the whole rest of the text.
    Put(1, A.SpaceField());
    Put(2, A.SpaceField());
    for (size_t Slot = 3; Slot <= 7; ++Slot) Put(Slot, A.Field());
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_LastDocNumber(int32_t& Number) {
  Number = 0;
  TCommand C = Command(cmdLastDocNumber, TStatusCheck::Basic, TRecordStatus::WithStatus);
  C.Parse = [&Number](TAnswer& A) {
    if (!ParseInt32(A.Text, Number)) throw ECmdException(DeviceError::InvalidInput);
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_ReceiptInfo(bool& CanVoid, std::array<double, 8>& TaxSums, bool& IsInvoice,
                                     int64_t& NextInvoiceNo) {
  CanVoid = false;
  TaxSums.fill(0);
  IsInvoice = false;
  NextInvoiceNo = 0;
  TCommand C = Command(cmdReceiptInfo, TStatusCheck::Full, TRecordStatus::WithStatus);
  C.Parse = [&](TAnswer& A) {
    A.RequireFields(11);
    CanVoid = A.Field() == "1";
    for (size_t K = 0; K < TaxSums.size(); ++K)
      TaxSums[K] = A.HundredthsField("[Tax" + std::to_string(K + 1) + "]");
    IsInvoice = A.Field() == "1";
    NextInvoiceNo = A.IntField("[NextInvNo]");
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_ReceiptTotal(bool& CanVoid, double& Total, bool& IsInvoice) {
  Total = 0;
  std::array<double, 8> TaxSums{};
  int64_t NextInvoiceNo = 0;
  if (!GetFPR_ReceiptInfo(CanVoid, TaxSums, IsInvoice, NextInvoiceNo)) return false;
  for (double Sum : TaxSums) Total += Sum;
  return true;
}

bool TBaseDevice::GetFPR_HeaderLine(int32_t Index, std::string& Line) {
  Line.clear();
  TCommand C = Command(cmdHeaderLine, TStatusCheck::Basic, TRecordStatus::WithStatus,
                       "I" + std::to_string(Index));
  C.Parse = [&Line](TAnswer& A) { Line = A.Text; };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_HeaderLines(std::vector<std::string>& Lines) {
  try {
    Lines.clear();
    for (int32_t Index = 0; Index < 8; ++Index) {
      std::string Line;
      if (!GetFPR_HeaderLine(Index, Line)) return false;
      Lines.push_back(std::move(Line));
    }
    return true;
  } catch (const std::exception& E) {
    RecordError(E, TDataBuffer(), std::string());
    return false;
  }
}

bool TBaseDevice::GetFPR_InvoiceRange(bool Refund, int64_t& StartNo, int64_t& EndNo, int64_t& CurrentNo) {
  StartNo = EndNo = CurrentNo = 0;
  TCommand C = Command(cmdInvoiceRange, TStatusCheck::Basic, TRecordStatus::WithoutStatus, Refund ? "S" : "");
  C.Parse = [&](TAnswer& A) {
    A.RequireFields(3);
    StartNo = A.IntField("[InvStart]");
    EndNo = A.IntField("[InvEnd]");
    CurrentNo = A.IntField("[InInvCurrentvEnd]");
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_DailyPayments(TDailyPayments& Payments) {
  return ReadDailyPayments(*this, 11, Payments);
}

bool TBaseDevice::GetFPR_DailyPaymentsShort(TDailyPayments& Payments) {
  return ReadDailyPayments(*this, 8, Payments);
}

bool TBaseDevice::GetFPR_DepartmentSum(int32_t Number, TDepartmentSum& Dep) {
  Dep = TDepartmentSum{};
  TCommand C = Command(cmdDepartmentSum, TStatusCheck::Full, TRecordStatus::WithStatus,
                       std::to_string(Number));
  C.Parse = [&Dep](TAnswer& A) {
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
    const size_t Tab = A.Text.find('\t');
    Dep.Name = A.Text.substr(0, Tab);
    if (Tab != std::string::npos) Dep.AddText = TrimControls(std::string_view(A.Text).substr(Tab + 1));
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_DepartmentInfo(int32_t Number, std::string& Name, std::string& AddText, char& TaxGroup) {
  Name.clear();
  AddText.clear();
  TCommand C = Command(cmdDepartment, TStatusCheck::Full, TRecordStatus::WithoutStatus,
                       std::to_string(Number));
  C.Parse = [&](TAnswer& A) {
    A.Field();  // the department number
    TaxGroup = VatLetterField(A);
    if (!A.Text.empty()) {
      const size_t Tab = A.Text.find('\t');
      Name = TrimControls(std::string_view(A.Text).substr(0, Tab));
      A.Text.erase(0, Tab == std::string::npos ? A.Text.size() : Tab);
    }
    if (!A.Text.empty()) AddText = TrimControls(A.Text);
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_PluData(int32_t Number, TPluData& Plu) {
  const char CallerTaxGroup = Plu.TaxGroup;
  Plu = TPluData{};
  Plu.TaxGroup = CallerTaxGroup;
  TCommand C = Command(cmdPluData, TStatusCheck::Full, TRecordStatus::WithoutStatus,
                       "R" + std::to_string(Number));
  C.Parse = [&Plu](TAnswer& A) {
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
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_PayTypeName(uint32_t PayType, std::string& Name) {
  Name.clear();
  const char* Letter = "P";
  switch (PayType) {
    case 2: Letter = "N"; break;
    case 3: Letter = "C"; break;
    case 4: Letter = "D"; break;
    case 5: Letter = "I"; break;
    case 6: Letter = "J"; break;
    case 7: Letter = "K"; break;
    case 8: Letter = "L"; break;
    default: break;
  }
  TCommand C = Command(cmdPayTypeName, TStatusCheck::Full, TRecordStatus::WithoutStatus, Letter);
  C.Parse = [&Name](TAnswer& A) {
    if (!A.Text.empty()) Name = A.Text;
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_Constants(TPrnConst& Consts) {
  Consts = TPrnConst{};
  TCommand C = Command(cmdConstants, TStatusCheck::Basic, TRecordStatus::WithStatus);
  C.Parse = [&Consts](TAnswer& A) {
    for (std::string& Field : Consts.Text) Field = A.Field();
    // Field 8 is the line length; it is handed on reduced by 2.
    int64_t Len = 0;
    if (ParseWireInteger(Consts.Text[8], Len) && Len > 0) Consts.Text[8] = std::to_string(Len - 2);
  };
  return RunCommand(C);
}

bool TBaseDevice::GetFPR_CurrencyMode(int32_t& Mode) {
  TCommand C = Command(cmdCurrencyMode, TStatusCheck::Full, TRecordStatus::WithStatus);
  C.Parse = [&Mode](TAnswer& A) {
    if (!ParseInt32(A.Field(), Mode)) Mode = -1;
  };
  return RunCommand(C);
}

bool TBaseDevice::FPR_OpenDrawer(uint16_t PulseTime) {
  TCommand C = Command(cmdOpenDrawer, TStatusCheck::Full, TRecordStatus::WithStatus, std::to_string(PulseTime));
  C.ReadOnly = false;
  return RunCommand(C);
}

}  // namespace fp
