// The arguments that clients send through IDispatch, checked on what the printer model
// receives: every numeric VARIANT type by value, by reference and inside a variant
// reference, for each kind of parameter; and named arguments in any order.
#include <charconv>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"
#include "library/protocol/WireNumbers.h"
#include "platform/com/Dispatch.h"

namespace fp {
namespace {

constexpr uint8_t kSale = 0x31, kPayment = 0x35;

// One value of a numeric type: the by-value variant and the variable a reference points to.
struct TTyped {
  VARTYPE Vt = VT_EMPTY;
  VARIANT Value{};
};

TTyped Cy(LONGLONG Units) {  // in units of 1/10000
  TTyped T{VT_CY, {}};
  T.Value.vt = VT_CY;
  T.Value.cyVal.int64 = Units;
  return T;
}

TTyped Dec(ULONGLONG Lo, BYTE Scale, ULONG Hi = 0) {
  DECIMAL D;
  D.scale = Scale;
  D.Hi32 = Hi;
  D.Lo64 = Lo;
  TTyped T{VT_DECIMAL, {}};
  SetVariantDecimal(T.Value, D);
  return T;
}

TTyped R4(float V) {
  TTyped T{VT_R4, {}};
  T.Value.vt = VT_R4;
  T.Value.fltVal = V;
  return T;
}

// An integer type holding V.
TTyped Int(VARTYPE Vt, int V) {
  TTyped T{Vt, {}};
  T.Value.vt = Vt;
  switch (Vt) {
    case VT_I8: T.Value.llVal = V; break;
    case VT_UI1: T.Value.bVal = BYTE(V); break;
    case VT_UI2: T.Value.uiVal = USHORT(V); break;
    case VT_UI4: T.Value.ulVal = ULONG(V); break;
    case VT_UI8: T.Value.ullVal = ULONGLONG(V); break;
    case VT_INT: T.Value.intVal = V; break;
    case VT_UINT: T.Value.uintVal = UINT(V); break;
    default: ADD_FAILURE() << "not an integer type: " << Vt;
  }
  return T;
}

enum class TWay { ByValue, ByReference, InVariant };
const char* WayName(TWay W) {
  return W == TWay::ByValue ? "by value" : W == TWay::ByReference ? "by reference" : "in a variant reference";
}

// The argument for one way of passing a typed value; it keeps what its references point to.
class TPassed {
 public:
  TPassed(const TTyped& T, TWay W) : Copy_(T.Value), Inner_(T.Value) {
    Decimal_ = VariantDecimal(T.Value);
    switch (W) {
      case TWay::ByValue: Arg_ = T.Value; break;
      case TWay::ByReference:
        Arg_.vt = VARTYPE(T.Vt | VT_BYREF);
        Arg_.byref = T.Vt == VT_DECIMAL ? static_cast<void*>(&Decimal_) : static_cast<void*>(&Copy_.llVal);
        break;
      case TWay::InVariant:
        Arg_.vt = VT_VARIANT | VT_BYREF;
        Arg_.pvarVal = &Inner_;
        break;
    }
  }
  TPassed(const TPassed&) = delete;
  TPassed& operator=(const TPassed&) = delete;
  const VARIANT& Arg() const { return Arg_; }

