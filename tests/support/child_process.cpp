#include "support/child_process.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/safety_limit.h"

namespace lintrel::testing {

namespace {

void ReadFrom(int& fd, std::string& buffer) {
  char chunk[65536];
  const ssize_t count = read(fd, chunk, sizeof chunk);
  if (count > 0) {
    buffer.append(chunk, static_cast<std::size_t>(count));
  } else if (count == 0 || errno != EINTR) {
    fd = -1;  // drained; the Process closes it
  }
}

}  // namespace

namespace {

SpawnOptions WithClosed(const std::vector<int>& closed) {
  SpawnOptions options;
  options.closed_standard_fds = closed;
  return options;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<int>& closed)
    : ChildProcess(WithClosed(closed), program, args) {}

ChildProcess::ChildProcess(const SpawnOptions& options, const std::string& program,
                           const std::vector<std::string>& args) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  process_ = Process::Spawn(argv, options, &spawn_error_);
  if (!process_) return;
  out_fd_ = process_->stdout_fd();
  err_fd_ = process_->stderr_fd();
}

ChildProcess::~ChildProcess() = default;

bool ChildProcess::WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + patience_ * kSafetyLimit;
  while (true) {
    if (condition()) return true;
    if (!process_ || (status_ && out_fd_ < 0 && err_fd_ < 0)) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
}

bool ChildProcess::WaitForErr(const std::string& text) {
  return WaitUntil([&] { return err_.find(text) != std::string::npos; });
}

bool ChildProcess::WaitForOutLines(std::size_t count) {
  return WaitUntil([&] { return out_line_count_ >= count; });
}

void ChildProcess::DrainFor(std::chrono::milliseconds duration) {
  if (!process_) return;
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    Pump(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
  }
}

bool ChildProcess::Signal(int signal_number) {
  if (!process_ || status_ || process_->Ended()) return false;
  return process_->Signal(signal_number);
}

std::optional<ExitStatus> ChildProcess::WaitForExit() {
  WaitUntil([&] { return status_ && out_fd_ < 0 && err_fd_ < 0; });
  if (!status_ || out_fd_ >= 0 || err_fd_ >= 0) return std::nullopt;
  return status_;
}

std::optional<ProcessFigures> ChildProcess::Figures() const {
  ProcessFigures figures;
  if (!process_ || !ReadProcessFigures(process_->pid(), &figures)) return std::nullopt;
  return figures;
}

std::optional<std::chrono::milliseconds> ChildProcess::CpuTime() const {
  const std::optional<ProcessFigures> figures = Figures();
  if (!figures) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(figures->cpu_seconds * 1000 + 0.5));
}

std::optional<std::size_t> ChildProcess::ThreadCount() const {
  const std::optional<ProcessFigures> figures = Figures();
  if (!figures) return std::nullopt;
  return figures->threads;
}

std::optional<std::size_t> ChildProcess::DescriptorCount() const {
  const std::optional<ProcessFigures> figures = Figures();
  if (!figures) return std::nullopt;
  return figures->descriptors;
}

std::string ChildProcess::Describe() const {
  if (!process_) return "\n(not started: " + spawn_error_ + ")";
  const std::string tail = out_.size() > 2000 ? "..." + out_.substr(out_.size() - 2000) : out_;
  return "\n--- stderr ---\n" + err_ + "--- stdout (end) ---\n" + tail + "---";
}

void ChildProcess::Pump(std::chrono::milliseconds limit) {
  if (!status_) status_ = process_->Ended();
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

std::vector<std::string> ChildProcess::CompleteLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace lintrel::testing
