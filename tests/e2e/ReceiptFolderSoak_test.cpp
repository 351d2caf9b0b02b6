// The receipt folder under faults: several hundred receipt files of mixed kinds are
// printed by the real worker (the headless runner program soak_runner) through the real
// automation library, registered into a registry of its own, over a pty mapped as COM7 to
// the printer model. The model garbles answers at random from a fixed seed (NAK, wrong
// SEQ, bad check sum, SYN bursts, an answer cut off, rarely silence), refuses a payment
// now and then (every other time one that follows an accepted part payment, when the
// receipt can no longer be cancelled) and, a few times, stops answering in the middle of a receipt; the runner
// is killed (SIGKILL) in the middle of a file a few times and started again.
//
// Service files are mixed in (an X or Z report, a cash in or out, a copy of the last
// receipt), and a few times the printer stops answering right after one of their commands.
//
// At the end every file must be exactly one of: printed (report file, claim gone), ".err"
// or ".unk" (after a kill, or after a failure once its receipt may have printed); no
// receipt may be printed twice; no file that ended as ".err" has a receipt the printer
// closed (a point-of-sale program sends ".err" files again); no service command runs twice
// and no service file whose command the printer ran ends as ".err"; a printed receipt
// holds all the file's sales; the logs hold no unexpected exception. The counts are printed.
//
// Each receipt file carries its own unique sale number ("#U", sent in the opening of a
// printer in the ONLINE mode), by which the model's receipts are matched to the files.
//
// FP_SOAK_FILES (default 300) sets the number of files, FP_SOAK_SEED the seed;
// FP_SOAK_KEEP names a folder to copy the run's files and logs into. A failing run is
// always kept, under soak-kept/ in the build folder (the failure message says where),
// with commands.txt: every frame the model received, which runner start sent it with
// which SEQ, and whether the model ran it, answered it from its cache or refused it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ComPortNames.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

extern char** environ;

namespace fp::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kRunner = std::string(FP_BIN_DIR) + "/soak_runner";

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// ---- The receipt files ----

enum class TKind { Receipt, Invalid, Status, Service };

struct TSoakFile {
  int Index = 0;
  std::string Name;  // without extension
  TKind Kind = TKind::Receipt;
  bool Slow = false;  // written in place, in pieces, as a point-of-sale program that does not rename
  std::string Tag;    // the unique sale number; empty for status queries
  std::string Content;
  size_t Items = 0;        // sales of a receipt
  size_t Payments = 0;     // payments of a receipt, the automatic one included
  uint8_t ServiceCmd = 0;  // the printer command of a service file
};

std::string Pad(const std::string& s, size_t width, char fill, bool left) {
  if (s.size() >= width) return s.substr(0, width);
  return left ? s + std::string(width - s.size(), fill) : std::string(width - s.size(), fill) + s;
}

