// The main window's panels, status bar and tray icon: how they are built, and what they
// show of the tasks, the printer and the alerts as the task runner asks and reports.
#include "program/ui/uMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

#include "program/ui/MarqueeProgressBar.h"
#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uFormHelpers.h"
#include "program/ui/uMainImages.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using uTaskRunner::WholeSecondsBetween;

QString Count(int32_t n) { return QStringLiteral(": %1").arg(n); }

// A file name as the window's texts show it: a very long one shortened in its middle, so
// that it can neither widen the window nor hide what follows it.
QString ShortName(const QString& name) {
  constexpr int kMax = 40;
  if (name.size() <= kMax) return name;
  return name.left(20) + QStringLiteral("...") + name.right(kMax - 23);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, bool bold = false) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

QFrame* MakePanel(QWidget* parent, const char* name, int height, bool white) {
  auto* f = new QFrame(parent);
  f->setObjectName(QString::fromLatin1(name));
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Raised);
  // The specified height is the least: a larger font or a longer text makes it higher.
  f->setMinimumHeight(height);
  f->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  if (white) {
    // The white panel is the theme's field background (white in a light theme) with the
    // theme's text colour on it, so that it stays readable in a dark or high-contrast one.
    f->setAutoFillBackground(true);
    f->setBackgroundRole(QPalette::Base);
    f->setForegroundRole(QPalette::Text);
  }
  return f;
}

// A label whose text is in the alert colour (red) while Alert is set: a red readable on the
// background it is drawn on, chosen again when the theme changes (RefreshAlertColors).
const char kAlertProperty[] = "fpAlert";

void SetAlertColor(QLabel* l, bool Alert) {
  l->setProperty(kAlertProperty, Alert);
  if (!Alert) {
    l->setPalette(QPalette());
    return;
  }
  QPalette p = l->palette();
  p.setColor(l->foregroundRole(), uFormHelpers::AlertColor(l));
  l->setPalette(p);
}

void RefreshAlertColors(QWidget* Window) {
  for (QLabel* l : Window->findChildren<QLabel*>())
    if (l->property(kAlertProperty).toBool()) SetAlertColor(l, true);
}

// Calls Changed when the watched widget's layout asks for a new size.
class TLayoutWatcher : public QObject {
 public:
  TLayoutWatcher(QWidget* Watched, std::function<void()> Changed) : QObject(Watched), FChanged(std::move(Changed)) {
    Watched->installEventFilter(this);
  }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == parent() && Event->type() == QEvent::LayoutRequest) FChanged();
    return false;
  }

 private:
  std::function<void()> FChanged;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// The window's panels, status bar and tray icon

