#pragma once
// The department list: the departments read from the printer in a grid that sorts by
// any column, edits single rows in the department editor and hands the rows back for
// the write job. EditDepartments is the whole round trip of the main window's menu.
#include <QAbstractTableModel>
#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "program/tasks/uPRNFileThread.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;

namespace fp {

class IMainWindowServices;

// The in-memory table behind the grid: one row per department, the visible columns
// Nom, DepName, DepDescr, TaxGrpNo and ExitCode; Edited is kept but not shown.
class TDepartmentTable : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum TColumn { colNom, colDepName, colDepDescr, colTaxGrpNo, colExitCode, ColumnCount };
  // Texts longer than this are cut when they enter the table.
  static constexpr int MaxTextLength = 20;
  // The gray of rows whose ExitCode is "F".
  static constexpr QRgb DisabledTextColor = qRgb(128, 128, 128);

  explicit TDepartmentTable(QObject* Owner = nullptr);

  // The field name of a column ("Nom", "DepName", ...); empty for no column.
  static QString FieldName(int Column);
  // The column of a field name (case-sensitive), -1 for none.
  static int ColumnOf(const QString& Field);

  void Append(const TDepartmentRow& Row);
  void SetRow(int Index, const TDepartmentRow& Row);
  const TDepartmentRow& Row(int Index) const { return FRows[static_cast<size_t>(Index)].Row; }
  int Count() const { return static_cast<int>(FRows.size()); }
  // Sorts by a column, case-sensitively, stable; keeps track of one row across the sort:
  // returns the new index of the row that had index `Follow` (-1 stays -1).
  int Sort(int Column, bool Ascending, int Follow);

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
  bool setHeaderData(int Section, Qt::Orientation Orientation, const QVariant& Value, int Role = Qt::EditRole) override;

 private:
  struct TEntry {
    TDepartmentRow Row;
    int Id;
  };
  static TDepartmentRow Cut(TDepartmentRow Row);
  std::vector<TEntry> FRows;
  QString FTitles[ColumnCount];
  int FNextId = 0;
};

class TfrmDepartmets : public QDialog {
  Q_OBJECT
 public:
  enum class TSortMarker { None, Up, Down };
  static constexpr char GridSection[] = "grdDepartments";
  static constexpr int DefaultColumnWidth = 100;

  // Builds the window and runs its creation: translation (the messages are not
  // reloaded), the table, the sort state and the column titles from the messages.
  explicit TfrmDepartmets(QWidget* Owner = nullptr);

  // Appends a row (Edited stays false).
  void AddDepartment(const TDepartmentRow& Row);
  // Empties the list and appends every row in the current order, without ExitCode.
  void CollectDepartments(TDepartments& List) const;

  // Edits the current row in the department editor.
  void MnEditDepartmentClick();
  // Sorts by the clicked column's field, in the direction of SortAscending, and flips it.
  void grdDepartmentsTitleBtnClick(const QString& Field);
  // The sort marker of a column's title.
  TSortMarker grdDepartmentsGetBtnParams(const QString& Field) const;
  // The grid's column widths in the INI file's section grdDepartments (nothing when
  // IniFileName is empty).
  void LoadColumnWidths();
  void SaveColumnWidths();

  // Every close (OK, No, the close box) saves the column widths; closing is never refused.
  void done(int R) override;

  // The current row (-1 for none).
  int CurrentRow() const;
  void SetCurrentRow(int Row);

  QString SortField;
  bool SortAscending = true;
  QString IniFileName;

  QLabel* lblDepartmentList;
  QTableView* grdDepartments;
  TDepartmentTable* mData;
  QMenu* mnDepartmets;
  QAction* MnEditDepartment;
  QPushButton* btnOK;
  QPushButton* btnNo;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void FormCreate();
  void ShowSortMarker();
  void PopupMenu(const QPoint& GlobalPos);
};

namespace uDepartments {

// The longest wait for the read job, in whole seconds.
constexpr int ReadTimeLimitSec = 220;

// The clock of the wait (milliseconds of a monotonic clock); tests replace it, an empty
// function restores the steady clock.
void SetWaitClock(std::function<int64_t()> MsClock);

// The main window's department round trip: asks, reads the departments with a job and
// waits for it, shows the list, and on OK starts the job that writes the edited rows.
// While one round trip runs, a second one is refused (ActiveTask): it would empty the
// list that the read job is filling.
void EditDepartments(IMainWindowServices& Main);

}  // namespace uDepartments
}  // namespace fp
