#include "program/ui/uDepartments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/LayoutTestSupport.h"
#include "program/ui/uEditDepartment.h"
#include "program/ui/uFormHelpers.h"
#include "platform/IniFile.h"

namespace fp::test {
namespace {

using test::Dep;
using test::TFakeMain;
using test::WhenModal;
using uStrRes::Message;
using TMarker = TfrmDepartmets::TSortMarker;

std::vector<int32_t> Order(const TfrmDepartmets& frm) {
  std::vector<int32_t> noms;
  for (int i = 0; i < frm.mData->Count(); ++i) noms.push_back(frm.mData->Row(i).Nom);
  return noms;
}

class DepartmentsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
  void TearDown() override { uDepartments::SetWaitClock({}); }

  std::unique_ptr<TfrmDepartmets> ListOf(const std::vector<TDepartmentRow>& rows) {
    auto frm = std::make_unique<TfrmDepartmets>(&FMain.Window);
    frm->IniFileName = FDir.filePath(QStringLiteral("DriverFiscalPrinterX4.ini"));
    for (const TDepartmentRow& r : rows) frm->AddDepartment(r);
    return frm;
  }

  // A read job that delivers the rows from the event loop and then ends.
  void ReadJobDelivers(std::vector<TDepartmentRow> rows, int32_t errors = 0) {
    FMain.OnRunTask = [this, rows, errors](TTaskKind kind) {
      if (kind != tkGetDepartments) return;
      FMain.Busy = true;
      QTimer::singleShot(20, [this, rows, errors] {
        for (const TDepartmentRow& r : rows) FMain.DepartmentList.push_back(r);
        FMain.Errors = errors;
        FMain.Busy = false;
      });
    };
  }

  QTemporaryDir FDir;
  TScriptedDialogs FScript;
  TScopedDialogs FScriptInstalled{FScript};
  TFakeMain FMain;
};

TEST_F(DepartmentsTest, SortDirectionAlternatesOverAllClicksWhateverTheColumn) {
  auto frm = ListOf({Dep(1, "b"), Dep(2, "B"), Dep(3, "a"), Dep(4, "C")});
  // At creation the Nom title shows the up marker, although nothing was sorted.
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("Nom")), TMarker::Up);
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("DepName")), TMarker::None);

  frm->SetCurrentRow(2);  // department 3
  frm->grdDepartments->horizontalHeader()->sectionClicked(TDepartmentTable::colDepName);
  EXPECT_EQ(Order(*frm), (std::vector<int32_t>{2, 4, 3, 1}));  // case-sensitive: capitals first
  EXPECT_EQ(frm->SortField, QStringLiteral("DepName"));
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("DepName")), TMarker::Down);
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("Nom")), TMarker::None);
  EXPECT_EQ(frm->mData->Row(frm->CurrentRow()).Nom, 3);  // the current row is followed

  frm->grdDepartmentsTitleBtnClick(QStringLiteral("DepName"));
  EXPECT_EQ(Order(*frm), (std::vector<int32_t>{1, 3, 4, 2}));
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("DepName")), TMarker::Up);

  frm->grdDepartmentsTitleBtnClick(QStringLiteral("Nom"));
  EXPECT_EQ(Order(*frm), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(frm->grdDepartmentsGetBtnParams(QStringLiteral("Nom")), TMarker::Down);
  EXPECT_EQ(frm->mData->Row(frm->CurrentRow()).Nom, 3);
}

TEST_F(DepartmentsTest, ColumnWidthsAreSavedOnEveryCloseAndShownNextTime) {
  const std::vector<std::pair<const char*, std::function<void(TfrmDepartmets&)>>> closes = {
      {"OK", [](TfrmDepartmets& f) { f.btnOK->click(); }},
      {"No", [](TfrmDepartmets& f) { f.btnNo->click(); }},
      {"close box", [](TfrmDepartmets& f) { f.close(); }},
  };
  int width = 60;
  for (const auto& [how, close] : closes) {
    SCOPED_TRACE(how);
    width += 10;
    auto frm = ListOf({Dep(1, "a")});
    frm->show();
    frm->grdDepartments->setColumnWidth(TDepartmentTable::colDepDescr, width);
    close(*frm);
    EXPECT_FALSE(frm->isVisible());
    const TIniFile ini(frm->IniFileName.toStdString());
    EXPECT_EQ(ini.ReadInteger(TfrmDepartmets::GridSection, "DepDescr", 0), width);
    EXPECT_EQ(ini.ReadInteger(TfrmDepartmets::GridSection, "Nom", 0), TfrmDepartmets::DefaultColumnWidth);

    auto next = ListOf({Dep(1, "a")});
    next->show();
    EXPECT_EQ(next->grdDepartments->columnWidth(TDepartmentTable::colDepDescr), width);
    EXPECT_EQ(next->CurrentRow(), 0);
    next->btnNo->click();
  }
}

