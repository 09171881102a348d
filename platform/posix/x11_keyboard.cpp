#include "platform/posix/x11_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "common/control_characters.h"
#include "platform/layout_keymap.h"
#include "platform/us_layout.h"

namespace lintrel::platform {
namespace {

// X keycodes run 8..255; 255 would be indistinguishable from kNoKey.
constexpr int kHighestUsableKeycode = 254;

// The modifiers a user may hold that would turn typed keys into shortcuts or other levels:
// Shift, Control, Mod1 (Alt), Mod4 (the logo key) and Mod5 (usually AltGr). Not Lock or
// Mod2 (Num Lock), which are states, not keys held.
constexpr unsigned int kHeldModifierMask = ShiftMask | ControlMask | Mod1Mask | Mod4Mask | Mod5Mask;

// The character a keysym types (libxkbcommon knows the legacy keysyms as well as the
// Unicode ones); kNoCharacter for none and for control characters, which are typed by the
// US rule only.
char32_t CharacterOfKeysym(KeySym keysym) {
  if (keysym == NoSymbol) return kNoCharacter;
  const char32_t character = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
  if (character == 0 || IsControlCharacter(character)) return kNoCharacter;
  return character;
}

// The shift level a key type gives for the modifiers held (those the type does not look
// at do not count; level index 0 when no entry matches), and whether Caps Lock is left
// unused by it (not in the type, or preserved by the entry).
struct Level {
  int index = 0;
  bool lock_unused = true;
};

Level LevelOf(const XkbKeyTypeRec& type, unsigned int modifiers) {
  const unsigned int relevant = modifiers & type.mods.mask;
  unsigned int consumed = type.mods.mask;
  for (int entry = 0; entry < type.map_count; ++entry) {
    const XkbKTMapEntryRec& map = type.map[entry];
    if (!map.active || map.mods.mask != relevant) continue;
    if (type.preserve != nullptr) consumed &= ~type.preserve[entry].mask;
    return {map.level, (consumed & LockMask) == 0};
  }
  return {0, (consumed & LockMask) == 0};
}

// The keysym a key gives with Caps Lock on: Xlib capitalises the symbol of a key whose type
// leaves Caps Lock unused, as a receiving program's XLookupString then does.
KeySym WithCapsLock(KeySym keysym, const Level& level) {
  if (!level.lock_unused || keysym == NoSymbol) return keysym;
  KeySym lower = NoSymbol;
  KeySym upper = NoSymbol;
  XConvertCase(keysym, &lower, &upper);
  return upper;
}

// The group of a key that the active group selects: out of range groups wrap, as the
// server does by default.
int EffectiveGroup(XkbDescPtr map, int keycode, int group) {
  const int groups = XkbKeyNumGroups(map, keycode);
  if (groups == 0) return -1;
  return group < groups ? group : group % groups;
}

KeySym SymbolAt(XkbDescPtr map, int keycode, int group, int level) {
  if (group < 0 || level >= XkbKeyGroupWidth(map, keycode, group)) return NoSymbol;
  return XkbKeySymEntry(map, keycode, level, group);
}

// Whether a keycode carries no symbol at all: a spare one.
bool IsSpare(XkbDescPtr map, int keycode) {
  const int groups = XkbKeyNumGroups(map, keycode);
  for (int group = 0; group < groups; ++group) {
    for (int level = 0; level < XkbKeyGroupWidth(map, keycode, group); ++level) {
      if (XkbKeySymEntry(map, keycode, level, group) != NoSymbol) return false;
    }
  }
  return true;
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

// The server's keymap as this keyboard last read it.
struct X11Keyboard::ServerKeymap {
  explicit ServerKeymap(Display* display)
      : map(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd)) {}
  ~ServerKeymap() {
    if (map != nullptr) XkbFreeKeyboard(map, XkbAllComponentsMask, True);
  }
  ServerKeymap(const ServerKeymap&) = delete;
  ServerKeymap& operator=(const ServerKeymap&) = delete;

  int LastKeycode() const { return std::min<int>(map->max_key_code, kHighestUsableKeycode); }

  XkbDescPtr map;
};

X11Keyboard::X11Keyboard(_XDisplay* display, int xkb_event_base)
    : display_(display), display_name_(DisplayString(display)), xkb_event_base_(xkb_event_base) {
  {
    std::lock_guard<std::mutex> lock(Routing().mutex);
    Routing().keyboards.emplace_back(display_, this);
  }
  XSetIOErrorExitHandler(display_, OnConnectionLostExit, this);
  // Xlib turns XKEYBOARD on for every connection, and the server then sends such a client
  // a core MappingNotify only for the changes it asked about; a new keymap (setxkbmap)
  // never comes as one. Asking for the XKEYBOARD notifications catches every change, and
  // the state notices keep the group, Caps Lock and the held modifiers without asking.
  constexpr unsigned int kKeymapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(display_, XkbUseCoreKbd, kKeymapChanges | XkbStateNotifyMask, kKeymapChanges | XkbStateNotifyMask);
  constexpr unsigned long kStateDetails = XkbGroupStateMask | XkbModifierBaseMask | XkbModifierLockMask;
  XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, kStateDetails, kStateDetails);
  XkbStateRec state{};
  if (XkbGetState(display_, XkbUseCoreKbd, &state) == Success) {
    group_ = state.group;
    base_modifiers_ = state.base_mods;
    locked_modifiers_ = state.locked_mods;
  }
  FetchKeymap();
}

X11Keyboard::~X11Keyboard() {
  // A lost connection is left open: Xlib can leave it locked by the call that met the loss
  // (one waiting for room to write), and XCloseDisplay() would then wait for ever. Errors
  // met while closing a live one still come to this keyboard.
  if (!connection_lost_) {
    ReleaseBoundKeycodes();
    XCloseDisplay(display_);
  }
  std::lock_guard<std::mutex> lock(Routing().mutex);
  std::erase_if(Routing().keyboards, [this](const auto& entry) { return entry.second == this; });
}

KeyboardState X11Keyboard::ReadState() {
  if (!connection_lost_) HandlePendingEvents();
  KeyboardState state{.layout = &layout_, .caps_lock = (locked_modifiers_ & LockMask) != 0, .held_modifier_keys = {}};
  // The notices may still tell of this keyboard's own Shift of the line before: only the
  // server's answer says what is down now.
  if (!connection_lost_ && (base_modifiers_ & kHeldModifierMask) != 0) state.held_modifier_keys = ModifierKeysDown();
  return state;
}

std::vector<uint8_t> X11Keyboard::ModifierKeysDown() {
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  std::vector<uint8_t> down;
  XkbDescPtr map = keymap_->map;
  if (map == nullptr || map->map == nullptr || map->map->modmap == nullptr) return down;
  for (int keycode = map->min_key_code; keycode <= keymap_->LastKeycode(); ++keycode) {
    const bool pressed = (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    if (pressed && (map->map->modmap[keycode] & kHeldModifierMask) != 0) down.push_back(static_cast<uint8_t>(keycode));
  }
  return down;
}

KeyOutputResult X11Keyboard::TypeKeys(std::span<const KeyEvent> events) {
  if (!connection_lost_) {
    ++line_count_;
    for (const KeyEvent& event : events) {
      if (event.character == 0) {
        XTestFakeKeyEvent(display_, event.key_code, event.pressed ? True : False, CurrentTime);
        continue;
      }
      // A character without a key: typed on a spare keycode.
      const uint8_t keycode = KeycodeForCharacter(event.character, events);
      if (keycode == kNoKey) continue;
      // Xlib would capitalise it under Caps Lock (a spare key's type leaves Caps Lock
      // unused): Caps Lock is let go of around it.
      const bool unlock = CapsLockChanges(event.character);
      if (unlock && event.pressed) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, 0);
      XTestFakeKeyEvent(display_, keycode, event.pressed ? True : False, CurrentTime);
      if (unlock && !event.pressed) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, LockMask);
    }
    XFlush(display_);
    HandlePendingEvents();
  }
  if (connection_lost_) {
    return {.accepted = 0, .error = "lost the connection to the X server on \"" + display_name_ + "\"",
            .output_lost = true};
  }
  // Errors come back after their requests: one seen now may be about the line before.
  if (!protocol_error_.empty()) {
    // The bindings may be what failed; what is bound is given back now rather than at the end.
    ReleaseBoundKeycodes();
    return {.accepted = 0, .error = std::exchange(protocol_error_, {})};
  }
  return {.accepted = events.size(), .error = {}};
}

