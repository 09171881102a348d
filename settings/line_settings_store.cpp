#include "settings/line_settings_store.h"

#include <cstdint>
#include <algorithm>
#include <optional>

namespace lintrel {
namespace {

int ReadIntOr(SettingsStore& store, const char* entry, int fallback) {
  std::optional<int32_t> value = store.ReadInt(entry);
  return value ? *value : fallback;
}

// The four list positions, in the order they are saved.
struct PositionEntry {
  const char* name;
  int LineSettings::*position;
  int list_size;
  const char* default_meaning;
};

constexpr PositionEntry kPositionEntries[] = {
    {kBaudRateEntry, &LineSettings::baud_index, LineSettings::kBaudListSize, "1200 baud"},
    {kParityEntry, &LineSettings::parity_index, LineSettings::kParityListSize, "no parity"},
    {kDataBitEntry, &LineSettings::data_bit_index, LineSettings::kDataBitListSize, "8 data bits"},
    {kStopBitEntry, &LineSettings::stop_bit_index, LineSettings::kStopBitListSize, "1 stop bit"},
};

}  // namespace

LineSettings LoadLineSettings(SettingsStore& store) {
  LineSettings settings;
  if (std::optional<std::string> port = store.ReadString(kPortEntry)) {
    settings.port_name = *port;
  }
  settings.baud_index = ReadIntOr(store, kBaudRateEntry, LineSettings::kDefaultBaudIndex);
  settings.parity_index = ReadIntOr(store, kParityEntry, LineSettings::kDefaultParityIndex);
  settings.data_bit_index = ReadIntOr(store, kDataBitEntry, LineSettings::kDefaultDataBitIndex);
  settings.stop_bit_index = ReadIntOr(store, kStopBitEntry, LineSettings::kDefaultStopBitIndex);
  return settings;
}

bool SaveLineSettings(SettingsStore& store, const LineSettings& settings, std::string* error) {
  store.WriteString(kPortEntry, settings.port_name);
  return SaveLinePositions(store, settings, error);
}

bool SaveLinePositions(SettingsStore& store, const LineSettings& settings, std::string* error) {
  for (const PositionEntry& entry : kPositionEntries) store.WriteInt(entry.name, settings.*entry.position);
  return store.Flush(error);
}

std::vector<std::string> LoadSavedPortNames(SettingsStore& store) {
  const std::optional<std::string> port = store.ReadString(kPortEntry);
  std::vector<std::string> names;
  const std::string all = store.ReadString(kPortsEntry).value_or("");
  for (std::size_t start = 0; start <= all.size();) {
    const std::size_t comma = std::min(all.find(',', start), all.size());
    if (comma > start) names.push_back(all.substr(start, comma - start));
    start = comma + 1;
  }
  // "Ports" alone (written by hand, or "Port" removed) names the ports as well.
  if (!port) return names;
  if (port->empty()) return {};
  if (names.empty() || names.front() != *port) return {*port};
  return names;
}

void WriteSavedPortNames(SettingsStore& store, const std::vector<std::string>& port_names) {
  std::string all;
  for (const std::string& name : port_names) all += (all.empty() ? "" : ",") + name;
  store.WriteString(kPortsEntry, all);
  store.WriteString(kPortEntry, port_names.empty() ? "" : port_names.front());
}

std::string OutOfListWarning(const LineSettings& settings) {
  std::string outside;
  for (const PositionEntry& entry : kPositionEntries) {
    const int position = settings.*entry.position;
    if (IsListPosition(position, entry.list_size)) continue;
    // Appended piece by piece: a chain of + here draws a false -Wrestrict from MinGW's GCC.
    outside.append(outside.empty() ? "\"" : ", \"").append(entry.name).append("\"=");
    outside.append(std::to_string(position)).append(" (the default, ").append(entry.default_meaning);
    outside.append(", is used)");
  }
  if (outside.empty()) return "";
  return "Stored line settings outside their lists: " + outside + ". The stored values are kept.";
}

}  // namespace lintrel
