#include "program/ui/PayTypesRelation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QEvent>
#include <QPushButton>
#include <QTableWidget>

#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/LayoutTestSupport.h"

namespace fp::test {
namespace {

using test::TFakeMain;
using test::WhenModal;
using uStrRes::Message;

class PayTypesTest : public ::testing::Test {
 protected:
  void SetUp() override { uConst::SetPayTypePairs({}); }
  void TearDown() override { uConst::SetPayTypePairs({}); }

  // The operator types a value into the replacement cell of a row.
  static void Type(TPayTypeRelations& f, int row, const QString& value) {
    f.PayTypesEdit->item(row, 1)->setText(value);
  }

  TScriptedDialogs FScript;
  TScopedDialogs FScriptInstalled{FScript};
  TFakeMain FMain;
};

TEST_F(PayTypesTest, ValidationOfTheReplacement) {
  struct TCase {
    int Row;
    const char* Value;
    QString Refusal;
  };
  const std::vector<TCase> cases = {
      {1, "3", {}},
      {1, "0", {}},
      {1, "", {}},
      {1, "  ", {}},
      {10, "11", {}},
      {1, "12", Message(uStrRes::S_InvalidDigit) + " \"12\""},
      {1, "-1", Message(uStrRes::InvalidValue) + " \"-1\""},
      {1, "a", Message(uStrRes::InvalidValue) + " \"a\""},
      {1, "2.5", Message(uStrRes::InvalidValue) + " \"2.5\""},
      {0, "2", Message(uStrRes::S_PayType1CantChange)},
      {0, "0", Message(uStrRes::S_PayType1CantChange)},
      {0, "", {}},
      {0, "x", Message(uStrRes::InvalidValue) + " \"x\""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(TPayTypeRelations::PayTypesEditValidate(c.Row, QString::fromLatin1(c.Value)), c.Refusal)
        << c.Row << " " << c.Value;
}

TEST_F(PayTypesTest, RefusedValueShowsTheErrorAndEmptiesTheCell) {
  TPayTypeRelations f;
  f.show();
  Type(f, 1, QStringLiteral("12"));
  ASSERT_EQ(FScript.Shown().size(), 1u);
  EXPECT_EQ(FScript.Shown()[0].Kind, TDlgKind::Error);
  EXPECT_EQ(FScript.Shown()[0].Text, Message(uStrRes::S_Error) + "\r" + Message(uStrRes::S_InvalidDigit) + " \"12\"");
  EXPECT_TRUE(f.Value(1).isEmpty());

  FScript.Clear();
  Type(f, 0, QStringLiteral("0"));
  EXPECT_EQ(FScript.Texts(), QStringList{Message(uStrRes::S_Error) + "\r" + Message(uStrRes::S_PayType1CantChange)});
  EXPECT_TRUE(f.Value(0).isEmpty());

  FScript.Clear();
  Type(f, 2, QStringLiteral("5"));
  EXPECT_TRUE(FScript.Shown().empty());
  EXPECT_EQ(f.Value(2), QStringLiteral("5"));
}

TEST_F(PayTypesTest, StoredPairsAreShownAndKeptAlsoForRowsOfTheirOwn) {
  uConst::SetPayTypePairs({{3, 2}, {12, 7}});
  TPayTypeRelations f;
  f.show();
  ASSERT_EQ(f.RowCount(), 12);
  for (int r = 0; r < 11; ++r) EXPECT_EQ(f.Key(r), QString::number(r + 1));
  EXPECT_EQ(f.Value(2), QStringLiteral("2"));
  EXPECT_EQ(f.Key(11), QStringLiteral("12"));
  EXPECT_EQ(f.Value(11), QStringLiteral("7"));
  EXPECT_FALSE(f.PayTypesEdit->item(0, 0)->flags() & Qt::ItemIsEditable);
  EXPECT_EQ(f.CollectPairs(), (std::vector<TPayTypePair>{{3, 2}, {12, 7}}));
}

TEST_F(PayTypesTest, UnconfirmedEditsSurviveTheWindowBecomingActiveAgain) {
  uConst::SetPayTypePairs({{4, 1}});
  TPayTypeRelations f;
  f.show();
  Type(f, 1, QStringLiteral("3"));
  Type(f, 3, QString());
  Type(f, 5, QStringLiteral("99"));  // refused: its error dialog closes over the window
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&f, &activate);
  f.hide();
  f.show();
  EXPECT_EQ(f.Value(1), QStringLiteral("3"));
  EXPECT_TRUE(f.Value(3).isEmpty());
  EXPECT_EQ(f.CollectPairs(), (std::vector<TPayTypePair>{{2, 3}}));
}

TEST_F(PayTypesTest, OkReplacesThePairsAndSavesNoChangesNothing) {
  uConst::SetPayTypePairs({{5, 6}});
  WhenModal<TPayTypeRelations>([](TPayTypeRelations* f) {
    f->PayTypesEdit->item(1, 1)->setText(QStringLiteral("3"));
    f->PayTypesEdit->item(6, 1)->setText(QStringLiteral("0"));
    f->btnNo->click();
  });
  EXPECT_FALSE(PayTypesRelation::EditPayTypes(FMain));
  EXPECT_EQ(uConst::PayTypePairs(), (std::vector<TPayTypePair>{{5, 6}}));
  EXPECT_EQ(FMain.Saves, 0);

  WhenModal<TPayTypeRelations>([](TPayTypeRelations* f) {
    f->PayTypesEdit->item(1, 1)->setText(QStringLiteral("3"));
    f->PayTypesEdit->item(6, 1)->setText(QStringLiteral("0"));
    f->btnOK->click();
  });
  EXPECT_TRUE(PayTypesRelation::EditPayTypes(FMain));
  EXPECT_EQ(uConst::PayTypePairs(), (std::vector<TPayTypePair>{{2, 3}, {5, 6}}));
  EXPECT_EQ(FMain.Saves, 1);
}

TEST_F(PayTypesTest, ColumnTitlesAndLayout) {
  uConst::SetPayTypePairs({{2, 5}});
  TPayTypeRelations f;
  f.show();
  EXPECT_EQ(f.PayTypesEdit->horizontalHeaderItem(0)->text(), Message(uStrRes::S_PayTypeInFile));
  EXPECT_EQ(f.PayTypesEdit->horizontalHeaderItem(1)->text(), Message(uStrRes::S_PayTypeReplace));
  EXPECT_EQ(f.PayTypesEdit->columnWidth(0), TPayTypeRelations::KeyColumnWidth);
  EXPECT_EQ(f.PayTypesEdit->columnWidth(1), TPayTypeRelations::ValueColumnWidth);
  // The titles fit their columns, as every other caption its widget.
  test::ShowAndSettle(f);
  EXPECT_THAT(test::LayoutFaults(f), ::testing::IsEmpty());
}

}  // namespace
}  // namespace fp::test
