// The reader's construction, its string and number helpers, and its logging.
#include "program/receipts/uECRFileReader.h"

#include "platform/DecimalRound.h"
#include "program/app/uProgramLog.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace fp {

namespace uECRFileReader {

std::string CopyToPosAndDel(std::string& text, int count) {
  if (count < 0 || text.size() < static_cast<size_t>(count))
    throw std::runtime_error("[CopyToPosAndDel]Possition is out of range.(" + text +
                             ", Possition: " + std::to_string(count) + ")");
  std::string head = text.substr(0, static_cast<size_t>(count));
  text.erase(0, static_cast<size_t>(count));
  return head;
}

std::string CopyToCharAndDel(std::string& text, char separator) {
  const size_t pos = text.find(separator);
  if (pos == std::string::npos) {
    std::string all = std::move(text);
    text.clear();
    return all;
  }
  std::string head = text.substr(0, pos);
  text.erase(0, pos + 1);
  return head;
}

std::string NormalizeDecimalSeparator(std::string text) {
  for (char& c : text)
    if (c == ',') c = '.';
  return text;
}

namespace {

const QDate& OleEpoch() {
  static const QDate epoch(1899, 12, 30);
  return epoch;
}

DATE DateToOle(const QDate& date) { return static_cast<DATE>(OleEpoch().daysTo(date)); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

DATE ParseShortDate(std::string& text, DATE def) {
  const int32_t day = StrToIntDef(text.substr(0, 2), 0);
  const int32_t month = StrToIntDef(text.size() > 2 ? text.substr(2, 2) : std::string(), 0);
  const int32_t year = StrToIntDef(text.size() > 4 ? text.substr(4, 2) : std::string(), 0);
  text.erase(0, std::min<size_t>(6, text.size()));
  if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1 || year > 99) return def;
  if (!QDate::isValid(year, month, day)) return def;
  return DateToOle(QDate(year, month, day));
}

namespace {

// Sign and digits of an integer text; false when the text is not one.
bool SplitInteger(const std::string& text, bool& negative, std::string_view& digits) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  digits = std::string_view(text).substr(i);
  if (digits.empty()) return false;
  for (char c : digits)
    if (!IsDigit(c)) return false;
  return true;
}

template <class T>
bool ParseInteger(const std::string& text, T& value) {
  bool negative = false;
  std::string_view digits;
  if (!SplitInteger(text, negative, digits)) return false;
  // Accumulate negatively so that the lowest value of the type fits.
  T v = 0;
  for (char c : digits) {
    const T d = static_cast<T>(c - '0');
    if (v < (std::numeric_limits<T>::min() + d) / 10) return false;
    v = static_cast<T>(v * 10 - d);
  }
  if (!negative) {
    if (v == std::numeric_limits<T>::min()) return false;
    v = static_cast<T>(-v);
  }
  value = v;
  return true;
}

}  // namespace

bool TryStrToInt(const std::string& text, int32_t& value) { return ParseInteger(text, value); }

int32_t StrToIntDef(const std::string& text, int32_t def) {
  int32_t v = 0;
  return TryStrToInt(text, v) ? v : def;
}

bool TryStrToInt64(const std::string& text, int64_t& value) { return ParseInteger(text, value); }

bool TryStrToFloat(const std::string& text, double& value) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string s = text.substr(b, e - b);
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissaDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  // from_chars takes no leading '+'.
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  double v = 0;
  auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

std::string TrimRight(const std::string& text) {
  size_t e = text.size();
  while (e > 0 && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(0, e);
}

std::string FormatFixed(double value, int intDigits, int decimals) {
  // The system's one rounding rule (halves away from zero on the decimal text, so 1.005
  // gives 1.01); a value that is not finite is written as 0.
  std::string text;
  if (!RoundDecimalText(value, decimals, text)) RoundDecimalText(0, decimals, text);
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t dot = std::min(text.find('.'), text.size());
  std::string whole = text.substr(0, dot);
  const std::string rest = text.substr(dot);  // "." and the decimals, or nothing
  while (whole.size() < static_cast<size_t>(std::max(intDigits, 0))) whole.insert(whole.begin(), '0');
  if (intDigits == 0 && whole == "0") whole.clear();
  return (negative ? "-" : "") + whole + rest;
}

int64_t RoundCents(double value) {
  int64_t cents = 0;
  return RoundDecimalUnits(value, 2, cents) ? cents : 0;
}

std::string UpperCp1251(const std::string& text) {
  std::string out(text);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    unsigned char u = c;
    if (c >= 'a' && c <= 'z')
      u = static_cast<unsigned char>(c - 32);
    else if (c >= 0xE0)
      u = static_cast<unsigned char>(c - 32);  // а..я
    else if (c == 0xB8)
      u = 0xA8;  // ё
    else if (c == 0xB3)
      u = 0xB2;  // і
    else if (c == 0xBA || c == 0xBF)
      u = static_cast<unsigned char>(c - 16);  // є ї
    else if (c == 0xA2)
      u = 0xA1;  // ў
    else if (c == 0xB4)
      u = 0xA5;  // ґ
    else if (c == 0xBC)
      u = 0xA3;  // ј
    else if (c == 0xBE)
      u = 0xBD;  // ѕ
    else if (c == 0x83)
      u = 0x81;  // ѓ
    else if (c == 0x90)
      u = 0x80;  // ђ
    else if (c >= 0x9A && c <= 0x9F && c != 0x9B)
      u = static_cast<unsigned char>(c - 16);  // љ њ ќ ћ џ
    ch = static_cast<char>(u);
  }
  return out;
}

DATE DateTimeToOle(const QDateTime& local) {
  const double days = static_cast<double>(OleEpoch().daysTo(local.date()));
  const double fraction = local.time().msecsSinceStartOfDay() / 86400000.0;
  return days >= 0 ? days + fraction : days - fraction;
}

QDateTime OleToDateTime(DATE value) {
  // Beyond the years 1 to 9999 there is no date to show.
  if (!std::isfinite(value) || value < -693594 || value > 2958466) return {};
  double days = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - days) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += value >= 0 ? 1 : -1;
  }
  const QDate date = OleEpoch().addDays(static_cast<qint64>(days));
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

