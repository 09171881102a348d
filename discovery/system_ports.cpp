#include "discovery/system_ports.h"

namespace lintrel {

std::string ResolveDevicePath(const PortList& ports, int port_number) {
  if (std::optional<std::string> listed = ports.DevicePathOf(port_number)) return *listed;
  return DefaultDevicePath(port_number);
}

}  // namespace lintrel
