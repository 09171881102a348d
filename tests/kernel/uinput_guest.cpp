// Runs inside the QEMU guest: types text through lintrel's uinput keyboard and reads the
// key events back from the event device the kernel made for it, printing them on the
// console for the host to turn into text.
//
//   uinput_guest type LAYOUT FILE     each line of FILE (its end included) typed as one
//                                     line; prints "GUEST KEYS LAYOUT n code:value ..." or
//                                     "GUEST NOT TYPED LAYOUT n <reason>"
//   uinput_guest bench LAYOUT LINES   LINES 13-digit lines and a CR, read back as typed;
//                                     prints "GUEST BENCH lines=... seconds=..."
//
// Its last line is "GUEST DONE" or "GUEST FAILED <reason>".

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture/keystroke_sender.h"
#include "common/utf8_text.h"
#include "platform/keyboard_choice.h"
#include "platform/posix/scoped_fd.h"
#include "platform/posix/uinput_keyboard.h"

namespace {

using namespace lintrel;
using platform::ScopedFd;

int Fail(const std::string& reason) {
  std::printf("GUEST FAILED %s\n", reason.c_str());
  return 1;
}

// Reads the device's key events as they come, as a compositor does, on a thread of its own.
class KeyReader {
 public:
  explicit KeyReader(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~KeyReader() {
    stop_ = true;
    thread_.join();
  }

  // Waits until `count` key events have come since the last call; false after two
  // seconds without one, or when the kernel dropped events.
  bool Take(std::size_t count, std::vector<input_event>& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (keys_.size() < count && !dropped_) {
      if (!arrived_.wait_for(lock, std::chrono::seconds(2), [&] { return keys_.size() >= count || dropped_; })) break;
    }
    keys.assign(keys_.begin(), keys_.begin() + std::min(count, keys_.size()));
    keys_.erase(keys_.begin(), keys_.begin() + keys.size());
    return keys.size() == count && !dropped_;
  }
  bool dropped() const { return dropped_; }

 private:
  void Run() {
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      input_event events[64];
      const ssize_t got = read(fd_, events, sizeof events);
      if (got <= 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof(input_event); ++i) {
        if (events[i].type == EV_KEY) keys_.push_back(events[i]);
        if (events[i].type == EV_SYN && events[i].code == SYN_DROPPED) dropped_ = true;
      }
      arrived_.notify_all();
    }
  }

  int fd_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<input_event> keys_;
  std::atomic<bool> dropped_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The keyboard and its event device, opened before anything is typed.
struct Device {
  std::unique_ptr<platform::UinputKeyboard> keyboard;
  std::optional<ScopedFd> events;
  std::optional<KeyReader> reader;
  int fd() const { return events->get(); }
};

bool Open(const std::string& layout, Device& device, std::string* error) {
  device.keyboard = platform::UinputKeyboard::Open(*platform::ParseLayoutName(layout), error);
  if (!device.keyboard) return false;
  device.events.emplace(open(device.keyboard->device_node().c_str(), O_RDONLY | O_CLOEXEC));
  if (device.fd() < 0) {
    *error = "cannot open " + device.keyboard->device_node();
    return false;
  }
  char name[64] = "";
  ioctl(device.fd(), EVIOCGNAME(sizeof name - 1), name);
  std::printf("GUEST DEVICE %s: %s\n", device.keyboard->device_node().c_str(), name);
  device.reader.emplace(device.fd());
  return true;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

int Type(const std::string& layout, const char* path) {
  Device device;
  std::string error;
  if (!Open(layout, device, &error)) return Fail(error);
  std::ifstream file(path);
  KeystrokeSender sender(*device.keyboard);
  int number = 0;
  for (std::string line; std::getline(file, line); ++number) {
    line += '\r';
    const std::size_t sent_before = device.keyboard->key_events_sent();
    const LineOutcome outcome = sender.TypeLine(DecodeUtf8(Bytes(line)));
    if (!outcome.typed) {
      std::printf("GUEST NOT TYPED %s %d %s\n", layout.c_str(), number, outcome.reason.c_str());
      continue;
    }
    const std::size_t sent = device.keyboard->key_events_sent() - sent_before;
    std::vector<input_event> read_back;
    if (!device.reader->Take(sent, read_back)) {
      return Fail(std::string(device.reader->dropped() ? "the kernel dropped key events; " : "") +
                  std::to_string(read_back.size()) + " of " + std::to_string(sent) + " key events came back");
    }
    std::printf("GUEST KEYS %s %d", layout.c_str(), number);
    for (const input_event& event : read_back) std::printf(" %u:%d", event.code, event.value);
    std::printf("\n");
  }
  return 0;
}

int Bench(const std::string& layout, int lines) {
  Device device;
  std::string error;
  if (!Open(layout, device, &error)) return Fail(error);
  KeystrokeSender sender(*device.keyboard);
  const auto start = std::chrono::steady_clock::now();
  std::vector<input_event> read_back;
  for (int n = 0; n < lines; ++n) {
    char line[32];
    std::snprintf(line, sizeof line, "%013d\r", 1000000 + n);
    const std::u32string text(line, line + 14);
    if (!sender.TypeLine(text).typed) return Fail("a line was not typed");
    // 14 keys, down and up, all read back before the next line.
    if (!device.reader->Take(28, read_back)) return Fail("key events missing");
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("GUEST BENCH lines=%d seconds=%.4f\n", lines, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = 2;
  if (args.size() == 3 && args[0] == "type") status = Type(args[1], args[2].c_str());
  if (args.size() == 3 && args[0] == "bench") status = Bench(args[1], std::atoi(args[2].c_str()));
  if (status == 2) return Fail("usage: uinput_guest type LAYOUT FILE | bench LAYOUT LINES");
  if (status == 0) std::printf("GUEST DONE\n");
  return status;
}
