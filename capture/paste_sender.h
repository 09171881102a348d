#pragma once

#include <string>
#include <string_view>

#include "capture/keystroke_sender.h"
#include "platform/clipboard.h"

namespace lintrel {

// A line as a paste delivers it: the text that goes on the clipboard, and the Enter and Tab
// keys at its end (an end character, a suffix), pressed as keys once the text is in, so that
// they move to the next field or send the form as a typed line's would.
struct PasteParts {
  std::u32string pasted;
  std::u32string keys_after;

  bool operator==(const PasteParts&) const = default;
};
PasteParts SplitForPaste(std::u32string_view line);

// Delivers lines through the clipboard: what it holds is kept, the line's text put on it,
// Ctrl+V pressed on the keyboard, and once the window in front has taken the text the
// clipboard is put back, whether the paste worked or not. A paste that failed is a line not
// typed, with its reason, never one typed: nothing of the line is pressed after it.
//
// Thread contract: as its sender's; the typist is its only user.
class PasteSender {
 public:
  PasteSender(platform::Clipboard& clipboard, KeystrokeSender& keys) : clipboard_(clipboard), keys_(keys) {}

  // `check` is asked before the paste and before each key after it when the line is paced
  // (see KeystrokeSender::TypeLine). *warning: what went wrong beside the line, typed or not
  // (the clipboard not put back); left alone when nothing did.
  LineOutcome PasteLine(std::u32string_view line, Pacing pacing = {}, const StrokeCheck& check = {},
                        std::string* warning = nullptr);

 private:
  LineOutcome Paste(std::u32string_view text, std::string* warning);
  LineOutcome PutAndPress(std::u32string_view text);

  platform::Clipboard& clipboard_;
  KeystrokeSender& keys_;
};

}  // namespace lintrel
