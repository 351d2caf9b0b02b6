#include "program/app/uStrRes.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <mutex>

#include "program/app/uConst.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"

namespace fp::uStrRes {
namespace {

struct TBuiltIn {
  const char* key;
  const char16_t* text;
};

// The built-in texts, in key order.
constexpr TBuiltIn kBuiltIn[MessageCount] = {
    {"InternalSystemError", u"Вътрешна системна грешка"},
    {"SeeErrorFileForDetails", u"Моля, погледнете log файла за повече информация."},
    {"ErrorOccurred", u"Възникна грешка при изпълнение на операцията."},
    {"FieldInvalidData", u"Въведени са невалидни данни."},
    {"ActiveTask", u"Моля, изчакайте да завърши текущата задача."},
    {"LogFileNotFound", u"Не е открит лог. файл."},
    {"FinishedOK", u"Изпълнението на задачата приключи успешно."},
    {"DepName", u"Име"},
    {"DepNom", u"Номер"},
    {"DepDescr", u"Описание"},
    {"DepTaxGrp", u"Дан.гр."},
    {"Programmed", u"Въведен"},
    {"ErrorInFile", u"Възникна грешка при обработка на файла."},
    {"ErrorInPRN", u"Възникна грешка при комуникация с принтера."},
    {"PRNInfo", u"Информация за устройството."},
    {"ReadFiles", u"Печат на бележки."},
    {"PrintEmptyBon", u"Печат на празен бон."},
    {"PrintTest", u"Печат на тест."},
    {"ReportByDates", u"Печат на отчет по дати."},
    {"ReportByBlock", u"Печат на отчет по блокове."},
    {"XZReport", u"Печат на X/Z отчет."},
    {"GetDepartments", u"Информация за департаменти."},
    {"SetDepartments", u"Запис на департаменти."},
    {"ErrorCount", u"Брой грешки"},
    {"TaskIsActive", u"Активна задача."},
    {"NoActiveTask", u"Няма активна задача."},
    {"FilesCount", u"Брой обработени файлове"},
    {"SuccessEnd", u"Успешен край."},
    {"StoppedByUser", u"Спрян от потребителя"},
    {"ConfirmToShutdown", u"Потвърдете за изход от програмата."},
    {"Start", u"Старт"},
    {"Pause", u"Пауза"},
    {"Version", u"Версия"},
    {"COMVersion", u"Версия COM"},
    {"ProgDescription", u"Фискален принтер"},
    {"Started", u"Стартиран..."},
    {"PrintBonExist", u"Да ги разпечатам ли ?"},
    {"BonExistDlg", u"Съществуват файлове с касови бележки."},
    {"COMServerNotExist",
     u"COM сървърът не открит или не е регистран в системата. Моля инсталирайте програмата отново."},
    {"PRNFatalError", u"Няма връзка или повреда във Фискалния принтер!"},
    {"SetProgram", u"Моля, настройте програмата."},
    {"SelectBonFolder", u"Изберете папка, където се съхраняват bon файлове."},
    {"ConfirmTooLong", u"Процедурата ще продължи дълго. Моля потвърдете?"},
    {"PrinterNotFound", u"Не е открит активен фискален принтер."},
    {"PrinterFound", u"Открит е принтер на порт"},
    {"TestOK", u"Успешен тест на фискалния притера."},
    {"TestFail", u"Не успешен тест на фискалния притера."},
    {"ComPortsNotFound", u"Не са открити комуникационни портове."},
    {"SelectComPorts", u"Изберете комуникационен порт."},
    {"InvalidValue", u"Въведена е невалидна стойност."},
    {"EnterDevSerial", u"Избрали сте търсене на устройство по сериен номер\nМоля, въведете сериен номер."},
    {"CantWrite", u"Забранен достъп за четене/запис.\nМоля, разрешете за текущия потребител пълен достъп до папка: "},
    {"S_SumIn", u"Служебно въвеждане на суми "},
    {"S_SumOut", u"Служебно извеждане на суми "},
    {"S_CheckPrn", u"Проверка на принтера"},
    {"S_PrnNotFound", u"ФУ със въведения сериен номер не е открит."},
    {"S_UseFirstDev", u"Ще бъде използвано първото налично устройство."},
    {"S_Confirm", u"Моля, потвърдете ..."},
    {"S_CopyBonConfirm", u"Издаване на дубликат е възможно, ако не е извършван касов отчет и има издавани бележки."},
    {"S_CopyBon", u"Дубликат"},
    {"S_EmptyFileBonExt", u"Невалидно разширение за БОН файлове."},
    {"S_InvalidDigit", u"Невалидно число"},
    {"S_OverRange", u"Стойността е извън допустимите граници"},
    {"S_PayTypeInFile", u"Тип плащане от файл"},
    {"S_PayTypeReplace", u"Да се подмени на"},
    {"S_PayType1CantChange", u"Не може да се подмени плащане тип 1"},
    {"S_Error", u"Грешка"},
    // A search by serial number found another printer: %1 the serial number set, %2 the one
    // found, %3 its port number.
    {"S_OtherPrnFound", u"printer %1 not found; found %2 on COM%3"},
    {"S_UnknownFiles", u"Файлове с неизвестен резултат (.unk) в папката"},
    {"S_UnknownFile", u"Файл с неизвестен резултат"},
    {"S_CheckJournal",
     u"Бележката може вече да е отпечатана: проверете контролната лента на принтера, преди да изпратите файла "
     u"отново."},
    {"S_PrinterState", u"Принтерът съобщава"},
    {"S_NoPaper", u"Няма хартия."},
    {"S_CoverOpen", u"Капакът на принтера е отворен."},
    {"S_PrinterFault", u"Принтерът е в неизправност или капакът му е отворен."},
    // What the next opening did with the receipt of a file of unknown outcome (%1 its
    // name; %2 the rest the printer took in cash).
    {"S_LeftCancelled", u"%1: бележката е анулирана, нищо от нея не е отпечатано. Файлът може да се изпрати отново."},
    {"S_LeftClosedCash",
     u"%1: бележката е отпечатана и приключена, като %2 от нея са платени в брой. Не изпращайте файла отново; "
     u"изведете служебно %2 от касата и отразете другото плащане ръчно."},
    {"S_LeftClosed", u"%1: бележката е отпечатана и приключена. Не изпращайте файла отново."},
    {"S_LeftNotKnown",
     u"%1: бележката вече не е отворена в принтера; проверете контролната лента, преди да изпратите файла "
     u"отново."},
    // The start-up question about waiting receipt files: their number, and what each answer does.
    {"S_BonFileCount", u"Брой файлове"},
    {"S_NoDeletesBons",
     u"\"Не\" изтрива файловете, без да ги отпечата. \"Да\", Escape или затваряне на прозореца ги запазва и "
     u"те се отпечатват."},
    // What the operator checks when the printer does not answer.
    {"S_CheckPrinter", u"Проверете кабела, захранването и хартията на принтера."},
};

struct Table {
  std::mutex mutex;
  std::array<QString, MessageCount> texts;
  Table() {
    for (int i = 0; i < MessageCount; ++i) texts[i] = QString::fromUtf16(kBuiltIn[i].text);
  }
};

Table& T() {
  static Table t;
  return t;
}

void SetMessage(TMessageKey key, const QString& text) {
  QString copy = text;
  std::lock_guard<std::mutex> lock(T().mutex);
  std::swap(T().texts[key], copy);
}

bool FileExists(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace

QString Message(TMessageKey key) {
  std::lock_guard<std::mutex> lock(T().mutex);
  return T().texts[key];
}

const char* KeyName(TMessageKey key) { return kBuiltIn[key].key; }

QString BuiltInText(TMessageKey key) { return QString::fromUtf16(kBuiltIn[key].text); }

void ResetMessages() {
  for (int i = 0; i < MessageCount; ++i)
    SetMessage(static_cast<TMessageKey>(i), BuiltInText(static_cast<TMessageKey>(i)));
}

QString EncodeLngText(const QString& text) {
  QString out = text;
  out.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
  out.replace(QLatin1Char('\r'), QLatin1Char('|'));
  out.replace(QLatin1Char('\n'), QLatin1Char('|'));
  return out;
}

QString DecodeLngText(const QString& text) {
  QString out = text;
  out.replace(QLatin1Char('|'), QLatin1Char('\n'));
  return out;
}

// ---- TLngFile ----

TLngFile::TLngFile(const QString& path, const char* routine)
    : FPath(path), FIni(QFile::encodeName(path).toStdString()), FRoutine(routine) {}

QString TLngFile::Read(const QString& section, const QString& key) const {
  return QString::fromStdString(FIni.ReadString(section.toStdString(), key.toStdString(), ""));
}

void TLngFile::Write(const QString& section, const QString& key, const QString& value) {
  if (FFailed) return;
  try {
    FIni.WriteString(section.toStdString(), key.toStdString(), value.toStdString());
  } catch (const EIniFileException& e) {
    // A language file that cannot be written (read-only, no access) must not stop the
    // window that is being created: the texts are still read, only the template is not
    // completed.
    FFailed = true;
    const QString appDir = uProgramInfo::AppDir();
    if (appDir.isEmpty()) return;
    try {
      uProgramLog::WriteLog(appDir + QStringLiteral("Log/"),
                            QStringLiteral("[%1]").arg(QLatin1String(FRoutine)) + QString::fromStdString(e.what()),
                            true);
    } catch (const std::exception&) {
      // No log folder: the failure stays unlogged.
    }
  }
}

void ReadLngString(TLngFile& file, const QString& section, const QString& key, QString& text) {
  const QString value = DecodeLngText(file.Read(section, key));
  if (!value.isEmpty())
    text = value;
  else
    file.Write(section, key, EncodeLngText(text));
}

bool LoadMessages(const QString& path) {
  if (!FileExists(path)) return false;
  TLngFile file(path, "LoadMessages");
  const QString section = QString::fromLatin1(MessagesSection);
  for (int i = 0; i < MessageCount; ++i) {
    const auto key = static_cast<TMessageKey>(i);
    QString text = Message(key);
    ReadLngString(file, section, QString::fromLatin1(KeyName(key)), text);
    SetMessage(key, text);
  }
  return true;
}

bool LoadMessages() { return LoadMessages(LngFilePath()); }

QString LngFilePath(const QString& fileName) {
  const QString appDir = uProgramInfo::AppDir();
  const QString inTranslations = appDir + QLatin1String(TranslationsFolder) + QLatin1Char('/') + fileName;
  return FileExists(inTranslations) ? inTranslations : appDir + fileName;
}

}  // namespace fp::uStrRes
