#include "platform/posix/x11_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/printable_text.h"
#include "common/utf8_text.h"
#include "platform/posix/x11_keymap.h"

namespace lintrel::platform {
namespace {

using x11::KeysymOf;

// The modifiers a user may hold that would turn typed keys into shortcuts or other levels:
// Shift, Control, Mod1 (Alt), Mod4 (the logo key) and Mod5 (usually AltGr). Not Lock or
// Mod2 (Num Lock), which are states, not keys held.
constexpr unsigned int kHeldModifierMask = ShiftMask | ControlMask | Mod1Mask | Mod4Mask | Mod5Mask;

// The keyboard is opened on one thread and types on another (the typist's), while other
// threads of the process may use Xlib with connections of their own (a test's window):
// Xlib wants XInitThreads() before any other call of the process.
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
    keyboard->NoteProtocolError(DescribeError(display, *error), error->serial);
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

std::string CodePoint(char32_t character) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(character));
  return text;
}

// The characters a line types on spare keys, in order.
std::u32string SpareKeyCharacters(std::span<const KeyEvent> events) {
  std::u32string characters;
  for (const KeyEvent& event : events) {
    if (event.character != 0 && event.pressed) characters += event.character;
  }
  return characters;
}

}  // namespace

// The server's keymap as this keyboard last read it.
struct X11Keyboard::ServerKeymap {
  explicit ServerKeymap(Display* display)
      : map(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd)) {}
  ~ServerKeymap() {
    if (map != nullptr) XkbFreeKeyboard(map, XkbAllComponentsMask, True);
  }
  ServerKeymap(const ServerKeymap&) = delete;
  ServerKeymap& operator=(const ServerKeymap&) = delete;

  int LastKeycode() const { return std::min<int>(map->max_key_code, x11::kHighestUsableKeycode); }
  bool HasModmap() const { return map != nullptr && map->map != nullptr && map->map->modmap != nullptr; }

  XkbDescPtr map;
};

struct X11Keyboard::Atoms {
  Atom wm_protocols = None;
  Atom net_wm_ping = None;
  // Owned by the keyboard that was first on the display among those alive.
  Atom keyboard_selection = None;
  // On the root window: what that keyboard has bound, [keycode, level count, keysyms...]...
  Atom spare_keys = None;
};

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
    : display_(display),
      display_name_(DisplayString(display)),
      xkb_event_base_(xkb_event_base),
      atoms_(std::make_unique<Atoms>()) {
  {
    std::lock_guard<std::mutex> lock(Routing().mutex);
    Routing().keyboards.emplace_back(display_, this);
  }
  XSetIOErrorExitHandler(display_, OnConnectionLostExit, this);
  // Xlib turns XKEYBOARD on for every connection, and the server then sends such a client
  // a core MappingNotify only for the changes it asked about; a new keymap (setxkbmap)
  // never comes as one. Asking for the XKEYBOARD notifications catches every change. Of
  // the state, the group and the locks (Caps Lock) come as notices, which are rare; the
  // modifiers held are asked for (ReadServerState), since a notice for every modifier the
  // user presses would pile up unread while no line comes.
  constexpr unsigned int kNotices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbStateNotifyMask;
  XkbSelectEvents(display_, XkbUseCoreKbd, XkbAllEventsMask, kNotices);
  constexpr unsigned long kStateDetails = XkbGroupStateMask | XkbModifierLockMask;
  XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask, kStateDetails);
  char names[][24] = {"WM_PROTOCOLS", "_NET_WM_PING", "_LINTREL_KEYBOARD", "_LINTREL_SPARE_KEYS"};
  char* name_list[] = {names[0], names[1], names[2], names[3]};
  Atom atoms[4] = {};
  XInternAtoms(display_, name_list, 4, False, atoms);
  *atoms_ = {.wm_protocols = atoms[0], .net_wm_ping = atoms[1], .keyboard_selection = atoms[2], .spare_keys = atoms[3]};
  ClaimDisplay();
  ReadServerState();
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

void X11Keyboard::NoteProtocolError(std::string description, unsigned long serial) {
  // The ping's requests name windows of other programs, which may be gone by then.
  if (serial >= harmless_serials_begin_ && serial < harmless_serials_end_) return;
  protocol_error_ = std::move(description);
  protocol_error_serial_ = serial;
}

// --- The keymap and the state -----------------------------------------------------------