 private:
  VARIANT Copy_;
  VARIANT Inner_;
  DECIMAL Decimal_;
  VARIANT Arg_{};
};

// The parameters of each kind, each in a call that puts it on the wire.
enum class TParam { Price, Quantity, Payment, Rate, Integer, Text };
const char* ParamName(TParam P) {
  static const char* const Names[] = {"price", "quantity", "payment", "rate", "integer", "text"};
  return Names[int(P)];
}

// One type with a value for every kind of parameter and the wire text that value gives.
struct TTypeRow {
  const char* Type;
  std::vector<std::pair<TTyped, std::string>> Values;  // in the order of TParam
};

std::vector<TTypeRow> TypeRows() {
  // 1.15 with 20 decimals: 115 * 10^18 needs the high 32 bits of the decimal.
  const unsigned __int128 Wide = (unsigned __int128)115 * 1000000000000000000ull;
  std::vector<TTypeRow> Rows = {
      // Currency and decimal reach the wire as the decimal value they hold, rounded halves
      // away from zero like any amount; an integer parameter takes them rounded halves to
      // even (2.5 is VAT group 2).
      {"CY",
       {{Cy(11500), "1.15"},
        {Cy(12345), "1.235"},
        {Cy(26750), "2.68"},
        {Cy(19558), "1.9558"},
        {Cy(25000), "2"},
        {Cy(11500), "1.15"}}},
      {"DECIMAL",
       {{Dec(2675, 3), "2.68"},
        {Dec(10005, 4), "1.001"},
        {Dec(ULONGLONG(Wide), 20, ULONG(Wide >> 64)), "1.15"},
        {Dec(1955830, 6), "1.95583"},
        {Dec(15, 1), "2"},
        {Dec(150, 2), "1.5"}}},
      {"R4",
       {{R4(2.5f), "2.50"},
        {R4(0.25f), "0.250"},
        {R4(1.5f), "1.50"},
        {R4(1.25f), "1.25"},
        {R4(2.0f), "2"},
        {R4(0.1f), "0.1"}}},
  };
  for (auto [Name, Vt] : {std::pair{"I8", VT_I8}, {"UI1", VT_UI1}, {"UI2", VT_UI2}, {"UI4", VT_UI4},
                          {"UI8", VT_UI8}, {"INT", VT_INT}, {"UINT", VT_UINT}})
    Rows.push_back({Name,
                    {{Int(Vt, 3), "3.00"},
                     {Int(Vt, 2), "2.000"},
                     {Int(Vt, 5), "5.00"},
                     {Int(Vt, 2), "2"},
                     {Int(Vt, 2), "2"},
                     {Int(Vt, 7), "7"}}});
  return Rows;
}

class ArgumentsTest : public test::TFprnConnectedTest {
 protected:
  void SetUp() override {
    TFprnConnectedTest::SetUp();
    Disp = Obj.As<IDispatch>();
  }
  void TearDown() override {
    Disp.Reset();
    TFprnConnectedTest::TearDown();
  }

  // Calls Name with the arguments in their natural order; the call's HRESULT, Res in *Res.
  HRESULT Call(const char16_t* Name, std::vector<VARIANT> Args, LONG* Res = nullptr, UINT* ArgErr = nullptr) {
    Variant Result;
    const HRESULT Hr = DispCallByName(Disp.Get(), Name, DISPATCH_METHOD, Args, &Result, nullptr, ArgErr);
    if (Res) *Res = Result.vt == VT_I4 ? Result.lVal : -99;
    return Hr;
  }

  void OpenReceipt() {
    LONG Res = 7;
    BStr E(u"");
    ASSERT_EQ(Obj->StartBon(2, 0, 1, BStr(u"Ivan").Get(), BStr(u"0000").Get(), 1, E.Get(), E.Get(), E.Get(),
                            E.Get(), E.Get(), E.Get(), E.Get(), E.Get(), &Res),
              S_OK);
    ASSERT_EQ(Res, 0) << Message();
    // A sale large enough that none of the payments below covers it.
    ASSERT_EQ(Obj->AddPLU(BStr(u"0").Get(), BStr(u"Base").Get(), 9000, 1, 1, &Res), S_OK);
    ASSERT_EQ(Res, 0) << Message();
  }

