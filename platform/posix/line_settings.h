#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "platform/serial_port.h"

namespace lintrel::platform {

// Why `parameters` cannot be set on a serial line, or nothing when they can.
std::optional<std::string> FindInvalidLineParameter(const LineParameters& parameters);

// Turns `settings` into raw input with the framing of `parameters` (which must be valid),
// no flow control, and reads that return at once. Sets the baud rate when it has a Bxxx
// constant; leaves it alone when none is asked for or it has no constant.
void ApplyLineParameters(const LineParameters& parameters, termios* settings);

// True when the rate asked for has no Bxxx constant and must be set through termios2.
bool NeedsCustomBaudRate(const LineParameters& parameters);

}  // namespace lintrel::platform