KeyboardState X11Keyboard::ReadState() {
  if (!connection_lost_) {
    if (Clock::now() - state_read_at_ >= kStateReuse) ReadServerState();
    HandlePendingEvents();
    if (keymap_stale_) {
      FetchKeymap();
    } else if (layout_group_ != group_ && keymap_ != nullptr) {
      RebuildLayout();
      OfferSpareKeys(binder_.Keycodes());
    }
  }
  KeyboardState state{.layout = &layout_, .caps_lock = (locked_modifiers_ & LockMask) != 0, .held_modifier_keys = {}};
  if (!connection_lost_ && (base_modifiers_ & kHeldModifierMask) != 0) state.held_modifier_keys = ModifierKeysDown();
  return state;
}

void X11Keyboard::ReadServerState() {
  XkbStateRec state{};
  if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return;
  group_ = state.group;
  base_modifiers_ = state.base_mods;
  locked_modifiers_ = state.locked_mods;
  state_read_at_ = Clock::now();
}

std::vector<uint8_t> X11Keyboard::ModifierKeysDown() {
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  std::vector<uint8_t> down;
  if (!keymap_->HasModmap()) return down;
  XkbDescPtr map = keymap_->map;
  for (int keycode = map->min_key_code; keycode <= keymap_->LastKeycode(); ++keycode) {
    const bool pressed = (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    if (pressed && (map->map->modmap[keycode] & kHeldModifierMask) != 0) down.push_back(static_cast<uint8_t>(keycode));
  }
  return down;
}

void X11Keyboard::HandlePendingEvents() {
  while (!connection_lost_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    HandleEvent(event);
  }
}

void X11Keyboard::HandleEvent(const XEvent& event) {
  if (event.type == MappingNotify) {
    XMappingEvent mapping = event.xmapping;
    XRefreshKeyboardMapping(&mapping);
    keymap_stale_ = true;
  } else if (event.type == xkb_event_base_) {
    const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
    if (xkb.any.xkb_type == XkbStateNotify) {
      group_ = xkb.state.group;
      locked_modifiers_ = xkb.state.locked_mods;
    } else {
      // Xlib's own copy, which XkbKeysymToModifiers reads, follows too.
      XkbMapNotifyEvent map = xkb.map;
      XkbRefreshKeyboardMapping(&map);
      keymap_stale_ = true;
    }
  } else if (event.type == SelectionClear && event.xselectionclear.selection == atoms_->keyboard_selection) {
    display_claimed_ = false;
  }
}

void X11Keyboard::FetchKeymap() {
  keymap_stale_ = false;
  auto keymap = std::make_unique<ServerKeymap>(display_);
  if (!keymap->HasModmap()) return;
  keymap_ = std::move(keymap);
  // The spare keys: the empty ones, and those that still hold what this keyboard bound. A
  // key that someone else changed since is theirs.
  XkbDescPtr map = keymap_->map;
  std::vector<uint8_t> spare;
  for (int keycode = map->min_key_code; keycode <= keymap_->LastKeycode(); ++keycode) {
    if (map->map->modmap[keycode] != 0) continue;
    const std::vector<char32_t> bound = binder_.CharactersOn(static_cast<uint8_t>(keycode));
    if (!bound.empty() && !x11::Holds(map, keycode, bound)) binder_.Forget(static_cast<uint8_t>(keycode));
    if (x11::IsEmpty(map, keycode) || (!bound.empty() && x11::Holds(map, keycode, bound))) {
      spare.push_back(static_cast<uint8_t>(keycode));
    }
  }
  spare_keys_.reset();
  for (uint8_t keycode : spare) spare_keys_.set(keycode);
  RebuildLayout();
  OfferSpareKeys(spare);
}

void X11Keyboard::RebuildLayout() {
  if (keymap_ == nullptr) return;
  level3_ = XkbKeysymToModifiers(display_, XK_ISO_Level3_Shift);
  layout_group_ = group_;
  x11::FillLayout(keymap_->map, group_, level3_, spare_keys_, layout_);
}

void X11Keyboard::OfferSpareKeys(const std::vector<uint8_t>& keycodes) {
  const x11::SpareKeyType type = x11::ChooseSpareKeyType(keymap_->map, level3_, layout_);
  if (type.level_modifiers != binder_.LevelModifiers()) ReleaseBoundKeycodes();
  spare_type_ = type.index;
  binder_.Offer(keycodes, type.level_modifiers);
}

// --- Typing -------------------------------------------------------------------------------

KeyOutputResult X11Keyboard::TypeKeys(std::span<const KeyEvent> events) {
  if (connection_lost_) return Lost();
  if (keymap_ == nullptr) {
    return {.accepted = 0, .error = "cannot read the keymap of the X server on \"" + display_name_ + "\""};
  }
  const std::u32string characters = SpareKeyCharacters(events);
  if (std::string refusal = RefusalOf(characters); !refusal.empty()) return {.accepted = 0, .error = refusal};
  if (Clock::now() >= SettledAt()) {
    binder_.ConfirmRead();
    key_events_since_fence_ = 0;
  }
  const std::vector<SpareKeyBinder::Part> parts = binder_.Plan(characters);
  // As the line's keys were chosen, whatever notices a wait within the line takes in.
  line_caps_lock_ = (locked_modifiers_ & LockMask) != 0;
  const unsigned long first_serial = NextRequest(display_);
  // Errors come back after their requests: a line the server may refuse waits for its
  // verdict, the others (keys of the server's own keymap) go out with a flush.
  if (SendLine(events, parts)) {
    XSync(display_, False);
  } else {
    XFlush(display_);
  }
  last_key_sent_at_ = Clock::now();
  if (connection_lost_) return Lost();
  if (!protocol_error_.empty()) {
    std::string error = std::exchange(protocol_error_, {});
    if (protocol_error_serial_ < first_serial) error += ", from a request made before this line";
    // The bindings may be what failed: what is bound is given back now rather than at the end.
    ReleaseBoundKeycodes();
    return {.accepted = 0, .error = error};
  }
  return {.accepted = events.size(), .error = {}};
}

std::string X11Keyboard::RefusalOfLine(std::span<const KeyEvent> events) {
  if (connection_lost_ || keymap_ == nullptr) return {};  // TypeKeys() says why
  return RefusalOf(SpareKeyCharacters(events));
}

KeyOutputResult X11Keyboard::Lost() const {
  return {.accepted = 0, .error = "lost the connection to the X server on \"" + display_name_ + "\"",
          .output_lost = true};
}

std::string X11Keyboard::RefusalOf(const std::u32string& characters) const {
  for (char32_t character : characters) {
    if (KeysymOf(character) == NoSymbol) return "no X keysym for " + CodePoint(character);
  }
  if (!characters.empty() && binder_.Capacity() == 0) {
    std::string distinct;
    for (char32_t character : characters) {
      const std::string utf8 = EncodeUtf8(character);
      if (distinct.find(utf8) == std::string::npos) distinct += utf8;
    }
    return "no key for " + Quoted(distinct) + " in the X keymap, and no spare key to bind one to";
  }
  return {};
}

bool X11Keyboard::SendLine(std::span<const KeyEvent> events, const std::vector<SpareKeyBinder::Part>& parts) {
  bool may_be_refused = false;
  std::size_t planned = 0;  // characters typed on spare keys so far
  std::size_t part = 0;
  std::size_t part_begin = 0;
  for (const KeyEvent& event : events) {
    if (event.character == 0) {
      may_be_refused |= event.key_code < keymap_->map->min_key_code || event.key_code > keymap_->map->max_key_code;
      SendKey(event.key_code, event.pressed);
      continue;
    }
    // A character's whole stroke goes with its press.
    if (!event.pressed) continue;
    while (planned >= parts[part].end) part_begin = parts[part++].end;
    const SpareKeyBinder::Part& current = parts[part];
    if (planned == part_begin) {
      if (current.fence_first) Fence();
      for (const SpareKeyBinder::Binding& binding : current.bindings) Bind(binding);
      if (!current.bindings.empty()) {
        RecordBindings();
        may_be_refused = true;
      }
    }
    SendSpareStroke(event.character, current.slots[planned - part_begin]);
    ++planned;
  }
  return may_be_refused;
}

void X11Keyboard::SendKey(uint8_t keycode, bool pressed) {
  XTestFakeKeyEvent(display_, keycode, pressed ? True : False, CurrentTime);
  ++key_events_since_fence_;
}

void X11Keyboard::SendSpareStroke(char32_t character, SpareSlot slot) {
  std::vector<KeyEvent> stroke;
  layout_.AppendKeyEvents({slot.keycode, slot.modifiers}, stroke);
  // Xlib would capitalise it under Caps Lock (the spare keys' type leaves Caps Lock unused):
  // Caps Lock is let go of around the key.
  KeySym lower = NoSymbol;
  KeySym upper = NoSymbol;
  XConvertCase(KeysymOf(character), &lower, &upper);
  const bool unlock = line_caps_lock_ && upper != KeysymOf(character);
  for (const KeyEvent& key : stroke) {
    const bool spare_key = key.key_code == slot.keycode;
    if (spare_key && key.pressed && unlock) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, 0);
    SendKey(key.key_code, key.pressed);
    if (spare_key && !key.pressed && unlock) XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, LockMask);
  }
}

