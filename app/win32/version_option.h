#pragma once

#include <string_view>

namespace lintrel::app {

// True when the command line (without the program's name) holds the word `option`.
bool HasOption(const char* command_line, std::string_view option);

// True when the command line (without the program's name) holds the word --version.
bool AsksForVersion(const char* command_line);

// Tells the version: one line ("lintrel 1.2.0") on standard output when the program was
// given one (redirected to a file or a pipe), else in a message box, since a GUI program
// started from a console window has no standard output of its own. Returns the exit code.
int ShowVersion();

}  // namespace lintrel::app
