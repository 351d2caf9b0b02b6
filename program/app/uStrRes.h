#pragma once
// The program's message table and its language file.
//
// Every user-visible message of the program lives in one process-wide table with
// Bulgarian texts built in; a language file ("DriverFiscalPrinterX4.lng", looked for in
// the Translations folder of the program folder, then in the program folder) overrides
// them from its section "Messages". The same file carries the texts of the windows, one
// section per window. Whatever the file lacks is written back with the text the program
// holds, so that a language file becomes a complete template through ordinary use; the
// program never creates the file.
//
// In memory a line break is "\n"; in the file every CR LF, CR or LF is a "|".
// The message table and the file functions need no display; only the window translator
// (TranslateForm and below, in uStrResForms.cpp) works on widgets.
#include <QString>

#include "platform/IniFile.h"

class QObject;
class QWidget;

namespace fp::uStrRes {

// The message keys, in the order in which they are read from the file.
enum TMessageKey : int {
  InternalSystemError,
  SeeErrorFileForDetails,
  ErrorOccurred,
  FieldInvalidData,
  ActiveTask,
  LogFileNotFound,
  FinishedOK,
  DepName,
  DepNom,
  DepDescr,
  DepTaxGrp,
  Programmed,
  ErrorInFile,
  ErrorInPRN,
  PRNInfo,
  ReadFiles,
  PrintEmptyBon,
  PrintTest,
  ReportByDates,
  ReportByBlock,
  XZReport,
  GetDepartments,
  SetDepartments,
  ErrorCount,
  TaskIsActive,
  NoActiveTask,
  FilesCount,
  SuccessEnd,
  StoppedByUser,
  ConfirmToShutdown,
  Start,
  Pause,
  Version,
  COMVersion,
  ProgDescription,
  Started,
  PrintBonExist,
  BonExistDlg,
  COMServerNotExist,
  PRNFatalError,
  SetProgram,
  SelectBonFolder,
  ConfirmTooLong,
  PrinterNotFound,
  PrinterFound,
  TestOK,
  TestFail,
  ComPortsNotFound,
  SelectComPorts,
  InvalidValue,
  EnterDevSerial,
  CantWrite,
  S_SumIn,
  S_SumOut,
  S_CheckPrn,
  S_PrnNotFound,
  S_UseFirstDev,
  S_Confirm,
  S_CopyBonConfirm,
  S_CopyBon,
  S_EmptyFileBonExt,
  S_InvalidDigit,
  S_OverRange,
  S_PayTypeInFile,
  S_PayTypeReplace,
  S_PayType1CantChange,
  S_Error,
  S_OtherPrnFound,
  S_UnknownFiles,
  S_UnknownFile,
  S_CheckJournal,
  S_PrinterState,
  S_NoPaper,
  S_CoverOpen,
  S_PrinterFault,
  S_LeftCancelled,
  S_LeftClosedCash,
  S_LeftClosed,
  S_LeftNotKnown,
  S_BonFileCount,
  S_NoDeletesBons,
  S_CheckPrinter,
  MessageCount
};

// The current text of a message (a copy; safe from any thread).
QString Message(TMessageKey key);
// The key's name in the language file.
const char* KeyName(TMessageKey key);
// The built-in text of a message.
QString BuiltInText(TMessageKey key);
// Puts every built-in text back.
void ResetMessages();

inline constexpr char LngFileName[] = "DriverFiscalPrinterX4.lng";
inline constexpr char MessagesSection[] = "Messages";
inline constexpr char TranslationsFolder[] = "Translations";
// Components that are never translated, each name followed by ";".
inline constexpr char ExcludedComponents[] =
    "lblCurrentTaskName;lblColumnCount;lblLastTaskName;lblLastTaskResult;lbCurrentStatus;lblModelName;"
    "lblSerialNo;lblFMNom;lblLastDoc;lblNextInvNo;btnPause;frmMain;lblProgName;Version;lblComError;";

// The value codec of the file: CR LF, CR and LF become "|" when written; "|" becomes
// "\n" when read.
QString EncodeLngText(const QString& text);
QString DecodeLngText(const QString& text);

// A language file during one pass (one load of the messages or one translation of a
// window). The first write-back that fails is logged once to the exception log of the
// program's log folder, and the pass stops writing back but goes on reading.
class TLngFile {
 public:
  // routine: the bracketed name of the pass in its log line ("LoadMessages").
  TLngFile(const QString& path, const char* routine);
  // The raw value of a key (empty when absent).
  QString Read(const QString& section, const QString& key) const;
  // Writes a value (already encoded) unless a write of this pass has failed.
  void Write(const QString& section, const QString& key, const QString& value);
  bool WriteBackFailed() const { return FFailed; }
  const QString& Path() const { return FPath; }

 private:
  QString FPath;
  TIniFile FIni;
  const char* FRoutine;
  bool FFailed = false;
};

// The value rule: a non-empty decoded value replaces `text`; otherwise the key is written
// with the encoded `text`, which stays.
void ReadLngString(TLngFile& file, const QString& section, const QString& key, QString& text);

// Reads the section "Messages" of the file into the table, writing back every key that
// is missing or empty. False, with nothing written, when the file does not exist.
bool LoadMessages(const QString& path);
// The same from the language file of the program folder (Translations first).
bool LoadMessages();

// Where a language file of that name is used from: AppDir/Translations/<name> when it
// exists, else AppDir/<name> (which need not exist).
QString LngFilePath(const QString& fileName = QString::fromLatin1(LngFileName));

// ---- The window translator (widgets) ----

// Translates the window from the language file of that name (bare file name), from the
// first of the two places that holds it; nothing when neither does.
void TranslateForm(const QString& fileName, QWidget* window);
// Translates the window itself, then every object it owns, in tree order. The section is
// the window's object name. False when the file does not exist.
bool TranslateFormFromFile(const QString& path, QWidget* window);
// Applies the file's texts to one object, or writes its current texts back.
void TranslateComponent(TLngFile& file, const QString& section, QObject* component);

}  // namespace fp::uStrRes
