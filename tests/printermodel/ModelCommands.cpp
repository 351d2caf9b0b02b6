// The printer model's command table: one handler per command byte, written from the
// printer's command rules. A handler reads the request data, changes the state, writes
// the answer data and adds status flags (syntax error S0.0, not allowed S1.1). To teach
// the model a new command, add a row to StandardCommands().
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "tests/printermodel/PrinterModel.h"

namespace fp::model {

namespace {

using std::string;
using std::string_view;

// ---- numbers and texts ----

bool ParseInt(string_view s, int64_t& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseDouble(string_view s, double& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  return ec == std::errc() && p == s.data() + s.size();
}

// A decimal text scaled by 10^digits and rounded (halves away from zero).
bool ParseScaled(string_view s, int digits, int64_t& v) {
  double d;
  if (!ParseDouble(s, d)) return false;
  v = std::llround(d * std::pow(10.0, digits));
  return true;
}

bool ParseCents(string_view s, int64_t& v) { return ParseScaled(s, 2, v); }

// num / den rounded to the nearest, halves away from zero (den > 0).
int64_t RoundDiv(int64_t num, int64_t den) {
  int64_t q = num / den, r = num % den;
  if (2 * (r < 0 ? -r : r) >= den) q += num < 0 ? -1 : 1;
  return q;
}

string Units(int64_t cents) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%lld.%02lld", cents < 0 ? "-" : "", static_cast<long long>(std::llabs(cents) / 100),
                static_cast<long long>(std::llabs(cents) % 100));
  return buf;
}

string Qty3(double q) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", q);
  return buf;
}

string Num(int64_t v) { return std::to_string(v); }

std::vector<string> Split(string_view s, char sep, size_t maxParts = 0) {
  std::vector<string> out;
  while (true) {
    size_t at = s.find(sep);
    if (at == string_view::npos || (maxParts && out.size() + 1 == maxParts)) {
      out.emplace_back(s);
      return out;
    }
    out.emplace_back(s.substr(0, at));
    s.remove_prefix(at + 1);
  }
}

string Trim(string_view s) {
  while (!s.empty() && static_cast<uint8_t>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<uint8_t>(s.back()) <= ' ') s.remove_suffix(1);
  return string(s);
}

bool IsVatLetter(char c) {
  auto b = static_cast<uint8_t>(c);
  return b >= 0xC0 && b <= 0xC7;
}

// The VAT group 1..8 of a letter; a letter outside 0xC0..0xC7 (set through Edit) counts as 1.
int VatGroup(uint8_t letter) { return IsVatLetter(char(letter)) ? letter - 0xBF : 1; }

bool ValidDate(int64_t y, int64_t m, int64_t d) {
  using namespace std::chrono;
  return year_month_day{year{int(y)}, month{unsigned(m)}, day{unsigned(d)}}.ok();
}

bool Digits(string_view s, size_t from, size_t n, int64_t& v) {
  if (from + n > s.size()) return false;
  string_view part = s.substr(from, n);
  for (char c : part)
    if (c < '0' || c > '9') return false;
  return ParseInt(part, v);
}

// "ddmmyy"
bool ParseDdMmYy(string_view s) {
  int64_t d, m, y;
  return s.size() == 6 && Digits(s, 0, 2, d) && Digits(s, 2, 2, m) && Digits(s, 4, 2, y) && ValidDate(2000 + y, m, d);
}

Receipt* FiscalReceipt(ModelState& s) { return s.open && s.open->Fiscal() ? &*s.open : nullptr; }
Receipt* NonFiscalReceipt(ModelState& s) { return s.open && !s.open->Fiscal() ? &*s.open : nullptr; }

bool TakeNumber(InvoiceRange& range, int64_t& number) {
  if (range.start <= 0 || range.current < range.start || range.current > range.end) return false;
  number = range.current++;
  return true;
}

void Begin(CommandContext& c, Receipt r) {
  ModelState& s = c.state;
  r.opening = c.data;
  r.allNo = ++s.allReceipts;
  if (r.Fiscal()) {
    r.fiscNo = ++s.fiscReceipts;
    c.answer = Num(r.allNo) + "," + Num(r.fiscNo);
  } else {
    c.answer = Num(r.allNo);
  }
  s.open = std::move(r);
}

