#pragma once
// The printer models that the automation object tells apart by the model name of the
// printer's diagnostic information: the characters per printed line, and whether the
// printer takes the extended commands (print attributes, the printer constants, the
// second department text).
#include <array>
#include <cstdint>
#include <string_view>

namespace fp {

// Model-name fragments for the line length, compared case-sensitively with the model name
// as the printer reports it. The first fragment found decides: the first two give 35
// characters, the next two 29, the last four 45.
extern const std::array<const char*, 8> LineLengthModelList;
// The line length of a model that no fragment names.
inline constexpr std::uint8_t DefaultLineLength = 29;

// Model-name fragments of the printers that take the extended commands, in capitals: they
// are compared with the model name turned to capitals.
extern const std::array<const char*, 10> ExtendedModelList;
// The maker's name, which also marks a printer with extended commands; compared with the
// model name as reported (case-sensitive).
inline constexpr const char* MakerModelName = "MIRAVOK";

// The line length that LineLengthModelList gives Model.
std::uint8_t ModelLineLength(std::string_view Model);
// True when Model in capitals holds a fragment of ExtendedModelList, or Model itself holds
// the maker's name.
bool IsExtendedModel(std::string_view Model);

}  // namespace fp
