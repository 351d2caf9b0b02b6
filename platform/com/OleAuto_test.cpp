#include "platform/com/OleAuto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"

namespace fp {
namespace {

// ---------------------------------------------------------------------------------------
// GUID

TEST(GuidTest, ParsesPrintsAndCompares) {
  constexpr GUID g = GuidConst("{bad7ec8b-0e5b-4421-936e-f5ae2338be32}");
  static_assert(g.Data1 == 0xBAD7EC8Bu && g.Data2 == 0x0E5B && g.Data3 == 0x4421);
  EXPECT_EQ(g.Data4[0], 0x93);
  EXPECT_EQ(g.Data4[7], 0x32);
  EXPECT_EQ(GuidToString(g), "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
  EXPECT_EQ(GuidToWideString(g), u"{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");

  auto upper = GuidFromString("{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
  ASSERT_TRUE(upper);
  EXPECT_EQ(*upper, g);
  EXPECT_EQ(GuidFromString(u"{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}"), upper);
  GUID other = g;
  other.Data4[7] ^= 1;
  EXPECT_NE(other, g);
  EXPECT_EQ(GuidHash{}(*upper), GuidHash{}(g));
}

TEST(GuidTest, RefusesMalformedText) {
  for (const char* text : {"", "BAD7EC8B-0E5B-4421-936E-F5AE2338BE32",
                           "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE3}",
                           "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE321}",
                           "{BAD7EC8B_0E5B-4421-936E-F5AE2338BE32}",
                           "{BAD7EC8B-0E5B-4421-936EF-5AE2338BE32}",
                           "{BAD7EC8G-0E5B-4421-936E-F5AE2338BE32}",
                           "(BAD7EC8B-0E5B-4421-936E-F5AE2338BE32)"}) {
    EXPECT_FALSE(GuidFromString(text)) << text;
  }
}

// ---------------------------------------------------------------------------------------
// BSTR

TEST(BstrTest, KeepsLengthAndEmbeddedNulls) {
  const char16_t text[] = u"a\0b";
  BSTR b = SysAllocStringLen(text, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(std::u16string_view(b, 3), std::u16string_view(text, 3));
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);

  BSTR c = SysAllocString(u"\x0417\x0434\x0440\x0430\x0432\x0435\x0439");  // "Здравей"
  EXPECT_EQ(SysStringLen(c), 7u);
  SysFreeString(c);

  BSTR zero = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(zero), 4u);
  EXPECT_EQ(std::u16string_view(zero, 4), std::u16string_view(u"\0\0\0\0", 4));
  SysFreeString(zero);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(BstrView(nullptr), u"");
}

TEST(BstrTest, WrapperOwnsOneString) {
  BStr a(u"text");
  BStr b = a;  // a copy of its own
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(b.View(), u"text");
  BSTR* out = b.Out();  // frees, for an out-argument
  EXPECT_EQ(*out, nullptr);
  *out = MakeBstr(u"new");
  EXPECT_EQ(b.Str(), u"new");
  BSTR raw = a.Detach();
  EXPECT_EQ(a.Get(), nullptr);
  BStr c = BStr::Attach(raw);
  EXPECT_EQ(c.Length(), 4u);
}

// ---------------------------------------------------------------------------------------
// VARIANT

TEST(VariantTest, CopyDuplicatesAndClearFrees) {
  Variant s(u"abc");
  Variant copy;
  ASSERT_EQ(VariantCopy(&copy, &s), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, s.bstrVal);
  EXPECT_EQ(BstrView(copy.bstrVal), u"abc");
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);

  // A by-reference variant owns nothing: clearing it leaves the target alone.
  BSTR target = MakeBstr(u"kept");
  Variant ref = Variant::Ref(VT_BSTR, &target);
  ref = Variant();
  EXPECT_EQ(BstrView(target), u"kept");
  SysFreeString(target);
}

struct TCoercion {
  Variant From;
  VARTYPE To;
  HRESULT Expected;
  Variant Value;  // when Expected is S_OK
};

std::string Describe(const VARIANT& v) {
  Variant text;
  if (v.vt == VT_DATE) return "date " + std::to_string(v.date);
  if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)))
    return "vt " + std::to_string(v.vt) + " \"" + std::string(BstrView(text.bstrVal).begin(),
                                                              BstrView(text.bstrVal).end()) + "\"";
  return "vt " + std::to_string(v.vt);
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_I1: return a.cVal == b.cVal;
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_DATE: return a.date == b.date;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_BSTR: return BstrView(a.bstrVal) == BstrView(b.bstrVal);
    default: return false;
  }
}

