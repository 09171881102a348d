#pragma once

#include <array>
#include <string>
#include <vector>

#include "settings/line_settings.h"
#include "settings/settings_store.h"

namespace lintrel {

// Names of the entries that hold the line settings, in every store (registry or file).
inline constexpr const char* kPortEntry = "Port";
inline constexpr const char* kBaudRateEntry = "Baud rate";
inline constexpr const char* kParityEntry = "Parity";
inline constexpr const char* kDataBitEntry = "Databit";
inline constexpr const char* kStopBitEntry = "Stop bit";
// Every port a front end connects when none is given, names separated by commas
// ("COM5,COM7"); the first is also the "Port" entry.
inline constexpr const char* kPortsEntry = "Ports";

// The entries above that hold integers, in the order they are saved.
inline constexpr std::array<const char*, 4> kLineSettingsIntegerEntries = {
    kBaudRateEntry, kParityEntry, kDataBitEntry, kStopBitEntry};

// Reads the line settings. An entry that is missing (or of the wrong kind) gets its default;
// stored values are taken as they are, even outside the lists they index.
LineSettings LoadLineSettings(SettingsStore& store);

// Writes the port name, then the four positions, then flushes the store once. Returns the
// result of the flush; on failure *error holds the reason.
bool SaveLineSettings(SettingsStore& store, const LineSettings& settings, std::string* error);

// The same without the port name, which the store keeps as it is: for a save that names no
// port.
bool SaveLinePositions(SettingsStore& store, const LineSettings& settings, std::string* error);

// The names of the saved ports: the "Ports" entry when its first name is the "Port" entry,
// else the "Port" entry alone (a file saved when only one port was kept, or whose "Port" was
// changed since by a program that knows only that entry); "Ports" alone when there is no
// "Port" entry. Empty when no port was saved (or "Port" is empty).
std::vector<std::string> LoadSavedPortNames(SettingsStore& store);

// Writes `port_names` to "Ports" and the first of them to "Port"; the store is not flushed.
void WriteSavedPortNames(SettingsStore& store, const std::vector<std::string>& port_names);

// One line naming each entry whose position is outside its list, with the default a port is
// opened with instead; "" when every position is in its list.
std::string OutOfListWarning(const LineSettings& settings);

}  // namespace lintrel
