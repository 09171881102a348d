#include "app/win32/program_options.h"

#include <windows.h>

#include <string>

#include "app/version.h"
#include "platform/win32/wide_text.h"

namespace lintrel::app {

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments) {
  ProgramOptions options;
  for (const std::string& argument : arguments) {
    if (argument == "--tray") {
      options.tray = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (options.error.empty()) {
      options.error = "Unknown option \"" + argument +
                      "\".\n\nlintrel.exe takes --tray (start hidden, with the icon in the notification area "
                      "only) and --version.";
    }
  }
  return options;
}

int ShowVersion() {
  const std::string line = "lintrel " LINTREL_VERSION "\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size()) {
    return 0;
  }
  MessageBoxW(nullptr, platform::WideText("Lintrel " LINTREL_VERSION "\n" LINTREL_COPYRIGHT).c_str(), L"Lintrel",
              MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace lintrel::app
