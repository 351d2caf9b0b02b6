#include "program/ui/uCustomHint.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QToolTip>

#include <optional>

#include "program/ui/uDialogs.h"
#include "program/ui/uFormHelpers.h"

namespace fp {
namespace {

QRect AvailableArea() {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

QRect VirtualDesktop() {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->virtualGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

TCustomHint::TCustomHint(QWidget* Owner)
    : QWidget(Owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("CustomHintWnd"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  QFont f = QToolTip::font();
  f.setBold(true);
  setFont(f);
  FHideTimer.setInterval(HideAfterMs);
  FHideTimer.setSingleShot(false);
  connect(&FHideTimer, &QTimer::timeout, this, &TCustomHint::HideTimerTick);
}

void TCustomHint::SetPicture(const QPixmap& Bitmap) {
  FPicture = Bitmap;
  update();
}

void TCustomHint::SetColor(const QColor& C) {
  FColor = C;
  update();
}

QRect TCustomHint::CalcHintRect(const QString& Text) const {
  const QFontMetrics fm(font());
  QRect r = fm.boundingRect(QRect(0, 0, MaxTextWidth, 100000), Qt::AlignLeft | Qt::TextWordWrap | Qt::TextExpandTabs,
                            DisplayText(Text));
  return QRect(0, 0, r.width() + MarginWidth, r.height() + MarginHeight);
}

void TCustomHint::ActivateHint(QRect Rect, const QString& Text) {
  FCaption = Text;
  // The enlarged rectangle (10 wider, 1 and then the base window's 4 taller).
  int left = Rect.left();
  int top = Rect.top();
  const int width = Rect.width() + 10;
  const int height = Rect.height() + 1 + 4;
  // Keep it on the desktop.
  const QRect desk = VirtualDesktop();
  if (top + height > desk.bottom() + 1) top = desk.bottom() + 1 - height;
  if (left + width > desk.right() + 1) left = desk.right() + 1 - width;
  if (left < desk.left()) left = desk.left();
  if (top < desk.top()) top = desk.top();
  setGeometry(left, top, width, height);
  show();
  raise();
  update();
  // A running hide timer is not restarted: a note that replaces another goes when the
  // first one's time is up.
  if (!FHideTimer.isActive()) FHideTimer.start();
}

void TCustomHint::HideTimerTick() {
  FHideTimer.stop();
  hide();
}

QRect TCustomHint::TextRect() const {
  QRect r = rect();
  r.setLeft(r.left() + FPicture.width() + 10);
  r.setTop(r.top() + 6);
  return r;
}

void TCustomHint::mousePressEvent(QMouseEvent* Event) {
  Event->accept();
  HideTimerTick();
}

void TCustomHint::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), FColor);
  p.setPen(palette().color(QPalette::ToolTipText).darker(100));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  if (!FPicture.isNull()) p.drawPixmap(2, height() / 2 - FPicture.height() / 2, FPicture);
  DrawCaption(p, TextRect());
}

void TCustomHint::DrawCaption(QPainter& P, const QRect& R) {
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs | Qt::TextWordWrap;
  const QString text = DisplayText(FCaption);
  P.setFont(font());
  if (isEnabled()) {
    // The theme's tool tip text, readable on the note's colour (a dark theme's light text
    // on the yellow of a note without a picture is not).
    P.setPen(uFormHelpers::ReadableOn(palette().color(QPalette::ToolTipText), FColor));
    P.drawText(R, flags, text);
  } else {
    P.setPen(palette().color(QPalette::Light));
    P.drawText(R.translated(1, 1), flags, text);
    P.setPen(palette().color(QPalette::Dark));
    P.drawText(R, flags, text);
  }
}

namespace uCustomHint {
namespace {
QPointer<TCustomHint> gHint;
// Open menus of the program, and the note that waits for them to close.
int gMenusOpen = 0;
struct THeldNote {
  QPixmap Picture;
  QString Text;
  int32_t Interval = 0;
};
std::optional<THeldNote> gHeld;
TNoteSender gSender;

void ShowInWindow(const QPixmap& Picture, const QString& Text, int32_t Interval) {
  TCustomHint& hint = CustomHintWnd();
  hint.hide();
  hint.SetPicture(QPixmap());
  if (!Picture.isNull()) {
    hint.SetColor(QToolTip::palette().color(QPalette::ToolTipBase));
    hint.SetPicture(Picture);
  }
  hint.SetTimerInterval(Interval);
  const QRect m = hint.CalcHintRect(Text);
  const QRect area = AvailableArea();
  const int w = area.right() + 1;
  const int h = area.bottom() + 1;
  // left, top, right, bottom as the note's corners; Rect.width() is right - left here.
  const int left = w - m.width() - 100;
  const int top = h - m.height() - 40;
  const int right = w - 35;
  const int bottom = h - 20;
  hint.ActivateHint(QRect(left, top, right - left, bottom - top), Text);
}

}  // namespace

TCustomHint& CustomHintWnd() {
  if (!gHint) gHint = new TCustomHint(nullptr);
  return *gHint;
}

void ReleaseCustomHint() {
  delete gHint.data();
  gHeld.reset();
  gMenusOpen = 0;
}

void ShowHintMessage(const QPixmap& Picture, const QString& Text, int32_t Interval) {
  if (gSender && gSender(TDesktopNote{DisplayText(Text)})) {
    if (gHint) gHint->HideTimerTick();
    return;
  }
  if (gMenusOpen > 0) {
    gHeld = THeldNote{Picture, Text, Interval};
    return;
  }
  ShowInWindow(Picture, Text, Interval);
}

void MenuOpened() {
  ++gMenusOpen;
  if (gHint && gHint->isVisible()) gHint->HideTimerTick();
}

void MenuClosed() {
  if (gMenusOpen > 0) --gMenusOpen;
  if (gMenusOpen > 0 || !gHeld) return;
  const THeldNote note = std::move(*gHeld);
  gHeld.reset();
  ShowInWindow(note.Picture, note.Text, note.Interval);
}

QString HeldBackText() { return gHeld ? gHeld->Text : QString(); }

void SetNoteSender(TNoteSender Sender) { gSender = std::move(Sender); }

}  // namespace uCustomHint
}  // namespace fp
