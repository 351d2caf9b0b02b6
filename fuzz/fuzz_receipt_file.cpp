// Fuzz target: reading a receipt file (TECRFileReader::ReadFile) with arbitrary contents in
// every character encoding. The file is served from memory through the file-operations
// seam, so nothing touches the disk; the reader never reaches a printer while reading.
//
// Input: byte 0 the settings (bits 0-1: the encoding, 0 code page 1251, 1 OEM, 2 CP855, 3 a
// code outside the list; bit 2 WatGrpBeginFromOne; bit 3 UsePluAsDepartNo; bit 4
// RepFilePrint; bits 5-7 the size of the reads that serve the file); the rest is the file.
//
// Checked besides the sanitizers: the file read again by the same reader after another file
// gives the same outcome (everything that describes a file is reset); a failure is reported in
// LastError as "[ReadFile]..."; an accepted file holds only what the format allows (VAT
// groups 1..8, departments below 100, prices, quantities and sums in their limits, at most
// one invoice with fields of at most 255 characters, a status query alone, HasSales exactly
// when a PLU was read).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <vector>

#include "program/app/uConst.h"
#include "program/receipts/uECRFileReader.h"
#include "platform/Cp1251.h"
#include "platform/FileOps.h"

namespace {

using namespace fp;

[[noreturn]] void Broken(const char* What) {
  std::fprintf(stderr, "fuzz_receipt_file: %s\n", What);
  std::abort();
}

constexpr char kPath[] = "/fuzz/0001.$$$";
constexpr char kBusyPath[] = "/fuzz/0000.$$$";
constexpr int kFd = 1000;

// A file that leaves something in every per-file field of the reader.
constexpr char kBusyFile[] =
    "@020007Maria\r\n#Q2,15,36001234,17,010124\r\n#U0001-0002\r\n#F\r\n:ACME\r\n"
    "0012Water       00000150000010001xx034\r\n#F12\r\n#:note\r\n#:receiver\r\n#I\r\n#E1^1.50\r\n";

// The system's file operations, except that kPath opens the fuzz input and kBusyPath
// kBusyFile, both read in pieces of Chunk bytes.
class TMemoryFileOps final : public IFileOps {
 public:
  std::string_view Input;
  size_t Chunk = 4096;

  int Open(const char* path, int flags, mode_t mode) override {
    if (std::strcmp(path, kPath) == 0)
      FOpen = Input;
    else if (std::strcmp(path, kBusyPath) == 0)
      FOpen = kBusyFile;
    else
      return IFileOps::Open(path, flags, mode);
    return kFd;
  }
  ssize_t Read(int fd, void* buf, size_t count) override {
    if (fd != kFd) return IFileOps::Read(fd, buf, count);
    const size_t n = std::min({count, Chunk, FOpen.size()});
    if (n > 0) std::memcpy(buf, FOpen.data(), n);
    FOpen.remove_prefix(n);
    return static_cast<ssize_t>(n);
  }
  int Fstat(int fd, struct stat* st) override {
    if (fd != kFd) return IFileOps::Fstat(fd, st);
    // The reader takes only a regular file, and refuses one over its limit by this size.
    *st = {};
    st->st_mode = S_IFREG | 0644;
    st->st_size = static_cast<off_t>(FOpen.size());
    return 0;
  }
  int Close(int fd) override { return fd == kFd ? 0 : IFileOps::Close(fd); }

 private:
  std::string_view FOpen;
};

TMemoryFileOps& MemoryOps() {
  static TMemoryFileOps ops;
  return ops;
}

struct TOutcome {
  bool Ok;
  std::string LastError;
  size_t Commands;
  bool HasSales, IsReportFile, IsStatusFile;
  int32_t TextLineCount, AutoPayType, CashierNo, CashierPOS;
  std::string CashierName, OperatorLine, UniqueSellNo;
  int32_t RefundReceipt, RefundFiscalMemory, RefundReason;
  std::string RefundInvoice, RefundDate;
  std::vector<std::string> RepLines;