// The end of a fiscal receipt: the day's sums, departments, articles and the drawer.
void Settle(ModelState& s, const Receipt& r) {
  const auto sums = r.GroupSums();
  int64_t cashPaid = 0;
  for (const Payment& p : r.payments)
    if (p.letter == 'P' && p.rate == 0) cashPaid += p.amountCents;
  const int64_t change = std::max<int64_t>(0, r.TenderCents() - r.TotalCents());
  if (r.kind == ReceiptKind::Refund) {
    s.cashCents -= cashPaid - change;
    return;
  }
  s.cashCents += cashPaid - change;
  for (int g = 0; g < 8; ++g) {
    s.daily.turnover[g] += sums[g];
    const int64_t rate = std::llround(s.vatRates[g] * 100);
    s.daily.vat[g] += RoundDiv(sums[g] * rate, 10000 + rate);
  }
  for (const Payment& p : r.payments) s.daily.payments[kPayTypeLetters.find(p.letter)] += p.amountCents;
  s.daily.payments[0] -= change;
  for (const Item& it : r.items) {
    if (auto d = s.departments.find(it.department); it.department && d != s.departments.end()) {
      d->second.lastCount++;
      d->second.count++;
      d->second.lastSumCents += it.amountCents;
      d->second.totalCents += it.amountCents;
    }
    if (auto p = s.plus.find(it.plu); it.plu && p != s.plus.end()) {
      p->second.sold += it.quantity;
      p->second.available -= it.quantity;
      p->second.totalCents += it.amountCents;
    }
  }
}

void End(ModelState& s, Receipt r) {
  s.closed.push_back(std::move(r));
  s.open.reset();
}

// "[*qty][,percent | ;amount]" after a price or article number; absolute allowed for articles.
bool ParseQtyAndCorrection(string_view rest, bool allowAbsolute, Item& it, int64_t& corr, bool& absolute) {
  corr = 0;
  absolute = false;
  if (!rest.empty() && rest[0] == '*') {
    size_t end = rest.find_first_of(",;");
    int64_t milli;
    if (!ParseScaled(rest.substr(1, end == string_view::npos ? end : end - 1), 3, milli) || milli == 0) return false;
    it.quantity = double(milli) / 1000.0;
    rest = end == string_view::npos ? string_view() : rest.substr(end);
  }
  if (rest.empty()) return true;
  if (rest[0] == ';' && !allowAbsolute) return false;
  if (rest[0] != ',' && rest[0] != ';') return false;
  absolute = rest[0] == ';';
  return ParseCents(rest.substr(1), corr);  // percent in hundredths of a percent, or cents
}

void ApplyCorrection(Item& it, int64_t corr, bool absolute) {
  if (absolute)
    it.amountCents += corr;
  else
    it.amountCents += RoundDiv(it.amountCents * corr, 10000);
}

void Price(Item& it) {
  const int64_t milli = std::llround(it.quantity * 1000);
  it.amountCents = RoundDiv(it.priceCents * milli, 1000);
}

// ---- information ----

void GetDateTime(CommandContext& c) {
  using namespace std::chrono;
  const sys_seconds now = c.state.clock.Now();
  const sys_days day = floor<days>(now);
  const year_month_day ymd{day};
  const hh_mm_ss hms{now - day};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u-%02u-%02d %02d:%02d:%02d", unsigned(ymd.day()), unsigned(ymd.month()),
                int(ymd.year()) % 100, int(hms.hours().count()), int(hms.minutes().count()),
                int(hms.seconds().count()));
  c.answer = buf;
}

void GetStatus(CommandContext& c) {
  if (!c.state.statusInData) return;
  StatusBits b = c.state.errorBits;
  const StatusBits r = ReceiptBits(c.state);
  for (size_t i = 0; i < 6; ++i) b[i] |= r[i];
  for (uint8_t w : WireStatus(b)) c.answer.push_back(static_cast<char>(w));
}

void GetDiagnostic(CommandContext& c) { c.answer = DiagnosticText(c.state.diag); }

void GetLastDocNumber(CommandContext& c) { c.answer = Num(c.state.allReceipts); }

void GetReceiptInfo(CommandContext& c) {
  ModelState& s = c.state;
  const Receipt* r = FiscalReceipt(s);
  const auto sums = r ? r->GroupSums() : std::array<int64_t, 8>{};
  c.answer = (r && r->payments.empty()) ? "1" : "0";
  for (int64_t v : sums) c.answer += "," + Num(v);
  c.answer += string(",") + (r && r->kind == ReceiptKind::Invoice ? "1" : "0");
  c.answer += "," + Num(s.invoices.current);
}

