#include <memory>
#include <string>

#include "common/port_number.h"
#include "discovery/serial_port_lister.h"
#include "discovery/system_ports.h"
#include "platform/registry.h"

namespace lintrel {

PortList ListSystemPorts(const DevicePins& /*pins*/) {
  const std::unique_ptr<platform::RegistryReader> registry = platform::OpenSystemRegistry();
  return ListRegistryPorts(*registry);
}

std::string DefaultDevicePath(int port_number) {
  if (!IsPortNumber(port_number)) return "";
  return "\\\\.\\" + PortName(port_number);
}

}  // namespace lintrel
