#include "discovery/serial_port_lister.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/registry_scenarios.h"
#include "fakes/fake_registry.h"

namespace lintrel {
namespace {

using ::testing::ElementsAre;
using testing::FakeRegistry;
using ::testing::IsEmpty;

std::vector<std::string> Names(const PortList& list) {
  std::vector<std::string> names;
  for (const PortEntry& entry : list.entries()) names.push_back(entry.name);
  return names;
}

class SerialPortListerTest : public ::testing::Test {
 protected:
  std::vector<std::string> DeviceMapNames() {
    PortList list;
    AddDeviceMapPorts(registry_, list);
    return Names(list);
  }

  void TearDown() override {
    EXPECT_EQ(registry_.open_key_count(), 0u) << "a key was left open";
    EXPECT_EQ(registry_.bad_closes(), 0);
  }

  FakeRegistry registry_;
};

TEST_F(SerialPortListerTest, ListsTheDeviceMapPortsInListOrder) {
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM2");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\VCP0", "COM10");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial1", "COM1");
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM1", "COM2", "COM10"));
}

TEST_F(SerialPortListerTest, OffersComOneAndTwoWhenTheMapCannotBeRead) {
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM1", "COM2"));  // no such key

  registry_.FailCount(kSerialDeviceMapKey);
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM5");
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM1", "COM2"));
}

TEST_F(SerialPortListerTest, AnEmptyMapListsNothing) {
  registry_.AddKey(kSerialDeviceMapKey);
  EXPECT_THAT(DeviceMapNames(), IsEmpty());
}

TEST_F(SerialPortListerTest, ValuesThatCannotBeReadAreSkipped) {
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM3");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Long", std::string(100, 'C'));  // 101 bytes
  registry_.AddString(kSerialDeviceMapKey, std::string(100, 'N'), "COM9");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial1", "COM4");
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM3", "COM4"));
}

TEST_F(SerialPortListerTest, BluetoothModemDevicesAreLeftToTheBluetoothFinder) {
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\BthModem0", "COM7");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM1");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\bthmodem1",
                      "COM8");  // the filter is case-sensitive
  registry_.AddString(kSerialDeviceMapKey, "BthModem", "COM9");
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM1", "COM8"));
}

TEST_F(SerialPortListerTest, DataIsReadUpToItsFirstZeroByte) {
  registry_.AddBinary(kSerialDeviceMapKey, "\\Device\\A", std::string("COM5\0COM99", 10));
  registry_.AddBinary(kSerialDeviceMapKey, "\\Device\\B", "COM6");  // no terminating zero
  registry_.AddBinary(kSerialDeviceMapKey, "\\Device\\C", std::string(100, 'X'));
  EXPECT_THAT(DeviceMapNames(), ElementsAre("COM5", "COM6", std::string(100, 'X')));
}

TEST_F(SerialPortListerTest, RegistryPortsAreTheDeviceMapThenBluetoothPorts) {
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM1");
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial1", "COM7");
  testing::AddPairedSerialDevice(registry_, "COM7");
  // The same port from both sources is listed twice.
  EXPECT_THAT(Names(ListRegistryPorts(registry_)), ElementsAre("COM1", "COM7", "COM7"));
}

TEST_F(SerialPortListerTest, BluetoothPortsAreAddedToTheFallbackPorts) {
  testing::AddPairedSerialDevice(registry_, "COM12");
  EXPECT_THAT(Names(ListRegistryPorts(registry_)), ElementsAre("COM1", "COM2", "COM12"));
}

TEST_F(SerialPortListerTest, NoBluetoothKeysLeavesTheDeviceMapPorts) {
  registry_.AddString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM3");
  EXPECT_THAT(Names(ListRegistryPorts(registry_)), ElementsAre("COM3"));
}

}  // namespace
}  // namespace lintrel
