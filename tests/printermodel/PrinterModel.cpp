#include "tests/printermodel/PrinterModel.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace fp::model {

// ---- status bits ----

StatusBits Bits(std::initializer_list<std::pair<int, uint8_t>> flags) {
  StatusBits b{};
  for (const auto& [index, mask] : flags) b[index] |= mask;
  return b;
}

bool Has(const StatusBits& bits, std::pair<int, uint8_t> flag) { return (bits[flag.first] & flag.second) != 0; }

StatusBits ReceiptBits(const ModelState& s) {
  StatusBits b{};
  if (s.open && s.open->Fiscal()) b[bit::FiscalOpen.first] |= bit::FiscalOpen.second;
  if (s.open && !s.open->Fiscal()) b[bit::NonFiscalOpen.first] |= bit::NonFiscalOpen.second;
  return b;
}

std::string DiagnosticText(const DiagnosticFields& d) {
  return d.model + "," + d.modeWord + " " + d.version + " " + d.build + "," + d.checksum + "," + d.switches + "," +
         d.serial + "," + d.fmNumber;
}

namespace {

StatusBits Or(StatusBits a, const StatusBits& b) {
  for (size_t i = 0; i < 6; ++i) a[i] |= b[i];
  return a;
}

bool Any(const StatusBits& a, const StatusBits& b) {
  for (size_t i = 0; i < 6; ++i)
    if (a[i] & b[i]) return true;
  return false;
}

uint8_t OtherSeq(uint8_t seq) { return seq >= 0x7F ? 0x20 : static_cast<uint8_t>(seq + 1); }

std::string Readable(const std::string& s) {
  std::string out;
  for (char c : s) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<%02X>", b);
      out += buf;
    }
  }
  return out;
}

}  // namespace

// ---- receipts and clock ----

std::array<int64_t, 8> Receipt::GroupSums() const {
  std::array<int64_t, 8> sums = subtotalCorrections;
  for (const Item& it : items)
    if (it.vatGroup >= 1 && it.vatGroup <= 8) sums[it.vatGroup - 1] += it.amountCents;
  return sums;
}

int64_t Receipt::TotalCents() const {
  int64_t total = 0;
  for (int64_t s : GroupSums()) total += s;
  return total;
}

int64_t Receipt::TenderCents() const {
  int64_t paid = 0;
  for (const Payment& p : payments) paid += p.amountCents;
  return paid;
}

ModelClock::ModelClock() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  Set(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::chrono::sys_seconds ModelClock::Now() const {
  if (FFrozen) return FBase;
  return FBase + std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - FSetAt);
}

void ModelClock::Set(std::chrono::sys_seconds civil) {
  FBase = civil;
  FSetAt = std::chrono::steady_clock::now();
}

void ModelClock::Set(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days d =
      year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)}, std::chrono::day{unsigned(day)}};
  Set(d + hours{hour} + minutes{minute} + seconds{second});
}

void ModelClock::Freeze(bool frozen) {
  if (frozen && !FFrozen) FBase = Now();
  if (!frozen && FFrozen) FSetAt = std::chrono::steady_clock::now();
  FFrozen = frozen;
}

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::Silence: return "Silence";
    case Fault::Syn: return "Syn";
    case Fault::Nak: return "Nak";
    case Fault::WrongSeq: return "WrongSeq";
    case Fault::WrongCmd: return "WrongCmd";
    case Fault::BadChecksum: return "BadChecksum";
    case Fault::WrongLen: return "WrongLen";
    case Fault::StrayBytes: return "StrayBytes";
    case Fault::BadStatusByte: return "BadStatusByte";
    case Fault::Reset: return "Reset";
    case Fault::Close: return "Close";
    case Fault::Delay: return "Delay";
  }
  return "?";
}

// ---- PrinterModel ----

PrinterModel::PrinterModel() {
  for (CommandRow& row : StandardCommands()) FCommands.emplace(row.cmd, std::move(row));
}

