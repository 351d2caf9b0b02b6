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

namespace fp {
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
  static const std::map<std::string, VARTYPE> Types = {
      {"I1", VT_I1}, {"I4", VT_I4}, {"R8", VT_R8}, {"DATE", VT_DATE}, {"BSTR", VT_BSTR}, {"DISP", VT_DISPATCH}};
  return Types.at(T);
}

struct TSignature {
  std::vector<TArgType> Args;
  std::optional<VARTYPE> Result;
};

TSignature Parse(const char* Signature) {
  TSignature S;
  std::istringstream In(Signature);
  bool IsResult = false;
  for (std::string T; In >> T;) {
    if (T == ">") {
      IsResult = true;
    } else if (IsResult) {
      S.Result = TypeOf(T);
    } else {
      const bool ByRef = T[0] == '&';
      S.Args.push_back({TypeOf(ByRef ? T.substr(1) : T), ByRef});
    }
  }
  return S;
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
      : Longs_(S.Args.size(), 1), Bytes_(S.Args.size(), 1), Doubles_(S.Args.size(), 1),
        Texts_(S.Args.size(), nullptr) {
    for (std::size_t I = 0; I < S.Args.size(); ++I) {
      const TArgType& A = S.Args[I];
      if (!A.ByRef) {
        Args_.push_back(Value(I, A.Vt));
        continue;
      }
      switch (A.Vt) {
        case VT_BSTR:
          Texts_[I] = SysAllocString(u"client");
          Args_.push_back(Variant::Ref(VT_BSTR, &Texts_[I]));
          break;
        case VT_I1: Args_.push_back(Variant::Ref(VT_I1, &Bytes_[I])); break;
        case VT_R8: Args_.push_back(Variant::Ref(VT_R8, &Doubles_[I])); break;
        default: Args_.push_back(Variant::Ref(VT_I4, &Longs_[I])); break;
      }
    }
  }
  ~TCallArgs() {
    for (BSTR T : Texts_) SysFreeString(T);
  }
  TCallArgs(const TCallArgs&) = delete;
  TCallArgs& operator=(const TCallArgs&) = delete;

  std::vector<Variant>& Args() { return Args_; }
  std::span<VARIANT> Span() { return {static_cast<VARIANT*>(Args_.data()), Args_.size()}; }

 private:
  std::vector<LONG> Longs_;
  std::vector<std::int8_t> Bytes_;
  std::vector<double> Doubles_;
  std::vector<BSTR> Texts_;
  std::vector<Variant> Args_;
};

// Invoke by DISPID with the arguments in their natural order (reversed on the way, a
// put's value as the named argument DISPID_PROPERTYPUT).
HRESULT InvokeById(IDispatch* Disp, DISPID Id, WORD Kind, std::span<VARIANT> Args, VARIANT* Result,
                   UINT* ArgErr = nullptr) {
  std::vector<VARIANT> Reversed(Args.rbegin(), Args.rend());
  DISPID PutId = DISPID_PROPERTYPUT;
  DISPPARAMS Params{};
  Params.rgvarg = Reversed.empty() ? nullptr : Reversed.data();
  Params.cArgs = UINT(Reversed.size());
  if (Kind == DISPATCH_PROPERTYPUT) {
    Params.rgdispidNamedArgs = &PutId;
    Params.cNamedArgs = 1;
  }
  EXCEPINFO Info{};
  const HRESULT Hr = Disp->Invoke(Id, IID_NULL, 0, Kind, &Params, Result, &Info, ArgErr);
  SysFreeString(Info.bstrSource);
  SysFreeString(Info.bstrDescription);
  return Hr;
}

class DispatchTableTest : public test::TFprnModelTest {
 protected:
  void SetUp() override {
    TFprnModelTest::SetUp();
    P = &AddPrinter(7);
    Tcp = std::make_unique<model::TcpEndpoint>(P->Model);
  }
  void TearDown() override {
    Tcp.reset();
    TFprnModelTest::TearDown();
  }

