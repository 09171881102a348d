#include "support/network_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/safety_limit.h"

namespace lintrel::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Whether a socket listens on 127.0.0.1:port or on every address, as the kernel's table
// says: a test connection would take the one connection a peer accepts.
bool Listens(int port) {
  FILE* table = std::fopen("/proc/net/tcp", "r");
  if (table == nullptr) return false;
  char loopback[32];
  char any[32];
  std::snprintf(loopback, sizeof loopback, "0100007F:%04X 00000000:0000 0A", port);
  std::snprintf(any, sizeof any, "00000000:%04X 00000000:0000 0A", port);
  char line[512];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, table) != nullptr) {
    found = std::strstr(line, loopback) != nullptr || std::strstr(line, any) != nullptr;
  }
  std::fclose(table);
  return found;
}

// Polls `condition` every 20 ms up to the safety limit.
template <typename Condition>
bool Within(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Its own process group, so that what it starts (socat's shell and its commands) ends with it.
std::unique_ptr<ChildProcess> StartPeer(const std::string& program, const std::vector<std::string>& args) {
  const SpawnOptions options{.capture_stdout = false, .own_process_group = true, .dies_with_parent = true, .closed_standard_fds = {}};
  return std::make_unique<ChildProcess>(options, program, args);
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool WaitForListener(int port) {
  return Within([port] { return Listens(port); });
}

PtyPair::PtyPair(const std::string& directory)
    : port_path_(directory + "/port") {
  const std::string device_path = directory + "/device";
  socat_ = StartPeer("/usr/bin/socat", {"pty,raw,echo=0,link=" + port_path_, "pty,raw,echo=0,link=" + device_path});
  if (!socat_->started()) return;
  if (!Within([&] { return std::filesystem::exists(port_path_) && std::filesystem::exists(device_path); })) return;
  device_fd_ = open(device_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

PtyPair::~PtyPair() {
  if (device_fd_ >= 0) close(device_fd_);
}

int PtyPair::PortPtyNumber() const {
  std::error_code error;
  const std::string target = std::filesystem::read_symlink(port_path_, error).string();
  const std::string prefix = "/dev/pts/";
  return target.starts_with(prefix) ? std::stoi(target.substr(prefix.size())) : -1;
}

bool PtyPair::Write(std::string_view bytes) const {
  while (!bytes.empty()) {
    const ssize_t written = write(device_fd_, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<termios> PtyPair::PortSettings() const {
  const int fd = open(port_path_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios settings{};
  const bool read = tcgetattr(fd, &settings) == 0;
  close(fd);
  return read ? std::optional<termios>(settings) : std::nullopt;
}

std::string PtyPair::ReadFor(std::chrono::milliseconds duration) const {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + duration;
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
    pollfd ready = {.fd = device_fd_, .events = POLLIN, .revents = 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
    if (poll(&ready, 1, static_cast<int>(left.count()) + 1) != 1) continue;
    char buffer[256];
    const ssize_t count = read(device_fd_, buffer, sizeof buffer);
    if (count <= 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

std::unique_ptr<ChildProcess> StartSer2net(const std::string& device_path, int port,
                                           const std::vector<std::string>& environment) {
  std::vector<std::string> args = environment;
  // -u: no UUCP lock files (they need /var/lock); -n: stays in the foreground; -P: its pid
  // file beside the device, not in /run.
  args.insert(args.end(), {"/usr/sbin/ser2net", "-n", "-u", "-P", device_path + ".ser2net.pid", "-C",
                           "127.0.0.1," + std::to_string(port) + ":telnet:0:" + device_path + ":9600 remctl"});
  std::unique_ptr<ChildProcess> ser2net = StartPeer("/usr/bin/env", args);
  if (!ser2net->started() || !WaitForListener(port)) return nullptr;
  return ser2net;
}

std::unique_ptr<ChildProcess> StartTcpPeer(int port, const std::string& shell_command) {
  // linger=0: a close without socat's own shutdown (socat killed) is a reset, as a device
  // server that drops a client sends.
  std::unique_ptr<ChildProcess> socat = StartPeer(
      "/usr/bin/socat",
      {"TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,linger=0", "SYSTEM:" + shell_command});
  if (!socat->started() || !WaitForListener(port)) return nullptr;
  return socat;
}

}  // namespace lintrel::testing