void TfrmMain::BuildWindow() {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  auto* client = new QWidget(this);
  auto* v = new QVBoxLayout(client);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  // Current task.
  Panel1 = MakePanel(client, "Panel1", 81, true);
  {
    auto* h = new QHBoxLayout(Panel1);
    h->setContentsMargins(8, 4, 8, 4);
    imgLogo = MakeLabel(Panel1, "imgLogo", QString());
    imgLogo->setPixmap(uMainImages::LogoPicture());
    imgLogo->setFixedSize(68, 68);
    h->addWidget(imgLogo);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    lblCurrentTaskHdr = MakeLabel(Panel1, "lblCurrentTaskHdr", QStringLiteral("Текуща задача"), true);
    lblCurrentTaskName = MakeLabel(Panel1, "lblCurrentTaskName", QString());
    lbCurrentStatus = MakeLabel(Panel1, "lbCurrentStatus", QString());
    lblComError = MakeLabel(Panel1, "lblComError", QString());
    SetAlertColor(lblComError, true);
    // Every alert is shown whole: long lines wrap, and the panel grows with them.
    lblComError->setWordWrap(true);
    lblComError->hide();
    texts->addWidget(lblCurrentTaskHdr);
    texts->addWidget(lblCurrentTaskName);
    texts->addWidget(lbCurrentStatus);
    texts->addWidget(lblComError);
    texts->addStretch(1);
    h->addLayout(texts, 1);
    imgError = MakeLabel(Panel1, "imgError", QString());
    imgError->setPixmap(uMainImages::ErrorPicture());
    imgError->hide();
    h->addWidget(imgError, 0, Qt::AlignTop);
  }
  v->addWidget(Panel1);

  // Last task.
  Panel2 = MakePanel(client, "Panel2", 80, false);
  {
    auto* t = new QVBoxLayout(Panel2);
    t->setContentsMargins(84, 4, 8, 4);
    t->setSpacing(1);
    lblLastTaskHdr = MakeLabel(Panel2, "lblLastTaskHdr", QStringLiteral("Последна задача"), true);
    lblLastTaskName = MakeLabel(Panel2, "lblLastTaskName", QString());
    lblLastTaskResult = MakeLabel(Panel2, "lblLastTaskResult", QString());
    lblLastTaskResult->setWordWrap(true);
    t->addWidget(lblLastTaskHdr);
    t->addWidget(lblLastTaskName);
    t->addWidget(lblLastTaskResult);
    t->addStretch(1);
  }
  v->addWidget(Panel2);

  // Printer data.
  pnl = MakePanel(client, "pnl", 152, false);
  {
    auto* g = new QGridLayout(pnl);
    g->setContentsMargins(12, 6, 12, 6);
    g->setHorizontalSpacing(16);
    g->setVerticalSpacing(2);
    Label1 = MakeLabel(pnl, "Label1", QStringLiteral("Данни за устройството"), true);
    g->addWidget(Label1, 0, 0, 1, 2);
    struct Row {
      QLabel** caption;
      const char* captionName;
      QString text;
      QLabel** value;
      const char* valueName;
    };
    const Row rows[] = {
        {&LabelPrinterName, "LabelPrinterName", QStringLiteral("Модел"), &lblModelName, "lblModelName"},
        {&LabelSerialNo, "LabelSerialNo", QStringLiteral("Сериен номер"), &lblSerialNo, "lblSerialNo"},
        {&LabelFiscalNom, "LabelFiscalNom", QStringLiteral("Фискален номер"), &lblFMNom, "lblFMNom"},
        {&LabelLastDoc, "LabelLastDoc", QStringLiteral("Номер на последния документ"), &lblLastDoc, "lblLastDoc"},
        {&LabelLastInvoice, "LabelLastInvoice", QStringLiteral("Номер на последната фактура"), &lblNextInvNo,
         "lblNextInvNo"},
        {&LabelColumnCount, "LabelColumnCount", QStringLiteral("Брой колони"), &lblColumnCount, "lblColumnCount"},
    };
    int r = 1;
    for (const Row& row : rows) {
      *row.caption = MakeLabel(pnl, row.captionName, row.text);
      *row.value = MakeLabel(pnl, row.valueName, QStringLiteral("-"), true);
      g->addWidget(*row.caption, r, 0);
      g->addWidget(*row.value, r, 1);
      ++r;
    }
    g->setColumnStretch(1, 1);
    g->setRowStretch(r, 1);
  }
  v->addWidget(pnl);

  chkProcessPause = new QCheckBox(QStringLiteral("Пауза печат на файлове"), client);
  chkProcessPause->setObjectName(QStringLiteral("chkProcessPause"));
  chkProcessPause->setContentsMargins(8, 0, 0, 0);
  connect(chkProcessPause, &QCheckBox::clicked, this, [this] { chkProcessPauseClick(); });
  auto* pauseRow = new QHBoxLayout();
  pauseRow->setContentsMargins(8, 2, 8, 2);
  pauseRow->addWidget(chkProcessPause);
  v->addLayout(pauseRow);
  v->addStretch(1);
  // The panels scroll where the screen is smaller than they need (a large scale or font);
  // the menu and the status bar stay in view.
  setCentralWidget(new uFormHelpers::TScrolledContent(client, this));
  new TLayoutWatcher(client, [this] { FitToContent(); });

  // Status bar: port, speed, state text, busy bar.
  stTask = new QStatusBar(this);
  stTask->setObjectName(QStringLiteral("stTask"));
  stTask->setSizeGripEnabled(false);
  FStatus = stTask;
  const int widths[3] = {60, 60, 200};
  for (int i = 0; i < 3; ++i) {
    FPanels[i] = new QLabel(stTask);
    // The specified width is the least: a panel whose text needs more (a larger font) gets
    // it, and a long text of panel 2 never widens the window.
    FPanels[i]->setMinimumWidth(widths[i]);
    FPanels[i]->setFrameShape(QFrame::Panel);
    FPanels[i]->setFrameShadow(QFrame::Sunken);
    if (i < 2) FPanels[i]->setAlignment(Qt::AlignCenter);
    stTask->addWidget(FPanels[i]);
  }
  MarqueeBar = new TMarqueeProgressBar(stTask);
  stTask->addWidget(MarqueeBar, 1);
  setStatusBar(stTask);

  BuildMenus();

  // Tray icon and pictures.
  TrayIcons[0] = uMainImages::TrayIconNormal();
  TrayIcons[1] = uMainImages::TrayIconOffline();
  TrayIcons[2] = uMainImages::TrayIconFolderFault();
  TrayIcons[3] = uMainImages::TrayIconAttention();
  HintImages = uMainImages::HintImages();
  setWindowIcon(TrayIcons[0]);
  TrayIcon = new QSystemTrayIcon(TrayIcons[0], this);
  TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon->setToolTip(TrayHint);
  TrayIcon->setContextMenu(PopupMenu1);
  // A tray that speaks StatusNotifierItem sends a single click (Trigger) only; a classic
  // tray sends both.
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) TrayIconDblClick();
  });
  FTrayShown = FServices.TrayAvailable();
  if (FTrayShown) TrayIcon->show();
  TrayTimer.setInterval(TrayCheckMs);
  connect(&TrayTimer, &QTimer::timeout, this, &TfrmMain::CheckTray);
  TrayTimer.start();

  FitToContent();
  // The window comes up centred on the screen, and inside the screen it is on.
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
  uFormHelpers::FitOnScreen(this);
  uFormHelpers::KeepOnScreen(this);
}

