// The XTest keyboard typing into a window of the test's own on a private Xvfb display, which
// reads on a thread of its own as a toolkit program does: what it receives must be the text
// that was typed, on the us, de and fr keymaps, with Caps Lock off and on, for characters the
// keymap has and for those it lacks (however many), and the keymap must be as it was once
// the keyboard is gone.

#include "platform/posix/x11_keyboard.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Google Test before Xlib: Xlib's None macro would break gtest's internal::None.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "capture/keystroke_sender.h"
#include "common/utf8_text.h"
#include "platform/keyboard.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"
#include "support/child_process.h"
#include "support/test_texts.h"
#include "support/x_key_window.h"
#include "support/xvfb_server.h"

namespace lintrel::platform {
namespace {

using testing::kPrintableAscii;
using testing::ScopedEnvironment;
using namespace std::chrono_literals;

std::u32string Utf32(std::string_view utf8) {
  return DecodeUtf8({reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()});
}

std::string Utf8(std::u32string_view text) {
  std::string utf8;
  for (char32_t character : text) utf8 += EncodeUtf8(character);
  return utf8;
}

// `count` CJK characters from `first` on, none of which a European keymap has.
std::u32string Ideographs(char32_t first, int count) {
  std::u32string text;
  for (int i = 0; i < count; ++i) text += first + static_cast<char32_t>(i);
  return text;
}

class X11KeyboardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<lintrel::testing::XvfbServer>(90, "640x480x24");
    server_error_.clear();
    if (!server_->Start(&server_error_)) server_.reset();
  }

  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_NE(server_, nullptr) << server_error_;
    ASSERT_TRUE(SetLayout("us")) << "setxkbmap failed: install x11-xkb-utils and xkb-data";
    // The keyboard connects first, so that it is the first Xlib user of the process.
    OpenKeyboard();
    std::string error;
    window_ = lintrel::testing::XKeyWindow::Open(display_name(), {}, &error);
    ASSERT_NE(window_, nullptr) << error;
    control_ = XOpenDisplay(display_name().c_str());
    ASSERT_NE(control_, nullptr);
  }

  void TearDown() override {
    CloseKeyboard();
    window_.reset();
    if (control_ != nullptr) {
      SetCapsLock(false);
      XkbLockGroup(control_, XkbUseCoreKbd, 0);
      XCloseDisplay(control_);
    }
  }

  static const std::string& display_name() { return server_->display_name(); }

  // Loads a whole new keymap, as a user does with setxkbmap.
  static bool SetLayout(const std::string& layout) {
    return lintrel::testing::RunToEnd({"setxkbmap", "-display", display_name(), layout}).Succeeded();
  }

  void OpenKeyboard() {
    std::string error;
    keyboard_ = X11Keyboard::Open(display_name().c_str(), &error);
    ASSERT_NE(keyboard_, nullptr) << error;
    sender_ = std::make_unique<KeystrokeSender>(*keyboard_);
  }

  void CloseKeyboard() {
    sender_.reset();
    keyboard_.reset();
  }

  void Type(std::string_view line) { TypeLine(Utf32(line)); }
  void TypeLine(std::u32string_view line) {
    const LineOutcome outcome = sender_->TypeLine(line);
    EXPECT_TRUE(outcome.typed) << Utf8(line) << ": " << outcome.reason;
  }

  // Everything the window received since the last call. Escape marks the end: it is typed
  // last, through the same keyboard, so every earlier key has arrived when it does.
  std::optional<std::string> TypedText() { return TypedText(*sender_); }
  std::optional<std::string> TypedText(KeystrokeSender& sender) {
    sender.TypeLine(U"\x1b");
    return window_->TextUntilEscape();
  }

  void SetCapsLock(bool on) {
    XkbLockModifiers(control_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(control_, False);
  }

  // The server's whole keymap as the core protocol describes it.
  std::vector<KeySym> CoreKeymap() {
    int min_keycode = 0;
    int max_keycode = 0;
    XDisplayKeycodes(control_, &min_keycode, &max_keycode);
    int per_keycode = 0;
    KeySym* symbols = XGetKeyboardMapping(control_, static_cast<KeyCode>(min_keycode), max_keycode - min_keycode + 1,
                                          &per_keycode);
    std::vector<KeySym> keymap(symbols, symbols + (max_keycode - min_keycode + 1) * per_keycode);
    XFree(symbols);
    return keymap;
  }

  // The keycodes that have the character on a level of their first group, lowest first, as
  // the server has them now; for 0, the empty keycodes.
  std::vector<int> KeycodesOf(char32_t character) {
    std::vector<int> keycodes;
    XkbDescPtr map = XkbGetMap(control_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    const KeySym keysym = character < 0x100 ? character : 0x01000000 + character;
    for (int keycode = map->min_key_code; keycode <= map->max_key_code; ++keycode) {
      const int levels = XkbKeyNumGroups(map, keycode) == 0 ? 0 : XkbKeyGroupWidth(map, keycode, 0);
      bool found = character == 0 && levels == 0;
      for (int level = 0; level < levels; ++level) found = found || XkbKeySymEntry(map, keycode, level, 0) == keysym;
      if (found) keycodes.push_back(keycode);
    }
    XkbFreeKeyboard(map, XkbAllComponentsMask, True);
    return keycodes;
  }

  // Gives a keycode the symbols of its first two levels, as another program would.
  void SetKey(int keycode, std::vector<KeySym> levels) {
    XChangeKeyboardMapping(control_, keycode, static_cast<int>(levels.size()), levels.data(), 1);
    XSync(control_, False);
  }

  bool KeyDown(int keycode) {
    char keys[32] = {};
    XQueryKeymap(control_, keys);
    return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
  }

  static inline std::unique_ptr<lintrel::testing::XvfbServer> server_;
  static inline std::string server_error_;

  std::unique_ptr<X11Keyboard> keyboard_;
  std::unique_ptr<KeystrokeSender> sender_;
  std::unique_ptr<lintrel::testing::XKeyWindow> window_;
  // The test's own connection, for what another program or the user does.
  Display* control_ = nullptr;
};

// Per keymap: every printable ASCII character, characters of its AltGr level and
// characters it lacks, with Caps Lock off and on; then the keymap must be as it was.
TEST_F(X11KeyboardTest, EveryCharacterArrivesOnEachKeymapWithCapsLockOffAndOn) {
  struct Case {
    const char* layout;
    std::string extra;  // AltGr characters of the layout, and characters it lacks
  };
  const Case cases[] = {
      {"us", "é€Ω"},
      {"de", "@€{[]}\\~|µ äöüß ÄÖÜ Ω"},
      {"fr", "@#{[|`\\^]}€ éèçà ù Ω"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    ASSERT_TRUE(SetLayout(c.layout));
    const std::vector<KeySym> keymap_before = CoreKeymap();
    for (const bool caps_lock : {false, true}) {
      SCOPED_TRACE(caps_lock ? "Caps Lock on" : "Caps Lock off");
      SetCapsLock(caps_lock);
      const std::string line = std::string(kPrintableAscii) + " SN-Ab12cD " + c.extra;
      Type(line);
      EXPECT_EQ(TypedText(), line);
    }
    SetCapsLock(false);
    // The bindings of spare keycodes are undone when the keyboard goes.
    CloseKeyboard();
    EXPECT_EQ(CoreKeymap(), keymap_before);
    OpenKeyboard();
  }
}

// A keymap loaded the moment before a line is in force for it: the notices the server has
// sent are taken in before the line's keys are chosen.
TEST_F(X11KeyboardTest, ALineRightAfterANewKeymapIsTypedWithIt) {
  for (int round = 0; round < 18; ++round) {
    const char* layout = round % 2 == 0 ? "de" : "fr";
    SCOPED_TRACE(layout);
    ASSERT_TRUE(SetLayout(layout));
    Type("yz-;Q");
    EXPECT_EQ(TypedText(), "yz-;Q");
  }
}

// Another program binds a key to a character, then takes it away, then takes a key this
// keyboard bound: each change is in force for the next line.
TEST_F(X11KeyboardTest, KeysAnotherProgramChangesAreFollowed) {
  Type("é");
  ASSERT_EQ(TypedText(), "é");
  const std::vector<int> bound = KeycodesOf(U'é');
  ASSERT_EQ(bound.size(), 1u) << "é is typed on one spare key";

  // A key of the keymap now types è: it is typed with it, on no spare key.
  std::vector<int> empty = KeycodesOf(0);
  std::erase(empty, 255);
  ASSERT_FALSE(empty.empty());
  SetKey(empty.back(), {XK_egrave, XK_Egrave});
  Type("èÈ");
  EXPECT_EQ(TypedText(), "èÈ");
  EXPECT_EQ(KeycodesOf(U'è'), std::vector<int>{empty.back()});

  // The other program takes è away again and takes é's spare key for ü.
  SetKey(empty.back(), {NoSymbol});
  SetKey(bound[0], {XK_udiaeresis, XK_Udiaeresis});
  Type("èéü");
  EXPECT_EQ(TypedText(), "èéü");
  EXPECT_EQ(KeycodesOf(U'ü'), std::vector<int>{bound[0]}) << "the other program's key stays as it set it";
  CloseKeyboard();
  EXPECT_EQ(KeycodesOf(U'ü'), std::vector<int>{bound[0]}) << "and is not given back as a spare key";
  SetKey(bound[0], {NoSymbol});
}

// A line of 200 distinct characters no key types arrives whole, although the keymap has
// room for fewer: it goes in parts, each bound once the window's program, slow to read, has
// answered a ping sent after the part before. Keycode 255 is never bound.
TEST_F(X11KeyboardTest, TwoHundredCharactersOutsideTheKeymapArriveWholeAtASlowReader) {
  CloseKeyboard();
  window_.reset();
  lintrel::testing::XKeyWindowOptions slow;
  slow.pause_per_event = 200us;
  std::string error;
  OpenKeyboard();
  window_ = lintrel::testing::XKeyWindow::Open(display_name(), slow, &error);
  ASSERT_NE(window_, nullptr) << error;
  const std::vector<KeySym> keymap_before = CoreKeymap();
  const bool key_255_empty = std::ranges::count(KeycodesOf(0), 255) == 1;
  const std::u32string line = Ideographs(U'一', 200) + U"ab";
  TypeLine(line);
  EXPECT_EQ(TypedText(), Utf8(line));
  EXPECT_GE(window_->PingsAnswered(), 2) << "more than one part";
  EXPECT_EQ(KeycodesOf(U'一' + 199).size(), 1u);
  EXPECT_EQ(std::ranges::count(KeycodesOf(0), 255) == 1, key_255_empty) << "keycode 255 is never bound";
  CloseKeyboard();
  EXPECT_EQ(CoreKeymap(), keymap_before);
}

// Characters bound by earlier lines are found again: 20 lines of one new character each,
// then one line of all 20 in reverse order; then lines of more new characters than the
// keymap has room for, which take the keys used longest ago, and a line of the first ones.
TEST_F(X11KeyboardTest, SpareKeysAreReusedAcrossLinesAndTheOldestGiveWay) {
  const std::u32string twenty = Ideographs(U'丁', 20);
  for (char32_t character : twenty) {
    TypeLine(std::u32string(1, character));
    EXPECT_EQ(TypedText(), EncodeUtf8(character));
  }
  const std::u32string reversed(twenty.rbegin(), twenty.rend());
  TypeLine(reversed);
  EXPECT_EQ(TypedText(), Utf8(reversed));

  for (int line = 0; line < 4; ++line) {
    const std::u32string fresh = Ideographs(U'乀' + static_cast<char32_t>(30 * line), 30);
    TypeLine(fresh);
    EXPECT_EQ(TypedText(), Utf8(fresh));
  }
  const std::u32string again = twenty.substr(0, 5) + Ideographs(U'乀' + 119, 1) + U"z";
  TypeLine(again);
  EXPECT_EQ(TypedText(), Utf8(again));
}

// With the second group of a us,ru keymap active, Cyrillic comes from its keys and the
// Latin letters it lacks from spare keys, whose one group serves every group.
TEST_F(X11KeyboardTest, TheActiveGroupIsTypedAndWhatItLacksGoesOnSpareKeys) {
  ASSERT_TRUE(lintrel::testing::RunToEnd({"setxkbmap", "-display", display_name(), "-layout", "us,ru"}).Succeeded());
  XkbLockGroup(control_, XkbUseCoreKbd, 1);
  XSync(control_, False);
  Type("Жук zoo 丁");
  EXPECT_EQ(TypedText(), "Жук zoo 丁");
  XkbLockGroup(control_, XkbUseCoreKbd, 0);
  XSync(control_, False);
  Type("Жук zoo");
  EXPECT_EQ(TypedText(), "Жук zoo");
}

// Keycode 255 stands for no key: a character only it carries is typed on a spare key.
TEST_F(X11KeyboardTest, Keycode255IsNeverUsed) {
  SetKey(255, {XK_ecircumflex, XK_Ecircumflex});
  CloseKeyboard();
  OpenKeyboard();
  Type("ê");
  EXPECT_EQ(TypedText(), "ê");
  const std::vector<int> keys = KeycodesOf(U'ê');
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NE(keys[0], 255) << "ê went on a spare key below 255";
  SetKey(255, {NoSymbol});
}

// A line that cannot be typed whole is refused with its reason before a key is sent: a
// character X has no keysym for, or a keymap without a spare key.
TEST_F(X11KeyboardTest, ALineThatCannotBeTypedWholeIsRefusedBeforeAKeyIsSent) {
  const LineOutcome noncharacter = sender_->TypeLine(U"ab\uFFFE");
  EXPECT_FALSE(noncharacter.typed);
  EXPECT_EQ(noncharacter.reason, "no X keysym for U+FFFE");
  // Paced, the line reaches the keyboard a key at a time, and is refused before its first.
  KeystrokeSender paced(*keyboard_, [](std::chrono::milliseconds) { return true; });
  const LineOutcome paced_noncharacter = paced.TypeLine(U"ab\uFFFE", {.key_delay = std::chrono::milliseconds(1)});
  EXPECT_FALSE(paced_noncharacter.typed);
  EXPECT_EQ(paced_noncharacter.reason, "no X keysym for U+FFFE");

  std::vector<int> empty = KeycodesOf(0);
  std::erase(empty, 255);
  for (int keycode : empty) SetKey(keycode, {XK_F35});
  CloseKeyboard();
  OpenKeyboard();
  const LineOutcome no_spare_key = sender_->TypeLine(U"ab丁丁");
  EXPECT_FALSE(no_spare_key.typed);
  EXPECT_EQ(no_spare_key.reason, "no key for \"丁\" in the X keymap, and no spare key to bind one to");
  EXPECT_EQ(TypedText(), "") << "not a key of either line";
  for (int keycode : empty) SetKey(keycode, {NoSymbol});
}

TEST_F(X11KeyboardTest, ControlCharactersTypeBareKeysNeverCtrl) {
  struct Case {
    const char* layout;
    std::string line;
    std::string typed;
  };
  const Case cases[] = {
      {"us", "12\r34", "12\r34"},  // CR is Return
      {"us", "ab\tcd", "ab\tcd"},  // Tab
      {"us", "xy\bz", "xy\bz"},    // Backspace
      // Ctrl+letter on a US keyboard: the bare letter key (ETX the C key), Ctrl is never held.
      {"us", "\x01-\x1a \x03", "a-z c"},
      {"us", "\x1d\x1e", "]6"},
      // On a German keymap SUB is the key that types z; GS, whose ] needs AltGr, has none.
      {"de", "\x1a\x1d.", "z."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.line));
    ASSERT_TRUE(SetLayout(c.layout));
    Type(c.line);
    EXPECT_EQ(TypedText(), c.typed);
  }
}

// Stroke by stroke, as a paced line goes, with Caps Lock on: a character on a spare key
// that Caps Lock would change is typed with it let go of, and it is on again afterwards.
TEST_F(X11KeyboardTest, APacedLineUnderCapsLockLeavesCapsLockOn) {
  SetCapsLock(true);
  KeystrokeSender paced(*keyboard_, [](std::chrono::milliseconds delay) {
    std::this_thread::sleep_for(delay);
    return true;
  });
  const std::u32string line = U"aé丁Éb";
  EXPECT_TRUE(paced.TypeLine(line, {.key_delay = 1ms, .line_delay = 0ms}).typed);
  EXPECT_EQ(TypedText(), Utf8(line));
  XkbStateRec state{};
  XkbGetState(control_, XkbUseCoreKbd, &state);
  EXPECT_NE(state.locked_mods & LockMask, 0);
}

// Shift held down by another client, as a user's key would be: the line is typed with it
// released around the line, and it is down again afterwards.
TEST_F(X11KeyboardTest, AHeldShiftIsReleasedAroundTheLineAndPressedAgain) {
  const KeyCode shift = XKeysymToKeycode(control_, XK_Shift_L);
  XTestFakeKeyEvent(control_, shift, True, CurrentTime);
  XSync(control_, False);
  // Lines that follow each other closer than this share the keyboard's look at the server.
  std::this_thread::sleep_for(X11Keyboard::kStateReuse);
  Type("ab1");
  EXPECT_EQ(TypedText(), "ab1");
  EXPECT_TRUE(KeyDown(shift)) << "Shift is down again";
  XTestFakeKeyEvent(control_, shift, False, CurrentTime);
  XSync(control_, False);
}

TEST_F(X11KeyboardTest, LineFromAnotherThreadFollowsTheFirst) {
  Type("first line;");
  std::thread other_reader([this] { Type("SECOND line"); });
  other_reader.join();
  EXPECT_EQ(TypedText(), "first line;SECOND line");
}

// An X error is reported with the line that caused it, not by ending the process as
// Xlib's own handler does.
TEST_F(X11KeyboardTest, AnXErrorFailsItsLineAndTypingGoesOn) {
  // Keycode 7 lies below the lowest keycode of every X server: the server answers BadValue.
  const KeyEvent below_every_key[] = {{7, true}, {7, false}};
  const KeyOutputResult result = keyboard_->TypeKeys(below_every_key);
  EXPECT_NE(result.error.find("BadValue"), std::string::npos) << result.error;
  EXPECT_FALSE(result.output_lost);
  EXPECT_EQ(keyboard_->TypeKeys({}).error, "") << "reported once";
  Type("still typing");
  EXPECT_EQ(TypedText(), "still typing");
}

// A keyboard killed in the middle of its work (SIGKILL) leaves keys pressed at the server
// and spare keys bound; the next one on the display releases both, but not a key that
// another program has changed since.
TEST_F(X11KeyboardTest, TheNextKeyboardReleasesWhatAKilledOneLeft) {
  CloseKeyboard();
  std::string error;
  const std::string link = "/tmp/lintrel-x11-test-" + std::to_string(getpid());
  std::unique_ptr<VirtualSerialDevice> device = VirtualSerialDevice::Create(link, &error);
  ASSERT_NE(device, nullptr) << error;
  ScopedEnvironment display("DISPLAY", display_name().c_str());
  lintrel::testing::ChildProcess cli(LINTREL_CLI_PATH, {"--port", "COM1=" + device->DevicePath(), "--keys", "x11"});
  ASSERT_TRUE(cli.WaitForErr("connected")) << cli.Describe();
  const std::string line = "丁丂七\x1b\r";
  ASSERT_TRUE(device->Write({reinterpret_cast<const uint8_t*>(line.data()), line.size()}));
  ASSERT_EQ(window_->TextUntilEscape(), "丁丂七");
  ASSERT_TRUE(cli.Signal(SIGKILL));
  cli.WaitForExit();
  ASSERT_EQ(KeycodesOf(U'丁').size(), 1u) << "the killed program's binding is still there";
  // Another program takes one of them; an XTest client that is gone left Shift and q down.
  const int taken = KeycodesOf(U'丂').at(0);
  SetKey(taken, {XK_udiaeresis});
  const KeyCode shift = XKeysymToKeycode(control_, XK_Shift_L);
  const KeyCode q = XKeysymToKeycode(control_, XK_q);
  Display* killed = XOpenDisplay(display_name().c_str());
  ASSERT_NE(killed, nullptr);
  XTestFakeKeyEvent(killed, shift, True, CurrentTime);
  XTestFakeKeyEvent(killed, q, True, CurrentTime);
  XCloseDisplay(killed);
  ASSERT_TRUE(KeyDown(shift) && KeyDown(q));

  OpenKeyboard();
  EXPECT_FALSE(KeyDown(shift));
  EXPECT_FALSE(KeyDown(q));
  EXPECT_TRUE(KeycodesOf(U'丁').empty());
  EXPECT_TRUE(KeycodesOf(U'七').empty());
  EXPECT_EQ(KeycodesOf(U'ü'), std::vector<int>{taken});
  SetKey(taken, {NoSymbol});
  Type("q");
  // The program's Return, the gone client's q with Shift down, and the line.
  EXPECT_EQ(TypedText(), "\rQq");
}

// --keys x11, and --keys auto outside a Wayland session, type on the display in $DISPLAY.
TEST_F(X11KeyboardTest, SystemKeyboardsX11AndAutoTypeOnTheDisplayInDisplay) {
  ScopedEnvironment display("DISPLAY", display_name().c_str());
  ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
  ScopedEnvironment session("XDG_SESSION_TYPE", "x11");
  for (const auto& [name, expected_choice] : {std::pair{"x11", "x11"}, std::pair{"auto", "x11 (an X display)"}}) {
    SCOPED_TRACE(name);
    std::string error;
    std::string chosen;
    std::unique_ptr<Keyboard> system_keyboard = OpenSystemKeyboard({.name = name, .layout = ""}, &error, &chosen);
    ASSERT_NE(system_keyboard, nullptr) << error;
    EXPECT_EQ(chosen, expected_choice);

    KeystrokeSender sender(*system_keyboard);
    sender.TypeLine(U"Via $DISPLAY");
    EXPECT_EQ(TypedText(sender), "Via $DISPLAY");
  }
}

// Without a Wayland session, auto takes the virtual keyboard when the X display cannot be
// opened, and says why. Under Wayland XTest would reach only the programs that run under
// Xwayland: auto takes the virtual keyboard even with an X display at hand. There is no
// /dev/uinput here, so opening it fails, with what to do about it.
TEST_F(X11KeyboardTest, AutoTakesTheVirtualKeyboardWithoutAnXDisplayOrUnderWayland) {
  ASSERT_TRUE(lintrel::testing::DisplayIsFree(4711));
  struct Case {
    std::string display;
    std::optional<std::string> wayland;
    std::string chosen;
  };
  const Case cases[] = {
      {":4711", std::nullopt, "uinput (x11: cannot open X display \":4711\""},
      {display_name(), "wayland-0", "uinput (a Wayland session)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    ScopedEnvironment display("DISPLAY", c.display.c_str());
    ScopedEnvironment wayland("WAYLAND_DISPLAY", c.wayland);
    ScopedEnvironment session("XDG_SESSION_TYPE", std::nullopt);
    std::string error;
    std::string chosen;
    std::unique_ptr<Keyboard> keyboard = OpenSystemKeyboard({.name = "auto", .layout = "de"}, &error, &chosen);
    EXPECT_EQ(chosen.rfind(c.chosen, 0), 0u) << chosen;
    if (keyboard == nullptr) {
      EXPECT_NE(error.find("/dev/uinput"), std::string::npos) << error;
    }
  }
}

TEST(X11KeyboardOpenTest, MissingDisplayGivesNullAndNamesTheDisplay) {
  ASSERT_TRUE(lintrel::testing::DisplayIsFree(4711));
  std::string error;
  EXPECT_EQ(X11Keyboard::Open(":4711", &error), nullptr);
  EXPECT_NE(error.find("\":4711\""), std::string::npos) << error;
}

TEST(X11KeyboardOpenTest, UnsetDisplaySaysSo) {
  ScopedEnvironment display("DISPLAY", std::nullopt);
  std::string error;
  EXPECT_EQ(X11Keyboard::Open(nullptr, &error), nullptr);
  EXPECT_NE(error.find("DISPLAY is not set"), std::string::npos) << error;
}

TEST(SystemKeyboardTest, UnknownNameGivesNullAndListsTheKnownNames) {
  EXPECT_EQ(SystemKeyboardNames(), (std::vector<std::string>{"auto", "x11", "uinput"}));
  std::string error;
  std::string chosen;
  EXPECT_EQ(OpenSystemKeyboard({.name = "wayland", .layout = ""}, &error, &chosen), nullptr);
  EXPECT_NE(error.find("wayland"), std::string::npos) << error;
  EXPECT_NE(error.find("x11"), std::string::npos) << error;
}

}  // namespace
}  // namespace lintrel::platform
