#include "program/ui/uEditDepartment.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "program/ui/uFormHelpers.h"
#include "program/app/uStrRes.h"

namespace fp {

TfrmEditDepartment::TfrmEditDepartment(QWidget* Owner) : QDialog(Owner) {
  uFormHelpers::NameWindow(this, "frmEditDepartment", QStringLiteral("Редакция"));
  uFormHelpers::KeepOnScreen(this);
  lblEditDepartment = new QLabel(QStringLiteral("Редакция на департамент"), this);
  lblEditDepartment->setObjectName(QStringLiteral("lblEditDepartment"));
  uFormHelpers::SetBold(lblEditDepartment);
  lblDepartmentNom = new QLabel(this);  // filled by the caller
  lblDepartmentNom->setObjectName(QStringLiteral("lblDepartmentNom"));
  uFormHelpers::SetBold(lblDepartmentNom);
  lblDepName = new QLabel(QStringLiteral("Име"), this);
  lblDepName->setObjectName(QStringLiteral("lblDepName"));
  edtDepName = new QLineEdit(this);
  edtDepName->setObjectName(QStringLiteral("edtDepName"));
  lblDepDescr = new QLabel(QStringLiteral("Описание"), this);
  lblDepDescr->setObjectName(QStringLiteral("lblDepDescr"));
  edtDepDescr = new QLineEdit(this);
  edtDepDescr->setObjectName(QStringLiteral("edtDepDescr"));
  lblVatGrp = new QLabel(QStringLiteral("Дан.група"), this);
  lblVatGrp->setObjectName(QStringLiteral("lblVatGrp"));
  cmbVatGrp = new QComboBox(this);
  cmbVatGrp->setObjectName(QStringLiteral("cmbVatGrp"));
  for (int g = 1; g <= 8; ++g) cmbVatGrp->addItem(QString::number(g));
  cmbVatGrp->setCurrentIndex(1);
  QHBoxLayout* buttons = uFormHelpers::OkNoButtons(this, btnOK, btnNo);
  btnOK->setDefault(true);

  auto* heading = new QHBoxLayout;
  heading->addWidget(lblEditDepartment);
  heading->addWidget(lblDepartmentNom);
  heading->addStretch(1);
  auto* grid = new QGridLayout;
  grid->addWidget(lblDepName, 0, 0);
  grid->addWidget(edtDepName, 0, 1);
  grid->addWidget(lblDepDescr, 1, 0);
  grid->addWidget(edtDepDescr, 1, 1);
  grid->addWidget(lblVatGrp, 2, 0);
  grid->addWidget(cmbVatGrp, 2, 1, Qt::AlignLeft);
  grid->setColumnStretch(1, 1);
  auto* top = new QVBoxLayout(this);
  top->addLayout(heading);
  top->addLayout(grid);
  top->addStretch(1);
  top->addLayout(buttons);
  setMinimumWidth(320);

  connect(cmbVatGrp, &QComboBox::currentIndexChanged, this, [this] { UpdateOkButton(); });
  FormCreate();
  UpdateOkButton();
}

void TfrmEditDepartment::FormCreate() {
  uStrRes::LoadMessages();
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
}

void TfrmEditDepartment::ShowRow(const TDepartmentRow& Row) {
  lblDepartmentNom->setText(QString::number(Row.Nom));
  edtDepName->setText(Row.DepName);
  edtDepDescr->setText(Row.DepDescr);
  cmbVatGrp->setCurrentIndex(cmbVatGrp->findText(QString::number(Row.TaxGrpNo)));
  UpdateOkButton();
}

int32_t TfrmEditDepartment::VatGroup() const { return cmbVatGrp->currentIndex() + 1; }

void TfrmEditDepartment::UpdateOkButton() { btnOK->setEnabled(cmbVatGrp->currentIndex() >= 0); }

}  // namespace fp
