#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/keyboard.h"
#include "platform/layout_keymap.h"
#include "platform/spare_key_binder.h"

// Xlib's connection type (Display), declared here so that users of this header do not
// inherit Xlib's macros (None, True, Bool, ...).
struct _XDisplay;
union _XEvent;

namespace lintrel::platform {

// Types into the focused window of an X server through the XTest extension.
//
// The layout is a snapshot of the user's keymap for the active group, taken from the
// server's XKEYBOARD map: every key's levels reached with no modifier, Shift, the level-3
// shift (AltGr) and both, with Caps Lock off and on, as the key's type defines them; the key
// choice then types each character as a person would on that layout. Control characters
// take their keys by the rule every layout shares (AddControlCharacterKeys). Keymap, group
// and Caps Lock changes come as XKEYBOARD notices, read before each line. Before a line the
// keyboard also asks the server for the modifiers the user holds, a round trip that takes in
// every notice the server sent before it, so that a keymap loaded by setxkbmap the moment
// before is in force for the line; lines that follow within kStateReuse of that question use
// its answer (lines typed back to back cost no round trip each).
//
// A character no key of the layout types is typed on a spare key: a keycode the user's
// keymap leaves empty (and no modifier uses), of which this keyboard binds up to four levels
// (plain, Shift, AltGr, Shift+AltGr: FOUR_LEVEL) to characters. The bindings never feed into
// the layout: the snapshot leaves out every spare key, bound or not. A SpareKeyBinder owns
// them: a line with more such characters than there are levels is typed in parts, and a
// level is bound to another character only once the receiving program has read the keys
// typed with it, because a program looks a key's character up in the keymap as it is when
// it reads the key. Whether it has, the keyboard asks the focused window's program with the
// window manager's ping (_NET_WM_PING), which toolkits answer once they have read every
// event before it; a window without the protocol is given kSettleTime and kSettlePerKeyEvent
// for each key event sent since it was last known to have read everything, and a program
// that does not answer within kPingPatience is taken to have read them. Bindings stay for
// later lines and are given back at the end (and after an X error).
//
// Each line goes out with one flush. A line whose requests the server may refuse (bindings,
// a key code outside the server's range) ends with a round trip, so that an X error is that
// line's failure. The loss of the connection (the server ended) loses the output for good;
// it never ends the process, as Xlib's own handler would.
//
// A keyboard killed without a chance to clean up (SIGKILL) leaves keys it held pressed at
// the server and its spare keys bound. The next keyboard opened on that display, unless
// another one is alive there (it owns the selection _LINTREL_KEYBOARD), releases every key
// the XTest device holds and empties the spare keys its predecessor recorded (in the root
// window's property _LINTREL_SPARE_KEYS) and that still hold what it bound.
//
// Key codes are X keycodes. Keycode 255 is never used, so kNoKey stays unambiguous.
class X11Keyboard : public Keyboard {
 public:
  // How long a reading of the server's state is used for the lines that follow it.
  static constexpr std::chrono::milliseconds kStateReuse{10};
  // How long the receiving program may take to answer a ping.
  static constexpr std::chrono::milliseconds kPingPatience{2000};
  // What a program that does not answer pings is given to read the keys typed so far: as
  // much as a program that reads 2,000 key events a second needs, and 100 ms more.
  static constexpr std::chrono::milliseconds kSettleTime{100};
  static constexpr std::chrono::microseconds kSettlePerKeyEvent{500};

  // Connects to display_name (null: $DISPLAY). On failure returns null and sets *error.
  static std::unique_ptr<X11Keyboard> Open(const char* display_name, std::string* error);

  ~X11Keyboard() override;
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  KeyboardState ReadState() override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;
  std::string RefusalOfLine(std::span<const KeyEvent> events) override;

  // Called by the process's Xlib error handlers, on the thread that is inside Xlib with
  // this keyboard's connection: the one typing.
  void NoteProtocolError(std::string description, unsigned long serial);
  void NoteConnectionLost() { connection_lost_ = true; }

