// The settings-file parser on arbitrary bytes, and the format -> parse round trip.
//
// The input is read twice: whole, as the text of a settings file; and cut at every 0xFF byte
// (never part of UTF-8 text) into fields taken in pairs as entries to write (name, value).
// Traps when the parse breaks its own promises (one entry per name, no more warnings than
// the limit, names that a line can hold), or when storable entries do not read back, in
// order and with no warning but that an entry is not used, from the text written for them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "settings/settings_file.h"

namespace {

using lintrel::ParsedSettings;
using lintrel::SettingsEntry;
using lintrel::fuzz::Require;

void CheckParse(std::string_view text, const ParsedSettings& parsed) {
  Require(parsed.warnings.size() <= ParsedSettings::kMaxWarnings);
  Require(parsed.warnings_left_off == 0 ||
          parsed.warnings.size() == ParsedSettings::kMaxWarnings);
  const std::size_t lines =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  for (const lintrel::SettingsWarning& warning : parsed.warnings) {
    Require(warning.line >= 1 && warning.line <= lines && !warning.reason.empty());
  }
  std::set<std::string> names;
  for (const SettingsEntry& entry : parsed.entries) {
    Require(names.insert(entry.name).second);
    Require(entry.name.find_first_not_of(" \t") != std::string::npos);
    Require(entry.name.find_first_of("=\n") == std::string::npos);
    Require(entry.value.find('\n') == std::string::npos);
  }
}

// The entries the file can hold, the first of each name.
std::vector<SettingsEntry> Storable(const std::vector<SettingsEntry>& entries) {
  std::vector<SettingsEntry> storable;
  std::set<std::string> names;
  for (const SettingsEntry& entry : entries) {
    if (lintrel::UnstorableEntryReason(entry.name, entry.value)) continue;
    if (names.insert(entry.name).second) storable.push_back(entry);
  }
  return storable;
}

void CheckRoundTrip(const std::vector<SettingsEntry>& entries) {
  const std::string text = lintrel::FormatSettingsText(entries);
  const ParsedSettings read_back = lintrel::ParseSettingsText(text);
  Require(read_back.warnings_left_off == 0);
  for (const lintrel::SettingsWarning& warning : read_back.warnings) Require(warning.unused_entry);
  Require(read_back.entries == entries);
}

std::vector<SettingsEntry> EntriesFromFields(std::string_view text) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\xFF', start);
    fields.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  std::vector<SettingsEntry> entries;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    entries.push_back({fields[i], fields[i + 1]});
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ParsedSettings parsed = lintrel::ParseSettingsText(text);
  CheckParse(text, parsed);
  CheckRoundTrip(Storable(parsed.entries));
  CheckRoundTrip(Storable(EntriesFromFields(text)));
  return 0;
}
