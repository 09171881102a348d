#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/port_list.h"
#include "platform/registry.h"

namespace lintrel {

// The Bluetooth modem driver lists its device instances here, one value per instance whose
// data is the instance path: "BTHENUM\" <service key> <rest of the group> "\" <instance id>,
// where the instance id carries the device address 13 characters in. For example, group
//   {00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F
// and instance id
//   7&1A2B3C4D&0&0011223344AA_C00000000   (device address 0011223344AA).
inline constexpr char kBluetoothModemEnumKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\BTHMODEM\\Enum";
// Below this key, "<service key>\<n>" (n = 0, 1, ...) describes a local serial service.
inline constexpr char kLocalServicesKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\BTHPORT\\Parameters\\LocalServices\\";
// Below this key, "<instance path>\Device Parameters" holds the port name of an instance.
inline constexpr char kBluetoothEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\BTHENUM\\";

// Local service keys examined per modem instance at most, so that a registry that answers
// for every key cannot make the walk endless.
inline constexpr std::size_t kMaxLocalServiceKeys = 10000;

// The parts of one Bluetooth modem instance path.
struct ModemEntry {
  std::string service_key;     // the 38 characters after "BTHENUM\": a braced GUID
  std::string instance_group;  // from after "BTHENUM\" up to the next backslash
  std::string instance_id;     // everything after that backslash
  std::string device_address;  // the 12 characters 14 past that backslash
};

// Splits an instance path. Empty for a path that is not a Bluetooth instance ("BTHENUM"
// absent), for an unbound instance (all-zero address, "&000000000000"), and for a text too
// short to hold one of the parts.
std::optional<ModemEntry> ParseModemEntry(std::string_view entry);

// The associated device address of a local service as text: data bytes 5 down to 0, each
// as two lower-case hex digits. Empty when the data has fewer than 6 bytes.
std::optional<std::string> AssociatedAddressText(std::string_view data);

// Adds the port names of the Bluetooth serial devices that are bound to a local serial
// service (service name with "8520" or "8020") whose associated address is the device's.
//
// The associated address and the service name are kept from key to key over the whole
// walk: a service key that lacks one of them is judged with the text last read.
void AddBluetoothPorts(platform::RegistryReader& registry, PortList& list);

}  // namespace lintrel
