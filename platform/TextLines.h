#pragma once
// Splitting a text file into lines, as the settings, the registry and the receipt files
// are read: a line ends at CR LF, at LF or at a CR alone; the last line counts without
// its end only when it is not empty, so a text that ends with a line break gives no empty
// line after it. A caller whose text ends at a NUL byte cuts it there first.
#include <string>
#include <string_view>
#include <vector>

namespace fp {

std::vector<std::string> SplitLines(std::string_view text);

}  // namespace fp
