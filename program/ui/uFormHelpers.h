#pragma once
// Small helpers shared by the operator's windows.
#include <QColor>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QScrollArea>
#include <QString>

#include <cstdint>
#include <optional>

class QDialog;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace fp::uFormHelpers {

// A whole decimal number: an optional sign and digits, blanks around them allowed;
// nothing for any other text (empty, letters, a fraction, out of the 64-bit range).
std::optional<int64_t> WholeNumber(const QString& Text);

// The port number of a port text "COMn": the text after its first three characters
// as a whole number from 1 to MaxComPort; nothing otherwise. The printer library keeps
// the port in 8 bits, so a larger number is refused rather than narrowed.
std::optional<int32_t> PortNumberOf(const QString& PortText);

// Makes a label's text bold.
void SetBold(QLabel* Label);

// A window's object name for the language file and its title in one call.
void NameWindow(QWidget* Window, const char* ObjectName, const QString& Caption);

// The OK and No buttons of a window (btnOK and btnNo), closing it with accept and
// reject; returns the row that holds them on its right.
QHBoxLayout* OkNoButtons(QDialog* Window, QPushButton*& Ok, QPushButton*& No);

// ---- Windows on small screens ----

// The frame the window system puts around Window: as it reports it once the window is
// shown, or before that (and where it reports none) an allowance for a title bar two lines
// of the window's font high and thin borders.
QMargins FrameAllowance(const QWidget* Window);

// The largest size Window's own area may have on the screen it is on: the screen's
// available area less the frame.
QSize RoomOnScreen(const QWidget* Window);

// Cuts Window to RoomOnScreen (never below its minimum size) and moves its frame inside the
// available area of its screen.
void FitOnScreen(QWidget* Window);

// Has FitOnScreen run each time Window is shown; with WholeFirst the window takes the whole
// size its content asks for (its size hint) before it is first fitted, not the part of the
// screen a window is given by default.
void KeepOnScreen(QWidget* Window, bool WholeFirst = false);

// A scroll area for a window's content that asks for the content's whole size: the window
// is as large as its content where the screen has room, and scrolls it where not.
class TScrolledContent : public QScrollArea {
 public:
  // Takes Content; without a frame of its own.
  TScrolledContent(QWidget* Content, QWidget* Parent);
  QSize sizeHint() const override;
};

// ---- Colours ----

// The contrast ratio of two colours as the accessibility guidelines compute it: from 1
// (the same) to 21 (black and white); text wants 4.5 or more.
double ContrastRatio(const QColor& A, const QColor& B);

// Wanted where it is readable on Background (a contrast of 4.5 or more), else the same hue
// made darker (on a light background) or lighter (on a dark one) until it is.
QColor ReadableOn(const QColor& Wanted, const QColor& Background);

// The colour the background of W is drawn in: that of the nearest of W and its parents
// that fills its background (a window always does).
QColor BackgroundOf(const QWidget* W);

// The alert colour (red) for W's text, readable on its background.
QColor AlertColor(const QWidget* W);

// A window created for one use: released when the holder goes, unless its owner has
// released it already (a modal window whose main window went away while it was open).
template <typename T>
class TOwnedWindow {
 public:
  explicit TOwnedWindow(T* Window) : FWindow(Window) {}
  ~TOwnedWindow() { delete FWindow.data(); }
  TOwnedWindow(const TOwnedWindow&) = delete;
  TOwnedWindow& operator=(const TOwnedWindow&) = delete;
  T* operator->() const { return FWindow.data(); }
  T* get() const { return FWindow.data(); }
  explicit operator bool() const { return !FWindow.isNull(); }

 private:
  QPointer<T> FWindow;
};

}  // namespace fp::uFormHelpers
