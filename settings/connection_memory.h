#pragma once

#include <string>
#include <vector>

#include "settings/line_settings.h"
#include "settings/settings_store.h"

namespace lintrel {

// What a front end that runs all day keeps between runs: the ports it had connected, each
// with the line settings it was opened with and the device it had, and two options.
//
// Entries (registry values of the program's key):
//   "Connected ports"     "COM5,COM7": the ports connected (or waiting for their devices)
//   "COM5 line settings"  "4,0,1,0": the positions of "Baud rate", "Parity", "Databit" and
//                         "Stop bit" the port was opened with
//   "COM5 device"         the identity of the device the port had, when it follows one
//   "Reconnect at start"  1 (default) or 0: connect the remembered ports at start
//   "Follow devices"      1 (default) or 0: a port follows its device to another name
inline constexpr const char* kConnectedPortsEntry = "Connected ports";
inline constexpr const char* kReconnectAtStartEntry = "Reconnect at start";
inline constexpr const char* kFollowDevicesEntry = "Follow devices";

std::string PortLineSettingsEntry(int port_number);  // "COM5 line settings"
std::string PortDeviceEntry(int port_number);        // "COM5 device"

struct RememberedPort {
  int port_number = 0;
  LineSettings line;       // its port name is the port's
  std::string device_key;  // empty: the port opens whatever device has its name

  bool operator==(const RememberedPort&) const = default;
};

// The remembered ports in the stored order. Names that are no port name, and repeats, are
// skipped; line settings that are missing or damaged read as the defaults.
std::vector<RememberedPort> LoadRememberedPorts(SettingsStore& store);

// Replaces the remembered ports (the entries of ports no longer in the list are removed)
// and flushes the store; false with *error when it could not be written.
bool SaveRememberedPorts(SettingsStore& store, const std::vector<RememberedPort>& ports, std::string* error);

struct StartupOptions {
  bool reconnect_at_start = true;
  bool follow_devices = true;
};

// A missing entry gives the default; any value other than 0 turns an option on.
StartupOptions LoadStartupOptions(SettingsStore& store);
bool SaveStartupOptions(SettingsStore& store, const StartupOptions& options, std::string* error);

}  // namespace lintrel
