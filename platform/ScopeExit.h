#pragma once
// Runs a function when the scope ends, also when an exception leaves it:
//   TScopeExit Restore([&] { Busy = false; });
#include <utility>

namespace fp {

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F Fn) : FFn(std::move(Fn)) {}
  ~TScopeExit() { FFn(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F FFn;
};

}  // namespace fp
