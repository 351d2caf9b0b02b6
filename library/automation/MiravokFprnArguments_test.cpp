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

namespace fp::test {
namespace {

constexpr uint8_t kSale = 0x31, kPayment = 0x35;

// One value of a numeric type: the by-value variant and the variable a reference points to.
struct TTyped {
  VARTYPE Vt = VT_EMPTY;
  VARIANT Value{};
};

TTyped Cy(LONGLONG Units) {  // in units of 1/10000
  TTyped t{VT_CY, {}};
  t.Value.vt = VT_CY;
  t.Value.cyVal.int64 = Units;
  return t;
}

TTyped Dec(ULONGLONG Lo, BYTE Scale, ULONG Hi = 0) {
  DECIMAL d;
  d.scale = Scale;
  d.Hi32 = Hi;
  d.Lo64 = Lo;
  TTyped t{VT_DECIMAL, {}};
  SetVariantDecimal(t.Value, d);
  return t;
}

TTyped R4(float V) {
  TTyped t{VT_R4, {}};
  t.Value.vt = VT_R4;
  t.Value.fltVal = V;
  return t;
}

// An integer type holding V.
TTyped Int(VARTYPE Vt, int V) {
  TTyped t{Vt, {}};
  t.Value.vt = Vt;
  switch (Vt) {
    case VT_I8: t.Value.llVal = V; break;
    case VT_UI1: t.Value.bVal = BYTE(V); break;
    case VT_UI2: t.Value.uiVal = USHORT(V); break;
    case VT_UI4: t.Value.ulVal = ULONG(V); break;
    case VT_UI8: t.Value.ullVal = ULONGLONG(V); break;
    case VT_INT: t.Value.intVal = V; break;
    case VT_UINT: t.Value.uintVal = UINT(V); break;
    default: ADD_FAILURE() << "not an integer type: " << Vt;
  }
  return t;
}

enum class TWay { ByValue, ByReference, InVariant };
const char* WayName(TWay W) {
  return W == TWay::ByValue ? "by value" : W == TWay::ByReference ? "by reference" : "in a variant reference";
}

// The argument for one way of passing a typed value; it keeps what its references point to.
class TPassed {
 public:
  TPassed(const TTyped& T, TWay W) : FCopy(T.Value), FInner(T.Value) {
    FDecimal = VariantDecimal(T.Value);
    switch (W) {
      case TWay::ByValue: FArg = T.Value; break;
      case TWay::ByReference:
        FArg.vt = VARTYPE(T.Vt | VT_BYREF);
        FArg.byref = T.Vt == VT_DECIMAL ? static_cast<void*>(&FDecimal) : static_cast<void*>(&FCopy.llVal);
        break;
      case TWay::InVariant:
        FArg.vt = VT_VARIANT | VT_BYREF;
        FArg.pvarVal = &FInner;
        break;
    }
  }
  TPassed(const TPassed&) = delete;
  TPassed& operator=(const TPassed&) = delete;
  const VARIANT& Arg() const { return FArg; }