void TfrmMain::FitToContent() {
  if (FFitting) return;
  FFitting = true;
  // The window is fixed in size: its specified size (the client area below the menu bar
  // 515 x 358), or more where its content needs it at the current fonts: the panels at
  // least their specified heights, every line of text whole, wrapped lines included. It is
  // never larger than its screen has room for: the panels scroll then.
  auto* scroll = qobject_cast<QScrollArea*>(centralWidget());
  QWidget* client = scroll ? scroll->widget() : centralWidget();
  QLayout* content = client ? client->layout() : nullptr;
  int width = std::max(SpecifiedWidth, minimumSizeHint().width());
  if (content) width = std::max(width, content->totalMinimumSize().width());
  if (stTask) width = std::max(width, stTask->minimumSizeHint().width());
  const QSize room = uFormHelpers::RoomOnScreen(this);
  auto menuAt = [this](int w) {
    const int menuHeight = menuBar()->hasHeightForWidth() ? menuBar()->heightForWidth(w) : -1;
    return menuHeight > 0 ? menuHeight : menuBar()->sizeHint().height();
  };
  auto clientAt = [content](int w) {
    if (!content) return 0;
    const int hfw = content->hasHeightForWidth() ? content->totalHeightForWidth(w) : -1;
    return hfw > 0 ? hfw : content->totalSizeHint().height();
  };
  const int status = stTask ? stTask->sizeHint().height() : 0;
  int height = std::max(SpecifiedHeight, clientAt(width) + status) + menuAt(width);
  const bool scrolls = height > room.height() && scroll;
  if (scrolls) {
    // The panels scroll: room for the scroll bar beside them where the screen has it.
    width += scroll->verticalScrollBar()->sizeHint().width();
    height = room.height();
  }
  // The scroll bar is there only while the panels scroll: a bar left from a lower window
  // would narrow them, wrap their lines and keep itself needed.
  if (scroll) scroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  width = std::min(width, room.width());
  height = std::min(height, room.height());
  if (minimumSize() != QSize(width, height) || maximumSize() != QSize(width, height)) {
    setFixedSize(width, height);
    // A window grown by an alert stays inside its screen.
    if (isVisible()) uFormHelpers::FitOnScreen(this);
  }
  FFitting = false;
}

