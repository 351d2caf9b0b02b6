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
    "Kestrel S", "Kestrel M",                         // 35 characters
    "Wren S",    "Wren M",                            // 29 characters
    "Heron S",   "Heron M",   "Heron L", "Heron XL",  // 45 characters
};

const std::array<const char*, 10> ExtendedModelList = {
    "KESTREL S", "KESTREL M", "HERON S", "HERON M", "HERON L", "HERON XL", "EGRET 1", "EGRET 2", "PLOVER 1", "PLOVER 2",
};

namespace {

// Letters a to z raised to capitals; every other byte unchanged.
std::string UpperAscii(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

// FLocale from the Locale argument: below 4 taken as an unsigned number, else 0 (so
// negative values and values from 4 up mean Bulgarian).
std::uint8_t LocaleFrom(LONG Locale) {
  return static_cast<uint32_t>(Locale) < 4 ? static_cast<std::uint8_t>(Locale) : 0;
}

// The port number of a port list entry: its name in capitals with every "COM" removed,
// read as a decimal number; 0 when that is no number or not above 0.
int32_t PortNumberOf(const std::string& Name) {
  std::string s = UpperAscii(Name);
  for (size_t at; (at = s.find("COM")) != std::string::npos;) s.erase(at, 3);
  int64_t n = 0;
  if (!ParseWireInteger(s, n) || n <= 0 || n > INT32_MAX) return 0;
  return static_cast<int32_t>(n);
}

std::string ComName(int32_t Port) { return "COM" + std::to_string(Port); }

// The port search tries a port that another program held again after this pause, and
// goes on trying it while it stays busy until this long after its first pass over the
// ports (at least once): another desk's search holds a port only for one probe.
constexpr int kBusyPortPauseMs = 250;
constexpr long long kBusyPortRetryMs = 3000;

}  // namespace

std::uint8_t ModelLineLength(std::string_view Model) {
  for (size_t i = 0; i < LineLengthModelList.size(); ++i) {
    if (Model.find(LineLengthModelList[i]) == std::string_view::npos) continue;
    if (i < 2) return 35;
    if (i < 4) return 29;
    return 45;
  }
  return DefaultLineLength;
}

bool IsExtendedModel(std::string_view Model) {
  const std::string upper = UpperAscii(Model);
  for (const char* fragment : ExtendedModelList)
    if (upper.find(fragment) != std::string::npos) return true;
  return Model.find(MakerModelName) != std::string_view::npos;
}

// ---------------------------------------------------------------------------------------
// Operations the other methods use

void TMiravokFprn::CheckPrinterStatus() {
  LogMessage("CheckPrinterStatus..", LogInfo);
  Check(FDevice->GetFPR_Status(true, FStatusBytes));
  std::string text;
  if (!FDevice->StatusErrorsTextAndCode(FStatusBytes, text)) {
    const int32_t code = FDevice->FErrorCode != 0 ? FDevice->FErrorCode : ErrNotInitialized;
    throw ECRException(code, text);
  }
}

bool TMiravokFprn::SupportsExtendedCommands() { return IsExtendedModel(FDiagnosticInfo.Text[0]); }

void TMiravokFprn::ReadPrinterData() {
  CheckPrinterStatus();
  TDiagnosticInfo info;
  Check(FDevice->GetFPR_DiagnosticInfo(false, info));
  FDiagnosticInfo = info;
  FLineLength = ModelLineLength(FDiagnosticInfo.Text[0]);
}

void TMiravokFprn::LogPrinterData() {
  LogMessage("  > Model=" + QuotedStr(FDiagnosticInfo.Text[0]) + " LineLength=" + std::to_string(FLineLength), LogInfo);
  LogMessage("  > Serial=" + QuotedStr(FDiagnosticInfo.Text[6]), LogInfo);
}

template <class TMake>
bool TMiravokFprn::ReplaceTransport(const std::string& Context, TMake&& Make) {
  try {
    // The old transport goes first, so that the object never holds two.
    FDevice.reset();
    FDevice = Make();
    return true;
  } catch (const std::exception& e) {
    FDevice.reset();
    SetLastErrorFrom(e, Context, "");
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
  decltype(Make().get()) device = nullptr;
  if (!ReplaceTransport("Init failed", [&] {
        auto made = Make();
        device = made.get();
        return made;
      }))
    return;
  try {
    Configure(*device);
    Check(FDevice->Connect());
    ReadPrinterData();
    if (SupportsExtendedCommands()) {
      TPrnConst consts;
      if (!FDevice->GetFPR_Constants(consts)) {
        LogMessage("Printer does not support \"GetFPR_Constants\"" + FDevice->FErrorText, LogInfo);
        ClearLastError();
      } else {
        // The printer's own line length, when it gives a plausible one; a count that does
        // not fit the line length's byte keeps the model list's value.
        int64_t length = 0;
        if (ParseWireInteger(TrimControls(consts.Text[8]), length) && length > 25 && length <= 255)
          FLineLength = static_cast<std::uint8_t>(length);
      }
    }
    ResetReceiptData();
    FOnline = FDiagnosticInfo.Text[1].find("ONLINE") != std::string::npos;
    LogPrinterData();
    FLastUniqueSellNo.clear();
    if (Res) *Res = 0;
  } catch (const std::exception& e) {
    SetLastErrorFrom(e, "Init failed", "");
    FDevice.reset();
  }
}

// ---------------------------------------------------------------------------------------
// Init, InitTCP, InitEx, Close

HRESULT TMiravokFprn::Init(LONG ComPort, LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    // The call line comes before the handlers: a log writer that fails here escapes.
    LogMessage("Init. ComPort=" + std::to_string(ComPort) + " PortSpeed=" + std::to_string(PortSpeed) +
                   " Locale=" + std::to_string(Locale) + " Language=" + std::to_string(Language) +
                   " SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    const int32_t port = ComPort >= 1 && ComPort <= 255 ? ComPort : 1;
    FComPort = port;
    FLocale = LocaleFrom(Locale);
    OpenInitialisedLink(
        Res, [&] { return std::make_unique<TRS32Device>(nullptr, *FTransportClock); },
        [&](TRS32Device& Serial) {
          Serial.SetPortName(ComName(port));
          // Speeds the serial layer does not know become 9600.
          Serial.SetBaudRate(std::to_string(PortSpeed));
        });
  });
}

HRESULT TMiravokFprn::InitTCP(BSTR IPAddress, LONG IPPort, LONG Locale, LONG Language, BSTR SerialKey, LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    const std::string host = BstrToAnsi(IPAddress);
    LogMessage("InitTCP. IPAddress=" + host + ", IPPort=" + std::to_string(IPPort) +
                   ", Locale=" + std::to_string(Locale) + ", Language=" + std::to_string(Language) +
                   ", SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    FLocale = LocaleFrom(Locale);
    OpenInitialisedLink(
        Res, [&] { return std::make_unique<TTCPDevice>(*FTransportClock); },
        [&](TTCPDevice& Tcp) {
          Tcp.SetHost(host);
          Tcp.SetPort(std::to_string(IPPort));
        });
  });
}

