// Reading a receipt file: the lines, the dispatch by prefix and one parser per record.
#include "program/receipts/uECRFileReader.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "program/app/PathNamesQt.h"
#include "program/receipts/uECRFileReaderTags.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"
#include "platform/TextLines.h"
#include "platform/Cp1251.h"

namespace fp {

using namespace uECRFileReader;

namespace {

// Upper case of an ASCII letter (the prefixes and letters of the records).
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

}  // namespace

void TECRFileReader::LoadFileLines(const QString& path, int given) {
  FFileLines.clear();
  IFileOps& ops = FileOps();
  const QByteArray name = QFile::encodeName(path);
  // A receipt file is read as the file it is: a link is not followed out of the folder, and
  // a pipe put under the name is not waited on.
  const int fd = given >= 0 ? given : ops.Open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) Fail(fp::SysErrorText(errno));
  struct TCloser {
    IFileOps& Ops;
    int Fd;
    bool Own;
    ~TCloser() {
      if (Own) Ops.Close(Fd);
    }
  } closer{ops, fd, given < 0};
  struct stat st {};
  if (ops.Fstat(fd, &st) != 0) Fail(fp::SysErrorText(errno));
  if (!S_ISREG(st.st_mode)) Fail("Not a regular file.");
  // A file larger than any receipt is refused by its size before it is read, and a read
  // stops at the limit should the file grow meanwhile: memory stays bounded.
  const bool tooLarge = st.st_size > static_cast<off_t>(MaxFileSize);
  std::string data;
  const bool read = !tooLarge && ReadAll(ops, fd, data, MaxFileSize);
  const int err = errno;
  if (tooLarge || (!read && err == EFBIG))
    Fail("File is too large: a receipt file may hold at most " + std::to_string(MaxFileSize) + " bytes.");
  if (!read) Fail(fp::SysErrorText(err));
  // A NUL byte ends the text: what follows it is not read as lines.
  FFileLines = SplitLines(std::string_view(data).substr(0, data.find('\0')));
}

bool TECRFileReader::ReadFile(const QString& path, uint8_t encoding, int fd) {
  QElapsedTimer timer;
  timer.start();
  FIsStatusFile = false;
  FRefundParam = TRefundParam();
  FUniqueSellNo.clear();
  std::string row;
  try {
    ClearCommands();
    FRepLines.clear();
    FAutoPayType = -1;
    FCurrentFile = path;
    FRepFileName = ChangeFileExt(path, QStringLiteral(".rep"));
    LoadFileLines(path, fd);
    if (FFileLines.empty()) Fail("No lines in file");

    bool header = false, block = false;
    int headerIndex = 0, blockIndex = 0;
    for (const std::string& raw : FFileLines) {
      row = ConvertCharEncoding(TrimRight(raw), encoding);
      if (row.size() < 2) continue;
      const char second = UpperAscii(row[1]);
      switch (row[0]) {
        case ':':
          if (headerIndex >= 5) header = false;
          if (header) {
            AddInvoiceField(row.substr(1), headerIndex);
            ++headerIndex;
            header = headerIndex < 5;
          } else {
            FAddLine(row);
            ++FTextLineCount;
          }
          break;
        case '#':
          switch (second) {
            case ':':
              if (block) {
                const std::string text = row.substr(2);
                switch (blockIndex) {
                  case 1: AddInvoiceField(row.substr(1), 4); break;
                  case 2: AddInvoiceField(row.substr(1), 0); break;
                  case 3: AddInvoiceField(row.substr(1), 2); break;
                  case 4: FAddInvoice("#LN" + text); break;
                  case 5: FAddInvoice("#LD" + text); break;
                  default: FAddLine(":" + text); break;
                }
                ++blockIndex;
                block = blockIndex < 10;
              } else {
                FAddLine(row);
                ++FTextLineCount;
              }
              break;
            case 'A':
            case 'B': Fail("Not supported command.");
            case 'C': FAddCopyBon(row); break;
            case 'E':
            case '\xC5':
            case '\xE5': FAddPayment(row); break;
            case 'G':
            case 'P':
            case 'S':
            case 'V': FAddDiscount(row); break;
            case 'L': FAddInvoice(row); break;
            case 'O': FAddOperator(row); break;
            case 'Q': AddRefundParam(row); break;
            case 'R': FAddInOutAmount(row); break;
            case 'U': AddUniqueSellN(row); break;
            case 'F':
              if (row.size() == 2) {
                header = true;
              } else {
                // Only the first ten "#:" lines of the file can belong to a block.
                block = blockIndex < 10;
                FAddInvoice("#LR" + row.substr(2));
              }
              headerIndex = 0;
              break;
            case 'I':
            case 'M':
            case 'N':
              FIsReportFile = true;
              FAddReport(row);
              break;
            default: FAddPlu(row); break;
          }
          break;
        case '$':
          if (second == 'F' && row.size() > 2) {
            const char third = UpperAscii(row[2]);
            if (third == 'C')
              FAddCopyBon(row);
            else if (third == 'I' || third == 'N')
              FAddReport(row);
          }
          break;
        case '%': FAddExtPlu(row); break;
        case '&':
          if (second != 'S') Fail("Not supported command.");
          FAddStatusCmd(row);
          goto done;  // the status query is the whole file
        case '@': FAddOperator(row); break;
        case 'C':
        case 'c': FAddCopyBon(row); break;
        default: FAddPlu(row); break;
      }
    }
  done:
    Log(std::string(Tag::ReadFile) + "Durration: " + Number(timer.elapsed()));
    return true;
  } catch (const std::exception& e) {
    AddRepLine(std::string("[ERROR]") + e.what());
    LogError(std::string(Tag::ReadFile) + e.what() + ". Row data:" + row);
    return false;
  }
}