bool TfrmMain::event(QEvent* Event) {
  const bool done = QMainWindow::event(Event);
  // A text or a font that needs more room asks for a new layout: the window grows to it.
  if (Event->type() == QEvent::LayoutRequest) FitToContent();
  // Another theme: the alerts' red is chosen again for the new backgrounds, once the panels
  // have taken the new palette (they get it after the window).
  if (Event->type() == QEvent::PaletteChange)
    QMetaObject::invokeMethod(
        this, [this] { RefreshAlertColors(this); }, Qt::QueuedConnection);
  return done;
}

void TfrmMain::showEvent(QShowEvent* Event) {
  FitToContent();
  QMainWindow::showEvent(Event);
}

QString TfrmMain::StatusText(int Panel) const {
  return Panel >= 0 && Panel < 3 && FPanels[Panel] ? FPanels[Panel]->text() : QString();
}

void TfrmMain::SetStatusText(int Panel, const QString& Text) {
  if (Panel >= 0 && Panel < 3 && FPanels[Panel]) FPanels[Panel]->setText(Text);
}

void TfrmMain::SetStatusPanel(int Index, const QString& Text) { SetStatusText(Index, Text); }

QString TfrmMain::FolderFaultText(const TFolderFault& Fault) {
  switch (Fault.Problem) {
    case TFolderProblem::Missing: return FolderMissingText + QStringLiteral(": ") + Fault.Folder;
    case TFolderProblem::Unreadable: return FolderUnreadableText + QStringLiteral(": ") + Fault.Folder;
    case TFolderProblem::Unwritable: return FolderUnwritableText + QStringLiteral(": ") + Fault.Folder;
    default: return QString();
  }
}

QString TfrmMain::PrinterStateLine(const QString& State) {
  return Message(M::S_PrinterState) + QStringLiteral(": ") + State;
}

QString TfrmMain::UnknownOutcomeAlert() const {
  const int32_t count = FRunner.UnknownFileCount();
  if (count > 0) return Message(M::S_UnknownFiles) + Count(count) + QStringLiteral(". ") + Message(M::S_CheckJournal);
  // A file reported as unknown outcome that the count has not seen (yet).
  if (!FUnknownFile.isEmpty())
    return Message(M::S_UnknownFile) + QStringLiteral(": ") + ShortName(FUnknownFile) + QStringLiteral(". ") +
           Message(M::S_CheckJournal);
  return QString();
}

void TfrmMain::UpdateAlerts() {
  const TFolderFault& fault = FRunner.FolderFault();
  const bool offline = FRunner.IsPrinterOffline();
  const QString folderText = FolderFaultText(fault);
  // The warning of an unknown outcome lasts while such files are in the receipt folder:
  // once the last one is gone (checked and sent again, or moved away), it goes too.
  const int32_t unknownCount = FRunner.UnknownFileCount();
  if (FShownUnknownCount > 0 && unknownCount == 0) {
    FUnknownFile.clear();
    FUnknownNote.clear();
    FSettledText.clear();
  }
  FShownUnknownCount = unknownCount;
  QStringList lines;
  if (fault)
    lines << folderText;
  else if (offline && !FRunner.PrinterState().isEmpty())
    lines << PrinterStateLine(FRunner.PrinterState());
  else if (offline) {
    lines << Message(M::ErrorInPRN);
    // With the reason the worker gave the operator (another printer found by the search,
    // for one), else what to check. The log's texts of the failure stay in the log.
    lines << (FRunner.PrinterOfflineText().isEmpty() ? Message(M::S_CheckPrinter) : FRunner.PrinterOfflineText());
  }
  const QString unknown = UnknownOutcomeAlert();
  if (!unknown.isEmpty()) lines << unknown;
  // Where a later opening settled a receipt of unknown outcome, what became of it.
  if (!unknown.isEmpty() && !FSettledText.isEmpty()) lines << FSettledText;
  const QString text = lines.join(QLatin1Char('\n'));
  imgError->setVisible(!lines.isEmpty());
  lblComError->setText(text);
  lblComError->setVisible(!lines.isEmpty());
  // The file's own report line (its path and why it may have printed) as the tool tip.
  lblComError->setToolTip(unknown.isEmpty() || FUnknownNote.isEmpty() ? QString()
                                                                      : text + QStringLiteral("\n\n") + FUnknownNote);
  SetTrayIcon(fault ? 2 : offline ? 1 : !unknown.isEmpty() ? 3 : 0);
  if (TrayIcon) TrayIcon->setToolTip(lines.isEmpty() ? TrayHint : TrayHint + QLatin1Char('\n') + text);
  // The status panel is narrow: the whole text is its tool tip.
  if (FPanels[2]) FPanels[2]->setToolTip(folderText);
  if (!FRunner.TaskActive()) SetStatusText(2, IdleStatusText());
}

