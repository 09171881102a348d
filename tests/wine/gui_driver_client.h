#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "wine/wine_prefix.h"

namespace lintrel::testing {

inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
  return parts;
}

// Runs the tests' Windows driver (tests/wine/windows/gui_driver.cpp) in a Wine prefix: it
// reads and works the windows of lintrel.exe (and of the installer) from outside.
class GuiDriverClient {
 public:
  // Ids the system gives: the OK and Cancel buttons, and the text of a message box.
  static constexpr int kOkButton = 1;
  static constexpr int kCancelButton = 2;
  static constexpr int kMessageText = 0xFFFF;

  GuiDriverClient(const WinePrefix& prefix, std::string driver_path)
      : prefix_(prefix), driver_path_(std::move(driver_path)) {}

  // Runs the driver's verbs; one line for each.
  std::vector<std::string> Drive(const std::vector<std::string>& verbs) const {
    std::vector<std::string> args = {driver_path_};
    args.insert(args.end(), verbs.begin(), verbs.end());
    return Split(prefix_.Run(args).out, '\n');
  }

  // The line of the last verb.
  std::string DriveOne(const std::vector<std::string>& verbs) const {
    const std::vector<std::string> lines = Drive(verbs);
    return lines.empty() ? "(no output)" : lines.back();
  }

  // The text of the message box that comes up, which is then closed with `button`.
  std::string TakeMessage(int button = kOkButton) const {
    if (DriveOne({"wait", "message"}) != "ok") return "(no message box)";
    const std::string text = DriveOne({"text", "message", std::to_string(kMessageText)});
    Drive({"click", "message", std::to_string(button), "gone", "message"});
    return text;
  }

 private:
  const WinePrefix& prefix_;
  std::string driver_path_;
};

}  // namespace lintrel::testing
