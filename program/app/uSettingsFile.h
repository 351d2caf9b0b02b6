#pragma once
// The program's settings file: the INI file named after the program, in the program
// folder. The main window loads it once at start into its settings fields (TMainSettings)
// and the shared globals of uConst, lets the command line override the port and the
// receipt folder, and saves everything back at exit and after the settings and pay-type
// windows. No widgets here.
#include <QString>
#include <QStringList>

#include <cstdint>

#include "program/app/uConst.h"

namespace fp {

// The main window's settings fields, with the defaults of an absent key.
struct TMainSettings {
  int32_t CheckPrnIntevalSec = uConst::DefaultCheckIntervalSec;
  QString SearchPath;
  int32_t ComPort = 1;
  int32_t BaudRate = 115200;
  bool RepFilePrint = true;
  bool RepDetailPrint = true;
  bool CreateLOG = true;
  uint8_t CharEncoding = 0;
  QString DeviceSerialNom;
  bool AutoSerachDevice = false;
  bool WatGrpBeginFromOne = false;
};

namespace uSettingsFile {
inline constexpr char Parameters[] = "PARAMETERS";
inline constexpr char PayTypes[] = "PAYTYPES";
// The highest port number taken from the file or the command line: the library keeps the
// port in 8 bits.
constexpr int32_t MaxComPort = 255;
}  // namespace uSettingsFile

// AppDir + the program file's name with its extension replaced by ".ini".
QString SettingsFilePath(const QString& appDir, const QString& programFile);

// Reads the file into `s` (which is reset to the defaults first) and into
// uConst::CashierPas, BonFileExt, UsePluAsDepartNo and PayTypePairs. Writes PayNo_0 and
// WatGrpBeginFromOne when they are absent (creating the file when it is missing); when such
// a write fails the default is used all the same and `writeError` (when given and still
// empty) gets the failure's text ("Unable to write to " + the file). A ComPort below 0 or
// above MaxComPort is replaced by the default; the result holds one line (for the log) for
// each value so replaced.
QStringList LoadSettings(const QString& iniPath, TMainSettings& s, QString* writeError = nullptr);

// Writes `s` and the globals above into the file, all keys in one rewrite; PAYTYPES is
// rewritten from uConst::PayTypePairs. Raises EIniFileException when the file cannot be
// written (it then stays as it was); the caller logs "[SaveSettings] " + the text.
void SaveSettings(const QString& iniPath, const TMainSettings& s);

// The command-line overrides (`args` without the program's own name): a first argument
// that begins with a whole number from 1 to 255 sets the port; a second one that names
// an existing folder sets the receipt folder, as given.
void ApplyCommandLine(const QStringList& args, TMainSettings& s);

}  // namespace fp
