#include "support/trace.h"

#include <cstdio>

#include "platform/keyboard.h"
#include "platform/layout_keymap.h"
#include "platform/us_layout.h"

namespace lintrel::testing {

namespace {

std::string Event(const char* direction, uint8_t key) {
  char event[16];
  std::snprintf(event, sizeof event, "%s 0x%02X", direction, key);
  return event;
}

}  // namespace

std::optional<KeyEvent> ParseEvent(std::string_view line) {
  for (const bool down : {true, false}) {
    const std::string_view lead = down ? "down 0x" : "up 0x";
    if (line.size() != lead.size() + 2 || line.rfind(lead, 0) != 0) continue;
    int key = 0;
    for (char digit : line.substr(lead.size())) {
      const bool decimal = digit >= '0' && digit <= '9';
      const bool hex_letter = digit >= 'A' && digit <= 'F';
      if (!decimal && !hex_letter) return std::nullopt;
      key = key * 16 + (decimal ? digit - '0' : digit - 'A' + 10);
    }
    return KeyEvent{.down = down, .key = key};
  }
  return std::nullopt;
}

std::vector<std::string> Press(uint8_t key) { return {Event("down", key), Event("up", key)}; }

std::vector<std::string> ShiftPress(uint8_t key) {
  return {Event("down", platform::kVirtualKeyShift), Event("down", key), Event("up", key),
          Event("up", platform::kVirtualKeyShift)};
}

std::string ExpectedTrace(std::string_view bytes) {
  std::string trace;
  for (char byte : bytes) {
    const auto code = static_cast<uint8_t>(byte);
    if (code >= 0xA0) {
      char character[32];
      std::snprintf(character, sizeof character, "down U+%04X\nup U+%04X\n", code, code);
      trace += character;
      continue;
    }
    if (code >= 0x80) continue;  // a C1 control character, which has no key
    // The trace keyboard's own layout, control characters included.
    static const platform::LayoutKeymap us_layout = [] {
      platform::LayoutKeymap layout;
      platform::FillUsLayout(layout);
      return layout;
    }();
    const std::optional<platform::KeyStroke> stroke = us_layout.Choose(code, false);
    if (!stroke) continue;
    const bool with_shift = stroke->modifiers == platform::kModifierShift;
    for (const std::string& event : with_shift ? ShiftPress(stroke->key_code) : Press(stroke->key_code)) {
      trace += event + "\n";
    }
  }
  return trace;
}

TraceDecoder::TraceDecoder() {
  for (auto& keys : characters_) keys.fill(-1);
  for (int byte = 0; byte < 0x80; ++byte) {
    const bool printable = byte >= 0x20 && byte < 0x7F;
    if (!printable && byte != '\t' && byte != '\r') continue;
    const platform::KeyMapping key = platform::UsLayoutMap(static_cast<uint8_t>(byte));
    if (key.shift_state > platform::kShiftStateShift) continue;
    int& slot = characters_[key.shift_state][key.key_code];
    if (slot < 0) slot = byte;
  }
}

void TraceDecoder::Feed(std::string_view chunk) {
  for (std::size_t end; (end = chunk.find('\n')) != std::string_view::npos; chunk.remove_prefix(end + 1)) {
    // A line split between two chunks was kept from the first.
    if (line_.empty()) {
      Event(chunk.substr(0, end));
    } else {
      line_.append(chunk.substr(0, end));
      Event(line_);
      line_.clear();
    }
    ++events_;
  }
  line_.append(chunk);
}

void TraceDecoder::Event(std::string_view line) {
  if (!error_.empty()) return;
  const std::optional<KeyEvent> event = ParseEvent(line);
  if (!event) return Fail("not a key event: \"" + std::string(line) + "\"");
  switch (expect_) {
    case Expect::kShiftOrKey:
      shifted_ = event->down && event->key == platform::kVirtualKeyShift;
      if (shifted_) {
        expect_ = Expect::kKeyDown;
        return;
      }
      [[fallthrough]];
    case Expect::kKeyDown:
      if (!event->down || event->key == platform::kVirtualKeyShift) return Fail("expected a key down");
      key_ = event->key;
      expect_ = Expect::kKeyUp;
      return;
    case Expect::kKeyUp:
      if (event->down || event->key != key_) return Fail("expected the key to come up");
      if (characters_[shifted_ ? 1 : 0][static_cast<std::size_t>(key_)] < 0) {
        return Fail("a key that types none of the known characters");
      }
      text_ += static_cast<char>(characters_[shifted_ ? 1 : 0][static_cast<std::size_t>(key_)]);
      expect_ = shifted_ ? Expect::kShiftUp : Expect::kShiftOrKey;
      return;
    case Expect::kShiftUp:
      if (event->down || event->key != platform::kVirtualKeyShift) return Fail("expected Shift to come up");
      expect_ = Expect::kShiftOrKey;
      return;
  }
}

void TraceDecoder::Fail(const std::string& what) {
  error_ = "trace line " + std::to_string(events_) + ": " + what + " (after " + std::to_string(text_.size()) +
           " characters)";
}

}  // namespace lintrel::testing
