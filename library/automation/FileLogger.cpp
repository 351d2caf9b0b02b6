#include "library/automation/FileLogger.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/PathNames.h"

namespace fp {

namespace {

constexpr std::uint64_t kBlockSize = 128;
// Attempts at a free rotated name before the log is left in place for the next line.
constexpr int kMaxRotateAttempts = 100;

std::chrono::system_clock::time_point FromTimespec(const timespec& ts) {
  using namespace std::chrono;
  return system_clock::time_point(duration_cast<system_clock::duration>(seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
}

// Local broken-down time and the milliseconds of a time point.
std::tm LocalTime(std::chrono::system_clock::time_point tp, int* millis) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(tp);
  if (millis) *millis = static_cast<int>(duration_cast<milliseconds>(tp - secs).count());
  const std::time_t t = system_clock::to_time_t(secs);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// "DD.MM.YY HH:NN:SS.zzz " in front of every line.
std::string LineTimeStamp(std::chrono::system_clock::time_point tp) {
  int ms = 0;
  const std::tm tm = LocalTime(tp, &ms);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%02d %02d:%02d:%02d.%03d ", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100,
                tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

// "DDMMYY_HHNNSS" in the name of a moved-aside log.
std::string RotateTimeStamp(std::chrono::system_clock::time_point tp) {
  const std::tm tm = LocalTime(tp, nullptr);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d_%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return buf;
}

// Every CR becomes a TAB and every LF is dropped, so one call writes one line.
std::string ReplaceLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r')
      out += '\t';
    else if (c != '\n')
      out += c;
  }
  return out;
}

bool IsDigits(const std::string& s, std::size_t pos, std::size_t count) {
  if (pos + count > s.size()) return false;
  for (std::size_t i = pos; i < pos + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// Closes a descriptor on every way out of AppendLine.
class TFdGuard {
 public:
  TFdGuard(IFileOps& ops, int fd) : FOps(ops), FFd(fd) {}
  ~TFdGuard() {
    try {
      Close();
    } catch (...) {
    }
  }
  void Close() {
    if (FFd < 0) return;
    const int fd = FFd;
    FFd = -1;
    FOps.Close(fd);
  }

 private:
  IFileOps& FOps;
  int FFd;
};

bool DirExists(IFileOps& ops, const std::string& path) {
  struct stat st {};
  return ops.Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct TDirEntry {
  std::string Name;
  std::chrono::system_clock::time_point LastWrite;
};

// The regular files of a folder, hidden ones included, with their last-write times.
std::vector<TDirEntry> ListFiles(IFileOps& ops, const std::string& dir) {
  std::vector<TDirEntry> result;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return result;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (ops.Stat((dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    result.push_back({name, FromTimespec(st.st_mtim)});
  }
  ::closedir(d);
  return result;
}

}  // namespace

// ---- text helpers --------------------------------------------------------------------

std::string LogTrim(const std::string& Text) {
  std::size_t b = 0, e = Text.size();
  while (b < e && static_cast<unsigned char>(Text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(Text[e - 1]) <= 0x20) --e;
  return Text.substr(b, e - b);
}

std::string LogNamePart(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// ---- the logger ----------------------------------------------------------------------

TFileLogger::TFileLogger(std::uint8_t Mode, TLogClock Clock, IFileOps* Ops)
    : FMode(Mode), FClock(std::move(Clock)), FOps(Ops) {}

TFileLogger::~TFileLogger() { PurgeOldFiles(); }

std::chrono::system_clock::time_point TFileLogger::Now() const {
  return FClock ? FClock() : std::chrono::system_clock::now();
}

IFileOps& TFileLogger::Ops() const { return FOps ? *FOps : FileOps(); }

void TFileLogger::SetActive(bool Value) {
  FDirectory = WithSlash(FDirectory);
  FEnabled = Value;
  FLogFileName = FDirectory + ChangeFileExt(LogNamePart(FBaseName), "_Log.txt");
  PurgeOldFiles();
}

void TFileLogger::LogContextError(const std::string& Context, const std::string& Msg) {
  PostLine(FLogFileName, LogTrim(Context), LogTrim(Msg), LevelError);
}
void TFileLogger::LogContextWarning(const std::string& Context, const std::string& Msg) {
  PostLine(FLogFileName, LogTrim(Context), LogTrim(Msg), LevelWarning);
}
void TFileLogger::LogContextInfo(const std::string& Context, const std::string& Msg) {
  PostLine(FLogFileName, LogTrim(Context), LogTrim(Msg), LevelInfo);
}
void TFileLogger::LogError(const std::string& Msg) { LogContextError("", Msg); }
void TFileLogger::LogWarning(const std::string& Msg) { LogContextWarning("", Msg); }
void TFileLogger::LogInfo(const std::string& Msg) { LogContextInfo("", Msg); }

std::string TFileLogger::LevelName(std::uint8_t Level) {
  switch (Level) {
    case LevelError: return "ERROR";
    case LevelWarning: return "WARNING";
    case LevelInfo: return "INFO";
    default: return "";
  }
}

void TFileLogger::PostLine(const std::string& FileName, const std::string& Context, const std::string& Message,
                           std::uint8_t Level) {
  if (!FEnabled) return;
  std::string context = Context;
  std::string message = Message;
  if (FReplaceLineBreaks) {
    context = ReplaceLineBreaks(context);
    if (!LogTrim(context).empty()) context += FSeparator;
    message = ReplaceLineBreaks(message);
  }
  std::string line = "[" + LevelName(Level) + "]" + context + message;
  if (FTimestamp) line = LineTimeStamp(Now()) + line;
  AppendLine(FileName, line);
}

void TFileLogger::AppendLine(const std::string& FileName, const std::string& Line) {
  if (Line.empty() || FileName.empty()) return;
  try {
    const std::string path = FDirectory + LogNamePart(FileName);
    IFileOps& ops = Ops();
    // Append-and-create in one call; an existing log is never truncated.
    const int fd = ops.Open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;  // the line is lost
    TFdGuard guard(ops, fd);
    const std::string data = Line + "\r\n";  // one write, so lines never interleave
    if (!WriteAll(ops, fd, data)) return;    // a write that takes nothing loses the line, too
    struct stat st {};
    if (ops.Fstat(fd, &st) != 0) return;
    guard.Close();
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (FMaxSize != 0 && size / kBlockSize > FMaxSize) RotateFile(path);
  } catch (const std::exception& e) {
    throw ELogPostError(std::string("Fail post log to file: ") + e.what());
  }
}

// Moves the log aside under "<name>_DDMMYY_HHNNSS.txt", or with "_1", "_2" ... before
// ".txt" when that name is taken; an existing file is never replaced. When no name is
// free or the rename fails, the log stays and the next line tries again.
void TFileLogger::RotateFile(const std::string& Path) {
  const std::string stem = ChangeFileExt(Path, "_" + RotateTimeStamp(Now()));
  for (int n = 0; n < kMaxRotateAttempts; ++n) {
    const std::string target = n == 0 ? stem + ".txt" : stem + "_" + std::to_string(n) + ".txt";
    if (Ops().RenameNoReplace(Path.c_str(), target.c_str()) == 0 || errno != EEXIST) return;
  }
}

// The current log and its moved-aside copies: "<stem>.txt" and
// "<stem>_DDMMYY_HHNNSS[_n].txt", where <stem> is the log's name without ".txt".
bool TFileLogger::IsOwnFile(const std::string& Name) const {
  const std::string logName = LogNamePart(FLogFileName);
  if (logName.empty()) return false;
  if (Name == logName) return true;
  const std::string prefix = ChangeFileExt(logName, "") + "_";
  const std::string ext = ".txt";
  if (Name.size() < prefix.size() + 13 + ext.size()) return false;
  if (Name.compare(0, prefix.size(), prefix) != 0) return false;
  if (Name.compare(Name.size() - ext.size(), ext.size(), ext) != 0) return false;
  const std::size_t p = prefix.size();
  if (!IsDigits(Name, p, 6) || Name[p + 6] != '_' || !IsDigits(Name, p + 7, 6)) return false;
  const std::size_t rest = p + 13;
  const std::size_t end = Name.size() - ext.size();
  if (rest == end) return true;
  return Name[rest] == '_' && end > rest + 1 && IsDigits(Name, rest + 1, end - rest - 1);
}

void TFileLogger::PurgeOldFiles() {
  try {
    if (FKeepDays <= 0) FKeepDays = 30;
    IFileOps& ops = Ops();
    if (FDirectory.empty() || !DirExists(ops, FDirectory)) return;
    const auto now = Now();
    const auto maxAge = std::chrono::hours(24) * FKeepDays;
    for (const auto& entry : ListFiles(ops, FDirectory)) {
      if (!IsOwnFile(entry.Name)) continue;
      if (now - entry.LastWrite > maxAge) ops.Unlink((FDirectory + entry.Name).c_str());
    }
  } catch (...) {
    // Removing old files never fails the caller.
  }
}

}  // namespace fp
