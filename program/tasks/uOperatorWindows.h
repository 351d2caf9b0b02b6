#pragma once
// The operator's windows as the main window's menu opens them: the settings window, the
// report-period window, the departments, the payment-type window and the About window.
// Each entry is the whole round trip of its menu command and reaches the main window
// through IMainWindowServices.
//
// CreateOperatorWindows is defined by the module that holds the windows.
#include <QString>

#include <cstdint>
#include <memory>

#include "program/tasks/uMainServices.h"
#include "program/tasks/uPRNFileThread.h"

namespace fp {

// The range of a fiscal-memory report as the report-period window hands it back.
struct TReportPeriod {
  bool ByDates = false;
  int32_t FirstBlock = 1;
  int32_t LastBlock = 1;
  double StartDate = 0;  // date-time values (days since 30 December 1899)
  double EndDate = 0;
  bool Detailed = false;
};

class IOperatorWindows {
 public:
  virtual ~IOperatorWindows() = default;
  // The settings round trip (menu "Настройки", and the first start without a receipt
  // folder): stop the file timer, show the window; on OK store the values, save them
  // and check the connection; restart the file timer in every case. True after OK.
  virtual bool EditSettings(IMainWindowServices& Main) = 0;
  // The report-period window; false when it was closed without OK.
  virtual bool SelectPeriod(IMainWindowServices& Main, TReportPeriod& Period) = 0;
  // The departments round trip: read them with a task, show and edit them, write the
  // edited ones back with a second task.
  virtual void EditDepartments(IMainWindowServices& Main) = 0;
  // The payment-type window; on OK it replaces uConst::PayTypePairs and saves.
  virtual void EditPayTypes(IMainWindowServices& Main) = 0;
  // The About window (it shows Main.ComServerVersion()).
  virtual void ShowAbout(IMainWindowServices& Main) = 0;
};

std::unique_ptr<IOperatorWindows> CreateOperatorWindows();

}  // namespace fp
