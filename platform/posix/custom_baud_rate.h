#pragma once

#include <cstdint>

namespace lintrel::platform {

// Sets a baud rate that has no Bxxx constant (14400, 56000, ...) through the kernel's
// termios2 interface, input rate following the output rate. The other settings stay.
// Returns 0, or the errno of the failing ioctl.
int SetCustomBaudRate(int fd, uint32_t baud_rate);

}  // namespace lintrel::platform