int32_t TECRFileReader::VatGroupOf(const std::string& digit) const {
  const int32_t d = StrToIntDef(digit, 1);
  const int32_t group = FWatGrpBeginFromOne ? d : d + 1;
  return group < 1 || group > 8 ? 2 : group;
}

int32_t TECRFileReader::PluAsDepartment(const std::string& number) const {
  const int32_t n = StrToIntDef(number, -1);
  if (n < 1 || n > 99) Fail("Invalid department nom.:" + Number(n) + ".  Valid numbers are between 1 to 100.");
  return n;
}

namespace {

void CheckPluAmounts(const TPluObject& plu) {
  if (plu.Quantity > 9999.999) Fail("Quntity is greater than \"9999.999\".");
  if (plu.Price * plu.Quantity > 999999.99) Fail("PLU sum is greater than \"999999.99\".");
}

void CheckPluPrice(const TPluObject& plu) {
  if (plu.Price > 999999.99) Fail("Price is greater than \"999999.99\".");
}

}  // namespace

void TECRFileReader::FAddPlu(const std::string& line) {
  Log("AddCommand AddPlu: " + line);
  Tagged("[FAddPlu]", [&] {
    TPluObject plu;
    std::string s = line;
    plu.Number = CopyToPosAndDel(s, 4);
    const int32_t n = StrToIntDef(Trim(plu.Number), -1);
    if (n == 0 || n == -1) Fail("Invalid PLU number.");
    plu.Name = CopyToPosAndDel(s, 12);
    // Two implied decimals in the price, three in the quantity.
    std::string price = CopyToPosAndDel(s, 8);
    price.insert(6, ".");
    if (!TryStrToFloat(price, plu.Price)) Fail("Invalid PLU price");
    CheckPluPrice(plu);
    std::string quantity = CopyToPosAndDel(s, 8);
    quantity.insert(5, ".");
    if (!TryStrToFloat(quantity, plu.Quantity)) Fail("Invalid PLU quntity.");
    CheckPluAmounts(plu);
    if (!s.empty()) plu.VatGroup = VatGroupOf(CopyToPosAndDel(s, 1));
    if (!s.empty()) CopyToPosAndDel(s, 2);
    if (!s.empty()) {
      const int32_t d = StrToIntDef(CopyToPosAndDel(s, 2), -1);
      plu.Department = d >= 0 ? d + 1 : d;
      if (plu.Department >= 100)
        Fail("Invalid department nom:" + Number(plu.Department) + ". Valid numbers are between 1 to 100.");
    }
    if (FUsePluAsDepartNo) plu.Department = PluAsDepartment(plu.Number);
    if (!s.empty()) {
      const int32_t payType = StrToIntDef(CopyToPosAndDel(s, 1), 0);
      if (payType > 0 && FAutoPayType <= 0) FAutoPayType = payType;
    }
    plu.RawLine = line;
    FCommands.push_back(std::move(plu));
    FHasSales = true;
  });
}

