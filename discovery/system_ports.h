#pragma once

#include <map>
#include <memory>
#include <string>

#include "common/resolved_device.h"
#include "discovery/device_identity.h"
#include "discovery/port_list.h"

namespace lintrel {

// Port number to device path: the ports the user has pinned to a device of their choice
// ("Device COMn" entries of a settings file).
using DevicePins = std::map<int, std::string>;

// The serial ports of this machine in the Port list's order. On Windows: the serial device
// map and the ports of paired Bluetooth serial devices (Windows names its ports itself, so
// only the pins of network ports apply, see WithNetworkPorts). Elsewhere: the Linux scan under its COM naming scheme, with `pins`
// applied.
PortList ListSystemPorts(const DevicePins& pins);

// The device of port COMn when the port list names none: "\\.\COMn" on Windows; elsewhere
// the device the naming scheme gives COMn in its fixed ranges, empty in the pooled range,
// which only a scan can resolve. Empty for a number that is no port number.
std::string DefaultDevicePath(int port_number);

// The one answer to "which device is COMn?" for every front end: the device the port list
// names for the port (a pinned device, or the one a scan found), else DefaultDevicePath(),
// unless `pins` give that device to another port: a pinned device opens under its pinned
// name only.
ResolvedDevice ResolveDevicePath(const PortList& ports, int port_number, const DevicePins& pins = {});

// This machine's device identities (see DeviceIdentities): sysfs on Linux, the device
// manager's instance ids on Windows.
std::unique_ptr<DeviceIdentities> MakeSystemDeviceIdentities();

}  // namespace lintrel
