#include "platform/ComPortNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <tuple>

#include "platform/Registry.h"

namespace fp {

namespace {

constexpr int kMaxPort = 255;

std::mutex gFactoryMutex;
TComPortNames::TScannerFactory gFactory;

// The path with symbolic links resolved; the path itself when it cannot be resolved.
std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Order of the automatic numbering for devices that do not get a fixed one: ttyS, then
// ttyACM, then ttyUSB, each by its kernel number, then anything else by name.
std::tuple<int, long, std::string> AutoOrder(const std::string& sysName) {
  static const char* const prefixes[] = {"ttyS", "ttyACM", "ttyUSB"};
  for (int rank = 0; rank < 3; ++rank) {
    std::string_view p = prefixes[rank];
    if (sysName.size() > p.size() && sysName.compare(0, p.size(), p) == 0 &&
        sysName.find_first_not_of("0123456789", p.size()) == std::string::npos)
      return {rank, std::strtol(sysName.c_str() + p.size(), nullptr, 10), sysName};
  }
  return {3, 0, sysName};
}

// ttyS<k> -> k + 1, when the name has that form and the number is in range.
int FixedNumber(const std::string& sysName) {
  auto [rank, number, name] = AutoOrder(sysName);
  if (rank == 0 && number + 1 <= kMaxPort) return int(number + 1);
  return 0;
}

}  // namespace

std::optional<int> ParseComPortName(std::string_view name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (int i = 0; i < 3; ++i)
    if ((name[i] & ~0x20) != "COM"[i]) return std::nullopt;
  std::string_view digits = name.substr(3);
  if (digits[0] == '0') return std::nullopt;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > kMaxPort) return std::nullopt;
  return n;
}

std::string ComPortName(int number) { return "COM" + std::to_string(number); }

std::vector<TComPortName> AssignComPortNames(const std::vector<TComPortMapping>& mappings,
                                             const std::vector<TSerialDevice>& devices) {
  std::vector<TComPortName> out;
  bool used[kMaxPort + 1] = {};
  std::vector<std::string> canonicalDevices;
  for (const auto& d : devices) canonicalDevices.push_back(Canonical(d.DevNode));
  std::vector<bool> taken(devices.size(), false);

  for (const auto& m : mappings) {
    if (m.Number < 1 || m.Number > kMaxPort || used[m.Number]) continue;
    used[m.Number] = true;
    TComPortName port{m.Number, ComPortName(m.Number), m.Path, true, Exists(m.Path), std::nullopt};
    const std::string target = Canonical(m.Path);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (canonicalDevices[i] == target) {
        taken[i] = true;
        if (!port.Device) port.Device = devices[i];
      }
    }
    out.push_back(std::move(port));
  }

  std::vector<std::size_t> pool;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (taken[i]) continue;
    // One name per device node, even when the scanner lists a node twice.
    bool duplicate = false;
    for (std::size_t j = 0; j < i; ++j) duplicate = duplicate || canonicalDevices[j] == canonicalDevices[i];
    if (duplicate) continue;
    int fixed = FixedNumber(devices[i].SysName);
    if (fixed && !used[fixed]) {
      used[fixed] = true;
      out.push_back({fixed, ComPortName(fixed), devices[i].DevNode, false, true, devices[i]});
    } else {
      pool.push_back(i);
    }
  }
  std::stable_sort(pool.begin(), pool.end(), [&](std::size_t a, std::size_t b) {
    return AutoOrder(devices[a].SysName) < AutoOrder(devices[b].SysName);
  });
  int next = 1;
  for (std::size_t i : pool) {
    while (next <= kMaxPort && used[next]) ++next;
    if (next > kMaxPort) break;
    used[next] = true;
    out.push_back({next, ComPortName(next), devices[i].DevNode, false, true, devices[i]});
  }
  std::sort(out.begin(), out.end(),
            [](const TComPortName& a, const TComPortName& b) { return a.Number < b.Number; });
  return out;
}

std::vector<TComPortMapping> TComPortNames::Mappings() {
  std::vector<TComPortMapping> out;
  auto key = TRegistry::OpenKey(HKEY_LOCAL_MACHINE, ComPortMapKey);
  if (!key) return out;
  auto values = TRegistry::Values(*key);
  if (!values) return out;
  for (const auto& v : *values) {
    auto n = ParseComPortName(v.Name);
    if (n && !v.Data.empty()) out.push_back({*n, v.Data});
  }
  std::sort(out.begin(), out.end(),
            [](const TComPortMapping& a, const TComPortMapping& b) { return a.Number < b.Number; });
  return out;
}

bool TComPortNames::SetMapping(std::string_view name, std::string_view path) {
  auto n = ParseComPortName(name);
  if (!n || path.empty()) return false;
  auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, ComPortMapKey);
  return key && TRegistry::SetValue(*key, ComPortName(*n), path);
}

bool TComPortNames::RemoveMapping(std::string_view name) {
  auto n = ParseComPortName(name);
  if (!n) return false;
  auto key = TRegistry::OpenKey(HKEY_LOCAL_MACHINE, ComPortMapKey);
  return key && TRegistry::DeleteValue(*key, ComPortName(*n));
}

std::optional<std::string> TComPortNames::PathOf(std::string_view name) {
  if (!name.empty() && name[0] == '/') return std::string(name);
  auto n = ParseComPortName(name);
  if (!n) return std::nullopt;
  auto mappings = Mappings();
  for (const auto& m : mappings)
    if (m.Number == *n) return m.Path;
  for (const auto& port : AssignComPortNames(mappings, ScanDevices()))
    if (port.Number == *n) return port.Path;
  return std::nullopt;
}

std::optional<std::string> TComPortNames::NameOf(std::string_view path) {
  const std::string target = Canonical(std::string(path));
  for (const auto& port : AssignComPortNames(Mappings(), ScanDevices()))
    if (port.Path == path || Canonical(port.Path) == target) return port.Name;
  return std::nullopt;
}

std::vector<TComPortName> TComPortNames::PresentPorts() {
  auto ports = AssignComPortNames(Mappings(), ScanDevices());
  std::erase_if(ports, [](const TComPortName& p) { return !p.Present; });
  return ports;
}

void TComPortNames::SetScannerFactory(TScannerFactory factory) {
  std::lock_guard lock(gFactoryMutex);
  gFactory = std::move(factory);
}

std::unique_ptr<TSerialDeviceScanner> TComPortNames::CreateScanner() {
  TScannerFactory factory;
  {
    std::lock_guard lock(gFactoryMutex);
    factory = gFactory;
  }
  return factory ? factory() : CreateUdevSerialScanner();
}

std::vector<TSerialDevice> TComPortNames::ScanDevices() {
  try {
    auto scanner = CreateScanner();
    if (!scanner) return {};
    auto devices = scanner->Scan();
    return devices ? std::move(*devices) : std::vector<TSerialDevice>{};
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace fp
