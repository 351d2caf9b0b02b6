#pragma once
// The About window: the program file's name and version, the automation object's
// version, a notice and a web link.
#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

namespace fp {

class IMainWindowServices;

class TAboutDlg : public QDialog {
  Q_OBJECT
 public:
  static const QString NoticeText;
  static const QString WebAddress;

  explicit TAboutDlg(QWidget* Owner = nullptr);

  // Opens the address held in the link's hint with the desktop.
  void LabelWebClick();

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* lblProgName;
  QLabel* lblVerCOM;
  QLabel* lblNotice;
  QLabel* LabelWeb;
  QPushButton* btnClose;

 protected:
  // Every showing loads the messages and translates the window. The two version labels
  // stay as the caller filled them: lblProgName is excluded by the translator, and
  // lblVerCOM is kept out here, since a text from the language file would only be the
  // version of some earlier run.
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
};

namespace AboutDialog {

// The program line of the window: the program file's name without its folder, a blank
// and the file version.
QString ProgramLine(const QString& ProgramFile, const QString& Version);

// The main window's About command: creates the window, fills lblProgName and lblVerCOM
// (the automation object's version from the start-up probe) and shows it modally.
void ShowAbout(IMainWindowServices& Main);

}  // namespace AboutDialog
}  // namespace fp
