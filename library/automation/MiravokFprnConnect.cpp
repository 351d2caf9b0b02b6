// Connecting TMiravokFprn to the printer: Init (serial port), InitTCP, InitEx (searching
// the serial ports for a printer), Close, and the status check and model test that the
// other methods use.
#include "library/automation/MiravokFprnConnect.h"

#include <string>
#include <vector>

#include "library/protocol/DeviceText.h"
#include "library/transport/EnumPorts.h"
#include "library/automation/MiravokFprnUnit.h"
#include "library/transport/RS232DeviceUnit.h"
#include "library/transport/TCPDeviceUnit.h"
#include "library/protocol/WireNumbers.h"

namespace fp {

const std::array<const char*, 8> LineLengthModelList = {
    "Kestrel S", "Kestrel M",                       // 35 characters
    "Wren S",    "Wren M",                          // 29 characters
    "Heron S",   "Heron M",  "Heron L", "Heron XL",  // 45 characters
};

const std::array<const char*, 10> ExtendedModelList = {
    "KESTREL S", "KESTREL M", "HERON S",  "HERON M",  "HERON L",
    "HERON XL",  "EGRET 1",   "EGRET 2",  "PLOVER 1", "PLOVER 2",
};

namespace {

// Letters a to z raised to capitals; every other byte unchanged.
std::string UpperAscii(std::string_view S) {
  std::string R(S);
  for (char& C : R)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return R;
}

// FLocale from the Locale argument: below 4 taken as an unsigned number, else 0 (so
// negative values and values from 4 up mean Bulgarian).
std::uint8_t LocaleFrom(LONG Locale) {
  return static_cast<uint32_t>(Locale) < 4 ? static_cast<std::uint8_t>(Locale) : 0;
}

// The port number of a port list entry: its name in capitals with every "COM" removed,
// read as a decimal number; 0 when that is no number or not above 0.
int32_t PortNumberOf(const std::string& Name) {
  std::string S = UpperAscii(Name);
  for (size_t At; (At = S.find("COM")) != std::string::npos;) S.erase(At, 3);
  int64_t N = 0;
  if (!ParseWireInteger(S, N) || N <= 0 || N > INT32_MAX) return 0;
  return static_cast<int32_t>(N);
}

std::string ComName(int32_t Port) { return "COM" + std::to_string(Port); }

}  // namespace

std::uint8_t ModelLineLength(std::string_view Model) {
  for (size_t I = 0; I < LineLengthModelList.size(); ++I) {
    if (Model.find(LineLengthModelList[I]) == std::string_view::npos) continue;
    if (I < 2) return 35;
    if (I < 4) return 29;
    return 45;
  }
  return DefaultLineLength;
}

bool IsExtendedModel(std::string_view Model) {
  const std::string Upper = UpperAscii(Model);
  for (const char* Fragment : ExtendedModelList)
    if (Upper.find(Fragment) != std::string::npos) return true;
  return Model.find(MakerModelName) != std::string_view::npos;
}

// ---------------------------------------------------------------------------------------
// Operations the other methods use

void TMiravokFprn::CheckPrinterStatus() {
  LogMessage("CheckPrinterStatus..", LogInfo);
  Check(FDevice->GetFPR_Status(true, FStatusBytes));
  std::string Text;
  if (!FDevice->StatusErrorsTextAndCode(FStatusBytes, Text)) {
    const int32_t Code = FDevice->FErrorCode != 0 ? FDevice->FErrorCode : ErrNotInitialized;
    throw ECRException(Code, Text);
  }
}

bool TMiravokFprn::SupportsExtendedCommands() { return IsExtendedModel(FDiagnosticInfo.Text[0]); }

void TMiravokFprn::ReadPrinterData() {
  CheckPrinterStatus();
  TDiagnosticInfo Info;
  Check(FDevice->GetFPR_DiagnosticInfo(false, Info));
  FDiagnosticInfo = Info;
  FLineLength = ModelLineLength(FDiagnosticInfo.Text[0]);
}

void TMiravokFprn::LogPrinterData() {
  LogMessage("  > Model=" + QuotedStr(FDiagnosticInfo.Text[0]) +
                 " LineLength=" + std::to_string(FLineLength),
             LogInfo);
  LogMessage("  > Serial=" + QuotedStr(FDiagnosticInfo.Text[6]), LogInfo);
}

template <class TMake>
bool TMiravokFprn::ReplaceTransport(const std::string& Context, TMake&& Make) {
  try {
    // The old transport goes first, so that the object never holds two.
    FDevice.reset();
    FDevice = Make();
    return true;
  } catch (const std::exception& E) {
    FDevice.reset();
    SetLastErrorFrom(E, Context, "");
  }
  return false;
}

void TMiravokFprn::BeginInitialisation() {
  ClearLastError();
  FLocale = 0;
  FPrintInvDublicate = false;
  // A new connection starts without a receipt: what the object knew of a receipt of the
  // old link (a non-fiscal one, say) would send the next sale the wrong way.
  ResetReceiptState();
}

template <class TMake, class TConfigure>
void TMiravokFprn::OpenInitialisedLink(LONG* Res, TMake&& Make, TConfigure&& Configure) {
  decltype(Make().get()) Device = nullptr;
  if (!ReplaceTransport("Init failed", [&] {
        auto Made = Make();
        Device = Made.get();
        return Made;
      }))
    return;
  try {
    Configure(*Device);
    Check(FDevice->Connect());
    ReadPrinterData();
    if (SupportsExtendedCommands()) {
      TPrnConst Consts;
      if (!FDevice->GetFPR_Constants(Consts)) {
        LogMessage("Printer does not support \"GetFPR_Constants\"" + FDevice->FErrorText, LogInfo);
        ClearLastError();
      } else {
        // The printer's own line length, when it gives a plausible one; a count that does
        // not fit the line length's byte keeps the model list's value.
        int64_t Length = 0;
        if (ParseWireInteger(TrimControls(Consts.Text[8]), Length) && Length > 25 && Length <= 255)
          FLineLength = static_cast<std::uint8_t>(Length);
      }
    }
    ResetReceiptData();
    FOnline = FDiagnosticInfo.Text[1].find("ONLINE") != std::string::npos;
    LogPrinterData();
    FLastUniqueSellNo.clear();
    if (Res) *Res = 0;
  } catch (const std::exception& E) {
    SetLastErrorFrom(E, "Init failed", "");
    FDevice.reset();
  }
}

// ---------------------------------------------------------------------------------------
// Init, InitTCP, InitEx, Close

HRESULT TMiravokFprn::Init(LONG ComPort, LONG PortSpeed, LONG Locale, LONG Language,
                           BSTR SerialKey, LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    // The call line comes before the handlers: a log writer that fails here escapes.
    LogMessage("Init. ComPort=" + std::to_string(ComPort) + " PortSpeed=" + std::to_string(PortSpeed) +
                   " Locale=" + std::to_string(Locale) + " Language=" + std::to_string(Language) +
                   " SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    const int32_t Port = ComPort >= 1 && ComPort <= 255 ? ComPort : 1;
    FComPort = Port;
    FLocale = LocaleFrom(Locale);
    OpenInitialisedLink(
        Res, [&] { return std::make_unique<TRS32Device>(nullptr, *FTransportClock); },
        [&](TRS32Device& Serial) {
          Serial.SetPortName(ComName(Port));
          // Speeds the serial layer does not know become 9600.
          Serial.SetBaudRate(std::to_string(PortSpeed));
        });
  });
}

