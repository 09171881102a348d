#include "settings/connection_memory.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "common/port_number.h"

namespace lintrel {

namespace {

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    parts.push_back(text.substr(0, comma));
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return parts;
}

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string FormatLineSettings(const LineSettings& line) {
  // Appended piece by piece: a chain of + here draws a false -Wrestrict from MinGW's GCC.
  std::string text = std::to_string(line.baud_index);
  for (int position : {line.parity_index, line.data_bit_index, line.stop_bit_index}) {
    text.append(",").append(std::to_string(position));
  }
  return text;
}

// The four positions of "4,0,1,0"; the defaults unless all four are there.
LineSettings ParseLineSettings(std::string_view text) {
  const std::vector<std::string_view> parts = SplitAtCommas(text);
  LineSettings line;
  if (parts.size() != 4) return line;
  std::optional<int> positions[4];
  for (std::size_t i = 0; i < 4; ++i) {
    positions[i] = ParseInt(parts[i]);
    if (!positions[i]) return line;
  }
  line.baud_index = *positions[0];
  line.parity_index = *positions[1];
  line.data_bit_index = *positions[2];
  line.stop_bit_index = *positions[3];
  return line;
}

std::vector<int> StoredPortNumbers(SettingsStore& store) {
  std::vector<int> numbers;
  const std::string names = store.ReadString(kConnectedPortsEntry).value_or("");
  for (std::string_view name : SplitAtCommas(names)) {
    const std::optional<int> number = ParsePortName(name);
    if (number && std::find(numbers.begin(), numbers.end(), *number) == numbers.end()) numbers.push_back(*number);
  }
  return numbers;
}

bool ReadOption(SettingsStore& store, const char* entry, bool fallback) {
  const std::optional<int32_t> value = store.ReadInt(entry);
  return value ? *value != 0 : fallback;
}

}  // namespace

std::string PortLineSettingsEntry(int port_number) { return PortName(port_number) + " line settings"; }
std::string PortDeviceEntry(int port_number) { return PortName(port_number) + " device"; }

std::vector<RememberedPort> LoadRememberedPorts(SettingsStore& store) {
  std::vector<RememberedPort> ports;
  for (int number : StoredPortNumbers(store)) {
    RememberedPort port{.port_number = number,
                        .line = ParseLineSettings(store.ReadString(PortLineSettingsEntry(number)).value_or("")),
                        .device_key = store.ReadString(PortDeviceEntry(number)).value_or("")};
    port.line.port_name = PortName(number);
    ports.push_back(std::move(port));
  }
  return ports;
}

bool SaveRememberedPorts(SettingsStore& store, const std::vector<RememberedPort>& ports, std::string* error) {
  const auto listed = [&](int number) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const RememberedPort& port) { return port.port_number == number; });
  };
  for (int number : StoredPortNumbers(store)) {
    if (listed(number)) continue;
    store.Remove(PortLineSettingsEntry(number));
    store.Remove(PortDeviceEntry(number));
  }
  std::string names;
  for (const RememberedPort& port : ports) {
    names.append(names.empty() ? "" : ",").append(PortName(port.port_number));
    store.WriteString(PortLineSettingsEntry(port.port_number), FormatLineSettings(port.line));
    if (port.device_key.empty()) {
      store.Remove(PortDeviceEntry(port.port_number));
    } else {
      store.WriteString(PortDeviceEntry(port.port_number), port.device_key);
    }
  }
  store.WriteString(kConnectedPortsEntry, names);
  return store.Flush(error);
}

StartupOptions LoadStartupOptions(SettingsStore& store) {
  const StartupOptions defaults;
  return {.reconnect_at_start = ReadOption(store, kReconnectAtStartEntry, defaults.reconnect_at_start),
          .follow_devices = ReadOption(store, kFollowDevicesEntry, defaults.follow_devices)};
}

bool SaveStartupOptions(SettingsStore& store, const StartupOptions& options, std::string* error) {
  store.WriteInt(kReconnectAtStartEntry, options.reconnect_at_start ? 1 : 0);
  store.WriteInt(kFollowDevicesEntry, options.follow_devices ? 1 : 0);
  return store.Flush(error);
}

}  // namespace lintrel
