#include "program/ui/uSelectDate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "program/ui/OperatorWindows.h"
#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/LayoutTestSupport.h"
#include "program/receipts/uECRFileReader.h"

namespace fp::test {
namespace {

using test::TFakeMain;
using test::WhenModal;

TEST(SelectPeriodTest, OkWithoutChangesAsksForBlocksOneToOneWithoutDetail) {
  TFakeMain main;
  WhenModal<TfrmSelectPeriod>([](TfrmSelectPeriod* f) {
    EXPECT_TRUE(f->rbBlock->isChecked());
    EXPECT_FALSE(f->rbDates->isChecked());
    EXPECT_TRUE(f->spBlock1->isEnabled());
    EXPECT_FALSE(f->dtBegin->isEnabled());
    EXPECT_FALSE(f->dtEnd->isEnabled());
    EXPECT_EQ(f->dtBegin->date(), QDate::currentDate());
    EXPECT_EQ(f->dtEnd->date(), QDate::currentDate());
    f->btnOK->click();
  });
  TReportPeriod period;
  period.FirstBlock = 7;
  ASSERT_TRUE(TOperatorWindows().SelectPeriod(main, period));
  EXPECT_FALSE(period.ByDates);
  EXPECT_EQ(period.FirstBlock, 1);
  EXPECT_EQ(period.LastBlock, 1);
  EXPECT_FALSE(period.Detailed);
}

TEST(SelectPeriodTest, DateModeHandsBackTheDaysAndNoStartsNothing) {
  TFakeMain main;
  const QDate first(2024, 2, 29), last(2024, 3, 31);
  WhenModal<TfrmSelectPeriod>([&](TfrmSelectPeriod* f) {
    f->rbDates->click();
    f->dtBegin->setDate(first);
    f->dtEnd->setDate(last);
    f->chkPrintDetail->setChecked(true);
    f->btnOK->click();
  });
  TReportPeriod period;
  ASSERT_TRUE(TOperatorWindows().SelectPeriod(main, period));
  EXPECT_TRUE(period.ByDates);
  EXPECT_TRUE(period.Detailed);
  EXPECT_DOUBLE_EQ(period.StartDate, 45351.0);  // 29 February 2024
  EXPECT_EQ(uECRFileReader::OleToDateTime(period.EndDate), QDateTime(last, QTime(0, 0)));

  WhenModal<TfrmSelectPeriod>([](TfrmSelectPeriod* f) { f->btnNo->click(); });
  EXPECT_FALSE(TOperatorWindows().SelectPeriod(main, period));
}

TEST(SelectPeriodTest, ModeSwitchKeepsTheRadioButtonsOppositeAndEnablesItsControls) {
  TfrmSelectPeriod f;
  f.show();
  f.rbDates->click();
  EXPECT_FALSE(f.rbBlock->isChecked());
  EXPECT_FALSE(f.spBlock1->isEnabled());
  EXPECT_FALSE(f.spBlock2->isEnabled());
  EXPECT_TRUE(f.dtBegin->isEnabled());
  EXPECT_TRUE(f.dtEnd->isEnabled());
  EXPECT_TRUE(f.ByDates());
  f.rbBlock->click();
  EXPECT_FALSE(f.rbDates->isChecked());
  EXPECT_TRUE(f.spBlock1->isEnabled());
  EXPECT_TRUE(f.spBlock2->isEnabled());
  EXPECT_FALSE(f.dtBegin->isEnabled());
  EXPECT_FALSE(f.dtEnd->isEnabled());
  EXPECT_FALSE(f.ByDates());
}

TEST(SelectPeriodTest, BlockTextsThatAreNoNumberReadAsOneAndAreKeptInRange) {
  TfrmSelectPeriod f;
  const std::vector<std::pair<const char*, int32_t>> cases = {
      {"", 1}, {"abc", 1}, {"25", 25}, {"0", 1}, {"2000000", 1000000}};
  for (const auto& [text, block] : cases) {
    f.spBlock2->findChild<QLineEdit*>()->setText(QString::fromLatin1(text));
    EXPECT_EQ(f.LastBlock(), block) << text;
  }
  f.spBlock1->setValue(12);
  EXPECT_EQ(f.FirstBlock(), 12);

  // Leaving the box with a value below the range brings it to 1, not back to 12.
  f.spBlock1->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
  QFocusEvent leave(QEvent::FocusOut);
  QCoreApplication::sendEvent(f.spBlock1, &leave);
  EXPECT_EQ(f.spBlock1->value(), 1);
  EXPECT_EQ(f.FirstBlock(), 1);
}

// Every caption fits its widget, no controls overlap and the window fits the screen.
TEST(SelectPeriodTest, Layout) {
  TfrmSelectPeriod f;
  test::ShowAndSettle(f);
  EXPECT_THAT(test::LayoutFaults(f), ::testing::IsEmpty());
}

}  // namespace
}  // namespace fp::test
