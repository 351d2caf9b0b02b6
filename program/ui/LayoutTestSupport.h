#pragma once
// Test helpers for the look of a window, shown on Qt's offscreen platform: the captions
// that do not fit their widget, visible sibling controls that overlap or stick out of their
// parent, and a window that does not fit the screen. Each fault is one line naming the
// widget by object name and its text, so a failing test says what to widen. Also the font
// the window tests use, and a run of checks on a screen of a chosen size and scale.
// Header only; for tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegion>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "program/ui/uFormHelpers.h"

namespace fp::test {

namespace layout_detail {

inline std::string Describe(const QWidget* W, const QString& Text) {
  const QString name = W->objectName().isEmpty() ? QString::fromLatin1(W->metaObject()->className()) : W->objectName();
  return (name + QStringLiteral(" \"") + Text + QLatin1Char('"')).toStdString();
}

inline std::string Shortfall(const QWidget* W, const QString& Text, int Needed, int Has, const char* What = "wide") {
  return Describe(W, Text) + " needs " + std::to_string(Needed) + " px " + What + ", has " + std::to_string(Has);
}

// The size of a caption as the widget draws it: several lines, '&' of a mnemonic not drawn.
inline QSize TextSize(const QWidget* W, const QString& Text) {
  return QFontMetrics(W->font()).size(Qt::TextShowMnemonic, Text);
}

// Widgets whose children are the parts of one control (a table's scroll bars and
// headers, a spin box's editor): their children are not the window's controls.
inline bool IsCompound(const QWidget* W) {
  return qobject_cast<const QAbstractScrollArea*>(W) || qobject_cast<const QAbstractSpinBox*>(W) ||
         qobject_cast<const QComboBox*>(W) || qobject_cast<const QCalendarWidget*>(W) ||
         qobject_cast<const QTabBar*>(W) || qobject_cast<const QAbstractButton*>(W);
}

inline void CheckLabel(const QLabel* L, std::vector<std::string>& Out) {
  if (L->text().isEmpty() || L->textFormat() == Qt::RichText ||
      (L->textFormat() == Qt::AutoText && Qt::mightBeRichText(L->text())))
    return;
  const int margin = L->margin();
  const QRect room = L->contentsRect().adjusted(margin, margin, -margin, -margin);
  if (L->wordWrap()) {
    const int needed =
        QFontMetrics(L->font())
            .boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap | Qt::TextShowMnemonic, L->text())
            .height();
    if (needed > room.height()) Out.push_back(Shortfall(L, L->text(), needed, room.height(), "high"));
    return;
  }
  const QSize needed = TextSize(L, L->text());
  if (needed.width() > room.width())
    Out.push_back(Shortfall(L, L->text(), needed.width(), room.width()));
  else if (needed.height() > room.height())
    Out.push_back(Shortfall(L, L->text(), needed.height(), room.height(), "high"));
}

inline void CheckButton(const QAbstractButton* B, std::vector<std::string>& Out) {
  if (B->text().isEmpty()) return;
  const QStyle* style = B->style();
  int room = 0;
  if (const auto* push = qobject_cast<const QPushButton*>(B)) {
    QStyleOptionButton opt;
    opt.initFrom(push);
    opt.text = push->text();
    opt.icon = push->icon();
    opt.iconSize = push->iconSize();
    if (push->autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
    if (push->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
    if (push->isFlat()) opt.features |= QStyleOptionButton::Flat;
    room = style->subElementRect(QStyle::SE_PushButtonContents, &opt, push).width();
    if (!push->icon().isNull()) room -= push->iconSize().width() + 4;
  } else if (qobject_cast<const QCheckBox*>(B) || qobject_cast<const QRadioButton*>(B)) {
    QStyleOptionButton opt;
    opt.initFrom(B);
    opt.text = B->text();
    opt.icon = B->icon();
    opt.iconSize = B->iconSize();
    const bool check = qobject_cast<const QCheckBox*>(B) != nullptr;
    room = style->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &opt, B).width();
    if (!B->icon().isNull()) room -= B->iconSize().width() + 4;
  } else if (const auto* tool = qobject_cast<const QToolButton*>(B)) {
    if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly) return;
    // A tool button's own size for its text and icon, with the style's margins.
    const int needed = tool->sizeHint().width();
    if (needed > tool->width()) Out.push_back(Shortfall(tool, tool->text(), needed, tool->width()));
    return;
  } else {
    return;
  }
  const int needed = TextSize(B, B->text()).width();
  if (needed > room) Out.push_back(Shortfall(B, B->text(), needed, room));
}

inline void CheckGroupBox(const QGroupBox* G, std::vector<std::string>& Out) {
  if (G->title().isEmpty()) return;
  QStyleOptionGroupBox opt;
  opt.initFrom(G);
  opt.text = G->title();
  opt.lineWidth = 1;
  opt.midLineWidth = 0;
  opt.textAlignment = G->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  if (G->isCheckable()) opt.subControls |= QStyle::SC_GroupBoxCheckBox;
  if (G->isFlat()) opt.features |= QStyleOptionFrame::Flat;
  QRect title = G->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, G);
  if (G->isCheckable()) title |= G->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxCheckBox, G);
  // The style puts the title at its own width; it is cut where the box ends.
  const int needed = title.right() + 1 - G->rect().left();
  if (needed > G->width()) Out.push_back(Shortfall(G, G->title(), needed, G->width()));
}

