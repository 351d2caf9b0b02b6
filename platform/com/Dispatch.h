#pragma once
// IDispatch over a constant table of entries.
//
// A dual interface is written once, as a table of entries in a .def file (see
// platform/com/DispInterface.inc, which turns it into the interface declaration and its
// dispatch table). Each entry knows its name, DISPID, kind and arguments and holds a thunk
// that calls the interface's own table entry, so Invoke needs no code per member:
//
//   class TMyObject : public TComObject<TMyObject, TDispatchImpl<IMyItf>> { ... };
//
// serves GetIDsOfNames and Invoke for IMyItf from IMyItf::DispTable().
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/com/ComTypes.h"

namespace fp {

enum class TDispKind : std::uint8_t { Method, PropGet, PropPut };

// How an argument travels:
//  In     by value;
//  Out    by reference, written by the callee; through Invoke the old value is freed
//         before the call (a callee called through its table must not read or free *p);
//  InOut  by reference, read and possibly replaced by the callee (a BSTR being replaced
//         is freed by the callee);
//  Result the last parameter, handed back as the call's result (pVarResult).
enum class TArgDir : std::uint8_t { In, Out, InOut, Result };

struct TDispArg {
  VARTYPE Vt = VT_EMPTY;  // the automation type (without VT_BYREF)
  TArgDir Dir = TArgDir::In;
  const char* Type = "";  // the type as the table writes it: "I4", "BSTR", "DISP(IBonData)"
  const char* Name = "";
};

// One argument of a call in flight: a by-value argument already coerced to its type, or
// the place an out, in/out or result argument points to.
struct TDispSlot {
  VARIANT Value;
  void* Ref = nullptr;
};

using TDispThunk = HRESULT (*)(void* itf, TDispSlot* slots);

struct TDispEntry {
  const char* Name;
  DISPID Id;
  TDispKind Kind;
  const TDispArg* Args;
  std::size_t ArgCount;
  TDispThunk Call;

  std::span<const TDispArg> Arguments() const { return {Args, ArgCount}; }
};

struct TDispTable {
  const char* InterfaceName;
  const TDispEntry* Entries;
  std::size_t Count;

  std::span<const TDispEntry> Items() const { return {Entries, Count}; }
};

// ---------------------------------------------------------------------------------------
// The generic dispatch functions (fp_comrt).

// Maps rgszNames[0] (ASCII case-insensitive) to its DISPID, and the names after it to the
// DISPIDs of that member's parameters: their positions, the first 0 (the result is not
// named). A name not found gets DISPID_UNKNOWN and the call DISP_E_UNKNOWNNAME; the others
// are still mapped.
FP_COMRT_API HRESULT DispGetIDsOfNames(const TDispTable& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                       DISPID* rgDispId);

// Calls the entry of DISPID id and kind wFlags on itf (the interface pointer the table
// belongs to). By-value arguments are coerced with VariantChangeType; by-reference ones
// must be VT_BYREF of the argument's type or VT_BYREF | VT_VARIANT (the variant is then
// coerced and receives the value). A method or get takes named arguments (rgvarg[0] to
// rgvarg[cNamedArgs - 1], each under its parameter's DISPID from GetIDsOfNames) in any
// order, after positional ones that fill the first parameters; every parameter must be
// given once. A put takes its value alone, positional or named DISPID_PROPERTYPUT.
// Results: DISP_E_MEMBERNOTFOUND (no such DISPID/kind), DISP_E_BADPARAMCOUNT (more
// arguments than parameters, or fewer without named ones), DISP_E_PARAMNOTFOUND (a named
// DISPID that is no parameter or one given twice, with *puArgErr its index in rgvarg; or
// a parameter not given), DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW with *puArgErr the index
// of the argument in rgvarg, DISP_E_NONAMEDARGS (a put with another named argument); a
// failed HRESULT of the entry becomes DISP_E_EXCEPTION with the thread's error information
// (source, description) and the HRESULT (scode) in *pExcepInfo.
FP_COMRT_API HRESULT DispInvoke(const TDispTable& table, void* itf, DISPID id, REFIID riid, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

// A client's call by name with the arguments in their natural order (first argument
// first): looks the name up, reverses the arguments, passes a put's value as the named
// argument DISPID_PROPERTYPUT, and calls Invoke.
FP_COMRT_API HRESULT DispCallByName(IDispatch* disp, std::u16string_view name, WORD wFlags, std::span<VARIANT> args,
                                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo = nullptr, UINT* puArgErr = nullptr);

// ---------------------------------------------------------------------------------------
// The thunks: pick each argument from its slot by the parameter type of the member.

namespace disp_detail {
template <class>
inline constexpr bool kUnsupported = false;

template <class A>
A Pick(TDispSlot& s) {
  if constexpr (std::is_same_v<A, BSTR>) {
    return s.Value.bstrVal;
  } else if constexpr (std::is_pointer_v<A>) {
    return static_cast<A>(s.Ref);
  } else if constexpr (std::is_same_v<A, LONG>) {
    return s.Value.lVal;
  } else if constexpr (std::is_same_v<A, double>) {
    return s.Value.vt == VT_DATE ? s.Value.date : s.Value.dblVal;
  } else if constexpr (std::is_same_v<A, std::int8_t>) {
    return s.Value.cVal;
  } else if constexpr (std::is_same_v<A, std::int16_t>) {
    return s.Value.vt == VT_BOOL ? s.Value.boolVal : s.Value.iVal;
  } else {
    static_assert(kUnsupported<A>, "argument type not handled by the dispatch thunks");
  }
}

template <class I, class... A>
HRESULT CallMember(void* itf, TDispSlot* argSlots, HRESULT (I::*member)(A...)) {
  return [&]<std::size_t... K>(std::index_sequence<K...>) {
    return (static_cast<I*>(itf)->*member)(Pick<A>(argSlots[K])...);
  }
  (std::index_sequence_for<A...>{});
}

template <class I, class... A>
constexpr std::size_t Arity(HRESULT (I::*)(A...)) {
  return sizeof...(A);
}
}  // namespace disp_detail

template <auto Member>
HRESULT DispThunk(void* itf, TDispSlot* argSlots) {
  return disp_detail::CallMember(itf, argSlots, Member);
}

// ---------------------------------------------------------------------------------------
// The IDispatch half of an object whose interface I has a table (I::DispTable()).

template <class I>
class TDispatchImpl : public I {
 public:
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    return DispGetIDsOfNames(I::DispTable(), riid, rgszNames, cNames, rgDispId);
  }
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                 EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return DispInvoke(I::DispTable(), static_cast<I*>(this), dispIdMember, riid, wFlags, pDispParams, pVarResult,
                      pExcepInfo, puArgErr);
  }

