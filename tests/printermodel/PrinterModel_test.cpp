#include "tests/printermodel/PrinterModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "tests/printermodel/ModelTestClient.h"

namespace fp::test {
namespace {

using namespace fp::model;
using fp::model::testing::DirectHost;

// The status bits of an answer, without the 0x80 of the wire.
StatusBits BitsOf(const AnswerFrame& a) {
  StatusBits b{};
  for (size_t i = 0; i < 6 && i < a.status.size(); ++i) b[i] = uint8_t(a.status[i]) & 0x7F;
  return b;
}

bool Flag(const std::optional<AnswerFrame>& a, std::pair<int, uint8_t> f) { return a && Has(BitsOf(*a), f); }

class PrinterModelTest : public ::testing::Test {
 protected:
  PrinterModel FM;
  DirectHost FHost{FM};
};

TEST_F(PrinterModelTest, DiagnosticAnswerCarriesTheSettableIdentity) {
  FM.SetModelName("FP-X");
  FM.SetModeWord("ONLINE");
  FM.SetSerialNumber("ZX000042");
  FM.SetFiscalMemoryNumber("77000011");
  // Model,W1 W2 W3,F4,F5,Serial,FMNo: the serial is the sixth comma field, after the
  // first field and three space-separated words.
  EXPECT_EQ(FHost.Data(0x5A, "0"), "FP-X,ONLINE 01JAN26 1200,4F2A,00000000,ZX000042,77000011");
}

TEST_F(PrinterModelTest, StatusBytesGoOutWithTheHighBitAndFollowTheSetBits) {
  auto a = FHost.Send(0x4A, "W");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, std::string(6, '\x80'));
  EXPECT_EQ(a->data, std::string(6, '\x80'));

  FM.SetStatusBit(bit::NoPaper);
  FM.SetStatusBit(4, 4);  // fiscal memory full
  a = FHost.Send(0x4A, "X");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, std::string("\x80\x80\x81\x80\x90\x80", 6));
  EXPECT_EQ(a->data, a->status);

  FM.ClearStatusBits();
  FM.Edit([](ModelState& s) { s.statusInData = false; });
  a = FHost.Send(0x4A, "W");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->data, "");
}

TEST_F(PrinterModelTest, FiscalReceiptOpenSellPayClose) {
  FM.Edit([](ModelState& s) { s.cashCents = 1000; });
  auto open = FHost.Send(0x30, "1,0000,1");
  ASSERT_TRUE(open);
  EXPECT_EQ(open->data, "1,1");
  EXPECT_TRUE(Flag(open, bit::FiscalOpen));
  EXPECT_FALSE(Flag(open, bit::NonFiscalOpen));

  EXPECT_EQ(FHost.Data(0x31,
                       "Bread\nwhite\t\xC1"
                       "1.50*2.000"),
            "");
  EXPECT_EQ(FHost.Data(0x31,
                       "Milk\t\xC2"
                       "2.00,-10.00"),
            "");  // 10 % off
  EXPECT_EQ(FHost.Data(0x33, "10"), "480,0,300,180,0,0,0,0,0");
  EXPECT_EQ(FHost.Data(0x4C, "T"), "1,2,480,0");
  EXPECT_EQ(FHost.Data(0x4C, ""), "1,2,480");
  EXPECT_EQ(FHost.Data(0x67), "1,0,300,180,0,0,0,0,0,0,1");

  EXPECT_EQ(FHost.Data(0x35, "\tP+3.00"), "R,180");
  EXPECT_EQ(FHost.Data(0x67).substr(0, 1), "0");  // no cancel after a payment
  EXPECT_EQ(FHost.Data(0x35, "\tP+5.00"), "D,320");

  auto close = FHost.Send(0x38);
  ASSERT_TRUE(close);
  EXPECT_EQ(close->data, "1,1");
  EXPECT_FALSE(Flag(close, bit::FiscalOpen));
  EXPECT_EQ(FHost.Data(0x71), "1");

  const ModelState s = FM.State();
  EXPECT_FALSE(s.open);
  ASSERT_EQ(s.closed.size(), 1u);
  const Receipt& r = s.closed[0];
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_EQ(r.items[0].text1, "Bread");
  EXPECT_EQ(r.items[0].text2, "white");
  EXPECT_EQ(r.items[0].vatGroup, 2);
  EXPECT_EQ(r.items[0].amountCents, 300);
  EXPECT_EQ(r.items[1].amountCents, 180);
  ASSERT_EQ(r.payments.size(), 2u);
  EXPECT_EQ(r.TenderCents(), 800);
  EXPECT_EQ(s.cashCents, 1000 + 480);
  EXPECT_EQ(s.daily.payments[0], 480);
  EXPECT_EQ(s.daily.turnover[1], 300);
  EXPECT_EQ(s.daily.vat[1], 50);  // 20 % inside 3.00
  EXPECT_EQ(FHost.Data(0x41, "0"), "0,300,180,0,0,0,0,0");
  EXPECT_EQ(FHost.Data(0x6E, "11"), "480,0,0,0,0,0,0,0,0,0,0");
}

