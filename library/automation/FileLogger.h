#pragma once
// The library's text log: three levels, a time stamp on every line, rotation by size and
// removal of the writer's own old files. Lines are 8-bit code page 1251 text.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "library/protocol/BaseDeviceUnit.h"
#include "platform/FileOps.h"

namespace fp {

// The wall clock of the log writer: time stamps, rotated names and the age of old files.
using TLogClock = std::function<std::chrono::system_clock::time_point()>;

// Raised when appending a line fails for a reason other than the file system (the file
// system's own failures only lose the line). A silent abort, as the library's own
// exceptions are.
class ELogPostError : public EAbort {
 public:
  using EAbort::EAbort;
};

class TFileLogger {
 public:
  static constexpr std::uint8_t LevelError = 0;
  static constexpr std::uint8_t LevelWarning = 1;
  static constexpr std::uint8_t LevelInfo = 2;

  // Clock defaults to the system clock; Ops, which must outlive the logger, to the
  // process's FileOps().
  explicit TFileLogger(std::uint8_t Mode, TLogClock Clock = {}, IFileOps* Ops = nullptr);
  // Removes old files once more.
  ~TFileLogger();
  TFileLogger(const TFileLogger&) = delete;
  TFileLogger& operator=(const TFileLogger&) = delete;

  // Gives a non-empty FDirectory its trailing delimiter, sets FEnabled, builds
  // FLogFileName and removes old files.
  void SetActive(bool Value);

  void LogContextError(const std::string& Context, const std::string& Msg);
  void LogContextWarning(const std::string& Context, const std::string& Msg);
  void LogContextInfo(const std::string& Context, const std::string& Msg);
  void LogError(const std::string& Msg);
  void LogWarning(const std::string& Msg);
  void LogInfo(const std::string& Msg);

  // Composes one line and appends it to FileName (its name part, inside FDirectory).
  void PostLine(const std::string& FileName, const std::string& Context, const std::string& Message,
                std::uint8_t Level);
  // Appends Line and CR LF; moves the file aside once it has grown past FMaxSize blocks.
  // A file-system failure loses the line silently; any other failure raises
  // ELogPostError "Fail post log to file: " + its message.
  void AppendLine(const std::string& FileName, const std::string& Line);
  // Deletes the writer's own files in FDirectory (the current log and its moved-aside
  // copies) last written more than FKeepDays days ago. Never fails.
  void PurgeOldFiles();

  // "ERROR", "WARNING", "INFO"; empty for another level.
  static std::string LevelName(std::uint8_t Level);

  std::uint8_t FMode;
  std::string FSeparator = ". ";
  bool FEnabled = true;
  bool FReplaceLineBreaks = true;
  bool FTimestamp = true;
  std::string FDirectory;
  std::string FBaseName;
  std::int32_t FKeepDays = 30;
  std::string FLogFileName;
  std::uint32_t FMaxSize = 600;  // in 128-byte blocks; 0 = no rotation

 private:
  std::chrono::system_clock::time_point Now() const;
  IFileOps& Ops() const;
  void RotateFile(const std::string& Path);
  bool IsOwnFile(const std::string& Name) const;

  TLogClock FClock;
  IFileOps* FOps;
};

// Text helpers of the log writer, also used by its front end.
// Removes every character up to 0x20 at both ends.
std::string LogTrim(const std::string& Text);
// What follows the last "/" of Path.
std::string LogNamePart(const std::string& Path);

}  // namespace fp
