#pragma once
// The pop-up note: a borderless topmost window with a small picture at its left and a
// bold text beside it. It pops up in the bottom-right corner of the screen's available
// area without taking the focus and hides itself after 5 seconds, or at a click on it. The
// module keeps one note for the whole program; ShowHintMessage fills and shows it.
//
// The note gives way to the program's menus: it hides when one opens, and a note that
// comes while one is open waits until it closes. Where the desktop has a notification
// service that the program hands its notes to (a Wayland desktop, where a program cannot
// place a window of its own), the note goes there instead of the window.
#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace fp {

class TCustomHint : public QWidget {
  Q_OBJECT
 public:
  // The widths and heights that the base hint window adds to a measured text.
  static constexpr int MarginWidth = 6;
  static constexpr int MarginHeight = 2;
  static constexpr int MaxTextWidth = 400;
  static constexpr int HideAfterMs = 5000;
  // The base hint window's background until the first note with a picture.
  static constexpr QRgb InitialColor = qRgb(255, 255, 128);

  explicit TCustomHint(QWidget* Owner = nullptr);

  QString Caption() const { return FCaption; }
  const QPixmap& Picture() const { return FPicture; }
  // Copies the picture (a null pixmap empties it) and repaints.
  void SetPicture(const QPixmap& Bitmap);
  int32_t TimerInterval() const { return FTimerInterval; }
  void SetTimerInterval(int32_t Value) { FTimerInterval = Value; }
  QColor Color() const { return FColor; }
  void SetColor(const QColor& C);

  // The rectangle the base hint window computes for a text: wrapped at MaxTextWidth,
  // plus the margins.
  QRect CalcHintRect(const QString& Text) const;
  // Shows the note on the rectangle (screen pixels, right and bottom inclusive).
  void ActivateHint(QRect Rect, const QString& Text);
  // Hides the note.
  void HideTimerTick();
  const QTimer& HideTimer() const { return FHideTimer; }

  // The text rectangle of the current note.
  QRect TextRect() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  // A click closes the note.
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  void DrawCaption(class QPainter& P, const QRect& R);
  QString FCaption;
  QPixmap FPicture;
  QTimer FHideTimer;
  int32_t FTimerInterval = 0;
  QColor FColor = QColor(InitialColor);
};

namespace uCustomHint {

// The program's one note (created at its first use; a QApplication must exist).
TCustomHint& CustomHintWnd();
// Frees the note; called before the application object goes.
void ReleaseCustomHint();
// Fills and shows the note: the picture (null for none), the text (line breaks may be
// CR), and an interval that is kept but not used (the note always stays 5 s).
void ShowHintMessage(const QPixmap& Picture, const QString& Text, int32_t Interval);

// A menu of the program opens or closes (menus inside menus count each): while one is
// open the note window is hidden, and a note shown meanwhile waits until the last closes.
void MenuOpened();
void MenuClosed();
// The note waiting for a menu to close (empty when none).
QString HeldBackText();

// A note as the desktop's notification service gets it.
struct TDesktopNote {
  QString Body;  // the note's text, lines separated by "\n"
  int TimeoutMs = TCustomHint::HideAfterMs;
};
// Hands a note to the desktop; false when it could not (the note window shows it then).
using TNoteSender = std::function<bool(const TDesktopNote& Note)>;
// Where the notes go before the note window is tried; an empty sender: the window only.
void SetNoteSender(TNoteSender Sender);

}  // namespace uCustomHint
}  // namespace fp