TSoakFile MakeFile(int index, std::mt19937& rng) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  TSoakFile f;
  f.Index = index;
  char name[16];
  std::snprintf(name, sizeof name, "S%05d", index);
  f.Name = name;
  char tag[32];
  std::snprintf(tag, sizeof tag, "SOAK-%06d", index);
  f.Tag = tag;
  const std::string crlf = "\r\n";
  const std::string u = "#U" + f.Tag + crlf;
  const int roll = pick(100);
  if (roll < 3) {
    f.Kind = TKind::Status;
    f.Tag.clear();
    f.Content = "&S" + crlf;
    return f;
  }
  if (roll >= 15 && roll < 21) {
    // Service files: the printer command each one runs.
    f.Kind = TKind::Service;
    f.Tag.clear();
    switch (pick(6)) {
      case 0:
        f.Content = "#I" + crlf;
        f.ServiceCmd = 0x45;
        break;  // X report
      case 1:
        f.Content = "#N" + crlf;
        f.ServiceCmd = 0x45;
        break;  // Z report
      case 2:
      case 3:  // cash in, a different amount each
        f.Content =
            "#R" + std::to_string(1 + index % 50) + "." + Pad(std::to_string(index % 100), 2, '0', false) + crlf;
        f.ServiceCmd = 0x46;
        break;
      case 4:
        f.Content = "#R-0.10" + crlf;
        f.ServiceCmd = 0x46;
        break;  // cash out
      default:
        f.Content = "#C" + crlf;
        f.ServiceCmd = 0x6D;
        break;  // copy of the last receipt
    }
    return f;
  }
  if (roll < 15) {
    // Invalid files: each is rejected while it is read, before anything is printed.
    static const char* const kBad[] = {
        "%12^Water^abc^1000\r\n",                            // price
        "%12^Water^150^1000\r\n#A\r\n",                      // not supported
        "%12^Water^150^1000\r\n#G-1000\r\n",                 // discount type
        "%12^Water^150^1000\r\n#Ex^1\r\n",                   // pay type
        "%12^Water^150^1000\r\n&X\r\n",                      // not supported
        ":Note\r\n&S\r\n",                                   // status after a command
        "0012Water       0000015000001000\r\n#S-10000\r\n",  // discount over range
    };
    f.Kind = TKind::Invalid;
    const int which = pick(8);
    f.Content = which == 7 ? std::string("\0#U", 3) + f.Tag + crlf  // no lines: NUL first
                           : u + kBad[which];
    return f;
  }
  f.Kind = TKind::Receipt;
  f.Slow = pick(100) < 4;
  std::string c;
  if (pick(3) == 0) c += "@01" + Pad(std::to_string(1 + pick(9)), 4, '0', false) + "Ivan" + crlf;
  c += u;
  const int items = 1 + pick(4);
  for (int i = 0; i < items; ++i) {
    const int plu = 1 + pick(20);
    const int price = 100 + 50 * pick(2) + 10 * plu;  // two prices per article: some reprogramming
    const int qty = 1000 * (1 + pick(3));
    const std::string article = "Item" + std::to_string(plu);
    if (pick(2) == 0) {
      c += "%" + std::to_string(plu) + "^" + article + "^" + std::to_string(price) + "^" + std::to_string(qty) + crlf;
    } else {
      c += Pad(std::to_string(plu), 4, '0', false) + Pad(article, 12, ' ', true) +
           Pad(std::to_string(price), 8, '0', false) + Pad(std::to_string(qty), 8, '0', false) + crlf;
    }
    if (pick(6) == 0) c += "#P-500" + crlf;  // 5 % off the last sale
  }
  c += ":SOAK " + std::to_string(index) + crlf;
  switch (pick(3)) {
    case 0: f.Payments = 1; break;  // the rest is paid automatically
    case 1:
      c += "#E1^500.00" + crlf;
      f.Payments = 1;
      break;  // cash, with change
    default:
      c += "#E1^0.50" + crlf;
      f.Payments = 2;
      break;  // part in cash, the rest automatically
  }
  f.Items = static_cast<size_t>(items);
  f.Content = c;
  return f;
}

// ---- The runner process ----

class TRunnerProcess {
 public:
  TRunnerProcess(std::vector<std::string> args, fs::path output) : Args(std::move(args)), Output(std::move(output)) {}
  ~TRunnerProcess() { Kill(); }
  // The runner starts by pid, counted from 1 (a pid is not reused while this test runs
  // unless the system ran through all of them).
  using TStarts = std::map<pid_t, int>;

  bool Start() {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, Output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kRunner.c_str()));
    for (auto& a : Args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&Pid, kRunner.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
      Pid = -1;
      return false;
    }
    ++Starts;
    StartOf[Pid] = Starts;
    return true;
  }
  // Reaps the process when it has ended; its exit status goes to Ends.
  bool Poll() {
    if (Pid <= 0) return false;
    int status = 0;
    if (::waitpid(Pid, &status, WNOHANG) != Pid) return true;
    Pid = -1;
    Ends.push_back(status);
    return false;
  }
  void Kill() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGKILL);
    int status = 0;
    ::waitpid(Pid, &status, 0);
    Pid = -1;
    ++Kills;
  }

  std::vector<std::string> Args;
  fs::path Output;
  pid_t Pid = -1;
  int Starts = 0;
  int Kills = 0;
  std::vector<int> Ends;  // statuses of the runs that ended by themselves
  TStarts StartOf;
};

// A request's sender as "start 3 (pid 4711)": the model names the pids that held the pty.
std::string Sender(const std::string& source, const TRunnerProcess::TStarts& starts) {
  static const std::regex pid(R"(pid (\d+))");
  std::string out;
  auto last = source.cbegin();
  for (auto it = std::sregex_iterator(source.begin(), source.end(), pid); it != std::sregex_iterator(); ++it) {
    out.append(last, source.cbegin() + it->position());
    const auto start = starts.find(static_cast<pid_t>(std::stol((*it)[1].str())));
    out += (start == starts.end() ? std::string("start ?") : "start " + std::to_string(start->second)) + " (" +
           it->str() + ")";
    last = source.cbegin() + it->position() + it->length();
  }
  out.append(last, source.cend());
  return out.empty() ? "no runner" : out;
}

std::string Readable(const std::string& s) {
  std::string out;
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '"') {
      out.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", b);
      out += hex;
    }
  }
  return out;
}

