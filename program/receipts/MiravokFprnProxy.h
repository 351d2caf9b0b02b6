#pragma once
// The program's client of the automation object IMiravokFprn. The program never links
// the automation library: the object is created by its class identifier through the
// component runtime, on the first call that needs it, in the calling thread (which must
// have initialised the runtime).
//
// Texts cross this client as 8-bit code page 1251 strings; the conversion to and from the
// interface's wide strings happens here. A call whose HRESULT fails raises EOleSysError
// with the runtime's error description (or the text of the code); the outcome of a call
// that reached the object is the object's own business (Res, LastErrorCode).
//
// The client has one member function per entry of the interface's table
// (library/automation/IMiravokFprn.def), generated from it: a method under its name, a property's
// getter under the property's name and its setter as an overload taking the value. The
// table's types become the program's:
//
//   In            numbers by value (I4 as int32_t, R8 as double, DATE as DATE),
//                 BSTR as const std::string&
//   Out, InOut    the same by reference (BSTR as std::string&); the caller's variable is
//                 written once the call has succeeded (an Out text starts empty, an InOut
//                 one with the caller's text)
//   Result        the return value (std::string for BSTR, ComPtr<I> for an interface,
//                 which is null when the object hands back none); no Result: void
//
// A method's I4 result reads -1 (the value of a failed call) and a property's 0 when the
// object leaves it unset.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"

namespace fp {

// A failed call at the component level.
class EOleSysError : public std::runtime_error {
 public:
  EOleSysError(const std::string& message, HRESULT code) : std::runtime_error(message), ErrorCode(code) {}
  HRESULT ErrorCode;
};

// The text of a failed HRESULT: the thread's error information when the callee left one,
// else the text of the code ("OLE error XXXXXXXX" for codes without one).
std::string OleErrorText(HRESULT hr);
// Raises EOleSysError for a failed HRESULT.
void OleCheck(HRESULT hr);

// Makes the automation object; raises EOleSysError when it cannot.
using TFprnFactory = std::function<ComPtr<IMiravokFprn>()>;
// The factory of the program: CoCreateInstance with the class identifier of MiravokFprn.
ComPtr<IMiravokFprn> CreateMiravokFprn();

namespace proxy_detail {

// The program's types for an interface type T: In (by value), Ref (Out and InOut) and
// Result.
template <class T>
struct TProxyTypes {
  using In = T;
  using Ref = T&;
  using Result = T;
};
template <>
struct TProxyTypes<BSTR> {
  using In = const std::string&;
  using Ref = std::string&;
  using Result = std::string;
};
template <class I>
struct TProxyTypes<I*> {
  using In = I*;
  using Result = ComPtr<I>;
};

template <class T>
using TIn = typename TProxyTypes<T>::In;
template <class T>
using TRef = typename TProxyTypes<T>::Ref;
template <class T>
using TResult = typename TProxyTypes<T>::Result;

// The last type of a list (the return type: void, or void followed by the result's type).
template <class... T>
struct TLastOf;
template <class T>
struct TLastOf<T> {
  using type = T;
};
template <class T, class... R>
struct TLastOf<T, R...> : TLastOf<R...> {};
template <class... T>
using TLast = typename TLastOf<T...>::type;

}  // namespace proxy_detail
}  // namespace fp

// ---------------------------------------------------------------------------------------
// Generation from a .def table. With FP_ARG(dir, t, n) defined as (dir, t, n), an entry's
// argument list is a list of such triples; FP_PROXY_MAP(m, args) applies m to each.

