// Connecting the automation object to printer models over ptys and TCP: Init, InitTCP,
// InitEx and Close with their state rules, the port search, the line length and the model
// test for the extended commands.
#include "library/automation/MiravokFprnConnect.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"
#include "tests/support/LocaleTestSupport.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortSpeed.h"

namespace fp::test {
namespace {

using model::bit::NoPaper;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using test::kNotInit;
// Receipt words 57 and 58 in Bulgarian (code page 1251).
const std::string kNoPortsBg =
    "\xcd\xe5 \xf1\xe0 \xee\xf2\xea\xf0\xe8\xf2\xe8 \xea\xee\xec.\xef\xee\xf0\xf2\xee\xe2\xe5.";
const std::string kNoDevicesBg =
    "\xcd\xe5 \xf1\xe0 \xee\xf2\xea\xf0\xe8\xf2\xe8 \xf1\xe2\xfa\xf0\xe7\xe0\xed\xe8 "
    "\xf3\xf1\xf2\xf0\xee\xe9\xf1\xf2\xe2\xe0.";

class ConnectTest : public test::TFprnModelTest {
 protected:
  void SetUp() override {
    test::TFprnModelTest::SetUp();
    LastFoundPort = -1;
  }
  void TearDown() override {
    LastFoundPort = -1;
    test::TFprnModelTest::TearDown();
  }
  // A printer that receives every request and never answers.
  test::TModelPrinter& AddSilentPrinter(int Number) {
    test::TModelPrinter& p = AddPrinter(Number);
    p.Model.InjectNext(model::Fault::Silence, model::Times(1000000));
    return p;
  }
  LONG ComPort() {
    LONG v = -1;
    EXPECT_EQ(FObj->get_ComPort(&v), S_OK);
    return v;
  }
  LONG LineLength() {
    LONG v = -1;
    EXPECT_EQ(FObj->get_LineLength(&v), S_OK);
    return v;
  }
  // The ports in the order InitEx looked at them, in the log from byte From on.
  std::vector<std::string> SearchOrder(size_t From = 0) {
    std::vector<std::string> order;
    const std::string log = LogText().substr(From), mark = "InitEx. Checking for FU on port: ";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
      const size_t start = at + mark.size();
      order.push_back(log.substr(start, log.find_first_of("\r\n", start) - start));
    }
    return order;
  }
};

TEST(ModelListsTest, LineLengthByFirstFragmentFound) {
  struct {
    const char* Model;
    int Length;
  } cases[] =
      {
          {"Kestrel S", 35}, {"Kestrel M-2", 35},    {"Wren S", 29},  {"Wren M", 29},
          {"Heron S", 45},   {"Heron XL", 45},       {"heron s", 29}, {"MODEL-T1", 29},
          {"", 29},          {"Wren S Heron L", 29},  // the earlier fragment in the list wins
      };
  for (const auto& c : cases) EXPECT_EQ(ModelLineLength(c.Model), c.Length) << c.Model;
}

TEST(ModelListsTest, ExtendedModelsInCapitalsOrTheMakersNameAsReported) {
  EXPECT_TRUE(IsExtendedModel("Heron XL"));
  EXPECT_TRUE(IsExtendedModel("egret 2 plus"));  // compared in capitals
  EXPECT_TRUE(IsExtendedModel("MIRAVOK FP-1"));
  EXPECT_FALSE(IsExtendedModel("Miravok FP-1"));  // the maker's name is case-sensitive
  EXPECT_FALSE(IsExtendedModel("Wren S"));
  EXPECT_FALSE(IsExtendedModel(""));
  for (const char* f : ExtendedModelList) {
    const std::string s(f);
    EXPECT_EQ(s, [&] {
      std::string U = s;
      for (char& C : U) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
      return U;
    }()) << "fragments are written in capitals";
  }
}

TEST_F(ConnectTest, InitReadsThePrinterAndLogsItsData) {
  auto& p = AddPrinter(7);
  p.Model.SetSerialNumber("CD123456");
  ASSERT_EQ(Init(7), 0) << Message();
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(ComPort(), 7);
  EXPECT_EQ(LineLength(), 29);
  EXPECT_EQ(O().FDiagnosticInfo.Text[0], "MODEL-T1");
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "CD123456");
  EXPECT_FALSE(O().FOnline);
  // Status, then the diagnostic information; no constants for a printer without the
  // extended commands.
  EXPECT_THAT(p.Model.Commands(), ElementsAre(0x4A, 0x5A));
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("Init. ComPort=7 PortSpeed=115200 Locale=0 Language=0 SerialKey=''"));
  EXPECT_THAT(log, HasSubstr("CheckPrinterStatus.."));
  // (The log writer trims the lines.)
  EXPECT_THAT(log, HasSubstr("[INFO]> Model='MODEL-T1' LineLength=29"));
  EXPECT_THAT(log, HasSubstr("[INFO]> Serial='CD123456'"));
}

