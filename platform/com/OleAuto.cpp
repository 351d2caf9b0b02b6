#include "platform/com/OleAuto.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp {

// ---------------------------------------------------------------------------------------
// BSTR: [UINT byte length][characters][null character]; the BSTR points at the characters.

namespace {
constexpr std::size_t kPrefix = sizeof(UINT);

UINT& PrefixOf(BSTR b) { return *reinterpret_cast<UINT*>(reinterpret_cast<char*>(b) - kPrefix); }
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* str, UINT len) {
  std::size_t bytes = std::size_t(len) * sizeof(OLECHAR);
  if (bytes > 0x7FFFFFF0u) return nullptr;
  char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, kPrefix);
  BSTR b = reinterpret_cast<BSTR>(block + kPrefix);
  if (str)
    std::memcpy(b, str, bytes);
  else
    std::memset(b, 0, bytes);
  b[len] = u'\0';
  return b;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, UINT(std::char_traits<char16_t>::length(psz)));
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<char*>(bstr) - kPrefix);
}

UINT SysStringLen(BSTR bstr) { return bstr ? PrefixOf(bstr) / UINT(sizeof(OLECHAR)) : 0; }

// ---------------------------------------------------------------------------------------
// VARIANT

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->raw_ = 0;
}

namespace {
bool KnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_ERROR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return true;
    default: return false;
  }
}
}  // namespace

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (!(pvarg->vt & VT_BYREF)) {
    switch (pvarg->vt) {
      case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
      case VT_DISPATCH:
        if (pvarg->pdispVal) pvarg->pdispVal->Release();
        break;
      case VT_UNKNOWN:
        if (pvarg->punkVal) pvarg->punkVal->Release();
        break;
      default:
        if (!KnownType(pvarg->vt)) hr = DISP_E_BADVARTYPE;
        break;
    }
  }
  VariantInit(pvarg);
  return hr;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (!(copy.vt & VT_BYREF)) {
    if (!KnownType(copy.vt)) return DISP_E_BADVARTYPE;
    if (copy.vt == VT_BSTR && copy.bstrVal) {
      copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal) {
      copy.punkVal->AddRef();
    }
  }
  VariantClear(pvargDest);
  *pvargDest = copy;
  return S_OK;
}

