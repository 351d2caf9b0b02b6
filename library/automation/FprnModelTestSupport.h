#pragma once
// Test support for the automation object against the printer model over real ptys: an
// object whose fields the test may read, printers mapped to COM port names in a registry
// of the test's own, a log folder of the test's own and a transport clock that lets
// exchange windows pass at once (TFprnModelTest, and TFprnConnectedTest with a printer
// already connected). The probe TFprnProbe also serves tests that give the object a
// scripted device of their own. Header only; for tests.
//
//   class MyTest : public fp::test::TFprnModelTest {};
//   TEST_F(MyTest, X) {
//     auto& P = AddPrinter(7);               // a printer model on a pty named COM7
//     P.Model.SetSerialNumber("CD123456");
//     ASSERT_EQ(Init(7), 0);
//     EXPECT_EQ(O().FBonType, 0);            // the object's own fields
//     EXPECT_THAT(LogText(), HasSubstr("Init. ComPort=7"));
//   }
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "library/automation/ConstUnit.h"
#include "library/protocol/DeviceClock.h"
#include "library/automation/MiravokFprnUnit.h"
#include "platform/ComPortNames.h"
#include "platform/Cp1251.h"
#include "tests/support/PortTestSupport.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {

// The text of a method called without a transport (its misspelling included).
inline const std::string kNotInit = "Device is not initiqlized. Call \"init\" first!";

// A clock that moves on by Step at every reading and by every sleep, without waiting: the
// windows of an exchange (4 s of counted attempts, 40 s of retries) are over at once, so a
// printer that does not answer costs one byte time-out of the port instead of several.
class TJumpClock : public IDeviceClock {
 public:
  TTimePoint Now() override { return T += Step; }
  void SleepFor(std::chrono::milliseconds D) override { T += D; }
  std::chrono::milliseconds Step{5000};
  TTimePoint T{};
};

// The object with its state readable, and a way to put it into the state in which
// StartBon leaves an open receipt.
class TFprnProbe : public TMiravokFprn {
 public:
  using TMiravokFprn::FBonType;
  using TMiravokFprn::FClientData;
  using TMiravokFprn::FDevice;
  using TMiravokFprn::FDiagnosticInfo;
  using TMiravokFprn::FFiskParam;
  using TMiravokFprn::FLastPrice;
  using TMiravokFprn::FLastQuantity;
  using TMiravokFprn::FLastUniqueSellNo;
  using TMiravokFprn::FLastVATGroup;
  using TMiravokFprn::FLineLength;
  using TMiravokFprn::FLocale;
  using TMiravokFprn::FNonFiscalOpen;
  using TMiravokFprn::FOnline;
  using TMiravokFprn::FPaidTotal;
  using TMiravokFprn::FPLUNumbering;
  using TMiravokFprn::FReceiptTotal;
  using TMiravokFprn::FStatusBytes;
  using TMiravokFprn::FTransportClock;
  using TMiravokFprn::TMiravokFprn;

  // The receipt fields as StartBon sets them for an opened receipt of BonType.
  void OpenReceipt(int32_t BonType, bool Numbering = false) {
    FBonType = BonType;
    FNonFiscalOpen = BonType == 1;
    FPLUNumbering = Numbering;
    FReceiptTotal = FPaidTotal = FLastPrice = FLastQuantity = 0;
    FLastVATGroup = 1;
  }

  // A new probe with one reference held by the caller (Release ends it).
  static TFprnProbe* Create(TComModule& Module) {
    auto* p = new TFprnProbe(Module, nullptr);
    p->AddRef();
    p->Initialize();
    return p;
  }
};

// The data of the requests with command byte Cmd that the model took, in order (each
// command once, without the repeats of a retried frame).
inline std::vector<std::string> RequestData(const model::PrinterModel& Model, uint8_t Cmd) {
  std::vector<std::string> out;
  for (const model::Request& r : Model.Requests())
    if (r.cmd == Cmd && r.frameOk && !r.repeat) out.push_back(r.data);
  return out;
}

// A printer model served on a pty; the model outlives its endpoint.
struct TModelPrinter {
  model::PrinterModel Model;
  model::PtyEndpoint Pty{Model};
};

class TFprnModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/fp_fprnmodel_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    FDir = templ;
    ResetLogToFile();
    SetLogToFileBaseName("MiravokFPAxX4_BG.so");
    FObj = NewObject(FClock);
    ASSERT_EQ(FObj->put_LogFilePath(BStr(Utf8ToWide(FDir + "/log")).Get()), S_OK);
  }
  void TearDown() override {
    FObj.Reset();
    FPrinters.clear();
    ResetLogToFile();
    SetLogToFileBaseName("");
    std::filesystem::remove_all(FDir);
  }

  ComPtr<IMiravokFprn> NewObject(IDeviceClock& TransportClock) {
    ComPtr<IMiravokFprn> p;
    EXPECT_EQ(ComCreateObject<TFprnProbe>(FModule, nullptr, IMiravokFprn::Iid, p.AsOut()), S_OK);
    static_cast<TFprnProbe*>(p.Get())->FTransportClock = &TransportClock;
    return p;
  }
  TFprnProbe& O() { return *static_cast<TFprnProbe*>(FObj.Get()); }

  // A printer model on a new pty, named COM<Number>.
  TModelPrinter& AddPrinter(int Number) {
    FPrinters.emplace_back(std::make_unique<TModelPrinter>());
    TModelPrinter& p = *FPrinters.back();
    EXPECT_TRUE(TComPortNames::SetMapping(ComPortName(Number), p.Pty.SlavePath()));
    return p;
  }
  // COM<Number> names a path that exists but is no serial port: it cannot be opened.
  void AddUnopenablePort(int Number) {
    const std::string path = FDir + "/not-a-port-" + std::to_string(Number);
    std::ofstream(path) << "x";
    EXPECT_TRUE(TComPortNames::SetMapping(ComPortName(Number), path));
  }

  // The methods, with wide texts given as UTF-8.
  LONG Init(LONG Port, LONG Locale = 0, LONG Speed = 115200) {
    LONG res = 99;
    EXPECT_EQ(FObj->Init(Port, Speed, Locale, 0, BStr(u"").Get(), &res), S_OK);
    return res;
  }
  LONG InitTCP(const std::string& Host, LONG Port, LONG Locale = 0) {
    LONG res = 99;
    EXPECT_EQ(FObj->InitTCP(BStr(Utf8ToWide(Host)).Get(), Port, Locale, 0, BStr(u"").Get(), &res), S_OK);
    return res;
  }
  LONG InitEx(const std::string& DeviceSerialNo, LONG Locale = 0) {
    LONG res = 99;
    EXPECT_EQ(FObj->InitEx(115200, Locale, 0, BStr(u"").Get(), BStr(Utf8ToWide(DeviceSerialNo)).Get(), &res), S_OK);
    return res;
  }
  struct TBuyer {
    std::string Number, TaxNumber, VatNumber, Company, City, Address, Mol, Receiver;
  };
  LONG StartBon(LONG BonType, LONG CashierNo = 3, const std::string& CashierName = "Ivan", const TBuyer& B = {},
                const std::string& Pass = "0000", LONG Pos = 1) {
    LONG res = 99;
    auto w = [](const std::string& S) { return BStr(Utf8ToWide(S)); };
    EXPECT_EQ(FObj->StartBon(BonType, 1, CashierNo, w(CashierName).Get(), w(Pass).Get(), Pos, w(B.Number).Get(),
                             w(B.TaxNumber).Get(), w(B.VatNumber).Get(), w(B.Company).Get(), w(B.City).Get(),
                             w(B.Address).Get(), w(B.Mol).Get(), w(B.Receiver).Get(), &res),
              S_OK);
    return res;
  }
  LONG EndBon() {
    LONG res = 99;
    EXPECT_EQ(FObj->EndBon(&res), S_OK);
    return res;
  }
  LONG Close() { return FObj->Close(); }

  LONG Code() {
    LONG c = -99;
    EXPECT_EQ(FObj->get_LastErrorCode(&c), S_OK);
    return c;
  }
  // LastErrorMessage as 8-bit code page 1251 text.
  std::string Message() {
    BStr m;
    EXPECT_EQ(FObj->get_LastErrorMessage(m.Out()), S_OK);
    return BstrToAnsi(m.Get());
  }
  std::string LastUniqueSellNo() {
    BStr m;
    EXPECT_EQ(FObj->get_LastUniqueSellNo(m.Out()), S_OK);
    return BstrToAnsi(m.Get());
  }
  // The library's log so far (8-bit text).
  std::string LogText() {
    std::ifstream in(CurrentLogFileName(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  TComModule FModule;
  TJumpClock FClock;
  TScopedTempRegistry FRegistry;
  TScopedFakeDevices FNoMachinePorts;  // only the ports a test maps are there
  std::string FDir;
  std::list<std::unique_ptr<TModelPrinter>> FPrinters;
  ComPtr<IMiravokFprn> FObj;
};

// The fixture with a printer model on COM7, connected by Init; the model's record of
// requests starts empty.
class TFprnConnectedTest : public TFprnModelTest {
 protected:
  void SetUp() override {
    TFprnModelTest::SetUp();
    FP = &AddPrinter(7);
    ASSERT_EQ(Init(7), 0) << Message();
    M().ClearRequests();
  }
  model::PrinterModel& M() { return FP->Model; }
  // The command bytes the object sent since the last ClearRequests.
  std::vector<uint8_t> Sent() { return M().Commands(); }
  bool WasSent(uint8_t Cmd) {
    for (uint8_t c : Sent())
      if (c == Cmd) return true;
    return false;
  }

  TModelPrinter* FP = nullptr;
};

}  // namespace fp::test
