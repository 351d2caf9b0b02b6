// The file job end to end: the worker thread prints two receipt files through the real
// automation library, registered into a registry of its own and created by class
// identifier, on the printer model behind a pty mapped as COM7.
#include <optional>
#include <tuple>

#include <gmock/gmock.h>
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

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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

// The printer runs out of paper (or its cover opens) at the n-th command `cmd`: that
// command is refused with the printer's state bit, which stays until the operator mends it.
void StateBitAt(model::PrinterModel& m, uint8_t cmd, int nth, std::pair<int, uint8_t> flag) {
  model::CommandRow standard{};
  for (const model::CommandRow& row : model::StandardCommands())
    if (row.cmd == cmd) standard = row;
  auto calls = std::make_shared<int>(0);
  m.SetHandler(
      cmd,
      [standard, calls, nth, flag](model::CommandContext& c) {
        if (++*calls == nth) {
          c.state.errorBits[flag.first] |= flag.second;
          return;
        }
        standard.handler(c);
      },
      standard.blockedBy);
}

void ProgramArticles(model::PrinterModel& m) {
  m.Edit([](model::ModelState& s) {
    for (const auto& [number, name, cents] : {std::tuple{12, "Water", 150}, std::tuple{13, "Bread", 120}}) {
      s.plus[number] = {};
      s.plus[number].vat = 0xC1;
      s.plus[number].priceCents = cents;
      s.plus[number].name = name;
    }
  });
}

struct TStateCase {
  const char* Name;
  std::pair<int, uint8_t> Flag;
};

void PrintTo(const TStateCase& c, std::ostream* os) { *os << c.Name; }

class TStateAtASale : public TFileJobEndToEnd, public ::testing::WithParamInterface<TStateCase> {};

// The printer answers a sale with its own state (no paper, the cover open) before any
// payment: it said what it did, the receipt has nothing paid, and the next opening cancels
// it. The file is an error file; once the printer is mended, the point-of-sale program
// sends it again and it prints once.
TEST_P(TStateAtASale, EndsAsErrorAndTheResendPrintsOnce) {
  const std::string receipt = "%12^Water^150^1000\r\n%13^Bread^120^1000\r\n#E1^5.00\r\n";
  Put("0001.bon", receipt, 60);
  Put("0002.bon", "%13^Bread^120^1000\r\n", 50);
  ProgramArticles(FModel);
  StateBitAt(FModel, 0x3A, 2, GetParam().Flag);  // at the second article
  auto first = FileJob();
  first->SetComPort(7);
  first->Execute();

  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.err", "0001.rep", "0002.bon"}));
  EXPECT_THAT(FUnknowns, IsEmpty());
  EXPECT_THAT(Read("0001.rep"), HasSubstr("[ERROR]"));
  EXPECT_THAT(Read("0001.rep"), Not(HasSubstr("[UNKNOWN]")));
  ASSERT_TRUE(FModel.State().open.has_value());
  EXPECT_TRUE(FModel.State().open->payments.empty());

  // The operator mends the printer; the point-of-sale program sends the error file again.
  FModel.SetStatusBit(GetParam().Flag, false);
  ASSERT_TRUE(QFile::remove(FOlder + "0001.err"));
  Put("0001.bon", receipt, 40);
  auto second = FileJob();
  second->SetComPort(7);
  second->Execute();

  EXPECT_EQ(second->ErrorMessage(), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep"}));
  const model::ModelState state = FModel.State();
  EXPECT_FALSE(state.open.has_value());
  ASSERT_EQ(state.closed.size(), 3u);
  EXPECT_TRUE(state.closed[0].cancelled);  // the left receipt, by 0002's opening
  int waterSold = 0;
  for (const model::Receipt& r : state.closed)
    for (const model::Item& item : r.items) waterSold += !r.cancelled && item.plu == 12;
  EXPECT_EQ(waterSold, 1);
  EXPECT_THAT(NormalLog(), HasSubstr("left open on the printer was cancelled by the opening of"));
}

INSTANTIATE_TEST_SUITE_P(States, TStateAtASale,
                         ::testing::Values(TStateCase{"PaperOut", model::bit::NoPaper},
                                           TStateCase{"CoverOpen", model::bit::PrinterFault}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A receipt of unknown outcome (a payment was sent) is settled by the next opening: the
// receipt's status read just before it tells what became of it, which goes into the
// unknown-outcome file's report and to the operator. A card payment refused after a cash
// one leaves the rest, which the printer then takes in cash; a first payment refused
// leaves nothing paid, and the receipt is cancelled.
TEST_F(TFileJobEndToEnd, NextOpeningTellsTheUnknownFilesReportWhatBecameOfItsReceipt) {
  const struct {
    const char* Name;
    const char* Payments;
    int Nth;  // the payment the paper runs out at
    const char* Line;
    const char* Operator;
    int64_t CashDelta;  // what the drawer got from the left receipt
  } cases[] = {
      {"CardAfterCash", "#E1^10.00\r\n#E3^20.00\r\n", 2,
       "closed by the opening of \"%1\", the rest of 20.00 paid in cash. It printed: do not send it again.",
       "0001.unk: бележката е отпечатана и приключена, като 20.00 от нея са платени в брой.", 3000},
      {"FirstPayment", "#E3^30.00\r\n", 1,
       "cancelled by the opening of \"%1\". Nothing of it printed: it is safe to send again.",
       "0001.unk: бележката е анулирана", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const std::string& name : Files()) ASSERT_TRUE(QFile::remove(FOlder + "/" + QString::fromStdString(name)));
    FSettled.clear();
    FModel.ClearFaults();
    FModel.Edit([](model::ModelState& s) {
      s.cashCents = 0;
      s.closed.clear();
    });
    ProgramArticles(FModel);
    // 30.00 of water.
    const std::string receipt = std::string("%12^Water^150^20000\r\n") + c.Payments;
    Put("0001.bon", receipt, 60);
    StateBitAt(FModel, 0x35, c.Nth, model::bit::NoPaper);
    auto first = FileJob();
    first->SetComPort(7);
    first->Execute();
    ASSERT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk"}));
    const std::string unknownReport = Read("0001.rep");
    ASSERT_TRUE(FModel.State().open.has_value());

    // Paper in; the next receipt's opening settles the left one.
    FModel.SetStatusBit(model::bit::NoPaper, false);
    for (const model::CommandRow& row : model::StandardCommands())
      if (row.cmd == 0x35) FModel.SetHandler(0x35, row.handler, row.blockedBy);
    Put("0002.bon", "%13^Bread^120^1000\r\n", 50);
    auto second = FileJob();
    second->SetComPort(7);
    second->Execute();

    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
    const std::string line = "[SETTLED]The receipt left open on the printer was " +
                             QString::fromLatin1(c.Line).arg(FOlder + "0002.bon").toStdString();
    // The report keeps what it said and gets the line.
    EXPECT_EQ(Read("0001.rep"), unknownReport + line + "\r\n");
    ASSERT_EQ(FSettled.size(), 1u);
    EXPECT_THAT(FSettled[0], HasSubstr(c.Operator));
    const model::ModelState state = FModel.State();
    ASSERT_EQ(state.closed.size(), 2u);
    EXPECT_EQ(state.closed[0].cancelled, c.CashDelta == 0);
    // The drawer: the left receipt's cash (10.00 paid, 20.00 of the rest) and 0002's 1.20.
    EXPECT_EQ(state.cashCents, c.CashDelta + 120);
  }
}

}  // namespace
}  // namespace fp::test