// One line about a request: who sent it, what it was and what the model did with it.
std::string Describe(const model::Request& r, const TRunnerProcess::TStarts& starts) {
  char head[64];
  std::snprintf(head, sizeof head, "#%llu seq=%02X cmd=%02X", static_cast<unsigned long long>(r.index), r.seq, r.cmd);
  std::string line = std::string(head) + " from " + Sender(r.source, starts) + " \"" + Readable(r.data) + "\": ";
  if (!r.frameOk)
    line += "bad frame, NAK";
  else if (r.fault == model::Fault::Nak)
    line += "NAK";
  else if (r.repeat)
    line += "answered from the cache";
  else if (r.scripted)
    line += r.executed ? "ran, scripted answer" : "scripted answer, not run";
  else
    line += r.executed ? "ran" : "refused";
  if (r.frameOk && r.fault != model::Fault::Nak) line += " -> \"" + Readable(r.answerData) + "\"";
  if (r.fault && r.fault != model::Fault::Nak) line += std::string(" [") + model::FaultName(*r.fault) + "]";
  return line;
}

// ---- The test ----

class ReceiptFolderSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kRunner.c_str(), X_OK) != 0) GTEST_SKIP() << "the runner is not built: " << kRunner;
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPty.SlavePath()));
    FRoot = fs::path(FRegistry.Dir) / "soak";
    FOlder = FRoot / "bon";
    FLogs = FRoot / "Log";
    fs::create_directories(FOlder);
    fs::create_directories(FLogs);
  }
  void TearDown() override {
    if (HasFailure() && !FKeepAt.empty()) Keep();
  }

  // A failing run: the folder, the logs, the runner's output and the command log.
  void Keep() {
    std::error_code ec;
    fs::create_directories(FKeepAt, ec);
    fs::copy(FRoot, FKeepAt, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    std::map<uint64_t, std::string> services;
    {
      std::lock_guard<std::mutex> lock(FRanLock);
      for (const TServiceRun& run : FServiceRan) services[run.Request] = run.Claim;
    }
    std::ofstream log(FKeepAt / "commands.txt", std::ios::binary);
    for (const model::Request& r : FModel.Requests()) {
      log << Describe(r, FStarts);
      if (const auto s = services.find(r.index); s != services.end())
        log << " (service command of " << s->second << ")";
      log << "\n";
    }
  }

  // Files of the folder with one extension.
  int Count(const std::string& ext) const {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FOlder, ec)) n += e.path().extension() == ext;
    return n;
  }
  bool ModelHasOpenReceipt() const { return FModel.State().open.has_value(); }

  // A service command the printer ran: the file claimed at that moment and the request.
  struct TServiceRun {
    std::string Claim;
    uint8_t Cmd = 0;
    uint64_t Request = 0;
  };

  TScopedTempRegistry FRegistry;
  std::mutex FRanLock;
  std::vector<TServiceRun> FServiceRan;  // filled by the model's handlers: declared before it
  TRunnerProcess::TStarts FStarts;       // a copy of the runner's, for the command log
  fs::path FKeepAt;
  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel, model::PtyEndpoint::NamingSenders()};  // commands.txt names the runner starts
  TRegisteredLibrary FLibrary;
  fs::path FRoot, FOlder, FLogs;
};

// Writes the files in batches while the runner prints: each complete file under another
// name, then renamed. A new batch waits while many files are still waiting, so files keep
// arriving during the jobs. A few files are written in place, in pieces less than 0.5 s
// apart, as by a point-of-sale program that does not rename; each waits until the runner
// has nothing to print, so that the idle runner lists the folder while the file grows.
void WriteFiles(const std::vector<TSoakFile>& files, const fs::path& folder, uint32_t seed, std::atomic<int>& written,
                const std::atomic<bool>& stop) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto count = [&](const char* ext) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) n += e.path().extension() == ext;
    return n;
  };
  auto waiting = [&] { return count(".bon"); };
  size_t next = 0;
  while (next < files.size() && !stop) {
    if (waiting() > 25) {
      std::this_thread::sleep_for(50ms);
      continue;
    }
    const size_t batch = std::min(files.size() - next, static_cast<size_t>(pick(5, 30)));
    for (size_t i = 0; i < batch && !stop; ++i, ++next) {
      const TSoakFile& f = files[next];
      const fs::path target = folder / (f.Name + ".bon");
      if (f.Slow) {
        for (int n = 0; n < 200 && (waiting() > 0 || count(".$$$") > 0) && !stop; ++n)
          std::this_thread::sleep_for(50ms);
        constexpr size_t kPieces = 5;
        const size_t piece = f.Content.size() / kPieces;
        std::ofstream out(target, std::ios::binary);
        for (size_t k = 0; k < kPieces; ++k) {
          const size_t from = k * piece, to = k + 1 == kPieces ? f.Content.size() : (k + 1) * piece;
          out.write(f.Content.data() + from, static_cast<std::streamsize>(to - from));
          out.flush();
          if (k + 1 < kPieces) std::this_thread::sleep_for(250ms);
        }
      } else {
        const fs::path temp = folder / (f.Name + ".tmp");
        {
          std::ofstream out(temp, std::ios::binary);
          out.write(f.Content.data(), static_cast<std::streamsize>(f.Content.size()));
        }
        fs::rename(temp, target);
      }
      written = static_cast<int>(next + 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pick(100, 1200)));
  }
}

