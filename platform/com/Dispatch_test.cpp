#include "platform/com/Dispatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/testserver/TestCalc.h"

namespace fp::test {
namespace {

using test::ITestCalc;
using test::ITestSecond;
using test::TTestCalc;

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ComCreateObject<TTestCalc>(FModule, nullptr, IID_IDispatch, FDisp.AsOut()), S_OK); }
  void TearDown() override {
    FDisp.Reset();
    EXPECT_EQ(FModule.ObjectCount(), 0);
  }

  DISPID Id(const char16_t* name) {
    std::u16string n(name);
    LPOLESTR names[] = {n.data()};
    DISPID id = 12345;
    EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "name lookup";
    return id;
  }

  // Invoke with the arguments as the caller lays them out (rgvarg[0] = last argument).
  HRESULT Raw(DISPID id, WORD flags, std::vector<VARIANT> reversed, VARIANT* result, UINT* argErr = nullptr,
              EXCEPINFO* ei = nullptr, DISPID* named = nullptr, UINT namedCount = 0) {
    DISPPARAMS dp;
    dp.rgvarg = reversed.empty() ? nullptr : reversed.data();
    dp.cArgs = UINT(reversed.size());
    dp.rgdispidNamedArgs = named;
    dp.cNamedArgs = namedCount;
    return FDisp->Invoke(id, IID_NULL, 0, flags, &dp, result, ei, argErr);
  }

  TComModule FModule;
  ComPtr<IDispatch> FDisp;
};

TEST_F(DispatchTest, NamesMapToTheirDispidsWithoutRegardToCase) {
  EXPECT_EQ(Id(u"Add"), 0x1);
  EXPECT_EQ(Id(u"aDD"), 0x1);
  EXPECT_EQ(Id(u"NAME"), 0x10);  // a property: one DISPID for get and put
  EXPECT_EQ(Id(u"makechild"), 0x7);

  std::u16string unknown = u"Addd", arg = u"C";
  LPOLESTR names[] = {unknown.data(), arg.data()};
  DISPID ids[2] = {5, 5};
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  names[0] = const_cast<LPOLESTR>(u"Add");
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x1);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);  // Add has no parameter C
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_IUnknown, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);

  UINT count = 7;
  EXPECT_EQ(FDisp->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(DispatchTest, ArgumentsArriveInReverseOrderAndAreCoerced) {
  // Describe(Text, Number, When, Small): rgvarg[0] is Small, rgvarg[3] is Text.
  Variant result;
  ASSERT_EQ(Raw(Id(u"Describe"), DISPATCH_METHOD,
                {Variant(u"-3"), Variant(LONG(2)), Variant(u"1.25"), Variant(u"first")}, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(result.bstrVal), u"first|1.25|2|-3");

  Variant date;
  ASSERT_EQ(Raw(Id(u"NextDay"), DISPATCH_METHOD, {Variant(LONG(45000))}, &date), S_OK);
  EXPECT_EQ(date.vt, VT_DATE);  // a DATE result travels as VT_DATE, not VT_R8
  EXPECT_EQ(date.date, 45001.0);

  // A client that passes both flags (method or get) reaches the method.
  Variant sum;
  LONG b = 4;
  ASSERT_EQ(Raw(0x1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Variant::Ref(VT_I4, &b), Variant(u"38")}, &sum), S_OK);
  EXPECT_EQ(sum.vt, VT_I4);
  EXPECT_EQ(sum.lVal, 42);
}

TEST_F(DispatchTest, ByReferenceArgumentsReceiveTheirValues) {
  // Split(Value, out Whole, out Sign, out Text, in/out Label, in/out Counter)
  LONG whole = 99;
  std::int8_t sign = 99;
  BSTR text = MakeBstr(u"freed before the call");
  Variant label(u"tag");
  LONG counter = 41;
  Variant res;
  ASSERT_EQ(Raw(Id(u"Split"), DISPATCH_METHOD,
                {Variant::Ref(VT_I4, &counter), Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&label)),
                 Variant::Ref(VT_BSTR, &text), Variant::Ref(VT_I1, &sign), Variant::Ref(VT_I4, &whole), Variant(-7.9)},
                &res),
            S_OK);
  EXPECT_EQ(res.lVal, 0);
  EXPECT_EQ(whole, -7);
  EXPECT_EQ(sign, -1);
  EXPECT_EQ(BstrView(text), u"split");
  EXPECT_EQ(label.vt, VT_BSTR);
  EXPECT_EQ(BstrView(label.bstrVal), u"tag!");
  EXPECT_EQ(counter, 42);
  SysFreeString(text);

  // An out-argument held in a variant of another type takes the argument's type.
  Variant wholeVar(u"old"), signVar, textVar(LONG(5)), counterVar(u"1");
  Variant label2(u"x");
  ASSERT_EQ(Raw(0x3, DISPATCH_METHOD,
                {Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&counterVar)),
                 Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&label2)),
                 Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&textVar)),
                 Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&signVar)),
                 Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&wholeVar)), Variant(u"2.5")},
                nullptr),
            S_OK);
  EXPECT_EQ(wholeVar.vt, VT_I4);
  EXPECT_EQ(wholeVar.lVal, 2);
  EXPECT_EQ(signVar.vt, VT_I1);
  EXPECT_EQ(signVar.cVal, 1);
  EXPECT_EQ(textVar.vt, VT_BSTR);
  EXPECT_EQ(counterVar.vt, VT_I4);  // in/out: "1" was coerced, then counted up
  EXPECT_EQ(counterVar.lVal, 2);
}

