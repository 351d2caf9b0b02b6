#pragma once
// What the program knows of itself: its folder, its file, its version text, and the file
// helpers it checks and writes its folders with. Nothing here needs a display.
#include <QString>

#include <string>

namespace fp::uProgramInfo {

// Program folder with a trailing "/"; set once by the main window.
QString AppDir();
void SetAppDir(const QString& dir);

// True when a file can be created in the folder (which ends in "/"): an unnamed file
// (O_TMPFILE, opened as the folder + "./"), or where the file system has none a file of a
// new hidden name ".chktmp.<process>.<counter>.<time>.tmp", removed again. An empty
// regular file "chktmp.txt" left by an earlier test that was stopped halfway is removed
// first (never through a link). False, with errno of the call that failed, when the
// folder cannot be opened or the file not created.
bool CanWriteToDir(const QString& folder);

// Replaces the file at `path` with `data`: a new file is created beside it (never through
// a link, never over an existing name), written in full and flushed, then renamed over the
// name, so a link there is replaced itself and its target stays untouched. Any failure
// removes the new file and leaves the old one as it was; the result is then the errno of
// the call that failed, else 0.
int ReplaceFile(const QString& path, const std::string& data);

// The program's version text (four dotted numbers).
QString GetFileVersion();

// Full path of the running program file.
QString ProgramFilePath();

}  // namespace fp::uProgramInfo
