// The real program, started as a process on Qt's offscreen platform, against the printer
// model on a pty mapped as a COM port: it registers the automation library itself, prints
// a receipt file dropped into its folder and writes the report file beside it; a second
// start of the same program file hands over to the first and ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ComPortNames.h"
#include "tests/printermodel/ModelEndpoints.h"
#include "tests/printermodel/PrinterModel.h"
#include "tests/support/QtTestEnvironment.h"

#include "tests/support/QtFileTestSupport.h"

namespace fp::test {
namespace {

const QString kBinDir = QStringLiteral(FP_BIN_DIR);
const QString kProgram = QStringLiteral("DriverFiscalPrinterX4");
const QString kLibrary = QStringLiteral("MiravokFPAxX4_BG.so");

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

// QProcess wants an application object.
[[maybe_unused]] test::TQtTestEnvironment& gQtEnvironment = test::QtTestEnvironment<QCoreApplication>();

class ProgramEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const QString& f : {kProgram, kLibrary})
      if (!QFileInfo::exists(kBinDir + "/" + f))
        GTEST_SKIP() << (kBinDir + "/" + f).toStdString() << " is not built; build the program and the library first";
    ASSERT_TRUE(FTmp.isValid());
    FRoot = FTmp.path() + "/";
    FProg = FRoot + "prog/";
    FBon = FRoot + "bon/";
    ASSERT_TRUE(QDir().mkpath(FProg));
    ASSERT_TRUE(QDir().mkpath(FBon));
    // The user's private runtime folder, where the program listens for a second start.
    FRuntime = FRoot + "run";
    ASSERT_TRUE(QDir().mkpath(FRuntime));
    ASSERT_TRUE(
        QFile::setPermissions(FRuntime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    // The program's folder is its own: the settings, the logs and the library beside it.
    for (const QString& f : {kProgram, kLibrary}) {
      ASSERT_TRUE(QFile::copy(kBinDir + "/" + f, FProg + f));
      QFile(FProg + f).setPermissions(QFile(kBinDir + "/" + f).permissions());
    }
    // A registry of its own, where the library is not registered yet; the printer model
    // on a pty is COM7.
    FRegistry = FRoot + "registry.txt";
    FOldRegistry = qgetenv("FP_REGISTRY_FILE");
    qputenv("FP_REGISTRY_FILE", FRegistry.toLocal8Bit());
    FModel = std::make_unique<model::PrinterModel>();
    FPty = std::make_unique<model::PtyEndpoint>(*FModel);
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPty->SlavePath()));