TEST_F(DispatchTest, PropertiesGetAndPut) {
  Variant name;
  ASSERT_EQ(Raw(0x10, DISPATCH_PROPERTYGET, {}, &name), S_OK);
  EXPECT_EQ(BstrView(name.bstrVal), u"fresh");  // set by Initialize

  DISPID put = DISPID_PROPERTYPUT;
  ASSERT_EQ(Raw(0x10, DISPATCH_PROPERTYPUT, {Variant(LONG(17))}, nullptr, nullptr, nullptr, &put, 1), S_OK);
  std::vector<VARIANT> none;
  Variant coerced;
  ASSERT_EQ(DispCallByName(FDisp.Get(), u"name", DISPATCH_PROPERTYGET, none, &coerced), S_OK);
  EXPECT_EQ(BstrView(coerced.bstrVal), u"17");

  Variant v(u"by name");
  std::vector<VARIANT> args{v};
  ASSERT_EQ(DispCallByName(FDisp.Get(), u"Name", DISPATCH_PROPERTYPUT, args, nullptr), S_OK);
  ComPtr<ITestCalc> calc = FDisp.As<ITestCalc>();
  BStr direct;
  calc->get_Name(direct.Out());
  EXPECT_EQ(direct.View(), u"by name");

  DISPID wrong = 3;
  EXPECT_EQ(Raw(0x10, DISPATCH_PROPERTYPUT, {Variant(LONG(1))}, nullptr, nullptr, nullptr, &wrong, 1),
            DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, RefusalsNameTheArgument) {
  Variant r;
  UINT argErr = 77;
  // Add(A, B): A is rgvarg[1].
  EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, {Variant(LONG(1)), Variant(u"x")}, &r, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, {Variant(1e12), Variant(LONG(1))}, &r, &argErr), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(r.vt, VT_EMPTY);

  // An out-argument must be passed by reference; a wrong reference type is refused and
  // nothing of the call happens.
  LONG counter = 5;
  Variant label(u"keep");
  double wrongType = 0;
  EXPECT_EQ(
      Raw(0x3, DISPATCH_METHOD,
          {Variant::Ref(VT_I4, &counter), Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&label)),
           Variant(u"not by reference"), Variant::Ref(VT_R8, &wrongType), Variant::Ref(VT_I4, &counter), Variant(1.0)},
          &r, &argErr),
      DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 3u);
  EXPECT_EQ(counter, 5);
  EXPECT_EQ(BstrView(label.bstrVal), u"keep");

  EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, {Variant(LONG(1))}, &r), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, {Variant(LONG(1)), Variant(LONG(1)), Variant(LONG(1))}, &r),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(0x10, DISPATCH_PROPERTYGET, {Variant(LONG(1))}, &r), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(0x99, DISPATCH_METHOD, {}, &r), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Raw(0x1, DISPATCH_PROPERTYGET, {Variant(LONG(1)), Variant(LONG(1))}, &r),
            DISP_E_MEMBERNOTFOUND);  // Add is a method, not a property
  EXPECT_EQ(Raw(0x7, DISPATCH_PROPERTYPUT, {Variant(LONG(1))}, &r), DISP_E_MEMBERNOTFOUND);
  // A named argument for the parameter that the one positional argument gives already.
  DISPID named = 0;
  EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, {Variant(LONG(1)), Variant(LONG(1))}, &r, nullptr, nullptr, &named, 1),
            DISP_E_PARAMNOTFOUND);
  DISPPARAMS dp;
  EXPECT_EQ(FDisp->Invoke(0x1, IID_IDispatch, 0, DISPATCH_METHOD, &dp, &r, nullptr, nullptr), DISP_E_UNKNOWNINTERFACE);
}

