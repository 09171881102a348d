#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/standard_streams.h"

namespace lintrel::platform {

bool EnsureStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free number, which is this one.
    const int opened = open("/dev/null", O_RDWR);
    if (opened == fd) continue;
    if (opened >= 0) close(opened);
    return false;
  }
  return true;
}

}  // namespace lintrel::platform
