#pragma once
// What the program's modules share and that belongs to no one of them: the silent error,
// the settings that the settings file, the settings windows and the task runner share
// (the runner copies them into every task at its start, so a job never reads them here),
// a few constants, and QString conversion of code page 1251 text. Nothing here needs a
// display. The program log is in uProgramLog, the program's folder and version in
// uProgramInfo, the receipt listing in uFolderWatch, the receipt code pages in
// platform/Cp1251.
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
constexpr uint8_t PayTypeRowCount = 11;

// ---- Shared settings. Every read returns a copy taken under a lock, so a thread never
// sees a half-replaced value. ----

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

// 8-bit code page 1251 text and QString.
QString FromCp1251(std::string_view text);
std::string ToCp1251(const QString& text);

}  // namespace uConst
}  // namespace fp
