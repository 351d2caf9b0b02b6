#include "library/transport/EnumPorts.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <system_error>

#include "tests/support/PortTestSupport.h"

namespace fp::test {
namespace {

class TFakeSource : public TPortDeviceSource {
 public:
  explicit TFakeSource(std::optional<std::vector<TPortDevice>> devices) : FDevices(std::move(devices)) {}
  std::optional<std::vector<TPortDevice>> PresentDevices() override { return FDevices; }

 private:
  std::optional<std::vector<TPortDevice>> FDevices;
};

TPortDeviceSourceFactory Source(std::optional<std::vector<TPortDevice>> devices) {
  return [devices] { return std::make_unique<TFakeSource>(devices); };
}

TPortDevice Port(std::optional<std::string> portName, std::optional<std::string> friendly,
                 std::string hardwareId = {}) {
  TPortDevice d;
  d.PortName = std::move(portName);
  if (friendly) d.Properties[SPDRP_FRIENDLYNAME] = *friendly;
  if (!hardwareId.empty()) d.Properties[SPDRP_HARDWAREID] = hardwareId;
  return d;
}

std::vector<std::string> PortNames() {
  std::vector<std::string> out;
  for (const auto& info : DeviceInfoList) out.push_back(info.PortName);
  return out;
}

TEST(EnumPorts, ListAndRecordsFollowTheDeviceRules) {
  struct Case {
    const char* what;
    std::vector<TPortDevice> devices;
    TPortList list;
    std::vector<std::string> records;
  };
  const Case cases[] = {
      {"only a parallel port", {Port("LPT1", "Printer Port (LPT1)")}, {}, {}},
      {"two devices with the same name: the later one's friendly name, two records",
       {Port("COM3", "First"), Port("COM4", "Other"), Port("com3", "Second")},
       {{"COM3", "Second"}, {"COM4", "Other"}},
       {"COM3", "COM4", "com3"}},
      {"no friendly name: left out without a record",
       {Port("COM1", std::nullopt), Port("COM2", "Two")},
       {{"COM2", "Two"}},
       {"COM2"}},
      {"an empty friendly name removes the entry but is recorded",
       {Port("COM1", "One"), Port("COM1", ""), Port("COM2", "Two")},
       {{"COM2", "Two"}},
       {"COM1", "COM1", "COM2"}},
      {"no port name: left out", {Port(std::nullopt, "Nameless"), Port("COM9", "Nine")}, {{"COM9", "Nine"}}, {"COM9"}},
      {"names in capitals, the record keeps the case; enumeration order kept",
       {Port("com10", "Ten"), Port("Com2", "Two")},
       {{"COM10", "Ten"}, {"COM2", "Two"}},
       {"com10", "Com2"}},
      {"texts end at their first NUL",
       {Port(std::string("COM5\0junk", 9), std::string("Five\0Six", 8))},
       {{"COM5", "Five"}},
       {"COM5"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EnumeratePorts(Source(c.devices)), c.list) << c.what;
    EXPECT_EQ(PortNames(), c.records) << c.what;
  }
}

TEST(EnumPorts, RecordHoldsTheTenFields) {
  TPortDevice d = Port("com4", "USB Serial (COM4)");
  d.Properties = {{SPDRP_FRIENDLYNAME, "USB Serial (COM4)"},
                  {SPDRP_HARDWAREID, std::string("USB\\VID_0403\0second\0", 21)},
                  {SPDRP_DEVICEDESC, "desc"},
                  {SPDRP_DEVTYPE, std::string("\x17\0\0\0", 4)},
                  {SPDRP_DRIVER, "drv"},
                  {SPDRP_ENUMERATOR_NAME, "USB"},
                  {SPDRP_CLASS, "Ports"},
                  {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, "\\Device\\0001"},
                  {SPDRP_LOCATION_INFORMATION, "Port_#0002"}};
  EnumeratePorts(Source(std::vector{d, Port("COM5", "Bare")}));
  ASSERT_EQ(DeviceInfoList.size(), 2u);
  EXPECT_EQ(DeviceInfoList[0], (TDeviceInfo{"com4", "USB\\VID_0403", "USB Serial (COM4)", "desc", "\x17", "drv", "USB",
                                            "Ports", "\\Device\\0001", "Port_#0002"}));
  EXPECT_EQ(DeviceInfoList[1], (TDeviceInfo{"COM5", "", "Bare", "", "", "", "", "", "", ""}));
}

TEST(EnumPorts, SourceFailures) {
  EnumeratePorts(Source(std::vector{Port("COM1", "One")}));
  ASSERT_EQ(DeviceInfoList.size(), 1u);
  // The device set is unavailable: an empty list, and the old records are gone.
  EXPECT_TRUE(EnumeratePorts(Source(std::nullopt)).empty());
  EXPECT_TRUE(DeviceInfoList.empty());
  // The source cannot be made: its error leaves with the system's message.
  try {
    EnumeratePorts(
        []() -> std::unique_ptr<TPortDeviceSource> { throw std::system_error(ENOMEM, std::system_category()); });
    ADD_FAILURE() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOMEM));
  }
}

TEST(EnumPorts, SystemSourceListsThePresentPortsByNumber) {
  test::TScopedTempRegistry reg;
  TSerialDevice usb = test::FakeDevice("ttyUSB0", "FT232R USB UART");
  usb.HardwareId = "usb:v0403p6001";
  usb.Driver = "ftdi_sio";
  usb.Bus = "usb";
  usb.DevPath = "/devices/pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0";
  usb.IdPath = "pci-0000:00:14.0-usb-0:2:1.0";
  test::TScopedFakeDevices devices({{usb, test::FakeDevice("ttyS0")}});
  int master, slave;
  char name[256];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_TRUE(TComPortNames::SetMapping("COM7", name));
  ASSERT_TRUE(TComPortNames::SetMapping("COM8", "/nonexistent/port"));

  const TPortList expected = {{"COM1", "/dev/ttyS0"}, {"COM2", "FT232R USB UART"}, {"COM7", name}};
  EXPECT_EQ(EnumeratePorts(), expected);
  ASSERT_EQ(DeviceInfoList.size(), 3u);
  EXPECT_EQ(DeviceInfoList[1], (TDeviceInfo{"COM2", "usb:v0403p6001", "FT232R USB UART", "FT232R USB UART", "",
                                            "ftdi_sio", "usb", "tty", usb.DevPath, usb.IdPath}));
  EXPECT_EQ(DeviceInfoList[2], (TDeviceInfo{"COM7", "", name, "", "", "", "", "", "", ""}));
  ::close(master);
  ::close(slave);
}

TEST(EnumPorts, SystemSourceKeepsTheStoredNumbers) {
  test::TScopedTempRegistry reg;
  const TSerialDevice adapter = test::FakeUsbDevice("ttyUSB0", "A1B2C3", 1);
  ASSERT_TRUE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, ComPortDeviceKey, [&](std::vector<TRegValue>& values) {
    values.push_back({adapter.ById, "COM4"});
    values.push_back({"/dev/serial/by-id/usb-Absent_Device_1-if00-port0", "COM1"});
    return true;
  }));
  test::TScopedFakeDevices devices({{test::FakeDevice("ttyACM0", "Modem"), adapter}});
  const TPortList expected = {{"COM2", "Modem"}, {"COM4", "Example_Adapter"}};
  EXPECT_EQ(EnumeratePorts(), expected);
}

TEST(EnumPorts, RealUdevListIsWellFormed) {
  test::TScopedTempRegistry reg;
  TComPortNames::SetScannerFactory(nullptr);
  const TPortList list = EnumeratePorts();  // may be empty in a container
  const std::regex name("COM([1-9][0-9]{0,2})");
  std::smatch m;
  for (const auto& entry : list) {
    ASSERT_TRUE(std::regex_match(entry.Name, m, name)) << entry.Name;
    EXPECT_LE(std::stoi(m[1]), 255);
    EXPECT_FALSE(entry.Value.empty()) << entry.Name;
  }
  EXPECT_EQ(DeviceInfoList.size(), list.size());
}

}  // namespace
}  // namespace fp::test
