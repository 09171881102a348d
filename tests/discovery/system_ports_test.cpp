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
    EXPECT_EQ(ResolveDevicePath(ports, test_case.port_number), test_case.expected) << test_case.port_number;
    EXPECT_EQ(DefaultDevicePath(test_case.port_number), ResolveDevicePath(PortList(), test_case.port_number));
  }
}

}  // namespace
}  // namespace lintrel
