#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lintrel::bench {

using Clock = std::chrono::steady_clock;

// How a child's standard output is wired.
enum class Output { kDiscard, kPipe };

// A child process started by the benchmark. Its standard error is always collected (by
// the owner, see StderrCollector); its standard output is discarded or handed out as a
// pipe. Each child leads a process group of its own, so that stopping it also stops what
// it started (a shell loop's running xdotool). The destructor stops it.
class Process {
 public:
  static std::unique_ptr<Process> Spawn(const std::vector<std::string>& argv, Output output,
                                        std::string* error);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  int stdout_fd() const { return out_fd_; }
  int stderr_fd() const { return err_fd_; }

  bool Running();
  // SIGTERM to the child's process group, without waiting.
  void RequestStop();
  // SIGTERM to the child's process group, SIGKILL after `grace`, then reaps the child.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

 private:
  Process(pid_t pid, int out_fd, int err_fd) : pid_(pid), out_fd_(out_fd), err_fd_(err_fd) {}
  void Reap();

  pid_t pid_;
  int out_fd_;
  int err_fd_;
  bool reaped_ = false;
};

// Drains the standard error of several children on a thread of its own, so that no child
// ever blocks on a full pipe, and counts the lines that report a connected port.
class StderrCollector {
 public:
  explicit StderrCollector(std::vector<int> fds);
  ~StderrCollector();
  StderrCollector(const StderrCollector&) = delete;
  StderrCollector& operator=(const StderrCollector&) = delete;

  int connected_count() const { return connected_.load(); }
  // Lines that report an X connection refused ("Can't open display"), as xdotool does
  // when the server has no room for another client.
  int display_refusal_count() const { return display_refusals_.load(); }
  // The start of everything collected (kept to a bounded size), for error messages.
  std::string Text();

 private:
  void Run();

  std::vector<int> fds_;
  int wake_fd_;
  std::atomic<int> connected_{0};
  std::atomic<int> display_refusals_{0};
  std::mutex mutex_;
  std::string text_;
  std::vector<std::string> partial_lines_;
  std::thread thread_;
};

// On SIGINT, SIGTERM or SIGHUP: kills the process group of every child still running
// (they lead groups of their own, so a Ctrl-C at the terminal does not reach them) and exits.
void InstallInterruptCleanup();

// Figures the kernel keeps about a running process (all of its threads).
struct ProcessFigures {
  double cpu_seconds = 0;           // user + system
  double children_cpu_seconds = 0;  // user + system of children it has waited for
  // Time on a CPU by the scheduler's nanosecond clock (/proc/<pid>/task/*/schedstat),
  // summed over the threads alive now: finer than the tick-counted user + system.
  double run_seconds = 0;
  long context_switches = 0;  // voluntary + involuntary, summed over the threads
  long peak_rss_kib = 0;      // VmHWM
};

// False when the process is gone.
bool ReadProcessFigures(pid_t pid, ProcessFigures* figures);

}  // namespace lintrel::bench