void HeaderLine(CommandContext& c) {
  const string& d = c.data;
  if (d.empty()) return c.SyntaxError();
  if (d[0] == 'I') {  // read a line
    int64_t i;
    if (!ParseInt(string_view(d).substr(1), i) || i < 0 || i > 7) return c.SyntaxError();
    c.answer = c.state.header[i];
  } else if (d[0] == 'B') {  // barcode height in dots
    int64_t dots;
    if (!ParseInt(string_view(d).substr(1), dots) || dots < 1 || dots > 240) return c.SyntaxError();
    c.state.barcodeDots = int(dots);
  } else if (d[0] >= '0' && d[0] <= '7') {
    c.state.header[d[0] - '0'] = d.substr(1, 36);
  } else {
    c.SyntaxError();
  }
}

void InvoiceRangeCmd(CommandContext& c) {
  ModelState& s = c.state;
  string_view d = c.data;
  if (d.empty() || d == "S") {
    const InvoiceRange& r = d.empty() ? s.invoices : s.creditNotes;
    c.answer = Num(r.start) + "," + Num(r.end) + "," + Num(r.current);
    return;
  }
  InvoiceRange* range = &s.invoices;
  if (d.substr(0, 2) == "S,") {
    range = &s.creditNotes;
    d.remove_prefix(2);
  }
  auto f = Split(d, ',');
  int64_t start, end;
  if (f.size() != 2 || !ParseInt(f[0], start) || !ParseInt(f[1], end) || start <= 0 || end < start)
    return c.SyntaxError();
  if (s.open) return c.NotAllowed();
  *range = {start, end, start};
  c.answer = Num(start) + "," + Num(end);
}

void DailyPayments(CommandContext& c) {
  for (size_t i = 0; i < 11; ++i) c.answer += (i ? "," : "") + Num(c.state.daily.payments[i]);
}

void DepartmentSum(CommandContext& c) {
  int64_t n;
  if (!ParseInt(c.data, n)) return c.SyntaxError();
  auto d = c.state.departments.find(int(n));
  if (d == c.state.departments.end()) {
    c.answer = "F";
    return;
  }
  const Department& dep = d->second;
  c.answer = "P" + string(1, char(dep.vat)) + "," + Num(dep.lastCount) + "," + Units(dep.lastSumCents) + "," +
             Num(dep.count) + "," + Units(dep.totalCents) + "," + dep.name +
             (dep.addText.empty() ? "" : "\t" + dep.addText);
}

void DepartmentCmd(CommandContext& c) {
  ModelState& s = c.state;
  int64_t n;
  if (c.data.find(',') == string::npos) {  // read the definition
    if (!ParseInt(c.data, n)) return c.SyntaxError();
    auto d = s.departments.find(int(n));
    if (d == s.departments.end()) {
      c.answer = "F";
      return;
    }
    c.answer = "P," + string(1, char(d->second.vat)) + "," + d->second.name +
               (d->second.addText.empty() ? "" : "\t" + d->second.addText);
    return;
  }
  auto f = Split(c.data, ',', 3);
  if (f.size() != 3 || !ParseInt(f[0], n) || n <= 0 || f[1].size() != 1 || !IsVatLetter(f[1][0]))
    return c.SyntaxError();
  Department& dep = s.departments[int(n)];
  dep.vat = uint8_t(f[1][0]);
  auto lines = Split(f[2], '\n', 2);
  dep.name = lines[0];
  dep.addText = lines.size() > 1 ? lines[1] : "";
  c.answer = "P";
}

void PluCmd(CommandContext& c) {
  ModelState& s = c.state;
  const string& d = c.data;
  if (d.empty()) return c.SyntaxError();
  if (d[0] == 'R') {  // read an article
    int64_t n;
    if (!ParseInt(string_view(d).substr(1), n)) return c.SyntaxError();
    auto p = s.plus.find(int(n));
    if (p == s.plus.end()) {
      c.answer = "F";
      return;
    }
    const Plu& plu = p->second;
    c.answer = "P" + Num(n) + "," + string(1, char(plu.vat)) + "," + Num(plu.group) + "," + Units(plu.priceCents) +
               "," + Units(plu.totalCents) + "," + Qty3(plu.sold) + "," + Qty3(plu.available) + "," + plu.name;
    return;
  }
  if (d[0] != 'P') return c.SyntaxError();
  // P <VAT letter> <number>,<group>,<price>,A<quantity>,<name>
  c.answer = "F";
  if (d.size() < 2 || !IsVatLetter(d[1])) return;
  auto f = Split(string_view(d).substr(2), ',', 5);
  int64_t n, group, price, qtyMilli;
  if (f.size() != 5 || !ParseInt(f[0], n) || n <= 0 || !ParseInt(f[1], group) || !ParseCents(f[2], price) ||
      f[3].empty() || f[3][0] != 'A' || !ParseScaled(string_view(f[3]).substr(1), 3, qtyMilli))
    return;
  Plu& plu = s.plus[int(n)];
  plu.vat = uint8_t(d[1]);
  plu.group = int(group);
  plu.priceCents = price;
  plu.available = double(qtyMilli) / 1000.0;
  plu.name = f[4];
  c.answer = "P";
}