TEST_F(PrinterModelTest, DuplicateOnceThenNotAllowed) {
  EXPECT_TRUE(Flag(FHost.Send(0x6D, "1"), bit::NotAllowed));  // nothing printed yet
  FHost.Send(0x30, "1,,1");
  FHost.Send(0x31,
             "\t\xC0"
             "1.00");
  FHost.Send(0x35, "\tP+0.00");  // 0 pays the rest
  FHost.Send(0x38);
  EXPECT_FALSE(Flag(FHost.Send(0x6D, "1"), bit::NotAllowed));
  EXPECT_TRUE(Flag(FHost.Send(0x6D, "1"), bit::NotAllowed));
  EXPECT_TRUE(FM.State().closed.back().duplicatePrinted);
}

TEST_F(PrinterModelTest, RefusalsOfTheReceiptRules) {
  struct Case {
    const char* name;
    uint8_t cmd;
    const char* data;
    std::pair<int, uint8_t> flag;
  };
  // Without an open receipt.
  const Case closed[] = {
      {"sale", 0x31,
       "\t\xC0"
       "1.00",
       bit::NotAllowed},
      {"close", 0x38, "", bit::NotAllowed},
      {"cancel", 0x3C, "", bit::NotAllowed},
      {"non-fiscal text", 0x2A, "x", bit::NotAllowed},
      {"bad opening", 0x30, "1,x,1", bit::SyntaxError},
      {"bad sale data", 0x31, "no tab", bit::NotAllowed},
      {"unknown command", 0x99, "", bit::InvalidCommand},
  };
  for (const Case& c : closed) EXPECT_TRUE(Flag(FHost.Send(c.cmd, c.data), c.flag)) << c.name;
  EXPECT_EQ(FHost.Data(0x35, "\tP+1.00"), "F");  // payment without a receipt

  FHost.Send(0x30, "1,,1");
  FHost.Send(0x31,
             "\t\xC0"
             "2.00");
  const Case open[] = {
      {"unpaid close", 0x38, "", bit::NotAllowed},
      {"sale without TAB", 0x31, "Bread", bit::SyntaxError},
      {"sale of a missing department", 0x31, "\t9\t1.00", bit::NotAllowed},
      {"Z report", 0x45, "0", bit::NotAllowed},
      {"duplicate", 0x6D, "1", bit::NotAllowed},
  };
  for (const Case& c : open) EXPECT_TRUE(Flag(FHost.Send(c.cmd, c.data), c.flag)) << c.name;
  // A second opening answers no data and only the open-receipt bit.
  for (uint8_t cmd : {0x30, 0x90, 0x26}) {
    auto a = FHost.Send(cmd, cmd == 0x26 ? "" : "1,,1");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->data, "") << int(cmd);
    EXPECT_EQ(BitsOf(*a), Bits({bit::FiscalOpen})) << int(cmd);
  }
  EXPECT_EQ(FM.State().fiscReceipts, 1);
  EXPECT_EQ(FHost.Data(0x35, "\tN+5.00"), "I");              // no change from a card
  EXPECT_EQ(FHost.Data(0x46, "10.00"), "F,0.00,0.00,0.00");  // no cash moves in a receipt

  auto cancel = FHost.Send(0x3C);
  EXPECT_FALSE(Flag(cancel, bit::NotAllowed));
  EXPECT_FALSE(Flag(cancel, bit::FiscalOpen));
  EXPECT_TRUE(FM.State().closed.back().cancelled);
}

TEST_F(PrinterModelTest, CancelIsRefusedOncePaid) {
  FHost.Send(0x30, "1,,1");
  FHost.Send(0x31,
             "\t\xC0"
             "10.00");
  FHost.Send(0x35, "\tP+4.00");
  EXPECT_EQ(FHost.Data(0x67).substr(0, 1), "0");
  EXPECT_TRUE(Flag(FHost.Send(0x3C), bit::NotAllowed));
  EXPECT_EQ(FHost.Data(0x4C, "T"), "1,1,1000,400");
  EXPECT_EQ(FHost.Data(0x35, "\tP+6.00"), "D,0");
  EXPECT_FALSE(Flag(FHost.Send(0x38), bit::NotAllowed));
}

