#include "discovery/serial_port_lister.h"

#include <optional>

#include "discovery/ascii_text.h"
#include "discovery/bluetooth_port_finder.h"

namespace lintrel {

namespace {

using discovery_text::Contains;
using discovery_text::RegistryDataText;

void AddFallbackPorts(PortList& list) {
  list.Add("COM1");
  list.Add("COM2");
}

}  // namespace

void AddDeviceMapPorts(platform::RegistryReader& registry, PortList& list) {
  const platform::RegistryReader::Key key = registry.OpenKey(kSerialDeviceMapKey);
  const std::optional<uint32_t> count = registry.CountValues(key);
  if (!count) {
    AddFallbackPorts(list);
  } else {
    for (uint32_t index = 0; index < *count; ++index) {
      const std::optional<platform::RegistryValue> value = registry.ReadValue(key, index);
      if (!value) continue;  // a failed read leaves nothing worth offering
      if (Contains(value->name, "BthModem")) continue;
      list.Add(RegistryDataText(value->data));
    }
  }
  registry.CloseKey(key);
}

PortList ListRegistryPorts(platform::RegistryReader& registry) {
  PortList list;
  AddDeviceMapPorts(registry, list);
  AddBluetoothPorts(registry, list);
  return list;
}

}  // namespace lintrel
