#include "capture/paste_sender.h"

#include "common/utf8_text.h"
#include "platform/layout_keymap.h"

namespace lintrel {
namespace {

bool IsKeyAfterPaste(char32_t character) { return character == U'\r' || character == U'\n' || character == U'\t'; }

LineOutcome NotTyped(std::string reason) { return {false, std::move(reason), false}; }

}  // namespace

PasteParts SplitForPaste(std::u32string_view line) {
  std::size_t end = line.size();
  while (end > 0 && IsKeyAfterPaste(line[end - 1])) --end;
  return {std::u32string(line.substr(0, end)), std::u32string(line.substr(end))};
}

LineOutcome PasteSender::PasteLine(std::u32string_view line, Pacing pacing, const StrokeCheck& check,
                                   std::string* warning) {
  const PasteParts parts = SplitForPaste(line);
  if (!parts.pasted.empty()) {
    if (check && pacing.key_delay.count() > 0) {
      if (const std::string refusal = check(); !refusal.empty()) return NotTyped("cut short: " + refusal);
    }
    if (LineOutcome pasted = Paste(parts.pasted, warning); !pasted.typed) return pasted;
  }
  return keys_.TypeLine(parts.keys_after, pacing, check);
}

LineOutcome PasteSender::Paste(std::u32string_view text, std::string* warning) {
  std::string error;
  // Without a copy of what it holds, the clipboard is left alone: a paste would lose it.
  if (!clipboard_.Save(&error)) return NotTyped("the clipboard could not be read: " + error);
  const LineOutcome outcome = PutAndPress(text);
  // Whether the line is in or not, the clipboard keeps it instead of what it held.
  if (!clipboard_.Restore(&error) && warning != nullptr) *warning = "the clipboard could not be put back: " + error;
  return outcome;
}

LineOutcome PasteSender::PutAndPress(std::u32string_view text) {
  std::string error;
  if (!clipboard_.PutText(EncodeUtf8(text), &error)) return NotTyped("the clipboard could not be set: " + error);
  LineOutcome pressed = keys_.PressShortcut(U'v', platform::kModifierCtrl);
  if (!pressed.typed) {
    pressed.reason = "Ctrl+V: " + pressed.reason;
    return pressed;
  }
  if (!clipboard_.AwaitTaken(&error)) return NotTyped(error);
  return {};
}

}  // namespace lintrel
