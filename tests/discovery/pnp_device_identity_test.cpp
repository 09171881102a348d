#include "discovery/pnp_device_identity.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fakes/fake_pnp_devices.h"

namespace lintrel {
namespace {

using testing::FakePnpDevices;

TEST(DescribeDeviceInstanceTest, NamesTheDeviceAsPeopleKnowIt) {
  const struct {
    const char* instance_id;
    const char* description;
  } cases[] = {
      {"USB\\VID_0403&PID_6001\\A1B2C3", "USB 0403:6001 serial A1B2C3"},
      {"USB\\VID_1A86&PID_7523\\5&2A3B4C5D&0&2", "USB 1a86:7523 without serial number"},
      {"USB\\VID_2341&PID_0043&MI_0A\\6&3A1B2C&0&0000", "USB 2341:0043 interface 10"},
      {"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "USB 0403:6001 serial A1B2C3A"},
      {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F\\7&1A2B3C4D&0&0011223344aa_C00000000",
       "Bluetooth 00:11:22:33:44:AA"},
      // Not named further: a service of this computer (no remote address), a built-in port,
      // ids that do not have the expected parts.
      {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&5E6F7A8B&0&000000000000_C00000000",
       "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&5E6F7A8B&0&000000000000_C00000000"},
      {"ACPI\\PNP0501\\1", "ACPI\\PNP0501\\1"},
      {"USB\\VID_XYZW&PID_0043\\1", "USB\\VID_XYZW&PID_0043\\1"},
      {"USB\\VID_0403&PID_6001&MI_FFFFFFFFFFFF\\1", "USB 0403:6001 serial 1"},
      {"BTHENUM\\X\\_", "BTHENUM\\X\\_"},
      {"", ""},
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(DescribeDeviceInstance(test_case.instance_id), test_case.description) << test_case.instance_id;
  }
}

class PnpDeviceIdentitiesTest : public ::testing::Test {
 protected:
  PnpDeviceIdentitiesTest() {
    auto devices = std::make_unique<FakePnpDevices>();
    devices_ = devices.get();
    identities_ = std::make_unique<PnpDeviceIdentities>(std::move(devices));
  }

  static ResolvedDevice ByName(int port) { return "\\\\.\\COM" + std::to_string(port); }

  FakePnpDevices* devices_;
  std::unique_ptr<PnpDeviceIdentities> identities_;
};

TEST_F(PnpDeviceIdentitiesTest, APortFollowsItsDeviceToANewNameAndOpensNoOtherUnderItsOwn) {
  constexpr char kScanner[] = "USB\\VID_0403&PID_6001\\SCAN0001";
  devices_->Plug("LPT1", "ACPI\\PNP0400\\1");
  devices_->Plug("COM5", kScanner);
  DeviceFollower follower(*identities_);
  EXPECT_EQ(follower.Resolve(5, [] { return ByName(5); }).path, "\\\\.\\COM5");
  ASSERT_NE(follower.Noted(5), nullptr);
  EXPECT_EQ(follower.Noted(5)->key, kScanner);

  // Another adapter takes COM5 while the scanner is out.
  devices_->Unplug("COM5");
  devices_->Plug("COM5", "USB\\VID_0403&PID_6001\\SCAN0002");
  EXPECT_EQ(follower.Resolve(5, [] { return ByName(5); }).no_device_reason,
            "the device it had (USB 0403:6001 serial SCAN0001) is not present");

  // The scanner comes back in another socket, as COM7.
  devices_->Plug("COM7", "usb\\vid_0403&pid_6001\\scan0001");
  EXPECT_EQ(follower.Resolve(5, [] { return ByName(5); }).path, "\\\\.\\COM7");
}

TEST_F(PnpDeviceIdentitiesTest, AStoredIdentityIsFoundAgainAfterARestart) {
  devices_->Plug("COM9", "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F\\7&1&0&0011223344AA_C0");
  const std::optional<DeviceIdentity> restored =
      identities_->Restore("BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F\\7&1&0&0011223344AA_C0");
  ASSERT_TRUE(restored.has_value());
  EXPECT_EQ(restored->description, "Bluetooth 00:11:22:33:44:AA");
  EXPECT_EQ(identities_->Find(*restored), "\\\\.\\COM9");
  for (const char* damaged : {"", "COM9", "USB\\VID_0403, PID_6001\\1"}) {
    EXPECT_FALSE(identities_->Restore(damaged).has_value()) << damaged;
  }
}

// A port of the serial device map that the device manager does not list (a driver without
// a device node, Wine): it opens by its name, as without identities.
TEST_F(PnpDeviceIdentitiesTest, APortTheDeviceManagerDoesNotListOpensByItsName) {
  DeviceFollower follower(*identities_);
  EXPECT_EQ(follower.Resolve(3, [] { return ByName(3); }).path, "\\\\.\\COM3");
  ASSERT_NE(follower.Noted(3), nullptr);
  EXPECT_FALSE(follower.Noted(3)->follows);
  devices_->Plug("COM3", "ACPI\\PNP0501\\1");
  EXPECT_EQ(follower.Resolve(3, [] { return ByName(3); }).path, "\\\\.\\COM3");
}

}  // namespace
}  // namespace lintrel