#define FP_PROXY_UNPAREN(...) __VA_ARGS__
#define FP_PROXY_PARENS ()
#define FP_PROXY_EXPAND(...) FP_PROXY_EXPAND3(FP_PROXY_EXPAND3(FP_PROXY_EXPAND3(FP_PROXY_EXPAND3(__VA_ARGS__))))
#define FP_PROXY_EXPAND3(...) FP_PROXY_EXPAND2(FP_PROXY_EXPAND2(FP_PROXY_EXPAND2(__VA_ARGS__)))
#define FP_PROXY_EXPAND2(...) FP_PROXY_EXPAND1(FP_PROXY_EXPAND1(FP_PROXY_EXPAND1(__VA_ARGS__)))
#define FP_PROXY_EXPAND1(...) __VA_ARGS__
#define FP_PROXY_EACH(m, ...) __VA_OPT__(FP_PROXY_EXPAND(FP_PROXY_EACH_(m, __VA_ARGS__)))
#define FP_PROXY_EACH_(m, a, ...) m a __VA_OPT__(FP_PROXY_EACH_AGAIN FP_PROXY_PARENS(m, __VA_ARGS__))
#define FP_PROXY_EACH_AGAIN() FP_PROXY_EACH_
// The indirection lets the list lose its parentheses before FP_PROXY_EACH looks at it.
#define FP_PROXY_MAP_(m, ...) FP_PROXY_EACH(m, __VA_ARGS__)
#define FP_PROXY_MAP(m, args) FP_PROXY_MAP_(m, FP_PROXY_UNPAREN args)
#define FP_PROXY_TAIL_(first, ...) __VA_ARGS__
#define FP_PROXY_TAIL(...) FP_PROXY_TAIL_(__VA_ARGS__)

// The parameters: ", type name" for every argument but the result.
#define FP_PROXY_PARAM(dir, t, n) FP_PROXY_PARAM_##dir(t, n)
#define FP_PROXY_PARAM_In(t, n) , ::fp::proxy_detail::TIn<FP_CT_##t> n
#define FP_PROXY_PARAM_Out(t, n) , ::fp::proxy_detail::TRef<FP_CT_##t> n
#define FP_PROXY_PARAM_InOut(t, n) , ::fp::proxy_detail::TRef<FP_CT_##t> n
#define FP_PROXY_PARAM_Result(t, n)
#define FP_PROXY_PARAMS(args) FP_PROXY_TAIL(~FP_PROXY_MAP(FP_PROXY_PARAM, args))

// The return type: the result's, else void.
#define FP_PROXY_RESULT(dir, t, n) FP_PROXY_RESULT_##dir(t)
#define FP_PROXY_RESULT_In(t)
#define FP_PROXY_RESULT_Out(t)
#define FP_PROXY_RESULT_InOut(t)
#define FP_PROXY_RESULT_Result(t) , ::fp::proxy_detail::TResult<FP_CT_##t>
#define FP_PROXY_RETURN(args) ::fp::proxy_detail::TLast<void FP_PROXY_MAP(FP_PROXY_RESULT, args)>

// The signature of an entry's member function; scope is empty or "TClass::".
#define FP_PROXY_SIGNATURE(scope, name, args) FP_PROXY_RETURN(args) scope name(FP_PROXY_PARAMS(args))

namespace fp {

class TMiravokFprnProxy {
 public:
  explicit TMiravokFprnProxy(TFprnFactory factory = CreateMiravokFprn);
  TMiravokFprnProxy(const TMiravokFprnProxy&) = delete;
  TMiravokFprnProxy& operator=(const TMiravokFprnProxy&) = delete;

  // The object was made (by an earlier call).
  bool Created() const { return static_cast<bool>(FIntf); }
  // The interface, made on the first use.
  IMiravokFprn& Intf();
  // Drops the reference to the object.
  void Release() { FIntf.Reset(); }

#define FP_ARG(dir, t, n) (dir, t, n)
#define FP_DISP(kind, id, name, args) FP_PROXY_SIGNATURE(, name, args);
#include "library/automation/IMiravokFprn.def"
#undef FP_DISP
#undef FP_ARG

 private:
  TFprnFactory FActory;
  ComPtr<IMiravokFprn> FIntf;
};

}  // namespace fp
