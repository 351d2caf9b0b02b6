#pragma once
// What the operator's windows (settings, departments, pay types, About) need from the
// main window: its settings fields, its task runner and the waits built on it, the file
// timer and the status bar. TfrmMain implements it; tests put a fake task runner in its
// place, so the windows never depend on the main window's own class.
#include <QString>

#include <cstdint>

#include "program/tasks/uPRNFileThread.h"
#include "program/app/uSettingsFile.h"

class QWidget;

namespace fp {

class IMainWindowServices {
 public:
  virtual ~IMainWindowServices() = default;

  // The window the operator's windows and their dialogs are shown over.
  virtual QWidget* MainWindow() = 0;

  // ---- Settings ----
  // The main window's settings fields (read and written by the settings window).
  virtual TMainSettings& Settings() = 0;
  // Saves the settings file; a failure is logged and shown by the main window itself.
  virtual void SaveSettings() = 0;

  // ---- Tasks ----
  // Starts a task (refuses with its own message while one runs).
  virtual void RunTask(TTaskKind Kind, bool Flag = true) = 0;
  // A task runs (no message).
  virtual bool TaskActive() const = 0;
  // For a command of the operator: true when a task runs, after showing ActiveTask.
  virtual bool WarnIfTaskActive() = 0;
  // Errors reported by the current (or last) task.
  virtual int32_t ErrorCount() const = 0;
  // The department list that the read task fills and the write task takes a copy of.
  virtual TDepartments& Departments() = 0;
  // A connect-only task with the current settings, waited for up to 120 s when the
  // check interval is not 0; true when it ended without error.
  virtual bool CheckConnectivity() = 0;
  // A connect-only task on that port, run silently and waited for; true on success.
  virtual bool TestComPort(int32_t Port) = 0;
  // A printer-information task searching for that serial number, run silently and
  // waited for; true on success (Model and SerialNo then name the printer found).
  virtual bool SearchDeviceBySerial(const QString& Serial) = 0;
  // Model and serial number of the last printer information.
  virtual QString Model() const = 0;
  virtual QString SerialNo() const = 0;
  // The driver version the automation object gave at start (empty when the probe failed).
  virtual QString ComServerVersion() const = 0;

  // ---- Window ----
  // The generic error dialog: ErrorOccurred, a line break, SeeErrorFileForDetails.
  virtual void ShowErrorMessage() = 0;
  virtual void StopFileTimer() = 0;
  // The file timer runs again unless the pause box is checked (or the first start still
  // waits for the answer about waiting files); when it runs, status panel 2 shows Started.
  virtual void RestartFileTimer() = 0;
  // Sets the text of a status bar panel (0 port, 1 speed, 2 task).
  virtual void SetStatusPanel(int Index, const QString& Text) = 0;
};

}  // namespace fp
