#include "program/ui/uSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <optional>

#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/LayoutTestSupport.h"
#include "program/app/uConst.h"
#include "program/ui/uDialogs.h"
#include "program/app/uStrRes.h"
#include "platform/FileOps.h"
#include "platform/IniFile.h"
#include "tests/support/PortTestSupport.h"

namespace fp::test {
namespace {

using test::TFakeMain;
using test::WhenModal;
using uStrRes::Message;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FOlder.isValid());
    uConst::SetCashierPas(QString());
    uConst::SetBonFileExt(QStringLiteral("bon"));
    uConst::SetUsePluAsDepartNo(false);
    FMain.Values.SearchPath = FOlder.path();
  }

  // A settings window over the fake main window, filled from its settings and shown.
  std::unique_ptr<TfrmSettings> OpenWindow() {
    auto frm = std::make_unique<TfrmSettings>(FMain, &FMain.Window);
    frm->LoadFrom(FMain.Values);
    frm->show();
    return frm;
  }

  test::TScopedTempRegistry FRegistry;
  test::TScopedFakeDevices FDevices{test::ThreePorts()};
  TScriptedDialogs FScript;
  TScopedDialogs FScriptInstalled{FScript};
  QTemporaryDir FOlder;
  TFakeMain FMain;
};

TEST_F(SettingsTest, PortListIsSortedAsTextWithoutRegardToCase) {
  QStringList ports;
  uSettings::GetComPortList(ports);
  EXPECT_EQ(ports, QStringList({"COM1", "COM10", "COM2"}));

  auto frm = OpenWindow();
  QStringList items;
  for (int i = 0; i < frm->cbComPorts->count(); ++i) items << frm->cbComPorts->itemText(i);
  EXPECT_EQ(items, ports);
  QStringList speeds;
  for (int i = 0; i < frm->cbBaudRate->count(); ++i) speeds << frm->cbBaudRate->itemText(i);
  EXPECT_EQ(speeds, QStringList({"9600", "19200", "38400", "56000", "57600", "115200"}));
}

TEST_F(SettingsTest, NoSerialPortsGiveAnEmptyList) {
  test::TScopedFakeDevices none;
  QStringList ports{QStringLiteral("stale")};
  uSettings::GetComPortList(ports);
  EXPECT_TRUE(ports.isEmpty());
}

// Each case breaks one value, with every value checked before it valid: OK shows the
// one refusal of that check and keeps the window open.
struct TOkCheckCase {
  const char* Name;
  std::function<void(TfrmSettings&, const QString& folder)> Break;
  std::function<QString()> Refusal;
};

TEST_F(SettingsTest, ChecksOnOkInTheirOrder) {
  const std::vector<TOkCheckCase> cases = {
      {"empty folder", [](TfrmSettings& f, const QString&) { f.cbBonFiles->setText(QStringLiteral("   ")); },
       [] { return TfrmSettings::EnterValidFolder; }},
      {"missing folder",
       [](TfrmSettings& f, const QString& folder) { f.cbBonFiles->setText(folder + QStringLiteral("/missing")); },
       [] { return TfrmSettings::FolderNotFound + "\r" + TfrmSettings::EnterValidFolder; }},
      {"port not a number",
       [](TfrmSettings& f, const QString&) { f.cbComPorts->setCurrentText(QStringLiteral("COMx")); },
       [] { return Message(uStrRes::InvalidValue) + "\r[COMx]"; }},
      {"port above 255",
       [](TfrmSettings& f, const QString&) { f.cbComPorts->setCurrentText(QStringLiteral("COM300")); },
       [] { return Message(uStrRes::InvalidValue) + "\r[COM300]"; }},
      {"port not listed", [](TfrmSettings& f, const QString&) { f.cbComPorts->setCurrentText(QStringLiteral("COM7")); },
       [] { return TfrmSettings::SelectExistingPort; }},
      {"empty extension", [](TfrmSettings& f, const QString&) { f.edtFileExt->setText(QStringLiteral("  ")); },
       [] { return Message(uStrRes::S_EmptyFileBonExt); }},
      {"interval emptied",
       [](TfrmSettings& f, const QString&) { f.edChekPrnInterval->findChild<QLineEdit*>()->setText(QString()); },
       [] { return Message(uStrRes::S_InvalidDigit); }},
  };
  for (const TOkCheckCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FScript.Clear();
    auto frm = OpenWindow();
    frm->cbComPorts->setCurrentText(QStringLiteral("COM2"));
    c.Break(*frm, FOlder.path());
    frm->btnOK->click();
    EXPECT_TRUE(frm->isVisible());
    ASSERT_EQ(FScript.Shown().size(), 1u);
    EXPECT_EQ(FScript.Shown()[0].Kind, TDlgKind::Error);
    EXPECT_EQ(FScript.Shown()[0].Text, c.Refusal());
  }
  // With every value valid OK closes without a word.
  FScript.Clear();
  auto frm = OpenWindow();
  frm->cbComPorts->setCurrentText(QStringLiteral(" com10 "));
  frm->btnOK->click();
  EXPECT_FALSE(frm->isVisible());
  EXPECT_EQ(frm->result(), QDialog::Accepted);
  EXPECT_TRUE(FScript.Shown().empty());
}