    QFile ini(FProg + kProgram + ".ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(("[PARAMETERS]\r\nSearchPath=" + FBon +
               "\r\nComPort=7\r\nBaudRate=115200\r\nCheckPrnIntevalSec=0\r\nRepFilePrint=1\r\n")
                  .toLocal8Bit());
  }

  void TearDown() override {
    for (QProcess* p : {FFirst.get(), FSecond.get()}) {
      if (p && p->state() != QProcess::NotRunning) {
        p->terminate();
        if (!p->waitForFinished(5000)) {
          p->kill();
          p->waitForFinished(5000);
        }
      }
    }
    FPty.reset();
    FModel.reset();
    if (FOldRegistry.isNull())
      qunsetenv("FP_REGISTRY_FILE");
    else
      qputenv("FP_REGISTRY_FILE", FOldRegistry);
  }

  // Starts the program of `progDir` (the fixture's own when empty), on Qt's offscreen
  // platform unless `display` names the variables of another.
  std::unique_ptr<QProcess> Start(const QString& progDir = QString(), const QProcessEnvironment& display = {}) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("FP_REGISTRY_FILE", FRegistry);
    env.insert("XDG_RUNTIME_DIR", FRuntime);
    for (const QString& name : display.keys()) env.insert(name, display.value(name));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setWorkingDirectory(FRoot);
    p->start((progDir.isEmpty() ? FProg : progDir) + kProgram, {});
    return p;
  }

  // The first start is over and the file timer runs: the start's printer check has reached
  // the printer (its "Checking connectivity." comes before the start's look for waiting
  // files, which would ask about a file dropped then), and a moment has passed.
  bool WaitUntilRunning() {
    const QString log = FProg + "Log/DriverFiscalPrinterX4_Log.txt";
    if (!WaitFor([&] { return ReadAll(log).contains("[FastInit]Durration"); }, 60000)) return false;
    QThread::msleep(1000);
    return true;
  }

  QString Diagnostics() {
    QString out = "normal log:\n" + QString::fromLocal8Bit(ReadAll(FProg + "Log/DriverFiscalPrinterX4_Log.txt")) +
                  "\nexception log:\n" +
                  QString::fromLocal8Bit(ReadAll(FProg + "Log/DriverFiscalPrinterX4_Exception.txt"));
    if (FFirst) out += "\nprogram output:\n" + QString::fromLocal8Bit(FFirst->readAll());
    out += "\nreceipt folder: " + QDir(FBon).entryList(QDir::Files).join(", ");
    return out;
  }

  // Drops two receipt files into a slow printer's folder and stops the program by `stop`
  // while the first prints: the receipt in print is finished and reported, the next one is
  // left for the next start, the log tells why (`why`) and gets its closing line, and the
  // program ends with 0.
  void StopWhileTheFirstReceiptPrints(const std::function<void()>& stop, const QByteArray& why) {
    const QString log = FProg + "Log/DriverFiscalPrinterX4_Log.txt";
    ASSERT_TRUE(WaitUntilRunning()) << Diagnostics().toStdString();
    // A slow printer, so that the stop comes while the first receipt prints.
    FModel->SetAnswerDelay(std::chrono::milliseconds(150));
    for (const char* name : {"0001", "0002"}) {
      QFile bon(FBon + name + ".tmp");
      ASSERT_TRUE(bon.open(QIODevice::WriteOnly));
      bon.write("%1^BREAD^150^2000^1\r\n%2^MILK^230^1000^2\r\n%3^EGGS^120^1000^2\r\n#E1^10.00\r\n");
    }
    for (const char* name : {"0001", "0002"}) ASSERT_TRUE(QFile::rename(FBon + name + ".tmp", FBon + name + ".bon"));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(FBon + "0001.$$$"); }, 30000)) << Diagnostics().toStdString();
    stop();

    ASSERT_TRUE(FFirst->waitForFinished(60000)) << Diagnostics().toStdString();
    EXPECT_EQ(FFirst->exitStatus(), QProcess::NormalExit) << Diagnostics().toStdString();
    EXPECT_EQ(FFirst->exitCode(), 0) << Diagnostics().toStdString();
    EXPECT_TRUE(QFileInfo::exists(FBon + "0001.rep")) << Diagnostics().toStdString();
    for (const char* left : {"0001.$$$", "0001.err", "0001.unk", "0001.bon", "0002.$$$", "0002.rep"})
      EXPECT_FALSE(QFileInfo::exists(FBon + left)) << left << "\n" << Diagnostics().toStdString();
    EXPECT_TRUE(QFileInfo::exists(FBon + "0002.bon")) << Diagnostics().toStdString();
    const QByteArray text = ReadAll(log);
    EXPECT_TRUE(text.contains(why)) << text.toStdString();
    EXPECT_TRUE(text.trimmed().endsWith("Application closed")) << text.toStdString();
    const model::ModelState state = FModel->State();
    ASSERT_EQ(state.closed.size(), 1u);
    EXPECT_FALSE(state.closed[0].cancelled);
  }

  QTemporaryDir FTmp;
  QString FRoot, FProg, FBon, FRegistry, FRuntime;
  QByteArray FOldRegistry;
  std::unique_ptr<model::PrinterModel> FModel;
  std::unique_ptr<model::PtyEndpoint> FPty;
  std::unique_ptr<QProcess> FFirst, FSecond;
};

