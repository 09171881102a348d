#include "app/cli/cli_settings.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "capture/records/record_stage.h"
#include "common/port_number.h"
#include "common/printable_text.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"
#include "settings/settings_file.h"

namespace lintrel::cli {
namespace {

// The four line positions: their entries, where a profile and the line settings hold them.
struct LinePosition {
  const char* entry;
  std::optional<int> PortProfile::*given;
  int LineSettings::*line;
};
constexpr LinePosition kLinePositions[] = {
    {kBaudRateEntry, &PortProfile::baud_index, &LineSettings::baud_index},
    {kParityEntry, &PortProfile::parity_index, &LineSettings::parity_index},
    {kDataBitEntry, &PortProfile::data_bit_index, &LineSettings::data_bit_index},
    {kStopBitEntry, &PortProfile::stop_bit_index, &LineSettings::stop_bit_index},
};

std::string JoinedPortNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined.append(joined.empty() ? "" : ",").append(name);
  return joined;
}

// A policy's "Ports" stands for the ports given; a device given with a port it names stays.
void UsePolicyPorts(LayeredSettings& settings, CliOptions& options) {
  const std::vector<std::string> fixed = LoadSavedPortNames(settings.Policies());
  if (fixed.empty() || options.ports.empty()) return;
  std::vector<PortRequest> ports;
  for (const std::string& name : fixed) {
    const std::optional<int> number = ParsePortName(name);
    if (!number || std::any_of(ports.begin(), ports.end(), [&](const PortRequest& p) { return p.port_number == number; })) {
      continue;
    }
    const auto given = std::find_if(options.ports.begin(), options.ports.end(),
                                    [&](const PortRequest& port) { return port.port_number == *number; });
    ports.push_back(given != options.ports.end() ? *given : PortRequest{.port_number = *number, .device_path = {}});
  }
  options.ports = std::move(ports);
  options.ports_from_settings = true;
}

// The values port `request` runs with, every one of them set.
PortProfile ProfileInUse(const CliOptions& options, const PortRequest& request, TextEncoding default_encoding) {
  const LineSettings line = LineSettingsOf(options, request);
  const PortCaptureRules rules = CaptureRulesOf(options, request);
  const CaptureOptions capture = rules.Over(
      {.prefix = options.prefix, .truncate = options.truncate,
       .end_character = static_cast<uint8_t>(options.end_character),
       .encoding = options.encoding.value_or(default_encoding), .reconnect_delay_ms = options.reconnect_delay_ms});
  const Pacing pacing = request.profile.OwnPacing().Over(
      {.key_delay = std::chrono::milliseconds(options.key_delay_ms),
       .line_delay = std::chrono::milliseconds(options.line_delay_ms)});
  return {.baud_index = line.baud_index, .parity_index = line.parity_index, .data_bit_index = line.data_bit_index,
          .stop_bit_index = line.stop_bit_index, .end_character = capture.end_character,
          .truncate = capture.truncate, .prefix = capture.prefix, .prefix_text = rules.shaping.prefix_text,
          .suffix = rules.shaping.suffix, .replacements = rules.shaping.replacements,
          .control = rules.shaping.control, .pattern = rules.records.pattern,
          .unmatched = rules.records.unmatched, .gs1 = rules.records.gs1,
          .template_text = rules.records.template_text, .repeat_window_ms = rules.records.repeat_window_ms,
          .encoding = capture.encoding, .key_delay_ms = static_cast<int>(pacing.key_delay.count()),
          .line_delay_ms = static_cast<int>(pacing.line_delay.count()), .reconnect_delay_ms = capture.reconnect_delay_ms};
}

// Where a value in use comes from: a port's value no layer sets for it is the shared one's.
SettingSource SourceInUse(const LayeredSettings& settings, const std::string& entry) {
  const SettingSource source = settings.SourceOf(entry);
  const std::optional<PortEntryName> port = SplitPortProfileEntry(entry);
  if (source != SettingSource::kDefault || !port) return source;
  return settings.SourceOf(std::string(port->name));
}

// The source in a column of its own, wide enough for "recommended policy".
std::string SourceColumn(SettingSource source) {
  std::string column(SettingSourceName(source));
  column.resize(20, ' ');
  return column;
}

}  // namespace