  bool operator==(const TOutcome&) const = default;
};

TOutcome Read(TECRFileReader& reader, uint8_t encoding, const char* path = kPath) {
  const bool ok = reader.ReadFile(QString::fromLatin1(path), encoding);
  // LastError holds the last failure; a file read without one leaves it as it was.
  return {ok,
          ok ? std::string() : reader.LastError(),
          reader.Commands().size(),
          reader.HasSales(),
          reader.IsReportFile(),
          reader.IsStatusFile(),
          reader.TextLineCount(),
          reader.AutoPayType(),
          reader.CashierNo(),
          reader.CashierPOS(),
          reader.CashierName(),
          reader.OperatorLine(),
          reader.UniqueSellNo(),
          reader.RefundParam().ReceiptNo,
          reader.RefundParam().FiscalMemoryNo,
          reader.RefundParam().Reason,
          reader.RefundParam().InvoiceNo,
          reader.RefundParam().InvoiceDate,
          reader.RepLines()};
}

void CheckAccepted(const TECRFileReader& reader) {
  bool plu = false, report = false;
  int invoices = 0;
  for (const auto& c : reader.Commands()) {
    if (auto* p = std::get_if<TPluObject>(&c)) {
      plu = true;
      if (p->VatGroup < 1 || p->VatGroup > 8) Broken("a VAT group outside 1..8");
      if (p->Department >= 100) Broken("a department of 100 or more");
      if (p->Price > 999999.99 || p->Quantity > 9999.999 || p->Price * p->Quantity > 999999.99)
        Broken("a PLU beyond its limits");
    } else if (auto* d = std::get_if<TDiscountObject>(&c)) {
      if (d->DiscType < 1 || d->DiscType > 3) Broken("a discount type outside 1..3");
    } else if (auto* i = std::get_if<TInvoiceObject>(&c)) {
      ++invoices;
      for (const std::string* f : {&i->FirmName, &i->Town, &i->Address, &i->Mol, &i->Customer})
        if (f->size() > 255) Broken("an invoice field of more than 255 characters");
    } else if (auto* r = std::get_if<TReportObject>(&c)) {
      report = true;
      if (r->ReportType > 2) Broken("a report type outside 0..2");
    } else if (std::holds_alternative<TStatusObject>(c)) {
      if (reader.Commands().size() != 1) Broken("a status query beside other commands");
    }
  }
  if (invoices > 1) Broken("more than one invoice");
  if (plu != reader.HasSales()) Broken("HasSales differs from the PLU lines read");
  if (reader.IsReportFile() && !report) Broken("a report file without a report");
  if (reader.IsStatusFile() && reader.Commands().size() != 1) Broken("an accepted status query beside other commands");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Bytes, size_t Size) {
  if (Size < 1) return 0;
  const uint8_t settings = Bytes[0];
  static constexpr uint8_t kEncodings[] = {0, EncodingOEM, EncodingCP855, 7};
  static constexpr size_t kChunks[] = {4096, 1, 2, 3, 7, 64, 511, 65536};
  const uint8_t encoding = kEncodings[settings & 3];

  TMemoryFileOps& ops = MemoryOps();
  ops.Input = std::string_view(reinterpret_cast<const char*>(Bytes) + 1, Size - 1);
  ops.Chunk = kChunks[settings >> 5];
  SetFileOps(&ops);

  TECRFileReader reader([]() -> ComPtr<IMiravokFprn> { Broken("the reader reached for the printer"); });
  reader.SetClock([] { return QDateTime(QDate(2025, 3, 14), QTime(15, 9, 26)); });
  reader.SetWatGrpBeginFromOne((settings & 4) != 0);
  reader.SetUsePluAsDepartNo((settings & 8) != 0);
  reader.SetRepFilePrint((settings & 16) != 0);

  const TOutcome first = Read(reader, encoding);
  if (first.Ok)
    CheckAccepted(reader);
  else if (first.LastError.rfind("[ReadFile]", 0) != 0)
    Broken("a failure not reported as [ReadFile]...");
  if (!first.Ok && reader.RepFilePrint() && first.RepLines.size() != 1) Broken("a failure without its [ERROR] line");

  // The same file after another one that set every per-file field.
  if (!Read(reader, 0, kBusyPath).Ok) Broken("the reference file was refused");
  const TOutcome second = Read(reader, encoding);
  if (!(second == first)) Broken("the same file read after another gave another outcome");

  SetFileOps(nullptr);
  return 0;
}