TEST_F(SettingsTest, FolderThatCannotBeWrittenIsRefusedAtEveryStepOfTheWriteTest) {
  for (TFileOp op : {TFileOp::Open, TFileOp::Write, TFileOp::Close, TFileOp::Stat, TFileOp::Unlink}) {
    SCOPED_TRACE(static_cast<int>(op));
    FScript.Clear();
    auto frm = OpenWindow();
    frm->cbComPorts->setCurrentText(QStringLiteral("COM1"));
    TFaultyFileOps faulty;
    faulty.FailAt(op, 1, EACCES, FOlder.path().toStdString());
    {
      TScopedFileOps installed(&faulty);
      frm->btnOK->click();
    }
    EXPECT_TRUE(frm->isVisible());
    ASSERT_EQ(FScript.Texts().size(), 1);
    EXPECT_EQ(FScript.Texts()[0], TfrmSettings::FolderNoAccess + "\r" + TfrmSettings::FolderFullAccess);
  }
}

TEST_F(SettingsTest, WriteTestNeverTouchesExistingFilesAndLeavesNothingBehind) {
  QFile existing(FOlder.filePath(QStringLiteral("test.txt")));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("the user's own lines\r\n");
  existing.close();

  EXPECT_TRUE(uSettings::CanWriteFolder(FOlder.path()));
  ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
  EXPECT_EQ(existing.readAll(), QByteArray("the user's own lines\r\n"));
  EXPECT_EQ(QDir(FOlder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
            QStringList({QStringLiteral("test.txt")}));
}

TEST_F(SettingsTest, SpeedThatIsNotOfferedIsKept) {
  FMain.Values.BaudRate = 4800;
  FMain.Values.ComPort = 2;
  WhenModal<TfrmSettings>([](TfrmSettings* f) {
    EXPECT_EQ(f->cbBaudRate->currentIndex(), -1);
    f->btnOK->click();
  });
  EXPECT_TRUE(uSettings::EditSettings(FMain));
  EXPECT_EQ(FMain.Values.BaudRate, 4800);
  EXPECT_EQ(FMain.Values.ComPort, 2);
  EXPECT_EQ(FMain.Panels[0], QStringLiteral("COM2"));
  EXPECT_EQ(FMain.Panels[1], QStringLiteral("4800"));
  EXPECT_EQ(FMain.Saves, 1);
  EXPECT_EQ(FMain.ConnectivityChecks, 1);
}

TEST_F(SettingsTest, OkStoresTheValuesTrimmedAndSavesThenChecksTheConnection) {
  FMain.Values.ComPort = 1;
  const QString folder = FOlder.path();
  WhenModal<TfrmSettings>([folder](TfrmSettings* f) {
    f->cbBonFiles->setText(QStringLiteral("  ") + folder + QStringLiteral("  "));
    f->cbComPorts->setCurrentText(QStringLiteral("COM10"));
    f->cbBaudRate->setCurrentIndex(f->cbBaudRate->findText(QStringLiteral("19200")));
    f->edtFileExt->setText(QStringLiteral(" txt "));
    f->edtCshierPass->setText(QStringLiteral(" 0000 "));
    f->edtDevSerial->setText(QStringLiteral(" ED1 "));
    f->cbFileCharCode->setCurrentIndex(2);
    f->edChekPrnInterval->setValue(45);
    f->RepPrintCheckBox->setChecked(false);
    f->chkCreateLog->setChecked(false);
    f->ckBoxUsePluNoAsDepartNo->setChecked(true);
    f->btnOK->click();
  });
  EXPECT_TRUE(uSettings::EditSettings(FMain));
  EXPECT_EQ(FMain.Values.SearchPath, folder);
  EXPECT_EQ(FMain.Values.ComPort, 10);
  EXPECT_EQ(FMain.Values.BaudRate, 19200);
  EXPECT_EQ(FMain.Values.DeviceSerialNom, QStringLiteral("ED1"));
  EXPECT_EQ(FMain.Values.CharEncoding, 2);
  EXPECT_EQ(FMain.Values.CheckPrnIntevalSec, 45);
  EXPECT_FALSE(FMain.Values.RepFilePrint);
  EXPECT_FALSE(FMain.Values.CreateLOG);
  EXPECT_EQ(uConst::BonFileExt(), QStringLiteral("txt"));
  EXPECT_EQ(uConst::CashierPas(), QStringLiteral("0000"));
  EXPECT_TRUE(uConst::UsePluAsDepartNo());
  EXPECT_EQ(FMain.TimerStops, 1);
  EXPECT_EQ(FMain.TimerRestarts, 1);
}

TEST_F(SettingsTest, SerialNumberModeAcceptsAnEmptyPortBox) {
  FMain.Values.AutoSerachDevice = true;
  FMain.Values.DeviceSerialNom.clear();
  FMain.Values.ComPort = 5;
  WhenModal<TfrmSettings>([](TfrmSettings* f) {
    f->cbComPorts->setCurrentText(QString());
    f->btnOK->click();
  });
  EXPECT_TRUE(uSettings::EditSettings(FMain));
  EXPECT_EQ(FMain.Values.ComPort, 0);
  EXPECT_TRUE(FMain.Values.AutoSerachDevice);
  EXPECT_TRUE(FMain.Values.DeviceSerialNom.isEmpty());
  EXPECT_TRUE(FScript.Shown().empty());
}

TEST_F(SettingsTest, NoKeepsTheSettingsAndTheTimerRunsAgainAlsoWhenSavingFails) {
  FMain.Values.ComPort = 3;
  WhenModal<TfrmSettings>([](TfrmSettings* f) {
    f->cbComPorts->setCurrentText(QStringLiteral("COM1"));
    f->btnNo->click();
  });
  EXPECT_FALSE(uSettings::EditSettings(FMain));
  EXPECT_EQ(FMain.Values.ComPort, 3);
  EXPECT_EQ(FMain.Saves, 0);
  EXPECT_EQ(FMain.ConnectivityChecks, 0);
  EXPECT_EQ(FMain.TimerRestarts, 1);

  FMain.OnSaveSettings = [] { throw std::runtime_error("[SaveSettings] disk full"); };
  WhenModal<TfrmSettings>([](TfrmSettings* f) {
    f->cbComPorts->setCurrentText(QStringLiteral("COM1"));
    f->btnOK->click();
  });
  EXPECT_THROW(uSettings::EditSettings(FMain), std::runtime_error);
  EXPECT_EQ(FMain.TimerRestarts, 2);
}

TEST_F(SettingsTest, StoredPortNumber) {
  const std::vector<std::pair<QString, int32_t>> cases = {{"COM7", 7},   {"COM255", 255}, {"COM7x", 7},
                                                          {" COM7 ", 7}, {"COM 7", 7},    {"COMx", 0},
                                                          {"", 0},       {"COM300", 0},   {"COM-2", 0}};
  for (const auto& [text, port] : cases) EXPECT_EQ(uSettings::StoredPortNumber(text), port) << text.toStdString();
}

TEST_F(SettingsTest, ControlStatesFollowTheSearchModeAndTheReportBox) {
  auto frm = std::make_unique<TfrmSettings>(FMain, &FMain.Window);
  // Before the window is filled and shown.
  EXPECT_FALSE(frm->cbComPorts->isEnabled());
  EXPECT_FALSE(frm->btnSearchPrn->isEnabled());
  EXPECT_FALSE(frm->btnTest->isEnabled());
  EXPECT_FALSE(frm->DetailInfoCheckBox->isEnabled());

  struct TCase {
    bool BySerial;
    const char* Serial;
    bool TestEnabled;
  };
  for (const TCase& c : {TCase{.BySerial = false, .Serial = "", .TestEnabled = true},
                         TCase{.BySerial = true, .Serial = "", .TestEnabled = false},
                         TCase{.BySerial = true, .Serial = "ED1", .TestEnabled = true}}) {
    SCOPED_TRACE(c.Serial);
    frm->chkSearchDeviceByNom->setChecked(c.BySerial);
    frm->edtDevSerial->setText(QString::fromLatin1(c.Serial));
    frm->chkSearchDeviceByNomClick();
    for (QWidget* w : std::initializer_list<QWidget*>{frm->lblCOMPort, frm->cbComPorts, frm->btnSearchPrn})
      EXPECT_EQ(w->isEnabled(), !c.BySerial) << w->objectName().toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{frm->lblDevSerial, frm->edtDevSerial, frm->lblAutoSearchHint})
      EXPECT_EQ(w->isEnabled(), c.BySerial) << w->objectName().toStdString();
    EXPECT_EQ(frm->btnTest->isEnabled(), c.TestEnabled);
  }

  FMain.Values.RepFilePrint = true;
  frm->LoadFrom(FMain.Values);
  EXPECT_TRUE(frm->DetailInfoCheckBox->isEnabled());
  frm->RepPrintCheckBox->click();
  EXPECT_FALSE(frm->DetailInfoCheckBox->isEnabled());
}

