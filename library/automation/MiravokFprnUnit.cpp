// The automation object's state, its call pattern and error recording, and the simple
// properties and read-outs.
#include "library/automation/MiravokFprnUnit.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "library/protocol/BaseDeviceCommands.h"
#include "library/automation/ConstUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/protocol/OleDate.h"
#include "library/automation/ReceiptTexts.h"
#include "library/protocol/WireNumbers.h"
#include "platform/Cp1251.h"
#include "platform/PathNames.h"
#include "platform/com/ComPtr.h"

namespace fp {

std::atomic<int32_t> LastFoundPort{-1};

// ---------------------------------------------------------------------------------------
// Text helpers

std::string BstrToAnsi(BSTR Text) { return WideToCp1251(BstrView(Text)); }

BSTR AnsiToBstr(std::string_view Text) { return MakeBstr(Cp1251ToWide(Text)); }

void SetBstrResult(BSTR* Target, std::string_view Text) {
  if (Target) *Target = AnsiToBstr(Text);
}

std::string QuotedStr(std::string_view Text) {
  std::string s = "'";
  for (char c : Text) {
    s += c;
    if (c == '\'') s += '\'';
  }
  s += '\'';
  return s;
}

std::string FloatToStr(double Value) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  return FormatWireUpTo(Value, 15);
}

void RaiseInvalidArgument(const std::string& Name) {
  throw ECRException(ErrInvalidInput, TBaseDevice::ErrorCodeText(ErrInvalidInput, "[" + Name + "]"));
}

double FiniteArgument(double Value, const char* Name) {
  if (!std::isfinite(Value)) RaiseInvalidArgument(Name);
  return Value;
}

void CheckUnsignedArgument(int64_t Value, int64_t Max, const char* Name) {
  if (Value < 0 || Value > Max) RaiseInvalidArgument(Name);
}

void CheckVatGroupArgument(int64_t Group, const char* Name) {
  if (Group < 1 || Group > 8) RaiseInvalidArgument(Name);
}

void CheckTextArgument(TTextField Field, const std::string& Text, const char* Name) {
  if (!FitsTextField(Field, Text)) RaiseInvalidArgument(Name);
}

void ClearFiskParam(TFiskParam& P) {
  P.OperNo = 0;
  P.OperName.clear();
  P.UniqueSellNo.clear();
  P.IsInvoice = false;
  P.IsRefund = false;
  P.InvoiceNo = 0;
  P.RefundFMNo.clear();
  P.RefundReceiptNo = 0;
  P.RefundReason = '0';
  P.RefundDateTime = 0;
  P.RefundInvoiceNo = 0;
  P.RefundFiscalNo.clear();
}

// ---------------------------------------------------------------------------------------
// Life

TMiravokFprn::TMiravokFprn(TComModule& Module, IUnknown* Outer) : TComObject(Module, Outer) {}

TMiravokFprn::~TMiravokFprn() {
  try {
    LogMessage("Free objects.", LogInfo);
  } catch (...) {
    // A log writer that fails cannot stop the object from going.
  }
  // The transport's destructor closes the link without touching an open receipt.
  FDevice.reset();
}

void TMiravokFprn::Initialize() {
  FDevice.reset();
  // Numbers and dates are written and read with "." as decimal and date separator and ":"
  // as time separator by the library's own formatters, whatever the process locale.
  FLogFilePath.clear();
  ClearLastError();
}

// ---------------------------------------------------------------------------------------
// The call pattern

void TMiravokFprn::ClearLastError() {
  FLastErrorCode = 0;
  FLastErrorMessage.clear();
}

void TMiravokFprn::LogMessage(const std::string& Msg, std::uint8_t Level) {
  if (!TrimControls(FLogFilePath).empty()) LogToFile(Msg, FLogFilePath, Level);
}

void TMiravokFprn::CheckConnected() {
  if (!FDevice) throw ECRException(ErrNotInitialized, TextNotInitialized);
  if (!FDevice->IsConnected()) throw ECRException(ErrPortNotActive, TextPortNotActive);
}