TEST_F(DepartmentsTest, TextsAreCutTo20AndProgrammedOffRowsAreGray) {
  auto frm = ListOf({Dep(1, "123456789012345678901234", "F", 2, "abcdefghijabcdefghijXYZ"), Dep(2, "x")});
  EXPECT_EQ(frm->mData->Row(0).DepName, QStringLiteral("12345678901234567890"));
  EXPECT_EQ(frm->mData->Row(0).DepDescr, QStringLiteral("abcdefghijabcdefghij"));
  const QModelIndex gray = frm->mData->index(0, TDepartmentTable::colDepName);
  // The grey, darkened where the theme's button colour behind it needs that to be read.
  const QColor shown = frm->mData->data(gray, Qt::ForegroundRole).value<QColor>();
  EXPECT_EQ(shown, uFormHelpers::ReadableOn(QColor(128, 128, 128), QApplication::palette().color(QPalette::Button)));
  EXPECT_EQ(shown.red(), shown.green());
  EXPECT_EQ(shown.green(), shown.blue());
  EXPECT_TRUE(frm->mData->data(gray, Qt::BackgroundRole).isValid());
  EXPECT_FALSE(frm->mData->data(frm->mData->index(1, 0), Qt::ForegroundRole).isValid());
  // Column titles from the messages.
  EXPECT_EQ(frm->mData->headerData(TDepartmentTable::colTaxGrpNo, Qt::Horizontal).toString(),
            Message(uStrRes::DepTaxGrp));
}

TEST_F(DepartmentsTest, EditedRowIsMarkedCutProgrammedAndCollectedWithoutItsExitCode) {
  auto frm = ListOf({Dep(1, "one", "F", 3), Dep(2, "two", "P", 9)});
  frm->show();
  frm->SetCurrentRow(0);
  WhenModal<TfrmEditDepartment>([](TfrmEditDepartment* ed) {
    EXPECT_EQ(ed->lblDepartmentNom->text(), QStringLiteral("1"));
    EXPECT_EQ(ed->edtDepName->text(), QStringLiteral("one"));
    EXPECT_EQ(ed->cmbVatGrp->currentText(), QStringLiteral("3"));
    ed->edtDepName->setText(QStringLiteral("a name much longer than twenty"));
    ed->edtDepDescr->setText(QStringLiteral("descr"));
    ed->cmbVatGrp->setCurrentIndex(4);
    ed->btnOK->click();
  });
  frm->MnEditDepartmentClick();
  const TDepartmentRow& edited = frm->mData->Row(0);
  EXPECT_EQ(edited.DepName, QStringLiteral("a name much longer t"));
  EXPECT_EQ(edited.TaxGrpNo, 5);
  EXPECT_EQ(edited.ExitCode, QStringLiteral("P"));
  EXPECT_FALSE(frm->mData->data(frm->mData->index(0, 0), Qt::ForegroundRole).isValid());

  TDepartments collected{Dep(99, "stale")};
  frm->CollectDepartments(collected);
  ASSERT_EQ(collected.size(), 2u);
  EXPECT_TRUE(collected[0].Edited);
  EXPECT_EQ(collected[0].DepDescr, QStringLiteral("descr"));
  EXPECT_FALSE(collected[1].Edited);
  EXPECT_TRUE(collected[0].ExitCode.isEmpty());
  EXPECT_TRUE(collected[1].ExitCode.isEmpty());
  frm->btnNo->click();
}

TEST_F(DepartmentsTest, EditorKeepsOkDisabledUntilAVatGroupIsChosen) {
  TfrmEditDepartment fresh;
  EXPECT_EQ(fresh.cmbVatGrp->count(), 8);
  EXPECT_EQ(fresh.cmbVatGrp->currentIndex(), 1);
  EXPECT_TRUE(fresh.btnOK->isEnabled());

  for (int32_t group : {0, 9, -1}) {
    TfrmEditDepartment ed;
    ed.ShowRow(Dep(4, "x", "P", group));
    EXPECT_EQ(ed.cmbVatGrp->currentIndex(), -1) << group;
    EXPECT_FALSE(ed.btnOK->isEnabled()) << group;
    ed.cmbVatGrp->setCurrentIndex(7);
    EXPECT_TRUE(ed.btnOK->isEnabled());
    EXPECT_EQ(ed.VatGroup(), 8);
  }
}

