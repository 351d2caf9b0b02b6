// The busy bar and the pop-up note of the main window; every window on small screens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QStyle>
#include <QScreen>
#include <QThread>

#include <algorithm>

#include "program/ui/AboutDialog.h"
#include "program/ui/LayoutTestSupport.h"
#include "program/ui/MarqueeProgressBar.h"
#include "program/ui/PayTypesRelation.h"
#include "program/ui/uDepartments.h"
#include "program/ui/uEditDepartment.h"
#include "program/ui/uFormHelpers.h"
#include "program/ui/uSelectDate.h"
#include "program/ui/uSettings.h"
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

// ---------------------------------------------------------------------------------------
// Readable in every theme

TEST(Contrast, RatiosAndReadableColours) {
  EXPECT_NEAR(uFormHelpers::ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(uFormHelpers::ContrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
  EXPECT_NEAR(uFormHelpers::ContrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);
  EXPECT_NEAR(uFormHelpers::ContrastRatio(Qt::red, Qt::white), 4.0, 0.01);
  // Red is kept where it is readable, and made darker on white, lighter on dark grey,
  // staying red.
  EXPECT_EQ(uFormHelpers::ReadableOn(Qt::red, Qt::black), QColor(Qt::red));
  for (const QColor& background : {QColor(Qt::white), QColor(0x35, 0x35, 0x35), QColor(0xef, 0xef, 0xef)}) {
    SCOPED_TRACE(background.name().toStdString());
    const QColor c = uFormHelpers::ReadableOn(Qt::red, background);
    EXPECT_GE(uFormHelpers::ContrastRatio(c, background), 4.5);
    EXPECT_EQ(c.hslHue(), 0);
    EXPECT_GT(c.red(), c.green());
  }
}

// The palettes of a light, a dark (as the gtk3 platform theme gives with Adwaita-dark) and
// a high-contrast theme.
QPalette ThemePalette(const std::string& Name) {
  if (Name == "light") return QApplication::style()->standardPalette();
  QPalette p;
  auto set = [&p](QPalette::ColorRole role, const QColor& c) { p.setColor(role, c); };
  const bool dark = Name == "dark";
  const QColor window = dark ? QColor(0x35, 0x35, 0x35) : QColor(Qt::black);
  const QColor text = dark ? QColor(0xee, 0xee, 0xec) : QColor(Qt::white);
  for (QPalette::ColorRole r : {QPalette::Window, QPalette::Button, QPalette::AlternateBase}) set(r, window);
  set(QPalette::Base, dark ? QColor(0x2d, 0x2d, 0x2d) : QColor(Qt::black));
  set(QPalette::ToolTipBase, dark ? QColor(0x1d, 0x1d, 0x1d) : QColor(Qt::black));
  for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText,
                                QPalette::BrightText, QPalette::HighlightedText})
    set(r, text);
  set(QPalette::Highlight, dark ? QColor(0x15, 0x53, 0x9e) : QColor(Qt::yellow));
  set(QPalette::Link, dark ? QColor(0x35, 0x84, 0xe4) : QColor(Qt::yellow));
  for (QPalette::ColorRole r : {QPalette::Light, QPalette::Midlight}) set(r, window.lighter(150));
  for (QPalette::ColorRole r : {QPalette::Dark, QPalette::Mid, QPalette::Shadow}) set(r, window.darker(150));
  return p;
}

// The application's palette for one test; the old one comes back after it.
class TScopedPalette {
 public:
  explicit TScopedPalette(const QPalette& P) : FOld(QApplication::palette()) { QApplication::setPalette(P); }
  ~TScopedPalette() { QApplication::setPalette(FOld); }

 private:
  QPalette FOld;
};

class Themes : public MainWindowTest, public ::testing::WithParamInterface<std::string> {};

