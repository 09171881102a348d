#include "bench/bench_stderr.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace lintrel::bench {

namespace {

constexpr std::size_t kKeptStderr = 16384;

}  // namespace

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

}  // namespace lintrel::bench
