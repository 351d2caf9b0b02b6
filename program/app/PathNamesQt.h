#pragma once
// The path-name rules of platform/PathNames.h for the program's QString paths. They work
// on the UTF-16 text itself, so every name, whatever its bytes on disk, is treated exactly
// as its std::string form would be.
#include <QString>
#include <QStringView>

#include <string_view>

#include "platform/PathNames.h"

namespace fp {

inline std::u16string_view PathUtf16(const QString& path) {
  const QStringView view(path);
  return {view.utf16(), static_cast<std::size_t>(view.size())};
}

// The path with the extension of its file name replaced by `ext`, or `ext` appended.
inline QString ChangeFileExt(const QString& path, const QString& ext) {
  return path.left(static_cast<qsizetype>(FileExtStart(PathUtf16(path)))) + ext;
}

// The folder with one '/' at its end ("" stays "").
inline QString WithSlash(const QString& folder) {
  return NeedsSeparator(PathUtf16(folder)) ? folder + QLatin1Char('/') : folder;
}

// The name in the folder, with one '/' between (the name alone for an empty folder).
inline QString JoinPath(const QString& folder, const QString& name) { return WithSlash(folder) + name; }

}  // namespace fp
