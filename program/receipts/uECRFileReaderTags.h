#pragma once
// Failure texts of the reader, and small helpers its sources share: every operation puts
// its bracketed name in front of the text of what failed inside it, so the outermost name
// comes first.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace fp::uECRFileReader {

[[noreturn]] inline void Fail(const std::string& text) { throw std::runtime_error(text); }

// A whole number in decimal, as the report and log lines show numbers.
inline std::string Number(int64_t v) { return std::to_string(v); }

// Runs body; a failure inside it fails again with tag + its text (+ suffix()).
template <class F, class S>
void Tagged(const char* tag, F&& body, S&& suffix) {
  try {
    std::forward<F>(body)();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string(tag) + e.what() + suffix());
  }
}

template <class F>
void Tagged(const char* tag, F&& body) {
  Tagged(tag, std::forward<F>(body), [] { return std::string(); });
}

}  // namespace fp::uECRFileReader
