#include <memory>
#include <string>

#include "common/port_number.h"
#include "discovery/pnp_device_identity.h"
#include "discovery/serial_port_lister.h"
#include "discovery/system_ports.h"
#include "platform/pnp_devices.h"
#include "platform/registry.h"

namespace lintrel {

PortList ListSystemPorts(const DevicePins& pins) {
  const std::unique_ptr<platform::RegistryReader> registry = platform::OpenSystemRegistry();
  return WithNetworkPorts(ListRegistryPorts(*registry), pins);
}

std::string DefaultDevicePath(int port_number) {
  if (!IsPortNumber(port_number)) return "";
  return "\\\\.\\" + PortName(port_number);
}

std::unique_ptr<DeviceIdentities> MakeSystemDeviceIdentities() {
  return std::make_unique<PnpDeviceIdentities>(platform::OpenSystemPnpDevices());
}

}  // namespace lintrel
