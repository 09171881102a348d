#include "discovery/linux_port_scan.h"

#include "common/port_number.h"

#include <algorithm>
#include <array>
#include <climits>
#include <fstream>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

namespace lintrel {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxIndexDigits = 6;
// The naming scheme starts at COM1: no device is ever COM0 here.
constexpr int kFirstSchemePort = 1;
constexpr std::string_view kRfcommPrefix = "rfcomm";

// A block of port numbers reserved for one kind of device name.
struct FixedRange {
  std::string_view prefix;
  int first_port;
  int size;
};

constexpr std::array<FixedRange, 4> kFixedRanges = {{
    {"ttyS", 1, 32},
    {"ttyUSB", 33, 64},
    {"ttyACM", 97, 64},
    {kRfcommPrefix, 161, 32},
}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A device name split into its prefix and the index at its end ("ttyUSB3": "ttyUSB", 3).
// The index is empty when the name has no digits at its end, or writes them in a way the
// kernel never does (a leading zero, absurd length).
struct DeviceName {
  std::string_view prefix;
  std::optional<int> index;
};

DeviceName SplitDeviceName(std::string_view name) {
  std::size_t digits_start = name.size();
  while (digits_start > 0 && IsDigit(name[digits_start - 1])) --digits_start;
  const std::string_view digits = name.substr(digits_start);
  const std::string_view prefix = name.substr(0, digits_start);
  if (digits.empty() || digits.size() > kMaxIndexDigits ||
      (digits.size() > 1 && digits[0] == '0')) {
    return {prefix, std::nullopt};
  }
  int index = 0;
  for (char digit : digits) index = index * 10 + (digit - '0');
  return {prefix, index};
}

std::optional<int> FixedPortNumber(std::string_view name) {
  const DeviceName parts = SplitDeviceName(name);
  if (!parts.index) return std::nullopt;
  for (const FixedRange& range : kFixedRanges) {
    if (parts.prefix == range.prefix && *parts.index < range.size) {
      return range.first_port + *parts.index;
    }
  }
  return std::nullopt;
}

// Natural order of device names: by prefix, then by the number at the end, so that
// "ttyAMA2" < "ttyAMA10".
bool NaturalLess(std::string_view a, std::string_view b) {
  const DeviceName a_parts = SplitDeviceName(a);
  const DeviceName b_parts = SplitDeviceName(b);
  return std::tuple(a_parts.prefix, a_parts.index.value_or(-1), a) <
         std::tuple(b_parts.prefix, b_parts.index.value_or(-1), b);
}

bool HasDevice(const fs::path& tty_entry) {
  std::error_code error;
  // symlink_status: the link itself is what marks a device, whatever it points at.
  return fs::exists(fs::symlink_status(tty_entry / "device", error));
}

// The serial core registers a port for every UART slot it was configured for; a slot with
// no chip behind it reports port type 0 (unknown).
bool IsPlaceholderUart(const fs::path& tty_entry) {
  std::ifstream type_file(tty_entry / "type");
  std::string type;
  return type_file >> type && type == "0";
}

void AddSysfsTtys(const fs::path& sys_class_tty, std::set<std::string>& names) {
  std::error_code error;
  for (fs::directory_iterator it(sys_class_tty, error), end; !error && it != end;
       it.increment(error)) {
    const fs::path& entry = it->path();
    if (HasDevice(entry) && !IsPlaceholderUart(entry)) names.insert(entry.filename().string());
  }
}

void AddRfcommDevices(const fs::path& dev, std::set<std::string>& names) {
  std::error_code error;
  for (fs::directory_iterator it(dev, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const DeviceName parts = SplitDeviceName(name);
    std::error_code status_error;
    if (parts.prefix == kRfcommPrefix && parts.index && !it->is_directory(status_error)) {
      names.insert(name);
    }
  }
}

void SortByPortNumber(std::vector<PortEntry>& ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
    return ParsePortName(a.name).value_or(INT_MAX) < ParsePortName(b.name).value_or(INT_MAX);
  });
}

// What a path is compared by: the device it resolves to, or the text itself when it
// resolves to nothing (a pin of a device that is not plugged in).
std::string DeviceKey(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

}  // namespace

std::vector<PortEntry> ScanLinuxSerialPorts(const fs::path& sys_class_tty, const fs::path& dev) {
  std::set<std::string> names;
  AddSysfsTtys(sys_class_tty, names);
  AddRfcommDevices(dev, names);

  std::vector<PortEntry> ports;
  std::vector<std::string> pooled;
  for (const std::string& name : names) {
    if (const std::optional<int> number = FixedPortNumber(name)) {
      ports.push_back({PortName(*number), (dev / name).string()});
    } else {
      pooled.push_back(name);
    }
  }
  std::sort(pooled.begin(), pooled.end(), NaturalLess);
  int next_pooled = kFirstPooledPort;
  for (const std::string& name : pooled) {
    if (next_pooled > kLastPooledPort) break;
    ports.push_back({PortName(next_pooled++), (dev / name).string()});
  }
  SortByPortNumber(ports);
  return ports;
}

std::string LinuxDevicePathForPort(int port_number) {
  for (const FixedRange& range : kFixedRanges) {
    const int index = port_number - range.first_port;
    if (index >= 0 && index < range.size) {
      return "/dev/" + std::string(range.prefix) + std::to_string(index);
    }
  }
  return {};
}

std::map<int, std::string> EffectiveDevicePins(const std::map<int, std::string>& pins) {
  std::map<int, std::string> effective;
  std::set<std::string> pinned_devices;
  // Ascending numbers: the lowest pin of a device comes first and keeps it.
  for (const auto& [number, path] : pins) {
    if (number < kFirstSchemePort || number > kHighestPortNumber) continue;
    // An empty path names no device: the port keeps its default one.
    if (path.empty() || pinned_devices.insert(DeviceKey(path)).second) effective.emplace(number, path);
  }
  return effective;
}

std::optional<int> PinnedElsewhere(const std::string& device_path, int port_number,
                                   const std::map<int, std::string>& pins) {
  if (device_path.empty() || pins.empty()) return std::nullopt;
  const std::string device = DeviceKey(device_path);
  for (const auto& [number, path] : EffectiveDevicePins(pins)) {
    if (number != port_number && !path.empty() && DeviceKey(path) == device) return number;
  }
  return std::nullopt;
}

void ApplyDevicePins(std::vector<PortEntry>& ports, const std::map<int, std::string>& pins) {
  const std::map<int, std::string> effective = EffectiveDevicePins(pins);
  std::set<std::string> pinned_devices;
  for (const auto& [number, path] : effective) {
    if (!path.empty()) pinned_devices.insert(DeviceKey(path));
  }

  // An entry already under its pinned name that is dropped here comes back below with the
  // pinned path, so dropping by device alone is enough.
  std::erase_if(ports, [&](const PortEntry& entry) { return pinned_devices.contains(DeviceKey(entry.device_path)); });

  std::set<int> listed;
  for (PortEntry& entry : ports) {
    const std::optional<int> number = ParsePortName(entry.name);
    if (!number) continue;
    listed.insert(*number);
    if (const auto pin = effective.find(*number); pin != effective.end()) entry.device_path = pin->second;
  }
  for (const auto& [number, path] : effective) {
    if (!listed.contains(number)) ports.push_back({PortName(number), path});
  }
  SortByPortNumber(ports);
}

}  // namespace lintrel