std::string FormatClock(DATE value) {
  const QDateTime t = OleToDateTime(value);
  if (!t.isValid()) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%04d%02d%02d%02d", t.date().day(), t.date().month(), t.date().year(),
                t.time().hour(), t.time().minute(), t.time().second());
  return buf;
}

}  // namespace uECRFileReader

TECRFileReader::TECRFileReader(TFprnFactory factory) : FFprn(std::move(factory)) {}

TECRFileReader::~TECRFileReader() {
  FCommands.clear();
  FFileLines.clear();
  // Closing the link is all that is left to do; a failure of it changes nothing.
  if (FFprn.Created()) {
    try {
      FFprn.Close();
    } catch (...) {
    }
  }
}

void TECRFileReader::SetPayTypePairs(const std::vector<TPayTypePair>& pairs) {
  FPayTypePairs.insert(FPayTypePairs.end(), pairs.begin(), pairs.end());
}

void TECRFileReader::SetCashierPas(const std::string& password) {
  FDefaultCashierPass = uECRFileReader::Trim(password);
}

void TECRFileReader::ClearCommands() {
  FCommands.clear();
  FHasSales = false;
  FProgress = TFileProgress();
  FIsReportFile = false;
  FTextLineCount = 0;
  FCashierPOS = 1;
  FCashierNo = 1;
  FCashierName.clear();
  FOperatorLine.clear();
  FCashierPass = FDefaultCashierPass;
}

TInvoiceObject* TECRFileReader::FindInvoice() {
  for (auto it = FCommands.rbegin(); it != FCommands.rend(); ++it)
    if (auto* invoice = std::get_if<TInvoiceObject>(&*it)) return invoice;
  return nullptr;
}

const TInvoiceObject* TECRFileReader::FindInvoice() const { return const_cast<TECRFileReader*>(this)->FindInvoice(); }

bool TECRFileReader::HasPayments() const {
  for (const TCommand& c : FCommands)
    if (std::holds_alternative<TPaymentObject>(c)) return true;
  return false;
}

void TECRFileReader::AddInvoiceField(std::string text, int index) {
  static const char* const labels[] = {"FirmName", "Town", "Address", "Mol", "Customer"};
  if (index < 0 || index > 4) return;
  if (!text.empty() && text[0] == ':') text.erase(0, 1);
  if (text.size() > 255) text.resize(255);
  TInvoiceObject* invoice = FindInvoice();
  if (!invoice) invoice = &std::get<TInvoiceObject>(FCommands.emplace_back(TInvoiceObject{}));
  std::string* fields[] = {&invoice->FirmName, &invoice->Town, &invoice->Address, &invoice->Mol, &invoice->Customer};
  *fields[index] = text;
  invoice->RawLines += "\r:" + text;
  Log(std::string("AddInvoice data [") + labels[index] + "]: " + text);
}

// A log line that cannot be written is lost; it never ends the operation that logs it.
void TECRFileReader::Log(const std::string& text) {
  if (FLogDir.isEmpty()) return;
  try {
    uProgramLog::WriteLog(FLogDir, uConst::FromCp1251(text), false);
  } catch (const std::exception&) {
  }
}

void TECRFileReader::LogError(const std::string& text) {
  FLastError = text;
  if (FExceptionLog) {
    FExceptionLog(uConst::FromCp1251(text));
  } else {
    try {
      uProgramLog::WriteLog(FLogDir, uConst::FromCp1251(text), true);
    } catch (const std::exception&) {
    }
  }
  Log(text);
}

void TECRFileReader::AddRepLine(const std::string& text, bool forced) {
  if (text.empty() || !(FRepFilePrint || forced) || FRepFileName.isEmpty()) return;
  FRepLines.push_back(text);
}

void TECRFileReader::CheckRes(int32_t res) {
  if (res != 0) throw std::runtime_error(FFprn.LastErrorMessage());
}

void TECRFileReader::CheckErrorCode() {
  if (FFprn.LastErrorCode() != 0) throw std::runtime_error(FFprn.LastErrorMessage());
}

}  // namespace fp
