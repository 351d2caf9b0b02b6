#pragma once
// The operator's windows behind the main window's IOperatorWindows: the settings
// window, the report-period window, the departments, the payment types and About.
#include <memory>

#include "program/tasks/uOperatorWindows.h"

class QDate;

namespace fp {

class TOperatorWindows : public IOperatorWindows {
 public:
  bool EditSettings(IMainWindowServices& Main) override;
  bool SelectPeriod(IMainWindowServices& Main, TReportPeriod& Period) override;
  void EditDepartments(IMainWindowServices& Main) override;
  void EditPayTypes(IMainWindowServices& Main) override;
  void ShowAbout(IMainWindowServices& Main) override;
};

namespace OperatorWindows {
// A day as the date-time value of the printer jobs (its start, local time).
double DayToDateTime(const QDate& Day);
}  // namespace OperatorWindows

}  // namespace fp
