#include "platform/com/Dispatch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"

namespace fp {

namespace {

bool NameMatches(const char* name, const OLECHAR* wide) {
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; };
  for (; *name; ++name, ++wide) {
    if (*wide == 0 || upper(char16_t(static_cast<unsigned char>(*name))) != upper(*wide)) return false;
  }
  return *wide == 0;
}

const TDispEntry* FindEntry(const TDispTable& table, DISPID id, TDispKind kind) {
  for (const TDispEntry& e : table.Items())
    if (e.Id == id && e.Kind == kind) return &e;
  return nullptr;
}

// The entry a call of these flags means: a put for the put flags; otherwise a method for
// DISPATCH_METHOD, then a property get for DISPATCH_PROPERTYGET (clients often pass both).
const TDispEntry* Resolve(const TDispTable& table, DISPID id, WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return FindEntry(table, id, TDispKind::PropPut);
  const TDispEntry* e = nullptr;
  if (flags & DISPATCH_METHOD) e = FindEntry(table, id, TDispKind::Method);
  if (!e && (flags & DISPATCH_PROPERTYGET)) e = FindEntry(table, id, TDispKind::PropGet);
  return e;
}

// The typed field of a variant of type vt.
void* FieldOf(VARIANT& v, VARTYPE vt) {
  switch (vt) {
    case VT_I1: return &v.cVal;
    case VT_I2: return &v.iVal;
    case VT_I4: return &v.lVal;
    case VT_R8: return &v.dblVal;
    case VT_DATE: return &v.date;
    case VT_BOOL: return &v.boolVal;
    case VT_BSTR: return &v.bstrVal;
    case VT_DISPATCH: return &v.pdispVal;
    case VT_UNKNOWN: return &v.punkVal;
    default: return &v.raw_;
  }
}

// Frees what an out-argument's target holds before the callee writes it.
void FreeOutTarget(void* target, VARTYPE vt) {
  if (vt == VT_BSTR) {
    BSTR* p = static_cast<BSTR*>(target);
    SysFreeString(*p);
    *p = nullptr;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    IUnknown** p = static_cast<IUnknown**>(target);
    if (*p) (*p)->Release();
    *p = nullptr;
  }
}

// The arguments of one call between preparation and the call: the slots the thunk reads,
// and for each the client's variant behind VT_BYREF | VT_VARIANT and whether the slot's
// value (a coerced by-value argument, a result) is ours to free.
class TCallFrame {
 public:
  explicit TCallFrame(std::size_t n) : FSlots(n), FInner(n, nullptr), FOwns(n, false) {
    for (auto& s : FSlots) VariantInit(&s.Value);
  }
  ~TCallFrame() {
    for (std::size_t k = 0; k < FSlots.size(); ++k)
      if (FOwns[k]) VariantClear(&FSlots[k].Value);
  }
  TCallFrame(const TCallFrame&) = delete;
  TCallFrame& operator=(const TCallFrame&) = delete;

  TDispSlot& Slot(std::size_t k) { return FSlots[k]; }
  VARIANT*& Inner(std::size_t k) { return FInner[k]; }
  void SetOwned(std::size_t k, bool owned) { FOwns[k] = owned; }
  TDispSlot* Data() { return FSlots.data(); }