void PayTypeName(CommandContext& c) {
  if (c.data.size() != 1 || kPayTypeLetters.find(c.data[0]) == string_view::npos) return c.SyntaxError();
  auto n = c.state.payNames.find(c.data[0]);
  c.answer = n != c.state.payNames.end() ? n->second : "PAY " + c.data;
}

void Constants(CommandContext& c) {
  for (size_t i = 0; i < c.state.constants.size(); ++i) c.answer += (i ? "," : "") + c.state.constants[i];
}

void CurrencyMode(CommandContext& c) { c.answer = Num(c.state.currencyMode); }

void OpenDrawer(CommandContext& c) {
  int64_t pulse;
  if (!c.data.empty() && !ParseInt(c.data, pulse)) return c.SyntaxError();
  c.state.drawerPulses++;
}

// ---- receipts ----

// An opening while a receipt is open does nothing and answers no data, without an error
// bit: the open-receipt bit alone tells the host why.
void OpenFiscBon(CommandContext& c) {
  ModelState& s = c.state;
  if (s.open) return;
  auto f = Split(c.data, ',');
  int64_t op, pwd, till;
  if (f.size() < 3 || f.size() > 4 || !ParseInt(f[0], op) || !ParseInt(f[2], till) ||
      (!f[1].empty() && !ParseInt(f[1], pwd)) || (f.size() == 4 && f[3] != "I"))
    return c.SyntaxError();
  Receipt r;
  r.operatorText = f[0];
  if (f.size() == 4) {
    r.kind = ReceiptKind::Invoice;
    if (!TakeNumber(s.invoices, r.invoiceNo)) return c.NotAllowed();
  }
  Begin(c, std::move(r));
}

// OperName,UniqueSellNo[,I]  or  ...,S,FmNo,Reason,ReceiptNo[,YYYY-MM-DDThh:mm:ss][,InvoiceNo]
void OpenFiscBonEx(CommandContext& c) {
  ModelState& s = c.state;
  if (s.open) return;
  auto f = Split(c.data, ',');
  if (f.size() < 2 || Trim(f[1]).empty()) return c.SyntaxError();
  Receipt r;
  r.operatorText = f[0];
  r.uniqueSellNo = f[1];
  if (f.size() == 3 && f[2] == "I") {
    r.kind = ReceiptKind::Invoice;
    if (!TakeNumber(s.invoices, r.invoiceNo)) return c.NotAllowed();
  } else if (f.size() >= 6 && f.size() <= 8 && f[2] == "S") {
    int64_t no;
    if (f[4].size() != 1 || string_view("ORT").find(f[4][0]) == string_view::npos || !ParseInt(f[5], no) || no <= 0)
      return c.SyntaxError();
    r.kind = ReceiptKind::Refund;
    r.refundFmNo = f[3];
    r.refundReason = f[4][0];
    r.refundReceiptNo = f[5];
    for (size_t i = 6; i < f.size(); ++i) {
      if (f[i].size() == 19 && f[i][10] == 'T')
        r.refundDateTime = f[i];
      else if (ParseInt(f[i], no))
        r.refundInvoiceNo = f[i];
      else
        return c.SyntaxError();
    }
  } else if (f.size() != 2) {
    return c.SyntaxError();
  }
  Begin(c, std::move(r));
}

// [Text1][LF Text2] TAB (<VAT letter> | <department> TAB) <price>[*qty][,percent]
void Sale(CommandContext& c) {
  ModelState& s = c.state;
  Receipt* r = FiscalReceipt(s);
  if (!r || !r->payments.empty()) return c.NotAllowed();
  const size_t tab = c.data.find('\t');
  if (tab == string::npos) return c.SyntaxError();
  Item it;
  auto texts = Split(string_view(c.data).substr(0, tab), '\n', 2);
  it.text1 = texts[0];
  it.text2 = texts.size() > 1 ? texts[1] : "";
  string_view rest = string_view(c.data).substr(tab + 1);
  if (!rest.empty() && IsVatLetter(rest[0])) {
    it.vatGroup = VatGroup(uint8_t(rest[0]));
    rest.remove_prefix(1);
  } else {
    const size_t tab2 = rest.find('\t');
    int64_t dep;
    if (tab2 == string_view::npos || !ParseInt(rest.substr(0, tab2), dep) || dep <= 0) return c.SyntaxError();
    auto d = s.departments.find(int(dep));
    if (d == s.departments.end()) return c.NotAllowed();
    it.department = int(dep);
    it.vatGroup = VatGroup(d->second.vat);
    rest.remove_prefix(tab2 + 1);
  }
  const size_t priceEnd = rest.find_first_of("*,;");
  int64_t corr;
  bool absolute;
  if (!ParseCents(rest.substr(0, priceEnd), it.priceCents) ||
      !ParseQtyAndCorrection(priceEnd == string_view::npos ? string_view() : rest.substr(priceEnd), false, it, corr,
                             absolute) ||
      corr < -9900 || corr > 9900)
    return c.SyntaxError();
  Price(it);
  ApplyCorrection(it, corr, absolute);
  r->items.push_back(std::move(it));
}

