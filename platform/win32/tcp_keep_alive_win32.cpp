#include <winsock2.h>
#include <mstcpip.h>

#include "platform/network/tcp_keep_alive.h"
#include "platform/win32/system_error_text.h"

namespace lintrel::platform {

bool SetTcpKeepAlive(std::uintptr_t socket, std::string* error) {
  // Windows sends 10 probes (fixed since Vista): 10 s idle, then one every 1.5 s, gives the
  // same 25 s as on Linux.
  tcp_keepalive values = {.onoff = 1, .keepalivetime = 10'000, .keepaliveinterval = 1'500};
  DWORD returned = 0;
  if (WSAIoctl(static_cast<SOCKET>(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
               nullptr, nullptr) == 0) {
    return true;
  }
  if (error != nullptr) {
    *error = "cannot turn TCP keep-alive on: " + SystemErrorText(static_cast<DWORD>(WSAGetLastError()));
  }
  return false;
}

}  // namespace lintrel::platform
