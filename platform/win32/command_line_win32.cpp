#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace lintrel::platform {

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (words == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8Text(words[i]));
  LocalFree(words);
  return arguments;
}

}  // namespace lintrel::platform
