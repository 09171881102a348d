#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// Port numbers and port names: the one place that knows them.
//
// Every port number from 0 to 256 has a slot (257 in all); a port is named "COM" followed by
// its number. The rule for reading a name, wherever a name comes from (a command-line
// option, a settings file, the system's port list, the Port list of the main window):
//   - "COM" in any mix of upper and lower case (Windows treats device names that way),
//   - then the number in decimal, 0 to 256, written without leading zeros,
//   - and nothing else: no blanks, no sign, nothing after the digits.
// So "COM5" and "com5" name port 5, and "COM0" port 0; "COM05", "COM+5", "COM-0", "COM 5",
// "COM5:" and "COM257" name no port. One spelling per port keeps names usable as keys.

inline constexpr int kLowestPortNumber = 0;
inline constexpr int kHighestPortNumber = 256;
inline constexpr int kPortNumberCount = kHighestPortNumber - kLowestPortNumber + 1;

constexpr bool IsPortNumber(int number) {
  return number >= kLowestPortNumber && number <= kHighestPortNumber;
}

// The port number a name stands for, by the rule above; nullopt when it names no port.
std::optional<int> ParsePortName(std::string_view name);

// "COM" followed by the number, as the rule above reads it back.
std::string PortName(int port_number);

}  // namespace lintrel
