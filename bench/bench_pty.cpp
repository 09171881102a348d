#include "bench/bench_pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lintrel::bench {

std::unique_ptr<PtyPair> PtyPair::Open(std::string* error) {
  int master_fd = -1;
  int slave_fd = -1;
  char name[128] = {};
  if (openpty(&master_fd, &slave_fd, name, nullptr, nullptr) != 0) {
    *error = std::string("openpty: ") + std::strerror(errno);
    return nullptr;
  }
  // Raw mode on the side written to (a pty master's settings are its slave's): CR goes
  // through as CR and nothing echoes back.
  termios settings = {};
  tcgetattr(master_fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(master_fd, TCSANOW, &settings);
  for (int fd : {master_fd, slave_fd}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<PtyPair>(new PtyPair(master_fd, slave_fd, name));
}

PtyPair::~PtyPair() {
  close(master_fd_);
  close(slave_fd_);
}

std::size_t PtyPair::WriteSome(std::string_view bytes) {
  while (true) {
    const ssize_t written = write(master_fd_, bytes.data(), bytes.size());
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno != EINTR) return 0;
  }
}

void PtyPair::DrainReturned() {
  char discard[4096];
  while (read(master_fd_, discard, sizeof discard) > 0) {
  }
}

}  // namespace lintrel::bench