bool X11Keyboard::CapsLockChanges(char32_t character) const {
  if ((locked_modifiers_ & LockMask) == 0) return false;
  const KeySym keysym = xkb_utf32_to_keysym(static_cast<uint32_t>(character));
  KeySym lower = NoSymbol;
  KeySym upper = NoSymbol;
  XConvertCase(keysym, &lower, &upper);
  return upper != keysym;
}

uint8_t X11Keyboard::KeycodeForCharacter(char32_t character, std::span<const KeyEvent> line) {
  for (Binding& binding : bindings_) {
    if (binding.character == character) {
      binding.last_used = line_count_;
      return binding.keycode;
    }
  }
  XkbDescPtr map = keymap_->map;
  if (map == nullptr) return kNoKey;
  const auto bound = [&](int keycode) {
    return std::any_of(bindings_.begin(), bindings_.end(), [&](const Binding& b) { return b.keycode == keycode; });
  };
  int keycode = -1;
  for (int candidate = map->min_key_code; candidate <= keymap_->LastKeycode() && keycode < 0; ++candidate) {
    if (IsSpare(map, candidate) && !bound(candidate)) keycode = candidate;
  }
  if (keycode < 0) {
    // Every spare keycode is bound: the one used longest ago, and not in this line, is
    // bound again.
    const auto in_line = [&](const Binding& b) {
      return std::any_of(line.begin(), line.end(), [&](const KeyEvent& e) { return e.character == b.character; });
    };
    Binding* oldest = nullptr;
    for (Binding& binding : bindings_) {
      if (!in_line(binding) && (oldest == nullptr || binding.last_used < oldest->last_used)) oldest = &binding;
    }
    if (oldest == nullptr) return kNoKey;
    keycode = oldest->keycode;
    std::erase_if(bindings_, [&](const Binding& b) { return b.keycode == keycode; });
  }
  // Two columns of the same symbol: a two-level key that Caps Lock and Shift leave alone.
  KeySym symbols[2];
  symbols[0] = symbols[1] = xkb_utf32_to_keysym(static_cast<uint32_t>(character));
  if (symbols[0] == NoSymbol) return kNoKey;
  XChangeKeyboardMapping(display_, keycode, 2, symbols, 1);
  bindings_.push_back({static_cast<uint8_t>(keycode), character, line_count_});
  return static_cast<uint8_t>(keycode);
}

