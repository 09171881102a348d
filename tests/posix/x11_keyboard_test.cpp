// The XTest keyboard typing into a window of the test's own on a private Xvfb display: what
// the window receives, read back with XLookupString, must be the text that was typed.

#include "platform/posix/x11_keyboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "capture/keystroke_sender.h"
#include "platform/keyboard.h"
#include "support/xvfb_server.h"

namespace lintrel::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Safety net against hangs only; nothing here is expected to take more than a moment.
constexpr auto kSafetyTimeout = 10s;

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Gives a key that carries no symbols the given group-1 levels (plain, Shift, AltGr,
// AltGr+Shift, ...) for the life of the object. The server's keymap is shared by every
// test, so the key is emptied again at the end.
class TemporaryKey {
 public:
  TemporaryKey(Display* display, int keycode, std::vector<KeySym> levels)
      : display_(display), keycode_(keycode) {
    if (levels.size() <= 2) {
      // The core request suffices for two levels (XkbChangeTypesOfKey crashes on keycode
      // 255 in this libX11).
      XChangeKeyboardMapping(display_, keycode_, static_cast<int>(levels.size()), levels.data(), 1);
    } else {
      // The server reads core columns past the fourth as further groups, so a third level
      // takes XKEYBOARD.
      SetXkbLevels(levels);
    }
    XSync(display_, False);
  }
  ~TemporaryKey() {
    KeySym no_symbol = NoSymbol;
    XChangeKeyboardMapping(display_, keycode_, 1, &no_symbol, 1);
    XSync(display_, False);
  }
  TemporaryKey(const TemporaryKey&) = delete;
  TemporaryKey& operator=(const TemporaryKey&) = delete;

 private:
  void SetXkbLevels(const std::vector<KeySym>& levels) {
    XkbDescPtr keymap = XkbGetMap(display_, XkbAllClientInfoMask, XkbUseCoreKbd);
    int type = TypeWithLevels(keymap, static_cast<int>(levels.size()));
    EXPECT_GE(type, 0) << "the keymap has no key type with " << levels.size() << " levels";
    if (type >= 0) {
      XkbMapChangesRec changes{};
      XkbChangeTypesOfKey(keymap, keycode_, 1, XkbGroup1Mask, &type, &changes);
      KeySym* symbols = XkbResizeKeySyms(keymap, keycode_, static_cast<int>(levels.size()));
      std::copy(levels.begin(), levels.end(), symbols);
      changes.changed |= XkbKeySymsMask;
      changes.first_key_sym = static_cast<KeyCode>(keycode_);
      changes.num_key_syms = 1;
      XkbChangeMap(display_, keymap, &changes);
    }
    XkbFreeKeyboard(keymap, XkbAllComponentsMask, True);
  }

  static int TypeWithLevels(XkbDescPtr keymap, int levels) {
    for (int type = 0; type < keymap->map->num_types; ++type) {
      if (keymap->map->types[type].num_levels == levels) return type;
    }
    return -1;
  }

  Display* display_;
  int keycode_;
};

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
    std::string error;
    // The keyboard connects first, so that it is the first Xlib user of the process.
    keyboard_ = X11Keyboard::Open(display_name().c_str(), &error);
    ASSERT_NE(keyboard_, nullptr) << error;
    sender_ = std::make_unique<KeystrokeSender>(*keyboard_);

    viewer_ = XOpenDisplay(display_name().c_str());
    ASSERT_NE(viewer_, nullptr) << "cannot open " << display_name() << " for the test window";
    window_ = XCreateSimpleWindow(viewer_, DefaultRootWindow(viewer_), 0, 0, 320, 200, 0, 0, 0);
    XSelectInput(viewer_, window_, KeyPressMask | StructureNotifyMask);
    XMapWindow(viewer_, window_);
    XEvent event;
    do {
      ASSERT_TRUE(NextEvent(&event)) << "the test window was never mapped";
    } while (event.type != MapNotify);
    XSetInputFocus(viewer_, window_, RevertToParent, CurrentTime);
    XSync(viewer_, False);
  }

  void TearDown() override {
    sender_.reset();
    keyboard_.reset();
    if (viewer_ != nullptr) {
      XDestroyWindow(viewer_, window_);
      XCloseDisplay(viewer_);
    }
  }

  static const std::string& display_name() { return server_->display_name(); }

  void Type(std::string_view line) { EXPECT_TRUE(sender_->TypeLine(Bytes(line)).typed) << line; }

  // Everything typed since the last call, read from the window's KeyPress events. Escape
  // marks the end: it is typed last, through the same keyboard, so every earlier key has
  // arrived when it does. Null if the marker never comes.
  std::optional<std::string> TypedText() { return TypedText(*sender_); }

  std::optional<std::string> TypedText(KeystrokeSender& sender) {
    sender.TypeLine(Bytes("\x1b"));
    std::string text;
    XEvent event;
    while (NextEvent(&event)) {
      if (event.type != KeyPress) continue;
      char buffer[16];
      KeySym keysym = NoSymbol;
      int length = XLookupString(&event.xkey, buffer, sizeof buffer, &keysym, nullptr);
      if (keysym == XK_Escape) return text;
      text.append(buffer, length);
    }
    return std::nullopt;
  }

  // Keeps letting the keyboard look at its events until it maps the character to a key
  // (or to no key): the keymap change reaches it asynchronously.
  bool KeyboardMapsTo(uint8_t character, uint8_t key_code) {
    Clock::time_point deadline = Clock::now() + kSafetyTimeout;
    while (Clock::now() < deadline) {
      keyboard_->TypeKeys({});  // an empty line: the keyboard looks at its events
      if (keyboard_->Map(character).key_code == key_code) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // The keycodes below 255 that carry no symbol at all, lowest first.
  std::vector<int> UnusedKeycodes() {
    XkbDescPtr keymap = XkbGetMap(viewer_, XkbAllClientInfoMask, XkbUseCoreKbd);
    std::vector<int> unused;
    int last_keycode = std::min<int>(keymap->max_key_code, kNoKey - 1);
    for (int keycode = keymap->min_key_code; keycode <= last_keycode; ++keycode) {
      if (XkbKeyNumGroups(keymap, keycode) == 0) unused.push_back(keycode);
    }
    XkbFreeKeyboard(keymap, XkbAllComponentsMask, True);
    return unused;
  }

  // The next event of the test window's connection; false after the safety time-out.
  bool NextEvent(XEvent* event) {
    Clock::time_point deadline = Clock::now() + kSafetyTimeout;
    while (XPending(viewer_) == 0) {
      auto remaining =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (remaining <= 0ms) return false;
      pollfd connection{ConnectionNumber(viewer_), POLLIN, 0};
      poll(&connection, 1, static_cast<int>(remaining.count()));
    }
    XNextEvent(viewer_, event);
    return true;
  }

  static inline std::unique_ptr<lintrel::testing::XvfbServer> server_;
  static inline std::string server_error_;

  std::unique_ptr<X11Keyboard> keyboard_;
  std::unique_ptr<KeystrokeSender> sender_;
  Display* viewer_ = nullptr;
  Window window_ = 0;
};

TEST_F(X11KeyboardTest, TypesPrintableAsciiAsWritten) {
  const std::vector<std::string> lines = {
      "abcdefghijklmnopqrstuvwxyz",
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
      "0123456789",
      "!@#$%^&*()_+{}|:\"<>?~",
      "`-=[]\\;',./",
      "  Mixed Case 4711, with spaces  ",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    Type(line);
    EXPECT_EQ(TypedText(), line);
  }
}

TEST_F(X11KeyboardTest, ControlCharactersTypeTheKeysOfAUsWindowsKeyboard) {
  struct Case {
    std::string line;
    std::string typed;
  };
  const std::vector<Case> cases = {
      {"12\r34", "12\r34"},  // CR is Return
      {"ab\tcd", "ab\tcd"},  // Tab
      {"xy\bz", "xy\bz"},    // Backspace
      // Ctrl+letter: only Shift is ever held, so the bare letter key arrives.
      {"\x01-\x1a", "a-z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.line));
    Type(c.line);
    EXPECT_EQ(TypedText(), c.typed);
  }
}

TEST_F(X11KeyboardTest, LineFromAnotherThreadFollowsTheFirst) {
  Type("first line;");
  std::thread other_reader([this] { Type("SECOND line"); });
  other_reader.join();
  EXPECT_EQ(TypedText(), "first line;SECOND line");
}

TEST_F(X11KeyboardTest, CharacterWithoutAKeyTypesNothingAndTheRestOfTheLineArrives) {
  // Neither é nor a C1 control character has a key in the server's default US keymap.
  for (uint8_t character : {uint8_t{0xE9}, uint8_t{0x80}}) {
    KeyMapping mapping = keyboard_->Map(character);
    EXPECT_EQ(mapping.key_code, kNoKey) << static_cast<int>(character);
    EXPECT_EQ(mapping.shift_state, kNoKey) << static_cast<int>(character);
  }
  Type("ab\xE9" "cd\x80" "ef");
  EXPECT_EQ(TypedText(), "abcdef");
}

TEST_F(X11KeyboardTest, KeycodeOfNoKeyIsNeverUsedEvenWhenTheServerHasIt) {
  std::vector<int> unused = UnusedKeycodes();
  ASSERT_FALSE(unused.empty()) << "the server has no free keycode";
  int max_keycode = 0;
  int min_keycode = 0;
  XDisplayKeycodes(viewer_, &min_keycode, &max_keycode);
  ASSERT_EQ(max_keycode, kNoKey);

  // Keycode 255 carries é; é must still have no key, and typing it must send nothing.
  TemporaryKey on_no_key(viewer_, kNoKey, {XK_eacute, XK_Eacute});
  TemporaryKey marker(viewer_, unused.back(), {XK_ecircumflex});
  ASSERT_TRUE(KeyboardMapsTo(0xEA, static_cast<uint8_t>(unused.back())));
  EXPECT_EQ(keyboard_->Map(0xE9).key_code, kNoKey);
  EXPECT_EQ(keyboard_->Map(0xE9).shift_state, kNoKey);
  Type("a\xE9" "b");
  EXPECT_EQ(TypedText(), "ab");
}

TEST_F(X11KeyboardTest, ShiftedCharacterSharesTheKeyOfItsPlainCharacter) {
  const std::vector<std::pair<char, char>> pairs = {
      {'a', 'A'}, {'z', 'Z'}, {'1', '!'}, {'2', '@'}, {'[', '{'},
      {';', ':'}, {'\'', '"'}, {'`', '~'}, {'-', '_'}, {'/', '?'},
  };
  for (auto [plain, shifted] : pairs) {
    SCOPED_TRACE((std::string{plain, ' ', shifted}));
    KeyMapping plain_key = keyboard_->Map(static_cast<uint8_t>(plain));
    KeyMapping shifted_key = keyboard_->Map(static_cast<uint8_t>(shifted));
    EXPECT_NE(plain_key.key_code, kNoKey);
    EXPECT_EQ(plain_key.shift_state, 0);
    EXPECT_EQ(shifted_key.key_code, plain_key.key_code);
    EXPECT_EQ(shifted_key.shift_state, kShiftStateShift);
  }
  EXPECT_EQ(XkbKeycodeToKeysym(viewer_, keyboard_->ShiftKey(), 0, 0), XK_Shift_L);
}

TEST_F(X11KeyboardTest, FollowsKeymapChanges) {
  std::vector<int> unused = UnusedKeycodes();
  ASSERT_FALSE(unused.empty()) << "the server has no free keycode";
  int keycode = unused.back();
  {
    TemporaryKey accented(viewer_, keycode, {XK_eacute, XK_Eacute});
    ASSERT_TRUE(KeyboardMapsTo(0xE9, static_cast<uint8_t>(keycode)));
    EXPECT_EQ(keyboard_->Map(0xE9).shift_state, 0);
    EXPECT_EQ(keyboard_->Map(0xC9).key_code, keycode);
    EXPECT_EQ(keyboard_->Map(0xC9).shift_state, kShiftStateShift);

    // XLookupString reports Latin-1.
    Type("caf\xE9 \xC9t\xE9");
    EXPECT_EQ(TypedText(), "caf\xE9 \xC9t\xE9");
  }
  EXPECT_TRUE(KeyboardMapsTo(0xE9, kNoKey)) << "the key was taken away again";
}

TEST_F(X11KeyboardTest, PrefersPlainThenShiftThenAltGrThenTheLowestKeycode) {
  std::vector<int> unused = UnusedKeycodes();
  ASSERT_GE(unused.size(), 3u) << "the server has too few free keycodes";
  int lowest = unused[0];
  KeyMapping plain_x = keyboard_->Map('x');
  KeyMapping shifted_tilde = keyboard_->Map('~');
  ASSERT_EQ(plain_x.shift_state, 0);
  ASSERT_EQ(shifted_tilde.shift_state, kShiftStateShift);
  ASSERT_LT(lowest, plain_x.key_code);
  ASSERT_LT(lowest, shifted_tilde.key_code);

  // A key below every other one: nothing plain, x with Shift, é with AltGr, ~ with
  // AltGr+Shift. Then é with Shift on two higher keys.
  TemporaryKey alt_gr(viewer_, lowest, {XK_F20, XK_x, XK_eacute, XK_asciitilde});
  ASSERT_TRUE(KeyboardMapsTo(0xE9, static_cast<uint8_t>(lowest)));
  EXPECT_EQ(keyboard_->Map(0xE9).shift_state, 6) << "AltGr is Ctrl+Alt";
  EXPECT_EQ(keyboard_->Map('x').key_code, plain_x.key_code) << "plain beats Shift";
  EXPECT_EQ(keyboard_->Map('x').shift_state, 0);
  EXPECT_EQ(keyboard_->Map('~').key_code, shifted_tilde.key_code) << "Shift beats AltGr";
  EXPECT_EQ(keyboard_->Map('~').shift_state, kShiftStateShift);

  TemporaryKey higher_shifted(viewer_, unused[2], {XK_F21, XK_eacute});
  ASSERT_TRUE(KeyboardMapsTo(0xE9, static_cast<uint8_t>(unused[2]))) << "Shift beats AltGr";
  TemporaryKey lower_shifted(viewer_, unused[1], {XK_F22, XK_eacute});
  EXPECT_TRUE(KeyboardMapsTo(0xE9, static_cast<uint8_t>(unused[1]))) << "lowest keycode first";
  EXPECT_EQ(keyboard_->Map(0xE9).shift_state, kShiftStateShift);
}

// An X error is reported with a line, not by ending the process as Xlib's own handler does.
TEST_F(X11KeyboardTest, AnXErrorFailsALineAndTypingGoesOn) {
  // Keycode 7 lies below the lowest keycode of every X server: the server answers BadValue.
  const KeyEvent below_every_key[] = {{7, true}, {7, false}};
  KeyOutputResult result = keyboard_->TypeKeys(below_every_key);
  // The error comes back after the request, at the latest with a later line.
  const Clock::time_point deadline = Clock::now() + kSafetyTimeout;
  while (result.error.empty() && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    result = keyboard_->TypeKeys({});
  }
  EXPECT_NE(result.error.find("BadValue"), std::string::npos) << result.error;
  EXPECT_FALSE(result.output_lost);
  EXPECT_EQ(keyboard_->TypeKeys({}).error, "") << "reported once";
  Type("still typing");
  EXPECT_EQ(TypedText(), "still typing");
}

// Runs setxkbmap against the test display, which loads a whole new keymap.
bool SetLayout(const std::string& display, const char* layout) {
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execlp("setxkbmap", "setxkbmap", "-display", display.c_str(), layout,
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

TEST_F(X11KeyboardTest, FollowsANewKeymap) {
  KeyMapping us_y = keyboard_->Map('y');
  KeyMapping us_z = keyboard_->Map('z');
  ASSERT_TRUE(SetLayout(display_name(), "de"))
      << "setxkbmap failed: install x11-xkb-utils and xkb-data";
  // A German keyboard swaps Y and Z.
  EXPECT_TRUE(KeyboardMapsTo('y', us_z.key_code));
  EXPECT_EQ(keyboard_->Map('z').key_code, us_y.key_code);
  Type("zy");
  EXPECT_EQ(TypedText(), "zy");
  EXPECT_TRUE(SetLayout(display_name(), "us"));
  EXPECT_TRUE(KeyboardMapsTo('y', us_y.key_code));
}

TEST_F(X11KeyboardTest, ControlCharacterKeepsTheModifiersOfAUsWindowsKeyboard) {
  struct Case {
    uint8_t character;
    KeySym keysym;
    uint8_t shift_state;
  };
  const std::vector<Case> cases = {
      {'\r', XK_Return, 0},
      {'\t', XK_Tab, 0},
      {0x01, XK_a, 2},          // Ctrl+A
      {0x1E, XK_6, 3},          // Ctrl+Shift+6
      {0x7F, XK_BackSpace, 2},  // Ctrl+Backspace
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.character));
    KeyMapping mapping = keyboard_->Map(c.character);
    EXPECT_EQ(mapping.key_code, XKeysymToKeycode(viewer_, c.keysym));
    EXPECT_EQ(mapping.shift_state, c.shift_state);
  }
}

// Sets an environment variable (or unsets it, for null) until the end of the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const char* saved = std::getenv(name);
    if (saved != nullptr) saved_ = saved;
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }
  ~ScopedEnvironment() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// --keys x11, and --keys auto outside a Wayland session, type on the display in $DISPLAY.
TEST_F(X11KeyboardTest, SystemKeyboardsX11AndAutoTypeOnTheDisplayInDisplay) {
  ScopedEnvironment display("DISPLAY", display_name().c_str());
  ScopedEnvironment wayland("WAYLAND_DISPLAY", nullptr);
  ScopedEnvironment session("XDG_SESSION_TYPE", "x11");
  for (const auto& [name, expected_choice] : {std::pair{"x11", "x11"}, std::pair{"auto", "x11 (an X display)"}}) {
    SCOPED_TRACE(name);
    std::string error;
    std::string chosen;
    std::unique_ptr<Keyboard> system_keyboard = OpenSystemKeyboard({.name = name, .layout = ""}, &error, &chosen);
    ASSERT_NE(system_keyboard, nullptr) << error;
    EXPECT_EQ(chosen, expected_choice);

    KeystrokeSender sender(*system_keyboard);
    sender.TypeLine(Bytes("Via $DISPLAY"));
    EXPECT_EQ(TypedText(sender), "Via $DISPLAY");
  }
}

// Under Wayland, XTest would reach only the programs that run under Xwayland: auto takes
// the virtual keyboard even with an X display at hand. There is no /dev/uinput here, so
// opening it fails, with what to do about it.
TEST_F(X11KeyboardTest, AutoUnderWaylandTakesTheVirtualKeyboard) {
  ScopedEnvironment display("DISPLAY", display_name().c_str());
  ScopedEnvironment wayland("WAYLAND_DISPLAY", "wayland-0");
  std::string error;
  std::string chosen;
  std::unique_ptr<Keyboard> keyboard = OpenSystemKeyboard({.name = "auto", .layout = "de"}, &error, &chosen);
  EXPECT_EQ(chosen.rfind("uinput (a Wayland session)", 0), 0u) << chosen;
  if (keyboard == nullptr) {
    EXPECT_NE(error.find("/dev/uinput"), std::string::npos) << error;
  }
}

TEST(X11KeyboardOpenTest, MissingDisplayGivesNullAndNamesTheDisplay) {
  ASSERT_TRUE(lintrel::testing::DisplayIsFree(4711));
  std::string error;
  EXPECT_EQ(X11Keyboard::Open(":4711", &error), nullptr);
  EXPECT_NE(error.find("\":4711\""), std::string::npos) << error;
}

TEST(X11KeyboardOpenTest, UnsetDisplaySaysSo) {
  const char* saved = std::getenv("DISPLAY");
  std::string saved_display = saved == nullptr ? "" : saved;
  unsetenv("DISPLAY");
  std::string error;
  std::unique_ptr<X11Keyboard> keyboard = X11Keyboard::Open(nullptr, &error);
  if (saved != nullptr) setenv("DISPLAY", saved_display.c_str(), 1);
  EXPECT_EQ(keyboard, nullptr);
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
