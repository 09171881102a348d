#include "ui/win32/login_start.h"

#include <windows.h>

#include <string>

#include "platform/win32/system_error_text.h"
#include "platform/win32/wide_text.h"

namespace lintrel::ui::win32 {

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunKeyW = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "Lintrel";
constexpr const wchar_t* kRunValueW = L"Lintrel";
// Long paths are allowed; a command line has 32767 characters at most.
constexpr DWORD kLongestPath = 32768;

std::wstring ThisProgramPath() {
  std::wstring path(kLongestPath, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
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
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyW, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const LSTATUS status = RegQueryValueExW(key, kRunValueW, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool SetStartAtLogin(bool start, std::string* error) {
  HKEY key = nullptr;
  if (!start) {
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyW, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status == ERROR_SUCCESS) {
      status = RegDeleteValueW(key, kRunValueW);
      RegCloseKey(key);
    }
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || Failed(status, "remove", error);
  }
  const std::wstring program = ThisProgramPath();
  if (program.empty()) return Failed(static_cast<LSTATUS>(GetLastError()), "write", error);
  const std::wstring command = L"\"" + program + L"\" --tray";
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyW, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                   nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key, kRunValueW, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  return status == ERROR_SUCCESS || Failed(status, "write", error);
}

}  // namespace lintrel::ui::win32
