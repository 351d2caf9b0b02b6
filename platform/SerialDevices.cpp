#include "platform/SerialDevices.h"

#include <libudev.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/SysErrorText.h"

namespace fp {

namespace {

// "ttyUSB12" with prefix "ttyUSB" -> true when the rest is one or more digits.
bool HasNumberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  for (char c : name.substr(prefix.size()))
    if (c < '0' || c > '9') return false;
  return true;
}

std::string Text(const char* s) { return s ? s : ""; }

// udev's "_ENC" properties write unsafe bytes as \xHH.
std::string DecodeUdev(const char* s) {
  std::string out;
  for (std::size_t i = 0; s[i]; ++i) {
    if (s[i] == '\\' && s[i + 1] == 'x' && std::isxdigit((unsigned char)s[i + 2]) &&
        std::isxdigit((unsigned char)s[i + 3])) {
      out += char(std::stoi(std::string(s + i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  // Trim the padding that some devices put into their model strings.
  while (!out.empty() && out.back() == ' ') out.pop_back();
  std::size_t start = out.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : out.substr(start);
}

std::string Description(udev_device* dev) {
  if (const char* db = udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE")) return db;
  if (const char* enc = udev_device_get_property_value(dev, "ID_MODEL_ENC")) return DecodeUdev(enc);
  if (const char* model = udev_device_get_property_value(dev, "ID_MODEL")) {
    std::string out = model;
    for (char& c : out)
      if (c == '_') c = ' ';
    return out;
  }
  return {};
}

std::string ParentModalias(udev_device* dev) {
  for (udev_device* p = udev_device_get_parent(dev); p; p = udev_device_get_parent(p)) {
    if (const char* m = udev_device_get_property_value(p, "MODALIAS")) return m;
    if (const char* m = udev_device_get_sysattr_value(p, "modalias")) return m;
    // Plug-and-play devices name their hardware by an "id" attribute ("PNP0501").
    const char* subsystem = udev_device_get_subsystem(p);
    if (subsystem && std::strcmp(subsystem, "pnp") == 0)
      if (const char* id = udev_device_get_sysattr_value(p, "id")) return DecodeUdev(id);
  }
  return {};
}

// The parent that stands for the hardware: newer kernels put port devices of their own
// ("serial-base" bus, driver "port") between a UART's tty and its controller.
udev_device* HardwareParent(udev_device* dev) {
  udev_device* p = udev_device_get_parent(dev);
  while (p) {
    const char* subsystem = udev_device_get_subsystem(p);
    if (!subsystem || std::strcmp(subsystem, "serial-base") != 0) break;
    p = udev_device_get_parent(p);
  }
  return p;
}

std::string ParentDriver(udev_device* dev) {
  for (udev_device* p = HardwareParent(dev); p; p = udev_device_get_parent(p))
    if (const char* d = udev_device_get_driver(p)) return d;
  return {};
}

class TUdevSerialScanner : public TSerialDeviceScanner {
 public:
  explicit TUdevSerialScanner(udev* u) : FUdev(u) {}
  ~TUdevSerialScanner() override { udev_unref(FUdev); }

  std::optional<std::vector<TSerialDevice>> Scan() override {
    udev_enumerate* e = udev_enumerate_new(FUdev);
    if (!e) return std::nullopt;
    std::optional<std::vector<TSerialDevice>> result;
    if (udev_enumerate_add_match_subsystem(e, "tty") >= 0 && udev_enumerate_scan_devices(e) >= 0) {
      result.emplace();
      udev_list_entry* entry;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* dev = udev_device_new_from_syspath(FUdev, udev_list_entry_get_name(entry));
        if (!dev) continue;
        if (auto device = Describe(dev)) result->push_back(std::move(*device));
        udev_device_unref(dev);
      }
    }
    udev_enumerate_unref(e);
    return result;
  }

 private:
  static std::optional<TSerialDevice> Describe(udev_device* dev) {
    const char* sysName = udev_device_get_sysname(dev);
    const char* devNode = udev_device_get_devnode(dev);
    udev_device* parent = udev_device_get_parent(dev);
    if (!sysName || !devNode || !parent) return std::nullopt;
    if (!IsSerialPortDevice(sysName, udev_device_get_sysattr_value(dev, "type"))) return std::nullopt;
    TSerialDevice d;
    d.DevNode = devNode;
    d.SysName = sysName;
    d.Description = Description(dev);
    d.HardwareId = ParentModalias(dev);
    d.DevType = Text(udev_device_get_devtype(dev));
    d.Driver = ParentDriver(dev);
    d.Bus = Text(udev_device_get_property_value(dev, "ID_BUS"));
    if (d.Bus.empty())
      if (udev_device* hw = HardwareParent(dev)) d.Bus = Text(udev_device_get_subsystem(hw));
    d.Subsystem = Text(udev_device_get_subsystem(dev));
    d.DevPath = Text(udev_device_get_devpath(dev));
    d.IdPath = Text(udev_device_get_property_value(dev, "ID_PATH"));
    d.SerialNumber = Text(udev_device_get_property_value(dev, "ID_SERIAL_SHORT"));
    udev_list_entry* link;
    udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(dev)) {
      const std::string path = Text(udev_list_entry_get_name(link));
      if (d.ById.empty() && path.starts_with("/dev/serial/by-id/")) d.ById = path;
      if (d.ByPath.empty() && path.starts_with("/dev/serial/by-path/")) d.ByPath = path;
    }
    return d;
  }

  udev* FUdev;
};

}  // namespace

bool IsSerialPortDevice(std::string_view sysName, const char* uartType) {
  if (HasNumberAfter(sysName, "ttyUSB") || HasNumberAfter(sysName, "ttyACM")) return true;
  // Type 0 is PORT_UNKNOWN: a ttyS line that the kernel reserves without a UART behind it.
  if (HasNumberAfter(sysName, "ttyS"))
    return uartType && *uartType && std::strcmp(uartType, "0") != 0 && std::strcmp(uartType, "0\n") != 0;
  return false;
}

std::unique_ptr<TSerialDeviceScanner> CreateUdevSerialScanner() {
  errno = 0;
  udev* u = udev_new();
  if (!u) throw ESysError(errno ? errno : ENOMEM);
  return std::make_unique<TUdevSerialScanner>(u);
}

}  // namespace fp
