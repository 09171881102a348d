#include "discovery/linux_port_scan.h"

#include "discovery/device_identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace lintrel {
namespace {

namespace fs = std::filesystem;

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// A fake /sys/class/tty and /dev in a temporary directory. Class entries are links into a
// fake /sys/devices tree, as the kernel lays them out.
class LinuxPortScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("lintrel_port_scan_" + std::to_string(random()));
    fs::create_directories(sys_class_tty());
    fs::create_directories(devices());
    fs::create_directories(dev());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path sys_class_tty() const { return root_ / "sys/class/tty"; }
  fs::path devices() const { return root_ / "sys/devices"; }
  fs::path dev() const { return root_ / "dev"; }

  // A tty registered by the kernel; `with_device` gives it a device link, `type` a type file.
  void AddTty(const std::string& name, bool with_device = true, const std::string& type = {}) {
    const fs::path tty_dir = devices() / "tty" / name;
    fs::create_directories(tty_dir);
    if (with_device) {
      const fs::path hardware = devices() / "hw" / name;
      fs::create_directories(hardware);
      fs::create_directory_symlink(hardware, tty_dir / "device");
    }
    if (!type.empty()) std::ofstream(tty_dir / "type") << type;
    fs::create_directory_symlink(tty_dir, sys_class_tty() / name);
  }

  void AddDeviceFile(const std::string& name) {
    fs::create_directories((dev() / name).parent_path());
    std::ofstream(dev() / name) << "";
  }

  std::string DevicePath(const std::string& name) const { return (dev() / name).string(); }

  std::vector<PortEntry> Scan() const { return ScanLinuxSerialPorts(sys_class_tty(), dev()); }

  fs::path root_;
};

MATCHER_P2(Port, name, device_path, "") {
  return arg.name == name && arg.device_path == device_path;
}

std::vector<std::string> Names(const std::vector<PortEntry>& ports) {
  std::vector<std::string> names;
  for (const PortEntry& port : ports) names.push_back(port.name);
  return names;
}

TEST_F(LinuxPortScanTest, NamesDevicesByTheFixedScheme) {
  AddTty("ttyS0", true, "4\n");
  AddTty("ttyS1", true, "0\n");  // serial-core placeholder: no UART behind it
  AddTty("ttyS2");
  AddTty("tty0", false);  // virtual console, no device
  AddTty("console", false);
  AddTty("ttyUSB1");
  AddTty("ttyUSB0");
  AddTty("ttyACM0");
  AddTty("ttyAMA10");
  AddTty("ttyAMA2");
  AddTty("ttyXRUSB0");
  AddTty("ttyS40");  // beyond the ttyS range
  AddDeviceFile("rfcomm0");
  AddDeviceFile("rfcommX");
  AddDeviceFile("ttyS0");

  EXPECT_THAT(
      Scan(),
      ElementsAre(Port("COM1", DevicePath("ttyS0")), Port("COM3", DevicePath("ttyS2")),
                  Port("COM33", DevicePath("ttyUSB0")), Port("COM34", DevicePath("ttyUSB1")),
                  Port("COM97", DevicePath("ttyACM0")), Port("COM161", DevicePath("rfcomm0")),
                  Port("COM193", DevicePath("ttyAMA2")), Port("COM194", DevicePath("ttyAMA10")),
                  Port("COM195", DevicePath("ttyS40")), Port("COM196", DevicePath("ttyXRUSB0"))));
}

TEST_F(LinuxPortScanTest, RangeEdgesSpillIntoThePool) {
  for (const char* name : {"ttyS31", "ttyS32", "ttyUSB63", "ttyUSB64", "ttyACM63", "ttyACM64"}) {
    AddTty(name);
  }
  AddDeviceFile("rfcomm31");
  AddDeviceFile("rfcomm32");
  AddTty("ttyS07");  // not a name the kernel gives: no fixed number
  EXPECT_THAT(
      Scan(),
      ElementsAre(Port("COM32", DevicePath("ttyS31")), Port("COM96", DevicePath("ttyUSB63")),
                  Port("COM160", DevicePath("ttyACM63")), Port("COM192", DevicePath("rfcomm31")),
                  Port("COM193", DevicePath("rfcomm32")), Port("COM194", DevicePath("ttyACM64")),
                  Port("COM195", DevicePath("ttyS07")), Port("COM196", DevicePath("ttyS32")),
                  Port("COM197", DevicePath("ttyUSB64"))));
}