TEST_F(ProgramEndToEnd, PrintsADroppedReceiptFileAndWritesItsReport) {
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  // The first start has registered the library and checked the printer once the file
  // timer runs; a receipt file written from then on is printed by the timer.
  const QString log = FProg + "Log/DriverFiscalPrinterX4_Log.txt";
  ASSERT_TRUE(WaitUntilRunning()) << Diagnostics().toStdString();
  EXPECT_TRUE(ReadAll(log).contains("[CreateOLEServer]Ax added: " + (FProg + kLibrary).toLocal8Bit()));

  {
    QFile bon(FBon + "0001.tmp");
    ASSERT_TRUE(bon.open(QIODevice::WriteOnly));
    bon.write("%1^BREAD^150^2000^1\r\n");
  }
  ASSERT_TRUE(QFile::rename(FBon + "0001.tmp", FBon + "0001.bon"));

  const bool printed = WaitFor(
      [&] {
        return QFileInfo::exists(FBon + "0001.rep") && !QFileInfo::exists(FBon + "0001.bon") &&
               !QFileInfo::exists(FBon + "0001.$$$");
      },
      90000);
  ASSERT_TRUE(printed) << Diagnostics().toStdString();
  EXPECT_FALSE(QFileInfo::exists(FBon + "0001.err")) << Diagnostics().toStdString();
  const model::ModelState state = FModel->State();
  ASSERT_FALSE(state.closed.empty());
  const model::Receipt& r = state.closed.back();
  EXPECT_FALSE(r.cancelled);
  ASSERT_EQ(r.items.size(), 1u);
  EXPECT_EQ(r.TotalCents(), 300);

  // A second start of the same file raises the running one and ends at once, and says so.
  FSecond = Start();
  ASSERT_TRUE(FSecond->waitForFinished(20000));
  EXPECT_EQ(FSecond->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(FSecond->exitCode(), 0);
  EXPECT_TRUE(FSecond->readAll().contains("it was asked to show its window"));
  EXPECT_TRUE(ReadAll(log).contains("[SingleInstance] Started again: the program already runs from " +
                                    (FProg + kProgram).toLocal8Bit()));
  EXPECT_EQ(FFirst->state(), QProcess::Running);
  // A peer's closed pipe does not end it.
  ASSERT_EQ(::kill(static_cast<pid_t>(FFirst->processId()), SIGPIPE), 0);
  QThread::msleep(500);
  EXPECT_EQ(FFirst->state(), QProcess::Running) << Diagnostics().toStdString();
}

// A second start that cannot reach the running copy (here: another runtime folder, as for a
// copy started by another user) says why on stderr and in the error log, and ends with 1.
TEST_F(ProgramEndToEnd, ASecondStartThatCannotReachTheRunningCopySaysWhy) {
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  ASSERT_TRUE(WaitUntilRunning()) << Diagnostics().toStdString();
  const QString other = FRoot + "run2";
  ASSERT_TRUE(QDir().mkpath(other));
  ASSERT_TRUE(QFile::setPermissions(other, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  QProcessEnvironment env;
  env.insert("XDG_RUNTIME_DIR", other);
  FSecond = Start(QString(), env);
  ASSERT_TRUE(FSecond->waitForFinished(30000));
  EXPECT_EQ(FSecond->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(FSecond->exitCode(), 1);
  const QByteArray said = FSecond->readAll();
  EXPECT_TRUE(said.contains("its window cannot be shown: nobody answers on " + other.toLocal8Bit()))
      << said.toStdString();
  EXPECT_TRUE(ReadAll(FProg + "Log/DriverFiscalPrinterX4_Exception.txt").contains("its window cannot be shown"))
      << Diagnostics().toStdString();
  EXPECT_EQ(FFirst->state(), QProcess::Running);
}

// What lies under the lock's name and is not a running copy's lock (here another file
// that a link leads to) does not stop the start, and its target stays as it was.
TEST_F(ProgramEndToEnd, ALinkUnderTheLocksNameDoesNotStopTheStart) {
  WriteAll(FRoot + "other.txt", "other");
  ASSERT_TRUE(QFile::link(FRoot + "other.txt", FProg + kProgram + ".lock"));
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  ASSERT_TRUE(WaitUntilRunning()) << Diagnostics().toStdString();
  EXPECT_EQ(ReadAll(FRoot + "other.txt"), "other");
  EXPECT_FALSE(QFileInfo(FProg + kProgram + ".lock").isSymLink());
}

// A stop signal (log-out, shutdown, kill, Ctrl+C) is the menu's exit without its question:
// the receipt in print is finished and reported, the next waiting one is left for the next
// start, the log gets its closing line and the program ends with 0.
class ProgramStopSignal : public ProgramEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(ProgramStopSignal, FinishesTheReceiptInPrintAndExitsCleanly) {
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  StopWhileTheFirstReceiptPrints([&] { ASSERT_EQ(::kill(static_cast<pid_t>(FFirst->processId()), GetParam()), 0); },
                                 " received; closing");
}

// A private X server for one test: it finds a free display number itself (-displayfd),
// listens on the abstract local socket only, and leaves no lock file (-nolock, which only
// root may give), so nothing of it lies under /tmp; it takes only clients with its own
// cookie.
class TPrivateXServer {
 public:
  ~TPrivateXServer() { Kill(); }
  // Empty when it runs, else why not.
  QString Start(const QString& folder) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) return "Xvfb is not installed";
    if (::geteuid() != 0) return "without root the X server would leave its lock file in /tmp";
    FAuth = folder + "xauth";
    QByteArray cookie(16, 0);
    for (char& c : cookie) c = static_cast<char>(std::rand());
    // One entry for any address and display: family "wild", the cookie's name and bytes.
    auto field = [](const QByteArray& b) {
      return QByteArray(1, static_cast<char>(b.size() >> 8)) + static_cast<char>(b.size() & 0xFF) + b;
    };
    QFile auth(FAuth);
    if (!auth.open(QIODevice::WriteOnly)) return "cannot write " + FAuth;
    auth.write(QByteArray("\xFF\xFF", 2) + field({}) + field({}) + field("MIT-MAGIC-COOKIE-1") + field(cookie));
    auth.close();
    FProc.setProcessChannelMode(QProcess::SeparateChannels);
    FProc.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-nolisten", "unix", "-nolock", "-auth", FAuth,
                         "-screen", "0", "1024x768x24"});
    if (!FProc.waitForStarted(10000)) return "Xvfb does not start";
    QDeadlineTimer deadline(15000);
    while (!FProc.canReadLine()) {
      if (deadline.hasExpired() || !FProc.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
        return "Xvfb named no display: " + QString::fromLocal8Bit(FProc.readAllStandardError());
    }
    FDisplay = ":" + QString::fromLatin1(FProc.readLine().trimmed());
    return QString();
  }
  QProcessEnvironment Environment(const QString& folder) const {
    QProcessEnvironment env;
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", FDisplay);
    env.insert("XAUTHORITY", FAuth);
    // No session bus (and none started on demand) and a cache of its own.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder + "no-bus");
    env.insert("XDG_CACHE_HOME", folder + "cache");
    return env;
  }
  void Kill() {
    if (FProc.state() == QProcess::NotRunning) return;
    FProc.terminate();
    if (!FProc.waitForFinished(5000)) {
      FProc.kill();
      FProc.waitForFinished(5000);
    }
  }

 private:
  QProcess FProc;
  QString FAuth, FDisplay;
};

// The X server dies while a receipt prints: the print job needs no display, so the
// receipt in print is finished as on a stop signal and the log says that the display went
// away.
TEST_F(ProgramEndToEnd, WhenTheDisplayGoesTheReceiptInPrintIsFinished) {
  TPrivateXServer x;
  const QString why = x.Start(FRoot);
  if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();
  FFirst = Start(QString(), x.Environment(FRoot));
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  StopWhileTheFirstReceiptPrints([&] { x.Kill(); }, "The display went away (The X11 connection broke");
}

// A first start without settings opens the settings window; a stop signal while it is open
// ends the program there: the log ends with its closing line, and no printer check runs on a
// port nobody chose.
TEST_F(ProgramEndToEnd, StopSignalDuringTheFirstStartSettingsTouchesNoPort) {
  QFile ini(FProg + kProgram + ".ini");
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ini.write("[PARAMETERS]\r\nCheckPrnIntevalSec=30\r\n");
  ini.close();
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  const QString log = FProg + "Log/DriverFiscalPrinterX4_Log.txt";
  // The library is registered just before the settings window opens.
  ASSERT_TRUE(WaitFor([&] { return ReadAll(log).contains("[CreateOLEServer]"); }, 60000))
      << Diagnostics().toStdString();
  QThread::msleep(2000);
  ASSERT_EQ(::kill(static_cast<pid_t>(FFirst->processId()), SIGTERM), 0);
  ASSERT_TRUE(FFirst->waitForFinished(60000)) << Diagnostics().toStdString();
  EXPECT_EQ(FFirst->exitStatus(), QProcess::NormalExit) << Diagnostics().toStdString();
  EXPECT_EQ(FFirst->exitCode(), 0);
  const QByteArray text = ReadAll(log);
  EXPECT_TRUE(text.contains("SIGTERM received; closing")) << text.toStdString();
  EXPECT_TRUE(text.trimmed().endsWith("Application closed")) << text.toStdString();
  EXPECT_FALSE(text.contains("Checking connectivity.")) << text.toStdString();
  EXPECT_FALSE(text.contains("FastInit")) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramStopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(::sigabbrev_np(info.param)); });

