#pragma once
// The report-period window: the range of a fiscal-memory report, from block to block or
// from date to date, with or without detail. The task runner reads the choice after OK.
#include <QDate>
#include <QDialog>

#include <cstdint>

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace fp {

class TfrmSelectPeriod : public QDialog {
  Q_OBJECT
 public:
  static constexpr int32_t MinBlock = 1;
  static constexpr int32_t MaxBlock = 1000000;

  // Builds the window; both dates today; loads the messages and translates it.
  explicit TfrmSelectPeriod(QWidget* Owner = nullptr);

  // Keep the two radio buttons opposite and enable the controls of the checked one.
  void rbBlockClick();
  void rbDatesClick();

  // The choice: by dates when rbDates is checked, else by blocks.
  bool ByDates() const;
  // A block box whose text is not a whole number reads as 1; a value outside the range
  // is brought into it.
  int32_t FirstBlock() const;
  int32_t LastBlock() const;
  QDate BeginDate() const;
  QDate EndDate() const;
  bool Detailed() const;

  QLabel* lblReportDescr;
  QRadioButton* rbBlock;
  QRadioButton* rbDates;
  QGroupBox* gbBlocks;
  QSpinBox* spBlock1;
  QSpinBox* spBlock2;
  QGroupBox* gbDates;
  QDateEdit* dtBegin;
  QDateEdit* dtEnd;
  QCheckBox* chkPrintDetail;
  QPushButton* btnOK;
  QPushButton* btnNo;

 private:
  void FormCreate();
  void EnableMode(bool Dates);
  static int32_t BlockOf(const QSpinBox* Box);
};

}  // namespace fp