void TMiravokFprn::SetLastErrorFrom(const std::exception& E, const std::string& Context, const std::string& Extra) {
  FLastErrorMessage = "[" + Context + "] " + E.what() + " " + Extra;
  const auto* own = dynamic_cast<const ECRException*>(&E);
  FLastErrorCode = own ? own->Code : ErrNotInitialized;
  if ((FLastErrorCode == ErrInvalidInput || FLastErrorCode == ErrNotInitialized) && FDevice &&
      FDevice->FChangingCommandsSent > 0) {
    const int32_t device = FDevice->FErrorCode;
    FLastErrorCode =
        device != 0 && device != ErrInvalidInput && device != ErrNotInitialized ? device : ErrInvalidAnswer;
  }
  LogMessage(FLastErrorMessage, LogError);
}

void TMiravokFprn::RaiseDeviceError(const std::string& Tag) {
  if (!FDevice) throw ECRException(ErrNotInitialized, TextNotInitialized);
  std::string text = FDevice->FErrorText;
  int32_t code = FDevice->FErrorCode;
  if (code == 0) {
    code = ErrNotInitialized;
    if (text.empty()) text = "Device operation failed";
  }
  throw ECRException(code, Tag + text);
}

void TMiravokFprn::GetReceiptText(std::uint8_t Id, std::string& Text) const { fp::GetReceiptText(FLocale, Id, Text); }

// ---------------------------------------------------------------------------------------
// Read-outs: they neither clear the last error nor check the connection. Those that read
// the object's state hold its call lock, as every entry that reaches the printer does.

namespace {

HRESULT TextOut(BSTR* Value, std::string_view Text) {
  if (!Value) return E_POINTER;
  *Value = AnsiToBstr(Text);
  return S_OK;
}

HRESULT NumberOut(LONG* Value, LONG Number) {
  if (!Value) return E_POINTER;
  *Value = Number;
  return S_OK;
}

}  // namespace

HRESULT TMiravokFprn::GetDriverVersion(BSTR* Res) { return TextOut(Res, DriverVersionText); }

HRESULT TMiravokFprn::GetDriverVendor(BSTR* Res) { return TextOut(Res, DriverVendorText); }

HRESULT TMiravokFprn::GetPrinterModel(BSTR* Res) {
  const auto entry = EnterCall();
  const auto& t = FDiagnosticInfo.Text;
  return TextOut(Res, t[0] + " [" + t[6] + " " + t[1] + "]");
}

HRESULT TMiravokFprn::get_LogFilePath(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FLogFilePath);
}

HRESULT TMiravokFprn::put_LogFilePath(BSTR value) {
  return Guard([&] {
    FLogFilePath.clear();
    std::string folder = BstrToAnsi(value);
    if (folder.empty()) return;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
      std::filesystem::create_directories(folder, ec);
      // A folder that cannot be made leaves logging off; the put still succeeds.
      if (!std::filesystem::is_directory(folder, ec)) return;
    }
    FLogFilePath = WithSlash(folder);
  });
}

HRESULT TMiravokFprn::get_PrintInvDublicate(LONG* Value) {
  const auto entry = EnterCall();
  return NumberOut(Value, FPrintInvDublicate ? 1 : 0);
}

HRESULT TMiravokFprn::put_PrintInvDublicate(LONG value) {
  const auto entry = EnterCall();
  FPrintInvDublicate = value != 0;
  return S_OK;
}

HRESULT TMiravokFprn::get_LastErrorCode(LONG* Value) {
  const auto entry = EnterCall();
  return NumberOut(Value, FLastErrorCode);
}

HRESULT TMiravokFprn::get_LastErrorMessage(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FLastErrorMessage);
}

HRESULT TMiravokFprn::get_LineLength(LONG* Value) {
  const auto entry = EnterCall();
  return NumberOut(Value, FLineLength);
}

HRESULT TMiravokFprn::get_ComPort(LONG* Value) {
  const auto entry = EnterCall();
  return NumberOut(Value, FComPort);
}