  // The by-value arguments: 1, 1.0 and "1" in general, and what lets the connecting
  // entries reach the printer model and the log folder stay inside the test's folder.
  Variant ValueFor(const TRow& R, std::size_t Index, VARTYPE Vt) {
    const std::string Name = R.Name;
    if (Name == "Init" && Index == 0) return Variant(LONG(7));
    if (Name == "InitTCP" && Index == 0) return Variant(u"127.0.0.1");
    if (Name == "InitTCP" && Index == 1) return Variant(LONG(Tcp->Port()));
    if (Name == "LogFilePath") return Variant(std::u16string_view(Utf8ToWide(Dir + "/log")));
    switch (Vt) {
      case VT_BSTR: return Variant(u"1");
      case VT_R8: return Variant(1.0);
      case VT_DATE: return Variant::Date(46000);  // 9 December 2025
      default: return Variant(LONG(1));
    }
  }

  std::string LastError(IDispatch* Disp) {
    Variant Message;
    EXPECT_EQ(DispCallByName(Disp, u"LastErrorMessage", DISPATCH_PROPERTYGET, {}, &Message), S_OK);
    return Message.vt == VT_BSTR ? BstrToAnsi(Message.bstrVal) : std::string();
  }

  // Runs every row on one object connected to the printer model, by name or by DISPID;
  // reconnects after Close. Returns the rows that answered "Not implemented".
  std::vector<std::string> CallEveryEntry(bool ByName) {
    std::vector<std::string> Stubs;
    ComPtr<IMiravokFprn> Fprn = NewObject(Clock);
    LONG Res = 99;
    EXPECT_EQ(Fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &Res), S_OK);
    EXPECT_EQ(Res, 0);
    ComPtr<IDispatch> Disp = Fprn.As<IDispatch>();
    for (const TRow& R : kEntries) {
      const TSignature S = Parse(R.Signature);
      TCallArgs Args(S, [&](std::size_t I, VARTYPE Vt) { return ValueFor(R, I, Vt); });
      Variant Result;
      VARIANT* ResultPtr = R.Kind == 'P' ? nullptr : &Result;
      const HRESULT Hr =
          ByName ? DispCallByName(Disp.Get(), Utf8ToWide(R.Name), Flags(R.Kind), Args.Span(), ResultPtr)
                 : InvokeById(Disp.Get(), R.Id, Flags(R.Kind), Args.Span(), ResultPtr);
      EXPECT_EQ(Hr, S_OK) << Label(R);
      if (S.Result) {
        EXPECT_EQ(Result.vt, *S.Result) << Label(R);
      } else if (R.Kind == 'M') {
        EXPECT_EQ(Result.vt, VT_EMPTY) << Label(R);
      }
      if (LastError(Disp.Get()).find("Not implemented") != std::string::npos) Stubs.push_back(Label(R));
      if (std::string(R.Name) == "Close") {
        EXPECT_EQ(Fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &Res), S_OK);
        EXPECT_EQ(Res, 0);
      }
    }
    // The entries worked on a connected printer, not only on a dead object.
    EXPECT_GT(P->Model.Commands().size(), std::size(kEntries));
    return Stubs;
  }

  test::TModelPrinter* P = nullptr;
  std::unique_ptr<model::TcpEndpoint> Tcp;
};

std::string Join(const std::vector<std::string>& Items) {
  std::string S;
  for (const std::string& I : Items) S += (S.empty() ? "" : ", ") + I;
  return S;
}

TEST_F(DispatchTableTest, TableOfTheInterfaceHasEveryEntryInOrder) {
  const auto Items = IMiravokFprn::DispTable().Items();
  ASSERT_EQ(Items.size(), std::size(kEntries));
  for (std::size_t K = 0; K < Items.size(); ++K) {
    const TRow& R = kEntries[K];
    const TDispEntry& E = Items[K];
    EXPECT_STREQ(E.Name, R.Name) << "position " << K + 1;
    EXPECT_EQ(E.Id, R.Id) << Label(R);
    EXPECT_EQ(Flags(R.Kind), E.Kind == TDispKind::Method    ? DISPATCH_METHOD
                             : E.Kind == TDispKind::PropGet ? DISPATCH_PROPERTYGET
                                                            : DISPATCH_PROPERTYPUT)
        << Label(R);
    const TSignature S = Parse(R.Signature);
    std::vector<std::pair<VARTYPE, bool>> Want, Have;
    for (const TArgType& A : S.Args) Want.emplace_back(A.Vt, A.ByRef);
    std::optional<VARTYPE> HaveResult;
    for (const TDispArg& A : E.Arguments()) {
      if (A.Dir == TArgDir::Result)
        HaveResult = A.Vt;
      else
        Have.emplace_back(A.Vt, A.Dir != TArgDir::In);
    }
    EXPECT_EQ(Have, Want) << Label(R);
    EXPECT_EQ(HaveResult, S.Result) << Label(R);
  }
}

