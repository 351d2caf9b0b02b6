// Two desks of one shop, each with its own receipt folder and its own printer, set to find
// the printer by its serial number: file jobs of the worker through the real automation
// library, on two printer models with different serial numbers behind ptys mapped as COM1
// (desk 1's printer) and COM2 (desk 2's). Desk 2's printer is off while the name of its
// port leads nowhere; switching it on puts the pty behind that name. The library names the
// machine's own serial ports as well (they take the numbers after these two), and a search
// that finds no match tries them too.
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <set>
#include <string>
#include <vector>

#include "platform/ComPortNames.h"
#include "platform/Registry.h"
#include "tests/printermodel/PrinterModel.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "tests/support/uPRNFileThreadTestSupport.h"

namespace fp::test {
namespace {

// The commands a search and the job's connection send to a printer: reads only.
const std::set<uint8_t> kReads = {0x4A /* status */, 0x5A /* diagnostic information */, 0x83 /* currency mode */};

class TDesksEndToEnd : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    FDesk1 = FTmp.path() + "/desk1/";
    ASSERT_TRUE(QDir().mkpath(FDesk1));
    FModel2.SetSerialNumber("CD000002");
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    ASSERT_TRUE(TComPortNames::SetMapping("COM1", FPty1.SlavePath()));
    // Desk 2's port leads to this link, which exists while its printer is on.
    FLink2 = FTmp.path().toStdString() + "/desk2-printer";
    ASSERT_TRUE(TComPortNames::SetMapping("COM2", FLink2));
    FPrnFactory = {};
  }
  void TearDown() override {
    if (FPty2) ::unlink(FLink2.c_str());
  }

  void SwitchOnDesk2() {
    FPty2 = std::make_unique<model::PtyEndpoint>(FModel2);
    ASSERT_EQ(::symlink(FPty2->SlavePath().c_str(), FLink2.c_str()), 0);
  }

  // Desk 2's file job on the receipt folder of the fixture; desk 1's on its own folder.
  std::unique_ptr<TECRFileThread> Desk2Job() {
    auto t = FileJob();
    t->SetDeviceSearch(true, "CD000002");
    return t;
  }
  std::unique_ptr<TECRFileThread> Desk1Job() {
    auto t = Wire(TECRFileThread::Create({.Kind = tkReadFiles, .BonFolder = FDesk1, .Watch = FWatch1, .Care = FCare1}));
    t->SetLogDir(FTmp.path() + "/desk1log/");
    t->SetDeviceSearch(true, "AB123456");
    return t;
  }
  void PutDesk1(const QString& name, const std::string& content) {
    QFile f(FDesk1 + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content.data(), static_cast<qint64>(content.size()));
  }
  std::string ExceptionLog() const {
    QFile f(FLogDir + uProgramLog::ExceptionLogName);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  }
  static std::vector<std::string> Articles(const model::ModelState& s) {
    std::vector<std::string> names;
    for (const model::Receipt& r : s.closed)
      for (const auto& item : r.items) names.push_back(item.text1);
    return names;
  }
  static bool OnlyReads(const model::PrinterModel& m) {
    for (const uint8_t cmd : m.Commands())
      if (!kReads.count(cmd)) return false;
    return true;
  }

  TScopedTempRegistry FRegistry;
  TScopedFakeDevices FNoOtherPorts;
  model::PrinterModel FModel1, FModel2;
  model::PtyEndpoint FPty1{FModel1};
  std::unique_ptr<model::PtyEndpoint> FPty2;
  std::string FLink2;
  QString FDesk1;
  std::shared_ptr<TFolderWatch> FWatch1 = std::make_shared<TFolderWatch>();
  std::shared_ptr<TFolderCare> FCare1 = std::make_shared<TFolderCare>();
  // The jobs run on the test's thread and initialise it for the component runtime themselves.
  TRegisteredLibrary FLibrary{TRegisteredLibrary::TThreadInit::LeaveToTheCode};
};

// Desk 2's printer is off: the search finds only desk 1's printer. Desk 2's receipts wait
// under their names, desk 1's printer gets nothing but the search's reads, and the operator
// is told which printer was looked for and which one answered. Once desk 2's printer is
// on, the next job prints the waiting receipts there, and desk 1's printer still has none.
TEST_F(TDesksEndToEnd, ReceiptsOfADeskWhosePrinterIsOffWaitAndNeverReachAnotherDesksPrinter) {
  for (const char* name : {"0001.bon", "0002.bon", "0003.bon"}) Put(name, "%1^MILK^230^1000^2\r\n#E1^5.00\r\n");
  {
    auto t = Desk2Job();
    t->Execute();
    EXPECT_EQ(t->ErrorKind(), ekPrinterFatal);
    EXPECT_EQ(t->ErrorMessage(), "printer CD000002 not found; found AB123456 on COM1");
    EXPECT_EQ(t->OperatorReason(), t->ErrorMessage());
    EXPECT_EQ(FEvents, (std::vector<std::string>{"Offline", "Error 4", "Finished"}));
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.bon", "0003.bon"}));
  const model::ModelState desk1 = FModel1.State();
  EXPECT_TRUE(desk1.closed.empty());
  EXPECT_FALSE(desk1.open.has_value());
  EXPECT_FALSE(FModel1.Commands().empty());  // the search asked it who it is
  EXPECT_TRUE(OnlyReads(FModel1));
  EXPECT_NE(ExceptionLog().find("printer CD000002 not found; found AB123456 on COM1"), std::string::npos)
      << ExceptionLog();

  SwitchOnDesk2();
  FEvents.clear();
  auto t = Desk2Job();
  t->Execute();
  EXPECT_EQ(t->ErrorKind(), ekNone) << t->ErrorMessage().toStdString();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep", "0003.rep"}));
  EXPECT_EQ(Articles(FModel2.State()), (std::vector<std::string>{"MILK", "MILK", "MILK"}));
  EXPECT_TRUE(FModel1.State().closed.empty());
  EXPECT_TRUE(OnlyReads(FModel1));
}

// Both printers on, both desks set by serial number: each desk prints on its own printer,
// whichever port the search tries first (the port of the last success comes first, and the
// two desks' last successes differ).
TEST_F(TDesksEndToEnd, WithBothPrintersOnEachDeskPrintsOnItsOwn) {
  SwitchOnDesk2();
  for (int round = 0; round < 2; ++round) {
    const QString name = QStringLiteral("000%1.bon").arg(round + 1);
    PutDesk1(name, "%1^BREAD^150^1000^2\r\n#E1^5.00\r\n");
    Put(name, "%1^MILK^230^1000^2\r\n#E1^5.00\r\n");
    auto t2 = Desk2Job();
    t2->Execute();
    EXPECT_EQ(t2->ErrorKind(), ekNone) << t2->ErrorMessage().toStdString();
    auto t1 = Desk1Job();
    t1->Execute();
    EXPECT_EQ(t1->ErrorKind(), ekNone) << t1->ErrorMessage().toStdString();
  }
  EXPECT_EQ(Articles(FModel1.State()), (std::vector<std::string>{"BREAD", "BREAD"}));
  EXPECT_EQ(Articles(FModel2.State()), (std::vector<std::string>{"MILK", "MILK"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep"}));
  EXPECT_EQ(QDir(FDesk1).entryList(QDir::Files), (QStringList{"0001.rep", "0002.rep"}));
}

}  // namespace
}  // namespace fp::test
