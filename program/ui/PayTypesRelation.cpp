#include "program/ui/PayTypesRelation.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "program/ui/uDialogs.h"
#include "program/ui/uFormHelpers.h"
#include "program/tasks/uMainServices.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"

namespace fp {

using uStrRes::Message;

TPayTypeRelations::TPayTypeRelations(QWidget* Owner) : QDialog(Owner) {
  uFormHelpers::NameWindow(this, "PayTypeRelations", QStringLiteral("Типове плащания"));
  uFormHelpers::KeepOnScreen(this);
  Label2 = new QLabel(QStringLiteral("Ако е попълнена таблицата ще се извърша подмяна на подадения от \n"
                                     "командния файл тип на плащане с номера посочен в колона \n"
                                     "\"Да се подмени на\""),
                      this);
  Label2->setObjectName(QStringLiteral("Label2"));
  PayTypesEdit = new QTableWidget(0, 2, this);
  PayTypesEdit->setObjectName(QStringLiteral("PayTypesEdit"));
  PayTypesEdit->verticalHeader()->hide();
  PayTypesEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  PayTypesEdit->setSelectionMode(QAbstractItemView::SingleSelection);
  PayTypesEdit->setColumnWidth(0, KeyColumnWidth);
  PayTypesEdit->setColumnWidth(1, ValueColumnWidth);
  QHBoxLayout* buttons = uFormHelpers::OkNoButtons(this, btnOK, btnNo);
  auto* top = new QVBoxLayout(this);
  top->addWidget(Label2);
  top->addWidget(PayTypesEdit, 1);
  top->addLayout(buttons);
  resize(KeyColumnWidth + ValueColumnWidth + 60, 420);

  connect(PayTypesEdit, &QTableWidget::cellChanged, this, [this](int row, int column) { CellChanged(row, column); });
  FormCreate();
}

void TPayTypeRelations::FormCreate() {
  uStrRes::LoadMessages();
  uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
  PayTypesEdit->setHorizontalHeaderLabels({Message(uStrRes::S_PayTypeInFile), Message(uStrRes::S_PayTypeReplace)});
  // The specified widths are the least: a title that needs more (a larger font) gets it,
  // and the window widens by as much.
  const int widths[2] = {KeyColumnWidth, ValueColumnWidth};
  int grown = 0;
  for (int c = 0; c < 2; ++c) {
    const int width = std::max(widths[c], PayTypesEdit->horizontalHeader()->sectionSizeHint(c));
    grown += width - PayTypesEdit->columnWidth(c);
    PayTypesEdit->setColumnWidth(c, width);
  }
  if (grown > 0) resize(width() + grown, height());
}

void TPayTypeRelations::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (!FRowsBuilt) BuildRows();
}

void TPayTypeRelations::AddRow(const QString& Key, const QString& Value) {
  const int row = PayTypesEdit->rowCount();
  PayTypesEdit->insertRow(row);
  auto* key = new QTableWidgetItem(Key);
  key->setFlags(Qt::ItemIsEnabled);  // the file's pay type is not editable
  PayTypesEdit->setItem(row, 0, key);
  PayTypesEdit->setItem(row, 1, new QTableWidgetItem(Value));
}

int TPayTypeRelations::RowOfKey(const QString& Key) const {
  for (int r = 0; r < PayTypesEdit->rowCount(); ++r)
    if (this->Key(r) == Key) return r;
  return -1;
}

void TPayTypeRelations::BuildRows() {
  const QSignalBlocker quiet(PayTypesEdit);
  FRowsBuilt = true;
  PayTypesEdit->setRowCount(0);
  for (int p = 1; p <= uConst::PayTypeRowCount; ++p) AddRow(QString::number(p), QString());
  for (const TPayTypePair& pair : uConst::PayTypePairs()) {
    const QString key = QString::number(pair.FilePayType);
    const int row = RowOfKey(key);
    if (row < 0)
      AddRow(key, QString::number(pair.PrnPayType));
    else
      PayTypesEdit->item(row, 1)->setText(QString::number(pair.PrnPayType));
  }
}

int TPayTypeRelations::RowCount() const { return PayTypesEdit->rowCount(); }

QString TPayTypeRelations::Key(int Row) const {
  const QTableWidgetItem* item = PayTypesEdit->item(Row, 0);
  return item ? item->text() : QString();
}

QString TPayTypeRelations::Value(int Row) const {
  const QTableWidgetItem* item = PayTypesEdit->item(Row, 1);
  return item ? item->text() : QString();
}

QString TPayTypeRelations::PayTypesEditValidate(int Row, const QString& Value) {
  if (Value.trimmed().isEmpty()) return {};
  const QString quoted = QStringLiteral(" \"") + Value + QStringLiteral("\"");
  const std::optional<int64_t> n = uFormHelpers::WholeNumber(Value);
  if (!n || *n < 0) return Message(uStrRes::InvalidValue) + quoted;
  if (*n > uConst::PayTypeRowCount) return Message(uStrRes::S_InvalidDigit) + quoted;
  if (Row == 0) return Message(uStrRes::S_PayType1CantChange);
  return {};
}

void TPayTypeRelations::CellChanged(int Row, int Column) {
  if (Column != 1 || FChecking) return;
  const QString refusal = PayTypesEditValidate(Row, Value(Row));
  if (refusal.isEmpty()) return;
  FChecking = true;
  ShowError(this, Message(uStrRes::S_Error) + CR + refusal);
  if (QTableWidgetItem* item = PayTypesEdit->item(Row, 1)) item->setText(QString());
  FChecking = false;
}

std::vector<TPayTypePair> TPayTypeRelations::CollectPairs() const {
  std::vector<TPayTypePair> pairs;
  // Keys from 0 up to the row count with the title row, as the list numbers its rows.
  const int lastKey = RowCount() + 1;
  for (int key = 0; key <= lastKey; ++key) {
    const int row = RowOfKey(QString::number(key));
    if (row < 0) continue;
    const std::optional<int64_t> n = uFormHelpers::WholeNumber(Value(row));
    if (n && *n > 0 && *n <= INT32_MAX) pairs.push_back({key, static_cast<int32_t>(*n)});
  }
  return pairs;
}

namespace PayTypesRelation {

bool EditPayTypes(IMainWindowServices& Main) {
  uFormHelpers::TOwnedWindow<TPayTypeRelations> frm(new TPayTypeRelations(Main.MainWindow()));
  if (frm->exec() != QDialog::Accepted || !frm) return false;
  uConst::SetPayTypePairs(frm->CollectPairs());
  Main.SaveSettings();
  return true;
}

}  // namespace PayTypesRelation
}  // namespace fp