TEST_F(DispatchTableTest, NamesMapToTheirDispids) {
  ComPtr<IDispatch> Disp = Obj.As<IDispatch>();
  for (const TRow& R : kEntries) {
    // Names are found without regard to case.
    std::string Lower = R.Name;
    for (char& C : Lower) C = char(std::tolower(static_cast<unsigned char>(C)));
    for (const std::string& Name : {std::string(R.Name), Lower}) {
      std::u16string Text = Utf8ToWide(Name);
      LPOLESTR Names[] = {Text.data()};
      DISPID Id = DISPID_UNKNOWN;
      EXPECT_EQ(Disp->GetIDsOfNames(IID_NULL, Names, 1, 0, &Id), S_OK) << Name;
      EXPECT_EQ(Id, R.Id) << Name;
    }
  }
}

TEST_F(DispatchTableTest, EveryEntryIsReachableByNameAndNoneIsAStub) {
  const std::vector<std::string> Stubs = CallEveryEntry(true);
  EXPECT_TRUE(Stubs.empty()) << "still not implemented: " << Join(Stubs);
}

TEST_F(DispatchTableTest, EveryEntryIsReachableByDispidAndNoneIsAStub) {
  const std::vector<std::string> Stubs = CallEveryEntry(false);
  EXPECT_TRUE(Stubs.empty()) << "still not implemented: " << Join(Stubs);
}

TEST_F(DispatchTableTest, WrongArgumentCountOrTypeIsRefusedBeforeTheCall) {
  ComPtr<IDispatch> Disp = Obj.As<IDispatch>();
  for (const TRow& R : kEntries) {
    const TSignature S = Parse(R.Signature);
    {
      TCallArgs Args(S, [&](std::size_t I, VARTYPE Vt) { return ValueFor(R, I, Vt); });
      Args.Args().emplace_back(LONG(1));
      Variant Result;
      EXPECT_EQ(InvokeById(Disp.Get(), R.Id, Flags(R.Kind), Args.Span(), R.Kind == 'P' ? nullptr : &Result),
                DISP_E_BADPARAMCOUNT)
          << Label(R);
    }
    // A text that is no number where a number goes, or a reference of another type.
    for (std::size_t K = 0; K < S.Args.size(); ++K) {
      const TArgType& A = S.Args[K];
      if (A.Vt == VT_BSTR) continue;
      double Wrong = 0;
      TCallArgs Args(S, [&](std::size_t I, VARTYPE Vt) { return ValueFor(R, I, Vt); });
      if (A.ByRef)
        Args.Args()[K] = Variant::Ref(A.Vt == VT_R8 ? VT_I4 : VT_R8, &Wrong);
      else
        Args.Args()[K] = Variant(u"x");
      Variant Result;
      UINT ArgErr = 99;
      EXPECT_EQ(InvokeById(Disp.Get(), R.Id, Flags(R.Kind), Args.Span(), R.Kind == 'P' ? nullptr : &Result,
                           &ArgErr),
                DISP_E_TYPEMISMATCH)
          << Label(R) << " argument " << K + 1;
      EXPECT_EQ(ArgErr, S.Args.size() - 1 - K) << Label(R);  // counted in reverse order
      break;
    }
  }
  // Nothing reached the object: a refused call leaves the last error untouched.
  EXPECT_EQ(Code(), 0);
}

}  // namespace
}  // namespace fp
