#pragma once
// The serial ports of the machine for the port search of InitEx: a list "COMn=friendly
// name" and a record of device data per listed port. The ports come from a device source:
// the system's one lists the present ports of the port naming module (platform/
// ComPortNames.h) with their udev data, ordered by port number; tests give their own.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fp {

// Device property codes of the port class devices.
enum : int {
  SPDRP_DEVICEDESC = 0,
  SPDRP_HARDWAREID = 1,
  SPDRP_CLASS = 7,
  SPDRP_DRIVER = 9,
  SPDRP_FRIENDLYNAME = 12,
  SPDRP_LOCATION_INFORMATION = 13,
  SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 14,
  SPDRP_ENUMERATOR_NAME = 22,
  SPDRP_DEVTYPE = 25,
};

struct TDeviceInfo {
  std::string PortName;
  std::string HardwareID;
  std::string FriendlyName;
  std::string DeviceDesc;
  std::string DevType;
  std::string Driver;
  std::string EnumeratorName;
  std::string DeviceClass;
  std::string PhysicalDeviceObjectName;
  std::string LocationInformation;
  bool operator==(const TDeviceInfo&) const = default;
};

// The records of the latest enumeration (process-wide). Objects on several threads may
// enumerate at once: an enumeration holds DeviceInfoListLock from emptying the list to its
// last record, so one never empties the list while another appends to it; whoever reads the
// list holds the lock too.
extern std::vector<TDeviceInfo> DeviceInfoList;
extern std::recursive_mutex DeviceInfoListLock;

// One entry of the result list.
struct TPortEntry {
  std::string Name;   // the port name in capitals ("COM3")
  std::string Value;  // the friendly name
  bool operator==(const TPortEntry&) const = default;
};
using TPortList = std::vector<TPortEntry>;

// One present device of the port class, as the source reports it.
struct TPortDevice {
  // The "PortName" of the device; nothing when the device has none (it is then left out).
  std::optional<std::string> PortName;
  // The device's properties by code; a missing code cannot be read. A device without
  // SPDRP_FRIENDLYNAME is left out.
  std::map<int, std::string> Properties;
};

class TPortDeviceSource {
 public:
  virtual ~TPortDeviceSource() = default;
  // The present devices in enumeration order; nothing when the device set is unavailable.
  virtual std::optional<std::vector<TPortDevice>> PresentDevices() = 0;
};

// Makes a source; throws (with the system's message) when the device source cannot be
// made at all.
using TPortDeviceSourceFactory = std::function<std::unique_ptr<TPortDeviceSource>()>;

// The system's source: the present ports of the port naming module. A port with a udev
// device gets the device's model as friendly name (the device path when there is none)
// and its udev data as properties; a mapped port without one (a pty, say) gets its path as
// friendly name and no other property. Throws std::system_error when udev is unavailable.
std::unique_ptr<TPortDeviceSource> CreateSystemPortDeviceSource();

// The property as text, up to its first NUL; empty when the device lacks it.
std::string GetDevicePropertyString(const TPortDevice& device, int propertyCode);
// Appends a copy of the record to DeviceInfoList (under DeviceInfoListLock).
void AddDeviceInfo(const TDeviceInfo& info);

// Lists the ports. Empties DeviceInfoList and fills it anew. Raises what the factory
// raises; an unavailable device set gives an empty list.
TPortList EnumeratePorts();
TPortList EnumeratePorts(const TPortDeviceSourceFactory& factory);

}  // namespace fp