inline void CheckHeader(const QHeaderView* H, std::vector<std::string>& Out) {
  if (!H || H->isHidden() || !H->model()) return;
  const QStyle* style = H->style();
  const int margin = style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, H);
  const int mark = H->isSortIndicatorShown() ? style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, H) + margin : 0;
  const QFontMetrics fm(H->font());
  // A header is named by its table.
  const QWidget* owner = H->objectName().isEmpty() && H->parentWidget() ? H->parentWidget() : H;
  for (int logical = 0; logical < H->count(); ++logical) {
    if (H->isSectionHidden(logical)) continue;
    const QString text = H->model()->headerData(logical, H->orientation(), Qt::DisplayRole).toString();
    if (text.isEmpty()) continue;
    const QSize size = fm.size(0, text);
    const int needed = (H->orientation() == Qt::Horizontal ? size.width() : size.height()) + 2 * margin + mark;
    const int has = H->sectionSize(logical);
    if (needed > has) Out.push_back(Shortfall(owner, text, needed, has));
  }
}

inline void CheckItemView(const QWidget* W, std::vector<std::string>& Out) {
  if (const auto* table = qobject_cast<const QTableView*>(W)) {
    CheckHeader(table->horizontalHeader(), Out);
  } else if (const auto* tree = qobject_cast<const QTreeView*>(W)) {
    CheckHeader(tree->header(), Out);
  }
}

// The visible controls directly under Parent, not windows of their own.
inline std::vector<const QWidget*> VisibleChildren(const QWidget* Parent) {
  std::vector<const QWidget*> out;
  for (const QObject* o : Parent->children()) {
    const auto* w = qobject_cast<const QWidget*>(o);
    if (w && !w->isWindow() && w->isVisible()) out.push_back(w);
  }
  return out;
}

// A control with its caption, if it has one, and its place in its parent.
inline std::string Placed(const QWidget* W) {
  QString text;
  if (const auto* l = qobject_cast<const QLabel*>(W))
    text = l->text();
  else if (const auto* b = qobject_cast<const QAbstractButton*>(W))
    text = b->text();
  else if (const auto* g = qobject_cast<const QGroupBox*>(W))
    text = g->title();
  const QRect r = W->geometry();
  return Describe(W, text) + " at " + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
         std::to_string(r.width()) + "x" + std::to_string(r.height());
}

inline void Walk(const QWidget* Parent, std::vector<std::string>& Clipped, std::vector<std::string>& Overlaps) {
  const std::vector<const QWidget*> children = VisibleChildren(Parent);
  for (size_t i = 0; i < children.size(); ++i) {
    const QWidget* a = children[i];
    if (!Parent->rect().contains(a->geometry())) Overlaps.push_back(Placed(a) + " sticks out of " + Placed(Parent));
    for (size_t j = i + 1; j < children.size(); ++j) {
      const QWidget* b = children[j];
      if (a->geometry().intersects(b->geometry())) Overlaps.push_back(Placed(a) + " overlaps " + Placed(b));
    }
  }
  for (const QWidget* w : children) {
    if (const auto* l = qobject_cast<const QLabel*>(w))
      CheckLabel(l, Clipped);
    else if (const auto* b = qobject_cast<const QAbstractButton*>(w))
      CheckButton(b, Clipped);
    else if (const auto* g = qobject_cast<const QGroupBox*>(w))
      CheckGroupBox(g, Clipped);
    CheckItemView(w, Clipped);
    if (!IsCompound(w))
      Walk(w, Clipped, Overlaps);
    else if (const auto* area = qobject_cast<const QScrollArea*>(w); area && area->widget())
      Walk(area->widget(), Clipped, Overlaps);  // scrolled content: its controls are the window's
  }
}

