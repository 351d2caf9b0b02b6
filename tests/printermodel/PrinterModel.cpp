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

bool Has(const StatusBits& bits, std::pair<int, uint8_t> flag) {
  return (bits[flag.first] & flag.second) != 0;
}

StatusBits ReceiptBits(const ModelState& s) {
  StatusBits b{};
  if (s.open && s.open->Fiscal()) b[bit::FiscalOpen.first] |= bit::FiscalOpen.second;
  if (s.open && !s.open->Fiscal()) b[bit::NonFiscalOpen.first] |= bit::NonFiscalOpen.second;
  return b;
}

std::string DiagnosticText(const DiagnosticFields& d) {
  return d.model + "," + d.modeWord + " " + d.version + " " + d.build + "," + d.checksum + "," +
         d.switches + "," + d.serial + "," + d.fmNumber;
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
  if (frozen_) return base_;
  return base_ + std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::steady_clock::now() - setAt_);
}

void ModelClock::Set(std::chrono::sys_seconds civil) {
  base_ = civil;
  setAt_ = std::chrono::steady_clock::now();
}

void ModelClock::Set(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days d = year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                                    std::chrono::day{unsigned(day)}};
  Set(d + hours{hour} + minutes{minute} + seconds{second});
}

void ModelClock::Freeze(bool frozen) {
  if (frozen && !frozen_) base_ = Now();
  if (!frozen && frozen_) setAt_ = std::chrono::steady_clock::now();
  frozen_ = frozen;
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
  for (CommandRow& row : StandardCommands()) commands_.emplace(row.cmd, std::move(row));
}

ModelState PrinterModel::State() const {
  std::lock_guard lock(mu_);
  return state_;
}

void PrinterModel::Edit(const std::function<void(ModelState&)>& change) {
  std::lock_guard lock(mu_);
  change(state_);
}

void PrinterModel::SetStatusBit(std::pair<int, uint8_t> flag, bool on) {
  std::lock_guard lock(mu_);
  if (on) state_.errorBits[flag.first] |= flag.second;
  else state_.errorBits[flag.first] &= static_cast<uint8_t>(~flag.second);
}

void PrinterModel::SetStatusBit(int byteIndex, int bitIndex, bool on) {
  SetStatusBit({byteIndex, static_cast<uint8_t>(1u << bitIndex)}, on);
}

void PrinterModel::ClearStatusBits() {
  std::lock_guard lock(mu_);
  state_.errorBits = {};
}

StatusBits PrinterModel::CurrentStatus() const {
  std::lock_guard lock(mu_);
  return Or(state_.errorBits, ReceiptBits(state_));
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
  std::lock_guard lock(mu_);
  scripts_.push_back({cmd, std::move(answer), count});
}

void PrinterModel::InjectNext(Fault fault, FaultOptions options) {
  std::lock_guard lock(mu_);
  faults_.push_back({fault, std::move(options)});
}

void PrinterModel::SetRandomFaults(uint32_t seed, double probability,
                                   std::vector<std::pair<Fault, FaultOptions>> kinds) {
  std::lock_guard lock(mu_);
  if (kinds.empty()) {
    for (Fault f : {Fault::Nak, Fault::WrongSeq, Fault::WrongCmd, Fault::BadChecksum,
                    Fault::WrongLen, Fault::StrayBytes})
      kinds.push_back({f, FaultOptions()});
    kinds.push_back({Fault::Syn, For(200ms)});
  }
  randomKinds_ = std::move(kinds);
  randomProbability_ = probability;
  rng_.seed(seed);
  randomOn_ = true;
}

void PrinterModel::StopRandomFaults() {
  std::lock_guard lock(mu_);
  randomOn_ = false;
}

void PrinterModel::ClearFaults() {
  std::lock_guard lock(mu_);
  faults_.clear();
  scripts_.clear();
  randomOn_ = false;
}

void PrinterModel::SetAnswerDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mu_);
  answerDelay_ = delay;
}

void PrinterModel::SetRepeatDetection(bool on) {
  std::lock_guard lock(mu_);
  repeatDetection_ = on;
  cache_.reset();
}

std::vector<Request> PrinterModel::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

std::vector<uint8_t> PrinterModel::Commands() const {
  std::lock_guard lock(mu_);
  std::vector<uint8_t> cmds;
  for (const Request& r : requests_)
    if (r.frameOk && !r.repeat && r.fault != Fault::Nak) cmds.push_back(r.cmd);
  return cmds;
}

size_t PrinterModel::RequestCount() const {
  std::lock_guard lock(mu_);
  return received_;
}

bool PrinterModel::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return requestArrived_.wait_for(lock, timeout, [&] { return received_ >= count; });
}

void PrinterModel::ClearRequests() {
  std::lock_guard lock(mu_);
  requests_.clear();
  received_ = 0;
}

void PrinterModel::SetRequestLimit(size_t keep) {
  std::lock_guard lock(mu_);
  requestLimit_ = keep;
}

