#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// The port number in a name such as "COM12": the name less its first three characters,
// read as a decimal number the way atoi reads it (leading digits; 0 when there are none).
// Numbers above 256, or written with more than three digits, have no slot: nullopt.
std::optional<int> PortNumberFromName(std::string_view name);

// "COM" followed by the number.
std::string PortName(int port_number);

}  // namespace lintrel
