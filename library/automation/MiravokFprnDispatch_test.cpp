// Every entry of IMiravokFprn through IDispatch::Invoke, by name and by DISPID, with the
// argument count and types of the interface's table, against an object connected to the
// printer model; and none of them may still answer "Not implemented".
#include <cctype>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"

namespace fp::test {
namespace {

// The interface's entries as a client knows them: kind (M method, G property get, P
// property put), DISPID, name and signature. The signature lists the arguments in order
// ("&" marks an argument passed by reference) and, after ">", the type of the result.
struct TRow {
  char Kind;
  DISPID Id;
  const char* Name;
  const char* Signature;
};

const TRow kEntries[] = {
    {'M', 0x1, "Init", "I4 I4 I4 I4 BSTR > I4"},
    {'M', 0x2, "Close", ""},
    {'M', 0x5, "StartBon", "I4 I4 I4 BSTR BSTR I4 BSTR BSTR BSTR BSTR BSTR BSTR BSTR BSTR > I4"},
    {'M', 0x6, "EndBon", "> I4"},
    {'M', 0x7, "AddPLU", "BSTR BSTR R8 R8 I4 > I4"},
    {'M', 0x8, "AddLine", "BSTR BSTR I4 > I4"},
    {'M', 0x9, "AddDiscount", "I4 R8 > I4"},
    {'M', 0xa, "AddBarcode", "BSTR I4 I4 I4 > I4"},
    {'M', 0xb, "AddPayment", "I4 BSTR R8 R8 > I4"},
    {'M', 0x64, "CopyLastBon", "> I4"},
    {'M', 0x65, "GetClock", "> DATE"},
    {'M', 0x66, "SetClock", "DATE > I4"},
    {'M', 0x67, "DisplayPrint", "BSTR BSTR > I4"},
    {'M', 0x68, "InOutMoney", "R8 I4 > I4"},
    {'M', 0xc8, "GetLastDocNumber", "> I4"},
    {'M', 0xc9, "GetNextInvoiceNumber", "> BSTR"},
    {'M', 0xca, "GetSerialNumber", "> BSTR"},
    {'M', 0xcb, "GetFiscalNumber", "> BSTR"},
    {'M', 0xcf, "GetDriverVersion", "> BSTR"},
    {'M', 0xd0, "GetDriverVendor", "> BSTR"},
    {'M', 0xd1, "GetPrinterModel", "> BSTR"},
    {'M', 0xce, "GetHardwareStatus", "&BSTR > I4"},
    {'M', 0x96, "RunFMBlockReport", "I4 I4 I4 > I4"},
    {'M', 0x97, "RunFMDateReport", "DATE DATE I4 > I4"},
    {'M', 0x98, "RunXReport", "> I4"},
    {'M', 0x99, "RunZReport", "> I4"},
    {'M', 0x9a, "RunPLUReport", "I4 I4 > I4"},
    {'M', 0x9b, "RunPrinterTest", "> I4"},
    {'G', 0x12c, "LogFilePath", "> BSTR"},
    {'P', 0x12c, "LogFilePath", "BSTR"},
    {'G', 0xd6, "PrintInvDublicate", "> I4"},
    {'P', 0xd6, "PrintInvDublicate", "I4"},
    {'M', 0xcc, "GetRecieptStatus", "> DISP"},
    {'G', 0xcd, "LastErrorCode", "> I4"},
    {'G', 0xd2, "LastErrorMessage", "> BSTR"},
    {'M', 0xd4, "GetXReportData", "> DISP"},
    {'M', 0xd5, "GetAdvLinets", "> DISP"},
    {'M', 0xd7, "SetAdvLine", "I4 BSTR > I4"},
    {'G', 0xd8, "LineLength", "> I4"},
    {'M', 0xd9, "AddDeprtPlu", "BSTR BSTR I4 R8 R8 I4 > I4"},
    {'M', 0xdb, "SetDeparment", "I4 I4 BSTR BSTR > I4"},
    {'M', 0xdc, "GetDeprtmentTotals", "I4 > DISP"},
    {'M', 0xda, "GetDepartmentName", "I4 > DISP"},
    {'M', 0xd3, "InitEx", "I4 I4 I4 BSTR BSTR > I4"},
    {'G', 0xdd, "ComPort", "> I4"},
    {'M', 0xde, "GetPayType", "I4 &BSTR > I4"},
    {'M', 0xdf, "ReportByDepartments", "I4 > I4"},
    {'M', 0xe0, "GetPLUData", "I4 &I4 &I1 &R8 &R8 &R8 &R8 &BSTR > I4"},
    {'M', 0xe1, "SetPluData", "I4 I4 I4 R8 BSTR > I4"},
    {'M', 0xe2, "AddProgPlu", "I4 I4 R8 R8 I4 > I4"},
    {'M', 0xe3, "GetLastError", "I4 > BSTR"},
    {'M', 0xe4, "GetErrCodeText", "I4 I4 > BSTR"},
    {'M', 0xe5, "OpenCashDrawer", "I4 > I4"},
    {'M', 0xe9, "AddUniqueSellNom", "BSTR > I4"},
    {'M', 0xe6, "SetRefundParams", "I4 I4 I4 BSTR BSTR > I4"},
    {'M', 0xe7, "CheckPRNStatus", "&I4 > I4"},
    {'M', 0xe8, "GetNextRefundInvNumber", "> BSTR"},
    {'G', 0xea, "LastUniqueSellNo", "> BSTR"},
    {'M', 0xec, "VoidCurrentReciept", "> I4"},
    {'G', 0xeb, "FPName", "> BSTR"},
    {'G', 0xed, "FPSerial", "> BSTR"},
    {'G', 0xee, "FPFiscalNom", "> BSTR"},
    {'G', 0xef, "FPVersion", "> BSTR"},
    {'G', 0xf0, "FPDateTimeAsString", "> BSTR"},
    {'P', 0xf0, "FPDateTimeAsString", "BSTR"},
    {'M', 0xf1, "InitTCP", "BSTR I4 I4 I4 BSTR > I4"},
    {'M', 0xf2, "DisplayTop", "BSTR > I4"},
    {'M', 0xf3, "DisplayBottom", "BSTR > I4"},
    {'M', 0xf4, "DisplayClear", "> I4"},
    {'M', 0xf5, "DisplayDateTime", "> I4"},
    {'M', 0xf6, "SetOperator", "I4 BSTR BSTR > I4"},
    {'M', 0xf7, "GetCurrencyMode", "&I4 > I4"},
    {'M', 0xf8, "AddPaymentByCurrncy", "I4 BSTR R8 R8 BSTR > I4"},
};

struct TArgType {
  VARTYPE Vt;
  bool ByRef;
};

VARTYPE TypeOf(const std::string& T) {
  static const std::map<std::string, VARTYPE> types = {{"I1", VT_I1},     {"I4", VT_I4},     {"R8", VT_R8},
                                                       {"DATE", VT_DATE}, {"BSTR", VT_BSTR}, {"DISP", VT_DISPATCH}};
  return types.at(T);
}

struct TSignature {
  std::vector<TArgType> Args;
  std::optional<VARTYPE> Result;
};

TSignature Parse(const char* Signature) {
  TSignature s;
  std::istringstream in(Signature);
  bool isResult = false;
  for (std::string t; in >> t;) {
    if (t == ">") {
      isResult = true;
    } else if (isResult) {
      s.Result = TypeOf(t);
    } else {
      const bool byRef = t[0] == '&';
      s.Args.push_back({TypeOf(byRef ? t.substr(1) : t), byRef});
    }
  }
  return s;
}

WORD Flags(char Kind) {
  return Kind == 'M' ? DISPATCH_METHOD : Kind == 'G' ? DISPATCH_PROPERTYGET : DISPATCH_PROPERTYPUT;
}

std::string Label(const TRow& R) { return std::string(1, R.Kind) + " " + R.Name; }

// The arguments of one call: by-value variants and the variables behind by-reference ones.
class TCallArgs {
 public:
  // Value(Index, Type) gives the by-value argument Index.
  template <class TValue>
  TCallArgs(const TSignature& S, TValue&& Value)
      : FLongs(S.Args.size(), 1), FBytes(S.Args.size(), 1), FDoubles(S.Args.size(), 1), FTexts(S.Args.size(), nullptr) {
    for (std::size_t i = 0; i < S.Args.size(); ++i) {
      const TArgType& a = S.Args[i];
      if (!a.ByRef) {
        FArgs.push_back(Value(i, a.Vt));
        continue;
      }
      switch (a.Vt) {
        case VT_BSTR:
          FTexts[i] = SysAllocString(u"client");
          FArgs.push_back(Variant::Ref(VT_BSTR, &FTexts[i]));
          break;
        case VT_I1: FArgs.push_back(Variant::Ref(VT_I1, &FBytes[i])); break;
        case VT_R8: FArgs.push_back(Variant::Ref(VT_R8, &FDoubles[i])); break;
        default: FArgs.push_back(Variant::Ref(VT_I4, &FLongs[i])); break;
      }
    }
  }
  ~TCallArgs() {
    for (BSTR t : FTexts) SysFreeString(t);
  }
  TCallArgs(const TCallArgs&) = delete;
  TCallArgs& operator=(const TCallArgs&) = delete;

