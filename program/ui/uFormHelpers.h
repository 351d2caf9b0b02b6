#pragma once
// Small helpers shared by the operator's windows.
#include <QPointer>
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
