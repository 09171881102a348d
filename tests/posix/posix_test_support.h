#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/serial_port.h"
#include "support/safety_limit.h"

namespace lintrel::testing {


// The system call a thread of process `pid` is in, as /proc/<pid>/task/<tid>/syscall shows
// it: the number and the arguments in hex, or "running" when it is in none.
inline std::vector<std::string> CurrentSyscall(pid_t pid, pid_t tid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall");
  std::vector<std::string> fields;
  std::string field;
  while (file >> field) fields.push_back(field);
  return fields;
}

inline std::vector<std::string> CurrentSyscall(pid_t tid) { return CurrentSyscall(getpid(), tid); }

// Waits (bounded) until some thread of process `pid` is in system call `number` with its
// first arguments as given (in hex, as /proc shows them; "*" for any): a thread blocked
// there.
inline bool SomeThreadBlockedIn(pid_t pid, long number, const std::vector<std::string>& arguments) {
  const auto matches = [&](const std::vector<std::string>& call) {
    if (call.size() <= arguments.size() || call[0] != std::to_string(number)) return false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      if (arguments[i] != "*" && arguments[i] != call[i + 1]) return false;
    }
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      if (matches(CurrentSyscall(pid, std::stoi(task.path().filename().string())))) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

enum class BlockingCall { kPollWithoutTimeout, kRead };

inline bool IsInCall(const std::vector<std::string>& syscall, BlockingCall call) {
  if (syscall.size() < 4) return false;
  const std::string& number = syscall[0];
  const std::string& third_argument = syscall[3];
  switch (call) {
    case BlockingCall::kPollWithoutTimeout:
      // poll(fds, n, timeout) waits for ever unless the timeout is 0; ppoll(fds, n,
      // timeout_pointer, ...) when the pointer is null.
      return (number == std::to_string(SYS_poll) && third_argument != "0x0") ||
             (number == std::to_string(SYS_ppoll) && third_argument == "0x0");
    case BlockingCall::kRead:
      return number == std::to_string(SYS_read);
  }
  return false;
}

// Runs a blocking call on a thread of its own, so that the test can act while it blocks.
// If the call has not returned within the safety limit when its result is needed (or when
// this is destroyed), the test fails and `release` runs to end the call.
template <typename Result>
class BackgroundCall {
 public:
  BackgroundCall(std::function<Result()> call, std::function<void()> release)
      : release_(std::move(release)) {
    future_ = std::async(std::launch::async, [this, call = std::move(call)] {
      tid_.store(gettid());
      return call();
    });
  }
  BackgroundCall(const BackgroundCall&) = delete;
  BackgroundCall& operator=(const BackgroundCall&) = delete;
  ~BackgroundCall() {
    if (future_.valid()) EndWithinSafetyLimit();
  }

  // True once the thread is inside `call`; false (after the safety limit) if it never is.
  bool WaitUntilBlockedIn(BlockingCall call) {
    auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
    while (std::chrono::steady_clock::now() < deadline) {
      pid_t tid = tid_.load();
      if (tid != 0 && IsInCall(CurrentSyscall(tid), call)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  Result Get() {
    EndWithinSafetyLimit();
    return future_.get();
  }

 private:
  void EndWithinSafetyLimit() {
    if (future_.wait_for(kSafetyLimit) == std::future_status::ready) return;
    ADD_FAILURE() << "a blocking call did not return within " << kSafetyLimit.count() << " s";
    release_();
    future_.wait();
  }

  std::function<void()> release_;
  std::atomic<pid_t> tid_{0};
  std::future<Result> future_;
};

// Waits until `fd` has something to read; false after the safety limit.
inline bool WaitReadable(int fd) {
  pollfd entry = {.fd = fd, .events = POLLIN, .revents = 0};
  auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kSafetyLimit);
  return poll(&entry, 1, static_cast<int>(limit.count())) == 1;
}

// The bytes of `text`, as a port reads and writes them.
inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Waits for and reads from `port` until `count` bytes have arrived, the port reports
// something else, or the safety limit passes (which wakes the port for good).
inline std::vector<uint8_t> ReceiveBytes(platform::SerialPort& port, std::size_t count) {
  std::vector<uint8_t> received;
  std::vector<uint8_t> buffer(platform::kReadChunkSize);
  while (received.size() < count) {
    BackgroundCall<platform::WaitResult> wait([&port] { return port.WaitForEvent(); },
                                              [&port] { port.Wake(); });
    platform::WaitResult result = wait.Get();
    bool has_data = (result.outcome == platform::WaitOutcome::kImmediate ||
                     result.outcome == platform::WaitOutcome::kDeferred) &&
                    (result.events & platform::kEventReceived) != 0;
    if (!has_data) break;
    platform::ReadResult read = port.Read(buffer);
    if (read.device_gone) break;
    received.insert(received.end(), buffer.begin(), buffer.begin() + read.count);
  }
  return received;
}

// A directory of its own for one test, removed with everything in it afterwards.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lintrel-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  bool ok() const { return !path_.empty(); }
  std::string path() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable (or unsets it for nullopt) for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnvironment() { Set(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_, value->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace lintrel::testing
