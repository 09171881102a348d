#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"

extern char** environ;

namespace lintrel::testing {

// How a finished child ended.
struct ExitStatus {
  bool exited = false;  // false: killed by a signal (or never reaped)
  int code = -1;        // exit status when `exited`, else the signal number
};

// One run of a program with its standard output and error captured through pipes. Both
// pipes are drained whenever the harness waits, so the child never blocks on a full pipe.
// The destructor kills (by its PID) and reaps a child that is still running.
class ChildProcess {
 public:
  // `closed` lists standard descriptors (0 to 2) the child starts without.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::vector<int>& closed = {}) {
    Spawn(program, args, closed);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      int raw = 0;
      while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
      }
    }
    CloseFd(out_fd_);
    CloseFd(err_fd_);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // Standard output split into its complete lines (a trailing partial line is left out).
  std::vector<std::string> OutLines() const { return CompleteLines(out_); }
  std::vector<std::string> ErrLines() const { return CompleteLines(err_); }

  // True once `condition` holds; false when the child has exited and closed its output
  // without it holding, or after the safety limit.
  bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
    while (true) {
      if (condition()) return true;
      if (status_ && out_fd_ < 0 && err_fd_ < 0) return false;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    }
  }

  bool WaitForErr(const std::string& text) {
    return WaitUntil([&] { return err_.find(text) != std::string::npos; });
  }
  bool WaitForOutLines(std::size_t count) {
    return WaitUntil([&] { return out_line_count_ >= count; });
  }

  // Keeps draining both pipes for `duration`, whatever the child does meanwhile.
  void DrainFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
      Pump(std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                                 std::chrono::steady_clock::now()));
    }
  }

  bool Signal(int signal_number) { return pid_ > 0 && !status_ && kill(pid_, signal_number) == 0; }

  // The way the child ended, once it has and both pipes are drained; empty if it is still
  // running after the safety limit.
  std::optional<ExitStatus> WaitForExit() {
    WaitUntil([&] { return status_ && out_fd_ < 0 && err_fd_ < 0; });
    if (!status_ || out_fd_ >= 0 || err_fd_ >= 0) return std::nullopt;
    return status_;
  }

  // CPU time (user plus system) the child has used so far, from /proc/<pid>/stat.
  std::optional<std::chrono::milliseconds> CpuTime() const {
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces: count fields after its ')'. utime
    // and stime are fields 14 and 15, the 12th and 13th after the state (field 3).
    const std::size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(name_end + 1));
    std::string skipped;
    for (int field = 3; field <= 13; ++field) fields >> skipped;
    long long user_ticks = 0;
    long long system_ticks = 0;
    if (!(fields >> user_ticks >> system_ticks)) return std::nullopt;
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    return std::chrono::milliseconds((user_ticks + system_ticks) * 1000 / ticks_per_second);
  }

  // Entries in /proc/<pid>/task (the child's threads) and /proc/<pid>/fd (its open
  // descriptors); empty once the child has gone.
  std::optional<std::size_t> ThreadCount() const { return ProcEntryCount("task"); }
  std::optional<std::size_t> DescriptorCount() const { return ProcEntryCount("fd"); }

  // From now on standard output goes to `sink` as it arrives instead of into out(), for
  // output too large to keep. WaitForOutLines() still counts every line.
  void StreamOutTo(std::function<void(std::string_view chunk)> sink) {
    out_sink_ = std::move(sink);
  }

  // Both streams, for failure messages.
  std::string Describe() const {
    std::string tail = out_.size() > 2000 ? "..." + out_.substr(out_.size() - 2000) : out_;
    return "\n--- stderr ---\n" + err_ + "--- stdout (end) ---\n" + tail + "---";
  }

 private:
  void Spawn(const std::string& program, const std::vector<std::string>& args, const std::vector<int>& closed) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
      close(out_pipe[0]);
      close(out_pipe[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    for (const int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
    // The test holds pseudo-terminal fds without close-on-exec (the virtual devices' own):
    // a child holding a device side would keep that terminal from ever hanging up.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // Start the child with the default signal handling whatever the test runner set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    sigset_t reset_signals;
    sigemptyset(&reset_signals);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGPIPE}) {
      sigaddset(&reset_signals, signal_number);
    }
    posix_spawnattr_setsigmask(&attributes, &no_signals);
    posix_spawnattr_setsigdefault(&attributes, &reset_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argv_strings = {program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_strings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0) {
      pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }

  // Reads whatever either pipe has within `limit`, and notes the child's end.
  void Pump(std::chrono::milliseconds limit) {
    ReapIfEnded();
    pollfd fds[2] = {{.fd = out_fd_, .events = POLLIN, .revents = 0},
                     {.fd = err_fd_, .events = POLLIN, .revents = 0}};
    // Short slices, so that the child's end is noticed even while it leaves a pipe open.
    constexpr std::chrono::milliseconds kSlice(20);
    const int timeout = static_cast<int>(std::min(limit, kSlice).count());
    if (poll(fds, 2, timeout) <= 0) return;
    if (fds[0].revents != 0) {
      std::string chunk;
      ReadFrom(out_fd_, chunk);
      out_line_count_ += static_cast<std::size_t>(std::count(chunk.begin(), chunk.end(), '\n'));
      if (out_sink_) {
        out_sink_(chunk);
      } else {
        out_ += chunk;
      }
    }
    if (fds[1].revents != 0) ReadFrom(err_fd_, err_);
  }

  static void ReadFrom(int& fd, std::string& buffer) {
    char chunk[65536];
    const ssize_t count = read(fd, chunk, sizeof chunk);
    if (count > 0) {
      buffer.append(chunk, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      CloseFd(fd);
    }
  }

  std::optional<std::size_t> ProcEntryCount(const std::string& folder) const {
    DIR* directory = opendir(("/proc/" + std::to_string(pid_) + "/" + folder).c_str());
    if (directory == nullptr) return std::nullopt;
    std::size_t count = 0;
    while (const dirent* entry = readdir(directory)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") ++count;
    }
    closedir(directory);
    return count;
  }

  void ReapIfEnded() {
    if (pid_ <= 0 || status_) return;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) != pid_) return;
    status_ = WIFEXITED(raw) ? ExitStatus{.exited = true, .code = WEXITSTATUS(raw)}
                             : ExitStatus{.exited = false, .code = WTERMSIG(raw)};
  }

  static void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  static std::vector<std::string> CompleteLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::optional<ExitStatus> status_;
  std::string out_;
  std::string err_;
  std::size_t out_line_count_ = 0;
  std::function<void(std::string_view)> out_sink_;
};

