#include "program/ui/uDialogs.h"

#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>

#include <atomic>

namespace fp {

QString DisplayText(QString Text) {
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Text.replace(QChar('\r'), QChar('\n'));
  return Text;
}

namespace {

// A message box whose Escape key and close button answer neither Yes nor No: the box is
// closed without a button, which the caller reads as Cancel. (A plain message box takes
// its No button for both.)
class TMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void keyPressEvent(QKeyEvent* Event) override {
    if (Event->matches(QKeySequence::Cancel)) {
      reject();
      return;
    }
    QMessageBox::keyPressEvent(Event);
  }
  void closeEvent(QCloseEvent* Event) override { QDialog::closeEvent(Event); }
};

class TMessageBoxDialogs : public IDialogs {
 public:
  TDlgResult Message(QWidget* Parent, TDlgKind Kind, const QString& Text, TDlgButtons Buttons) override {
    QMessageBox::Icon icon = QMessageBox::Information;
    switch (Kind) {
      case TDlgKind::Information: icon = QMessageBox::Information; break;
      case TDlgKind::Warning: icon = QMessageBox::Warning; break;
      case TDlgKind::Error: icon = QMessageBox::Critical; break;
      case TDlgKind::Question: icon = QMessageBox::Question; break;
    }
    TMessageBox box(icon, QString(), DisplayText(Text),
                    Buttons == TDlgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, Parent);
    // A message of no window belongs to none that the desktop may hide, minimise or put
    // in front of it: it comes on top of the other programs' windows.
    if (!Parent) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
    if (Buttons == TDlgButtons::Ok) return TDlgResult::Ok;
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == box.button(QMessageBox::Yes)) return TDlgResult::Yes;
    if (clicked && clicked == box.button(QMessageBox::No)) return TDlgResult::No;
    return TDlgResult::Cancel;
  }

  bool InputQuery(QWidget* Parent, const QString& Caption, const QString& Prompt, QString& Value) override {
    bool ok = false;
    QString text = QInputDialog::getText(Parent, Caption, DisplayText(Prompt), QLineEdit::Normal, Value, &ok);
    if (ok) Value = text;
    return ok;
  }
};

TMessageBoxDialogs& MessageBoxes() {
  static TMessageBoxDialogs d;
  return d;
}

std::atomic<IDialogs*> gDialogs{nullptr};

}  // namespace

IDialogs& Dialogs() {
  IDialogs* d = gDialogs.load();
  return d ? *d : MessageBoxes();
}

void SetDialogs(IDialogs* D) { gDialogs.store(D); }

void ShowInfo(QWidget* Parent, const QString& Text) { Dialogs().Message(Parent, TDlgKind::Information, Text); }
void ShowWarning(QWidget* Parent, const QString& Text) { Dialogs().Message(Parent, TDlgKind::Warning, Text); }
void ShowError(QWidget* Parent, const QString& Text) { Dialogs().Message(Parent, TDlgKind::Error, Text); }
bool AskYesNo(QWidget* Parent, const QString& Text, TDlgKind Kind) {
  return Dialogs().Message(Parent, Kind, Text, TDlgButtons::YesNo) == TDlgResult::Yes;
}

TDlgResult TScriptedDialogs::Message(QWidget* Parent, TDlgKind Kind, const QString& Text, TDlgButtons Buttons) {
  std::lock_guard<std::mutex> g(FLock);
  FShown.push_back({Kind, Buttons, Text, false, Parent == nullptr});
  if (FAnswers.empty()) return Buttons == TDlgButtons::Ok ? TDlgResult::Ok : TDlgResult::No;
  TDlgResult r = FAnswers.front();
  FAnswers.pop_front();
  return r;
}

bool TScriptedDialogs::InputQuery(QWidget*, const QString& Caption, const QString& Prompt, QString& Value) {
  std::lock_guard<std::mutex> g(FLock);
  FShown.push_back({TDlgKind::Question, TDlgButtons::Ok, Caption + QChar('\n') + Prompt, true});
  if (FInputs.empty()) return false;
  auto [ok, text] = FInputs.front();
  FInputs.pop_front();
  if (ok) Value = text;
  return ok;
}

void TScriptedDialogs::PushAnswer(TDlgResult R) {
  std::lock_guard<std::mutex> g(FLock);
  FAnswers.push_back(R);
}

void TScriptedDialogs::PushInput(const QString& Text) {
  std::lock_guard<std::mutex> g(FLock);
  FInputs.emplace_back(true, Text);
}

void TScriptedDialogs::PushInputCancel() {
  std::lock_guard<std::mutex> g(FLock);
  FInputs.emplace_back(false, QString());
}

std::vector<TShownDialog> TScriptedDialogs::Shown() const {
  std::lock_guard<std::mutex> g(FLock);
  return FShown;
}

QStringList TScriptedDialogs::Texts() const {
  std::lock_guard<std::mutex> g(FLock);
  QStringList out;
  for (const auto& s : FShown) out << s.Text;
  return out;
}

void TScriptedDialogs::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  FAnswers.clear();
  FInputs.clear();
  FShown.clear();
}

TScopedDialogs::TScopedDialogs(IDialogs& D) : FPrevious(gDialogs.exchange(&D)) {}
TScopedDialogs::~TScopedDialogs() { gDialogs.store(FPrevious); }

}  // namespace fp
