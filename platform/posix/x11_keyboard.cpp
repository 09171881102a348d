#include "platform/posix/x11_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

#include "platform/us_layout.h"

namespace lintrel::platform {
namespace {

// Shift state for a character that needs AltGr (a level above Shift): Ctrl+Alt, as a
// Windows layout reports AltGr.
constexpr uint8_t kShiftStateAltGr = 6;

// X keycodes run 8..255; 255 would be indistinguishable from kNoKey.
constexpr int kHighestUsableKeycode = 254;

// The X keysym of the key a US Windows keyboard reports for a control character.
KeySym KeysymOfVirtualKey(uint8_t virtual_key) {
  if (virtual_key >= 'A' && virtual_key <= 'Z') return XK_a + (virtual_key - 'A');
  if (virtual_key >= '0' && virtual_key <= '9') return XK_0 + (virtual_key - '0');
  switch (virtual_key) {
    case 0x03: return XK_Cancel;        // VK_CANCEL
    case 0x08: return XK_BackSpace;     // VK_BACK
    case 0x09: return XK_Tab;           // VK_TAB
    case 0x0D: return XK_Return;        // VK_RETURN
    case 0x1B: return XK_Escape;        // VK_ESCAPE
    case 0x20: return XK_space;         // VK_SPACE
    case 0xBB: return XK_equal;         // VK_OEM_PLUS
    case 0xBD: return XK_minus;         // VK_OEM_MINUS
    case 0xDB: return XK_bracketleft;   // VK_OEM_4
    case 0xDC: return XK_backslash;     // VK_OEM_5
    case 0xDD: return XK_bracketright;  // VK_OEM_6
    default: return NoSymbol;
  }
}

bool IsControlCharacter(int character) { return character < 0x20 || character == 0x7F; }

// Printable ASCII and Latin-1 characters have the keysym of the same value.
bool HasLatin1Keysym(int character) {
  return (character >= 0x20 && character <= 0x7E) || (character >= 0xA0 && character <= 0xFF);
}

// Where each keysym sits in group 1 of the keymap: the lowest keycode that carries it
// plain, with Shift, or at a higher level, preferring plain over Shift over higher.
class KeysymLocator {
 public:
  explicit KeysymLocator(Display* display)
      : map_(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {}
  ~KeysymLocator() {
    if (map_ != nullptr) XkbFreeKeyboard(map_, XkbAllComponentsMask, True);
  }
  KeysymLocator(const KeysymLocator&) = delete;
  KeysymLocator& operator=(const KeysymLocator&) = delete;

  KeyMapping Find(KeySym keysym) const {
    KeyMapping best{kNoKey, kNoKey};
    if (map_ == nullptr || keysym == NoSymbol) return best;
    int last_keycode = std::min<int>(map_->max_key_code, kHighestUsableKeycode);
    for (int keycode = map_->min_key_code; keycode <= last_keycode; ++keycode) {
      if (XkbKeyNumGroups(map_, keycode) == 0) continue;
      int levels = XkbKeyGroupWidth(map_, keycode, 0);
      for (int level = 0; level < levels; ++level) {
        if (XkbKeySymEntry(map_, keycode, level, 0) != keysym) continue;
        uint8_t shift_state = ShiftStateOfLevel(level);
        if (best.key_code == kNoKey || shift_state < best.shift_state) {
          best = {static_cast<uint8_t>(keycode), shift_state};
        }
        break;
      }
      if (best.shift_state == 0) break;  // Nothing beats the lowest plain key.
    }
    return best;
  }

 private:
  // Level 0 is the plain key, level 1 Shift; anything above needs AltGr.
  static uint8_t ShiftStateOfLevel(int level) {
    if (level == 0) return 0;
    if (level == 1) return kShiftStateShift;
    return kShiftStateAltGr;
  }

  XkbDescPtr map_;
};

KeyMapping MapCharacter(const KeysymLocator& locator, int character) {
  if (HasLatin1Keysym(character)) return locator.Find(static_cast<KeySym>(character));
  if (!IsControlCharacter(character)) return {kNoKey, kNoKey};

  KeyMapping us_key = UsLayoutMap(static_cast<uint8_t>(character));
  if (us_key.key_code == kNoKey) return {kNoKey, kNoKey};
  KeyMapping x_key = locator.Find(KeysymOfVirtualKey(us_key.key_code));
  if (x_key.key_code == kNoKey) return {kNoKey, kNoKey};
  // The modifiers are the ones the Windows keyboard reports (Ctrl for Ctrl+letter), not
  // the level the keysym happens to sit on here.
  return {x_key.key_code, us_key.shift_state};
}

// The keyboard is used from several reader threads, one at a time, and Xlib wants
// XInitThreads() before any other call of the process.
bool EnableXlibThreads() {
  static const bool enabled = XInitThreads() != 0;
  return enabled;
}

std::string DisplayOpenError(const char* display_name) {
  std::string name = XDisplayName(display_name);
  if (name.empty()) return "cannot open X display: DISPLAY is not set";
  return "cannot open X display \"" + name + "\" (is an X server running and DISPLAY set?)";
}

}  // namespace

std::unique_ptr<X11Keyboard> X11Keyboard::Open(const char* display_name, std::string* error) {
  if (!EnableXlibThreads()) {
    *error = "cannot prepare Xlib for use from several threads (XInitThreads failed)";
    return nullptr;
  }
  Display* display = XOpenDisplay(display_name);
  if (display == nullptr) {
    *error = DisplayOpenError(display_name);
    return nullptr;
  }
  std::string server = "the X server on \"" + std::string(DisplayString(display)) + "\"";
  int event_base = 0;
  int error_base = 0;
  int major = 0;
  int minor = 0;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
    *error = server + " has no XTEST extension, which typing keys needs";
    XCloseDisplay(display);
    return nullptr;
  }
  int opcode = 0;
  int xkb_event_base = 0;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  if (!XkbQueryExtension(display, &opcode, &xkb_event_base, &error_base, &major, &minor)) {
    *error = server + " has no XKEYBOARD extension, which reading its keymap needs";
    XCloseDisplay(display);
    return nullptr;
  }
  return std::unique_ptr<X11Keyboard>(new X11Keyboard(display, xkb_event_base));
}

X11Keyboard::X11Keyboard(_XDisplay* display, int xkb_event_base)
    : display_(display), xkb_event_base_(xkb_event_base) {
  // Xlib turns XKEYBOARD on for every connection, and the server then sends such a client
  // a core MappingNotify only for the changes it asked about; a new keymap (setxkbmap)
  // never comes as one. Asking for the XKEYBOARD notifications catches every change.
  constexpr unsigned int kKeymapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(display_, XkbUseCoreKbd, kKeymapChanges, kKeymapChanges);
  RebuildKeyTable();
}

X11Keyboard::~X11Keyboard() { XCloseDisplay(display_); }

KeyMapping X11Keyboard::Map(uint8_t character) { return key_table_[character]; }

uint8_t X11Keyboard::ShiftKey() const { return shift_key_; }

void X11Keyboard::KeyDown(uint8_t key_code) { SendKey(key_code, true); }

void X11Keyboard::KeyUp(uint8_t key_code) { SendKey(key_code, false); }

void X11Keyboard::EndLine() {
  XFlush(display_);
  HandlePendingEvents();
}

void X11Keyboard::SendKey(uint8_t key_code, bool pressed) {
  // A character without a key types nothing.
  if (key_code == kNoKey) return;
  XTestFakeKeyEvent(display_, key_code, pressed ? True : False, CurrentTime);
}

void X11Keyboard::HandlePendingEvents() {
  // This connection selects nothing but keymap notifications.
  bool keymap_changed = false;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      keymap_changed = true;
    } else if (event.type == xkb_event_base_) {
      keymap_changed = true;
    }
  }
  if (keymap_changed) RebuildKeyTable();
}

void X11Keyboard::RebuildKeyTable() {
  KeysymLocator locator(display_);
  for (int character = 0; character < static_cast<int>(key_table_.size()); ++character) {
    key_table_[character] = MapCharacter(locator, character);
  }
  shift_key_ = locator.Find(XK_Shift_L).key_code;
  if (shift_key_ == kNoKey) shift_key_ = locator.Find(XK_Shift_R).key_code;
}

}  // namespace lintrel::platform