// The outcome of one finished command.
struct CommandResult {
  std::optional<ExitStatus> status;  // empty: it did not end within the safety limit
  std::string out;
  std::string err;

  bool Succeeded() const { return status && status->exited && status->code == 0; }
};

// Runs `command` (its program looked up on PATH, after any NAME=VALUE settings for its
// environment) to its end. `patience` counts safety limits, for slow commands.
inline CommandResult RunToEnd(const std::vector<std::string>& command, int patience = 1) {
  ChildProcess child("/usr/bin/env", command);
  CommandResult result;
  for (int round = 0; round < patience && !result.status; ++round) result.status = child.WaitForExit();
  result.out = child.out();
  result.err = child.err();
  return result;
}

// What tests of lintrel-cli have in common: its arguments, the devices it reads and the
// trace it types.

// `args` plus the trace keyboard and the shortest reconnection delay the program accepts,
// to keep the tests quick.
inline std::vector<std::string> CliArgs(std::vector<std::string> args) {
  args.insert(args.end(), {"--keys", "trace", "--reconnect-delay", "500"});
  return args;
}

inline std::string PortArg(int port_number, const std::string& device_path) {
  return "COM" + std::to_string(port_number) + "=" + device_path;
}

// The status line of a port connected at start.
inline std::string Connected(int port_number, const std::string& device_path) {
  return "lintrel: COM" + std::to_string(port_number) + " connected (" + device_path + ")\n";
}

inline std::unique_ptr<platform::VirtualSerialDevice> MakeDevice(const std::string& link_path) {
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> device =
      platform::VirtualSerialDevice::Create(link_path, &error);
  EXPECT_NE(device, nullptr) << error;
  return device;
}

// Blocks while the device's pseudo-terminal is full.
inline bool Send(platform::VirtualSerialDevice& device, const std::string& text) {
  return device.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Trace lines for typing `key` without and with Shift.
inline std::vector<std::string> Press(uint8_t key) {
  char down[16];
  char up[16];
  std::snprintf(down, sizeof down, "down 0x%02X", key);
  std::snprintf(up, sizeof up, "up 0x%02X", key);
  return {down, up};
}

inline std::vector<std::string> ShiftPress(uint8_t key) {
  std::vector<std::string> events = {"down 0x10"};
  for (std::string& event : Press(key)) events.push_back(event);
  events.push_back("up 0x10");
  return events;
}

// After `stop_signal` the program says it is stopping and exits with status 0.
inline void ExpectStopsCleanly(ChildProcess& cli, int stop_signal = SIGTERM) {
  ASSERT_TRUE(cli.Signal(stop_signal));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
  // A Windows program ends its lines with CR LF.
  const bool said_stopping = cli.err().find("lintrel: stopping\n") != std::string::npos ||
                             cli.err().find("lintrel: stopping\r\n") != std::string::npos;
  EXPECT_TRUE(said_stopping) << cli.Describe();
}

struct KeyEvent {
  bool down = false;
  int key = -1;
};

// One trace line, "down 0xHH" or "up 0xHH" exactly; empty for anything else.
inline std::optional<KeyEvent> ParseEvent(std::string_view line) {
  for (const bool down : {true, false}) {
    const std::string_view lead = down ? "down 0x" : "up 0x";
    if (line.size() != lead.size() + 2 || line.rfind(lead, 0) != 0) continue;
    int key = 0;
    for (char digit : line.substr(lead.size())) {
      const bool decimal = digit >= '0' && digit <= '9';
      const bool hex_letter = digit >= 'A' && digit <= 'F';
      if (!decimal && !hex_letter) return std::nullopt;
      key = key * 16 + (decimal ? digit - '0' : digit - 'A' + 10);
    }
    return KeyEvent{.down = down, .key = key};
  }
  return std::nullopt;
}

}  // namespace lintrel::testing
