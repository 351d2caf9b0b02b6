#pragma once
// A small component for the runtime's tests: the dual interface ITestCalc (from
// ITestCalc.def), a second plain interface ITestSecond, and the object TTestCalc that
// implements both. The tests use it in-process and through the library fp_comtestserver.so.
#include <cmath>
#include <charconv>
#include <stdexcept>
#include <string>

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"
#include "platform/com/Dispatch.h"

namespace fp::test {

#define FP_ITF_NAME ITestCalc
#define FP_ITF_IID "{5E0A3C1D-7B52-4C1E-9A0F-0C7D6B1E2A31}"
#define FP_ITF_DEF "platform/com/testserver/ITestCalc.def"
#include "platform/com/DispInterface.inc"

struct ITestSecond : IUnknown {
  static constexpr IID Iid = GuidConst("{7A2C5E3F-9D74-4E30-BC21-2E9F8D304C53}");
  using Base = IUnknown;
  virtual HRESULT Second(LONG* Value) = 0;

 protected:
  ~ITestSecond() = default;
};

inline constexpr CLSID CLSID_TestCalc = GuidConst("{6F1B4D2E-8C63-4D2F-AB10-1D8E7C2F3B42}");
inline constexpr const char16_t* ProgID_TestCalc = u"FpTest.Calc";
inline constexpr const char16_t* TestCalcSource = u"FpTest.Calc";

// Wide text to 8-bit code page 1251 for the Latin and basic Cyrillic letters the tests use.
inline std::string TestNarrow(std::u16string_view w) {
  std::string s;
  for (char16_t c : w) {
    if (c < 0x80)
      s += char(c);
    else if (c >= 0x410 && c <= 0x44F)
      s += char(c - 0x410 + 0xC0);
    else
      s += '?';
  }
  return s;
}

inline std::u16string TestNumber(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  (void)ec;
  return std::u16string(buf, end);
}

class TTestCalc : public TComObject<TTestCalc, TDispatchImpl<ITestCalc>, ITestSecond> {
 public:
  using TComObject::TComObject;

  void Initialize() override { FName = u"fresh"; }

  HRESULT Add(LONG A, LONG B, LONG* Sum) override {
    *Sum = A + B;
    return S_OK;
  }
  HRESULT Describe(BSTR Text, double Number, DATE When, std::int8_t Small, BSTR* Res) override {
    std::u16string s(BstrView(Text));
    s += u"|" + TestNumber(Number) + u"|" + TestNumber(When) + u"|" + TestNumber(Small);
    *Res = MakeBstr(s);
    return S_OK;
  }
  HRESULT Split(double Value, LONG* Whole, std::int8_t* Sign, BSTR* Text, BSTR* Label, LONG* Counter,
                LONG* Res) override {
    *Whole = LONG(std::trunc(Value));
    *Sign = std::int8_t(Value < 0 ? -1 : Value > 0 ? 1 : 0);
    *Text = MakeBstr(u"split");
    std::u16string label(BstrView(*Label));
    SysFreeString(*Label);
    *Label = MakeBstr(label + u"!");
    *Counter += 1;
    *Res = 0;
    return S_OK;
  }
  HRESULT Fail(BSTR Message, LONG* Res) override {
    *Res = -1;
    if (SysStringLen(Message) > 0)  // an empty message fails without error information
      ComSetErrorInfo(ITestCalc::Iid, TestCalcSource, BstrView(Message));
    return E_FAIL;
  }
  HRESULT Throw(BSTR Message) override {
    return ComGuard(ITestCalc::Iid, TestCalcSource,
                    [&]() -> HRESULT { throw std::runtime_error(TestNarrow(BstrView(Message))); });
  }
  HRESULT get_Name(BSTR* Value) override {
    *Value = MakeBstr(FName);
    return S_OK;
  }
  HRESULT put_Name(BSTR Value) override {
    FName = BstrView(Value);
    return S_OK;
  }
  HRESULT NextDay(DATE Day, DATE* Next) override {
    *Next = Day + 1;
    return S_OK;
  }
  HRESULT MakeChild(ITestCalc** Child) override {
    return ComCreateObject<TTestCalc>(Module(), nullptr, ITestCalc::Iid, reinterpret_cast<void**>(Child));
  }

  HRESULT Second(LONG* Value) override {
    *Value = 2;
    return S_OK;
  }

 private:
  std::u16string FName;
};

}  // namespace fp::test
