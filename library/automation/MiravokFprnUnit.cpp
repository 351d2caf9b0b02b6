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
  std::string S = "'";
  for (char C : Text) {
    S += C;
    if (C == '\'') S += '\'';
  }
  S += '\'';
  return S;
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

void TMiravokFprn::SetLastErrorFrom(const std::exception& E, const std::string& Context,
                                    const std::string& Extra) {
  FLastErrorMessage = "[" + Context + "] " + E.what() + " " + Extra;
  const auto* Own = dynamic_cast<const ECRException*>(&E);
  FLastErrorCode = Own ? Own->Code : ErrNotInitialized;
  if ((FLastErrorCode == ErrInvalidInput || FLastErrorCode == ErrNotInitialized) && FDevice &&
      FDevice->FChangingCommandsSent > 0) {
    const int32_t Device = FDevice->FErrorCode;
    FLastErrorCode = Device != 0 && Device != ErrInvalidInput && Device != ErrNotInitialized ? Device
                                                                                           : ErrInvalidAnswer;
  }
  LogMessage(FLastErrorMessage, LogError);
}

void TMiravokFprn::RaiseDeviceError(const std::string& Tag) {
  if (!FDevice) throw ECRException(ErrNotInitialized, TextNotInitialized);
  std::string Text = FDevice->FErrorText;
  int32_t Code = FDevice->FErrorCode;
  if (Code == 0) {
    Code = ErrNotInitialized;
    if (Text.empty()) Text = "Device operation failed";
  }
  throw ECRException(Code, Tag + Text);
}

void TMiravokFprn::GetReceiptText(std::uint8_t Id, std::string& Text) const {
  fp::GetReceiptText(FLocale, Id, Text);
}

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
  const auto Entry = EnterCall();
  const auto& T = FDiagnosticInfo.Text;
  return TextOut(Res, T[0] + " [" + T[6] + " " + T[1] + "]");
}

HRESULT TMiravokFprn::get_LogFilePath(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FLogFilePath);
}

HRESULT TMiravokFprn::put_LogFilePath(BSTR value) {
  return Guard([&] {
    FLogFilePath.clear();
    std::string Folder = BstrToAnsi(value);
    if (Folder.empty()) return;
    std::error_code Ec;
    if (!std::filesystem::is_directory(Folder, Ec)) {
      std::filesystem::create_directories(Folder, Ec);
      // A folder that cannot be made leaves logging off; the put still succeeds.
      if (!std::filesystem::is_directory(Folder, Ec)) return;
    }
    FLogFilePath = WithSlash(Folder);
  });
}

HRESULT TMiravokFprn::get_PrintInvDublicate(LONG* Value) {
  const auto Entry = EnterCall();
  return NumberOut(Value, FPrintInvDublicate ? 1 : 0);
}

HRESULT TMiravokFprn::put_PrintInvDublicate(LONG value) {
  const auto Entry = EnterCall();
  FPrintInvDublicate = value != 0;
  return S_OK;
}

HRESULT TMiravokFprn::get_LastErrorCode(LONG* Value) {
  const auto Entry = EnterCall();
  return NumberOut(Value, FLastErrorCode);
}

HRESULT TMiravokFprn::get_LastErrorMessage(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FLastErrorMessage);
}

HRESULT TMiravokFprn::get_LineLength(LONG* Value) {
  const auto Entry = EnterCall();
  return NumberOut(Value, FLineLength);
}

HRESULT TMiravokFprn::get_ComPort(LONG* Value) {
  const auto Entry = EnterCall();
  return NumberOut(Value, FComPort);
}

HRESULT TMiravokFprn::GetLastError(LONG, BSTR* Res) {
  const auto Entry = EnterCall();
  return TextOut(Res, FLastErrorMessage);
}

HRESULT TMiravokFprn::GetErrCodeText(LONG, LONG, BSTR* Res) {
  const auto Entry = EnterCall();
  return TextOut(Res, FLastErrorMessage);
}

