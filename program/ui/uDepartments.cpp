#include "program/ui/uDepartments.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "program/app/uConst.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uEditDepartment.h"
#include "program/ui/uFormHelpers.h"
#include "program/tasks/uMainServices.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uSettingsFile.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "platform/IniFile.h"
#include "platform/MonotonicClock.h"

namespace fp {

using uStrRes::Message;

// ---- TDepartmentTable ----

namespace {
const char* const kFieldNames[TDepartmentTable::ColumnCount] = {"Nom", "DepName", "DepDescr", "TaxGrpNo", "ExitCode"};
}  // namespace

TDepartmentTable::TDepartmentTable(QObject* Owner) : QAbstractTableModel(Owner) {
  setObjectName(QStringLiteral("mData"));
}

QString TDepartmentTable::FieldName(int Column) {
  return Column >= 0 && Column < ColumnCount ? QString::fromLatin1(kFieldNames[Column]) : QString();
}

int TDepartmentTable::ColumnOf(const QString& Field) {
  for (int c = 0; c < ColumnCount; ++c)
    if (Field == QLatin1String(kFieldNames[c])) return c;
  return -1;
}

TDepartmentRow TDepartmentTable::Cut(TDepartmentRow Row) {
  Row.DepName.truncate(MaxTextLength);
  Row.DepDescr.truncate(MaxTextLength);
  Row.ExitCode.truncate(MaxTextLength);
  return Row;
}

void TDepartmentTable::Append(const TDepartmentRow& Row) {
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at);
  FRows.push_back({Cut(Row), FNextId++});
  endInsertRows();
}

void TDepartmentTable::SetRow(int Index, const TDepartmentRow& Row) {
  if (Index < 0 || Index >= Count()) return;
  FRows[static_cast<size_t>(Index)].Row = Cut(Row);
  emit dataChanged(index(Index, 0), index(Index, ColumnCount - 1));
}

int TDepartmentTable::Sort(int Column, bool Ascending, int Follow) {
  if (Column < 0 || Column >= ColumnCount) return Follow;
  const int followId = Follow >= 0 && Follow < Count() ? FRows[static_cast<size_t>(Follow)].Id : -1;
  auto less = [Column](const TEntry& a, const TEntry& b) {
    switch (Column) {
      case colNom: return a.Row.Nom < b.Row.Nom;
      case colDepName: return QString::compare(a.Row.DepName, b.Row.DepName, Qt::CaseSensitive) < 0;
      case colDepDescr: return QString::compare(a.Row.DepDescr, b.Row.DepDescr, Qt::CaseSensitive) < 0;
      case colTaxGrpNo: return a.Row.TaxGrpNo < b.Row.TaxGrpNo;
      default: return QString::compare(a.Row.ExitCode, b.Row.ExitCode, Qt::CaseSensitive) < 0;
    }
  };
  beginResetModel();
  if (Ascending)
    std::stable_sort(FRows.begin(), FRows.end(), less);
  else
    std::stable_sort(FRows.begin(), FRows.end(), [&less](const TEntry& a, const TEntry& b) { return less(b, a); });
  endResetModel();
  for (int i = 0; i < Count(); ++i)
    if (FRows[static_cast<size_t>(i)].Id == followId) return i;
  return -1;
}

int TDepartmentTable::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : Count(); }

int TDepartmentTable::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : ColumnCount; }

QVariant TDepartmentTable::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return {};
  const TDepartmentRow& r = Row(Index.row());
  switch (Role) {
    case Qt::DisplayRole:
      switch (Index.column()) {
        case colNom: return r.Nom;
        case colDepName: return r.DepName;
        case colDepDescr: return r.DepDescr;
        case colTaxGrpNo: return r.TaxGrpNo;
        case colExitCode: return r.ExitCode;
        default: return {};
      }
    case Qt::ForegroundRole:
      // The grey of a closed department, readable on the theme's button colour behind it.
      if (r.ExitCode == QLatin1String("F"))
        return uFormHelpers::ReadableOn(QColor(DisabledTextColor), QApplication::palette().color(QPalette::Button));
      return {};
    case Qt::BackgroundRole:
      if (r.ExitCode == QLatin1String("F")) return QApplication::palette().color(QPalette::Button);
      return {};
    default: return {};
  }
}

