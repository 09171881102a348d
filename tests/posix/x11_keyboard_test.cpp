// The XTest keyboard typing into a window of the test's own on a private Xvfb display: what
// the window receives, read back with Xutf8LookupString, must be the text that was typed,
// on the us, de and fr keymaps, with Caps Lock on and off, for characters the keymap has
// and for those it lacks; and the keymap must be as it was once the keyboard is gone.

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
#include <clocale>
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
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "capture/keystroke_sender.h"
#include "platform/keyboard.h"
#include "posix/posix_test_support.h"
#include "support/test_texts.h"
#include "support/xvfb_server.h"

namespace lintrel::platform {
namespace {

using Clock = std::chrono::steady_clock;
using testing::kPrintableAscii;
using testing::ScopedEnvironment;
using namespace std::chrono_literals;

// Safety net against hangs only; nothing here is expected to take more than a moment.
constexpr auto kSafetyTimeout = 10s;

// Runs setxkbmap against the test display, which loads a whole new keymap.
bool SetLayout(const std::string& display, const char* layout) {
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execlp("setxkbmap", "setxkbmap", "-display", display.c_str(), layout, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::u32string Utf32(std::string_view utf8) {
  std::u32string text;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto byte = static_cast<uint8_t>(utf8[at]);
    const int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
    char32_t character = length == 1 ? byte : byte & (0x3F >> (length - 1));
    for (int i = 1; i < length; ++i) character = character << 6 | (static_cast<uint8_t>(utf8[at + i]) & 0x3F);
    text.push_back(character);
    at += length;
  }
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
    ASSERT_TRUE(SetLayout(display_name(), "us")) << "setxkbmap failed: install x11-xkb-utils and xkb-data";
    std::string error;
    // The keyboard connects first, so that it is the first Xlib user of the process.
    keyboard_ = X11Keyboard::Open(display_name().c_str(), &error);
    ASSERT_NE(keyboard_, nullptr) << error;
    sender_ = std::make_unique<KeystrokeSender>(*keyboard_);

    // Xutf8LookupString needs a UTF-8 locale and an input context; no input method runs.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    XSetLocaleModifiers("@im=none");
    viewer_ = XOpenDisplay(display_name().c_str());
    ASSERT_NE(viewer_, nullptr) << "cannot open " << display_name() << " for the test window";
    window_ = XCreateSimpleWindow(viewer_, DefaultRootWindow(viewer_), 0, 0, 320, 200, 0, 0, 0);
    XSelectInput(viewer_, window_, KeyPressMask | StructureNotifyMask);
    // As a toolkit does: a new keymap reaches Xlib's lookups through these notices.
    constexpr unsigned int kKeymapNotices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(viewer_, XkbUseCoreKbd, kKeymapNotices, kKeymapNotices);
    int opcode = 0;
    int error_base = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    ASSERT_TRUE(XkbQueryExtension(viewer_, &opcode, &xkb_event_base_, &error_base, &major, &minor));
    XMapWindow(viewer_, window_);
    input_method_ = XOpenIM(viewer_, nullptr, nullptr, nullptr);
    ASSERT_NE(input_method_, nullptr) << "no input method for the C.UTF-8 locale";
    input_context_ = XCreateIC(input_method_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                               window_, nullptr);
    ASSERT_NE(input_context_, nullptr);
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
      SetCapsLock(false);
      if (input_context_ != nullptr) XDestroyIC(input_context_);
      if (input_method_ != nullptr) XCloseIM(input_method_);
      XDestroyWindow(viewer_, window_);
      XCloseDisplay(viewer_);
    }
  }

  static const std::string& display_name() { return server_->display_name(); }

  void Type(std::string_view line) { EXPECT_TRUE(sender_->TypeLine(Utf32(line)).typed) << line; }

  // Everything typed since the last call, read from the window's KeyPress events. Escape
  // marks the end: it is typed last, through the same keyboard, so every earlier key has
  // arrived when it does. Null if the marker never comes.
  std::optional<std::string> TypedText() { return TypedText(*sender_); }

  std::optional<std::string> TypedText(KeystrokeSender& sender) {
    sender.TypeLine(U"\x1b");
    std::string text;
    XEvent event;
    while (NextEvent(&event)) {
      if (event.type != KeyPress) continue;
      char buffer[32];
      KeySym keysym = NoSymbol;
      Status status = 0;
      const int length = Xutf8LookupString(input_context_, &event.xkey, buffer, sizeof buffer, &keysym, &status);
      if (keysym == XK_Escape) return text;
      if (status == XLookupChars || status == XLookupBoth) text.append(buffer, length);
    }
    return std::nullopt;
  }