struct TLogEntry {
  std::string File;
  std::string Text;
};

// The entries of the program's logs (a log line may hold line breaks: an entry runs to
// the next time stamp), rotated files included.
std::vector<TLogEntry> ReadLogEntries(const fs::path& logs, bool exceptionLog) {
  static const std::regex stamp(R"((^|\r\n)\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d - )");
  std::vector<TLogEntry> entries;
  std::error_code ec;
  // Oldest first: rotated files, then the current one.
  std::vector<fs::path> paths;
  for (const auto& e : fs::directory_iterator(logs, ec)) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end(),
            [](const fs::path& a, const fs::path& b) { return fs::last_write_time(a) < fs::last_write_time(b); });
  for (const fs::path& path : paths) {
    const std::string n = path.filename().string();
    const bool exc = n == "DriverFiscalPrinterX4_Exception.txt" || n.rfind("Exc_", 0) == 0;
    const bool normal = n == "DriverFiscalPrinterX4_Log.txt" || n.rfind("Log_", 0) == 0;
    if (exceptionLog ? !exc : !normal) continue;
    const std::string all = ReadAll(path);
    std::vector<std::pair<size_t, size_t>> marks;  // start of the stamp, start of the text
    for (auto it = std::sregex_iterator(all.begin(), all.end(), stamp); it != std::sregex_iterator(); ++it)
      marks.push_back({static_cast<size_t>(it->position()), static_cast<size_t>(it->position() + it->length())});
    for (size_t i = 0; i < marks.size(); ++i) {
      const size_t end = i + 1 < marks.size() ? marks[i + 1].first : all.size();
      std::string text = all.substr(marks[i].second, end - marks[i].second);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      entries.push_back({n, text});
    }
  }
  return entries;
}

