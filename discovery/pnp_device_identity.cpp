#include "discovery/pnp_device_identity.h"

#include <algorithm>
#include <vector>

#include "common/port_number.h"
#include "discovery/ascii_text.h"

namespace lintrel {

namespace {

using discovery_text::ToUpperAscii;

constexpr std::string_view kDevicePathPrefix = "\\\\.\\";

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

bool IsHex(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

// The value of "VID_0403" among the fields of a hardware id; empty when none has the tag.
std::string_view Tagged(const std::vector<std::string_view>& fields, std::string_view tag) {
  for (std::string_view field : fields) {
    if (field.size() > tag.size() && ToUpperAscii(field.substr(0, tag.size())) == tag) return field.substr(tag.size());
  }
  return {};
}

std::optional<std::string> DescribeUsb(std::string_view enumerator, std::string_view device,
                                       std::string_view instance) {
  // USB\VID_0403&PID_6001[&MI_00]\<serial, or an id Windows made up>; an FTDI driver's own
  // bus: FTDIBUS\VID_0403+PID_6001+<serial and channel letter>\0000.
  const bool ftdi = enumerator == "FTDIBUS";
  const std::vector<std::string_view> fields = Split(device, ftdi ? '+' : '&');
  const std::string_view vendor = Tagged(fields, "VID_");
  const std::string_view product = Tagged(fields, "PID_");
  if (!IsHex(vendor) || !IsHex(product)) return std::nullopt;
  std::string description = "USB " + ToLowerAscii(vendor) + ":" + ToLowerAscii(product);
  if (ftdi) {
    if (fields.size() > 2 && !fields[2].empty()) description += " serial " + std::string(fields[2]);
    return description;
  }
  const std::string_view interface = Tagged(fields, "MI_");
  // One function of a composite device: its id comes from its parent's, serial or not.
  if (IsHex(interface) && interface.size() <= 4) {
    return description + " interface " + std::to_string(std::stoul(std::string(interface), nullptr, 16));
  }
  // Without a serial number Windows makes an id up from the USB socket ("5&2A3B4C5D&0&2").
  if (instance.find('&') != std::string_view::npos) return description + " without serial number";
  return description + " serial " + std::string(instance);
}

// BTHENUM\{service}_...\7&1A2B3C4D&0&0011223344AA_C00000000: the remote device's address
// is the twelve digits before the last '_'; zeros for a service this computer offers.
std::optional<std::string> DescribeBluetooth(std::string_view instance) {
  const std::size_t underscore = instance.rfind('_');
  if (underscore == std::string_view::npos || underscore < 12) return std::nullopt;
  const std::string_view address = instance.substr(underscore - 12, 12);
  if (!IsHex(address) || address.find_first_not_of('0') == std::string_view::npos) return std::nullopt;
  std::string description = "Bluetooth ";
  for (std::size_t at = 0; at < address.size(); at += 2) {
    if (at > 0) description += ':';
    description += ToUpperAscii(address.substr(at, 2));
  }
  return description;
}

// "COM5" of "\\.\COM5".
std::string PortNameOfPath(std::string_view device_path) {
  if (device_path.starts_with(kDevicePathPrefix)) device_path.remove_prefix(kDevicePathPrefix.size());
  return std::string(device_path);
}

bool SameText(std::string_view a, std::string_view b) { return ToUpperAscii(a) == ToUpperAscii(b); }

DeviceIdentity InstanceIdentity(const std::string& instance_id) {
  return DeviceIdentity{
      .key = instance_id, .description = DescribeDeviceInstance(instance_id), .follows = true, .path = {}};
}

}  // namespace

std::string DescribeDeviceInstance(std::string_view instance_id) {
  const std::vector<std::string_view> parts = Split(instance_id, '\\');
  if (parts.size() == 3) {
    const std::string enumerator = ToUpperAscii(parts[0]);
    std::optional<std::string> described;
    if (enumerator == "USB" || enumerator == "FTDIBUS") described = DescribeUsb(enumerator, parts[1], parts[2]);
    if (enumerator == "BTHENUM") described = DescribeBluetooth(parts[2]);
    if (described) return *described;
  }
  return std::string(instance_id);
}

std::optional<DeviceIdentity> PnpDeviceIdentities::IdentityOf(const std::string& device_path) {
  const std::string name = PortNameOfPath(device_path);
  for (const platform::PnpSerialPort& port : devices_->PresentSerialPorts()) {
    if (SameText(port.port_name, name)) return InstanceIdentity(port.instance_id);
  }
  // Not a device the device manager knows: the port opens by its name.
  return DeviceIdentity{
      .key = "path:" + device_path, .description = device_path, .follows = false, .path = device_path};
}

std::optional<std::string> PnpDeviceIdentities::Find(const DeviceIdentity& identity) {
  if (!identity.follows) return identity.path;
  for (const platform::PnpSerialPort& port : devices_->PresentSerialPorts()) {
    // The device manager also lists LPT ports in the Ports class.
    if (SameText(port.instance_id, identity.key) && ParsePortName(port.port_name)) {
      return std::string(kDevicePathPrefix) + port.port_name;
    }
  }
  return std::nullopt;
}

std::optional<DeviceIdentity> PnpDeviceIdentities::Restore(const std::string& key) {
  // Instance ids have at least two parts, never a comma, and no blanks.
  if (Split(key, '\\').size() < 2 || key.find_first_of(", ") != std::string::npos) return std::nullopt;
  return InstanceIdentity(key);
}

}  // namespace lintrel
