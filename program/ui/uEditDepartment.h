#pragma once
// The department editor: name, description and VAT group of one department.
#include <QDialog>

#include "program/tasks/uPRNFileThread.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace fp {

class TfrmEditDepartment : public QDialog {
  Q_OBJECT
 public:
  // Builds the window; loads the messages and translates it.
  explicit TfrmEditDepartment(QWidget* Owner = nullptr);

  // Shows a row: its number, name and description, and the VAT group item equal to its
  // group (none when it has no such item).
  void ShowRow(const TDepartmentRow& Row);
  // The chosen VAT group (item index + 1), 0 when none is chosen.
  int32_t VatGroup() const;

  QLabel* lblEditDepartment;
  QLabel* lblDepartmentNom;
  QLabel* lblDepName;
  QLineEdit* edtDepName;
  QLabel* lblDepDescr;
  QLineEdit* edtDepDescr;
  QLabel* lblVatGrp;
  QComboBox* cmbVatGrp;
  QPushButton* btnOK;
  QPushButton* btnNo;

 private:
  void FormCreate();
  // OK stays disabled while no VAT group is chosen: the printer has no group 0.
  void UpdateOkButton();
};

}  // namespace fp
