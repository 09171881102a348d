#include "discovery/bluetooth_port_finder.h"

#include <array>
#include <cstdint>
#include <utility>

#include "discovery/ascii_text.h"

namespace lintrel {

namespace {

using discovery_text::Contains;
using discovery_text::RegistryDataText;
using discovery_text::ToUpperAscii;
using Key = platform::RegistryReader::Key;

constexpr std::size_t kServiceKeyOffset = 8;  // just past "BTHENUM\"
constexpr std::size_t kServiceKeyLength = 38;
constexpr std::size_t kAddressOffsetFromBackslash = 14;
constexpr std::size_t kAddressLength = 12;
constexpr std::size_t kAddressBytes = 6;

// Opens a key and closes it when it goes out of scope, on every way out.
class ScopedKey {
 public:
  ScopedKey(platform::RegistryReader& registry, const std::string& path)
      : registry_(registry), key_(registry.OpenKey(path)) {}
  ~ScopedKey() { registry_.CloseKey(key_); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  Key get() const { return key_; }

 private:
  platform::RegistryReader& registry_;
  Key key_;
};

// What the walk last read from a local service key.
struct ServiceState {
  std::string associated_address;
  std::string service_name;
};

void ReadServiceValues(platform::RegistryReader& registry, Key key, uint32_t count,
                       ServiceState& state) {
  for (uint32_t index = 0; index < count; ++index) {
    const std::optional<platform::RegistryValue> value = registry.ReadValue(key, index);
    if (!value) continue;
    if (Contains(value->name, "AssocBdAddr")) {
      // Shorter data cannot hold an address; the address last read stays.
      if (std::optional<std::string> address = AssociatedAddressText(value->data)) {
        state.associated_address = std::move(*address);
      }
    }
    if (Contains(value->name, "ServiceName")) {
      state.service_name = RegistryDataText(value->data);
    }
  }
}

// A serial port service whose remote end is the modem instance's device.
bool IsBoundSerialService(const ServiceState& state, const ModemEntry& entry) {
  const bool serial_service =
      Contains(state.service_name, "8520") || Contains(state.service_name, "8020");
  return serial_service &&
         ToUpperAscii(state.associated_address) == ToUpperAscii(entry.device_address);
}

void AddDevicePortNames(platform::RegistryReader& registry, const ModemEntry& entry,
                        PortList& list) {
  const ScopedKey key(registry, std::string(kBluetoothEnumKey) + entry.instance_group + "\\" +
                                    entry.instance_id + "\\Device Parameters");
  const std::optional<uint32_t> count = registry.CountValues(key.get());
  if (!count) return;
  for (uint32_t index = 0; index < *count; ++index) {
    const std::optional<platform::RegistryValue> value = registry.ReadValue(key.get(), index);
    if (value && Contains(value->name, "PortName")) list.Add(RegistryDataText(value->data));
  }
}

// Examines the local service keys <service key>\0, \1, ... up to the first that cannot be
// queried.
void WalkLocalServices(platform::RegistryReader& registry, const ModemEntry& entry,
                       ServiceState& state, PortList& list) {
  for (std::size_t number = 0; number < kMaxLocalServiceKeys; ++number) {
    const ScopedKey key(registry, std::string(kLocalServicesKey) + entry.service_key + "\\" +
                                      std::to_string(number));
    const std::optional<uint32_t> count = registry.CountValues(key.get());
    if (!count) return;
    if (*count == 0) continue;
    ReadServiceValues(registry, key.get(), *count, state);
    if (IsBoundSerialService(state, entry)) AddDevicePortNames(registry, entry, list);
  }
}

}  // namespace

std::optional<ModemEntry> ParseModemEntry(std::string_view entry) {
  if (!Contains(entry, "BTHENUM")) return std::nullopt;
  if (entry.size() < kServiceKeyOffset + kServiceKeyLength) return std::nullopt;
  if (Contains(entry, "&000000000000")) return std::nullopt;
  const std::size_t backslash = entry.find('\\', kServiceKeyOffset);
  if (backslash == std::string_view::npos) return std::nullopt;
  const std::size_t address_offset = backslash + kAddressOffsetFromBackslash;
  if (entry.size() < address_offset + kAddressLength) return std::nullopt;

  ModemEntry parts;
  parts.service_key = entry.substr(kServiceKeyOffset, kServiceKeyLength);
  parts.instance_group = entry.substr(kServiceKeyOffset, backslash - kServiceKeyOffset);
  parts.instance_id = entry.substr(backslash + 1);
  parts.device_address = entry.substr(address_offset, kAddressLength);
  return parts;
}

std::optional<std::string> AssociatedAddressText(std::string_view data) {
  if (data.size() < kAddressBytes) return std::nullopt;
  constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  std::string text;
  text.reserve(kAddressLength);
  // The address is stored least significant byte first.
  for (std::size_t index = kAddressBytes; index-- > 0;) {
    const auto byte = static_cast<unsigned char>(data[index]);
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text;
}

void AddBluetoothPorts(platform::RegistryReader& registry, PortList& list) {
  const ScopedKey modems(registry, kBluetoothModemEnumKey);
  const std::optional<uint32_t> count = registry.CountValues(modems.get());
  if (!count || *count == 0) return;
  ServiceState state;
  for (uint32_t index = 0; index < *count; ++index) {
    const std::optional<platform::RegistryValue> value = registry.ReadValue(modems.get(), index);
    if (!value) continue;
    const std::optional<ModemEntry> entry = ParseModemEntry(RegistryDataText(value->data));
    if (entry) WalkLocalServices(registry, *entry, state, list);
  }
}

}  // namespace lintrel
