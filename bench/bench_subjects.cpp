#include "bench/bench_subjects.h"

#include <signal.h>

#include <thread>

namespace lintrel::bench {

namespace {

// What a Linux user would write for one scanner. The scanner ends its lines with CR and
// `read` waits for LF: icrnl turns one into the other. (`read -d $'\r'` does not do: on a
// terminal, bash's read with -d switches the terminal to a mode that has icrnl on, so the
// CR never arrives as such.)
constexpr char kShellLoop[] =
    "dev=$1\n"
    "stty -F \"$dev\" raw -echo icrnl || exit 1\n"
    "echo \"loop: connected ($dev)\" >&2\n"
    "while IFS= read -r line; do\n"
    "  xdotool type --delay 0 \"$line\"\n"
    "  xdotool key Return\n"
    "done < \"$dev\"\n";

std::vector<std::string> LintrelArgs(const Programs& programs,
                                     const std::vector<std::string>& devices, bool trace, bool shaped,
                                     const std::vector<std::string>& options) {
  std::vector<std::string> args = {programs.lintrel_cli, "--keys", trace ? "trace" : "x11",
                                   "--baud", "115200"};
  // The CR that truncation takes off comes back as the suffix; each replacement matches
  // digits of every line and puts them back.
  if (shaped) args.insert(args.end(), {"--truncate", "--suffix", "\\r", "--replace", "1=1", "--replace", "0=0"});
  args.insert(args.end(), options.begin(), options.end());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    args.push_back("--port");
    args.push_back("COM" + std::to_string(i + 1) + "=" + devices[i]);
  }
  return args;
}

}  // namespace

const char* SubjectName(SubjectKind kind) {
  switch (kind) {
    case SubjectKind::kLintrel:
      return "lintrel";
    case SubjectKind::kFloor:
      return "floor";
    case SubjectKind::kShellLoop:
      return "shell loop";
    case SubjectKind::kLintrelShaped:
      return "lintrel shaped";
  }
  return "?";
}

std::unique_ptr<Subject> Subject::Start(SubjectKind kind, const Programs& programs,
                                        const std::vector<std::string>& devices, bool trace,
                                        std::string* error,
                                        const std::vector<std::string>& lintrel_options) {
  std::unique_ptr<Subject> subject(new Subject(kind, devices.size()));
  std::vector<std::vector<std::string>> commands;
  switch (kind) {
    case SubjectKind::kLintrel:
    case SubjectKind::kLintrelShaped:
      commands.push_back(
          LintrelArgs(programs, devices, trace, kind == SubjectKind::kLintrelShaped, lintrel_options));
      break;
    case SubjectKind::kFloor:
      commands.push_back({programs.floor_typer});
      commands.back().insert(commands.back().end(), devices.begin(), devices.end());
      break;
    case SubjectKind::kShellLoop:
      for (const std::string& device : devices)
        commands.push_back({"bash", "-c", kShellLoop, "loop", device});
      break;
  }
  std::vector<int> stderr_fds;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    // Each in a group of its own, so that stopping it also stops what it started (a shell
    // loop's running xdotool).
    testing::SpawnOptions options;
    options.capture_stdout = i == 0 && trace;
    options.own_process_group = true;
    std::unique_ptr<Process> process = Process::Spawn(commands[i], options, error);
    if (!process) return nullptr;
    stderr_fds.push_back(process->stderr_fd());
    subject->processes_.push_back(std::move(process));
  }
  subject->stderr_ = std::make_unique<StderrCollector>(stderr_fds);
  return subject;
}

bool Subject::WaitConnected(Clock::duration limit, std::string* error) {
  const Clock::time_point give_up = Clock::now() + limit;
  while (stderr_->connected_count() < static_cast<int>(ports_)) {
    bool all_running = true;
    for (auto& process : processes_) all_running = all_running && process->Running();
    if (!all_running || Clock::now() > give_up) {
      *error = std::string(SubjectName(kind_)) + ": " + std::to_string(stderr_->connected_count()) +
               " of " + std::to_string(ports_) + " ports connected" +
               (all_running ? " in time" : ", then it ended") + "; its messages:\n" +
               stderr_->Text();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

ProcessFigures Subject::Figures() {
  ProcessFigures total;
  for (auto& process : processes_) {
    ProcessFigures figures;
    if (!ReadProcessFigures(process->pid(), &figures)) continue;
    total.cpu_seconds += figures.cpu_seconds + figures.children_cpu_seconds;
    total.context_switches += figures.context_switches;
    total.peak_rss_kib += figures.peak_rss_kib;
    total.run_seconds += figures.run_seconds;
  }
  return total;
}

void Subject::Stop() {
  for (auto& process : processes_) process->Signal(SIGTERM);
  for (auto& process : processes_) process->Stop();
  stderr_.reset();
  processes_.clear();
}

}  // namespace lintrel::bench