TEST_F(LinuxPortScanTest, DevicesBeyondThePoolAreLeftOut) {
  for (int index = 0; index < 70; ++index) AddTty("ttyAMA" + std::to_string(index));
  const std::vector<PortEntry> ports = Scan();
  ASSERT_EQ(ports.size(), 64u);
  EXPECT_THAT(ports.front(), Port("COM193", DevicePath("ttyAMA0")));
  EXPECT_THAT(ports.back(), Port("COM256", DevicePath("ttyAMA63")));
}

TEST_F(LinuxPortScanTest, AnRfcommBindingIsListedOnce) {
  AddTty("rfcomm0");
  AddDeviceFile("rfcomm0");
  fs::create_directories(dev() / "rfcomm1");  // a directory is not a device
  EXPECT_THAT(Scan(), ElementsAre(Port("COM161", DevicePath("rfcomm0"))));
}

TEST_F(LinuxPortScanTest, MissingRootsListNothing) {
  EXPECT_THAT(ScanLinuxSerialPorts(root_ / "no-sys", root_ / "no-dev"), IsEmpty());
  EXPECT_THAT(Scan(), IsEmpty());
}

TEST_F(LinuxPortScanTest, DefaultDevicePathsAreTheInverseOfTheScan) {
  for (int index = 0; index < 32; ++index) AddTty("ttyS" + std::to_string(index));
  for (int index = 0; index < 64; ++index) AddTty("ttyUSB" + std::to_string(index));
  for (int index = 0; index < 64; ++index) AddTty("ttyACM" + std::to_string(index));
  for (int index = 0; index < 32; ++index) AddDeviceFile("rfcomm" + std::to_string(index));
  const std::vector<PortEntry> ports = Scan();
  ASSERT_EQ(ports.size(), 192u);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    ASSERT_EQ(ports[i].name, "COM" + std::to_string(number));
    const std::string default_path = LinuxDevicePathForPort(number);
    EXPECT_EQ(fs::path(default_path).parent_path(), "/dev") << number;
    EXPECT_EQ(fs::path(default_path).filename(), fs::path(ports[i].device_path).filename())
        << number;
  }
}

TEST(LinuxDevicePathForPortTest, FixedRangesOnly) {
  const std::map<int, std::string> cases = {
      {1, "/dev/ttyS0"},
      {32, "/dev/ttyS31"},
      {33, "/dev/ttyUSB0"},
      {96, "/dev/ttyUSB63"},
      {97, "/dev/ttyACM0"},
      {160, "/dev/ttyACM63"},
      {161, "/dev/rfcomm0"},
      {192, "/dev/rfcomm31"},
      {193, ""},
      {256, ""},
      {257, ""},
      {0, ""},
      {-1, ""},
  };
  for (const auto& [number, path] : cases)
    EXPECT_EQ(LinuxDevicePathForPort(number), path) << number;
}

class DevicePinTest : public LinuxPortScanTest {
 protected:
  void SetUp() override {
    LinuxPortScanTest::SetUp();
    AddTty("ttyS0", true, "4");
    AddTty("ttyUSB0");
    AddDeviceFile("ttyS0");
    AddDeviceFile("ttyUSB0");
    fs::create_directories(dev() / "serial/by-id");
    fs::create_symlink("../../ttyUSB0", by_id_link());
  }

  std::string by_id_link() const {
    return (dev() / "serial/by-id/usb-Scanner-if00-port0").string();
  }
};

TEST_F(DevicePinTest, APinnedDeviceIsListedOnceUnderItsPinnedName) {
  std::vector<PortEntry> ports = Scan();
  ApplyDevicePins(ports, {{5, by_id_link()}});
  EXPECT_THAT(ports, ElementsAre(Port("COM1", DevicePath("ttyS0")), Port("COM5", by_id_link())));
}

TEST_F(DevicePinTest, APinnedNameTakesThePinnedPath) {
  std::vector<PortEntry> ports = Scan();
  ApplyDevicePins(ports, {{1, by_id_link()}});
  EXPECT_THAT(ports, ElementsAre(Port("COM1", by_id_link())));

  ports = Scan();
  ApplyDevicePins(ports, {{33, by_id_link()}});  // pinned to the device it already names
  EXPECT_THAT(ports, ElementsAre(Port("COM1", DevicePath("ttyS0")), Port("COM33", by_id_link())));
}

