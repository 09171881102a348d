#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace lintrel::bench {

// A pseudo-terminal pair standing in for a serial device: the subject opens the slave by
// its path, the benchmark writes to the master. Both descriptors stay open for the pair's
// life, because a pseudo-terminal forgets its settings when its last descriptor closes.
class PtyPair {
 public:
  static std::unique_ptr<PtyPair> Open(std::string* error);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  int master_fd() const { return master_fd_; }

  // Writes what fits without blocking; returns the count written (0 when full).
  std::size_t WriteSome(std::string_view bytes);
  // Discards anything that came back through the master (there should be nothing: the
  // terminal is raw, without echo).
  void DrainReturned();

 private:
  PtyPair(int master_fd, int slave_fd, std::string slave_path)
      : master_fd_(master_fd), slave_fd_(slave_fd), slave_path_(std::move(slave_path)) {}

  int master_fd_;
  int slave_fd_;
  std::string slave_path_;
};

}  // namespace lintrel::bench