// The command line a desktop makes of a desktop entry's Exec value: first the file's own
// escapes (\s \n \t \r \\), then the arguments split at blanks outside double quotes, where
// a backslash keeps the next ", `, $ or \; %% is a percent sign. nullopt for what the rules
// call invalid (an unclosed quote, a reserved character outside quotes).
std::optional<std::vector<std::string>> ExecArguments(const std::string& value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    const char c = value[++i];
    text += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  std::vector<std::string> args;
  std::string arg;
  bool inArg = false, quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < text.size() && std::strchr("\"`$\\", text[i + 1])) {
        arg += text[++i];
      } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
        arg += text[++i];
      } else {
        arg += c;
      }
    } else if (c == ' ') {
      if (inArg) args.push_back(arg);
      arg.clear();
      inArg = false;
    } else if (c == '"') {
      quoted = inArg = true;
    } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      arg += text[++i];
      inArg = true;
    } else if (std::strchr("\t\n'\\><~|&;$*?#()`", c)) {
      return std::nullopt;
    } else {
      arg += c;
      inArg = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArg) args.push_back(arg);
  return args;
}

// The README's autostart entry starts the program from a path with blanks: its Exec value
// is one argument, the program's full path.
TEST(AutostartEntry, TheReadmesExampleStartsTheProgramFromAPathWithBlanks) {
  const QStringList lines = QString::fromUtf8(ReadAll(QStringLiteral(FP_SOURCE_DIR) + "/README.md")).split('\n');
  QString exec, folder;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (!lines[i].contains("~/.config/autostart/")) continue;
    const qsizetype tick = lines[i + 1].indexOf('`');
    if (tick >= 0) folder = lines[i + 1].mid(tick + 1, lines[i + 1].indexOf('`', tick + 1) - tick - 1);
    for (qsizetype j = i + 1; j < lines.size() && exec.isEmpty(); ++j)
      if (lines[j].startsWith("    Exec=")) exec = lines[j].mid(9);
    break;
  }
  ASSERT_FALSE(exec.isEmpty()) << "no Exec line after the autostart folder in the README";
  ASSERT_TRUE(folder.contains(' ')) << folder.toStdString();
  const auto args = ExecArguments(exec.toStdString());
  ASSERT_TRUE(args.has_value()) << exec.toStdString();
  EXPECT_EQ(*args, std::vector<std::string>{(folder + "/DriverFiscalPrinterX4").toStdString()});
  // The same path unquoted is two words, neither of them the program.
  const std::string unquoted = (folder + "/DriverFiscalPrinterX4").toStdString();
  EXPECT_GT(ExecArguments(unquoted)->size(), 1u);
  EXPECT_EQ(ExecArguments(R"("/opt/a \\"b\\" 100%%/p" -x)"), (std::vector<std::string>{"/opt/a \"b\" 100%/p", "-x"}));
  EXPECT_FALSE(ExecArguments("\"/opt/open").has_value());
}