QString TfrmMain::IdleStatusText() const {
  if (!FileReadTimer.isActive()) return Message(M::StoppedByUser);
  switch (FRunner.FolderFault().Problem) {
    case TFolderProblem::Missing: return FolderMissingText;
    case TFolderProblem::Unreadable: return FolderUnreadableText;
    case TFolderProblem::Unwritable: return FolderUnwritableText;
    default: return Message(M::Started);
  }
}

void TfrmMain::SetTrayIcon(int Index) {
  TrayIconIndex = Index;
  if (TrayIcon) TrayIcon->setIcon(TrayIcons[Index]);
}

// ---------------------------------------------------------------------------------------
// What the task runner asks and reports

bool TfrmMain::SelectPeriod(TReportPeriod& Period) {
  return FServices.Windows && FServices.Windows->SelectPeriod(*this, Period);
}

bool TfrmMain::InputAmount(const QString& Prompt, QString& Text) {
  return Dialogs().InputQuery(this, QString(), Prompt, Text);
}

void TfrmMain::ShowNotice(TRunnerNotice Notice, const QString& Text) {
  switch (Notice) {
    case TRunnerNotice::CantWrite:
      ShowMainWindow();
      ShowError(this, Text);
      break;
    case TRunnerNotice::InvalidValue: ShowWarning(this, Text); break;
    case TRunnerNotice::FinishedOK: ShowInfo(this, Text); break;
    case TRunnerNotice::ActiveTask:
    case TRunnerNotice::ErrorMessage: ShowError(this, Text); break;
  }
}