TEST_F(DevicePinTest, PinsOfAbsentDevicesAreOffered) {
  std::vector<PortEntry> ports = Scan();
  const std::string absent = (dev() / "serial/by-id/usb-Unplugged-if00").string();
  ApplyDevicePins(ports, {{200, absent}, {2, ""}});
  EXPECT_THAT(Names(ports), ElementsAre("COM1", "COM2", "COM33", "COM200"));
  EXPECT_EQ(ports[3].device_path, absent);
}

TEST_F(DevicePinTest, PinsOutsideThePortRangeAreIgnored) {
  std::vector<PortEntry> ports = Scan();
  ApplyDevicePins(ports, {{0, by_id_link()}, {257, by_id_link()}, {-4, by_id_link()}});
  EXPECT_THAT(Names(ports), ElementsAre("COM1", "COM33"));
}

TEST_F(DevicePinTest, OfTwoPinsOfOneDeviceTheLowerPortKeepsIt) {
  std::vector<PortEntry> ports = Scan();
  ApplyDevicePins(ports, {{5, by_id_link()}, {6, DevicePath("ttyUSB0")}});
  EXPECT_THAT(ports, ElementsAre(Port("COM1", DevicePath("ttyS0")), Port("COM5", by_id_link())));
  EXPECT_EQ(PinnedElsewhere(DevicePath("ttyUSB0"), 33, {{5, by_id_link()}, {6, DevicePath("ttyUSB0")}}), 5);
  EXPECT_EQ(PinnedElsewhere(by_id_link(), 5, {{5, by_id_link()}}), std::nullopt);
  EXPECT_EQ(PinnedElsewhere(DevicePath("ttyS0"), 1, {{5, by_id_link()}}), std::nullopt);
}

// USB adapters and rfcomm bindings as the kernel lays them out in sysfs.
class DeviceIdentityTest : public LinuxPortScanTest {
 protected:
  void SetUp() override {
    LinuxPortScanTest::SetUp();
    identities_.emplace(sys_class_tty(), dev());
  }

  // An adapter plugged into USB port `usb_port` ("1-2"); its tty's device is the usb-serial
  // port under the interface, under the USB device.
  void AddUsbTty(const std::string& name, const std::string& usb_port, const std::string& serial,
                 const std::string& ids = "0403:6001") {
    const fs::path usb = devices() / "pci0000:00/0000:00:04.0/usb1" / usb_port;
    fs::create_directories(usb);
    std::ofstream(usb / "idVendor") << ids.substr(0, 4) << "\n";
    std::ofstream(usb / "idProduct") << ids.substr(5) << "\n";
    if (!serial.empty()) std::ofstream(usb / "serial") << serial << "\n";
    const fs::path interface = usb / (usb_port + ":1.0");
    fs::create_directories(interface);
    std::ofstream(interface / "bInterfaceNumber") << "00\n";
    const fs::path serial_port = interface / name;
    const fs::path tty_dir = serial_port / "tty" / name;
    fs::create_directories(tty_dir);
    std::ofstream(serial_port / "port_number") << "0\n";
    fs::create_directory_symlink(serial_port, tty_dir / "device");
    fs::create_directory_symlink(tty_dir, sys_class_tty() / name);
    AddDeviceFile(name);
  }

  void AddRfcomm(const std::string& name, const std::string& address) {
    const fs::path tty_dir = devices() / "virtual/tty" / name;
    fs::create_directories(tty_dir);
    std::ofstream(tty_dir / "address") << address << "\n";
    std::ofstream(tty_dir / "channel") << "1\n";
    fs::create_directory_symlink(tty_dir, sys_class_tty() / name);
    AddDeviceFile(name);
  }

  // The adapter is pulled out: its tty and device node go away.
  void Unplug(const std::string& name) {
    fs::remove(sys_class_tty() / name);
    fs::remove(dev() / name);
    fs::remove_all(devices() / "pci0000:00");
  }

  std::optional<std::string> DescriptionOf(const std::string& path) {
    const std::optional<DeviceIdentity> identity = identities_->IdentityOf(path);
    if (!identity) return std::nullopt;
    return identity->description + (identity->follows ? " [follows]" : "");
  }

