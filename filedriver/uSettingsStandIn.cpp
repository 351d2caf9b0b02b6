// Stand-ins for the operator's windows until the real ones are in place: the settings
// window edits only the receipt folder, the report-period window asks for a block range,
// the About window is a message. The departments and the payment-type window are not
// offered yet.
#include <QFileInfo>
#include <QRegularExpression>

#include "filedriver/uConst.h"
#include "filedriver/uDialogs.h"
#include "filedriver/uOperatorWindows.h"
#include "filedriver/uStrRes.h"

namespace fp {
namespace {

class TStandInWindows : public IOperatorWindows {
 public:
  bool EditSettings(IMainWindowServices& Main) override {
    Main.StopFileTimer();
    QString folder = Main.Settings().SearchPath;
    bool ok = false;
    for (;;) {
      if (!Dialogs().InputQuery(Main.MainWindow(), QStringLiteral("Настройки"), QStringLiteral("Папка BON"), folder))
        break;
      const QString f = folder.trimmed();
      if (f.isEmpty()) {
        ShowError(Main.MainWindow(), QStringLiteral("Моля, въведете валиден път към папка BON. "));
      } else if (!QFileInfo(f).isDir()) {
        ShowError(Main.MainWindow(), QStringLiteral("Папката не е открита.\rМоля, въведете валиден път към папка BON. "));
      } else {
        ok = true;
        break;
      }
    }
    if (ok) {
      Main.Settings().SearchPath = folder;
      Main.SaveSettings();
      Main.CheckConnectivity();
    }
    Main.RestartFileTimer();
    return ok;
  }

  bool SelectPeriod(IMainWindowServices& Main, TReportPeriod& Period) override {
    QString text = QStringLiteral("1 1");
    if (!Dialogs().InputQuery(Main.MainWindow(), QStringLiteral("Отчети"), QStringLiteral("От блок до блок"), text))
      return false;
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[\\s-]+")), Qt::SkipEmptyParts);
    bool ok1 = false, ok2 = false;
    const int first = parts.size() == 2 ? parts[0].toInt(&ok1) : 0;
    const int last = parts.size() == 2 ? parts[1].toInt(&ok2) : 0;
    if (!ok1 || !ok2 || first < 1 || last < 1 || first > 1000000 || last > 1000000) {
      ShowWarning(Main.MainWindow(), uStrRes::Message(uStrRes::InvalidValue) + QStringLiteral(": ") + text);
      return false;
    }
    Period = TReportPeriod{};
    Period.FirstBlock = first;
    Period.LastBlock = last;
    return true;
  }

  void EditDepartments(IMainWindowServices&) override {}

  void EditPayTypes(IMainWindowServices&) override {}

  void ShowAbout(IMainWindowServices& Main) override {
    ShowInfo(Main.MainWindow(), QStringLiteral("Драйвер за фискален принтер\r") +
                                    QFileInfo(uConst::ProgramFilePath()).fileName() + QStringLiteral(" ") +
                                    uConst::GetFileVersion() + QStringLiteral("\r") +
                                    uStrRes::Message(uStrRes::COMVersion) + QStringLiteral(": ") +
                                    Main.ComServerVersion());
  }
};

}  // namespace

std::unique_ptr<IOperatorWindows> CreateOperatorWindows() { return std::make_unique<TStandInWindows>(); }

}  // namespace fp
