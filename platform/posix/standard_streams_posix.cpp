#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
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

bool WriteWithin(std::FILE* stream, std::string_view text, std::chrono::milliseconds limit) {
  const int fd = fileno(stream);
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!text.empty()) {
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd target{.fd = fd, .events = POLLOUT, .revents = 0};
    // A terminal whose output is stopped, or a full pipe, is not ready for writing: the
    // write() that would block is never made.
    const int ready = poll(&target, 1, static_cast<int>(std::max<long long>(remaining.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace lintrel::platform
