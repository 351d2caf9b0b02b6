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
  for (int i = 1; i < Argc; ++i) {
    const std::string a = Argv[i];
    auto value = [&]() -> const char* { return i + 1 < Argc ? Argv[++i] : nullptr; };
    if (a == "--com") {
      const char* v = value();
      if (!v) return false;
      char* end = nullptr;
      const long n = std::strtol(v, &end, 10);
      if (*v == '\0' || *end != '\0' || n < 1 || n > 255) return false;
      O.Com = static_cast<int>(n);
    } else if (a == "--tcp") {
      O.Tcp = true;
    } else if (a == "--online") {
      O.Online = true;
    } else if (a == "--quiet") {
      O.Quiet = true;
    } else if (a == "--serial" || a == "--fm" || a == "--model") {
      const char* v = value();
      if (!v) return false;
      // Texts of the printer are code page 1251; the terminal gives UTF-8.
      (a == "--serial" ? O.Serial : a == "--fm" ? O.FmNumber : O.ModelName) = Utf8ToCp1251(v);
    } else {
      return false;
    }
  }
  return true;
}

// Printer bytes for a terminal: printable text as UTF-8, every other byte as <HH>.
std::string Readable(const std::string& Bytes) {
  std::string out;
  for (char c : Bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || b == 0x98) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", b);
      out += hex;
    } else {
      out += Cp1251ToUtf8(std::string(1, c));
    }
  }
  return out;
}

std::string RequestLine(const model::Request& R, const std::map<uint8_t, std::string>& Names) {
  char head[64];
  std::snprintf(head, sizeof head, "#%llu %02X ", static_cast<unsigned long long>(R.index), R.cmd);
  const auto name = Names.find(R.cmd);
  std::string line = head + (name != Names.end() ? name->second : std::string("?")) + " \"" + Readable(R.data) + "\"";
  if (!R.frameOk) return line + "  bad frame: NAK";
  line += " -> \"" + Readable(R.answerData) + "\"";
  char status[40];
  std::snprintf(status, sizeof status, "  status %02X %02X %02X %02X %02X %02X", R.status[0], R.status[1], R.status[2],
                R.status[3], R.status[4], R.status[5]);
  line += status;
  if (R.repeat) line += "  (repeat)";
  if (R.fault) line += std::string("  [") + model::FaultName(*R.fault) + "]";
  return line;
}

}  // namespace

int main(int Argc, char** Argv) {
  TOptions options;
  if (!ParseOptions(Argc, Argv, options)) {
    Usage(stderr);
    return 2;
  }

  model::PrinterModel model;
  if (options.Serial) model.SetSerialNumber(*options.Serial);
  if (options.FmNumber) model.SetFiscalMemoryNumber(*options.FmNumber);
  if (options.ModelName) model.SetModelName(*options.ModelName);
  if (options.Online) model.SetModeWord("ONLINE");
  // Only the latest requests are kept: the program may run for days.
  model.SetRequestLimit(1000);

  std::map<uint8_t, std::string> names;
  for (const model::CommandRow& row : model::StandardCommands()) names[row.cmd] = row.name;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  std::unique_ptr<model::PtyEndpoint> pty;
  std::unique_ptr<model::TcpEndpoint> tcp;
  const std::string comName = ComPortName(options.Com);
  std::optional<std::string> previousMapping;
  const auto diag = model.State().diag;
  if (options.Tcp) {
    tcp = std::make_unique<model::TcpEndpoint>(model);
    std::printf("Printer model listening on %s:%u (InitTCP)\n", tcp->Host().c_str(), tcp->Port());
  } else {
    pty = std::make_unique<model::PtyEndpoint>(model);
    for (const TComPortMapping& m : TComPortNames::Mappings())
      if (m.Number == options.Com) previousMapping = m.Path;
    const std::optional<std::string> registryFile = TRegistry::FileName();
    if (!registryFile) {
      std::fprintf(stderr, "printer_model: %s\n", TRegistry::NoFileText);
      return 1;
    }
    if (!TComPortNames::SetMapping(comName, pty->SlavePath())) {
      std::fprintf(stderr, "printer_model: cannot write the mapping of %s into %s\n", comName.c_str(),
                   registryFile->c_str());
      return 1;
    }
    std::printf("Printer model on %s = %s (registry %s)\n", comName.c_str(), pty->SlavePath().c_str(),
                registryFile->c_str());
  }
  std::printf("Model %s, mode %s, serial %s, fiscal memory %s. Ctrl+C stops.\n", Readable(diag.model).c_str(),
              Readable(diag.modeWord).c_str(), Readable(diag.serial).c_str(), Readable(diag.fmNumber).c_str());
  std::fflush(stdout);

  uint64_t next = 0;
  while (!StopRequested) {
    std::this_thread::sleep_for(50ms);
    if (options.Quiet) continue;
    for (const model::Request& r : model.Requests()) {
      if (r.index < next) continue;
      std::printf("%s\n", RequestLine(r, names).c_str());
      next = r.index + 1;
    }
    std::fflush(stdout);
  }

  if (pty) {
    // The pty goes away with the program: its name goes back to what it named before.
    if (previousMapping)
      TComPortNames::SetMapping(comName, *previousMapping);
    else
      TComPortNames::RemoveMapping(comName);
  }
  const auto state = model.State();
  std::printf("Stopped after %zu receipt(s).\n", state.closed.size());
  return 0;
}
