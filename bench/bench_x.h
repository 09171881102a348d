#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stderr.h"
#include "support/xvfb_server.h"

namespace lintrel::bench {

// A private Xvfb server on the first free display number from :70 up.
class XServer {
 public:
  static std::unique_ptr<XServer> Start(std::string* error);
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& display_name() const { return server_.display_name(); }
  pid_t pid() const { return server_.pid(); }

  // Releases every key the server holds down, through XTest, and returns how many there
  // were. A peer stopped between a key's press and its release (xdotool waits between the
  // two) leaves the key down, and the server would then swallow the next subject's first
  // press of it.
  int ReleaseHeldKeys();

 private:
  XServer() = default;

  static constexpr int kFirstDisplay = 70;
  testing::XvfbServer server_{kFirstDisplay, "320x240x24"};
};

// One key press as the receiving window saw it: a digit, '\r' for Return, '?' otherwise.
struct TypedKey {
  Clock::time_point at;
  char key;
};

// A small window that holds the input focus and time-stamps every KeyPress it receives,
// on a thread and X connection of its own. Ctrl+V pastes the clipboard's text, whose
// characters count as keys typed when it arrives.
class KeyReceiver {
 public:
  static std::unique_ptr<KeyReceiver> Open(const std::string& display_name, std::string* error);
  ~KeyReceiver();
  KeyReceiver(const KeyReceiver&) = delete;
  KeyReceiver& operator=(const KeyReceiver&) = delete;

  // The next key press, waiting for it until `deadline`.
  std::optional<TypedKey> Next(Clock::time_point deadline);
  // Every key press received so far, taken out of the queue.
  std::vector<TypedKey> TakeAll();
  // Waits until `returns` Return presses have arrived since the last TakeAll()/Clear(), or
  // until nothing arrived for `quiet`, or until `deadline`. True when all of them arrived.
  bool WaitForReturns(std::size_t returns, Clock::duration quiet, Clock::time_point deadline);
  void Clear();

 private:
  KeyReceiver() = default;
  bool Setup(const std::string& display_name, std::string* error);
  void Run();
  void RebuildKeyTable();
  void TakePaste(unsigned long property, Clock::time_point now);

  struct XState;
  std::unique_ptr<XState> x_;
  int wake_fd_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<TypedKey> queue_;
  std::size_t returns_queued_ = 0;
};

}  // namespace lintrel::bench
