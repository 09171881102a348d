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

namespace {

// Windows names its ports itself; following a device by its identity there is not built
// yet, so every port opens by its name.
class NoDeviceIdentities : public DeviceIdentities {
 public:
  std::optional<DeviceIdentity> IdentityOf(const std::string& /*device_path*/) override { return std::nullopt; }
  std::optional<std::string> Find(const DeviceIdentity& /*identity*/) override { return std::nullopt; }
};

}  // namespace

std::unique_ptr<DeviceIdentities> MakeSystemDeviceIdentities() { return std::make_unique<NoDeviceIdentities>(); }

}  // namespace lintrel
