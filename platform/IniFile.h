#pragma once
// INI files with the semantics of the Windows profile functions, which the settings file
// and the language file rely on:
// - nothing is cached: every read parses the file as it is on disk now, and every write
//   rewrites the file and has it on the disk (fsync) before returning;
// - section and key names are trimmed and compared ASCII case-insensitively; on duplicate
//   sections or keys the first one wins;
// - the first "=" of a line splits key and value; values are trimmed and lose one pair of
//   enclosing quotes ("..." or '...'); there are no inline comments (";" inside a value
//   belongs to the value); a value read is cut to 2047 characters;
// - a key present with an empty value reads as an empty text; only an absent key gives
//   the default;
// - lines without "=", lines before the first section and ";" comment lines are kept
//   as they are when the file is rewritten;
// - a new section is appended at the end of the file, a new key after the last line of
//   its section; CR and LF are never written inside a name or a value;
// - integers are decimal or "0x"/"0X" hexadecimal; anything else (trailing characters
//   included) gives the default; Booleans are integers, written "1" and "0".
// The file is code page 1251 on disk; names and values at this interface are UTF-8.
// A write is made atomically (a temporary file renamed over the old one), so a failed
// write leaves the old file as it was and a reader never sees half a file.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fp {

// A write that could not be completed: "Unable to write to " + the file name.
class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  static constexpr size_t MaxValueLength = 2047;

  // fileName: the path of the file (UTF-8); the file need not exist.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Each raises EIniFileException when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes every section of that name with all its lines; nothing is written when there
  // is none.
  void EraseSection(std::string_view section);

  bool ValueExists(std::string_view section, std::string_view key) const;
  bool SectionExists(std::string_view section) const;

  // Many writes as one: from BeginUpdate the file is read once and every read and write
  // works on that copy; EndUpdate writes the whole copy in one rewrite (raising
  // EIniFileException when it cannot, the file then stays as it was before BeginUpdate).
  // CancelUpdate drops the copy unwritten.
  void BeginUpdate();
  void EndUpdate();
  void CancelUpdate();

 private:
  std::vector<std::string> Current() const;
  std::vector<std::string> CurrentForWrite() const;
  void Store(std::vector<std::string> lines);

  std::string FFileName;
  bool FUpdating = false;
  std::vector<std::string> FPending;
};

// The integer rule of the profile functions on a text: decimal with an optional sign, or
// "0x"/"0X" and up to eight hexadecimal digits; false for anything else.
bool ParseIniInteger(std::string_view text, int32_t& value);

}  // namespace fp
