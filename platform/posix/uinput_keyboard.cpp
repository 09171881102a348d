#include "platform/posix/uinput_keyboard.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/printable_text.h"
#include "common/utf8_text.h"
#include "platform/posix/scoped_fd.h"
#include "platform/posix/xkb_layout.h"

namespace lintrel::platform {
namespace {

// The device offers every key a pc105 layout can place characters on and more; key codes
// are kept in a byte, and 255 stands for no key.
constexpr unsigned int kHighestKey = 254;

// The kernel keeps a device's events for each reader in a buffer of 64 entries and drops
// them when it overflows. Each key event takes two (the key and its SYN_REPORT): a burst of
// 24 takes 48, and leaves room for the LED changes a compositor sends to every keyboard.
constexpr std::size_t kEventsPerBurst = 24;
// A reader that reads every 10 ms, and is up to 2 ms late, still reads each burst before
// the next begins. About 2,000 key events a second (1,000 characters, 500 with Shift).
constexpr std::chrono::milliseconds kPauseBetweenBursts{12};

// Compositors and X servers learn of a new keyboard from udev and open it within tens of
// milliseconds; the same notice reaches several of them (and systemd-logind), and an X
// server may open, probe, close and open it again. Typing begins once their opens have
// settled for this long.
constexpr std::chrono::milliseconds kQuietAfterOpen{200};
// When no one opens the device (a text console reads it inside the kernel), typing begins
// after this long; on small single-board computers readers were reported to need half a
// second.
constexpr std::chrono::seconds kReaderPatience{2};
// Where the device nodes of input devices appear, and their opens and closes are seen.
constexpr char kInputDeviceFolder[] = "/dev/input";

std::string OpenError(const char* path, int error) {
  const std::string reason = std::string("cannot open ") + path + ": " + std::strerror(error);
  if (error == ENOENT || error == ENODEV || error == ENXIO) {
    return reason + "; the kernel's uinput module is not loaded (sudo modprobe uinput)";
  }
  if (error == EACCES || error == EPERM) {
    return reason + ". Typing through a virtual keyboard needs write access to it: install the udev rule "
                    "70-lintrel-uinput.rules (the package and cmake --install put it in place), then run "
                    "\"sudo udevadm trigger --name-match=uinput\" and log in again";
  }
  return reason;
}

// An inotify watch on the folder of input device nodes for opens and closes, made before the
// device so that no open of it is missed; -1 when it cannot be had (no such folder yet).
int WatchInputDeviceOpens() {
  ScopedFd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (watch.get() < 0 || inotify_add_watch(watch.get(), kInputDeviceFolder, IN_OPEN | IN_CLOSE) < 0) return -1;
  return watch.Release();
}

// Takes the watch's pending notices about the node `name` into `readers`.
void TakeOpenNotices(int watch, const std::string& name, NewDeviceReaders& readers) {
  alignas(inotify_event) char buffer[4096];
  ssize_t got;
  while ((got = read(watch, buffer, sizeof buffer)) > 0) {
    const PacingClock::time_point now = PacingClock::now();
    for (ssize_t at = 0; at < got;) {
      const auto* notice = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + notice->len);
      if (notice->mask & IN_Q_OVERFLOW) {
        readers.Lost(now);
      } else if (notice->len > 0 && name == notice->name) {
        if (notice->mask & IN_OPEN) readers.Opened(now);
        if (notice->mask & IN_CLOSE) readers.Closed(now);
      }
    }
  }
}

// Waits until the readers of the device just made can have its events (NewDeviceReaders).
void WaitForReaders(const ScopedFd& watch, const std::string& device_node, PacingClock::time_point made) {
  NewDeviceReaders readers(made, kQuietAfterOpen, kReaderPatience);
  const std::string name = device_node.substr(device_node.rfind('/') + 1);
  for (PacingClock::time_point now = PacingClock::now(); readers.ReadyAt() > now; now = PacingClock::now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(readers.ReadyAt() - now);
    if (watch.get() < 0) {
      std::this_thread::sleep_for(left);
      continue;
    }
    pollfd ready{watch.get(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) > 0) TakeOpenNotices(watch.get(), name, readers);
  }
}

}  // namespace