TEST_F(ConnectTest, OnlineModeComesFromTheModeWord) {
  auto& p = AddPrinter(7);
  p.Model.SetModeWord("1.00ONLINE");
  ASSERT_EQ(Init(7), 0);
  EXPECT_TRUE(O().FOnline);
  p.Model.SetModeWord("1.00online");
  ASSERT_EQ(Init(7), 0);
  EXPECT_FALSE(O().FOnline);
}

TEST_F(ConnectTest, LineLengthFromTheModelListAndTheConstantsOfExtendedPrinters) {
  struct {
    const char* Model;
    const char* Constant;  // the ninth constant as the printer sends it (before the -2)
    int AfterInit, AfterInitEx;
    bool ReadsConstants;
  } cases[] = {
      {"MODEL-T1", "44", 29, 29, false},   // no fragment; no extended commands
      {"Kestrel M", "37", 35, 35, true},   // 37 - 2 = 35
      {"Heron XL 2", "44", 42, 45, true},  // the printer's 42 after Init, the list after InitEx
      {"heron xl", "44", 42, 29, true},    // the list is case-sensitive, the extended test not
      {"Kestrel S", "27", 35, 35, true},   // 25 is not above 25
      {"MIRAVOK 1", "x", 29, 29, true},    // no number
      {"Kestrel S", "300", 35, 35, true},  // does not fit a line length
  };
  auto& p = AddPrinter(7);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Model);
    p.Model.SetModelName(c.Model);
    p.Model.Edit([&](model::ModelState& S) { S.constants[8] = c.Constant; });
    p.Model.ClearRequests();
    ASSERT_EQ(Init(7), 0) << Message();
    EXPECT_EQ(LineLength(), c.AfterInit);
    const auto cmds = p.Model.Commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), 0x80), c.ReadsConstants ? 1 : 0);
    ASSERT_EQ(InitEx(""), 0) << Message();
    EXPECT_EQ(LineLength(), c.AfterInitEx);
  }
}

TEST_F(ConnectTest, ConstantsRefusedOnlyLogged) {
  auto& p = AddPrinter(7);
  p.Model.SetModelName("Heron S");
  p.Model.ScriptNext(0x80, model::ReplyBits(model::Bits({model::bit::InvalidCommand})));
  EXPECT_EQ(Init(7), 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(LineLength(), 45);
  EXPECT_THAT(LogText(), HasSubstr("Printer does not support \"GetFPR_Constants\""));
}

TEST_F(ConnectTest, PortOutsideOneTo255UsesCom1AndLocaleAbove3IsBulgarian) {
  AddPrinter(1);
  struct {
    LONG Port, Locale;
    int Locale8;
  } cases[] = {{0, 3, 3}, {-5, 4, 0}, {256, -1, 0}, {1, 1, 1}};
  for (const auto& c : cases) {
    ASSERT_EQ(Init(c.Port, c.Locale), 0) << c.Port << " " << Message();
    EXPECT_EQ(ComPort(), 1);
    EXPECT_EQ(O().FLocale, c.Locale8) << c.Locale;
  }
}

TEST_F(ConnectTest, FailedInitKeepsPrinterDataFreesTheTransportAndResetsLocaleAndDuplicate) {
  auto& p = AddPrinter(7);
  p.Model.SetSerialNumber("CD123456");
  ASSERT_EQ(Init(7, 1), 0);
  O().FFiskParam.UniqueSellNo = "KEEP-1";
  O().FLastUniqueSellNo = "KEEP-2";
  O().FBonType = 2;
  ASSERT_EQ(FObj->put_PrintInvDublicate(1), S_OK);

  // COM9 is named nowhere: the port cannot be opened.
  EXPECT_EQ(Init(9, 3), -1);
  EXPECT_EQ(Code(), 102);
  EXPECT_THAT(Message(), StartsWith("[Init failed] "));
  EXPECT_EQ(O().FDevice, nullptr);
  EXPECT_EQ(ComPort(), 9);  // set before connecting
  EXPECT_EQ(O().FLocale, 3);
  LONG dup = -1;
  ASSERT_EQ(FObj->get_PrintInvDublicate(&dup), S_OK);
  EXPECT_EQ(dup, 0);
  // Only a successful initialisation changes these.
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "CD123456");
  EXPECT_EQ(LineLength(), 29);
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "KEEP-1");
  EXPECT_EQ(O().FLastUniqueSellNo, "KEEP-2");
  // Every initialisation starts without a receipt, also one that fails.
  EXPECT_EQ(O().FBonType, 0);

  // Without a transport every method fails with 502.
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[StartBon] " + kNotInit + " ");

  // A successful one clears the receipt data as well.
  ASSERT_EQ(Init(7), 0);
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");
  EXPECT_EQ(LastUniqueSellNo(), "");
}