QVariant TDepartmentTable::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 && Section < ColumnCount)
    return FTitles[Section];
  return QAbstractTableModel::headerData(Section, Orientation, Role);
}

bool TDepartmentTable::setHeaderData(int Section, Qt::Orientation Orientation, const QVariant& Value, int Role) {
  if (Orientation != Qt::Horizontal || Section < 0 || Section >= ColumnCount ||
      (Role != Qt::DisplayRole && Role != Qt::EditRole))
    return false;
  FTitles[Section] = Value.toString();
  emit headerDataChanged(Orientation, Section, Section);
  return true;
}

// ---- TfrmDepartmets ----

TfrmDepartmets::TfrmDepartmets(QWidget* Owner) : QDialog(Owner), mData(nullptr) {
  uFormHelpers::NameWindow(this, "frmDepartmets", QStringLiteral("Департаменти"));
  uFormHelpers::KeepOnScreen(this);
  lblDepartmentList = new QLabel(QStringLiteral("Списък на департаменти"), this);
  lblDepartmentList->setObjectName(QStringLiteral("lblDepartmentList"));
  uFormHelpers::SetBold(lblDepartmentList);
  grdDepartments = new QTableView(this);
  grdDepartments->setObjectName(QStringLiteral("grdDepartments"));
  grdDepartments->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdDepartments->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdDepartments->setSelectionMode(QAbstractItemView::SingleSelection);
  grdDepartments->setSortingEnabled(false);  // the title clicks sort, by their own rule
  grdDepartments->verticalHeader()->hide();
  grdDepartments->horizontalHeader()->setSectionsClickable(true);
  grdDepartments->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grdDepartments->horizontalHeader()->setStretchLastSection(false);
  grdDepartments->setContextMenuPolicy(Qt::CustomContextMenu);
  setContextMenuPolicy(Qt::CustomContextMenu);

  mnDepartmets = new QMenu(this);
  mnDepartmets->setObjectName(QStringLiteral("mnDepartmets"));
  MnEditDepartment = new QAction(QStringLiteral("Редакция"), mnDepartmets);
  MnEditDepartment->setObjectName(QStringLiteral("MnEditDepartment"));
  mnDepartmets->addAction(MnEditDepartment);

  QHBoxLayout* buttons = uFormHelpers::OkNoButtons(this, btnOK, btnNo);
  auto* top = new QVBoxLayout(this);
  top->addWidget(lblDepartmentList);
  top->addWidget(grdDepartments, 1);
  top->addLayout(buttons);
  resize(560, 420);

  connect(MnEditDepartment, &QAction::triggered, this, [this] { MnEditDepartmentClick(); });
  connect(grdDepartments, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
    const QModelIndex at = grdDepartments->indexAt(p);
    if (at.isValid()) SetCurrentRow(at.row());
    PopupMenu(grdDepartments->viewport()->mapToGlobal(p));
  });
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { PopupMenu(mapToGlobal(p)); });
  connect(grdDepartments->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int section) { grdDepartmentsTitleBtnClick(TDepartmentTable::FieldName(section)); });

  FormCreate();
}

