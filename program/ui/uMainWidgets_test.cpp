// The busy bar and the pop-up note of the main window.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include "program/ui/MarqueeProgressBar.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uMainImages.h"
#include "program/ui/uMainTestSupport.h"

namespace fp::test {
namespace {

TEST(MarqueeProgressBar, SweepsAndStartsAgain) {
  TMarqueeProgressBar bar;
  EXPECT_FALSE(bar.isVisibleTo(nullptr) && bar.Active());
  bar.SetActive(true);
  EXPECT_TRUE(bar.StepTimer().isActive());
  EXPECT_EQ(bar.StepTimer().interval(), 100);
  for (int i = 1; i <= 100; ++i) {
    bar.TimerTick();
    ASSERT_EQ(bar.value(), i);
  }
  bar.TimerTick();
  EXPECT_EQ(bar.value(), 0);
  bar.TimerTick();
  EXPECT_EQ(bar.value(), 1);
}

TEST(MarqueeProgressBar, ReactivatedAtTheEndOfASweepKeepsMoving) {
  TMarqueeProgressBar bar;
  bar.SetActive(true);
  for (int i = 0; i < 100; ++i) bar.TimerTick();
  ASSERT_EQ(bar.value(), 100);
  bar.SetActive(false);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_FALSE(bar.StepTimer().isActive());
  bar.SetActive(true);
  EXPECT_EQ(bar.value(), 0);
  // The counter stood at the maximum: the bar must not freeze at 0.
  int moved = 0;
  for (int i = 0; i < 5; ++i) {
    bar.TimerTick();
    moved += bar.value() > 0;
  }
  EXPECT_GE(moved, 4);
  EXPECT_LE(bar.value(), 100);
}

TEST(MarqueeProgressBar, ReactivationContinuesFromTheCounter) {
  TMarqueeProgressBar bar;
  bar.SetActive(true);
  for (int i = 0; i < 57; ++i) bar.TimerTick();
  bar.SetActive(false);
  bar.SetActive(true);
  bar.SetActive(true);  // twice in a row: still one sweep
  EXPECT_EQ(bar.value(), 0);
  bar.TimerTick();
  EXPECT_EQ(bar.value(), 58);
}

TEST(CustomHint, SitsAtTheBottomRightOfTheAvailableAreaAndHidesAfterFiveSeconds) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QString text = QStringLiteral("First line\rSecond line");
  uCustomHint::ShowHintMessage(uMainImages::HintImages()[2], text, 1234);
  TCustomHint& h = uCustomHint::CustomHintWnd();
  EXPECT_TRUE(h.isVisible());
  EXPECT_TRUE(h.testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_TRUE(h.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(h.windowFlags() & Qt::WindowDoesNotAcceptFocus);
  EXPECT_EQ(h.TimerInterval(), 1234);
  EXPECT_EQ(h.HideTimer().interval(), 5000);
  EXPECT_TRUE(h.HideTimer().isActive());
  const QRect m = h.CalcHintRect(text);
  const QRect g = h.geometry();
  EXPECT_EQ(g.width(), m.width() + 75);
  EXPECT_EQ(g.height(), m.height() + 25);
  EXPECT_EQ(g.right() + 1, area.right() + 1 - 25);
  EXPECT_EQ(g.bottom() + 1, area.bottom() + 1 - 15);
  // Two lines are taller than one.
  EXPECT_GT(m.height(), h.CalcHintRect(QStringLiteral("First line")).height());
  // A long line is wrapped at 400 pixels for the measurement.
  const QString longLine = QStringLiteral("word ").repeated(200);
  EXPECT_LE(h.CalcHintRect(longLine).width(), TCustomHint::MaxTextWidth + TCustomHint::MarginWidth);
  EXPECT_GT(h.CalcHintRect(longLine).height(), 3 * h.CalcHintRect(QStringLiteral("word")).height());
  EXPECT_EQ(h.TextRect().left(), 17 + 10);
  h.HideTimerTick();
  EXPECT_FALSE(h.isVisible());
  EXPECT_FALSE(h.HideTimer().isActive());
}

TEST(CustomHint, NoteWithoutPictureDrawsItsTextTenPixelsFromTheLeft) {
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("Stopped"), 0);
  TCustomHint& h = uCustomHint::CustomHintWnd();
  EXPECT_TRUE(h.Picture().isNull());
  EXPECT_EQ(h.TextRect().left(), 10);
  EXPECT_EQ(h.Caption(), "Stopped");
  h.HideTimerTick();
}

TEST(CustomHint, ASecondNoteDoesNotRestartTheHideTimer) {
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("one"), 0);
  TCustomHint& h = uCustomHint::CustomHintWnd();
  const int before = h.HideTimer().remainingTime();
  QThread::msleep(30);
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("two"), 0);
  EXPECT_EQ(h.Caption(), "two");
  EXPECT_TRUE(h.isVisible());
  EXPECT_LT(h.HideTimer().remainingTime(), before);
  h.HideTimerTick();
}

}  // namespace
}  // namespace fp::test
