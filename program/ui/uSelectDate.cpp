#include "program/ui/uSelectDate.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "program/ui/uFormHelpers.h"
#include "program/app/uStrRes.h"

namespace fp {

namespace {

QSpinBox* BlockBox(QWidget* Owner, const char* Name) {
  auto* box = new QSpinBox(Owner);
  box->setObjectName(QString::fromLatin1(Name));
  box->setRange(TfrmSelectPeriod::MinBlock, TfrmSelectPeriod::MaxBlock);
  // A value typed outside the range is brought to its nearer end when the box loses the
  // focus (0 becomes 1), not back to the value before.
  box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  box->setValue(1);
  box->setMinimumWidth(110);
  return box;
}

QDateEdit* DateBox(QWidget* Owner, const char* Name) {
  auto* box = new QDateEdit(Owner);
  box->setObjectName(QString::fromLatin1(Name));
  box->setCalendarPopup(true);
  box->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  box->setEnabled(false);
  return box;
}

}  // namespace

TfrmSelectPeriod::TfrmSelectPeriod(QWidget* Owner) : QDialog(Owner) {
  uFormHelpers::NameWindow(this, "frmSelectPeriod", QStringLiteral("Отчети"));
  uFormHelpers::KeepOnScreen(this);
  lblReportDescr = new QLabel(QStringLiteral("Отчети от фискалната памет"), this);
  lblReportDescr->setObjectName(QStringLiteral("lblReportDescr"));
  uFormHelpers::SetBold(lblReportDescr);
  rbBlock = new QRadioButton(QStringLiteral("По блокове"), this);
  rbBlock->setObjectName(QStringLiteral("rbBlock"));
  rbBlock->setChecked(true);
  rbDates = new QRadioButton(QStringLiteral("По дати"), this);
  rbDates->setObjectName(QStringLiteral("rbDates"));

  gbBlocks = new QGroupBox(QStringLiteral("От блок до блок"), this);
  gbBlocks->setObjectName(QStringLiteral("gbBlocks"));
  spBlock1 = BlockBox(gbBlocks, "spBlock1");
  spBlock2 = BlockBox(gbBlocks, "spBlock2");
  auto* blocks = new QHBoxLayout(gbBlocks);
  blocks->addWidget(spBlock1);
  blocks->addWidget(spBlock2);

  gbDates = new QGroupBox(QStringLiteral("От дата до дата"), this);
  gbDates->setObjectName(QStringLiteral("gbDates"));
  dtBegin = DateBox(gbDates, "dtBegin");
  dtEnd = DateBox(gbDates, "dtEnd");
  auto* dates = new QHBoxLayout(gbDates);
  dates->addWidget(dtBegin);
  dates->addWidget(dtEnd);

  chkPrintDetail = new QCheckBox(QStringLiteral("Детайлен отчет"), this);
  chkPrintDetail->setObjectName(QStringLiteral("chkPrintDetail"));
  QHBoxLayout* buttons = uFormHelpers::OkNoButtons(this, btnOK, btnNo);
  btnOK->setDefault(true);

  auto* grid = new QGridLayout;
  grid->addWidget(rbBlock, 0, 0);
  grid->addWidget(gbBlocks, 0, 1);
  grid->addWidget(rbDates, 1, 0);
  grid->addWidget(gbDates, 1, 1);
  auto* top = new QVBoxLayout(this);
  top->addWidget(lblReportDescr);
  top->addLayout(grid);
  top->addWidget(chkPrintDetail);
  top->addStretch(1);
  top->addLayout(buttons);

  connect(rbBlock, &QRadioButton::clicked, this, [this] { rbBlockClick(); });
  connect(rbDates, &QRadioButton::clicked, this, [this] { rbDatesClick(); });
  FormCreate();
}

void TfrmSelectPeriod::FormCreate() {
  const QDate today = QDate::currentDate();
  dtBegin->setDate(today);
  dtEnd->setDate(today);
  uStrRes::LoadMessages();
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
}

void TfrmSelectPeriod::EnableMode(bool Dates) {
  dtBegin->setEnabled(Dates);
  dtEnd->setEnabled(Dates);
  spBlock1->setEnabled(!Dates);
  spBlock2->setEnabled(!Dates);
}

void TfrmSelectPeriod::rbBlockClick() {
  rbDates->setChecked(!rbBlock->isChecked());
  EnableMode(rbDates->isChecked());
}

void TfrmSelectPeriod::rbDatesClick() {
  rbBlock->setChecked(!rbDates->isChecked());
  EnableMode(rbDates->isChecked());
}

bool TfrmSelectPeriod::ByDates() const { return rbDates->isChecked(); }

int32_t TfrmSelectPeriod::BlockOf(const QSpinBox* Box) {
  const std::optional<int64_t> n = uFormHelpers::WholeNumber(Box->text());
  if (!n) return MinBlock;
  return static_cast<int32_t>(std::clamp<int64_t>(*n, MinBlock, MaxBlock));
}

int32_t TfrmSelectPeriod::FirstBlock() const { return BlockOf(spBlock1); }
int32_t TfrmSelectPeriod::LastBlock() const { return BlockOf(spBlock2); }
QDate TfrmSelectPeriod::BeginDate() const { return dtBegin->date(); }
QDate TfrmSelectPeriod::EndDate() const { return dtEnd->date(); }
bool TfrmSelectPeriod::Detailed() const { return chkPrintDetail->isChecked(); }

}  // namespace fp