// [D]<article>[TAB <department> TAB][*qty][,percent | ;amount]
void SaleProgPlu(CommandContext& c) {
  ModelState& s = c.state;
  Receipt* r = FiscalReceipt(s);
  if (!r || !r->payments.empty()) return c.NotAllowed();
  string_view rest = c.data;
  if (!rest.empty() && rest[0] == 'D') rest.remove_prefix(1);
  const size_t numEnd = rest.find_first_of("\t*,;");
  int64_t no;
  if (!ParseInt(rest.substr(0, numEnd), no)) return c.SyntaxError();
  rest = numEnd == string_view::npos ? string_view() : rest.substr(numEnd);
  Item it;
  if (!rest.empty() && rest[0] == '\t') {
    const size_t tab2 = rest.find('\t', 1);
    int64_t dep;
    if (tab2 == string_view::npos || !ParseInt(rest.substr(1, tab2 - 1), dep)) return c.SyntaxError();
    it.department = int(dep);
    rest.remove_prefix(tab2 + 1);
  }
  int64_t corr;
  bool absolute;
  if (!ParseQtyAndCorrection(rest, true, it, corr, absolute)) return c.SyntaxError();
  auto p = s.plus.find(int(no));
  if (p == s.plus.end()) return c.NotAllowed();
  it.plu = int(no);
  it.text1 = p->second.name;
  it.vatGroup = VatGroup(p->second.vat);
  it.priceCents = p->second.priceCents;
  Price(it);
  ApplyCorrection(it, corr, absolute);
  r->items.push_back(std::move(it));
}

// <print 0|1><display 0|1>[,percent | ;amount]
void SubTotal(CommandContext& c) {
  Receipt* r = FiscalReceipt(c.state);
  if (!r) return c.NotAllowed();
  const string& d = c.data;
  if (d.size() < 2 || (d[0] != '0' && d[0] != '1') || (d[1] != '0' && d[1] != '1')) return c.SyntaxError();
  if (d.size() > 2) {
    int64_t v;
    if ((d[2] != ',' && d[2] != ';') || !ParseCents(string_view(d).substr(3), v)) return c.SyntaxError();
    if (!r->payments.empty()) return c.NotAllowed();
    const auto sums = r->GroupSums();
    const int64_t total = r->TotalCents();
    if (d[2] == ',') {
      for (int g = 0; g < 8; ++g) r->subtotalCorrections[g] += RoundDiv(sums[g] * v, 10000);
    } else {
      if (total == 0) return c.NotAllowed();
      int64_t given = 0;
      int largest = 0;
      for (int g = 0; g < 8; ++g) {
        const int64_t share = RoundDiv(v * sums[g], total);
        r->subtotalCorrections[g] += share;
        given += share;
        if (std::llabs(sums[g]) > std::llabs(sums[largest])) largest = g;
      }
      r->subtotalCorrections[largest] += v - given;
    }
  }
  const auto sums = r->GroupSums();
  c.answer = Num(r->TotalCents());
  for (int64_t v : sums) c.answer += "," + Num(v);
}

// A,<amount> | P,<percent>
void DiscountLastItem(CommandContext& c) {
  Receipt* r = FiscalReceipt(c.state);
  if (!r || r->items.empty() || !r->payments.empty()) return c.NotAllowed();
  int64_t v;
  if (c.data.size() < 3 || (c.data[0] != 'A' && c.data[0] != 'P') || c.data[1] != ',' ||
      !ParseCents(string_view(c.data).substr(2), v))
    return c.SyntaxError();
  ApplyCorrection(r->items.back(), v, c.data[0] == 'A');
}

