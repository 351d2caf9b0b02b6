#include "platform/com/OleAuto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"

namespace fp::test {
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
  for (const char* text : {"", "BAD7EC8B-0E5B-4421-936E-F5AE2338BE32", "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE3}",
                           "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE321}", "{BAD7EC8B_0E5B-4421-936E-F5AE2338BE32}",
                           "{BAD7EC8B-0E5B-4421-936EF-5AE2338BE32}", "{BAD7EC8G-0E5B-4421-936E-F5AE2338BE32}",
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
    return "vt " + std::to_string(v.vt) + " \"" +
           std::string(BstrView(text.bstrVal).begin(), BstrView(text.bstrVal).end()) + "\"";
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
    case VT_INT: return a.intVal == b.intVal;
    case VT_I8: return a.llVal == b.llVal;
    case VT_UI1: return a.bVal == b.bVal;
    case VT_UI2: return a.uiVal == b.uiVal;
    case VT_UI4: return a.ulVal == b.ulVal;
    case VT_UINT: return a.uintVal == b.uintVal;
    case VT_UI8: return a.ullVal == b.ullVal;
    case VT_R4: return a.fltVal == b.fltVal;
    case VT_CY: return a.cyVal.int64 == b.cyVal.int64;
    case VT_DECIMAL: {
      const DECIMAL x = VariantDecimal(a), y = VariantDecimal(b);
      return x.scale == y.scale && x.sign == y.sign && x.Hi32 == y.Hi32 && x.Lo64 == y.Lo64;
    }
    default: return false;
  }
}

// A variant of one of the wider number types; the value goes into the type's own field.
template <class T>
Variant Typed(VARTYPE vt, T value) {
  Variant v;
  v.vt = vt;
  switch (vt) {
    case VT_R4: v.fltVal = float(value); break;
    case VT_CY: v.cyVal.int64 = LONGLONG(value); break;  // in units of 1/10000
    case VT_UI1: v.bVal = BYTE(value); break;
    case VT_UI2: v.uiVal = USHORT(value); break;
    case VT_UI4: v.ulVal = ULONG(value); break;
    case VT_UINT: v.uintVal = UINT(value); break;
    case VT_I8: v.llVal = LONGLONG(value); break;
    case VT_UI8: v.ullVal = ULONGLONG(value); break;
    case VT_INT: v.intVal = std::int32_t(value); break;
    default: ADD_FAILURE() << "no field for vt " << vt;
  }
  return v;
}

// The decimal (Hi32:Lo64) / 10^scale.
Variant Dec(ULONGLONG lo, BYTE scale, bool negative = false, ULONG hi = 0) {
  DECIMAL d;
  d.scale = scale;
  d.sign = negative ? DECIMAL_NEG : 0;
  d.Hi32 = hi;
  d.Lo64 = lo;
  Variant v;
  SetVariantDecimal(v, d);
  return v;
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

TEST(VariantTest, ChangeTypeOfTheWiderNumberTypes) {
  constexpr LONGLONG kMaxCy = std::numeric_limits<LONGLONG>::max();
  constexpr ULONGLONG kMaxU8 = std::numeric_limits<ULONGLONG>::max();
  // 1.15 with 20 decimals: 115 * 10^18 needs the high 32 bits.
  constexpr unsigned __int128 kWide = (unsigned __int128)115 * 1000000000000000000ull;
  const Variant wide115 = Dec(ULONGLONG(kWide), 20, false, ULONG(kWide >> 64));
  const Variant maxDec = Dec(kMaxU8, 0, false, 0xFFFFFFFFu);  // 2^96 - 1
  const TCoercion cases[] = {
      // currency and decimal count as the decimal value they hold
      {Typed(VT_CY, 11500), VT_R8, S_OK, Variant(1.15)},
      {Typed(VT_CY, 11500), VT_BSTR, S_OK, Variant(u"1.15")},
      {Typed(VT_CY, 12345600), VT_BSTR, S_OK, Variant(u"1234.56")},
      {Typed(VT_CY, -5), VT_BSTR, S_OK, Variant(u"-0.0005")},
      {Typed(VT_CY, std::numeric_limits<LONGLONG>::min()), VT_BSTR, S_OK, Variant(u"-922337203685477.5808")},
      {Typed(VT_CY, 25000), VT_I4, S_OK, Variant(LONG(2))},
      {Typed(VT_CY, 35000), VT_I4, S_OK, Variant(LONG(4))},
      {Typed(VT_CY, -25000), VT_I4, S_OK, Variant(LONG(-2))},
      {Typed(VT_CY, 25001), VT_I4, S_OK, Variant(LONG(3))},
      {Typed(VT_CY, kMaxCy), VT_I4, DISP_E_OVERFLOW, {}},
      {Typed(VT_CY, kMaxCy), VT_I8, S_OK, Typed(VT_I8, 922337203685478)},
      {Dec(2675, 3), VT_R8, S_OK, Variant(2.675)},
      {Dec(2675, 3), VT_BSTR, S_OK, Variant(u"2.675")},
      {Dec(15000, 4, true), VT_BSTR, S_OK, Variant(u"-1.5")},
      {Dec(0, 2, true), VT_BSTR, S_OK, Variant(u"0")},
      {wide115, VT_R8, S_OK, Variant(1.15)},
      {wide115, VT_BSTR, S_OK, Variant(u"1.15")},
      {maxDec, VT_BSTR, S_OK, Variant(u"79228162514264337593543950335")},
      {maxDec, VT_R8, S_OK, Variant(79228162514264337593543950335.0)},
      {maxDec, VT_I4, DISP_E_OVERFLOW, {}},
      {Dec(5, 1, true), VT_I4, S_OK, Variant(LONG(0))},
      {Dec(15, 1, true), VT_I4, S_OK, Variant(LONG(-2))},
      {Dec(123455, 5), VT_CY, S_OK, Typed(VT_CY, 12346)},
      {Dec(1, 29), VT_R8, E_INVALIDARG, {}},
      {Typed(VT_CY, 11500), VT_DECIMAL, S_OK, Dec(11500, 4)},
      // binary numbers count as their binary value
      {Typed(VT_R4, 2.5f), VT_I4, S_OK, Variant(LONG(2))},
      {Typed(VT_R4, 0.1f), VT_BSTR, S_OK, Variant(u"0.1")},
      {Typed(VT_R4, 0.1f), VT_R8, S_OK, Variant(double(0.1f))},
      {Typed(VT_R4, 1e30f), VT_I4, DISP_E_OVERFLOW, {}},
      {Variant(1e39), VT_R4, DISP_E_OVERFLOW, {}},
      {Variant(1.15), VT_CY, S_OK, Typed(VT_CY, 11500)},
      {Variant(2.5e15), VT_CY, DISP_E_OVERFLOW, {}},
      {Variant(0.1), VT_DECIMAL, S_OK, Dec(1, 1)},
      {Variant(1e29), VT_DECIMAL, DISP_E_OVERFLOW, {}},
      // integers of every width and sign
      {Typed(VT_I8, 9007199254740993LL), VT_BSTR, S_OK, Variant(u"9007199254740993")},
      {Typed(VT_I8, 2147483648LL), VT_I4, DISP_E_OVERFLOW, {}},
      {Typed(VT_I8, -5), VT_R8, S_OK, Variant(-5.0)},
      {Typed(VT_I8, 922337203685478LL), VT_CY, DISP_E_OVERFLOW, {}},
      {Typed(VT_UI8, kMaxU8), VT_BSTR, S_OK, Variant(u"18446744073709551615")},
      {Typed(VT_UI8, kMaxU8), VT_I8, DISP_E_OVERFLOW, {}},
      {Typed(VT_UI1, 255), VT_I1, DISP_E_OVERFLOW, {}},
      {Typed(VT_UI1, 255), VT_I4, S_OK, Variant(LONG(255))},
      {Variant(LONG(-1)), VT_UI1, DISP_E_OVERFLOW, {}},
      {Variant(LONG(256)), VT_UI1, DISP_E_OVERFLOW, {}},
      {Variant(-0.4), VT_UI4, S_OK, Typed(VT_UI4, 0)},
      {Typed(VT_UI2, 65535), VT_I2, DISP_E_OVERFLOW, {}},
      {Typed(VT_UI4, 4294967295u), VT_I4, DISP_E_OVERFLOW, {}},
      {Typed(VT_UI4, 4294967295u), VT_R8, S_OK, Variant(4294967295.0)},
      {Typed(VT_UINT, 7), VT_I4, S_OK, Variant(LONG(7))},
      {Typed(VT_INT, -7), VT_BSTR, S_OK, Variant(u"-7")},
      {Typed(VT_INT, 0), VT_BOOL, S_OK, Variant::Bool(false)},
      // text to the exact types: every digit counts
      {Variant(u"9007199254740993"), VT_I8, S_OK, Typed(VT_I8, 9007199254740993LL)},
      {Variant(u"1.23455"), VT_CY, S_OK, Typed(VT_CY, 12346)},
      {Variant(u"1.23465"), VT_CY, S_OK, Typed(VT_CY, 12346)},
      {Variant(u"1.5e3"), VT_CY, S_OK, Typed(VT_CY, 15000000)},
      {Variant(u"1.15"), VT_DECIMAL, S_OK, Dec(115, 2)},
      {Variant(u"2.5000000000000001"), VT_I4, S_OK, Variant(LONG(3))},
  };
  for (const auto& c : cases) {
    Variant out(u"untouched");
    HRESULT hr = VariantChangeType(&out, &c.From, 0, c.To);
    EXPECT_EQ(hr, c.Expected) << Describe(c.From) << " to vt " << c.To;
    if (c.Expected == S_OK)
      EXPECT_TRUE(SameValue(out, c.Value)) << Describe(c.From) << " to vt " << c.To << " gave " << Describe(out);
    else
      EXPECT_TRUE(out.vt == VT_BSTR && BstrView(out.bstrVal) == u"untouched")
          << Describe(c.From) << ": a failure must leave the destination";
  }

  // Through a reference of each type, and inside a variant reference.
  CY cy{11500};
  DECIMAL dec;
  dec.scale = 2;
  dec.Lo64 = 115;
  float r4 = 1.5f;
  LONGLONG i8 = -9;
  ULONGLONG u8 = 9;
  BYTE u1 = 200;
  USHORT u2 = 60000;
  ULONG u4 = 70000;
  std::int32_t in = -3;
  UINT un = 3;
  struct TRef {
    Variant Ref;
    const char16_t* Text;
  } refs[] = {
      {Variant::Ref(VT_CY, &cy), u"1.15"},   {Variant::Ref(VT_DECIMAL, &dec), u"1.15"},
      {Variant::Ref(VT_R4, &r4), u"1.5"},    {Variant::Ref(VT_I8, &i8), u"-9"},
      {Variant::Ref(VT_UI8, &u8), u"9"},     {Variant::Ref(VT_UI1, &u1), u"200"},
      {Variant::Ref(VT_UI2, &u2), u"60000"}, {Variant::Ref(VT_UI4, &u4), u"70000"},
      {Variant::Ref(VT_INT, &in), u"-3"},    {Variant::Ref(VT_UINT, &un), u"3"},
  };
  for (const TRef& r : refs) {
    Variant inner;
    ASSERT_EQ(VariantCopy(&inner, &r.Ref), S_OK);
    ASSERT_EQ(VariantChangeType(&inner, &inner, 0, VARTYPE(r.Ref.vt & VT_TYPEMASK)), S_OK);
    const Variant inVariant = Variant::Ref(VT_VARIANT, static_cast<VARIANT*>(&inner));
    for (const VARIANT* from : {static_cast<const VARIANT*>(&r.Ref), static_cast<const VARIANT*>(&inVariant)}) {
      Variant text;
      ASSERT_EQ(VariantChangeType(&text, from, 0, VT_BSTR), S_OK) << "vt " << from->vt;
      EXPECT_EQ(BstrView(text.bstrVal), r.Text) << "vt " << from->vt;
    }
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
}  // namespace fp::test
