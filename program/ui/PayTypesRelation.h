#pragma once
// The payment-type window: which printer pay type is sent for a pay type of the receipt
// files. Rows "1" to "11" (and a row for every stored pair of another pay type); the
// right column holds the replacement, empty for none.
#include <QDialog>
#include <QString>

#include <vector>

#include "program/app/uConst.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace fp {

class IMainWindowServices;

class TPayTypeRelations : public QDialog {
  Q_OBJECT
 public:
  static constexpr int KeyColumnWidth = 166;
  static constexpr int ValueColumnWidth = 199;

  // Builds the window; loads the messages, translates it and sets the column titles.
  explicit TPayTypeRelations(QWidget* Owner = nullptr);

  // Builds the rows from uConst::PayTypePairs: "1" to "11" empty, then each pair's value
  // in the row of its file pay type (a row of its own, appended, when there is none).
  // Runs once, when the window is first shown, so that nothing the operator typed is
  // lost when the window becomes active again (after a dialog over it, for instance).
  void BuildRows();

  // Checks a value as typed for the cell of row `Row` (0 = pay type 1); empty when
  // accepted, else the refusal text.
  static QString PayTypesEditValidate(int Row, const QString& Value);

  // The pairs of the rows, by file pay type from 0 up: every row whose value is a whole
  // number above 0.
  std::vector<TPayTypePair> CollectPairs() const;

  // The number of rows and a row's key and value (tests and the main window).
  int RowCount() const;
  QString Key(int Row) const;
  QString Value(int Row) const;

  QLabel* Label2;
  QTableWidget* PayTypesEdit;
  QPushButton* btnOK;
  QPushButton* btnNo;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void FormCreate();
  void AddRow(const QString& Key, const QString& Value);
  int RowOfKey(const QString& Key) const;
  // A value left by the operator: refused values show the error dialog and are emptied.
  void CellChanged(int Row, int Column);
  bool FRowsBuilt = false;
  bool FChecking = false;
};

namespace PayTypesRelation {

// The main window's pay-type round trip: shows the window; on OK replaces
// uConst::PayTypePairs with its pairs and saves the settings. True on OK.
bool EditPayTypes(IMainWindowServices& Main);

}  // namespace PayTypesRelation
}  // namespace fp
