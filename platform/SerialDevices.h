#pragma once
// The serial devices of the machine, as udev knows them. A device counts as a serial port
// when it is in the "tty" subsystem, has a parent device (so the virtual consoles, ptmx
// and the like drop out), and its kernel name is ttyUSB<n> or ttyACM<n>, or ttyS<n> with a
// UART behind it: its sysfs attribute "type" is present and not 0 (PORT_UNKNOWN), which the
// serial core gives every ttyS line, probed or not. The scanner's interface lets the port
// naming and the enumeration run on a fake device list in tests.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fp {

struct TSerialDevice {
  std::string DevNode;       // "/dev/ttyUSB0"
  std::string SysName;       // "ttyUSB0"
  std::string Description;   // the model from the hardware database or the device itself; may be empty
  std::string HardwareId;    // MODALIAS of the nearest parent that has one ("usb:v0403p6001..."), or a pnp parent's id
                             // ("PNP0501")
  std::string DevType;       // DEVTYPE of the device (mostly empty for a tty)
  std::string Driver;        // driver of the nearest hardware parent that has one ("ftdi_sio", "serial")
  std::string Bus;           // ID_BUS, else the subsystem of the hardware parent ("usb", "pnp", "pci")
  std::string Subsystem;     // "tty"
  std::string DevPath;       // the device's path in sysfs ("/devices/pci0000:00/.../ttyUSB0")
  std::string IdPath;        // ID_PATH, the physical location ("pci-0000:00:14.0-usb-0:2:1.0")
  std::string ById;          // its link in /dev/serial/by-id, when udev made one
  std::string ByPath;        // its link in /dev/serial/by-path, when udev made one
  std::string SerialNumber;  // ID_SERIAL_SHORT: the serial number the device reports; empty when none
};

class TSerialDeviceScanner {
 public:
  virtual ~TSerialDeviceScanner() = default;
  // The serial ports present now, in the order udev lists them; nothing when the
  // enumeration itself fails.
  virtual std::optional<std::vector<TSerialDevice>> Scan() = 0;
};

// The filter above on a kernel name and the sysfs "type" attribute (null when absent).
bool IsSerialPortDevice(std::string_view sysName, const char* uartType);

// The scanner over libudev. Throws std::system_error (the system's message) when the
// udev context cannot be created.
std::unique_ptr<TSerialDeviceScanner> CreateUdevSerialScanner();

}  // namespace fp