void X11Keyboard::ReleaseBoundKeycodes() {
  if (bindings_.empty()) return;
  KeySym no_symbol = NoSymbol;
  for (const Binding& binding : bindings_) XChangeKeyboardMapping(display_, binding.keycode, 1, &no_symbol, 1);
  bindings_.clear();
  XSync(display_, False);
}

void X11Keyboard::HandlePendingEvents() {
  bool keymap_changed = false;
  bool group_changed = false;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      keymap_changed = true;
    } else if (event.type == xkb_event_base_) {
      const auto& any = reinterpret_cast<const XkbAnyEvent&>(event);
      if (any.xkb_type == XkbStateNotify) {
        const auto& state = reinterpret_cast<const XkbStateNotifyEvent&>(event);
        group_changed |= state.group != group_;
        group_ = state.group;
        base_modifiers_ = state.base_mods;
        locked_modifiers_ = state.locked_mods;
      } else {
        keymap_changed = true;
      }
    }
  }
  if (keymap_changed) {
    FetchKeymap();
  } else if (group_changed) {
    RebuildLayout();
  }
}

void X11Keyboard::FetchKeymap() {
  keymap_ = std::make_unique<ServerKeymap>(display_);
  // A binding someone else changed (a new keymap loaded, say) is no longer this keyboard's
  // to undo.
  if (keymap_->map != nullptr) {
    std::erase_if(bindings_, [&](const Binding& binding) {
      const KeySym expected = xkb_utf32_to_keysym(static_cast<uint32_t>(binding.character));
      return SymbolAt(keymap_->map, binding.keycode, 0, 0) != expected;
    });
  }
  RebuildLayout();
}

