// The receipt lifecycle of TMiravokFprn: StartBon, EndBon, VoidCurrentReciept, the refund
// data (SetRefundParams), the unique sale number (AddUniqueSellNom) and the invoice and
// credit-note number ranges.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "library/protocol/BaseDeviceCommands.h"
#include "library/automation/ConstUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/automation/MiravokFprnSales.h"
#include "library/automation/MiravokFprnUnit.h"
#include "library/protocol/OleDate.h"
#include "library/protocol/WireNumbers.h"

namespace fp {

namespace {

// The receipt types of StartBon.
enum : LONG {
  BonNonFiscal = 1,
  BonFiscal = 2,
  BonInvoice = 3,
  BonInvoice2 = 4,
  BonRefund = 5,
  BonCreditNote = 6,
};

bool IsInvoiceType(LONG BonType) { return BonType == BonInvoice || BonType == BonInvoice2; }

// A caller's text read as a signed 64-bit decimal number (blanks around it allowed).
bool TryReadInt64(const std::string& Text, int64_t& Value) {
  return ParseWireInteger(TrimControls(Text), Value);
}

int64_t ReadInt64Or0(const std::string& Text) {
  int64_t Value = 0;
  return TryReadInt64(Text, Value) ? Value : 0;
}

// A text of at most MaxLength characters.
std::string Cut(std::string Text, size_t MaxLength) {
  if (Text.size() > MaxLength) Text.resize(MaxLength);
  return Text;
}

// At least two and at most four decimals, "." as separator ("0.00##").
std::string AmountText2To4(double Value) {
  std::string S = FormatWireUpTo(Value, 4);
  const size_t Dot = S.find('.');
  if (Dot == std::string::npos) return S + ".00";
  if (S.size() - Dot - 1 < 2) S += '0';
  return S;
}

// The refund reason letter: 1 "O", 2 "R", 3 "T".
char RefundReasonCode(int32_t Reason) {
  switch (Reason) {
    case 1: return 'O';
    case 2: return 'R';
    case 3: return 'T';
    default:
      throw EAbort("Reason : \"" + std::to_string(Reason) + " is invalid. Valid values are 1,2 or 3.");
  }
}

// A caller's sale number: digits, Latin letters and "-" only, at least one character.
bool IsValidSellNo(const std::string& S) {
  for (char C : S) {
    const bool Ok = (C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '-';
    if (!Ok) throw EAbort("Invalid characters is sell nom.");
  }
  return !S.empty();
}

// Up to Max decimal digits from Pos; false when there is none.
bool ReadDigits(const std::string& S, size_t& Pos, size_t Max, int& Value) {
  const size_t Start = Pos;
  Value = 0;
  while (Pos < S.size() && Pos - Start < Max && S[Pos] >= '0' && S[Pos] <= '9')
    Value = Value * 10 + (S[Pos++] - '0');
  return Pos > Start;
}

// A date in day/month/year order with "/" between its parts, optionally followed by blanks
// and a time with ":" between hours, minutes and (optional) seconds. A year of one or two
// digits lies within 50 years before or after the current year.
bool ParseRefundDate(const std::string& Text, double& Value) {
  const std::string S = TrimControls(Text);
  size_t Pos = 0;
  int Day = 0, Month = 0, Year = 0;
  if (!ReadDigits(S, Pos, 2, Day) || Pos >= S.size() || S[Pos++] != '/') return false;
  if (!ReadDigits(S, Pos, 2, Month) || Pos >= S.size() || S[Pos++] != '/') return false;
  const size_t YearStart = Pos;
  if (!ReadDigits(S, Pos, 4, Year)) return false;
  if (Pos - YearStart <= 2) {
    TOleDateParts Now;
    const double Today = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
    if (!TryDecodeOleDateTime(Today, Now)) return false;
    const int Base = Now.Year - 50;
    Year += Base / 100 * 100;
    if (Year < Base) Year += 100;
  }
  int Hour = 0, Minute = 0, Second = 0;
  if (Pos < S.size()) {
    if (S[Pos] != ' ') return false;
    while (Pos < S.size() && S[Pos] == ' ') ++Pos;
    if (!ReadDigits(S, Pos, 2, Hour) || Pos >= S.size() || S[Pos++] != ':') return false;
    if (!ReadDigits(S, Pos, 2, Minute)) return false;
    if (Pos < S.size()) {
      if (S[Pos++] != ':' || !ReadDigits(S, Pos, 2, Second)) return false;
    }
    if (Pos != S.size()) return false;
  }
  return TryEncodeOleDateTime(Year, Month, Day, Hour, Minute, Second, 0, Value);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Operations of the lifecycle

void TMiravokFprn::ResetReceiptData() {
  ClearFiskParam(FFiskParam);
  FRefundDataGiven = false;
  FSellNoGiven = false;
  FOpenedSellNo.clear();
}

void TMiravokFprn::ResetReceiptState() {
  FBonType = 0;
  FNonFiscalOpen = false;
  FReceiptTotal = 0;
  FPaidTotal = 0;
}

void TMiravokFprn::PrepareReceiptData(bool Refund) {
  // Only a refund or a credit note carries refund data; any other opening drops them, so
  // that they cannot reach a later receipt.
  if (!Refund) FRefundDataGiven = false;
  const TFiskParam Given = FFiskParam;
  ClearFiskParam(FFiskParam);
  if (FSellNoGiven) FFiskParam.UniqueSellNo = Given.UniqueSellNo;
  if (FRefundDataGiven) {
    FFiskParam.IsRefund = Given.IsRefund;
    FFiskParam.RefundFMNo = Given.RefundFMNo;
    FFiskParam.RefundReceiptNo = Given.RefundReceiptNo;
    FFiskParam.RefundReason = Given.RefundReason;
    FFiskParam.RefundDateTime = Given.RefundDateTime;
    FFiskParam.RefundInvoiceNo = Given.RefundInvoiceNo;
    FFiskParam.RefundFiscalNo = Given.RefundFiscalNo;
  }
}

void TMiravokFprn::UseUpReceiptData(const std::string& SellNo) {
  FSellNoGiven = false;
  FRefundDataGiven = false;
  FOpenedSellNo = SellNo;
}

namespace {

// The StartBon argument that fills text Index of the buyer block.
const char* BuyerArgumentName(size_t Index) {
  switch (Index) {
    case 0: return "InvCompany";
    case 1: return "InvVATNumber";
    case 2: return "InvTaxNumber";
    case 3: return "InvCity";
    case 4: return "InvAddress";
    case 6: return "InvReceiver";
    default: return "ClientData";
  }
}

}  // namespace

std::string TMiravokFprn::GenerateUniqueSellNo(int32_t LastDocNo, int32_t CashierNo) const {
  char Tail[64];
  std::snprintf(Tail, sizeof Tail, "-%4.4d-%7.7" PRId64, static_cast<int>(CashierNo),
                static_cast<int64_t>(LastDocNo) + 1);
  return FDiagnosticInfo.Text[6] + Tail;
}

void TMiravokFprn::UpdateInvoiceRange(int Kind, const std::string& Number) {
  const std::string Name = Kind != 0 ? "credit note" : "invoice";
  try {
    int64_t Start = 0, End = 0, Current = 0;
    Check(FDevice->GetFPR_InvoiceRange(Kind != 0, Start, End, Current));
    int64_t First = 0;
    // A number of 0 or less names no document (a receipt file without an invoice number
    // passes 0): it would make the printer issue number 0, so it is skipped like a text
    // that is no number.
    if (!TryReadInt64(Number, First) || First <= 0) {
      LogMessage("UpdateInvoiceRange. New " + Name + " num \"" + Number + "\"is invalid integer value ", LogInfo);
      return;
    }
    if (Current < End) {
      LogMessage("UpdateInvoiceRange. Cant't set new range for " + Name + ". Old range not exhausted", LogInfo);
      return;
    }
    // A range of two numbers that begins with the caller's number; a number at the very
    // top of the type is left to the printer's own check.
    int64_t Last = First < INT64_MAX ? First + 1 : First;
    Check(FDevice->SetFPR_InvoiceRange(Kind != 0, First, Last));
    LogMessage("New  range for " + Name + " added. From " + std::to_string(First) + " to " +
                   std::to_string(Last),
               LogInfo);
  } catch (const std::exception& E) {
    throw EAbort("Update new " + Name + " nom failed. " + E.what());
  }
}

// ---------------------------------------------------------------------------------------
// StartBon, EndBon, VoidCurrentReciept

HRESULT TMiravokFprn::StartBon(LONG BonType, LONG PLUNumbering, LONG CashierNo, BSTR CashierName,
                               BSTR CashierPass, LONG CashierPOS, BSTR InvNumber, BSTR InvTaxNumber,
                               BSTR InvVATNumber, BSTR InvCompany, BSTR InvCity, BSTR InvAddress,
                               BSTR InvMOL, BSTR InvReceiver, LONG* Res) {
  const std::string Name = BstrToAnsi(CashierName);
  const std::string Pass = BstrToAnsi(CashierPass);
  const std::string Number = BstrToAnsi(InvNumber);
  const std::string TaxNumber = BstrToAnsi(InvTaxNumber);
  const std::string VatNumber = BstrToAnsi(InvVATNumber);
  const std::string Company = BstrToAnsi(InvCompany);
  const std::string City = BstrToAnsi(InvCity);
  const std::string Address = BstrToAnsi(InvAddress);
  const std::string Mol = BstrToAnsi(InvMOL);
  const std::string Receiver = BstrToAnsi(InvReceiver);
  // The password is masked: a log file must not give it away.
  const std::string Line =
      "StartBon. BonType=" + std::to_string(BonType) + " CashierName=" + QuotedStr(Name) +
      " CashierPass=" + QuotedStr(MaskPassword(Pass)) + " CashierPOS=" + QuotedStr(std::to_string(CashierPOS)) +
      " CashierNo=" + QuotedStr(std::to_string(CashierNo)) + " InvNumber=" + QuotedStr(Number) +
      " InvTaxNumber=" + QuotedStr(TaxNumber) + " InvVATNumber=" + QuotedStr(VatNumber) +
      " InvCompany=" + QuotedStr(Company) + " InvCity=" + QuotedStr(City) +
      " InvAddress=" + QuotedStr(Address) + " InvMOL=" + QuotedStr(Mol) +
      " InvReceiver=" + QuotedStr(Receiver);

  return RunMethod(
      Res, "StartBon", Line,
      [&] {
        FReceiptTotal = FPaidTotal = FLastPrice = FLastQuantity = 0;
        FNonFiscalOpen = false;
        FLastVATGroup = 1;
        FPLUNumbering = PLUNumbering != 0;

        const std::string* Buyer[7] = {&Company, &VatNumber, &TaxNumber, &City, &Address, &Mol, &Receiver};
        for (size_t I = 0; I < 7; ++I) FClientData.Text[I] = Cut(*Buyer[I], TClientData::MaxLength);
        FClientData.Text[7].clear();
        FClientData.Text[8].clear();

        const bool Refund = BonType == BonRefund || BonType == BonCreditNote;
        PrepareReceiptData(Refund);

        CheckConnected();

        std::string OperName = Name;
        if (OperName.empty()) {
          GetReceiptText(1, OperName);
          OperName += " " + std::to_string(CashierNo);
        }
        if (FLineLength > 0) OperName = Cut(OperName, FLineLength);

        // Arguments the printer cannot take are refused before anything is sent. The
        // password goes into the opening only without the ONLINE mode (2 to 4); elsewhere
        // only the operator step below carries it, which passes over a password it cannot
        // send.
        const bool ExOpening = FOnline && BonType >= BonFiscal && BonType <= BonCreditNote;
        const bool PasswordOpening = !FOnline && BonType >= BonFiscal && BonType <= BonInvoice2;
        CheckUnsignedArgument(CashierNo, UINT16_MAX, "CashierNo");
        if (PasswordOpening) {
          int32_t Number = 0;
          CheckTextArgument(TTextField::OperatorPassword, Pass, "CashierPass");
          if (!Pass.empty() && !device_commands::ParseInt32(Pass, Number)) RaiseInvalidArgument("CashierPass");
        }
        if (ExOpening) CheckTextArgument(TTextField::ExOperName, OperName, "CashierName");
        if (IsInvoiceType(BonType) || BonType == BonCreditNote) {
          if (const TBuyerText* Bad = ShiftingBuyerText(FClientData))
            RaiseInvalidArgument(BuyerArgumentName(Bad->Index));
        }
        if (Refund) {
          if (!FOnline) throw EAbort("Refund not supported.");
          // Without refund data the extended opening would open a sale.
          if (!FRefundDataGiven) RaiseInvalidArgument("RefundParams");
        }

        CheckPrinterStatus();

        // A receipt the printer still has open is closed or cancelled first.
        if (IsAnyReceiptOpen(FStatusBytes))
          Check(FDevice->FPR_CloseOpenReceipts(), LogTag::CancelRec);

        if (FOnline) {
          int32_t LastDocNo = 0;
          Check(FDevice->GetFPR_LastDocNumber(LastDocNo));
          FFiskParam.OperNo = CashierNo;
          FFiskParam.OperName = OperName;
          if (!FSellNoGiven || TrimControls(FFiskParam.UniqueSellNo).empty())
            FFiskParam.UniqueSellNo = GenerateUniqueSellNo(LastDocNo, CashierNo);
          FFiskParam.IsInvoice = IsInvoiceType(BonType);
          FFiskParam.InvoiceNo = IsInvoiceType(BonType) ? ReadInt64Or0(Number) : 0;
        }

        if (IsInvoiceType(BonType)) UpdateInvoiceRange(0, Number);
        if (BonType == BonCreditNote) UpdateInvoiceRange(1, Number);

        const std::string ExTag = LogTag::OpenFiscBonEx;
        if (ExOpening) {
          // What the extended opening would refuse before sending is refused here, before
          // the operator step sends anything.
          TDataBuffer Data;
          try {
            TBaseDevice::BuildOpenFiscBonExData(FFiskParam, Data);
          } catch (const ECmdException& E) {
            throw ECRException(E.Code, ExTag + TBaseDevice::ErrorCodeText(E.Code, E.Message));
          }
        }

        if (!FDevice->SetFPR_Operator(static_cast<uint16_t>(CashierNo), Pass, OperName))
          LogMessage("Set operator failed." + FDevice->FErrorText, LogInfo);

        int32_t AllReceipt = 0, FiscReceipt = 0;
        // Send is the opening command; an opening that went to the link uses up the data
        // given for it, whatever its answer.
        auto Open = [&](auto&& Send, const std::string& Tag, bool CarriesSellNo) {
          const uint32_t Before = FDevice->FChangingCommandsSent;
          const std::string SellNo = CarriesSellNo ? FFiskParam.UniqueSellNo : std::string();
          const bool Ok = Send();
          if (FDevice->FChangingCommandsSent != Before) UseUpReceiptData(SellNo);
          Check(Ok, Tag);
        };
        auto OpenEx = [&] {
          Open([&] { return FDevice->FPR_OpenFiscBonEx(FFiskParam, AllReceipt, FiscReceipt); }, ExTag, true);
        };
        auto OpenPlain = [&](bool Invoice, const std::string& Tag) {
          Open([&] {
            return FDevice->FPR_OpenFiscBon(static_cast<uint16_t>(CashierNo), Pass, CashierPOS, Invoice,
                                            AllReceipt, FiscReceipt);
          }, Tag, false);
        };
        switch (BonType) {
          case BonNonFiscal:
            Open([&] { return FDevice->FPR_OpenNonFiscBon(AllReceipt, FiscReceipt); }, "", false);
            FNonFiscalOpen = true;
            break;
          case BonFiscal:
            if (FOnline)
              OpenEx();
            else
              OpenPlain(false, "");
            break;
          case BonInvoice:
          case BonInvoice2:
            if (FOnline) {
              FFiskParam.IsInvoice = true;
              OpenEx();
            } else {
              OpenPlain(true, ExTag);
            }
            break;
          case BonRefund:
          case BonCreditNote:
            OpenEx();
            break;
          default:
            break;  // any other type opens nothing
        }
        if (BonType >= BonFiscal && BonType <= BonCreditNote) FNonFiscalOpen = false;

        FBonType = BonType;
        LogMessage("StartBon success. Bon type=" + std::to_string(BonType), LogInfo);
      },
      NoConnectionCheck);
}

HRESULT TMiravokFprn::EndBon(LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    BeginDeviceCall();
    ClearLastError();
    try {
      CheckConnected();
      CheckPrinterStatus();
      int32_t AllReceipt = 0, FiscReceipt = 0;
      if (FNonFiscalOpen) {
        Check(FDevice->FPR_CloseNonFiscBon(AllReceipt));
      } else {
        bool IsOpen = false, HasTender = false;
        int32_t Items = 0;
        double Amount = 0, Tender = 0;
        Check(FDevice->GetFPR_TransactionStatus(true, IsOpen, Items, Amount, Tender, HasTender));
        if (IsOpen) {
          // Without a tender field in the answer the payments cannot be judged here: the
          // printer's close decides.
          if (HasTender && AmountCents(Tender) < AmountCents(Amount)) UnderpaidCleanup(Amount, Tender);
          if (FBonType == BonInvoice || FBonType == BonInvoice2 || FBonType == BonCreditNote)
            Check(FDevice->FPR_SetInvoiceClient(FClientData));
          Check(FDevice->FPR_CloseFiscBon(AllReceipt, FiscReceipt));
          if (FPrintInvDublicate) {
            Check(FDevice->FPR_PrintDuplicate());
            LogMessage("Print receipt duplicate. /Receipt completed without error!/", LogInfo);
          }
          // The number the opening carried (none without the ONLINE mode): a number given
          // since, for the next receipt, is not this one's.
          FLastUniqueSellNo = FOpenedSellNo;
        }
      }
      LogMessage("Receipt completed", LogInfo);
      if (Res) *Res = 0;
    } catch (const std::exception& E) {
      FinishFailedEndBon(E);
      return;
    }
    ResetAfterEndBon();
  });
}

void TMiravokFprn::FinishFailedEndBon(const std::exception& E) {
  // The record comes first: the status read below replaces the device's error.
  try {
    SetLastErrorFrom(E, "EndBon failed", "");
  } catch (...) {
    if (!ReceiptStillOpen()) ResetAfterEndBon();
    throw;
  }
  if (!ReceiptStillOpen()) ResetAfterEndBon();
}

bool TMiravokFprn::ReceiptStillOpen() {
  // Without a link the object starts over, as before: Close has ended what the printer had
  // open, and a new initialisation resets the receipt anyway.
  if (!FDevice || !FDevice->IsConnected()) return false;
  // The link failed: the printer may well have the receipt still; it is not asked again.
  if (FLastErrorCode > 100 && FLastErrorCode < 200) return true;
  TDataBuffer Status;
  if (!FDevice->GetFPR_Status(true, Status)) return true;
  return IsAnyReceiptOpen(Status);
}

void TMiravokFprn::ResetAfterEndBon() {
  FReceiptTotal = 0;
  FPaidTotal = 0;
  FBonType = 0;
  ResetReceiptData();
}

void TMiravokFprn::UnderpaidCleanup(double Amount, double Tender) {
  // Whether the printer still lets the receipt be cancelled tells what the cleanup will
  // do with it: cancel it, or pay the rest in cash and close it.
  bool CanVoid = false, IsInvoice = false;
  double Total = 0;
  const bool Known = FDevice->GetFPR_ReceiptTotal(CanVoid, Total, IsInvoice);
  Check(FDevice->FPR_CloseOpenReceipts());
  std::string Done;
  if (!Known)
    Done = "cancelled or closed with the rest paid in cash";
  else if (CanVoid)
    Done = "cancelled";
  else
    Done = "closed with the rest of " + AmountText2To4(Amount - Tender) + " paid in cash";
  LogMessage("EndBon. Payments are not enough. The open receipt was " + Done + ".", LogInfo);
  throw ECRException(ErrNotInitialized, "Payments are not enough. TotalSum:" + AmountText2To4(Amount) +
                                            "; Tender:" + AmountText2To4(Tender) + ")");
}

HRESULT TMiravokFprn::VoidCurrentReciept(LONG* Res) {
  return RunMethod(Res, "VoidCurrentReciept failed", "VoidCurrentReciept..", [&] {
    Check(FDevice->FPR_CloseOpenReceipts());
    // The printer has no receipt open now: nor has the object (a receipt kept after a
    // failed EndBon included). Data given for the next receipt stay.
    ResetReceiptState();
    FOpenedSellNo.clear();
  });
}

// ---------------------------------------------------------------------------------------
// Refund data and the unique sale number

HRESULT TMiravokFprn::SetRefundParams(LONG FiscalBlock, LONG Reason, LONG RecieptNo, BSTR InvDate,
                                      BSTR InvoiceNom, LONG* Res) {
  const std::string Date = BstrToAnsi(InvDate);
  const std::string Invoice = BstrToAnsi(InvoiceNom);
  const std::string Line = "SetRefundParams. FiscalBlock: \"" + std::to_string(FiscalBlock) + "\", Reason: \"" +
                           std::to_string(Reason) + "\", \", InvDate: \"" + Date + "\", \", InvoiceNom: \"" +
                           Invoice + "\", \", RecieptNo: \"" + std::to_string(RecieptNo) + "\". ";
  return RunMethod(Res, "SetRefundParams failed", Line, [&] {
    // Every argument is checked before anything is stored, so that a refused call leaves
    // the refund data of the next receipt as they were.
    if (RecieptNo <= 0)
      throw EAbort("Reciept nom \"" + std::to_string(RecieptNo) + "\" is invalid .");
    // A fiscal memory number has digits only: -5 would go out as "-0000005".
    CheckUnsignedArgument(FiscalBlock, INT32_MAX, "FiscalBlock");
    double When = 0;
    if (!TrimControls(Date).empty()) {
      if (!ParseRefundDate(Date, When)) throw EAbort("Invoice date : \"" + Date + "\" is invalid.");
      LogMessage("Refund date:" + FormatOleDateTime("yyyy-mm-dd", When) + "T" +
                     FormatOleDateTime("hh:nn:ss", When),
                 LogInfo);
    }
    const char ReasonLetter = RefundReasonCode(Reason);

    char FmNo[32];
    std::snprintf(FmNo, sizeof FmNo, "%8.8d", static_cast<int>(FiscalBlock));
    FFiskParam.RefundFMNo = FmNo;
    FFiskParam.RefundReceiptNo = RecieptNo;
    FFiskParam.RefundReason = ReasonLetter;
    FFiskParam.RefundDateTime = When;
    FFiskParam.RefundInvoiceNo = ReadInt64Or0(Invoice);
    FFiskParam.RefundFiscalNo = FDiagnosticInfo.Text[7];
    FFiskParam.IsRefund = true;
    FRefundDataGiven = true;
  });
}

HRESULT TMiravokFprn::AddUniqueSellNom(BSTR SellNom, LONG* Res) {
  return Guard([&] {
    const std::string Number = BstrToAnsi(SellNom);
    LogMessage("AddUniqueSellNom.  New sell nom:  \"" + Number + "\". ", LogInfo);
    ClearLastError();
    try {
      CheckConnected();
      if (!IsValidSellNo(Number)) throw EAbort("Sell nom \"" + Number + "\" is invalid.");
      FFiskParam.UniqueSellNo = Number;
      FSellNoGiven = true;
    } catch (const std::exception& E) {
      // A refused number does not stop the receipt: StartBon makes one itself.
      LogMessage("AddUniqueSellNom. failed. \"" + std::string(E.what()) + "\". Program will generate one.", LogInfo);
      FFiskParam.UniqueSellNo.clear();
      FSellNoGiven = false;
    }
    if (Res) *Res = 0;
  });
}

}  // namespace fp
