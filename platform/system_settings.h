#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/layered_settings.h"
#include "settings/settings_store.h"

namespace lintrel::platform {

// The settings of one program, every layer of them (see settings/layered_settings.h).
struct ProgramSettings {
  // The stores of the layers, which `store` reads through; kept as long as it is.
  std::vector<std::unique_ptr<SettingsStore>> layer_stores;
  // What the program reads and writes: the layers as one, writes going to the user's.
  std::unique_ptr<LayeredSettings> store;
  // Port number to device path: the "Device COMn" pins of the settings. Where the settings
  // live in the registry, only the pins that name a network port's address.
  std::map<int, std::string> device_pins;
};

// The settings of the named program (the executable's name without folder and extension).
// On Windows: the user's registry key HKEY_CURRENT_USER\Software\VANTORIL SOFTWARE\<program>
// over the machine's (HKEY_LOCAL_MACHINE, the same path), the policies under
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER \Software\Policies\VANTORIL SOFTWARE\<program>
// (the machine's first) over both, and their Recommended subkeys under the user's. Elsewhere
// the user's settings file over the machine's ($XDG_CONFIG_DIRS, /etc/xdg by default:
// <dir>/lintrel/<program>.conf), with `policy_file` over both.
// `policy_file` is used where the settings are files. Adds a line to *warnings for each
// store that exists but could not all be read; never fails.
ProgramSettings OpenProgramSettings(const std::string& application_name, const std::string& policy_file,
                                    std::vector<std::string>* warnings);

// Where the user's settings of the program are kept, for messages.
std::string SettingsLocation(const std::string& application_name);

}  // namespace lintrel::platform
