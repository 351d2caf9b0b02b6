// The printer model: a fake fiscal printer for the tests. It speaks the printer's frame
// protocol over a pty (PtyEndpoint) and over TCP on 127.0.0.1 (TcpEndpoint), keeps the
// printer's state (receipts, counters, tables, cash, day sums, clock), records every
// request, and injects faults on demand.
//
//   #include "tests/printermodel/PrinterModel.h"
//   using namespace fp::model;
//
//   PrinterModel m;                       // declare the model before its endpoints
//   PtyEndpoint pty(m);                   // or: TcpEndpoint tcp(m); tcp.Port()
//   // TcpEndpoint late(m, TcpEndpoint::ListenAfter(2s)), none(m, TcpEndpoint::NoListener());
//   std::string path = pty.SlavePath();   // the host opens this as its serial port
//
//   m.SetSerialNumber("AB123456");        // identity in the diagnostic answer
//   m.SetModeWord("ONLINE");
//   m.SetStatusBit(bit::NoPaper);         // persistent error bits
//   m.InjectNext(Fault::Nak);             // the next exchange answers NAK
//   m.InjectNext(Fault::Syn, For(300ms)); // SYN every 60 ms for 300 ms, then the answer
//   m.InjectNext(Fault::Silence, Times(4));
//   m.InjectNext(Fault::Reset, OnCommand(0x31).CutAfter(5));      // TCP only
//   m.ScriptNext(0x35, Reply("F"));       // the next payment answers "F"
//   m.ScriptNext(0x6D, ReplyBits(Bits({bit::NotAllowed})));
//   m.Edit([](ModelState& s) {            // anything else: change the state directly
//     s.cashCents = 5000;
//     s.departments[1].vat = 0xC1;
//     s.departments[1].name = "BREAD";
//   });
//
//   ... run the code under test ...
//
//   m.Commands();                          // the host's command bytes, in order, no retries
//   m.Requests();                          // every frame received, with data and flags
//   m.State().closed.back().payments;      // the receipts printed
//   m.State().open;                        // the receipt being printed, if any
//
// An exchange that repeats the SEQ, command and data of the previous executed one (a
// host retry) is answered from the previous answer without running the command again,
// so retries after faults never sell an item twice. As on a printer, that answer is kept
// whatever the test scripts or edits meanwhile; only SetRepeatDetection forgets it.
//
// Each request records where it came from (Request::source): the endpoint names the
// connection or the processes that had the pty open (see ModelEndpoints.h).
//
// Commands live in a table (ModelCommands.cpp); SetHandler adds or replaces one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/printermodel/ModelFrame.h"
#include "tests/printermodel/ModelState.h"

namespace fp::model {

using namespace std::chrono_literals;

enum class Fault {
  Silence,        // no answer at all (the command runs; a retry gets the answer)
  Syn,            // SYN every `interval` for `duration`, then the answer
  Nak,            // one NAK instead of the answer; the command does not run
  WrongSeq,       // the answer carries another SEQ (check sum made to match)
  WrongCmd,       // the answer carries another command byte
  BadChecksum,    // the last check sum byte is wrong
  WrongLen,       // LEN is one too high (check sum made to match)
  StrayBytes,     // `bytes` go out before the answer
  BadStatusByte,  // status byte `statusIndex` goes out as `statusValue` (0x00..0x05)
  Reset,          // TCP: `cutAfter` answer bytes, then a reset (RST); pty: silence after them
  Close,          // TCP: `cutAfter` answer bytes, then the printer closes (FIN); pty: silence
  Delay,          // the answer goes out after `duration`
};
const char* FaultName(Fault f);

struct FaultOptions {
  int count = 1;                             // how many exchanges it applies to
  std::optional<uint8_t> cmd;                // only exchanges with this command byte
  std::chrono::milliseconds duration{1000};  // Syn: busy time; Delay: the delay
  std::chrono::milliseconds interval{60};    // Syn: time between two SYN bytes
  int statusIndex = 0;                       // BadStatusByte
  uint8_t statusValue = 0x00;                // BadStatusByte
  std::string bytes = "\x41\x42\x43";        // StrayBytes
  int cutAfter = -1;                         // Reset, Close: answer bytes sent first; -1: half the answer