// [Text1][LF Text2] TAB <letter>[+]<amount>[,<rate>,<currency> | ,L]
void PaymentCmd(CommandContext& c) {
  ModelState& s = c.state;
  const size_t tab = c.data.find('\t');
  if (tab == string::npos || tab + 1 >= c.data.size()) return c.SyntaxError();
  string_view rest = string_view(c.data).substr(tab + 1);
  Payment p;
  p.letter = rest[0];
  if (kPayTypeLetters.find(p.letter) == string_view::npos) return c.SyntaxError();
  rest.remove_prefix(1);
  auto f = Split(rest, ',');
  int64_t amount;
  if (!ParseCents(f[0], amount)) return c.SyntaxError();
  if (f.size() == 2 && f[1] == "L") {
    p.rate = s.currencyRate;
    p.currency = "L";
  } else if (f.size() == 3) {
    if (!ParseDouble(f[1], p.rate) || p.rate <= 0) return c.SyntaxError();
    p.currency = f[2];
  } else if (f.size() != 1) {
    return c.SyntaxError();
  }
  Receipt* r = FiscalReceipt(s);
  if (!r || amount < 0) {
    c.answer = "F";
    return;
  }
  const int64_t total = r->TotalCents(), tender = r->TenderCents();
  if (total < 0) {
    c.answer = "E";
    return;
  }
  if (!r->payments.empty() && tender >= total) {
    c.answer = "F";
    return;
  }
  const int64_t due = total - tender;
  if (p.rate > 0) {
    p.foreignCents = amount;
    p.amountCents = amount == 0 ? due : RoundDiv(amount * std::llround(p.rate * 1e6), 1000000);
  } else {
    p.amountCents = amount == 0 ? due : amount;
  }
  if (p.letter != 'P' && p.rate == 0 && p.amountCents > due) {  // no change from this type
    c.answer = "I";
    return;
  }
  r->payments.push_back(p);
  const int64_t paid = tender + p.amountCents;
  c.answer = paid >= total ? "D," + Num(paid - total) : "R," + Num(total - paid);
}

void PrintFiscText(CommandContext& c) {
  Receipt* r = FiscalReceipt(c.state);
  if (!r) return c.NotAllowed();
  r->texts.push_back(c.data);
}

// EIK TAB x TAB receiver TAB company TAB VAT number [TAB town [LF address] | TAB address]
void InvoiceClient(CommandContext& c) {
  Receipt* r = FiscalReceipt(c.state);
  if (!r || r->kind == ReceiptKind::Fiscal) return c.NotAllowed();
  auto f = Split(c.data, '\t');
  if (f.size() < 5 || f.size() > 6 || Trim(f[0]).empty()) return c.SyntaxError();
  r->client = c.data;
}

void CloseFiscBon(CommandContext& c) {
  ModelState& s = c.state;
  Receipt* r = FiscalReceipt(s);
  if (!r || r->TenderCents() < r->TotalCents() || (r->kind == ReceiptKind::Invoice && r->client.empty()))
    return c.NotAllowed();
  Settle(s, *r);
  c.answer = Num(r->allNo) + "," + Num(r->fiscNo);
  End(s, std::move(*r));
  s.duplicateAvailable = true;
}

void CancelFiscBon(CommandContext& c) {
  ModelState& s = c.state;
  Receipt* r = FiscalReceipt(s);
  if (!r || !r->payments.empty()) return c.NotAllowed();
  r->cancelled = true;
  End(s, std::move(*r));
}

void PrintDuplicate(CommandContext& c) {
  ModelState& s = c.state;
  if (s.open || !s.duplicateAvailable) return c.NotAllowed();
  s.duplicateAvailable = false;
  for (auto it = s.closed.rbegin(); it != s.closed.rend(); ++it) {
    if (it->Fiscal() && !it->cancelled) {
      it->duplicatePrinted = true;
      break;
    }
  }
}

void OpenNonFiscBon(CommandContext& c) {
  if (c.state.open) return;
  Receipt r;
  r.kind = ReceiptKind::NonFiscal;
  Begin(c, std::move(r));
}

void PrintNonFiscText(CommandContext& c) {
  Receipt* r = NonFiscalReceipt(c.state);
  if (!r) return c.NotAllowed();
  r->texts.push_back(c.data);
}

void CloseNonFiscBon(CommandContext& c) {
  Receipt* r = NonFiscalReceipt(c.state);
  if (!r) return c.NotAllowed();
  c.answer = Num(r->allNo);
  End(c.state, std::move(*r));
}

void PrintBarcode(CommandContext& c) {
  const string& d = c.data;
  if (d.size() < 2 || d[0] < '1' || d[0] > '6' || (d[1] != ',' && d[1] != ';')) return c.SyntaxError();
  if (c.state.open) c.state.open->barcodes.push_back(d);
}

// ---- reports, programming, service ----

void Report(CommandContext& c) { c.state.reports.emplace_back(c.cmd, c.data); }