 private:
  using Clock = std::chrono::steady_clock;
  struct ServerKeymap;
  struct Atoms;
  enum class PingAnswer { kAnswered, kNoAnswer, kNoOneToAsk };

  X11Keyboard(_XDisplay* display, int xkb_event_base);

  // Asks the server for the group and the modifiers held and locked; the answer comes after
  // every notice the server sent before it.
  void ReadServerState();
  // Reads the notices that arrived; a keymap notice makes the snapshot stale.
  void HandlePendingEvents();
  void HandleEvent(const _XEvent& event);
  // Re-reads the user's keymap and finds its spare keys; then rebuilds the layout.
  void FetchKeymap();
  // Fills the layout from the keymap for the active group, leaving out the spare keys.
  void RebuildLayout();
  // Offers the binder the spare keys and the levels the layout lets them have.
  void OfferSpareKeys(const std::vector<uint8_t>& keycodes);
  // The modifier keys that are down now (asks the server).
  std::vector<uint8_t> ModifierKeysDown();

  KeyOutputResult Lost() const;
  // Why the line cannot be typed, said before a key is sent; empty when it can be.
  std::string RefusalOf(const std::u32string& characters) const;
  // Sends the line's key events, the characters on spare keys bound as the plan says; true
  // when the server may refuse a request of the line.
  bool SendLine(std::span<const KeyEvent> events, const std::vector<SpareKeyBinder::Part>& parts);
  void SendKey(uint8_t keycode, bool pressed);
  // Types a character on its spare key: its level's modifiers, and Caps Lock let go of where
  // it would change the character.
  void SendSpareStroke(char32_t character, SpareSlot slot);
  void Bind(const SpareKeyBinder::Binding& binding);
  // Returns once the receiving program has read every key event sent so far (or it had the
  // time it is given), so that the levels typed with may be bound again.
  void Fence();
  // When a program that does not answer pings has had the time to read the keys sent.
  Clock::time_point SettledAt() const;
  PingAnswer PingReceiver();
  bool AwaitPong(long token, unsigned long target);
  // The window whose program answers pings for the focused window; 0 for none.
  unsigned long PingTarget();

  // Owns the display's _LINTREL_KEYBOARD unless another keyboard does; the owner releases
  // what a predecessor that was killed left.
  void ClaimDisplay();
  void ReleaseLeftovers();
  void EmptyRecordedKeys(std::span<const long> record);
  // Notes on the root window what is bound, for the next owner should this one be killed.
  void RecordBindings();
  // Gives every bound spare key back its emptiness.
  void ReleaseBoundKeycodes();

  _XDisplay* display_;
  // The display's name, for messages.
  std::string display_name_;
  // Type of every XKEYBOARD event on this connection.
  int xkb_event_base_;
  std::unique_ptr<Atoms> atoms_;
  std::unique_ptr<ServerKeymap> keymap_;
  bool keymap_stale_ = false;
  // The keys of the user's keymap that are spare (empty, or bound by this keyboard).
  std::bitset<256> spare_keys_;
  // The real modifier of the level-3 shift (AltGr).
  unsigned int level3_ = 0;
  LayoutKeymap layout_;
  SpareKeyBinder binder_;
  // The key type spare keys are bound with.
  int spare_type_ = 0;
  int group_ = 0;
  // The group the layout was filled for.
  int layout_group_ = 0;
  unsigned int base_modifiers_ = 0;
  unsigned int locked_modifiers_ = 0;
  // Caps Lock as the line being typed found it.
  bool line_caps_lock_ = false;
  Clock::time_point state_read_at_{};
  Clock::time_point last_key_sent_at_{};
  bool display_claimed_ = false;
  unsigned long claim_window_ = 0;
  long ping_count_ = 0;
  // Key events sent since the receiving program was last known to have read everything.
  long key_events_since_fence_ = 0;
  // Errors about these requests (the ping's) are expected and ignored.
  unsigned long harmless_serials_begin_ = 0;
  unsigned long harmless_serials_end_ = 0;
  std::string protocol_error_;
  unsigned long protocol_error_serial_ = 0;
  bool connection_lost_ = false;
};

}  // namespace lintrel::platform
