#pragma once

#include <windows.h>

#include <string>

namespace lintrel::platform {

// The system's own description of a GetLastError() code, on one line.
std::string SystemErrorText(DWORD code);

}  // namespace lintrel::platform
