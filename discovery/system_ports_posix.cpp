#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/linux_port_scan.h"
#include "discovery/system_ports.h"

namespace lintrel {

PortList ListSystemPorts(const DevicePins& pins) {
  std::vector<PortEntry> ports = ScanLinuxSerialPorts("/sys/class/tty", "/dev");
  ApplyDevicePins(ports, pins);
  PortList list;
  for (PortEntry& port : ports) list.Add(std::move(port.name), std::move(port.device_path));
  return list;
}

std::string DefaultDevicePath(int port_number) { return LinuxDevicePathForPort(port_number); }

std::unique_ptr<DeviceIdentities> MakeSystemDeviceIdentities() {
  return std::make_unique<LinuxDeviceIdentities>("/sys/class/tty", "/dev");
}

}  // namespace lintrel
