// The tray program as the benchmarks run it: a temporary root with a program folder of its
// own (the program and the automation library copied beside each other, the settings file,
// the logs), a receipt folder and a registry file (FP_REGISTRY_FILE) in which the printer
// model, served in this process on a pty, is COM7. The program runs on Qt's offscreen
// platform; its output goes to <root>/program.txt. The destructor stops the program and
// removes the root (unless Keep()).
//
// Header only: each tools/<name>.cpp is a program of its own.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ComPortNames.h"
#include "tests/printermodel/PrinterModel.h"

extern char** environ;

namespace fp::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The folder of this benchmark's own file: the build's bin folder, where the program and
// the library land as well.
inline std::string OwnBinDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/"; }

// CPU time (user + system, all threads) of a running process in seconds, from
// /proc/<pid>/stat; negative when it cannot be read.
inline double ProcessCpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  // The command name (field 2) is in parentheses and may hold blanks: count after it.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  // Fields 3.. follow: state is field 3, utime field 14, stime field 15.
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

class TFileDriverRun {
 public:
  static constexpr const char* kProgram = "DriverFiscalPrinterX4";
  static constexpr const char* kLibrary = "MiravokFPAxX4_BG.so";

  // Sets up the root, the model and the settings and starts the program.
  explicit TFileDriverRun(const std::string& binDir = OwnBinDir()) {
    char pattern[] = "/tmp/fp-bench-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    Root = std::string(pattern) + "/";
    Prog = Root + "prog/";
    Bon = Root + "bon/";
    Log = Prog + "Log/DriverFiscalPrinterX4_Log.txt";
    std::filesystem::create_directories(Prog);
    std::filesystem::create_directories(Bon);
    for (const char* f : {kProgram, kLibrary}) std::filesystem::copy_file(binDir + f, Prog + f);

    // This process and the program share the registry file: the program registers the
    // library there, the model's pty is COM7 there.
    ::setenv("FP_REGISTRY_FILE", (Root + "registry.txt").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Pty = std::make_unique<model::PtyEndpoint>(Model);
    if (!TComPortNames::SetMapping("COM7", Pty->SlavePath()))
      throw std::runtime_error("cannot map COM7 in " + Root + "registry.txt");

    WriteFile(Prog + kProgram + std::string(".ini"),
              "[PARAMETERS]\r\nSearchPath=" + Bon +
                  "\r\nComPort=7\r\nBaudRate=115200\r\nCheckPrnIntevalSec=0\r\nRepFilePrint=1\r\n");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (Root + "program.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, Root.c_str());
    const std::string path = Prog + kProgram;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int rc = ::posix_spawn(&Pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
  }

  ~TFileDriverRun() {
    Stop();
    Pty.reset();
    if (!FKeep) {
      std::error_code ec;
      std::filesystem::remove_all(Root, ec);
    }
  }

  TFileDriverRun(const TFileDriverRun&) = delete;
  TFileDriverRun& operator=(const TFileDriverRun&) = delete;

  void Keep() { FKeep = true; }

  bool Running() {
    if (Pid <= 0) return false;
    int status = 0;
    if (::waitpid(Pid, &status, WNOHANG) == Pid) {
      Pid = -1;
      return false;
    }
    return true;
  }

  void Stop() {
    if (!Running()) return;
    ::kill(Pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (!Running()) return;
      std::this_thread::sleep_for(100ms);
    }
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
  }

  // Waits until the first start is over: the program has registered the library, checked
  // the printer ("Checking connectivity." in its log, then the model's requests have
  // stopped for a while) and started its file timer. Then one receipt is printed to be
  // sure the timer runs and the library is in the file cache. False with a reason.
  bool WaitReady(std::string& why, Clock::duration limit = 60s) {
    const auto deadline = Clock::now() + limit;
    while (ReadFile(Log).find("Checking connectivity.") == std::string::npos) {
      if (!Running()) return why = "the program ended during its start", false;
      if (Clock::now() > deadline) return why = "no \"Checking connectivity.\" in " + Log, false;
      std::this_thread::sleep_for(20ms);
    }
    size_t count = Model.RequestCount();
    auto quietSince = Clock::now();
    while (count == 0 || Clock::now() - quietSince < 1500ms) {
      std::this_thread::sleep_for(50ms);
      const size_t now = Model.RequestCount();
      if (now != count) {
        count = now;
        quietSince = Clock::now();
      }
      if (Clock::now() > deadline) return why = "the printer check did not end", false;
    }
    DropReceipt("warmup");
    return WaitPrinted("warmup", why, 30s);
  }

  // A small receipt written as <name>.tmp and renamed to <name>.bon, as a point-of-sale
  // program should. Returns the moment just before the rename.
  Clock::time_point DropReceipt(const std::string& name) {
    WriteFile(Bon + name + ".tmp", "%1^BREAD^150^2000^1\r\n");
    const auto at = Clock::now();
    if (::rename((Bon + name + ".tmp").c_str(), (Bon + name + ".bon").c_str()) != 0)
      throw std::runtime_error("cannot rename " + Bon + name + ".tmp");
    return at;
  }

  // Waits until <name>.bon has been printed: its report file exists and neither the file
  // nor its claim is left. False with a reason (also when it became an error file).
  bool WaitPrinted(const std::string& name, std::string& why, Clock::duration limit = 30s) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (Exists(Bon + name + ".err")) return why = name + ".bon failed: " + Bon + name + ".err", false;
      if (Exists(Bon + name + ".rep") && !Exists(Bon + name + ".bon") && !Exists(Bon + name + ".$$$")) return true;
      if (!Running()) return why = "the program ended", false;
      if (Clock::now() > deadline) return why = name + ".bon was not printed in time", false;
      std::this_thread::sleep_for(5ms);
    }
  }

  model::PrinterModel Model;  // declared before the endpoint, which it must outlive
  std::unique_ptr<model::PtyEndpoint> Pty;
  std::string Root, Prog, Bon, Log;
  pid_t Pid = -1;

 private:
  bool FKeep = false;
};

}  // namespace fp::bench