TEST_F(PrinterModelTest, SetErrorBitsRefuseWhatTheyBlock) {
  FM.SetStatusBit(bit::NoPaper);
  auto a = FHost.Send(0x30, "1,,1");
  EXPECT_TRUE(Flag(a, bit::NoPaper));
  EXPECT_FALSE(Flag(a, bit::FiscalOpen));
  EXPECT_EQ(a->data, "");
  EXPECT_EQ(FHost.Data(0x5A, "0").substr(0, 8), "MODEL-T1");  // reading still works

  FM.SetStatusBit(bit::NoPaper, false);
  FM.SetStatusBit(bit::FmFull);
  EXPECT_FALSE(Flag(FHost.Send(0x30, "1,,1"), bit::FiscalOpen));
  EXPECT_TRUE(Flag(FHost.Send(0x26), bit::NonFiscalOpen));  // not blocked by the memory
}

TEST_F(PrinterModelTest, NonFiscalReceipt) {
  auto open = FHost.Send(0x26);
  EXPECT_EQ(open->data, "1");
  EXPECT_TRUE(Flag(open, bit::NonFiscalOpen));
  FHost.Send(0x2A, "hello");
  EXPECT_TRUE(Flag(FHost.Send(0x36, "fiscal text"), bit::NotAllowed));
  auto close = FHost.Send(0x27);
  EXPECT_EQ(close->data, "1");
  EXPECT_FALSE(Flag(close, bit::NonFiscalOpen));
  const auto s = FM.State();
  ASSERT_EQ(s.closed.size(), 1u);
  EXPECT_EQ(s.closed[0].kind, ReceiptKind::NonFiscal);
  EXPECT_EQ(s.closed[0].texts, std::vector<std::string>{"hello"});
}

TEST_F(PrinterModelTest, InvoiceTakesANumberAndNeedsTheBuyer) {
  FM.Edit([](ModelState& s) { s.invoices = {100, 101, 100}; });
  EXPECT_EQ(FHost.Data(0x42), "100,101,100");
  FHost.Send(0x30, "1,,1,I");
  FHost.Send(0x31,
             "\t\xC1"
             "5.00");
  FHost.Send(0x35, "\tP+5.00");
  EXPECT_TRUE(Flag(FHost.Send(0x38), bit::NotAllowed));
  EXPECT_TRUE(Flag(FHost.Send(0x39, "\t\t\t\t"), bit::SyntaxError));  // blank EIK
  FHost.Send(0x39, "123456789\t\tRcv\tFirm\tBG123\tSofia\nMain 1");
  EXPECT_FALSE(Flag(FHost.Send(0x38), bit::NotAllowed));
  EXPECT_EQ(FM.State().closed.back().invoiceNo, 100);
  EXPECT_EQ(FHost.Data(0x42), "100,101,101");

  EXPECT_EQ(FHost.Data(0x42, "S,5,9"), "5,9");
  EXPECT_EQ(FHost.Data(0x42, "S"), "5,9,5");
  FM.Edit([](ModelState& s) { s.invoices.current = 102; });  // range used up
  EXPECT_FALSE(Flag(FHost.Send(0x30, "1,,1,I"), bit::FiscalOpen));
}

TEST_F(PrinterModelTest, DepartmentsAndArticles) {
  EXPECT_EQ(FHost.Data(0x57, "3,\xC1,Bakery\nfresh"), "P");
  EXPECT_EQ(FHost.Data(0x57, "3"), "P,\xC1,Bakery\tfresh");
  EXPECT_EQ(FHost.Data(0x58, "4"), "F");
  EXPECT_EQ(FHost.Data(0x6B,
                       "P\xC2"
                       "12,3,1.50,A5.000,Roll, small"),
            "P");
  EXPECT_EQ(FHost.Data(0x6B, "R12"), "P12,\xC2,3,1.50,0.00,0.000,5.000,Roll, small");
  EXPECT_EQ(FHost.Data(0x6B, "R13"), "F");

  FHost.Send(0x30, "1,,1");
  FHost.Send(0x31, "Loaf\t3\t2.00*3");
  FHost.Send(0x3A, "12*2");
  FHost.Send(0x35, "\tP+0.00");
  FHost.Send(0x38);
  EXPECT_EQ(FHost.Data(0x58, "3"), "P\xC1,1,6.00,1,6.00,Bakery\tfresh");
  EXPECT_EQ(FHost.Data(0x6B, "R12"), "P12,\xC2,3,1.50,3.00,2.000,3.000,Roll, small");
  EXPECT_EQ(FHost.Data(0x75, "0"), "1,600,0,600,0,0,0,0,0,0");
  EXPECT_EQ(FHost.Data(0x58, "3"), "P\xC1,0,0.00,1,6.00,Bakery\tfresh");
}