TEST_F(ConnectTest, PrinterInAnErrorStateFailsInitWithTheStatusCode) {
  auto& p = AddPrinter(7);
  p.Model.SetStatusBit(NoPaper);
  EXPECT_EQ(Init(7), -1);
  EXPECT_EQ(Code(), 210);
  EXPECT_THAT(Message(), StartsWith("[Init failed] "));
  EXPECT_EQ(O().FDevice, nullptr);
}

TEST_F(ConnectTest, SecondInitReplacesTheTransport) {
  AddPrinter(7);
  AddPrinter(8).Model.SetSerialNumber("EF000008");
  ASSERT_EQ(Init(7), 0);
  ASSERT_EQ(Init(8), 0);
  EXPECT_EQ(ComPort(), 8);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "EF000008");
  EXPECT_EQ(StartBon(9), 0) << Message();
}

TEST_F(ConnectTest, CloseCancelsTheOpenReceiptAndKeepsTheTransport) {
  auto& p = AddPrinter(7);
  ASSERT_EQ(Init(7), 0);
  ASSERT_EQ(StartBon(2), 0) << Message();
  ASSERT_TRUE(p.Model.State().open.has_value());

  EXPECT_EQ(Close(), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  const auto s = p.Model.State();
  EXPECT_FALSE(s.open.has_value());
  ASSERT_FALSE(s.closed.empty());
  EXPECT_TRUE(s.closed.back().cancelled);
  ASSERT_NE(O().FDevice, nullptr);
  EXPECT_FALSE(O().FDevice->IsConnected());
  EXPECT_EQ(O().FBonType, 2);  // Close leaves the object's receipt state

  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 101);
  EXPECT_EQ(Message(), "[StartBon] COM port is not active ");

  // The second Close fails inside: the transport goes, the code stays 0.
  EXPECT_EQ(Close(), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(Message(), StartsWith("Close. "));
  EXPECT_THAT(Message(), Not(StartsWith("Close. [")));
  EXPECT_EQ(O().FDevice, nullptr);
  EXPECT_THAT(LogText(), HasSubstr("[ERROR]Close connection failed:"));
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 502);
}

// A new connection starts without a receipt: a non-fiscal receipt of the old link must not
// send the next sale out as non-fiscal text (which the printer refuses with 216).
TEST_F(ConnectTest, EveryInitialisationStartsWithoutAReceipt) {
  auto& p = AddPrinter(7);
  model::PrinterModel m;
  model::TcpEndpoint tcp(m);
  const std::function<LONG()> inits[] = {[&] { return Init(7); }, [&] { return InitEx(""); },
                                         [&] { return InitTCP(tcp.Host(), tcp.Port()); }};
  for (size_t k = 0; k < std::size(inits); ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(Init(7), 0) << Message();
    ASSERT_EQ(StartBon(1), 0) << Message();
    Close();
    ASSERT_EQ(inits[k](), 0) << Message();
    EXPECT_EQ(O().FBonType, 0);
    EXPECT_FALSE(O().FNonFiscalOpen);
    p.Model.ClearRequests();
    m.ClearRequests();
    LONG res = 99;
    ASSERT_EQ(FObj->AddPLU(BStr(u"1").Get(), BStr(u"Bread").Get(), 1.5, 1, 2, &res), S_OK);
    EXPECT_EQ(res, 0) << Message();
    // No receipt open: nothing is printed or sent.
    EXPECT_TRUE(p.Model.Commands().empty());
    EXPECT_TRUE(m.Commands().empty());
  }
}

