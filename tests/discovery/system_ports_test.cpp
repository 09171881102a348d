#include "discovery/system_ports.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

// Every front end opens what this says: the listed device first, else the default of the
// naming scheme (Linux here), else nothing.
TEST(ResolveDevicePathTest, ListedDeviceThenTheDefault) {
  PortList ports;
  ports.Add("COM5", "/dev/serial/by-id/scanner");  // a pin
  ports.Add("COM193", "/dev/ttyAMA0");             // the pool: only the scan knows it
  ports.Add("COM2");
  const struct {
    int port_number;
    std::string expected;
  } cases[] = {
      {5, "/dev/serial/by-id/scanner"}, {193, "/dev/ttyAMA0"}, {2, "/dev/ttyS1"},
      {33, "/dev/ttyUSB0"},             {194, ""},             {0, ""},
      {-1, ""},                         {257, ""},
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(ResolveDevicePath(ports, test_case.port_number).path, test_case.expected) << test_case.port_number;
    EXPECT_EQ(DefaultDevicePath(test_case.port_number), ResolveDevicePath(PortList(), test_case.port_number).path);
  }
}

// A pinned device is its pinned port only: the scheme's name for it opens nothing, also
// when a second pin names the same device.
TEST(ResolveDevicePathTest, ADevicePinnedToAnotherPortIsNotOpenedUnderItsSchemeName) {
  PortList ports;
  ports.Add("COM5", "/dev/ttyS0");
  const DevicePins pins = {{5, "/dev/ttyS0"}, {6, "/dev/ttyS0"}, {7, "/dev/ttyUSB9"}};
  const ResolvedDevice com1 = ResolveDevicePath(ports, 1, pins);
  EXPECT_FALSE(com1.found());
  EXPECT_EQ(com1.no_device_reason, "/dev/ttyS0 is pinned to COM5, so COM1 names no device");
  EXPECT_EQ(ResolveDevicePath(ports, 6, pins).path, "/dev/ttyS5")
      << "of two pins to one device the lower keeps it; the other port keeps its own default";
  EXPECT_EQ(ResolveDevicePath(ports, 5, pins).path, "/dev/ttyS0");
  EXPECT_EQ(ResolveDevicePath(ports, 2, pins).path, "/dev/ttyS1") << "pins of other devices change nothing";
}

}  // namespace
}  // namespace lintrel