void X11Keyboard::RebuildLayout() {
  layout_.Clear();
  XkbDescPtr map = keymap_->map;
  if (map == nullptr) return;
  const unsigned int level3 = XkbKeysymToModifiers(display_, XK_ISO_Level3_Shift);
  struct Combination {
    uint8_t modifiers;
    unsigned int mask;
  };
  const Combination combinations[] = {
      {0, 0},
      {kModifierShift, ShiftMask},
      {kModifierLevel3, level3},
      {kModifierShift | kModifierLevel3, ShiftMask | level3},
  };
  // Where the keysyms a control character or a modifier needs sit: the lowest keycode.
  std::vector<std::pair<KeySym, int>> first_keycode;
  const auto keycode_of = [&](KeySym keysym) {
    for (const auto& [symbol, keycode] : first_keycode) {
      if (symbol == keysym) return keycode;
    }
    return static_cast<int>(kNoKey);
  };
  for (int keycode = map->min_key_code; keycode <= keymap_->LastKeycode(); ++keycode) {
    const int group = EffectiveGroup(map, keycode, group_);
    if (group < 0) continue;
    const XkbKeyTypeRec& type = *XkbKeyKeyType(map, keycode, group);
    for (const Combination& combination : combinations) {
      if (combination.modifiers & kModifierLevel3 && level3 == 0) continue;
      const char32_t plain = CharacterOfKeysym(SymbolAt(map, keycode, group, LevelOf(type, combination.mask).index));
      const Level caps_level = LevelOf(type, combination.mask | LockMask);
      const char32_t caps = CharacterOfKeysym(WithCapsLock(SymbolAt(map, keycode, group, caps_level.index), caps_level));
      layout_.Add(static_cast<uint8_t>(keycode), combination.modifiers, plain, caps);
    }
    for (int level = 0; level < XkbKeyGroupWidth(map, keycode, group); ++level) {
      const KeySym keysym = XkbKeySymEntry(map, keycode, level, group);
      if (keysym != NoSymbol && keycode_of(keysym) == kNoKey) first_keycode.emplace_back(keysym, keycode);
    }
  }
  const auto plain_key_of = [&](KeySym keysym) {
    for (int keycode = map->min_key_code; keycode <= keymap_->LastKeycode(); ++keycode) {
      const int group = EffectiveGroup(map, keycode, group_);
      if (group >= 0 && SymbolAt(map, keycode, group, LevelOf(*XkbKeyKeyType(map, keycode, group), 0).index) == keysym) {
        return static_cast<uint8_t>(keycode);
      }
    }
    return kNoKey;
  };
  AddControlCharacterKeys(layout_, {.enter = plain_key_of(XK_Return), .tab = plain_key_of(XK_Tab),
                                    .backspace = plain_key_of(XK_BackSpace), .escape = plain_key_of(XK_Escape)});
  int shift = keycode_of(XK_Shift_L);
  if (shift == kNoKey) shift = keycode_of(XK_Shift_R);
  layout_.SetModifierKey(kModifierShift, static_cast<uint8_t>(shift));
  layout_.SetModifierKey(kModifierLevel3, static_cast<uint8_t>(keycode_of(XK_ISO_Level3_Shift)));
}

}  // namespace lintrel::platform
