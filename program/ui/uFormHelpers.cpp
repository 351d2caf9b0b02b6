#include "program/ui/uFormHelpers.h"

#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QWidget>

#include <algorithm>
#include <cmath>

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

// ---- Windows on small screens ----

QMargins FrameAllowance(const QWidget* Window) {
  const QRect frame = Window->frameGeometry();
  const QRect inner = Window->geometry();
  if (Window->isVisible() && frame != inner)
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                    frame.bottom() - inner.bottom());
  const int line = QFontMetrics(Window->font()).height();
  return QMargins(4, 2 * line + 4, 4, 4);
}

namespace {

QRect AvailableArea(const QWidget* Window) {
  const QScreen* screen = Window->screen() ? Window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

QSize RoomOnScreen(const QWidget* Window) {
  const QRect area = AvailableArea(Window);
  if (area.isEmpty()) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const QMargins m = FrameAllowance(Window);
  return QSize(std::max(1, area.width() - m.left() - m.right()), std::max(1, area.height() - m.top() - m.bottom()));
}

void FitOnScreen(QWidget* Window) {
  const QRect area = AvailableArea(Window);
  if (area.isEmpty()) return;
  const QSize size = Window->size().boundedTo(RoomOnScreen(Window)).expandedTo(Window->minimumSize());
  if (size != Window->size()) Window->resize(size);
  // The frame's top left corner, moved so that the whole frame is inside the area (its
  // top left corner first, where it is larger).
  const QMargins m = FrameAllowance(Window);
  const int outerWidth = size.width() + m.left() + m.right();
  const int outerHeight = size.height() + m.top() + m.bottom();
  const QPoint at = Window->frameGeometry().topLeft();
  const int x = std::max(area.left(), std::min(at.x(), area.left() + area.width() - outerWidth));
  const int y = std::max(area.top(), std::min(at.y(), area.top() + area.height() - outerHeight));
  if (QPoint(x, y) != at) Window->move(x, y);
}

namespace {

class TScreenKeeper : public QObject {
 public:
  TScreenKeeper(QWidget* Window, bool WholeFirst) : QObject(Window), FWholeFirst(WholeFirst) {
    Window->installEventFilter(this);
  }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() != QEvent::Show || Watched != parent()) return false;
    auto* window = static_cast<QWidget*>(Watched);
    if (FWholeFirst) window->resize(window->sizeHint().expandedTo(window->minimumSize()));
    FWholeFirst = false;
    FitOnScreen(window);
    return false;
  }

 private:
  bool FWholeFirst;
};

}  // namespace

void KeepOnScreen(QWidget* Window, bool WholeFirst) { new TScreenKeeper(Window, WholeFirst); }

TScrolledContent::TScrolledContent(QWidget* Content, QWidget* Parent) : QScrollArea(Parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  setWidget(Content);
}

QSize TScrolledContent::sizeHint() const {
  // The whole content, where QScrollArea's own hint stops at a few dozen lines.
  const QWidget* content = widget();
  if (!content) return QScrollArea::sizeHint();
  const int f = 2 * frameWidth();
  return content->sizeHint().expandedTo(content->minimumSizeHint()) + QSize(f, f);
}

// ---- Colours ----

namespace {

double Luminance(const QColor& C) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  const QColor rgb = C.toRgb();
  return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

constexpr double kReadable = 4.5;

}  // namespace

double ContrastRatio(const QColor& A, const QColor& B) {
  const double a = Luminance(A);
  const double b = Luminance(B);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor ReadableOn(const QColor& Wanted, const QColor& Background) {
  if (ContrastRatio(Wanted, Background) >= kReadable) return Wanted;
  // Towards black on a light background, towards white on a dark one, in small steps of
  // lightness, keeping the hue; black or white at the end are always readable enough.
  const bool dark = Luminance(Background) < 0.18;
  const QColor hsl = Wanted.toHsl();
  for (int step = 1; step <= 20; ++step) {
    const double l = hsl.lightnessF() + (dark ? 1.0 - hsl.lightnessF() : -hsl.lightnessF()) * step / 20.0;
    const QColor c = QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), std::clamp(l, 0.0, 1.0));
    if (ContrastRatio(c, Background) >= kReadable) return c.toRgb();
  }
  return dark ? QColor(Qt::white) : QColor(Qt::black);
}

QColor BackgroundOf(const QWidget* W) {
  for (const QWidget* w = W; w; w = w->parentWidget())
    if (w->autoFillBackground() || w->isWindow()) return w->palette().color(w->backgroundRole());
  return W->palette().color(QPalette::Window);
}

QColor AlertColor(const QWidget* W) { return ReadableOn(QColor(Qt::red), BackgroundOf(W)); }

}  // namespace fp::uFormHelpers
