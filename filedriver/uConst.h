#pragma once
// The program-wide toolbox: the few settings that several modules share, the module's
// constants, the writer of the two program logs, the listing of waiting receipt files,
// the code page conversion of receipt lines, the folder write test and the program's
// version text. Nothing here needs a display.
//
// Text conventions: paths, names and messages are QString; 8-bit code page 1251 text
// (receipt lines) is std::string. Folders are written with a trailing "/".
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fp {

// A silent error: it ends the operation like any failure, but the application-wide
// handler neither shows nor logs it.
class EAbort : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A pay-type replacement: the pay type of a receipt file and the pay type sent to the
// printer instead.
struct TPayTypePair {
  int32_t FilePayType = 0;
  int32_t PrnPayType = 0;
  bool operator==(const TPayTypePair&) const = default;
};

namespace uConst {

constexpr int KeepFilesDays = 20;
constexpr int DefaultCheckIntervalSec = 30;
constexpr uint8_t EncodingOEM = 1;
constexpr uint8_t EncodingCP855 = 2;
constexpr uint8_t PayTypeRowCount = 11;

// Code page 855 to code page 1251 for the bytes 0x80-0xFF; characters that code page 1251
// lacks (block, shade and box-drawing characters) become 0x00.
extern const std::array<uint8_t, 128> CP855ToCP1251;
// The same for code page 866, the OEM code page of encoding 1.
extern const std::array<uint8_t, 128> CP866ToCP1251;

inline constexpr char NormalLogName[] = "DriverFiscalPrinterX4_Log.txt";
inline constexpr char ExceptionLogName[] = "DriverFiscalPrinterX4_Exception.txt";
inline constexpr char LogDirError[] = "Can not create \"Log\" directory.";

// ---- Shared globals. Every read returns a copy taken under a lock, so a thread never
// sees a half-replaced value. ----

// Program folder with a trailing "/"; set once by the main window.
QString AppDir();
void SetAppDir(const QString& dir);
// Default cashier password (settings key CashierPas).
QString CashierPas();
void SetCashierPas(const QString& password);
// Pay-type replacement pairs (settings section PAYTYPES).
std::vector<TPayTypePair> PayTypePairs();
void SetPayTypePairs(const std::vector<TPayTypePair>& pairs);
// Extension of receipt files, without the dot (settings key BonFileExt).
QString BonFileExt();
void SetBonFileExt(const QString& ext);
// The PLU number field of a receipt line is the department number.
bool UsePluAsDepartNo();
void SetUsePluAsDepartNo(bool on);

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

// The 32-bit DOS date-time of a local time (seconds in steps of 2; years before 1980
// give 1 January 1980, years after 2107 the last representable moment).
uint32_t DosDateTime(const QDateTime& local);

// One receipt line from encoding `code` (0 code page 1251, 1 OEM code page 866, 2 code
// page 855; any other code: unchanged) to code page 1251; same length.
std::string ConvertCharEncoding(std::string_view line, uint8_t code);
// Code page 866 to code page 1251, same length.
std::string OemToAnsiStr(std::string_view text);

// True when a file can be created in the folder (which ends in "/"); the test file
// "chktmp.txt" is removed again. False also when such a file is already there.
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

// 8-bit code page 1251 text and QString.
QString FromCp1251(std::string_view text);
std::string ToCp1251(const QString& text);

}  // namespace uConst
}  // namespace fp