// The names after the member's are its parameters: their positions, in any case.
TEST_F(DispatchTest, ParameterNamesMapToTheirPositions) {
  std::u16string member = u"describe", a = u"SMALL", b = u"text", c = u"Number", d = u"res", e = u"When";
  LPOLESTR names[] = {member.data(), a.data(), b.data(), c.data(), d.data(), e.data()};
  DISPID ids[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, names, 6, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x2);
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], 1);
  EXPECT_EQ(ids[4], DISPID_UNKNOWN);  // the result is no argument a caller gives
  EXPECT_EQ(ids[5], 2);               // found after a name that is not
  LPOLESTR fourNames[] = {member.data(), a.data(), b.data(), c.data()};
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, fourNames, 4, 0, ids), S_OK);

  // A property's value under the put's parameter name; an unknown member names nothing.
  std::u16string prop = u"Name", value = u"VALUE", none = u"Nothing";
  LPOLESTR propNames[] = {prop.data(), value.data()};
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, propNames, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 0x10);
  EXPECT_EQ(ids[1], 0);
  LPOLESTR unknownNames[] = {none.data(), b.data()};
  EXPECT_EQ(FDisp->GetIDsOfNames(IID_NULL, unknownNames, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// Named arguments come first in rgvarg, in any order; the positional ones after them fill
// the first parameters, the last of them first.
TEST_F(DispatchTest, NamedArgumentsInAnyOrderBesidePositionalOnes) {
  Variant positional;
  ASSERT_EQ(Raw(0x2, DISPATCH_METHOD, {Variant(LONG(-3)), Variant(LONG(2)), Variant(1.25), Variant(u"t")}, &positional),
            S_OK);
  ASSERT_EQ(BstrView(positional.bstrVal), u"t|1.25|2|-3");

  struct TCase {
    std::vector<DISPID> Named;  // the DISPIDs of rgvarg[0], rgvarg[1], ...
    std::vector<int> Params;    // the parameter each element of rgvarg carries
  } cases[] = {
      {{3, 1, 0, 2}, {3, 1, 0, 2}},  // all named, shuffled
      {{2, 3}, {2, 3, 1, 0}},        // Text and Number positional, When and Small named
      {{3}, {3, 2, 1, 0}},           // one named: Small
      {{1, 3, 2}, {1, 3, 2, 0}},     // Text positional
  };
  const Variant values[] = {Variant(u"t"), Variant(1.25), Variant(LONG(2)), Variant(LONG(-3))};
  for (const TCase& c : cases) {
    std::vector<VARIANT> rgvarg;
    for (int p : c.Params) rgvarg.push_back(values[p]);
    std::vector<DISPID> named = c.Named;
    Variant result;
    EXPECT_EQ(Raw(0x2, DISPATCH_METHOD, rgvarg, &result, nullptr, nullptr, named.data(), UINT(named.size())), S_OK);
    EXPECT_EQ(BstrView(result.bstrVal), BstrView(positional.bstrVal)) << named.size() << " named";
  }

  // Out and in/out parameters by name: Split(Value, Whole, Sign, Text, Label, Counter).
  LONG whole = 0, counter = 1;
  std::int8_t sign = 0;
  BSTR text = nullptr;
  Variant label(u"L");
  DISPID splitNamed[] = {5, 1, 4, 3, 2};
  Variant res;
  ASSERT_EQ(Raw(0x3, DISPATCH_METHOD,
                {Variant::Ref(VT_I4, &counter), Variant::Ref(VT_I4, &whole),
                 Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&label)), Variant::Ref(VT_BSTR, &text),
                 Variant::Ref(VT_I1, &sign), Variant(-2.5)},
                &res, nullptr, nullptr, splitNamed, 5),
            S_OK);
  EXPECT_EQ(whole, -2);
  EXPECT_EQ(sign, -1);
  EXPECT_EQ(BstrView(text), u"split");
  EXPECT_EQ(BstrView(label.bstrVal), u"L!");
  EXPECT_EQ(counter, 2);
  SysFreeString(text);
}