Variant I2(std::int16_t v) {
  Variant r;
  r.vt = VT_I2;
  r.iVal = v;
  return r;
}

TEST(VariantTest, ChangeTypeTable) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Variant empty;
  Variant null;
  null.vt = VT_NULL;
  const TCoercion cases[] = {
      // numbers among each other, rounding halves to even, ranges
      {Variant(2.5), VT_I4, S_OK, Variant(LONG(2))},
      {Variant(3.5), VT_I4, S_OK, Variant(LONG(4))},
      {Variant(-2.5), VT_I4, S_OK, Variant(LONG(-2))},
      {Variant(2.6), VT_I4, S_OK, Variant(LONG(3))},
      {Variant(2147483647.4), VT_I4, S_OK, Variant(LONG(2147483647))},
      {Variant(2147483648.0), VT_I4, DISP_E_OVERFLOW, {}},
      {Variant(nan), VT_I4, DISP_E_OVERFLOW, {}},
      {Variant(LONG(127)), VT_I1, S_OK, Variant::I1(127)},
      {Variant(LONG(128)), VT_I1, DISP_E_OVERFLOW, {}},
      {Variant(LONG(-129)), VT_I1, DISP_E_OVERFLOW, {}},
      {Variant(LONG(300)), VT_I2, S_OK, I2(300)},
      {Variant(LONG(40000)), VT_I2, DISP_E_OVERFLOW, {}},
      {Variant::I1(-5), VT_R8, S_OK, Variant(-5.0)},
      {Variant(LONG(7)), VT_DATE, S_OK, Variant::Date(7)},
      {Variant::Date(46000.5), VT_R8, S_OK, Variant(46000.5)},
      {Variant(3e6), VT_DATE, DISP_E_OVERFLOW, {}},
      // booleans
      {Variant(LONG(5)), VT_BOOL, S_OK, Variant::Bool(true)},
      {Variant(0.0), VT_BOOL, S_OK, Variant::Bool(false)},
      {Variant::Bool(true), VT_I4, S_OK, Variant(LONG(-1))},
      {Variant::Bool(true), VT_BSTR, S_OK, Variant(u"-1")},
      {Variant(u"tRuE"), VT_BOOL, S_OK, Variant::Bool(true)},
      {Variant(u"0"), VT_BOOL, S_OK, Variant::Bool(false)},
      // text to numbers
      {Variant(u" 42 "), VT_I4, S_OK, Variant(LONG(42))},
      {Variant(u"+7"), VT_I4, S_OK, Variant(LONG(7))},
      {Variant(u"-1.5"), VT_R8, S_OK, Variant(-1.5)},
      {Variant(u"1.5e2"), VT_R8, S_OK, Variant(150.0)},
      {Variant(u".5"), VT_R8, S_OK, Variant(0.5)},
      {Variant(u"0.5"), VT_I4, S_OK, Variant(LONG(0))},
      {Variant(u"1,5"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {Variant(u"abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant(u""), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant(u"inf"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {Variant(u"+-1"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant(u"1e999"), VT_R8, DISP_E_OVERFLOW, {}},
      {Variant(u"99999999999"), VT_I4, DISP_E_OVERFLOW, {}},
      {Variant(u"12"), VT_DATE, S_OK, Variant::Date(12)},
      // numbers to text: shortest form, "." as separator
      {Variant(LONG(-3)), VT_BSTR, S_OK, Variant(u"-3")},
      {Variant(1.5), VT_BSTR, S_OK, Variant(u"1.5")},
      {Variant(0.1), VT_BSTR, S_OK, Variant(u"0.1")},
      {Variant::I1(-128), VT_BSTR, S_OK, Variant(u"-128")},
      {Variant::Date(1), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      // empty and null
      {Variant(), VT_I4, S_OK, Variant(LONG(0))},
      {Variant(), VT_BSTR, S_OK, Variant(u"")},
      {Variant(LONG(9)), VT_EMPTY, S_OK, Variant()},
      {null, VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant(LONG(1)), VT_DISPATCH, DISP_E_TYPEMISMATCH, {}},
      {Variant(LONG(1)), VARTYPE(99), DISP_E_BADVARTYPE, {}},
  };
  for (const auto& c : cases) {
    Variant out(u"untouched");
    HRESULT hr = VariantChangeType(&out, &c.From, 0, c.To);
    EXPECT_EQ(hr, c.Expected) << Describe(c.From) << " to vt " << c.To;
    if (c.Expected == S_OK)
      EXPECT_TRUE(SameValue(out, c.Value)) << Describe(c.From) << " gave " << Describe(out);
    else
      EXPECT_TRUE(out.vt == VT_BSTR && BstrView(out.bstrVal) == u"untouched")
          << Describe(c.From) << ": a failure must leave the destination";
  }
}

TEST(VariantTest, ChangeTypeReadsThroughReferencesAndWorksInPlace) {
  LONG n = 12;
  Variant ref = Variant::Ref(VT_I4, &n);
  Variant out;
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrView(out.bstrVal), u"12");

  Variant inner(u"8");
  Variant refVar = Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&inner));
  ASSERT_EQ(VariantChangeType(&out, &refVar, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 8);

  Variant self(u"5");
  ASSERT_EQ(VariantChangeType(&self, &self, 0, VT_R8), S_OK);  // frees the old text
  EXPECT_EQ(self.vt, VT_R8);
  EXPECT_EQ(self.dblVal, 5.0);

  Variant b = Variant::Bool(false);
  ASSERT_EQ(VariantChangeType(&out, &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(BstrView(out.bstrVal), u"False");
}

// ---------------------------------------------------------------------------------------
// Error information

TEST(ErrorInfoTest, IsPerThreadAndHandedOverOnce) {
  ASSERT_EQ(ComSetErrorInfo(IID_IDispatch, u"Src", u"Something failed"), S_OK);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
  BStr text, source;
  info->GetDescription(text.Out());
  info->GetSource(source.Out());
  GUID g;
  info->GetGUID(&g);
  EXPECT_EQ(text.View(), u"Something failed");
  EXPECT_EQ(source.View(), u"Src");
  EXPECT_EQ(g, IID_IDispatch);

  IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);  // taken by the first GetErrorInfo
  EXPECT_EQ(none, nullptr);
}

TEST(ErrorInfoTest, GuardTurnsAnExceptionIntoUnexpectedWithItsMessage) {
  HRESULT hr = ComGuard(IID_IUnknown, u"Guarded", []() -> HRESULT {
    throw std::runtime_error("\xCF\xF0\xE8\xEC\xE5\xF0 failure");  // code page 1251
  });
  EXPECT_EQ(hr, E_UNEXPECTED);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
  BStr text;
  info->GetDescription(text.Out());
  EXPECT_EQ(text.View(), u"\x041F\x0440\x0438\x043C\x0435\x0440 failure");

  EXPECT_EQ(ComGuard(IID_IUnknown, u"Guarded", []() -> HRESULT { throw 42; }), E_UNEXPECTED);
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
  EXPECT_EQ(ComGuard(IID_IUnknown, u"Guarded", [] { return S_FALSE; }), S_FALSE);
}

}  // namespace
}  // namespace fp
