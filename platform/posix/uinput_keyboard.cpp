#include "platform/posix/uinput_keyboard.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/utf8_text.h"
#include "platform/posix/scoped_fd.h"
#include "platform/posix/xkb_layout.h"

namespace lintrel::platform {
namespace {

// The device offers every key a pc105 layout can place characters on and more; key codes
// are kept in a byte, and 255 stands for no key.
constexpr unsigned int kHighestKey = 254;

// Each key event takes two entries (the key and its SYN_REPORT) of a reader's buffer of 64.
constexpr std::size_t kEventsPerBurst = 24;
constexpr std::chrono::milliseconds kPauseBetweenBursts{1};

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

std::string Quoted(const std::u32string& characters) {
  std::string text;
  for (char32_t character : characters) text += (text.empty() ? "'" : ", '") + EncodeUtf8(character) + "'";
  return text;
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
  libevdev_uinput* device = nullptr;
  const int result = libevdev_uinput_create_from_device(description, fd.get(), &device);
  libevdev_free(description);
  if (result != 0) {
    *error = std::string("cannot create a virtual keyboard through ") + uinput_path + ": " + std::strerror(-result);
    return nullptr;
  }
  // The device keeps the descriptor; it is closed after the device is destroyed.
  fd.Release();
  return std::unique_ptr<UinputKeyboard>(new UinputKeyboard(device, layout, std::move(keymap), std::move(dead_keys)));
}

UinputKeyboard::UinputKeyboard(libevdev_uinput* device, LayoutName layout, LayoutKeymap keymap, DeadKeys dead_keys)
    : device_(device), layout_(std::move(layout)), keymap_(std::move(keymap)), dead_keys_(std::move(dead_keys)) {
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

KeyOutputResult UinputKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  // The keys of each event: a character event's strokes go with its down event.
  std::vector<KeyEvent> keys;
  std::vector<std::size_t> keys_after;  // per event, how many keys are sent once it is
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
  // A code with a character left out would be booked as a wrong one: nothing is typed.
  if (!missing.empty()) {
    return {.accepted = 0, .error = "no key for " + Quoted(missing) + " in layout " + layout_.Describe()};
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
    // The kernel queues a device's events for each reader (the compositor, the console) in
    // a buffer of 64; on overflow it drops them and only tells the reader it did. uinput
    // gives no sign of what was read, so a long line goes out in bursts that fit, with a
    // moment between them for the readers to catch up.
    if (accepted > 0 && accepted % kEventsPerBurst == 0) std::this_thread::sleep_for(kPauseBetweenBursts);
    int result = libevdev_uinput_write_event(device_, EV_KEY, key.key_code, key.pressed ? 1 : 0);
    if (result == 0) result = libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
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