TEST_F(PrinterModelTest, CashInAndOut) {
  EXPECT_EQ(FHost.Data(0x46, "50.00"), "P,50.00,50.00,0.00");
  EXPECT_EQ(FHost.Data(0x46, "-80.00"), "F,50.00,50.00,0.00");
  EXPECT_EQ(FHost.Data(0x46, "-20.00"), "P,30.00,50.00,20.00");
  EXPECT_EQ(FM.State().cashCents, 3000);
}

TEST_F(PrinterModelTest, ClockHeaderLinesAndReadBacks) {
  EXPECT_TRUE(Flag(FHost.Send(0x3D, "31-02-26 10:00"), bit::SyntaxError));
  FHost.Send(0x3D, "08-12-26 22:53");
  FM.Edit([](ModelState& s) { s.clock.Freeze(true); });
  EXPECT_EQ(FHost.Data(0x3E), "08-12-26 22:53:00");

  FHost.Send(0x2B, "3" + std::string(40, 'x'));
  EXPECT_EQ(FHost.Data(0x2B, "I3"), std::string(36, 'x'));
  EXPECT_EQ(FHost.Data(0x2B, "I0"), "MODEL SHOP");
  EXPECT_TRUE(Flag(FHost.Send(0x2B, "I8"), bit::SyntaxError));
  EXPECT_TRUE(Flag(FHost.Send(0x2B, "B248"), bit::SyntaxError));
  EXPECT_EQ(FHost.Data(0x55, "N"), "CARD");
  EXPECT_EQ(FHost.Data(0x80).substr(0, 3), "40,");
}

TEST_F(PrinterModelTest, ScriptedAnswerReplacesTheCommandOnce) {
  FHost.Send(0x30, "1,,1");
  FHost.Send(0x31,
             "\t\xC0"
             "1.00");
  FM.ScriptNext(0x35, Reply("F"));
  EXPECT_EQ(FHost.Data(0x35, "\tP+1.00"), "F");
  EXPECT_TRUE(FM.State().open->payments.empty());  // it did not run
  EXPECT_EQ(FHost.Data(0x35, "\tP+1.00"), "D,0");

  FM.ScriptNext(0x38, ReplyBits(Bits({bit::Overflow})).Run());
  auto a = FHost.Send(0x38);
  EXPECT_TRUE(Flag(a, bit::Overflow));
  EXPECT_FALSE(Flag(a, bit::FiscalOpen));  // it ran

  FM.ScriptNext(0x4A, ReplyStatus(Bits({bit::FiscalOpen})).Data(""));
  a = FHost.Send(0x4A, "W");
  EXPECT_EQ(a->status, std::string("\x80\x80\x88\x80\x80\x80", 6));
  EXPECT_EQ(a->data, "");
}

TEST_F(PrinterModelTest, ARetryWithTheSameSeqIsAnsweredWithoutRunningAgain) {
  FHost.Send(0x30, "1,,1");
  auto first = FHost.SendWithSeq(0x50, 0x31,
                                 "\t\xC0"
                                 "1.00");
  auto again = FHost.SendWithSeq(0x50, 0x31,
                                 "\t\xC0"
                                 "1.00");
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->raw, again->raw);
  EXPECT_EQ(FM.State().open->items.size(), 1u);
  FHost.SendWithSeq(0x51, 0x31,
                    "\t\xC0"
                    "1.00");
  EXPECT_EQ(FM.State().open->items.size(), 2u);

  const auto reqs = FM.Requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_TRUE(reqs[2].repeat);
  EXPECT_FALSE(reqs[2].executed);
  EXPECT_EQ(FM.Commands(), (std::vector<uint8_t>{0x30, 0x31, 0x31}));
}

