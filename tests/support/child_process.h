#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace lintrel::testing {

// One run of a program with its standard output and error captured. Both pipes are drained
// whenever the harness waits, so the child never blocks on a full pipe. Every wait is
// bounded by the safety limit. The child is killed (by its id) and reaped with this object.
class ChildProcess {
 public:
  // `closed` lists standard descriptors (0 to 2) the child starts without.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::vector<int>& closed = {});
  // Streams not captured (SpawnOptions::stdout_from, say) are empty in out() and err().
  ChildProcess(const SpawnOptions& options, const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  pid_t pid() const { return process_ ? process_->pid() : -1; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // Standard output split into its complete lines (a trailing partial line is left out).
  std::vector<std::string> OutLines() const { return CompleteLines(out_); }
  std::vector<std::string> ErrLines() const { return CompleteLines(err_); }

  // True once `condition` holds; false when the child has exited and closed its output
  // without it holding, or after the safety limit (times the patience).
  bool WaitUntil(const std::function<bool()>& condition);
  // How many safety limits every wait for this child lasts (1 unless set): more for a child
  // that runs in an emulator, which a busy machine slows down many times over.
  void SetPatience(int safety_limits) { patience_ = safety_limits; }
  bool WaitForErr(const std::string& text);
  bool WaitForOutLines(std::size_t count);

  // Keeps draining both pipes for `duration`, whatever the child does meanwhile.
  void DrainFor(std::chrono::milliseconds duration);

  // False when the child has already ended.
  bool Signal(int signal_number);

  // The way the child ended, once it has and both pipes are drained; empty if it is still
  // running after the safety limit.
  std::optional<ExitStatus> WaitForExit();

  // CPU time (user plus system) the child has used so far.
  std::optional<std::chrono::milliseconds> CpuTime() const;
  // The child's threads and open descriptors; empty once the child has gone.
  std::optional<std::size_t> ThreadCount() const;
  std::optional<std::size_t> DescriptorCount() const;

  // From now on standard output goes to `sink` as it arrives instead of into out(), for
  // output too large to keep. WaitForOutLines() still counts every line.
  void StreamOutTo(std::function<void(std::string_view chunk)> sink) { out_sink_ = std::move(sink); }

  // Both streams, for failure messages.
  std::string Describe() const;

 private:
  // Reads whatever either pipe has within `limit`, and notes the child's end.
  void Pump(std::chrono::milliseconds limit);
  std::optional<ProcessFigures> Figures() const;
  static std::vector<std::string> CompleteLines(const std::string& text);

  std::unique_ptr<Process> process_;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::optional<ExitStatus> status_;
  std::string out_;
  std::string err_;
  std::size_t out_line_count_ = 0;
  std::function<void(std::string_view)> out_sink_;
  std::string spawn_error_;
  int patience_ = 1;
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

}  // namespace lintrel::testing