// The two printers answer on COM10 and COM2; the search goes through the list in order
// and asks for every port that answers until the first Yes.
TEST_F(SettingsTest, PortSearchAsksForTheFirstPortThatAnswersAndStopsAtYes) {
  FMain.OnTestComPort = [](int32_t port) { return port == 10 || port == 2; };
  const QString question10 = Message(uStrRes::PrinterFound) + " COM10\rFP-X4 DEMO\r\r" + TfrmSettings::UseItQuestion;
  const QString question2 = Message(uStrRes::PrinterFound) + " COM2\rFP-X4 DEMO\r\r" + TfrmSettings::UseItQuestion;
  struct TCase {
    std::vector<TDlgResult> Answers;
    std::vector<int32_t> Tested;
    QStringList Questions;
    QString Chosen;
  };
  const std::vector<TCase> cases = {
      {{TDlgResult::Yes}, {1, 10}, {question10}, QStringLiteral("COM10")},
      {{TDlgResult::No, TDlgResult::Yes}, {1, 10, 2}, {question10, question2}, QStringLiteral("COM2")},
      {{TDlgResult::No, TDlgResult::No}, {1, 10, 2}, {question10, question2}, QStringLiteral("COM1")},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Chosen.toStdString());
    FScript.Clear();
    FMain.TestedPorts.clear();
    for (TDlgResult a : c.Answers) FScript.PushAnswer(a);
    auto frm = OpenWindow();
    frm->cbComPorts->setCurrentText(QStringLiteral("COM1"));
    frm->btnSearchPrn->click();
    EXPECT_EQ(FMain.TestedPorts, c.Tested);
    EXPECT_EQ(FScript.Texts(), c.Questions);
    for (const TShownDialog& d : FScript.Shown()) {
      EXPECT_EQ(d.Kind, TDlgKind::Information);
      EXPECT_EQ(d.Buttons, TDlgButtons::YesNo);
    }
    EXPECT_EQ(frm->cbComPorts->currentText(), c.Chosen);
  }
}

