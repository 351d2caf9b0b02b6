#pragma once
// Small text helpers of the printer commands: trimming caller texts and answer fields.
#include <string>
#include <string_view>

namespace fp {

// Without the blanks and control characters (bytes 0x00..0x20) at both ends.
inline std::string TrimControls(std::string_view S) {
  auto Keep = [](char Ch) { return static_cast<unsigned char>(Ch) > 0x20; };
  size_t B = 0, E = S.size();
  while (B < E && !Keep(S[B])) ++B;
  while (E > B && !Keep(S[E - 1])) --E;
  return std::string(S.substr(B, E - B));
}

// Without the blanks (0x20) at both ends.
inline std::string TrimBlanks(std::string_view S) {
  size_t B = S.find_first_not_of(' ');
  if (B == std::string_view::npos) return {};
  size_t E = S.find_last_not_of(' ');
  return std::string(S.substr(B, E - B + 1));
}

}  // namespace fp
