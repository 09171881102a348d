#pragma once

#include <cstdint>

namespace lintrel::platform {

// Sets a baud rate that has no Bxxx constant (14400, 56000, ...) through the kernel's
// termios2 interface, input rate following the output rate. The other settings stay.
// Returns 0, or the errno of the failing ioctl.
int SetCustomBaudRate(int fd, uint32_t baud_rate);

// The output baud rate the terminal is set to, whether it has a Bxxx constant or not; 0
// when it cannot be read.
uint32_t CurrentBaudRate(int fd);

}  // namespace lintrel::platform
