#include "platform/ComPortNames.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <regex>

#include "platform/FileOps.h"
#include "tests/support/PortTestSupport.h"
#include "platform/Registry.h"

namespace fp::test {
namespace {

using test::FakeDevice;
using test::FakeUsbDevice;
using test::TScopedFakeDevices;
using test::TScopedTempRegistry;

TEST(ComPortNames, ParseName) {
  const std::pair<const char*, int> cases[] = {
      {"COM1", 1},  {"com7", 7},  {"CoM255", 255}, {"COM256", 0}, {"COM0", 0},       {"COM07", 0},
      {"COM", 0},   {"COMx", 0},  {"COM1x", 0},    {"LPT1", 0},   {" COM1", 0},      {"COM1 ", 0},
      {"COM-1", 0}, {"COM+1", 0}, {"", 0},         {"CON1", 0},   {"/dev/ttyS0", 0},
  };
  for (const auto& [text, number] : cases) {
    auto n = ParseComPortName(text);
    EXPECT_EQ(n.value_or(0), number) << text;
  }
  EXPECT_EQ(ComPortName(12), "COM12");
}

TEST(ComPortNames, SerialPortFilter) {
  struct Case {
    const char* name;
    const char* type;
    bool port;
  };
  const Case cases[] = {
      {"ttyUSB0", nullptr, true},  {"ttyACM12", nullptr, true}, {"ttyS0", "4", true},     {"ttyS1", "0", false},
      {"ttyS2", nullptr, false},   {"ttyS3", "0\n", false},     {"tty0", nullptr, false}, {"ttyUSB", nullptr, false},
      {"ttyUSBx", nullptr, false}, {"console", nullptr, false}, {"ttyAMA0", "4", false},  {"ptmx", nullptr, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSerialPortDevice(c.name, c.type), c.port) << c.name;
}

std::vector<std::string> Names(const std::vector<TComPortName>& ports) {
  std::vector<std::string> out;
  for (const auto& p : ports) out.push_back(p.Name + "=" + p.Path);
  return out;
}

TEST(ComPortNames, AutomaticNumbering) {
  struct Case {
    const char* what;
    std::vector<TComPortMapping> mappings;
    std::vector<std::string> devices;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"ttyS by number, the others fill the gaps in ttyACM, ttyUSB order",
       {},
       {"ttyUSB1", "ttyS3", "ttyUSB0", "ttyS0", "ttyACM0"},
       {"COM1=/dev/ttyS0", "COM2=/dev/ttyACM0", "COM3=/dev/ttyUSB0", "COM4=/dev/ttyS3", "COM5=/dev/ttyUSB1"}},
      {"numbers sort by value, not as text", {}, {"ttyUSB10", "ttyUSB9"}, {"COM1=/dev/ttyUSB9", "COM2=/dev/ttyUSB10"}},
      {"a mapping keeps its number even when its path is missing",
       {{2, "/nonexistent/port"}},
       {"ttyUSB0", "ttyACM0"},
       {"COM1=/dev/ttyACM0", "COM2=/nonexistent/port", "COM3=/dev/ttyUSB0"}},
      {"a mapping on ttyS0's number moves ttyS0 to the first free number",
       {{1, "/dev/pts/77"}},
       {"ttyS0", "ttyUSB0"},
       {"COM1=/dev/pts/77", "COM2=/dev/ttyS0", "COM3=/dev/ttyUSB0"}},
      {"a device reached by a mapping gets no second name",
       {{9, "/dev/ttyUSB0"}},
       {"ttyUSB0", "ttyUSB1"},
       {"COM1=/dev/ttyUSB1", "COM9=/dev/ttyUSB0"}},
      {"ttyS above the range joins the free numbers", {}, {"ttyS300"}, {"COM1=/dev/ttyS300"}},
      {"a device listed twice is named once", {}, {"ttyUSB0", "ttyUSB0"}, {"COM1=/dev/ttyUSB0"}},
  };
  for (const Case& c : cases) {
    std::vector<TSerialDevice> devices;
    for (const auto& d : c.devices) devices.push_back(FakeDevice(d));
    EXPECT_EQ(Names(AssignComPortNames(c.mappings, devices).Ports), c.expected) << c.what;
  }
}

TEST(ComPortNames, NoNumberBeyond255) {
  std::vector<TSerialDevice> devices;
  for (int i = 0; i < 300; ++i) devices.push_back(FakeDevice("ttyUSB" + std::to_string(i)));
  auto ports = AssignComPortNames({{255, "/dev/pts/1"}}, devices).Ports;
  ASSERT_EQ(ports.size(), 255u);
  EXPECT_EQ(ports.front().Path, "/dev/ttyUSB0");
  EXPECT_EQ(ports[253].Name, "COM254");
  EXPECT_EQ(ports[253].Path, "/dev/ttyUSB253");
  EXPECT_EQ(ports.back().Path, "/dev/pts/1");
}

TEST(ComPortNames, StoredNumbersAndIdentities) {
  const TSerialDevice a = FakeUsbDevice("ttyUSB0", "A1", 1);
  const TSerialDevice clone1 = FakeUsbDevice("ttyUSB1", "SAME", 2);
  const TSerialDevice clone2 = FakeUsbDevice("ttyUSB2", "SAME", 3);
  const TSerialDevice noSerial = FakeUsbDevice("ttyUSB3", "", 4);
  TSerialDevice noLinks = FakeDevice("ttyACM0");
  noLinks.SerialNumber = "X9";  // udev knows no links for it
  struct Case {
    const char* what;
    std::vector<TComPortMapping> mappings;
    std::vector<TSerialDevice> devices;
    std::vector<TComPortAssignment> stored;
    std::vector<std::string> expected;
    std::vector<TComPortAssignment> added;
  };
  const Case cases[] = {
      {"a stored number is kept and not stored again", {}, {a}, {{a.ById, 3}}, {"COM3=/dev/ttyUSB0"}, {}},
      {"identities compare without regard to case",
       {},
       {a},
       {{"/DEV/SERIAL/BY-ID/USB-EXAMPLE_ADAPTER_A1-IF00-PORT0", 3}},
       {"COM3=/dev/ttyUSB0"},
       {}},
      {"numbers of absent devices are given to nobody, ttyS0's own number included",
       {},
       {FakeDevice("ttyS0"), a},
       {{"/dev/serial/by-id/gone", 1}, {"/dev/serial/by-id/gone2", 2}},
       {"COM3=/dev/ttyS0", "COM4=/dev/ttyUSB0"},
       {{"/dev/ttyS0", 3}, {a.ById, 4}}},
      {"a device with a serial number is known by its by-id link, one without by its socket",
       {},
       {a, noSerial},
       {},
       {"COM1=/dev/ttyUSB0", "COM2=/dev/ttyUSB3"},
       {{a.ById, 1}, {noSerial.ByPath, 2}}},
      {"adapters that share a serial number are known by their sockets",
       {},
       {clone1, clone2},
       {{clone1.ById, 1}},
       {"COM2=/dev/ttyUSB1", "COM3=/dev/ttyUSB2"},
       {{clone1.ByPath, 2}, {clone2.ByPath, 3}}},
      {"without udev links the device node is the identity",
       {},
       {noLinks},
       {},
       {"COM1=/dev/ttyACM0"},
       {{"/dev/ttyACM0", 1}}},
      {"a mapping on a stored number wins; the device waits without a name",
       {{3, "/dev/pts/77"}},
       {a, noSerial},
       {{a.ById, 3}},
       {"COM1=/dev/ttyUSB3", "COM3=/dev/pts/77"},
       {{noSerial.ByPath, 1}}},
      {"two identities stored with one number: the first present device keeps it",
       {},
       {a, noSerial},
       {{a.ById, 2}, {noSerial.ByPath, 2}},
       {"COM1=/dev/ttyUSB3", "COM2=/dev/ttyUSB0"},
       {{noSerial.ByPath, 1}}},
  };
  for (const Case& c : cases) {
    TComPortNaming naming = AssignComPortNames(c.mappings, c.devices, c.stored);
    EXPECT_EQ(Names(naming.Ports), c.expected) << c.what;
    EXPECT_EQ(naming.Added, c.added) << c.what;
  }
}

// What the registry's naming gives, step by step, as devices come and go.
TEST(ComPortNames, NumbersStayWithTheirDevicesAcrossPlugging) {
  TScopedTempRegistry reg;
  TScopedFakeDevices devices;
  const TSerialDevice first = FakeUsbDevice("ttyUSB0", "A1B2C3", 1);
  const TSerialDevice acm = FakeUsbDevice("ttyACM0", "77", 2, "Example_Modem");
  const TSerialDevice second = FakeUsbDevice("ttyUSB0", "D4E5F6", 3);
  const TSerialDevice firstLater = FakeUsbDevice("ttyUSB1", "A1B2C3", 4);  // replugged elsewhere
  const TSerialDevice plainA = FakeUsbDevice("ttyUSB2", "", 5);            // no serial numbers
  const TSerialDevice plainB = FakeUsbDevice("ttyUSB3", "", 6);
  struct Step {
    const char* what;
    std::vector<TSerialDevice> present;
    std::vector<std::string> expected;
  };
  const Step steps[] = {
      {"one adapter", {first}, {"COM1=/dev/ttyUSB0"}},
      {"a ttyACM device comes; the adapter keeps COM1", {first, acm}, {"COM1=/dev/ttyUSB0", "COM2=/dev/ttyACM0"}},
      {"the adapter goes; COM1 names nothing", {acm}, {"COM2=/dev/ttyACM0"}},
      {"a second adapter does not take COM1", {acm, second}, {"COM2=/dev/ttyACM0", "COM3=/dev/ttyUSB0"}},
      {"the first adapter comes back under another node and socket",
       {acm, second, firstLater},
       {"COM1=/dev/ttyUSB1", "COM2=/dev/ttyACM0", "COM3=/dev/ttyUSB0"}},
      {"adapters without serial numbers get a number per socket",
       {plainB, plainA},
       {"COM4=/dev/ttyUSB2", "COM5=/dev/ttyUSB3"}},
      {"the same adapters under swapped nodes, in the same sockets: the same numbers",
       {FakeUsbDevice("ttyUSB3", "", 5), FakeUsbDevice("ttyUSB2", "", 6)},
       {"COM4=/dev/ttyUSB3", "COM5=/dev/ttyUSB2"}},
      {"all of them at once",
       {plainB, second, acm, plainA, firstLater},
       {"COM1=/dev/ttyUSB1", "COM2=/dev/ttyACM0", "COM3=/dev/ttyUSB0", "COM4=/dev/ttyUSB2", "COM5=/dev/ttyUSB3"}},
  };
  for (const Step& s : steps) {
    devices.Set(s.present);
    EXPECT_EQ(Names(TComPortNames::PresentPorts()), s.expected) << s.what;
  }
  const std::vector<TComPortAssignment> stored = {
      {first.ById, 1}, {acm.ById, 2}, {second.ById, 3}, {plainA.ByPath, 4}, {plainB.ByPath, 5}};
  EXPECT_EQ(TComPortNames::StoredNumbers(), stored);

  devices.Set(std::vector{acm});
  EXPECT_FALSE(TComPortNames::PathOf("COM1"));
  EXPECT_EQ(TComPortNames::PathOf("COM2"), "/dev/ttyACM0");
  EXPECT_EQ(TComPortNames::NameOf("/dev/ttyACM0"), "COM2");
}

TEST(ComPortNames, MappingWinsOverAStoredNumberWhileItLasts) {
  TScopedTempRegistry reg;
  const TSerialDevice adapter = FakeUsbDevice("ttyUSB0", "A1B2C3", 1);
  TScopedFakeDevices devices({{adapter}});
  EXPECT_EQ(TComPortNames::PathOf("COM1"), "/dev/ttyUSB0");
  ASSERT_TRUE(TComPortNames::SetMapping("COM1", "/nonexistent/port"));
  devices.Set(std::vector{adapter, FakeUsbDevice("ttyUSB1", "OTHER", 2)});
  // The adapter waits without a name; the newcomer does not get its number either.
  EXPECT_EQ(Names(TComPortNames::Assign(TComPortNames::ScanDevices())),
            (std::vector<std::string>{"COM1=/nonexistent/port", "COM2=/dev/ttyUSB1"}));
  EXPECT_FALSE(TComPortNames::NameOf("/dev/ttyUSB0"));
  ASSERT_TRUE(TComPortNames::RemoveMapping("COM1"));
  EXPECT_EQ(TComPortNames::NameOf("/dev/ttyUSB0"), "COM1");
}

TEST(ComPortNames, NumberThatCannotBeStoredIsNotGiven) {
  TScopedTempRegistry reg;
  TScopedFakeDevices devices({{FakeDevice("ttyUSB0")}});
  TFaultyFileOps faulty;
  faulty.FailAt(TFileOp::Rename, 0);
  {
    TScopedFileOps scoped(&faulty);
    EXPECT_TRUE(TComPortNames::PresentPorts().empty());
    EXPECT_FALSE(TComPortNames::PathOf("COM1"));
  }
  EXPECT_TRUE(TComPortNames::StoredNumbers().empty());
  EXPECT_EQ(TComPortNames::PathOf("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(TComPortNames::StoredNumbers(), (std::vector<TComPortAssignment>{{"/dev/ttyUSB0", 1}}));
}

class Pty {
 public:
  Pty() {
    char name[256];
    if (::openpty(&Master, &Slave, name, nullptr, nullptr) == 0) Path = name;
  }
  ~Pty() {
    ::close(Master);
    ::close(Slave);
  }
  int Master = -1, Slave = -1;
  std::string Path;
};

TEST(ComPortNames, MappingRoundTrip) {
  TScopedTempRegistry reg;
  TScopedFakeDevices devices({{FakeDevice("ttyUSB0")}});
  Pty pty;
  ASSERT_FALSE(pty.Path.empty());
  ASSERT_TRUE(TComPortNames::SetMapping("com7", pty.Path));
  EXPECT_EQ(TRegistry::QueryValue({HKEY_LOCAL_MACHINE, ComPortMapKey}, "COM7"), pty.Path);
  EXPECT_EQ(TComPortNames::PathOf("COM7"), pty.Path);
  EXPECT_EQ(TComPortNames::PathOf("com7"), pty.Path);
  EXPECT_EQ(TComPortNames::NameOf(pty.Path), "COM7");
  EXPECT_EQ(TComPortNames::PathOf("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(TComPortNames::NameOf("/dev/ttyUSB0"), "COM1");
  EXPECT_EQ(TComPortNames::PathOf("/dev/anything"), "/dev/anything");
  EXPECT_FALSE(TComPortNames::PathOf("COM2"));
  EXPECT_FALSE(TComPortNames::NameOf("/dev/ttyUSB5"));

  // Pinned names survive symbolic links: the link reaches the same port.
  const std::string link = reg.Dir + "/by-id-printer";
  ASSERT_EQ(::symlink(pty.Path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(TComPortNames::SetMapping("COM5", link));
  EXPECT_EQ(TComPortNames::NameOf(link), "COM5");

  EXPECT_FALSE(TComPortNames::SetMapping("COM0", pty.Path));
  EXPECT_FALSE(TComPortNames::SetMapping("COM3", ""));
  auto mappings = TComPortNames::Mappings();
  ASSERT_EQ(mappings.size(), 2u);
  EXPECT_EQ(mappings[0].Number, 5);
  EXPECT_EQ(mappings[1].Number, 7);

  ASSERT_TRUE(TComPortNames::RemoveMapping("COM7"));
  EXPECT_FALSE(TComPortNames::PathOf("COM7"));
  EXPECT_FALSE(TComPortNames::RemoveMapping("COM7"));
}

TEST(ComPortNames, SerialCommListsThePresentPortsLive) {
  TScopedTempRegistry reg;
  TScopedFakeDevices devices({{FakeDevice("ttyS0"), FakeDevice("ttyUSB0")}});
  Pty pty;
  ASSERT_TRUE(TComPortNames::SetMapping("COM10", pty.Path));
  ASSERT_TRUE(TComPortNames::SetMapping("COM9", "/nonexistent/port"));  // not present
  // A value that is not a port name is ignored by the naming.
  ASSERT_TRUE(TRegistry::SetValue({HKEY_LOCAL_MACHINE, ComPortMapKey}, "Printer", "/dev/pts/0"));

  auto key = TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  ASSERT_TRUE(key);
  std::vector<TRegValue> listed;
  for (std::size_t i = 0; auto v = TRegistry::EnumValue(*key, i); ++i) listed.push_back(*v);
  const std::vector<TRegValue> expected = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyUSB0", "COM2"}, {pty.Path, "COM10"}};
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(TRegistry::QueryValue(*key, pty.Path), "COM10");

  // Unplugging takes the port out at once.
  ASSERT_TRUE(TComPortNames::RemoveMapping("COM10"));
  EXPECT_EQ(TRegistry::Values(*key)->size(), 2u);

  // The live key cannot be changed, and the file holds nothing of it.
  EXPECT_FALSE(TRegistry::SetValue(*key, "/dev/x", "COM3"));
  EXPECT_FALSE(TRegistry::DeleteValue(*key, "/dev/ttyS0"));
  EXPECT_FALSE(TRegistry::CreateKey(*key, "Sub"));
  EXPECT_FALSE(TRegistry::DeleteKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM"));
  EXPECT_FALSE(TRegistry::DeleteKey(HKEY_LOCAL_MACHINE, "HARDWARE"));
  EXPECT_EQ(TRegistry::EnumKey(*TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "hardware\\devicemap"), 0), "SERIALCOMM");
  // Other keys under HARDWARE are ordinary ones.
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "HARDWARE\\Other"));
  EXPECT_TRUE(TRegistry::SetValue({HKEY_LOCAL_MACHINE, "HARDWARE\\Other"}, "v", "1"));
  EXPECT_TRUE(TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM"));
}

TEST(ComPortNames, FailingScannerMeansNoAutomaticPorts) {
  TScopedTempRegistry reg;
  TComPortNames::SetScannerFactory(
      []() -> std::unique_ptr<TSerialDeviceScanner> { throw std::system_error(ENOMEM, std::system_category()); });
  Pty pty;
  ASSERT_TRUE(TComPortNames::SetMapping("COM3", pty.Path));
  auto ports = TComPortNames::PresentPorts();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].Name, "COM3");
  {
    TScopedFakeDevices none(std::nullopt);  // the scan itself fails
    EXPECT_EQ(TComPortNames::PresentPorts().size(), 1u);
  }
}

TEST(ComPortNames, RealUdevScanIsWellFormed) {
  TScopedTempRegistry reg;
  TComPortNames::SetScannerFactory(nullptr);
  auto scanner = CreateUdevSerialScanner();
  auto devices = scanner->Scan();
  ASSERT_TRUE(devices);  // may be empty in a container
  const std::regex sysName("ttyUSB[0-9]+|ttyACM[0-9]+|ttyS[0-9]+");
  for (const auto& d : *devices) {
    EXPECT_TRUE(std::regex_match(d.SysName, sysName)) << d.SysName;
    EXPECT_EQ(d.DevNode.rfind("/dev/", 0), 0u) << d.DevNode;
    EXPECT_EQ(d.Subsystem, "tty");
  }
  for (const auto& port : TComPortNames::PresentPorts()) {
    EXPECT_TRUE(ParseComPortName(port.Name)) << port.Name;
    EXPECT_EQ(TComPortNames::PathOf(port.Name), port.Path);
    EXPECT_EQ(TComPortNames::NameOf(port.Path), port.Name);
  }
}

}  // namespace
}  // namespace fp::test