HRESULT TMiravokFprn::InitEx(LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, BSTR DeviceSerialNo,
                             LONG* Res) {
  return Guard([&] {
    if (Res) *Res = -1;
    const std::string wanted = BstrToAnsi(DeviceSerialNo);
    LogMessage("InitEx. PortSpeed=" + std::to_string(PortSpeed) + " Locale=" + std::to_string(Locale) +
                   " DeviceSerialNo=\"" + wanted + "\" Language=" + std::to_string(Language) +
                   " SerialKey=" + QuotedStr(BstrToAnsi(SerialKey)),
               LogInfo);
    BeginInitialisation();
    ResetReceiptData();
    FLastUniqueSellNo.clear();

    const std::string context = "InitEx failed";
    TPortList ports;
    TRS32Device* serial = nullptr;
    // Preparation: a failure here keeps the old transport unless it was already freed.
    try {
      ports = EnumeratePorts();
      if (ports.empty()) {
        // FLocale is still 0 here: the text is the Bulgarian one, whatever the Locale.
        std::string text;
        GetReceiptText(57, text);
        throw ECRException(ErrNoComPorts, text);
      }
      FLocale = LocaleFrom(Locale);
    } catch (const std::exception& e) {
      SetLastErrorFrom(e, context, "");
      return;
    }
    if (!ReplaceTransport(context, [&] {
          auto device = std::make_unique<TRS32Device>(nullptr, *FTransportClock);
          device->SetBaudRate(std::to_string(PortSpeed));
          serial = device.get();
          return device;
        }))
      return;

    // The search. From here on a failure frees the transport.
    try {
      // The port of the last success is tried first: it changes places with the first one.
      const std::string last = ComName(LastFoundPort.load());
      for (size_t i = 1; i < ports.size(); ++i) {
        if (ports[i].Name == last) {
          std::swap(ports[0], ports[i]);
          break;
        }
      }
      const std::string serials = TrimControls(wanted);
      int32_t found = -1;
      bool matched = false;
      // The ports that another program held when they were tried (another desk's search
      // probing them, say): they are tried again before the search gives up on them.
      std::vector<int32_t> busy;
      // Probes port N: opens it, reads the printer's diagnostic information and closes it
      // again at once, unless its printer is the one asked for (the search then stops with
      // that port open, so that no other program can take it in between). A failure is
      // only logged.
      auto probe = [&](int32_t N) {
        try {
          serial->SetPortName(ComName(N));
          if (!serial->Connect()) {
            if (serial->PortInUse()) busy.push_back(N);
            RaiseDeviceError();
          }
          TDiagnosticInfo info;
          const bool answered = serial->GetFPR_DiagnosticInfo(false, info);
          const std::string& serialNo = info.Text[6];
          matched = answered && !serialNo.empty() && !serials.empty() && serials.find(serialNo) != std::string::npos;
          if (!matched) {
            try {
              serial->Disconnect();
            } catch (const std::exception&) {
              // The port is closed all the same.
            }
          }
          Check(answered);
          if (found <= 0 || matched) found = N;  // the first printer that answered, or the one asked for
        } catch (const std::exception& e) {
          LogMessage(std::string("InitEx error: ") + e.what(), LogInfo);
        }
      };
      for (const TPortEntry& entry : ports) {
        LogMessage("InitEx. Checking for FU on port: " + entry.Name, LogInfo);
        const int32_t n = PortNumberOf(entry.Name);
        if (n <= 0) continue;
        probe(n);
        if (matched) break;
      }
      IDeviceClock& clock = *FTransportClock;
      const auto passEnd = clock.Now();
      auto keepTrying = [&] { return ElapsedMs(passEnd, clock.Now()) < kBusyPortRetryMs; };
      // The busy ports once more after a pause, and again while they stay busy, for a
      // little while.
      while (!matched && !busy.empty()) {
        clock.SleepFor(std::chrono::milliseconds(kBusyPortPauseMs));
        const std::vector<int32_t> again = std::move(busy);
        busy.clear();
        for (const int32_t n : again) {
          LogMessage("InitEx. Checking again for FU on port: " + ComName(n) + " (it was in use)", LogInfo);
          probe(n);
          if (matched) break;
        }
        if (!keepTrying()) break;
      }
      if (found <= 0) {
        std::string text;
        GetReceiptText(58, text);
        throw ECRException(ErrNoDevices, text);
      }
      if (!matched) {
        // The first printer that answered: its port may be busy for a moment as well.
        serial->Disconnect();
        serial->SetPortName(ComName(found));
        bool connected = serial->Connect();
        while (!connected && serial->PortInUse() && keepTrying()) {
          clock.SleepFor(std::chrono::milliseconds(kBusyPortPauseMs));
          connected = serial->Connect();
        }
        Check(connected);
      }
      // The line length comes from the model list alone: InitEx reads no constants.
      ReadPrinterData();
      LogPrinterData();
      LastFoundPort = found;
      FComPort = found;
      FOnline = FDiagnosticInfo.Text[1].find("ONLINE") != std::string::npos;
      if (Res) *Res = 0;
    } catch (const std::exception& e) {
      SetLastErrorFrom(e, context, "");
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
    } catch (const std::exception& e) {
      FDevice.reset();
      // Close has no result: it reports in the message only and leaves the code 0.
      FLastErrorMessage = std::string("Close. ") + e.what();
      FLastErrorCode = 0;
      LogMessage(std::string(" Close connection failed:") + e.what(), LogError);
    }
  });
}

}  // namespace fp
