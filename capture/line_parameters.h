#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/serial_port.h"
#include "settings/line_settings.h"

namespace lintrel {

// The baud rates of the rate list, by list position.
inline constexpr std::array<uint32_t, 11> kBaudRates = {600,   1200,  2400,  4800,  9600,  14400,
                                                        19200, 38400, 56000, 57600, 115200};

// The line parameters that the four list positions of the settings stand for: the baud rate
// of the rate list; data bits = position + 7; the parity position is the parity code itself;
// stop-bit position 1 gives two stop bits. A position outside its list (nothing selected, or
// a damaged stored value) stands for that list's default, so a port is never opened with a
// parameter outside the lists.
platform::LineParameters LineParametersFromSettings(const LineSettings& settings);

// The list position of a baud rate, nullopt when the rate is not in the list.
std::optional<int> BaudIndexForRate(uint32_t rate);

}  // namespace lintrel
