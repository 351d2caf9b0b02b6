// Connecting the automation object to printer models over ptys and TCP: Init, InitTCP,
// InitEx and Close with their state rules, the port search, the line length and the model
// test for the extended commands.
#include "library/automation/MiravokFprnConnect.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"
#include "tests/support/LocaleTestSupport.h"
#include "platform/SerialPortSpeed.h"

namespace fp {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using model::bit::NoPaper;

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
    test::TModelPrinter& P = AddPrinter(Number);
    P.Model.InjectNext(model::Fault::Silence, model::Times(1000000));
    return P;
  }
  LONG ComPort() {
    LONG V = -1;
    EXPECT_EQ(Obj->get_ComPort(&V), S_OK);
    return V;
  }
  LONG LineLength() {
    LONG V = -1;
    EXPECT_EQ(Obj->get_LineLength(&V), S_OK);
    return V;
  }
  // The ports in the order InitEx looked at them, in the log from byte From on.
  std::vector<std::string> SearchOrder(size_t From = 0) {
    std::vector<std::string> Order;
    const std::string Log = LogText().substr(From), Mark = "InitEx. Checking for FU on port: ";
    for (size_t At = Log.find(Mark); At != std::string::npos; At = Log.find(Mark, At + 1)) {
      const size_t Start = At + Mark.size();
      Order.push_back(Log.substr(Start, Log.find_first_of("\r\n", Start) - Start));
    }
    return Order;
  }
};

TEST(ModelListsTest, LineLengthByFirstFragmentFound) {
  struct {
    const char* Model;
    int Length;
  } Cases[] = {
      {"Kestrel S", 35},  {"Kestrel M-2", 35}, {"Wren S", 29},       {"Wren M", 29},
      {"Heron S", 45},    {"Heron XL", 45},    {"heron s", 29},      {"MODEL-T1", 29},
      {"", 29},           {"Wren S Heron L", 29},  // the earlier fragment in the list wins
  };
  for (const auto& C : Cases) EXPECT_EQ(ModelLineLength(C.Model), C.Length) << C.Model;
}

TEST(ModelListsTest, ExtendedModelsInCapitalsOrTheMakersNameAsReported) {
  EXPECT_TRUE(IsExtendedModel("Heron XL"));
  EXPECT_TRUE(IsExtendedModel("egret 2 plus"));  // compared in capitals
  EXPECT_TRUE(IsExtendedModel("MIRAVOK FP-1"));
  EXPECT_FALSE(IsExtendedModel("Miravok FP-1"));  // the maker's name is case-sensitive
  EXPECT_FALSE(IsExtendedModel("Wren S"));
  EXPECT_FALSE(IsExtendedModel(""));
  for (const char* F : ExtendedModelList) {
    const std::string S(F);
    EXPECT_EQ(S, [&] {
      std::string U = S;
      for (char& C : U) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
      return U;
    }()) << "fragments are written in capitals";
  }
}

TEST_F(ConnectTest, InitReadsThePrinterAndLogsItsData) {
  auto& P = AddPrinter(7);
  P.Model.SetSerialNumber("CD123456");
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
  EXPECT_THAT(P.Model.Commands(), ElementsAre(0x4A, 0x5A));
  const std::string Log = LogText();
  EXPECT_THAT(Log, HasSubstr("Init. ComPort=7 PortSpeed=115200 Locale=0 Language=0 SerialKey=''"));
  EXPECT_THAT(Log, HasSubstr("CheckPrinterStatus.."));
  // (The log writer trims the lines.)
  EXPECT_THAT(Log, HasSubstr("[INFO]> Model='MODEL-T1' LineLength=29"));
  EXPECT_THAT(Log, HasSubstr("[INFO]> Serial='CD123456'"));
}

