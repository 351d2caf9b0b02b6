#include "platform/IniFile.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/Cp1251.h"
#include "platform/FileOps.h"
#include "platform/TextLines.h"

namespace fp {
namespace {

// One rewrite at a time in this process, so that two threads writing keys of the same
// file do not lose each other's change between reading and renaming.
std::mutex gWriteMutex;
std::atomic<unsigned> gTempCounter{0};

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// A name or value as it goes into the file: code page 1251, without CR and LF.
std::string ToFileText(std::string_view utf8) {
  std::string s = Utf8ToCp1251(utf8);
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

std::string ToFileName(std::string_view utf8) { return std::string(Trim(ToFileText(utf8))); }

enum class LineKind { Other, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed (quotes not yet removed)
};

ParsedLine Parse(std::string_view line) {
  ParsedLine p;
  std::string_view t = Trim(line);
  if (t.empty() || t[0] == ';') return p;
  if (t[0] == '[') {
    std::string_view rest = t.substr(1);
    size_t close = rest.find(']');
    p.kind = LineKind::Section;
    p.name = Trim(close == std::string_view::npos ? rest : rest.substr(0, close));
    return p;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::Key;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

using Lines = std::vector<std::string>;

// Reads the whole file. Returns false with errno set when it cannot be read; a missing
// file reads as empty.
bool ReadFile(const std::string& path, std::string& data) {
  data.clear();
  IFileOps& ops = FileOps();
  int fd = ops.Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT;
  const bool ok = ReadAll(ops, fd, data);
  const int saved = errno;
  ops.Close(fd);
  errno = saved;
  return ok;
}

Lines LoadLines(const std::string& path) {
  std::string data;
  if (!ReadFile(path, data)) data.clear();  // an unreadable file reads as an empty one
  return SplitLines(data);
}

// Index of the first section header of that name, or -1.
long FindSection(const Lines& lines, std::string_view name) {
  for (size_t i = 0; i < lines.size(); ++i) {
    ParsedLine p = Parse(lines[i]);
    if (p.kind == LineKind::Section && SameName(p.name, name)) return static_cast<long>(i);
  }
  return -1;
}

size_t SectionEnd(const Lines& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && Parse(lines[i]).kind != LineKind::Section) ++i;
  return i;
}

// Index of the first line of the key inside the first section of that name, or -1.
long FindKey(const Lines& lines, std::string_view section, std::string_view key) {
  long s = FindSection(lines, section);
  if (s < 0) return -1;
  size_t end = SectionEnd(lines, static_cast<size_t>(s));
  for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i) {
    ParsedLine p = Parse(lines[i]);
    if (p.kind == LineKind::Key && SameName(p.name, key)) return static_cast<long>(i);
  }
  return -1;
}

[[noreturn]] void RaiseWriteError(const std::string& fileName) {
  throw EIniFileException("Unable to write to " + fileName);
}

// Writes the lines as the new content of the file: into a temporary file beside it,
// flushed to the disk, then renamed over the old file, and the folder flushed.
void Commit(const std::string& fileName, const Lines& lines) {
  std::string target = fileName;
  if (char* real = ::realpath(fileName.c_str(), nullptr)) {  // write through a symbolic link
    target = real;
    std::free(real);
  }
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash == 0 ? 1 : slash);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  IFileOps& ops = FileOps();
  struct stat st {};
  bool exists = ops.Stat(target.c_str(), &st) == 0;
  if (exists) {
    // A file that this process may not write is not replaced behind its back.
    int fd = ops.Open(target.c_str(), O_WRONLY | O_CLOEXEC, 0);
    if (fd < 0) RaiseWriteError(fileName);
    ops.Close(fd);
  }

  std::string data;
  for (const auto& l : lines) {
    data += l;
    data += "\r\n";
  }

  std::string temp =
      dir + "/." + base + "." + std::to_string(::getpid()) + "." + std::to_string(gTempCounter.fetch_add(1)) + ".tmp";
  int fd = ops.Open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) RaiseWriteError(fileName);
  if (exists) ::fchmod(fd, st.st_mode & 07777);
  bool ok = WriteAll(ops, fd, data) && ops.Fsync(fd) == 0;
  ok = (ops.Close(fd) == 0) && ok;
  if (ok) ok = ops.Rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ops.Unlink(temp.c_str());
    RaiseWriteError(fileName);
  }
  // The rename itself reaches the disk with the folder; a folder that cannot be flushed
  // (some file systems refuse it) does not make the write fail.
  int dfd = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dfd >= 0) {
    ops.Fsync(dfd);
    ops.Close(dfd);
  }
}

