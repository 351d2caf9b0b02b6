#include "program/ui/uSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <string>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uFormHelpers.h"
#include "program/tasks/uMainServices.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uSettingsFile.h"
#include "program/app/uStrRes.h"
#include "platform/FileOps.h"
#include "platform/Registry.h"

namespace fp {

using uFormHelpers::PortNumberOf;
using uFormHelpers::SetBold;
using uFormHelpers::WholeNumber;
using uStrRes::Message;

const QStringList TfrmSettings::BaudRates = {QStringLiteral("9600"),  QStringLiteral("19200"),
                                             QStringLiteral("38400"), QStringLiteral("56000"),
                                             QStringLiteral("57600"), QStringLiteral("115200")};
const QString TfrmSettings::EnterValidFolder = QStringLiteral("Моля, въведете валиден път към папка BON. ");
const QString TfrmSettings::FolderNotFound = QStringLiteral("Папката не е открита.");
const QString TfrmSettings::FolderNoAccess =
    QStringLiteral("В избраната папка, програмата няма достъп за запис/четене. ");
const QString TfrmSettings::FolderFullAccess = QStringLiteral("Моля, посочете папка с пълен достъп.");
const QString TfrmSettings::SelectExistingPort = QStringLiteral("Моля, изберете съществуващ ком.порт.");
const QString TfrmSettings::UseItQuestion = QStringLiteral("Желаете ли да го използвате?");
const QString TfrmSettings::AutoSearchHint = QStringLiteral(
    "Програмата ще търси апарат с посочения сериен номер. \n"
    "Докато той не бъде открит, бележките чакат и не се печатат на друг апарат.\n"
    "Без сериен номер се използва първият открит апарат.");
const QString TfrmSettings::OldAutoSearchHint = QStringLiteral(
    "Програмата ще търси апарат с посочения сериен номер. \nАко няма такъв ще се използва първото свързано "
    "устройство.");

namespace {

template <typename W>
W* Named(W* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

}  // namespace

// ---- TFolderEdit ----

TFolderEdit::TFolderEdit(QWidget* Owner) : QWidget(Owner), FEdit(new QLineEdit(this)), FBrowse(new QToolButton(this)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  FBrowse->setText(QStringLiteral("..."));
  row->addWidget(FEdit, 1);
  row->addWidget(FBrowse);
  setFocusProxy(FEdit);
  connect(FBrowse, &QToolButton::clicked, this, [this] { BrowseClick(); });
}

QString TFolderEdit::text() const { return FEdit->text(); }
void TFolderEdit::setText(const QString& Text) { FEdit->setText(Text); }

void TFolderEdit::BrowseClick() {
  const QString dir = QFileDialog::getExistingDirectory(this, QString(), FEdit->text().trimmed());
  if (!dir.isEmpty()) FEdit->setText(dir);
}

// ---- TfrmSettings ----

TfrmSettings::TfrmSettings(IMainWindowServices& Main, QWidget* Owner) : QDialog(Owner), FMain(Main) {
  BuildControls();
  FormCreate();
}

void TfrmSettings::BuildControls() {
  uFormHelpers::NameWindow(this, "frmSettings", QStringLiteral("Настройки"));

  lblFiles = Named(new QLabel(QStringLiteral("Файлове:"), this), "lblFiles");
  lblRecieptFolder = Named(new QLabel(QStringLiteral("Папка BON"), this), "lblRecieptFolder");
  cbBonFiles = Named(new TFolderEdit(this), "cbBonFiles");
  Label1 = Named(new QLabel(QStringLiteral("Кодова таблица на файловете"), this), "Label1");
  cbFileCharCode = Named(new QComboBox(this), "cbFileCharCode");
  cbFileCharCode->addItems(
      {QStringLiteral("WINDOWS 1251"), QStringLiteral("MS-DOS CP866"), QStringLiteral("MS-DOS CP855")});
  cbFileCharCode->setCurrentIndex(0);
  Label2 = Named(new QLabel(QStringLiteral("Разширение на файловете"), this), "Label2");
  edtFileExt = Named(new QLineEdit(QStringLiteral("bon"), this), "edtFileExt");

  lblCommunication = Named(new QLabel(QStringLiteral("Комуникация:"), this), "lblCommunication");
  chkSearchDeviceByNom = Named(new QCheckBox(QStringLiteral("Автоматично търсене на фискалното устроство :"), this),
                               "chkSearchDeviceByNom");
  lblDevSerial = Named(new QLabel(QStringLiteral("Работи само с ФУ номер (ED) :"), this), "lblDevSerial");
  edtDevSerial = Named(new QLineEdit(this), "edtDevSerial");
  lblAutoSearchHint = Named(new QLabel(AutoSearchHint, this), "lblAutoSearchHint");
  lblBaudRate = Named(new QLabel(QStringLiteral("Скорост"), this), "lblBaudRate");
  cbBaudRate = Named(new QComboBox(this), "cbBaudRate");
  lblCOMPort = Named(new QLabel(QStringLiteral("COM порт"), this), "lblCOMPort");
  cbComPorts = Named(new QComboBox(this), "cbComPorts");
  cbComPorts->setEditable(true);
  cbComPorts->setInsertPolicy(QComboBox::NoInsert);
  btnSearchPrn = Named(new QPushButton(QStringLiteral("Търси"), this), "btnSearchPrn");
  btnTest = Named(new QPushButton(QStringLiteral("Тест"), this), "btnTest");
  Label3 =
      Named(new QLabel(QStringLiteral("Интервал проверка наличие на принтер[сек.]:\nПри 0 - не се проверява"), this),
            "Label3");
  edChekPrnInterval = Named(new QSpinBox(this), "edChekPrnInterval");
  edChekPrnInterval->setRange(0, 9999);

  lblOther = Named(new QLabel(QStringLiteral("Други:"), this), "lblOther");
  lblCashierPass = Named(new QLabel(QStringLiteral("Парола на касиер"), this), "lblCashierPass");
  edtCshierPass = Named(new QLineEdit(this), "edtCshierPass");
  lblCashierPassInfo =
      Named(new QLabel(QStringLiteral("(паролата на оператора във фискалния принтер)"), this), "lblCashierPassInfo");
  ckBoxUsePluNoAsDepartNo = Named(new QCheckBox(QStringLiteral("Използвай арт.ном като номер на департамент"), this),
                                  "ckBoxUsePluNoAsDepartNo");
  chkCreateLog = Named(new QCheckBox(QStringLiteral("Създавай лог"), this), "chkCreateLog");
  RepPrintCheckBox = Named(new QCheckBox(QStringLiteral("Създаване на REP файлове"), this), "RepPrintCheckBox");
  DetailInfoCheckBox =
      Named(new QCheckBox(QStringLiteral("Допълнителна информация в REP файловете"), this), "DetailInfoCheckBox");
  QHBoxLayout* buttons = uFormHelpers::OkNoButtons(this, btnOK, btnNo);
  btnOK->setDefault(true);

  SetBold(lblFiles);
  SetBold(lblCommunication);
  SetBold(lblOther);

  // The port controls and the detail box start disabled; UpdateControls and the report
  // box decide from the values.
  lblCOMPort->setEnabled(false);
  cbComPorts->setEnabled(false);
  btnSearchPrn->setEnabled(false);
  btnTest->setEnabled(false);
  DetailInfoCheckBox->setEnabled(false);

  auto* grid = new QGridLayout;
  int r = 0;
  grid->addWidget(lblFiles, r++, 0, 1, 4);
  grid->addWidget(lblRecieptFolder, r, 0);
  grid->addWidget(cbBonFiles, r++, 1, 1, 3);
  grid->addWidget(Label1, r, 0);
  grid->addWidget(cbFileCharCode, r++, 1, 1, 3);
  grid->addWidget(Label2, r, 0);
  grid->addWidget(edtFileExt, r++, 1);
  grid->addWidget(lblCommunication, r++, 0, 1, 4);
  grid->addWidget(chkSearchDeviceByNom, r++, 0, 1, 4);
  grid->addWidget(lblDevSerial, r, 0);
  grid->addWidget(edtDevSerial, r++, 1, 1, 3);
  grid->addWidget(lblAutoSearchHint, r++, 0, 1, 4);
  grid->addWidget(lblBaudRate, r, 0);
  grid->addWidget(cbBaudRate, r++, 1);
  grid->addWidget(lblCOMPort, r, 0);
  grid->addWidget(cbComPorts, r, 1);
  grid->addWidget(btnSearchPrn, r, 2);
  grid->addWidget(btnTest, r++, 3);
  grid->addWidget(Label3, r, 0);
  grid->addWidget(edChekPrnInterval, r++, 1);
  grid->addWidget(lblOther, r++, 0, 1, 4);
  grid->addWidget(lblCashierPass, r, 0);
  grid->addWidget(edtCshierPass, r++, 1);
  grid->addWidget(lblCashierPassInfo, r++, 1, 1, 3);
  grid->addWidget(ckBoxUsePluNoAsDepartNo, r++, 0, 1, 4);
  grid->addWidget(chkCreateLog, r++, 0, 1, 4);
  grid->addWidget(RepPrintCheckBox, r++, 0, 1, 4);
  grid->addWidget(DetailInfoCheckBox, r++, 0, 1, 4);
  grid->setColumnStretch(1, 1);

  // The values scroll where the screen is smaller than they need (a large scale or font);
  // OK and Cancel stay in view.
  auto* values = new QWidget;
  auto* valuesLayout = new QVBoxLayout(values);
  valuesLayout->setContentsMargins(0, 0, 0, 0);
  valuesLayout->addLayout(grid);
  valuesLayout->addStretch(1);
  auto* top = new QVBoxLayout(this);
  top->addWidget(new uFormHelpers::TScrolledContent(values, this), 1);
  top->addLayout(buttons);
  uFormHelpers::KeepOnScreen(this, true);

  connect(RepPrintCheckBox, &QCheckBox::toggled, this, [this] { RepPrintCheckBoxClick(); });
  connect(chkSearchDeviceByNom, &QCheckBox::clicked, this, [this] { chkSearchDeviceByNomClick(); });
  connect(btnSearchPrn, &QPushButton::clicked, this, [this] { btnSearchPrnClick(); });
  connect(btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
}

void TfrmSettings::FormCreate() {
  uStrRes::LoadMessages();
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
  ReplaceOldAutoSearchHint();
  // The two lists are filled after the translation, so the language file never holds them.
  cbBaudRate->clear();
  cbComPorts->clear();
  cbBaudRate->addItems(BaudRates);
  QStringList ports;
  uSettings::GetComPortList(ports);
  cbComPorts->addItems(ports);
}

void TfrmSettings::ReplaceOldAutoSearchHint() {
  if (lblAutoSearchHint->text() != OldAutoSearchHint) return;
  lblAutoSearchHint->setText(AutoSearchHint);
  // The file is brought up to date too where it can be written (a failure is logged).
  uStrRes::TLngFile file(uStrRes::LngFilePath(), "TranslateForm");
  file.Write(objectName(), lblAutoSearchHint->objectName(), uStrRes::EncodeLngText(AutoSearchHint));
}

void TfrmSettings::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (!Event->spontaneous()) UpdateControls();
}

void TfrmSettings::LoadFrom(const TMainSettings& S) {
  cbComPorts->setCurrentText(QStringLiteral("COM") + QString::number(S.ComPort));
  // A speed that is not offered (4800) selects nothing, and OK then keeps it.
  cbBaudRate->setCurrentIndex(cbBaudRate->findText(QString::number(S.BaudRate)));
  cbBonFiles->setText(S.SearchPath);
  RepPrintCheckBox->setChecked(S.RepFilePrint);
  DetailInfoCheckBox->setChecked(S.RepDetailPrint);
  chkCreateLog->setChecked(S.CreateLOG);
  edtCshierPass->setText(uConst::CashierPas());
  cbFileCharCode->setCurrentIndex(S.CharEncoding < cbFileCharCode->count() ? S.CharEncoding : 0);
  chkSearchDeviceByNom->setChecked(S.AutoSerachDevice);
  edtDevSerial->setText(S.DeviceSerialNom.trimmed());
  edtFileExt->setText(uConst::BonFileExt());
  ckBoxUsePluNoAsDepartNo->setChecked(uConst::UsePluAsDepartNo());
  edChekPrnInterval->setValue(S.CheckPrnIntevalSec);
}

void TfrmSettings::StoreTo(TMainSettings& S) {
  // Stored as it is checked: without surrounding blanks.
  S.SearchPath = cbBonFiles->text().trimmed();
  S.ComPort = uSettings::StoredPortNumber(cbComPorts->currentText());
  S.DeviceSerialNom = edtDevSerial->text().trimmed();
  S.AutoSerachDevice = chkSearchDeviceByNom->isChecked();
  S.RepFilePrint = RepPrintCheckBox->isChecked();
  S.RepDetailPrint = DetailInfoCheckBox->isChecked();
  S.CreateLOG = chkCreateLog->isChecked();
  if (cbBaudRate->currentIndex() >= 0) S.BaudRate = cbBaudRate->currentText().toInt();
  FMain.SetStatusPanel(0, QStringLiteral("COM%1").arg(S.ComPort));
  FMain.SetStatusPanel(1, QString::number(S.BaudRate));
  uConst::SetCashierPas(edtCshierPass->text().trimmed());
  if (cbFileCharCode->currentIndex() >= 0) S.CharEncoding = static_cast<uint8_t>(cbFileCharCode->currentIndex());
  uConst::SetBonFileExt(edtFileExt->text().trimmed());
  if (const auto interval = WholeNumber(edChekPrnInterval->text()))
    S.CheckPrnIntevalSec = static_cast<int32_t>(std::clamp<int64_t>(*interval, 0, 9999));
  uConst::SetUsePluAsDepartNo(ckBoxUsePluNoAsDepartNo->isChecked());
}

bool TfrmSettings::CheckBonFolder() {
  const QString folder = cbBonFiles->text().trimmed();
  if (folder.isEmpty()) {
    ShowError(this, EnterValidFolder);
    return false;
  }
  if (!QFileInfo(folder).isDir()) {
    ShowError(this, FolderNotFound + CR + EnterValidFolder);
    return false;
  }
  if (!uSettings::CanWriteFolder(folder)) {
    ShowError(this, FolderNoAccess + CR + FolderFullAccess);
    return false;
  }
  return true;
}

bool TfrmSettings::CheckComPort() {
  if (chkSearchDeviceByNom->isChecked()) return true;
  const QString text = cbComPorts->currentText();
  if (!PortNumberOf(text.trimmed())) {
    ShowError(this, Message(uStrRes::InvalidValue) + CR + QStringLiteral("[") + text + QStringLiteral("]"));
    return false;
  }
  if (cbComPorts->findText(text.trimmed(), Qt::MatchFixedString) < 0) {  // fixed string: any case
    ShowError(this, SelectExistingPort);
    return false;
  }
  return true;
}

bool TfrmSettings::CheckOtherValues() {
  if (edtFileExt->text().trimmed().isEmpty()) {
    ShowError(this, Message(uStrRes::S_EmptyFileBonExt));
    return false;
  }
  if (!WholeNumber(edChekPrnInterval->text())) {
    ShowError(this, Message(uStrRes::S_InvalidDigit));
    return false;
  }
  return true;
}

void TfrmSettings::done(int R) {
  if (R == QDialog::Accepted && !(CheckBonFolder() && CheckComPort() && CheckOtherValues())) return;
  QDialog::done(R);
}

void TfrmSettings::UpdateControls() {
  const bool byPort = !chkSearchDeviceByNom->isChecked();
  lblCOMPort->setEnabled(byPort);
  cbComPorts->setEnabled(byPort);
  btnSearchPrn->setEnabled(byPort);
  lblDevSerial->setEnabled(!byPort);
  edtDevSerial->setEnabled(!byPort);
  lblAutoSearchHint->setEnabled(!byPort);
  btnTest->setEnabled(byPort || !edtDevSerial->text().isEmpty());
}

void TfrmSettings::RepPrintCheckBoxClick() { DetailInfoCheckBox->setEnabled(RepPrintCheckBox->isChecked()); }

void TfrmSettings::chkSearchDeviceByNomClick() { UpdateControls(); }

QString TfrmSettings::ModelCaps() const { return FMain.Model().toUpper(); }

void TfrmSettings::btnSearchPrnClick() {
  if (FMain.WarnIfTaskActive()) return;
  QStringList ports;
  uSettings::GetComPortList(ports);
  if (ports.isEmpty()) {
    ShowWarning(this, Message(uStrRes::ComPortsNotFound));
    return;
  }
  for (const QString& port : ports) {
    const std::optional<int32_t> number = PortNumberOf(port.trimmed());
    if (!number || !FMain.TestComPort(*number)) continue;
    const QString question =
        Message(uStrRes::PrinterFound) + QStringLiteral(" ") + port + CR + ModelCaps() + CR + CR + UseItQuestion;
    if (Dialogs().Message(this, TDlgKind::Information, question, TDlgButtons::YesNo) == TDlgResult::Yes) {
      cbComPorts->setCurrentText(port);
      return;
    }
  }
}

void TfrmSettings::btnTestClick() {
  if (FMain.WarnIfTaskActive()) return;
  const QString serial = edtDevSerial->text().trimmed();
  if (chkSearchDeviceByNom->isChecked() && !serial.isEmpty()) {
    if (!FMain.SearchDeviceBySerial(serial))
      ShowError(this, Message(uStrRes::TestFail));
    else if (FMain.SerialNo() == serial)
      ShowInfo(this, Message(uStrRes::TestOK) + CR + ModelCaps());
    else  // no printer with that number: the first one found was used
      ShowWarning(this, Message(uStrRes::S_PrnNotFound) + CR + Message(uStrRes::S_UseFirstDev) + CR + ModelCaps());
    return;
  }
  const QString text = cbComPorts->currentText();
  const QString port = text.trimmed();
  if (port.isEmpty()) {
    ShowWarning(this, Message(uStrRes::SelectComPorts));
    return;
  }
  const std::optional<int32_t> number = PortNumberOf(port);
  if (!number) {
    ShowError(this, Message(uStrRes::InvalidValue) + CR + QStringLiteral("[") + text + QStringLiteral("]"));
    return;
  }
  if (FMain.TestComPort(*number))
    ShowInfo(this, Message(uStrRes::TestOK) + CR + ModelCaps() + CR + QStringLiteral("COM Port: ") + port);
  else
    ShowError(this, Message(uStrRes::TestFail) + CR + QStringLiteral("COM Port: ") + port);
}

namespace uSettings {

void GetComPortList(QStringList& List) {
  List.clear();
  const std::optional<TRegKey> key = TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  if (!key) return;
  for (std::size_t index = 0;; ++index) {
    const std::optional<TRegValue> value = TRegistry::EnumValue(*key, index);
    if (!value) break;
    const QString name = QString::fromStdString(value->Data).trimmed();
    if (!name.isEmpty()) List.append(name);
  }
  List.sort(Qt::CaseInsensitive);
}

bool CanWriteFolder(const QString& Folder) {
  IFileOps& ops = FileOps();
  const QString dir = WithSlash(Folder);
  static const char kLine[] = "TestLine\r\n";
  for (int attempt = 0; attempt < 16; ++attempt) {
    const QString name = QStringLiteral(".fpwrite-%1-%2.tmp")
                             .arg(::getpid())
                             .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    const std::string path = QFile::encodeName(dir + name).toStdString();
    const int fd = ops.Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // that name is taken: never touch it, try another
      return false;
    }
    const ssize_t want = static_cast<ssize_t>(sizeof kLine - 1);
    const bool written = ops.Write(fd, kLine, sizeof kLine - 1) == want;
    const bool closed = ops.Close(fd) == 0;
    struct stat st {};
    const bool exists = ops.Stat(path.c_str(), &st) == 0;
    const bool deleted = ops.Unlink(path.c_str()) == 0;
    return written && closed && exists && deleted;
  }
  return false;
}

int32_t StoredPortNumber(const QString& PortText) {
  const QString rest = PortText.trimmed().mid(3);
  int64_t n = 0;
  if (const std::optional<int64_t> whole = WholeNumber(rest)) {
    n = *whole;
  } else {
    for (QChar c : rest) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
      n = n * 10 + (c.unicode() - '0');
      if (n > uSettingsFile::MaxComPort) break;
    }
  }
  return n >= 0 && n <= uSettingsFile::MaxComPort ? static_cast<int32_t>(n) : 0;
}

bool EditSettings(IMainWindowServices& Main) {
  // The timer runs again however the round trip ends, also on a failure.
  struct TRestartTimer {
    IMainWindowServices& Main;
    ~TRestartTimer() { Main.RestartFileTimer(); }
  } restart{Main};

  uFormHelpers::TOwnedWindow<TfrmSettings> frm(new TfrmSettings(Main, Main.MainWindow()));
  Main.StopFileTimer();
  frm->LoadFrom(Main.Settings());
  if (frm->exec() != QDialog::Accepted || !frm) return false;
  frm->StoreTo(Main.Settings());
  Main.SaveSettings();
  Main.CheckConnectivity();
  return true;
}

}  // namespace uSettings
}  // namespace fp
