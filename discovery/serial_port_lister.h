#pragma once

#include "discovery/port_list.h"
#include "platform/registry.h"

namespace lintrel {

// Where the system lists the serial ports it has drivers for: one value per port, whose
// data is the port name ("COM3") and whose name is the driver's device ("\Device\Serial0").
inline constexpr char kSerialDeviceMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Adds every port of the serial device map to `list`. When the map cannot be read at all,
// COM1 and COM2 are offered instead. Values that cannot be read are skipped, and so are
// the Bluetooth modem devices ("BthModem" in the value name), which the Bluetooth port
// finder lists with their own rules.
void AddDeviceMapPorts(platform::RegistryReader& registry, PortList& list);

// The ports the Port list offers on a system with a registry: the serial device map, then
// the ports bound to Bluetooth serial services.
PortList ListRegistryPorts(platform::RegistryReader& registry);

}  // namespace lintrel