  std::vector<Variant>& Args() { return FArgs; }
  std::span<VARIANT> Span() { return {static_cast<VARIANT*>(FArgs.data()), FArgs.size()}; }

 private:
  std::vector<LONG> FLongs;
  std::vector<std::int8_t> FBytes;
  std::vector<double> FDoubles;
  std::vector<BSTR> FTexts;
  std::vector<Variant> FArgs;
};

// Invoke by DISPID with the arguments in their natural order (reversed on the way, a
// put's value as the named argument DISPID_PROPERTYPUT).
HRESULT InvokeById(IDispatch* Disp, DISPID Id, WORD Kind, std::span<VARIANT> Args, VARIANT* Result,
                   UINT* ArgErr = nullptr) {
  std::vector<VARIANT> reversed(Args.rbegin(), Args.rend());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = UINT(reversed.size());
  if (Kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO info{};
  const HRESULT hr = Disp->Invoke(Id, IID_NULL, 0, Kind, &params, Result, &info, ArgErr);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  return hr;
}

class DispatchTableTest : public test::TFprnModelTest {
 protected:
  void SetUp() override {
    TFprnModelTest::SetUp();
    FP = &AddPrinter(7);
    FTcp = std::make_unique<model::TcpEndpoint>(FP->Model);
  }
  void TearDown() override {
    FTcp.reset();
    TFprnModelTest::TearDown();
  }

  // The by-value arguments: 1, 1.0 and "1" in general, and what lets the connecting
  // entries reach the printer model and the log folder stay inside the test's folder.
  Variant ValueFor(const TRow& R, std::size_t Index, VARTYPE Vt) {
    const std::string name = R.Name;
    if (name == "Init" && Index == 0) return Variant(LONG(7));
    if (name == "InitTCP" && Index == 0) return Variant(u"127.0.0.1");
    if (name == "InitTCP" && Index == 1) return Variant(LONG(FTcp->Port()));
    if (name == "LogFilePath") return Variant(std::u16string_view(Utf8ToWide(FDir + "/log")));
    switch (Vt) {
      case VT_BSTR: return Variant(u"1");
      case VT_R8: return Variant(1.0);
      case VT_DATE: return Variant::Date(46000);  // 9 December 2025
      default: return Variant(LONG(1));
    }
  }

  std::string LastError(IDispatch* Disp) {
    Variant message;
    EXPECT_EQ(DispCallByName(Disp, u"LastErrorMessage", DISPATCH_PROPERTYGET, {}, &message), S_OK);
    return message.vt == VT_BSTR ? BstrToAnsi(message.bstrVal) : std::string();
  }

  // Runs every row on one object connected to the printer model, by name or by DISPID;
  // reconnects after Close. Returns the rows that answered "Not implemented".
  std::vector<std::string> CallEveryEntry(bool ByName) {
    std::vector<std::string> stubs;
    ComPtr<IMiravokFprn> fprn = NewObject(FClock);
    LONG res = 99;
    EXPECT_EQ(fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &res), S_OK);
    EXPECT_EQ(res, 0);
    ComPtr<IDispatch> disp = fprn.As<IDispatch>();
    for (const TRow& r : kEntries) {
      const TSignature s = Parse(r.Signature);
      TCallArgs args(s, [&](std::size_t I, VARTYPE Vt) { return ValueFor(r, I, Vt); });
      Variant result;
      VARIANT* resultPtr = r.Kind == 'P' ? nullptr : &result;
      const HRESULT hr = ByName ? DispCallByName(disp.Get(), Utf8ToWide(r.Name), Flags(r.Kind), args.Span(), resultPtr)
                                : InvokeById(disp.Get(), r.Id, Flags(r.Kind), args.Span(), resultPtr);
      EXPECT_EQ(hr, S_OK) << Label(r);
      if (s.Result) {
        EXPECT_EQ(result.vt, *s.Result) << Label(r);
      } else if (r.Kind == 'M') {
        EXPECT_EQ(result.vt, VT_EMPTY) << Label(r);
      }
      if (LastError(disp.Get()).find("Not implemented") != std::string::npos) stubs.push_back(Label(r));
      if (std::string(r.Name) == "Close") {
        EXPECT_EQ(fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &res), S_OK);
        EXPECT_EQ(res, 0);
      }
    }
    // The entries worked on a connected printer, not only on a dead object.
    EXPECT_GT(FP->Model.Commands().size(), std::size(kEntries));
    return stubs;
  }