TEST_F(DepartmentsTest, AnsweringNoReadsNothingAndLeavesTheTimer) {
  FMain.DepartmentList = {Dep(1, "old")};
  FScript.PushAnswer(TDlgResult::No);
  uDepartments::EditDepartments(FMain);
  EXPECT_EQ(FScript.Texts(), QStringList{Message(uStrRes::ConfirmTooLong)});
  EXPECT_TRUE(FMain.Tasks.empty());
  EXPECT_EQ(FMain.TimerStops + FMain.TimerRestarts, 0);
}

TEST_F(DepartmentsTest, OkWritesTheCollectedRowsNoWritesNothing) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    FMain.Tasks.clear();
    FMain.TimerStops = FMain.TimerRestarts = 0;
    ReadJobDelivers({Dep(1, "one"), Dep(2, "two")});
    FScript.PushAnswer(TDlgResult::Yes);
    WhenModal<TfrmDepartmets>([ok](TfrmDepartmets* list) {
      EXPECT_EQ(list->mData->Count(), 2);
      EXPECT_EQ(QApplication::overrideCursor(), nullptr);
      (ok ? list->btnOK : list->btnNo)->click();
    });
    uDepartments::EditDepartments(FMain);
    const std::vector<TTaskKind> expected =
        ok ? std::vector<TTaskKind>{tkGetDepartments, tkSetDepartments} : std::vector<TTaskKind>{tkGetDepartments};
    EXPECT_EQ(FMain.Tasks, expected);
    EXPECT_EQ(FMain.DepartmentList.size(), 2u);
    EXPECT_EQ(FMain.TimerStops, 1);
    EXPECT_EQ(FMain.TimerRestarts, 1);
    EXPECT_EQ(FMain.ErrorMessages, 0);
  }
}

TEST_F(DepartmentsTest, FailedEmptyOrLateReadsShowNoList) {
  struct TCase {
    const char* Name;
    std::vector<TDepartmentRow> Rows;
    int32_t Errors;
    bool Hangs;
    int ErrorMessages;
  };
  const std::vector<TCase> cases = {
      {"job failed", {Dep(1, "one")}, 1, false, 1},
      {"nothing read", {}, 0, false, 0},
      {"no answer within 220 s", {}, 0, true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FMain.ErrorMessages = 0;
    FMain.TimerRestarts = 0;
    FMain.Tasks.clear();
    FMain.Busy = false;
    if (c.Hangs) {
      FMain.OnRunTask = [this](TTaskKind) { FMain.Busy = true; };
      int64_t now = 0;
      uDepartments::SetWaitClock([now]() mutable { return now += 30'000; });
    } else {
      ReadJobDelivers(c.Rows, c.Errors);
    }
    FScript.PushAnswer(TDlgResult::Yes);
    uDepartments::EditDepartments(FMain);
    EXPECT_EQ(FMain.ErrorMessages, c.ErrorMessages);
    EXPECT_EQ(FMain.Tasks, std::vector<TTaskKind>{tkGetDepartments});
    EXPECT_EQ(FMain.TimerRestarts, 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    uDepartments::SetWaitClock({});
  }
}

TEST_F(DepartmentsTest, SecondRunWhileTheReadRunsIsRefusedAndKeepsTheList) {
  FMain.OnRunTask = [this](TTaskKind kind) {
    if (kind != tkGetDepartments) return;
    FMain.Busy = true;
    QTimer::singleShot(10, [this] { FMain.DepartmentList.push_back(Dep(1, "one")); });
    QTimer::singleShot(30, [this] { uDepartments::EditDepartments(FMain); });  // the second click
    QTimer::singleShot(50, [this] {
      FMain.DepartmentList.push_back(Dep(2, "two"));
      FMain.Busy = false;
    });
  };
  FScript.PushAnswer(TDlgResult::Yes);
  WhenModal<TfrmDepartmets>([](TfrmDepartmets* list) {
    EXPECT_EQ(list->mData->Count(), 2);
    list->btnNo->click();
  });
  uDepartments::EditDepartments(FMain);
  EXPECT_EQ(FScript.Texts(), QStringList({Message(uStrRes::ConfirmTooLong), Message(uStrRes::ActiveTask)}));
  EXPECT_EQ(FMain.Tasks, std::vector<TTaskKind>{tkGetDepartments});
}

// In the list and in the editor of one row every caption and column title fits its
// widget, no controls overlap and the windows fit the screen.
TEST_F(DepartmentsTest, Layout) {
  auto frm = ListOf(test::SampleDepartments());
  test::ShowAndSettle(*frm);
  EXPECT_THAT(test::LayoutFaults(*frm), ::testing::IsEmpty());

  TfrmEditDepartment ed;
  ed.ShowRow(test::SampleDepartments()[0]);
  test::ShowAndSettle(ed);
  EXPECT_THAT(test::LayoutFaults(ed), ::testing::IsEmpty());
}

}  // namespace
}  // namespace fp::test