namespace {

__extension__ typedef unsigned __int128 TUnits;
__extension__ typedef __int128 TWhole;

// The source read through its reference; false for a by-reference type we do not know.
bool Dereference(const VARIANT& src, VARIANT& value) {
  VariantInit(&value);
  if (!(src.vt & VT_BYREF)) {
    value = src;
    return true;
  }
  VARTYPE base = src.vt & VT_TYPEMASK;
  if (!src.byref) return false;
  value.vt = base;
  switch (base) {
    case VT_I1: value.cVal = *src.pcVal; return true;
    case VT_I2: value.iVal = *src.piVal; return true;
    case VT_I4: value.lVal = *src.plVal; return true;
    case VT_INT: value.intVal = *src.pintVal; return true;
    case VT_I8: value.llVal = *src.pllVal; return true;
    case VT_UI1: value.bVal = *src.pbVal; return true;
    case VT_UI2: value.uiVal = *src.puiVal; return true;
    case VT_UI4: value.ulVal = *src.pulVal; return true;
    case VT_UINT: value.uintVal = *src.puintVal; return true;
    case VT_UI8: value.ullVal = *src.pullVal; return true;
    case VT_R4: value.fltVal = *src.pfltVal; return true;
    case VT_R8: value.dblVal = *src.pdblVal; return true;
    case VT_CY: value.cyVal = *src.pcyVal; return true;
    case VT_DECIMAL: SetVariantDecimal(value, *src.pdecVal); return true;
    case VT_DATE: value.date = *src.pdate; return true;
    case VT_BOOL: value.boolVal = *src.pboolVal; return true;
    case VT_ERROR: value.scode = *src.pscode; return true;
    case VT_BSTR: value.bstrVal = *src.pbstrVal; return true;
    case VT_DISPATCH: value.pdispVal = *src.ppdispVal; return true;
    case VT_UNKNOWN: value.punkVal = *src.ppunkVal; return true;
    case VT_VARIANT:
      if (src.pvarVal->vt & VT_BYREF) return false;
      value = *src.pvarVal;
      return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------
// Numbers between the types. A currency, a decimal and every integer (and most texts) hold
// an exact decimal value, which is converted as such: to an integer, a currency or a
// decimal by rounding that value, to a double as the double nearest to it, to text as its
// digits. A binary value (VT_R4, VT_R8, VT_DATE) is converted as the binary value it is.

constexpr int kMaxDigits = 38;  // the units of an exact value stay below 10^38

constexpr TUnits Pow10(int n) {
  TUnits p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Units / 10^Scale, negative when Negative.
struct TExact {
  bool Negative = false;
  TUnits Units = 0;
  int Scale = 0;
};

// The value rounded to Scale decimals, halves to even; Scale not above the value's own.
TExact RoundTo(const TExact& e, int scale) {
  TExact r = e;
  if (scale >= e.Scale) return r;
  r.Scale = scale;
  const int drop = e.Scale - scale;
  if (drop > kMaxDigits) {
    r.Units = 0;  // less than half a unit of the kept place
    return r;
  }
  const TUnits div = Pow10(drop);
  TUnits q = e.Units / div;
  const TUnits rest = e.Units % div;
  const TUnits half = div / 2;
  if (rest > half || (rest == half && (q & 1))) ++q;
  r.Units = q;
  return r;
}

// The value written with Scale decimals or more; false when its units would not stay
// below 10^38.
bool ScaleUp(TExact& e, int scale) {
  for (; e.Scale < scale; ++e.Scale) {
    if (e.Units >= Pow10(kMaxDigits - 1)) return false;
    e.Units *= 10;
  }
  return true;
}

// "-12.5": the digits of the value without trailing zeros of the fraction; no sign for
// zero.
std::string ExactText(const TExact& e) {
  std::string digits;
  for (TUnits u = e.Units; u != 0; u /= 10) digits.insert(digits.begin(), char('0' + int(u % 10)));
  if (digits.empty()) return "0";
  if (e.Scale > 0) {
    const std::size_t scale = std::size_t(e.Scale);
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    digits.insert(digits.size() - scale, ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (e.Negative) digits.insert(0, "-");
  return digits;
}

// The double nearest to the value: from its decimal text, so that a currency or decimal
// amount becomes the same double as the amount written as a literal (1.15 stays 1.15).
double ExactToDouble(const TExact& e) {
  const std::string s = ExactText(e);
  double d = 0;
  std::from_chars(s.data(), s.data() + s.size(), d, std::chars_format::general);
  return d;
}

// The exact value of a decimal number text (an optional sign, digits with an optional ".",
// an optional exponent: what ParseNumber takes); false when it has more than 38
// significant digits or is too far from 1 to be held.
bool ExactFromText(std::string_view s, TExact& out) {
  std::size_t i = 0;
  TExact e;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) e.Negative = s[i++] == '-';
  long scale = 0;
  int digits = 0;
  bool dot = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.') {
      dot = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (dot) ++scale;
    if (e.Units == 0 && c == '0') continue;  // a leading zero
    if (++digits > kMaxDigits) return false;
    e.Units = e.Units * 10 + TUnits(c - '0');
  }
  if (i < s.size()) {  // the exponent
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long exponent = 0;
    for (; i < s.size(); ++i) {
      exponent = exponent * 10 + (s[i] - '0');
      if (exponent > 1000) return false;
    }
    scale += negative ? exponent : -exponent;
  }
  if (scale > 400) return false;
  if (scale < 0) {
    if (!ScaleUp(e, int(-scale))) return false;
    e.Scale = 0;
  } else {
    e.Scale = int(scale);
  }
  out = e;
  return true;
}

// A number read from a variant: its value as a double, and the exact value where the
// source holds one.
struct TNumber {
  double Real = 0;
  bool HasExact = false;
  TExact Exact;
};

TNumber FromWhole(TWhole w) {
  TNumber n;
  n.Real = double(w);
  n.HasExact = true;
  n.Exact.Negative = w < 0;
  n.Exact.Units = w < 0 ? TUnits(-w) : TUnits(w);
  return n;
}

TNumber FromExact(const TExact& e) {
  TNumber n;
  n.HasExact = true;
  n.Exact = e;
  n.Real = ExactToDouble(e);
  return n;
}

TNumber FromReal(double d) {
  TNumber n;
  n.Real = d;
  return n;
}

// The number a numeric variant holds; DISP_E_TYPEMISMATCH for any other type,
// E_INVALIDARG for a decimal that is none (a scale above 28, an unknown sign).
HRESULT NumberOf(const VARIANT& v, TNumber& n) {
  switch (v.vt) {
    case VT_EMPTY: n = FromWhole(0); return S_OK;
    case VT_I1: n = FromWhole(v.cVal); return S_OK;
    case VT_I2: n = FromWhole(v.iVal); return S_OK;
    case VT_I4: n = FromWhole(v.lVal); return S_OK;
    case VT_INT: n = FromWhole(v.intVal); return S_OK;
    case VT_I8: n = FromWhole(v.llVal); return S_OK;
    case VT_UI1: n = FromWhole(v.bVal); return S_OK;
    case VT_UI2: n = FromWhole(v.uiVal); return S_OK;
    case VT_UI4: n = FromWhole(v.ulVal); return S_OK;
    case VT_UINT: n = FromWhole(v.uintVal); return S_OK;
    case VT_UI8: n = FromWhole(v.ullVal); return S_OK;
    case VT_BOOL: n = FromWhole(v.boolVal); return S_OK;
    case VT_R4: n = FromReal(v.fltVal); return S_OK;
    case VT_R8: n = FromReal(v.dblVal); return S_OK;
    case VT_DATE: n = FromReal(v.date); return S_OK;
    case VT_CY: {
      const TWhole units = v.cyVal.int64;
      TExact e;
      e.Negative = units < 0;
      e.Units = units < 0 ? TUnits(-units) : TUnits(units);
      e.Scale = 4;
      n = FromExact(e);
      return S_OK;
    }
    case VT_DECIMAL: {
      const DECIMAL d = VariantDecimal(v);
      if (d.scale > 28 || (d.sign != 0 && d.sign != DECIMAL_NEG)) return E_INVALIDARG;
      TExact e;
      e.Negative = d.sign == DECIMAL_NEG;
      e.Units = (TUnits(d.Hi32) << 64) | d.Lo64;
      e.Scale = d.scale;
      n = FromExact(e);
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

bool AsciiEqualNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    char d = b[i];
    if (d >= 'a' && d <= 'z') d = char(d - 'a' + 'A');
    if (c != char16_t(d)) return false;
  }
  return true;
}

// A decimal number in text: blanks at both ends allowed, "." as separator.
HRESULT ParseNumber(BSTR text, TNumber& out) {
  std::u16string_view w(text ? text : u"", SysStringLen(text));
  while (!w.empty() && (w.front() == u' ' || w.front() == u'\t')) w.remove_prefix(1);
  while (!w.empty() && (w.back() == u' ' || w.back() == u'\t')) w.remove_suffix(1);
  if (w.empty() || w.size() > 64) return DISP_E_TYPEMISMATCH;
  std::string s;
  for (char16_t c : w) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    s += char(c);
  }
  const char* first = s.data();
  const char* last = s.data() + s.size();
  const char* digits = first;
  if (*first == '+')
    digits = ++first;  // from_chars takes no "+"
  else if (*first == '-')
    ++digits;
  if (digits == last || !(std::isdigit(static_cast<unsigned char>(*digits)) || *digits == '.'))
    return DISP_E_TYPEMISMATCH;  // also refuses "inf", "nan" and doubled signs
  double value = 0;
  auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (ec != std::errc() || end != last) return DISP_E_TYPEMISMATCH;
  out = FromReal(value);
  out.HasExact = ExactFromText(std::string_view(first, std::size_t(last - first)), out.Exact);
  return S_OK;
}

BSTR MakeAscii(std::string_view s) {
  std::u16string w(s.begin(), s.end());
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

template <class T>
HRESULT ShortestText(T value, std::string& s) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return DISP_E_TYPEMISMATCH;
  s.assign(buf, end);
  return S_OK;
}

HRESULT NumberToText(const VARIANT& v, USHORT flags, VARIANT& out) {
  std::string s;
  HRESULT hr = S_OK;
  switch (v.vt) {
    case VT_EMPTY: break;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL)
        s = v.boolVal ? "True" : "False";
      else
        s = v.boolVal ? "-1" : "0";
      break;
    case VT_R4: hr = ShortestText(v.fltVal, s); break;
    case VT_R8: hr = ShortestText(v.dblVal, s); break;
    case VT_DATE: return DISP_E_TYPEMISMATCH;  // dates do not become text
    default: {
      TNumber n;
      if (FAILED(hr = NumberOf(v, n))) return hr;
      s = ExactText(n.Exact);  // integers, currency and decimal: all their digits
      break;
    }
  }
  if (FAILED(hr)) return hr;
  out.vt = VT_BSTR;
  out.bstrVal = MakeAscii(s);
  return out.bstrVal ? S_OK : E_OUTOFMEMORY;
}

// The number rounded to a whole number, halves to even; false when it is not finite or
// too large to be counted.
bool WholeOf(const TNumber& n, TWhole& w) {
  if (n.HasExact) {
    const TExact r = RoundTo(n.Exact, 0);
    w = r.Negative ? -TWhole(r.Units) : TWhole(r.Units);
    return true;
  }
  if (!std::isfinite(n.Real)) return false;
  const double r = std::nearbyint(n.Real);  // the default rounding: to nearest, halves to even
  if (std::fabs(r) >= 0x1p126) return false;
  w = TWhole(r);
  return true;
}

template <class T>
HRESULT ToInteger(const TNumber& n, T& out) {
  TWhole w = 0;
  if (!WholeOf(n, w)) return DISP_E_OVERFLOW;
  if (w < TWhole(std::numeric_limits<T>::min()) || w > TWhole(std::numeric_limits<T>::max())) return DISP_E_OVERFLOW;
  out = T(w);
  return S_OK;
}

HRESULT ToCurrency(const TNumber& n, CY& out) {
  TWhole units = 0;
  if (n.HasExact) {
    TExact e = n.Exact;
    if (e.Scale > 4)
      e = RoundTo(e, 4);
    else if (!ScaleUp(e, 4))
      return DISP_E_OVERFLOW;
    units = e.Negative ? -TWhole(e.Units) : TWhole(e.Units);
  } else {
    TNumber scaled = FromReal(n.Real * 10000);
    if (!WholeOf(scaled, units)) return DISP_E_OVERFLOW;
  }
  if (units < TWhole(std::numeric_limits<LONGLONG>::min()) || units > TWhole(std::numeric_limits<LONGLONG>::max()))
    return DISP_E_OVERFLOW;
  out.int64 = LONGLONG(units);
  return S_OK;
}

HRESULT ToDecimal(const TNumber& n, DECIMAL& out) {
  TExact e;
  if (n.HasExact) {
    e = n.Exact;
  } else {
    // A double counts with its first 15 significant digits.
    if (!std::isfinite(n.Real)) return DISP_E_OVERFLOW;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, n.Real, std::chars_format::scientific, 14);
    if (!ExactFromText(std::string_view(buf, std::size_t(r.ptr - buf)), e)) return DISP_E_OVERFLOW;
    for (; e.Scale > 0 && e.Units % 10 == 0; --e.Scale) e.Units /= 10;
  }
  constexpr TUnits kMax96 = (TUnits(1) << 96) - 1;
  int scale = std::min(e.Scale, 28);
  TExact r = RoundTo(e, scale);
  while (r.Units > kMax96) {
    if (scale == 0) return DISP_E_OVERFLOW;
    r = RoundTo(e, --scale);
  }
  out = DECIMAL{};
  out.scale = BYTE(r.Scale);
  out.sign = r.Negative && r.Units != 0 ? DECIMAL_NEG : 0;
  out.Hi32 = ULONG(r.Units >> 64);
  out.Lo64 = ULONGLONG(r.Units);
  return S_OK;
}

constexpr double kMinDate = -657434.0;         // 1 January 100
constexpr double kMaxDate = 2958465.99999999;  // 31 December 9999, 23:59:59.999

HRESULT NumberToNumber(const TNumber& n, VARTYPE vt, VARIANT& out) {
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1: hr = ToInteger(n, out.cVal); break;
    case VT_I2: hr = ToInteger(n, out.iVal); break;
    case VT_I4: hr = ToInteger(n, out.lVal); break;
    case VT_INT: hr = ToInteger(n, out.intVal); break;
    case VT_I8: hr = ToInteger(n, out.llVal); break;
    case VT_UI1: hr = ToInteger(n, out.bVal); break;
    case VT_UI2: hr = ToInteger(n, out.uiVal); break;
    case VT_UI4: hr = ToInteger(n, out.ulVal); break;
    case VT_UINT: hr = ToInteger(n, out.uintVal); break;
    case VT_UI8: hr = ToInteger(n, out.ullVal); break;
    case VT_CY: hr = ToCurrency(n, out.cyVal); break;
    case VT_DECIMAL: {
      DECIMAL d;
      if (FAILED(hr = ToDecimal(n, d))) return hr;
      SetVariantDecimal(out, d);
      return S_OK;
    }
    case VT_R4:
      if (std::isfinite(n.Real) && std::fabs(n.Real) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out.fltVal = float(n.Real);
      break;
    case VT_R8: out.dblVal = n.Real; break;
    case VT_DATE:
      if (!(n.Real >= kMinDate && n.Real <= kMaxDate)) return DISP_E_OVERFLOW;
      out.date = n.Real;
      break;
    case VT_BOOL: {
      const bool zero = n.HasExact ? n.Exact.Units == 0 : n.Real == 0;
      out.boolVal = zero ? VARIANT_FALSE : VARIANT_TRUE;
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  out.vt = vt;
  return S_OK;
}

HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  if (!KnownType(src.vt) || !KnownType(vt)) return DISP_E_BADVARTYPE;
  if (src.vt == vt) return VariantCopy(&out, &src);
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL || vt == VT_NULL || src.vt == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;

  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    out.vt = vt;
    if (src.vt == VT_EMPTY) return S_OK;
    if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    if (!src.punkVal) return S_OK;
    void* p = nullptr;
    HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
    if (FAILED(hr)) {
      out.vt = VT_EMPTY;
      return DISP_E_TYPEMISMATCH;
    }
    out.byref = p;
    return S_OK;
  }
  if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

  if (vt == VT_BSTR) return NumberToText(src, flags, out);

  TNumber n;
  if (src.vt == VT_BSTR) {
    if (vt == VT_BOOL) {
      std::u16string_view w(src.bstrVal ? src.bstrVal : u"", SysStringLen(src.bstrVal));
      if (AsciiEqualNoCase(w, "true") || AsciiEqualNoCase(w, "false")) {
        out.vt = VT_BOOL;
        out.boolVal = AsciiEqualNoCase(w, "true") ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      }
    }
    HRESULT hr = ParseNumber(src.bstrVal, n);
    if (FAILED(hr)) return hr;
  } else {
    HRESULT hr = NumberOf(src, n);
    if (FAILED(hr)) return hr;
  }
  return NumberToNumber(n, vt, out);
}

}  // namespace

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
  VARIANT src;
  if (!Dereference(*pvarSrc, src)) return DISP_E_BADVARTYPE;
  VARIANT result;
  HRESULT hr = Convert(src, wFlags, vt, result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  VariantClear(pvargDest);
  *pvargDest = result;
  return S_OK;
}

// ---------------------------------------------------------------------------------------
// Error information

namespace {

class TErrorInfo final : public IErrorInfo {
 public:
  TErrorInfo(const GUID& iid, std::u16string_view source, std::u16string_view description)
      : FIid(iid), FSource(source), FDescription(description) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++FRefs; }
  ULONG Release() override {
    ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetGUID(GUID* p) override {
    if (!p) return E_POINTER;
    *p = FIid;
    return S_OK;
  }
  HRESULT GetSource(BSTR* p) override { return Text(FSource, p); }
  HRESULT GetDescription(BSTR* p) override { return Text(FDescription, p); }
  HRESULT GetHelpFile(BSTR* p) override { return Text(u"", p); }
  HRESULT GetHelpContext(DWORD* p) override {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
  }

 private:
  static HRESULT Text(std::u16string_view s, BSTR* p) {
    if (!p) return E_POINTER;
    *p = SysAllocStringLen(s.data(), UINT(s.size()));
    return *p ? S_OK : E_OUTOFMEMORY;
  }

  std::atomic<ULONG> FRefs{0};
  GUID FIid;
  std::u16string FSource;
  std::u16string FDescription;
};

thread_local ComPtr<IErrorInfo> tErrorInfo;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  tErrorInfo = perrinfo;
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_POINTER;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = tErrorInfo.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT ComSetErrorInfo(REFGUID iid, std::u16string_view source, std::u16string_view description) {
  try {
    ComPtr<IErrorInfo> info(new TErrorInfo(iid, source, description));
    return SetErrorInfo(0, info.Get());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ComHandleException(REFGUID iid, std::u16string_view source) noexcept {
  try {
    std::u16string text;
    try {
      throw;
    } catch (const std::exception& e) {
      text = Cp1251ToWide(e.what());
    } catch (...) {
      text = u"Unknown failure";
    }
    ComSetErrorInfo(iid, source, text);
  } catch (...) {
    // Out of memory while describing the failure: the result code still tells it.
  }
  return E_UNEXPECTED;
}

}  // namespace fp
