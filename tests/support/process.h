#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lintrel::testing {

// How a finished child ended.
struct ExitStatus {
  bool exited = false;  // false: killed by a signal
  int code = -1;        // exit status when `exited`, else the signal number
};

struct SpawnOptions {
  bool capture_stdout = true;  // a pipe (stdout_fd()); else /dev/null
  bool capture_stderr = true;  // a pipe (stderr_fd()); else /dev/null
  // Descriptors of this process that the child gets as its standard output and error
  // instead (a full device, a pipe nobody reads); -1: as the capture flags say.
  int stdout_from = -1;
  int stderr_from = -1;
  // The child leads a process group of its own, and signals go to the whole group: what it
  // starts (a shell loop's running command) is stopped with it.
  bool own_process_group = false;
  // The child gets SIGTERM when the thread that started it ends, even if this process dies
  // without cleaning up (Linux's parent-death signal: per thread, not per process).
  bool dies_with_parent = false;
  // Standard descriptors (0 to 2) the child starts without.
  std::vector<int> closed_standard_fds;
};

// A child process run by a test or by the benchmark: standard input from /dev/null, the
// default handling of every signal lintrel-cli stops on, and of SIGALRM and SIGPIPE, and
// no descriptor of this process but its standard output and error (the harness holds pseudo-terminals: a child holding one
// side would keep it from ever hanging up).
//
// An ended child stays a zombie until it is reaped, so that its process id (and group) stay
// its own while signals may still be sent. The destructor kills (by its id) and reaps a
// child that is still there.
//
// Thread contract: one thread at a time.
class Process {
 public:
  // `argv[0]` is a path, or a name looked up on PATH. Null and *error when it cannot start.
  static std::unique_ptr<Process> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options,
                                        std::string* error);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // The read ends of the captured streams (-1 when not captured); this object closes them.
  int stdout_fd() const { return out_fd_; }
  int stderr_fd() const { return err_fd_; }

  // How the child ended, once it has; never blocks.
  std::optional<ExitStatus> Ended();
  bool Running() { return !Ended(); }
  // To the child (its whole group when it leads one); false once it has been reaped.
  bool Signal(int signal_number);
  // SIGTERM, then SIGKILL after `grace` (also to whatever is left of its group), then reaps.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

 private:
  Process(pid_t pid, int out_fd, int err_fd, bool own_group)
      : pid_(pid), out_fd_(out_fd), err_fd_(err_fd), own_group_(own_group) {}
  void Reap();

  pid_t pid_;
  int out_fd_;
  int err_fd_;
  bool own_group_;
  bool reaped_ = false;
};

// On SIGINT, SIGTERM or SIGHUP: kills every child still running (each whole group when it
// leads one) and exits, so that an interrupted run leaves nothing behind.
void KillChildrenOnInterrupt();

// Figures the kernel keeps about a running process (all of its threads).
struct ProcessFigures {
  double cpu_seconds = 0;           // user + system
  double children_cpu_seconds = 0;  // user + system of children it has waited for
  // Time on a CPU by the scheduler's nanosecond clock (/proc/<pid>/task/*/schedstat),
  // summed over the threads alive now: finer than the tick-counted user + system.
  double run_seconds = 0;
  long context_switches = 0;  // voluntary + involuntary, summed over the threads
  long peak_rss_kib = 0;      // VmHWM
  std::size_t threads = 0;      // entries in /proc/<pid>/task
  std::size_t descriptors = 0;  // entries in /proc/<pid>/fd
};

// False when the process is gone.
bool ReadProcessFigures(pid_t pid, ProcessFigures* figures);

}  // namespace lintrel::testing
