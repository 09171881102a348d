#pragma once

#include <string>
#include <vector>

namespace lintrel::platform {

// The program's command line as UTF-8 texts, the program's own name first. On POSIX that is
// argv as given; on Windows the command line the system keeps (UTF-16), split by the
// system's rules, since argv there holds ANSI bytes that lose every character outside the
// code page. A Windows program without argv (WinMain) passes 0 and null.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace lintrel::platform