TEST_F(ConnectTest, OnlineModeComesFromTheModeWord) {
  auto& P = AddPrinter(7);
  P.Model.SetModeWord("1.00ONLINE");
  ASSERT_EQ(Init(7), 0);
  EXPECT_TRUE(O().FOnline);
  P.Model.SetModeWord("1.00online");
  ASSERT_EQ(Init(7), 0);
  EXPECT_FALSE(O().FOnline);
}

TEST_F(ConnectTest, LineLengthFromTheModelListAndTheConstantsOfExtendedPrinters) {
  struct {
    const char* Model;
    const char* Constant;  // the ninth constant as the printer sends it (before the -2)
    int AfterInit, AfterInitEx;
    bool ReadsConstants;
  } Cases[] = {
      {"MODEL-T1", "44", 29, 29, false},   // no fragment; no extended commands
      {"Kestrel M", "37", 35, 35, true},   // 37 - 2 = 35
      {"Heron XL 2", "44", 42, 45, true},  // the printer's 42 after Init, the list after InitEx
      {"heron xl", "44", 42, 29, true},    // the list is case-sensitive, the extended test not
      {"Kestrel S", "27", 35, 35, true},   // 25 is not above 25
      {"MIRAVOK 1", "x", 29, 29, true},    // no number
      {"Kestrel S", "300", 35, 35, true},  // does not fit a line length
  };
  auto& P = AddPrinter(7);
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Model);
    P.Model.SetModelName(C.Model);
    P.Model.Edit([&](model::ModelState& S) { S.constants[8] = C.Constant; });
    P.Model.ClearRequests();
    ASSERT_EQ(Init(7), 0) << Message();
    EXPECT_EQ(LineLength(), C.AfterInit);
    const auto Cmds = P.Model.Commands();
    EXPECT_EQ(std::count(Cmds.begin(), Cmds.end(), 0x80), C.ReadsConstants ? 1 : 0);
    ASSERT_EQ(InitEx(""), 0) << Message();
    EXPECT_EQ(LineLength(), C.AfterInitEx);
  }
}

TEST_F(ConnectTest, ConstantsRefusedOnlyLogged) {
  auto& P = AddPrinter(7);
  P.Model.SetModelName("Heron S");
  P.Model.ScriptNext(0x80, model::ReplyBits(model::Bits({model::bit::InvalidCommand})));
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
  } Cases[] = {{0, 3, 3}, {-5, 4, 0}, {256, -1, 0}, {1, 1, 1}};
  for (const auto& C : Cases) {
    ASSERT_EQ(Init(C.Port, C.Locale), 0) << C.Port << " " << Message();
    EXPECT_EQ(ComPort(), 1);
    EXPECT_EQ(O().FLocale, C.Locale8) << C.Locale;
  }
}