std::unique_ptr<UinputKeyboard> UinputKeyboard::Open(const LayoutName& layout, std::string* error,
                                                     const char* uinput_path) {
  LayoutKeymap keymap;
  DeadKeys dead_keys;
  if (!FillXkbLayout(layout, keymap, dead_keys, error)) return nullptr;
  ScopedFd fd(open(uinput_path, O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = OpenError(uinput_path, errno);
    return nullptr;
  }
  libevdev* description = libevdev_new();
  if (description == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  libevdev_set_name(description, kDeviceName);
  libevdev_set_id_bustype(description, BUS_VIRTUAL);
  libevdev_enable_event_type(description, EV_KEY);
  for (unsigned int key = KEY_ESC; key <= kHighestKey; ++key) {
    libevdev_enable_event_code(description, EV_KEY, key, nullptr);
  }
  const ScopedFd watch(WatchInputDeviceOpens());
  libevdev_uinput* device = nullptr;
  const int result = libevdev_uinput_create_from_device(description, fd.get(), &device);
  libevdev_free(description);
  if (result != 0) {
    *error = std::string("cannot create a virtual keyboard through ") + uinput_path + ": " + std::strerror(-result);
    return nullptr;
  }
  const PacingClock::time_point made = PacingClock::now();
  // The device keeps the descriptor; it is closed after the device is destroyed.
  fd.Release();
  std::unique_ptr<UinputKeyboard> keyboard(new UinputKeyboard(device, layout, std::move(keymap), std::move(dead_keys)));
  // Keys sent before a reader has the device open are lost to it, and a line waiting on a
  // port at start would be typed at once.
  WaitForReaders(watch, keyboard->device_node(), made);
  return keyboard;
}

UinputKeyboard::UinputKeyboard(libevdev_uinput* device, LayoutName layout, LayoutKeymap keymap, DeadKeys dead_keys)
    : device_(device),
      layout_(std::move(layout)),
      keymap_(std::move(keymap)),
      dead_keys_(std::move(dead_keys)),
      pacer_(kEventsPerBurst, kPauseBetweenBursts) {
  const char* node = libevdev_uinput_get_devnode(device_);
  if (node != nullptr) device_node_ = node;
}

UinputKeyboard::~UinputKeyboard() {
  const int fd = libevdev_uinput_get_fd(device_);
  libevdev_uinput_destroy(device_);
  close(fd);
}

KeyboardState UinputKeyboard::ReadState() {
  return {.layout = &keymap_, .caps_lock = false, .held_modifier_keys = {}};
}

bool UinputKeyboard::AppendDeadKeyAccent(char32_t character, std::vector<KeyEvent>& events) const {
  const auto dead = dead_keys_.find(character);
  const std::optional<KeyStroke> space = keymap_.Choose(U' ', false);
  if (dead == dead_keys_.end() || !space || !keymap_.CanPress(dead->second.modifiers)) return false;
  keymap_.AppendKeyEvents(dead->second, events);
  keymap_.AppendKeyEvents(*space, events);
  return true;
}

std::string UinputKeyboard::RefusalOfLine(std::span<const KeyEvent> events) {
  std::vector<KeyEvent> keys;
  std::vector<std::size_t> keys_after;
  return KeysOf(events, keys, keys_after);
}

std::string UinputKeyboard::KeysOf(std::span<const KeyEvent> events, std::vector<KeyEvent>& keys,
                                   std::vector<std::size_t>& keys_after) const {
  std::u32string missing;
  for (const KeyEvent& event : events) {
    if (event.character == 0) {
      keys.push_back(event);
    } else if (event.pressed && !AppendDeadKeyAccent(event.character, keys) &&
               missing.find(event.character) == std::u32string::npos) {
      missing += event.character;
    }
    keys_after.push_back(keys.size());
  }
  if (missing.empty()) return {};
  std::string missing_text;
  for (char32_t character : missing) missing_text += EncodeUtf8(character);
  return "no key for " + Quoted(missing_text) + " in layout " + layout_.Describe();
}

KeyOutputResult UinputKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  // The keys of each event: a character event's strokes go with its down event.
  std::vector<KeyEvent> keys;
  std::vector<std::size_t> keys_after;  // per event, how many keys are sent once it is
  // A code with a character left out would be booked as a wrong one: nothing is typed.
  if (std::string refusal = KeysOf(events, keys, keys_after); !refusal.empty()) {
    return {.accepted = 0, .error = std::move(refusal)};
  }
  KeyOutputResult result = Send(keys);
  const std::size_t keys_sent = result.accepted;
  result.accepted = 0;
  while (result.accepted < events.size() && keys_after[result.accepted] <= keys_sent) ++result.accepted;
  return result;
}

KeyOutputResult UinputKeyboard::Send(std::span<const KeyEvent> keys) {
  std::size_t accepted = 0;
  for (const KeyEvent& key : keys) {
    // uinput gives no sign of what its readers took: the events go out at a pace that a
    // reader's buffer holds (kEventsPerBurst).
    std::this_thread::sleep_for(pacer_.WaitBeforeNext(PacingClock::now()));
    int result = libevdev_uinput_write_event(device_, EV_KEY, key.key_code, key.pressed ? 1 : 0);
    if (result == 0) result = libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
    pacer_.Sent(PacingClock::now());
    if (result != 0) {
      lost_ = lost_ || result == -ENODEV;
      return {.accepted = accepted,
              .error = std::string("the virtual keyboard took no more key events: ") + std::strerror(-result),
              .output_lost = lost_};
    }
    ++accepted;
    ++key_events_sent_;
  }
  return {.accepted = accepted, .error = {}};
}

}  // namespace lintrel::platform
