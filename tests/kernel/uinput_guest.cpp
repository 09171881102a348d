// Runs inside the QEMU guest: types text through lintrel's uinput keyboard and reads the
// key events back from the event device the kernel made for it, as a compositor does (it
// learns of the new device, opens it and reads it), printing them on the console for the
// host to turn into text.
//
//   uinput_guest type LAYOUT FILE     each line of FILE (its end included) typed as one
//                                     line and read back before the next, by a reader that
//                                     opens the device as soon as it appears and reads as
//                                     events come; prints "GUEST KEYS LAYOUT n code:value ..."
//                                     or "GUEST NOT TYPED LAYOUT n <reason>"
//   uinput_guest slow LAYOUT FILE     every line of FILE typed back to back, as soon as the
//                                     keyboard is open, for a reader that opens the device
//                                     300 ms after it appears and then reads every 10 ms;
//                                     prints "GUEST SLOW KEYS LAYOUT n code:value ..."
//   uinput_guest bench LAYOUT LINES   LINES 13-digit lines and a CR, read back as typed;
//                                     prints "GUEST BENCH lines=... seconds=..."
//   uinput_guest monitor              the device monitor started, stopped and started again,
//                                     then a serial device announced; prints "GUEST MONITOR
//                                     ARRIVAL SEEN"
//
// Each run also prints "GUEST READY AFTER n ms": how long the keyboard took to open. Its
// last line is "GUEST DONE" or "GUEST FAILED <reason>".

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
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
#include "platform/device_monitor.h"
#include "platform/keyboard_choice.h"
#include "platform/posix/scoped_fd.h"
#include "platform/posix/uinput_keyboard.h"

namespace {

using namespace lintrel;
using platform::ScopedFd;
using std::chrono::milliseconds;

int Fail(const std::string& reason) {
  std::printf("GUEST FAILED %s\n", reason.c_str());
  return 1;
}

// How a reader of the device behaves: how long after the device appears it opens it, and
// how long it waits between reads (zero: it reads as events come).
struct ReaderHabits {
  milliseconds open_delay{0};
  milliseconds read_interval{0};
};

// Reads the virtual keyboard's key events on a thread of its own. It watches /dev/input from
// its start, before the keyboard is made, and opens the first new event device that is the
// virtual keyboard.
//
// It runs at a real-time priority, above the thread that types, so that it reads when its
// habits say and not when the guest's scheduler gets round to it: a reader later than its
// habits could lose keys that prove nothing.
class KeyReader {
 public:
  explicit KeyReader(ReaderHabits habits)
      : habits_(habits), watch_(inotify_init1(IN_CLOEXEC)), thread_([this] { Run(); }) {
    const sched_param priority{.sched_priority = 50};
    prioritized_ = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &priority) == 0;
  }
  ~KeyReader() {
    stop_ = true;
    thread_.join();
  }

  // Waits until `count` key events have come since the last call; false after ten seconds
  // without one, or when the kernel dropped events.
  bool Take(std::size_t count, std::vector<input_event>& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (keys_.size() < count && !dropped_) {
      if (!arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return keys_.size() >= count || dropped_; })) break;
    }
    keys.assign(keys_.begin(), keys_.begin() + std::min(count, keys_.size()));
    keys_.erase(keys_.begin(), keys_.begin() + keys.size());
    return keys.size() == count && !dropped_;
  }
  bool dropped() const { return dropped_; }
  bool prioritized() const { return prioritized_; }

 private:
  void Run() {
    // Watched before the thread starts, so that the keyboard cannot appear unseen.
    const ScopedFd device(OpenWhenItAppears());
    if (device.get() < 0) return;
    while (!stop_) {
      if (habits_.read_interval.count() > 0) {
        std::this_thread::sleep_for(habits_.read_interval);
      } else {
        pollfd ready{device.get(), POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
      }
      if (!ReadAll(device.get())) return;
    }
  }

  // The virtual keyboard's event device, opened `open_delay` after it appeared; -1 when
  // stopped first.
  int OpenWhenItAppears() {
    while (watching_ && !stop_) {
      pollfd ready{watch_.get(), POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      alignas(inotify_event) char buffer[4096];
      const ssize_t got = read(watch_.get(), buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto* notice = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + notice->len);
        if (notice->len == 0 || std::string(notice->name).rfind("event", 0) != 0) continue;
        std::this_thread::sleep_for(habits_.open_delay);
        const int fd = open(("/dev/input/" + std::string(notice->name)).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        char name[64] = "";
        if (fd >= 0 && ioctl(fd, EVIOCGNAME(sizeof name - 1), name) >= 0 &&
            std::string(name) == platform::UinputKeyboard::kDeviceName) {
          std::printf("GUEST DEVICE /dev/input/%s: %s\n", notice->name, name);
          return fd;
        }
        if (fd >= 0) close(fd);
      }
    }
    return -1;
  }

  // Reads what the kernel holds for this reader; false when the device is gone.
  bool ReadAll(int fd) {
    while (true) {
      input_event events[64];
      const ssize_t got = read(fd, events, sizeof events);
      if (got < 0) return errno == EAGAIN || errno == EINTR;
      if (got == 0) return false;
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof(input_event); ++i) {
        if (events[i].type == EV_KEY) keys_.push_back(events[i]);
        if (events[i].type == EV_SYN && events[i].code == SYN_DROPPED) dropped_ = true;
      }
      arrived_.notify_all();
    }
  }

  ReaderHabits habits_;
  ScopedFd watch_;
  bool watching_ = watch_.get() >= 0 && inotify_add_watch(watch_.get(), "/dev/input", IN_CREATE) >= 0;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<input_event> keys_;
  std::atomic<bool> dropped_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool prioritized_ = false;
};

