// The printer model as a program: a fake fiscal printer to try the library and the tray
// program without a printer. It serves the stateful printer model on a pty that it names
// COMn in the registry (or on a TCP port of 127.0.0.1) until Ctrl+C, and prints every
// request with its answer as a readable line.
//
//   build/bin/printer_model                    # a pty named COM7
//   build/bin/printer_model --com 3 --online   # COM3, a printer in the ONLINE mode
//   build/bin/printer_model --tcp              # TCP; prints the port it listens on
//
// Options: --com N, --tcp, --serial TEXT, --fm TEXT, --model TEXT, --online, --quiet.
// On exit the COM name is given back to whatever it named before.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/ComPortNames.h"
#include "platform/Cp1251.h"
#include "platform/Registry.h"
#include "tests/printermodel/PrinterModel.h"

namespace {

using namespace fp;
using namespace std::chrono_literals;

volatile std::sig_atomic_t StopRequested = 0;

void OnSignal(int) { StopRequested = 1; }

struct TOptions {
  int Com = 7;
  bool Tcp = false;
  bool Online = false;
  bool Quiet = false;
  std::optional<std::string> Serial, FmNumber, ModelName;
};

void Usage(FILE* To) {
  std::fprintf(To,
               "usage: printer_model [--com N | --tcp] [--serial TEXT] [--fm TEXT] [--model TEXT]\n"
               "                     [--online] [--quiet]\n"
               "  --com N        serve a pty named COMN (1..255) in the registry (default 7)\n"
               "  --tcp          listen on 127.0.0.1 instead (the port is printed)\n"
               "  --serial TEXT  the printer's serial number (default AB123456)\n"
               "  --fm TEXT      the fiscal memory number (default 50123456)\n"
               "  --model TEXT   the model name of the diagnostic information\n"
               "  --online       a printer in the ONLINE mode (refunds, credit notes, sale numbers)\n"
               "  --quiet        print no request lines\n");
}

bool ParseOptions(int Argc, char** Argv, TOptions& O) {
  for (int I = 1; I < Argc; ++I) {
    const std::string A = Argv[I];
    auto Value = [&]() -> const char* { return I + 1 < Argc ? Argv[++I] : nullptr; };
    if (A == "--com") {
      const char* V = Value();
      if (!V) return false;
      char* End = nullptr;
      const long N = std::strtol(V, &End, 10);
      if (*V == '\0' || *End != '\0' || N < 1 || N > 255) return false;
      O.Com = static_cast<int>(N);
    } else if (A == "--tcp") {
      O.Tcp = true;
    } else if (A == "--online") {
      O.Online = true;
    } else if (A == "--quiet") {
      O.Quiet = true;
    } else if (A == "--serial" || A == "--fm" || A == "--model") {
      const char* V = Value();
      if (!V) return false;
      // Texts of the printer are code page 1251; the terminal gives UTF-8.
      (A == "--serial" ? O.Serial : A == "--fm" ? O.FmNumber : O.ModelName) = Utf8ToCp1251(V);
    } else {
      return false;
    }
  }
  return true;
}

// Printer bytes for a terminal: printable text as UTF-8, every other byte as <HH>.
std::string Readable(const std::string& Bytes) {
  std::string Out;
  for (char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    if (B < 0x20 || B == 0x7F || B == 0x98) {
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "<%02X>", B);
      Out += Hex;
    } else {
      Out += Cp1251ToUtf8(std::string(1, C));
    }
  }
  return Out;
}

std::string RequestLine(const model::Request& R, const std::map<uint8_t, std::string>& Names) {
  char Head[64];
  std::snprintf(Head, sizeof Head, "#%llu %02X ", static_cast<unsigned long long>(R.index), R.cmd);
  const auto Name = Names.find(R.cmd);
  std::string Line = Head + (Name != Names.end() ? Name->second : std::string("?")) + " \"" + Readable(R.data) + "\"";
  if (!R.frameOk) return Line + "  bad frame: NAK";
  Line += " -> \"" + Readable(R.answerData) + "\"";
  char Status[40];
  std::snprintf(Status, sizeof Status, "  status %02X %02X %02X %02X %02X %02X", R.status[0], R.status[1],
                R.status[2], R.status[3], R.status[4], R.status[5]);
  Line += Status;
  if (R.repeat) Line += "  (repeat)";
  if (R.fault) Line += std::string("  [") + model::FaultName(*R.fault) + "]";
  return Line;
}

}  // namespace

int main(int Argc, char** Argv) {
  TOptions Options;
  if (!ParseOptions(Argc, Argv, Options)) {
    Usage(stderr);
    return 2;
  }

  model::PrinterModel Model;
  if (Options.Serial) Model.SetSerialNumber(*Options.Serial);
  if (Options.FmNumber) Model.SetFiscalMemoryNumber(*Options.FmNumber);
  if (Options.ModelName) Model.SetModelName(*Options.ModelName);
  if (Options.Online) Model.SetModeWord("ONLINE");
  // Only the latest requests are kept: the program may run for days.
  Model.SetRequestLimit(1000);

  std::map<uint8_t, std::string> Names;
  for (const model::CommandRow& Row : model::StandardCommands()) Names[Row.cmd] = Row.name;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  std::unique_ptr<model::PtyEndpoint> Pty;
  std::unique_ptr<model::TcpEndpoint> Tcp;
  const std::string ComName = ComPortName(Options.Com);
  std::optional<std::string> PreviousMapping;
  const auto Diag = Model.State().diag;
  if (Options.Tcp) {
    Tcp = std::make_unique<model::TcpEndpoint>(Model);
    std::printf("Printer model listening on %s:%u (InitTCP)\n", Tcp->Host().c_str(), Tcp->Port());
  } else {
    Pty = std::make_unique<model::PtyEndpoint>(Model);
    for (const TComPortMapping& M : TComPortNames::Mappings())
      if (M.Number == Options.Com) PreviousMapping = M.Path;
    const std::optional<std::string> RegistryFile = TRegistry::FileName();
    if (!RegistryFile) {
      std::fprintf(stderr, "printer_model: %s\n", TRegistry::NoFileText);
      return 1;
    }
    if (!TComPortNames::SetMapping(ComName, Pty->SlavePath())) {
      std::fprintf(stderr, "printer_model: cannot write the mapping of %s into %s\n", ComName.c_str(),
                   RegistryFile->c_str());
      return 1;
    }
    std::printf("Printer model on %s = %s (registry %s)\n", ComName.c_str(), Pty->SlavePath().c_str(),
                RegistryFile->c_str());
  }
  std::printf("Model %s, mode %s, serial %s, fiscal memory %s. Ctrl+C stops.\n", Readable(Diag.model).c_str(),
              Readable(Diag.modeWord).c_str(), Readable(Diag.serial).c_str(), Readable(Diag.fmNumber).c_str());
  std::fflush(stdout);

  uint64_t Next = 0;
  while (!StopRequested) {
    std::this_thread::sleep_for(50ms);
    if (Options.Quiet) continue;
    for (const model::Request& R : Model.Requests()) {
      if (R.index < Next) continue;
      std::printf("%s\n", RequestLine(R, Names).c_str());
      Next = R.index + 1;
    }
    std::fflush(stdout);
  }

  if (Pty) {
    // The pty goes away with the program: its name goes back to what it named before.
    if (PreviousMapping)
      TComPortNames::SetMapping(ComName, *PreviousMapping);
    else
      TComPortNames::RemoveMapping(ComName);
  }
  const auto State = Model.State();
  std::printf("Stopped after %zu receipt(s).\n", State.closed.size());
  return 0;
}
