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
  ComPtr(T* p) : P_(p) {
    if (P_) P_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.P_) {}
  ComPtr(ComPtr&& o) noexcept : P_(std::exchange(o.P_, nullptr)) {}
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
    if (T* p = std::exchange(P_, nullptr)) p->Release();
  }
  // Takes over a reference that the caller already owns.
  void Attach(T* p) {
    Reset();
    P_ = p;
  }
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.P_ = p;
    return c;
  }
  // Gives the reference away without releasing it.
  T* Detach() { return std::exchange(P_, nullptr); }
  void Swap(ComPtr& o) noexcept { std::swap(P_, o.P_); }

  T* Get() const { return P_; }
  T* operator->() const { return P_; }
  explicit operator bool() const { return P_ != nullptr; }

  // For out-arguments (T**): releases the current reference first.
  T** GetAddressOf() {
    Reset();
    return &P_;
  }
  T** operator&() = delete;
  // For QueryInterface-style out-arguments (void**).
  void** AsOut() { return reinterpret_cast<void**>(GetAddressOf()); }

  // QueryInterface for U (by U::Iid).
  template <class U>
  HRESULT As(ComPtr<U>& out) const {
    if (!P_) {
      out.Reset();
      return E_POINTER;
    }
    return P_->QueryInterface(U::Iid, out.AsOut());
  }
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> out;
    As(out);
    return out;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.P_ == b.P_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.P_ == nullptr; }

 private:
  T* P_ = nullptr;
};

// A new BSTR holding the text (nullptr only when memory runs out).
inline BSTR MakeBstr(std::u16string_view text) {
  return SysAllocStringLen(text.data(), UINT(text.size()));
}
// The characters of a BSTR (embedded nulls included); null reads as empty.
inline std::u16string_view BstrView(BSTR b) {
  return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view();
}

// One owned BSTR.
class BStr {
 public:
  BStr() = default;
  explicit BStr(std::u16string_view text) : B_(MakeBstr(text)) {}
  explicit BStr(const char16_t* text) : B_(SysAllocString(text)) {}
  BStr(const BStr& o) : B_(o.B_ ? MakeBstr(o.View()) : nullptr) {}
  BStr(BStr&& o) noexcept : B_(std::exchange(o.B_, nullptr)) {}
  ~BStr() { SysFreeString(B_); }
  BStr& operator=(BStr o) noexcept {
    std::swap(B_, o.B_);
    return *this;
  }

  // Takes over a BSTR that the caller owns.
  static BStr Attach(BSTR b) {
    BStr s;
    s.B_ = b;
    return s;
  }
  BSTR Detach() { return std::exchange(B_, nullptr); }
  void Reset() { SysFreeString(std::exchange(B_, nullptr)); }

  BSTR Get() const { return B_; }
  // For out-arguments (BSTR*): frees the current string first.
  BSTR* Out() {
    Reset();
    return &B_;
  }
  // For in/out arguments: the callee may free the current string and replace it.
  BSTR* InOut() { return &B_; }

  UINT Length() const { return SysStringLen(B_); }
  std::u16string_view View() const { return BstrView(B_); }
  std::u16string Str() const { return std::u16string(View()); }

 private:
  BSTR B_ = nullptr;
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
