#include "support/xvfb_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/safety_limit.h"

namespace lintrel::testing {

namespace {

constexpr int kDisplayNumbersToTry = 100;

bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string SocketPath(int display_number) { return "/tmp/.X11-unix/X" + std::to_string(display_number); }
std::string LockPath(int display_number) { return "/tmp/.X" + std::to_string(display_number) + "-lock"; }

// The process id the server holding a display wrote into its lock file; 0 when none.
pid_t LockHolder(int display_number) {
  std::ifstream lock(LockPath(display_number));
  pid_t holder = 0;
  lock >> holder;
  return holder;
}

bool AcceptsConnections(const std::string& socket_path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

bool DisplayIsFree(int display_number) {
  return !PathExists(SocketPath(display_number)) && !PathExists(LockPath(display_number));
}

XvfbServer::XvfbServer(int first_display, std::string screen)
    : first_display_(first_display), screen_(std::move(screen)) {}

XvfbServer::~XvfbServer() { Stop(); }

bool XvfbServer::Start(std::string* error) {
  for (int number = first_display_; number < first_display_ + kDisplayNumbersToTry; ++number) {
    if (!DisplayIsFree(number)) continue;
    const std::string display = ":" + std::to_string(number);
    // -noreset: by default the server resets whenever its last client leaves, which refuses
    // the next client for a moment and forgets a keymap set with setxkbmap.
    SpawnOptions options;
    options.capture_stdout = false;
    options.capture_stderr = false;
    options.dies_with_parent = true;
    process_ = Process::Spawn({"Xvfb", display, "-screen", "0", screen_, "-nolisten", "tcp", "-noreset"}, options,
                              error);
    if (!process_) {
      *error += " (the xvfb package: apt-get install xvfb)";
      return false;
    }
    if (WaitUntilListening(number)) {
      display_name_ = display;
      return true;
    }
    // Another server took the number first, or this one died: try the next number.
    Stop();
  }
  *error = "Xvfb did not come up on any display from :" + std::to_string(first_display_);
  return false;
}

void XvfbServer::Stop() {
  // SIGTERM lets it remove its socket and lock file.
  if (process_) process_->Stop(kSafetyLimit);
  process_.reset();
  display_name_.clear();
}

// The socket file appears before the server listens on it: wait until it takes a
// connection. Two test programs that start at once may both find a number free and start a
// server on it: the one that lost exits at once, but a connection to the winner's socket
// may come first, so the lock file's process id says whose server listens.
bool XvfbServer::WaitUntilListening(int display_number) {
  const auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (AcceptsConnections(SocketPath(display_number))) return LockHolder(display_number) == process_->pid();
    if (!process_->Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace lintrel::testing
