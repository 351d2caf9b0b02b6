// The fields of the four result objects; their getters and setters are generated in
// ResultObjects.h.
#include "library/automation/ResultObjects.h"

#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp {

HRESULT TDoubleField::Get(double* Value) const {
  if (!Value) return E_POINTER;
  *Value = V;
  return S_OK;
}
HRESULT TDoubleField::Put(double Value) {
  V = Value;
  return S_OK;
}

HRESULT TLongField::Get(LONG* Value) const {
  if (!Value) return E_POINTER;
  *Value = V;
  return S_OK;
}
HRESULT TLongField::Put(LONG Value) {
  V = Value;
  return S_OK;
}

HRESULT TFlagField::Get(LONG* Value) const {
  if (!Value) return E_POINTER;
  *Value = V ? 1 : 0;
  return S_OK;
}
HRESULT TFlagField::Put(LONG Value) {
  V = Value == 1;
  return S_OK;
}

HRESULT TWideField::Get(BSTR* Value) const {
  if (!Value) return E_POINTER;
  *Value = MakeBstr(V);
  return S_OK;
}
HRESULT TWideField::Put(BSTR Value) {
  V = BstrView(Value);
  return S_OK;
}

HRESULT TAnsiField::Get(BSTR* Value) const {
  if (!Value) return E_POINTER;
  *Value = V.empty() ? nullptr : MakeBstr(Cp1251ToWide(V));
  return S_OK;
}
HRESULT TAnsiField::Put(BSTR Value) {
  V = WideToCp1251(BstrView(Value));
  return S_OK;
}

}  // namespace fp