inline void Collect(const QWidget& Window, std::vector<std::string>& Clipped, std::vector<std::string>& Overlaps) {
  CheckItemView(&Window, Clipped);
  Walk(&Window, Clipped, Overlaps);
}

}  // namespace layout_detail

// The captions of labels, buttons, check boxes, group boxes and column titles of the shown
// Window that do not fit their widget: the text's size by the widget's font metrics with
// the style's margins against the widget's geometry.
inline std::vector<std::string> ClippedCaptions(const QWidget& Window) {
  std::vector<std::string> clipped, overlaps;
  layout_detail::Collect(Window, clipped, overlaps);
  return clipped;
}

// Visible sibling controls of the shown Window that overlap, and controls that stick out
// of their parent.
inline std::vector<std::string> OverlappingControls(const QWidget& Window) {
  std::vector<std::string> clipped, overlaps;
  layout_detail::Collect(Window, clipped, overlaps);
  return overlaps;
}

// The window's frame inside the available area of its screen.
inline bool FitsTheScreen(const QWidget& Window) {
  const QScreen* screen = Window.screen() ? Window.screen() : QGuiApplication::primaryScreen();
  return screen && screen->availableGeometry().contains(Window.frameGeometry());
}

// The scroll areas of the shown Window whose content does not fit their view: what the
// operator has to scroll to see.
inline std::vector<std::string> ScrolledContent(const QWidget& Window) {
  std::vector<std::string> out;
  for (const QScrollArea* area : Window.findChildren<const QScrollArea*>()) {
    const QWidget* content = area->widget();
    if (!area->isVisible() || !content) continue;
    const QSize view = area->viewport()->size();
    if (content->width() > view.width() || content->height() > view.height())
      out.push_back(layout_detail::Describe(area, QString()) + " scrolls: its content is " +
                    std::to_string(content->width()) + "x" + std::to_string(content->height()) + " in a view of " +
                    std::to_string(view.width()) + "x" + std::to_string(view.height()));
  }
  return out;
}

// Every fault above of the shown Window, and a window frame outside the screen.
inline std::vector<std::string> LayoutFaults(const QWidget& Window) {
  std::vector<std::string> clipped, overlaps;
  layout_detail::Collect(Window, clipped, overlaps);
  clipped.insert(clipped.end(), overlaps.begin(), overlaps.end());
  if (!FitsTheScreen(Window)) {
    const QRect f = Window.frameGeometry();
    const QScreen* screen = Window.screen() ? Window.screen() : QGuiApplication::primaryScreen();
    const QRect a = screen ? screen->availableGeometry() : QRect();
    auto text = [](const QRect& r) {
      return std::to_string(r.width()) + "x" + std::to_string(r.height()) + " at " + std::to_string(r.x()) + "," +
             std::to_string(r.y());
    };
    clipped.push_back(layout_detail::Describe(&Window, Window.windowTitle()) + " does not fit the screen: its frame " +
                      text(f) + ", the screen's room " + text(a));
  }
  return clipped;
}

// Shows Window (offscreen) and lets its layouts settle, before the checks above.
inline void ShowAndSettle(QWidget& Window) {
  if (!Window.isVisible()) Window.show();
  QCoreApplication::processEvents();
}

// ---- Colours ----