TEST_F(ReceiptFolderSoak, EveryFileEndsOnceAndNoReceiptPrintsTwice) {
  const int fileCount = std::max(10, EnvInt("FP_SOAK_FILES", 300));
  const uint32_t seed = static_cast<uint32_t>(EnvInt("FP_SOAK_SEED", 20251209));
  FKeepAt = fs::path(FP_BIN_DIR).parent_path() / "soak-kept" /
            ("seed-" + std::to_string(seed) + "-" + std::to_string(::getpid()));
  SCOPED_TRACE("this run's folder, logs and command log (commands.txt) are kept in " + FKeepAt.string());
  const int kills = std::max(2, fileCount / 75);
  const int outages = std::max(1, fileCount / 150);
  const int refusals = std::max(2, fileCount / 30);
  const int serviceOutages = std::max(1, fileCount / 100);
  std::mt19937 rng(seed);
  auto chance = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  std::vector<TSoakFile> files;
  for (int i = 1; i <= fileCount; ++i) files.push_back(MakeFile(i, rng));

  FModel.SetModeWord("ONLINE");                                     // the opening carries the unique sale number
  FModel.Edit([](model::ModelState& s) { s.cashCents = 100000; });  // for the cash outs
  // The service commands the printer ran, each with the file claimed at that moment: the
  // runner claims one file at a time and sends its commands while it holds the claim.
  for (const model::CommandRow& row : model::StandardCommands()) {
    if (row.cmd != 0x45 && row.cmd != 0x46 && row.cmd != 0x6D) continue;
    FModel.SetHandler(
        row.cmd,
        [original = row.handler, folder = FOlder, this](model::CommandContext& c) {
          original(c);
          const bool refused =
              c.flags[0] != 0 || (c.flags[1] & 0x02) != 0 || (c.cmd == 0x46 && c.answer.rfind('F', 0) == 0);
          if (refused) return;
          std::string claimed;
          int claims = 0;
          std::error_code ec;
          for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.path().extension() == ".$$$") {
              claimed = e.path().stem().string();
              ++claims;
            }
          std::lock_guard<std::mutex> lock(FRanLock);
          FServiceRan.push_back({claims == 1 ? claimed : std::to_string(claims) + " claims", c.cmd, c.request});
        },
        row.blockedBy);
  }
  // One exchange in 40 goes wrong; every fault here is one the transport recovers from by
  // itself. Silence costs 0.7 s an attempt, so it is a rare pick.
  using model::Fault;
  std::vector<std::pair<Fault, model::FaultOptions>> kinds = {
      {Fault::Nak, {}},
      {Fault::Nak, {}},
      {Fault::WrongSeq, {}},
      {Fault::WrongSeq, {}},
      {Fault::BadChecksum, {}},
      {Fault::BadChecksum, {}},
      {Fault::Syn, model::For(150ms).Every(40ms)},
      {Fault::Syn, model::For(150ms).Every(40ms)},
      {Fault::Close, model::CutAfter(-1)},  // on a pty: half the answer, then nothing
      {Fault::Silence, {}},
  };
  FModel.SetRandomFaults(seed, 1.0 / 40, kinds);

  TRunnerProcess runner({"--folder", FOlder.string(), "--log", FLogs.string(), "--com", "7", "--tick-ms", "250",
                         "--idle-exit-ms", "3000"},
                        FRoot / "runner.out");
  std::atomic<int> written{0};
  std::atomic<bool> stopWriter{false};
  std::thread writer(WriteFiles, std::cref(files), FOlder, seed + 1, std::ref(written), std::cref(stopWriter));

  // Progress: files that have reached an end state (or look so: a report file).
  auto finished = [&] { return Count(".err") + Count(".unk") + Count(".rep"); };
  // Events are spread evenly over the run by progress.
  auto due = [&](int done, int total) { return fileCount * (done + 1) / (total + 1); };
  int killsDone = 0, outagesDone = 0, refusalsDone = 0, serviceOutagesDone = 0;
  bool refusalArmed = false;
  enum class TArm { None, OpenReceipt, Claim } armed = TArm::None;
  Clock::time_point armedAt{}, restartAt{};
  int killDelayMs = 0;
  // Under the test runner's 300-s limit for the default run.
  const auto deadline = Clock::now() + std::chrono::milliseconds(45000 + 800 * fileCount);
  const auto started = Clock::now();
  bool timedOut = false, spawnFailed = !runner.Start();
  FStarts = runner.StartOf;

  while (!spawnFailed) {
    if (Clock::now() > deadline) {
      timedOut = true;
      break;
    }
    const int progress = finished();
    const bool alive = runner.Poll();
    if (!alive) {
      const bool allWritten = written.load() == fileCount;
      if (allWritten && Count(".bon") == 0 && Count(".$$$") == 0 && !runner.Ends.empty() &&
          restartAt == Clock::time_point{})
        break;  // ended by itself with the folder empty
      if (restartAt == Clock::time_point{}) restartAt = Clock::now() + std::chrono::milliseconds(chance(0, 1500));
      if (Clock::now() >= restartAt) {
        restartAt = {};
        spawnFailed = !runner.Start();
        FStarts = runner.StartOf;
      }
      std::this_thread::sleep_for(5ms);
      continue;
    }

    // A kill in the middle of a file: armed at its progress point, fired while a receipt
    // is open on the printer or while a file is claimed.
    if (armed == TArm::None && killsDone < kills && progress >= due(killsDone, kills)) {
      armed = chance(0, 1) ? TArm::OpenReceipt : TArm::Claim;
      killDelayMs = armed == TArm::OpenReceipt ? chance(0, 30) : chance(0, 250);
      armedAt = {};
    }
    if (armed != TArm::None) {
      const bool ready = armed == TArm::OpenReceipt ? ModelHasOpenReceipt() : Count(".$$$") > 0;
      if (ready && armedAt == Clock::time_point{}) armedAt = Clock::now();
      if (armedAt != Clock::time_point{} && Clock::now() - armedAt >= std::chrono::milliseconds(killDelayMs)) {
        runner.Kill();
        ++killsDone;
        armed = TArm::None;
        restartAt = Clock::now() + std::chrono::milliseconds(chance(0, 1500));
        continue;
      }
    }
    // The printer stops answering in the middle of a receipt, long enough for the
    // transport to give up (about 4 s): the file fails as no connection.
    if (outagesDone < outages && progress >= due(outagesDone, outages) && ModelHasOpenReceipt()) {
      FModel.InjectNext(Fault::Silence, model::Times(6));
      ++outagesDone;
    }
    // The printer stops answering when a service file is claimed: its command runs and
    // every answer to it is lost, until the transport gives up.
    if (serviceOutagesDone < serviceOutages && progress >= due(serviceOutagesDone, serviceOutages)) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(FOlder, ec)) {
        if (e.path().extension() != ".$$$") continue;
        const int index = std::atoi(e.path().stem().string().c_str() + 1);
        if (index < 1 || index > fileCount || files[index - 1].Kind != TKind::Service) continue;
        FModel.InjectNext(Fault::Silence, model::OnCommand(files[index - 1].ServiceCmd).Times(6));
        ++serviceOutagesDone;
        break;
      }
    }
    // The printer refuses the next payment, or every other time the one after an accepted
    // part payment: armed between files, the next payment is nearly always a first one.
    if (!refusalArmed && refusalsDone < refusals && progress >= due(refusalsDone, refusals)) refusalArmed = true;
    if (refusalArmed) {
      bool fire = refusalsDone % 2 == 0;
      if (!fire) {
        const std::optional<model::Receipt> open = FModel.State().open;
        fire = open && open->payments.size() == 1 && open->TenderCents() < open->TotalCents();
      }
      if (fire) {
        FModel.ScriptNext(0x35, model::Reply("F"));
        ++refusalsDone;
        refusalArmed = false;
      }
    }
    std::this_thread::sleep_for(3ms);
  }
  stopWriter = true;
  writer.join();
  runner.Kill();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_FALSE(spawnFailed) << "cannot start " << kRunner;
  ASSERT_FALSE(timedOut) << "the soak did not finish in time; " << finished() << " of " << fileCount << " files ended\n"
                         << ReadAll(runner.Output);

  // ---- The folder: every file ends as exactly one of printed, ".err" or ".unk". ----
  enum class TEnd { Printed, Err, Unk, Lost };
  std::map<std::string, TEnd> ends;
  std::set<std::string> known;
  for (const TSoakFile& f : files) known.insert(f.Name);
  int printed = 0, errFiles = 0, unkFiles = 0;
  std::vector<std::string> problems;
  for (const TSoakFile& f : files) {
    auto has = [&](const char* ext) { return fs::exists(FOlder / (f.Name + ext)); };
    const bool err = has(".err"), unk = has(".unk"), rep = has(".rep");
    if (has(".bon") || has(".$$$") || has(".tmp")) problems.push_back(f.Name + ": still waiting or claimed");
    TEnd end = TEnd::Lost;
    if (err && unk) problems.push_back(f.Name + ": both .err and .unk");
    if (unk)
      end = TEnd::Unk;
    else if (err)
      end = TEnd::Err;
    else if (rep)
      end = TEnd::Printed;
    if (end == TEnd::Lost) problems.push_back(f.Name + ": lost (no report, .err or .unk)");
    ends[f.Name] = end;
    printed += end == TEnd::Printed;
    errFiles += end == TEnd::Err;
    unkFiles += end == TEnd::Unk;
    if (end == TEnd::Printed) {
      const std::string report = ReadAll(FOlder / (f.Name + ".rep"));
      if (f.Kind == TKind::Invalid) problems.push_back(f.Name + ": an invalid file was printed");
      if (report.find("[ERROR]") != std::string::npos)
        problems.push_back(f.Name + ": printed with an error: " + report);
      if (f.Kind == TKind::Receipt && report.find("Close\r\n") == std::string::npos)
        problems.push_back(f.Name + ": printed without closing: " + report);
    }
    if (end == TEnd::Err && f.Kind == TKind::Receipt && !fs::exists(FOlder / (f.Name + ".rep")))
      problems.push_back(f.Name + ": failed without its report file");
  }
  // Nothing else in the folder (a moved-aside error file would mean a name was used twice).
  for (const auto& e : fs::directory_iterator(FOlder)) {
    const std::string stem = e.path().stem().string();
    if (!known.count(stem)) problems.push_back("unexpected file " + e.path().filename().string());
  }

  // ---- The printer: no receipt twice; a printed file is exactly one whole receipt. ----
  const model::ModelState state = FModel.State();
  std::map<std::string, std::vector<const model::Receipt*>> byTag;
  int untagged = 0;
  for (const model::Receipt& r : state.closed) {
    if (r.uniqueSellNo.rfind("SOAK-", 0) == 0)
      byTag[r.uniqueSellNo].push_back(&r);
    else
      ++untagged;
  }
  int doubles = 0, leftoverCancelled = 0, leftoverCompleted = 0, printedButErr = 0, printedUnk = 0;
  std::string printedButErrNames;
  for (const TSoakFile& f : files) {
    const std::vector<const model::Receipt*> rs = f.Tag.empty() ? std::vector<const model::Receipt*>{} : byTag[f.Tag];
    int completed = 0, cancelled = 0;
    for (const model::Receipt* r : rs) (r->cancelled ? cancelled : completed)++;
    if (completed > 1 || rs.size() > 1) {
      ++doubles;
      std::string openings;  // the openings the printer ran with the file's sale number
      for (const model::Request& r : FModel.Requests())
        if (r.cmd == 0x30 && r.executed && r.data.find(f.Tag) != std::string::npos)
          openings += "\n  " + Describe(r, FStarts);
      problems.push_back(f.Name + ": " + std::to_string(completed) + " receipts printed, " + std::to_string(cancelled) +
                         " cancelled; opened by:" + openings);
    }
    const TEnd end = ends[f.Name];
    if (f.Kind != TKind::Receipt) {
      if (!rs.empty()) problems.push_back(f.Name + ": a file that is no receipt opened one");
      continue;
    }
    if (end == TEnd::Printed) {
      if (completed != 1 || cancelled != 0)
        problems.push_back(f.Name + ": printed, but the printer has " + std::to_string(completed) + " receipts and " +
                           std::to_string(cancelled) + " cancelled");
      else if (rs[0]->items.size() != f.Items || rs[0]->payments.size() != f.Payments)
        problems.push_back(f.Name + ": printed with " + std::to_string(rs[0]->items.size()) + " of " +
                           std::to_string(f.Items) + " sales and " + std::to_string(rs[0]->payments.size()) + " of " +
                           std::to_string(f.Payments) + " payments");
    } else {
      // A receipt of a file that failed or was killed was left open; a later opening (or
      // the job's own closing) got it out of the way: cancelled, or paid up and closed.
      leftoverCancelled += cancelled;
      leftoverCompleted += completed;
      if (completed > 0 && end == TEnd::Unk) ++printedUnk;
      if (completed > 0 && end == TEnd::Err) {
        ++printedButErr;
        printedButErrNames += " " + f.Name;
        problems.push_back(f.Name + ": ended as .err, but the printer closed its receipt");
      }
    }
  }
  EXPECT_EQ(untagged, 0) << "receipts without a file's sale number";

  // ---- Service files: a command the printer ran is never run again from an ".err". ----
  std::map<std::string, std::vector<uint64_t>> ranByFile;  // the requests that ran each file's command
  std::vector<TServiceRun> serviceRan;
  {
    std::lock_guard<std::mutex> lock(FRanLock);
    serviceRan = FServiceRan;
  }
  for (const TServiceRun& ran : serviceRan) ranByFile[ran.Claim].push_back(ran.Request);
  int serviceFiles = 0, serviceRanCount = 0, serviceRanUnk = 0, serviceRanErr = 0;
  std::string serviceRanErrNames;
  for (const auto& [stem, runs] : ranByFile) {
    const int index = stem.size() == 6 && stem[0] == 'S' ? std::atoi(stem.c_str() + 1) : 0;
    if (index < 1 || index > fileCount || files[index - 1].Kind != TKind::Service)
      problems.push_back("a service command ran while the claim was " + stem);
  }
  for (const TSoakFile& f : files) {
    if (f.Kind != TKind::Service) continue;
    ++serviceFiles;
    const std::vector<uint64_t> runs = ranByFile.count(f.Name) ? ranByFile[f.Name] : std::vector<uint64_t>{};
    const int ran = static_cast<int>(runs.size());
    if (ran > 1) {
      std::string which;
      for (const model::Request& r : FModel.Requests())
        if (std::find(runs.begin(), runs.end(), r.index) != runs.end()) which += "\n  " + Describe(r, FStarts);
      problems.push_back(f.Name + ": its service command ran " + std::to_string(ran) + " times:" + which);
    }
    if (ran == 0) continue;
    ++serviceRanCount;
    if (ends[f.Name] == TEnd::Unk) ++serviceRanUnk;
    if (ends[f.Name] == TEnd::Err) {
      ++serviceRanErr;
      serviceRanErrNames += " " + f.Name;
      problems.push_back(f.Name + ": ended as .err, but the printer ran its service command");
    }
  }

  // ---- The logs: no unexpected exception. ----
  int staleLines = 0, failedUnknownLines = 0, fatalLines = 0, fileErrorLines = 0, printerErrorLines = 0;
  std::vector<std::string> unexpected;
  for (const TLogEntry& e : ReadLogEntries(FLogs, true)) {
    const std::string& t = e.Text;
    auto starts = [&](const char* p) { return t.rfind(p, 0) == 0; };
    if (starts("[DelTempFiles] Outcome unknown, not printed again: "))
      ++staleLines;
    else if (starts("[DoReadFiles] Outcome unknown, not printed again: "))
      ++failedUnknownLines;
    else if (starts("[ReadFile]"))
      ++fileErrorLines;
    else if (starts("[PrintPluList]") || starts("[FastInit]"))
      ++printerErrorLines;
    else if (starts("[Execute] Fatal error ocurred. Exiting."))
      ++fatalLines;
    else if (starts("[Execute] [FastInit]"))
      ++fatalLines;  // a job whose connection failed right after an outage
    else
      unexpected.push_back(e.File + ": " + t);
    for (const char* bad : {"Unexpected error", "OLE error", "Access violation", "std::", "Can't", "Cant't"})
      if (t.find(bad) != std::string::npos) unexpected.push_back(e.File + ": " + t);
  }
  // The normal log names each file before the reader reads it: a file whose reading
  // failed must be one of the invalid ones (a valid file read while it was still being
  // written fails here, or prints with fewer sales above).
  std::set<std::string> readFailed;
  std::string reading;
  for (const TLogEntry& e : ReadLogEntries(FLogs, false)) {
    const std::string& t = e.Text;
    if (t.rfind("Read file: \"", 0) == 0)
      reading = fs::path(t.substr(12, t.size() - 13)).stem().string();
    else if (t.rfind("[ReadFile]", 0) == 0 && t.rfind("[ReadFile]Durration", 0) != 0)
      readFailed.insert(reading);
  }
  for (const TSoakFile& f : files) {
    if (f.Kind != TKind::Invalid && readFailed.count(f.Name))
      problems.push_back(f.Name + ": a valid file failed to read");
    if (f.Kind == TKind::Invalid && ends[f.Name] == TEnd::Err && !readFailed.count(f.Name))
      problems.push_back(f.Name + ": an invalid file failed, but not while it was read");
  }

  const std::string runnerOut = ReadAll(runner.Output);
  for (const char* bad : {"tick failed", "AddressSanitizer", "runtime error:", "LeakSanitizer"})
    if (runnerOut.find(bad) != std::string::npos) unexpected.push_back(std::string("runner output: ") + bad);
  for (int status : runner.Ends)
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      unexpected.push_back("runner ended with status " + std::to_string(status));
  // A left claim comes from a kill only; every ".unk" has its line.
  EXPECT_LE(staleLines, runner.Kills) << "a left claim without a kill";
  EXPECT_EQ(staleLines + failedUnknownLines, unkFiles);

  std::map<std::string, int> faults;
  const std::vector<model::Request> requests = FModel.Requests();
  for (const model::Request& r : requests)
    if (r.fault) ++faults[model::FaultName(*r.fault)];
  std::string faultText;
  for (const auto& [name, n] : faults) faultText += " " + name + " " + std::to_string(n);

  int receipts = 0, invalid = 0, status = 0, slow = 0;  // service files are counted above
  for (const TSoakFile& f : files) {
    receipts += f.Kind == TKind::Receipt;
    invalid += f.Kind == TKind::Invalid;
    status += f.Kind == TKind::Status;
    slow += f.Slow;
  }
  std::printf(
      "[ soak     ] %d files (%d receipts, %d of them written in place; %d invalid; %d status queries), seed %u, "
      "%.1f s\n"
      "[ soak     ] runner: %d starts, %d kills; model: %zu exchanges, faults:%s; %d outages, %d refused "
      "payments, %zu receipts closed\n"
      "[ soak     ] ended: %d printed, %d .err, %d .unk (%d left claims, %d failed files that may have printed)\n"
      "[ soak     ] left-over receipts closed by a later cleanup: %d cancelled, %d paid up and closed; .unk "
      "files whose receipt the printer closed: %d; printed but .err (must be 0): %d%s; files opened on the "
      "printer more than once: %d; still open: %d\n"
      "[ soak     ] service files: %d, %d of them run by the printer (%d ended .unk; .err, must be 0: %d%s); "
      "%d outages after a service command\n"
      "[ soak     ] exception log: %d fatal, %d file errors, %d printer errors, %zu unexpected\n",
      fileCount, receipts, slow, invalid, status, seed, seconds, runner.Starts, runner.Kills, requests.size(),
      faultText.c_str(), outagesDone, refusalsDone, state.closed.size(), printed, errFiles, unkFiles, staleLines,
      failedUnknownLines, leftoverCancelled, leftoverCompleted, printedUnk, printedButErr, printedButErrNames.c_str(),
      doubles, state.open ? 1 : 0, serviceFiles, serviceRanCount, serviceRanUnk, serviceRanErr,
      serviceRanErrNames.c_str(), serviceOutagesDone, fatalLines, fileErrorLines, printerErrorLines, unexpected.size());

  // FP_SOAK_KEEP names a folder that gets the receipt folder, the logs and the runner's
  // output for a look afterwards.
  if (const char* keep = std::getenv("FP_SOAK_KEEP"); keep && *keep) {
    std::error_code ec;
    fs::copy(FRoot, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  }

  EXPECT_EQ(doubles, 0);
  EXPECT_EQ(printedButErr, 0) << printedButErrNames;
  EXPECT_EQ(serviceRanErr, 0) << serviceRanErrNames;
  EXPECT_TRUE(problems.empty()) << [&] {
    std::string s;
    for (size_t i = 0; i < problems.size() && i < 40; ++i) s += problems[i] + "\n";
    return s;
  }();
  EXPECT_TRUE(unexpected.empty()) << [&] {
    std::string s;
    for (size_t i = 0; i < unexpected.size() && i < 20; ++i) s += unexpected[i] + "\n";
    return s;
  }();
}

}  // namespace
}  // namespace fp::test
