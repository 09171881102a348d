#pragma once

#include <map>
#include <memory>
#include <string>

#include "settings/settings_store.h"

namespace lintrel::platform {

// The per-user settings of one application.
struct UserSettings {
  std::unique_ptr<SettingsStore> store;
  // Port number to device path: the user's "Device COMn" pins of a settings file. None
  // where the settings live in the registry.
  std::map<int, std::string> device_pins;
};

// The per-user settings of the named application (the executable's name without folder
// and extension): on Windows the registry key
// HKEY_CURRENT_USER\Software\VANTORIL SOFTWARE\<application>, elsewhere a settings file.
// Sets *warning when stored settings exist but could not all be read; never fails.
UserSettings OpenUserSettings(const std::string& application_name, std::string* warning);

// Where OpenUserSettings() keeps its values, for messages.
std::string SettingsLocation(const std::string& application_name);

}  // namespace lintrel::platform
