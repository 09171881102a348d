#pragma once

#include <memory>
#include <string>

#include "discovery/port_list.h"
#include "settings/settings_store.h"

namespace lintrel::platform {

// The per-user settings of the named application (the executable's name without folder
// and extension): on Windows the registry key
// HKEY_CURRENT_USER\Software\VANTORIL SOFTWARE\<application>, elsewhere a settings file.
// Sets *warning when stored settings exist but could not all be read; never fails.
std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& application_name, std::string* warning);

// Where OpenSettingsStore() keeps its values, for messages.
std::string SettingsLocation(const std::string& application_name);

// The serial ports of this machine in the Port list's order. Elsewhere than on Windows,
// names pinned to device paths in `settings` (a store from OpenSettingsStore()) are applied.
PortList ListSystemPorts(SettingsStore& settings);

}  // namespace lintrel::platform
