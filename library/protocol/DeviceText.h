#pragma once
// Small text helpers of the printer commands: trimming caller texts and answer fields, and
// cleaning a printer's text for an error record.
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

// Without the printer's "E:" marks and its 0xA2 bytes: what an error record shows of an
// answer or request text.
inline std::string WithoutErrorMarks(std::string_view S) {
  std::string Rest;
  Rest.reserve(S.size());
  for (size_t I = 0; I < S.size(); ++I) {
    if (S[I] == 'E' && I + 1 < S.size() && S[I + 1] == ':') {
      ++I;
      continue;
    }
    if (static_cast<unsigned char>(S[I]) == 0xA2) continue;
    Rest += S[I];
  }
  return Rest;
}

}  // namespace fp