void TfrmMain::SetHourglass(bool On) {
  if (On == FHourglass) return;
  FHourglass = On;
  if (On)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

void TfrmMain::SetBusy(bool On) {
  if (MarqueeBar) MarqueeBar->SetActive(On);
}

void TfrmMain::TaskStarted(TTaskKind Kind) {
  FUnknownFiles.clear();
  FUnknownNotes.clear();
  FSettledTexts.clear();
  FUnknownHintPending = false;
  lblCurrentTaskName->setText(TTaskRunner::TaskCaption(Kind));
  lbCurrentStatus->setText(QString());
  SetStatusText(2, TTaskRunner::TaskCaption(Kind));
}

void TfrmMain::TaskEnded(TTaskKind Kind, int32_t Processed, int32_t Errors) {
  SetStatusText(2, QString());
  FUnknownHintPending = false;
  // A printer check, or a file task that printed nothing and kept no file, leaves a
  // last-task panel that names files of unknown outcome: they still need a look. Whether
  // the printer answers shows in the error line.
  const bool check = Kind == tkPrinterInfo || Kind == tkCheckPrinter;
  const bool nothingDone = Kind == tkReadFiles && Processed == 0 && FUnknownFiles.isEmpty();
  if (Errors == 0) FLastProblemNote.clear();
  if (!((check || nothingDone) && FLastTaskNamesUnknown)) {
    lblLastTaskName->setText(TTaskRunner::TaskCaption(Kind));
    QString result;
    if (Kind == tkReadFiles) result = Message(M::FilesCount) + Count(Processed) + QStringLiteral(". ");
    result += Message(M::ErrorCount) + Count(Errors);
    // The files whose receipt may have printed are named in the panel, with what to do;
    // their report lines (the path and why) are its tool tip.
    QStringList names;
    for (const QString& name : FUnknownFiles) names << ShortName(name);
    if (!names.isEmpty())
      result += QLatin1Char('\n') + Message(M::S_UnknownFile) + QStringLiteral(": ") +
                names.join(QStringLiteral(", ")) + QStringLiteral(". ") + Message(M::S_CheckJournal);
    for (const QString& settled : FSettledTexts) result += QLatin1Char('\n') + settled;
    lblLastTaskResult->setText(result);
    lblLastTaskResult->setToolTip(FUnknownNotes.join(QLatin1Char('\n')));
    SetAlertColor(lblLastTaskResult, Errors != 0);
    FLastTaskNamesUnknown = !names.isEmpty();
  }
  // A file task that printed without an error ends a warning whose file the count never
  // saw in the folder.
  if (Kind == tkReadFiles && Processed > 0 && Errors == 0 && FRunner.UnknownFileCount() == 0 &&
      !FUnknownFile.isEmpty()) {
    FUnknownFile.clear();
    FUnknownNote.clear();
    UpdateAlerts();
  }
  lblCurrentTaskName->setText(Message(M::NoActiveTask));
  lbCurrentStatus->setText(QString());
  SetAlertColor(lbCurrentStatus, false);
}

void TfrmMain::TaskIdle() {
  SetStatusText(2, IdleStatusText());
  if (FRunner.QuitPending()) QTimer::singleShot(0, this, [this] { FinishClose(); });
}

void TfrmMain::TaskError(TTaskKind Kind, TTaskErrorKind Error, int32_t Errors, const QString& PrinterState) {
  SetAlertColor(lbCurrentStatus, true);
  lbCurrentStatus->setText(Message(M::ErrorCount) + Count(Errors));
  const QString see = Message(M::SeeErrorFileForDetails);
  // The printer's own state, when it reported one, instead of the general words.
  const QString state = PrinterState.isEmpty() ? QString() : PrinterStateLine(PrinterState);
  // One note per change of state: the same note again, with no task ended without an
  // error in between, is not shown again (the error line and the tray icon keep showing
  // the state). A file error is a note of that file.
  auto note = [this](int image, const QString& text, const QString& about = QString()) {
    const QString key = text + QLatin1Char('\n') + about;
    if (key == FLastProblemNote) return;
    FLastProblemNote = key;
    const QPixmap pic = image >= 0 && image < static_cast<int>(HintImages.size()) ? HintImages[image] : QPixmap();
    uCustomHint::ShowHintMessage(pic, text, 0);
  };
  // The error of a file just kept as unknown outcome keeps that file's note, which says
  // what to do; the printer's state is added to it.
  if (FUnknownHintPending) {
    FUnknownHintPending = false;
    if (!state.isEmpty()) note(kUnknownHintImage, FUnknownHint + CR + state);
    return;
  }
  switch (Error) {
    case ekOperationError: note(5, state.isEmpty() ? ErrorMessageText() : state + CR + see); break;
    case ekFileError: note(4, Message(M::ErrorInFile), FCurrentFile); break;
    case ekPrinterError: note(2, (state.isEmpty() ? Message(M::ErrorInPRN) : state) + CR + see); break;
    case ekPrinterFatal:
      // Without the printer's own state it is the link: the note says what to check.
      if (Kind == tkReadFiles)
        note(3, (state.isEmpty() ? Message(M::PRNFatalError) + CR + Message(M::S_CheckPrinter) : state) + CR + see);
      break;
    default: break;
  }
}

void TfrmMain::FileStarted(const QString& Path) {
  FUnknownHintPending = false;
  FCurrentFile = Path;
  SetStatusText(2, QFileInfo(Path).fileName());
}

void TfrmMain::FileProcessed(int32_t Processed, int32_t Errors) {
  lbCurrentStatus->setText(Message(M::FilesCount) + Count(Processed) + QStringLiteral(". ") + Message(M::ErrorCount) +
                           Count(Errors));
  SetStatusText(2, QString());
}

void TfrmMain::FileOutcomeUnknown(const QString& Path, const QString& Why) {
  const QString name = QFileInfo(Path).fileName();
  FUnknownFile = name;
  FUnknownNote = uPRNFileThread::UnknownOutcomeText(Path, Why);
  FUnknownFiles.append(name);
  FUnknownNotes.append(FUnknownNote);
  // A note pops up at once: the program lives in the tray, where the window is not seen.
  FUnknownHint = Message(M::S_UnknownFile) + QStringLiteral(": ") + ShortName(name) + CR + Message(M::S_CheckJournal);
  const QPixmap pic =
      kUnknownHintImage < static_cast<int>(HintImages.size()) ? HintImages[kUnknownHintImage] : QPixmap();
  uCustomHint::ShowHintMessage(pic, FUnknownHint, 0);
  FUnknownHintPending = true;
  // The file is no longer waiting or in print: the panel names what it became.
  SetStatusText(2, name);
  UpdateAlerts();
}

void TfrmMain::FileOutcomeSettled(const QString& Path, const QString& Text) {
  (void)Path;  // the text names the file
  FSettledText = Text;
  FSettledTexts.append(Text);
  // At once, as for the file kept: the window may be hidden in the tray.
  const QPixmap pic =
      kUnknownHintImage < static_cast<int>(HintImages.size()) ? HintImages[kUnknownHintImage] : QPixmap();
  uCustomHint::ShowHintMessage(pic, Text, 0);
  UpdateAlerts();
}

void TfrmMain::FolderNotice(const QString& Text) {
  // A note where the operator looks, also with the window in the tray; the log has the details.
  uCustomHint::ShowHintMessage(QPixmap(), Text, 0);
}

void TfrmMain::PrinterInfo(const TPRNInfo& Info) { GetPrnInfo(Info); }

void TfrmMain::AlertsChanged() { UpdateAlerts(); }

void TfrmMain::GetPrnInfo(const TPRNInfo& Info) {
  try {
    lblModelName->setText(Info.Model);
    lblFMNom->setText(Info.FiscalNo);
    lblSerialNo->setText(Info.SerialNo);
    lblLastDoc->setText(QString::number(Info.LastDocNo));
    lblNextInvNo->setText(QString::number(Info.NextInvoiceNo));
    lblColumnCount->setText(QString::number(Info.LineLength));
    FModel = Info.Model;
    FSerialNo = Info.SerialNo;
    FFiscalNo = Info.FiscalNo;

    // Without a receipt folder there is no place for the file.
    const bool haveFolder = !FSettings.SearchPath.trimmed().isEmpty();
    const QString path = WithSlash(FSettings.SearchPath) + QString::fromLatin1(PrnInfoFileName);
    // The name itself, not what a link there points to: anything but a regular file counts
    // as missing and is replaced.
    struct stat st {};
    QDateTime written;
    if (FileOps().Lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
      written = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    if (haveFolder && WholeSecondsBetween(written, Now()) / 3600 > 2) {
      const QString lines = LabelPrinterName->text() + QStringLiteral(": ") + Info.Model + QStringLiteral("\r\n") +
                            LabelFiscalNom->text() + QStringLiteral(": ") + Info.FiscalNo + QStringLiteral("\r\n") +
                            LabelSerialNo->text() + QStringLiteral(": ") + Info.SerialNo + QStringLiteral("\r\n") +
                            LabelLastDoc->text() + QStringLiteral(": ") + QString::number(Info.LastDocNo) +
                            QStringLiteral("\r\n") + LabelLastInvoice->text() + QStringLiteral(": ") +
                            QString::number(Info.NextInvoiceNo) + QStringLiteral("\r\n") + LabelColumnCount->text() +
                            QStringLiteral(": ") + QString::number(Info.LineLength) + QStringLiteral("\r\n");
      // Written beside the old file and renamed over it: a failure keeps the old one.
      // The same failure again (a folder under the name, a full disk) is logged once.
      const int err = uProgramInfo::ReplaceFile(path, uConst::ToCp1251(lines));
      const QString failure =
          err != 0 ? path + QStringLiteral(": ") + QString::fromStdString(fp::SysErrorText(err)) : QString();
      if (!failure.isEmpty() && failure != FPrnInfoFailure) AddToErrorLog(QStringLiteral("[GetPrnInfo] ") + failure);
      FPrnInfoFailure = failure;
    }
    SetStatusText(0, QStringLiteral("COM%1").arg(Info.ComPort));
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[GetPrnInfo] ") + ExceptionText(e));
  }
}

}  // namespace fp