HRESULT TMiravokFprn::GetLastError(LONG, BSTR* Res) {
  const auto entry = EnterCall();
  return TextOut(Res, FLastErrorMessage);
}

HRESULT TMiravokFprn::GetErrCodeText(LONG, LONG, BSTR* Res) {
  const auto entry = EnterCall();
  return TextOut(Res, FLastErrorMessage);
}

HRESULT TMiravokFprn::get_LastUniqueSellNo(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FLastUniqueSellNo);
}

HRESULT TMiravokFprn::get_FPName(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[0]);
}

HRESULT TMiravokFprn::get_FPSerial(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[6]);
}

HRESULT TMiravokFprn::get_FPFiscalNom(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[7]);
}

HRESULT TMiravokFprn::get_FPVersion(BSTR* Value) {
  const auto entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[1] + " " + FDiagnosticInfo.Text[2]);
}

// ---------------------------------------------------------------------------------------
// The printer clock as text, "ddmmyyyyhhnnss"

HRESULT TMiravokFprn::get_FPDateTimeAsString(BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return Guard([&] {
    LogMessage("Get FP date time As String ..", LogInfo);
    DATE when = 0;
    GetClock(&when);  // clears the last error and records its own failure
    if (when > 0) SetBstrResult(Value, FormatOleDateTime("ddmmyyyyhhnnss", when));
  });
}

HRESULT TMiravokFprn::put_FPDateTimeAsString(BSTR value) {
  const std::string text = BstrToAnsi(value);
  return RunMethod(
      nullptr, "Set date/time failed", "Set FP date/time from string=\"" + text + "\"",
      [&] {
        if (TrimControls(text).empty()) throw ECRException(ErrInvalidInput, "Empty string for date/time");
        if (text.size() < 14) throw ECRException(ErrInvalidInput, "Invalid string for date/time");
        CheckConnected();
        // Day, month, year, hour, minute and second; a part that is no number is invalid.
        static constexpr struct { std::size_t Pos, Len; } parts[6] = {{0, 2}, {2, 2}, {4, 4}, {8, 2}, {10, 2}, {12, 2}};
        int64_t n[6] = {};
        bool ok = true;
        for (int i = 0; i < 6 && ok; ++i)
          ok = ParseWireInteger(std::string_view(text).substr(parts[i].Pos, parts[i].Len), n[i]) && n[i] >= 0 &&
               n[i] <= 9999;
        double when = 0;
        if (!ok || !TryEncodeOleDateTime(int(n[2]), int(n[1]), int(n[0]), int(n[3]), int(n[4]), int(n[5]), 0, when))
          throw ECRException(ErrInvalidInput, "Failed encode string \"" + text + "\" to date/time");
        // SetClock records its own failure under its own context.
        LONG clockRes = -1;
        SetClock(when, &clockRes);
      },
      NoConnectionCheck);
}

// ---------------------------------------------------------------------------------------
// Programming an operator

HRESULT TMiravokFprn::SetOperator(LONG OperNom, BSTR OperName, BSTR OperPass, LONG* Res) {
  const std::string name = BstrToAnsi(OperName);
  const std::string pass = BstrToAnsi(OperPass);
  // The password is masked in the log: a log file must not give it away.
  const std::string line = "Set operator No\"" + std::to_string(OperNom) + "\", OperName=\"" + name +
                           "\", Password=\"" + MaskPassword(pass) + "\"";
  return RunMethod(Res, "Set operator failed", line, [&] {
    CheckUnsignedArgument(OperNom, UINT16_MAX, "OperNom");
    CheckTextArgument(TTextField::OperatorPassword, pass, "OperPass");
    Check(FDevice->SetFPR_Operator(static_cast<uint16_t>(OperNom), pass, name));
  });
}

// ---------------------------------------------------------------------------------------
// IObjectSafety

HRESULT TMiravokFprn::GetInterfaceSafetyOptions(REFIID, DWORD*, DWORD*) { return S_OK; }

HRESULT TMiravokFprn::SetInterfaceSafetyOptions(REFIID, DWORD, DWORD) { return S_OK; }

}  // namespace fp