  test::TModelPrinter* FP = nullptr;
  std::unique_ptr<model::TcpEndpoint> FTcp;
};

std::string Join(const std::vector<std::string>& Items) {
  std::string s;
  for (const std::string& i : Items) s += (s.empty() ? "" : ", ") + i;
  return s;
}

TEST_F(DispatchTableTest, TableOfTheInterfaceHasEveryEntryInOrder) {
  const auto items = IMiravokFprn::DispTable().Items();
  ASSERT_EQ(items.size(), std::size(kEntries));
  for (std::size_t k = 0; k < items.size(); ++k) {
    const TRow& r = kEntries[k];
    const TDispEntry& e = items[k];
    EXPECT_STREQ(e.Name, r.Name) << "position " << k + 1;
    EXPECT_EQ(e.Id, r.Id) << Label(r);
    EXPECT_EQ(Flags(r.Kind), e.Kind == TDispKind::Method    ? DISPATCH_METHOD
                             : e.Kind == TDispKind::PropGet ? DISPATCH_PROPERTYGET
                                                            : DISPATCH_PROPERTYPUT)
        << Label(r);
    const TSignature s = Parse(r.Signature);
    std::vector<std::pair<VARTYPE, bool>> want, have;
    for (const TArgType& a : s.Args) want.emplace_back(a.Vt, a.ByRef);
    std::optional<VARTYPE> haveResult;
    for (const TDispArg& a : e.Arguments()) {
      if (a.Dir == TArgDir::Result)
        haveResult = a.Vt;
      else
        have.emplace_back(a.Vt, a.Dir != TArgDir::In);
    }
    EXPECT_EQ(have, want) << Label(r);
    EXPECT_EQ(haveResult, s.Result) << Label(r);
  }
}

TEST_F(DispatchTableTest, NamesMapToTheirDispids) {
  ComPtr<IDispatch> disp = FObj.As<IDispatch>();
  for (const TRow& r : kEntries) {
    // Names are found without regard to case.
    std::string lower = r.Name;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& name : {std::string(r.Name), lower}) {
      std::u16string text = Utf8ToWide(name);
      LPOLESTR names[] = {text.data()};
      DISPID id = DISPID_UNKNOWN;
      EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
      EXPECT_EQ(id, r.Id) << name;
    }
  }
}