TEST_F(ConnectTest, FailedInitKeepsPrinterDataFreesTheTransportAndResetsLocaleAndDuplicate) {
  auto& P = AddPrinter(7);
  P.Model.SetSerialNumber("CD123456");
  ASSERT_EQ(Init(7, 1), 0);
  O().FFiskParam.UniqueSellNo = "KEEP-1";
  O().FLastUniqueSellNo = "KEEP-2";
  O().FBonType = 2;
  ASSERT_EQ(Obj->put_PrintInvDublicate(1), S_OK);

  // COM9 is named nowhere: the port cannot be opened.
  EXPECT_EQ(Init(9, 3), -1);
  EXPECT_EQ(Code(), 102);
  EXPECT_THAT(Message(), StartsWith("[Init failed] "));
  EXPECT_EQ(O().FDevice, nullptr);
  EXPECT_EQ(ComPort(), 9);  // set before connecting
  EXPECT_EQ(O().FLocale, 3);
  LONG Dup = -1;
  ASSERT_EQ(Obj->get_PrintInvDublicate(&Dup), S_OK);
  EXPECT_EQ(Dup, 0);
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
  auto& P = AddPrinter(7);
  P.Model.SetStatusBit(NoPaper);
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
  auto& P = AddPrinter(7);
  ASSERT_EQ(Init(7), 0);
  ASSERT_EQ(StartBon(2), 0) << Message();
  ASSERT_TRUE(P.Model.State().open.has_value());

  EXPECT_EQ(Close(), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  const auto S = P.Model.State();
  EXPECT_FALSE(S.open.has_value());
  ASSERT_FALSE(S.closed.empty());
  EXPECT_TRUE(S.closed.back().cancelled);
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
  auto& P = AddPrinter(7);
  model::PrinterModel M;
  model::TcpEndpoint Tcp(M);
  const std::function<LONG()> Inits[] = {
      [&] { return Init(7); }, [&] { return InitEx(""); }, [&] { return InitTCP(Tcp.Host(), Tcp.Port()); }};
  for (size_t K = 0; K < std::size(Inits); ++K) {
    SCOPED_TRACE(K);
    ASSERT_EQ(Init(7), 0) << Message();
    ASSERT_EQ(StartBon(1), 0) << Message();
    Close();
    ASSERT_EQ(Inits[K](), 0) << Message();
    EXPECT_EQ(O().FBonType, 0);
    EXPECT_FALSE(O().FNonFiscalOpen);
    P.Model.ClearRequests();
    M.ClearRequests();
    LONG Res = 99;
    ASSERT_EQ(Obj->AddPLU(BStr(u"1").Get(), BStr(u"Bread").Get(), 1.5, 1, 2, &Res), S_OK);
    EXPECT_EQ(Res, 0) << Message();
    // No receipt open: nothing is printed or sent.
    EXPECT_TRUE(P.Model.Commands().empty());
    EXPECT_TRUE(M.Commands().empty());
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
  model::PrinterModel M;
  M.SetSerialNumber("TC000001");
  model::TcpEndpoint Tcp(M);
  ASSERT_EQ(InitTCP(Tcp.Host(), Tcp.Port()), 0) << Message();
  EXPECT_EQ(ComPort(), 7);
  EXPECT_EQ(O().FDiagnosticInfo.Text[6], "TC000001");
  EXPECT_THAT(LogText(), HasSubstr("InitTCP. IPAddress=127.0.0.1, IPPort=" + std::to_string(Tcp.Port()) +
                                   ", Locale=0, Language=0, SerialKey=''"));
  EXPECT_THAT(M.Commands(), ElementsAre(0x4A, 0x5A));

  model::PrinterModel Deaf;
  model::TcpEndpoint Refusing(Deaf, model::TcpEndpoint::NoListener());
  EXPECT_EQ(InitTCP(Refusing.Host(), Refusing.Port()), -1);
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
  const std::string Log = LogText();
  EXPECT_THAT(Log, HasSubstr("InitEx. PortSpeed=115200 Locale=0 DeviceSerialNo=\"\" Language=0 SerialKey=''"));
  size_t Errors = 0;
  for (size_t At = Log.find("InitEx error: "); At != std::string::npos; At = Log.find("InitEx error: ", At + 1))
    ++Errors;
  EXPECT_EQ(Errors, 2u);  // COM3 and COM4
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
  const size_t Mark = LogText().size();
  ASSERT_EQ(InitEx("AA000002"), 0) << Message();
  EXPECT_THAT(SearchOrder(Mark), ElementsAre("COM2"));
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
  TBaseDevice* Before = O().FDevice.get();
  ASSERT_TRUE(TComPortNames::RemoveMapping("COM7"));
  ASSERT_EQ(Obj->put_PrintInvDublicate(1), S_OK);
  O().FFiskParam.UniqueSellNo = "GONE";

  EXPECT_EQ(InitEx("", 1), -1);
  EXPECT_EQ(Code(), 503);
  EXPECT_EQ(Message(), "[InitEx failed] " + kNoPortsBg + " ");
  EXPECT_EQ(O().FDevice.get(), Before);
  EXPECT_TRUE(O().FDevice->IsConnected());
  EXPECT_EQ(ComPort(), 7);
  // InitEx resets these whatever its outcome.
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");
  LONG Dup = -1;
  ASSERT_EQ(Obj->get_PrintInvDublicate(&Dup), S_OK);
  EXPECT_EQ(Dup, 0);
  EXPECT_EQ(O().FLocale, 0);
  EXPECT_EQ(StartBon(9), 0) << Message();
}

// ---------------------------------------------------------------------------------------
// The port under the object: held alone, at the speed asked for, with texts in English.

TEST_F(ConnectTest, PortHeldByAnotherUserIsReportedAsInUseAndNothingIsSent) {
  auto& P = AddPrinter(7);
  ASSERT_EQ(Init(7), 0) << Message();
  test::TJumpClock OtherClock;
  ComPtr<IMiravokFprn> Other = NewObject(OtherClock);
  P.Model.ClearRequests();
  LONG Res = 7;
  ASSERT_EQ(Other->Init(7, 115200, 0, 0, BStr(u"").Get(), &Res), S_OK);
  EXPECT_EQ(Res, -1);
  LONG OtherCode = 0;
  BStr OtherText;
  Other->get_LastErrorCode(&OtherCode);
  Other->get_LastErrorMessage(OtherText.Out());
  EXPECT_EQ(OtherCode, 102);
  EXPECT_EQ(BstrToAnsi(OtherText.Get()),
            "[Init failed] Failed open port COM7/115200 COM7 is in use by another program ");
  EXPECT_EQ(P.Model.RequestCount(), 0u);
  // The holder goes on undisturbed; once it has let go, the other one gets the port.
  EXPECT_EQ(StartBon(9), 0) << Message();
  EXPECT_EQ(EndBon(), 0) << Message();
  Obj->Close();
  ASSERT_EQ(Other->Init(7, 115200, 0, 0, BStr(u"").Get(), &Res), S_OK);
  EXPECT_EQ(Res, 0);
}

TEST_F(ConnectTest, LineSpeedReadsBackAsSetAfterEveryInit) {
  auto& P = AddPrinter(7);
  // Speeds without a termios constant between standard ones: a standard speed after one of
  // them used to leave the input speed at the old value, for the next process too.
  for (LONG Speed : {9600, 56000, 115200, 14400, 19200, 128000, 9600, 256000, 57600}) {
    SCOPED_TRACE(Speed);
    ASSERT_EQ(Init(7, 0, Speed), 0) << Message();
    Obj->Close();  // the device keeps its settings after the port is let go
    const int Fd = ::open(P.Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Fd, 0);
    std::uint32_t In = 0, Out = 0;
    EXPECT_TRUE(serial_speed::GetSpeeds(Fd, In, Out));
    ::close(Fd);
    EXPECT_EQ(In, static_cast<std::uint32_t>(Speed));
    EXPECT_EQ(Out, static_cast<std::uint32_t>(Speed));
  }
}

TEST_F(ConnectTest, SystemErrorTextsAreEnglishUnderABulgarianLocale) {
  test::TScopedLocale Bulgarian(test::kBulgarianLocale);
  if (!Bulgarian.TranslatesSystemErrors()) GTEST_SKIP() << test::kBulgarianLocale << " is not available here";
  EXPECT_EQ(Init(9), -1);  // COM9 names no device
  EXPECT_EQ(Code(), 102);
  EXPECT_EQ(Message(), "[Init failed] Failed open port COM9/115200 No such file or directory ");
  EXPECT_THAT(LogText(), HasSubstr("Failed open port COM9/115200 No such file or directory"));

  model::PrinterModel Model;
  model::TcpEndpoint None(Model, model::TcpEndpoint::NoListener());
  EXPECT_EQ(InitTCP(None.Host(), None.Port()), -1);
  EXPECT_EQ(Message(), "[Init failed] Failed to connect host. Connection refused ");
}

}  // namespace
}  // namespace fp