void TECRFileReader::FAddExtPlu(const std::string& line) {
  Log("AddCommand AddExtPlu: " + line);
  Tagged("[FAddExtPlu]", [&] {
    TPluObject plu;
    std::string s = line.substr(1);
    const std::string number = CopyToCharAndDel(s, '^');
    int32_t n = -1;
    if (TryStrToInt(Trim(number), n) && n >= 0 && n <= 30000) plu.Number = number;
    plu.Name = CopyToCharAndDel(s, '^');
    // The price in hundredths, the quantity in thousandths, decimal point or not.
    if (!TryStrToFloat(CopyToCharAndDel(s, '^'), plu.Price)) Fail("Invalid PLU price");
    plu.Price /= 100;
    CheckPluPrice(plu);
    if (!TryStrToFloat(CopyToCharAndDel(s, '^'), plu.Quantity)) Fail("Invalid PLU quntity.");
    plu.Quantity /= 1000;
    CheckPluAmounts(plu);
    plu.VatGroup = Trim(s).empty() ? 2 : VatGroupOf(s.substr(0, 1));
    if (FUsePluAsDepartNo) plu.Department = PluAsDepartment(plu.Number);
    plu.RawLine = line;
    FCommands.push_back(std::move(plu));
    FHasSales = true;
  });
}

void TECRFileReader::FAddDiscount(const std::string& line) {
  Log("AddCommand AddDiscount: " + line);
  Tagged("[FAddDiscount]", [&] {
    TDiscountObject discount;
    switch (UpperAscii(line[1])) {
      case 'P': discount.DiscType = 1; break;
      case 'S': discount.DiscType = 2; break;
      case 'V': discount.DiscType = 3; break;
      default: Fail("Invalid discount type");
    }
    const char sign = line.size() > 2 ? line[2] : '\0';
    if (sign != '-' && sign != '+') Fail("Invalid discount sign.");
    std::string value = line.substr(3);
    // Without a decimal point the last two digits are the hundredths.
    if (value.find('.') == std::string::npos) {
      if (value.size() == 1) value.insert(0, "0");
      if (value.size() >= 2) value.insert(value.size() - 2, ".");
    }
    if (!TryStrToFloat(value, discount.Value)) Fail("Invalid discount value.");
    if (discount.DiscType != 3 && discount.Value > 99.99) Fail("Discount value is over range /-99.99% to 99.99%/ .");
    if (sign == '-') discount.Value = -discount.Value;
    discount.RawLine = line;
    FCommands.push_back(std::move(discount));
  });
}

void TECRFileReader::FAddLine(const std::string& line) {
  Log("AddCommand AddLine: " + line);
  TLineObject text;
  text.Text = line.substr(1);
  text.RawLine = line;
  FCommands.push_back(std::move(text));
}

void TECRFileReader::FAddPayment(const std::string& line) {
  Log("AddCommand payment: " + line);
  std::string s = line.substr(2);
  Tagged(
      "[FAddPayment]",
      [&] {
        TPaymentObject payment;
        std::string type;
        if (s.find('^') != std::string::npos) {
          type = CopyToCharAndDel(s, '^');
        } else {
          // One character of pay type; the rest of the line is the amount.
          type = s.substr(0, 1);
          s.erase(0, type.size());
        }
        if (!TryStrToInt(type, payment.PayType)) Fail("Pay type is not digit.");
        if (!s.empty() && !TryStrToFloat(NormalizeDecimalSeparator(CopyToCharAndDel(s, '^')), payment.Amount))
          Fail("Pay amount is not valid double value.");
        if (!s.empty() && !TryStrToFloat(NormalizeDecimalSeparator(CopyToCharAndDel(s, '^')), payment.Course))
          Fail("Cource is not valid double value.");
        if (!s.empty()) payment.Currency = CopyToPosAndDel(s, 3);
        payment.RawLine = line;
        FCommands.push_back(std::move(payment));
      },
      [&] { return " " + s; });
}

void TECRFileReader::FAddInvoice(const std::string& line) {
  // "#L" alone names no field and makes no invoice.
  if (line.size() <= 2) return;
  TInvoiceObject* invoice = FindInvoice();
  if (!invoice) invoice = &std::get<TInvoiceObject>(FCommands.emplace_back(TInvoiceObject{}));
  invoice->RawLines += "\r" + line;
  const std::string rest = line.substr(3);
  Tagged(
      "[FAddInvoice]",
      [&] {
        switch (UpperAscii(line[2])) {
          case 'D':
            if (!rest.empty()) invoice->VatNumber = rest;
            Log("AddInvoice ZDDSNumb: " + invoice->VatNumber);
            break;
          case 'M':
          case 'N':
            if (!rest.empty()) invoice->TaxNumber = rest;
            Log("AddInvoice \xC5\xC8\xCA: " + invoice->TaxNumber);
            break;
          case 'R':
            if (!TryStrToInt64(rest, invoice->InvoiceNo)) Fail("Invoice nom is not integer value.");
            Log("AddInvoiceNumber: " + Number(invoice->InvoiceNo));
            break;
          default: break;
        }
      },
      [&] { return " " + rest; });
}

