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
bool TryReadInt64(const std::string& Text, int64_t& Value) { return ParseWireInteger(TrimControls(Text), Value); }

int64_t ReadInt64Or0(const std::string& Text) {
  int64_t value = 0;
  return TryReadInt64(Text, value) ? value : 0;
}

// A text of at most MaxLength characters.
std::string Cut(std::string Text, size_t MaxLength) {
  if (Text.size() > MaxLength) Text.resize(MaxLength);
  return Text;
}

// At least two and at most four decimals, "." as separator ("0.00##").
std::string AmountText2To4(double Value) {
  std::string s = FormatWireUpTo(Value, 4);
  const size_t dot = s.find('.');
  if (dot == std::string::npos) return s + ".00";
  if (s.size() - dot - 1 < 2) s += '0';
  return s;
}

// The refund reason letter: 1 "O", 2 "R", 3 "T".
char RefundReasonCode(int32_t Reason) {
  switch (Reason) {
    case 1: return 'O';
    case 2: return 'R';
    case 3: return 'T';
    default: throw EAbort("Reason : \"" + std::to_string(Reason) + " is invalid. Valid values are 1,2 or 3.");
  }
}

// A caller's sale number: digits, Latin letters and "-" only, at least one character.
bool IsValidSellNo(const std::string& S) {
  for (char c : S) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
    if (!ok) throw EAbort("Invalid characters is sell nom.");
  }
  return !S.empty();
}

// Up to Max decimal digits from Pos; false when there is none.
bool ReadDigits(const std::string& S, size_t& Pos, size_t Max, int& Value) {
  const size_t start = Pos;
  Value = 0;
  while (Pos < S.size() && Pos - start < Max && S[Pos] >= '0' && S[Pos] <= '9') Value = Value * 10 + (S[Pos++] - '0');
  return Pos > start;
}

