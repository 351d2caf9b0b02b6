// The file job end to end: the worker thread prints two receipt files through the real
// automation library, registered into a registry of its own and created by class
// identifier, on the printer model behind a pty mapped as COM7.
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "tests/support/uPRNFileThreadTestSupport.h"
#include "platform/ComPortNames.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "platform/Registry.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {
namespace {

class TFileJobEndToEnd : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    auto ports = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, ComPortMapKey);
    ASSERT_TRUE(ports);
    ASSERT_TRUE(TRegistry::SetValue(*ports, "COM7", FPty.SlavePath()));
    // The worker creates the object through the component runtime, as in the program.
    FPrnFactory = {};
  }

  TScopedTempRegistry FRegistry;
  TScopedFakeDevices FNoOtherPorts;
  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel};
  // The jobs run on the test's thread and initialise it for the component runtime themselves.
  TRegisteredLibrary FLibrary{TRegisteredLibrary::TThreadInit::LeaveToTheCode};
};

TEST_F(TFileJobEndToEnd, PrintsTwoReceiptFilesAndLeavesTheirReportFiles) {
  Put("0001.bon", "%12^Water^150^2000\r\n", 60);
  Put("0002.bon", "%13^Bread^120^1000\r\n#E1^5.00\r\n", 50);
  auto t = FileJob();
  t->SetComPort(7);
  t->SetBaudRate(115200);
  t->Execute();

  EXPECT_EQ(t->ErrorMessage(), "");
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started 0001.bon", "Processed", "Started 0002.bon",
                                               "Processed", "Finished"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep"}));
  const std::string rep1 = Read("0001.rep"), rep2 = Read("0002.rep");
  EXPECT_NE(rep1.find("%12^Water^150^2000\r\n"), std::string::npos) << rep1;
  EXPECT_NE(rep1.find("Close\r\n"), std::string::npos) << rep1;
  EXPECT_EQ(rep1.find("[ERROR]"), std::string::npos) << rep1;
  EXPECT_NE(rep2.find("#E1^5.00\r\n"), std::string::npos) << rep2;
  EXPECT_NE(rep2.find("Close\r\n"), std::string::npos) << rep2;
  EXPECT_EQ(rep2.find("[ERROR]"), std::string::npos) << rep2;
  const model::ModelState state = FModel.State();
  EXPECT_EQ(state.closed.size(), 2u);
  EXPECT_FALSE(state.open.has_value());
}

// A payment that never reached the printer leaves a receipt the next opening cancels: the
// file is an error file, sent again safely. One lost on the wire may have been taken: the
// file is kept as unknown outcome.
struct TPaymentCase {
  const char* Name;
  const char* Payment;  // the payment line of 0001.bon
  bool LostOnTheWire;
};

void PrintTo(const TPaymentCase& c, std::ostream* os) { *os << c.Name; }

class TPaymentEndToEnd : public TFileJobEndToEnd, public ::testing::WithParamInterface<TPaymentCase> {};

TEST_P(TPaymentEndToEnd, FailedPaymentEndsAsErrorOnlyWhenNothingWasSent) {
  const TPaymentCase& c = GetParam();
  const std::string receipt = std::string("%12^Water^150^1000\r\n") + c.Payment + "\r\n";
  Put("0001.bon", receipt, 60);
  Put("0002.bon", "%13^Bread^120^1000\r\n", 50);
  // Both articles are programmed in the printer as the files sell them.
  FModel.Edit([](model::ModelState& s) {
    for (const auto& [number, name, cents] : {std::tuple{12, "Water", 150}, std::tuple{13, "Bread", 120}}) {
      s.plus[number] = {};
      s.plus[number].vat = 0xC1;
      s.plus[number].priceCents = cents;
      s.plus[number].name = name;
    }
  });
  // The payment runs, and every answer to it (the retries too) is lost.
  if (c.LostOnTheWire) FModel.InjectNext(model::Fault::Silence, model::OnCommand(0x35).Times(20));
  auto t = FileJob();
  t->SetComPort(7);
  t->SetBaudRate(115200);
  t->Execute();

  const model::ModelState state = FModel.State();
  if (c.LostOnTheWire) {
    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.bon"}));
    // The printer took the payment: the receipt can no longer be cancelled (closing the
    // connection at the job's end closes it).
    const std::optional<model::Receipt> paid =
        state.open ? state.open : (state.closed.empty() ? std::nullopt : std::optional(state.closed.back()));
    ASSERT_TRUE(paid.has_value());
    EXPECT_EQ(paid->payments.size(), 1u);
    EXPECT_FALSE(paid->cancelled);
  } else {
    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.err", "0001.rep", "0002.rep"}));
    EXPECT_EQ(Read("0001.err"), receipt);
    // The printer took no payment: the next file's opening cancelled the receipt.
    ASSERT_EQ(state.closed.size(), 2u);
    EXPECT_TRUE(state.closed[0].cancelled);
    EXPECT_TRUE(state.closed[0].payments.empty());
    EXPECT_FALSE(state.closed[1].cancelled);
    EXPECT_FALSE(state.open.has_value());
    // No payment of 0001 reached the wire; the only one is 0002's automatic payment.
    std::vector<std::string> payments;
    for (const model::Request& r : FModel.Requests())
      if (r.cmd == 0x35) payments.push_back(r.data);
    EXPECT_EQ(payments, (std::vector<std::string>{"\tP+1.20"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Payments, TPaymentEndToEnd,
                         ::testing::Values(TPaymentCase{"PayTypeOutOfRange", "#E12^5.00", false},
                                           TPaymentCase{"AmountTooLongForAFrame", "#E1^1e300", false},
                                           TPaymentCase{"LostOnTheWire", "#E1^5.00", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A command the printer ran whose answer cannot be read: the library answers with a device
// code (never a refusal code), so the file is kept as unknown outcome and never becomes an
// error file that the point-of-sale program would send, and the printer run, again.
TEST_F(TFileJobEndToEnd, CommandRunWithAnUnreadableAnswerIsKeptAsUnknown) {
  const struct {
    const char* Name;
    const char* File;
    uint8_t Cmd;
    const char* Answer;
  } cases[] = {
      {"payment", "%12^Water^150^1000\r\n#E1^5.00\r\n", 0x35, "D,xyz"},
      {"cash in", "#R5000.00\r\n", 0x46, "P,1.00,x,0"},
  };
  FModel.Edit([](model::ModelState& s) {
    s.plus[12] = {};
    s.plus[12].vat = 0xC1;
    s.plus[12].priceCents = 150;
    s.plus[12].name = "Water";
  });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const std::string& name : Files()) ASSERT_TRUE(QFile::remove(FOlder + "/" + QString::fromStdString(name)));
    Put("0001.bon", c.File, 60);
    FModel.ScriptNext(c.Cmd, model::Reply(c.Answer).Run());
    auto t = FileJob();
    t->SetComPort(7);
    t->SetBaudRate(115200);
    t->Execute();
    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk"}));
    int runs = 0;
    for (const model::Request& r : FModel.Requests())
      if (r.cmd == c.Cmd && r.executed) ++runs;
    EXPECT_EQ(runs, 1);
    FModel.ClearRequests();
  }
}

}  // namespace
}  // namespace fp::test