// A second desk in the same shop: another copy of the program with its own folder, settings
// and printer (a printer model with the serial number CD000002, behind COM8), set to find its
// printer by that serial number. While its printer is off the search finds only the first
// desk's printer (COM7): the second desk's receipts wait, none prints on the first desk's
// printer, and its logs name both printers. Switched on, its printer prints them.
class TwoDesksEndToEnd : public ProgramEndToEnd {
 protected:
  void SetUp() override {
    ProgramEndToEnd::SetUp();
    if (IsSkipped()) return;
    FProg2 = FRoot + "prog2/";
    FBon2 = FRoot + "bon2/";
    ASSERT_TRUE(QDir().mkpath(FProg2));
    ASSERT_TRUE(QDir().mkpath(FBon2));
    for (const QString& f : {kProgram, kLibrary}) {
      ASSERT_TRUE(QFile::copy(kBinDir + "/" + f, FProg2 + f));
      QFile(FProg2 + f).setPermissions(QFile(kBinDir + "/" + f).permissions());
    }
    WriteAll(FProg2 + kProgram + ".ini",
             ("[PARAMETERS]\r\nSearchPath=" + FBon2 +
              "\r\nComPort=8\r\nBaudRate=115200\r\nCheckPrnIntevalSec=0\r\nRepFilePrint=1\r\n"
              "AutoSerachDevice=1\r\nDeviceSerialNom=CD000002\r\n")
                 .toLocal8Bit());
    FModel2 = std::make_unique<model::PrinterModel>();
    FModel2->SetSerialNumber("CD000002");
    // COM8 leads to this link, which exists while the second desk's printer is on.
    FLink2 = FRoot + "desk2-printer";
    ASSERT_TRUE(TComPortNames::SetMapping("COM8", FLink2.toStdString()));
  }
  void TearDown() override {
    if (FDesk2 && FDesk2->state() != QProcess::NotRunning) {
      FDesk2->terminate();
      if (!FDesk2->waitForFinished(5000)) {
        FDesk2->kill();
        FDesk2->waitForFinished(5000);
      }
    }
    QFile::remove(FLink2);
    FPty2.reset();
    FModel2.reset();
    ProgramEndToEnd::TearDown();
  }