  std::optional<LinuxDeviceIdentities> identities_;  // over the fake tree, made once it exists
};

TEST_F(DeviceIdentityTest, EachKindOfDeviceHasItsIdentity) {
  AddUsbTty("ttyUSB0", "1-2", "SCAN0001");
  AddTty("ttyS0", true, "4");
  AddDeviceFile("ttyS0");
  AddTty("ttyS1", true, "4");
  AddDeviceFile("ttyS1");
  fs::create_directories(dev() / "serial/by-path");
  fs::create_symlink("../../ttyS1", dev() / "serial/by-path/pci-0000:00:16.3");
  AddRfcomm("rfcomm0", "00:11:22:33:44:55");

  const struct {
    std::string path;
    std::optional<std::string> description;
  } cases[] = {
      {DevicePath("ttyUSB0"), "USB 0403:6001 serial SCAN0001, interface 0 [follows]"},
      {DevicePath("rfcomm0"), "Bluetooth 00:11:22:33:44:55 channel 1 [follows]"},
      {DevicePath("ttyS0"), DevicePath("ttyS0")},  // no hardware identity, no stable link
      {DevicePath("ttyS1"), (dev() / "serial/by-path/pci-0000:00:16.3").string()},
      {DevicePath("ttyS9"), std::nullopt},  // nothing there
  };
  for (const auto& test_case : cases) EXPECT_EQ(DescriptionOf(test_case.path), test_case.description) << test_case.path;
}

TEST_F(DeviceIdentityTest, APortFollowsItsDeviceToANewNameAndOpensNoOtherUnderTheOldOne) {
  AddUsbTty("ttyUSB0", "1-2", "SCAN0001");
  DeviceFollower follower(*identities_);
  int asked = 0;
  const auto wanted = [&] {
    ++asked;
    return ResolvedDevice(DevicePath("ttyUSB0"));
  };
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB0"));

  // Another adapter takes the old name while the port's own is out.
  Unplug("ttyUSB0");
  AddUsbTty("ttyUSB0", "1-3", "SCAN0002");
  const ResolvedDevice while_away = follower.Resolve(33, wanted);
  EXPECT_FALSE(while_away.found());
  EXPECT_EQ(while_away.no_device_reason,
            "the device it had (USB 0403:6001 serial SCAN0001, interface 0) is not present");

  // Its own comes back under another name, in another socket.
  AddUsbTty("ttyUSB1", "1-4", "SCAN0001");
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB1"));
  EXPECT_EQ(asked, 1) << "the port's name is asked only until its device is noted";
}

TEST_F(DeviceIdentityTest, AnAdapterWithoutSerialNumberIsFollowedOnlyInItsUsbPort) {
  AddUsbTty("ttyUSB0", "1-2", "", "1a86:7523");
  EXPECT_EQ(DescriptionOf(DevicePath("ttyUSB0")), "USB 1a86:7523 in USB port 1-2, interface 0 [follows]");
  DeviceFollower follower(*identities_);
  const auto wanted = [&] { return ResolvedDevice(DevicePath("ttyUSB0")); };
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB0"));

  Unplug("ttyUSB0");
  AddUsbTty("ttyUSB0", "1-3", "", "1a86:7523");  // the same kind, in another socket
  EXPECT_FALSE(follower.Resolve(33, wanted).found());
  Unplug("ttyUSB0");
  AddUsbTty("ttyUSB1", "1-2", "", "1a86:7523");
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB1"));
}

TEST_F(DeviceIdentityTest, APortWhoseDeviceIsMissingAtFirstNotesItOnceItIsThere) {
  DeviceFollower follower(*identities_);
  const auto wanted = [&] { return ResolvedDevice(DevicePath("ttyUSB0")); };
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB0")) << "opens what its name gives it";
  const auto pinned = [] { return ResolvedDevice::None("pinned elsewhere"); };
  EXPECT_EQ(follower.Resolve(34, pinned).no_device_reason, "pinned elsewhere");

  AddUsbTty("ttyUSB0", "1-2", "SCAN0001");
  EXPECT_EQ(follower.Resolve(33, wanted).path, DevicePath("ttyUSB0"));
  Unplug("ttyUSB0");
  AddUsbTty("ttyUSB0", "1-2", "SCAN0002");
  EXPECT_FALSE(follower.Resolve(33, wanted).found());
}

}  // namespace
}  // namespace lintrel
