#include "program/ui/uDialogs.h"

#include <QInputDialog>
#include <QMessageBox>

#include <atomic>

namespace fp {

QString DisplayText(QString Text) {
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Text.replace(QChar('\r'), QChar('\n'));
  return Text;
}

namespace {

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
    QMessageBox box(icon, QString(), DisplayText(Text),
                    Buttons == TDlgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, Parent);
    const int r = box.exec();
    if (Buttons == TDlgButtons::Ok) return TDlgResult::Ok;
    return r == QMessageBox::Yes ? TDlgResult::Yes : TDlgResult::No;
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

TDlgResult TScriptedDialogs::Message(QWidget*, TDlgKind Kind, const QString& Text, TDlgButtons Buttons) {
  std::lock_guard<std::mutex> g(FLock);
  FShown.push_back({Kind, Buttons, Text, false});
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
