#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/keyboard.h"
#include "platform/keyboard_choice.h"
#include "platform/layout_keymap.h"
#include "platform/posix/xkb_layout.h"
#include "platform/reader_pacing.h"

struct libevdev_uinput;

namespace lintrel::platform {

// Types through a virtual keyboard of the kernel's uinput device, "Lintrel virtual
// keyboard", which reaches every Wayland compositor, X server and the text console alike.
//
// Such a keyboard sends key codes only: the program in front turns them into characters
// with the user's layout. So each line is read as UTF-8 and its keys are chosen from the
// layout the user's keyboard has (read through libxkbcommon), and the result is right only
// when that is the layout the receiving side applies. A line with a character that the
// layout has no key for is not typed. The Caps Lock state of the session is not known
// to a virtual keyboard: keys are chosen for Caps Lock off.
//
// The device is made when the keyboard is opened and removed when it is destroyed: events
// sent to a new device are lost to a reader (the compositor, the X server) until it has
// opened it, so it is made once, at start, not per line, and Open() returns once its
// readers have it open (NewDeviceReaders; at most two seconds when none opens it). Key
// events go out paced for a reader that reads every 10 ms (BurstPacer), about 2,000 a
// second. Key codes are the kernel's (KEY_A is 30).
class UinputKeyboard : public Keyboard {
 public:
  static constexpr char kDeviceName[] = "Lintrel virtual keyboard";

  // Makes the device through `uinput_path`. On failure returns null and sets *error to
  // what the user can do about it (load the module, install the udev rule).
  static std::unique_ptr<UinputKeyboard> Open(const LayoutName& layout, std::string* error,
                                              const char* uinput_path = "/dev/uinput");

  ~UinputKeyboard() override;
  UinputKeyboard(const UinputKeyboard&) = delete;
  UinputKeyboard& operator=(const UinputKeyboard&) = delete;

  // The layout given at the start, Caps Lock taken as off, no modifier held.
  KeyboardState ReadState() override;
  // Each key event goes out with its own SYN_REPORT, in order, paced for the device's
  // readers (a long line takes a while: 1,000 plain characters a second). A character
  // event (one the layout has no plain key for) is typed as its dead key and a space where
  // the layout has such an accent; a line with any other is refused whole, before a key is
  // sent.
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;
  std::string RefusalOfLine(std::span<const KeyEvent> events) override;

  // The event device the kernel made for it (/dev/input/eventN), where it can be read back.
  const std::string& device_node() const { return device_node_; }
  // How many key events have gone to the device so far.
  std::size_t key_events_sent() const { return key_events_sent_; }

 private:
  UinputKeyboard(libevdev_uinput* device, LayoutName layout, LayoutKeymap keymap, DeadKeys dead_keys);

  // Appends the strokes that type an accent the layout has only as a dead key; false when
  // it has none.
  bool AppendDeadKeyAccent(char32_t character, std::vector<KeyEvent>& events) const;
  // The keys that type `events` (appended to `keys`; per event, how many keys are sent once
  // it is, to `keys_after`), or why the line cannot be typed whole.
  std::string KeysOf(std::span<const KeyEvent> events, std::vector<KeyEvent>& keys,
                     std::vector<std::size_t>& keys_after) const;
  KeyOutputResult Send(std::span<const KeyEvent> keys);

  libevdev_uinput* device_;
  LayoutName layout_;
  LayoutKeymap keymap_;
  DeadKeys dead_keys_;
  std::string device_node_;
  BurstPacer pacer_;
  bool lost_ = false;
  std::size_t key_events_sent_ = 0;
};

}  // namespace lintrel::platform
