#include "platform/standard_streams.h"

#include <windows.h>

#include <cstdlib>

namespace lintrel::platform {

namespace {

UINT console_code_page_before = 0;

void RestoreConsoleCodePage() {
  if (console_code_page_before != 0) SetConsoleOutputCP(console_code_page_before);
}

}  // namespace

// Windows gives files handles, never the C runtime's descriptor numbers 0 to 2: a missing
// standard stream cannot be taken over by a file the program opens. What the program writes
// is UTF-8, like its files: a console it runs in is told so for as long as it runs (and
// given back its own code page at the end, since the console outlives the program).
bool EnsureStandardStreams() {
  const UINT before = GetConsoleOutputCP();
  if (before != 0 && before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    console_code_page_before = before;
    std::atexit(RestoreConsoleCodePage);
  }
  return true;
}

}  // namespace lintrel::platform

namespace lintrel::platform {

bool WriteWithin(std::FILE* stream, std::string_view text, std::chrono::milliseconds /*limit*/) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

}  // namespace lintrel::platform
