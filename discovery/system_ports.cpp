#include "discovery/system_ports.h"

#include "common/port_number.h"
#include "discovery/linux_port_scan.h"

namespace lintrel {

ResolvedDevice ResolveDevicePath(const PortList& ports, int port_number, const DevicePins& pins) {
  if (std::optional<std::string> listed = ports.DevicePathOf(port_number)) return *listed;
  std::string device = DefaultDevicePath(port_number);
  if (const std::optional<int> owner = PinnedElsewhere(device, port_number, pins)) {
    return ResolvedDevice::None(device + " is pinned to " + PortName(*owner) + ", so " + PortName(port_number) +
                                " names no device");
  }
  return device;
}

}  // namespace lintrel