void TfrmDepartmets::FormCreate() {
  // Translated before the table is opened: its columns are not in the language file,
  // their titles come from the messages.
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
  mData = new TDepartmentTable(this);
  grdDepartments->setModel(mData);
  SortAscending = true;
  SortField = QStringLiteral("Nom");
  mData->setHeaderData(TDepartmentTable::colNom, Qt::Horizontal, Message(uStrRes::DepNom));
  mData->setHeaderData(TDepartmentTable::colDepName, Qt::Horizontal, Message(uStrRes::DepName));
  mData->setHeaderData(TDepartmentTable::colDepDescr, Qt::Horizontal, Message(uStrRes::DepDescr));
  mData->setHeaderData(TDepartmentTable::colTaxGrpNo, Qt::Horizontal, Message(uStrRes::DepTaxGrp));
  mData->setHeaderData(TDepartmentTable::colExitCode, Qt::Horizontal, Message(uStrRes::Programmed));
  const QString appDir = uProgramInfo::AppDir();
  IniFileName = appDir.isEmpty() ? QString() : SettingsFilePath(appDir, uProgramInfo::ProgramFilePath());
  ShowSortMarker();
}

void TfrmDepartmets::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (Event->spontaneous()) return;
  LoadColumnWidths();
  if (mData->Count() > 0) SetCurrentRow(0);
}

void TfrmDepartmets::AddDepartment(const TDepartmentRow& Row) {
  TDepartmentRow r = Row;
  r.Edited = false;
  mData->Append(r);
}

void TfrmDepartmets::CollectDepartments(TDepartments& List) const {
  List.clear();
  for (int i = 0; i < mData->Count(); ++i) {
    TDepartmentRow r = mData->Row(i);
    r.ExitCode.clear();
    List.push_back(r);
  }
}

