#pragma once
// Small text helpers of the printer commands: trimming caller texts and answer fields, and
// cleaning a printer's text for an error record.
#include <string>
#include <string_view>

namespace fp {

// Without the blanks and control characters (bytes 0x00..0x20) at both ends.
inline std::string TrimControls(std::string_view S) {
  auto keep = [](char Ch) { return static_cast<unsigned char>(Ch) > 0x20; };
  size_t b = 0, e = S.size();
  while (b < e && !keep(S[b])) ++b;
  while (e > b && !keep(S[e - 1])) --e;
  return std::string(S.substr(b, e - b));
}

// Without the blanks (0x20) at both ends.
inline std::string TrimBlanks(std::string_view S) {
  size_t b = S.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = S.find_last_not_of(' ');
  return std::string(S.substr(b, e - b + 1));
}

// Without the printer's "E:" marks and its 0xA2 bytes: what an error record shows of an
// answer or request text.
inline std::string WithoutErrorMarks(std::string_view S) {
  std::string rest;
  rest.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == 'E' && i + 1 < S.size() && S[i + 1] == ':') {
      ++i;
      continue;
    }
    if (static_cast<unsigned char>(S[i]) == 0xA2) continue;
    rest += S[i];
  }
  return rest;
}

}  // namespace fp
