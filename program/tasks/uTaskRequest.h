#pragma once
// The printer jobs and the request a worker is made from: the job's kind and the
// arguments of that kind. The worker thread (uPRNFileThread.h) is created from one
// request; the task runner (uTaskRunner.h) builds the request for every task it starts.
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace fp {

class TFolderCare;
class TFolderWatch;
class TLastingFailure;

// The printer jobs (values fixed).
enum TTaskKind : uint8_t {
  tkNone = 0,
  tkPrinterInfo = 1,
  tkReadFiles = 2,
  tkPrintEmptyBon = 3,
  tkPrintTest = 4,
  tkReportByBlock = 5,
  tkReportByDates = 6,
  tkXZReport = 7,
  tkGetDepartments = 8,
  tkSetDepartments = 9,
  tkSumIn = 10,
  tkSumOut = 11,  // no worker runs this kind; cash out runs as tkSumIn
  tkCheckPrinter = 12,
  tkCopyBon = 13,
  tkDepartmentReportReset = 14,
  tkDepartmentReport = 15,
};

// One department as the program handles it.
struct TDepartmentRow {
  int32_t Nom = 0;  // 1..100
  QString DepName;
  QString ExitCode;  // "P" for a programmed department
  QString DepDescr;
  int32_t TaxGrpNo = 0;
  bool Edited = false;
};
using TDepartments = std::vector<TDepartmentRow>;

// What a task's worker is created with (the job and its arguments). A worker takes only
// the arguments of its own kind. Every member has a default, so a request may name just
// the members its kind uses.
struct TTaskRequest {
  TTaskKind Kind = tkNone;          // the worker's job: tkSumOut runs as tkSumIn
  QString BonFolder{};              // tkReadFiles: the receipt folder
  bool WatGrpBeginFromOne = false;  // tkReadFiles
  int32_t FirstBlock = 1;           // tkReportByBlock
  int32_t LastBlock = 1;
  bool Detailed = false;  // tkReportByBlock, tkReportByDates
  // tkReportByDates: date-time values (days since 30 December 1899, time as fraction).
  double StartDate = 0;
  double EndDate = 0;
  uint8_t Reset = 0;           // tkXZReport: 1 Z report, anything else X report
  TDepartments Departments{};  // tkSetDepartments: only rows with Edited set are written
  double Amount = 0;           // tkSumIn, tkSumOut: positive cash in, negative cash out
  // What decides when a receipt file is taken (uFolderWatch.h), shared with the runner's
  // own listing; a worker without one watches the folder by itself.
  std::shared_ptr<TFolderWatch> Watch{};
  // What holds back the exception-log lines of a failure that lasts (uLastingFailure.h),
  // shared by the runner's workers; a worker without one writes every line.
  std::shared_ptr<TLastingFailure> Failures{};
  // What the jobs of one runner remember of the receipt folders from job to job
  // (uFolderCare.h), shared with the runner's tending; a worker without one has its own.
  std::shared_ptr<TFolderCare> Care{};
};

}  // namespace fp
