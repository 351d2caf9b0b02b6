#include "program/ui/uFormHelpers.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "program/app/uSettingsFile.h"

namespace fp::uFormHelpers {

std::optional<int64_t> WholeNumber(const QString& Text) {
  const QString t = Text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  // Only a sign and decimal digits; QString::toLongLong would also take other forms.
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar c = t[i];
    const bool sign = i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-')) && t.size() > 1;
    if (!sign && (c < QLatin1Char('0') || c > QLatin1Char('9'))) return std::nullopt;
  }
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok, 10);
  if (!ok) return std::nullopt;
  return static_cast<int64_t>(v);
}

std::optional<int32_t> PortNumberOf(const QString& PortText) {
  const std::optional<int64_t> n = WholeNumber(PortText.mid(3));
  if (!n || *n <= 0 || *n > uSettingsFile::MaxComPort) return std::nullopt;
  return static_cast<int32_t>(*n);
}

void SetBold(QLabel* Label) {
  QFont f = Label->font();
  f.setBold(true);
  Label->setFont(f);
}

void NameWindow(QWidget* Window, const char* ObjectName, const QString& Caption) {
  Window->setObjectName(QString::fromLatin1(ObjectName));
  Window->setWindowTitle(Caption);
}

QHBoxLayout* OkNoButtons(QDialog* Window, QPushButton*& Ok, QPushButton*& No) {
  Ok = new QPushButton(QStringLiteral("OK"), Window);
  Ok->setObjectName(QStringLiteral("btnOK"));
  No = new QPushButton(QStringLiteral("Отказ"), Window);
  No->setObjectName(QStringLiteral("btnNo"));
  QObject::connect(Ok, &QPushButton::clicked, Window, &QDialog::accept);
  QObject::connect(No, &QPushButton::clicked, Window, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(Ok);
  row->addWidget(No);
  return row;
}

}  // namespace fp::uFormHelpers