  FaultOptions& Times(int n) {
    count = n;
    return *this;
  }
  FaultOptions& OnCommand(uint8_t c) {
    cmd = c;
    return *this;
  }
  FaultOptions& For(std::chrono::milliseconds d) {
    duration = d;
    return *this;
  }
  FaultOptions& Every(std::chrono::milliseconds i) {
    interval = i;
    return *this;
  }
  FaultOptions& StatusByte(int index, uint8_t value) {
    statusIndex = index;
    statusValue = value;
    return *this;
  }
  FaultOptions& Bytes(std::string b) {
    bytes = std::move(b);
    return *this;
  }
  FaultOptions& CutAfter(int n) {
    cutAfter = n;
    return *this;
  }
};
// Shortcuts: m.InjectNext(Fault::Syn, For(300ms).Every(50ms).Times(2)).
inline FaultOptions Times(int n) { return FaultOptions().Times(n); }
inline FaultOptions OnCommand(uint8_t c) { return FaultOptions().OnCommand(c); }
inline FaultOptions For(std::chrono::milliseconds d) { return FaultOptions().For(d); }
inline FaultOptions StatusByte(int index, uint8_t value) { return FaultOptions().StatusByte(index, value); }
inline FaultOptions Bytes(std::string b) { return FaultOptions().Bytes(std::move(b)); }
inline FaultOptions CutAfter(int n) { return FaultOptions().CutAfter(n); }

// A scripted answer for the next exchange(s) with one command byte.
struct ScriptedAnswer {
  std::optional<std::string> data;   // answer data instead of the command's own
  StatusBits addBits{};              // added to the status
  std::optional<StatusBits> status;  // the status bits instead of the model's own
  bool execute = false;              // also run the command (its state change)

  ScriptedAnswer& Data(std::string d) {
    data = std::move(d);
    return *this;
  }
  ScriptedAnswer& AddBits(const StatusBits& b) {
    addBits = b;
    return *this;
  }
  ScriptedAnswer& Status(const StatusBits& b) {
    status = b;
    return *this;
  }
  ScriptedAnswer& Run() {
    execute = true;
    return *this;
  }
};
// Shortcuts: m.ScriptNext(0x35, Reply("F")); m.ScriptNext(0x6D, ReplyBits(Bits({bit::NotAllowed}))).
inline ScriptedAnswer Reply(std::string data) { return ScriptedAnswer().Data(std::move(data)); }
inline ScriptedAnswer ReplyBits(const StatusBits& add) { return ScriptedAnswer().AddBits(add); }
inline ScriptedAnswer ReplyStatus(const StatusBits& exact) { return ScriptedAnswer().Status(exact); }

// One frame the model received, and what it did with it.
struct Request {
  uint64_t index = 0;
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;       // unescaped command data
  bool frameOk = false;   // LEN, check sum, escapes and end byte were right
  bool executed = false;  // the handler ran (not for repeats, NAKs, refusals by error bits,
                          // scripts without Run())
  bool repeat = false;    // answered from the previous answer (same SEQ, command, data)
  bool scripted = false;  // a ScriptedAnswer was used
  std::string source;     // who sent it, as the endpoint tells (empty: not known)
  std::optional<Fault> fault;
  std::string answerData;  // the answer's data (before any fault)
  StatusBits status{};     // the answer's status bits (before any fault)
};

// What an endpoint puts on the wire for one request.
struct WireAction {
  enum class Kind { Write, Syn, Sleep, Reset, Close } kind = Kind::Write;
  std::string bytes;
  std::chrono::milliseconds duration{0};
  std::chrono::milliseconds interval{0};

  static WireAction Write(std::string b) {
    WireAction a;
    a.bytes = std::move(b);
    return a;
  }
  static WireAction Sleep(std::chrono::milliseconds d) { return Timed(Kind::Sleep, d, {}); }
  static WireAction Syn(std::chrono::milliseconds d, std::chrono::milliseconds i) { return Timed(Kind::Syn, d, i); }
  static WireAction Reset() {
    WireAction a;
    a.kind = Kind::Reset;
    return a;
  }
  static WireAction Close() {
    WireAction a;
    a.kind = Kind::Close;
    return a;
  }

 private:
  static WireAction Timed(Kind k, std::chrono::milliseconds d, std::chrono::milliseconds i) {
    WireAction a;
    a.kind = k;
    a.duration = d;
    a.interval = i;
    return a;
  }
};

// What a command handler sees and fills in.
struct CommandContext {
  ModelState& state;
  uint8_t cmd;
  const std::string& data;  // unescaped request data
  std::string answer;       // answer data
  StatusBits flags{};       // bits this answer adds to the error bits and receipt bits
  uint64_t request = 0;     // Request::index of the frame being run
  std::string source;       // Request::source of that frame
  void SyntaxError() { flags[0] |= 0x01; }
  void InvalidCommand() { flags[0] |= 0x02; }
  void NotAllowed() { flags[1] |= 0x02; }
};

using CommandHandler = std::function<void(CommandContext&)>;

// One row of the command table. A command whose `blockedBy` bits are among the set error
// bits is refused: it does not run and answers no data (the error bit tells why).
struct CommandRow {
  uint8_t cmd;
  const char* name;
  StatusBits blockedBy;
  CommandHandler handler;
};
std::vector<CommandRow> StandardCommands();  // ModelCommands.cpp

// The status bits of the receipt state (S2.3, S2.5).
StatusBits ReceiptBits(const ModelState& s);
// The diagnostic answer text.
std::string DiagnosticText(const DiagnosticFields& d);

class PrinterModel {
 public:
  PrinterModel();
  PrinterModel(const PrinterModel&) = delete;
  PrinterModel& operator=(const PrinterModel&) = delete;