 protected:
  ~TDispatchImpl() = default;
};

}  // namespace fp

// ---------------------------------------------------------------------------------------
// The vocabulary of the .def files (see platform/com/DispInterface.inc):
//
//   FP_DISP(kind, dispid, name, (FP_ARG(dir, type, argname), ...))
//
// kind: Method, PropGet, PropPut (a property's entries are get_name / put_name);
// dir: In, Out, InOut, Result; type: I1, I2, I4, R8, DATE, BSTR, BOOL, or DISP(IName) for
// an interface pointer of a dispatch interface.

#define FP_CT_I1 std::int8_t
#define FP_CT_I2 std::int16_t
#define FP_CT_I4 ::fp::LONG
#define FP_CT_R8 double
#define FP_CT_DATE ::fp::DATE
#define FP_CT_BSTR ::fp::BSTR
#define FP_CT_BOOL ::fp::VARIANT_BOOL
#define FP_CT_DISP(I) I*

#define FP_VT_I1 ::fp::VT_I1
#define FP_VT_I2 ::fp::VT_I2
#define FP_VT_I4 ::fp::VT_I4
#define FP_VT_R8 ::fp::VT_R8
#define FP_VT_DATE ::fp::VT_DATE
#define FP_VT_BSTR ::fp::VT_BSTR
#define FP_VT_BOOL ::fp::VT_BOOL
#define FP_VT_DISP(I) ::fp::VT_DISPATCH

#define FP_PARAM_In(t, n) FP_CT_##t n
#define FP_PARAM_Out(t, n) FP_CT_##t* n
#define FP_PARAM_InOut(t, n) FP_CT_##t* n
#define FP_PARAM_Result(t, n) FP_CT_##t* n

#define FP_MEMBER_Method(name) name
#define FP_MEMBER_PropGet(name) get_##name
#define FP_MEMBER_PropPut(name) put_##name

#define FP_DISP_CAT_(a, b) a##b
#define FP_DISP_CAT(a, b) FP_DISP_CAT_(a, b)
#define FP_DISP_STR_(...) #__VA_ARGS__
#define FP_DISP_STR(...) FP_DISP_STR_(__VA_ARGS__)
// The argument list of an entry as an array with a leading placeholder (an entry may
// have no arguments; a trailing comma is allowed in the braces).
#define FP_DISP_ARGARRAY(...) \
  { ::fp::TDispArg{}, __VA_ARGS__ }