TEST_F(ConnectTest, CloseOfAnObjectNeverInitialisedOnlyLogs) {
  EXPECT_EQ(Close(), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  EXPECT_THAT(LogText(), HasSubstr("[INFO]Close connection"));
}

TEST_F(ConnectTest, InitTcpKeepsTheComPortAndFailsWithoutAListener) {
  AddPrinter(7);
  ASSERT_EQ(Init(7), 0);
  model::PrinterModel m;
  m.SetSerialNumber("TC000001");
  model::TcpEndpoint tcp(m);
  ASSERT_EQ(InitTCP(tcp.Host(), tcp.Port()), 0) << Message();
  EXPECT_EQ(ComPort(), 7);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "TC000001");
  EXPECT_THAT(LogText(), HasSubstr("InitTCP. IPAddress=127.0.0.1, IPPort=" + std::to_string(tcp.Port()) +
                                   ", Locale=0, Language=0, SerialKey=''"));
  EXPECT_THAT(m.Commands(), ElementsAre(0x4A, 0x5A));

  model::PrinterModel deaf;
  model::TcpEndpoint refusing(deaf, model::TcpEndpoint::NoListener());
  EXPECT_EQ(InitTCP(refusing.Host(), refusing.Port()), -1);
  EXPECT_EQ(Code(), 102);
  EXPECT_THAT(Message(), StartsWith("[Init failed] "));
  EXPECT_EQ(O().FDevice, nullptr);
  EXPECT_EQ(ComPort(), 7);
}

// ---------------------------------------------------------------------------------------
// The port search

class InitExTest : public ConnectTest {
 protected:
  // COM2 and COM5 hold printers, COM3 cannot be opened, COM4 is silent.
  void SetUpMachine() {
    AddPrinter(2).Model.SetSerialNumber("AA000002");
    AddUnopenablePort(3);
    AddSilentPrinter(4);
    AddPrinter(5).Model.SetSerialNumber("CD123456");
  }
};

TEST_F(InitExTest, EmptySerialNumberTriesEveryPortAndTakesTheFirstThatAnswered) {
  SetUpMachine();
  ASSERT_EQ(InitEx(""), 0) << Message();
  EXPECT_EQ(Code(), 0);  // the failing ports are only logged
  EXPECT_EQ(ComPort(), 2);
  EXPECT_EQ(LastFoundPort, 2);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "AA000002");
  EXPECT_THAT(SearchOrder(), ElementsAre("COM2", "COM3", "COM4", "COM5"));
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("InitEx. PortSpeed=115200 Locale=0 DeviceSerialNo=\"\" Language=0 SerialKey=''"));
  size_t errors = 0;
  for (size_t at = log.find("InitEx error: "); at != std::string::npos; at = log.find("InitEx error: ", at + 1))
    ++errors;
  EXPECT_EQ(errors, 2u);  // COM3 and COM4
  EXPECT_EQ(StartBon(9), 0) << Message();
}

TEST_F(InitExTest, SerialNumberFoundAsPartOfTheGivenTextWins) {
  SetUpMachine();
  ASSERT_EQ(InitEx("  XX999999;CD123456;YY  "), 0) << Message();
  EXPECT_EQ(ComPort(), 5);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "CD123456");
  EXPECT_EQ(LastFoundPort, 5);

  // A match ends the search.
  LastFoundPort = -1;
  const size_t mark = LogText().size();
  ASSERT_EQ(InitEx("AA000002"), 0) << Message();
  EXPECT_THAT(SearchOrder(mark), ElementsAre("COM2"));
  EXPECT_EQ(ComPort(), 2);
}

TEST_F(InitExTest, LastFoundPortIsTriedFirstInThePlaceOfTheFirst) {
  SetUpMachine();
  LastFoundPort = 5;
  ASSERT_EQ(InitEx(""), 0) << Message();
  // COM5 and the first entry changed places; without a serial number the first printer
  // that answered in that order is used.
  EXPECT_THAT(SearchOrder(), ElementsAre("COM5", "COM3", "COM4", "COM2"));
  EXPECT_EQ(ComPort(), 5);
  EXPECT_EQ(LastFoundPort, 5);
}

