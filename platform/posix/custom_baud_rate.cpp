// The kernel's termios2 definitions clash with glibc's <termios.h>, so this file includes
// only the kernel's.
#include "platform/posix/custom_baud_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace lintrel::platform {

int SetCustomBaudRate(int fd, uint32_t baud_rate) {
  struct termios2 settings = {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return errno;
  settings.c_cflag &= ~CBAUD;
  settings.c_cflag |= BOTHER;
  // A zero input rate field means "same as the output rate".
  settings.c_cflag &= ~CIBAUD;
  settings.c_ospeed = baud_rate;
  settings.c_ispeed = baud_rate;
  if (ioctl(fd, TCSETS2, &settings) != 0) return errno;
  return 0;
}

uint32_t CurrentBaudRate(int fd) {
  struct termios2 settings = {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace lintrel::platform