MemorySettingsStore CommandLineSettings(const CliOptions& options) {
  MemorySettingsStore given;
  if (!options.ports.empty() && !options.ports_from_settings) {
    given.WriteString(kPortsEntry, JoinedPortNames(SavedPortNames(options)));
  }
  for (const LinePosition& position : kLinePositions) {
    if (const std::optional<int> value = options.given_for_all.*position.given) given.WriteInt(position.entry, *value);
  }
  for (const PortRequest& port : options.ports) {
    PortProfile profile = options.given_for_all;
    profile.Overlay(port.profile);
    WritePortProfile(given, port.port_number, profile);
    if (!port.device_path.empty()) given.WriteString(DevicePinEntry(port.port_number), port.device_path);
  }
  return given;
}

void ApplySettings(LayeredSettings& settings, CliOptions& options, std::vector<std::string>* warnings) {
  if (!options.ports_from_settings) UsePolicyPorts(settings, options);
  // A stored pattern or template that cannot be used is left out, as any damaged value.
  const auto load = [&](SettingsStore& store, int port_number, std::vector<std::string>* problems) {
    PortProfile profile = LoadPortProfile(store, port_number, problems);
    records::LeaveOutWrongRecordValues(profile, port_number, problems);
    return profile;
  };
  ApplyStoredProfiles(options, [&](int port_number) { return load(settings, port_number, warnings); });
  // The policies' values were warned about with the stored ones.
  for (PortRequest& port : options.ports) port.profile.Overlay(load(settings.Policies(), port.port_number, nullptr));
  for (const LinePosition& position : kLinePositions) {
    if (const std::optional<int32_t> fixed = settings.Policies().ReadInt(position.entry)) options.line.*position.line = *fixed;
  }
}

std::vector<std::string> OverruledOptions(const LayeredSettings& settings) {
  std::vector<std::string> lines;
  for (const OverruledValue& overruled : settings.OverruledByPolicy(SettingSource::kCommandLine)) {
    std::string line = EntryDescription(overruled.entry) + " is set by your administrator";
    if (!overruled.policy_value.empty()) line += ": " + Quoted(overruled.policy_value) + " is used";
    lines.push_back(line + ", not " + Quoted(overruled.value));
  }
  return lines;
}

std::vector<int> PortsToShow(LayeredSettings& settings, const CliOptions& options) {
  std::vector<int> ports;
  const auto add = [&ports](int number) {
    if (std::find(ports.begin(), ports.end(), number) == ports.end()) ports.push_back(number);
  };
  for (const PortRequest& port : options.ports) add(port.port_number);
  for (const std::string& name : settings.Names()) {
    if (const std::optional<PortEntryName> port = SplitPortProfileEntry(name)) add(port->port_number);
  }
  return ports;
}

std::string EffectiveSettingsText(LayeredSettings& settings, const CliOptions& options, TextEncoding default_encoding) {
  std::string text = "Settings in use, each with where it comes from, from the lowest precedence to the highest:\n";
  for (const SettingsLayer& layer : settings.layers()) {
    text += SourceColumn(layer.source) + EscapeControlCharacters(layer.location) + "\n";
  }

  MemorySettingsStore in_use;
  for (const char* entry : {kPortsEntry, kPortEntry}) {
    if (const std::optional<std::string> value = settings.ReadString(entry)) in_use.WriteString(entry, *value);
  }
  for (const LinePosition& position : kLinePositions) in_use.WriteInt(position.entry, options.line.*position.line);
  for (const auto& [port, path] : ReadDevicePins(settings)) in_use.WriteString(DevicePinEntry(port), path);
  for (const PortRequest& port : options.ports) WritePortProfile(in_use, port.port_number, ProfileInUse(options, port, default_encoding));

  text += "\n";
  int section = -1;
  for (const std::string& entry : in_use.Names()) {
    const std::optional<PortEntryName> port = SplitPortProfileEntry(entry);
    if (port && port->port_number != section) {
      section = port->port_number;
      text += "\n[" + PortName(section) + "]\n";
    }
    const std::string name = port ? std::string(port->name) : entry;
    text += SourceColumn(SourceInUse(settings, entry)) + EscapeControlCharacters(name) + "=" +
            EscapeControlCharacters(*in_use.Text(entry)) + "\n";
  }
  return text;
}

}  // namespace lintrel::cli
