// The program's client of the automation object: a call reaches the object with its
// arguments in the interface's types (texts as wide strings) and brings the object's
// answers back in the program's (texts in code page 1251).
#include "program/receipts/MiravokFprnProxy.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/FakeFprn.h"
#include "platform/com/OleAuto.h"

namespace fp::test {
namespace {

// "Вода", "Хляб", "Няма хартия" and "Порт зает" in code page 1251.
const std::string kWater = "\xC2\xEE\xE4\xE0";
const std::string kBread = "\xD5\xEB\xFF\xE1";
const std::string kPaperOut = "\xCD\xFF\xEC\xE0 \xF5\xE0\xF0\xF2\xE8\xFF";
const std::string kPortBusy = "\xCF\xEE\xF0\xF2 \xE7\xE0\xE5\xF2";

// Keeps what arrives in the interface's own types and answers fixed values. Entries it
// does not override answer S_OK without writing their result.
class TRecorder final : public test::TFakeFprnDefaults {
 public:
  std::u16string Text1, Text2;
  double Real1 = 0, Real2 = 0;
  LONG Int1 = 0;
  HRESULT Answer = S_OK;       // of GetPLUData, which writes its outputs in any case
  std::u16string Description;  // left as the thread's error information when it fails

  HRESULT AddPLU(BSTR Numb, BSTR Name, double Price, double Quantity, LONG VATGroup, LONG* Res) override {
    Text1 = BstrView(Numb), Text2 = BstrView(Name), Real1 = Price, Real2 = Quantity, Int1 = VATGroup;
    *Res = 7;
    return S_OK;
  }
  HRESULT GetPLUData(LONG PluNo, LONG* TaxGrp, std::int8_t* GrpNo, double* UnitPrice, double* TotalSum,
                     double* SoldQtty, double* AvailQtty, BSTR* Name, LONG* Res) override {
    Int1 = PluNo;
    *TaxGrp = 4, *GrpNo = -56, *UnitPrice = 1.25, *TotalSum = 10, *SoldQtty = 8, *AvailQtty = 2;
    *Name = MakeBstr(u"Хляб");
    *Res = 0;
    if (!Description.empty()) ComSetErrorInfo(IID_IMiravokFprn, u"test", Description);
    return Answer;
  }
  HRESULT GetHardwareStatus(BSTR* Status, LONG* Res) override {
    Text1 = BstrView(*Status);
    SysFreeString(*Status);
    *Status = MakeBstr(u"Няма хартия");
    *Res = 1;
    return S_OK;
  }
  HRESULT GetSerialNumber(BSTR* Res) override { return *Res = MakeBstr(u"Хляб"), S_OK; }
  HRESULT get_LastErrorCode(LONG* Value) override { return *Value = 206, S_OK; }
  HRESULT put_LogFilePath(BSTR value) override { return Text1 = BstrView(value), S_OK; }
  HRESULT GetRecieptStatus(IBonData** RecieptStatus) override { return *RecieptStatus = nullptr, S_OK; }
};

struct Proxy : ::testing::Test {
  ComPtr<TRecorder> obj{new TRecorder()};
  int made = 0;
  TMiravokFprnProxy proxy{[this] {
    ++made;
    return ComPtr<IMiravokFprn>(static_cast<IMiravokFprn*>(obj.Get()));
  }};
};

TEST_F(Proxy, InArgumentsArriveInTheInterfaceTypes) {
  EXPECT_FALSE(proxy.Created());
  EXPECT_EQ(proxy.AddPLU("0012", kWater, 1.5, 2.25, 3), 7);
  EXPECT_EQ(obj->Text1, u"0012");
  EXPECT_EQ(obj->Text2, u"Вода");
  EXPECT_EQ(obj->Real1, 1.5);
  EXPECT_EQ(obj->Real2, 2.25);
  EXPECT_EQ(obj->Int1, 3);

  proxy.LogFilePath(kBread);  // a property's setter
  EXPECT_EQ(obj->Text1, u"Хляб");
  EXPECT_TRUE(proxy.Created());
  EXPECT_EQ(made, 1);  // made on the first call only
}

TEST_F(Proxy, OutAndInOutValuesComeBackInTheProgramsTypes) {
  int32_t taxGrp = 0;
  int8_t group = 0;
  double price = 0, total = 0, sold = 0, available = 0;
  std::string name = "old";
  EXPECT_EQ(proxy.GetPLUData(12, taxGrp, group, price, total, sold, available, name), 0);
  EXPECT_EQ(obj->Int1, 12);
  EXPECT_EQ(taxGrp, 4);
  EXPECT_EQ(group, -56);
  EXPECT_EQ(price, 1.25);
  EXPECT_EQ(total, 10);
  EXPECT_EQ(sold, 8);
  EXPECT_EQ(available, 2);
  EXPECT_EQ(name, kBread);

  std::string status = kWater;
  EXPECT_EQ(proxy.GetHardwareStatus(status), 1);
  EXPECT_EQ(obj->Text1, u"Вода");  // an InOut text goes in with the caller's value
  EXPECT_EQ(status, kPaperOut);
}

TEST_F(Proxy, ResultsInTheProgramsTypes) {
  EXPECT_EQ(proxy.GetSerialNumber(), kBread);
  EXPECT_EQ(proxy.LastErrorCode(), 206);
  EXPECT_EQ(proxy.GetRecieptStatus().Get(), nullptr);
  // Results the object leaves unset: a method's number reads -1, a property's 0.
  EXPECT_EQ(proxy.RunXReport(), -1);
  EXPECT_EQ(proxy.LineLength(), 0);
  EXPECT_EQ(obj->Calls, (std::vector<std::string>{"RunXReport()", "LineLength()"}));
}

TEST_F(Proxy, AFailedCallRaisesAndLeavesTheCallersVariables) {
  obj->Answer = E_FAIL;
  obj->Description = u"Порт зает";
  int32_t taxGrp = 1;
  int8_t group = 2;
  double price = 3, total = 4, sold = 5, available = 6;
  std::string name = "old";
  try {
    proxy.GetPLUData(12, taxGrp, group, price, total, sold, available, name);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.what(), kPortBusy);  // the object's description
    EXPECT_EQ(e.ErrorCode, E_FAIL);
  }
  EXPECT_EQ(taxGrp, 1);
  EXPECT_EQ(group, 2);
  EXPECT_EQ(price, 3);
  EXPECT_EQ(total + sold + available, 15);
  EXPECT_EQ(name, "old");

  // Without a description: the text of the code.
  obj->Answer = static_cast<HRESULT>(0x80040201);
  obj->Description.clear();
  try {
    proxy.GetPLUData(12, taxGrp, group, price, total, sold, available, name);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_STREQ(e.what(), "OLE error 80040201");
  }
}

TEST(ProxyFactory, NoObjectIsAnInvalidPointer) {
  TMiravokFprnProxy proxy([] { return ComPtr<IMiravokFprn>(); });
  try {
    proxy.RunXReport();
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_STREQ(e.what(), "Invalid pointer");
    EXPECT_EQ(e.ErrorCode, E_POINTER);
  }
  EXPECT_FALSE(proxy.Created());
}

}  // namespace
}  // namespace fp::test
