#pragma once
// The library's single log writer, shared by every automation object of the process.
#include <cstdint>
#include <string>

#include "library/automation/FileLogger.h"

namespace fp {

// Writes Msg into the process's log: level 0 an error line, 1 a warning line, 2 an
// information line; other levels write nothing. The first call of the process creates
// the log writer in the folder part of Path (everything before its last "/", created
// one level deep when missing) and removes the writer's old files there; later calls
// ignore Path. The log file is "<name of the library file without extension>_Log.txt".
// Calls from several threads are serialised. A failure other than the file system's
// raises ELogPostError.
void LogToFile(const std::string& Msg, const std::string& Path, std::uint8_t Level);

// Full path of the loaded module that holds the library's code: the shared library
// itself, or the program into which the code is linked.
std::string LibraryModuleFileName();

// The full name of the current log file; empty before the first LogToFile call.
std::string CurrentLogFileName();

// Mask for a password in a log line: "***", or empty when the password is empty, so the
// log shows whether one was given but never what it is or how long.
std::string MaskPassword(const std::string& Password);

// For tests: the file name (instead of the module's) and the clock that the next
// process-wide log writer is made with; empty values restore the defaults.
void SetLogToFileBaseName(const std::string& BaseName);
void SetLogToFileClock(TLogClock Clock);
// For tests: frees the process-wide log writer as unloading the library does (its old
// files are removed once more); the next LogToFile call creates a new one.
void ResetLogToFile();

}  // namespace fp
