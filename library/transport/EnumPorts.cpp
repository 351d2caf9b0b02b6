#include "library/transport/EnumPorts.h"

#include "platform/ComPortNames.h"

namespace fp {

std::vector<TDeviceInfo> DeviceInfoList;
std::recursive_mutex DeviceInfoListLock;

namespace {

std::string UpTo0(const std::string& s) { return s.substr(0, s.find('\0')); }

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

class TSystemPortDeviceSource : public TPortDeviceSource {
 public:
  explicit TSystemPortDeviceSource(std::unique_ptr<TSerialDeviceScanner> scanner) : FScanner(std::move(scanner)) {}

  std::optional<std::vector<TPortDevice>> PresentDevices() override {
    auto devices = FScanner->Scan();
    if (!devices) return std::nullopt;
    std::vector<TPortDevice> out;
    for (const TComPortName& port : TComPortNames::Assign(*devices)) {
      if (!port.Present) continue;
      TPortDevice d;
      d.PortName = port.Name;
      std::string friendly = port.Path;
      if (port.Device) {
        const TSerialDevice& u = *port.Device;
        if (!u.Description.empty()) friendly = u.Description;
        d.Properties = {{SPDRP_HARDWAREID, u.HardwareId},
                        {SPDRP_DEVICEDESC, u.Description},
                        {SPDRP_DEVTYPE, u.DevType},
                        {SPDRP_DRIVER, u.Driver},
                        {SPDRP_ENUMERATOR_NAME, u.Bus},
                        {SPDRP_CLASS, u.Subsystem},
                        {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, u.DevPath},
                        {SPDRP_LOCATION_INFORMATION, u.IdPath}};
      }
      d.Properties[SPDRP_FRIENDLYNAME] = friendly;
      out.push_back(std::move(d));
    }
    return out;
  }

 private:
  std::unique_ptr<TSerialDeviceScanner> FScanner;
};

}  // namespace

std::unique_ptr<TPortDeviceSource> CreateSystemPortDeviceSource() {
  return std::make_unique<TSystemPortDeviceSource>(TComPortNames::CreateScanner());
}

std::string GetDevicePropertyString(const TPortDevice& device, int propertyCode) {
  auto it = device.Properties.find(propertyCode);
  return it == device.Properties.end() ? std::string() : UpTo0(it->second);
}

void AddDeviceInfo(const TDeviceInfo& info) {
  std::lock_guard<std::recursive_mutex> lock(DeviceInfoListLock);
  DeviceInfoList.push_back(info);
}

TPortList EnumeratePorts() { return EnumeratePorts(CreateSystemPortDeviceSource); }

TPortList EnumeratePorts(const TPortDeviceSourceFactory& factory) {
  TPortList list;
  std::lock_guard<std::recursive_mutex> lock(DeviceInfoListLock);
  DeviceInfoList.clear();
  std::unique_ptr<TPortDeviceSource> source = factory();
  auto devices = source ? source->PresentDevices() : std::nullopt;
  if (!devices) return list;
  for (const TPortDevice& device : *devices) {
    auto friendly = device.Properties.find(SPDRP_FRIENDLYNAME);
    if (friendly == device.Properties.end() || !device.PortName) continue;
    const std::string portName = UpTo0(*device.PortName);
    const std::string name = Upper(portName);
    // Leaves out the printer (parallel) ports of the class.
    if (name.find("COM") == std::string::npos) continue;
    const std::string value = UpTo0(friendly->second);
    auto entry = list.begin();
    while (entry != list.end() && Upper(entry->Name) != name) ++entry;
    if (value.empty()) {
      if (entry != list.end()) list.erase(entry);
    } else if (entry != list.end()) {
      entry->Value = value;
    } else {
      list.push_back({name, value});
    }
    AddDeviceInfo({portName, GetDevicePropertyString(device, SPDRP_HARDWAREID), value,
                   GetDevicePropertyString(device, SPDRP_DEVICEDESC), GetDevicePropertyString(device, SPDRP_DEVTYPE),
                   GetDevicePropertyString(device, SPDRP_DRIVER),
                   GetDevicePropertyString(device, SPDRP_ENUMERATOR_NAME), GetDevicePropertyString(device, SPDRP_CLASS),
                   GetDevicePropertyString(device, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME),
                   GetDevicePropertyString(device, SPDRP_LOCATION_INFORMATION)});
  }
  return list;
}

}  // namespace fp
