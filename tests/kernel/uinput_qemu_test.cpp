// The uinput keyboard against a real kernel: a QEMU guest (Debian's kernel with uinput and
// evdev) types text through lintrel's uinput keyboard for the us, de and fr layouts, and for
// a reader that opens the device late and reads it seldom, and reads the key events back
// from the event device; this side turns them into text with libxkbcommon, as a compositor
// with that layout would. The same guest starts the device monitor twice.

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/qemu_guest.h"
#include "support/test_texts.h"

namespace lintrel::testing {
namespace {

namespace fs = std::filesystem;

// Emulated without KVM, on its instruction clock, the guest runs only as fast as the host's
// spare CPU allows: 60 s with both cores busy elsewhere, up to 330 s at a load of 14 (of
// which nine tenths is the kernel's boot). A net against a hang, twice that.
constexpr int kBootPatience = 60;

// The lines typed for each layout, and which of them cannot be typed there.
struct LayoutText {
  std::vector<std::string> lines;
  std::map<int, std::string> not_typed;  // line number → reason
};

// Lines for the slow reader, typed back to back: long ones, and short ones, each less than a
// burst, that would overflow the reader's buffer if each line were paced on its own.
std::vector<std::string> SlowReaderLines() {
  const std::string ascii(kPrintableAscii);
  return {ascii + ascii + ascii, "abcdefghi", "jklmnopqr", "stuvwxyz0", "123456789", "x", ascii};
}

std::map<std::string, LayoutText> Texts() {
  return {
      {"us", {{std::string(kPrintableAscii), "user@example.com {a} [b] \\ ~ |"}, {}}},
      {"de", {{std::string(kPrintableAscii), "Grüße €, Ω und µ", "Ж"}, {{2, "no key for \"Ж\" in layout de"}}}},
      {"fr", {{std::string(kPrintableAscii), "déjà ça où € @ #", "ß ä"}, {{2, "no key for \"ä\" in layout fr"}}}},
  };
}

// Turns key events into text as a compositor with the layout does, dead keys composed by
// the system's compose rules.
class KeyDecoder {
 public:
  explicit KeyDecoder(const std::string& layout) {
    context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const xkb_rule_names names{
        .rules = "evdev", .model = "pc105", .layout = layout.c_str(), .variant = "", .options = ""};
    keymap_ = xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    state_ = keymap_ != nullptr ? xkb_state_new(keymap_) : nullptr;
    compose_table_ = xkb_compose_table_new_from_locale(context_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    compose_ = compose_table_ != nullptr ? xkb_compose_state_new(compose_table_, XKB_COMPOSE_STATE_NO_FLAGS) : nullptr;
  }
  ~KeyDecoder() {
    xkb_compose_state_unref(compose_);
    xkb_compose_table_unref(compose_table_);
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
  }
  KeyDecoder(const KeyDecoder&) = delete;
  KeyDecoder& operator=(const KeyDecoder&) = delete;

  bool ready() const { return state_ != nullptr && compose_ != nullptr; }

  // "code:value" pairs (evdev codes, 1 down and 0 up).
  std::string Decode(std::istream& events) {
    std::string text;
    for (std::string event; events >> event;) {
      const xkb_keycode_t keycode = std::stoul(event.substr(0, event.find(':'))) + 8;
      const bool down = event.substr(event.find(':') + 1) == "1";
      if (down) text += Typed(keycode);
      xkb_state_update_key(state_, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    }
    return text;
  }

 private:
  std::string Typed(xkb_keycode_t keycode) {
    char utf8[16] = "";
    xkb_compose_state_feed(compose_, xkb_state_key_get_one_sym(state_, keycode));
    switch (xkb_compose_state_get_status(compose_)) {
      case XKB_COMPOSE_COMPOSING: return "";
      case XKB_COMPOSE_COMPOSED:
        xkb_compose_state_get_utf8(compose_, utf8, sizeof utf8);
        xkb_compose_state_reset(compose_);
        return utf8;
      case XKB_COMPOSE_CANCELLED: xkb_compose_state_reset(compose_); return "";
      case XKB_COMPOSE_NOTHING: break;
    }
    xkb_state_key_get_utf8(state_, keycode, utf8, sizeof utf8);
    return utf8;
  }

  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* state_ = nullptr;
  xkb_compose_table* compose_table_ = nullptr;
  xkb_compose_state* compose_ = nullptr;
};

// The guest, booted once for every test here: its console once it has finished. It runs on
// its instruction clock: under plain emulation a host busy elsewhere stops the emulated CPU
// while the guest's clock runs on, and the timers due meanwhile fire late, after the typing
// thread has already seen the time pass and sent its next burst, so a reader that reads
// every 10 ms by the guest's clock did not (seen: the kernel dropped key events for it).
const std::string& GuestConsole() {
  static const std::string console = [] {
    const fs::path work = fs::path(LINTREL_KERNEL_TEST_DIR) / "uinput-guest";
    const fs::path texts = fs::path(LINTREL_KERNEL_TEST_DIR) / "uinput-texts";
    fs::remove_all(texts);
    fs::create_directories(texts);
    for (const auto& [layout, text] : Texts()) {
      std::ofstream file(texts / (layout + ".txt"));
      for (const std::string& line : text.lines) file << line << "\n";
    }
    for (std::ofstream slow(texts / "slow.txt"); const std::string& line : SlowReaderLines()) slow << line << "\n";
    std::ofstream(texts / "monitor") << "\n";
    const CommandResult prepared = PrepareGuest(LINTREL_MAKE_GUEST, LINTREL_KERNEL_TEST_DIR "/kernel-cache", work,
                                                LINTREL_KERNEL_SOURCE_DIR "/uinput_init.sh",
                                                UinputGuestContents(LINTREL_UINPUT_GUEST_PATH, texts));
    if (GuestCannotBeHad(prepared)) return "SKIP " + prepared.out;
    if (!prepared.Succeeded()) return "the guest could not be prepared: " + prepared.out + prepared.err;
    std::string so_far;
    const std::optional<std::string> ended =
        BootUntil(work, "GUEST EXIT", kBootPatience, &so_far, kInstructionClock);
    return ended ? *ended : "the guest did not finish: " + so_far;
  }();
  return console;
}

// The rest of the console line that begins with `prefix`, or nothing.
std::optional<std::string> LineAfter(const std::string& console, const std::string& prefix) {
  const std::size_t found = console.find(prefix);
  if (found == std::string::npos) return std::nullopt;
  const std::size_t begin = found + prefix.size();
  return console.substr(begin, console.find('\n', begin) - begin);
}

class UinputQemuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& console = GuestConsole();
    if (console.rfind("SKIP ", 0) == 0) GTEST_SKIP() << console.substr(5);
    // A part of the guest's run that failed says why on its "GUEST FAILED" line, and its
    // test finds its lines missing.
    ASSERT_NE(console.find("GUEST EXIT"), std::string::npos) << console;
  }
};
using DeviceMonitorQemuTest = UinputQemuTest;

TEST_F(UinputQemuTest, TextTypedForUsDeAndFrArrivesAsSentAndCharactersWithoutKeyAreReported) {
  const std::string& console = GuestConsole();
  EXPECT_NE(console.find(": Lintrel virtual keyboard\n"), std::string::npos) << console;
  for (const auto& [layout, text] : Texts()) {
    KeyDecoder decoder(layout);
    ASSERT_TRUE(decoder.ready()) << layout;
    for (int number = 0; number < static_cast<int>(text.lines.size()); ++number) {
      SCOPED_TRACE(layout + " line " + std::to_string(number));
      const bool not_typed = text.not_typed.contains(number);
      const std::optional<std::string> rest = LineAfter(
          console, "GUEST " + std::string(not_typed ? "NOT TYPED " : "KEYS ") + layout + " " + std::to_string(number) + " ");
      ASSERT_TRUE(rest) << console;
      if (not_typed) {
        EXPECT_EQ(*rest, text.not_typed.at(number));
        continue;
      }
      std::istringstream events(*rest);
      EXPECT_EQ(decoder.Decode(events), text.lines[number] + "\r");
    }
  }
}

// Lines typed as soon as the keyboard is open (a line waiting on the port at start), back to
// back, reach a reader that opens the device 300 ms after it appears and reads it every 10 ms.
TEST_F(UinputQemuTest, AReaderThatOpensTheDeviceLateAndReadsEvery10msGetsEveryKey) {
  const std::string& console = GuestConsole();
  KeyDecoder decoder("us");
  ASSERT_TRUE(decoder.ready());
  const std::vector<std::string> lines = SlowReaderLines();
  for (std::size_t number = 0; number < lines.size(); ++number) {
    const std::optional<std::string> rest = LineAfter(console, "GUEST SLOW KEYS us " + std::to_string(number) + " ");
    ASSERT_TRUE(rest) << "line " << number << "\n" << console;
    std::istringstream events(*rest);
    EXPECT_EQ(decoder.Decode(events), lines[number] + "\r") << "line " << number;
  }
}

TEST_F(DeviceMonitorQemuTest, StartedAgainAfterAStopItStillSeesADeviceArrive) {
  EXPECT_NE(GuestConsole().find("GUEST MONITOR ARRIVAL SEEN\n"), std::string::npos) << GuestConsole();
}

}  // namespace
}  // namespace lintrel::testing
