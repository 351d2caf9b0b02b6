#include "platform/com/OleAuto.h"

#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
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
    case VT_R8:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_ERROR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return true;
    default:
      return false;
  }
}
}  // namespace

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (!(pvarg->vt & VT_BYREF)) {
    switch (pvarg->vt) {
      case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
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
    case VT_R8: value.dblVal = *src.pdblVal; return true;
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
    default:
      return false;
  }
}

bool IsNumeric(VARTYPE vt) {
  return vt == VT_EMPTY || vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_R8 ||
         vt == VT_DATE || vt == VT_BOOL;
}

double NumberOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal;
    default: return 0;
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
HRESULT ParseNumber(BSTR text, double& out) {
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
  out = value;
  return S_OK;
}

BSTR MakeAscii(std::string_view s) {
  std::u16string w(s.begin(), s.end());
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

HRESULT NumberToText(const VARIANT& v, USHORT flags, VARIANT& out) {
  std::string s;
  switch (v.vt) {
    case VT_EMPTY: break;
    case VT_I1: s = std::to_string(v.cVal); break;
    case VT_I2: s = std::to_string(v.iVal); break;
    case VT_I4: s = std::to_string(v.lVal); break;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL)
        s = v.boolVal ? "True" : "False";
      else
        s = v.boolVal ? "-1" : "0";
      break;
    case VT_R8: {
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.dblVal);
      if (ec != std::errc()) return DISP_E_TYPEMISMATCH;
      s.assign(buf, end);
      break;
    }
    default: return DISP_E_TYPEMISMATCH;  // dates do not become text
  }
  out.vt = VT_BSTR;
  out.bstrVal = MakeAscii(s);
  return out.bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT ToInteger(double d, double lo, double hi, double& out) {
  if (std::isnan(d)) return DISP_E_OVERFLOW;
  double r = std::nearbyint(d);  // the default rounding: to nearest, halves to even
  if (r < lo || r > hi) return DISP_E_OVERFLOW;
  out = r;
  return S_OK;
}

constexpr double kMinDate = -657434.0;           // 1 January 100
constexpr double kMaxDate = 2958465.99999999;   // 31 December 9999, 23:59:59.999

HRESULT NumberToNumber(double d, VARTYPE vt, VARIANT& out) {
  double r = 0;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1:
      if (FAILED(hr = ToInteger(d, -128, 127, r))) return hr;
      out.cVal = std::int8_t(r);
      break;
    case VT_I2:
      if (FAILED(hr = ToInteger(d, -32768, 32767, r))) return hr;
      out.iVal = std::int16_t(r);
      break;
    case VT_I4:
      if (FAILED(hr = ToInteger(d, -2147483648.0, 2147483647.0, r))) return hr;
      out.lVal = LONG(r);
      break;
    case VT_R8:
      out.dblVal = d;
      break;
    case VT_DATE:
      if (!(d >= kMinDate && d <= kMaxDate)) return DISP_E_OVERFLOW;
      out.date = d;
      break;
    case VT_BOOL:
      out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  out.vt = vt;
  return S_OK;
}

HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  if (!KnownType(src.vt) || !KnownType(vt)) return DISP_E_BADVARTYPE;
  if (src.vt == vt) return VariantCopy(&out, &src);
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL || vt == VT_NULL || src.vt == VT_ERROR || vt == VT_ERROR)
    return DISP_E_TYPEMISMATCH;

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

  double d = 0;
  if (src.vt == VT_BSTR) {
    if (vt == VT_BOOL) {
      std::u16string_view w(src.bstrVal ? src.bstrVal : u"", SysStringLen(src.bstrVal));
      if (AsciiEqualNoCase(w, "true") || AsciiEqualNoCase(w, "false")) {
        out.vt = VT_BOOL;
        out.boolVal = AsciiEqualNoCase(w, "true") ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      }
    }
    HRESULT hr = ParseNumber(src.bstrVal, d);
    if (FAILED(hr)) return hr;
  } else if (IsNumeric(src.vt)) {
    d = NumberOf(src);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  return NumberToNumber(d, vt, out);
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
      : Iid_(iid), Source_(source), Description_(description) {}

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
  ULONG AddRef() override { return ++Refs_; }
  ULONG Release() override {
    ULONG n = --Refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetGUID(GUID* p) override {
    if (!p) return E_POINTER;
    *p = Iid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* p) override { return Text(Source_, p); }
  HRESULT GetDescription(BSTR* p) override { return Text(Description_, p); }
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

  std::atomic<ULONG> Refs_{0};
  GUID Iid_;
  std::u16string Source_;
  std::u16string Description_;
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
