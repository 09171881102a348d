#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "common/resolved_device.h"

namespace lintrel {

// Which physical device stands behind a serial device path, so that a port re-opens the
// device it had and no other, whatever name the system gives that device next time.
struct DeviceIdentity {
  std::string key;          // equal keys: the same device
  std::string description;  // for people: "USB 0403:6001 serial SCAN0001, interface 0"
  // Found again by a search of the system's devices (USB, Bluetooth); otherwise the path in
  // `key` itself is opened again (a stable link, or a device whose name never moves).
  bool follows = false;
  std::string path;  // the path to open for an identity that does not follow
};

// Reads identities and finds their devices again.
//
// Thread contract: used by one thread at a time (the UI thread).
class DeviceIdentities {
 public:
  virtual ~DeviceIdentities() = default;
  // The identity of the device at `device_path`; nullopt when there is no device there.
  virtual std::optional<DeviceIdentity> IdentityOf(const std::string& device_path) = 0;
  // The path of the device with this identity now; nullopt when it is not present.
  virtual std::optional<std::string> Find(const DeviceIdentity& identity) = 0;
  // The identity whose key was stored earlier (a remembered connection), to be found again
  // after a restart; nullopt for a key of no identity that follows its device. Identities
  // that are never stored need not restore.
  virtual std::optional<DeviceIdentity> Restore(const std::string& /*key*/) { return std::nullopt; }
};

// Linux, from sysfs (`sys_class_tty`, normally /sys/class/tty) and the device folder (`dev`,
// normally /dev). In order of preference:
//  - a USB serial device: vendor id, product id, serial number, interface number (and the
//    port within the interface, for adapters with several ports on one interface); without
//    a serial number (many cheap adapters have none) the USB port path it is plugged into
//    stands in for it, so such a device is followed only while it stays in its socket;
//  - an rfcomm binding: the Bluetooth address and channel of the remote device;
//  - else the stable /dev/serial/by-id or /dev/serial/by-path link to the device, or the
//    path itself (ttyS0 never changes its name).
class LinuxDeviceIdentities : public DeviceIdentities {
 public:
  LinuxDeviceIdentities(std::filesystem::path sys_class_tty, std::filesystem::path dev)
      : sys_class_tty_(std::move(sys_class_tty)), dev_(std::move(dev)) {}

  std::optional<DeviceIdentity> IdentityOf(const std::string& device_path) override;
  std::optional<std::string> Find(const DeviceIdentity& identity) override;

 private:
  // The identity of a tty by its kernel name ("ttyUSB0"), when it is a USB or Bluetooth one.
  std::optional<DeviceIdentity> HardwareIdentity(const std::string& tty_name) const;
  std::optional<std::string> StableLinkTo(const std::filesystem::path& device) const;

  std::filesystem::path sys_class_tty_;
  std::filesystem::path dev_;
};

// The device each port opens, for a front end that keeps its ports open for long: the first
// time a port's device is found, its identity is noted; from then on the port opens the
// device with that identity wherever it now is, and nothing when it is not present, even if
// another device has taken its old name.
//
// Thread contract: UI thread only.
class DeviceFollower {
 public:
  explicit DeviceFollower(DeviceIdentities& identities) : identities_(identities) {}

  // `wanted` gives the device the port's name or option names now; it is asked only until
  // the port's device has been noted.
  ResolvedDevice Resolve(int port_number, const std::function<ResolvedDevice()>& wanted);

  // The identity noted for the port; null when none is.
  const DeviceIdentity* Noted(int port_number) const;
  // Notes an identity known from before (a connection remembered across a restart).
  void Note(int port_number, DeviceIdentity identity) { noted_.insert_or_assign(port_number, std::move(identity)); }
  // The port opens what its name gives it again, and notes that device at its next open.
  void Forget(int port_number) { noted_.erase(port_number); }
  void ForgetAll() { noted_.clear(); }

 private:
  DeviceIdentities& identities_;
  std::map<int, DeviceIdentity> noted_;
};

}  // namespace lintrel
