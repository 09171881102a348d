#include "platform/posix/uinput_keyboard.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/scoped_fd.h"

namespace lintrel::platform {
namespace {

// Shift states as the key table gives them: Shift 1; AltGr reported as Ctrl+Alt (6), as
// a Windows layout reports it.
constexpr uint8_t kShiftStateAltGr = 6;

uint8_t ShiftStateOf(const LayoutLevel& level) {
  return static_cast<uint8_t>((level.shift ? kShiftStateShift : 0) | (level.altgr ? kShiftStateAltGr : 0));
}

// Fewer modifiers first: plain, Shift, AltGr, Shift+AltGr.
int Cost(const LayoutLevel& level) { return (level.altgr ? 2 : 0) + (level.shift ? 1 : 0); }

// The key of each ASCII character: its cheapest level, on the lowest key among equals (the
// main row's digits before the keypad's). A line feed takes the Return key, as the
// Windows layout's Ctrl+Return sent bare does; other control characters have no key.
std::array<KeyMapping, 256> AsciiKeyTable(const XkbLayout& layout) {
  std::array<KeyMapping, 256> table;
  table.fill({kNoKey, kNoKey});
  std::array<int, 256> cost;
  cost.fill(4);
  for (const LayoutLevel& level : layout.levels) {
    if (level.character >= 0x80 || Cost(level) >= cost[level.character]) continue;
    if (level.altgr && !layout.altgr_key) continue;
    table[level.character] = {level.evdev_code, ShiftStateOf(level)};
    cost[level.character] = Cost(level);
  }
  if (table['\r'].key_code != kNoKey) table['\n'] = {table['\r'].key_code, 0};
  return table;
}

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

// The keys the device offers: every key of the layout's table and the modifiers.
void EnableKeys(libevdev* device, const XkbLayout& layout) {
  libevdev_enable_event_type(device, EV_KEY);
  for (const LayoutLevel& level : layout.levels) libevdev_enable_event_code(device, EV_KEY, level.evdev_code, nullptr);
  libevdev_enable_event_code(device, EV_KEY, layout.shift_key, nullptr);
  if (layout.altgr_key) libevdev_enable_event_code(device, EV_KEY, *layout.altgr_key, nullptr);
}

}  // namespace

std::unique_ptr<UinputKeyboard> UinputKeyboard::Open(const XkbLayout& layout, std::string* error,
                                                     const char* uinput_path) {
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
  EnableKeys(description, layout);
  libevdev_uinput* device = nullptr;
  const int result = libevdev_uinput_create_from_device(description, fd.get(), &device);
  libevdev_free(description);
  if (result != 0) {
    *error = std::string("cannot create a virtual keyboard through ") + uinput_path + ": " + std::strerror(-result);
    return nullptr;
  }
  // The device keeps the descriptor: it is closed with the device.
  fd.Release();
  return std::unique_ptr<UinputKeyboard>(new UinputKeyboard(device, layout));
}

UinputKeyboard::UinputKeyboard(libevdev_uinput* device, XkbLayout layout)
    : device_(device), layout_(std::move(layout)), key_table_(AsciiKeyTable(layout_)) {
  const char* node = libevdev_uinput_get_devnode(device_);
  if (node != nullptr) device_node_ = node;
}

UinputKeyboard::~UinputKeyboard() {
  const int fd = libevdev_uinput_get_fd(device_);
  libevdev_uinput_destroy(device_);
  close(fd);
}

KeyMapping UinputKeyboard::Map(uint8_t character) { return key_table_[character]; }

uint8_t UinputKeyboard::ShiftKey() const { return layout_.shift_key; }

KeyOutputResult UinputKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  std::size_t accepted = 0;
  for (const KeyEvent& event : events) {
    // A character without a key types nothing.
    if (event.key_code != kNoKey) {
      int result = libevdev_uinput_write_event(device_, EV_KEY, event.key_code, event.pressed ? 1 : 0);
      if (result == 0) result = libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
      if (result != 0) {
        lost_ = lost_ || result == -ENODEV;
        return {.accepted = accepted,
                .error = std::string("the virtual keyboard took no more key events: ") + std::strerror(-result),
                .output_lost = lost_};
      }
    }
    ++accepted;
  }
  return {.accepted = accepted, .error = {}};
}

}  // namespace lintrel::platform
