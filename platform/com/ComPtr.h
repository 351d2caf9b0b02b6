#pragma once
// Owning wrappers for interface references, BSTRs and VARIANTs.
#include <string>
#include <string_view>
#include <utility>

#include "platform/com/ComTypes.h"
#include "platform/com/OleAuto.h"

namespace fp {

// One reference to an interface. Made from a raw pointer it AddRefs (use Attach to take
// over a reference already counted).
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : FP(p) {
    if (FP) FP->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.FP) {}
  ComPtr(ComPtr&& o) noexcept : FP(std::exchange(o.FP, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }

  void Reset() {
    if (T* p = std::exchange(FP, nullptr)) p->Release();
  }
  // Takes over a reference that the caller already owns.
  void Attach(T* p) {
    Reset();
    FP = p;
  }
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.FP = p;
    return c;
  }
  // Gives the reference away without releasing it.
  T* Detach() { return std::exchange(FP, nullptr); }
  void Swap(ComPtr& o) noexcept { std::swap(FP, o.FP); }

  T* Get() const { return FP; }
  T* operator->() const { return FP; }
  explicit operator bool() const { return FP != nullptr; }

  // For out-arguments (T**): releases the current reference first.
  T** GetAddressOf() {
    Reset();
    return &FP;
  }
  T** operator&() = delete;
  // For QueryInterface-style out-arguments (void**).
  void** AsOut() { return reinterpret_cast<void**>(GetAddressOf()); }

  // QueryInterface for U (by U::Iid).
  template <class U>
  HRESULT As(ComPtr<U>& out) const {
    if (!FP) {
      out.Reset();
      return E_POINTER;
    }
    return FP->QueryInterface(U::Iid, out.AsOut());
  }
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> out;
    As(out);
    return out;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.FP == b.FP; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.FP == nullptr; }

 private:
  T* FP = nullptr;
};

// A new BSTR holding the text (nullptr only when memory runs out).
inline BSTR MakeBstr(std::u16string_view text) { return SysAllocStringLen(text.data(), UINT(text.size())); }
// The characters of a BSTR (embedded nulls included); null reads as empty.
inline std::u16string_view BstrView(BSTR b) {
  return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view();
}

// One owned BSTR.
class BStr {
 public:
  BStr() = default;
  explicit BStr(std::u16string_view text) : FB(MakeBstr(text)) {}
  explicit BStr(const char16_t* text) : FB(SysAllocString(text)) {}
  BStr(const BStr& o) : FB(o.FB ? MakeBstr(o.View()) : nullptr) {}
  BStr(BStr&& o) noexcept : FB(std::exchange(o.FB, nullptr)) {}
  ~BStr() { SysFreeString(FB); }
  BStr& operator=(BStr o) noexcept {
    std::swap(FB, o.FB);
    return *this;
  }

  // Takes over a BSTR that the caller owns.
  static BStr Attach(BSTR b) {
    BStr s;
    s.FB = b;
    return s;
  }
  BSTR Detach() { return std::exchange(FB, nullptr); }
  void Reset() { SysFreeString(std::exchange(FB, nullptr)); }

  BSTR Get() const { return FB; }
  // For out-arguments (BSTR*): frees the current string first.
  BSTR* Out() {
    Reset();
    return &FB;
  }
  // For in/out arguments: the callee may free the current string and replace it.
  BSTR* InOut() { return &FB; }

  UINT Length() const { return SysStringLen(FB); }
  std::u16string_view View() const { return BstrView(FB); }
  std::u16string Str() const { return std::u16string(View()); }

 private:
  BSTR FB = nullptr;
};

// One owned VARIANT, cleared on destruction.
class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(LONG v) : Variant() { vt = VT_I4, lVal = v; }
  Variant(double v) : Variant() { vt = VT_R8, dblVal = v; }
  Variant(std::u16string_view v) : Variant() { vt = VT_BSTR, bstrVal = MakeBstr(v); }
  Variant(const char16_t* v) : Variant(std::u16string_view(v)) {}
  Variant(const Variant& o) : Variant() { VariantCopy(this, &o); }
  Variant(Variant&& o) noexcept : VARIANT(o) { VariantInit(&o); }
  ~Variant() { VariantClear(this); }
  Variant& operator=(const Variant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = o;
      VariantInit(&o);
    }
    return *this;
  }

  static Variant Date(DATE d) {
    Variant v;
    v.vt = VT_DATE;
    v.date = d;
    return v;
  }
  static Variant I1(std::int8_t c) {
    Variant v;
    v.vt = VT_I1;
    v.cVal = c;
    return v;
  }
  static Variant Bool(bool b) {
    Variant v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  // A reference to a variable of the caller (VT_BYREF | type); nothing is owned.
  template <class T>
  static Variant Ref(VARTYPE type, T* target) {
    Variant v;
    v.vt = VARTYPE(type | VT_BYREF);
    v.byref = target;
    return v;
  }
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

}  // namespace fp
