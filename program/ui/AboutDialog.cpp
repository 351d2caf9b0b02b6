#include "program/ui/AboutDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "program/app/uConst.h"
#include "program/ui/uFormHelpers.h"
#include "program/tasks/uMainServices.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"

namespace fp {

const QString TAboutDlg::NoticeText =
    QStringLiteral("Драйвер за печат на касови бележки на фискален принтер.\nВсички права запазени.");
const QString TAboutDlg::WebAddress = QStringLiteral("https://fiscal-driver.example.org/");

TAboutDlg::TAboutDlg(QWidget* Owner) : QDialog(Owner) {
  uFormHelpers::NameWindow(this, "AboutDlg", QStringLiteral("За програмата"));
  uFormHelpers::KeepOnScreen(this);
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setLineWidth(1);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_ComputerIcon);
  ProgramIcon->setPixmap(icon.pixmap(48, 48));
  ProductName = new QLabel(QStringLiteral("Драйвер за фискален принтер\nгенерация четири"), Panel1);
  ProductName->setObjectName(QStringLiteral("ProductName"));
  ProductName->setAlignment(Qt::AlignCenter);
  uFormHelpers::SetBold(ProductName);
  lblProgName = new QLabel(Panel1);
  lblProgName->setObjectName(QStringLiteral("lblProgName"));
  lblVerCOM = new QLabel(Panel1);
  lblVerCOM->setObjectName(QStringLiteral("lblVerCOM"));
  lblNotice = new QLabel(NoticeText, Panel1);
  lblNotice->setObjectName(QStringLiteral("lblNotice"));
  LabelWeb = new QLabel(WebAddress, Panel1);
  LabelWeb->setObjectName(QStringLiteral("LabelWeb"));
  LabelWeb->setToolTip(WebAddress);
  LabelWeb->setCursor(Qt::PointingHandCursor);  // the hand while the pointer is over the link
  // The theme's link colour, made readable on the panel where the theme's is not.
  QPalette link = LabelWeb->palette();
  link.setColor(LabelWeb->foregroundRole(),
                uFormHelpers::ReadableOn(link.color(QPalette::Link), uFormHelpers::BackgroundOf(LabelWeb)));
  LabelWeb->setPalette(link);
  QFont underlined = LabelWeb->font();
  underlined.setUnderline(true);
  LabelWeb->setFont(underlined);
  LabelWeb->installEventFilter(this);

  btnClose = new QPushButton(QStringLiteral("Затвори"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setDefault(true);

  auto* head = new QHBoxLayout;
  head->addWidget(ProgramIcon, 0, Qt::AlignTop);
  head->addWidget(ProductName, 1);
  auto* panel = new QVBoxLayout(Panel1);
  panel->addLayout(head);
  panel->addSpacing(8);
  panel->addWidget(lblProgName);
  panel->addWidget(lblVerCOM);
  panel->addSpacing(8);
  panel->addWidget(lblNotice);
  panel->addWidget(LabelWeb);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  buttons->addStretch(1);
  auto* top = new QVBoxLayout(this);
  top->addWidget(Panel1, 1);
  top->addLayout(buttons);
  setMinimumWidth(360);

  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

bool TAboutDlg::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == LabelWeb && Event->type() == QEvent::MouseButtonRelease) {
    LabelWebClick();
    return true;
  }
  return QDialog::eventFilter(Watched, Event);
}

void TAboutDlg::LabelWebClick() { QDesktopServices::openUrl(QUrl(LabelWeb->toolTip())); }

void TAboutDlg::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (Event->spontaneous()) return;
  uStrRes::LoadMessages();
  // The translator skips objects without a name.
  lblVerCOM->setObjectName(QString());
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
  lblVerCOM->setObjectName(QStringLiteral("lblVerCOM"));
}

namespace AboutDialog {

QString ProgramLine(const QString& ProgramFile, const QString& Version) {
  return QFileInfo(ProgramFile).fileName() + QStringLiteral(" ") + Version;
}

void ShowAbout(IMainWindowServices& Main) {
  uFormHelpers::TOwnedWindow<TAboutDlg> dlg(new TAboutDlg(Main.MainWindow()));
  dlg->lblProgName->setText(ProgramLine(uProgramInfo::ProgramFilePath(), uProgramInfo::GetFileVersion()));
  dlg->lblVerCOM->setText(Main.ComServerVersion());
  dlg->exec();
}

}  // namespace AboutDialog
}  // namespace fp
