#pragma once
// The automation services of the shared runtime library fp_comrt: the string allocator
// (one copy per process, so a BSTR made in a component library is freed by its client),
// VARIANT handling with type coercion, and the per-thread error information of a failed
// call.
#include <string_view>

#include "platform/com/ComTypes.h"

namespace fp {

// ---------------------------------------------------------------------------------------
// BSTR: a length-prefixed wide string, always terminated by a null character that the
// length does not count. Embedded null characters are kept.

// A copy of the null-terminated text; nullptr for a null text.
FP_COMRT_API BSTR SysAllocString(const OLECHAR* psz);
// A string of len characters copied from str (or zero-filled when str is null).
FP_COMRT_API BSTR SysAllocStringLen(const OLECHAR* str, UINT len);
// Frees a string made by the two above; null is allowed.
FP_COMRT_API void SysFreeString(BSTR bstr);
// The number of characters; 0 for null.
FP_COMRT_API UINT SysStringLen(BSTR bstr);

// ---------------------------------------------------------------------------------------
// VARIANT

FP_COMRT_API void VariantInit(VARIANT* pvarg);
// Frees what the variant owns (its BSTR, its interface reference) and leaves it VT_EMPTY.
// A by-reference variant owns nothing.
FP_COMRT_API HRESULT VariantClear(VARIANT* pvarg);
// Clears the destination, then copies: a BSTR is duplicated, an interface AddRef'ed, a
// by-reference variant copies the pointer.
FP_COMRT_API HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);

// Converts pvarSrc (a by-reference source is read through) to the type vt and stores the
// result in pvargDest, which may be the source itself. The destination is changed only on
// success. Handled types: VT_EMPTY, VT_NULL, the integers VT_I1, VT_I2, VT_I4, VT_INT,
// VT_I8, VT_UI1, VT_UI2, VT_UI4, VT_UINT, VT_UI8, the binary numbers VT_R4, VT_R8 and
// VT_DATE, the decimal numbers VT_CY and VT_DECIMAL, VT_BSTR, VT_BOOL, VT_DISPATCH,
// VT_UNKNOWN. The rules:
//  - numbers convert among each other; a value going to an integer type or a currency is
//    rounded to the target's last place, halves to even; a value out of the target's range
//    gives DISP_E_OVERFLOW (a negative one for an unsigned type too);
//  - an integer, a currency or a decimal counts as the exact decimal value it holds: to a
//    double it becomes the double nearest to that value (currency 1.15 gives the same
//    double as the literal 1.15), to text its digits ("1.15", "-3"); a double counts as
//    its binary value, and with its first 15 significant digits when it becomes a decimal;
//  - VT_DATE is a number of days and converts like VT_R8 (within the years 100 to 9999);
//  - text converts to a number or a date value when, without blanks at both ends, it is a
//    decimal number with "." as separator (an optional exponent allowed); "True" and
//    "False" (any case) also convert to VT_BOOL; any other text gives DISP_E_TYPEMISMATCH;
//  - a binary number converts to text in its shortest decimal form with "." ("1.5", "-3");
//    VT_BOOL gives "-1"/"0", or "True"/"False" with VARIANT_ALPHABOOL; a date value does
//    not convert to text;
//  - VT_BOOL is VARIANT_TRUE (-1) for every non-zero number;
//  - VT_EMPTY converts to 0, the empty text, false, or a null interface; VT_NULL to
//    nothing but itself;
//  - VT_DISPATCH and VT_UNKNOWN convert into each other by QueryInterface (E_NOINTERFACE
//    gives DISP_E_TYPEMISMATCH), and to nothing else;
//  - an unknown type gives DISP_E_BADVARTYPE; a VT_DECIMAL whose scale is above 28
//    E_INVALIDARG.
FP_COMRT_API HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt);

// ---------------------------------------------------------------------------------------
// Error information, kept per thread.

// Replaces the thread's error information (null clears it). dwReserved must be 0.
FP_COMRT_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the thread's error information to the caller and clears it: S_OK with the object,
// or S_FALSE and null when there is none.
FP_COMRT_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
// Makes an error information object with these fields and sets it for the thread.
FP_COMRT_API HRESULT ComSetErrorInfo(REFGUID iid, std::u16string_view source, std::u16string_view description);

// For a catch (...) block at the edge of an interface entry: sets the thread's error
// information from the exception in flight (a std::exception's 8-bit code page 1251
// message, or a fixed text for anything else) and answers E_UNEXPECTED.
FP_COMRT_API HRESULT ComHandleException(REFGUID iid, std::u16string_view source) noexcept;

// Runs the body of an interface entry so that no exception escapes it:
//   HRESULT TMyObject::Foo(LONG* Res) {
//     return ComGuard(IMyItf::Iid, u"My.Object", [&] { ...; return S_OK; });
//   }
template <class F>
HRESULT ComGuard(REFGUID iid, std::u16string_view source, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ComHandleException(iid, source);
  }
}

// The same as a pair of macros around a function body:
//   HRESULT TMyObject::Foo(LONG* Res) { FP_COM_TRY ...; return S_OK; FP_COM_CATCH(iid, src) }
#define FP_COM_TRY try {
#define FP_COM_CATCH(iid, source)                 \
  }                                               \
  catch (...) {                                   \
    return ::fp::ComHandleException(iid, source); \
  }

}  // namespace fp