ModelState PrinterModel::State() const {
  std::lock_guard lock(FMu);
  return FState;
}

void PrinterModel::Edit(const std::function<void(ModelState&)>& change) {
  std::lock_guard lock(FMu);
  change(FState);
}

void PrinterModel::SetStatusBit(std::pair<int, uint8_t> flag, bool on) {
  std::lock_guard lock(FMu);
  if (on)
    FState.errorBits[flag.first] |= flag.second;
  else
    FState.errorBits[flag.first] &= static_cast<uint8_t>(~flag.second);
}

void PrinterModel::SetStatusBit(int byteIndex, int bitIndex, bool on) {
  SetStatusBit({byteIndex, static_cast<uint8_t>(1u << bitIndex)}, on);
}

void PrinterModel::ClearStatusBits() {
  std::lock_guard lock(FMu);
  FState.errorBits = {};
}

StatusBits PrinterModel::CurrentStatus() const {
  std::lock_guard lock(FMu);
  return Or(FState.errorBits, ReceiptBits(FState));
}

void PrinterModel::SetModelName(const std::string& name) {
  Edit([&](ModelState& s) { s.diag.model = name; });
}
void PrinterModel::SetModeWord(const std::string& word) {
  Edit([&](ModelState& s) { s.diag.modeWord = word; });
}
void PrinterModel::SetSerialNumber(const std::string& serial) {
  Edit([&](ModelState& s) { s.diag.serial = serial; });
}
void PrinterModel::SetFiscalMemoryNumber(const std::string& number) {
  Edit([&](ModelState& s) { s.diag.fmNumber = number; });
}

void PrinterModel::ScriptNext(uint8_t cmd, ScriptedAnswer answer, int count) {
  std::lock_guard lock(FMu);
  FScripts.push_back({cmd, std::move(answer), count});
}

void PrinterModel::InjectNext(Fault fault, FaultOptions options) {
  std::lock_guard lock(FMu);
  FFaults.push_back({fault, std::move(options)});
}

void PrinterModel::SetRandomFaults(uint32_t seed, double probability,
                                   std::vector<std::pair<Fault, FaultOptions>> kinds) {
  std::lock_guard lock(FMu);
  if (kinds.empty()) {
    for (Fault f :
         {Fault::Nak, Fault::WrongSeq, Fault::WrongCmd, Fault::BadChecksum, Fault::WrongLen, Fault::StrayBytes})
      kinds.push_back({f, FaultOptions()});
    kinds.push_back({Fault::Syn, For(200ms)});
  }
  FRandomKinds = std::move(kinds);
  FRandomProbability = probability;
  FRng.seed(seed);
  FRandomOn = true;
}

void PrinterModel::StopRandomFaults() {
  std::lock_guard lock(FMu);
  FRandomOn = false;
}

void PrinterModel::ClearFaults() {
  std::lock_guard lock(FMu);
  FFaults.clear();
  FScripts.clear();
  FRandomOn = false;
}

void PrinterModel::SetAnswerDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(FMu);
  FAnswerDelay = delay;
}

void PrinterModel::SetRepeatDetection(bool on) {
  std::lock_guard lock(FMu);
  FRepeatDetection = on;
  FCache.reset();
}

std::vector<Request> PrinterModel::Requests() const {
  std::lock_guard lock(FMu);
  return FRequests;
}

std::vector<uint8_t> PrinterModel::Commands() const {
  std::lock_guard lock(FMu);
  std::vector<uint8_t> cmds;
  for (const Request& r : FRequests)
    if (r.frameOk && !r.repeat && r.fault != Fault::Nak) cmds.push_back(r.cmd);
  return cmds;
}

size_t PrinterModel::RequestCount() const {
  std::lock_guard lock(FMu);
  return FReceived;
}

bool PrinterModel::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FMu);
  return FRequestArrived.wait_for(lock, timeout, [&] { return FReceived >= count; });
}

