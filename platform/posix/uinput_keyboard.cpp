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

// Whether every modifier of a stroke has its key.
bool Pressable(const LayoutKeymap& keymap, uint8_t modifiers) {
  for (uint8_t bit = 1; bit < (1u << kModifierCount); bit <<= 1) {
    if ((modifiers & bit) != 0 && !keymap.HasModifierKey(bit)) return false;
  }
  return true;
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

KeyMapping UinputKeyboard::Map(uint8_t character) {
  const std::optional<KeyStroke> stroke = character < 0x80 ? keymap_.Choose(character, false) : std::nullopt;
  if (!stroke) return {kNoKey, kNoKey};
  // AltGr as a Windows layout reports it: Ctrl+Alt.
  const bool level3 = (stroke->modifiers & kModifierLevel3) != 0;
  return {stroke->key_code,
          static_cast<uint8_t>((stroke->modifiers & kModifierShift) | (level3 ? kModifierCtrl | kModifierAlt : 0))};
}

bool UinputKeyboard::AppendCharacter(char32_t character, std::vector<KeyEvent>& events) const {
  if (const std::optional<KeyStroke> stroke = keymap_.Choose(character, false)) {
    keymap_.AppendKeyEvents(*stroke, events);
    return true;
  }
  // An accent the layout has only as a dead key: the dead key, then a space.
  const auto dead = dead_keys_.find(character);
  const std::optional<KeyStroke> space = keymap_.Choose(U' ', false);
  if (dead == dead_keys_.end() || !space || !Pressable(keymap_, dead->second.modifiers)) return false;
  keymap_.AppendKeyEvents(dead->second, events);
  keymap_.AppendKeyEvents(*space, events);
  return true;
}

std::optional<LineKeys> UinputKeyboard::KeysOfLine(std::span<const uint8_t> line) {
  LineKeys keys;
  std::u32string missing;
  for (char32_t character : DecodeUtf8(line)) {
    if (!AppendCharacter(character, keys.events) && missing.find(character) == std::u32string::npos) {
      missing += character;
    }
  }
  if (!missing.empty()) {
    keys.events.clear();
    keys.error = "no key for " + Quoted(missing) + " in layout " + layout_.Describe();
  }
  return keys;
}

uint8_t UinputKeyboard::ShiftKey() const {
  // The keymap knows the Shift key: the first event of a stroke with Shift.
  std::vector<KeyEvent> events;
  keymap_.AppendKeyEvents({kNoKey, kModifierShift}, events);
  return events.front().key_code;
}

KeyOutputResult UinputKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  std::size_t accepted = 0;
  for (const KeyEvent& event : events) {
    // The kernel queues a device's events for each reader (the compositor, the console) in
    // a buffer of 64; on overflow it drops them and only tells the reader it did. uinput
    // gives no sign of what was read, so a long line goes out in bursts that fit, with a
    // moment between them for the readers to catch up.
    if (accepted > 0 && accepted % kEventsPerBurst == 0) std::this_thread::sleep_for(kPauseBetweenBursts);
    int result = libevdev_uinput_write_event(device_, EV_KEY, event.key_code, event.pressed ? 1 : 0);
    if (result == 0) result = libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
    if (result != 0) {
      lost_ = lost_ || result == -ENODEV;
      return {.accepted = accepted,
              .error = std::string("the virtual keyboard took no more key events: ") + std::strerror(-result),
              .output_lost = lost_};
    }
    ++accepted;
  }
  return {.accepted = accepted, .error = {}};
}

}  // namespace lintrel::platform