int TfrmDepartmets::CurrentRow() const {
  const QModelIndex current = grdDepartments->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TfrmDepartmets::SetCurrentRow(int Row) {
  if (Row < 0 || Row >= mData->Count()) return;
  grdDepartments->setCurrentIndex(mData->index(Row, 0));
}

void TfrmDepartmets::PopupMenu(const QPoint& GlobalPos) { mnDepartmets->popup(GlobalPos); }

void TfrmDepartmets::MnEditDepartmentClick() {
  const int row = CurrentRow();
  if (row < 0) return;
  uFormHelpers::TOwnedWindow<TfrmEditDepartment> editor(new TfrmEditDepartment(this));
  editor->ShowRow(mData->Row(row));
  if (editor->exec() != QDialog::Accepted || !editor) return;
  TDepartmentRow r = mData->Row(row);
  r.DepName = editor->edtDepName->text();
  r.DepDescr = editor->edtDepDescr->text();
  r.TaxGrpNo = editor->VatGroup();
  r.Edited = true;
  r.ExitCode = QStringLiteral("P");
  mData->SetRow(row, r);
}

void TfrmDepartmets::grdDepartmentsTitleBtnClick(const QString& Field) {
  const int column = TDepartmentTable::ColumnOf(Field);
  if (column < 0) return;
  const int current = CurrentRow();
  grdDepartments->setUpdatesEnabled(false);
  const int again = mData->Sort(column, SortAscending, current);
  SortAscending = !SortAscending;
  SortField = Field;
  SetCurrentRow(again);
  ShowSortMarker();
  grdDepartments->setUpdatesEnabled(true);
}

TfrmDepartmets::TSortMarker TfrmDepartmets::grdDepartmentsGetBtnParams(const QString& Field) const {
  if (Field != SortField) return TSortMarker::None;
  return SortAscending ? TSortMarker::Up : TSortMarker::Down;
}

void TfrmDepartmets::ShowSortMarker() {
  QHeaderView* header = grdDepartments->horizontalHeader();
  const int column = TDepartmentTable::ColumnOf(SortField);
  header->setSortIndicatorShown(column >= 0);
  if (column < 0) return;
  // The header draws its up arrow for Qt's descending order.
  const TSortMarker marker = grdDepartmentsGetBtnParams(SortField);
  header->setSortIndicator(column, marker == TSortMarker::Up ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TfrmDepartmets::LoadColumnWidths() {
  if (IniFileName.isEmpty()) return;
  const TIniFile ini(QFile::encodeName(IniFileName).toStdString());
  // Without a stored width a column is as wide as its title needs, at least the default.
  for (int c = 0; c < TDepartmentTable::ColumnCount; ++c)
    grdDepartments->setColumnWidth(
        c, ini.ReadInteger(GridSection, TDepartmentTable::FieldName(c).toStdString(),
                           std::max(DefaultColumnWidth, grdDepartments->horizontalHeader()->sectionSizeHint(c))));
}

void TfrmDepartmets::SaveColumnWidths() {
  if (IniFileName.isEmpty()) return;
  TIniFile ini(QFile::encodeName(IniFileName).toStdString());
  for (int c = 0; c < TDepartmentTable::ColumnCount; ++c)
    ini.WriteInteger(GridSection, TDepartmentTable::FieldName(c).toStdString(), grdDepartments->columnWidth(c));
}

void TfrmDepartmets::done(int R) {
  try {
    SaveColumnWidths();
  } catch (const std::exception& e) {
    // The widths are a convenience: a settings file that cannot be written must not keep
    // the list open or lose the operator's edits.
    const QString appDir = uProgramInfo::AppDir();
    if (!appDir.isEmpty()) {
      try {
        uProgramLog::WriteLog(appDir + QStringLiteral("Log/"), QStringLiteral("[SaveColumnWidths] ") + ExceptionText(e),
                              true);
      } catch (const std::exception&) {
      }
    }
  }
  QDialog::done(R);
}

// ---- The round trip ----

namespace uDepartments {
namespace {

std::function<int64_t()>& WaitClock() {
  static std::function<int64_t()> clock;
  return clock;
}

int64_t NowMs() {
  if (WaitClock()) return WaitClock()();
  return fp::MonotonicMs();
}

bool gRunning = false;

// The hourglass for the wait; the normal cursor once the wait is over, however it ends.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { Restore(); }
  void Restore() {
    if (FOn) QApplication::restoreOverrideCursor();
    FOn = false;
  }

 private:
  bool FOn = true;
};

}  // namespace

void SetWaitClock(std::function<int64_t()> MsClock) { WaitClock() = std::move(MsClock); }

void EditDepartments(IMainWindowServices& Main) {
  QWidget* parent = Main.MainWindow();
  if (gRunning) {
    ShowError(parent, Message(uStrRes::ActiveTask));
    return;
  }
  struct TRunning {
    TRunning() { gRunning = true; }
    ~TRunning() { gRunning = false; }
  } running;

  Main.Departments().clear();
  if (!AskYesNo(parent, Message(uStrRes::ConfirmTooLong))) return;
  Main.RunTask(tkGetDepartments, true);

  struct TRestartTimer {
    IMainWindowServices& Main;
    ~TRestartTimer() { Main.RestartFileTimer(); }
  } restart{Main};
  try {
    Main.StopFileTimer();
    TWaitCursor cursor;
    const int64_t start = NowMs();
    while (Main.TaskActive()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if ((NowMs() - start) / 1000 > ReadTimeLimitSec)
        throw std::runtime_error("[mnDepartmentsClick] The departments were not read in time.");
      QThread::msleep(5);
    }
    cursor.Restore();
    if (Main.ErrorCount() > 0) throw std::runtime_error("[mnDepartmentsClick] The departments could not be read.");
    if (Main.Departments().empty()) return;

    uFormHelpers::TOwnedWindow<TfrmDepartmets> list(new TfrmDepartmets(parent));
    for (const TDepartmentRow& row : Main.Departments()) list->AddDepartment(row);
    if (list->exec() == QDialog::Accepted && list) {
      list->CollectDepartments(Main.Departments());
      Main.RunTask(tkSetDepartments, true);
    }
  } catch (const std::exception&) {
    Main.ShowErrorMessage();
  }
}

}  // namespace uDepartments
}  // namespace fp
