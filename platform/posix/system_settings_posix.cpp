#include <memory>
#include <string>
#include <vector>

#include "discovery/linux_port_scan.h"
#include "platform/posix/settings_file_access_posix.h"
#include "platform/system_settings.h"
#include "settings/settings_file.h"

namespace lintrel::platform {

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& application_name, std::string* warning) {
  return std::make_unique<FileSettingsStore>(
      FileSettingsStore::Open(DefaultSettingsPath(application_name), SystemSettingsFileAccess(), warning));
}

std::string SettingsLocation(const std::string& application_name) {
  const std::filesystem::path path = DefaultSettingsPath(application_name);
  return path.empty() ? "(nowhere: " + NoSettingsFolderReason() + ")" : path.string();
}

PortList ListSystemPorts(SettingsStore& settings) {
  std::vector<PortEntry> ports = ScanLinuxSerialPorts("/sys/class/tty", "/dev");
  // OpenSettingsStore() gives a settings file here, which is where pins live.
  if (const auto* file = dynamic_cast<const FileSettingsStore*>(&settings)) ApplyDevicePins(ports, file->DevicePins());
  PortList list;
  for (PortEntry& port : ports) list.Add(std::move(port.name), std::move(port.device_path));
  return list;
}

}  // namespace lintrel::platform