// The texts of the shown Window (labels, check boxes and radio buttons, enabled and in
// view) whose colour has a contrast below 4.5 against the background they are drawn on.
// The text's colour is the widget's palette colour of its foreground role; the background
// is what the window renders behind it: the most frequent colour of its area in a grab of
// the window, so a panel's fill, a style sheet or a parent's colour all count.
inline std::vector<std::string> UnreadableTexts(QWidget& Window) {
  std::vector<std::string> out;
  const QImage image = Window.grab().toImage();
  const qreal dpr = image.devicePixelRatio();
  std::vector<QWidget*> texts;
  for (QWidget* w : Window.findChildren<QWidget*>()) {
    if (w->window() != &Window || !w->isVisible() || !w->isEnabled()) continue;
    if (const auto* l = qobject_cast<QLabel*>(w)) {
      if (!l->text().isEmpty()) texts.push_back(w);
    } else if (const auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (!b->text().isEmpty() && (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))) texts.push_back(w);
    }
  }
  for (QWidget* w : texts) {
    if (w->visibleRegion() != QRegion(w->rect())) continue;  // scrolled away or covered
    const QRect r(w->mapTo(&Window, QPoint(0, 0)) * dpr, w->size() * dpr);
    std::map<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (image.rect().contains(x, y)) ++counts[image.pixel(x, y) | 0xFF000000u];
    if (counts.empty()) continue;
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                              return a.second < b.second;
                            })->first;
    const QColor text = w->palette().color(w->foregroundRole());
    const double ratio = uFormHelpers::ContrastRatio(text, QColor(background));
    if (ratio < 4.5) {
      const QString caption =
          qobject_cast<QLabel*>(w) ? static_cast<QLabel*>(w)->text() : static_cast<QAbstractButton*>(w)->text();
      out.push_back(layout_detail::Describe(w, caption) + ": " + text.name().toStdString() + " on " +
                    QColor(background).name().toStdString() + ", contrast " + std::to_string(ratio));
    }
  }
  return out;
}

// ---- The font of the window tests ----

// The common desktop sans-serif families, in the order the tests prefer them.
inline const std::vector<QString>& DesktopFontFamilies() {
  static const std::vector<QString> families = {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                                QStringLiteral("Noto Sans")};
  return families;
}

// Family at PointSize when that family itself is installed (not a stand-in fontconfig
// chose for the name); nothing otherwise.
inline std::optional<QFont> InstalledFont(const QString& Family, int PointSize) {
  QFont f(Family, PointSize);
  if (QFontInfo(f).family() != Family) return std::nullopt;
  return f;
}

// The window tests draw with a font they choose rather than the one the machine's
// fontconfig prefers (a desktop makes that Noto Sans, a bare system DejaVu Sans, and the
// sizes of the windows follow): the first installed family of DesktopFontFamilies at 9
// points, the usual desktop size. Call it once the application object exists.
inline void UseTheTestFont() {
  for (const QString& family : DesktopFontFamilies()) {
    if (const std::optional<QFont> f = InstalledFont(family, 9)) {
      QApplication::setFont(*f);
      return;
    }
  }
  QFont f = QApplication::font();
  f.setPointSize(9);
  QApplication::setFont(f);
}

// ---- A screen of a chosen size ----

// One screen as the offscreen platform shows it: its size in device pixels and the scale
// factor (QT_SCALE_FACTOR) of the desktop.
struct TTestScreen {
  const char* Name;
  int Width;
  int Height;
  double Scale;
};

// Runs Faults on Screen and expects none. The check runs in a process of its own: this
// test program started again for this one test, whose application object the offscreen
// platform gives that one screen at that scale (both are fixed when the application object
// is made). The child's output, with the faults, is the failure's message. In the child the
// call runs Faults; the calls of other screens in the same test do nothing there.
inline void ExpectNoFaultsOnScreen(const TTestScreen& Screen, const std::function<std::vector<std::string>()>& Faults) {
  static const char kChildVariable[] = "FP_TEST_SCREEN";
  const QString child = qEnvironmentVariable(kChildVariable);
  if (!child.isEmpty()) {
    if (child != QLatin1String(Screen.Name)) return;
    // The run is on the screen asked for, or it proves nothing.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize logical(qRound(Screen.Width / Screen.Scale), qRound(Screen.Height / Screen.Scale));
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->geometry().size(), logical);
    EXPECT_THAT(Faults(), ::testing::IsEmpty());
    return;
  }
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString config = dir.filePath(QStringLiteral("screen.json"));
  {
    QFile f(config);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": %1, \"height\": %2, "
                           "\"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                .arg(Screen.Width)
                .arg(Screen.Height)
                .toUtf8());
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
  env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(Screen.Scale));
  env.insert(QString::fromLatin1(kChildVariable), QString::fromLatin1(Screen.Name));
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  ASSERT_TRUE(test);
  QProcess run;
  run.setProcessEnvironment(env);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=%1.%2")
                 .arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()))});
  ASSERT_TRUE(run.waitForStarted(10000)) << Screen.Name;
  const bool finished = run.waitForFinished(240000);
  if (!finished) run.kill();
  run.waitForFinished(5000);
  const QByteArray output = run.readAll();
  EXPECT_TRUE(finished && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
      << "on the screen " << Screen.Name << ":\n"
      << output.toStdString();
}

}  // namespace fp::test
