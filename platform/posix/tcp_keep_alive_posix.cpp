#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

#include "platform/network/tcp_keep_alive.h"

namespace lintrel::platform {

bool SetTcpKeepAlive(std::uintptr_t socket, std::string* error) {
  const int fd = static_cast<int>(socket);
  const int on = 1;
  const int idle_s = 10;
  const int interval_s = 5;
  const int probes = 3;
  // Keep-alive probes go only while nothing is unacknowledged; TCP_USER_TIMEOUT bounds the
  // other case, a request the server never acknowledges.
  const unsigned user_timeout_ms = static_cast<unsigned>(kKeepAliveDetection.count()) * 1000;
  const bool set = setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
                   setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) == 0 &&
                   setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) == 0 &&
                   setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 &&
                   setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms) == 0;
  if (!set && error != nullptr) *error = "cannot turn TCP keep-alive on: " + std::generic_category().message(errno);
  return set;
}

}  // namespace lintrel::platform
