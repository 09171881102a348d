#include <windows.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/code_page.h"
#include "common/network_address.h"
#include "platform/system_settings.h"
#include "platform/text_code_page.h"
#include "platform/win32/system_error_text.h"
#include "platform/win32/wide_text.h"
#include "settings/settings_file.h"

namespace lintrel::platform {
namespace {

constexpr const char* kCompanyKey = "Software\\VANTORIL SOFTWARE";
constexpr const char* kPolicyKey = "Software\\Policies\\VANTORIL SOFTWARE";
constexpr const char* kRecommendedSubkey = "Recommended";
constexpr const char* kPortsSubkey = "Ports";

std::string ApplicationKeyPath(const std::string& application_name) {
  return std::string(kCompanyKey) + "\\" + application_name;
}

std::string RootName(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"; }

// The names of the values of a key, or of its subkeys; none when it cannot be opened.
std::vector<std::string> KeyNames(HKEY root, const std::string& path, bool subkeys) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, WideText(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    // Value names are at most 16383 characters, key names 255.
    wchar_t name[16384];
    DWORD length = sizeof name / sizeof name[0];
    const LSTATUS status = subkeys ? RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)
                                   : RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    names.push_back(Utf8Text(std::wstring(name, length)));
  }
  RegCloseKey(key);
  return names;
}

// The application's values stand directly in its key, with no section subkey; an entry
// named with backslashes ("Ports\\COM5\\Suffix", a port's profile) is the value after the
// last one in the subkey before it. Reads open the key afresh; writes create it when missing.
class RegistrySettingsStore : public SettingsStore {
 public:
  RegistrySettingsStore(HKEY root, std::string key_path) : root_(root), key_path_(std::move(key_path)) {}

  // The key that holds the entry and the value's name in it.
  struct Location {
    std::string key_path;
    std::string value_name;
  };
  Location Locate(const std::string& entry) const {
    const std::size_t separator = entry.rfind('\\');
    if (separator == std::string::npos) return {key_path_, entry};
    return {key_path_ + "\\" + entry.substr(0, separator), entry.substr(separator + 1)};
  }

  std::optional<std::string> ReadString(const std::string& entry) override {
    std::string data;
    if (!Read(entry, REG_SZ, &data)) return std::nullopt;
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    // The stored text may or may not carry its terminating zero.
    if (const std::size_t zero = text.find(L'\0'); zero != std::wstring::npos) text.resize(zero);
    return Utf8Text(text);
  }

  std::optional<int32_t> ReadInt(const std::string& entry) override {
    std::string data;
    if (!Read(entry, REG_DWORD, &data) || data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    memcpy(&value, data.data(), sizeof(value));
    return static_cast<int32_t>(value);
  }

  void WriteString(const std::string& entry, const std::string& value) override {
    const std::wstring text = WideText(value);
    Write(entry, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  void WriteInt(const std::string& entry, int32_t value) override {
    const auto data = static_cast<DWORD>(value);
    Write(entry, REG_DWORD, &data, sizeof(data));
  }

  void Remove(const std::string& entry) override {
    const Location where = Locate(entry);
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root_, WideText(where.key_path).c_str(), 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return;  // no key, no value
    if (status == ERROR_SUCCESS) {
      status = RegDeleteValueW(key, WideText(where.value_name).c_str());
      RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) NoteFailure("remove", entry, status);
  }

  // The key's values and those of its subkeys Ports\\COMn, the port's profiles; other
  // subkeys (a policy key's Recommended) are not part of it.
  std::vector<std::string> Names() override {
    std::vector<std::string> names = KeyNames(root_, key_path_, /*subkeys=*/false);
    const std::string ports = key_path_ + "\\" + kPortsSubkey;
    for (const std::string& port : KeyNames(root_, ports, /*subkeys=*/true)) {
      for (const std::string& value : KeyNames(root_, ports + "\\" + port, /*subkeys=*/false)) {
        names.push_back(std::string(kPortsSubkey) + "\\" + port + "\\" + value);
      }
    }
    return names;
  }

  // Older versions wrote texts through the registry's ANSI calls, which turned their bytes
  // into characters by the system's code page (see ParseStoredText); where it is no single-
  // byte one, Windows-1252 is as near as a table of bytes comes.
  const CodePage* OlderVersionsCodePage() const override {
    const CodePage* system = SystemCodePage();
    return system != nullptr ? system : &Windows1252CodePage();
  }

  bool Flush(std::string* error) override {
    if (first_failure_.empty()) return true;
    *error = first_failure_;
    first_failure_.clear();
    return false;
  }

 private:
  // The value's data as the registry holds it (a text in UTF-16).
  bool Read(const std::string& entry, DWORD wanted_type, std::string* data) {
    const Location where = Locate(entry);
    const std::wstring name = WideText(where.value_name);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, WideText(where.key_path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && type == wanted_type) {
      data->assign(size, '\0');
      status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data->data()), &size);
      data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == wanted_type;
  }

  void Write(const std::string& entry, DWORD type, const void* data, DWORD size) {
    const Location where = Locate(entry);
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root_, WideText(where.key_path).c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExW(key, WideText(where.value_name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
      RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) NoteFailure("write", entry, status);
  }

  void NoteFailure(const char* action, const std::string& entry, LSTATUS status) {
    if (!first_failure_.empty()) return;
    first_failure_ = RootName(root_) + "\\" + key_path_ + ": cannot " + action + " \"" + entry +
                     "\": " + SystemErrorText(static_cast<DWORD>(status));
  }

  HKEY root_;
  std::string key_path_;
  std::string first_failure_;
};

}  // namespace

ProgramSettings OpenProgramSettings(const std::string& application_name, const std::string& /*policy_file*/,
                                    std::vector<std::string>* /*warnings*/) {
  const std::string settings = ApplicationKeyPath(application_name);
  const std::string policy = std::string(kPolicyKey) + "\\" + application_name;
  const std::string recommended = policy + "\\" + kRecommendedSubkey;
  ProgramSettings program;
  std::vector<SettingsLayer> layers;
  // Of two keys of one source, the machine's is added last and so ranks higher.
  const std::pair<SettingSource, std::pair<HKEY, std::string>> keys[] = {
      {SettingSource::kMachine, {HKEY_LOCAL_MACHINE, settings}},
      {SettingSource::kRecommended, {HKEY_CURRENT_USER, recommended}},
      {SettingSource::kRecommended, {HKEY_LOCAL_MACHINE, recommended}},
      {SettingSource::kUser, {HKEY_CURRENT_USER, settings}},
      {SettingSource::kPolicy, {HKEY_CURRENT_USER, policy}},
      {SettingSource::kPolicy, {HKEY_LOCAL_MACHINE, policy}},
  };
  for (const auto& [source, key] : keys) {
    program.layer_stores.push_back(std::make_unique<RegistrySettingsStore>(key.first, key.second));
    layers.push_back({.source = source, .store = program.layer_stores.back().get(),
                      .location = RootName(key.first) + "\\" + key.second});
  }
  program.store = std::make_unique<LayeredSettings>(std::move(layers));
  // Windows names its serial ports itself: the pins that apply are network ports' addresses.
  for (const auto& [port_number, path] : ReadDevicePins(*program.store)) {
    if (IsNetworkAddressText(path)) program.device_pins[port_number] = path;
  }
  return program;
}

std::string SettingsLocation(const std::string& application_name) {
  return "HKEY_CURRENT_USER\\" + ApplicationKeyPath(application_name);
}

}  // namespace lintrel::platform
