// Performing a read receipt file on the automation object, and the lines of its report
// file.
#include "program/receipts/uECRFileReader.h"

#include <QElapsedTimer>

#include <cmath>

#include "program/receipts/uECRFileReaderTags.h"
#include "platform/Cp1251.h"

namespace fp {

using namespace uECRFileReader;

namespace {

std::string Amount(double v) { return FormatFixed(v, 1, 2); }

// The step of each kind of record, for std::visit.
template <class... F>
struct TOverloaded : F... {
  using F::operator()...;
};
template <class... F>
TOverloaded(F...) -> TOverloaded<F...>;

}  // namespace

void TECRFileReader::SendIrrevocable(bool& sent, const std::function<int32_t()>& call) {
  const bool before = sent;
  sent = true;
  const int32_t res = call();
  if (res != 0 && !before) {
    bool refused = false;
    try {
      refused = TFileProgress::RefusedBeforeSending(FFprn.LastErrorCode());
    } catch (const std::exception&) {
      // Without the code the call may have reached the printer.
    }
    if (refused) sent = false;
  }
  CheckRes(res);
}

TECRFileReader::TBonStatus TECRFileReader::ReadRecieptStatus() {
  ComPtr<IBonData> bon = FFprn.GetRecieptStatus();
  CheckErrorCode();
  if (!bon) Fail("No receipt status");
  TBonStatus status;
  OleCheck(bon->get_TotalAmount(&status.TotalAmount));
  OleCheck(bon->get_PayedAmount(&status.PayedAmount));
  BStr doc;
  OleCheck(bon->get_DocNumber(doc.Out()));
  status.DocNumber = WideToCp1251(doc.View());
  LONG open = 0;
  OleCheck(bon->get_IsOpen(&open));
  status.IsOpen = open != 0;
  return status;
}

bool TECRFileReader::WantStatusBeforeOpening(bool reports) const {
  return reports || (FStatusBeforeOpening && FStatusBeforeOpening());
}

void TECRFileReader::ReadStatusBeforeOpening() {
  const TBonStatus status = ReadRecieptStatus();
  FBeforeOpening = TStatusBeforeOpening{true, status.IsOpen, status.TotalAmount, status.PayedAmount};
}

bool TECRFileReader::PrintPluList() {
  QElapsedTimer timer;
  timer.start();
  FProgress = TFileProgress();
  FBeforeOpening = TStatusBeforeOpening();
  FUniqueSellNoGiven = false;
  try {
    if (FCommands.empty()) Fail("Not found valid commands.");
    const bool comment = !FHasSales && !FIsReportFile && FTextLineCount > 0;
    if (FHasSales) {
      CheckRefundPayments();
      FUpdatePluDataInPrinter();
      OpenReceipt();
    } else if (comment) {
      OpenComentReceipt();
    }

    // Each record's step; a status query is the file's only record and ends the list.
    for (const TCommand& command : FCommands) {
      const bool last = std::visit(TOverloaded{
                                       [this](const TPluObject& c) {
                                         PrintPlu(c);
                                         return false;
                                       },
                                       [this](const TDiscountObject& c) {
                                         PrintDiscount(c);
                                         return false;
                                       },
                                       [this](const TLineObject& c) {
                                         PrintLine(c);
                                         return false;
                                       },
                                       [this](const TPaymentObject& c) {
                                         PrintPayment(c);
                                         return false;
                                       },
                                       [this](const TCopyBon& c) {
                                         PrintCopy(c);
                                         return false;
                                       },
                                       [this](const TInOutAmount& c) {
                                         PrintInOutAmount(c);
                                         return false;
                                       },
                                       [this](const TReportObject& c) {
                                         PrintReportObj(c);
                                         return false;
                                       },
                                       [this](const TStatusObject& c) {
                                         PrintStatusObj(c);
                                         return true;
                                       },
                                       // The invoice's data go with the receipt's opening.
                                       [](const TInvoiceObject&) { return false; },
                                   },
                                   command);
      if (last) break;
    }

    std::string autopaid;
    if (FHasSales) {
      const TBonStatus status = ReadRecieptStatus();
      if (!HasPayments()) Log("Not payments found.");
      // Whole cents only: the difference of sums in floating point leaves a trace of
      // noise on a receipt that is paid.
      const int64_t rest = RoundCents(status.TotalAmount - status.PayedAmount);
      if (rest >= 1) {
        const double amount = static_cast<double>(rest) / 100.0;
        SendIrrevocable(FProgress.PaymentSent,
                        [&] { return FFprn.AddPayment(FAutoPayType >= 1 ? FAutoPayType : 1, "", amount, 1); });
        autopaid = "Amount autopaid : " + Amount(amount);
        Log(autopaid);
      }
    }

    if (FHasSales && FRepDetailPrint) {
      ComPtr<IBonData> bon = FFprn.GetRecieptStatus();
      if (!bon || FFprn.LastErrorCode() != 0) {
        // Without the status there is nothing to write; the receipt still closes.
        Log(std::string(Tag::PrintPluList) + "Before close line skipped: " + FFprn.LastErrorMessage());
      } else {
        double total = 0, payed = 0;
        OleCheck(bon->get_TotalAmount(&total));
        OleCheck(bon->get_PayedAmount(&payed));
        std::string line =
            autopaid + " Before close - Total:" + FormatFixed(payed, 7, 2) + " EcrTotal:" + FormatFixed(total, 7, 2);
        if (payed > 0)
          line += " Difference:" + FormatFixed(std::fabs(1 - total / payed) * 100, 6, 2) + "%";
        else
          line += " Difference: 0%";
        Log(line);
        AddRepLine(line);
      }
    }

    if (FHasSales || comment) {
      CloseReciept();
      AddRepLine("Close");
    }
    Log(std::string(Tag::PrintPluList) + "Durration: " + Number(timer.elapsed()));
    return true;
  } catch (const std::exception& e) {
    AddRepLine(std::string("[ERROR]") + e.what());
    LogError(std::string(Tag::PrintPluList) + e.what());
    // The library keeps a given sale number for a retried opening when the failed one never
    // reached the printer; this file is done, so its number must not open the next file's
    // receipt (nor be used twice when this file is sent again).
    if (FUniqueSellNoGiven) FFprn.AddUniqueSellNom("");
    return false;
  }
}

void TECRFileReader::CheckRefundPayments() const {
  if (!RefundMode()) return;
  for (const TCommand& c : FCommands)
    if (auto* payment = std::get_if<TPaymentObject>(&c); payment && payment->PayType != 1)
      Fail("Refund is possible only for pay in cash.");
}

void TECRFileReader::FUpdatePluDataInPrinter() {
  Tagged("[FUpdatePluDataInPrinter]", [&] {
    for (const TCommand& c : FCommands) {
      const auto* plu = std::get_if<TPluObject>(&c);
      if (!plu) continue;
      const int32_t n = StrToIntDef(plu->Number, -1);
      if (n <= 0 || n >= 30000) {
        Log("[Info]Cant' program plu in printer. Plu \"" + plu->Name + "\" has invalid number.");
        continue;
      }
      TProgPluData data;
      data.PluNo = n;
      int8_t group = static_cast<int8_t>(data.GrpNo);
      // An article the printer does not have comes back as a failure carrying the printer's
      // answer "F" (203): it is programmed, in group 1. Any other failure ends the file.
      const int32_t read = FFprn.GetPLUData(n, data.TaxGrp, group, data.UnitPrice, data.TotalSum, data.SoldQtty,
                                            data.AvailQtty, data.Name);
      const bool missing = read != 0 && FFprn.LastErrorCode() == 203 && Trim(FFprn.LastErrorMessage()).ends_with("#F");
      if (!missing) CheckRes(read);
      // The interface hands the group back as a signed byte: groups 128 to 255 come back
      // negative and must be written back as they are. Groups above 255 cannot pass that
      // byte at all; the printer's low 8 bits are all that can be kept.
      data.GrpNo = missing ? 1 : static_cast<uint8_t>(group);
      const bool differs = missing || UpperCp1251(plu->Name) != UpperCp1251(data.Name) ||
                           RoundCents(plu->Price) != RoundCents(data.UnitPrice) || plu->VatGroup != data.TaxGrp;
      if (differs) CheckRes(FFprn.SetPluData(n, plu->VatGroup, data.GrpNo, plu->Price, plu->Name));
    }
  });
}

void TECRFileReader::OpenReceipt() {
  QElapsedTimer timer;
  timer.start();
  Tagged(Tag::OpenReceipt, [&] {
    TInvoiceObject* invoice = FindInvoice();
    std::string nextInvoice;
    if (WantStatusBeforeOpening(FRepDetailPrint)) ReadStatusBeforeOpening();
    if (FRepDetailPrint) {
      nextInvoice = FFprn.GetNextInvoiceNumber();
      CheckErrorCode();
      AddRepLine("No Ecr:" + FSerialNo);
      AddRepLine("No MFP:" + FFiscalNo);
      AddRepLine("No Inv:" + nextInvoice);
    }
    AddRepLine(FOperatorLine);
    auto uniqueSale = [&] {
      if (FUniqueSellNo.empty()) return;
      AddRepLine("#U" + FUniqueSellNo);
      FUniqueSellNoGiven = true;
      CheckRes(FFprn.AddUniqueSellNom(FUniqueSellNo));
    };
    if (invoice) {
      if (invoice->InvoiceNo == 0) {
        int64_t next = 0;
        if (TryStrToInt64(nextInvoice, next)) invoice->InvoiceNo = next;
      }
      AddRepLine("#F");
      AddRepLine(invoice->RawLines);
      uniqueSale();
      int32_t bonType = 4;
      if (RefundMode()) {
        SendRefundParams();
        bonType = 6;
      }
      CheckRes(FFprn.StartBon(bonType, 1, FCashierNo, FCashierName, FCashierPass, FCashierPOS,
                              Number(invoice->InvoiceNo), invoice->TaxNumber, invoice->VatNumber, invoice->FirmName,
                              invoice->Town, invoice->Address, invoice->Mol, invoice->Customer));
      FProgress.Opened = true;
    } else {
      uniqueSale();
      SendRefundParams();
      CheckRes(FFprn.StartBon(RefundMode() ? 5 : 2, 1, FCashierNo, FCashierName, FCashierPass, FCashierPOS, "", "", "",
                              "", "", "", "", ""));
      FProgress.Opened = true;
    }
    Log(std::string(Tag::OpenReceipt) + "Durration: " + Number(timer.elapsed()));
  });
}

void TECRFileReader::SendRefundParams() {
  if (!RefundMode()) return;
  const TRefundParam& p = FRefundParam;
  std::string line = "#Q" + Number(p.Reason) + "," + Number(p.ReceiptNo) + "," + Number(p.FiscalMemoryNo) + ",";
  if (!Trim(p.InvoiceNo).empty()) line += "," + p.InvoiceNo;
  if (!Trim(p.InvoiceDate).empty()) line += "," + p.InvoiceDate;
  AddRepLine(line);
  CheckRes(FFprn.SetRefundParams(p.FiscalMemoryNo, p.Reason, p.ReceiptNo, p.InvoiceDate, p.InvoiceNo));
}

void TECRFileReader::OpenComentReceipt() {
  QElapsedTimer timer;
  timer.start();
  Tagged(Tag::OpenComentReceipt, [&] {
    if (WantStatusBeforeOpening(FRepFilePrint)) ReadStatusBeforeOpening();
    if (FRepFilePrint) {
      AddRepLine("No Ecr:" + FSerialNo);
      AddRepLine("No MFP:" + FFiscalNo);
      AddRepLine("No Inv:" + Number(FNextInvoiceNo));
    }
    CheckRes(FFprn.StartBon(1, 1, FCashierNo, FCashierName, FCashierPass, FCashierPOS, "", "", "", "", "", "", "", ""));
    FProgress.Opened = FProgress.NonFiscal = true;
    Log(std::string(Tag::OpenComentReceipt) + "Durration: " + Number(timer.elapsed()));
  });
}

void TECRFileReader::CloseReciept() {
  Tagged("[CloseReciept]", [&] {
    // A closing that went out may have closed the receipt, whatever came back.
    SendIrrevocable(FProgress.ClosingSent, [&] { return FFprn.EndBon(); });
    FProgress.Closed = true;
    if (FRepDetailPrint) {
      const TBonStatus status = ReadRecieptStatus();
      FRepLines.insert(FRepLines.begin(), "No Bon:" + status.DocNumber);
    }
    // The number belongs to the last fiscal receipt: a receipt without sales has none of
    // its own, and the printer would still report the one before.
    const std::string unique = FFprn.LastUniqueSellNo();
    if (!unique.empty() && FRepDetailPrint && FHasSales)
      FRepLines.insert(FRepLines.begin() + std::min<ptrdiff_t>(1, static_cast<ptrdiff_t>(FRepLines.size())),
                       "Unique sell num: " + unique);
  });
}

void TECRFileReader::AddREP_AddInfo() {
  if (!FRepDetailPrint) return;
  Tagged("[AddREP_AddInfo]", [&] { AddRepLine("Total:" + Amount(ReadRecieptStatus().TotalAmount)); });
}

void TECRFileReader::PrintPlu(const TPluObject& plu) {
  const std::string text = "PrintPlu: " + plu.RawLine + " --- ";
  Tagged("[PrintPlu]", [&] {
    AddRepLine(plu.RawLine);
    int32_t n = 0;
    if (FUsePluAsDepartNo && plu.Department > 0)
      CheckRes(FFprn.AddDeprtPlu(plu.Number, plu.Name, plu.Department, plu.Price, plu.Quantity, plu.VatGroup));
    else if (TryStrToInt(plu.Number, n) && n > 0 && plu.Department > 0 && plu.Price > 0)
      CheckRes(FFprn.AddProgPlu(n, plu.Department, plu.Quantity, plu.Price, plu.VatGroup));
    else
      CheckRes(FFprn.AddPLU(plu.Number, plu.Name, plu.Price, plu.Quantity, plu.VatGroup));
    Log(text + " OK ");
    AddREP_AddInfo();
  });
}

void TECRFileReader::PrintDiscount(const TDiscountObject& discount) {
  const std::string text = "PrintDiscount: " + discount.RawLine + " --- ";
  Tagged("[PrintDiscount]", [&] {
    AddRepLine(discount.RawLine);
    CheckRes(FFprn.AddDiscount(discount.DiscType, discount.Value));
    Log(text + " OK ");
    AddREP_AddInfo();
  });
}

void TECRFileReader::PrintLine(const TLineObject& line) {
  const std::string text = "PrintLine: \"" + line.Text + "\" --- ";
  Tagged("[PrintLine]", [&] {
    AddRepLine(line.RawLine);
    CheckRes(FFprn.AddLine(line.Text, "", 0));
    Log(text + " OK ");
  });
}

int32_t TECRFileReader::ReplacePayType(int32_t payType) {
  for (const TPayTypePair& pair : FPayTypePairs) {
    if (pair.FilePayType == payType) {
      Log(std::string(Tag::PrintPayment) + "Pay Type is changed. Used defined in ini file.");
      return pair.PrnPayType;
    }
  }
  return payType;
}

void TECRFileReader::PrintPayment(const TPaymentObject& payment) {
  const std::string text = "AddPayment: Pay" + Number(payment.PayType) + " = " + Amount(payment.Amount) + " --- ";
  Tagged(Tag::PrintPayment, [&] {
    AddRepLine(payment.RawLine);
    // A payment without an amount: the status is read (its failure stops the file), and
    // the amount 0 goes to the printer as written.
    if (payment.Amount == 0) ReadRecieptStatus();
    const int32_t payType = payment.PayType == 1 ? 1 : ReplacePayType(payment.PayType);
    const bool foreign = FCurrencyMode >= 1 && payType == 1 && std::fabs(payment.Course - 1) > 0.000001 &&
                         std::fabs(payment.Course) > 0.000001;
    // A payment the printer took makes the receipt one that can no longer be cancelled.
    SendIrrevocable(FProgress.PaymentSent, [&] {
      return foreign ? FFprn.AddPaymentByCurrncy(payType, "", payment.Amount, payment.Course, payment.Currency)
                     : FFprn.AddPayment(payType, "", payment.Amount, payment.Course);
    });
    Log(text + " OK ");
    AddREP_AddInfo();
  });
}

void TECRFileReader::PrintCopy(const TCopyBon& copy) {
  const std::string text = "Copy bon:" + copy.RawLine + " --- ";
  Tagged("[PrintCopy]", [&] {
    AddRepLine(copy.RawLine);
    SendIrrevocable(FProgress.ServiceSent, [&] { return FFprn.CopyLastBon(); });
    Log(text + " OK ");
  });
}

void TECRFileReader::PrintInOutAmount(const TInOutAmount& amount) {
  const std::string text = "PrintInOutAmount: " + amount.RawLine + " --- ";
  Tagged("[PrintInOutAmount]", [&] {
    AddRepLine(amount.RawLine);
    SendIrrevocable(FProgress.ServiceSent, [&] { return FFprn.InOutMoney(amount.Amount, 1); });
    Log(text + " OK ");
  });
}

void TECRFileReader::PrintReportObj(const TReportObject& report) {
  const std::string text = "Print report:" + report.RawLine + " --- ";
  Tagged("[PrintReportObj]", [&] {
    AddRepLine(report.RawLine);
    SendIrrevocable(FProgress.ServiceSent, [&] {
      switch (report.ReportType) {
        case 0: return FFprn.RunXReport();
        case 1: return FFprn.RunZReport();
        default: return FFprn.RunFMDateReport(report.StartDate, report.EndDate, report.Detailed);
      }
    });
    Log(text + " OK ");
  });
}

void TECRFileReader::PrintStatusObj(const TStatusObject&) {
  Tagged("[PrintStatusObj]", [&] {
    std::string status;
    CheckRes(FFprn.GetHardwareStatus(status));
    if (!status.empty()) Fail(status);
    FFiscalNo = FFprn.GetFiscalNumber();
    CheckErrorCode();
    FSerialNo = FFprn.GetSerialNumber();
    CheckErrorCode();
    const DATE clock = FFprn.GetClock();
    CheckErrorCode();
    AddRepLine("Printer serial: " + FSerialNo, true);
    AddRepLine("Printer fiscal nom: " + FFiscalNo, true);
    AddRepLine("Printer date: " + FormatClock(clock), true);
  });
}

}  // namespace fp