  // ---- state ----
  ModelState State() const;  // a copy
  void Edit(const std::function<void(ModelState&)>& change);
  void SetStatusBit(std::pair<int, uint8_t> flag, bool on = true);
  void SetStatusBit(int byteIndex, int bitIndex, bool on = true);
  void ClearStatusBits();
  StatusBits CurrentStatus() const;  // error bits and receipt bits as the next answer has them
  void SetModelName(const std::string& name);
  void SetModeWord(const std::string& word);
  void SetSerialNumber(const std::string& serial);
  void SetFiscalMemoryNumber(const std::string& number);

  // ---- scripted answers and faults ----
  void ScriptNext(uint8_t cmd, ScriptedAnswer answer, int count = 1);
  void InjectNext(Fault fault, FaultOptions options = {});
  // From now on each exchange gets, with the given probability, one fault picked at random
  // from `kinds` (default: Nak, WrongSeq, WrongCmd, BadChecksum, WrongLen, StrayBytes and
  // a 200-ms Syn). The same seed and the same exchanges give the same faults.
  void SetRandomFaults(uint32_t seed, double probability, std::vector<std::pair<Fault, FaultOptions>> kinds = {});
  void StopRandomFaults();
  void ClearFaults();                                    // queued faults, scripts and random mode
  void SetAnswerDelay(std::chrono::milliseconds delay);  // before every answer
  void SetRepeatDetection(bool on);                      // either way the kept answer is forgotten

  // ---- records ----
  std::vector<Request> Requests() const;
  // The host's commands in order, without retries: command bytes of the good frames that
  // were neither repeats nor refused with NAK.
  std::vector<uint8_t> Commands() const;
  size_t RequestCount() const;  // frames received since the start or the last ClearRequests
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  void ClearRequests();
  void SetRequestLimit(size_t keep);  // keep at least the last `keep` requests, not all (0: all)
  void EnableTrace(bool on);
  std::vector<std::string> Trace() const;  // one readable line per request and answer

  // ---- extension ----
  void SetHandler(uint8_t cmd, CommandHandler handler, StatusBits blockedBy = {});

  // ---- endpoint hook: what to put on the wire for one received frame ----
  // `source` names the sender for the records (Request::source).
  std::vector<WireAction> OnFrame(const HostFrame& frame, const std::string& source = {});

 private:
  struct QueuedFault {
    Fault fault;
    FaultOptions options;
  };
  struct QueuedScript {
    uint8_t cmd;
    ScriptedAnswer answer;
    int count;
  };
  struct CachedAnswer {
    uint8_t seq, cmd;
    std::string request;
    std::string data;
    StatusBits bits;
  };

  std::optional<QueuedFault> TakeFaultLocked(uint8_t cmd);
  bool Run(CommandContext& ctx);
  std::vector<WireAction> Plan(const HostFrame& frame, const std::string& data, const StatusBits& bits,
                               const std::optional<QueuedFault>& fault);
  void TraceLocked(const Request& r);

  mutable std::mutex FMu;
  mutable std::condition_variable FRequestArrived;
  ModelState FState;
  std::map<uint8_t, CommandRow> FCommands;
  std::deque<QueuedFault> FFaults;
  std::vector<QueuedScript> FScripts;
  bool FRandomOn = false;
  double FRandomProbability = 0;
  std::mt19937 FRng;
  std::vector<std::pair<Fault, FaultOptions>> FRandomKinds;
  std::chrono::milliseconds FAnswerDelay{0};
  bool FRepeatDetection = true;
  std::optional<CachedAnswer> FCache;
  std::vector<Request> FRequests;
  size_t FRequestLimit = 0;
  size_t FReceived = 0;
  uint64_t FNextIndex = 0;
  bool FTraceOn = false;
  std::vector<std::string> FTrace;
};

}  // namespace fp::model

#include "tests/printermodel/ModelEndpoints.h"