HRESULT TMiravokFprn::InitTCP(BSTR IPAddress, LONG IPPort, LONG Locale, LONG Language,
                              BSTR SerialKey, LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    const std::string Host = BstrToAnsi(IPAddress);
    LogMessage("InitTCP. IPAddress=" + Host + ", IPPort=" + std::to_string(IPPort) +
                   ", Locale=" + std::to_string(Locale) + ", Language=" + std::to_string(Language) +
                   ", SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    FLocale = LocaleFrom(Locale);
    OpenInitialisedLink(
        Res, [&] { return std::make_unique<TTCPDevice>(*FTransportClock); },
        [&](TTCPDevice& Tcp) {
          Tcp.SetHost(Host);
          Tcp.SetPort(std::to_string(IPPort));
        });
  });
}

HRESULT TMiravokFprn::InitEx(LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey,
                             BSTR DeviceSerialNo, LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    const std::string Wanted = BstrToAnsi(DeviceSerialNo);
    LogMessage("InitEx. PortSpeed=" + std::to_string(PortSpeed) + " Locale=" + std::to_string(Locale) +
                   " DeviceSerialNo=\"" + Wanted + "\" Language=" + std::to_string(Language) +
                   " SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    ResetReceiptData();
    FLastUniqueSellNo.clear();

    const std::string Context = "InitEx failed";
    TPortList Ports;
    TRS32Device* Serial = nullptr;
    // Preparation: a failure here keeps the old transport unless it was already freed.
    try {
      Ports = EnumeratePorts();
      if (Ports.empty()) {
        // FLocale is still 0 here: the text is the Bulgarian one, whatever the Locale.
        std::string Text;
        GetReceiptText(57, Text);
        throw ECRException(ErrNoComPorts, Text);
      }
      FLocale = LocaleFrom(Locale);
    } catch (const std::exception& E) {
      SetLastErrorFrom(E, Context, "");
      return;
    }
    if (!ReplaceTransport(Context, [&] {
          auto Device = std::make_unique<TRS32Device>(nullptr, *FTransportClock);
          Device->SetBaudRate(std::to_string(PortSpeed));
          Serial = Device.get();
          return Device;
        }))
      return;

    // The search. From here on a failure frees the transport.
    try {
      // The port of the last success is tried first: it changes places with the first one.
      const std::string Last = ComName(LastFoundPort.load());
      for (size_t I = 1; I < Ports.size(); ++I) {
        if (Ports[I].Name == Last) {
          std::swap(Ports[0], Ports[I]);
          break;
        }
      }
      const std::string Serials = TrimControls(Wanted);
      int32_t Found = -1;
      for (const TPortEntry& Entry : Ports) {
        LogMessage("InitEx. Checking for FU on port: " + Entry.Name, LogInfo);
        const int32_t N = PortNumberOf(Entry.Name);
        if (N <= 0) continue;
        try {
          Serial->SetPortName(ComName(N));
          Check(Serial->Connect());
          TDiagnosticInfo Info;
          Check(Serial->GetFPR_DiagnosticInfo(false, Info));
          if (Found <= 0) Found = N;  // the first printer that answered
          const std::string& SerialNo = Info.Text[6];
          if (!SerialNo.empty() && !Serials.empty() && Serials.find(SerialNo) != std::string::npos) {
            Found = N;
            break;
          }
        } catch (const std::exception& E) {
          // One port that fails is only logged; the search goes on.
          LogMessage(std::string("InitEx error: ") + E.what(), LogInfo);
        }
      }
      if (Found <= 0) {
        std::string Text;
        GetReceiptText(58, Text);
        throw ECRException(ErrNoDevices, Text);
      }
      Serial->Disconnect();
      Serial->SetPortName(ComName(Found));
      Check(Serial->Connect());
      // The line length comes from the model list alone: InitEx reads no constants.
      ReadPrinterData();
      LogPrinterData();
      LastFoundPort = Found;
      FComPort = Found;
      FOnline = FDiagnosticInfo.Text[1].find("ONLINE") != std::string::npos;
      if (Res) *Res = 0;
    } catch (const std::exception& E) {
      SetLastErrorFrom(E, Context, "");
      FDevice.reset();
    }
  });
}

HRESULT TMiravokFprn::Close() {
  return Guard([&] {
    ClearLastError();
    LogMessage(" Close connection", LogInfo);
    if (!FDevice) return;
    try {
      // A receipt left open on the printer is closed or cancelled first.
      if (!FDevice->FPR_CloseOpenReceipts()) throw EAbort(FDevice->FErrorText);
      // The transport stays: later methods fail with "COM port is not active".
      if (FDevice->IsConnected()) FDevice->Disconnect();
    } catch (const std::exception& E) {
      FDevice.reset();
      // Close has no result: it reports in the message only and leaves the code 0.
      FLastErrorMessage = std::string("Close. ") + E.what();
      FLastErrorCode = 0;
      LogMessage(std::string(" Close connection failed:") + E.what(), LogError);
    }
  });
}

}  // namespace fp
