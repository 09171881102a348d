#pragma once

#include <string>
#include <vector>

namespace lintrel::app {

// What lintrel.exe is asked for on its command line.
struct ProgramOptions {
  bool tray = false;     // --tray: start hidden, with the notification-area icon only
  bool version = false;  // --version
  // A word that is no option of the program, with the options it takes; empty when none.
  std::string error;
};

// `arguments` without the program's name.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments);

// Tells the version: one line ("lintrel 1.2.0") on standard output when the program was
// given one (redirected to a file or a pipe), else in a message box, since a GUI program
// started from a console window has no standard output of its own. Returns the exit code.
int ShowVersion();

}  // namespace lintrel::app
