#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/device_identity.h"
#include "platform/pnp_devices.h"

namespace lintrel {

// A device instance id as people know the device: "USB 0403:6001 serial A1B2C3",
// "USB 2341:0043 interface 0", "USB 1a86:7523 without serial number", "Bluetooth
// 00:11:22:33:44:AA"; any other id ("ACPI\PNP0501\1") as it is.
std::string DescribeDeviceInstance(std::string_view instance_id);

// Windows: the identity of a port's device is the instance id the device manager gives it.
// That id holds the USB vendor, product and serial number (or, for an adapter without a
// serial number, the USB socket it is plugged into), or the Bluetooth address of a
// Bluetooth serial port; Windows keeps it when the device comes back, whatever COM name it
// then gets. A port that the device manager does not list (a port of the serial device
// map alone) opens by its name.
//
// Thread contract: one thread at a time (the UI thread).
class PnpDeviceIdentities : public DeviceIdentities {
 public:
  explicit PnpDeviceIdentities(std::unique_ptr<platform::PnpDevices> devices) : devices_(std::move(devices)) {}

  // `device_path` is "\\.\COMn".
  std::optional<DeviceIdentity> IdentityOf(const std::string& device_path) override;
  std::optional<std::string> Find(const DeviceIdentity& identity) override;
  // The key is the instance id.
  std::optional<DeviceIdentity> Restore(const std::string& key) override;

 private:
  std::unique_ptr<platform::PnpDevices> devices_;
};

}  // namespace lintrel
