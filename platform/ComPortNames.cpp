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

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The identities of the devices at the given indexes (see ComPortNames.h); empty for a
// device whose identity an earlier one already has.
std::vector<std::string> Identities(const std::vector<TSerialDevice>& devices,
                                    const std::vector<std::size_t>& indexes) {
  std::vector<std::string> out;
  for (std::size_t i : indexes) {
    const TSerialDevice& d = devices[i];
    // A by-id link names one device only when it carries a serial number; adapters without
    // one (or clones that share one) would all have the same link.
    bool uniqueById = !d.ById.empty() && !d.SerialNumber.empty();
    for (std::size_t j : indexes) uniqueById = uniqueById && (j == i || !EqualNoCase(devices[j].ById, d.ById));
    std::string id = uniqueById ? d.ById : !d.ByPath.empty() ? d.ByPath : d.DevNode;
    for (const std::string& earlier : out)
      if (EqualNoCase(earlier, id)) id.clear();
    out.push_back(std::move(id));
  }
  return out;
}

std::vector<TComPortAssignment> ParseStored(const std::vector<TRegValue>& values) {
  std::vector<TComPortAssignment> out;
  for (const auto& v : values)
    if (auto n = ParseComPortName(v.Data); n && !v.Name.empty()) out.push_back({v.Name, *n});
  return out;
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

TComPortNaming AssignComPortNames(const std::vector<TComPortMapping>& mappings,
                                  const std::vector<TSerialDevice>& devices,
                                  const std::vector<TComPortAssignment>& stored) {
  TComPortNaming naming;
  std::vector<TComPortName>& out = naming.Ports;
  bool used[kMaxPort + 1] = {};
  bool mapped[kMaxPort + 1] = {};
  std::vector<std::string> canonicalDevices;
  for (const auto& d : devices) canonicalDevices.push_back(Canonical(d.DevNode));
  std::vector<bool> taken(devices.size(), false);

  for (const auto& m : mappings) {
    if (m.Number < 1 || m.Number > kMaxPort || used[m.Number]) continue;
    used[m.Number] = mapped[m.Number] = true;
    TComPortName port{m.Number, ComPortName(m.Number), m.Path, true, Exists(m.Path), std::nullopt, {}};
    const std::string target = Canonical(m.Path);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (canonicalDevices[i] == target) {
        taken[i] = true;
        if (!port.Device) port.Device = devices[i];
      }
    }
    out.push_back(std::move(port));
  }

  // The devices to name: not reached by a mapping, one per device node even when the
  // scanner lists a node twice.
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (taken[i]) continue;
    bool duplicate = false;
    for (std::size_t j = 0; j < i; ++j) duplicate = duplicate || canonicalDevices[j] == canonicalDevices[i];
    if (!duplicate) candidates.push_back(i);
  }
  const std::vector<std::string> ids = Identities(devices, candidates);

  // Stored numbers stay with their devices, present or not.
  bool reserved[kMaxPort + 1] = {};
  for (const auto& a : stored)
    if (a.Number >= 1 && a.Number <= kMaxPort) reserved[a.Number] = true;
  auto give = [&](std::size_t k, int number, bool added) {
    const TSerialDevice& d = devices[candidates[k]];
    used[number] = true;
    out.push_back({number, ComPortName(number), d.DevNode, false, true, d, ids[k]});
    if (added) naming.Added.push_back({ids[k], number});
  };

  std::vector<std::size_t> rest;  // indexes into candidates
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (ids[k].empty()) continue;
    int number = 0;
    for (const auto& a : stored)
      if (EqualNoCase(a.Identity, ids[k])) {
        number = a.Number;
        break;
      }
    if (number < 1 || number > kMaxPort) {
      rest.push_back(k);
    } else if (mapped[number]) {
      // A mapping holds the number now; the device waits, unnamed, to have it back.
    } else if (used[number]) {
      rest.push_back(k);  // two identities stored with one number: the first one keeps it
    } else {
      give(k, number, false);
    }
  }

  std::vector<std::size_t> pool;
  for (std::size_t k : rest) {
    const int fixed = FixedNumber(devices[candidates[k]].SysName);
    if (fixed && !used[fixed] && !reserved[fixed])
      give(k, fixed, true);
    else
      pool.push_back(k);
  }
  std::stable_sort(pool.begin(), pool.end(), [&](std::size_t a, std::size_t b) {
    return AutoOrder(devices[candidates[a]].SysName) < AutoOrder(devices[candidates[b]].SysName);
  });
  int next = 1;
  for (std::size_t k : pool) {
    while (next <= kMaxPort && (used[next] || reserved[next])) ++next;
    if (next > kMaxPort) break;
    give(k, next, true);
  }
  std::sort(out.begin(), out.end(), [](const TComPortName& a, const TComPortName& b) { return a.Number < b.Number; });
  return naming;
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

std::vector<TComPortAssignment> TComPortNames::StoredNumbers() {
  auto values = TRegistry::Values({HKEY_LOCAL_MACHINE, ComPortDeviceKey});
  return values ? ParseStored(*values) : std::vector<TComPortAssignment>{};
}

std::vector<TComPortName> TComPortNames::Assign(const std::vector<TSerialDevice>& devices) {
  const std::vector<TComPortMapping> mappings = Mappings();
  TComPortNaming naming = AssignComPortNames(mappings, devices, StoredNumbers());
  if (naming.Added.empty()) return std::move(naming.Ports);
  // New numbers: named again under the registry's lock, on the numbers stored meanwhile by
  // other processes, and stored in the same step.
  std::optional<TComPortNaming> locked;
  const bool written =
      TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, ComPortDeviceKey, [&](std::vector<TRegValue>& values) {
        locked = AssignComPortNames(mappings, devices, ParseStored(values));
        for (const TComPortAssignment& a : locked->Added) {
          auto it = std::find_if(values.begin(), values.end(),
                                 [&](const TRegValue& v) { return EqualNoCase(v.Name, a.Identity); });
          if (it != values.end())
            it->Data = ComPortName(a.Number);
          else
            values.push_back({a.Identity, ComPortName(a.Number)});
        }
        return !locked->Added.empty();
      });
  if (locked) naming = std::move(*locked);
  if (!written && !naming.Added.empty()) {
    // A number that is not stored could name another device tomorrow: not given at all.
    std::erase_if(naming.Ports, [&](const TComPortName& p) {
      return std::any_of(naming.Added.begin(), naming.Added.end(),
                         [&](const TComPortAssignment& a) { return a.Identity == p.Identity && !p.Mapped; });
    });
  }
  return std::move(naming.Ports);
}

std::optional<std::string> TComPortNames::PathOf(std::string_view name) {
  if (!name.empty() && name[0] == '/') return std::string(name);
  auto n = ParseComPortName(name);
  if (!n) return std::nullopt;
  for (const auto& m : Mappings())
    if (m.Number == *n) return m.Path;
  for (const auto& port : Assign(ScanDevices()))
    if (port.Number == *n) return port.Path;
  return std::nullopt;
}

std::optional<std::string> TComPortNames::NameOf(std::string_view path) {
  const std::string target = Canonical(std::string(path));
  for (const auto& port : Assign(ScanDevices()))
    if (port.Path == path || Canonical(port.Path) == target) return port.Name;
  return std::nullopt;
}

std::vector<TComPortName> TComPortNames::PresentPorts() {
  auto ports = Assign(ScanDevices());
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
