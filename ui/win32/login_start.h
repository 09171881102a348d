#pragma once

#include <string>

namespace lintrel::ui::win32 {

// Starting lintrel.exe when the user logs in: the value "Lintrel" under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, holding the command
// "<this program's path>" --tray (hidden, with its icon only). The uninstaller removes the
// same value.

// Whether the value is there (whatever program it names).
bool StartsAtLogin();
// Writes the value with this program's path, or removes it; false with *error on failure.
bool SetStartAtLogin(bool start, std::string* error);

}  // namespace lintrel::ui::win32
