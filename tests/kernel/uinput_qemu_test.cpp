// The uinput keyboard against a real kernel: a QEMU guest (Debian's kernel with uinput and
// evdev) types text through lintrel's uinput keyboard for the us, de and fr layouts and reads
// the key events back from the event device; this side turns them into text with
// libxkbcommon, as a compositor with that layout would.

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

// Booting under emulation can take several safety limits.
constexpr int kBootPatience = 9;

// The lines typed for each layout, and which of them cannot be typed there.
struct LayoutText {
  std::vector<std::string> lines;
  std::map<int, std::string> not_typed;  // line number → reason
};

std::map<std::string, LayoutText> Texts() {
  return {
      {"us", {{std::string(kPrintableAscii), "user@example.com {a} [b] \\ ~ |"}, {}}},
      {"de", {{std::string(kPrintableAscii), "Grüße €, Ω und µ", "Ж"}, {{2, "no key for 'Ж' in layout de"}}}},
      {"fr", {{std::string(kPrintableAscii), "déjà ça où € @ #", "ß ä"}, {{2, "no key for 'ä' in layout fr"}}}},
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

TEST(UinputQemuTest, TextTypedForUsDeAndFrArrivesAsSentAndCharactersWithoutKeyAreReported) {
  const fs::path work = fs::path(LINTREL_KERNEL_TEST_DIR) / "uinput-guest";
  const fs::path texts = fs::path(LINTREL_KERNEL_TEST_DIR) / "uinput-texts";
  fs::remove_all(texts);
  fs::create_directories(texts);
  for (const auto& [layout, text] : Texts()) {
    std::ofstream file(texts / (layout + ".txt"));
    for (const std::string& line : text.lines) file << line << "\n";
  }
  const CommandResult prepared =
      PrepareGuest(LINTREL_MAKE_GUEST, LINTREL_KERNEL_TEST_DIR "/kernel-cache", work,
                   LINTREL_KERNEL_SOURCE_DIR "/uinput_init.sh", UinputGuestContents(LINTREL_UINPUT_GUEST_PATH, texts));
  if (GuestCannotBeHad(prepared)) GTEST_SKIP() << prepared.out;
  ASSERT_TRUE(prepared.Succeeded()) << prepared.out << prepared.err;

  std::string so_far;
  const std::optional<std::string> ended = BootUntil(work, "GUEST EXIT", kBootPatience, &so_far);
  ASSERT_TRUE(ended) << so_far;
  const std::string& console = *ended;
  EXPECT_EQ(console.find("GUEST FAILED"), std::string::npos) << console;
  EXPECT_NE(console.find(": Lintrel virtual keyboard\n"), std::string::npos) << console;

  for (const auto& [layout, text] : Texts()) {
    KeyDecoder decoder(layout);
    ASSERT_TRUE(decoder.ready()) << layout;
    for (int number = 0; number < static_cast<int>(text.lines.size()); ++number) {
      SCOPED_TRACE(layout + " line " + std::to_string(number));
      const std::string prefix = "GUEST " + std::string(text.not_typed.contains(number) ? "NOT TYPED " : "KEYS ") +
                                 layout + " " + std::to_string(number) + " ";
      const std::size_t found = console.find(prefix);
      ASSERT_NE(found, std::string::npos) << console;
      const std::size_t begin = found + prefix.size();
      const std::string rest = console.substr(begin, console.find('\n', begin) - begin);
      if (text.not_typed.contains(number)) {
        EXPECT_EQ(rest, text.not_typed.at(number));
        continue;
      }
      std::istringstream events(rest);
      EXPECT_EQ(decoder.Decode(events), text.lines[number] + "\r");
    }
  }
}

}  // namespace
}  // namespace lintrel::testing