void PrinterModel::ClearRequests() {
  std::lock_guard lock(FMu);
  FRequests.clear();
  FReceived = 0;
}

void PrinterModel::SetRequestLimit(size_t keep) {
  std::lock_guard lock(FMu);
  FRequestLimit = keep;
}

void PrinterModel::EnableTrace(bool on) {
  std::lock_guard lock(FMu);
  FTraceOn = on;
}

std::vector<std::string> PrinterModel::Trace() const {
  std::lock_guard lock(FMu);
  return FTrace;
}

void PrinterModel::SetHandler(uint8_t cmd, CommandHandler handler, StatusBits blockedBy) {
  std::lock_guard lock(FMu);
  FCommands[cmd] = CommandRow{cmd, "custom", blockedBy, std::move(handler)};
}

std::optional<PrinterModel::QueuedFault> PrinterModel::TakeFaultLocked(uint8_t cmd) {
  for (auto it = FFaults.begin(); it != FFaults.end(); ++it) {
    if (it->options.cmd && *it->options.cmd != cmd) continue;
    QueuedFault f = *it;
    if (--it->options.count <= 0) FFaults.erase(it);
    return f;
  }
  if (FRandomOn && !FRandomKinds.empty()) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (chance(FRng) < FRandomProbability) {
      std::uniform_int_distribution<size_t> pick(0, FRandomKinds.size() - 1);
      const auto& [fault, options] = FRandomKinds[pick(FRng)];
      return QueuedFault{fault, options};
    }
  }
  return std::nullopt;
}

bool PrinterModel::Run(CommandContext& ctx) {
  auto row = FCommands.find(ctx.cmd);
  if (row == FCommands.end()) {
    ctx.InvalidCommand();
    return false;
  }
  if (Any(FState.errorBits, row->second.blockedBy)) return false;
  row->second.handler(ctx);
  return true;
}

std::vector<WireAction> PrinterModel::OnFrame(const HostFrame& frame, const std::string& source) {
  std::unique_lock lock(FMu);
  Request r;
  r.index = FNextIndex++;
  r.source = source;
  r.seq = frame.seq;
  r.cmd = frame.cmd;
  r.data = frame.data;
  r.frameOk = frame.Valid();

  std::vector<WireAction> plan;
  std::optional<QueuedFault> fault;
  if (!r.frameOk) {
    plan.push_back(WireAction::Write(std::string(1, static_cast<char>(kNak))));
  } else {
    fault = TakeFaultLocked(frame.cmd);
    if (fault) r.fault = fault->fault;
    if (fault && fault->fault == Fault::Nak) {
      plan.push_back(WireAction::Write(std::string(1, static_cast<char>(kNak))));
    } else {
      const bool repeat = FRepeatDetection && FCache && FCache->seq == frame.seq && FCache->cmd == frame.cmd &&
                          FCache->request == frame.data;
      if (repeat) {
        r.repeat = true;
        r.answerData = FCache->data;
        r.status = FCache->bits;
      } else {
        CommandContext ctx{FState, frame.cmd, frame.data, {}, {}, r.index, r.source};
        auto script =
            std::find_if(FScripts.begin(), FScripts.end(), [&](const QueuedScript& s) { return s.cmd == frame.cmd; });
        std::optional<ScriptedAnswer> scripted;
        if (script != FScripts.end()) {
          scripted = script->answer;
          if (--script->count <= 0) FScripts.erase(script);
        }
        if (!scripted || scripted->execute) r.executed = Run(ctx);
        StatusBits bits = Or(Or(FState.errorBits, ReceiptBits(FState)), ctx.flags);
        if (scripted) {
          r.scripted = true;
          if (scripted->data) ctx.answer = *scripted->data;
          if (scripted->status) bits = *scripted->status;
          bits = Or(bits, scripted->addBits);
        }
        r.answerData = ctx.answer;
        r.status = bits;
        FCache = CachedAnswer{frame.seq, frame.cmd, frame.data, ctx.answer, bits};
      }
      plan = Plan(frame, r.answerData, r.status, fault);
    }
  }
  if (FAnswerDelay.count() > 0) plan.insert(plan.begin(), WireAction::Sleep(FAnswerDelay));
  if (FTraceOn) TraceLocked(r);
  FRequests.push_back(std::move(r));
  ++FReceived;
  if (FRequestLimit && FRequests.size() > 2 * FRequestLimit)
    FRequests.erase(FRequests.begin(), FRequests.end() - FRequestLimit);
  lock.unlock();
  FRequestArrived.notify_all();
  return plan;
}