  void SetCapsLock(bool on) {
    XkbLockModifiers(viewer_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(viewer_, False);
  }

  // The server's whole keymap as the core protocol describes it.
  std::vector<KeySym> CoreKeymap() {
    int min_keycode = 0;
    int max_keycode = 0;
    XDisplayKeycodes(viewer_, &min_keycode, &max_keycode);
    int per_keycode = 0;
    KeySym* symbols = XGetKeyboardMapping(viewer_, static_cast<KeyCode>(min_keycode), max_keycode - min_keycode + 1,
                                          &per_keycode);
    std::vector<KeySym> keymap(symbols, symbols + (max_keycode - min_keycode + 1) * per_keycode);
    XFree(symbols);
    return keymap;
  }

  // The next event of the test window's connection; false after the safety time-out.
  bool NextEvent(XEvent* event) {
    Clock::time_point deadline = Clock::now() + kSafetyTimeout;
    while (XPending(viewer_) == 0) {
      auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (remaining <= 0ms) return false;
      pollfd connection{ConnectionNumber(viewer_), POLLIN, 0};
      poll(&connection, 1, static_cast<int>(remaining.count()));
    }
    XNextEvent(viewer_, event);
    if (event->type == xkb_event_base_) {
      XkbRefreshKeyboardMapping(reinterpret_cast<XkbMapNotifyEvent*>(event));
      event->type = 0;
    }
    if (XFilterEvent(event, None)) event->type = 0;
    return true;
  }

  static inline std::unique_ptr<lintrel::testing::XvfbServer> server_;
  static inline std::string server_error_;

  std::unique_ptr<X11Keyboard> keyboard_;
  std::unique_ptr<KeystrokeSender> sender_;
  Display* viewer_ = nullptr;
  Window window_ = 0;
  XIM input_method_ = nullptr;
  XIC input_context_ = nullptr;
  int xkb_event_base_ = 0;
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
    ASSERT_TRUE(SetLayout(display_name(), c.layout));
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
    sender_.reset();
    keyboard_.reset();
    EXPECT_EQ(CoreKeymap(), keymap_before);
    std::string error;
    keyboard_ = X11Keyboard::Open(display_name().c_str(), &error);
    ASSERT_NE(keyboard_, nullptr) << error;
    sender_ = std::make_unique<KeystrokeSender>(*keyboard_);
  }
}

// The notices of a new keymap are read before the next line, not after it.
TEST_F(X11KeyboardTest, AKeymapChangedBetweenTwoLinesIsInForceForTheSecond) {
  ASSERT_TRUE(SetLayout(display_name(), "de"));
  Type("de1 yz-;Q");
  // Read back first: the server may take the new keymap before keys it has not handled yet.
  EXPECT_EQ(TypedText(), "de1 yz-;Q");
  ASSERT_TRUE(SetLayout(display_name(), "fr"));
  Type("fr2 yz-;Q");
  EXPECT_EQ(TypedText(), "fr2 yz-;Q");
}

TEST_F(X11KeyboardTest, ControlCharactersTypeBareKeysNeverCtrl) {
  struct Case {
    std::string line;
    std::string typed;
  };
  const std::vector<Case> cases = {
      {"12\r34", "12\r34"},  // CR is Return
      {"ab\tcd", "ab\tcd"},  // Tab
      {"xy\bz", "xy\bz"},    // Backspace
      // Ctrl+letter on a US keyboard: the bare letter key, Ctrl is never held.
      {"\x01-\x1a", "a-z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.line));
    Type(c.line);
    EXPECT_EQ(TypedText(), c.typed);
  }
}

// Shift held down by another client, as a user's key would be: the line is typed with it
// released around the line, and it is down again afterwards.
TEST_F(X11KeyboardTest, AHeldShiftIsReleasedAroundTheLineAndPressedAgain) {
  const KeyCode shift = XKeysymToKeycode(viewer_, XK_Shift_L);
  XTestFakeKeyEvent(viewer_, shift, True, CurrentTime);
  XSync(viewer_, False);
  Type("ab1");
  EXPECT_EQ(TypedText(), "ab1");
  char keys[32] = {};
  XQueryKeymap(viewer_, keys);
  EXPECT_NE(keys[shift / 8] & (1 << (shift % 8)), 0) << "Shift is down again";
  XTestFakeKeyEvent(viewer_, shift, False, CurrentTime);
  XSync(viewer_, False);
}

TEST_F(X11KeyboardTest, LineFromAnotherThreadFollowsTheFirst) {
  Type("first line;");
  std::thread other_reader([this] { Type("SECOND line"); });
  other_reader.join();
  EXPECT_EQ(TypedText(), "first line;SECOND line");
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
