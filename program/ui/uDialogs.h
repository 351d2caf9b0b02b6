#pragma once
// Every dialog of the program goes through this one small interface, so that tests can
// answer them from a script. The program uses message boxes; a test installs a
// TScriptedDialogs with TScopedDialogs.
//
// A line break inside a message is a carriage return, as the message texts are written;
// the message box shows it as a line break.
#include <QString>
#include <QStringList>

#include <deque>
#include <mutex>
#include <vector>

class QWidget;

namespace fp {

enum class TDlgKind { Information, Warning, Error, Question };
enum class TDlgButtons { Ok, YesNo };
enum class TDlgResult { Ok, Yes, No, Cancel };

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // A message box of the given kind with OK, or Yes and No. A Yes/No box closed with
  // Escape or its close button answers Cancel. A box without a parent window stays on top.
  virtual TDlgResult Message(QWidget* Parent, TDlgKind Kind, const QString& Text,
                             TDlgButtons Buttons = TDlgButtons::Ok) = 0;
  // A one-line text entry with a caption and a prompt; false when the user cancels.
  // Value holds the initial text on entry and the typed text on return.
  virtual bool InputQuery(QWidget* Parent, const QString& Caption, const QString& Prompt, QString& Value) = 0;
};

// The dialogs the program uses now (message boxes unless a test installed others).
IDialogs& Dialogs();
void SetDialogs(IDialogs* D);  // nullptr restores the message boxes

// A message text as Qt shows it: its CR and CR LF line breaks become LF.
QString DisplayText(QString Text);

// Shorthands for the four kinds.
void ShowInfo(QWidget* Parent, const QString& Text);
void ShowWarning(QWidget* Parent, const QString& Text);
void ShowError(QWidget* Parent, const QString& Text);
bool AskYesNo(QWidget* Parent, const QString& Text, TDlgKind Kind = TDlgKind::Question);

// A dialog that was shown, as a test reads it back.
struct TShownDialog {
  TDlgKind Kind;
  TDlgButtons Buttons;
  QString Text;  // message, or caption + "\n" + prompt for an input query
  bool Input;
  bool Parentless = false;  // shown without a parent window
};

// Answers dialogs from a queue: each message takes the next answer (an empty queue answers
// Ok for OK boxes and No for Yes/No boxes; Cancel stands for Escape); each input query takes the next text (an empty
// queue cancels). Every dialog is recorded. Safe to call from any thread.
class TScriptedDialogs : public IDialogs {
 public:
  TDlgResult Message(QWidget* Parent, TDlgKind Kind, const QString& Text, TDlgButtons Buttons) override;
  bool InputQuery(QWidget* Parent, const QString& Caption, const QString& Prompt, QString& Value) override;

  void PushAnswer(TDlgResult R);
  void PushInput(const QString& Text);  // a typed text, confirmed with OK
  void PushInputCancel();
  std::vector<TShownDialog> Shown() const;
  QStringList Texts() const;
  void Clear();

 private:
  mutable std::mutex FLock;
  std::deque<TDlgResult> FAnswers;
  std::deque<std::pair<bool, QString>> FInputs;
  std::vector<TShownDialog> FShown;
};

// Installs dialogs for the lifetime of the object and restores the previous ones after.
class TScopedDialogs {
 public:
  explicit TScopedDialogs(IDialogs& D);
  ~TScopedDialogs();
  TScopedDialogs(const TScopedDialogs&) = delete;
  TScopedDialogs& operator=(const TScopedDialogs&) = delete;

 private:
  IDialogs* FPrevious;
};

}  // namespace fp
