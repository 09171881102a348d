#include <memory>
#include <string>
#include <utility>

#include "platform/posix/settings_file_access_posix.h"
#include "platform/system_settings.h"
#include "settings/settings_file.h"

namespace lintrel::platform {

UserSettings OpenUserSettings(const std::string& application_name, std::string* warning) {
  auto file = std::make_unique<FileSettingsStore>(
      FileSettingsStore::Open(DefaultSettingsPath(application_name), SystemSettingsFileAccess(), warning));
  std::map<int, std::string> pins = file->DevicePins();
  return {.store = std::move(file), .device_pins = std::move(pins)};
}

std::string SettingsLocation(const std::string& application_name) {
  const std::filesystem::path path = DefaultSettingsPath(application_name);
  return path.empty() ? "(nowhere: " + NoSettingsFolderReason() + ")" : path.string();
}

}  // namespace lintrel::platform
