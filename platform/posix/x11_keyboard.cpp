#include "platform/posix/x11_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/posix/virtual_key_keysym.h"
#include "platform/us_layout.h"

namespace lintrel::platform {
namespace {

// Shift state for a character that needs AltGr (a level above Shift): Ctrl+Alt, as a
// Windows layout reports AltGr.
constexpr uint8_t kShiftStateAltGr = 6;

// X keycodes run 8..255; 255 would be indistinguishable from kNoKey.
constexpr int kHighestUsableKeycode = 254;

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

// Xlib's error handlers belong to the process, not to a connection: they find the keyboard
// of the connection an error came on, and leave any other connection (a test's own window,
// say) to the handlers that were there before.
struct ErrorRouting {
  std::mutex mutex;
  std::vector<std::pair<Display*, X11Keyboard*>> keyboards;
  XErrorHandler previous_protocol_handler = nullptr;
  XIOErrorHandler previous_connection_handler = nullptr;

  X11Keyboard* Find(Display* display) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [connection, keyboard] : keyboards) {
      if (connection == display) return keyboard;
    }
    return nullptr;
  }
};

ErrorRouting& Routing() {
  static ErrorRouting routing;
  return routing;
}

std::string DescribeError(Display* display, const XErrorEvent& error) {
  char text[256] = "";
  XGetErrorText(display, error.error_code, text, sizeof text);
  return "X error " + std::string(text) + " (request " + std::to_string(error.request_code) + "." +
         std::to_string(error.minor_code) + ")";
}

// An error the server sent about a request: the line typed now has failed, the connection
// goes on. It may not make requests itself, and makes none.
int OnProtocolError(Display* display, XErrorEvent* error) {
  if (X11Keyboard* keyboard = Routing().Find(display)) {
    keyboard->NoteProtocolError(DescribeError(display, *error));
    return 0;
  }
  XErrorHandler previous = Routing().previous_protocol_handler;
  return previous != nullptr ? previous(display, error) : 0;
}

// On a broken connection Xlib calls this handler and then the connection's exit handler,
// and both of Xlib's own end the process. A keyboard's connection returns from both: its
// exit handler notes the loss, and the Xlib call that met it returns to the typing thread,
// which reports it. Every later Xlib call on that connection returns at once.
int OnConnectionLost(Display* display) {
  if (Routing().Find(display) != nullptr) return 0;
  XIOErrorHandler previous = Routing().previous_connection_handler;
  return previous != nullptr ? previous(display) : 0;
}

void OnConnectionLostExit(Display* /*display*/, void* keyboard) {
  static_cast<X11Keyboard*>(keyboard)->NoteConnectionLost();
}

void InstallErrorHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    Routing().previous_protocol_handler = XSetErrorHandler(OnProtocolError);
    Routing().previous_connection_handler = XSetIOErrorHandler(OnConnectionLost);
  });
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
  InstallErrorHandlers();
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
    : display_(display), display_name_(DisplayString(display)), xkb_event_base_(xkb_event_base) {
  {
    std::lock_guard<std::mutex> lock(Routing().mutex);
    Routing().keyboards.emplace_back(display_, this);
  }
  XSetIOErrorExitHandler(display_, OnConnectionLostExit, this);
  // Xlib turns XKEYBOARD on for every connection, and the server then sends such a client
  // a core MappingNotify only for the changes it asked about; a new keymap (setxkbmap)
  // never comes as one. Asking for the XKEYBOARD notifications catches every change.
  constexpr unsigned int kKeymapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(display_, XkbUseCoreKbd, kKeymapChanges, kKeymapChanges);
  RebuildKeyTable();
}

X11Keyboard::~X11Keyboard() {
  // A lost connection is left open: Xlib can leave it locked by the call that met the loss
  // (one waiting for room to write), and XCloseDisplay() would then wait for ever. Errors
  // met while closing a live one still come to this keyboard.
  if (!connection_lost_) XCloseDisplay(display_);
  std::lock_guard<std::mutex> lock(Routing().mutex);
  std::erase_if(Routing().keyboards, [this](const auto& entry) { return entry.second == this; });
}

KeyMapping X11Keyboard::Map(uint8_t character) { return key_table_[character]; }

uint8_t X11Keyboard::ShiftKey() const { return shift_key_; }

KeyOutputResult X11Keyboard::TypeKeys(std::span<const KeyEvent> events) {
  if (!connection_lost_) {
    for (const KeyEvent& event : events) {
      // A character without a key types nothing.
      if (event.key_code != kNoKey) XTestFakeKeyEvent(display_, event.key_code, event.pressed ? True : False, CurrentTime);
    }
    XFlush(display_);
    HandlePendingEvents();
  }
  if (connection_lost_) {
    return {.accepted = 0, .error = "lost the connection to the X server on \"" + display_name_ + "\"",
            .output_lost = true};
  }
  // Errors come back after their requests: one seen now may be about the line before.
  if (!protocol_error_.empty()) return {.accepted = 0, .error = std::exchange(protocol_error_, {})};
  return {.accepted = events.size(), .error = {}};
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
