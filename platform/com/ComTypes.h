#pragma once
// The binary interface of our component runtime: the types, result codes and base
// interfaces that a component library and its clients share. The layouts follow the
// automation conventions: every interface begins with the three entries of IUnknown, a
// dispatch interface continues with the four of IDispatch, properties are get_/put_
// entries, and the arguments of a dispatch call travel in reverse order. Both sides are
// built by the same compiler, so an interface's entries sit in the same table slots.
//
// Interfaces carry two compile-time members that do not change their layout: `Iid`, the
// interface identifier, and `Base`, the interface they extend (void for IUnknown). The
// runtime's helpers (ComPtr, TComObject) use them for QueryInterface.
//
// Strings at the interface are wide (char16_t). A BSTR is allocated and freed only by the
// runtime (SysAllocString and friends, platform/com/OleAuto.h); a null BSTR reads as the
// empty string everywhere.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

// Functions of the shared runtime library, visible to modules built with hidden symbols.
#define FP_COMRT_API __attribute__((visibility("default")))

namespace fp {

using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BYTE = std::uint8_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;  // days since 30 December 1899, the time of day as the fraction
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// ---------------------------------------------------------------------------------------
// Result codes

constexpr HRESULT MakeHResult(std::uint32_t code) { return static_cast<HRESULT>(code); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9u);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006u);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007u);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008u);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009u);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000Eu);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000Fu);

// ---------------------------------------------------------------------------------------
// GUID

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

namespace guid_detail {
template <class Char>
constexpr int HexDigit(Char c) {
  if (c >= Char('0') && c <= Char('9')) return int(c - Char('0'));
  if (c >= Char('a') && c <= Char('f')) return int(c - Char('a')) + 10;
  if (c >= Char('A') && c <= Char('F')) return int(c - Char('A')) + 10;
  return -1;
}

template <class Char>
constexpr std::optional<GUID> Parse(std::basic_string_view<Char> text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != Char('{') || text.back() != Char('}')) return {};
  std::uint8_t bytes[16] = {};
  std::size_t pos = 1;
  int n = 0;
  for (int group : {8, 4, 4, 4, 12}) {
    for (int i = 0; i < group; i += 2) {
      int hi = HexDigit(text[pos]);
      int lo = HexDigit(text[pos + 1]);
      if (hi < 0 || lo < 0) return {};
      bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
      pos += 2;
    }
    if (pos < 37) {
      if (text[pos] != Char('-')) return {};
      ++pos;
    }
  }
  GUID g;
  g.Data1 =
      (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}
}  // namespace guid_detail

// The GUID of braced text such as "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}" (hexadecimal
// digits in either case); nothing for any other text.
constexpr std::optional<GUID> GuidFromString(std::string_view text) { return guid_detail::Parse(text); }
constexpr std::optional<GUID> GuidFromString(std::u16string_view text) { return guid_detail::Parse(text); }

// A GUID constant from its braced text; a malformed text fails the compilation.
consteval GUID GuidConst(std::string_view text) {
  auto g = GuidFromString(text);
  if (!g) throw "malformed GUID text";
  return *g;
}

// The braced text with upper-case digits: "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}".
inline std::string GuidToString(const GUID& g) {
  constexpr char hex[] = "0123456789ABCDEF";
  std::uint8_t bytes[16] = {std::uint8_t(g.Data1 >> 24), std::uint8_t(g.Data1 >> 16), std::uint8_t(g.Data1 >> 8),
                            std::uint8_t(g.Data1),       std::uint8_t(g.Data2 >> 8),  std::uint8_t(g.Data2),
                            std::uint8_t(g.Data3 >> 8),  std::uint8_t(g.Data3)};
  for (int i = 0; i < 8; ++i) bytes[8 + i] = g.Data4[i];
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += hex[bytes[i] >> 4];
    s += hex[bytes[i] & 15];
  }
  s += '}';
  return s;
}
inline std::u16string GuidToWideString(const GUID& g) {
  std::string s = GuidToString(g);
  return std::u16string(s.begin(), s.end());
}

struct GuidHash {
  std::size_t operator()(const GUID& g) const noexcept {
    std::size_t h = g.Data1 ^ (std::size_t(g.Data2) << 32) ^ (std::size_t(g.Data3) << 48);
    for (auto b : g.Data4) h = h * 131 + b;
    return h;
  }
};

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};

// ---------------------------------------------------------------------------------------
// VARIANT and the dispatch call records

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;

// Currency: a fixed-point amount in units of 1/10000 (12345600 is 1234.56).
struct CY {
  LONGLONG int64;
};

