#include "ui/win32/login_start.h"

#include <windows.h>

#include <string>

#include "platform/win32/system_error_text.h"

namespace lintrel::ui::win32 {

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "Lintrel";
// Long paths are allowed; a command line has 32767 characters at most.
constexpr DWORD kLongestPath = 32768;

std::string ThisProgramPath() {
  std::string path(kLongestPath, '\0');
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), kLongestPath);
  path.resize(length < kLongestPath ? length : 0);
  return path;
}

bool Failed(LSTATUS status, const std::string& what, std::string* error) {
  *error = "HKEY_CURRENT_USER\\" + std::string(kRunKey) + ": cannot " + what + " \"" + kRunValue +
           "\": " + platform::SystemErrorText(static_cast<DWORD>(status));
  return false;
}

}  // namespace

bool StartsAtLogin() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const LSTATUS status = RegQueryValueExA(key, kRunValue, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool SetStartAtLogin(bool start, std::string* error) {
  HKEY key = nullptr;
  if (!start) {
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status == ERROR_SUCCESS) {
      status = RegDeleteValueA(key, kRunValue);
      RegCloseKey(key);
    }
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || Failed(status, "remove", error);
  }
  const std::string program = ThisProgramPath();
  if (program.empty()) return Failed(static_cast<LSTATUS>(GetLastError()), "write", error);
  const std::string command = "\"" + program + "\" --tray";
  LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                   nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
  }
  return status == ERROR_SUCCESS || Failed(status, "write", error);
}

}  // namespace lintrel::ui::win32