TEST_F(DispatchTest, NamedArgumentRefusalsNameTheArgument) {
  Variant r;
  VARIANT null{};
  null.vt = VT_NULL;  // no number, and nothing to free in the table's copies
  struct TCase {
    std::vector<VARIANT> Args;
    std::vector<DISPID> Named;
    HRESULT Expected;
    UINT ArgErr;  // 77: untouched
  } cases[] = {
      // Add(A, B)
      {{Variant(LONG(1))}, {1}, DISP_E_PARAMNOTFOUND, 77},                      // A missing
      {{Variant(LONG(1)), Variant(LONG(2))}, {1, 1}, DISP_E_PARAMNOTFOUND, 1},  // B twice
      {{Variant(LONG(1)), Variant(LONG(2))}, {0, 2}, DISP_E_PARAMNOTFOUND, 1},  // 2 is the result
      {{Variant(LONG(1)), Variant(LONG(2))}, {-1, 0}, DISP_E_PARAMNOTFOUND, 0},
      {{Variant(LONG(1)), Variant(LONG(2))}, {DISPID_PROPERTYPUT, 0}, DISP_E_PARAMNOTFOUND, 0},
      {{Variant(LONG(1)), Variant(LONG(2)), Variant(LONG(3))}, {1, 0}, DISP_E_BADPARAMCOUNT, 77},
      {{null, Variant(LONG(2))}, {1, 0}, DISP_E_TYPEMISMATCH, 0},    // B, named, not a number
      {{Variant(LONG(2)), Variant(1e12)}, {1}, DISP_E_OVERFLOW, 1},  // A, positional
  };
  for (TCase& c : cases) {
    UINT argErr = 77;
    EXPECT_EQ(Raw(0x1, DISPATCH_METHOD, c.Args, &r, &argErr, nullptr, c.Named.data(), UINT(c.Named.size())), c.Expected)
        << c.Args.size() << " arguments, " << c.Named.size() << " named";
    EXPECT_EQ(argErr, c.ArgErr) << c.Args.size() << " arguments, " << c.Named.size() << " named";
    EXPECT_EQ(r.vt, VT_EMPTY);
  }
  // A put keeps to its one value: positional or DISPID_PROPERTYPUT.
  DISPID zero = 0;
  EXPECT_EQ(Raw(0x10, DISPATCH_PROPERTYPUT, {Variant(u"n")}, nullptr, nullptr, nullptr, &zero, 1), DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, AFailedEntryBecomesAnExceptionWithItsText) {
  EXCEPINFO ei;
  Variant r;
  ASSERT_EQ(Raw(Id(u"Fail"), DISPATCH_METHOD, {Variant(u"Printer is out of paper")}, &r, nullptr, &ei),
            DISP_E_EXCEPTION);
  EXPECT_EQ(ei.scode, E_FAIL);
  EXPECT_EQ(BstrView(ei.bstrDescription), u"Printer is out of paper");
  EXPECT_EQ(BstrView(ei.bstrSource), test::TestCalcSource);
  EXPECT_EQ(r.vt, VT_EMPTY);  // no result from a failed call
  SysFreeString(ei.bstrDescription);
  SysFreeString(ei.bstrSource);

  // An exception escaping the entry's guard: E_UNEXPECTED with the exception's message.
  EXCEPINFO ei2;
  ASSERT_EQ(
      Raw(Id(u"Throw"), DISPATCH_METHOD, {Variant(u"\x0413\x0440\x0435\x0448\x043A\x0430 7")}, nullptr, nullptr, &ei2),
      DISP_E_EXCEPTION);
  EXPECT_EQ(ei2.scode, E_UNEXPECTED);
  EXPECT_EQ(BstrView(ei2.bstrDescription), u"\x0413\x0440\x0435\x0448\x043A\x0430 7");
  SysFreeString(ei2.bstrDescription);
  SysFreeString(ei2.bstrSource);

  // A failure that leaves no error information reports its code, not what an earlier
  // call left behind.
  ComSetErrorInfo(IID_NULL, u"stale", u"from an earlier call");
  EXCEPINFO ei3;
  ASSERT_EQ(Raw(Id(u"Fail"), DISPATCH_METHOD, {Variant(u"")}, &r, nullptr, &ei3), DISP_E_EXCEPTION);
  EXPECT_EQ(ei3.scode, E_FAIL);
  EXPECT_EQ(ei3.bstrDescription, nullptr);
}

TEST_F(DispatchTest, InterfaceResultsComeBackAsDispatch) {
  Variant child;
  ASSERT_EQ(Raw(Id(u"MakeChild"), DISPATCH_METHOD, {}, &child), S_OK);
  ASSERT_EQ(child.vt, VT_DISPATCH);
  ASSERT_NE(child.pdispVal, nullptr);
  EXPECT_EQ(FModule.ObjectCount(), 2);
  Variant a(LONG(2)), b(LONG(3)), sum;
  std::vector<VARIANT> args{a, b};
  ASSERT_EQ(DispCallByName(child.pdispVal, u"Add", DISPATCH_METHOD, args, &sum), S_OK);
  EXPECT_EQ(sum.lVal, 5);
  child = Variant();
  EXPECT_EQ(FModule.ObjectCount(), 1);
}

// ---------------------------------------------------------------------------------------
// Objects and factories

TEST(ComObjectTest, QueryInterfaceAnswersEveryInterfaceAndItsBases) {
  TComModule module;
  {
    ComPtr<IUnknown> unk;
    ASSERT_EQ(ComCreateObject<TTestCalc>(module, nullptr, IID_IUnknown, unk.AsOut()), S_OK);
    ComPtr<ITestCalc> calc;
    ComPtr<IDispatch> disp;
    ComPtr<ITestSecond> second;
    ASSERT_EQ(unk.As(calc), S_OK);
    ASSERT_EQ(unk.As(disp), S_OK);
    ASSERT_EQ(calc.As(second), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(calc.Get()), disp.Get());
    LONG two = 0;
    second->Second(&two);
    EXPECT_EQ(two, 2);
    // IUnknown is one and the same pointer from every interface.
    ComPtr<IUnknown> fromSecond = second.As<IUnknown>();
    EXPECT_EQ(fromSecond.Get(), unk.Get());
    ComPtr<IClassFactory> none;
    EXPECT_EQ(unk.As(none), E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(module.ObjectCount(), 1);
  }
  EXPECT_EQ(module.ObjectCount(), 0);
}

TEST(ComObjectTest, FactoryRules) {
  TComModule module;
  TComClassFactory factory(module, test::CLSID_TestCalc, &ComCreateObject<TTestCalc>);

  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory.CreateInstance(nullptr, IClassFactory::Iid, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(module.ObjectCount(), 0);  // the refused object is gone again

  // Aggregation: accepted only for IUnknown; the object then delegates to the outer one.
  TComModule outerModule;
  ComPtr<IUnknown> outer;
  ASSERT_EQ(ComCreateObject<TTestCalc>(outerModule, nullptr, IID_IUnknown, outer.AsOut()), S_OK);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory.CreateInstance(outer.Get(), IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ComPtr<IUnknown> inner;
  ASSERT_EQ(factory.CreateInstance(outer.Get(), IID_IUnknown, inner.AsOut()), S_OK);
  ComPtr<ITestSecond> second;
  ASSERT_EQ(inner.As(second), S_OK);
  EXPECT_EQ(second.As<IUnknown>().Get(), outer.Get());  // identity is the outer object's
  second.Reset();
  inner.Reset();
  EXPECT_EQ(module.ObjectCount(), 0);

  // Locks and handed-out references keep the module in use.
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  factory.LockServer(1);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  factory.LockServer(0);
  factory.LockServer(0);  // one unlock too many does not go below zero
  EXPECT_EQ(module.LockCount(), 0);
  TComClassFactory* all[] = {&factory};
  ComPtr<IClassFactory> handed;
  ASSERT_EQ(ComGetClassObject(all, test::CLSID_TestCalc, IID_IClassFactory, handed.AsOut()), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  handed.Reset();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(ComGetClassObject(all, IID_IDispatch, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
}

struct TThrowing : TTestCalc {
  using TTestCalc::TTestCalc;
  void Initialize() override { throw std::runtime_error("setup failed"); }
};

TEST(ComObjectTest, AFailingCreationIsUnexpected) {
  TComModule module;
  TComClassFactory factory(module, GUID_NULL, &ComCreateObject<TThrowing>);
  void* p = nullptr;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &p), E_UNEXPECTED);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(module.ObjectCount(), 0);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
  BStr text;
  info->GetDescription(text.Out());
  EXPECT_EQ(text.View(), u"setup failed");
}

}  // namespace
}  // namespace fp::test