TEST_F(DispatchTableTest, EveryEntryIsReachableByNameAndNoneIsAStub) {
  const std::vector<std::string> stubs = CallEveryEntry(true);
  EXPECT_TRUE(stubs.empty()) << "still not implemented: " << Join(stubs);
}

TEST_F(DispatchTableTest, EveryEntryIsReachableByDispidAndNoneIsAStub) {
  const std::vector<std::string> stubs = CallEveryEntry(false);
  EXPECT_TRUE(stubs.empty()) << "still not implemented: " << Join(stubs);
}

TEST_F(DispatchTableTest, WrongArgumentCountOrTypeIsRefusedBeforeTheCall) {
  ComPtr<IDispatch> disp = FObj.As<IDispatch>();
  for (const TRow& r : kEntries) {
    const TSignature s = Parse(r.Signature);
    {
      TCallArgs args(s, [&](std::size_t I, VARTYPE Vt) { return ValueFor(r, I, Vt); });
      args.Args().emplace_back(LONG(1));
      Variant result;
      EXPECT_EQ(InvokeById(disp.Get(), r.Id, Flags(r.Kind), args.Span(), r.Kind == 'P' ? nullptr : &result),
                DISP_E_BADPARAMCOUNT)
          << Label(r);
    }
    // A text that is no number where a number goes, or a reference of another type.
    for (std::size_t k = 0; k < s.Args.size(); ++k) {
      const TArgType& a = s.Args[k];
      if (a.Vt == VT_BSTR) continue;
      double wrong = 0;
      TCallArgs args(s, [&](std::size_t I, VARTYPE Vt) { return ValueFor(r, I, Vt); });
      if (a.ByRef)
        args.Args()[k] = Variant::Ref(a.Vt == VT_R8 ? VT_I4 : VT_R8, &wrong);
      else
        args.Args()[k] = Variant(u"x");
      Variant result;
      UINT argErr = 99;
      EXPECT_EQ(InvokeById(disp.Get(), r.Id, Flags(r.Kind), args.Span(), r.Kind == 'P' ? nullptr : &result, &argErr),
                DISP_E_TYPEMISMATCH)
          << Label(r) << " argument " << k + 1;
      EXPECT_EQ(argErr, s.Args.size() - 1 - k) << Label(r);  // counted in reverse order
      break;
    }
  }
  // Nothing reached the object: a refused call leaves the last error untouched.
  EXPECT_EQ(Code(), 0);
}

}  // namespace
}  // namespace fp::test
