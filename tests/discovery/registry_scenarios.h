#pragma once

#include <string>

#include "discovery/bluetooth_port_finder.h"
#include "discovery/serial_port_lister.h"
#include "fakes/fake_registry.h"

namespace lintrel::testing {

// A paired Bluetooth serial device as the registry describes it: the modem driver's
// instance path, the local serial service bound to the device, and the port name of the
// instance.
inline constexpr char kSerialServiceKey[] = "{00001101-0000-1000-8000-00805F9B34FB}";
inline constexpr char kInstanceGroup[] = "{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F";
inline constexpr char kInstanceId[] = "7&1A2B3C4D&0&0011223344AA_C00000000";

inline std::string ModemEntryText(const std::string& group = kInstanceGroup,
                                  const std::string& id = kInstanceId) {
  return "BTHENUM\\" + group + "\\" + id;
}

inline std::string LocalServiceKey(const std::string& service_key, int number) {
  return std::string(kLocalServicesKey) + service_key + "\\" + std::to_string(number);
}

inline std::string DeviceParametersKey(const std::string& group = kInstanceGroup,
                                       const std::string& id = kInstanceId) {
  return std::string(kBluetoothEnumKey) + group + "\\" + id + "\\Device Parameters";
}

// The device 00:11:22:33:44:AA as a local service stores it: least significant byte first.
inline void AddAssociatedAddress(FakeRegistry& registry, const std::string& key) {
  registry.AddBytes(key, "AssocBdAddr", {0xAA, 0x44, 0x33, 0x22, 0x11, 0x00});
}

// One modem instance bound to local service \0 (a serial service, "8520" in its name)
// whose device parameters name `port`. Local service \1 does not exist.
inline void AddPairedSerialDevice(FakeRegistry& registry, const std::string& port = "COM7") {
  registry.AddString(kBluetoothModemEnumKey, "0", ModemEntryText());
  const std::string service = LocalServiceKey(kSerialServiceKey, 0);
  AddAssociatedAddress(registry, service);
  registry.AddString(service, "ServiceName", "Serial Port 8520");
  registry.AddString(DeviceParametersKey(), "PortName", port);
}

}  // namespace lintrel::testing