  // The call that sends the parameter of kind P as Arg, the command it sends and the data
  // the command carries when the parameter's wire text is Text.
  struct TSent {
    uint8_t Cmd;
    std::string Data;
  };
  TSent CallWith(TParam P, const VARIANT& Arg, const std::string& Text, LONG& Res) {
    const Variant One(1.0), Numb(u"1"), Name(u"A"), Empty(u""), Eur(u"EUR"), Vat(LONG(1)), Cash(LONG(1));
    switch (P) {
      case TParam::Price:
        EXPECT_EQ(Call(u"AddPLU", {Numb, Name, Arg, One, Vat}, &Res), S_OK);
        return {kSale, "1\nA\t\xC0" + Text};
      case TParam::Quantity:
        EXPECT_EQ(Call(u"AddPLU", {Numb, Name, One, Arg, Vat}, &Res), S_OK);
        return {kSale, "1\nA\t\xC0" "1.00*" + Text};
      case TParam::Integer:
        EXPECT_EQ(Call(u"AddPLU", {Numb, Name, One, One, Arg}, &Res), S_OK);
        return {kSale, std::string("1\nA\t") + char(0xBF + std::stoi(Text)) + "1.00"};
      case TParam::Text:
        EXPECT_EQ(Call(u"AddPLU", {Arg, Name, One, One, Vat}, &Res), S_OK);
        return {kSale, Text + "\nA\t\xC0" "1.00"};
      case TParam::Payment:
        EXPECT_EQ(Call(u"AddPayment", {Cash, Empty, Arg, One}, &Res), S_OK);
        return {kPayment, "\tP+" + Text};
      case TParam::Rate:
        EXPECT_EQ(Call(u"AddPaymentByCurrncy", {Cash, Empty, One, Arg, Eur}, &Res), S_OK);
        return {kPayment, "\tP+1.00," + Text + ",EUR"};
    }
    return {};
  }