 private:
  VARIANT FCopy;
  VARIANT FInner;
  DECIMAL FDecimal;
  VARIANT FArg{};
};

// The parameters of each kind, each in a call that puts it on the wire.
enum class TParam { Price, Quantity, Payment, Rate, Integer, Text };
const char* ParamName(TParam P) {
  static const char* const names[] = {"price", "quantity", "payment", "rate", "integer", "text"};
  return names[int(P)];
}

// One type with a value for every kind of parameter and the wire text that value gives.
struct TTypeRow {
  const char* Type;
  std::vector<std::pair<TTyped, std::string>> Values;  // in the order of TParam
};

std::vector<TTypeRow> TypeRows() {
  // 1.15 with 20 decimals: 115 * 10^18 needs the high 32 bits of the decimal.
  const unsigned __int128 wide = (unsigned __int128)115 * 1000000000000000000ull;
  std::vector<TTypeRow> rows = {
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
        {Dec(ULONGLONG(wide), 20, ULONG(wide >> 64)), "1.15"},
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
  for (auto [Name, Vt] : {std::pair{"I8", VT_I8},
                          {"UI1", VT_UI1},
                          {"UI2", VT_UI2},
                          {"UI4", VT_UI4},
                          {"UI8", VT_UI8},
                          {"INT", VT_INT},
                          {"UINT", VT_UINT}})
    rows.push_back({Name,
                    {{Int(Vt, 3), "3.00"},
                     {Int(Vt, 2), "2.000"},
                     {Int(Vt, 5), "5.00"},
                     {Int(Vt, 2), "2"},
                     {Int(Vt, 2), "2"},
                     {Int(Vt, 7), "7"}}});
  return rows;
}

class ArgumentsTest : public test::TFprnConnectedTest {
 protected:
  void SetUp() override {
    TFprnConnectedTest::SetUp();
    FDisp = FObj.As<IDispatch>();
  }
  void TearDown() override {
    FDisp.Reset();
    TFprnConnectedTest::TearDown();
  }

  // Calls Name with the arguments in their natural order; the call's HRESULT, Res in *Res.
  HRESULT Call(const char16_t* Name, std::vector<VARIANT> Args, LONG* Res = nullptr, UINT* ArgErr = nullptr) {
    Variant result;
    const HRESULT hr = DispCallByName(FDisp.Get(), Name, DISPATCH_METHOD, Args, &result, nullptr, ArgErr);
    if (Res) *Res = result.vt == VT_I4 ? result.lVal : -99;
    return hr;
  }

  void OpenReceipt() {
    LONG res = 7;
    BStr e(u"");
    ASSERT_EQ(FObj->StartBon(2, 0, 1, BStr(u"Ivan").Get(), BStr(u"0000").Get(), 1, e.Get(), e.Get(), e.Get(), e.Get(),
                             e.Get(), e.Get(), e.Get(), e.Get(), &res),
              S_OK);
    ASSERT_EQ(res, 0) << Message();
    // A sale large enough that none of the payments below covers it.
    ASSERT_EQ(FObj->AddPLU(BStr(u"0").Get(), BStr(u"Base").Get(), 9000, 1, 1, &res), S_OK);
    ASSERT_EQ(res, 0) << Message();
  }

  // The call that sends the parameter of kind P as Arg, the command it sends and the data
  // the command carries when the parameter's wire text is Text.
  struct TSent {
    uint8_t Cmd;
    std::string Data;
  };
  TSent CallWith(TParam P, const VARIANT& Arg, const std::string& Text, LONG& Res) {
    const Variant one(1.0), numb(u"1"), name(u"A"), empty(u""), eur(u"EUR"), vat(LONG(1)), cash(LONG(1));
    switch (P) {
      case TParam::Price:
        EXPECT_EQ(Call(u"AddPLU", {numb, name, Arg, one, vat}, &Res), S_OK);
        return {kSale, "1\nA\t\xC0" + Text};
      case TParam::Quantity:
        EXPECT_EQ(Call(u"AddPLU", {numb, name, one, Arg, vat}, &Res), S_OK);
        return {kSale,
                "1\nA\t\xC0"
                "1.00*" +
                    Text};
      case TParam::Integer:
        EXPECT_EQ(Call(u"AddPLU", {numb, name, one, one, Arg}, &Res), S_OK);
        return {kSale, std::string("1\nA\t") + char(0xBF + std::stoi(Text)) + "1.00"};
      case TParam::Text:
        EXPECT_EQ(Call(u"AddPLU", {Arg, name, one, one, vat}, &Res), S_OK);
        return {kSale, Text +
                           "\nA\t\xC0"
                           "1.00"};
      case TParam::Payment:
        EXPECT_EQ(Call(u"AddPayment", {cash, empty, Arg, one}, &Res), S_OK);
        return {kPayment, "\tP+" + Text};
      case TParam::Rate:
        EXPECT_EQ(Call(u"AddPaymentByCurrncy", {cash, empty, one, Arg, eur}, &Res), S_OK);
        return {kPayment, "\tP+1.00," + Text + ",EUR"};
    }
    return {};
  }

  ComPtr<IDispatch> FDisp;
};

TEST_F(ArgumentsTest, EveryNumericTypeReachesTheWireAsTheValueItHolds) {
  OpenReceipt();
  // The sales first: a receipt takes no sale after a payment.
  for (TParam p : {TParam::Price, TParam::Quantity, TParam::Integer, TParam::Text, TParam::Payment, TParam::Rate}) {
    for (const TTypeRow& row : TypeRows()) {
      for (TWay w : {TWay::ByValue, TWay::ByReference, TWay::InVariant}) {
        const std::string label = std::string(row.Type) + " " + WayName(w) + " as " + ParamName(p);
        const auto& [Value, Text] = row.Values[std::size_t(p)];
        TPassed passed(Value, w);
        M().ClearRequests();
        LONG res = 7;
        const TSent want = CallWith(p, passed.Arg(), Text, res);
        EXPECT_EQ(res, 0) << label << ": " << Message();
        const std::vector<std::string> got = test::RequestData(M(), want.Cmd);
        ASSERT_EQ(got.size(), 1u) << label;
        EXPECT_EQ(got[0], want.Data) << label;
      }
    }
  }
}

// A currency amount below 10^11 (every one a till can send) becomes a double whose wire text
// is its own decimal value rounded halves away from zero, at 2 and at 3 decimals; a decimal
// with more places gives the wire text of the same value written as a double literal.
TEST(ArgumentWireTextTest, CurrencyAndDecimalRoundOnTheirDecimalValue) {
  // The exact rounding of Units / 10000 to Places (2 or 3) decimals, halves away from zero.
  auto exact = [](LONGLONG Units, int Places) {
    const LONGLONG div = Places == 2 ? 100 : 10;
    const LONGLONG magnitude = (std::llabs(Units) + div / 2) / div;
    const LONGLONG one = Places == 2 ? 100 : 1000;
    std::string fraction = std::to_string(magnitude % one);
    fraction.insert(0, std::size_t(Places) - fraction.size(), '0');
    return std::string(Units < 0 && magnitude != 0 ? "-" : "") + std::to_string(magnitude / one) + "." + fraction;
  };
  auto toR8 = [](const VARIANT& V) {
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &V, 0, VT_R8), S_OK);
    return out.dblVal;
  };
  std::vector<LONGLONG> units = {
      5,         -5,      50, 150, 250, 11500, 26750, 10050, -23450, 999999999999950, -999999999999950, 999999999999999,
      100049999, 4350 * 3};
  std::mt19937_64 random(27);
  for (int i = 0; i < 20000; ++i) {
    const LONGLONG magnitude = LONGLONG(random() % 1000000000000000ull) / (i % 2 ? 1 : 100000);
    // Every fourth a half at the second place.
    const LONGLONG u = i % 4 == 0 ? magnitude / 100 * 100 + 50 : magnitude;
    units.push_back(i % 3 == 0 ? -u : u);
  }
  for (LONGLONG u : units) {
    const double d = toR8(Cy(u).Value);
    EXPECT_EQ(FormatWireAmount(d), exact(u, 2)) << u;
    EXPECT_EQ(FormatWireQuantity(d), exact(u, 3)) << u;
  }