// The keyboard and a reader of it, the reader watching before the keyboard is made.
struct Device {
  std::optional<KeyReader> reader;
  std::unique_ptr<platform::UinputKeyboard> keyboard;
};

bool Open(const std::string& layout, ReaderHabits habits, Device& device, std::string* error) {
  device.reader.emplace(habits);
  if (!device.reader->prioritized()) {
    *error = "the reader cannot have a real-time priority";
    return false;
  }
  const auto start = std::chrono::steady_clock::now();
  device.keyboard = platform::UinputKeyboard::Open(*platform::ParseLayoutName(layout), error);
  const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("GUEST READY AFTER %lld ms\n", static_cast<long long>(took.count()));
  return device.keyboard != nullptr;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void PrintKeys(const std::string& label, int number, const std::vector<input_event>& keys) {
  std::printf("GUEST %s %d", label.c_str(), number);
  for (const input_event& event : keys) std::printf(" %u:%d", event.code, event.value);
  std::printf("\n");
}

std::string Missing(const KeyReader& reader, std::size_t came, std::size_t sent) {
  return std::string(reader.dropped() ? "the kernel dropped key events; " : "") + std::to_string(came) + " of " +
         std::to_string(sent) + " key events came back";
}

int Type(const std::string& layout, const char* path) {
  Device device;
  std::string error;
  if (!Open(layout, {}, device, &error)) return Fail(error);
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
    if (!device.reader->Take(sent, read_back)) return Fail(Missing(*device.reader, read_back.size(), sent));
    PrintKeys("KEYS " + layout, number, read_back);
  }
  return 0;
}

int TypeForSlowReader(const std::string& layout, const char* path) {
  Device device;
  std::string error;
  if (!Open(layout, {.open_delay = milliseconds(300), .read_interval = milliseconds(10)}, device, &error)) {
    return Fail(error);
  }
  std::ifstream file(path);
  KeystrokeSender sender(*device.keyboard);
  std::vector<std::size_t> sent;  // key events per line
  for (std::string line; std::getline(file, line);) {
    const std::size_t sent_before = device.keyboard->key_events_sent();
    if (!sender.TypeLine(DecodeUtf8(Bytes(line + '\r'))).typed) return Fail("a line was not typed");
    sent.push_back(device.keyboard->key_events_sent() - sent_before);
  }
  for (std::size_t number = 0; number < sent.size(); ++number) {
    std::vector<input_event> read_back;
    if (!device.reader->Take(sent[number], read_back)) {
      return Fail("line " + std::to_string(number) + ": " + Missing(*device.reader, read_back.size(), sent[number]));
    }
    PrintKeys("SLOW KEYS " + layout, static_cast<int>(number), read_back);
  }
  return 0;
}

int Bench(const std::string& layout, int lines) {
  Device device;
  std::string error;
  if (!Open(layout, {}, device, &error)) return Fail(error);
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

// A monitor started again after a stop still sees arrivals. A serial port's device is
// announced again by writing "add" to its uevent file, as the kernel does when it appears.
int MonitorStartedAgain() {
  const std::unique_ptr<platform::DeviceMonitor> monitor = platform::MakeSystemDeviceMonitor();
  std::string error;
  std::mutex mutex;
  std::condition_variable seen;
  bool arrived = false;
  const auto arrival = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    arrived = true;
    seen.notify_all();
  };
  if (!monitor->Start(arrival, &error)) return Fail(error);
  monitor->Stop();
  if (!monitor->Start(arrival, &error)) return Fail(error);
  std::ofstream("/sys/class/tty/ttyS1/uevent") << "add\n";
  std::unique_lock<std::mutex> lock(mutex);
  const bool in_time = seen.wait_for(lock, std::chrono::seconds(5), [&] { return arrived; });
  lock.unlock();
  monitor->Stop();
  if (!in_time) return Fail("the monitor started again saw no arrival");
  std::printf("GUEST MONITOR ARRIVAL SEEN\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = 2;
  if (args.size() == 3 && args[0] == "type") status = Type(args[1], args[2].c_str());
  if (args.size() == 3 && args[0] == "slow") status = TypeForSlowReader(args[1], args[2].c_str());
  if (args.size() == 3 && args[0] == "bench") status = Bench(args[1], std::atoi(args[2].c_str()));
  if (args.size() == 1 && args[0] == "monitor") status = MonitorStartedAgain();
  if (status == 2) return Fail("usage: uinput_guest type|slow LAYOUT FILE | bench LAYOUT LINES | monitor");
  if (status == 0) std::printf("GUEST DONE\n");
  return status;
}
