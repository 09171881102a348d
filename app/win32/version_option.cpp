#include "app/win32/version_option.h"

#include <windows.h>

#include <sstream>
#include <string>

#include "app/version.h"

namespace lintrel::app {

bool HasOption(const char* command_line, std::string_view option) {
  std::istringstream words(command_line != nullptr ? command_line : "");
  for (std::string word; words >> word;) {
    if (word == option) return true;
  }
  return false;
}

bool AsksForVersion(const char* command_line) { return HasOption(command_line, "--version"); }

int ShowVersion() {
  const std::string line = "lintrel " LINTREL_VERSION "\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size()) {
    return 0;
  }
  MessageBoxA(nullptr, "Lintrel " LINTREL_VERSION "\n" LINTREL_COPYRIGHT, "Lintrel", MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace lintrel::app