// A decimal number: the 96-bit whole number Hi32:Lo64 divided by 10 to the power scale
// (0..28), negative when sign is DECIMAL_NEG. In a VARIANT it fills all 16 bytes, its
// first field taking the place of vt: read and write it with VariantDecimal and
// SetVariantDecimal.
struct DECIMAL {
  USHORT wReserved = 0;
  BYTE scale = 0;
  BYTE sign = 0;
  ULONG Hi32 = 0;
  ULONGLONG Lo64 = 0;
};
static_assert(sizeof(DECIMAL) == 16 && offsetof(DECIMAL, Lo64) == 8);
inline constexpr BYTE DECIMAL_NEG = 0x80;

struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  WORD wReserved1 = 0;
  WORD wReserved2 = 0;
  WORD wReserved3 = 0;
  union {
    std::int8_t cVal;
    std::int16_t iVal;
    LONG lVal;
    float fltVal;
    double dblVal;
    CY cyVal;
    BYTE bVal;
    USHORT uiVal;
    ULONG ulVal;
    LONGLONG llVal;
    ULONGLONG ullVal;
    std::int32_t intVal;
    UINT uintVal;
    DATE date;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    std::int8_t* pcVal;
    std::int16_t* piVal;
    LONG* plVal;
    float* pfltVal;
    double* pdblVal;
    CY* pcyVal;
    DECIMAL* pdecVal;
    BYTE* pbVal;
    USHORT* puiVal;
    ULONG* pulVal;
    LONGLONG* pllVal;
    ULONGLONG* pullVal;
    std::int32_t* pintVal;
    UINT* puintVal;
    DATE* pdate;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
    std::uint64_t raw_ = 0;  // zero-fills the union of a default-made VARIANT
  };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 16);

// The DECIMAL a VT_DECIMAL variant holds (its wReserved is the variant's vt).
inline DECIMAL VariantDecimal(const VARIANT& v) {
  DECIMAL d;
  std::memcpy(static_cast<void*>(&d), &v, sizeof d);
  return d;
}
// Makes v the VT_DECIMAL variant of d; v must own nothing.
inline void SetVariantDecimal(VARIANT& v, const DECIMAL& d) {
  std::memcpy(static_cast<void*>(&v), &d, sizeof d);
  v.vt = VT_DECIMAL;
}

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // VT_BOOL to text gives "True"/"False"

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// The arguments of IDispatch::Invoke: rgvarg[0] is the LAST argument, rgvarg[cArgs - 1]
// the first. A property put passes its value as the one named argument DISPID_PROPERTYPUT.
struct DISPPARAMS {
  VARIANTARG* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  UINT cArgs = 0;
  UINT cNamedArgs = 0;
};

// What a failed dispatch call tells (Invoke answers DISP_E_EXCEPTION). The caller frees
// the three texts with SysFreeString.
struct EXCEPINFO {
  WORD wCode = 0;
  WORD wReserved = 0;
  BSTR bstrSource = nullptr;
  BSTR bstrDescription = nullptr;
  BSTR bstrHelpFile = nullptr;
  DWORD dwHelpContext = 0;
  void* pvReserved = nullptr;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*) = nullptr;
  SCODE scode = 0;
};

// ---------------------------------------------------------------------------------------
// Base interfaces. Their destructors are protected: an object is destroyed by its own
// Release, never through an interface pointer.

struct IUnknown {
  static constexpr IID Iid = GuidConst("{00000000-0000-0000-C000-000000000046}");
  using Base = void;

  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct ITypeInfo;  // the runtime offers no type information

struct IDispatch : IUnknown {
  static constexpr IID Iid = GuidConst("{00020400-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  static constexpr IID Iid = GuidConst("{00000001-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// The error information of a failed call, kept per thread (SetErrorInfo/GetErrorInfo).
struct IErrorInfo : IUnknown {
  static constexpr IID Iid = GuidConst("{1CF2B120-547D-101B-8E65-08002B2BD119}");
  using Base = IUnknown;

  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

inline constexpr const IID& IID_IUnknown = IUnknown::Iid;
inline constexpr const IID& IID_IDispatch = IDispatch::Iid;
inline constexpr const IID& IID_IClassFactory = IClassFactory::Iid;
inline constexpr const IID& IID_IErrorInfo = IErrorInfo::Iid;

// ---------------------------------------------------------------------------------------
// Runtime constants and the entry points of a component library

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// A component library exports these four with C linkage under exactly these names
// (see FP_COM_EXPORT in platform/com/ComObject.h).
using TDllGetClassObject = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using TDllCanUnloadNow = HRESULT (*)();
using TDllRegisterServer = HRESULT (*)();
using TDllUnregisterServer = HRESULT (*)();

}  // namespace fp