// The clock of the test's transport, whose next pause runs OnPause: what another program
// does while the search waits.
class TPauseHookClock : public test::TJumpClock {
 public:
  void SleepFor(std::chrono::milliseconds D) override {
    test::TJumpClock::SleepFor(D);
    if (auto hook = std::exchange(OnPause, nullptr)) hook();
  }
  std::function<void()> OnPause;
};

// Two desks with a printer each; desk 2 looks for its own printer (COM2) while desk 1's
// search probes COM2 and holds it for a moment. The port is tried again after a pause,
// and desk 2 gets its own printer rather than desk 1's on COM1.
TEST_F(InitExTest, PortBusyForAMomentIsTriedAgainAndItsPrinterFound) {
  AddPrinter(1).Model.SetSerialNumber("AA000001");
  auto& own = AddPrinter(2).Model;
  own.SetSerialNumber("BB000002");
  auto probeOfDesk1 = std::make_unique<fp::TComPort>();
  probeOfDesk1->SetPort("COM2");
  probeOfDesk1->Open();
  TPauseHookClock clock;
  clock.OnPause = [&] { probeOfDesk1.reset(); };
  FObj = NewObject(clock);
  ASSERT_EQ(FObj->put_LogFilePath(BStr(Utf8ToWide(FDir + "/log")).Get()), S_OK);

  ASSERT_EQ(InitEx("BB000002"), 0) << Message();
  EXPECT_EQ(ComPort(), 2);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "BB000002");
  EXPECT_EQ(LastFoundPort, 2);
  EXPECT_THAT(LogText(), HasSubstr("COM2 is in use by another program"));
  EXPECT_THAT(LogText(), HasSubstr("InitEx. Checking again for FU on port: COM2 (it was in use)"));
  // The printer found stays open from its probe on: no other program can take it between.
  own.ClearRequests();
  EXPECT_EQ(StartBon(9), 0) << Message();
  EXPECT_GT(own.RequestCount(), 0u);
}

// A port that another program keeps (a terminal program holding it in exclusive mode,
// which a privileged search could open all the same) is given up after a little while;
// the search takes the first printer that answered, as InitEx specifies, and the other
// program keeps its exclusive mode.
TEST_F(InitExTest, PortHeldByAnotherProgramIsSkippedAndKeepsItsExclusiveMode) {
  AddPrinter(1).Model.SetSerialNumber("AA000001");
  test::TModelPrinter& held = AddPrinter(2);
  held.Model.SetSerialNumber("BB000002");
  const int terminal = ::open(held.Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::ioctl(terminal, TIOCEXCL), 0);
  auto exclusive = [&] {
    int on = -1;
    EXPECT_EQ(::ioctl(terminal, TIOCGEXCL, &on), 0);
    return on;
  };

  ASSERT_EQ(InitEx("BB000002"), 0) << Message();
  EXPECT_EQ(ComPort(), 1);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "AA000001");
  EXPECT_EQ(held.Model.RequestCount(), 0u);
  EXPECT_THAT(LogText(), HasSubstr("InitEx. Checking again for FU on port: COM2 (it was in use)"));
  EXPECT_EQ(exclusive(), 1);
  Close();
  EXPECT_EQ(exclusive(), 1);
  ::close(terminal);
}

TEST_F(InitExTest, NoPrinterAnswering504InTheLanguageOfLocale) {
  AddUnopenablePort(3);
  AddSilentPrinter(4);
  EXPECT_EQ(InitEx("", 1), -1);
  EXPECT_EQ(Code(), 504);
  EXPECT_EQ(Message(), "[InitEx failed] No devices found ");
  EXPECT_EQ(O().FDevice, nullptr);
  EXPECT_EQ(LastFoundPort, -1);

  EXPECT_EQ(InitEx("", 0), -1);
  EXPECT_EQ(Code(), 504);
  EXPECT_EQ(Message(), "[InitEx failed] " + kNoDevicesBg + " ");
}