 private:
  std::vector<TDispSlot> FSlots;
  std::vector<VARIANT*> FInner;
  std::vector<bool> FOwns;
};

HRESULT FailArg(HRESULT hr, UINT index, UINT* puArgErr) {
  if (puArgErr) *puArgErr = index;
  return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

void FillException(HRESULT hr, EXCEPINFO* ei) {
  ComPtr<IErrorInfo> info;
  GetErrorInfo(0, info.GetAddressOf());
  if (!ei) return;
  *ei = EXCEPINFO{};
  ei->scode = hr;
  if (info) {
    info->GetSource(&ei->bstrSource);
    info->GetDescription(&ei->bstrDescription);
  }
}

// Where each argument of the entry (results excepted) lies in rgvarg. A property put
// takes its one value positionally or as the named argument DISPID_PROPERTYPUT. A method
// or get takes the named arguments first in rgvarg, each under its parameter's DISPID (its
// position), and the positional ones after them, the last first, which fill the first
// parameters.
HRESULT PlaceArguments(const TDispEntry& entry, UINT inCount, const DISPPARAMS& dp, std::vector<UINT>& where,
                       UINT* puArgErr) {
  if (entry.Kind == TDispKind::PropPut) {
    if (dp.cNamedArgs > 1 ||
        (dp.cNamedArgs == 1 && (!dp.rgdispidNamedArgs || dp.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
      return DISP_E_NONAMEDARGS;
    if (dp.cArgs != inCount) return DISP_E_BADPARAMCOUNT;
    for (UINT k = 0; k < inCount; ++k) where[k] = inCount - 1 - k;
    return S_OK;
  }
  if (dp.cArgs > inCount || dp.cNamedArgs > dp.cArgs) return DISP_E_BADPARAMCOUNT;
  if (dp.cNamedArgs == 0) {
    if (dp.cArgs != inCount) return DISP_E_BADPARAMCOUNT;
  } else if (!dp.rgdispidNamedArgs) {
    return E_INVALIDARG;
  }
  constexpr UINT kUnset = ~UINT(0);
  std::fill(where.begin(), where.end(), kUnset);
  const UINT positional = dp.cArgs - dp.cNamedArgs;
  for (UINT k = 0; k < positional; ++k) where[k] = dp.cArgs - 1 - k;
  for (UINT i = 0; i < dp.cNamedArgs; ++i) {
    const DISPID id = dp.rgdispidNamedArgs[i];
    if (id < 0 || UINT(id) >= inCount || where[UINT(id)] != kUnset) {
      // No such parameter, or one that a positional or an earlier named argument gave.
      if (puArgErr) *puArgErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    where[UINT(id)] = i;
  }
  for (UINT k = 0; k < inCount; ++k)
    if (where[k] == kUnset) return DISP_E_PARAMNOTFOUND;  // a required argument is missing
  return S_OK;
}

HRESULT Invoke(const TDispTable& table, void* itf, DISPID id, WORD flags, DISPPARAMS* dp, VARIANT* result,
               EXCEPINFO* ei, UINT* puArgErr) {
  const TDispEntry* entry = Resolve(table, id, flags);
  if (!entry) return DISP_E_MEMBERNOTFOUND;

  auto args = entry->Arguments();
  UINT inCount = 0;
  for (const TDispArg& a : args)
    if (a.Dir != TArgDir::Result) ++inCount;
  std::vector<UINT> where(inCount);
  if (HRESULT hr = PlaceArguments(*entry, inCount, *dp, where, puArgErr); FAILED(hr)) return hr;
  if (inCount && !dp->rgvarg) return E_INVALIDARG;

  TCallFrame frame(args.size());
  // Preparation: coerce every argument without touching the client's variants, so that
  // a refused argument leaves the call without effect.
  for (std::size_t k = 0; k < args.size(); ++k) {
    const TDispArg& spec = args[k];
    TDispSlot& slot = frame.Slot(k);
    if (spec.Dir == TArgDir::Result) {
      slot.Value.vt = spec.Vt;
      frame.SetOwned(k, true);
      continue;
    }
    const UINT index = where[k];  // where the caller put the argument in rgvarg
    VARIANT& src = dp->rgvarg[index];
    if (spec.Dir == TArgDir::In) {
      HRESULT hr = VariantChangeType(&slot.Value, &src, 0, spec.Vt);
      if (FAILED(hr)) return FailArg(hr, index, puArgErr);
      frame.SetOwned(k, true);
    } else if (src.vt == VARTYPE(spec.Vt | VT_BYREF) && src.byref) {
      slot.Ref = src.byref;
    } else if (src.vt == VARTYPE(VT_VARIANT | VT_BYREF) && src.pvarVal && !(src.pvarVal->vt & VT_BYREF)) {
      frame.Inner(k) = src.pvarVal;
      if (spec.Dir == TArgDir::InOut) {
        HRESULT hr = VariantChangeType(&slot.Value, src.pvarVal, 0, spec.Vt);
        if (FAILED(hr)) return FailArg(hr, index, puArgErr);
      } else {
        slot.Value.vt = spec.Vt;
      }
      frame.SetOwned(k, true);
    } else {
      return FailArg(DISP_E_TYPEMISMATCH, index, puArgErr);
    }
  }

  // Commit: the client's variants take the coerced values, and out targets are freed.
  for (std::size_t k = 0; k < args.size(); ++k) {
    const TDispArg& spec = args[k];
    TDispSlot& slot = frame.Slot(k);
    if (spec.Dir == TArgDir::Result) {
      slot.Ref = FieldOf(slot.Value, spec.Vt);
    } else if (VARIANT* inner = frame.Inner(k)) {
      VariantClear(inner);
      *inner = slot.Value;  // ownership moves to the client's variant
      VariantInit(&slot.Value);
      frame.SetOwned(k, false);
      slot.Ref = FieldOf(*inner, spec.Vt);
    }
    if (spec.Dir == TArgDir::Out) FreeOutTarget(slot.Ref, spec.Vt);
  }

  SetErrorInfo(0, nullptr);  // what the call reports, not what an earlier one left
  HRESULT hr;
  try {
    hr = entry->Call(itf, frame.Data());
  } catch (...) {
    hr = ComHandleException(GUID_NULL, u"");
  }
  if (FAILED(hr)) {
    FillException(hr, ei);
    return DISP_E_EXCEPTION;
  }
  if (result) {
    for (std::size_t k = 0; k < args.size(); ++k) {
      if (args[k].Dir != TArgDir::Result) continue;
      *result = frame.Slot(k).Value;  // ownership moves to the caller
      VariantInit(&frame.Slot(k).Value);
    }
  }
  return S_OK;
}

}  // namespace

HRESULT DispGetIDsOfNames(const TDispTable& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!rgszNames || !rgDispId) return E_POINTER;
  if (cNames == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  rgDispId[0] = DISPID_UNKNOWN;
  if (rgszNames[0]) {
    for (const TDispEntry& e : table.Items()) {
      if (NameMatches(e.Name, rgszNames[0])) {
        rgDispId[0] = e.Id;
        break;
      }
    }
  }
  if (rgDispId[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  // The names after the first are the member's parameters; each one's DISPID is its
  // position. A property's get and put share the DISPID, and either's names count.
  for (UINT i = 1; i < cNames; ++i) {
    rgDispId[i] = DISPID_UNKNOWN;
    if (rgDispId[0] != DISPID_UNKNOWN && rgszNames[i]) {
      for (const TDispEntry& e : table.Items()) {
        if (e.Id != rgDispId[0] || rgDispId[i] != DISPID_UNKNOWN) continue;
        const auto args = e.Arguments();
        for (std::size_t k = 0; k < args.size(); ++k) {
          if (args[k].Dir != TArgDir::Result && NameMatches(args[k].Name, rgszNames[i])) {
            rgDispId[i] = DISPID(k);
            break;
          }
        }
      }
    }
    if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispInvoke(const TDispTable& table, void* itf, DISPID id, REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!pDispParams) return E_INVALIDARG;
  if (pVarResult) VariantInit(pVarResult);
  try {
    return Invoke(table, itf, id, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DispCallByName(IDispatch* disp, std::u16string_view name, WORD wFlags, std::span<VARIANT> args,
                       VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (!disp) return E_POINTER;
  std::u16string text(name);
  LPOLESTR names[] = {text.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS dp;
  dp.rgvarg = reversed.empty() ? nullptr : reversed.data();
  dp.cArgs = UINT(reversed.size());
  if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    dp.rgdispidNamedArgs = &putId;
    dp.cNamedArgs = 1;
  }
  return disp->Invoke(id, IID_NULL, 0, wFlags, &dp, pVarResult, pExcepInfo, puArgErr);
}

}  // namespace fp
