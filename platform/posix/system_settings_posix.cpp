#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/posix/settings_file_access_posix.h"
#include "platform/system_settings.h"
#include "settings/settings_file.h"

namespace lintrel::platform {
namespace {

std::unique_ptr<SettingsStore> OpenFile(const std::filesystem::path& path, SettingsFileKind kind,
                                        std::vector<std::string>* warnings) {
  std::string warning;
  auto file =
      std::make_unique<FileSettingsStore>(FileSettingsStore::Open(path, SystemSettingsFileAccess(), &warning, kind));
  if (!warning.empty()) warnings->push_back(std::move(warning));
  return file;
}

}  // namespace

ProgramSettings OpenProgramSettings(const std::string& application_name, const std::string& policy_file,
                                    std::vector<std::string>* warnings) {
  ProgramSettings settings;
  std::vector<SettingsLayer> layers;
  const auto add = [&](SettingSource source, const std::filesystem::path& path) {
    const SettingsFileKind kind =
        source == SettingSource::kUser ? SettingsFileKind::kUser : SettingsFileKind::kMachineOrPolicy;
    settings.layer_stores.push_back(OpenFile(path, kind, warnings));
    layers.push_back({.source = source, .store = settings.layer_stores.back().get(), .location = path.string()});
  };
  // The most important folder of XDG_CONFIG_DIRS comes first, and so ranks highest: added last.
  const std::vector<std::filesystem::path> machine_files = MachineSettingsPaths(application_name);
  for (auto file = machine_files.rbegin(); file != machine_files.rend(); ++file) {
    std::error_code error;
    if (std::filesystem::exists(*file, error)) add(SettingSource::kMachine, *file);
  }
  add(SettingSource::kUser, DefaultSettingsPath(application_name));
  if (!policy_file.empty()) add(SettingSource::kPolicy, policy_file);
  settings.store = std::make_unique<LayeredSettings>(std::move(layers));
  settings.device_pins = ReadDevicePins(*settings.store);
  return settings;
}

std::string SettingsLocation(const std::string& application_name) {
  const std::filesystem::path path = DefaultSettingsPath(application_name);
  return path.empty() ? "(nowhere: " + NoSettingsFolderReason() + ")" : path.string();
}

}  // namespace lintrel::platform
