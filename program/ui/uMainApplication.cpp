// The program's application object: Qt's own texts in the program's language, and the
// errors that escape an event handler.
#include "program/ui/uMain.h"

#include <QLibraryInfo>
#include <QTranslator>

#include <exception>

#include "program/app/uConst.h"
#include "program/app/uMessageTexts.h"

namespace fp {

QObject* TDriverApplication::InstallQtTranslations(QCoreApplication& App, const QString& Folder) {
  const QString folder = Folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : Folder;
  auto* translator = new QTranslator(&App);
  // "qt_bg" names the base, widgets and other modules' files together.
  if (!translator->load(QStringLiteral("qt_") + QLatin1String(QtLanguage), folder) &&
      !translator->load(QStringLiteral("qtbase_") + QLatin1String(QtLanguage), folder)) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

TDriverApplication::TDriverApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
  InstallQtTranslations(*this);
}

bool TDriverApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    if (ExceptionHandler) ExceptionHandler(Receiver, ExceptionText(e));
  } catch (...) {
    if (ExceptionHandler) ExceptionHandler(Receiver, QStringLiteral("unknown error"));
  }
  return false;
}

}  // namespace fp
