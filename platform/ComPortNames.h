#pragma once
// COM port names: the library and the program name serial ports "COM" + number (1..255);
// this module maps such a name to a device path and back, for the serial port, the port
// enumeration and the settings window alike.
//
// 1. Explicit mappings live in the registry under
//    HKEY_LOCAL_MACHINE\SOFTWARE\MiravokFP\ComPorts, one string value per port: value name
//    "COMn", data the device path ("COM7" = "/dev/pts/3", "COM5" =
//    "/dev/serial/by-id/usb-..."). A mapping always wins, whether its path exists or not,
//    and its number is never given to another device. A device reached by a mapping (the
//    same path once symbolic links are resolved) gets no automatic name.
// 2. Every other serial device of the machine (see SerialDevices.h) gets an automatic
//    number once and keeps it: the number is stored in the registry under
//    HKEY_LOCAL_MACHINE\SOFTWARE\MiravokFP\ComPortDevices (value name: the device's
//    identity, data: "COMn") and is never given to another device, whether its own device
//    is plugged in or not. The identity is the device's /dev/serial/by-id link when the
//    device reports a serial number and no other present device has the same link, else
//    its /dev/serial/by-path link (the USB socket it sits in), else its device node (ttyS
//    lines, or a machine without the udev links). Identities compare without regard to
//    ASCII case.
//    A device without a stored number gets one: ttyS<k> takes COM<k+1> when that number
//    is free; then ttyACM<k> by rising k, then ttyUSB<k> by rising k (and a ttyS whose own
//    number was taken) each take the lowest free number from 1 up. A number is free when
//    no mapping and no stored device holds it. A device left without a number in 1..255,
//    whose stored number a mapping now holds, whose identity another present device has
//    too, or whose new number cannot be stored gets no name.
// A port is present when it is an automatic one or a mapping whose path exists now.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialDevices.h"

namespace fp {

// Below HKEY_LOCAL_MACHINE.
inline constexpr const char* ComPortMapKey = "SOFTWARE\\MiravokFP\\ComPorts";
inline constexpr const char* ComPortDeviceKey = "SOFTWARE\\MiravokFP\\ComPortDevices";

// "COMn" (any case, n a decimal number 1..255 without sign or blanks) -> n.
std::optional<int> ParseComPortName(std::string_view name);
// n -> "COMn".
std::string ComPortName(int number);

struct TComPortName {
  int Number = 0;
  std::string Name;  // "COMn"
  std::string Path;  // the mapping's path as stored, or the device node
  bool Mapped = false;
  bool Present = false;
  std::optional<TSerialDevice> Device;  // the udev device behind it, when there is one
  std::string Identity;                 // the key of its stored number; empty for a mapping
};

struct TComPortMapping {
  int Number = 0;
  std::string Path;
};

// The automatic number of one device, as stored.
struct TComPortAssignment {
  std::string Identity;
  int Number = 0;
  bool operator==(const TComPortAssignment&) const = default;
};

struct TComPortNaming {
  std::vector<TComPortName> Ports;        // all mappings and the named devices, by number
  std::vector<TComPortAssignment> Added;  // the numbers given now for the first time
};

// The naming rule itself, on the mappings, the devices present and the numbers stored
// before. Writes nothing: the caller stores Added.
TComPortNaming AssignComPortNames(const std::vector<TComPortMapping>& mappings,
                                  const std::vector<TSerialDevice>& devices,
                                  const std::vector<TComPortAssignment>& stored = {});

class TComPortNames {
 public:
  // The device path for "COMn", or a name that starts with "/" unchanged; nothing when the
  // name is neither mapped nor given to a present device.
  static std::optional<std::string> PathOf(std::string_view name);
  // The "COMn" name of a device path (compared after resolving symbolic links).
  static std::optional<std::string> NameOf(std::string_view path);
  // The ports present now, ordered by number.
  static std::vector<TComPortName> PresentPorts();

  // The explicit mappings of the registry, ordered by number (values that are not a valid
  // "COMn" name are ignored).
  static std::vector<TComPortMapping> Mappings();
  // Adds or replaces / removes the mapping of one name. False for an invalid name or when
  // the registry cannot be written.
  static bool SetMapping(std::string_view name, std::string_view path);
  static bool RemoveMapping(std::string_view name);

  // The automatic numbers stored so far (values whose data is not a valid "COMn" name are
  // ignored).
  static std::vector<TComPortAssignment> StoredNumbers();
  // The ports of the registry's mappings and these devices: numbers stored before are
  // kept, new ones are stored (a device whose new number cannot be stored is left out).
  static std::vector<TComPortName> Assign(const std::vector<TSerialDevice>& devices);

  // Source of the machine's serial devices, replaceable for tests; an empty function
  // restores the udev scanner. The factory may throw (the udev context could not be made).
  using TScannerFactory = std::function<std::unique_ptr<TSerialDeviceScanner>()>;
  static void SetScannerFactory(TScannerFactory factory);
  static std::unique_ptr<TSerialDeviceScanner> CreateScanner();

  // The present devices from the current scanner; an empty list when it cannot be made or
  // the scan fails.
  static std::vector<TSerialDevice> ScanDevices();
};

}  // namespace fp
