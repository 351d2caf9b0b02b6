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
// 2. Every other serial device of the machine (see SerialDevices.h) gets an automatic name:
//    ttyS<k> is COM<k+1> when that number is free; then ttyACM<k> by rising k, then
//    ttyUSB<k> by rising k (and a ttyS whose own number was taken) each get the lowest free
//    number from 1 up. A device left without a number in 1..255 gets no name.
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
};

struct TComPortMapping {
  int Number = 0;
  std::string Path;
};

// The naming rule itself: all mappings (present or not) and the automatic names for the
// devices, ordered by number.
std::vector<TComPortName> AssignComPortNames(const std::vector<TComPortMapping>& mappings,
                                             const std::vector<TSerialDevice>& devices);

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
