#include "program/receipts/MiravokFprnProxy.h"

#include <cstdio>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/Cp1251.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/OleAuto.h"

namespace fp {

namespace {

BStr W(const std::string& text) { return BStr(Cp1251ToWide(text)); }
std::string N(const BStr& text) { return WideToCp1251(text.View()); }

const char* CodeText(HRESULT hr) {
  switch (hr) {
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_FAIL: return "Unspecified error";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_OUTOFMEMORY: return "Not enough memory resources are available to complete this operation";
    case E_INVALIDARG: return "The parameter is incorrect";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
    case CO_E_DLLNOTFOUND: return "DLL could not be found";
    case CO_E_ERRORINDLL: return "Error in the DLL";
    default: return nullptr;
  }
}

// ---- One argument of a call in flight ----
// Get() is what the interface takes; Commit() hands an Out or InOut value back to the
// caller's variable after the call succeeded; Preset() gives a result its starting value.

struct TSlotBase {
  void Preset(TDispKind) {}
  void Commit() {}
};

template <class T>
class TInSlot : public TSlotBase {
 public:
  explicit TInSlot(T value) : FValue(value) {}
  T Get() const { return FValue; }

 private:
  T FValue;
};

template <>
class TInSlot<BSTR> : public TSlotBase {
 public:
  explicit TInSlot(const std::string& text) : FText(W(text)) {}
  BSTR Get() const { return FText.Get(); }

 private:
  BStr FText;
};

// Out and InOut of a value: the callee writes a copy that starts with the caller's value.
template <class T, bool In>
class TRefSlot : public TSlotBase {
 public:
  explicit TRefSlot(T& ref) : FRef(ref), FValue(ref) {}
  T* Get() { return &FValue; }
  void Commit() { FRef = FValue; }

 private:
  T& FRef;
  T FValue;
};

// Out and InOut of a text: an Out text starts empty, an InOut one with the caller's.
template <bool In>
class TRefSlot<BSTR, In> : public TSlotBase {
 public:
  explicit TRefSlot(std::string& ref) : FRef(ref), FText(In ? W(ref) : BStr()) {}
  BSTR* Get() { return In ? FText.InOut() : FText.Out(); }
  void Commit() { FRef = N(FText); }

 private:
  std::string& FRef;
  BStr FText;
};

template <class T>
using TOutSlot = TRefSlot<T, false>;
template <class T>
using TInOutSlot = TRefSlot<T, true>;

struct TResultSlotBase : TSlotBase {};

template <class T>
class TResultSlot : public TResultSlotBase {
 public:
  void Preset([[maybe_unused]] TDispKind kind) {
    if constexpr (std::is_same_v<T, LONG>) FValue = kind == TDispKind::Method ? -1 : 0;
  }
  T* Get() { return &FValue; }
  T Value() const { return FValue; }

 private:
  T FValue{};
};

template <>
class TResultSlot<BSTR> : public TResultSlotBase {
 public:
  BSTR* Get() { return FText.Out(); }
  std::string Value() const { return N(FText); }

 private:
  BStr FText;
};

template <class I>
class TResultSlot<I*> : public TResultSlotBase {
 public:
  I** Get() { return FRef.GetAddressOf(); }
  ComPtr<I> Value() { return std::move(FRef); }

 private:
  ComPtr<I> FRef;
};

// Calls `member` with the slots (one per argument, in order), raises EOleSysError for a
// failed HRESULT, else hands the Out and InOut values back and returns the result, if the
// entry has one.
template <TDispKind Kind, class... P, class... S>
decltype(auto) ProxyCall(IMiravokFprn& itf, HRESULT (IMiravokFprn::*member)(P...), S&&... slots) {
  static_assert(sizeof...(P) == sizeof...(S), "one slot per argument");
  (slots.Preset(Kind), ...);
  OleCheck((itf.*member)(slots.Get()...));
  (slots.Commit(), ...);
  if constexpr (sizeof...(S) > 0) {
    auto& last = std::get<sizeof...(S) - 1>(std::forward_as_tuple(slots...));
    if constexpr (std::is_base_of_v<TResultSlotBase, std::remove_cvref_t<decltype(last)>>) return last.Value();
  }
}

}  // namespace

std::string OleErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
    BStr description;
    if (SUCCEEDED(info->GetDescription(description.Out())) && description.Length() > 0)
      return WideToCp1251(description.View());
  }
  if (const char* text = CodeText(hr)) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "OLE error %08X", static_cast<unsigned>(hr));
  return buf;
}

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(OleErrorText(hr), hr);
}

ComPtr<IMiravokFprn> CreateMiravokFprn() {
  ComPtr<IMiravokFprn> fprn;
  OleCheck(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IID_IMiravokFprn, fprn.AsOut()));
  return fprn;
}

TMiravokFprnProxy::TMiravokFprnProxy(TFprnFactory factory) : FActory(std::move(factory)) {}

IMiravokFprn& TMiravokFprnProxy::Intf() {
  if (!FIntf) {
    ComPtr<IMiravokFprn> made = FActory ? FActory() : ComPtr<IMiravokFprn>();
    if (!made) throw EOleSysError(OleErrorText(E_POINTER), E_POINTER);
    FIntf = std::move(made);
  }
  return *FIntf.Get();
}

// Every entry: its slots from the proxy's parameters, then ProxyCall.
#define FP_PROXY_SLOT(dir, t, n) FP_PROXY_SLOT_##dir(t, n)
#define FP_PROXY_SLOT_In(t, n) , TInSlot<FP_CT_##t>(n)
#define FP_PROXY_SLOT_Out(t, n) , TOutSlot<FP_CT_##t>(n)
#define FP_PROXY_SLOT_InOut(t, n) , TInOutSlot<FP_CT_##t>(n)
#define FP_PROXY_SLOT_Result(t, n) , TResultSlot<FP_CT_##t>()
#define FP_ARG(dir, t, n) (dir, t, n)
#define FP_DISP(kind, id, name, args)                                                                           \
  FP_PROXY_SIGNATURE(TMiravokFprnProxy::, name, args) {                                                         \
    return ProxyCall<TDispKind::kind>(Intf(),                                                                   \
                                      &IMiravokFprn::FP_MEMBER_##kind(name) FP_PROXY_MAP(FP_PROXY_SLOT, args)); \
  }
#include "library/automation/IMiravokFprn.def"
#undef FP_DISP
#undef FP_ARG

}  // namespace fp
