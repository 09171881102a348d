// The Bluetooth modem entry parser on arbitrary text, and the whole Bluetooth port finder
// over an in-memory registry built from the input.
//
// The whole input is first an instance path for ParseModemEntry and a data blob for
// AssociatedAddressText. Then it is decoded into a registry:
//   byte           number of modem instance values (0..3)
//   per instance   a field (length byte, bytes): the value's data, the instance path
//   per instance that parses:
//     byte         number of local service keys <service key>\0, \1, ... (0..3)
//     per key      byte: number of values (0..3); per value a selector byte and fields:
//                  0 AssocBdAddr holding the instance's own address, 1 AssocBdAddr with
//                  field data, 2 ServiceName field, 3 a field name and field data
//     byte         number of values under the instance's Device Parameters key (0..3); per
//                  value a selector byte: even PortName and a field, odd a field name and data
// ASan reports any read past a buffer. Traps when a parse breaks its documented shape, when
// a key is left open or closed twice, or when a port name is reported that no PortName
// value holds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "discovery/bluetooth_port_finder.h"
#include "discovery/port_list.h"
#include "fakes/fake_registry.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::ModemEntry;
using lintrel::fuzz::InputReader;
using lintrel::fuzz::Require;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The documented shape of an instance path: "BTHENUM" somewhere, the service key from
// offset 8, the group up to the next backslash, the address 14 characters past it, and no
// all-zero address.
void CheckModemEntry(std::string_view text) {
  constexpr std::size_t kGroupStart = 8;
  const std::optional<ModemEntry> entry = lintrel::ParseModemEntry(text);
  const std::size_t backslash =
      text.size() > kGroupStart ? text.find('\\', kGroupStart) : std::string_view::npos;
  const bool well_formed = Contains(text, "BTHENUM") && !Contains(text, "&000000000000") &&
                           text.size() >= kGroupStart + 38 && backslash != std::string_view::npos &&
                           text.size() >= backslash + 14 + 12;
  Require(entry.has_value() == well_formed);
  if (!entry) return;
  Require(entry->service_key == text.substr(kGroupStart, 38));
  Require(entry->instance_group == text.substr(kGroupStart, backslash - kGroupStart));
  Require(entry->instance_id == text.substr(backslash + 1));
  Require(entry->device_address == text.substr(backslash + 14, 12));
}

void CheckAddressText(std::string_view data) {
  const std::optional<std::string> text = lintrel::AssociatedAddressText(data);
  Require(text.has_value() == (data.size() >= 6));
  if (!text) return;
  Require(text->size() == 12);
  constexpr std::string_view kHex = "0123456789abcdef";
  for (std::size_t i = 0; i < 6; ++i) {
    const auto byte = static_cast<unsigned char>(data[5 - i]);
    Require((*text)[2 * i] == kHex[byte >> 4] && (*text)[2 * i + 1] == kHex[byte & 0x0F]);
  }
}

// The six address bytes, least significant first, of a 12-digit hex address (bytes of
// other digits count as 0).
std::string AddressBytes(const std::string& address) {
  const auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  };
  std::string bytes;
  for (std::size_t i = address.size(); i >= 2; i -= 2) {
    bytes += static_cast<char>(nibble(address[i - 2]) * 16 + nibble(address[i - 1]));
  }
  return bytes;
}

class RegistryBuilder {
 public:
  RegistryBuilder(InputReader& input, lintrel::testing::FakeRegistry& registry)
      : input_(input), registry_(registry) {}

  void Build() {
    registry_.AddKey(lintrel::kBluetoothModemEnumKey);
    const int instances = input_.Byte() % 4;
    for (int index = 0; index < instances; ++index) {
      const std::string path = input_.Field();
      registry_.AddBinary(lintrel::kBluetoothModemEnumKey, std::to_string(index), path);
      const std::optional<ModemEntry> entry =
          lintrel::ParseModemEntry(std::string_view(path).substr(0, path.find('\0')));
      if (entry) AddInstanceKeys(*entry);
    }
  }

  // The texts of the values a port name may come from.
  const std::set<std::string>& port_names() const { return port_names_; }

 private:
  void AddInstanceKeys(const ModemEntry& entry) {
    const int services = input_.Byte() % 4;
    for (int number = 0; number < services; ++number) {
      const std::string key = std::string(lintrel::kLocalServicesKey) + entry.service_key + "\\" +
                              std::to_string(number);
      registry_.AddKey(key);
      const int values = input_.Byte() % 4;
      for (int value = 0; value < values; ++value) AddServiceValue(key, entry);
    }
    const std::string parameters = std::string(lintrel::kBluetoothEnumKey) + entry.instance_group +
                                   "\\" + entry.instance_id + "\\Device Parameters";
    registry_.AddKey(parameters);
    const int values = input_.Byte() % 4;
    for (int value = 0; value < values; ++value) {
      const bool port_name = input_.Byte() % 2 == 0;
      const std::string name = port_name ? "PortName" : input_.Field();
      const std::string data = input_.Field();
      registry_.AddBinary(parameters, name, data);
      if (Contains(name, "PortName") && name.size() < lintrel::platform::kRegistryBufferSize &&
          data.size() <= lintrel::platform::kRegistryBufferSize) {
        port_names_.insert(data.substr(0, data.find('\0')));
      }
    }
  }

  void AddServiceValue(const std::string& key, const ModemEntry& entry) {
    switch (input_.Byte() % 4) {
      case 0:
        registry_.AddBinary(key, "AssocBdAddr", AddressBytes(entry.device_address));
        return;
      case 1:
        registry_.AddBinary(key, "AssocBdAddr", input_.Field());
        return;
      case 2:
        registry_.AddBinary(key, "ServiceName", input_.Field());
        return;
      default: {
        const std::string name = input_.Field();
        registry_.AddBinary(key, name, input_.Field());
      }
    }
  }

  InputReader& input_;
  lintrel::testing::FakeRegistry& registry_;
  std::set<std::string> port_names_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckModemEntry(text);
  CheckAddressText(text);

  InputReader input(std::span<const uint8_t>(data, size));
  lintrel::testing::FakeRegistry registry;
  RegistryBuilder builder(input, registry);
  builder.Build();
  lintrel::PortList list;
  lintrel::AddBluetoothPorts(registry, list);

  Require(registry.open_key_count() == 0 && registry.bad_closes() == 0);
  for (const lintrel::PortEntry& port : list.entries()) {
    Require(builder.port_names().contains(port.name));
  }
  return 0;
}