// The file's lines for a rewrite; a file that exists but cannot be read is not
// overwritten with a shortened copy.
Lines LoadForWrite(const std::string& fileName) {
  std::string data;
  if (!ReadFile(fileName, data)) RaiseWriteError(fileName);
  return SplitLines(data);
}

}  // namespace

bool ParseIniInteger(std::string_view text, int32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint64_t v = 0;
    for (char c : text.substr(2)) {
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return false;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<int32_t>(v);
  return true;
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

Lines TIniFile::Current() const { return FUpdating ? FPending : LoadLines(FFileName); }

Lines TIniFile::CurrentForWrite() const { return FUpdating ? FPending : LoadForWrite(FFileName); }

void TIniFile::Store(Lines lines) {
  if (FUpdating)
    FPending = std::move(lines);
  else
    Commit(FFileName, lines);
}

void TIniFile::BeginUpdate() {
  std::lock_guard<std::mutex> lock(gWriteMutex);
  FPending = LoadForWrite(FFileName);
  FUpdating = true;
}

void TIniFile::EndUpdate() {
  if (!FUpdating) return;
  Lines lines = std::move(FPending);
  FPending.clear();
  FUpdating = false;
  std::lock_guard<std::mutex> lock(gWriteMutex);
  Commit(FFileName, lines);
}

void TIniFile::CancelUpdate() {
  FPending.clear();
  FUpdating = false;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
  Lines lines = Current();
  long i = FindKey(lines, ToFileName(section), ToFileName(key));
  if (i < 0) return std::string(defaultValue);
  std::string_view v = Parse(lines[static_cast<size_t>(i)]).value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  if (v.size() > MaxValueLength) v = v.substr(0, MaxValueLength);
  return Cp1251ToUtf8(v);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const {
  int32_t v;
  return ParseIniInteger(ReadString(section, key, ""), v) ? v : defaultValue;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string sec = ToFileName(section), k = ToFileName(key), v = ToFileText(value);
  std::lock_guard<std::mutex> lock(gWriteMutex);
  Lines lines = CurrentForWrite();
  std::string line = k + "=" + v;
  long s = FindSection(lines, sec);
  if (s < 0) {
    lines.push_back("[" + sec + "]");
    lines.push_back(line);
  } else if (long i = FindKey(lines, sec, k); i >= 0) {
    lines[static_cast<size_t>(i)] = line;
  } else {
    size_t end = SectionEnd(lines, static_cast<size_t>(s));
    size_t at = static_cast<size_t>(s) + 1;
    for (size_t j = at; j < end; ++j)
      if (!Trim(lines[j]).empty()) at = j + 1;
    lines.insert(lines.begin() + static_cast<long>(at), line);
  }
  Store(std::move(lines));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  std::string sec = ToFileName(section);
  std::lock_guard<std::mutex> lock(gWriteMutex);
  Lines lines = CurrentForWrite();
  Lines kept;
  bool erased = false;
  for (size_t i = 0; i < lines.size();) {
    ParsedLine p = Parse(lines[i]);
    if (p.kind == LineKind::Section && SameName(p.name, sec)) {
      i = SectionEnd(lines, i);
      erased = true;
    } else {
      kept.push_back(lines[i++]);
    }
  }
  if (erased) Store(std::move(kept));
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(Current(), ToFileName(section), ToFileName(key)) >= 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(Current(), ToFileName(section)) >= 0;
}

}  // namespace fp
