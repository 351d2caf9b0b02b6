#pragma once
// Failure texts of the reader, and small helpers its sources share: every operation puts
// its bracketed name in front of the text of what failed inside it, so the outermost name
// comes first.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace fp::uECRFileReader {

// The names in front of the reader's log lines and failure texts that more than one line
// carries; kept for log readers, who search for them.
namespace Tag {
inline constexpr const char* PrintPluList = "[PrintPluList]";
inline constexpr const char* OpenReceipt = "[OpenReceipt]";
inline constexpr const char* OpenComentReceipt = "[OpenComentReceipt]";
inline constexpr const char* PrintPayment = "[PrintPayment]";
inline constexpr const char* ReadFile = "[ReadFile]";
inline constexpr const char* Initialize = "[Initialize]";
inline constexpr const char* FastInit = "[FastInit]";
}  // namespace Tag

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
