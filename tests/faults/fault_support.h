#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "capture/line_buffer.h"
#include "cli/cli_path.h"
#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"
#include "support/trace.h"

namespace lintrel::testing {

// A test with one simulated device, reached at `link_` in a folder of the test's own.
class OneDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    link_ = directory_.File("scanner");
    device_ = MakeDevice(link_);
    ASSERT_NE(device_, nullptr);
  }

  TemporaryDirectory directory_;
  std::string link_;
  std::unique_ptr<platform::VirtualSerialDevice> device_;
};

// How many times `text` occurs in `haystack`.
inline std::size_t Occurrences(const std::string& haystack, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(text); at != std::string::npos;
       at = haystack.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

// Waits until `done` holds, for as long as `progress` keeps changing: for runs that take
// longer than the safety limit as a whole but never stall for that long.
inline bool WaitWhileProgressing(ChildProcess& cli, const std::function<bool()>& done,
                                 const std::function<std::size_t()>& progress) {
  while (!done()) {
    const std::size_t before = progress();
    if (!cli.WaitUntil([&] { return done() || progress() != before; })) return false;
  }
  return true;
}

// `count` decimal digits in an order that does not repeat, so that lost or reordered bytes
// show in what is typed.
inline std::string RandomDigits(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::string digits(count, '0');
  for (char& digit : digits) digit = static_cast<char>('0' + random() % 10);
  return digits;
}

// Checks, as they are typed, lines that the capacity ended: with --prefix and no end
// character, every typed line is "COMn:" and the next digits its port sent, exactly
// LineBuffer::kCapacity characters long.
class FullLineChecker {
 public:
  // The digits each port sends, by port number.
  explicit FullLineChecker(std::map<int, std::string> sent) : sent_(std::move(sent)) {
    for (const auto& entry : sent_) typed_[entry.first] = 0;
  }

  // Checks the lines completed in `text` (the whole decoded text so far).
  void Check(const std::string& text) {
    constexpr std::size_t kLine = LineBuffer::kCapacity;
    while (error_.empty() && (lines_ + 1) * kLine <= text.size()) {
      CheckLine(std::string_view(text).substr(lines_ * kLine, kLine));
      ++lines_;
    }
  }

  // The digits of `port_number` typed so far, in whole lines.
  std::size_t typed(int port_number) const { return typed_.at(port_number); }
  std::size_t lines() const { return lines_; }
  const std::string& error() const { return error_; }

 private:
  void CheckLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    const int port_number = colon > 3 && colon < 7 && line.substr(0, 3) == "COM"
                                ? std::atoi(std::string(line.substr(3, colon - 3)).c_str())
                                : -1;
    const auto port = sent_.find(port_number);
    if (port == sent_.end()) {
      error_ = "line " + std::to_string(lines_) + " does not begin with a port's prefix: " +
               std::string(line.substr(0, 16));
      return;
    }
    const std::string_view digits = line.substr(colon + 1);
    std::size_t& typed = typed_[port_number];
    if (port->second.compare(typed, digits.size(), digits) != 0) {
      error_ = "line " + std::to_string(lines_) + " of COM" + std::to_string(port_number) +
               " is not the next " + std::to_string(digits.size()) + " digits it sent after " +
               std::to_string(typed);
      return;
    }
    typed += digits.size();
  }

  std::map<int, std::string> sent_;
  std::map<int, std::size_t> typed_;
  std::size_t lines_ = 0;
  std::string error_;
};

// Sends `data` to a device a piece at a time, never more than a window ahead of what the
// program has been seen to take in, so that the device's pseudo-terminal (20 KiB on Linux 6)
// never fills and no write blocks, whether or not the program is reading.
class WindowedSender {
 public:
  static constexpr std::size_t kWindow = 8 * 1024;
  static constexpr std::size_t kPiece = 1024;

  WindowedSender(platform::VirtualSerialDevice& device, std::string data)
      : device_(device), data_(std::move(data)) {}

  // Sends what the window allows, given that the program has taken in `consumed` bytes
  // (typed them, or holds them in an unfinished line of at most LineBuffer::kCapacity).
  // False when a write failed.
  bool SendAhead(std::size_t consumed) {
    while (sent_ < data_.size() && sent_ < consumed + kWindow) {
      const std::size_t piece =
          std::min({kPiece, data_.size() - sent_, consumed + kWindow - sent_});
      if (!Send(device_, data_.substr(sent_, piece))) return false;
      sent_ += piece;
    }
    return true;
  }

  bool done() const { return sent_ == data_.size(); }
  std::size_t sent() const { return sent_; }
  const std::string& data() const { return data_; }

 private:
  platform::VirtualSerialDevice& device_;
  std::string data_;
  std::size_t sent_ = 0;
};

}  // namespace lintrel::testing