// In each theme every text of the main window, with every alert and its red lines, and of
// the settings and about windows has a contrast of 4.5 or more against the background it
// is drawn on; also when the theme changes while the program runs.
TEST_P(Themes, EveryTextIsReadable) {
  const std::string name = GetParam();
  const bool switched = name.rfind("switched to ", 0) == 0;
  const std::string theme = switched ? name.substr(12) : name;
  std::optional<TScopedPalette> palette;
  if (!switched) palette.emplace(ThemePalette(theme));
  TfrmMain& main = ShowEveryAlert();
  if (switched) {
    palette.emplace(ThemePalette(theme));
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  ASSERT_TRUE(main.lblComError->isVisible());
  EXPECT_THAT(UnreadableTexts(main), ::testing::IsEmpty());
  TfrmSettings settings(main, &main);
  settings.LoadFrom(main.Settings());
  ShowAndSettle(settings);
  EXPECT_THAT(UnreadableTexts(settings), ::testing::IsEmpty());
  TAboutDlg about(&main);
  ShowAndSettle(about);
  EXPECT_THAT(UnreadableTexts(about), ::testing::IsEmpty());
  // The pop-up note, drawn by hand, with and without a picture: its text (the pixels that
  // differ most from its background) against its background.
  for (const QPixmap& picture : {QPixmap(), uMainImages::HintImages()[2]}) {
    uCustomHint::ShowHintMessage(picture, QStringLiteral("Няма хартия."), 0);
    TCustomHint& note = uCustomHint::CustomHintWnd();
    const QImage image = note.grab().toImage();
    const QColor background = note.Color();
    double best = 1.0;
    const QRect text(note.TextRect().topLeft() * image.devicePixelRatio(),
                     note.CalcHintRect(note.Caption()).size() * image.devicePixelRatio());
    for (int y = text.top(); y <= text.bottom(); ++y)
      for (int x = text.left(); x <= text.right(); ++x)
        if (image.rect().contains(x, y))
          best = std::max(best, uFormHelpers::ContrastRatio(QColor(image.pixel(x, y)), background));
    EXPECT_GE(best, 4.5) << (picture.isNull() ? "without" : "with") << " a picture, on "
                         << background.name().toStdString();
    note.HideTimerTick();
  }
}

INSTANTIATE_TEST_SUITE_P(Palettes, Themes, ::testing::Values("light", "dark", "high contrast", "switched to dark"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (c == ' ') c = '_';
                           return n;
                         });

// ---------------------------------------------------------------------------------------
// Every window on the screen it is on

// The faults of one shown top-level window, each line starting with its object name.
std::vector<std::string> FaultsOf(QWidget& Window, bool MayScroll) {
  ShowAndSettle(Window);
  std::vector<std::string> faults = LayoutFaults(Window);
  if (!MayScroll) {
    const std::vector<std::string> scrolled = ScrolledContent(Window);
    faults.insert(faults.end(), scrolled.begin(), scrolled.end());
  }
  for (std::string& f : faults) f = Window.objectName().toStdString() + ": " + f;
  return faults;
}

class EveryWindow : public MainWindowTest {
 protected:
  // The main window with every alert and each operator window over it, shown one after the
  // other; where MayScroll is false no content may need scrolling either.
  std::vector<std::string> Faults(bool MayScroll) {
    TfrmMain& main = ShowEveryAlert();
    std::vector<std::string> faults = FaultsOf(main, MayScroll);
    auto add = [&](QWidget& w) {
      const std::vector<std::string> more = FaultsOf(w, MayScroll);
      faults.insert(faults.end(), more.begin(), more.end());
      w.hide();
    };
    TfrmSettings settings(main, &main);
    settings.LoadFrom(main.Settings());
    add(settings);
    TAboutDlg about(&main);
    add(about);
    TfrmSelectPeriod period(&main);
    add(period);
    TfrmDepartmets departments(&main);
    departments.IniFileName = FAppDir + "DriverFiscalPrinterX4.ini";
    for (int i = 1; i <= 12; ++i) {
      TDepartmentRow r;
      r.Nom = i;
      r.DepName = QStringLiteral("Отдел %1").arg(i);
      r.ExitCode = QStringLiteral("P");
      r.TaxGrpNo = 2;
      departments.AddDepartment(r);
    }
    add(departments);
    TfrmEditDepartment edit(&main);
    add(edit);
    TPayTypeRelations payTypes(&main);
    add(payTypes);
    return faults;
  }
};

// A desktop at scale 2 on a 1280 x 900 screen, or at 1.5 on a 1366 x 768 one, has less
// room than any window's content at the usual font: every window still fits the screen,
// its content scrolling where it must, and nothing is cut or overlaps.
TEST_F(EveryWindow, FitsAScaledSmallScreenScrollingWhereItMust) {
  const TTestScreen screens[] = {
      {"1280x900-scale2", 1280, 900, 2.0},
      {"1366x768-scale1.5", 1366, 768, 1.5},
  };
  for (const TTestScreen& screen : screens) ExpectNoFaultsOnScreen(screen, [this] { return Faults(true); });
}

// With a 12-point font of any common desktop family every window, the main window with
// every alert too, fits a 1024 x 768 screen whole, with nothing to scroll. A family that
// is not installed here is left out.
TEST_F(EveryWindow, FitsA1024x768ScreenWholeAt12PointsInEveryDesktopFont) {
  const TTestScreen screen{"1024x768", 1024, 768, 1.0};
  ExpectNoFaultsOnScreen(screen, [this] {
    std::vector<std::string> faults;
    const QFont old = QApplication::font();
    for (const QString& family : DesktopFontFamilies()) {
      const std::optional<QFont> f = InstalledFont(family, 12);
      if (!f) continue;
      QApplication::setFont(*f);
      for (const std::string& fault : Faults(false)) faults.push_back(family.toStdString() + ": " + fault);
      FFrm.reset();
    }
    QApplication::setFont(old);
    return faults;
  });
}

}  // namespace
}  // namespace fp::test