void X11Keyboard::Bind(const SpareKeyBinder::Binding& binding) {
  XkbDescPtr map = keymap_->map;
  XkbMapChangesRec changes{};
  int type = spare_type_;
  if (XkbChangeTypesOfKey(map, binding.keycode, 1, XkbGroup1Mask, &type, &changes) != Success) {
    protocol_error_ = "cannot give key " + std::to_string(binding.keycode) + " the levels of a spare key";
    protocol_error_serial_ = NextRequest(display_);
    return;
  }
  for (std::size_t level = 0; level < binding.levels.size(); ++level) {
    const char32_t character = binding.levels[level];
    XkbKeySymEntry(map, binding.keycode, static_cast<int>(level), 0) = character == 0 ? NoSymbol : KeysymOf(character);
  }
  changes.changed |= XkbKeySymsMask;
  changes.first_key_sym = binding.keycode;
  changes.num_key_syms = 1;
  XkbChangeMap(display_, map, &changes);
}

// --- Waiting for the receiving program ------------------------------------------------------

X11Keyboard::Clock::time_point X11Keyboard::SettledAt() const {
  return last_key_sent_at_ + kSettleTime + key_events_since_fence_ * kSettlePerKeyEvent;
}

void X11Keyboard::Fence() {
  // Every key event sent so far reaches the receiving program's connection before the ping.
  XSync(display_, False);
  if (connection_lost_) return;
  if (PingReceiver() == PingAnswer::kNoOneToAsk) {
    std::this_thread::sleep_for(kSettleTime + key_events_since_fence_ * kSettlePerKeyEvent);
  }
  key_events_since_fence_ = 0;
}

