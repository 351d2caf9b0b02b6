#include "program/ui/OperatorWindows.h"

#include <QDateTime>

#include "program/ui/AboutDialog.h"
#include "program/ui/PayTypesRelation.h"
#include "program/ui/uDepartments.h"
#include "program/receipts/uECRFileReader.h"
#include "program/ui/uFormHelpers.h"
#include "program/tasks/uMainServices.h"
#include "program/ui/uSelectDate.h"
#include "program/ui/uSettings.h"

namespace fp {

bool TOperatorWindows::EditSettings(IMainWindowServices& Main) { return uSettings::EditSettings(Main); }

bool TOperatorWindows::SelectPeriod(IMainWindowServices& Main, TReportPeriod& Period) {
  uFormHelpers::TOwnedWindow<TfrmSelectPeriod> frm(new TfrmSelectPeriod(Main.MainWindow()));
  if (frm->exec() != QDialog::Accepted || !frm) return false;
  Period = TReportPeriod{};
  Period.ByDates = frm->ByDates();
  Period.FirstBlock = frm->FirstBlock();
  Period.LastBlock = frm->LastBlock();
  Period.StartDate = OperatorWindows::DayToDateTime(frm->BeginDate());
  Period.EndDate = OperatorWindows::DayToDateTime(frm->EndDate());
  Period.Detailed = frm->Detailed();
  return true;
}

void TOperatorWindows::EditDepartments(IMainWindowServices& Main) { uDepartments::EditDepartments(Main); }

void TOperatorWindows::EditPayTypes(IMainWindowServices& Main) { PayTypesRelation::EditPayTypes(Main); }

void TOperatorWindows::ShowAbout(IMainWindowServices& Main) { AboutDialog::ShowAbout(Main); }

namespace OperatorWindows {
double DayToDateTime(const QDate& Day) { return uECRFileReader::DateTimeToOle(QDateTime(Day, QTime(0, 0))); }
}  // namespace OperatorWindows

std::unique_ptr<IOperatorWindows> CreateOperatorWindows() { return std::make_unique<TOperatorWindows>(); }

}  // namespace fp