void TECRFileReader::FAddReport(const std::string& line) {
  Log("AddReport: " + line);
  Tagged("[FAddReport]", [&] {
    TReportObject report;
    const char letter = UpperAscii(line[0] == '$' ? line[2] : line[1]);
    if (letter == 'N') {
      report.ReportType = 1;
    } else if (letter == 'M') {
      report.ReportType = 2;
      std::string s = line.substr(2);
      report.Detailed = 1;
      if (!s.empty()) {
        report.Detailed = s[0] == '0' ? 1 : 0;
        s.erase(0, 1);
      }
      const QDateTime now = FClock();
      const QDate first(now.date().year(), now.date().month(), 1);
      report.StartDate = ParseShortDate(s, DateTimeToOle(QDateTime(first, QTime(0, 0))));
      report.EndDate = ParseShortDate(s, DateTimeToOle(now));
    }
    report.RawLine = line;
    FCommands.push_back(std::move(report));
  });
}

void TECRFileReader::FAddOperator(const std::string& line) {
  Log("AddCommand: Operator :" + line);
  Tagged("[FAddOperator]", [&] {
    if (line[0] == '#') {
      FCashierName = line.substr(2, 8);
    } else {
      std::string s = line.substr(1);
      const std::string no = CopyToPosAndDel(s, 2);
      const std::string pos = CopyToPosAndDel(s, 4);
      FCashierNo = StrToIntDef(no, 1);
      if (FCashierNo <= 0) FCashierNo = 1;
      FCashierPOS = StrToIntDef(pos, 0);
      FCashierName = s;
    }
    FOperatorLine = line;
  });
}

void TECRFileReader::FAddCopyBon(const std::string& line) {
  Log("AddCommand: CopyBon :" + line);
  TCopyBon copy;
  copy.RawLine = line;
  FCommands.push_back(std::move(copy));
}

void TECRFileReader::FAddStatusCmd(const std::string& line) {
  Log("AddCommand: Printer status :" + line);
  Tagged("[FAddStatusCmd]", [&] {
    FIsStatusFile = true;
    if (!FCommands.empty()) Fail("Satus must be the only command in a file");
    TStatusObject status;
    status.RawLine = line;
    FCommands.push_back(std::move(status));
  });
}

void TECRFileReader::FAddInOutAmount(const std::string& line) {
  Log("AddCommand: AddUserSum :" + line);
  Tagged("[FAddInOutAmount]", [&] {
    TInOutAmount amount;
    if (!TryStrToFloat(NormalizeDecimalSeparator(line.substr(2)), amount.Amount))
      Fail("Amount is not valid double value.");
    amount.RawLine = line;
    FCommands.push_back(std::move(amount));
  });
}

void TECRFileReader::AddRefundParam(const std::string& line) {
  Log("AddRefundParam: " + line);
  Tagged("[AddRefundParam]", [&] {
    std::string s = line.substr(2);
    TRefundParam p;
    p.Reason = StrToIntDef(CopyToCharAndDel(s, ','), -1);
    if (p.Reason < 1 || p.Reason > 3) Fail("Refund type is invalid.");
    p.ReceiptNo = StrToIntDef(CopyToCharAndDel(s, ','), 1);
    if (p.ReceiptNo < 0) Fail("Reciept nom is invalid.");
    p.FiscalMemoryNo = StrToIntDef(CopyToCharAndDel(s, ','), 1);
    if (p.FiscalMemoryNo < 0) Fail("Fiscal module nom is invalid.");
    p.InvoiceNo = Trim(CopyToCharAndDel(s, ','));
    p.InvoiceDate = Trim(CopyToCharAndDel(s, ','));
    FRefundParam = p;
  });
}

void TECRFileReader::AddUniqueSellN(const std::string& line) {
  Log("AddUniqueSellN: " + line);
  FUniqueSellNo.clear();
  FUniqueSellNo = Trim(line).substr(2);
}

}  // namespace fp
