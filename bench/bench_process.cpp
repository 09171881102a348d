#include "bench/bench_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace lintrel::bench {

namespace {

constexpr std::size_t kKeptStderr = 16384;

// The children alive, for the interrupt handler: a fixed table, since a signal handler may
// neither allocate nor lock.
constexpr std::size_t kMaxChildren = 2048;
std::array<std::atomic<pid_t>, kMaxChildren> live_children{};

void RegisterChild(pid_t pid) {
  for (auto& slot : live_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void UnregisterChild(pid_t pid) {
  for (auto& slot : live_children) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void KillChildrenAndExit(int signal_number) {
  for (auto& slot : live_children) {
    const pid_t pid = slot.load();
    if (pid > 0) kill(-pid, SIGKILL);
  }
  _exit(128 + signal_number);
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The value of a "Name:   value" line of a /proc status file, or -1.
long StatusField(const std::string& status, const std::string& name) {
  const std::size_t at = status.find("\n" + name + ":");
  if (at == std::string::npos) return -1;
  return std::strtol(status.c_str() + at + name.size() + 2, nullptr, 10);
}

}  // namespace

std::unique_ptr<Process> Process::Spawn(const std::vector<std::string>& argv, Output output,
                                        std::string* error) {
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (pipe2(err_pipe, O_CLOEXEC) != 0 ||
      (output == Output::kPipe && pipe2(out_pipe, O_CLOEXEC) != 0)) {
    *error = std::string("pipe: ") + std::strerror(errno);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) CloseFd(fd);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output == Output::kPipe) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  // The benchmark holds both sides of every pseudo-terminal; a child must hold none.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t no_signals;
  sigemptyset(&no_signals);
  sigset_t default_signals;
  sigemptyset(&default_signals);
  for (int signal_number : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&default_signals, signal_number);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> strings = argv;
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int result =
      posix_spawnp(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseFd(out_pipe[1]);
  CloseFd(err_pipe[1]);
  if (result != 0) {
    *error = "cannot start " + argv[0] + ": " + std::strerror(result);
    CloseFd(out_pipe[0]);
    CloseFd(err_pipe[0]);
    return nullptr;
  }
  RegisterChild(pid);
  return std::unique_ptr<Process>(new Process(pid, out_pipe[0], err_pipe[0]));
}

Process::~Process() {
  Stop();
  CloseFd(out_fd_);
  CloseFd(err_fd_);
}

bool Process::Running() {
  if (reaped_) return false;
  siginfo_t info = {};
  // WNOWAIT leaves an ended child a zombie: its process group id stays ours until Reap().
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

void Process::RequestStop() {
  if (!reaped_) kill(-pid_, SIGTERM);
}

void Process::Stop(std::chrono::milliseconds grace) {
  if (reaped_) return;
  kill(-pid_, SIGTERM);
  const Clock::time_point give_up = Clock::now() + grace;
  while (Running() && Clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // Also whatever the child started and left behind in its group.
  kill(-pid_, SIGKILL);
  Reap();
}

void Process::Reap() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  UnregisterChild(pid_);
}

void InstallInterruptCleanup() {
  struct sigaction action = {};
  action.sa_handler = KillChildrenAndExit;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

StderrCollector::StderrCollector(std::vector<int> fds)
    : fds_(std::move(fds)), wake_fd_(eventfd(0, EFD_CLOEXEC)), partial_lines_(fds_.size()) {
  thread_ = std::thread(&StderrCollector::Run, this);
}

StderrCollector::~StderrCollector() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
  thread_.join();
  close(wake_fd_);
}

std::string StderrCollector::Text() {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

void StderrCollector::Run() {
  std::vector<pollfd> polled;
  for (int fd : fds_) polled.push_back({.fd = fd, .events = POLLIN, .revents = 0});
  polled.push_back({.fd = wake_fd_, .events = POLLIN, .revents = 0});
  while (true) {
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (polled.back().revents != 0) return;
    for (std::size_t i = 0; i + 1 < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t count = read(polled[i].fd, chunk, sizeof chunk);
      if (count <= 0) {
        polled[i].fd = -1;  // poll() skips it from now on
        continue;
      }
      std::string& partial = partial_lines_[i];
      partial.append(chunk, static_cast<std::size_t>(count));
      for (std::size_t end; (end = partial.find('\n')) != std::string::npos;
           partial.erase(0, end + 1)) {
        const std::string line = partial.substr(0, end);
        if (line.find(" connected (") != std::string::npos) ++connected_;
        if (line.find("open display") != std::string::npos) ++display_refusals_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (text_.size() < kKeptStderr) text_ += line + "\n";
      }
    }
  }
}

bool ReadProcessFigures(pid_t pid, ProcessFigures* figures) {
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string stat = ReadWholeFile(base + "/stat");
  // The command name in parentheses may hold spaces: count the fields after its ')'.
  // utime, stime, cutime and cstime are fields 14 to 17, the 12th to 15th after the state.
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return false;
  std::istringstream fields(stat.substr(name_end + 1));
  std::string skipped;
  for (int field = 3; field <= 13; ++field) fields >> skipped;
  long long ticks[4] = {};
  if (!(fields >> ticks[0] >> ticks[1] >> ticks[2] >> ticks[3])) return false;
  const double ticks_per_second = static_cast<double>(sysconf(_SC_CLK_TCK));
  figures->cpu_seconds = static_cast<double>(ticks[0] + ticks[1]) / ticks_per_second;
  figures->children_cpu_seconds = static_cast<double>(ticks[2] + ticks[3]) / ticks_per_second;
  figures->peak_rss_kib = StatusField(ReadWholeFile(base + "/status"), "VmHWM");

  figures->context_switches = 0;
  figures->run_seconds = 0;
  if (DIR* tasks = opendir((base + "/task").c_str())) {
    while (const dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] == '.') continue;
      const std::string status = ReadWholeFile(base + "/task/" + entry->d_name + "/status");
      const long voluntary = StatusField(status, "voluntary_ctxt_switches");
      const long involuntary = StatusField(status, "nonvoluntary_ctxt_switches");
      if (voluntary > 0) figures->context_switches += voluntary;
      if (involuntary > 0) figures->context_switches += involuntary;
      std::istringstream schedstat(ReadWholeFile(base + "/task/" + entry->d_name + "/schedstat"));
      double run_nanoseconds = 0;
      if (schedstat >> run_nanoseconds) figures->run_seconds += run_nanoseconds / 1e9;
    }
    closedir(tasks);
  }
  return true;
}

}  // namespace lintrel::bench
