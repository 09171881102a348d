#pragma once

#include <termios.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace lintrel::testing {

// The far ends of network ports for the tests and the benchmark: socat joining two
// pseudo-terminals, ser2net serving one of them, and the loopback TCP ports they listen on.

// A loopback TCP port that nothing listened on a moment ago; 0 if none could be had.
int FreeLoopbackPort();
// True once something listens on 127.0.0.1:port, within the safety limit.
bool WaitForListener(int port);

// Two pseudo-terminals joined by socat (raw, no echo): a program opens port_path() as its
// serial port; the test plays the device through device_fd(). socat is stopped (by its id)
// with this object.
class PtyPair {
 public:
  explicit PtyPair(const std::string& directory);
  bool ok() const { return device_fd_ >= 0; }
  const std::string& port_path() const { return port_path_; }
  int device_fd() const { return device_fd_; }
  // The pseudo-terminal's number behind port_path() ("/dev/pts/N"), for the carrier shim.
  int PortPtyNumber() const;
  bool Write(std::string_view bytes) const;
  // The line settings of the port side, as whoever opened it last set them.
  std::optional<termios> PortSettings() const;
  // What the program wrote to its port within `duration` (reads until it ends).
  std::string ReadFor(std::chrono::milliseconds duration) const;
  ~PtyPair();

 private:
  std::string port_path_;
  std::unique_ptr<ChildProcess> socat_;
  int device_fd_ = -1;
};

// ser2net serving `device_path` on 127.0.0.1:port with RFC 2217 ("remctl"). `environment`
// (NAME=VALUE) is set for it alone, for a preloaded shim. Null unless it listens.
std::unique_ptr<ChildProcess> StartSer2net(const std::string& device_path, int port,
                                           const std::vector<std::string>& environment = {});

// socat accepting one connection on 127.0.0.1:port and running `shell_command` with its
// standard output sent to the peer. The connection is closed when the command ends, and reset
// when socat is killed (SIGKILL). Null unless it listens.
std::unique_ptr<ChildProcess> StartTcpPeer(int port, const std::string& shell_command);

}  // namespace lintrel::testing