// A date in day/month/year order with "/" between its parts, optionally followed by blanks
// and a time with ":" between hours, minutes and (optional) seconds. A year of one or two
// digits lies within 50 years before or after the current year.
bool ParseRefundDate(const std::string& Text, double& Value) {
  const std::string s = TrimControls(Text);
  size_t pos = 0;
  int day = 0, month = 0, year = 0;
  if (!ReadDigits(s, pos, 2, day) || pos >= s.size() || s[pos++] != '/') return false;
  if (!ReadDigits(s, pos, 2, month) || pos >= s.size() || s[pos++] != '/') return false;
  const size_t yearStart = pos;
  if (!ReadDigits(s, pos, 4, year)) return false;
  if (pos - yearStart <= 2) {
    TOleDateParts now;
    const double today = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
    if (!TryDecodeOleDateTime(today, now)) return false;
    const int base = now.Year - 50;
    year += base / 100 * 100;
    if (year < base) year += 100;
  }
  int hour = 0, minute = 0, second = 0;
  if (pos < s.size()) {
    if (s[pos] != ' ') return false;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (!ReadDigits(s, pos, 2, hour) || pos >= s.size() || s[pos++] != ':') return false;
    if (!ReadDigits(s, pos, 2, minute)) return false;
    if (pos < s.size()) {
      if (s[pos++] != ':' || !ReadDigits(s, pos, 2, second)) return false;
    }
    if (pos != s.size()) return false;
  }
  return TryEncodeOleDateTime(year, month, day, hour, minute, second, 0, Value);
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
  const TFiskParam given = FFiskParam;
  ClearFiskParam(FFiskParam);
  if (FSellNoGiven) FFiskParam.UniqueSellNo = given.UniqueSellNo;
  if (FRefundDataGiven) {
    FFiskParam.IsRefund = given.IsRefund;
    FFiskParam.RefundFMNo = given.RefundFMNo;
    FFiskParam.RefundReceiptNo = given.RefundReceiptNo;
    FFiskParam.RefundReason = given.RefundReason;
    FFiskParam.RefundDateTime = given.RefundDateTime;
    FFiskParam.RefundInvoiceNo = given.RefundInvoiceNo;
    FFiskParam.RefundFiscalNo = given.RefundFiscalNo;
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
  char tail[64];
  std::snprintf(tail, sizeof tail, "-%4.4d-%7.7" PRId64, static_cast<int>(CashierNo),
                static_cast<int64_t>(LastDocNo) + 1);
  return FDiagnosticInfo.Text[6] + tail;
}

void TMiravokFprn::UpdateInvoiceRange(int Kind, const std::string& Number) {
  const std::string name = Kind != 0 ? "credit note" : "invoice";
  try {
    int64_t start = 0, end = 0, current = 0;
    Check(FDevice->GetFPR_InvoiceRange(Kind != 0, start, end, current));
    int64_t first = 0;
    // A number of 0 or less names no document (a receipt file without an invoice number
    // passes 0): it would make the printer issue number 0, so it is skipped like a text
    // that is no number.
    if (!TryReadInt64(Number, first) || first <= 0) {
      LogMessage("UpdateInvoiceRange. New " + name + " num \"" + Number + "\"is invalid integer value ", LogInfo);
      return;
    }
    if (current < end) {
      LogMessage("UpdateInvoiceRange. Cant't set new range for " + name + ". Old range not exhausted", LogInfo);
      return;
    }
    // A range of two numbers that begins with the caller's number; a number at the very
    // top of the type is left to the printer's own check.
    int64_t last = first < INT64_MAX ? first + 1 : first;
    Check(FDevice->SetFPR_InvoiceRange(Kind != 0, first, last));
    LogMessage("New  range for " + name + " added. From " + std::to_string(first) + " to " + std::to_string(last),
               LogInfo);
  } catch (const std::exception& e) {
    throw EAbort("Update new " + name + " nom failed. " + e.what());
  }
}

// ---------------------------------------------------------------------------------------
// StartBon, EndBon, VoidCurrentReciept

HRESULT TMiravokFprn::StartBon(LONG BonType, LONG PLUNumbering, LONG CashierNo, BSTR CashierName, BSTR CashierPass,
                               LONG CashierPOS, BSTR InvNumber, BSTR InvTaxNumber, BSTR InvVATNumber, BSTR InvCompany,
                               BSTR InvCity, BSTR InvAddress, BSTR InvMOL, BSTR InvReceiver, LONG* Res) {
  const std::string name = BstrToAnsi(CashierName);
  const std::string pass = BstrToAnsi(CashierPass);
  const std::string number = BstrToAnsi(InvNumber);
  const std::string taxNumber = BstrToAnsi(InvTaxNumber);
  const std::string vatNumber = BstrToAnsi(InvVATNumber);
  const std::string company = BstrToAnsi(InvCompany);
  const std::string city = BstrToAnsi(InvCity);
  const std::string address = BstrToAnsi(InvAddress);
  const std::string mol = BstrToAnsi(InvMOL);
  const std::string receiver = BstrToAnsi(InvReceiver);
  // The password is masked: a log file must not give it away.
  const std::string line =
      "StartBon. BonType=" + std::to_string(BonType) + " CashierName=" + QuotedStr(name) +
      " CashierPass=" + QuotedStr(MaskPassword(pass)) + " CashierPOS=" + QuotedStr(std::to_string(CashierPOS)) +
      " CashierNo=" + QuotedStr(std::to_string(CashierNo)) + " InvNumber=" + QuotedStr(number) +
      " InvTaxNumber=" + QuotedStr(taxNumber) + " InvVATNumber=" + QuotedStr(vatNumber) +
      " InvCompany=" + QuotedStr(company) + " InvCity=" + QuotedStr(city) + " InvAddress=" + QuotedStr(address) +
      " InvMOL=" + QuotedStr(mol) + " InvReceiver=" + QuotedStr(receiver);

  return RunMethod(
      Res, "StartBon", line,
      [&] {
        FReceiptTotal = FPaidTotal = FLastPrice = FLastQuantity = 0;
        FNonFiscalOpen = false;
        FLastVATGroup = 1;
        FPLUNumbering = PLUNumbering != 0;

        const std::string* buyer[7] = {&company, &vatNumber, &taxNumber, &city, &address, &mol, &receiver};
        for (size_t i = 0; i < 7; ++i) FClientData.Text[i] = Cut(*buyer[i], TClientData::MaxLength);
        FClientData.Text[7].clear();
        FClientData.Text[8].clear();

        const bool refund = BonType == BonRefund || BonType == BonCreditNote;
        PrepareReceiptData(refund);

        CheckConnected();

        std::string operName = name;
        if (operName.empty()) {
          GetReceiptText(1, operName);
          operName += " " + std::to_string(CashierNo);
        }
        if (FLineLength > 0) operName = Cut(operName, FLineLength);

        // Arguments the printer cannot take are refused before anything is sent. The
        // password goes into the opening only without the ONLINE mode (2 to 4); elsewhere
        // only the operator step below carries it, which passes over a password it cannot
        // send.
        const bool exOpening = FOnline && BonType >= BonFiscal && BonType <= BonCreditNote;
        const bool passwordOpening = !FOnline && BonType >= BonFiscal && BonType <= BonInvoice2;
        CheckUnsignedArgument(CashierNo, UINT16_MAX, "CashierNo");
        if (passwordOpening) {
          int32_t passwordValue = 0;
          CheckTextArgument(TTextField::OperatorPassword, pass, "CashierPass");
          if (!pass.empty() && !device_commands::ParseInt32(pass, passwordValue)) RaiseInvalidArgument("CashierPass");
        }
        if (exOpening) CheckTextArgument(TTextField::ExOperName, operName, "CashierName");
        if (IsInvoiceType(BonType) || BonType == BonCreditNote) {
          if (const TBuyerText* bad = ShiftingBuyerText(FClientData))
            RaiseInvalidArgument(BuyerArgumentName(bad->Index));
        }
        if (refund) {
          if (!FOnline) throw EAbort("Refund not supported.");
          // Without refund data the extended opening would open a sale.
          if (!FRefundDataGiven) RaiseInvalidArgument("RefundParams");
        }

        CheckPrinterStatus();

        // A receipt the printer still has open is closed or cancelled first.
        if (IsAnyReceiptOpen(FStatusBytes)) Check(FDevice->FPR_CloseOpenReceipts(), LogTag::CancelRec);

        if (FOnline) {
          int32_t lastDocNo = 0;
          Check(FDevice->GetFPR_LastDocNumber(lastDocNo));
          FFiskParam.OperNo = CashierNo;
          FFiskParam.OperName = operName;
          if (!FSellNoGiven || TrimControls(FFiskParam.UniqueSellNo).empty())
            FFiskParam.UniqueSellNo = GenerateUniqueSellNo(lastDocNo, CashierNo);
          FFiskParam.IsInvoice = IsInvoiceType(BonType);
          FFiskParam.InvoiceNo = IsInvoiceType(BonType) ? ReadInt64Or0(number) : 0;
        }

        if (IsInvoiceType(BonType)) UpdateInvoiceRange(0, number);
        if (BonType == BonCreditNote) UpdateInvoiceRange(1, number);

        const std::string exTag = LogTag::OpenFiscBonEx;
        if (exOpening) {
          // What the extended opening would refuse before sending is refused here, before
          // the operator step sends anything.
          TDataBuffer data;
          try {
            TBaseDevice::BuildOpenFiscBonExData(FFiskParam, data);
          } catch (const ECmdException& e) {
            throw ECRException(e.Code, exTag + TBaseDevice::ErrorCodeText(e.Code, e.Message));
          }
        }

        if (!FDevice->SetFPR_Operator(static_cast<uint16_t>(CashierNo), pass, operName))
          LogMessage("Set operator failed." + FDevice->FErrorText, LogInfo);

        int32_t allReceipt = 0, fiscReceipt = 0;
        // Send is the opening command; an opening that went to the link uses up the data
        // given for it, whatever its answer.
        auto open = [&](auto&& Send, const std::string& Tag, bool CarriesSellNo) {
          const uint32_t before = FDevice->FChangingCommandsSent;
          const std::string sellNo = CarriesSellNo ? FFiskParam.UniqueSellNo : std::string();
          const bool ok = Send();
          if (FDevice->FChangingCommandsSent != before) UseUpReceiptData(sellNo);
          Check(ok, Tag);
        };
        auto openEx = [&] {
          open([&] { return FDevice->FPR_OpenFiscBonEx(FFiskParam, allReceipt, fiscReceipt); }, exTag, true);
        };
        auto openPlain = [&](bool Invoice, const std::string& Tag) {
          open(
              [&] {
                return FDevice->FPR_OpenFiscBon(static_cast<uint16_t>(CashierNo), pass, CashierPOS, Invoice, allReceipt,
                                                fiscReceipt);
              },
              Tag, false);
        };
        switch (BonType) {
          case BonNonFiscal:
            open([&] { return FDevice->FPR_OpenNonFiscBon(allReceipt, fiscReceipt); }, "", false);
            FNonFiscalOpen = true;
            break;
          case BonFiscal:
            if (FOnline)
              openEx();
            else
              openPlain(false, "");
            break;
          case BonInvoice:
          case BonInvoice2:
            if (FOnline) {
              FFiskParam.IsInvoice = true;
              openEx();
            } else {
              openPlain(true, exTag);
            }
            break;
          case BonRefund:
          case BonCreditNote: openEx(); break;
          default: break;  // any other type opens nothing
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
      int32_t allReceipt = 0, fiscReceipt = 0;
      if (FNonFiscalOpen) {
        Check(FDevice->FPR_CloseNonFiscBon(allReceipt));
      } else {
        bool isOpen = false, hasTender = false;
        int32_t items = 0;
        double amount = 0, tender = 0;
        Check(FDevice->GetFPR_TransactionStatus(true, isOpen, items, amount, tender, hasTender));
        if (isOpen) {
          // Without a tender field in the answer the payments cannot be judged here: the
          // printer's close decides.
          if (hasTender && AmountCents(tender) < AmountCents(amount)) UnderpaidCleanup(amount, tender);
          if (FBonType == BonInvoice || FBonType == BonInvoice2 || FBonType == BonCreditNote)
            Check(FDevice->FPR_SetInvoiceClient(FClientData));
          Check(FDevice->FPR_CloseFiscBon(allReceipt, fiscReceipt));
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
    } catch (const std::exception& e) {
      FinishFailedEndBon(e);
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
  TDataBuffer status;
  if (!FDevice->GetFPR_Status(true, status)) return true;
  return IsAnyReceiptOpen(status);
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
  bool canVoid = false, isInvoice = false;
  double total = 0;
  const bool known = FDevice->GetFPR_ReceiptTotal(canVoid, total, isInvoice);
  Check(FDevice->FPR_CloseOpenReceipts());
  std::string done;
  if (!known)
    done = "cancelled or closed with the rest paid in cash";
  else if (canVoid)
    done = "cancelled";
  else
    done = "closed with the rest of " + AmountText2To4(Amount - Tender) + " paid in cash";
  LogMessage("EndBon. Payments are not enough. The open receipt was " + done + ".", LogInfo);
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

HRESULT TMiravokFprn::SetRefundParams(LONG FiscalBlock, LONG Reason, LONG RecieptNo, BSTR InvDate, BSTR InvoiceNom,
                                      LONG* Res) {
  const std::string date = BstrToAnsi(InvDate);
  const std::string invoice = BstrToAnsi(InvoiceNom);
  const std::string line = "SetRefundParams. FiscalBlock: \"" + std::to_string(FiscalBlock) + "\", Reason: \"" +
                           std::to_string(Reason) + "\", \", InvDate: \"" + date + "\", \", InvoiceNom: \"" + invoice +
                           "\", \", RecieptNo: \"" + std::to_string(RecieptNo) + "\". ";
  return RunMethod(Res, "SetRefundParams failed", line, [&] {
    // Every argument is checked before anything is stored, so that a refused call leaves
    // the refund data of the next receipt as they were.
    if (RecieptNo <= 0) throw EAbort("Reciept nom \"" + std::to_string(RecieptNo) + "\" is invalid .");
    // A fiscal memory number has digits only: -5 would go out as "-0000005".
    CheckUnsignedArgument(FiscalBlock, INT32_MAX, "FiscalBlock");
    double when = 0;
    if (!TrimControls(date).empty()) {
      if (!ParseRefundDate(date, when)) throw EAbort("Invoice date : \"" + date + "\" is invalid.");
      LogMessage("Refund date:" + FormatOleDateTime("yyyy-mm-dd", when) + "T" + FormatOleDateTime("hh:nn:ss", when),
                 LogInfo);
    }
    const char reasonLetter = RefundReasonCode(Reason);

    char fmNo[32];
    std::snprintf(fmNo, sizeof fmNo, "%8.8d", static_cast<int>(FiscalBlock));
    FFiskParam.RefundFMNo = fmNo;
    FFiskParam.RefundReceiptNo = RecieptNo;
    FFiskParam.RefundReason = reasonLetter;
    FFiskParam.RefundDateTime = when;
    FFiskParam.RefundInvoiceNo = ReadInt64Or0(invoice);
    FFiskParam.RefundFiscalNo = FDiagnosticInfo.Text[7];
    FFiskParam.IsRefund = true;
    FRefundDataGiven = true;
  });
}

HRESULT TMiravokFprn::AddUniqueSellNom(BSTR SellNom, LONG* Res) {
  return Guard([&] {
    const std::string number = BstrToAnsi(SellNom);
    LogMessage("AddUniqueSellNom.  New sell nom:  \"" + number + "\". ", LogInfo);
    ClearLastError();
    try {
      CheckConnected();
      if (!IsValidSellNo(number)) throw EAbort("Sell nom \"" + number + "\" is invalid.");
      FFiskParam.UniqueSellNo = number;
      FSellNoGiven = true;
    } catch (const std::exception& e) {
      // A refused number does not stop the receipt: StartBon makes one itself.
      LogMessage("AddUniqueSellNom. failed. \"" + std::string(e.what()) + "\". Program will generate one.", LogInfo);
      FFiskParam.UniqueSellNo.clear();
      FSellNoGiven = false;
    }
    if (Res) *Res = 0;
  });
}

}  // namespace fp
