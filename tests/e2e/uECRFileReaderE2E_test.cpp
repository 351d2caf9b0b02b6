// One receipt file end to end: the reader creates the real automation object by class
// identifier through the component runtime, the library talks to the printer model over
// a pty, and the report file is compared with its golden copy.
#include "tests/support/uECRFileReaderTestSupport.h"

#include "platform/ComPortNames.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "platform/com/ComRuntime.h"
#include "tests/printermodel/ModelEndpoints.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {
namespace {

const QString kGolden = QStringLiteral(FP_SOURCE_DIR "/tests/e2e/testdata/ReaderEndToEnd.rep");

class ReaderEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPty.SlavePath()));
  }

  TScopedTempRegistry FRegistry;
  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel};
  QTemporaryDir FDir;
  TRegisteredLibrary FLibrary;
};

TEST_F(ReaderEndToEnd, FiscalReceiptAndItsReportFile) {
  // A printer in the ONLINE mode: the opening carries the file's unique sale number, so the
  // report names it as used.
  FModel.SetModeWord("1.00ONLINE");
  FModel.Edit([](model::ModelState& s) {
    s.plus[5] = {};
    s.plus[5].vat = 0xC1;
    s.plus[5].priceCents = 150;
    s.plus[5].name = "CHEESE";  // differs from the file's padded name: reprogrammed
    s.plus[7] = {};
    s.plus[7].vat = 0xC0;
    s.plus[7].priceCents = 119;  // one cent off: reprogrammed
    s.plus[7].name = "Water";
  });
  const QString bon = FDir.path() + QStringLiteral("/0001.$$$");
  {
    QFile f(bon);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "@010001Ivan\r\n"
        "#UAB123456-0001-0000042\r\n"
        "0005Cheese      000001500000200013xx00\r\n"
        "%7^Water^120^1000^0\r\n"
        "#P-1000\r\n"
        ":Thank you\r\n"
        "#E1^2.00\r\n");
  }
  {
    TECRFileReader reader;  // the program's own factory: CoCreateInstance by class identifier
    reader.SetComPort(7);
    reader.SetRepFilePrint(true);
    reader.SetRepDetailPrint(true);
    ASSERT_TRUE(reader.FastInit(false, "")) << reader.LastError();
    EXPECT_EQ(reader.SerialNo(), "AB123456");
    ASSERT_TRUE(reader.ReadFile(bon, 0)) << reader.LastError();
    ASSERT_TRUE(reader.PrintPluList()) << reader.LastError();
    reader.SaveRepFile();
  }

  QFile rep(FDir.path() + QStringLiteral("/0001.rep"));
  ASSERT_TRUE(rep.open(QIODevice::ReadOnly));
  const QByteArray written = rep.readAll();
  QFile golden(kGolden);
  ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << kGolden.toStdString();
  EXPECT_EQ(written.toStdString(), golden.readAll().toStdString());

  const model::ModelState& s = FModel.State();
  EXPECT_EQ(s.plus.at(5).name.substr(0, 12), "Cheese      ");
  EXPECT_EQ(s.plus.at(7).priceCents, 120);
  ASSERT_FALSE(s.closed.empty());
  const model::Receipt& r = s.closed.back();
  EXPECT_EQ(r.TotalCents(), 408);
  ASSERT_EQ(r.payments.size(), 2u);
  EXPECT_EQ(r.payments[0].amountCents, 200);
  EXPECT_EQ(r.payments[1].amountCents, 208);  // the rest, paid by the reader
  EXPECT_FALSE(s.open.has_value());
}

// Two files through one reader on a printer in the ONLINE mode. The first, a refund with a
// sale number of its own, fails at its opening (the printer refuses it); the second, a plain
// sale, must print as a plain receipt with a sale number of its own: nothing of the failed
// opening reaches it.
TEST_F(ReaderEndToEnd, FailedOpeningLeavesNothingToTheNextFile) {
  FModel.SetModeWord("1.00ONLINE");
  FModel.Edit([](model::ModelState& s) {
    s.plus[7] = {};
    s.plus[7].vat = 0xC0;
    s.plus[7].priceCents = 120;
    s.plus[7].name = "Water";
  });
  auto write = [](const QString& path, const char* text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  };
  const QString refund = FDir.path() + QStringLiteral("/0001.$$$");
  const QString sale = FDir.path() + QStringLiteral("/0002.$$$");
  write(refund, "#Q2,15,2\r\n#UAB123456-0001-0000042\r\n%7^Water^120^1000^0\r\n#E1^1.20\r\n");
  write(sale, "%7^Water^120^1000^0\r\n#E1^1.20\r\n");

  TECRFileReader reader;
  reader.SetComPort(7);
  ASSERT_TRUE(reader.FastInit(false, "")) << reader.LastError();
  FModel.ScriptNext(0x90, model::ReplyBits(model::Bits({model::bit::SyntaxError})));
  ASSERT_TRUE(reader.ReadFile(refund, 0)) << reader.LastError();
  EXPECT_FALSE(reader.PrintPluList());
  ASSERT_TRUE(reader.ReadFile(sale, 0)) << reader.LastError();
  ASSERT_TRUE(reader.PrintPluList()) << reader.LastError();

  std::vector<std::string> openings;
  for (const model::Request& r : FModel.Requests())
    if (r.cmd == 0x90 && r.frameOk && !r.repeat) openings.push_back(r.data);
  ASSERT_EQ(openings.size(), 2u);
  EXPECT_NE(openings[0].find("AB123456-0001-0000042,S,00000002,R,15"), std::string::npos) << openings[0];
  EXPECT_EQ(openings[1].find(",S,"), std::string::npos) << openings[1];
  EXPECT_EQ(openings[1].find("AB123456-0001-0000042"), std::string::npos) << openings[1];

  const model::ModelState& s = FModel.State();
  ASSERT_EQ(s.closed.size(), 1u);
  EXPECT_EQ(s.closed.back().kind, model::ReceiptKind::Fiscal);
  EXPECT_FALSE(s.closed.back().cancelled);
  EXPECT_FALSE(s.open.has_value());
}

}  // namespace
}  // namespace fp::test
