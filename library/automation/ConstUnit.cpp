#include "library/automation/ConstUnit.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace fp {

namespace {

// The log writer of the process and what the next one is made with. Freed when the
// library is unloaded (or the program ends), which removes old files once more.
struct TLogState {
  std::mutex Lock;
  std::unique_ptr<TFileLogger> Logger;
  std::string BaseNameOverride;
  TLogClock Clock;
  ~TLogState();
};

// Set once the state is gone: a line logged from another module's clean-up after that
// is dropped instead of touching a destroyed writer.
std::atomic<bool> gUnloaded{false};

TLogState& State() {
  static TLogState state;
  return state;
}

TLogState::~TLogState() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Logger.reset();
  }
  gUnloaded = true;
}

// The folder part of Path: everything before its last "/" (the root keeps its "/").
std::string DirectoryPart(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return Path.substr(0, slash);
}

}  // namespace

std::string LibraryModuleFileName() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LogToFile), &info) != 0 && info.dli_fname && info.dli_fname[0] != '\0')
    return info.dli_fname;
  // The main program may come back without a name.
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

void LogToFile(const std::string& Msg, const std::string& Path, std::uint8_t Level) {
  if (gUnloaded) return;
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  if (!s.Logger) {
    auto logger = std::make_unique<TFileLogger>(1, s.Clock);
    logger->FDirectory = DirectoryPart(Path);
    logger->FBaseName = LogNamePart(s.BaseNameOverride.empty() ? LibraryModuleFileName() : s.BaseNameOverride);
    // One level is created when missing; a failure only loses the lines.
    if (!logger->FDirectory.empty()) FileOps().Mkdir(logger->FDirectory.c_str(), 0755);
    logger->SetActive(true);
    s.Logger = std::move(logger);
  }
  switch (Level) {
    case TFileLogger::LevelError: s.Logger->LogError(Msg); break;
    case TFileLogger::LevelWarning: s.Logger->LogWarning(Msg); break;
    case TFileLogger::LevelInfo: s.Logger->LogInfo(Msg); break;
    default: break;
  }
}

std::string CurrentLogFileName() {
  if (gUnloaded) return "";
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  return s.Logger ? s.Logger->FLogFileName : std::string();
}

std::string MaskPassword(const std::string& Password) { return Password.empty() ? std::string() : std::string("***"); }

void SetLogToFileBaseName(const std::string& BaseName) {
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  s.BaseNameOverride = BaseName;
}

void SetLogToFileClock(TLogClock Clock) {
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  s.Clock = std::move(Clock);
}

void ResetLogToFile() {
  TLogState& s = State();
  std::unique_ptr<TFileLogger> old;
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    old = std::move(s.Logger);
  }
  old.reset();
}

}  // namespace fp
