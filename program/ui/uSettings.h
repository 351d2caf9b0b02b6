#pragma once
// The settings window: edits the main window's settings, searches the serial ports for a
// printer and tests the chosen port or serial number through the main window's task
// runner, and refuses OK until the receipt folder, the port and the other values pass
// their checks. EditSettings is the whole round trip the main window's menu runs.
#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace fp {

class IMainWindowServices;
struct TMainSettings;

// A folder edit with a browse button. The translator leaves it alone (it is no kind it
// knows): a folder path is never translated.
class TFolderEdit : public QWidget {
  Q_OBJECT
 public:
  explicit TFolderEdit(QWidget* Owner = nullptr);
  QString text() const;
  void setText(const QString& Text);
  QLineEdit* Edit() const { return FEdit; }

 private:
  void BrowseClick();
  QLineEdit* FEdit;
  QToolButton* FBrowse;
};

class TfrmSettings : public QDialog {
  Q_OBJECT
 public:
  // The speeds offered, in their order.
  static const QStringList BaudRates;
  // The fixed texts of the receipt-folder and port checks.
  static const QString EnterValidFolder;  // ends with a blank
  static const QString FolderNotFound;
  static const QString FolderNoAccess;  // ends with a blank
  static const QString FolderFullAccess;
  static const QString SelectExistingPort;
  static const QString UseItQuestion;
  // What the serial-number search does, under the serial number: the receipts wait for
  // that printer; only without a number is the first printer found used.
  static const QString AutoSearchHint;
  // The hint earlier versions showed and wrote into language files (it promised the first
  // connected printer); a language file that still holds it shows AutoSearchHint instead.
  static const QString OldAutoSearchHint;

  // Builds the window and runs its creation: messages and translation, the speed and
  // port lists.
  TfrmSettings(IMainWindowServices& Main, QWidget* Owner = nullptr);

  // The window's values from the settings fields and the shared globals, and back.
  void LoadFrom(const TMainSettings& S);
  // Also sets the status panels 0 (port) and 1 (speed).
  void StoreTo(TMainSettings& S);

  // The checks on OK; a refusal has shown its message.
  bool CheckBonFolder();
  bool CheckComPort();
  bool CheckOtherValues();
  // A language file that still holds OldAutoSearchHint: the window shows AutoSearchHint
  // and the file gets it in its place (a translated hint stays as it is).
  void ReplaceOldAutoSearchHint();
  void UpdateControls();

  // Events.
  void RepPrintCheckBoxClick();
  void chkSearchDeviceByNomClick();
  void btnSearchPrnClick();
  void btnTestClick();

  // OK closes only when the three checks pass, in their order; every other way of
  // closing is always allowed.
  void done(int R) override;

  // Controls (named as in the language file).
  QLabel* lblFiles;
  QLabel* lblRecieptFolder;
  TFolderEdit* cbBonFiles;
  QLabel* Label1;
  QComboBox* cbFileCharCode;
  QLabel* Label2;
  QLineEdit* edtFileExt;
  QLabel* lblCommunication;
  QCheckBox* chkSearchDeviceByNom;
  QLabel* lblDevSerial;
  QLineEdit* edtDevSerial;
  QLabel* lblAutoSearchHint;
  QLabel* lblBaudRate;
  QComboBox* cbBaudRate;
  QLabel* lblCOMPort;
  QComboBox* cbComPorts;
  QPushButton* btnSearchPrn;
  QPushButton* btnTest;
  QLabel* Label3;
  QSpinBox* edChekPrnInterval;
  QLabel* lblOther;
  QLabel* lblCashierPass;
  QLineEdit* edtCshierPass;
  QLabel* lblCashierPassInfo;
  QCheckBox* ckBoxUsePluNoAsDepartNo;
  QCheckBox* chkCreateLog;
  QCheckBox* RepPrintCheckBox;
  QCheckBox* DetailInfoCheckBox;
  QPushButton* btnOK;
  QPushButton* btnNo;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void BuildControls();
  void FormCreate();
  QString ModelCaps() const;
  IMainWindowServices& FMain;
};

namespace uSettings {

// The machine's serial ports ("COMn", from the registry key
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM), sorted as text without regard to
// case ("COM10" before "COM2"). The list is emptied first; it stays empty when the key
// cannot be read.
void GetComPortList(QStringList& List);

// True when a file can be written in the folder: a new file of a unique name is created
// (exclusively, so no existing file is ever touched), written, found and deleted again.
// Every step goes through FileOps(), so tests make any of them fail.
bool CanWriteFolder(const QString& Folder);

// The port number that OK stores: the text after the first three characters (of the
// text without surrounding blanks, as the checks read it) as a whole number, else the number its leading digits form, 0
// when there are none or when the number is above the highest port.
int32_t StoredPortNumber(const QString& PortText);

// The main window's settings round trip: creates the window and stops the file timer,
// fills it, shows it; on OK takes the values, saves the settings and checks the
// connection. In every case, also when a step fails, the file timer is restarted
// (RestartFileTimer decides whether it really runs) and the window is released.
// True when the window was closed with OK.
bool EditSettings(IMainWindowServices& Main);

}  // namespace uSettings
}  // namespace fp
