// The receipt-file reference of the README stays true: every example receipt file in it
// (a fenced block "```receipt <name>") is written in code page 1251 with CR LF, as a
// point-of-sale program writes it, read and printed on the fake automation object with the
// program's default settings, and must leave the report the README shows after it (the
// block "```rep" that follows) and send the printer what the table below says.
#include <QFile>

#include <algorithm>
#include <map>

#include "platform/TextLines.h"
#include "tests/support/uECRFileReaderTestSupport.h"

namespace fp::test {
namespace {

using Lines = std::vector<std::string>;

struct TExample {
  std::string Name;
  Lines File;    // UTF-8, as the README shows it
  Lines Report;  // the report file's lines, UTF-8
  bool HasReport = false;
};

bool IsFence(const std::string& line) { return line.rfind("```", 0) == 0; }

// The example blocks of the README, in their order.
std::vector<TExample> ReadmeExamples(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = f.readAll();
  const Lines lines = SplitLines(std::string_view(data.constData(), static_cast<size_t>(data.size())));
  std::vector<TExample> examples;
  auto block = [&](size_t& i) {
    Lines body;
    for (++i; i < lines.size() && !IsFence(lines[i]); ++i) body.push_back(lines[i]);
    return body;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("```receipt", 0) != 0) continue;
    TExample e;
    e.Name = uECRFileReader::Trim(lines[i].substr(10));
    e.File = block(i);
    // The next fenced block is the example's report.
    size_t j = i + 1;
    while (j < lines.size() && !IsFence(lines[j])) ++j;
    if (j < lines.size() && uECRFileReader::Trim(lines[j]) == "```rep") {
      e.Report = block(j);
      e.HasReport = true;
      i = j;
    }
    examples.push_back(std::move(e));
  }
  return examples;
}

// The calls that act on the printer (reading calls and the article table left out).
Lines ActingCalls(const Lines& calls) {
  static const char* const acting[] = {
      "StartBon",        "SetRefundParams", "AddUniqueSellNom",    "AddPLU", "AddProgPlu", "AddDeprtPlu", "AddDiscount",
      "AddLine",         "AddPayment",      "AddPaymentByCurrncy", "EndBon", "InOutMoney", "RunXReport",  "RunZReport",
      "RunFMDateReport", "CopyLastBon",     "GetHardwareStatus"};
  Lines out;
  for (const std::string& call : calls) {
    const std::string name = call.substr(0, call.find('('));
    for (const char* a : acting)
      if (name == a) out.push_back(Cp1251ToUtf8(call));
  }
  return out;
}

// What each example sends the printer: the names are those of the README's blocks.
const std::map<std::string, Lines>& ExpectedCalls() {
  static const std::map<std::string, Lines> calls = {
      {"sale",
       {"AddUniqueSellNom(AB123456-0001-0000042)", "StartBon(2, 1, 1, Maria, , 1, , , , , , , , )",
        "AddProgPlu(1, 1, 2, 1.5, 2)", "AddProgPlu(2, 1, 1, 1.2, 1)", "AddDiscount(1, -10)", "AddDiscount(3, -0.08)",
        "AddLine(Thank you, , 0)", "AddPayment(3, , 2.5, 1)", "AddPayment(1, , 1.5, 1)", "EndBon()"}},
      {"autopay",
       {"StartBon(2, 1, 1, , , 1, , , , , , , , )", "AddProgPlu(3, 3, 1, 2.5, 2)", "AddPayment(3, , 2.5, 1)",
        "EndBon()"}},
      {"refund",
       {"SetRefundParams(2123456, 2, 123, 11/12/2026 10:15:00, )", "StartBon(5, 1, 1, , , 1, , , , , , , , )",
        "AddProgPlu(1, 1, 2, 1.5, 2)", "AddPayment(1, , 3, 1)", "EndBon()"}},
      {"invoice",
       {"StartBon(4, 1, 1, , , 1, 101, 123456789, BG123456789, АКМЕ ООД, София, бул. Витоша 1, Иван Петров, "
        "Мария Иванова)",
        "AddProgPlu(1, 1, 10, 1.5, 2)", "AddPayment(1, , 15, 1)", "EndBon()"}},
      {"invoice-block",
       {"StartBon(4, 1, 1, , , 1, 77, 123456789, BG123456789, ACME Ltd, , 1 Vitosha Blvd, , Maria Ivanova)",
        "AddLine(Order 5521, , 0)", "AddProgPlu(1, 1, 10, 1.5, 2)", "AddPayment(1, , 15, 1)", "EndBon()"}},
      {"credit-note",
       {"SetRefundParams(2123456, 2, 123, 11/12/2026, 77)",
        "StartBon(6, 1, 1, , , 1, 101, 123456789, BG123456789, ACME Ltd, Sofia, 1 Vitosha Blvd, Ivan Petrov, "
        "Maria Ivanova)",
        "AddProgPlu(1, 1, 2, 1.5, 2)", "AddPayment(1, , 3, 1)", "EndBon()"}},
      {"text",
       {"StartBon(1, 1, 1, , , 1, , , , , , , , )", "AddLine(Opening hours, , 0)", "AddLine(Mon-Fri 8:00-20:00, , 0)",
        "EndBon()"}},
      {"cash-in", {"InOutMoney(150, 1)"}},
      {"cash-out", {"InOutMoney(-20.5, 1)"}},
      {"x-report", {"RunXReport()"}},
      {"z-report", {"RunZReport()"}},
      // 1 January 24 and 31 December 24 at midnight: the library sends the two digits.
      {"fm-report", {"RunFMDateReport(-685193, -684828, 1)"}},
      {"copy", {"CopyLastBon()"}},
      {"status", {"GetHardwareStatus()"}},
      {"error-read", {}},
      {"error-refund", {}},
  };
  return calls;
}

TEST(ReadmeReceiptExamples, EachPrintsAsTheReadmeSays) {
  const std::vector<TExample> examples = ReadmeExamples(QStringLiteral(FP_SOURCE_DIR "/README.md"));
  ASSERT_FALSE(examples.empty()) << "no ```receipt blocks in README.md";
  std::map<std::string, int> seen;
  for (const TExample& e : examples) {
    SCOPED_TRACE("README example \"" + e.Name + "\"");
    ++seen[e.Name];
    ASSERT_TRUE(e.HasReport) << "a ```rep block must follow the example";
    const auto expected = ExpectedCalls().find(e.Name);
    ASSERT_NE(expected, ExpectedCalls().end()) << "the test does not know this example";

    QTemporaryDir dir;
    ComPtr<TFakeFprn> fake = TFakeFprn::Make();
    fake->Serial = "AB123456";
    fake->Fiscal = "02123456";
    TECRFileReader reader(fake->Factory());
    const QDateTime now(QDate(2026, 12, 11), QTime(16, 5, 0));
    reader.SetClock([now] { return now; });
    // The program's default settings: report files with their details, VAT digits from 0.
    reader.SetRepFilePrint(true);
    reader.SetRepDetailPrint(true);
    fake->Clock = uECRFileReader::DateTimeToOle(now);
    ASSERT_TRUE(reader.FastInit(false, "")) << reader.LastError();
    fake->Calls.clear();

    std::string bytes;
    for (const std::string& line : e.File) bytes += Utf8ToCp1251(line) + "\r\n";
    const QString path = dir.path() + QStringLiteral("/0001.$$$");
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    const bool printed = reader.ReadFile(path, 0) && reader.PrintPluList();

    // The report's lines as a reader of the file sees them (the invoice's parts are
    // separated by a CR alone, so they come out as lines of their own).
    const std::string text = reader.RepFileText();
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n"));
    EXPECT_EQ(SplitLines(Cp1251ToUtf8(text)), e.Report);
    // A report with an "[ERROR]" line is that of a failed file, and only such a one.
    const bool failed =
        std::any_of(e.Report.begin(), e.Report.end(), [](const std::string& l) { return l.starts_with("[ERROR]"); });
    EXPECT_EQ(printed, !failed) << reader.LastError();
    EXPECT_EQ(ActingCalls(fake->Calls), expected->second);
  }
  for (const auto& [name, calls] : ExpectedCalls())
    EXPECT_EQ(seen[name], 1) << "README example \"" << name << "\" must be there once";
}

}  // namespace
}  // namespace fp::test