void PrinterModel::EnableTrace(bool on) {
  std::lock_guard lock(mu_);
  traceOn_ = on;
}

std::vector<std::string> PrinterModel::Trace() const {
  std::lock_guard lock(mu_);
  return trace_;
}

void PrinterModel::SetHandler(uint8_t cmd, CommandHandler handler, StatusBits blockedBy) {
  std::lock_guard lock(mu_);
  commands_[cmd] = CommandRow{cmd, "custom", blockedBy, std::move(handler)};
}

std::optional<PrinterModel::QueuedFault> PrinterModel::TakeFaultLocked(uint8_t cmd) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->options.cmd && *it->options.cmd != cmd) continue;
    QueuedFault f = *it;
    if (--it->options.count <= 0) faults_.erase(it);
    return f;
  }
  if (randomOn_ && !randomKinds_.empty()) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (chance(rng_) < randomProbability_) {
      std::uniform_int_distribution<size_t> pick(0, randomKinds_.size() - 1);
      const auto& [fault, options] = randomKinds_[pick(rng_)];
      return QueuedFault{fault, options};
    }
  }
  return std::nullopt;
}

bool PrinterModel::Run(CommandContext& ctx) {
  auto row = commands_.find(ctx.cmd);
  if (row == commands_.end()) {
    ctx.InvalidCommand();
    return false;
  }
  if (Any(state_.errorBits, row->second.blockedBy)) return false;
  row->second.handler(ctx);
  return true;
}

std::vector<WireAction> PrinterModel::OnFrame(const HostFrame& frame, const std::string& source) {
  std::unique_lock lock(mu_);
  Request r;
  r.index = nextIndex_++;
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
      const bool repeat = repeatDetection_ && cache_ && cache_->seq == frame.seq &&
                          cache_->cmd == frame.cmd && cache_->request == frame.data;
      if (repeat) {
        r.repeat = true;
        r.answerData = cache_->data;
        r.status = cache_->bits;
      } else {
        CommandContext ctx{state_, frame.cmd, frame.data, {}, {}, r.index, r.source};
        auto script = std::find_if(scripts_.begin(), scripts_.end(),
                                   [&](const QueuedScript& s) { return s.cmd == frame.cmd; });
        std::optional<ScriptedAnswer> scripted;
        if (script != scripts_.end()) {
          scripted = script->answer;
          if (--script->count <= 0) scripts_.erase(script);
        }
        if (!scripted || scripted->execute) r.executed = Run(ctx);
        StatusBits bits = Or(Or(state_.errorBits, ReceiptBits(state_)), ctx.flags);
        if (scripted) {
          r.scripted = true;
          if (scripted->data) ctx.answer = *scripted->data;
          if (scripted->status) bits = *scripted->status;
          bits = Or(bits, scripted->addBits);
        }
        r.answerData = ctx.answer;
        r.status = bits;
        cache_ = CachedAnswer{frame.seq, frame.cmd, frame.data, ctx.answer, bits};
      }
      plan = Plan(frame, r.answerData, r.status, fault);
    }
  }
  if (answerDelay_.count() > 0)
    plan.insert(plan.begin(), WireAction::Sleep(answerDelay_));
  if (traceOn_) TraceLocked(r);
  requests_.push_back(std::move(r));
  ++received_;
  if (requestLimit_ && requests_.size() > 2 * requestLimit_)
    requests_.erase(requests_.begin(), requests_.end() - requestLimit_);
  lock.unlock();
  requestArrived_.notify_all();
  return plan;
}

std::vector<WireAction> PrinterModel::Plan(const HostFrame& frame, const std::string& data,
                                           const StatusBits& bits,
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
      answer.replace(answer.size() - 5, 4,
                     SumDigits(FrameSum(std::string_view(answer).substr(1, counted))));
      return {W::Write(answer)};
    }
    case Fault::StrayBytes: return {W::Write(o.bytes + answer)};
    case Fault::Reset:
    case Fault::Close: {
      const size_t cut = o.cutAfter < 0 ? answer.size() / 2
                                        : std::min(answer.size(), size_t(o.cutAfter));
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
  std::snprintf(head, sizeof head, "#%llu seq=%02X cmd=%02X ", static_cast<unsigned long long>(r.index),
                r.seq, r.cmd);
  std::string line = head;
  if (!r.source.empty()) line += "[" + r.source + "] ";
  line += "\"" + Readable(r.data) + "\"";
  if (!r.frameOk) {
    line += " bad frame -> NAK";
  } else {
    if (r.repeat) line += " (repeat)";
    if (r.scripted) line += " (scripted)";
    char st[32];
    std::snprintf(st, sizeof st, " st=%02X %02X %02X %02X %02X %02X", r.status[0], r.status[1],
                  r.status[2], r.status[3], r.status[4], r.status[5]);
    line += " -> \"" + Readable(r.answerData) + "\"" + st;
    if (r.fault) line += std::string(" [") + FaultName(*r.fault) + "]";
  }
  trace_.push_back(std::move(line));
}

}  // namespace fp::model
