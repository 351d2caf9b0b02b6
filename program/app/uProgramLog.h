#pragma once
// The writer of the program's two logs, the normal log and the exception log, in the log
// folder. Nothing here needs a display.
#include <QDateTime>
#include <QString>

#include <functional>
#include <mutex>

namespace fp::uProgramLog {

inline constexpr char NormalLogName[] = "DriverFiscalPrinterX4_Log.txt";
inline constexpr char ExceptionLogName[] = "DriverFiscalPrinterX4_Exception.txt";
inline constexpr char LogDirError[] = "Can not create \"Log\" directory.";

// The process-wide lock of the log writer (re-entrant for the thread that holds it).
std::recursive_mutex& LogLock();

// The local time that stamps log lines and names rotated logs.
using TLogClock = std::function<QDateTime()>;

// Writes one line (time stamp, " - ", message, CR LF) into the normal or the exception
// log of the folder, rotating a log that has outgrown its limit. The time comes from
// `clock` (tests), the system clock when it is empty. An empty folder writes nothing.
// Raises std::runtime_error(LogDirError) when the folder is missing and cannot be created;
// every other failure loses the line silently.
void WriteLog(const QString& folder, const QString& message, bool exceptionLog, const TLogClock& clock = {});

}  // namespace fp::uProgramLog
