#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

namespace lintrel::testing {

inline bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

inline std::string SocketPath(int display_number) {
  return "/tmp/.X11-unix/X" + std::to_string(display_number);
}

// A display number no X server uses: neither its socket nor its lock file exists.
inline bool DisplayIsFree(int display_number) {
  return !PathExists(SocketPath(display_number)) &&
         !PathExists("/tmp/.X" + std::to_string(display_number) + "-lock");
}

// A private Xvfb server, started on the first free display from `first_display` up, and
// stopped (by its PID) with this object.
class XvfbServer {
 public:
  XvfbServer(int first_display, std::string screen) : first_display_(first_display), screen_(std::move(screen)) {}
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  ~XvfbServer() { Stop(); }

  bool Start(std::string* error) {
    for (int number = first_display_; number < first_display_ + kDisplayNumbersToTry;
         ++number) {
      if (!DisplayIsFree(number)) continue;
      if (!Launch(number, error)) return false;
      if (WaitForSocket(number)) {
        display_name_ = ":" + std::to_string(number);
        return true;
      }
      // Another server took the number first, or this one died: try the next number.
      Stop();
    }
    *error = "Xvfb did not come up on any display from :" + std::to_string(first_display_);
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!Reaped(std::chrono::steady_clock::now() + kSafetyTimeout)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  const std::string& display_name() const { return display_name_; }

 private:
  // Forks and execs Xvfb. A close-on-exec pipe tells whether the exec itself worked.
  bool Launch(int number, std::string* error) {
    int exec_status[2];
    if (pipe2(exec_status, O_CLOEXEC) != 0) {
      *error = std::string("pipe2: ") + std::strerror(errno);
      return false;
    }
    std::string display = ":" + std::to_string(number);
    pid_ = fork();
    if (pid_ == 0) {
      close(exec_status[0]);
      // Take the server down with the test even if the test dies without cleaning up;
      // SIGTERM lets it remove its socket and lock file.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      int null_fd = open("/dev/null", O_RDWR);
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
      // -noreset: by default the server resets whenever its last client leaves, which
      // refuses the next test's connection for a moment.
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen_.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      int exec_errno = errno;
      ssize_t written = write(exec_status[1], &exec_errno, sizeof exec_errno);
      _exit(written == sizeof exec_errno ? 127 : 126);
    }
    close(exec_status[1]);
    if (pid_ < 0) {
      close(exec_status[0]);
      *error = std::string("fork: ") + std::strerror(errno);
      return false;
    }
    int exec_errno = 0;
    ssize_t got = read(exec_status[0], &exec_errno, sizeof exec_errno);
    close(exec_status[0]);
    if (got == 0) return true;
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    if (exec_errno == ENOENT) {
      *error = "Xvfb is not installed: install the xvfb package (apt-get install xvfb)";
    } else {
      *error = std::string("cannot run Xvfb: ") + std::strerror(exec_errno);
    }
    return false;
  }

  // The socket file appears before the server listens on it: wait until it takes a
  // connection.
  bool WaitForSocket(int number) {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kSafetyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (AcceptsConnections(SocketPath(number))) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  static bool AcceptsConnections(const std::string& socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
  }

  bool Reaped(std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  static constexpr int kDisplayNumbersToTry = 20;
  static constexpr std::chrono::seconds kSafetyTimeout{10};

  int first_display_;
  std::string screen_;
  pid_t pid_ = -1;
  std::string display_name_;
};

}  // namespace lintrel::testing