  std::unique_ptr<QProcess> StartDesk2() { return Start(FProg2); }

  static void Drop(const QString& folder, const char* name, const QByteArray& receipt) {
    WriteAll(folder + name + ".tmp", receipt);
    ASSERT_TRUE(QFile::rename(folder + name + ".tmp", folder + name + ".bon"));
  }

  static std::vector<std::string> Articles(const model::ModelState& s) {
    std::vector<std::string> names;
    for (const model::Receipt& r : s.closed)
      for (const auto& item : r.items) names.push_back(item.text1);
    return names;
  }

  QString Desk2Diagnostics() {
    return "desk 2 normal log:\n" + QString::fromLocal8Bit(ReadAll(FProg2 + "Log/DriverFiscalPrinterX4_Log.txt")) +
           "\ndesk 2 exception log:\n" +
           QString::fromLocal8Bit(ReadAll(FProg2 + "Log/DriverFiscalPrinterX4_Exception.txt")) +
           "\ndesk 2 folder: " + QDir(FBon2).entryList(QDir::Files).join(", ") + "\n" + Diagnostics();
  }

  QString FProg2, FBon2, FLink2;
  std::unique_ptr<model::PrinterModel> FModel2;
  std::unique_ptr<model::PtyEndpoint> FPty2;
  std::unique_ptr<QProcess> FDesk2;
};

TEST_F(TwoDesksEndToEnd, ReceiptsOfADeskWhosePrinterIsOffWaitForItAndNeverPrintOnTheOtherDesks) {
  FFirst = Start();
  ASSERT_TRUE(FFirst->waitForStarted(10000));
  ASSERT_TRUE(WaitUntilRunning()) << Diagnostics().toStdString();
  FDesk2 = StartDesk2();
  ASSERT_TRUE(FDesk2->waitForStarted(10000));
  const QString exceptions2 = FProg2 + "Log/DriverFiscalPrinterX4_Exception.txt";
  const QByteArray told = "printer CD000002 not found; found AB123456 on COM7";
  // The start's printer check of the second desk already finds the other printer.
  ASSERT_TRUE(WaitFor([&] { return ReadAll(exceptions2).contains(told); }, 60000)) << Desk2Diagnostics().toStdString();

  Drop(FBon, "0001", "%1^BREAD^150^1000^2\r\n");
  for (const char* name : {"0001", "0002", "0003"}) Drop(FBon2, name, "%1^MILK^230^1000^2\r\n");
  ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(FBon + "0001.rep"); }, 60000)) << Diagnostics().toStdString();
  // Several ticks of the second desk's file timer try and fail.
  const QString log2 = FProg2 + "Log/DriverFiscalPrinterX4_Log.txt";
  ASSERT_TRUE(WaitFor([&] { return ReadAll(log2).count("[Execute] " + told) >= 2; }, 60000))
      << Desk2Diagnostics().toStdString();
  EXPECT_EQ(QDir(FBon2).entryList(QDir::Files), (QStringList{"0001.bon", "0002.bon", "0003.bon"}))
      << Desk2Diagnostics().toStdString();
  EXPECT_EQ(Articles(FModel->State()), std::vector<std::string>{"BREAD"});

  // The second desk's printer is switched on: the waiting receipts print there.
  FPty2 = std::make_unique<model::PtyEndpoint>(*FModel2);
  ASSERT_TRUE(QFile::link(QString::fromStdString(FPty2->SlavePath()), FLink2));
  ASSERT_TRUE(WaitFor(
      [&] {
        return QDir(FBon2).entryList(QDir::Files) == QStringList{"0001.rep", "0002.rep", "0003.rep"};
      },
      60000))
      << Desk2Diagnostics().toStdString();
  EXPECT_EQ(Articles(FModel2->State()), (std::vector<std::string>{"MILK", "MILK", "MILK"}));
  EXPECT_EQ(Articles(FModel->State()), std::vector<std::string>{"BREAD"});
}

}  // namespace
}  // namespace fp::test
