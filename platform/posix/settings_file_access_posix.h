#pragma once

#include "settings/settings_file_access.h"

namespace lintrel::platform {

// The settings file access of this system, shared by every caller (it holds no state).
SettingsFileAccess& SystemSettingsFileAccess();

}  // namespace lintrel::platform
