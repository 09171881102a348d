#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_stderr.h"

namespace lintrel::bench {

// The programs compared on the same workload.
enum class SubjectKind {
  kLintrel,    // lintrel-cli, one process for every port
  kFloor,      // the minimal XTest typer of this benchmark, one process for every port
  kShellLoop,  // a bash loop running xdotool for each line, one loop per port
  // lintrel-cli shaping every line: truncation, two replacements and a suffix that together
  // type the same keys as kLintrel, so that the same checks hold and only the work differs
  kLintrelShaped,
};
const char* SubjectName(SubjectKind kind);

struct Programs {
  std::string lintrel_cli;
  std::string floor_typer;
};

// A subject running on a set of ports (pseudo-terminal slave paths), from start to stop.
class Subject {
 public:
  // With `trace`, lintrel-cli prints key events on a pipe (trace_fd()) instead of typing.
  // `lintrel_options` go to lintrel-cli's command line as they are.
  static std::unique_ptr<Subject> Start(SubjectKind kind, const Programs& programs,
                                        const std::vector<std::string>& devices, bool trace,
                                        std::string* error,
                                        const std::vector<std::string>& lintrel_options = {});
  ~Subject() { Stop(); }
  Subject(const Subject&) = delete;
  Subject& operator=(const Subject&) = delete;

  // True once every port is reported open (so that data written now is not purged).
  bool WaitConnected(Clock::duration limit, std::string* error);
  // Summed over the subject's processes; CPU includes children they have waited for.
  ProcessFigures Figures();
  int trace_fd() const { return processes_.front()->stdout_fd(); }
  std::string StderrText() { return stderr_ ? stderr_->Text() : std::string(); }
  int DisplayRefusals() const { return stderr_ ? stderr_->display_refusal_count() : 0; }
  void Stop();

 private:
  Subject(SubjectKind kind, std::size_t ports) : kind_(kind), ports_(ports) {}

  SubjectKind kind_;
  std::size_t ports_;
  std::vector<std::unique_ptr<Process>> processes_;
  std::unique_ptr<StderrCollector> stderr_;
};

}  // namespace lintrel::bench