HRESULT TMiravokFprn::get_LastUniqueSellNo(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FLastUniqueSellNo);
}

HRESULT TMiravokFprn::get_FPName(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[0]);
}

HRESULT TMiravokFprn::get_FPSerial(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[6]);
}

HRESULT TMiravokFprn::get_FPFiscalNom(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[7]);
}

HRESULT TMiravokFprn::get_FPVersion(BSTR* Value) {
  const auto Entry = EnterCall();
  return TextOut(Value, FDiagnosticInfo.Text[1] + " " + FDiagnosticInfo.Text[2]);
}

// ---------------------------------------------------------------------------------------
// The printer clock as text, "ddmmyyyyhhnnss"

HRESULT TMiravokFprn::get_FPDateTimeAsString(BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return Guard([&] {
    LogMessage("Get FP date time As String ..", LogInfo);
    DATE When = 0;
    GetClock(&When);  // clears the last error and records its own failure
    if (When > 0) SetBstrResult(Value, FormatOleDateTime("ddmmyyyyhhnnss", When));
  });
}

HRESULT TMiravokFprn::put_FPDateTimeAsString(BSTR value) {
  const std::string Text = BstrToAnsi(value);
  return RunMethod(
      nullptr, "Set date/time failed", "Set FP date/time from string=\"" + Text + "\"",
      [&] {
        if (TrimControls(Text).empty())
          throw ECRException(ErrInvalidInput, "Empty string for date/time");
        if (Text.size() < 14) throw ECRException(ErrInvalidInput, "Invalid string for date/time");
        CheckConnected();
        // Day, month, year, hour, minute and second; a part that is no number is invalid.
        static constexpr struct {
          std::size_t Pos, Len;
        } Parts[6] = {{0, 2}, {2, 2}, {4, 4}, {8, 2}, {10, 2}, {12, 2}};
        int64_t N[6] = {};
        bool Ok = true;
        for (int I = 0; I < 6 && Ok; ++I)
          Ok = ParseWireInteger(std::string_view(Text).substr(Parts[I].Pos, Parts[I].Len), N[I]) &&
               N[I] >= 0 && N[I] <= 9999;
        double When = 0;
        if (!Ok || !TryEncodeOleDateTime(int(N[2]), int(N[1]), int(N[0]), int(N[3]), int(N[4]),
                                         int(N[5]), 0, When))
          throw ECRException(ErrInvalidInput,
                             "Failed encode string \"" + Text + "\" to date/time");
        // SetClock records its own failure under its own context.
        LONG ClockRes = -1;
        SetClock(When, &ClockRes);
      },
      NoConnectionCheck);
}

// ---------------------------------------------------------------------------------------
// Programming an operator

HRESULT TMiravokFprn::SetOperator(LONG OperNom, BSTR OperName, BSTR OperPass, LONG* Res) {
  const std::string Name = BstrToAnsi(OperName);
  const std::string Pass = BstrToAnsi(OperPass);
  // The password is masked in the log: a log file must not give it away.
  const std::string Line = "Set operator No\"" + std::to_string(OperNom) + "\", OperName=\"" +
                           Name + "\", Password=\"" + MaskPassword(Pass) + "\"";
  return RunMethod(Res, "Set operator failed", Line, [&] {
    CheckUnsignedArgument(OperNom, UINT16_MAX, "OperNom");
    CheckTextArgument(TTextField::OperatorPassword, Pass, "OperPass");
    Check(FDevice->SetFPR_Operator(static_cast<uint16_t>(OperNom), Pass, Name));
  });
}

// ---------------------------------------------------------------------------------------
// IObjectSafety

HRESULT TMiravokFprn::GetInterfaceSafetyOptions(REFIID, DWORD*, DWORD*) { return S_OK; }

HRESULT TMiravokFprn::SetInterfaceSafetyOptions(REFIID, DWORD, DWORD) { return S_OK; }

}  // namespace fp
