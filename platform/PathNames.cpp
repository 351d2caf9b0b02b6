#include "platform/PathNames.h"

namespace fp {

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::string out(path.substr(0, FileExtStart(path)));
  out += ext;
  return out;
}

std::string WithSlash(std::string_view folder) { return JoinPath(folder, {}); }

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (NeedsSeparator(folder)) out += '/';
  out += name;
  return out;
}

}  // namespace fp