TEST_F(SettingsTest, PortSearchWithoutPortsOrWhileATaskRuns) {
  auto frm = OpenWindow();
  {
    test::TScopedFakeDevices none;
    frm->btnSearchPrn->click();
  }
  ASSERT_EQ(FScript.Shown().size(), 1u);
  EXPECT_EQ(FScript.Shown()[0].Kind, TDlgKind::Warning);
  EXPECT_EQ(FScript.Shown()[0].Text, Message(uStrRes::ComPortsNotFound));

  FScript.Clear();
  FMain.Busy = true;
  frm->btnSearchPrn->click();
  frm->btnTest->click();
  EXPECT_EQ(FScript.Texts(), QStringList({Message(uStrRes::ActiveTask), Message(uStrRes::ActiveTask)}));
  EXPECT_TRUE(FMain.TestedPorts.empty());
}

TEST_F(SettingsTest, TestOfThePortOrTheSerialNumber) {
  struct TCase {
    const char* Name;
    bool BySerial;
    QString Serial;
    QString Port;
    bool Answers;
    QString FoundSerial;
    TDlgKind Kind;
    QString Text;
    std::vector<int32_t> Tested;
  };
  const QString ok = Message(uStrRes::TestOK);
  const QString fail = Message(uStrRes::TestFail);
  const std::vector<TCase> cases = {
      {.Name = "serial found",
       .BySerial = true,
       .Serial = " ED7 ",
       .Port = "",
       .Answers = true,
       .FoundSerial = "ED7",
       .Kind = TDlgKind::Information,
       .Text = ok + "\rFP-X4 DEMO",
       .Tested = {}},
      {.Name = "first printer used",
       .BySerial = true,
       .Serial = "ED7",
       .Port = "",
       .Answers = true,
       .FoundSerial = "ED9",
       .Kind = TDlgKind::Warning,
       .Text = Message(uStrRes::S_PrnNotFound) + "\r" + Message(uStrRes::S_UseFirstDev) + "\rFP-X4 DEMO",
       .Tested = {}},
      {.Name = "serial not found",
       .BySerial = true,
       .Serial = "ED7",
       .Port = "",
       .Answers = false,
       .FoundSerial = "",
       .Kind = TDlgKind::Error,
       .Text = fail,
       .Tested = {}},
      {.Name = "serial mode without a serial tests the port",
       .BySerial = true,
       .Serial = "  ",
       .Port = " COM3 ",
       .Answers = true,
       .FoundSerial = "",
       .Kind = TDlgKind::Information,
       .Text = ok + "\rFP-X4 DEMO\rCOM Port: COM3",
       .Tested = {3}},
      {.Name = "empty port",
       .BySerial = false,
       .Serial = "",
       .Port = "  ",
       .Answers = true,
       .FoundSerial = "",
       .Kind = TDlgKind::Warning,
       .Text = Message(uStrRes::SelectComPorts),
       .Tested = {}},
      {.Name = "port zero",
       .BySerial = false,
       .Serial = "",
       .Port = "COM0",
       .Answers = true,
       .FoundSerial = "",
       .Kind = TDlgKind::Error,
       .Text = Message(uStrRes::InvalidValue) + "\r[COM0]",
       .Tested = {}},
      {.Name = "port above 255",
       .BySerial = false,
       .Serial = "",
       .Port = "COM256",
       .Answers = true,
       .FoundSerial = "",
       .Kind = TDlgKind::Error,
       .Text = Message(uStrRes::InvalidValue) + "\r[COM256]",
       .Tested = {}},
      {.Name = "port answers",
       .BySerial = false,
       .Serial = "",
       .Port = "COM2",
       .Answers = true,
       .FoundSerial = "",
       .Kind = TDlgKind::Information,
       .Text = ok + "\rFP-X4 DEMO\rCOM Port: COM2",
       .Tested = {2}},
      {.Name = "port silent",
       .BySerial = false,
       .Serial = "",
       .Port = "COM2",
       .Answers = false,
       .FoundSerial = "",
       .Kind = TDlgKind::Error,
       .Text = fail + "\rCOM Port: COM2",
       .Tested = {2}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FScript.Clear();
    FMain.TestedPorts.clear();
    FMain.SearchedSerials.clear();
    FMain.OnTestComPort = [&c](int32_t) { return c.Answers; };
    FMain.OnSearchDeviceBySerial = [&](const QString&) {
      FMain.PrinterSerial = c.FoundSerial;
      return c.Answers;
    };
    auto frm = OpenWindow();
    frm->chkSearchDeviceByNom->setChecked(c.BySerial);
    frm->edtDevSerial->setText(c.Serial);
    frm->cbComPorts->setCurrentText(c.Port);
    frm->btnTestClick();
    ASSERT_EQ(FScript.Shown().size(), 1u);
    EXPECT_EQ(FScript.Shown()[0].Kind, c.Kind);
    EXPECT_EQ(FScript.Shown()[0].Text, c.Text);
    EXPECT_EQ(FMain.TestedPorts, c.Tested);
    if (c.BySerial && !c.Serial.trimmed().isEmpty()) {
      EXPECT_EQ(FMain.SearchedSerials, std::vector<QString>{c.Serial.trimmed()});
    }
  }
}

TEST_F(SettingsTest, TranslatedWhenCreatedWithoutTheLists) {
  const QString lng = test::LngFileOfAppDir();
  {
    TIniFile ini(lng.toStdString());
    ini.WriteString("frmSettings", "btnTest", "Проба");
  }
  auto frm = OpenWindow();
  EXPECT_EQ(frm->btnTest->text(), QStringLiteral("Проба"));
  TIniFile ini(lng.toStdString());
  EXPECT_EQ(ini.ReadString("frmSettings", "frmSettings", ""), "Настройки");
  EXPECT_EQ(ini.ReadString("frmSettings", "cbFileCharCode.Itm1", ""), "MS-DOS CP866");
  EXPECT_FALSE(ini.ValueExists("frmSettings", "cbBaudRate.Itm0"));
  EXPECT_FALSE(ini.ValueExists("frmSettings", "cbComPorts.Itm0"));
  frm.reset();
  QFile::remove(lng);
}

// Under the serial number the window says what the program does when that printer is not
// found: the receipts wait for it. A language file that earlier versions wrote with the old
// promise of the first connected printer shows the new text and gets it; a translated hint
// stays.
TEST_F(SettingsTest, TheSerialNumberHintSaysThatTheReceiptsWaitForThatPrinter) {
  const QString waits = QStringLiteral(
      "Програмата ще търси апарат с посочения сериен номер. \n"
      "Докато той не бъде открит, бележките чакат и не се печатат на друг апарат.\n"
      "Без сериен номер се използва първият открит апарат.");
  const QString old = QStringLiteral(
      "Програмата ще търси апарат с посочения сериен номер. \nАко няма такъв ще се използва първото свързано "
      "устройство.");
  const QString translated = QStringLiteral("Only the printer with this serial number is used.");
  struct TCase {
    const char* Name;
    std::optional<QString> InFile;  // nothing: no language file
    QString Shown;
    QString FileAfter;
  };
  const TCase cases[] = {
      {"no language file", std::nullopt, waits, QString()},
      {"the old hint in the file", old, waits, waits},
      {"a translated hint", translated, translated, translated},
  };
  const QString lng = test::LngFileOfAppDir();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QFile::remove(lng);
    if (c.InFile) {
      TIniFile ini(lng.toStdString());
      ini.WriteString("frmSettings", "lblAutoSearchHint", uStrRes::EncodeLngText(*c.InFile).toStdString());
    }
    auto frm = OpenWindow();
    EXPECT_EQ(frm->lblAutoSearchHint->text(), c.Shown);
    frm.reset();
    if (c.InFile) {
      TIniFile ini(lng.toStdString());
      EXPECT_EQ(uStrRes::DecodeLngText(QString::fromStdString(ini.ReadString("frmSettings", "lblAutoSearchHint", ""))),
                c.FileAfter);
    }
  }
  QFile::remove(lng);
}

// Every caption fits its widget, no controls overlap and the window fits the screen.
TEST_F(SettingsTest, Layout) {
  FMain.Values.BaudRate = 115200;
  auto frm = OpenWindow();
  test::ShowAndSettle(*frm);
  EXPECT_THAT(test::LayoutFaults(*frm), ::testing::IsEmpty());
}

}  // namespace
}  // namespace fp::test
