#pragma once
// What the worker-thread tests share: a receipt folder and a log folder in a temporary
// folder, a fixed wall clock and a monotonic one, the fake automation object behind every worker it wires, and a
// journal of the worker's events.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "tests/support/FakeFprn.h"
#include "program/app/uConst.h"
#include "program/tasks/uPRNFileThread.h"
#include "program/app/uProgramLog.h"

namespace fp::test {

class TWorkerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FOlder = FTmp.path() + "/bon/";
    FLogDir = FTmp.path() + "/Log/";
    ASSERT_TRUE(QDir().mkpath(FOlder));
    uConst::SetBonFileExt("bon");
  }

  // A file in the receipt folder, last written `ageSec` seconds before the clock.
  void Put(const QString& name, const std::string& content, double ageSec = 60) {
    const QString path = FOlder + name;
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content.data(), static_cast<qint64>(content.size()));
    f.close();
    SetAge(name, ageSec);
  }
  void SetAge(const QString& name, double ageSec) {
    const qint64 ms = FClock.toMSecsSinceEpoch() - static_cast<qint64>(ageSec * 1000);
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ms / 1000;
    times[0].tv_nsec = times[1].tv_nsec = (ms % 1000) * 1000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(FOlder + name).constData(), times, 0), 0);
  }
  // Time passes: the wall clock and the watch's monotonic clock move on alike.
  void Pass(qint64 ms) {
    FClock = FClock.addMSecs(ms);
    FMonoMs += ms;
  }
  std::string Read(const QString& name) const {
    QFile f(FOlder + name);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
  }
  // The names in the receipt folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const QString& n : QDir(FOlder).entryList(QDir::Files | QDir::Hidden)) names.push_back(n.toStdString());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string NormalLog() const {
    QFile f(FLogDir + uProgramLog::NormalLogName);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  }
  int CallCount(const std::string& name) const {
    int n = 0;
    for (const auto& c : FAke->Names()) n += c == name;
    return n;
  }

  // Settings and event journal of a new worker.
  std::unique_ptr<TECRFileThread> Wire(std::unique_ptr<TECRFileThread> t) {
    t->SetFprnFactory(FPrnFactory);
    t->SetLogDir(FLogDir);
    t->SetClock([this] { return FClock; });
    t->SetReadyAge(FReadyAgeMs);
    if (t->BonFolder().isEmpty()) t->SetBonFolder(FOlder);
    t->OnPrinterOnline = [this](TECRFileThread&) { FEvents.push_back("Online"); };
    t->OnPrinterOffline = [this](TECRFileThread&) { FEvents.push_back("Offline"); };
    t->OnFileStarted = [this](const QString& path) {
      FEvents.push_back("Started " + QFileInfo(path).fileName().toStdString());
    };
    t->OnFileProcessed = [this](TECRFileThread&) { FEvents.push_back("Processed"); };
    t->OnError = [this](TECRFileThread&, TTaskErrorKind kind) { FEvents.push_back("Error " + std::to_string(kind)); };
    t->OnTaskFinished = [this](TECRFileThread&) { FEvents.push_back("Finished"); };
    t->OnPrinterInfo = [this](const TPRNInfo& i) { FEvents.push_back("Info " + i.SerialNo.toStdString()); };
    t->OnDepartmentReceived = [this](const TDepartmentRow& r) { FRows.push_back(r); };
    t->OnDepartmentsRead = [this](TECRFileThread&) { FEvents.push_back("DepartmentsRead"); };
    t->OnFolderNotice = [this](const QString& text) { FNotices.push_back(text.toStdString()); };
    t->OnFileUnknown = [this](const QString& path, const QString& why) {
      FUnknowns.push_back(QFileInfo(path).fileName().toStdString() + ": " + why.toStdString());
    };
    t->OnUnknownSettled = [this](const QString& path, const QString& text) {
      FSettled.push_back(QFileInfo(path).fileName().toStdString() + ": " + text.toStdString());
    };
    return t;
  }
  std::unique_ptr<TECRFileThread> FileJob(bool repFiles = true) {
    auto t = Wire(TECRFileThread::Create({.Kind = tkReadFiles, .BonFolder = FOlder, .Watch = FWatch, .Care = FCare}));
    t->SetRepFilePrint(repFiles);
    return t;
  }
  // Runs a file job on this thread; its events are journalled.
  void RunFileJob(bool repFiles = true) { FileJob(repFiles)->Execute(); }

  // The names of the "*.bon" files the file jobs' watch finds ready by its clock, oldest
  // first; `waitMs` gets the wait until the next one is.
  QStringList ReadyNames(const QString& logDir, int readyAgeMs, qint64* waitMs = nullptr) {
    const TReadyFiles ready = FWatch->Ready(FOlder, QStringLiteral("bon"), logDir, readyAgeMs);
    if (waitMs) *waitMs = ready.WaitMs;
    QStringList names;
    for (const TListedFile& f : ready.Files) names.append(f.Name);
    return names;
  }

  int ErrorEvents() const {
    int n = 0;
    for (const auto& e : FEvents) n += e.rfind("Error", 0) == 0;
    return n;
  }
  int Processed() const {
    int n = 0;
    for (const auto& e : FEvents) n += e == "Processed";
    return n;
  }

  QTemporaryDir FTmp;
  QString FOlder, FLogDir;
  // The wall clock of the wired workers (stamps of files moved aside, of the files put).
  QDateTime FClock{QDate(2025, 12, 9), QTime(12, 30, 45, 7)};
  // The monotonic clock of the file jobs' watch, in milliseconds.
  std::atomic<int64_t> FMonoMs{1000000};
  // How long the wired workers let a file settle: 0 takes a file at once, as a file that
  // has long stopped changing; the tests of settling set uPRNFileThread::ReadyAgeMs.
  int FReadyAgeMs = 0;
  ComPtr<TFakeFprn> FAke = TFakeFprn::Make();
  // How the wired workers create their automation object (empty: by class identifier).
  TFprnFactory FPrnFactory = FAke->Factory();
  std::vector<std::string> FEvents;
  // The files kept as unknown outcome ("name: why"), as OnFileUnknown told them.
  std::vector<std::string> FUnknowns;
  // What later openings did with their receipts ("name: text"), as OnUnknownSettled told it.
  std::vector<std::string> FSettled;
  // What OnFolderNotice told the operator.
  std::vector<std::string> FNotices;
  std::vector<TDepartmentRow> FRows;
  // What the file jobs of the fixture decide by when a file is taken.
  std::shared_ptr<TFolderWatch> FWatch = std::make_shared<TFolderWatch>([this] { return FMonoMs.load(); });
  // What the file jobs of the fixture remember from job to job (as one runner's jobs do).
  std::shared_ptr<TFolderCare> FCare = std::make_shared<TFolderCare>();
};

// A receipt of one sold article (sold with AddProgPlu), an invalid file and a status query.
inline const std::string kReceipt = "%12^Water^150^1000\r\n";
inline const std::string kInvalid = "#A\r\n";
inline const std::string kStatusQuery = "&S\r\n";

}  // namespace fp::test