  for (int i = 0; i < 5000; ++i) {
    const BYTE scale = BYTE(random() % 29);
    const TTyped d = Dec(random(), scale, ULONG(random() >> (i % 2 ? 32 : 60)));
    Variant text;
    ASSERT_EQ(VariantChangeType(&text, &d.Value, 0, VT_BSTR), S_OK);
    const std::string digits(BstrView(text.bstrVal).begin(), BstrView(text.bstrVal).end());
    double literal = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), literal);
    EXPECT_EQ(FormatWireAmount(toR8(d.Value)), FormatWireAmount(literal)) << digits;
  }
}

// A value that the declared integer cannot hold is refused, with the argument's index, and
// nothing of the call reaches the printer; a value that only its type's range allows
// passes.
TEST_F(ArgumentsTest, AValueBeyondTheParameterOverflowsBeforeAnythingIsSent) {
  OpenReceipt();
  const LONG codeBefore = Code();
  const Variant one(1.0), numb(u"1"), name(u"A"), empty(u"");
  const std::vector<TTyped> tooLarge = {
      Cy(21474836480000),  // 2147483648
      Cy(21474836475000),  // 2147483647.5 rounds up, beyond the range
      Dec(0xFFFFFFFFFFFFFFFFull, 0, 0xFFFFFFFFu),
      Int(VT_UI4, -1),  // 4294967295
      Int(VT_UINT, -1),
      Int(VT_UI8, -1),
      R4(3e9f),
  };
  TTyped i8 = Int(VT_I8, 0);
  i8.Value.llVal = -2147483649LL;
  std::vector<TTyped> cases = tooLarge;
  cases.push_back(i8);
  for (const TTyped& t : cases) {
    for (TWay w : {TWay::ByValue, TWay::ByReference, TWay::InVariant}) {
      TPassed passed(t, w);
      M().ClearRequests();
      UINT argErr = 99;
      LONG res = 7;
      // AddPLU(Numb, Name, Price, Quantity, VATGroup): VATGroup is rgvarg[0].
      EXPECT_EQ(Call(u"AddPLU", {numb, name, one, one, passed.Arg()}, &res, &argErr), DISP_E_OVERFLOW)
          << "vt " << t.Vt << " " << WayName(w);
      EXPECT_EQ(argErr, 0u);
      // AddPayment(Number, Name, Ammount, Cource): Number is rgvarg[3].
      argErr = 99;
      EXPECT_EQ(Call(u"AddPayment", {passed.Arg(), empty, one, one}, &res, &argErr), DISP_E_OVERFLOW)
          << "vt " << t.Vt << " " << WayName(w);
      EXPECT_EQ(argErr, 3u);
      EXPECT_EQ(M().RequestCount(), 0u);
    }
  }
  EXPECT_EQ(Code(), codeBefore);

  // Just inside the range the value reaches the method, which judges it as a VAT group.
  M().ClearRequests();
  TPassed edge(Cy(21474836474999), TWay::ByValue);  // 2147483647.4999
  LONG res = 7;
  EXPECT_EQ(Call(u"AddPLU", {numb, name, one, one, edge.Arg()}, &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Message(), "[Add plu failed] Invalid input data. [VATGroup] ");
}

// ---------------------------------------------------------------------------------------
// Named arguments

// The DISPIDs of Member's parameters Names, as a client asks for them.
std::vector<DISPID> ParamIds(IDispatch* Disp, const char16_t* Member, const std::vector<std::u16string>& Names) {
  std::vector<std::u16string> all{Member};
  all.insert(all.end(), Names.begin(), Names.end());
  std::vector<LPOLESTR> pointers;
  for (auto& n : all) pointers.push_back(n.data());
  std::vector<DISPID> ids(all.size(), 999);
  EXPECT_EQ(Disp->GetIDsOfNames(IID_NULL, pointers.data(), UINT(pointers.size()), 0, ids.data()), S_OK);
  return {ids.begin() + 1, ids.end()};
}

// Invokes Member with Positional arguments (natural order) followed by the named ones.
HRESULT InvokeNamed(IDispatch* Disp, const char16_t* Member, const std::vector<VARIANT>& Positional,
                    const std::vector<std::pair<std::u16string, VARIANT>>& Named, LONG& Res) {
  std::vector<std::u16string> names;
  std::vector<VARIANT> args;
  for (const auto& [N, V] : Named) {
    names.push_back(N);
    args.push_back(V);
  }
  std::vector<DISPID> ids = ParamIds(Disp, Member, names);
  args.insert(args.end(), Positional.rbegin(), Positional.rend());
  std::u16string m(Member);
  LPOLESTR memberName[] = {m.data()};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(Disp->GetIDsOfNames(IID_NULL, memberName, 1, 0, &id), S_OK);
  DISPPARAMS params;
  params.rgvarg = args.data();
  params.cArgs = UINT(args.size());
  params.rgdispidNamedArgs = ids.empty() ? nullptr : ids.data();
  params.cNamedArgs = UINT(ids.size());
  Variant result;
  const HRESULT hr = Disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  Res = result.vt == VT_I4 ? result.lVal : -99;
  return hr;
}

using TTrace = std::vector<std::pair<uint8_t, std::string>>;

// The commands a call sent, each once: a resend repeats the frame just before it. A frame the
// model took for a repeat still counts, since a new link starts at a random SEQ that may match
// the last frame the model answered.
TTrace Trace(const model::PrinterModel& Model) {
  TTrace out;
  for (const model::Request& r : Model.Requests()) {
    if (!r.frameOk) continue;
    std::pair<uint8_t, std::string> item(r.cmd, r.data);
    if (r.repeat && !out.empty() && out.back() == item) continue;
    out.push_back(std::move(item));
  }
  return out;
}

// Every parameter of the interface's table answers its position by its name in any case,
// so that a client may name any argument of any entry.
TEST_F(ArgumentsTest, EveryParameterNameAnswersItsPosition) {
  for (const TDispEntry& e : IMiravokFprn::DispTable().Items()) {
    const auto args = e.Arguments();
    for (std::size_t k = 0; k < args.size(); ++k) {
      if (args[k].Dir == TArgDir::Result) continue;
      std::u16string name = Utf8ToWide(args[k].Name);
      for (char16_t& c : name)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
      const std::vector<DISPID> ids = ParamIds(FDisp.Get(), Utf8ToWide(e.Name).c_str(), {name});
      EXPECT_EQ(ids, std::vector<DISPID>{DISPID(k)}) << e.Name << " " << args[k].Name;
    }
  }
}

TEST_F(ArgumentsTest, NamedArgumentsInAnotherOrderSendWhatThePositionalCallSends) {
  const Variant port(LONG(7)), speed(LONG(115200)), locale(LONG(0)), language(LONG(0)), key(u"");
  // Init, as the fixture connected, by position and then by name in two other orders.
  ASSERT_EQ(Close(), 0);
  M().ClearRequests();
  LONG res = 7;
  ASSERT_EQ(Call(u"Init", {port, speed, locale, language, key}, &res), S_OK);
  ASSERT_EQ(res, 0) << Message();
  const TTrace initTrace = Trace(M());
  ASSERT_FALSE(initTrace.empty());
  const std::vector<std::pair<std::u16string, VARIANT>> allNamed = {
      {u"serialkey", key}, {u"Language", language}, {u"PORTSPEED", speed}, {u"ComPort", port}, {u"Locale", locale}};
  const std::vector<std::pair<std::u16string, VARIANT>> someNamed = {
      {u"SerialKey", key}, {u"Locale", locale}, {u"Language", language}};
  for (const auto& [Positional, Named] :
       {std::pair{std::vector<VARIANT>{}, allNamed}, std::pair{std::vector<VARIANT>{port, speed}, someNamed}}) {
    ASSERT_EQ(Close(), 0);
    M().ClearRequests();
    res = 7;
    EXPECT_EQ(InvokeNamed(FDisp.Get(), u"Init", Positional, Named, res), S_OK);
    EXPECT_EQ(res, 0) << Message();
    EXPECT_EQ(Trace(M()), initTrace) << Positional.size() << " positional";
  }

  // AddPLU(Numb, Name, Price, Quantity, VATGroup) in an open receipt.
  OpenReceipt();
  const Variant numb(u"12"), name(u"Bread"), price(2.675), quantity(1.5), vat(LONG(2));
  M().ClearRequests();
  ASSERT_EQ(Call(u"AddPLU", {numb, name, price, quantity, vat}, &res), S_OK);
  ASSERT_EQ(res, 0) << Message();
  const TTrace saleTrace = Trace(M());
  ASSERT_EQ(saleTrace, (TTrace{{kSale,
                                "12\nBread\t\xC1"
                                "2.68*1.500"}}));
  const std::vector<std::pair<std::u16string, VARIANT>> saleNamed = {
      {u"vatgroup", vat}, {u"Quantity", quantity}, {u"NAME", name}, {u"Price", price}, {u"Numb", numb}};
  const std::vector<std::pair<std::u16string, VARIANT>> saleSomeNamed = {{u"VATGroup", vat}, {u"Price", price}};
  for (const auto& [Positional, Named] :
       {std::pair{std::vector<VARIANT>{}, saleNamed}, std::pair{std::vector<VARIANT>{numb, name}, saleSomeNamed}}) {
    M().ClearRequests();
    res = 7;
    // With a parameter missing the call is refused before anything is sent.
    if (!Positional.empty()) {
      EXPECT_EQ(InvokeNamed(FDisp.Get(), u"AddPLU", Positional, Named, res), DISP_E_PARAMNOTFOUND);
    }
    auto complete = Named;
    if (!Positional.empty()) complete.emplace_back(u"quantity", quantity);
    EXPECT_EQ(InvokeNamed(FDisp.Get(), u"AddPLU", Positional, complete, res), S_OK);
    EXPECT_EQ(res, 0) << Message();
    EXPECT_EQ(Trace(M()), saleTrace) << Positional.size() << " positional";
  }
}

}  // namespace
}  // namespace fp::test