// A printer's repeat detection does not depend on what a test does between a request and
// its retry: scripting an answer for another command, teaching a command, editing the
// state or setting status bits keeps the last answer, so the retry does not sell twice.
TEST(PrinterModelRepeat, TheLastAnswerIsKeptWhateverTheTestChangesMeanwhile) {
  const std::vector<std::pair<const char*, std::function<void(PrinterModel&)>>> meanwhile = {
      {"ScriptNext", [](PrinterModel& m) { m.ScriptNext(0x35, Reply("F")); }},
      {"SetHandler", [](PrinterModel& m) { m.SetHandler(0xA0, [](CommandContext&) {}); }},
      {"Edit", [](PrinterModel& m) { m.Edit([](ModelState& s) { s.cashCents += 100; }); }},
      {"SetStatusBit", [](PrinterModel& m) { m.SetStatusBit(bit::NoPaper); }},
      {"ClearStatusBits", [](PrinterModel& m) { m.ClearStatusBits(); }},
      {"SetModeWord", [](PrinterModel& m) { m.SetModeWord("ONLINE"); }},
  };
  for (const auto& [what, change] : meanwhile) {
    SCOPED_TRACE(what);
    PrinterModel m;
    DirectHost host(m);
    host.Send(0x30, "1,,1");
    const auto first = host.SendWithSeq(0x50, 0x31,
                                        "\t\xC0"
                                        "1.00");
    change(m);
    const auto again = host.SendWithSeq(0x50, 0x31,
                                        "\t\xC0"
                                        "1.00");
    ASSERT_TRUE(first && again);
    EXPECT_EQ(first->raw, again->raw);
    EXPECT_EQ(m.State().open->items.size(), 1u);
    EXPECT_TRUE(m.Requests().back().repeat);
    EXPECT_FALSE(m.Requests().back().executed);
  }
}

TEST(PrinterModelRepeat, WithRepeatDetectionOffARetryRunsAgain) {
  PrinterModel m;
  DirectHost host(m);
  host.Send(0x30, "1,,1");
  host.SendWithSeq(0x50, 0x31,
                   "\t\xC0"
                   "1.00");
  m.SetRepeatDetection(false);
  host.SendWithSeq(0x50, 0x31,
                   "\t\xC0"
                   "1.00");
  EXPECT_EQ(m.State().open->items.size(), 2u);
  EXPECT_FALSE(m.Requests().back().repeat);
}

TEST_F(PrinterModelTest, RequestsRecordUnescapedDataAndTheTraceIsReadable) {
  FM.EnableTrace(true);
  FHost.Send(0x2A, "a\rb");
  FM.InjectNext(Fault::Nak);
  FHost.Send(0x4A, "W");
  const auto reqs = FM.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].data, "a\rb");
  EXPECT_EQ(reqs[1].fault, Fault::Nak);
  EXPECT_EQ(FM.Commands(), std::vector<uint8_t>{0x2A});  // the NAK'd frame does not count
  const auto trace = FM.Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NE(trace[0].find("cmd=2A \"a<0D>b\""), std::string::npos) << trace[0];
  EXPECT_NE(trace[1].find("[Nak]"), std::string::npos) << trace[1];
}

TEST_F(PrinterModelTest, FaultsQueueInOrderAndCanAimAtOneCommand) {
  FM.InjectNext(Fault::WrongSeq, OnCommand(0x31));
  FM.InjectNext(Fault::Nak, Times(2));
  FHost.Send(0x4A, "W");
  FHost.Send(0x4A, "W");
  FHost.Send(0x31, "x");
  FHost.Send(0x4A, "W");
  const auto reqs = FM.Requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].fault, Fault::Nak);
  EXPECT_EQ(reqs[1].fault, Fault::Nak);
  EXPECT_EQ(reqs[2].fault, Fault::WrongSeq);
  EXPECT_FALSE(reqs[3].fault);
}

TEST_F(PrinterModelTest, SetHandlerTeachesANewCommand) {
  FM.SetHandler(0xA0, [](CommandContext& c) {
    c.answer = "echo:" + c.data;
    if (c.data.empty()) c.SyntaxError();
  });
  EXPECT_EQ(FHost.Data(0xA0, "x"), "echo:x");
  EXPECT_TRUE(Flag(FHost.Send(0xA0), bit::SyntaxError));
}

TEST(PrinterModelRandom, TheSameSeedGivesTheSameFaults) {
  auto run = [](uint32_t seed) {
    PrinterModel m;
    DirectHost host(m);
    m.SetRandomFaults(seed, 0.5);
    for (int i = 0; i < 60; ++i) host.Send(0x4A, "W");
    std::string faults;
    for (const Request& r : m.Requests()) faults += r.fault ? FaultName(*r.fault)[0] : '-';
    return faults;
  };
  const std::string a = run(7);
  EXPECT_EQ(a, run(7));
  EXPECT_NE(a, run(8));
  EXPECT_NE(a.find('-'), std::string::npos);
  EXPECT_NE(a.find_first_not_of('-'), std::string::npos);
}

}  // namespace
}  // namespace fp::test
