#include "settings/line_settings_store.h"

#include <cstdint>
#include <optional>

namespace lintrel {
namespace {

int ReadIntOr(SettingsStore& store, const char* entry, int fallback) {
  std::optional<int32_t> value = store.ReadInt(entry);
  return value ? *value : fallback;
}

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
  store.WriteInt(kBaudRateEntry, settings.baud_index);
  store.WriteInt(kParityEntry, settings.parity_index);
  store.WriteInt(kDataBitEntry, settings.data_bit_index);
  store.WriteInt(kStopBitEntry, settings.stop_bit_index);
  return store.Flush(error);
}

}  // namespace lintrel
