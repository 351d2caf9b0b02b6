// The message boxes behind the dialog interface, driven as the operator would.
#include "program/ui/uDialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QWidget>

#include <functional>

#include "program/ui/OperatorWindowsTestSupport.h"

namespace fp::test {
namespace {

// Escape and the close button of a Yes/No box choose neither answer: a question whose No
// deletes something must not take them for No. A box without a parent window is on top.
TEST(MessageBoxDialogs, EscapeAndTheCloseButtonAnswerNeitherYesNorNo) {
  const struct {
    const char* Name;
    std::function<void(QMessageBox*)> Act;
    TDlgResult Answer;
  } cases[] = {
      {"Escape",
       [](QMessageBox* box) {
         QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QApplication::sendEvent(box, &press);
       },
       TDlgResult::Cancel},
      {"CloseButton", [](QMessageBox* box) { box->close(); }, TDlgResult::Cancel},
      {"Yes", [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }, TDlgResult::Yes},
      {"No", [](QMessageBox* box) { box->button(QMessageBox::No)->click(); }, TDlgResult::No},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    bool onTop = false;
    QString text;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      text = box->text();
      c.Act(box);
    });
    EXPECT_EQ(
        Dialogs().Message(nullptr, TDlgKind::Question, QStringLiteral("Да ги разпечатам ли ?\rНе"), TDlgButtons::YesNo),
        c.Answer);
    EXPECT_TRUE(onTop);
    EXPECT_EQ(text, QStringLiteral("Да ги разпечатам ли ?\nНе"));
  }
  // A box of a window stays with its window.
  QWidget owner;
  bool onTop = true;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    box->button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(AskYesNo(&owner, QStringLiteral("?")));
  EXPECT_FALSE(onTop);
}

}  // namespace
}  // namespace fp::test
