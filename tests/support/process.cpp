#include "support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace lintrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

// The children alive, for the interrupt handler: a fixed table, since a signal handler may
// neither allocate nor lock. Each entry is what kill() takes: -pid for a group leader.
constexpr std::size_t kMaxChildren = 2048;
std::array<std::atomic<pid_t>, kMaxChildren> live_children{};

void RegisterChild(pid_t target) {
  for (auto& slot : live_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, target)) return;
  }
}

void UnregisterChild(pid_t target) {
  for (auto& slot : live_children) {
    pid_t expected = target;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void KillChildrenAndExit(int signal_number) {
  for (auto& slot : live_children) {
    const pid_t target = slot.load();
    if (target != 0) kill(target, SIGKILL);
  }
  _exit(128 + signal_number);
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

bool IsExecutable(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program's path: as given when it holds a '/', else the first match on PATH. Looked up
// before fork(), since the child may only make async-signal-safe calls.
std::optional<std::string> ProgramPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (IsExecutable(candidate)) return candidate;
  }
  return std::nullopt;
}

// In the forked child: only async-signal-safe calls until exec. On failure the errno goes
// to the parent through `status_fd`.
[[noreturn]] void RunChild(const char* path, char* const* argv, const SpawnOptions& options, int out_fd,
                           int err_fd, int status_fd) {
  if (options.dies_with_parent) prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (options.own_process_group) setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // A signal ignored here would stay ignored across exec.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGPIPE}) signal(signal_number, SIG_DFL);
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, STDIN_FILENO);
  dup2(out_fd >= 0 ? out_fd : null_fd, STDOUT_FILENO);
  dup2(err_fd >= 0 ? err_fd : null_fd, STDERR_FILENO);
  for (const int fd : options.closed_standard_fds) close(fd);
  close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  execve(path, argv, environ);
  const int exec_errno = errno;
  [[maybe_unused]] const ssize_t written = write(status_fd, &exec_errno, sizeof exec_errno);
  _exit(127);
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

std::size_t CountEntries(const std::string& folder) {
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return 0;
  std::size_t count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  return count;
}

}  // namespace

std::unique_ptr<Process> Process::Spawn(const std::vector<std::string>& argv, const SpawnOptions& options,
                                        std::string* error) {
  const std::optional<std::string> path = ProgramPath(argv.at(0));
  if (!path) {
    *error = argv[0] + ": command not found";
    return nullptr;
  }
  std::vector<std::string> strings = argv;
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);

  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  int status_pipe[2] = {-1, -1};
  const bool capture_stdout = options.capture_stdout && options.stdout_from < 0;
  const bool capture_stderr = options.capture_stderr && options.stderr_from < 0;
  const bool piped = (!capture_stdout || pipe2(out_pipe, O_CLOEXEC) == 0) &&
                     (!capture_stderr || pipe2(err_pipe, O_CLOEXEC) == 0) && pipe2(status_pipe, O_CLOEXEC) == 0;
  const pid_t pid = piped ? fork() : -1;
  if (pid == 0) {
    RunChild(path->c_str(), pointers.data(), options, options.stdout_from >= 0 ? options.stdout_from : out_pipe[1],
             options.stderr_from >= 0 ? options.stderr_from : err_pipe[1], status_pipe[1]);
  }
  const int fork_errno = errno;
  for (int fd : {out_pipe[1], err_pipe[1], status_pipe[1]}) CloseFd(fd);

  int exec_errno = 0;
  if (pid > 0 && read(status_pipe[0], &exec_errno, sizeof exec_errno) > 0) {
    waitpid(pid, nullptr, 0);
  }
  CloseFd(status_pipe[0]);
  if (pid <= 0 || exec_errno != 0) {
    *error = "cannot start " + argv[0] + ": " + std::strerror(pid <= 0 ? fork_errno : exec_errno);
    CloseFd(out_pipe[0]);
    CloseFd(err_pipe[0]);
    return nullptr;
  }
  RegisterChild(options.own_process_group ? -pid : pid);
  return std::unique_ptr<Process>(new Process(pid, out_pipe[0], err_pipe[0], options.own_process_group));
}

Process::~Process() {
  if (!reaped_) {
    Signal(SIGKILL);
    Reap();
  }
  CloseFd(out_fd_);
  CloseFd(err_fd_);
}

std::optional<ExitStatus> Process::Ended() {
  if (reaped_) return ExitStatus{};
  siginfo_t info = {};
  // WNOWAIT leaves an ended child a zombie: its id (and group) stay its own until Reap().
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return ExitStatus{};
  if (info.si_pid == 0) return std::nullopt;
  if (info.si_code == CLD_EXITED) return ExitStatus{.exited = true, .code = info.si_status};
  return ExitStatus{.exited = false, .code = info.si_status};
}

bool Process::Signal(int signal_number) {
  if (reaped_) return false;
  return kill(own_group_ ? -pid_ : pid_, signal_number) == 0;
}

void Process::Stop(std::chrono::milliseconds grace) {
  if (reaped_) return;
  Signal(SIGTERM);
  const Clock::time_point give_up = Clock::now() + grace;
  while (Running() && Clock::now() < give_up) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // Also whatever the child started and left behind in its group.
  Signal(SIGKILL);
  Reap();
}

void Process::Reap() {
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  UnregisterChild(own_group_ ? -pid_ : pid_);
}

void KillChildrenOnInterrupt() {
  struct sigaction action = {};
  action.sa_handler = KillChildrenAndExit;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
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
  figures->descriptors = CountEntries(base + "/fd");

  figures->threads = 0;
  figures->context_switches = 0;
  figures->run_seconds = 0;
  if (DIR* tasks = opendir((base + "/task").c_str())) {
    while (const dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] == '.') continue;
      ++figures->threads;
      const std::string task = base + "/task/" + entry->d_name;
      const std::string status = ReadWholeFile(task + "/status");
      const long voluntary = StatusField(status, "voluntary_ctxt_switches");
      const long involuntary = StatusField(status, "nonvoluntary_ctxt_switches");
      if (voluntary > 0) figures->context_switches += voluntary;
      if (involuntary > 0) figures->context_switches += involuntary;
      std::istringstream schedstat(ReadWholeFile(task + "/schedstat"));
      double run_nanoseconds = 0;
      if (schedstat >> run_nanoseconds) figures->run_seconds += run_nanoseconds / 1e9;
    }
    closedir(tasks);
  }
  return true;
}

}  // namespace lintrel::testing
