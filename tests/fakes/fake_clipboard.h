#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clipboard.h"

namespace lintrel::testing {

// A clipboard that holds one text and records the calls made on it ("save", "put TEXT",
// "await", "restore"). A step the test names fails with the message it gives.
class FakeClipboard : public platform::Clipboard {
 public:
  explicit FakeClipboard(std::string contents = {}) : contents_(std::move(contents)) {}

  bool Save(std::string* error) override {
    if (!Step("save", error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    saved_ = contents_;
    return true;
  }
  bool PutText(const std::string& text, std::string* error) override {
    if (!Step("put " + text, error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    contents_ = text;
    return true;
  }
  bool AwaitTaken(std::string* error) override {
    if (on_await_) on_await_();
    return Step("await", error);
  }
  bool Restore(std::string* error) override {
    if (!Step("restore", error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    contents_ = saved_;
    return true;
  }

  // The step ("save", "put", "await", "restore") fails with `message`.
  void Fail(const std::string& step, std::string message) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[step] = std::move(message);
  }
  // Called as the paste is waited for, before the answer.
  void OnAwait(std::function<void()> action) { on_await_ = std::move(action); }

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::string Contents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_;
  }

 private:
  bool Step(const std::string& call, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    const auto failure = failures_.find(call.substr(0, call.find(' ')));
    if (failure == failures_.end()) return true;
    *error = failure->second;
    return false;
  }

  mutable std::mutex mutex_;
  std::string contents_;
  std::string saved_;
  std::map<std::string, std::string> failures_;
  std::function<void()> on_await_;
  std::vector<std::string> calls_;
};

}  // namespace lintrel::testing