std::vector<WireAction> PrinterModel::Plan(const HostFrame& frame, const std::string& data, const StatusBits& bits,
                                           const std::optional<QueuedFault>& fault) {
  using W = WireAction;
  std::array<uint8_t, 6> wire = WireStatus(bits);
  uint8_t seq = frame.seq, cmd = frame.cmd;
  if (fault && fault->fault == Fault::WrongSeq) seq = OtherSeq(seq);
  if (fault && fault->fault == Fault::WrongCmd) cmd = static_cast<uint8_t>(cmd + 1);
  if (fault && fault->fault == Fault::BadStatusByte && fault->options.statusIndex >= 0 &&
      fault->options.statusIndex < 6)
    wire[fault->options.statusIndex] = fault->options.statusValue;
  std::string answer = BuildAnswer(seq, cmd, data, wire);
  if (!fault) return {W::Write(answer)};

  const FaultOptions& o = fault->options;
  switch (fault->fault) {
    case Fault::Silence: return {};
    case Fault::Syn: return {W::Syn(o.duration, o.interval), W::Write(answer)};
    case Fault::BadChecksum: {
      char& last = answer[answer.size() - 2];
      last = static_cast<char>(0x30 + ((last - 0x30 + 1) & 0x0F));
      return {W::Write(answer)};
    }
    case Fault::WrongLen: {
      answer[1] = static_cast<char>(answer[1] + 1);
      const size_t counted = answer.size() - 6;
      answer.replace(answer.size() - 5, 4, SumDigits(FrameSum(std::string_view(answer).substr(1, counted))));
      return {W::Write(answer)};
    }
    case Fault::StrayBytes: return {W::Write(o.bytes + answer)};
    case Fault::Reset:
    case Fault::Close: {
      const size_t cut = o.cutAfter < 0 ? answer.size() / 2 : std::min(answer.size(), size_t(o.cutAfter));
      std::vector<WireAction> plan;
      if (cut > 0) plan.push_back(W::Write(answer.substr(0, cut)));
      plan.push_back(fault->fault == Fault::Reset ? W::Reset() : W::Close());
      return plan;
    }
    case Fault::Delay: return {W::Sleep(o.duration), W::Write(answer)};
    case Fault::Nak:
    case Fault::WrongSeq:
    case Fault::WrongCmd:
    case Fault::BadStatusByte: break;
  }
  return {W::Write(answer)};
}

void PrinterModel::TraceLocked(const Request& r) {
  char head[64];
  std::snprintf(head, sizeof head, "#%llu seq=%02X cmd=%02X ", static_cast<unsigned long long>(r.index), r.seq, r.cmd);
  std::string line = head;
  if (!r.source.empty()) line += "[" + r.source + "] ";
  line += "\"" + Readable(r.data) + "\"";
  if (!r.frameOk) {
    line += " bad frame -> NAK";
  } else {
    if (r.repeat) line += " (repeat)";
    if (r.scripted) line += " (scripted)";
    char st[32];
    std::snprintf(st, sizeof st, " st=%02X %02X %02X %02X %02X %02X", r.status[0], r.status[1], r.status[2],
                  r.status[3], r.status[4], r.status[5]);
    line += " -> \"" + Readable(r.answerData) + "\"" + st;
    if (r.fault) line += std::string(" [") + FaultName(*r.fault) + "]";
  }
  FTrace.push_back(std::move(line));
}

}  // namespace fp::model
