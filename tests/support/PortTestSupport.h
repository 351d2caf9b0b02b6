#pragma once
// Test helpers for code that uses the registry and the port naming: a registry file in a
// temporary folder of its own, and a fake list of the machine's serial devices. Header
// only; for tests.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ComPortNames.h"
#include "platform/Registry.h"
#include "platform/SerialDevices.h"

namespace fp::test {

// Points FP_REGISTRY_FILE into a new temporary folder for the object's life.
class TScopedTempRegistry {
 public:
  TScopedTempRegistry() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fpreg.XXXXXX").string();
    Dir = ::mkdtemp(tmpl.data());
    File = Dir + "/config/registry.txt";
    if (const char* old = ::getenv(TRegistry::FileVariable)) FPrevious = old;
    ::setenv(TRegistry::FileVariable, File.c_str(), 1);
  }
  ~TScopedTempRegistry() {
    if (FPrevious)
      ::setenv(TRegistry::FileVariable, FPrevious->c_str(), 1);
    else
      ::unsetenv(TRegistry::FileVariable);
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  TScopedTempRegistry(const TScopedTempRegistry&) = delete;
  TScopedTempRegistry& operator=(const TScopedTempRegistry&) = delete;

  std::string Dir;
  std::string File;

 private:
  std::optional<std::string> FPrevious;
};

class TFakeSerialScanner : public TSerialDeviceScanner {
 public:
  explicit TFakeSerialScanner(std::optional<std::vector<TSerialDevice>> devices) : Devices(std::move(devices)) {}
  std::optional<std::vector<TSerialDevice>> Scan() override { return Devices; }
  std::optional<std::vector<TSerialDevice>> Devices;
};

// A device as the udev scanner would report it (only the fields the naming needs).
inline TSerialDevice FakeDevice(const std::string& sysName, const std::string& description = {}) {
  TSerialDevice d;
  d.SysName = sysName;
  d.DevNode = "/dev/" + sysName;
  d.Description = description;
  d.Subsystem = "tty";
  return d;
}

// A USB adapter as udev reports it: a by-path link for the socket it sits in, and a
// by-id link made of its maker, model and serial number (without a serial number the
// link names only maker and model, so identical adapters share it).
inline TSerialDevice FakeUsbDevice(const std::string& sysName, const std::string& serial, int socket,
                                   const std::string& model = "Example_Adapter") {
  TSerialDevice d = FakeDevice(sysName, model);
  d.Bus = "usb";
  d.SerialNumber = serial;
  d.ById = "/dev/serial/by-id/usb-" + model + (serial.empty() ? "" : "_" + serial) + "-if00-port0";
  d.ByPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + std::to_string(socket) + ":1.0-port0";
  return d;
}

// Makes the port naming see exactly these devices for the object's life; Set plugs and
// unplugs devices on the way.
class TScopedFakeDevices {
 public:
  explicit TScopedFakeDevices(std::optional<std::vector<TSerialDevice>> devices = std::vector<TSerialDevice>{})
      : FDevices(std::make_shared<TShared>()) {
    FDevices->List = std::move(devices);
    TComPortNames::SetScannerFactory([shared = FDevices] {
      std::lock_guard lock(shared->Mutex);
      return std::make_unique<TFakeSerialScanner>(shared->List);
    });
  }
  ~TScopedFakeDevices() { TComPortNames::SetScannerFactory(nullptr); }
  TScopedFakeDevices(const TScopedFakeDevices&) = delete;
  TScopedFakeDevices& operator=(const TScopedFakeDevices&) = delete;

  void Set(std::optional<std::vector<TSerialDevice>> devices) {
    std::lock_guard lock(FDevices->Mutex);
    FDevices->List = std::move(devices);
  }

 private:
  struct TShared {
    std::mutex Mutex;
    std::optional<std::vector<TSerialDevice>> List;
  };
  std::shared_ptr<TShared> FDevices;
};

}  // namespace fp::test