X11Keyboard::PingAnswer X11Keyboard::PingReceiver() {
  harmless_serials_begin_ = NextRequest(display_);
  harmless_serials_end_ = ULONG_MAX;
  const Window target = PingTarget();
  PingAnswer answer = PingAnswer::kNoOneToAsk;
  if (target != None) {
    const Window root = DefaultRootWindow(display_);
    // The answer goes to the root window, for whoever listens there (the window manager).
    XSelectInput(display_, root, SubstructureNotifyMask);
    const long token = ++ping_count_;
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = target;
    ping.xclient.message_type = atoms_->wm_protocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(atoms_->net_wm_ping);
    ping.xclient.data.l[1] = token;
    ping.xclient.data.l[2] = static_cast<long>(target);
    XSendEvent(display_, target, False, NoEventMask, &ping);
    XFlush(display_);
    answer = AwaitPong(token, target) ? PingAnswer::kAnswered : PingAnswer::kNoAnswer;
    XSelectInput(display_, root, NoEventMask);
  }
  harmless_serials_end_ = NextRequest(display_);
  return answer;
}

bool X11Keyboard::AwaitPong(long token, unsigned long target) {
  const Clock::time_point deadline = Clock::now() + kPingPatience;
  while (!connection_lost_) {
    while (!connection_lost_ && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      const XClientMessageEvent& message = event.xclient;
      if (event.type == ClientMessage && message.message_type == atoms_->wm_protocols && message.format == 32 &&
          static_cast<Atom>(message.data.l[0]) == atoms_->net_wm_ping && message.data.l[1] == token &&
          static_cast<Window>(message.data.l[2]) == target) {
        return true;
      }
      HandleEvent(event);
    }
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (remaining.count() <= 0) return false;
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(remaining.count()) + 1);
  }
  return false;
}