TEST_F(InitExTest, NoSerialPort503InBulgarianKeepsTheOldTransport) {
  AddPrinter(7);
  ASSERT_EQ(Init(7), 0);
  TBaseDevice* before = O().FDevice.get();
  ASSERT_TRUE(TComPortNames::RemoveMapping("COM7"));
  ASSERT_EQ(FObj->put_PrintInvDublicate(1), S_OK);
  O().FFiskParam.UniqueSellNo = "GONE";

  EXPECT_EQ(InitEx("", 1), -1);
  EXPECT_EQ(Code(), 503);
  EXPECT_EQ(Message(), "[InitEx failed] " + kNoPortsBg + " ");
  EXPECT_EQ(O().FDevice.get(), before);
  EXPECT_TRUE(O().FDevice->IsConnected());
  EXPECT_EQ(ComPort(), 7);
  // InitEx resets these whatever its outcome.
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");
  LONG dup = -1;
  ASSERT_EQ(FObj->get_PrintInvDublicate(&dup), S_OK);
  EXPECT_EQ(dup, 0);
  EXPECT_EQ(O().FLocale, 0);
  EXPECT_EQ(StartBon(9), 0) << Message();
}

// ---------------------------------------------------------------------------------------
// The port under the object: held alone, at the speed asked for, with texts in English.

TEST_F(ConnectTest, PortHeldByAnotherUserIsReportedAsInUseAndNothingIsSent) {
  auto& p = AddPrinter(7);
  ASSERT_EQ(Init(7), 0) << Message();
  test::TJumpClock otherClock;
  ComPtr<IMiravokFprn> other = NewObject(otherClock);
  p.Model.ClearRequests();
  LONG res = 7;
  ASSERT_EQ(other->Init(7, 115200, 0, 0, BStr(u"").Get(), &res), S_OK);
  EXPECT_EQ(res, -1);
  LONG otherCode = 0;
  BStr otherText;
  other->get_LastErrorCode(&otherCode);
  other->get_LastErrorMessage(otherText.Out());
  EXPECT_EQ(otherCode, 102);
  EXPECT_EQ(BstrToAnsi(otherText.Get()),
            "[Init failed] Failed open port COM7/115200 COM7 is in use by another program ");
  EXPECT_EQ(p.Model.RequestCount(), 0u);
  // The holder goes on undisturbed; once it has let go, the other one gets the port.
  EXPECT_EQ(StartBon(9), 0) << Message();
  EXPECT_EQ(EndBon(), 0) << Message();
  FObj->Close();
  ASSERT_EQ(other->Init(7, 115200, 0, 0, BStr(u"").Get(), &res), S_OK);
  EXPECT_EQ(res, 0);
}

TEST_F(ConnectTest, LineSpeedReadsBackAsSetAfterEveryInit) {
  auto& p = AddPrinter(7);
  // Speeds without a termios constant between standard ones: a standard speed after one of
  // them used to leave the input speed at the old value, for the next process too.
  for (LONG speed : {9600, 56000, 115200, 14400, 19200, 128000, 9600, 256000, 57600}) {
    SCOPED_TRACE(speed);
    ASSERT_EQ(Init(7, 0, speed), 0) << Message();
    FObj->Close();  // the device keeps its settings after the port is let go
    const int fd = ::open(p.Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint32_t in = 0, out = 0;
    EXPECT_TRUE(serial_speed::GetSpeeds(fd, in, out));
    ::close(fd);
    EXPECT_EQ(in, static_cast<std::uint32_t>(speed));
    EXPECT_EQ(out, static_cast<std::uint32_t>(speed));
  }
}

TEST_F(ConnectTest, SystemErrorTextsAreEnglishUnderABulgarianLocale) {
  test::TScopedLocale bulgarian(test::kBulgarianLocale);
  if (!bulgarian.TranslatesSystemErrors()) GTEST_SKIP() << test::kBulgarianLocale << " is not available here";
  EXPECT_EQ(Init(9), -1);  // COM9 names no device
  EXPECT_EQ(Code(), 102);
  EXPECT_EQ(Message(), "[Init failed] Failed open port COM9/115200 No such file or directory ");
  EXPECT_THAT(LogText(), HasSubstr("Failed open port COM9/115200 No such file or directory"));

  model::PrinterModel model;
  model::TcpEndpoint none(model, model::TcpEndpoint::NoListener());
  EXPECT_EQ(InitTCP(none.Host(), none.Port()), -1);
  EXPECT_EQ(Message(), "[Init failed] Failed to connect host. Connection refused ");
}

}  // namespace
}  // namespace fp::test
