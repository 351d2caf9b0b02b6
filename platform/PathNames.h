#pragma once
// File path names: a folder with its separator, a name joined to a folder, and a file name
// with another extension. The separator is '/'. Registry key paths are another thing (a
// '\' separator, empty parts dropped) and are joined by the registry itself.
//
// The rules are written once, over any character type, so that the program's wide-string
// paths follow them to the letter without a round trip through the file-name encoding.
#include <cstddef>
#include <string>
#include <string_view>

namespace fp {

// Where the extension of the path's file name (its last part) starts: at the last '.' of
// that part, a leading '.' included (".bon" is all extension); the path's length when the
// part has no '.'. A '.' in a folder name does not count.
template <class Char>
constexpr std::size_t FileExtStart(std::basic_string_view<Char> path) {
  const std::size_t dot = path.rfind(Char('.'));
  if (dot == std::basic_string_view<Char>::npos) return path.size();
  const std::size_t slash = path.rfind(Char('/'));
  return slash != std::basic_string_view<Char>::npos && slash > dot ? path.size() : dot;
}

// A '/' is still wanted after the folder: it is not empty and does not end with one. An
// empty folder stands for the current one, so a name joined to it stays as it is.
template <class Char>
constexpr bool NeedsSeparator(std::basic_string_view<Char> folder) {
  return !folder.empty() && folder.back() != Char('/');
}

// The path with the extension of its file name replaced by `ext` (which brings its own
// '.'; "" removes the extension), or with `ext` appended when the name has none.
// "/a.b/c.txt", ".rep" -> "/a.b/c.rep"; "/a.b/c" -> "/a.b/c.rep"; ".bon" -> ".rep".
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// The folder with one '/' at its end ("" stays ""; an existing '/' is not doubled).
std::string WithSlash(std::string_view folder);

// The name in the folder: folder + '/' + name, with no second '/' when the folder ends
// with one, and the name alone when the folder is empty. The name is taken as it is.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace fp
