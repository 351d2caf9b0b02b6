#include "program/ui/AboutDialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/LayoutTestSupport.h"
#include "platform/IniFile.h"
#include "program/app/uProgramInfo.h"

namespace fp::test {
namespace {

using test::TFakeMain;
using test::WhenModal;

TEST(AboutTest, ProgramLineIsTheFileNameABlankAndTheVersion) {
  EXPECT_EQ(AboutDialog::ProgramLine(QStringLiteral("/opt/fp/DriverFiscalPrinterX4"), QStringLiteral("1.0.0.0")),
            QStringLiteral("DriverFiscalPrinterX4 1.0.0.0"));
  EXPECT_EQ(AboutDialog::ProgramLine(QStringLiteral("/opt/fp/Driver.exe"), QString()), QStringLiteral("Driver.exe "));
}

TEST(AboutTest, ShowsTheProgramAndTheAutomationVersions) {
  TFakeMain main;
  main.DriverVersion = QStringLiteral("4.2.1.7");
  QString program, com;
  WhenModal<TAboutDlg>([&](TAboutDlg* dlg) {
    program = dlg->lblProgName->text();
    com = dlg->lblVerCOM->text();
    dlg->btnClose->click();
  });
  AboutDialog::ShowAbout(main);
  EXPECT_EQ(program, QFileInfo(uProgramInfo::ProgramFilePath()).fileName() + " " + uProgramInfo::GetFileVersion());
  EXPECT_FALSE(uProgramInfo::GetFileVersion().isEmpty());
  EXPECT_EQ(com, QStringLiteral("4.2.1.7"));
}

// A language file from an earlier run holds old version texts: the labels keep the
// versions of this run, the version of the automation object is not written into the
// file, and every other text is translated at each showing.
TEST(AboutTest, TranslatedAtEveryShowingWithTheVersionsLeftAlone) {
  const QString lng = test::LngFileOfAppDir();
  {
    TIniFile ini(lng.toStdString());
    ini.WriteString("AboutDlg", "lblProgName", "old 0.9");
    ini.WriteString("AboutDlg", "btnClose", "Close");
  }
  TAboutDlg dlg;
  dlg.lblProgName->setText(QStringLiteral("DriverFiscalPrinterX4 1.0.0.0"));
  dlg.lblVerCOM->setText(QStringLiteral("4.2.1.7"));
  dlg.show();
  EXPECT_EQ(dlg.btnClose->text(), QStringLiteral("Close"));
  EXPECT_EQ(dlg.lblProgName->text(), QStringLiteral("DriverFiscalPrinterX4 1.0.0.0"));
  EXPECT_EQ(dlg.lblVerCOM->text(), QStringLiteral("4.2.1.7"));
  EXPECT_EQ(dlg.lblVerCOM->objectName(), QStringLiteral("lblVerCOM"));
  {
    TIniFile ini(lng.toStdString());
    EXPECT_FALSE(ini.ValueExists("AboutDlg", "lblVerCOM"));
    EXPECT_EQ(ini.ReadString("AboutDlg", "LabelWeb.Hint", ""), TAboutDlg::WebAddress.toStdString());
    ini.WriteString("AboutDlg", "lblVerCOM", "1.0 stale");
    ini.WriteString("AboutDlg", "btnClose", "Shut");
  }
  dlg.hide();
  dlg.show();
  EXPECT_EQ(dlg.btnClose->text(), QStringLiteral("Shut"));
  EXPECT_EQ(dlg.lblVerCOM->text(), QStringLiteral("4.2.1.7"));
  dlg.hide();
  QFile::remove(lng);
}

// Every caption fits its widget, no controls overlap and the window fits the screen.
TEST(AboutTest, Layout) {
  TAboutDlg dlg;
  dlg.lblProgName->setText(AboutDialog::ProgramLine(uProgramInfo::ProgramFilePath(), uProgramInfo::GetFileVersion()));
  dlg.lblVerCOM->setText(QStringLiteral("4.2.1.7"));
  test::ShowAndSettle(dlg);
  EXPECT_THAT(test::LayoutFaults(dlg), ::testing::IsEmpty());
}

}  // namespace
}  // namespace fp::test