  ComPtr<IDispatch> Disp;
};

TEST_F(ArgumentsTest, EveryNumericTypeReachesTheWireAsTheValueItHolds) {
  OpenReceipt();
  // The sales first: a receipt takes no sale after a payment.
  for (TParam P : {TParam::Price, TParam::Quantity, TParam::Integer, TParam::Text, TParam::Payment, TParam::Rate}) {
    for (const TTypeRow& Row : TypeRows()) {
      for (TWay W : {TWay::ByValue, TWay::ByReference, TWay::InVariant}) {
        const std::string Label = std::string(Row.Type) + " " + WayName(W) + " as " + ParamName(P);
        const auto& [Value, Text] = Row.Values[std::size_t(P)];
        TPassed Passed(Value, W);
        M().ClearRequests();
        LONG Res = 7;
        const TSent Want = CallWith(P, Passed.Arg(), Text, Res);
        EXPECT_EQ(Res, 0) << Label << ": " << Message();
        const std::vector<std::string> Got = test::RequestData(M(), Want.Cmd);
        ASSERT_EQ(Got.size(), 1u) << Label;
        EXPECT_EQ(Got[0], Want.Data) << Label;
      }
    }
  }
}

// A currency amount below 10^11 (every one a till can send) becomes a double whose wire text
// is its own decimal value rounded halves away from zero, at 2 and at 3 decimals; a decimal
// with more places gives the wire text of the same value written as a double literal.
TEST(ArgumentWireTextTest, CurrencyAndDecimalRoundOnTheirDecimalValue) {
  // The exact rounding of Units / 10000 to Places (2 or 3) decimals, halves away from zero.
  auto Exact = [](LONGLONG Units, int Places) {
    const LONGLONG Div = Places == 2 ? 100 : 10;
    const LONGLONG Magnitude = (std::llabs(Units) + Div / 2) / Div;
    const LONGLONG One = Places == 2 ? 100 : 1000;
    std::string Fraction = std::to_string(Magnitude % One);
    Fraction.insert(0, std::size_t(Places) - Fraction.size(), '0');
    return std::string(Units < 0 && Magnitude != 0 ? "-" : "") + std::to_string(Magnitude / One) + "." + Fraction;
  };
  auto ToR8 = [](const VARIANT& V) {
    Variant Out;
    EXPECT_EQ(VariantChangeType(&Out, &V, 0, VT_R8), S_OK);
    return Out.dblVal;
  };
  std::vector<LONGLONG> Units = {5, -5, 50, 150, 250, 11500, 26750, 10050, -23450, 999999999999950,
                                 -999999999999950, 999999999999999, 100049999, 4350 * 3};
  std::mt19937_64 Random(27);
  for (int I = 0; I < 20000; ++I) {
    const LONGLONG Magnitude = LONGLONG(Random() % 1000000000000000ull) / (I % 2 ? 1 : 100000);
    // Every fourth a half at the second place.
    const LONGLONG U = I % 4 == 0 ? Magnitude / 100 * 100 + 50 : Magnitude;
    Units.push_back(I % 3 == 0 ? -U : U);
  }
  for (LONGLONG U : Units) {
    const double D = ToR8(Cy(U).Value);
    EXPECT_EQ(FormatWireAmount(D), Exact(U, 2)) << U;
    EXPECT_EQ(FormatWireQuantity(D), Exact(U, 3)) << U;
  }

  for (int I = 0; I < 5000; ++I) {
    const BYTE Scale = BYTE(Random() % 29);
    const TTyped D = Dec(Random(), Scale, ULONG(Random() >> (I % 2 ? 32 : 60)));
    Variant Text;
    ASSERT_EQ(VariantChangeType(&Text, &D.Value, 0, VT_BSTR), S_OK);
    const std::string Digits(BstrView(Text.bstrVal).begin(), BstrView(Text.bstrVal).end());
    double Literal = 0;
    std::from_chars(Digits.data(), Digits.data() + Digits.size(), Literal);
    EXPECT_EQ(FormatWireAmount(ToR8(D.Value)), FormatWireAmount(Literal)) << Digits;
  }
}

// A value that the declared integer cannot hold is refused, with the argument's index, and
// nothing of the call reaches the printer; a value that only its type's range allows
// passes.
TEST_F(ArgumentsTest, AValueBeyondTheParameterOverflowsBeforeAnythingIsSent) {
  OpenReceipt();
  const LONG CodeBefore = Code();
  const Variant One(1.0), Numb(u"1"), Name(u"A"), Empty(u"");
  const std::vector<TTyped> TooLarge = {
      Cy(21474836480000),  // 2147483648
      Cy(21474836475000),  // 2147483647.5 rounds up, beyond the range
      Dec(0xFFFFFFFFFFFFFFFFull, 0, 0xFFFFFFFFu),
      Int(VT_UI4, -1),  // 4294967295
      Int(VT_UINT, -1),
      Int(VT_UI8, -1),
      R4(3e9f),
  };
  TTyped I8 = Int(VT_I8, 0);
  I8.Value.llVal = -2147483649LL;
  std::vector<TTyped> Cases = TooLarge;
  Cases.push_back(I8);
  for (const TTyped& T : Cases) {
    for (TWay W : {TWay::ByValue, TWay::ByReference, TWay::InVariant}) {
      TPassed Passed(T, W);
      M().ClearRequests();
      UINT ArgErr = 99;
      LONG Res = 7;
      // AddPLU(Numb, Name, Price, Quantity, VATGroup): VATGroup is rgvarg[0].
      EXPECT_EQ(Call(u"AddPLU", {Numb, Name, One, One, Passed.Arg()}, &Res, &ArgErr), DISP_E_OVERFLOW)
          << "vt " << T.Vt << " " << WayName(W);
      EXPECT_EQ(ArgErr, 0u);
      // AddPayment(Number, Name, Ammount, Cource): Number is rgvarg[3].
      ArgErr = 99;
      EXPECT_EQ(Call(u"AddPayment", {Passed.Arg(), Empty, One, One}, &Res, &ArgErr), DISP_E_OVERFLOW)
          << "vt " << T.Vt << " " << WayName(W);
      EXPECT_EQ(ArgErr, 3u);
      EXPECT_EQ(M().RequestCount(), 0u);
    }
  }
  EXPECT_EQ(Code(), CodeBefore);

  // Just inside the range the value reaches the method, which judges it as a VAT group.
  M().ClearRequests();
  TPassed Edge(Cy(21474836474999), TWay::ByValue);  // 2147483647.4999
  LONG Res = 7;
  EXPECT_EQ(Call(u"AddPLU", {Numb, Name, One, One, Edge.Arg()}, &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Message(), "[Add plu failed] Invalid input data. [VATGroup] ");
}

// ---------------------------------------------------------------------------------------
// Named arguments

// The DISPIDs of Member's parameters Names, as a client asks for them.
std::vector<DISPID> ParamIds(IDispatch* Disp, const char16_t* Member, const std::vector<std::u16string>& Names) {
  std::vector<std::u16string> All{Member};
  All.insert(All.end(), Names.begin(), Names.end());
  std::vector<LPOLESTR> Pointers;
  for (auto& N : All) Pointers.push_back(N.data());
  std::vector<DISPID> Ids(All.size(), 999);
  EXPECT_EQ(Disp->GetIDsOfNames(IID_NULL, Pointers.data(), UINT(Pointers.size()), 0, Ids.data()), S_OK);
  return {Ids.begin() + 1, Ids.end()};
}

// Invokes Member with Positional arguments (natural order) followed by the named ones.
HRESULT InvokeNamed(IDispatch* Disp, const char16_t* Member, const std::vector<VARIANT>& Positional,
                    const std::vector<std::pair<std::u16string, VARIANT>>& Named, LONG& Res) {
  std::vector<std::u16string> Names;
  std::vector<VARIANT> Args;
  for (const auto& [N, V] : Named) {
    Names.push_back(N);
    Args.push_back(V);
  }
  std::vector<DISPID> Ids = ParamIds(Disp, Member, Names);
  Args.insert(Args.end(), Positional.rbegin(), Positional.rend());
  std::u16string M(Member);
  LPOLESTR MemberName[] = {M.data()};
  DISPID Id = DISPID_UNKNOWN;
  EXPECT_EQ(Disp->GetIDsOfNames(IID_NULL, MemberName, 1, 0, &Id), S_OK);
  DISPPARAMS Params;
  Params.rgvarg = Args.data();
  Params.cArgs = UINT(Args.size());
  Params.rgdispidNamedArgs = Ids.empty() ? nullptr : Ids.data();
  Params.cNamedArgs = UINT(Ids.size());
  Variant Result;
  const HRESULT Hr = Disp->Invoke(Id, IID_NULL, 0, DISPATCH_METHOD, &Params, &Result, nullptr, nullptr);
  Res = Result.vt == VT_I4 ? Result.lVal : -99;
  return Hr;
}

using TTrace = std::vector<std::pair<uint8_t, std::string>>;

// The commands a call sent, each once: a resend repeats the frame just before it. A frame the
// model took for a repeat still counts, since a new link starts at a random SEQ that may match
// the last frame the model answered.
TTrace Trace(const model::PrinterModel& Model) {
  TTrace Out;
  for (const model::Request& R : Model.Requests()) {
    if (!R.frameOk) continue;
    std::pair<uint8_t, std::string> Item(R.cmd, R.data);
    if (R.repeat && !Out.empty() && Out.back() == Item) continue;
    Out.push_back(std::move(Item));
  }
  return Out;
}

// Every parameter of the interface's table answers its position by its name in any case,
// so that a client may name any argument of any entry.
TEST_F(ArgumentsTest, EveryParameterNameAnswersItsPosition) {
  for (const TDispEntry& E : IMiravokFprn::DispTable().Items()) {
    const auto Args = E.Arguments();
    for (std::size_t K = 0; K < Args.size(); ++K) {
      if (Args[K].Dir == TArgDir::Result) continue;
      std::u16string Name = Utf8ToWide(Args[K].Name);
      for (char16_t& C : Name)
        if (C >= u'a' && C <= u'z') C = char16_t(C - u'a' + u'A');
      const std::vector<DISPID> Ids = ParamIds(Disp.Get(), Utf8ToWide(E.Name).c_str(), {Name});
      EXPECT_EQ(Ids, std::vector<DISPID>{DISPID(K)}) << E.Name << " " << Args[K].Name;
    }
  }
}

TEST_F(ArgumentsTest, NamedArgumentsInAnotherOrderSendWhatThePositionalCallSends) {
  const Variant Port(LONG(7)), Speed(LONG(115200)), Locale(LONG(0)), Language(LONG(0)), Key(u"");
  // Init, as the fixture connected, by position and then by name in two other orders.
  ASSERT_EQ(Close(), 0);
  M().ClearRequests();
  LONG Res = 7;
  ASSERT_EQ(Call(u"Init", {Port, Speed, Locale, Language, Key}, &Res), S_OK);
  ASSERT_EQ(Res, 0) << Message();
  const TTrace InitTrace = Trace(M());
  ASSERT_FALSE(InitTrace.empty());
  const std::vector<std::pair<std::u16string, VARIANT>> AllNamed = {
      {u"serialkey", Key}, {u"Language", Language}, {u"PORTSPEED", Speed}, {u"ComPort", Port}, {u"Locale", Locale}};
  const std::vector<std::pair<std::u16string, VARIANT>> SomeNamed = {
      {u"SerialKey", Key}, {u"Locale", Locale}, {u"Language", Language}};
  for (const auto& [Positional, Named] :
       {std::pair{std::vector<VARIANT>{}, AllNamed}, std::pair{std::vector<VARIANT>{Port, Speed}, SomeNamed}}) {
    ASSERT_EQ(Close(), 0);
    M().ClearRequests();
    Res = 7;
    EXPECT_EQ(InvokeNamed(Disp.Get(), u"Init", Positional, Named, Res), S_OK);
    EXPECT_EQ(Res, 0) << Message();
    EXPECT_EQ(Trace(M()), InitTrace) << Positional.size() << " positional";
  }

  // AddPLU(Numb, Name, Price, Quantity, VATGroup) in an open receipt.
  OpenReceipt();
  const Variant Numb(u"12"), Name(u"Bread"), Price(2.675), Quantity(1.5), Vat(LONG(2));
  M().ClearRequests();
  ASSERT_EQ(Call(u"AddPLU", {Numb, Name, Price, Quantity, Vat}, &Res), S_OK);
  ASSERT_EQ(Res, 0) << Message();
  const TTrace SaleTrace = Trace(M());
  ASSERT_EQ(SaleTrace, (TTrace{{kSale, "12\nBread\t\xC1" "2.68*1.500"}}));
  const std::vector<std::pair<std::u16string, VARIANT>> SaleNamed = {
      {u"vatgroup", Vat}, {u"Quantity", Quantity}, {u"NAME", Name}, {u"Price", Price}, {u"Numb", Numb}};
  const std::vector<std::pair<std::u16string, VARIANT>> SaleSomeNamed = {{u"VATGroup", Vat}, {u"Price", Price}};
  for (const auto& [Positional, Named] : {std::pair{std::vector<VARIANT>{}, SaleNamed},
                                          std::pair{std::vector<VARIANT>{Numb, Name}, SaleSomeNamed}}) {
    M().ClearRequests();
    Res = 7;
    // With a parameter missing the call is refused before anything is sent.
    if (!Positional.empty()) {
      EXPECT_EQ(InvokeNamed(Disp.Get(), u"AddPLU", Positional, Named, Res), DISP_E_PARAMNOTFOUND);
    }
    auto Complete = Named;
    if (!Positional.empty()) Complete.emplace_back(u"quantity", Quantity);
    EXPECT_EQ(InvokeNamed(Disp.Get(), u"AddPLU", Positional, Complete, Res), S_OK);
    EXPECT_EQ(Res, 0) << Message();
    EXPECT_EQ(Trace(M()), SaleTrace) << Positional.size() << " positional";
  }
}

}  // namespace
}  // namespace fp