void DailyReport(CommandContext& c) {
  ModelState& s = c.state;
  if (c.data != "0" && c.data != "2") return c.SyntaxError();
  if (s.open) return c.NotAllowed();
  s.allReceipts++;
  if (c.data == "0") {
    s.zReports++;
    s.daily = {};
    for (auto& [n, d] : s.departments) d.lastCount = d.lastSumCents = 0;
  }
  Report(c);
}

void FmReportByNumber(CommandContext& c) {
  auto f = Split(c.data, ',');
  int64_t a, b;
  if (f.size() > 2 || !ParseInt(f[0], a) || (f.size() == 2 && !ParseInt(f[1], b))) return c.SyntaxError();
  if (c.state.open) return c.NotAllowed();
  Report(c);
}

void FmReportByDate(CommandContext& c) {
  auto f = Split(c.data, ',');
  if (f.size() > 2 || !ParseDdMmYy(f[0]) || (f.size() == 2 && !ParseDdMmYy(f[1]))) return c.SyntaxError();
  if (c.state.open) return c.NotAllowed();
  Report(c);
}

// Closure,Total,VAT1..VAT8 in hundredths; the digit 0 clears the counters.
void DepartmentReport(CommandContext& c) {
  ModelState& s = c.state;
  if (c.data != "0" && c.data != "2") return c.SyntaxError();
  if (s.open) return c.NotAllowed();
  std::array<int64_t, 8> sums{};
  for (auto& [n, d] : s.departments) sums[VatGroup(d.vat) - 1] += d.lastSumCents;
  if (c.data == "0") {
    s.departmentClosures++;
    for (auto& [n, d] : s.departments) d.lastCount = d.lastSumCents = 0;
  }
  int64_t total = 0;
  for (int64_t v : sums) total += v;
  c.answer = Num(s.departmentClosures) + "," + Num(total);
  for (int64_t v : sums) c.answer += "," + Num(v);
  Report(c);
}

void PluReport(CommandContext& c) {
  ModelState& s = c.state;
  if (c.data != "0" && c.data != "2") return c.SyntaxError();
  if (s.open) return c.NotAllowed();
  std::array<int64_t, 8> sums{};
  for (auto& [n, p] : s.plus) sums[VatGroup(p.vat) - 1] += p.totalCents;
  if (c.data == "0") {
    s.pluClosures++;
    for (auto& [n, p] : s.plus) {
      p.totalCents = 0;
      p.sold = 0;
    }
  }
  int64_t total = 0;
  for (int64_t v : sums) total += v;
  c.answer = Num(s.pluClosures) + "," + Num(total);
  for (int64_t v : sums) c.answer += "," + Num(v);
  Report(c);
}

// dd-mm-yy hh:nn
void SetDateTime(CommandContext& c) {
  const string& d = c.data;
  int64_t dd, mm, yy, hh, nn;
  if (d.size() != 14 || d[2] != '-' || d[5] != '-' || d[8] != ' ' || d[11] != ':' || !Digits(d, 0, 2, dd) ||
      !Digits(d, 3, 2, mm) || !Digits(d, 6, 2, yy) || !Digits(d, 9, 2, hh) || !Digits(d, 12, 2, nn) ||
      !ValidDate(2000 + yy, mm, dd) || hh > 23 || nn > 59)
    return c.SyntaxError();
  if (c.state.open) return c.NotAllowed();
  c.state.clock.Set(int(2000 + yy), int(mm), int(dd), int(hh), int(nn), 0);
}

void SetOperator(CommandContext& c) {
  auto f = Split(c.data, ',', 3);
  int64_t no;
  if (f.size() != 3 || !ParseInt(f[0], no) || no <= 0 || Trim(f[2]).empty()) return c.SyntaxError();
  c.state.operators[int(no)] = {f[1], f[2]};
}

// Exit code, cash in the drawer, cash in today, cash out today (in units).
void CashInOut(CommandContext& c) {
  ModelState& s = c.state;
  int64_t amount;
  if (!ParseCents(c.data, amount)) return c.SyntaxError();
  const bool refused = s.open || (amount < 0 && -amount > s.cashCents);
  if (!refused) {
    s.cashCents += amount;
    if (amount > 0)
      s.daily.cashInCents += amount;
    else
      s.daily.cashOutCents -= amount;
  }
  c.answer = string(refused ? "F" : "P") + "," + Units(s.cashCents) + "," + Units(s.daily.cashInCents) + "," +
             Units(s.daily.cashOutCents);
}

void PrintDiagnostics(CommandContext& c) {
  if (c.state.open) return c.NotAllowed();
  Report(c);
}