unsigned long X11Keyboard::PingTarget() {
  Window focus = None;
  int revert_to = 0;
  XGetInputFocus(display_, &focus, &revert_to);
  if (focus == None || focus == PointerRoot) return None;
  // The focus may be on a window inside the program's top-level one.
  constexpr int kDeepest = 16;
  Window window = focus;
  for (int depth = 0; depth < kDeepest && window != None; ++depth) {
    Atom* protocols = nullptr;
    int count = 0;
    if (XGetWMProtocols(display_, window, &protocols, &count) != 0) {
      const bool pings = std::find(protocols, protocols + count, atoms_->net_wm_ping) != protocols + count;
      XFree(protocols);
      if (pings) return window;
    }
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int child_count = 0;
    if (XQueryTree(display_, window, &root, &parent, &children, &child_count) == 0) break;
    if (children != nullptr) XFree(children);
    window = parent == root ? None : parent;
  }
  return None;
}

// --- The display, from start to end -------------------------------------------------------

void X11Keyboard::ClaimDisplay() {
  if (XGetSelectionOwner(display_, atoms_->keyboard_selection) != None) return;
  const Window root = DefaultRootWindow(display_);
  claim_window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display_, atoms_->keyboard_selection, claim_window_, CurrentTime);
  display_claimed_ = XGetSelectionOwner(display_, atoms_->keyboard_selection) == claim_window_;
  if (display_claimed_) ReleaseLeftovers();
}

void X11Keyboard::ReleaseLeftovers() {
  // A key the XTest device holds: the server takes the release of a key from the device
  // that pressed it only, so a key the user holds stays down.
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  for (int keycode = 8; keycode < 256; ++keycode) {
    if ((keys[keycode / 8] & (1 << (keycode % 8))) != 0) SendKey(static_cast<uint8_t>(keycode), false);
  }
  const Window root = DefaultRootWindow(display_);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  constexpr long kLongest = 4096;
  if (XGetWindowProperty(display_, root, atoms_->spare_keys, 0, kLongest, False, XA_INTEGER, &type, &format, &count,
                         &remaining, &data) == Success &&
      data != nullptr) {
    if (format == 32) EmptyRecordedKeys({reinterpret_cast<const long*>(data), count});
    XFree(data);
  }
  XDeleteProperty(display_, root, atoms_->spare_keys);
  XSync(display_, False);
}

void X11Keyboard::EmptyRecordedKeys(std::span<const long> record) {
  const ServerKeymap keymap(display_);
  if (!keymap.HasModmap()) return;
  KeySym no_symbol = NoSymbol;
  for (std::size_t at = 0; at + 2 <= record.size();) {
    const long keycode = record[at];
    const auto levels = static_cast<std::size_t>(std::max(0L, record[at + 1]));
    if (at + 2 + levels > record.size()) break;
    bool holds = keycode >= keymap.map->min_key_code && keycode <= keymap.LastKeycode() &&
                 XkbKeyNumGroups(keymap.map, keycode) == 1 &&
                 XkbKeyGroupWidth(keymap.map, keycode, 0) == static_cast<int>(levels);
    for (std::size_t level = 0; holds && level < levels; ++level) {
      holds = XkbKeySymEntry(keymap.map, keycode, static_cast<int>(level), 0) ==
              static_cast<KeySym>(record[at + 2 + level]);
    }
    if (holds) XChangeKeyboardMapping(display_, static_cast<int>(keycode), 1, &no_symbol, 1);
    at += 2 + levels;
  }
}

void X11Keyboard::RecordBindings() {
  if (!display_claimed_) return;
  std::vector<long> record;
  for (uint8_t keycode : binder_.BoundKeycodes()) {
    const std::vector<char32_t> levels = binder_.CharactersOn(keycode);
    record.push_back(keycode);
    record.push_back(static_cast<long>(levels.size()));
    for (char32_t character : levels) {
      record.push_back(character == 0 ? NoSymbol : static_cast<long>(KeysymOf(character)));
    }
  }
  XChangeProperty(display_, DefaultRootWindow(display_), atoms_->spare_keys, XA_INTEGER, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(record.data()), static_cast<int>(record.size()));
}

void X11Keyboard::ReleaseBoundKeycodes() {
  const std::vector<uint8_t> bound = binder_.BoundKeycodes();
  if (bound.empty()) return;
  // The receiving program may not have read the last keys yet, and would find them empty.
  if (Clock::now() < SettledAt()) Fence();
  KeySym no_symbol = NoSymbol;
  for (uint8_t keycode : bound) XChangeKeyboardMapping(display_, keycode, 1, &no_symbol, 1);
  binder_.ForgetAll();
  if (display_claimed_) XDeleteProperty(display_, DefaultRootWindow(display_), atoms_->spare_keys);
  XSync(display_, False);
}

}  // namespace lintrel::platform
