// The printer commands that make receipts and end them: fiscal and non-fiscal receipts,
// sales, subtotal, discounts, payments, texts, the invoice buyer block, barcodes, the copy
// of the last receipt, and the two operations that get an open receipt out of the way.
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/protocol/OleDate.h"
#include "library/protocol/WireNumbers.h"

namespace fp {

using namespace device_commands;

namespace {

constexpr char TAB = '\t';
constexpr char LF = '\n';

// The status tests the receipt commands make (with NoPaper, NonFiscalOpen and FiscalOpen).
constexpr TStatusTest PrinterFault = BitSet(StatusBit::PrinterFault, DeviceError::PrinterFault);
constexpr TStatusTest NonFiscalNotOpen = BitClear(StatusBit::NonFiscalOpen, DeviceError::NonFiscalNotOpen);
constexpr TStatusTest FiscalNotOpen = BitClear(StatusBit::FiscalOpen, DeviceError::FiscalNotOpen);
constexpr TStatusTest JournalEnd = BitSet(StatusBit::JournalEnd, DeviceError::JournalEnd);
constexpr TStatusTest ClockNotSet = BitSet(StatusBit::ClockNotSet, DeviceError::ClockNotSet);
constexpr TStatusTest FiscalMemoryError = BitSet(StatusBit::FiscalMemoryError, DeviceError::FiscalMemoryError);
constexpr TStatusTest FiscalMemoryFull = BitSet(StatusBit::FiscalMemoryFull, DeviceError::FiscalMemoryFull);
constexpr TStatusTest LastEntryFailed = BitSet(StatusBit::LastEntryFailed, DeviceError::LastEntryFailed);
constexpr TStatusTest FiscalMemoryLocked = BitSet(StatusBit::FiscalMemoryLocked, DeviceError::FiscalMemoryLocked);
constexpr TStatusTest GprsNoAnswer = BitSet(StatusBit::GprsNoAnswer, DeviceError::GprsNoAnswer);
// A refusal: an empty answer while a fiscal (comment) receipt is open.
constexpr TStatusTest FiscalOpenRefusal = BitSetEmptyAnswer(StatusBit::FiscalOpen, DeviceError::FiscalOpen);
constexpr TStatusTest NonFiscalOpenRefusal = BitSetEmptyAnswer(StatusBit::NonFiscalOpen, DeviceError::NonFiscalOpen);

// The tests of a fiscal receipt opening, in their order, and the refusal after them: an
// empty answer while a fiscal receipt is open.
const std::vector<TStatusTest> OpenFiscalTests = {
    NoPaper,         PrinterFault,       NonFiscalOpen, FiscalNotOpen, FiscalMemoryError, FiscalMemoryFull,
    LastEntryFailed, FiscalMemoryLocked, ClockNotSet,   GprsNoAnswer,  JournalEnd};
const std::vector<TStatusTest> OpenFiscalAfter = {FiscalOpenRefusal};

// In front of the failure of a cancellation that left a receipt open; kept for log readers.
constexpr const char* kTagCancelAllRecFailed = "[FPR_CancelAllRecFailed]";

constexpr std::string_view PayLetters = "CDIJKLMNPQR";
// A currency rate is sent only when it differs from 0 by more than this.
constexpr double kNoRate = 0.000001;

// Every receipt command: own tests, then CheckStatus; failures recorded with the status.
TCommand ReceiptCommand(uint8_t Cmd, std::vector<TStatusTest> Before) {
  TCommand c;
  c.Cmd = Cmd;
  c.Before = std::move(Before);
  c.Check = TStatusCheck::Full;
  c.Record = TRecordStatus::WithStatus;
  return c;
}

// The optional two text lines of a sale or payment: Text1, then LF and Text2. Text1 may
// hold neither the LF nor the TAB that end it; Text2 ends only at the TAB.
void AddTextLines(const std::string& Text1, const std::string& Text2, TDataBuffer& Data) {
  CheckTextField(TTextField::SaleText, Text1);
  CheckTextField(TTextField::SaleSecondText, Text2);
  if (!Text1.empty()) Add(Text1, Data);
  if (!Text2.empty()) {
    Add(LF, Data);
    Add(Text2, Data);
  }
}

// "*" and the quantity, unless it is sent as 1.000.
void AddQuantity(double Quantity, TDataBuffer& Data) {
  if (WireUnits(Quantity, 3) == 1000) return;
  Add('*', Data);
  Add(FormatWireQuantity(Quantity), Data);
}

// Separator and a correction, unless it is sent as 0.00.
void AddCorrection(char Separator, double Value, TDataBuffer& Data) {
  if (WireHundredths(Value) == 0) return;
  Add(Separator, Data);
  Add(FormatWireAmount(Value), Data);
}

// A percentage outside -Limit..Limit (both in hundredths), judged as it is sent.
bool PercentOutside(double Value, int64_t Limit) {
  const int64_t sent = WireHundredths(Value);
  return sent < -Limit || sent > Limit;
}

bool IsVatLetter(char Ch) {
  const auto b = static_cast<unsigned char>(Ch);
  return b >= 0xC0 && b <= 0xC7;
}

// The two counters of an opening or closing answer.
void ReadReceiptCounters(TAnswer& A, int32_t& AllReceipt, int32_t& FiscReceipt) {
  A.RequireFields(2);
  AllReceipt = A.Int32Field("[AllReceipt]");
  FiscReceipt = A.Int32Field("[FiscReceipt]");
}

// The answer of a payment: the code letter, a comma, then the second amount.
void ReadPaymentAnswer(TAnswer& A, char& PaidCode, double& Amount2) {
  if (A.Text.empty()) throw ECmdException(DeviceError::InvalidAnswer);
  PaidCode = A.Text[0];
  A.Text.erase(0, std::min<size_t>(2, A.Text.size()));
  if (PaidCode == 'E' || PaidCode == 'F' || PaidCode == 'I')
    throw ECmdException(DeviceError::PaymentError, std::string("[") + PaidCode + "]");
  if (!A.Text.empty()) Amount2 = A.HundredthsField("[Amount2]");
}

std::string Quoted(std::string_view Text) { return "\"" + std::string(Text) + "\""; }

// The request data of an extended opening; raises 201 for arguments the printer cannot take.
void BuildOpenFiscBonEx(const TFiskParam& P, TDataBuffer& Data) {
  CheckTextField(TTextField::ExOperName, P.OperName);
  Add(P.OperName, Data);
  Add(',', Data);
  if (TrimBlanks(P.UniqueSellNo).empty()) throw ECmdException(DeviceError::InvalidInput, "[UniqueSellNo]");
  if (P.IsInvoice || P.IsRefund) CheckTextField(TTextField::ExUniqueSellNo, P.UniqueSellNo);
  Add(P.UniqueSellNo, Data);
  if (P.IsInvoice) {
    Add(',', Data);
    Add('I', Data);
    return;
  }
  if (!P.IsRefund) return;

  Add(",S,", Data);
  Add(P.RefundFMNo, Data);
  Add(',', Data);
  if (P.RefundReason != 'O' && P.RefundReason != 'R' && P.RefundReason != 'T')
    throw ECmdException(DeviceError::InvalidInput,
                        "Invalid reason " + Quoted(P.RefundReason ? std::string(1, P.RefundReason) : ""));
  Add(P.RefundReason, Data);
  if (P.RefundReceiptNo <= 0)
    throw ECmdException(DeviceError::InvalidInput, "Invalid reciept num  " + Quoted(std::to_string(P.RefundReceiptNo)));
  Add(',', Data);
  AddInt(P.RefundReceiptNo, Data);
  if (P.RefundFMNo == P.RefundFiscalNo) return;

  // The refunded receipt comes from another fiscal memory: it needs its date.
  if (P.RefundReason == 'O')
    throw ECmdException(DeviceError::InvalidInput, "Reason " + Quoted("O") + " is invalid for this device.");
  if (P.RefundDateTime > 0) {
    const std::string date = FormatOleDateTime("YYYY-MM-DD", P.RefundDateTime);
    if (date.empty()) throw ECmdException(DeviceError::InvalidInput, "[RefundDateTime]");
    Add(',', Data);
    Add(date, Data);
    Add('T', Data);
    Add(FormatOleDateTime("hh:nn:ss", P.RefundDateTime), Data);
  }
  if (P.RefundInvoiceNo > 0) {
    Add(',', Data);
    AddInt(P.RefundInvoiceNo, Data);
  }
}

// The buyer block's texts in the order they are sent.
constexpr TBuyerText BuyerTexts[] = {
    {2, TTextField::BuyerEik},     {9, TTextField::BuyerSecondField}, {6, TTextField::BuyerReceiver},
    {0, TTextField::BuyerCompany}, {1, TTextField::BuyerVatNumber},   {3, TTextField::BuyerTown},
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Callers' texts inside a request.

const TTextFieldRule& TextFieldRule(TTextField Field) {
  for (const TTextFieldRule& r : TextFieldRules)
    if (r.Field == Field) return r;
  throw EAbort("No rule for a text field");  // every enumerator has its row
}

bool FitsTextField(TTextField Field, std::string_view Text) {
  return Text.find_first_of(TextFieldRule(Field).Separators) == std::string_view::npos;
}

void CheckTextField(TTextField Field, std::string_view Text) {
  if (!FitsTextField(Field, Text)) throw ECmdException(DeviceError::InvalidInput, TextFieldRule(Field).Label);
}

const TBuyerText* ShiftingBuyerText(const TClientData& Client) {
  const auto& t = Client.Text;
  for (const TBuyerText& b : BuyerTexts) {
    // The VAT number is the last field unless a town or an address follows; the town is
    // followed only by an address.
    if (b.Index == 1 && t[3].empty() && t[4].empty()) continue;
    if (b.Index == 3 && t[4].empty()) continue;
    if (!FitsTextField(b.Field, t[b.Index])) return &b;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------

void TBaseDevice::ClearClientData(TClientData& Client) {
  for (std::string& text : Client.Text) text.clear();
}

bool TBaseDevice::FPR_OpenFiscBon(uint16_t Operator, const std::string& Password, int32_t Till, bool Invoice,
                                  int32_t& AllReceipt, int32_t& FiscReceipt) {
  AllReceipt = FiscReceipt = 0;
  TCommand c = ReceiptCommand(cmdOpenFiscBon, OpenFiscalTests);
  c.After = OpenFiscalAfter;
  c.Build = [&](TDataBuffer& Data) {
    int32_t number = 0;
    CheckTextField(TTextField::OperatorPassword, Password);
    if (!Password.empty() && !ParseInt32(Password, number)) throw ECmdException(DeviceError::InvalidInput, "[OperPwd]");
    AddInt(Operator, Data);
    Add(',', Data);
    Add(Password, Data);
    Add(',', Data);
    AddInt(Till, Data);
    if (Invoice) Add(",I", Data);
  };
  c.Parse = [&](TAnswer& A) { ReadReceiptCounters(A, AllReceipt, FiscReceipt); };
  return RunCommand(c);
}

void TBaseDevice::BuildOpenFiscBonExData(const TFiskParam& FiskParam, TDataBuffer& Data) {
  BuildOpenFiscBonEx(FiskParam, Data);
  CheckDataLength(Data);
}

bool TBaseDevice::FPR_OpenFiscBonEx(const TFiskParam& FiskParam, int32_t& AllReceipt, int32_t& FiscReceipt) {
  AllReceipt = FiscReceipt = 0;
  TCommand c = ReceiptCommand(cmdOpenFiscBonEx, OpenFiscalTests);
  c.After = OpenFiscalAfter;
  c.Build = [&FiskParam](TDataBuffer& Data) { BuildOpenFiscBonEx(FiskParam, Data); };
  c.Parse = [&](TAnswer& A) { ReadReceiptCounters(A, AllReceipt, FiscReceipt); };
  // What the printer answered (or the request as far as it was built) follows "# ".
  c.AfterRecord = [this](const std::exception& E, const TDataBuffer& Data) {
    if (!dynamic_cast<const ECmdException*>(&E)) return;
    const std::string rest = WithoutErrorMarks(BufferToText(Data));
    if (!rest.empty()) FErrorText += "# " + rest;
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_Sale(const std::string& Text1, const std::string& Text2, char VatLetter, double Price,
                           double Quantity, double Percent) {
  TCommand c = ReceiptCommand(cmdSale, {NoPaper, PrinterFault, NonFiscalOpen, FiscalNotOpen, JournalEnd});
  c.Build = [&](TDataBuffer& Data) {
    if (!IsVatLetter(VatLetter)) throw ECmdException(DeviceError::InvalidInput, "[VatGrp]");
    AddTextLines(Text1, Text2, Data);
    Add(TAB, Data);
    Add(VatLetter, Data);
    Add(FormatWireAmount(Price), Data);
    AddQuantity(Quantity, Data);
    AddCorrection(',', Percent, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_SaleByDepartment(const std::string& Text1, const std::string& Text2, uint8_t DepartmentNo,
                                       double Price, double Quantity, double Percent) {
  TCommand c = ReceiptCommand(cmdSale, {NoPaper, NonFiscalOpen, FiscalNotOpen, JournalEnd, PrinterFault});
  c.Build = [&](TDataBuffer& Data) {
    // The quantity and the percentage are judged as they are sent.
    if (WireUnits(Quantity, 3) == 0) throw ECmdException(DeviceError::InvalidInput, "[Qtty]");
    if (DepartmentNo == 0) throw ECmdException(DeviceError::InvalidInput, "[DepartNo]");
    if (PercentOutside(Percent, 9900)) throw ECmdException(DeviceError::InvalidInput, "[Perc]");
    AddTextLines(Text1, Text2, Data);
    Add(TAB, Data);
    AddInt(DepartmentNo, Data);
    Add(TAB, Data);
    Add(FormatWireAmount(Price), Data);
    AddQuantity(Quantity, Data);
    AddCorrection(',', Percent, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_SaleProgPlu(bool PrefixD, int32_t PluNo, int32_t DepartmentNo, double Quantity, double Correction,
                                  bool IsAbsolute) {
  TCommand c = ReceiptCommand(cmdSaleProgPlu, {NoPaper, NonFiscalOpen, FiscalNotOpen, JournalEnd, PrinterFault});
  c.Build = [&](TDataBuffer& Data) {
    if (!IsAbsolute && PercentOutside(Correction, 9999)) throw ECmdException(DeviceError::InvalidInput, "[Perc]");
    if (PrefixD) Add('D', Data);
    AddInt(PluNo, Data);
    if (DepartmentNo > 0) {
      Add(TAB, Data);
      AddInt(DepartmentNo, Data);
      Add(TAB, Data);
    }
    AddQuantity(Quantity, Data);
    AddCorrection(IsAbsolute ? ';' : ',', Correction, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_SubTotal(bool Print, bool IsAbsolute, bool Display, double& SubTotal,
                               std::array<double, 8>& VatSums, double Value) {
  SubTotal = 0;
  VatSums.fill(0);
  TCommand c = ReceiptCommand(cmdSubTotal, {NoPaper, PrinterFault, NonFiscalOpen, FiscalNotOpen});
  c.Build = [&](TDataBuffer& Data) {
    Add(Print ? '1' : '0', Data);
    Add(Display ? '1' : '0', Data);
    AddCorrection(IsAbsolute ? ';' : ',', Value, Data);
  };
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(8);
    SubTotal = A.HundredthsField("[SubTotal]");
    for (size_t n = 1; n <= VatSums.size() && !A.Text.empty(); ++n)
      VatSums[n - 1] = A.HundredthsField("[VatGRP" + std::to_string(n) + "]");
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_DiscountLastItem(bool IsAmount, double Value) {
  TCommand c = ReceiptCommand(cmdDiscountLastItem, {NoPaper, FiscalNotOpen, NonFiscalOpen});
  c.Extra = TRecordExtra::AnswerText;
  c.Build = [&](TDataBuffer& Data) {
    Add(IsAmount ? 'A' : 'P', Data);
    Add(',', Data);
    Add(FormatWireAmount(Value), Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_Payment(const std::string& Text1, const std::string& Text2, char PayLetter, double Amount,
                              char& PaidCode, double& Amount2) {
  return FPR_PaymentByCurrency(Text1, Text2, PayLetter, Amount, 0, std::string(), PaidCode, Amount2);
}

bool TBaseDevice::FPR_PaymentByCurrency(const std::string& Text1, const std::string& Text2, char PayLetter,
                                        double Amount, double Rate, const std::string& CurrencyCode, char& PaidCode,
                                        double& Amount2) {
  PaidCode = '\0';
  Amount2 = 0;
  TCommand c = ReceiptCommand(cmdPayment, {NoPaper, PrinterFault, NonFiscalOpen});
  c.Build = [&](TDataBuffer& Data) {
    if (PayLetters.find(PayLetter) == std::string_view::npos)
      throw ECmdException(DeviceError::InvalidInput, "[PaidMode]");
    AddTextLines(Text1, Text2, Data);
    Add(TAB, Data);
    Add(PayLetter, Data);
    if (WireHundredths(Amount) >= 0) Add('+', Data);
    Add(FormatWireAmount(Amount), Data);
    // A rate within 0.000001 of 0 (a payment in the local currency) sends nothing more.
    if (Rate < 0) {
      Add(",L", Data);
    } else if (Rate > kNoRate) {
      Add(',', Data);
      Add(FormatWireUpTo(Rate, 6), Data);
      Add(',', Data);
      Add(TrimBlanks(CurrencyCode), Data);
    }
  };
  c.Parse = [&](TAnswer& A) { ReadPaymentAnswer(A, PaidCode, Amount2); };
  return RunCommand(c);
}

bool TBaseDevice::FPR_PrintFiscText(const std::string& Text) {
  TCommand c = ReceiptCommand(cmdPrintFiscText, {NoPaper, PrinterFault, NonFiscalOpen, FiscalNotOpen});
  Add(Text, c.Data);
  return RunCommand(c);
}

bool TBaseDevice::FPR_SetInvoiceClient(const TClientData& Client) {
  TCommand c = ReceiptCommand(cmdInvoiceClient, {NoPaper, FiscalNotOpen, NonFiscalOpen});
  c.Build = [&Client](TDataBuffer& Data) {
    const auto& t = Client.Text;
    if (TrimControls(t[2]).empty()) throw ECmdException(DeviceError::InvalidInput, "EIK");
    if (const TBuyerText* bad = ShiftingBuyerText(Client)) CheckTextField(bad->Field, t[bad->Index]);
    // EIK, the second field, receiver, company, VAT number; then town and address.
    for (size_t index : {2, 9, 6, 0}) {
      Add(t[index], Data);
      Add(TAB, Data);
    }
    Add(t[1], Data);
    if (!t[3].empty()) {
      Add(TAB, Data);
      Add(t[3], Data);
      if (!t[4].empty()) {
        Add(LF, Data);
        Add(t[4], Data);
      }
    } else if (!t[4].empty()) {
      Add(TAB, Data);
      Add(t[4], Data);
    }
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_CloseFiscBon(int32_t& AllReceipt, int32_t& FiscReceipt) {
  AllReceipt = FiscReceipt = 0;
  TCommand c = ReceiptCommand(cmdCloseFiscBon, {NoPaper, PrinterFault, NonFiscalOpen});
  c.Parse = [&](TAnswer& A) { ReadReceiptCounters(A, AllReceipt, FiscReceipt); };
  return RunCommand(c);
}

bool TBaseDevice::FPR_CancelFiscBon() { return RunCommand(ReceiptCommand(cmdCancelFiscBon, {NoPaper, PrinterFault})); }

bool TBaseDevice::FPR_PrintDuplicate() {
  TCommand c = ReceiptCommand(cmdPrintDuplicate, {NoPaper, FiscalOpen, NonFiscalOpen});
  Add('1', c.Data);
  // The printer refuses a second copy of the same receipt with S1.1.
  c.MapError = [](ECmdException& E) {
    if (E.Code == DeviceError::NotAllowedInMode) E.Code = DeviceError::OnlyOneCopy;
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_OpenNonFiscBon(int32_t& AllReceipt, int32_t& FiscReceipt) {
  AllReceipt = FiscReceipt = 0;
  TCommand c = ReceiptCommand(cmdOpenNonFiscBon, {NoPaper, PrinterFault, NonFiscalNotOpen, FiscalOpen, ClockNotSet});
  c.After = {NonFiscalOpenRefusal};
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(1);
    AllReceipt = A.Int32Field("[AllReceipt]");
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_PrintNonFiscText(const std::string& Text) {
  TCommand c = ReceiptCommand(cmdPrintNonFiscText, {NoPaper, PrinterFault});
  Add(Text, c.Data);
  return RunCommand(c);
}

bool TBaseDevice::FPR_CloseNonFiscBon(int32_t& AllReceipt) {
  AllReceipt = 0;
  TCommand c = ReceiptCommand(cmdCloseNonFiscBon, {NoPaper, PrinterFault});
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(1);
    AllReceipt = A.Int32Field("[AllReceipt]");
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_PrintBarcode(int32_t BarcodeType, const std::string& BarcodeData, bool Hri) {
  TCommand c = ReceiptCommand(cmdPrintBarcode, {NoPaper, PrinterFault});
  c.Build = [&](TDataBuffer& Data) {
    if (BarcodeType < 1 || BarcodeType > 6) throw ECmdException(DeviceError::InvalidInput, "[BarcodeType]");
    AddInt(BarcodeType, Data);
    Add(Hri ? ',' : ';', Data);
    Add(BarcodeData, Data);
  };
  return RunCommand(c);
}

bool TBaseDevice::FPR_CloseOpenReceipts() {
  TDataBuffer status;
  if (!GetFPR_Status(true, status)) return false;
  int32_t allReceipt = 0, fiscReceipt = 0;

  if (IsStatusBitSet(status, StatusBit::FiscalOpen)) {
    FPR_CancelFiscBon();  // refused when the receipt can no longer be cancelled
    // Only a fresh status shows whether the receipt is gone; when it cannot be read,
    // nothing confirms it, and the read's failure is the answer.
    if (!GetFPR_Status(true, status)) return false;
    if (!IsStatusBitSet(status, StatusBit::FiscalOpen)) return true;
    if (FPR_CloseFiscBon(allReceipt, fiscReceipt)) return true;
    return FPR_CancelAllRec();
  }
  if (IsStatusBitSet(status, StatusBit::NonFiscalOpen)) return FPR_CloseNonFiscBon(allReceipt);
  return true;
}

bool TBaseDevice::FPR_CancelAllRec() {
  auto failed = [this] {
    FErrorText = kTagCancelAllRecFailed + FErrorText;
    return false;
  };
  int32_t allReceipt = 0, fiscReceipt = 0;

  bool isOpen = false, hasTender = false;
  int32_t itemsCount = 0;
  double amount = 0, tender = 0;
  // Without a tender field the receipt counts as not paid at all (Tender 0).
  if (!GetFPR_TransactionStatus(true, isOpen, itemsCount, amount, tender, hasTender)) return failed();
  if (!isOpen) return true;

  // Paid, or paid more than due (the printer gives the change): close it. The amounts come
  // in hundredths and are compared in hundredths.
  int64_t restCents = 0;
  try {
    restCents = WireHundredths(amount) - WireHundredths(tender);
  } catch (const std::exception& e) {  // sums beyond what hundredths can hold
    RecordError(e, TDataBuffer(), std::string());
    return failed();
  }
  if (restCents <= 0) return FPR_CloseFiscBon(allReceipt, fiscReceipt);
  const double rest = static_cast<double>(restCents) / 100;

  bool canVoid = false, isInvoice = false;
  double total = 0;
  if (!GetFPR_ReceiptTotal(canVoid, total, isInvoice)) return failed();
  if (canVoid && FPR_CancelFiscBon()) return true;

  // Pay the rest, give an invoice a placeholder buyer, and close; only the close counts.
  char paidCode = '\0';
  double amount2 = 0;
  FPR_Payment(std::string(), std::string(), 'P', rest, paidCode, amount2);
  if (isInvoice) {
    TClientData client;
    ClearClientData(client);
    client.Text[2] = "111111110";
    FPR_SetInvoiceClient(client);
  }
  if (FPR_CloseFiscBon(allReceipt, fiscReceipt)) return true;
  return failed();
}

}  // namespace fp