// Open flag, items, amount [, tender when asked with T], in hundredths.
void TransactionStatus(CommandContext& c) {
  if (!c.data.empty() && c.data != "T") return c.SyntaxError();
  const Receipt* r = FiscalReceipt(c.state);
  c.answer = string(r ? "1" : "0") + "," + Num(r ? int64_t(r->items.size()) : 0) + "," + Num(r ? r->TotalCents() : 0);
  if (c.data == "T") c.answer += "," + Num(r ? r->TenderCents() : 0);
}

void DailyTaxation(CommandContext& c) {
  if (c.data != "0" && c.data != "1") return c.SyntaxError();
  const auto& sums = c.data == "0" ? c.state.daily.turnover : c.state.daily.vat;
  for (size_t i = 0; i < 8; ++i) c.answer += (i ? "," : "") + Num(sums[i]);
}

}  // namespace

std::vector<CommandRow> StandardCommands() {
  using namespace bit;
  const StatusBits none{};
  const StatusBits printing = Bits({PrinterFault, NoPaper});
  const StatusBits selling = Bits({PrinterFault, NoPaper, JournalEnd});
  const StatusBits fiscalOpening =
      Bits({PrinterFault, NoPaper, JournalEnd, ClockNotSet, TaxTerminal, FmError, FmFull, FmLocked, FmWriteFailed});
  const StatusBits nonFiscalOpening = Bits({PrinterFault, NoPaper, ClockNotSet});
  return {
      // information and reading
      {0x3E, "GetDateTime", none, GetDateTime},
      {0x4A, "Status", none, GetStatus},
      {0x5A, "DiagnosticInfo", none, GetDiagnostic},
      {0x71, "LastDocNumber", none, GetLastDocNumber},
      {0x67, "ReceiptInfo", none, GetReceiptInfo},
      {0x2B, "HeaderLine", none, HeaderLine},  // read, set, barcode height
      {0x42, "InvoiceRange", none, InvoiceRangeCmd},
      {0x6E, "DailyPayments", none, DailyPayments},
      {0x58, "DepartmentSum", none, DepartmentSum},
      {0x57, "Department", none, DepartmentCmd},  // read and program
      {0x6B, "PluData", none, PluCmd},            // read and program
      {0x55, "PayTypeName", none, PayTypeName},
      {0x80, "Constants", none, Constants},
      {0x83, "CurrencyMode", none, CurrencyMode},
      {0x6A, "OpenDrawer", none, OpenDrawer},
      // receipts
      {0x30, "OpenFiscBon", fiscalOpening, OpenFiscBon},
      {0x90, "OpenFiscBonEx", fiscalOpening, OpenFiscBonEx},
      {0x31, "Sale", selling, Sale},
      {0x3A, "SaleProgPlu", selling, SaleProgPlu},
      {0x33, "SubTotal", printing, SubTotal},
      {0x91, "DiscountLastItem", printing, DiscountLastItem},
      {0x35, "Payment", printing, PaymentCmd},
      {0x36, "PrintFiscText", printing, PrintFiscText},
      {0x39, "InvoiceClient", printing, InvoiceClient},
      {0x38, "CloseFiscBon", printing, CloseFiscBon},
      {0x3C, "CancelFiscBon", printing, CancelFiscBon},
      {0x6D, "PrintDuplicate", printing, PrintDuplicate},
      {0x26, "OpenNonFiscBon", nonFiscalOpening, OpenNonFiscBon},
      {0x2A, "PrintNonFiscText", printing, PrintNonFiscText},
      {0x27, "CloseNonFiscBon", printing, CloseNonFiscBon},
      {0x54, "PrintBarcode", printing, PrintBarcode},
      // reports, programming, service
      {0x45, "DailyReport", printing, DailyReport},
      {0x5F, "FMReportByNumberShort", printing, FmReportByNumber},
      {0x49, "FMReportByNumberDetailed", printing, FmReportByNumber},
      {0x4F, "FMReportByDateShort", printing, FmReportByDate},
      {0x5E, "FMReportByDateDetailed", printing, FmReportByDate},
      {0x75, "DepartmentReport", printing, DepartmentReport},
      {0x76, "PluReport", printing, PluReport},
      {0x3D, "SetDateTime", none, SetDateTime},
      {0x66, "SetOperator", none, SetOperator},
      {0x46, "CashInOut", printing, CashInOut},
      {0x47, "PrintDiagnostics", printing, PrintDiagnostics},
      {0x4C, "TransactionStatus", none, TransactionStatus},
      {0x41, "DailyTaxation", none, DailyTaxation},
  };
}

}  // namespace fp::model
